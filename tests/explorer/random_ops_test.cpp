#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

#include "explorer/folderops.h"
#include "explorer/importer.h"
#include "explorer/mover.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/checker.h"
#include "volume/didir.h"

namespace {

// Answers every overwrite question at random, and every confirmation Yes.
struct RandomUI : ScriptedUI {
    explicit RandomUI(uint32_t seed) : rng(seed) {}
    OverwriteAnswer AskOverwrite(const std::string&, const SystemTime&, const std::string&, const SystemTime&) override {
        static const OverwriteAnswer kAnswers[] = {owYes, owNo, owYesToAll, owNoToAll};
        return kAnswers[rng() % 4];
    }
    std::mt19937 rng;
};

// Folders of the volume, found by walking it.
void CollectFolders(DiskImage& image, uint32_t cluster, std::vector<uint32_t>& out, int depth = 0) {
    out.push_back(cluster);
    if (depth > 12) return;
    DIDir d(&image, cluster);
    if (!d.Load()) return;
    for (uint32_t i = 0; i < d.GetCount(); ++i) {
        int k = int(i);
        if (d.IsFree(k) || !(d.GetAttr(k) & kAttrDirectory) || d.GetDisplayName(k)[0] == '.') continue;
        CollectFolders(image, uint32_t(d.GetStartCluster(k)), out, depth + 1);
    }
}

std::vector<int> LiveEntries(const DIDir& d) {
    std::vector<int> v;
    for (uint32_t i = 0; i < d.GetCount(); ++i) {
        int k = int(i);
        std::string n = d.GetDisplayName(k);
        if (!d.IsFree(k) && !n.empty() && n[0] != '.' && !(d.GetAttr(k) & kAttrVolume)) v.push_back(k);
    }
    return v;
}

class RandomOpsTest : public ::testing::TestWithParam<int> {};

TEST_P(RandomOpsTest, ThousandsOfOperationsKeepTheVolumeSound) {
    const int bits = GetParam();
    RandomUI ui{uint32_t(bits)};
    ScopedUserInterface scope(&ui);
    TempDir dir;
    std::string image = dir / "v.img";
    MakeFatImage(image, bits == 12 ? 1440 : 16384, bits, bits == 16 ? "-s 4" : "");
    std::mt19937 rng(uint32_t(bits) * 7919u);

    // A pool of host files and one host folder to import.
    std::vector<std::string> pool;
    std::string host = dir / "host";
    mkdir(host.c_str(), 0755);
    for (int k = 0; k < 12; ++k) {
        std::string p = host + "/file" + std::to_string(k) + (k % 3 ? ".bin" : ".txt");
        std::size_t size = k == 0 ? 0 : (rng() % 6 == 0 ? 40000 : rng() % 5000);
        WriteHostFile(p, RandomBytes(size, uint32_t(k)));
        pool.push_back(p);
    }
    std::string tree = host + "/tree";
    mkdir(tree.c_str(), 0755);
    mkdir((tree + "/leaf").c_str(), 0755);
    WriteHostFile(tree + "/leaf/x.dat", RandomBytes(3000, 99));
    pool.push_back(tree);

    const int kOps = 2500;
    int checks = 0;
    for (int step = 1; step <= kOps; ++step) {
        Mounted m = MountImageFile(image);
        ASSERT_TRUE(m) << step;
        std::vector<uint32_t> folders;
        CollectFolders(*m.image, 0, folders);
        uint32_t here = folders[rng() % folders.size()];
        DIDir d(m.image.get(), here);
        ASSERT_TRUE(d.Load()) << step;
        std::vector<int> live = LiveEntries(d);
        int op = int(rng() % 10);
        if (op <= 2 || live.empty()) {
            ImportFileList(d, {pool[rng() % pool.size()]}, false);
        } else if (op == 3) {
            if (rng() % 2) MakeDefaultFolder(d);
            else CreateFolder(d, "D" + std::to_string(rng() % 50));
        } else if (op == 4) {
            DeleteEntries(d, {live[rng() % live.size()]});
        } else if (op == 5 || op == 6) {
            uint32_t target = folders[rng() % folders.size()];
            MoveEntries(d, {live[rng() % live.size()]}, target, "T", false);
        } else if (op == 7 || op == 8) {
            RenameEntry(d, live[rng() % live.size()], "R" + std::to_string(rng() % 40) + ".X");
        } else if (rng() % 4 == 0) {
            ReleaseEntries(d, {live[rng() % live.size()]});
        }
        uint32_t clusterSize = m->ClusterSize, free = m->FreeClusters;
        m.image.reset();
        if (step % 250 == 0 || step == kOps) {
            ++checks;
            std::string report;
            ASSERT_TRUE(FsckCleanButLost(image, &report)) << "after step " << step << ":\n" << report;
            // The volume checker sees the same.
            Mounted fresh = MountImageFile(image);
            CheckResult r = CheckVolume(*fresh.image);
            EXPECT_TRUE(r.OnlyLostClusters()) << "after step " << step << ":\n" << r.Report();
            EXPECT_EQ(r.Clean(), FsckClean(image)) << "after step " << step;
            EXPECT_EQ(MtoolsFreeClusters(image, clusterSize), long(free)) << "after step " << step;
        }
    }
    EXPECT_EQ(checks, kOps / 250);
    // Only the catalogue's own refusals were shown along the way, never a
    // volume error.
    for (const auto& b : ui.boxes) {
        EXPECT_EQ(b.text.find("Μη έγκυρη αλυσίδα"), std::string::npos);
        EXPECT_EQ(b.text.find("FAT"), std::string::npos) << b.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RandomOpsTest, ::testing::Values(12, 16));

}  // namespace
