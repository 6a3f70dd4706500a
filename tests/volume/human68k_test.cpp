#include <gtest/gtest.h>

#include <cstring>

#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

namespace {

class Human68kTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        img = BuildHuman68kImage(layout);
        uint32_t rootDir = (layout.reserved + layout.fats * layout.sectorsPerFAT) * layout.bytesPerSector;
        dataStart = rootDir + layout.rootEntries * 32;
        root = rootDir;
        // LONGFILENAME12.TXT of 2500 bytes in clusters 2, 5, 3 (fragmented).
        PutHuman68kEntry(img.data() + root, "LONGFILENAME12", "TXT", kAttrArchive, 2, 2500);
        SetHuman68kFAT16(img, layout, 2, 5);
        SetHuman68kFAT16(img, layout, 5, 3);
        SetHuman68kFAT16(img, layout, 3, 0xFFFF);
        content = RandomBytes(2500, 11);
        const uint32_t order[] = {2, 5, 3};
        for (int k = 0; k < 3; ++k) {
            std::size_t n = std::min<std::size_t>(1024, 2500 - k * 1024);
            std::memcpy(img.data() + dataStart + (order[k] - 2) * 1024, content.data() + k * 1024, n);
        }
        // a short lower-case name
        PutHuman68kEntry(img.data() + root + 32, "short", "c", kAttrArchive, 0, 0);
        path = dir / "h68.hds";
        WriteHostFile(path, img);
    }
    Human68kLayout layout;
    std::vector<uint8_t> img;
    std::vector<uint8_t> content;
    uint32_t root = 0, dataStart = 0;
    TempDir dir;
    std::string path;
};

TEST_F(Human68kTest, MountsByteSwappedFatAndLongNames) {
    Mounted m = MountImageFile(path);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->FileSystem, kFileSystemHuman68k);
    EXPECT_EQ(m->FATType, kFAT16);
    EXPECT_EQ(*m->ReadChain(2), (ChainList{2, 5, 3}));
    EXPECT_EQ(m->FreeClusters, m->ClustersCount - 3);
    DIDir d(m.image.get(), 0);
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.GetCount(), 2u);
    EXPECT_EQ(d.GetDisplayName(0), "LONGFILENAME12.TXT");
    EXPECT_EQ(d.GetDisplayName(1), "short.c");
    EXPECT_EQ(d.Find("longfilename12.txt"), 0);
    EXPECT_EQ(d.Find("SHORT.C"), 1);
    EXPECT_EQ(d.GetTimeText(0), "2002/01/01 12:00:00");
}

TEST_F(Human68kTest, SetNameFillsNameExtensionAndKeepsCase) {
    Mounted m = MountImageFile(path);
    DIDir d(m.image.get(), 0);
    ASSERT_TRUE(d.Load());
    int i = d.AddEntry("LONGFILENAME12.TXT");
    ASSERT_EQ(i, 2);
    const uint8_t* e = d.RawEntry(i);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 11), "LONGFILETXT");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e) + 12, 10), std::string("NAME12\0\0\0\0", 10));
    ASSERT_TRUE(d.SetName(i, "longfilename12.txt"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 11), "longfiletxt");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e) + 12, 6), "name12");
    ASSERT_TRUE(d.SetName(i, "a_name_of_eighteen.doc"));
    EXPECT_EQ(d.GetDisplayName(i), "a_name_of_eighteen.doc");
    ASSERT_TRUE(d.SetName(i, "far_too_long_a_name_for_it.doc"));
    EXPECT_EQ(d.GetDisplayName(i), "far_too_long_a_nam.doc");
    ASSERT_TRUE(d.SetName(i, "eight8.x"));
    EXPECT_EQ(d.GetDisplayName(i), "eight8.x");
    EXPECT_EQ(e[12], 0) << "a short name clears the extension field";
}

TEST_F(Human68kTest, AllocationWritesBigEndianEntries) {
    {
        Mounted m = MountImageFile(path);
        auto chain = m->AllocateChain(3000);
        ASSERT_TRUE(chain);
        EXPECT_EQ(*chain, (ChainList{4, 6, 7}));
        DIDir d(m.image.get(), 0);
        ASSERT_TRUE(d.Load());
        int f = d.MakeDir("folder_with_long_name");
        ASSERT_GE(f, 0);
        ASSERT_TRUE(d.Write());
        EXPECT_EQ(d.GetDisplayName(f), "folder_with_long_n");
    }
    auto after = ReadHostFile(path);
    for (uint32_t copy = 0; copy < 2; ++copy) {
        const uint8_t* fat = after.data() + (1 + copy * 16) * 1024;
        EXPECT_EQ(fat[8], 0x00);
        EXPECT_EQ(fat[9], 0x06) << "cluster 4 -> 6, high byte first";
        EXPECT_EQ(fat[12], 0x00);
        EXPECT_EQ(fat[13], 0x07);
        EXPECT_EQ(fat[14], 0xFF);
        EXPECT_EQ(fat[15], 0xFF);
    }
    Mounted m = MountImageFile(path);
    DIDir d(m.image.get(), 0);
    ASSERT_TRUE(d.Load());
    int f = d.Find("folder_with_long_n");
    ASSERT_GE(f, 0);
    DIDir sub(m.image.get(), uint32_t(d.GetStartCluster(f)));
    ASSERT_TRUE(sub.Load());
    EXPECT_EQ(sub.GetDisplayName(0), ".");
    EXPECT_EQ(sub.GetDisplayName(1), "..");
    EXPECT_EQ(m->ReadChain(uint32_t(d.GetStartCluster(f)))->size(), 1u);
}

TEST_F(Human68kTest, FloppyFat12Volume) {
    Human68kLayout floppy{1024, 1, 2, 1, 192, 2, 1232};
    auto f = BuildHuman68kImage(floppy);
    std::string fpath = dir / "floppy.xdf";
    WriteHostFile(fpath, f);
    Mounted m = MountImageFile(fpath);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->FATType, kFAT12);
    auto chain = m->AllocateChain(5 * 1024);
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->size(), 5u);
    EXPECT_EQ(*m->ReadChain(2), *chain);
}

}  // namespace
