#include <gtest/gtest.h>

#include "device/byteorder.h"
#include "device/messages.h"
#include "support/images.h"
#include "support/memvolume.h"
#include "support/scripted_ui.h"
#include "volume/diskimage.h"
#include "volume/fatkind.h"
#include "volume/fsck/checker.h"
#include "volume/didir.h"

#include <algorithm>
#include <cstring>
#include <fstream>

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

// Each kind's row against bytes written out by hand: where an entry lies,
// its byte order, what a write leaves of the bytes it shares, where the
// closed bit is, the head of a new table.
TEST(FatKindTest, RowsStoreEntriesAsEachKindsTablesDo) {
    const struct {
        uint32_t fatType, fileSystem, cluster, value;
        uint64_t at;                 // the entry's first byte
        std::vector<uint8_t> bytes;  // from `at`, after the write over 0xAA
    } entries[] = {
        {kFAT12, 0, 2, 0x123, 3, {0x23, 0xA1}},  // even: a byte and the low half of the next
        {kFAT12, 1, 3, 0x456, 4, {0x6A, 0x45}},  // odd: a high half and the byte after it
        {kFAT12, 0, 4094, 0xFF7, 6141, {0xF7, 0xAF}},
        {kFAT12, 0, 4093, 0xFFF, 6139, {0xFA, 0xFF}},  // an odd entry ends its pair
        {kFAT16, 0, 5, 0x1234, 10, {0x34, 0x12}},
        {kFAT16, 1, 5, 0x1234, 10, {0x12, 0x34}},
        {kFAT16, 1, 0xFFF6, 0xFFF8, 0x1FFEC, {0xFF, 0xF8}},
        {kFAT32, 0, 7, 0x0FFFFFFF, 28, {0xFF, 0xFF, 0xFF, 0xAF}},  // the top four bits stay
        {kFAT32, 0, 8, 0xF1234567, 32, {0x67, 0x45, 0x23, 0xA1}},
    };
    for (const auto& k : entries) {
        const FATKindRow& row = FATKindOf(k.fatType, k.fileSystem);
        const uint64_t end = k.at + k.bytes.size();
        std::vector<uint8_t> t(end + 2, 0xAA), want = t;
        std::copy(k.bytes.begin(), k.bytes.end(), want.begin() + k.at);
        ASSERT_EQ(row.Offset(k.cluster), k.at) << k.cluster;
        EXPECT_EQ(row.End(k.cluster), end) << k.cluster;
        row.Put(t.data() + k.at, k.cluster, k.value);
        EXPECT_TRUE(t == want) << k.cluster;
        EXPECT_EQ(row.Get(t.data(), k.cluster), k.value & row.mask) << k.cluster;
    }
    const struct {
        uint32_t fatType, fileSystem, closedBit;
        std::vector<uint8_t> head;
    } kinds[] = {
        {kFAT12, 0, 0, {0xF0, 0xFF, 0xFF}},
        {kFAT16, 0, 0x8000, {0xF8, 0xFF, 0xFF, 0xFF}},
        {kFAT16, 1, 0, {0xF0, 0xFF, 0xFF, 0xFF}},
        {kFAT32, 0, 0x08000000, {0xF0, 0xFF, 0xFF}},
    };
    for (const auto& k : kinds) {
        const FATKindRow& row = FATKindOf(k.fatType, k.fileSystem);
        uint8_t head[8] = {};
        row.Head(k.head[0], nullptr, head);
        EXPECT_EQ(std::vector<uint8_t>(head, head + row.headBytes), k.head) << k.fatType << k.fileSystem;
        uint8_t second[8] = {};
        if (row.closedMask) second[row.closedAt] = row.closedMask;
        EXPECT_EQ(row.Get(second, 1), k.closedBit) << k.fatType << k.fileSystem;
    }
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

// A FAT32 table of 37 parts, read a part at a time through a cache of 16:
// a chain that jumps all over it reads as written, the check agrees with
// fsck.fat, and the free count is the same from the information sector as
// counted.
TEST_F(FatTest, Fat32ChainsReadInPartsMatchTheTable) {
    TempDir dir;
    std::string path = dir / "f32.img";
    MakeFatImage(path, 300 * 1024, 32, "-s 1");
    auto data = RandomBytes(200 * 512, 7);
    WriteHostFile(dir / "big.bin", data);
    ASSERT_EQ(RunShell("mcopy -i " + Quote(path) + " " + Quote(dir / "big.bin") + " ::BIG.BIN"), 0);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    auto at = [&](uint64_t offset, void* p, std::size_t n, bool write) {
        f.seekg(std::streamoff(offset));
        f.seekp(std::streamoff(offset));
        if (write) f.write(static_cast<const char*>(p), std::streamsize(n));
        else f.read(static_cast<char*>(p), std::streamsize(n));
    };
    uint8_t boot[512];
    at(0, boot, 512, false);
    const uint32_t reserved = LE16(boot + 14), fats = boot[16], fatSectors = LE32(boot + 36);
    const uint64_t fat = uint64_t(reserved) * 512, dataStart = fat + uint64_t(fats) * fatSectors * 512;
    const uint32_t clusters = uint32_t(LE32(boot + 32) - (dataStart / 512));
    ASSERT_GT(uint64_t(clusters) * 4, 36u * 65536) << "more parts than the cache holds";
    auto setFat = [&](uint32_t c, uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        for (uint32_t k = 0; k < fats; ++k) at(fat + uint64_t(k) * fatSectors * 512 + c * 4, b, 4, true);
    };
    // The file's entry in the root (cluster 2): its chain moves to clusters
    // spread over the whole table, out of order.
    uint8_t rootBytes[512];
    at(dataStart, rootBytes, 512, false);
    uint8_t* e = rootBytes;
    while (std::memcmp(e, "BIG     BIN", 11) != 0) e += 32;
    uint32_t old = LE16(e + 26) | uint32_t(LE16(e + 20)) << 16;
    for (uint32_t k = 0; k < 200; ++k) setFat(old + k, 0);
    ChainList chain;
    for (uint32_t k = 0; k < 200; ++k) chain.push_back(1000 + (k * 7919 % 200) * (clusters / 210));
    for (uint32_t k = 0; k < 200; ++k) {
        setFat(chain[k], k + 1 < 200 ? chain[k + 1] : 0x0FFFFFFF);
        at(dataStart + uint64_t(chain[k] - 2) * 512, data.data() + k * 512, 512, true);
    }
    PutLE16(e + 26, uint16_t(chain[0]));
    PutLE16(e + 20, uint16_t(chain[0] >> 16));
    at(dataStart, rootBytes, 512, true);
    f.close();
    std::string report;
    ASSERT_TRUE(FsckClean(path, &report)) << report;
    const long mtoolsFree = MtoolsFreeClusters(path, 512);
    for (bool infoSector : {true, false}) {
        if (!infoSector) {
            // An information sector that does not know: the count is made.
            std::fstream g(path, std::ios::in | std::ios::out | std::ios::binary);
            g.seekp(512 + 488);
            g.write("\xFF\xFF\xFF\xFF", 4);
        }
        Mounted m = MountImageFile(path);
        ASSERT_TRUE(m);
        EXPECT_TRUE(m->FATTable().empty()) << "the table is not held whole";
        for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(m->ReadChain(chain[0]), chain);
        std::vector<uint8_t> back(data.size());
        for (uint32_t k = 0; k < 200; ++k) ASSERT_TRUE(m->ReadCluster(chain[k], back.data() + k * 512));
        EXPECT_EQ(back, data);
        EXPECT_EQ(long(m->FreeCount()), mtoolsFree);
        CheckResult r = CheckVolume(*m.image);
        EXPECT_TRUE(r.Clean()) << r.Report();
        EXPECT_EQ(r.files, 1u);
    }
}

}  // namespace
