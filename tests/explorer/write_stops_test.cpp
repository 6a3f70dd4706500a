// Every changing operation, stopped or failed at each of its device writes
// in turn: a failed write is always reported, and a stop (as a power loss
// leaves the disk) leaves nothing worse than lost clusters; files the
// operation does not touch stay byte for byte, a replaced file is old or
// new, a moved entry is in at least one of the two folders, and a label
// change may leave the root's label and the boot sector's differing.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sys/stat.h>

#include "device/messages.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/importer.h"
#include "explorer/ops/mountops.h"
#include "explorer/ops/mover.h"
#include "explorer/ops/properties.h"
#include "explorer/ops/volumepath.h"
#include "support/faulty_device.h"
#include "support/fsck_stopped.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/fsck/checker.h"
#include "volume/deleter.h"
#include "volume/didir.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A file the check looks for: in one of `paths` (lower case), with one of
// `contents`; `required` when it may not vanish. `kept`, when given, must
// be what one of the paths holds (moved data that may be in either place).
struct FileRule {
    std::vector<std::string> paths;
    std::vector<Bytes> contents;
    bool required;
    Bytes kept = {};
};

struct Operation {
    std::string name;
    std::function<bool(DiskImage&, ScriptedUI&)> run;
    std::vector<FileRule> rules;
    std::vector<std::string> moved;     // names that a stopped move may leave in two folders
    std::vector<std::string> afterOk;   // paths that a completed run must leave
    std::vector<std::string> goneOk;    // paths that a completed run must remove
    bool leavesLost = false;            // a completed run leaves lost clusters (release)
    bool movesInFolder = false;         // a stop may leave the entry twice in its folder (two owners of one chain)
    // Through the mount's path operations: a failure is told by the status
    // (the errno the kernel passes on), and a stop may leave a chain longer
    // than its file's size.
    bool throughMount = false;
    // Changes the volume label: a stop may leave the root's label and the
    // boot sector's differing. `labelled`: starts from the volume that has one.
    bool changesLabel = false, labelled = false;
};

// The volume every run starts from, made by mtools, and the host files:
// FAT12 on a floppy, or FAT16 with clusters of one sector; `labelled` is
// the same with a volume label.
struct Scene {
    TempDir dir;
    std::string pristine = dir / "pristine.img", labelled = dir / "labelled.img";
    std::string host = dir / "host";
    std::map<std::string, Bytes> files;  // by lower-case volume path
    Bytes newFile = RandomBytes(7000, 11), replacement = RandomBytes(9000, 12);
    Bytes x = RandomBytes(1000, 13), y = RandomBytes(2000, 14);

    explicit Scene(int bits) {
        if (bits == 16) MakeFatImage(pristine, 4096, 16, "-s 1");
        else MakeFatImage(pristine, 1440, 12);
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
        // A.BIN before INNER and X.BIN after it: the chains gathered for
        // the folder go to the device before a folder is made in it.
        WriteHostFile(host + "/HTREE/A.BIN", y);
        WriteHostFile(host + "/HTREE/X.BIN", x);
        WriteHostFile(host + "/HTREE/INNER/Y.BIN", y);
        RunShell("cp " + Quote(pristine) + " " + Quote(labelled) + " && mlabel -i " + Quote(labelled) + " ::OLDLABEL");
    }
};

Scene& TheScene(int bits) {
    static Scene fat12(12), fat16(16);
    return bits == 16 ? fat16 : fat12;
}

int IndexOf(DIDir& d, const char* name) { return d.Find(name); }

