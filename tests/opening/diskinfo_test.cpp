#include <gtest/gtest.h>

#include "opening/diskinfo.h"
#include "support/images.h"
#include "support/memvolume.h"
#include "support/scripted_ui.h"
#include "volume/diskimage.h"

namespace {

TEST(GroupDigits, GroupsOfThree) {
    EXPECT_EQ(GroupDigits(0), "0");
    EXPECT_EQ(GroupDigits(100), "100");
    EXPECT_EQ(GroupDigits(999), "999");
    EXPECT_EQ(GroupDigits(1000), "1,000");
    EXPECT_EQ(GroupDigits(100000), "100,000");
    EXPECT_EQ(GroupDigits(1234567), "1,234,567");
    EXPECT_EQ(GroupDigits(4294967295u), "4,294,967,295");
    EXPECT_EQ(GroupDigits(18446744073709551615ull), "18,446,744,073,709,551,615");
}

TEST(DiskInfo, FloppyFigures) {
    UITest t;
    TempDir dir;
    std::string path = dir / "fd.img";
    MakeFatImage(path, 1440, 12);
    WriteHostFile(dir / "f", RandomBytes(2000, 1));
    RunShell("mcopy -i " + Quote(path) + " " + Quote(dir / "f") + " ::F.BIN");
    Mounted m = MountImageFile(path);
    ASSERT_TRUE(m);
    DiskInfoTexts info = MakeDiskInfo(*m.image);
    EXPECT_EQ(info.FileName, path);
    EXPECT_EQ(info.DeviceVersion, "Built-in File I/O");
    EXPECT_EQ(info.FileSystem, "FAT");
    EXPECT_EQ(info.FATType, "FAT12");
    EXPECT_EQ(info.ClusterSize, "512 bytes");
    EXPECT_EQ(info.TotalSize, "1,457,664 bytes (2,847 clusters)");
    EXPECT_EQ(info.UsedSize, "2,048 bytes (4 clusters)");
    EXPECT_EQ(info.FreeSize, "1,455,616 bytes (2,843 clusters)");
    EXPECT_EQ(info.MaxEntries, "224 εγγραφές");
}

TEST(DiskInfo, Fat32OfEightGiBAndHuman68k) {
    UITest t;
    // 262144 clusters of 32 KiB: exactly 8 GiB.
    VolumeParams p;
    p.FATType = kFAT32;
    p.FAT = 512;
    p.FATSize = 4 * (262144 + 2);
    p.FATCount = 1;
    p.RootDir = 2;
    p.UserArea = 512 + p.FATSize;
    p.ClusterSize = 32768;
    p.ClustersCount = 262144;
    p.Device = new MemoryDevice(std::vector<uint8_t>(size_t(p.UserArea), 0));
    DiskImage image;
    ASSERT_TRUE(image.Mount(p));
    DiskInfoTexts info = MakeDiskInfo(image);
    EXPECT_EQ(info.TotalSize, "8,589,934,592 bytes (262,144 clusters)");
    EXPECT_EQ(info.FATType, "FAT32");
    EXPECT_EQ(info.MaxEntries, "Άπειρα");

    MemVolume h(kFAT16, 1);
    ASSERT_TRUE(h.Mount());
    info = MakeDiskInfo(h.image);
    EXPECT_EQ(info.FileSystem, "Human68k");
    EXPECT_EQ(info.FATType, "FAT16");
    EXPECT_EQ(info.MaxEntries, "16 εγγραφές");
}

}  // namespace
