#include <gtest/gtest.h>

#include <cstring>

#include "support/images.h"
#include "support/memvolume.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

namespace {

// Names in Shift-JIS: 日本 is 93FA 967B, 語 is 8CEA, 漢字 is 8ABF 8E9A.
const std::string kNihon = "\x93\xFA\x96\x7B";
const std::string kGo = "\x8C\xEA";
const std::string kKanji = "\x8A\xBF\x8E\x9A";

class DirTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        path = dir / "v.img";
        MakeFatImage(path, 16384, 16, "-r 512 -s 4");
    }
    void ExpectFsckClean() {
        std::string report;
        EXPECT_TRUE(FsckClean(path, &report)) << report;
    }
    std::string Mdir(const std::string& where = "::") {
        std::string out;
        RunShell("mdir -b -i " + Quote(path) + " " + Quote(where), &out);
        return out;
    }
    TempDir dir;
    std::string path;
};

TEST(DiskName, ConvertsHostNamesToStoredForm) {
    MemVolume fat(kFAT16), h68(kFAT16, 1);
    ASSERT_TRUE(fat.Mount() && h68.Mount());
    DIDir f(&fat.image, 0), h(&h68.image, 0);
    EXPECT_EQ(f.ToDiskName("readme.txt"), "README.TXT");
    EXPECT_EQ(h.ToDiskName("readme.txt"), "readme.txt");
    EXPECT_EQ(f.ToDiskName("my file.tar.gz"), "MYFILE_T.GZ");
    EXPECT_EQ(f.ToDiskName("a:b"), "A_B");
    EXPECT_EQ(f.ToDiskName("verylongname.html"), "VERYLONG.HTM");
    EXPECT_EQ(h.ToDiskName("verylongname.html"), "verylongname.htm");
    EXPECT_EQ(f.ToDiskName("noext"), "NOEXT");
    EXPECT_EQ(f.ToDiskName("a*b?c|d\"e<f>g"), "A_B_C_D_");
    EXPECT_EQ(f.ToDiskName("x\x01y"), "X_Y");
    EXPECT_EQ(f.ToDiskName("\xB1\xB2.txt"), "\xB1\xB2.TXT") << "half-width katakana pass unchanged";
    EXPECT_EQ(f.ToDiskName(kNihon + "xyz.doc"), kNihon + "XYZ.DOC");
    EXPECT_EQ(f.ToDiskName(kNihon + kGo + kKanji + ".doc"), kNihon + kGo + kKanji.substr(0, 2) + ".DOC");
    EXPECT_EQ(f.ToDiskName("abcdefg" + kGo + ".doc"), "ABCDEFG.DOC") << "a double-byte character is never split";
    EXPECT_EQ(f.ToDiskName("a.bc" + kGo), "A.BC") << "nor in the extension";
    EXPECT_EQ(f.ToDiskName("a.b" + kGo), "A.B" + kGo) << "one letter and one double-byte character fill it";
    EXPECT_EQ(f.ToDiskName("name\x93"), "NAME\x93") << "a lone lead byte at the end is one character";
    // 0x5C inside a double-byte character is not a backslash.
    EXPECT_EQ(f.ToDiskName("\x95\x5C.txt"), "\x95\x5C.TXT");
    // Full stops that open a name are left out: the letters make the name.
    EXPECT_EQ(f.ToDiskName(".profile"), "PROFILE");
    EXPECT_EQ(f.ToDiskName(".gitignore"), "GITIGNOR");
    EXPECT_EQ(f.ToDiskName(".gitattributes"), "GITATTRI");
    EXPECT_EQ(f.ToDiskName("..config.json"), "CONFIG.JSO");
    EXPECT_FALSE(f.IsValidNewName("."));
    EXPECT_FALSE(f.IsValidNewName(".."));
    EXPECT_FALSE(f.IsValidNewName("   "));
    EXPECT_FALSE(f.IsValidNewName(". ."));
    EXPECT_FALSE(f.IsValidNewName(" .txt")) << "no base name left";
    EXPECT_TRUE(f.IsValidNewName(".gitignore"));
    EXPECT_TRUE(f.IsValidNewName("a"));
}