std::vector<Operation> Operations(int bits) {
    Scene& s = TheScene(bits);
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
                   {{{"htree/a.bin"}, {s.y}, false}, {{"htree/x.bin"}, {s.x}, false}, {{"htree/inner/y.bin"}, {s.y}, false}},
                   {},
                   {"htree/a.bin", "htree/x.bin", "htree/inner/y.bin"},
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
                       return DeleteEntries(*root, {IndexOf(*root, "OLD.BIN")}).Ok();
                   },
                   {{{"old.bin"}, {s.files["old.bin"]}, false}},
                   {},
                   {},
                   {"old.bin"}});
    ops.push_back({"delete a tree",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return DeleteEntries(*root, {IndexOf(*root, "TREE")}).Ok();
                   },
                   {{{"tree/a.bin"}, {s.files["tree/a.bin"]}, false},
                    {{"tree/deep/b.bin"}, {s.files["tree/deep/b.bin"]}, false}},
                   {},
                   {},
                   {"tree/a.bin", "tree/deep/b.bin"}});
    {
        // Entries of two folders and a tree, in one batch.
        Operation batch{"delete a batch in two folders",
                        [rootOf](DiskImage& image, ScriptedUI&) {
                            auto root = rootOf(image);
                            DIDir sub(&image, ResolveFolder(image, "SUB").value_or(0));
                            if (!sub.Load()) return false;
                            std::vector<DeleteTarget> targets{{root.get(), IndexOf(*root, "OLD.BIN"), "/OLD.BIN"},
                                                              {root.get(), IndexOf(*root, "TREE"), "/TREE"}};
                            for (int k = 1; k <= 13; ++k) {
                                char name[16];
                                std::snprintf(name, sizeof name, "F%02d.DAT", k);
                                targets.push_back({&sub, IndexOf(sub, name), name});
                            }
                            return DeleteBatch(image, targets);
                        },
                        {},
                        {},
                        {},
                        {}};
        for (const auto& [path, data] : s.files)
            if (path == "old.bin" || path.rfind("tree/", 0) == 0 || path.rfind("sub/f", 0) == 0) {
                batch.rules.push_back({{path}, {data}, false});
                batch.goneOk.push_back(path);
            }
        ops.push_back(batch);
    }
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
    ops.push_back({"rename to a long name",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       bool ok = false;
                       int i = IndexOf(*root, "OLD.BIN");
                       static_cast<void>(RenameEntry(*root, i, "Renamed To A Long Name.bin", &ok));
                       return ok;
                   },
                   {{{"old.bin", "renamed to a long name.bin"}, {s.files["old.bin"]}, true}},
                   {"OLD.BIN", "Renamed To A Long Name.bin"},
                   {"renamed to a long name.bin"},
                   {"old.bin"},
                   false,
                   true});
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
    ops.push_back({"move onto a file in another folder",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       DIDir sub(&image, ResolveFolder(image, "SUB").value_or(0));
                       return sub.Load() && MoveOntoEntry(*root, IndexOf(*root, "X2.BIN"), sub, IndexOf(sub, "KEEP2.BIN"),
                                                          "SUB/KEEP2.BIN");
                   },
                   {{{"sub/keep2.bin"}, {s.files["sub/keep2.bin"], s.files["x2.bin"]}, true},
                    {{"x2.bin", "sub/keep2.bin"}, {s.files["x2.bin"], s.files["sub/keep2.bin"]}, true, s.files["x2.bin"]}},
                   {"X2.BIN", "KEEP2.BIN"},
                   {"sub/keep2.bin"},
                   {"x2.bin"}});
    ops.push_back({"move onto a file in its folder",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return MoveOntoEntry(*root, IndexOf(*root, "X2.BIN"), *root, IndexOf(*root, "OLD.BIN"), "OLD.BIN");
                   },
                   {{{"old.bin"}, {s.files["old.bin"], s.files["x2.bin"]}, true},
                    {{"x2.bin", "old.bin"}, {s.files["x2.bin"], s.files["old.bin"]}, true, s.files["x2.bin"]}},
                   {"X2.BIN", "OLD.BIN"},
                   {"old.bin"},
                   {"x2.bin"},
                   false,
                   true});
    ops.push_back({"move to a new name in another folder",
                   [rootOf, dest](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return MoveEntries(*root, {IndexOf(*root, "X2.BIN")}, dest(image), "DEST", false, "NEWNAME.BIN") == 1;
                   },
                   // Never moved under its old name, never renamed in place.
                   {{{"x2.bin", "dest/newname.bin"}, {s.files["x2.bin"]}, true},
                    {{"dest/x2.bin", "newname.bin"}, {}, false}},
                   {"X2.BIN", "NEWNAME.BIN"},
                   {"dest/newname.bin"},
                   {"x2.bin"}});
    ops.push_back({"release",
                   [rootOf](DiskImage& image, ScriptedUI&) {
                       auto root = rootOf(image);
                       return ReleaseEntries(*root, {IndexOf(*root, "OLD.BIN")}).Ok();
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
    // The label read back as written; the session then ends as the front
    // ends end it, with the clean-shutdown mark set again (FAT16) and its
    // failure told.
    auto label = [](const std::string& text) {
        return [text](DiskImage& image, ScriptedUI&) {
            const bool ok = WriteVolumeLabel(image, text) && ReadVolumeLabel(image) == text;
            const bool closed = image.MarkClosed();
            if (!closed) ShowMessage(1841);
            return ok && closed && !image.MarkedInUseHere();
        };
    };
    for (auto [name, text, labelled] : {std::tuple{"label a volume without one", "NEWLABEL", false},
                                        std::tuple{"change the label", "NEWLABEL", true},
                                        std::tuple{"remove the label", "", true}}) {
        Operation op{name, label(text), {}, {}, {}, {}};
        op.changesLabel = true;
        op.labelled = labelled;
        ops.push_back(std::move(op));
    }
    // The mount's writes, as the kernel asks for them; the status of every
    // step and of the unmount decides. close(2) returns what the flush of
    // its handle says; the release after it goes to no one.
    auto mount = [](const std::function<bool(VolumeFiles&)>& steps) {
        return [steps](DiskImage& image, ScriptedUI&) {
            VolumeFiles f(image, false);
            f.flusher = [&image] { return image.Flush(); };
            bool ok = steps(f);
            return f.SyncAll() == 0 && ok;
        };
    };
    auto close = [](VolumeFiles& f, uint64_t h) {
        const int rc = f.FlushOpen(h);
        static_cast<void>(f.Close(h));
        return rc == 0;
    };
    auto put = [](VolumeFiles& f, uint64_t h, uint64_t at, const Bytes& data, std::size_t pieces) {
        std::size_t step = (data.size() + pieces - 1) / pieces;
        for (std::size_t k = 0; k < data.size(); k += step) {
            uint32_t n = uint32_t(std::min(step, data.size() - k));
            if (f.Write(h, at + k, reinterpret_cast<const char*>(data.data()) + k, n) != long(n)) return false;
        }
        return true;
    };
    // A write that failed was told to the program; the file then ends
    // after the pieces written before it: `base` followed by a prefix of
    // `data` cut where `put` cuts it.
    auto cuts = [](const Bytes& base, const Bytes& data, std::size_t pieces) {
        std::vector<Bytes> all;
        std::size_t step = (data.size() + pieces - 1) / pieces;
        for (std::size_t k = 0; k <= data.size(); k += step) {
            all.push_back(base);
            all.back().insert(all.back().end(), data.begin(), data.begin() + long(k));
        }
        all.push_back(base);
        all.back().insert(all.back().end(), data.begin(), data.end());
        return all;
    };
    const Bytes& old = s.files["old.bin"];
    Bytes patched = old, longer = old, shorter(old.begin(), old.begin() + 1000);
    std::copy(s.y.begin(), s.y.begin() + 600, patched.begin() + 100);
    longer.resize(12000, 0);
    std::vector<Operation> mounted;
    mounted.push_back({"mount: create in a full folder",
                       mount([&s, put, close](VolumeFiles& f) {
                           uint64_t h;
                           return f.Create("/SUB/MNEW.BIN", 0644, h) == 0 && put(f, h, 0, s.newFile, 3) &&
                                  close(f, h);
                       }),
                       {{{"sub/mnew.bin"}, cuts({}, s.newFile, 3), false}},
                       {},
                       {"sub/mnew.bin"},
                       {}});
    mounted.push_back({"mount: overwrite (O_TRUNC)",
                       mount([&s, put, close](VolumeFiles& f) {
                           uint64_t h;
                           return f.Open("/OLD.BIN", true, h, true) == 0 && put(f, h, 0, s.replacement, 2) &&
                                  close(f, h);
                       }),
                       {{{"old.bin"}, [&] { auto v = cuts({}, s.replacement, 2); v.push_back(old); return v; }(), true}},
                       {},
                       {"old.bin"},
                       {}});
    mounted.push_back({"mount: append",
                       mount([&s, put, close](VolumeFiles& f) {
                           uint64_t h;
                           return f.Open("/OLD.BIN", true, h) == 0 && put(f, h, 5000, s.x, 2) && close(f, h);
                       }),
                       {{{"old.bin"}, cuts(old, s.x, 2), true}},
                       {},
                       {"old.bin"},
                       {}});
    mounted.push_back({"mount: write at an offset",
                       mount([&s, put, close](VolumeFiles& f) {
                           uint64_t h;
                           return f.Open("/OLD.BIN", true, h) == 0 &&
                                  put(f, h, 100, Bytes(s.y.begin(), s.y.begin() + 600), 1) && close(f, h);
                       }),
                       {{{"old.bin"}, {old, patched}, true}},
                       {},
                       {"old.bin"},
                       {}});
    mounted.push_back({"mount: truncate up",
                       mount([](VolumeFiles& f) { return f.Truncate("/OLD.BIN", 12000) == 0; }),
                       {{{"old.bin"}, {old, longer}, true}},
                       {},
                       {"old.bin"},
                       {}});
    mounted.push_back({"mount: truncate down",
                       mount([](VolumeFiles& f) { return f.Truncate("/OLD.BIN", 1000) == 0; }),
                       {{{"old.bin"}, {old, shorter}, true}},
                       {},
                       {"old.bin"},
                       {}});
    mounted.push_back({"mount: rename over a file",
                       mount([](VolumeFiles& f) { return f.Rename("/X2.BIN", "/SUB/KEEP2.BIN", false) == 0; }),
                       {{{"sub/keep2.bin"}, {s.files["x2.bin"], s.files["sub/keep2.bin"]}, true},
                        {{"x2.bin", "sub/keep2.bin"}, {s.files["x2.bin"], s.files["sub/keep2.bin"]}, true, s.files["x2.bin"]}},
                       {"X2.BIN", "KEEP2.BIN"},
                       {"sub/keep2.bin"},
                       {"x2.bin"}});
    mounted.push_back({"mount: rename onto a file in its folder",
                       mount([](VolumeFiles& f) { return f.Rename("/X2.BIN", "/OLD.BIN", false) == 0; }),
                       {{{"old.bin"}, {old, s.files["x2.bin"]}, true},
                        {{"x2.bin", "old.bin"}, {s.files["x2.bin"], old}, true, s.files["x2.bin"]}},
                       {"X2.BIN", "OLD.BIN"},
                       {"old.bin"},
                       {"x2.bin"},
                       false,
                       true});
    mounted.push_back({"mount: rename to a new name in another folder",
                       mount([](VolumeFiles& f) { return f.Rename("/X2.BIN", "/DEST/NEWNAME.BIN", false) == 0; }),
                       {{{"x2.bin", "dest/newname.bin"}, {s.files["x2.bin"]}, true},
                        {{"dest/x2.bin", "newname.bin"}, {}, false}},
                       {"X2.BIN", "NEWNAME.BIN"},
                       {"dest/newname.bin"},
                       {"x2.bin"}});
    mounted.push_back({"mount: unlink and rmdir",
                       mount([](VolumeFiles& f) { return f.RemoveFile("/OLD.BIN") == 0 && f.RemoveFolder("/DEST") == 0; }),
                       {{{"old.bin"}, {old}, false}},
                       {},
                       {},
                       {"old.bin"}});
    for (Operation& op : mounted) {
        op.throughMount = true;
        ops.push_back(std::move(op));
    }
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
        if (!r.kept.empty() && std::none_of(r.paths.begin(), r.paths.end(), [&](const std::string& p) {
                auto it = files.find(p);
                return it != files.end() && it->second == r.kept;
            }))
            wrong += "the data of " + r.paths[0] + " lost\n";
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
    bool ok = OnlyWhatAStopLeaves(r, !op.moved.empty(), op.throughMount, op.movesInFolder, op.changesLabel);
    std::string damage = ok ? "" : "checker:\n" + r.Report();
    // Clean or not, the checker's verdict is the one of fsck.fat -n.
    std::string fsck;
    if (r.Clean() != FsckClean(image, &fsck))
        damage += "checker and fsck.fat -n disagree:\n" + r.Report() + "----\n" + fsck;
    return damage;
}

// Then `repair`: the volume is clean for the check and for fsck.fat -n, and
// every file the rules keep still has its bytes in one of its places.
std::string DamageAfterRepair(const std::string& image, const Operation& op) {
    ScriptedUI quiet;
    ScopedUserInterface scope(&quiet);
    CheckResult r = RepairAndCheck(image);
    std::string damage = r.Clean() ? "" : "after repair, checker:\n" + r.Report();
    std::string fsck;
    if (!FsckClean(image, &fsck)) damage += "after repair, fsck.fat:\n" + fsck;
    return damage + CheckFiles(image, op);
}

struct Figures {
    int writes = 0, failureRuns = 0, failuresTakenAsSuccess = 0, failuresUnreported = 0, failureDamage = 0,
        stopRuns = 0, stopDamage = 0, repairStops = 0;
};

constexpr int kOperations = 29;

class WriteStopsTest : public ::testing::TestWithParam<std::tuple<int, int>> {
protected:
    // Runs the operation on a fresh copy of the volume behind a FaultyDevice;
    // `writes` receives the number of writes it made.
    bool Run(const Operation& op, FaultyDevice::Mode mode, int n, ScriptedUI& ui, int& writes) {
        const Scene& scene = TheScene(std::get<1>(GetParam()));
        std::string cmd = "cp " + Quote(op.labelled ? scene.labelled : scene.pristine) + " " + Quote(work);
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
    const auto [index, bits] = GetParam();
    const std::vector<Operation> all = Operations(bits);
    // The index past the last one counts them: an operation beyond the
    // range would never run.
    if (index == kOperations) {
        EXPECT_EQ(all.size(), std::size_t(kOperations)) << "operations the test range leaves out";
        return;
    }
    const Operation op = all[std::size_t(index)];
    SCOPED_TRACE(op.name + " on FAT" + std::to_string(bits));
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
        EXPECT_TRUE(op.throughMount || !ui.boxes.empty());
    }

    // The stopped image with the most to mend, for stopping the repair too.
    std::string worst = tmp / "worst.img";
    std::size_t worstFindings = 0;
    for (int n = 1; n <= writes; ++n) {
        // A stop after write n.
        {
            ScriptedUI ui;
            static_cast<void>(Run(op, FaultyDevice::Mode::StopAfter, n, ui, made));
            std::string damage = FsckDamage(work, op.moved, op.throughMount, op.changesLabel) + CheckFiles(work, op) + CheckerDamage(work, op);
            ++fig.stopRuns;
            if (!damage.empty()) ++fig.stopDamage;
            EXPECT_EQ(damage, "") << "stop after write " << n << " of " << writes;
            {
                Mounted m = MountImageFile(work);
                std::size_t found = m ? CheckVolume(*m.image).findings.size() : 0;
                if (found > worstFindings) {
                    worstFindings = found;
                    EXPECT_EQ(RunShell("cp " + Quote(work) + " " + Quote(worst)), 0);
                }
            }
            EXPECT_EQ(DamageAfterRepair(work, op), "") << "stop after write " << n << " of " << writes;
        }
        // Write n fails once, and every write from n on fails.
        for (auto mode : {FaultyDevice::Mode::FailOnce, FaultyDevice::Mode::FailFrom}) {
            ScriptedUI ui;
            bool ok = Run(op, mode, n, ui, made);
            ++fig.failureRuns;
            if (ok) ++fig.failuresTakenAsSuccess;
            if (ui.boxes.empty() && !op.throughMount) ++fig.failuresUnreported;
            EXPECT_FALSE(ok) << "write " << n << " failed, yet the operation succeeded";
            EXPECT_TRUE(op.throughMount || !ui.boxes.empty()) << "write " << n << " failed without a message";
            std::string damage = FsckDamage(work, op.moved, op.throughMount, op.changesLabel) + CheckFiles(work, op) + CheckerDamage(work, op);
            if (!damage.empty()) ++fig.failureDamage;
            EXPECT_EQ(damage, "") << "write " << n << " failed" << (mode == FaultyDevice::Mode::FailOnce ? " once" : " from on");
            EXPECT_EQ(DamageAfterRepair(work, op), "") << "write " << n << " failed, then repair";
        }
    }
    if (worstFindings > 0) {
        ScriptedUI quiet;
        ScopedUserInterface scope(&quiet);
        EXPECT_EQ(RepairSurvivesStops(worst, 0, &fig.repairStops), "");
        EXPECT_EQ(CheckFiles(worst, op), "");
    }
    std::printf("[ figures ] %-32s writes %2d | stops %3d, damaged %d | failures %3d, taken as success %d, "
                "unreported %d, damaged %d | repair stopped at %d writes\n",
                op.name.c_str(), fig.writes, fig.stopRuns, fig.stopDamage, fig.failureRuns,
                fig.failuresTakenAsSuccess, fig.failuresUnreported, fig.failureDamage, fig.repairStops);
}

INSTANTIATE_TEST_SUITE_P(Operations, WriteStopsTest,
                         ::testing::Combine(::testing::Range(0, kOperations + 1), ::testing::Values(12, 16)));

// A stop that leaves one entry in two places (a move between its two
// writes; a rename to a long name whose entry had to move), then a delete
// of either copy: the other copy keeps its data, the shared clusters stay
// and the delete names both paths.
TEST(StoppedTwiceTest, DeletingEitherCopyKeepsTheOther) {
    Scene& s = TheScene(12);
    TempDir tmp;
    const std::string stopped = tmp / "stopped.img", work = tmp / "work.img";
    struct Case {
        std::string name;
        std::function<bool(DiskImage&)> run;
        std::vector<std::string> copies;  // as mtools lists them
        std::string inside = "";          // a file in a copied folder
        std::string kept = "old.bin";     // whose data it holds
    };
    const std::vector<Case> cases = {
        {"move", [](DiskImage& image) {
             DIDir root(&image, 0);
             return root.Load() && MoveEntries(root, {root.Find("OLD.BIN")}, ResolveFolder(image, "DEST").value_or(0),
                                               "DEST", false) == 1;
         }, {"old.bin", "dest/old.bin"}},
        {"rename to a long name", [](DiskImage& image) {
             DIDir root(&image, 0);
             bool ok = false;
             int i = root.Load() ? root.Find("OLD.BIN") : -1;
             static_cast<void>(RenameEntry(root, i, "the old file with a long name.bin", &ok));
             return ok;
         }, {"old.bin", "the old file with a long name.bin"}},
        {"move a folder", [](DiskImage& image) {
             DIDir root(&image, 0);
             return root.Load() && MoveEntries(root, {root.Find("TREE")}, ResolveFolder(image, "DEST").value_or(0),
                                               "DEST", false) == 1;
         }, {"tree", "dest/tree"}, "/deep/b.bin", "tree/deep/b.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes& data = s.files[c.kept];
        int writes = 0, twice = 0;
        for (int n = 0; n == 0 || n <= writes; ++n) {
            ASSERT_EQ(RunShell("cp " + Quote(s.pristine) + " " + Quote(stopped)), 0);
            {
                ScriptedUI ui;
                ScopedUserInterface scope(&ui);
                FaultyDevice* device = nullptr;
                Mounted m = MountFaulty(stopped, n ? FaultyDevice::Mode::StopAfter : FaultyDevice::Mode::Count, n, &device);
                ASSERT_TRUE(m);
                bool ok = c.run(*m.image);
                if (n == 0) {
                    ASSERT_TRUE(ok);
                    writes = device->writes;
                    continue;
                }
            }
            auto files = FilesByMtools(stopped);
            if (!files.count(c.copies[0] + c.inside) || !files.count(c.copies[1] + c.inside)) continue;
            ++twice;
            for (int gone = 0; gone < 2; ++gone) {
                const std::string other = c.copies[std::size_t(1 - gone)] + c.inside;
                ASSERT_EQ(RunShell("cp " + Quote(stopped) + " " + Quote(work)), 0);
                ScriptedUI ui;
                {
                    ScopedUserInterface scope(&ui);
                    Mounted m = MountImageFile(work);
                    ASSERT_TRUE(m);
                    auto loc = ResolveEntry(*m.image, c.copies[std::size_t(gone)]);
                    ASSERT_TRUE(loc);
                    DIDir d(m.image.get(), loc->folder);
                    ASSERT_TRUE(d.Load());
                    EXPECT_TRUE(DeleteEntries(d, {loc->index}).Ok());
                    // Whatever the delete wrote, a new file must not land on the kept data.
                    DIDir root(m.image.get(), 0);
                    ASSERT_TRUE(root.Load());
                    EXPECT_NE(ImportFileList(root, {s.host + "/NEW.BIN"}, false), owCancel);
                }
                auto after = FilesByMtools(work);
                EXPECT_FALSE(after.count(c.copies[std::size_t(gone)] + c.inside)) << "stop after write " << n;
                ASSERT_TRUE(after.count(other)) << "stop after write " << n;
                EXPECT_EQ(after[other], data) << other << " lost its data; stop after write " << n;
                EXPECT_EQ(after["new.bin"], s.newFile);
                EXPECT_EQ(FsckDamage(work, {"TREE"}), "");
                // The message names both paths and points at check.
                ASSERT_FALSE(ui.Texts().empty());
                std::string told = ui.Texts().back();
                for (char& ch : told) ch = char(std::tolower(static_cast<unsigned char>(ch)));
                EXPECT_NE(told.find("check"), std::string::npos) << told;
                for (const std::string& copy : c.copies) EXPECT_NE(told.find(copy), std::string::npos) << told;
            }
        }
        EXPECT_GT(twice, 0) << "no stop left the entry in two places";
    }
}


}  // namespace
