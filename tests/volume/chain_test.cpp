#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/images.h"
#include "support/memvolume.h"
#include "support/scripted_ui.h"
#include "volume/diskimage.h"

namespace {

class ChainTest : public ::testing::Test, public UITest {
protected:
    ChainTest() : v(kFAT16) { EXPECT_TRUE(v.Mount()); }
    DiskImage& img() { return v.image; }
    MemVolume v;
};

TEST_F(ChainTest, AllocationSizesRoundUpToClusters) {
    auto a = img().AllocateChain(1);
    auto b = img().AllocateChain(512);
    auto c = img().AllocateChain(513);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->size(), 1u);
    EXPECT_EQ(b->size(), 1u);
    EXPECT_EQ(c->size(), 2u);
    EXPECT_EQ(*c, (ChainList{4, 5}));
    EXPECT_EQ(img().GetFATEntry(4), 5u);
    EXPECT_EQ(img().GetFATEntry(5), EndOfChain);
    EXPECT_EQ(img().FreeClusters, 96u);
    EXPECT_EQ(*img().ReadChain(4), *c);
    EXPECT_FALSE(img().AllocateChain(0));
    EXPECT_EQ(ui.Texts().back(), "Κατανομή μηδενικού μεγέθους");
}

TEST_F(ChainTest, SearchIsNextFitAndWraps) {
    for (uint32_t c = 2; c <= 10; ++c) {
        ASSERT_EQ(img().FindFreeCluster(), c);
        EXPECT_TRUE(img().SetFATEntry(c, EndOfChain));
    }
    EXPECT_TRUE(img().SetFATEntry(5, 0));
    EXPECT_EQ(img().FindFreeCluster(), 11u) << "the search goes on after the last cluster taken";
    for (uint32_t c = 11; c <= 101; ++c) EXPECT_TRUE(img().SetFATEntry(c, EndOfChain));
    img().NextFree = 50;
    EXPECT_EQ(img().FindFreeCluster(), 5u) << "nothing free upwards: wraps to cluster 2";
    EXPECT_EQ(img().NextFree, 6u);
    EXPECT_TRUE(img().SetFATEntry(5, EndOfChain));
    EXPECT_EQ(img().FindFreeCluster(), 0u);
    EXPECT_EQ(img().NextFree, 6u);
}

TEST_F(ChainTest, FreeingMovesTheSearchBackAndCountsClusters) {
    auto a = img().AllocateChain(3 * 512);
    img().NextFree = 40;
    ASSERT_TRUE(img().FreeChain(a->front()));
    EXPECT_EQ(img().NextFree, 2u);
    EXPECT_EQ(img().FreeClusters, 100u);
    for (uint32_t c : *a) EXPECT_EQ(img().GetFATEntry(c), 0u);
    EXPECT_FALSE(img().FreeChain(0));
    EXPECT_FALSE(img().FreeChain(102));
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Η αποδέσμευση της αλυσίδας των cluster είναι μικρότερη από 2", "?"}));
}

TEST_F(ChainTest, FailedAllocationLeavesEverythingAsItWas) {
    auto a = img().AllocateChain(90 * 512);
    ASSERT_TRUE(a);
    auto before = img().FATTable();
    auto devBefore = v.dev->data;
    EXPECT_FALSE(img().AllocateChain(11 * 512));
    EXPECT_EQ(img().FATTable(), before);
    EXPECT_EQ(v.dev->data, devBefore);
    EXPECT_EQ(img().FreeClusters, 10u);
    // Exactly one free cluster: a two-cluster allocation fails rather than
    // taking it twice.
    auto b = img().AllocateChain(9 * 512);
    ASSERT_TRUE(b);
    EXPECT_EQ(img().FreeClusters, 1u);
    EXPECT_FALSE(img().AllocateChain(1024));
    EXPECT_EQ(img().FreeClusters, 1u);
    auto c = img().AllocateChain(1);
    ASSERT_TRUE(c);
    EXPECT_EQ(img().FreeClusters, 0u);
    EXPECT_FALSE(img().AllocateChain(1));
}

