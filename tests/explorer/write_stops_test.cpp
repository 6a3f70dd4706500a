// Every changing operation, stopped or failed at each of its device writes
// in turn: a failed write is always reported, and a stop (as a power loss
// leaves the disk) leaves nothing worse than lost clusters; files the
// operation does not touch stay byte for byte, a replaced file is old or
// new, and a moved entry is in at least one of the two folders.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sys/stat.h>

#include "explorer/folderops.h"
#include "explorer/importer.h"
#include "explorer/mover.h"
#include "explorer/properties.h"
#include "explorer/volumepath.h"
#include "support/faulty_device.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/checker.h"
#include "volume/didir.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A file the check looks for: in one of `paths` (lower case), with one of
// `contents`; `required` when it may not vanish.
struct FileRule {
    std::vector<std::string> paths;
    std::vector<Bytes> contents;
    bool required;
};

struct Operation {
    std::string name;
    std::function<bool(DiskImage&, ScriptedUI&)> run;
    std::vector<FileRule> rules;
    std::vector<std::string> moved;     // names that a stopped move may leave in two folders
    std::vector<std::string> afterOk;   // paths that a completed run must leave
    std::vector<std::string> goneOk;    // paths that a completed run must remove
    bool leavesLost = false;            // a completed run leaves lost clusters (release)
};

// The volume every run starts from, made by mtools, and the host files.
struct Scene {
    TempDir dir;
    std::string pristine = dir / "pristine.img";
    std::string host = dir / "host";
    std::map<std::string, Bytes> files;  // by lower-case volume path
    Bytes newFile = RandomBytes(7000, 11), replacement = RandomBytes(9000, 12);
    Bytes x = RandomBytes(1000, 13), y = RandomBytes(2000, 14);