TEST_F(DirTest, ListsWhatMtoolsWrote) {
    WriteHostFile(dir / "readme.txt", RandomBytes(100, 1));
    ASSERT_EQ(RunShell("mmd -i " + Quote(path) + " ::SUB && mcopy -i " + Quote(path) + " " + Quote(dir / "readme.txt") +
                  " ::SUB/ && mattrib -i " + Quote(path) + " +r ::SUB/README.TXT"),
              0);
    Mounted m = MountImageFile(path);
    ASSERT_TRUE(m);
    DIDir root(m.image.get(), 0);
    ASSERT_TRUE(root.Load());
    EXPECT_EQ(root.GetCount(), 1u);
    int s = root.Find("sub");
    ASSERT_EQ(s, 0);
    EXPECT_EQ(root.GetAttrText(s), "<DIR>");
    EXPECT_EQ(root.GetSize(s), 0u);
    DIDir sub(m.image.get(), uint32_t(root.GetStartCluster(s)));
    ASSERT_TRUE(sub.Load());
    EXPECT_EQ(sub.GetDisplayName(0), ".");
    EXPECT_EQ(sub.GetDisplayName(1), "..");
    EXPECT_EQ(sub.GetStartCluster(1), 0);
    int r = sub.Find("readme.txt");
    ASSERT_GE(r, 0);
    EXPECT_EQ(sub.GetDisplayName(r), "README.TXT");
    EXPECT_EQ(sub.GetAttrText(r), "RA");
    EXPECT_EQ(sub.GetSize(r), 100u);
    EXPECT_EQ(sub.Find("missing"), -1);
    EXPECT_FALSE(sub.IsValidIndex(int(sub.GetCount())));
    EXPECT_EQ(sub.GetDisplayName(99), "");
    EXPECT_EQ(sub.GetAttrText(99), "err");
    EXPECT_EQ(sub.GetTimeText(99), "0000/00/00 00:00:00 err");
    EXPECT_EQ(sub.GetSize(99), 0xFFFFFFFFu);
    EXPECT_EQ(sub.GetStartCluster(99), -1);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(DirTest, AttributeAndTimeTexts) {
    MemVolume v(kFAT16);
    ASSERT_TRUE(v.Mount());
    uint8_t* root = v.dev->data.data() + v.params.RootDir;
    const uint8_t attrs[] = {0x30, 0x31, 0x08, 0x0F, 0x00, 0x27};
    for (int k = 0; k < 6; ++k) {
        std::memcpy(root + 32 * k, "ENTRY      ", 11);
        root[32 * k + 11] = attrs[k];
    }
    // 2002/01/05 12:30:08
    root[22] = uint8_t((12 << 11 | 30 << 5 | 4) & 0xFF);
    root[23] = uint8_t((12 << 11 | 30 << 5 | 4) >> 8);
    root[24] = uint8_t((22 << 9 | 1 << 5 | 5) & 0xFF);
    root[25] = uint8_t((22 << 9 | 1 << 5 | 5) >> 8);
    DIDir d(&v.image, 0);
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.GetCount(), 6u);
    EXPECT_EQ(d.GetAttrText(0), "A<DIR>");
    EXPECT_EQ(d.GetAttrText(1), "RA<DIR>");
    EXPECT_EQ(d.GetAttrText(2), "<VOL>");
    EXPECT_EQ(d.GetAttrText(3), "RHS<VOL>");
    EXPECT_EQ(d.GetAttrText(4), "");
    EXPECT_EQ(d.GetAttrText(5), "RHSA");
    EXPECT_EQ(d.GetTimeText(0), "2002/01/05 12:30:08");
    EXPECT_EQ(d.GetTimeText(1), "1980/00/00 00:00:00");
    SystemTime t{2107, 12, 0, 31, 23, 59, 59, 0};
    ASSERT_TRUE(d.SetTime(2, t));
    EXPECT_EQ(d.GetTimeText(2), "2107/12/31 23:59:58");
    EXPECT_EQ(d.GetTime(2).wSecond, 58);
}

TEST_F(DirTest, RootRegionCountAndFullness) {
    MemVolume v(kFAT16);  // a root region of 16 entries
    ASSERT_TRUE(v.Mount());
    uint8_t* root = v.dev->data.data() + v.params.RootDir;
    DIDir d(&v.image, 0);
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.GetCount(), 0u);
    for (int k = 0; k < 16; ++k) std::memcpy(root + 32 * k, "FULL       ", 11);
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.GetCount(), 16u) << "a full region has no end marker";
    EXPECT_EQ(d.AddEntry("ONE.MORE"), -1);
    EXPECT_EQ(ui.Texts().back(), "Ο φάκελος είναι γεμάτος");
    root[32 * 3] = kDeletedMark;
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.AddEntry("ONE.MOR"), 3) << "a deleted entry is reused";
    EXPECT_EQ(d.GetDisplayName(3), "ONE.MOR");
}