TEST_F(ChainTest, AllocationUsesFreeClustersOnBothSidesOfTheSearchStart) {
    auto a = img().AllocateChain(100 * 512);
    ASSERT_TRUE(a);
    EXPECT_TRUE(img().SetFATEntry(3, 0)); EXPECT_TRUE(img().SetFATEntry(90, 0)); EXPECT_TRUE(img().SetFATEntry(91, 0));
    EXPECT_TRUE(img().SetFATEntry(2, EndOfChain)); EXPECT_TRUE(img().SetFATEntry(89, EndOfChain));
    img().FreeClusters = 3;
    img().NextFree = 60;
    auto b = img().AllocateChain(3 * 512);
    ASSERT_TRUE(b);
    EXPECT_EQ(*b, (ChainList{90, 91, 3}));
    EXPECT_EQ(*img().ReadChain(90), *b);
}

TEST_F(ChainTest, BrokenChainsAreReportedNotFollowed) {
    EXPECT_TRUE(img().SetFATEntry(2, 3));
    EXPECT_TRUE(img().SetFATEntry(3, 0));  // the last entry is free
    EXPECT_FALSE(img().ReadChain(2));
    EXPECT_EQ(ui.Texts().back(), "Μη έγκυρη αλυσίδα");
    EXPECT_TRUE(img().SetFATEntry(3, 4));
    EXPECT_TRUE(img().SetFATEntry(4, 2));  // back to the start
    EXPECT_FALSE(img().ReadChain(2));
    EXPECT_TRUE(img().SetFATEntry(10, 10));  // onto itself
    EXPECT_FALSE(img().ReadChain(10));
    EXPECT_TRUE(img().SetFATEntry(20, 1));  // out of range below
    EXPECT_FALSE(img().ReadChain(20));
    EXPECT_TRUE(img().SetFATEntry(21, 0xFFF7));  // bad cluster
    EXPECT_FALSE(img().ReadChain(21));
    EXPECT_FALSE(img().FreeChain(2));
    EXPECT_EQ(ui.Texts().back(), "?") << "811 follows 812";
}

TEST_F(ChainTest, LongLoopsEndToo) {
    // 90 clusters in a ring, entered through a tail of 5.
    for (uint32_t c = 2; c < 7; ++c) EXPECT_TRUE(img().SetFATEntry(c, c + 1));
    for (uint32_t c = 7; c < 97; ++c) EXPECT_TRUE(img().SetFATEntry(c, c + 1 < 97 ? c + 1 : 7));
    EXPECT_FALSE(img().ReadChain(2));
    EXPECT_FALSE(img().ReadChain(50));
}

TEST_F(ChainTest, ResizeShrinksAndGrows) {
    auto a = img().AllocateChain(3 * 512);
    ASSERT_TRUE(a);
    auto shrunk = img().ResizeChain(a->front(), 1024);
    ASSERT_TRUE(shrunk);
    EXPECT_EQ(*shrunk, (ChainList{2, 3}));
    EXPECT_EQ(img().GetFATEntry(4), 0u);
    EXPECT_EQ(img().FreeClusters, 98u);
    EXPECT_TRUE(img().AllocateChain(1));  // takes the freed cluster 4, so growth is not contiguous
    auto grown = img().ResizeChain(2, 4 * 512);
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->size(), 4u);
    EXPECT_EQ((*grown)[0], 2u);
    EXPECT_EQ((*grown)[1], 3u);
    EXPECT_EQ(img().FreeClusters, 95u);
    auto same = img().ResizeChain(2, 4 * 512 - 100);
    EXPECT_EQ(*same, *grown);
    EXPECT_FALSE(img().ResizeChain(1, 10));
    EXPECT_FALSE(img().ResizeChain(2, 0));
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"2?", "?"}));
}