    Scene() {
        MakeFatImage(pristine, 1440, 12);
        auto put = [&](const std::string& path, Bytes data) {
            std::string tmp = dir / "tmp";
            WriteHostFile(tmp, data);
            RunShell("mcopy -i " + Quote(pristine) + " " + Quote(tmp) + " ::" + path);
            std::string key = path;
            for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
            files[key.substr(1)] = std::move(data);
        };
        for (const char* d : {"/SUB", "/TREE", "/TREE/DEEP", "/DEST"})
            RunShell("mmd -i " + Quote(pristine) + " ::" + d);
        put("/KEEP1.TXT", RandomBytes(3000, 1));
        put("/OLD.BIN", RandomBytes(5000, 2));
        put("/X2.BIN", RandomBytes(1200, 3));
        put("/SUB/KEEP2.BIN", RandomBytes(2000, 4));
        // SUB's one cluster holds 16 entries: ".", "..", KEEP2.BIN and 13 more.
        for (int k = 1; k <= 13; ++k) {
            char name[16];
            std::snprintf(name, sizeof name, "/SUB/F%02d.DAT", k);
            put(name, RandomBytes(100, 100 + k));
        }
        put("/TREE/A.BIN", RandomBytes(1500, 5));
        put("/TREE/DEEP/B.BIN", RandomBytes(2500, 6));

        mkdir(host.c_str(), 0755);
        WriteHostFile(host + "/NEW.BIN", newFile);
        mkdir((host + "/repl").c_str(), 0755);
        WriteHostFile(host + "/repl/OLD.BIN", replacement);
        mkdir((host + "/HTREE").c_str(), 0755);
        mkdir((host + "/HTREE/INNER").c_str(), 0755);
        WriteHostFile(host + "/HTREE/X.BIN", x);
        WriteHostFile(host + "/HTREE/INNER/Y.BIN", y);
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

int IndexOf(DIDir& d, const char* name) { return d.Find(name); }

std::vector<Operation> Operations() {
    Scene& s = TheScene();
    auto rootOf = [](DiskImage& image) {
        auto d = std::make_unique<DIDir>(&image, 0);
        EXPECT_TRUE(d->Load());
        return d;
    };
    auto dest = [](DiskImage& image) { return ResolveFolder(image, "DEST").value_or(0); };
    std::vector<Operation> ops;
    ops.push_back({"import a file",
                   [&s, rootOf](DiskImage& image, ScriptedUI&) {
                       return ImportFileList(*rootOf(image), {s.host + "/NEW.BIN"}, false) != owCancel;
                   },
                   {{{"new.bin"}, {s.newFile}, false}},
                   {},
                   {"new.bin"},
                   {}});
    ops.push_back({"import a replacing file",
                   [&s, rootOf](DiskImage& image, ScriptedUI& ui) {
                       ui.overwriteAnswers = {owYes};
                       return ImportFileList(*rootOf(image), {s.host + "/repl/OLD.BIN"}, false) != owCancel;
                   },
                   {{{"old.bin"}, {s.files["old.bin"], s.replacement}, true}},
                   {},
                   {"old.bin"},
                   {}});
    ops.push_back({"import a tree",
                   [&s, rootOf](DiskImage& image, ScriptedUI&) {
                       return ImportFileList(*rootOf(image), {s.host + "/HTREE"}, false) != owCancel;
                   },
                   {{{"htree/x.bin"}, {s.x}, false}, {{"htree/inner/y.bin"}, {s.y}, false}},
                   {},
                   {"htree/x.bin", "htree/inner/y.bin"},
                   {}});
    ops.push_back({"make a folder in a full folder",
                   [](DiskImage& image, ScriptedUI&) {
                       DIDir sub(&image, ResolveFolder(image, "SUB").value_or(0));
                       return sub.Load() && CreateFolder(sub, "NEWDIR") >= 0;
                   },
                   {},
                   {},
                   {},
                   {}});
    ops.push_back({"delete a file",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return DeleteEntries(*root, {IndexOf(*root, "OLD.BIN")});
                   },
                   {{{"old.bin"}, {s.files["old.bin"]}, false}},
                   {},
                   {},
                   {"old.bin"}});
    ops.push_back({"delete a tree",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return DeleteEntries(*root, {IndexOf(*root, "TREE")});
                   },
                   {{{"tree/a.bin"}, {s.files["tree/a.bin"]}, false},
                    {{"tree/deep/b.bin"}, {s.files["tree/deep/b.bin"]}, false}},
                   {},
                   {},
                   {"tree/a.bin", "tree/deep/b.bin"}});
    ops.push_back({"rename",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       bool ok = false;
                       int i = IndexOf(*root, "OLD.BIN");
                       static_cast<void>(RenameEntry(*root, i, "RENAMED.BIN", &ok));
                       return ok;
                   },
                   {{{"old.bin", "renamed.bin"}, {s.files["old.bin"]}, true}},
                   {},
                   {"renamed.bin"},
                   {"old.bin"}});
    ops.push_back({"move files",
                   [rootOf, dest](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return MoveEntries(*root, {IndexOf(*root, "OLD.BIN"), IndexOf(*root, "X2.BIN")}, dest(image),
                                          "DEST", false) == 2;
                   },
                   {{{"old.bin", "dest/old.bin"}, {s.files["old.bin"]}, true},
                    {{"x2.bin", "dest/x2.bin"}, {s.files["x2.bin"]}, true}},
                   {"OLD.BIN", "X2.BIN"},
                   {"dest/old.bin", "dest/x2.bin"},
                   {"old.bin", "x2.bin"}});
    ops.push_back({"move a folder",
                   [rootOf, dest](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return MoveEntries(*root, {IndexOf(*root, "TREE")}, dest(image), "DEST", false) == 1;
                   },
                   {{{"tree/a.bin", "dest/tree/a.bin"}, {s.files["tree/a.bin"]}, true},
                    {{"tree/deep/b.bin", "dest/tree/deep/b.bin"}, {s.files["tree/deep/b.bin"]}, true}},
                   {"TREE"},
                   {"dest/tree/a.bin", "dest/tree/deep/b.bin"},
                   {"tree/a.bin"}});
    ops.push_back({"release",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return ReleaseEntries(*root, {IndexOf(*root, "OLD.BIN")});
                   },
                   {{{"old.bin"}, {s.files["old.bin"]}, false}},
                   {},
                   {},
                   {"old.bin"},
                   true});
    ops.push_back({"change attributes",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return ChangeAttributes(*root, IndexOf(*root, "KEEP1.TXT"), kAttrReadOnly | kAttrHidden,
                                               kAttrArchive) &&
                              WriteAndFlush(*root, "/");
                   },
                   {},
                   {},
                   {"keep1.txt"},
                   {}});
    // Everything an operation does not name must come through untouched.
    for (Operation& op : ops) {
        for (const auto& [path, data] : s.files) {
            bool named = false;
            for (const FileRule& r : op.rules)
                for (const std::string& p : r.paths) named = named || p == path;
            if (!named) op.rules.push_back({{path}, {data}, true});
        }
    }
    return ops;
}

// The breaches of the rules on the volume in `image`.
std::string CheckFiles(const std::string& image, const Operation& op) {
    auto files = FilesByMtools(image);
    std::string wrong;
    for (const FileRule& r : op.rules) {
        int found = 0;
        for (const std::string& p : r.paths) {
            auto it = files.find(p);
            if (it == files.end()) continue;
            ++found;
            if (std::find(r.contents.begin(), r.contents.end(), it->second) == r.contents.end())
                wrong += p + " damaged\n";
        }
        if (r.required && found == 0) wrong += r.paths[0] + " lost\n";
    }
    return wrong;
}

