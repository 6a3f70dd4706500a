#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

#include "support/images.h"
#include "support/random_ops.h"
#include "volume/fsck/checker.h"
#include "volume/didir.h"

namespace {

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
        RunRandomOperation(d, int(rng() % 10), rng, pool, folders, {"D", "R", ".X"});
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
