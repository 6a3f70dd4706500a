#include <gtest/gtest.h>

#include "device/messages.h"
#include "support/images.h"
#include "support/memvolume.h"
#include "support/scripted_ui.h"
#include "volume/diskimage.h"
#include "volume/didir.h"

namespace {

class FatTest : public ::testing::Test, public UITest {};

TEST_F(FatTest, Fat12EntriesArePackedInPairs) {
    MemVolume v(kFAT12);
    uint8_t* fat = v.FatCopy(0);
    fat[3] = 0x23;  // entry 2 = 0x123, entry 3 = 0x456
    fat[4] = 0x61;
    fat[5] = 0x45;
    fat[6] = 0xF7;  // entry 4 = 0xFF7 (bad), entry 5 = 0xFF8
    fat[7] = 0x8F;
    fat[8] = 0xFF;
    ASSERT_TRUE(v.Mount());
    EXPECT_EQ(v.image.GetFATEntry(2), 0x123u);
    EXPECT_EQ(v.image.GetFATEntry(3), 0x456u);
    EXPECT_EQ(v.image.GetFATEntry(4), BadEntry);
    EXPECT_EQ(v.image.GetFATEntry(5), EndOfChain);
    EXPECT_EQ(v.image.FreeClusters, 100u - 4);
}

TEST_F(FatTest, Fat12WriteKeepsTheNeighbourAndReachesBothCopies) {
    MemVolume v(kFAT12);
    ASSERT_TRUE(v.Mount());
    ASSERT_TRUE(v.image.SetFATEntry(2, 0xABC));
    ASSERT_TRUE(v.image.SetFATEntry(3, 0x123));
    ASSERT_TRUE(v.image.SetFATEntry(2, 0xDEF));
    for (int copy = 0; copy < 2; ++copy) {
        const uint8_t* fat = v.FatCopy(copy);
        EXPECT_EQ(fat[3], 0xEF) << copy;
        EXPECT_EQ(fat[4], 0x3D) << copy;
        EXPECT_EQ(fat[5], 0x12) << copy;
    }
    EXPECT_EQ(v.image.GetFATEntry(3), 0x123u);
    EXPECT_EQ(v.image.GetFATEntry(2), 0xDEFu);
    ASSERT_TRUE(v.image.SetFATEntry(7, EndOfChain));
    EXPECT_EQ(v.FatCopy(1)[10] >> 4, 0xF);
    EXPECT_EQ(v.FatCopy(1)[11], 0xFF);
    EXPECT_EQ(v.image.GetFATEntry(7), EndOfChain);
    EXPECT_EQ(std::vector<uint8_t>(v.FatCopy(0), v.FatCopy(0) + 512),
              std::vector<uint8_t>(v.image.FATTable().begin(), v.image.FATTable().end()));
}

TEST_F(FatTest, Fat16ByteOrderFollowsTheFileSystem) {
    for (uint32_t fs : {0u, 1u}) {
        MemVolume v(kFAT16, fs);
        v.FatCopy(0)[2 * 5] = 0x12;
        v.FatCopy(0)[2 * 5 + 1] = 0x34;
        v.FatCopy(0)[2 * 6] = fs ? 0xFF : 0xF7;
        v.FatCopy(0)[2 * 6 + 1] = fs ? 0xF7 : 0xFF;
        ASSERT_TRUE(v.Mount());
        EXPECT_EQ(v.image.GetFATEntry(5), fs ? 0x1234u : 0x3412u);
        EXPECT_EQ(v.image.GetFATEntry(6), BadEntry);
        ASSERT_TRUE(v.image.SetFATEntry(8, 0x1234));
        EXPECT_EQ(v.FatCopy(1)[16], fs ? 0x12 : 0x34);
        EXPECT_EQ(v.FatCopy(1)[17], fs ? 0x34 : 0x12);
        ASSERT_TRUE(v.image.SetFATEntry(9, EndOfChain));
        EXPECT_EQ(v.FatCopy(0)[18], 0xFF);
        EXPECT_EQ(v.image.GetFATEntry(9), EndOfChain);
        EXPECT_TRUE(v.image.SetFATEntry(9, 0xFFF8));
        EXPECT_EQ(v.image.GetFATEntry(9), EndOfChain);
    }
}

TEST_F(FatTest, Fat32TopBitsReadAsEndOfChain) {
    MemVolume v(kFAT32, 0, 100, 512);
    uint8_t* fat = v.FatCopy(0);
    fat[4 * 3 + 3] = 0xF0;  // entry 3 = 0xF0000000
    fat[4 * 4] = 0x05;      // entry 4 = 5
    ASSERT_TRUE(v.Mount());
    EXPECT_EQ(v.image.GetFATEntry(3), EndOfChain);
    EXPECT_EQ(v.image.GetFATEntry(4), 5u);
}

TEST_F(FatTest, OutOfRangeClustersAreLogged) {
    MemVolume v(kFAT16);
    ASSERT_TRUE(v.Mount());
    EXPECT_EQ(v.image.GetFATEntry(1), BadEntry);
    EXPECT_EQ(v.image.GetFATEntry(102), BadEntry);
    EXPECT_FALSE(v.image.SetFATEntry(0, 5));
    EXPECT_FALSE(v.image.SetFATEntry(102, 5));
    EXPECT_EQ(v.image.ClusterToOffset(1), 0);
    EXPECT_EQ(v.image.ClusterToOffset(102), 0);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Ανάγνωση FAT λιγότερο από 2", "? FAT ?", "2 ? FAT ?",
                                                    "? FAT ?", "Filepos λιγότερο από 2", "?"}));
    EXPECT_EQ(v.image.GetFATEntry(101), 0u) << "the last cluster is in range";
}

