// Every changing operation on a Human68k volume, stopped and failed at each
// of its device writes in turn, with the volume checker as the judge (no
// other checker reads Human68k): a stop or a failure leaves nothing worse
// than lost clusters, FAT copies a step apart and, for a move, the entry in
// both folders; files the operation does not touch stay byte for byte, a
// replaced file is old or new, a moved file is in one of its two folders.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <sys/stat.h>

#include "explorer/ops/folderops.h"
#include "explorer/ops/importer.h"
#include "explorer/ops/mountops.h"
#include "explorer/ops/mover.h"
#include "explorer/ops/properties.h"
#include "support/faulty_device.h"
#include "support/fsck_stopped.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/fsck/checker.h"
#include "volume/didir.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The bytes of a file by its path of display names ("folder/name.ext").
std::optional<Bytes> ReadFile(DiskImage& image, const std::string& path) {
    uint32_t folder = 0;
    std::size_t at = 0;
    for (;;) {
        std::size_t slash = path.find('/', at);
        std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        DIDir d(&image, folder);
        if (!d.Load()) return std::nullopt;
        int i = d.Find(part);
        if (i < 0 || d.IsFree(i)) return std::nullopt;
        if (slash != std::string::npos) {
            folder = uint32_t(d.GetStartCluster(i));
            at = slash + 1;
            continue;
        }
        Bytes bytes;
        uint32_t size = d.GetSize(i);
        if (size == 0) return bytes;
        auto chain = image.ReadChain(uint32_t(d.GetStartCluster(i)));
        if (!chain) return std::nullopt;
        bytes.resize(chain->size() * image.ClusterSize);
        for (std::size_t k = 0; k < chain->size(); ++k)
            if (!image.ReadCluster((*chain)[k], bytes.data() + k * image.ClusterSize)) return std::nullopt;
        bytes.resize(size);
        return bytes;
    }
}

uint32_t FolderOf(DiskImage& image, const std::string& name) {
    DIDir root(&image, 0);
    if (!root.Load()) return 0;
    int i = root.Find(name);
    return i < 0 ? 0 : uint32_t(root.GetStartCluster(i));
}

struct Operation {
    const char* name;
    std::function<bool(DiskImage&, ScriptedUI&)> run;
    bool move = false;    // may leave the entry in both folders
    bool leaks = false;   // a completed run leaves lost clusters (release)
    // Holds on the volume after any stop or failure: what must be there.
    std::function<std::string(DiskImage&)> rule = nullptr;
    // Through the mount's path operations: failures are told by the status,
    // and a stop may leave a chain longer than its file's size.
    bool throughMount = false;
    bool labelled = false;  // starts from the volume that has a label
};