// What the volume checker finds beyond what a stop may leave: lost
// clusters, FAT copies a step apart, and for a move the entry in both
// folders.
std::string CheckerDamage(const std::string& image, const Operation& op) {
    ScriptedUI quiet;
    ScopedUserInterface scope(&quiet);
    Mounted m = MountImageFile(image);
    if (!m) return "checker: cannot mount\n";
    CheckResult r = CheckVolume(*m.image);
    bool ok = op.moved.empty() ? r.OnlyInterrupted()
                               : r.OnlyKinds({CheckKind::LostClusters, CheckKind::FatCopyBehind, CheckKind::InTwoFolders});
    std::string damage = ok ? "" : "checker:\n" + r.Report();
    // Clean or not, the checker's verdict is the one of fsck.fat -n.
    std::string fsck;
    if (r.Clean() != FsckClean(image, &fsck))
        damage += "checker and fsck.fat -n disagree:\n" + r.Report() + "----\n" + fsck;
    return damage;
}

struct Figures {
    int writes = 0, failureRuns = 0, failuresTakenAsSuccess = 0, failuresUnreported = 0, failureDamage = 0,
        stopRuns = 0, stopDamage = 0;
};

class WriteStopsTest : public ::testing::TestWithParam<int> {
protected:
    // Runs the operation on a fresh copy of the volume behind a FaultyDevice;
    // `writes` receives the number of writes it made.
    bool Run(const Operation& op, FaultyDevice::Mode mode, int n, ScriptedUI& ui, int& writes) {
        std::string cmd = "cp " + Quote(TheScene().pristine) + " " + Quote(work);
        EXPECT_EQ(RunShell(cmd), 0);
        ScopedUserInterface scope(&ui);
        FaultyDevice* device = nullptr;
        Mounted m = MountFaulty(work, mode, n, &device);
        EXPECT_TRUE(m);
        if (!m) return false;
        bool ok = op.run(*m.image, ui);
        writes = device->writes;
        return ok;
    }
    TempDir tmp;
    std::string work = tmp / "work.img";
};

TEST_P(WriteStopsTest, EveryWriteIndex) {
    const Operation op = Operations()[std::size_t(GetParam())];
    SCOPED_TRACE(op.name);
    Figures fig;

    // A run without faults: it succeeds, and the volume is sound.
    ScriptedUI clean;
    int writes = 0, made = 0;
    ASSERT_TRUE(Run(op, FaultyDevice::Mode::Count, 0, clean, writes)) << ::testing::PrintToString(clean.Texts());
    ASSERT_GT(writes, 0);
    {
        std::string report;
        if (op.leavesLost) EXPECT_TRUE(FsckCleanButLost(work, &report)) << report;
        else EXPECT_TRUE(FsckClean(work, &report)) << report;
        auto files = FilesByMtools(work);
        for (const std::string& p : op.afterOk) EXPECT_TRUE(files.count(p)) << p;
        for (const std::string& p : op.goneOk) EXPECT_FALSE(files.count(p)) << p;
        EXPECT_EQ(CheckFiles(work, op), "");
    }
    fig.writes = writes;
    {
        // A disk that cannot make the writes durable: no success is told.
        ScriptedUI ui;
        EXPECT_FALSE(Run(op, FaultyDevice::Mode::FailFlush, 0, ui, made)) << "a failed flush ended in success";
        EXPECT_FALSE(ui.boxes.empty());
    }

    for (int n = 1; n <= writes; ++n) {
        // A stop after write n.
        {
            ScriptedUI ui;
            static_cast<void>(Run(op, FaultyDevice::Mode::StopAfter, n, ui, made));
            std::string damage = FsckDamage(work, op.moved) + CheckFiles(work, op) + CheckerDamage(work, op);
            ++fig.stopRuns;
            if (!damage.empty()) ++fig.stopDamage;
            EXPECT_EQ(damage, "") << "stop after write " << n << " of " << writes;
        }
        // Write n fails once, and every write from n on fails.
        for (auto mode : {FaultyDevice::Mode::FailOnce, FaultyDevice::Mode::FailFrom}) {
            ScriptedUI ui;
            bool ok = Run(op, mode, n, ui, made);
            ++fig.failureRuns;
            if (ok) ++fig.failuresTakenAsSuccess;
            if (ui.boxes.empty()) ++fig.failuresUnreported;
            EXPECT_FALSE(ok) << "write " << n << " failed, yet the operation succeeded";
            EXPECT_FALSE(ui.boxes.empty()) << "write " << n << " failed without a message";
            std::string damage = FsckDamage(work, op.moved) + CheckFiles(work, op) + CheckerDamage(work, op);
            if (!damage.empty()) ++fig.failureDamage;
            EXPECT_EQ(damage, "") << "write " << n << " failed" << (mode == FaultyDevice::Mode::FailOnce ? " once" : " from on");
        }
    }
    std::printf("[ figures ] %-32s writes %2d | stops %3d, damaged %d | failures %3d, taken as success %d, "
                "unreported %d, damaged %d\n",
                op.name.c_str(), fig.writes, fig.stopRuns, fig.stopDamage, fig.failureRuns,
                fig.failuresTakenAsSuccess, fig.failuresUnreported, fig.failureDamage);
}

INSTANTIATE_TEST_SUITE_P(Operations, WriteStopsTest, ::testing::Range(0, 11));

}  // namespace