TEST_F(FatTest, ClusterOffsetsAre64Bit) {
    // 131072 clusters of 32 KiB: the last ones lie beyond 4 GiB.
    VolumeParams p;
    p.DiskStart = 1000;
    p.FATType = kFAT32;
    p.FAT = 512;
    p.FATSize = 4 * (0x20000 + 2);
    p.FATCount = 1;
    p.RootDir = 2;
    p.UserArea = 512 + p.FATSize;
    p.ClusterSize = 32768;
    p.ClustersCount = 0x20000;
    p.Device = new MemoryDevice(std::vector<uint8_t>(1000 + p.UserArea, 0));
    DiskImage d;
    ASSERT_TRUE(d.Mount(p));
    EXPECT_EQ(d.ClusterToOffset(2), 1000 + p.UserArea);
    EXPECT_EQ(d.ClusterToOffset(0x20001), 1000 + p.UserArea + int64_t(0x1FFFF) * 32768);
    EXPECT_GT(d.ClusterToOffset(0x20001), int64_t(1) << 32);
}

TEST_F(FatTest, MountRefusesAFatTooSmallForItsClusters) {
    MemVolume v(kFAT16, 0, 300, 512);  // 512 bytes hold 256 entries, 302 are needed
    EXPECT_FALSE(v.Mount());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text.rfind("[Εσφαλμένη boot εγγραφή]\n", 0), 0u) << ui.boxes[0].text;
    MemVolume w(kFAT12, 0, 340, 512);  // 342 entries need 514 bytes
    EXPECT_FALSE(w.Mount());
    MemVolume ok(kFAT12, 0, 339, 512);  // 341 entries fit in 512 bytes
    EXPECT_TRUE(ok.Mount());
    EXPECT_EQ(ok.image.GetFATEntry(340), 0u);
}

TEST_F(FatTest, MountRefusesZeroAndOddClusterSizes) {
    MemVolume v(kFAT16);
    v.params.ClusterSize = 0;
    EXPECT_FALSE(v.Mount());
    MemVolume w(kFAT16);
    w.params.ClusterSize = 100;
    EXPECT_FALSE(w.Mount());
    MemVolume x(kFAT16);
    x.params.FATCount = 0;
    EXPECT_FALSE(x.Mount());
}

TEST_F(FatTest, DestroyingTheImageDestroysTheDevice) {
    bool destroyed = false;
    {
        MemVolume v(kFAT16);
        v.dev->destroyed = &destroyed;
        ASSERT_TRUE(v.Mount());
    }
    EXPECT_TRUE(destroyed);
}

TEST_F(FatTest, Fat32VolumeIsReadOnlyAndStaysByteIdentical) {
    TempDir dir;
    std::string path = dir / "f32.img";
    MakeFatImage(path, 70000, 32);
    ASSERT_EQ(RunShell("mmd -i " + Quote(path) + " ::DIR && echo hello > " + Quote(dir / "h.txt") + " && mcopy -i " +
                  Quote(path) + " " + Quote(dir / "h.txt") + " ::DIR/"),
              0);
    auto before = ReadHostFile(path);
    {
        Mounted m = MountImageFile(path);
        ASSERT_TRUE(m);
        EXPECT_TRUE(m->IsReadOnly());
        EXPECT_FALSE(m->SetFATEntry(100, 5));
        EXPECT_FALSE(m->AllocateChain(4096));
        EXPECT_FALSE(m->FreeChain(3));
        EXPECT_FALSE(m->ResizeChain(2, 100000));
        std::vector<uint8_t> zeros(m->ClusterSize, 0);
        EXPECT_FALSE(m->WriteCluster(3, zeros.data()));
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        int sub = root.Find("DIR");
        ASSERT_GE(sub, 0);
        EXPECT_EQ(root.MakeDir("NEW"), -1);
        EXPECT_FALSE(root.Delete(sub)) << "the first write fails";
        EXPECT_FALSE(root.Write());
        DIDir d(m.image.get(), uint32_t(root.GetStartCluster(sub)));
        ASSERT_TRUE(d.Load());
        EXPECT_GE(d.Find("h.txt"), 0);
    }
    EXPECT_EQ(ReadHostFile(path), before);
}

}  // namespace