class Human68kWriteStopsTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = dir / "host";
        RunShell("mkdir -p " + Quote(host + "/base/moving_folder") + " " + Quote(host + "/base/doomed_tree/deeper") +
                 " " + Quote(host + "/base/full_folder") + " " + Quote(host + "/base/target_folder") + " " +
                 Quote(host + "/replacement") + " " + Quote(host + "/tree_to_import/inner_folder"));
        keep = RandomBytes(5000, 1);
        oldData = RandomBytes(3000, 2);
        newData = RandomBytes(4500, 3);
        victim = RandomBytes(2500, 4);
        WriteHostFile(host + "/base/keep_this_long_name.txt", keep);
        WriteHostFile(host + "/base/replace_me.bin", oldData);
        WriteHostFile(host + "/base/victim.dat", victim);
        WriteHostFile(host + "/base/moving_folder/in_moved.c", RandomBytes(1500, 5));
        WriteHostFile(host + "/base/doomed_tree/deeper/x.bin", RandomBytes(3100, 6));
        // ".", ".." and 30 entries: the folder's one cluster is full.
        for (int k = 0; k < 30; ++k) WriteHostFile(host + "/base/full_folder/f" + std::to_string(k), {uint8_t(k)});
        WriteHostFile(host + "/new_file_name_18c.dat", RandomBytes(7000, 7));
        WriteHostFile(host + "/replacement/replace_me.bin", newData);
        WriteHostFile(host + "/tree_to_import/inner_folder/deep.txt", RandomBytes(2100, 8));
        WriteHostFile(host + "/tree_to_import/top.txt", RandomBytes(900, 9));

        Human68kLayout l;
        l.totalSectors = 2048;
        l.sectorsPerFAT = 4;
        pristine = dir / "pristine.hds";
        WriteHostFile(pristine, BuildHuman68kImage(l));
        ScriptedUI ui;
        ScopedUserInterface scope(&ui);
        Mounted m = MountImageFile(pristine, 0, kFileSystemHuman68k);
        ASSERT_TRUE(m);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        std::vector<std::string> paths;
        for (const char* n : {"keep_this_long_name.txt", "replace_me.bin", "victim.dat", "moving_folder",
                              "doomed_tree", "full_folder", "target_folder"})
            paths.push_back(host + "/base/" + n);
        ASSERT_NE(ImportFileList(root, paths, false), owCancel);
        m.image.reset();
        labelled = dir / "labelled.hds";
        ASSERT_EQ(RunShell("cp " + Quote(pristine) + " " + Quote(labelled)), 0);
        Mounted other = MountImageFile(labelled, 0, kFileSystemHuman68k);
        ASSERT_TRUE(other && SetVolumeLabel(*other.image, "Old Label").Ok());
    }

    std::vector<Operation> Operations() {
        auto root = [](DiskImage& image) {
            auto d = std::make_unique<DIDir>(&image, 0);
            EXPECT_TRUE(d->Load());
            return d;
        };
        auto either = [](DiskImage& image, const std::vector<std::string>& paths, const std::vector<Bytes>& contents,
                         bool required) -> std::string {
            int found = 0;
            for (const std::string& p : paths) {
                auto now = ReadFile(image, p);
                if (!now) continue;
                ++found;
                if (std::find(contents.begin(), contents.end(), *now) == contents.end()) return p + " damaged\n";
            }
            return required && found == 0 ? paths[0] + " lost\n" : "";
        };
        std::vector<Operation> ops;
        ops.push_back({"import a file", [this, root](DiskImage& im, ScriptedUI&) {
                           return ImportFileList(*root(im), {host + "/new_file_name_18c.dat"}, false) != owCancel;
                       }});
        ops.push_back({"import a replacing file",
                       [this, root](DiskImage& im, ScriptedUI& ui) {
                           ui.overwriteAnswers = {owYes};
                           return ImportFileList(*root(im), {host + "/replacement/replace_me.bin"}, false) != owCancel;
                       },
                       false, false,
                       [this, either](DiskImage& im) { return either(im, {"replace_me.bin"}, {oldData, newData}, true); }});
        ops.push_back({"import a tree", [this, root](DiskImage& im, ScriptedUI&) {
                           return ImportFileList(*root(im), {host + "/tree_to_import"}, false) != owCancel;
                       }});
        ops.push_back({"make a folder in a full folder", [](DiskImage& im, ScriptedUI&) {
                           DIDir full(&im, FolderOf(im, "full_folder"));
                           return full.Load() && CreateFolder(full, "grown_folder_name") >= 0;
                       }});
        ops.push_back({"delete a file", [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           return DeleteEntries(*r, {r->Find("victim.dat")}).Ok();
                       }});
        ops.push_back({"delete a tree", [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           return DeleteEntries(*r, {r->Find("doomed_tree")}).Ok();
                       }});
        ops.push_back({"delete a file and a tree in one batch", [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           return DeleteEntries(*r, {r->Find("victim.dat"), r->Find("doomed_tree")}).Ok();
                       }});
        ops.push_back({"rename",
                       [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           bool ok = false;
                           int i = r->Find("victim.dat");
                           RenameEntry(*r, i, "renamed_to_a_long_one.dat", &ok);
                           return ok;
                       },
                       false, false,
                       [this, either](DiskImage& im) {
                           return either(im, {"victim.dat", "renamed_to_a_long_one.dat"}, {victim}, true);
                       }});
        ops.push_back({"move files",
                       [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           return MoveEntries(*r, {r->Find("victim.dat"), r->Find("replace_me.bin")},
                                              FolderOf(im, "target_folder"), "target_folder", false) == 2;
                       },
                       true, false,
                       [this, either](DiskImage& im) {
                           return either(im, {"victim.dat", "target_folder/victim.dat"}, {victim}, true) +
                                  either(im, {"replace_me.bin", "target_folder/replace_me.bin"}, {oldData}, true);
                       }});
        ops.push_back({"move a folder",
                       [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           return MoveEntries(*r, {r->Find("moving_folder")}, FolderOf(im, "target_folder"),
                                              "target_folder", false) == 1;
                       },
                       true});
        // The moved data in one of two places; `gone` never seen.
        auto movedRule = [this, either](std::vector<std::string> places, std::vector<std::string> gone) {
            return [this, either, places, gone](DiskImage& im) {
                std::string wrong;
                for (const std::string& p : gone)
                    if (ReadFile(im, p)) wrong += p + " made\n";
                for (const std::string& p : places)
                    if (ReadFile(im, p) == victim) return wrong;
                return wrong + "the moved file is lost\n";
            };
        };
        {
            auto rule = movedRule({"victim.dat", "moving_folder/in_moved.c"}, {});
            ops.push_back({"move onto a file in another folder",
                           [root](DiskImage& im, ScriptedUI&) {
                               auto r = root(im);
                               DIDir into(&im, FolderOf(im, "moving_folder"));
                               return into.Load() && MoveOntoEntry(*r, r->Find("victim.dat"), into,
                                                                   into.Find("in_moved.c"), "moving_folder/in_moved.c");
                           },
                           true, false,
                           [this, either, rule](DiskImage& im) {
                               return either(im, {"moving_folder/in_moved.c"}, {RandomBytes(1500, 5), victim}, true) +
                                      rule(im);
                           }});
        }
        ops.push_back({"move to a new name in another folder",
                       [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           return MoveEntries(*r, {r->Find("victim.dat")}, FolderOf(im, "target_folder"), "target_folder",
                                              false, "moved_as_new_name.dat") == 1;
                       },
                       true, false,
                       movedRule({"victim.dat", "target_folder/moved_as_new_name.dat"},
                                 {"target_folder/victim.dat", "moved_as_new_name.dat"})});
        ops.push_back({"release",
                       [root](DiskImage& im, ScriptedUI&) {
                           auto r = root(im);
                           return ReleaseEntries(*r, {r->Find("victim.dat")}).Ok();
                       },
                       false, true});
        // The label, read back as written.
        for (auto [name, text, labelled] : {std::tuple{"label a volume without one", "New label", false},
                                            std::tuple{"change the label", "New label", true},
                                            std::tuple{"remove the label", "", true}}) {
            Operation op{name, [text = std::string(text)](DiskImage& im, ScriptedUI&) {
                             return WriteVolumeLabel(im, text) && ReadVolumeLabel(im) == text;
                         }};
            op.labelled = labelled;
            ops.push_back(std::move(op));
        }
        // The mount's writes, as the kernel asks for them, then the unmount.
        auto mount = [](const std::function<bool(VolumeFiles&)>& steps) {
            return [steps](DiskImage& image, ScriptedUI&) {
                VolumeFiles f(image, false);
                f.flusher = [&image] { return image.Flush(); };
                bool ok = steps(f);
                return f.SyncAll() == 0 && ok;
            };
        };
        // close(2) returns what the flush of its handle says; the release
        // after it goes to no one.
        auto close = [](VolumeFiles& f, uint64_t h) {
            const int rc = f.FlushOpen(h);
            static_cast<void>(f.Close(h));
            return rc == 0;
        };
        auto put = [](VolumeFiles& f, uint64_t h, uint64_t at, const Bytes& data) {
            return f.Write(h, at, reinterpret_cast<const char*>(data.data()), uint32_t(data.size())) == long(data.size());
        };
        Bytes appended = oldData;
        appended.insert(appended.end(), victim.begin(), victim.end());
        std::vector<Operation> mounted;
        mounted.push_back({"mount: overwrite (O_TRUNC)",
                           mount([this, put, close](VolumeFiles& f) {
                               uint64_t h;
                               return f.Open("/replace_me.bin", true, h, true) == 0 && put(f, h, 0, newData) &&
                                      close(f, h);
                           }),
                           false, false,
                           [this, either](DiskImage& im) {
                               return either(im, {"replace_me.bin"}, {oldData, {}, newData}, true);
                           }});
        mounted.push_back({"mount: append",
                           mount([this, put, close](VolumeFiles& f) {
                               uint64_t h;
                               return f.Open("/replace_me.bin", true, h) == 0 && put(f, h, 3000, victim) &&
                                      close(f, h);
                           }),
                           false, false,
                           [this, either, appended](DiskImage& im) {
                               return either(im, {"replace_me.bin"}, {oldData, appended}, true);
                           }});
        mounted.push_back({"mount: create in a full folder",
                           mount([this, put, close](VolumeFiles& f) {
                               uint64_t h;
                               return f.Create("/full_folder/Mounted_New_File.dat", 0644, h) == 0 &&
                                      put(f, h, 0, newData) && close(f, h);
                           }),
                           false, false,
                           [this, either](DiskImage& im) {
                               return either(im, {"full_folder/Mounted_New_File.dat"}, {{}, newData}, false);
                           }});
        mounted.push_back({"mount: truncate down and up",
                           mount([](VolumeFiles& f) {
                               return f.Truncate("/replace_me.bin", 1000) == 0 && f.Truncate("/replace_me.bin", 9000) == 0;
                           })});
        mounted.push_back({"mount: rename over a file",
                           mount([](VolumeFiles& f) {
                               return f.Rename("/victim.dat", "/target_folder/replace_me.bin", false) == 0 &&
                                      f.Rename("/target_folder/replace_me.bin", "/replace_me.bin", false) == 0;
                           }),
                           true, false,
                           [this, either](DiskImage& im) {
                               // The replaced file old or new, and nothing else.
                               std::string wrong = either(im, {"replace_me.bin"}, {oldData, victim}, true);
                               wrong += either(im, {"victim.dat", "target_folder/victim.dat", "replace_me.bin",
                                                               "target_folder/replace_me.bin"},
                                                          {victim, oldData}, true);
                               for (const char* p : {"victim.dat", "target_folder/victim.dat", "replace_me.bin",
                                                     "target_folder/replace_me.bin"})
                                   if (ReadFile(im, p) == victim) return wrong;
                               return wrong + "the moved file is lost\n";
                           }});
        mounted.push_back({"mount: unlink and rmdir",
                           mount([](VolumeFiles& f) {
                               return f.RemoveFile("/victim.dat") == 0 && f.RemoveFile("/moving_folder/in_moved.c") == 0 &&
                                      f.RemoveFolder("/moving_folder") == 0;
                           })});
        for (Operation& op : mounted) {
            op.throughMount = true;
            ops.push_back(std::move(op));
        }
        return ops;
    }

    // Runs `op` on a fresh copy of the volume behind a FaultyDevice.
    bool Run(const Operation& op, FaultyDevice::Mode mode, int n, ScriptedUI& ui, int& writes) {
        EXPECT_EQ(RunShell("cp " + Quote(op.labelled ? labelled : pristine) + " " + Quote(work)), 0);
        ScopedUserInterface scope(&ui);
        FaultyDevice* device = nullptr;
        Mounted m = MountFaulty(work, mode, n, &device, kFileSystemHuman68k);
        EXPECT_TRUE(m);
        if (!m) return false;
        bool ok = op.run(*m.image, ui);
        writes = device->writes;
        return ok;
    }

    // What the checker and the rules find on the volume left in `work`
    // beyond what a stop may leave; empty when nothing.
    std::string Damage(const Operation& op, bool* dirty = nullptr) {
        ScriptedUI quiet;
        ScopedUserInterface scope(&quiet);
        Mounted m = MountImageFile(work, 0, kFileSystemHuman68k);
        if (!m) return "cannot mount\n";
        CheckResult r = CheckVolume(*m.image);
        if (dirty) *dirty = !r.Clean();
        std::string damage;
        bool ok = OnlyWhatAStopLeaves(r, op.move, op.throughMount);
        if (!ok) damage += r.Report();
        if (ReadFile(*m.image, "keep_this_long_name.txt") != keep) damage += "an untouched file changed\n";
        if (op.rule) damage += op.rule(*m.image);
        return damage;
    }

    // Then `repair`: the check finds nothing, and the files the rules keep
    // still have their bytes in one of their places.
    std::string DamageAfterRepair(const Operation& op) {
        ScriptedUI quiet;
        ScopedUserInterface scope(&quiet);
        CheckResult r = RepairAndCheck(work, kFileSystemHuman68k);
        std::string damage = r.Clean() ? "" : "after repair:\n" + r.Report();
        Mounted m = MountImageFile(work, 0, kFileSystemHuman68k);
        if (!m) return damage + "cannot mount\n";
        if (ReadFile(*m.image, "keep_this_long_name.txt") != keep) damage += "an untouched file changed\n";
        if (op.rule) damage += op.rule(*m.image);
        return damage;
    }

    TempDir dir;
    std::string host, pristine, labelled, work = dir / "work.hds";
    Bytes keep, oldData, newData, victim;
};

