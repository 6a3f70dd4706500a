#include "explorer/ops/mover.h"

#include <algorithm>

#include "device/messages.h"
#include "device/userinterface.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/hostnames.h"

namespace {

// The parent of a folder, from its ".." entry; false for the root or a
// folder that cannot be read.
bool ParentOf(DiskImage& image, uint32_t folder, uint32_t& parent) {
    if (folder == 0) return false;
    DIDir d(&image, folder);
    if (!d.Load() || d.GetCount() < 2 || !d.IsDotEntry(1) || d.GetDisplayName(1) != "..") return false;
    int64_t p = d.GetStartCluster(1);
    parent = p < 2 ? 0 : uint32_t(p);
    return true;
}

}  // namespace

bool IsAtOrBelow(DiskImage& image, uint32_t target, uint32_t folder) {
    std::vector<uint32_t> seen;
    uint32_t c = target;
    for (;;) {
        if (c == folder) return true;
        if (c == 0 || std::find(seen.begin(), seen.end(), c) != seen.end()) return false;
        seen.push_back(c);
        uint32_t parent;
        if (!ParentOf(image, c, parent)) return false;
        c = parent;
    }
}

namespace {

enum class MoveResult { Moved, Refused, Failed };

MoveResult MoveOne(DIDir& source, int index, DIDir& target) {
    std::string name = source.GetNameUtf8(index);
    if (source.IsDotEntry(index)) {
        ShowMessage(126, name);
        return MoveResult::Refused;
    }
    if (target.FindName(name) != -1) {
        ReportNameTaken(target, name);
        return MoveResult::Refused;
    }
    int j = source.MoveTo(index, target);
    if (j < 0) {
        ShowMessage(127, name);
        return MoveResult::Failed;
    }
    if (target.GetAttr(j) & kAttrDirectory) UI().FolderMoved(uint32_t(target.GetStartCluster(j)), target.GetCluster());
    return MoveResult::Moved;
}

}  // namespace

bool MoveListEntry(DIDir& source, int index, DIDir& target) {
    return MoveOne(source, index, target) == MoveResult::Moved;
}

int MoveEntries(DIDir& source, const std::vector<int>& indexes, uint32_t targetCluster, const std::string& targetName,
                bool confirm) {
    DiskImage& image = *source.GetImage();
    std::vector<std::string> names;
    for (int i : indexes) {
        names.push_back(source.GetNameUtf8(i));
        if (!(source.GetAttr(i) & kAttrDirectory) || source.IsDotEntry(i)) continue;
        uint32_t folder = uint32_t(source.GetStartCluster(i));
        if (folder == targetCluster) {
            ShowMessage(124);
            return 0;
        }
        if (IsAtOrBelow(image, targetCluster, folder)) {
            ShowMessage(122);
            return 0;
        }
    }
    if (confirm && !UI().ConfirmMove(names, targetName)) return 0;
    DIDir target(&image, targetCluster);
    if (!target.Load()) {
        ShowMessage(106, targetName);
        return 0;
    }
    // Each move writes the target and then the source; a failed one ends
    // the whole move.
    int moved = 0;
    for (int i : indexes) {
        MoveResult r = MoveOne(source, i, target);
        if (r == MoveResult::Failed) return -1;
        if (r == MoveResult::Moved) ++moved;
    }
    if (!WriteAndFlush(target, targetName) || !WriteAndFlush(source, "")) return -1;
    return moved;
}

bool MoveFolder(DiskImage& image, uint32_t parent, uint32_t folder, uint32_t target, const std::string& folderName,
                const std::string& targetName, bool confirm) {
    if (folder == 0 || IsAtOrBelow(image, target, folder)) {
        ShowMessage(122);
        return false;
    }
    if (confirm && !UI().ConfirmMove({folderName}, targetName)) return false;
    DIDir p(&image, parent);
    if (!p.Load()) {
        ShowMessage(123);
        return false;
    }
    int entry = -1;
    for (uint32_t i = 0; i < p.GetCount() && entry < 0; ++i) {
        if (p.IsFree(int(i)) || p.IsDotEntry(int(i))) continue;
        if (uint32_t(p.GetStartCluster(int(i))) == folder) entry = int(i);
    }
    if (entry < 0) {
        ShowMessage(123);
        return false;
    }
    DIDir d(&image, target);
    if (!d.Load()) return false;
    std::string name = p.GetNameUtf8(entry);
    if (d.FindName(name) != -1) {
        ReportNameTaken(d, name);
        return false;
    }
    int j = p.MoveTo(entry, d);
    if (j < 0) {
        ShowMessage(127, name);
        return false;
    }
    if (!WriteAndFlush(d, targetName) || !WriteAndFlush(p, "")) return false;
    UI().FolderMoved(folder, target);
    return true;
}
