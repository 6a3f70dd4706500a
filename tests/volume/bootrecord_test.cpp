#include <gtest/gtest.h>

#include <cstring>

#include "support/human68k.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/volumeparams.h"

namespace {

struct Bpb {
    uint16_t bps = 512;
    uint8_t spc = 4;
    uint16_t reserved = 1;
    uint8_t fats = 2;
    uint16_t rootEntries = 512;
    uint16_t total16 = 0;
    uint16_t spf16 = 32;
    uint32_t total32 = 0;
    const char* label54 = nullptr;
    uint32_t spf32 = 0;
    uint32_t rootCluster = 2;
    const char* label82 = nullptr;
};

std::vector<uint8_t> Sector(const Bpb& b) {
    std::vector<uint8_t> s(512, 0);
    s[0] = 0xEB;
    s[1] = 0x3C;
    s[2] = 0x90;
    std::memcpy(s.data() + 3, "MSDOS5.0", 8);
    s[11] = uint8_t(b.bps);
    s[12] = uint8_t(b.bps >> 8);
    s[13] = b.spc;
    s[14] = uint8_t(b.reserved);
    s[15] = uint8_t(b.reserved >> 8);
    s[16] = b.fats;
    s[17] = uint8_t(b.rootEntries);
    s[18] = uint8_t(b.rootEntries >> 8);
    s[19] = uint8_t(b.total16);
    s[20] = uint8_t(b.total16 >> 8);
    s[22] = uint8_t(b.spf16);
    s[23] = uint8_t(b.spf16 >> 8);
    for (int k = 0; k < 4; ++k) {
        s[32 + k] = uint8_t(b.total32 >> (8 * k));
        s[36 + k] = uint8_t(b.spf32 >> (8 * k));
        s[44 + k] = uint8_t(b.rootCluster >> (8 * k));
    }
    if (b.label54) std::memcpy(s.data() + 54, b.label54, std::strlen(b.label54));
    if (b.label82) std::memcpy(s.data() + 82, b.label82, std::strlen(b.label82));
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

// Total sectors that give exactly `clusters` clusters for the layout of b.
uint32_t TotalFor(const Bpb& b, uint32_t clusters) {
    uint32_t system = b.reserved + b.fats * b.spf16 + b.rootEntries * 32 / b.bps;
    return system + clusters * b.spc;
}

BootStatus Decode(const std::vector<uint8_t>& sector, VolumeLayout& out) {
    VolumeLayout l;
    BootStatus s = DecodeFATBootSector(sector.data(), l);
    out = l;
    return s;
}

TEST(FatBootRecord, DecodesAFat16Layout) {
    Bpb b;
    b.total32 = TotalFor(b, 20000);
    VolumeLayout l;
    ASSERT_EQ(Decode(Sector(b), l), BootOk);
    EXPECT_EQ(l.FATType, kFAT16);
    EXPECT_EQ(l.FAT, 512);
    EXPECT_EQ(l.FATSize, 32 * 512);
    EXPECT_EQ(l.FATCount, 2u);
    EXPECT_EQ(l.RootDir, 512u + 2 * 32 * 512);
    EXPECT_EQ(l.UserArea, int32_t(l.RootDir + 512 * 32));
    EXPECT_EQ(l.ClusterSize, 2048u);
    EXPECT_EQ(l.ClustersCount, 20000u);
}

TEST(FatBootRecord, ClusterCountDecidesWithoutALabel) {
    Bpb b;
    VolumeLayout l;
    for (auto [clusters, kind] : {std::pair{4084u, kFAT12}, std::pair{4085u, kFAT16}, std::pair{65518u, kFAT16}}) {
        b.total32 = TotalFor(b, clusters);
        ASSERT_EQ(Decode(Sector(b), l), BootOk) << clusters;
        EXPECT_EQ(l.FATType, uint32_t(kind)) << clusters;
        EXPECT_EQ(l.ClustersCount, clusters);
    }
    b.total32 = TotalFor(b, 65519);
    EXPECT_EQ(Decode(Sector(b), l), BootBadRecord);
}

TEST(FatBootRecord, LabelDecidesWhateverTheCount) {
    Bpb b;
    b.total32 = TotalFor(b, 30000);
    b.label54 = "FAT12   ";
    VolumeLayout l;
    ASSERT_EQ(Decode(Sector(b), l), BootOk);
    EXPECT_EQ(l.FATType, kFAT12);
    b.total32 = TotalFor(b, 100);
    b.label54 = "FAT16   ";
    ASSERT_EQ(Decode(Sector(b), l), BootOk);
    EXPECT_EQ(l.FATType, kFAT16);
}

TEST(FatBootRecord, Fat32NeedsEmptyOldFieldsAndItsLabel) {
    Bpb b;
    b.rootEntries = 0;
    b.spf16 = 0;
    b.reserved = 32;
    b.spc = 8;
    b.spf32 = 1000;
    b.rootCluster = 5;
    b.total32 = 32 + 2 * 1000 + 8 * 100000;
    b.label82 = "FAT32   ";
    VolumeLayout l;
    ASSERT_EQ(Decode(Sector(b), l), BootOk);
    EXPECT_EQ(l.FATType, kFAT32);
    EXPECT_EQ(l.FAT, 32 * 512);
    EXPECT_EQ(l.FATSize, 1000 * 512);
    EXPECT_EQ(l.RootDir, 5u);
    EXPECT_EQ(l.UserArea, 1000 * 512 * 2 + 32 * 512);
    EXPECT_EQ(l.ClusterSize, 4096u);
    EXPECT_EQ(l.ClustersCount, 100000u);

    // A root entry count makes it an old-style record, decoded by the FAT12/16 rules.
    b.rootEntries = 16;
    b.spf16 = 8;
    b.total32 = TotalFor(b, 3000);
    ASSERT_EQ(Decode(Sector(b), l), BootOk);
    EXPECT_EQ(l.FATType, kFAT12);
    EXPECT_EQ(l.FATSize, 8 * 512);
}

TEST(FatBootRecord, ChecksClusterSizeBeforeSectorSize) {
    Bpb b;
    b.total32 = TotalFor(b, 5000);
    b.bps = 0x0180;
    VolumeLayout l;
    EXPECT_EQ(Decode(Sector(b), l), BootBadSectorSize);
    b.bps = 0;
    EXPECT_EQ(Decode(Sector(b), l), BootBadSectorSize);
    b.spc = 0;
    EXPECT_EQ(Decode(Sector(b), l), BootBadClusterSize);
}

TEST(FatBootRecord, RootRegionIsTheExactEntryCount) {
    Bpb b;
    b.rootEntries = 100;  // 3200 bytes: six and a quarter sectors
    b.total32 = TotalFor(b, 9000);
    VolumeLayout l;
    ASSERT_EQ(Decode(Sector(b), l), BootOk);
    EXPECT_EQ(uint32_t(l.UserArea) - l.RootDir, 3200u);
}

TEST(FatBootRecord, VolumeSmallerThanItsSystemAreaIsRefused) {
    Bpb b;
    b.total16 = 10;  // less than the FATs alone
    VolumeLayout l;
    EXPECT_EQ(Decode(Sector(b), l), BootBadRecord);
    b.label54 = "FAT16   ";
    EXPECT_EQ(Decode(Sector(b), l), BootBadRecord);
}

TEST(BootRecordDevice, FileSystemChoosesTheDecoder) {
    UITest t;
    Bpb b;
    b.total32 = TotalFor(b, 5000);
    auto* dev = new MemoryDevice(Sector(b));
    VolumeParams p;
    p.Device = dev;
    p.FileSystem = 2;
    EXPECT_EQ(DecodeBootRecord(p), BootBadFileSystem);
    EXPECT_EQ(dev->reads, 0) << "an unknown file system is refused without reading";
    p.FileSystem = 0;
    EXPECT_EQ(DecodeBootRecord(p), BootOk);
    EXPECT_EQ(p.Device, dev);
    p.DiskStart = 4096;  // beyond the device
    EXPECT_EQ(DecodeBootRecord(p), BootReadError);
    dev->Destroy();
    EXPECT_EQ(BootStatusMessage(BootBadFileSystem), 301u);
    EXPECT_EQ(BootStatusMessage(BootBadSectorSize), 302u);
    EXPECT_EQ(BootStatusMessage(BootBadClusterSize), 303u);
    EXPECT_EQ(BootStatusMessage(BootBadRecord), 304u);
    EXPECT_EQ(BootStatusMessage(BootReadError), 305u);
}

TEST(BootRecordDevice, HudsonSoftSwitchesToHuman68k) {
    UITest t;
    Human68kLayout h;
    auto* dev = new MemoryDevice(BuildHuman68kImage(h));
    VolumeParams p;
    p.Device = dev;
    p.FileSystem = 0;
    ASSERT_EQ(DecodeBootRecord(p), BootOk);
    EXPECT_EQ(p.FileSystem, kFileSystemHuman68k);
    EXPECT_EQ(p.FATType, kFAT16);
    EXPECT_EQ(p.FAT, 1024);
    EXPECT_EQ(p.FATSize, 16 * 1024);
    EXPECT_EQ(p.RootDir, 1024u + 2 * 16 * 1024);
    EXPECT_EQ(p.UserArea, int32_t(p.RootDir + 512 * 32));
    EXPECT_EQ(p.ClusterSize, 1024u);
    EXPECT_EQ(p.ClustersCount, 8192u - 1 - 32 - 16);
    dev->Destroy();
}

// An X68000 floppy: a 68000 branch at 0. In the Human68k 3.x form the
// DOS parameter block is read little-endian by either decoder, and the
// volume is Human68k; a DOS floppy with the same block stays DOS.
TEST(BootRecordDevice, A68000BranchMakesAnX68000Floppy) {
    UITest t;
    auto floppy = BuildHuman68kFloppy({});
    for (uint32_t fs : {kFileSystemDOS, kFileSystemHuman68k}) {
        auto* dev = new MemoryDevice(floppy);
        VolumeParams p;
        p.Device = dev;
        p.FileSystem = fs;
        ASSERT_EQ(DecodeBootRecord(p), BootOk) << fs;
        EXPECT_EQ(p.FileSystem, kFileSystemHuman68k);
        EXPECT_EQ(p.FATType, kFAT12);
        EXPECT_EQ(p.FAT, 1024);
        EXPECT_EQ(p.FATSize, 2048);
        EXPECT_EQ(p.RootDir, 1024u + 2 * 2048);
        EXPECT_EQ(p.UserArea, int32_t(p.RootDir + 192 * 32));
        EXPECT_EQ(p.ClustersCount, 1232u - 1 - 4 - 6);
        dev->Destroy();
    }
    VolumeLayout l;
    EXPECT_TRUE(HasLittleEndianBPB(floppy.data()));
    std::memcpy(floppy.data() + 3, "12345678", 8);  // no name: the block alone makes sense
    EXPECT_TRUE(HasLittleEndianBPB(floppy.data()));
    floppy[13] = 0;  // without the name such a block is not taken for one
    EXPECT_FALSE(HasLittleEndianBPB(floppy.data()));
    std::memcpy(floppy.data() + 3, "X68IPL30", 8);
    EXPECT_EQ(DecodeHuman68kBootSector(floppy.data(), l), BootBadClusterSize);
    auto dos = BuildHuman68kFloppy({});
    dos[0] = 0xEB;
    dos[1] = 0x3C;
    dos[2] = 0x90;
    EXPECT_FALSE(HasLittleEndianBPB(dos.data()));
    l = VolumeLayout{};
    ASSERT_EQ(DecodeFATBootSector(dos.data(), l), BootOk);
    EXPECT_EQ(l.FileSystem, kFileSystemDOS);
}

TEST(BootRecordDevice, Human68kRecordChecks) {
    Human68kLayout h;
    auto img = BuildHuman68kImage(h);
    VolumeLayout l;
    img[20] = 0;  // sectors per cluster
    EXPECT_EQ(DecodeHuman68kBootSector(img.data(), l), BootBadRecord);
    img[20] = 1;
    img[18] = img[19] = 0;  // bytes per sector
    EXPECT_EQ(DecodeHuman68kBootSector(img.data(), l), BootBadSectorSize);
    // A small volume is FAT12; a 32-bit total is used when the 16-bit one is 0.
    Human68kLayout floppy{1024, 1, 2, 1, 192, 2, 1232};
    auto f = BuildHuman68kImage(floppy);
    ASSERT_EQ(DecodeHuman68kBootSector(f.data(), l), BootOk);
    EXPECT_EQ(l.FATType, kFAT12);
    EXPECT_EQ(l.ClustersCount, 1232u - 1 - 4 - 6);
    Human68kLayout big{512, 4, 2, 1, 512, 255, 200000};
    auto g = BuildHuman68kImage(big);
    ASSERT_EQ(DecodeHuman68kBootSector(g.data(), l), BootOk);
    EXPECT_EQ(l.ClustersCount, (200000u - 1 - 510 - 32) / 4);
}

TEST(FindBootSector, ScansByStepWithinTenMebibytes) {
    UITest t;
    Bpb b;
    b.total32 = TotalFor(b, 5000);
    b.label54 = "FAT16   ";
    std::vector<uint8_t> disk(12u << 20, 0);
    auto sector = Sector(b);
    std::copy(sector.begin(), sector.end(), disk.begin() + 0x8000);
    auto* dev = new MemoryDevice(disk);
    uint8_t buf[512];
    uint32_t found = 1;
    ASSERT_TRUE(FindFATBootSector(dev, 0, 512, found, buf));
    EXPECT_EQ(found, 0x8000u);
    EXPECT_EQ(std::memcmp(buf, sector.data(), 512), 0);
    ASSERT_TRUE(FindFATBootSector(dev, 0x8000, 512, found, buf));
    EXPECT_EQ(found, 0u) << "a sector at the start offset itself";
    dev->reads = 0;
    EXPECT_FALSE(FindFATBootSector(dev, 0x8200, 512, found, buf));
    EXPECT_EQ(dev->reads, 0xA00000 / 512) << "the last offset examined lies just below 10 MiB";
    EXPECT_FALSE(FindFATBootSector(dev, 0, 0, found, buf));
    EXPECT_FALSE(FindFATBootSector(dev, 0, -512, found, buf));
    // Labels need their three spaces; a FAT32 label at 82 counts too.
    std::fill(disk.begin(), disk.end(), 0);
    std::memcpy(disk.data() + 1024 + 54, "FAT16XYZ", 8);
    std::memcpy(disk.data() + 2048 + 82, "FAT32   ", 8);
    dev->data = disk;
    ASSERT_TRUE(FindFATBootSector(dev, 0, 512, found, buf));
    EXPECT_EQ(found, 2048u);
    dev->Destroy();
}

TEST(FindBootSector, RealImagesFromMkfs) {
    UITest t;
    TempDir dir;
    for (int bits : {12, 16, 32}) {
        std::string path = dir / ("v" + std::to_string(bits) + ".img");
        MakeFatImage(path, bits == 32 ? 70000 : bits == 16 ? 16384 : 1440, bits);
        Mounted m = MountImageFile(path);
        ASSERT_TRUE(m) << bits;
        EXPECT_EQ(m->FATType, uint32_t(bits == 12 ? kFAT12 : bits == 16 ? kFAT16 : kFAT32));
        EXPECT_EQ(m->FreeClusters, m->ClustersCount - (bits == 32 ? 1 : 0));
    }
}

}  // namespace