TEST_F(Human68kWriteStopsTest, EveryWriteIndexOfEveryOperation) {
    int allStops = 0, allFailures = 0, allRepairStops = 0;
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        ScriptedUI clean;
        int writes = 0, made = 0;
        ASSERT_TRUE(Run(op, FaultyDevice::Mode::Count, 0, clean, writes));
        ASSERT_GT(writes, 0);
        {
            ScriptedUI quiet;
            ScopedUserInterface scope(&quiet);
            Mounted m = MountImageFile(work, 0, kFileSystemHuman68k);
            ASSERT_TRUE(m);
            CheckResult r = CheckVolume(*m.image);
            EXPECT_TRUE(op.leaks ? r.OnlyLostClusters() : r.Clean()) << "completed:\n" << r.Report();
        }
        int stopsDirty = 0;
        const std::string worst = dir / "worst.hds";
        bool haveWorst = false;
        std::size_t worstFindings = 0;
        for (int n = 1; n <= writes; ++n) {
            ScriptedUI ui;
            static_cast<void>(Run(op, FaultyDevice::Mode::StopAfter, n, ui, made));
            bool dirty = false;
            EXPECT_EQ(Damage(op, &dirty), "") << "stop after write " << n << " of " << writes;
            stopsDirty += dirty;
            if (dirty) {
                ScriptedUI quiet;
                ScopedUserInterface scope(&quiet);
                Mounted m = MountImageFile(work, 0, kFileSystemHuman68k);
                std::size_t found = m ? CheckVolume(*m.image).findings.size() : 0;
                if (found > worstFindings) {
                    worstFindings = found;
                    haveWorst = RunShell("cp " + Quote(work) + " " + Quote(worst)) == 0;
                }
            }
            EXPECT_EQ(DamageAfterRepair(op), "") << "stop after write " << n << ", then repair";
            for (auto mode : {FaultyDevice::Mode::FailOnce, FaultyDevice::Mode::FailFrom}) {
                ScriptedUI failing;
                bool ok = Run(op, mode, n, failing, made);
                EXPECT_FALSE(ok) << "write " << n << " failed, yet the operation succeeded";
                EXPECT_TRUE(op.throughMount || !failing.boxes.empty()) << "write " << n << " failed without a message";
                EXPECT_EQ(Damage(op), "") << "write " << n << " failed"
                                          << (mode == FaultyDevice::Mode::FailOnce ? " once" : " from on");
                EXPECT_EQ(DamageAfterRepair(op), "") << "write " << n << " failed, then repair";
                ++allFailures;
            }
        }
        // The repair of the stop that left the most to mend, itself stopped at each
        // of its writes and run again.
        if (haveWorst) {
            ScriptedUI quiet;
            ScopedUserInterface scope(&quiet);
            int stops = 0;
            EXPECT_EQ(RepairSurvivesStops(worst, kFileSystemHuman68k, &stops), "");
            allRepairStops += stops;
        }
        allStops += writes;
        std::printf("[ figures ] %-32s writes %2d | stops %2d, leaving lost clusters or copies a step apart %d\n",
                    op.name, writes, writes, stopsDirty);
    }
    std::printf("[ figures ] Human68k: %d stop points and %d failed writes checked, each then repaired; repair "
                "stopped at %d writes\n",
                allStops, allFailures, allRepairStops);
}

}  // namespace