TEST_F(DirTest, FullRootOf512EntriesRefusesThe513th) {
    Mounted m = MountImageFile(path);
    ASSERT_TRUE(m);
    DIDir root(m.image.get(), 0);
    ASSERT_TRUE(root.Load());
    for (int k = 0; k < 512; ++k) ASSERT_EQ(root.AddEntry("F" + std::to_string(k)), k);
    EXPECT_EQ(root.AddEntry("F512"), -1);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Ο φάκελος είναι γεμάτος"});
    ASSERT_TRUE(root.Write());
    m.image.reset();
    ExpectFsckClean();
    EXPECT_NE(Mdir().find("F511"), std::string::npos);
}

TEST_F(DirTest, SubdirectoryGrowsByOneLinkedCluster) {
    uint32_t subCluster;
    {
        Mounted m = MountImageFile(path);
        ASSERT_TRUE(m);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        int s = root.MakeDir("grow");
        ASSERT_GE(s, 0);
        ASSERT_TRUE(root.Write());
        subCluster = uint32_t(root.GetStartCluster(s));
        DIDir sub(m.image.get(), subCluster);
        ASSERT_TRUE(sub.Load());
        EXPECT_EQ(sub.GetCount(), 2u);
        uint32_t per = m->ClusterSize / 32;
        uint32_t freeBefore = m->FreeClusters;
        for (uint32_t k = 2; k < per; ++k) ASSERT_GE(sub.AddEntry("E" + std::to_string(k)), 0);
        EXPECT_EQ(m->FreeClusters, freeBefore);
        EXPECT_EQ(sub.AddEntry("NEXT"), int(per)) << "the new entry takes the old count as index";
        EXPECT_EQ(m->FreeClusters, freeBefore - 1);
        EXPECT_EQ(m->ReadChain(subCluster)->size(), 2u);
        ASSERT_TRUE(sub.Write());
    }
    ExpectFsckClean();
    std::string listing = Mdir("::GROW");
    EXPECT_NE(listing.find("NEXT"), std::string::npos) << listing;
    EXPECT_NE(listing.find("E2"), std::string::npos) << listing;
}

TEST_F(DirTest, MakeDirWritesDotEntries) {
    {
        Mounted m = MountImageFile(path);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        int a = root.MakeDir("outer");
        ASSERT_GE(a, 0);
        EXPECT_EQ(root.GetAttr(a), kAttrDirectory);
        EXPECT_EQ(root.GetSize(a), 0u);
        ASSERT_TRUE(root.Write());
        DIDir outer(m.image.get(), uint32_t(root.GetStartCluster(a)));
        ASSERT_TRUE(outer.Load());
        EXPECT_EQ(outer.GetStartCluster(0), root.GetStartCluster(a));
        EXPECT_EQ(outer.GetStartCluster(1), 0);
        int b = outer.MakeDir("inner");
        ASSERT_TRUE(outer.Write());
        DIDir inner(m.image.get(), uint32_t(outer.GetStartCluster(b)));
        ASSERT_TRUE(inner.Load());
        EXPECT_EQ(inner.GetStartCluster(1), root.GetStartCluster(a));
        EXPECT_EQ(inner.GetAttrText(0), "<DIR>");
        EXPECT_EQ(inner.GetTimeText(0), outer.GetTimeText(b));
    }
    ExpectFsckClean();
    EXPECT_EQ(RunShell("mdir -i " + Quote(path) + " ::OUTER/INNER"), 0);
}

TEST_F(DirTest, DeleteOfAFolderFreesEverythingBelowIt) {
    WriteHostFile(dir / "big.bin", RandomBytes(50000, 2));
    WriteHostFile(dir / "small.txt", RandomBytes(10, 3));
    ASSERT_EQ(RunShell("mmd -i " + Quote(path) + " ::A ::A/B ::A/B/C && mcopy -i " + Quote(path) + " " +
                  Quote(dir / "big.bin") + " " + Quote(dir / "small.txt") + " ::A/B/C/ && mcopy -i " + Quote(path) +
                  " " + Quote(dir / "small.txt") + " ::"),
              0);
    {
        Mounted m = MountImageFile(path);
        uint32_t total = m->ClustersCount;
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        int a = root.Find("A");
        ASSERT_TRUE(root.Delete(a));
        EXPECT_EQ(root.GetDisplayName(a)[0], char(kDeletedMark));
        EXPECT_FALSE(root.Delete(a)) << "a deleted entry cannot be deleted again";
        EXPECT_EQ(m->FreeClusters, total - 1) << "only SMALL.TXT keeps a cluster";
        ASSERT_TRUE(root.Write());
    }
    ExpectFsckClean();
    std::string listing = Mdir();
    EXPECT_EQ(listing.find("::/A"), std::string::npos) << listing;
    EXPECT_NE(listing.find("small.txt"), std::string::npos) << listing;
}