TEST_F(ChainTest, ChainOperationsWriteTheFatOncePerCopy) {
    int before = v.dev->writes;
    auto a = img().AllocateChain(50 * 512);
    ASSERT_TRUE(a);
    EXPECT_EQ(v.dev->writes - before, 2) << "one write for each of the two FAT copies";
    EXPECT_TRUE(std::equal(img().FATTable().begin(), img().FATTable().end(), v.FatCopy(0)));
    EXPECT_TRUE(std::equal(img().FATTable().begin(), img().FATTable().end(), v.FatCopy(1)));
    before = v.dev->writes;
    ASSERT_TRUE(img().ResizeChain(a->front(), 20 * 512));
    EXPECT_EQ(v.dev->writes - before, 2) << "a resize, with the free of its tail, is one operation";
    ASSERT_TRUE(img().FreeChain(a->front()));
    EXPECT_TRUE(std::equal(img().FATTable().begin(), img().FATTable().end(), v.FatCopy(1)));
    EXPECT_EQ(img().FreeClusters, 100u);
}

TEST_F(ChainTest, ClusterDataRoundTrips) {
    auto data = RandomBytes(512, 3);
    ASSERT_TRUE(img().WriteCluster(7, data.data()));
    std::vector<uint8_t> back(512);
    ASSERT_TRUE(img().ReadCluster(7, back.data()));
    EXPECT_EQ(back, data);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), v.dev->data.begin() + img().ClusterToOffset(7)));
    EXPECT_FALSE(img().ReadCluster(1, back.data()));
    EXPECT_FALSE(img().ReadCluster(102, back.data()));
    EXPECT_FALSE(img().WriteCluster(0, back.data()));
    EXPECT_FALSE(img().WriteCluster(200, back.data()));
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Διαβάζονται λιγότερα από 2", "?", "Γράφονται λιγότερα από 2", "?"}));
}

// Random allocations, resizes and frees on a real FAT12 and FAT16 image,
// checked by fsck.fat and by the FAT's own free count.
class ChainFsckTest : public ::testing::TestWithParam<int>, public UITest {};

TEST_P(ChainFsckTest, RandomChainWorkKeepsTheImageSound) {
    TempDir dir;
    std::string path = dir / "v.img";
    MakeFatImage(path, GetParam() == 12 ? 1440 : 16384, GetParam());
    std::mt19937 rng(GetParam());
    {
        Mounted m = MountImageFile(path);
        ASSERT_TRUE(m);
        std::vector<uint32_t> chains;
        for (int step = 0; step < 300; ++step) {
            int op = rng() % 3;
            if (op == 0 || chains.empty()) {
                auto c = m->AllocateChain(1 + rng() % (m->ClusterSize * 9));
                if (c) chains.push_back(c->front());
            } else if (op == 1) {
                std::size_t k = rng() % chains.size();
                ASSERT_TRUE(m->ResizeChain(chains[k], 1 + rng() % (m->ClusterSize * 12)));
            } else {
                std::size_t k = rng() % chains.size();
                ASSERT_TRUE(m->FreeChain(chains[k]));
                chains.erase(chains.begin() + long(k));
            }
        }
        // Free what remains so that fsck sees no lost chains.
        for (uint32_t c : chains) ASSERT_TRUE(m->FreeChain(c));
        uint32_t free = 0;
        for (uint32_t c = 2; c < m->ClusterLimit(); ++c) free += m->GetFATEntry(c) == 0;
        EXPECT_EQ(free, m->FreeClusters);
        EXPECT_EQ(m->FreeClusters, m->ClustersCount);
    }
    std::string report;
    EXPECT_TRUE(FsckClean(path, &report)) << report;
    EXPECT_TRUE(ui.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, ChainFsckTest, ::testing::Values(12, 16));

}  // namespace
