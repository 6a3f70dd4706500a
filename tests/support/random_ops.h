#pragma once
// What the random-operations runs on FAT and Human68k volumes share: a user
// interface that answers at random, the entries an operation may pick, and
// the operations themselves.

#include <random>
#include <string>
#include <vector>

#include "explorer/ops/folderops.h"
#include "explorer/ops/importer.h"
#include "explorer/ops/mover.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

// Answers every overwrite question at random, and every confirmation Yes.
struct RandomUI : ScriptedUI {
    explicit RandomUI(uint32_t seed) : rng(seed) {}
    OverwriteAnswer AskOverwrite(const std::string&, const SystemTime&, const std::string&, const SystemTime&) override {
        static const OverwriteAnswer kAnswers[] = {owYes, owNo, owYesToAll, owNoToAll};
        return kAnswers[rng() % 4];
    }
    std::mt19937 rng;
};

// An entry in use that is neither a volume label nor "." / "..".
inline bool IsOrdinary(const DIDir& d, int k) {
    std::string n = d.GetDisplayName(k);
    return !d.IsFree(k) && !n.empty() && n[0] != '.' && !(d.GetAttr(k) & kAttrVolume);
}

inline std::vector<int> LiveEntries(const DIDir& d) {
    std::vector<int> v;
    for (uint32_t i = 0; i < d.GetCount(); ++i)
        if (IsOrdinary(d, int(i))) v.push_back(int(i));
    return v;
}

// How a run names the folders it makes and the entries it renames:
// prefix + number (+ extension).
struct RandomNames {
    std::string folder, renamed, renamedExtension;
};

// Runs operation `op` (0 to 9) in folder `d`: import one of `pool` (0-2, or
// when the folder is empty), make a folder (3), delete (4), move into one
// of `folders` (5, 6), rename (7, 8), or now and then release (9). Failures
// are part of the run (a name taken, a folder full); the caller checks the
// volume afterwards. True when an entry was released.
inline bool RunRandomOperation(DIDir& d, int op, std::mt19937& rng, const std::vector<std::string>& pool,
                               const std::vector<uint32_t>& folders, const RandomNames& names) {
    std::vector<int> live = LiveEntries(d);
    if (op <= 2 || live.empty()) {
        ImportFileList(d, {pool[rng() % pool.size()]}, false);
    } else if (op == 3) {
        if (rng() % 2) MakeDefaultFolder(d);
        else CreateFolder(d, names.folder + std::to_string(rng() % 50));
    } else if (op == 4) {
        static_cast<void>(DeleteEntries(d, {live[rng() % live.size()]}));
    } else if (op == 5 || op == 6) {
        uint32_t target = folders[rng() % folders.size()];
        MoveEntries(d, {live[rng() % live.size()]}, target, "T", false);
    } else if (op == 7 || op == 8) {
        RenameEntry(d, live[rng() % live.size()], names.renamed + std::to_string(rng() % 40) + names.renamedExtension);
    } else if (rng() % 4 == 0) {
        static_cast<void>(ReleaseEntries(d, {live[rng() % live.size()]}));
        return true;
    }
    return false;
}