TEST_F(DirTest, DeleteRefusesDotsAndLabelsAndSkipsLongNameSlots) {
    ASSERT_EQ(RunShell("mlabel -i " + Quote(path) + " ::MYDISK"), 0);
    WriteHostFile(dir / "Long File Name.txt", RandomBytes(3000, 4));
    ASSERT_EQ(RunShell("mmd -i " + Quote(path) + " ::D && mcopy -i " + Quote(path) + " " +
                  Quote(dir / "Long File Name.txt") + " ::"),
              0);
    {
        Mounted m = MountImageFile(path);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        int label = -1, slot = -1;
        for (uint32_t i = 0; i < root.GetCount(); ++i) {
            if (root.GetAttr(int(i)) == kAttrVolume) label = int(i);
            if (root.GetAttr(int(i)) == 0x0F && slot < 0) slot = int(i);
        }
        ASSERT_GE(label, 0);
        ASSERT_GE(slot, 0);
        EXPECT_EQ(root.GetAttrText(slot), "RHS<VOL>");
        EXPECT_FALSE(root.Delete(label));
        EXPECT_FALSE(root.Delete(slot));
        DIDir d(m.image.get(), uint32_t(root.GetStartCluster(root.Find("D"))));
        ASSERT_TRUE(d.Load());
        EXPECT_FALSE(d.Delete(0));
        EXPECT_FALSE(d.Delete(1));
        uint32_t freeBefore = m->FreeClusters;
        ASSERT_TRUE(root.DeleteAll());
        EXPECT_EQ(m->FreeClusters, freeBefore + 1 + (3000 + m->ClusterSize - 1) / m->ClusterSize);
        EXPECT_EQ(root.GetAttr(label), kAttrVolume) << "the label stays";
        EXPECT_EQ(root.GetAttr(slot), 0x0F) << "long-name slots stay";
        ASSERT_TRUE(root.Write());
    }
    std::string report;
    FsckClean(path, &report);
    EXPECT_EQ(report.find("lost"), std::string::npos) << report;
}

TEST_F(DirTest, ReleaseLeavesTheFatAlone) {
    WriteHostFile(dir / "f.bin", RandomBytes(9000, 5));
    ASSERT_EQ(RunShell("mcopy -i " + Quote(path) + " " + Quote(dir / "f.bin") + " ::"), 0);
    Mounted m = MountImageFile(path);
    DIDir root(m.image.get(), 0);
    ASSERT_TRUE(root.Load());
    auto fat = m->FATTable();
    uint32_t freeBefore = m->FreeClusters;
    int f = root.Find("F.BIN");
    ASSERT_TRUE(root.Release(f));
    EXPECT_TRUE(root.IsFree(f));
    EXPECT_EQ(m->FreeClusters, freeBefore);
    EXPECT_EQ(m->FATTable(), fat);
    EXPECT_FALSE(root.Release(999));
}

TEST_F(DirTest, MoveToRelinksAMovedFolder) {
    WriteHostFile(dir / "x.txt", RandomBytes(700, 6));
    ASSERT_EQ(RunShell("mmd -i " + Quote(path) + " ::P ::P/CHILD && mcopy -i " + Quote(path) + " " + Quote(dir / "x.txt") +
                  " ::P/CHILD/"),
              0);
    {
        Mounted m = MountImageFile(path);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        DIDir p(m.image.get(), uint32_t(root.GetStartCluster(root.Find("P"))));
        ASSERT_TRUE(p.Load());
        int c = p.Find("CHILD");
        int j = p.MoveTo(c, root);
        ASSERT_GE(j, 0);
        EXPECT_EQ(root.GetDisplayName(j), "CHILD");
        EXPECT_TRUE(p.IsFree(c));
        ASSERT_TRUE(root.Write());
        ASSERT_TRUE(p.Write());
        DIDir child(m.image.get(), uint32_t(root.GetStartCluster(j)));
        ASSERT_TRUE(child.Load());
        EXPECT_EQ(child.GetStartCluster(1), 0) << "'..' of a folder in the root is 0";
        // And back down again: ".." follows.
        int k = root.MoveTo(j, p);
        ASSERT_GE(k, 0);
        ASSERT_TRUE(root.Write());
        ASSERT_TRUE(p.Write());
        DIDir again(m.image.get(), uint32_t(p.GetStartCluster(k)));
        ASSERT_TRUE(again.Load());
        EXPECT_EQ(again.GetStartCluster(1), int64_t(p.GetCluster()));
        EXPECT_EQ(p.MoveTo(999, root), -1);
    }
    ExpectFsckClean();
    std::string out;
    ASSERT_EQ(RunShell("mtype -i " + Quote(path) + " ::P/CHILD/X.TXT | wc -c", &out), 0);
    EXPECT_EQ(std::stoi(out), 700);
}

TEST_F(DirTest, NameStartingWithE5IsStoredAsLiveEntry) {
    MemVolume v(kFAT16);
    ASSERT_TRUE(v.Mount());
    DIDir d(&v.image, 0);
    ASSERT_TRUE(d.Load());
    const std::string name = "\xE5\x40" "ABC.TXT";  // a kanji whose lead byte is 0xE5
    int i = d.AddEntry(name);
    ASSERT_GE(i, 0);
    EXPECT_FALSE(d.IsFree(i));
    EXPECT_EQ(d.RawEntry(i)[0], kStoredE5);
    EXPECT_EQ(d.GetDisplayName(i), "\xE5\x40" "ABC.TXT");
    EXPECT_EQ(d.Find(name), i);
    ASSERT_TRUE(d.Write());
    DIDir again(&v.image, 0);
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.GetCount(), 1u);
    EXPECT_EQ(again.Find(name), 0);
}

TEST_F(DirTest, DirectoryThatRefersToItselfStopsTheDeleteWith128) {
    uint32_t c;
    {
        Mounted m = MountImageFile(path);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        int s = root.MakeDir("LOOP");
        ASSERT_TRUE(root.Write());
        c = uint32_t(root.GetStartCluster(s));
        DIDir sub(m.image.get(), c);
        ASSERT_TRUE(sub.Load());
        // A folder entry inside LOOP that points at LOOP, and one that
        // points at the root.
        int a = sub.AddEntry("SELF");
        sub.SetAttr(a, kAttrDirectory);
        sub.SetStartCluster(a, c);
        int b = sub.AddEntry("ROOT");
        sub.SetAttr(b, kAttrDirectory);
        sub.SetStartCluster(b, 0);
        ASSERT_TRUE(sub.Write());
        uint32_t freeBefore = m->FreeClusters;
        // Nothing changes: deleting through a loop could free folders that
        // are still in use. Release is the tool for such an entry.
        EXPECT_FALSE(root.Delete(s));
        EXPECT_EQ(ui.Texts().back(), "Υπάρχει ένας φάκελος με παραπομπή σε βρόχο");
        EXPECT_EQ(m->FreeClusters, freeBefore);
        EXPECT_FALSE(root.IsFree(s));
        EXPECT_TRUE(root.Release(s));
        ASSERT_TRUE(root.Write());
    }
    std::string report;
    EXPECT_TRUE(FsckCleanButLost(path, &report)) << report;
}

TEST_F(DirTest, RootRegionOfNoEntries) {
    // A boot record may give 0 root entries on FAT12/16: the region is empty.
    MemVolume v(kFAT16);
    v.params.UserArea = int32_t(v.params.RootDir);
    ASSERT_TRUE(v.Mount());
    DIDir root(&v.image, 0);
    ASSERT_TRUE(root.Load());
    EXPECT_EQ(root.GetCount(), 0u);
    int writes = v.dev->writes;
    EXPECT_TRUE(root.Write()) << "nothing to write is no failure";
    EXPECT_EQ(v.dev->writes, writes) << "and nothing reaches the device";
    EXPECT_EQ(root.AddEntry("X"), -1);
    EXPECT_EQ(ui.Texts().back(), "Ο φάκελος είναι γεμάτος");
}

TEST_F(DirTest, UnloadedDirectoryIsEmpty) {
    MemVolume v(kFAT16);
    ASSERT_TRUE(v.Mount());
    DIDir d(&v.image, 50);  // cluster 50 is free: no chain
    EXPECT_FALSE(d.Load());
    EXPECT_EQ(d.GetCount(), 0u);
    EXPECT_EQ(d.Find("X"), -1);
    EXPECT_EQ(d.AddEntry("X"), -1);
    EXPECT_FALSE(d.Write());
}

}  // namespace
