#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "device/byteorder.h"
#include "support/memvolume.h"
#include "volume/didir.h"
#include "volume/longnames.h"

namespace {

std::string Short(const uint8_t* name11) { return std::string(reinterpret_cast<const char*>(name11), 11); }

// A folder of entries in memory: slots for `name` followed by the 8.3 entry.
std::vector<uint8_t> RunFor(const std::u16string& name, const char* name11) {
    unsigned n = LongNameSlotCount(name);
    std::vector<uint8_t> v((n + 1) * 32, 0);
    BuildLongNameSlots(name, reinterpret_cast<const uint8_t*>(name11), v.data());
    std::memcpy(v.data() + n * 32, name11, 11);
    v[n * 32 + 11] = 0x20;
    return v;
}

std::optional<std::u16string> Read(const std::vector<uint8_t>& v) {
    auto run = FindLongNameRun(v.data(), uint32_t(v.size() / 32), uint32_t(v.size() / 32 - 1));
    if (!run) return std::nullopt;
    EXPECT_EQ(run->first, 0u);
    return run->name;
}

std::optional<StoredName> Plan(const std::string& name, std::set<std::string> taken = {}) {
    return PlanStoredName(CleanLongName(name), [&](const uint8_t* n) { return taken.count(Short(n)) > 0; });
}

TEST(LongNameSlots, LayoutAndReadBack) {
    // 13 characters fill one slot exactly: no end mark, no padding.
    std::u16string thirteen = u"abcdefghijklm";
    auto v = RunFor(thirteen, "ABCDEF~1   ");
    ASSERT_EQ(v.size(), 64u);
    EXPECT_EQ(v[0], 0x41);
    EXPECT_EQ(v[11], 0x0F);
    EXPECT_EQ(v[13], LongNameChecksum(v.data() + 32));
    EXPECT_EQ(LE16(v.data() + 30), u'm');
    EXPECT_EQ(Read(v), thirteen);
    // 14 characters: a second slot, stored first, with the end mark and padding.
    std::u16string fourteen = u"abcdefghijklmn";
    v = RunFor(fourteen, "ABCDEF~2   ");
    ASSERT_EQ(v.size(), 96u);
    EXPECT_EQ(v[0], 0x42);
    EXPECT_EQ(v[32], 0x01);
    EXPECT_EQ(LE16(v.data() + 1), u'n');
    EXPECT_EQ(LE16(v.data() + 3), 0x0000);
    EXPECT_EQ(LE16(v.data() + 5), 0xFFFF);
    EXPECT_EQ(LE16(v.data() + 30), 0xFFFF);
    EXPECT_EQ(Read(v), fourteen);
    // 255 characters, the longest: 20 slots.
    std::u16string longest(255, u'x');
    v = RunFor(longest, "XXXXXX~1   ");
    EXPECT_EQ(v.size(), 21u * 32);
    EXPECT_EQ(v[0], 0x40 | 20);
    EXPECT_EQ(Read(v), longest);
    // Japanese text and a character beyond the basic plane.
    std::u16string jp = Utf8ToUtf16("日本語のファイル名😀.txt");
    EXPECT_EQ(Read(RunFor(jp, "\x93\xFA\x96\x7B~1 TXT")), jp);
    EXPECT_EQ(Utf16ToUtf8(jp), "日本語のファイル名😀.txt");
}

TEST(LongNameSlots, BrokenRunsAreIgnored) {
    std::u16string name = u"A rather long file name.txt";  // three slots
    const auto good = RunFor(name, "ARATHE~1TXT");
    ASSERT_TRUE(Read(good));
    auto v = good;
    v[32 + 13] ^= 1;  // one slot of another checksum
    EXPECT_FALSE(Read(v));
    v = good;
    std::swap_ranges(v.begin() + 32, v.begin() + 64, v.begin() + 64);  // slots 1 and 2 out of order
    EXPECT_FALSE(Read(v));
    v = good;
    v[0] &= uint8_t(~0x40);  // no last-slot mark
    EXPECT_FALSE(Read(v));
    v = good;
    v[32] = 0xE5;  // a deleted slot inside the run
    EXPECT_FALSE(Read(v));
    v = good;
    v[96] = 'B';  // the 8.3 name changed after the slots were written
    EXPECT_FALSE(Read(v));
    v = good;
    PutLE16(v.data() + 64 + 1, 0);  // the text ends in the first slot, but two more follow
    EXPECT_FALSE(Read(v));
    // A run starting with the last-slot mark is enough: an earlier stray slot
    // of the same checksum does not belong to it.
    v = good;
    std::vector<uint8_t> stray(32, 0);
    stray[0] = 0x44;
    stray[11] = 0x0F;
    stray[13] = good[13];
    v.insert(v.begin(), stray.begin(), stray.end());
    auto run = FindLongNameRun(v.data(), 5, 4);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->first, 1u);
    // ... but deleting the entry takes every slot of its checksum before it.
    EXPECT_EQ(OwnSlotsStart(v.data(), 4), 0u);
}

TEST(LongNameAliases, PlainNamesKeepTheirFormAndOthersGetAnAlias) {
    auto p = Plan("README.TXT");
    ASSERT_TRUE(p);
    EXPECT_EQ(Short(p->shortName), "README  TXT");
    EXPECT_TRUE(p->longName.empty()) << "a valid upper-case 8.3 name needs no slots";
    p = Plan("readme.txt");
    ASSERT_TRUE(p);
    EXPECT_EQ(Short(p->shortName), "README  TXT") << "fits 8.3: the alias is the name itself";
    EXPECT_EQ(p->longName, u"readme.txt");
    p = Plan("readme.txt", {"README  TXT"});
    EXPECT_EQ(Short(p->shortName), "README~1TXT");
    EXPECT_FALSE(Plan("README.TXT", {"README  TXT"})) << "a plain name that is taken is refused";

    std::set<std::string> taken;
    for (int k = 1; k <= 3; ++k) {
        p = Plan("Document " + std::to_string(k) + ".txt", taken);
        ASSERT_TRUE(p);
        EXPECT_EQ(Short(p->shortName), "DOCUME~" + std::to_string(k) + "TXT");
        taken.insert(Short(p->shortName));
    }
    for (int k = 4; k <= 9; ++k) taken.insert("DOCUME~" + std::to_string(k) + "TXT");
    EXPECT_EQ(Short(Plan("Document 10.txt", taken)->shortName), "DOCUM~10TXT") << "fewer characters as the number grows";

    EXPECT_EQ(Short(Plan("My Document.v2.final.txt")->shortName), "MYDOCU~1TXT");
    EXPECT_EQ(Short(Plan(".gitignore")->shortName), "GITIGN~1   ");
    EXPECT_EQ(Short(Plan("ab")->shortName), "AB         ");
    EXPECT_EQ(Short(Plan("a b")->shortName), "AB~1       ");
    EXPECT_EQ(Short(Plan("c++.txt")->shortName), "C__~1   TXT") << "characters an 8.3 name cannot hold";
    EXPECT_EQ(Short(Plan("Café.doc")->shortName), "CAF_~1  DOC") << "no Shift-JIS form";
    EXPECT_EQ(Short(Plan("archive.tar.gz")->shortName), "ARCHIV~1GZ ");
    EXPECT_EQ(Short(Plan("x.html")->shortName), "X~1     HTM");
    EXPECT_FALSE(Plan("...")) << "nothing left to name";
}

TEST(LongNameAliases, ShiftJisCharactersAreNeverSplit) {
    // 日本語 is six bytes: exactly what fits before "~1".
    auto p = Plan("日本語のファイル.txt");
    ASSERT_TRUE(p);
    EXPECT_EQ(Short(p->shortName), "\x93\xFA\x96\x7B\x8C\xEA~1TXT");
    // "A" and two double-byte characters make five bytes; a third would make seven.
    p = Plan("aあいうえ.txt");
    EXPECT_EQ(Short(p->shortName), "A\x82\xA0\x82\xA2~1 TXT");
    // In the extension a double-byte character takes two of the three bytes.
    p = Plan("x.テキスト");
    EXPECT_EQ(Short(p->shortName), "X~1     \x83\x65 ");
    // A Japanese name that fits 8.3 and has no lower case is stored as it is.
    p = Plan("漢字かな.DAT");
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->longName.empty());
    EXPECT_EQ(Short(p->shortName), "\x8A\xBF\x8E\x9A\x82\xA9\x82\xC8" "DAT");
    // A second byte 0x5C or 0x7C is "_" in the alias; the long name keeps the character.
    for (auto [name, alias] : {std::pair<const char*, const char*>{"表示.TXT", "_\x8E\xA6~1   TXT"}, {"ポ.TXT", "_~1     TXT"}}) {
        p = Plan(name);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->longName, Utf8ToUtf16(name));
        EXPECT_EQ(Short(p->shortName), alias) << name;
    }
    // A first byte 0xE5 (a lead byte) is stored as 0x05.
    p = Plan("蕁x.txt");
    EXPECT_EQ(p->shortName[0], 0x05);
    EXPECT_EQ(p->shortName[1], 0x40);
}

TEST(LongNameText, CleaningAndCase) {
    EXPECT_EQ(CleanLongName("a:b?.txt. . "), u"a_b_.txt");
    EXPECT_EQ(CleanLongName(std::string(255, 'n')).size(), 255u);
    EXPECT_EQ(CleanLongName(std::string(256, 'n')), u"") << "too long: refused, never cut";
    EXPECT_EQ(CleanLongName(std::string(254, 'n') + "😀"), u"") << "a surrogate pair counts two units";
    EXPECT_EQ(CleanLongName(" ."), u"");
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a_b");
    EXPECT_EQ(FoldCase(u"Ωmega αβγ ς ά café"), FoldCase(u"ΩMEGA ΑΒΓ Σ Ά CAFÉ"));
    EXPECT_LT(CompareNamesIgnoringCase("apple", "Banana"), 0);
    EXPECT_GT(CompareNamesIgnoringCase("zeta", "Alpha"), 0);
    EXPECT_EQ(CompareNamesIgnoringCase("same", "same"), 0);
}

// The directory object on a small FAT16 volume in memory (a root of 16 entries).
class LongNameDirTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(v.Mount()); }
    MemVolume v{1};
    uint8_t* RootEntry(int i) { return v.dev->data.data() + v.params.RootDir + i * 32; }
};

TEST_F(LongNameDirTest, AddFindRenameDeleteKeepRunsWhole) {
    DIDir root(&v.image, 0);
    ASSERT_TRUE(root.Load());
    int a = root.AddNamed("Document 1.txt");  // 14 characters
    ASSERT_EQ(a, 2) << "two slots, then the entry";
    EXPECT_EQ(root.GetDisplayName(a), "DOCUME~1.TXT");
    EXPECT_EQ(root.GetNameUtf8(a), "Document 1.txt");
    EXPECT_EQ(root.FindName("DOCUMENT 1.TXT"), a) << "long names match without regard to case";
    EXPECT_EQ(root.FindName("docume~1.txt"), a) << "and so do 8.3 names";
    EXPECT_EQ(root.FindName("DOCUMENT.TXT"), -1) << "a lossy 8.3 form is not the name";
    int b = root.AddNamed("Document 2.txt");
    EXPECT_EQ(root.GetDisplayName(b), "DOCUME~2.TXT");
    int c = root.AddNamed("PLAIN.TXT");
    EXPECT_EQ(c, 6);
    // Renamed to a longer name, entry a has no room before it: it moves.
    int a2 = root.Rename(a, "Document one, renamed to something longer.txt");
    ASSERT_GE(a2, 0);
    EXPECT_NE(a2, a);
    EXPECT_EQ(root.GetNameUtf8(a2), "Document one, renamed to something longer.txt");
    EXPECT_TRUE(root.IsFree(0) && root.IsFree(1)) << "the old run is gone";
    EXPECT_EQ(root.GetNameUtf8(b), "Document 2.txt") << "neighbours untouched";
    // Renamed to a shorter name, the entry stays and its surplus slots go.
    int again = root.Rename(a2, "Short.txt");
    EXPECT_EQ(again, a2);
    EXPECT_EQ(root.GetNameUtf8(again), "Short.txt");
    EXPECT_EQ(root.GetDisplayName(again), "SHORT.TXT");
    int slots = 0;
    for (uint32_t i = 0; i < root.GetCount(); ++i)
        if (!root.IsFree(int(i)) && root.GetAttr(int(i)) == 0x0F) ++slots;
    EXPECT_EQ(slots, 3) << "one for Short.txt, two for Document 2.txt";
    // Delete and release take the slots with them.
    ASSERT_TRUE(root.Delete(b));
    EXPECT_TRUE(root.IsFree(b - 1));
    ASSERT_TRUE(root.Release(again));
    EXPECT_TRUE(root.IsFree(again - 1));
    ASSERT_TRUE(root.Write());
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(RootEntry(i)[0] == 0 || RootEntry(i)[0] == 0xE5 || i == c) << i;
}

TEST_F(LongNameDirTest, TheExactNameWinsAndCaseAloneIsAmbiguous) {
    DIDir root(&v.image, 0);
    ASSERT_TRUE(root.Load());
    int upper = root.AddNamed("ABC LONG.txt");
    int lower = root.AddNamed("abc long.txt");
    ASSERT_GE(upper, 0);
    ASSERT_GE(lower, 0);
    EXPECT_EQ(root.FindName("ABC LONG.txt"), upper);
    EXPECT_EQ(root.FindName("abc long.txt"), lower);
    EXPECT_EQ(root.FindName("Abc Long.TXT"), kAmbiguousName) << "never the first one found";
    // A long name equal to another entry's 8.3 name.
    int plain = root.AddNamed("PLAIN.TXT");
    uint8_t raw[32];
    int other = root.AddNamed("OTHER NAME.TXT");
    ASSERT_GE(other, 0);
    std::memcpy(raw, root.RawEntry(plain), 32);
    EXPECT_EQ(root.FindName("plain.txt"), plain) << "one match needs no exact case";
    ASSERT_GE(root.Rename(other, "plain.txt"), 0);
    other = root.FindName("plain.txt");
    EXPECT_NE(other, plain);
    EXPECT_EQ(root.FindName("PLAIN.TXT"), plain);
    EXPECT_EQ(root.FindName("Plain.Txt"), kAmbiguousName);
    // 8.3 names alone: a stored lower-case name that differs only in case.
    v.image.LongNames = false;
    int same = root.AddEntry("SAME.TXT");
    int odd = root.AddEntry("ODD.TXT");
    std::memcpy(raw, root.RawEntry(odd), 32);
    std::memcpy(raw, "same    txt", 11);
    root.RestoreEntry(odd, raw);
    EXPECT_EQ(root.Find("SAME.TXT"), same);
    EXPECT_EQ(root.Find("same.txt"), odd);
    EXPECT_EQ(root.FindName("same.txt"), odd);
    EXPECT_EQ(root.Find("Same.txt"), kAmbiguousName);
}

TEST_F(LongNameDirTest, FullRootAndStaleEntriesBehindTheEndMarker) {
    DIDir root(&v.image, 0);
    ASSERT_TRUE(root.Load());
    // A stale entry behind the end marker (left by some other system).
    std::memcpy(RootEntry(4), "STALE   TXT", 11);
    RootEntry(4)[11] = 0x20;
    ASSERT_TRUE(root.Load());
    EXPECT_EQ(root.GetCount(), 0u);
    int a = root.AddNamed("a name of thirty characters xx");  // three slots: entries 0..3
    ASSERT_EQ(a, 3);
    EXPECT_EQ(root.GetCount(), 4u);
    ASSERT_TRUE(root.Write());
    EXPECT_EQ(RootEntry(4)[0], 0) << "the end marker follows the run";
    ASSERT_TRUE(root.Load());
    EXPECT_EQ(root.GetCount(), 4u);
    EXPECT_EQ(root.FindName("STALE.TXT"), -1) << "a stale entry never comes back";
    int b = root.AddNamed("second name of some length.x");  // three slots: entries 4..7
    ASSERT_EQ(b, 7);
    // Fill to 14 of 16 entries; a run of three does not fit in the last two.
    for (int k = 0; k < 6; ++k) ASSERT_GE(root.AddNamed("F" + std::to_string(k) + ".X"), 0);
    EXPECT_EQ(root.GetCount(), 14u);
    EXPECT_EQ(root.AddNamed("does not fit here.txt"), -1);
    EXPECT_EQ(root.GetCount(), 14u) << "nothing taken";
    EXPECT_GE(root.AddNamed("x.txt"), 0) << "one slot and its entry still fit";
}

TEST_F(LongNameDirTest, MovesCarryTheirSlotsAndTakeANewAliasWhenNeeded) {
    DIDir root(&v.image, 0);
    ASSERT_TRUE(root.Load());
    int sub = root.MakeDirNamed("Sub Folder");
    ASSERT_GE(sub, 0);
    EXPECT_EQ(root.GetNameUtf8(sub), "Sub Folder");
    DIDir inner(&v.image, uint32_t(root.GetStartCluster(sub)));
    ASSERT_TRUE(inner.Load());
    ASSERT_GE(inner.AddNamed("Report 2024.txt"), 0);  // REPORT~1.TXT there
    int r = root.AddNamed("Report 2023.txt");         // REPORT~1.TXT here too
    ASSERT_EQ(root.GetDisplayName(r), "REPORT~1.TXT");
    root.SetSize(r, 0);
    int j = root.MoveTo(r, inner);
    ASSERT_GE(j, 0);
    EXPECT_EQ(inner.GetNameUtf8(j), "Report 2023.txt");
    EXPECT_EQ(inner.GetDisplayName(j), "REPORT~2.TXT") << "the alias was taken in the target";
    EXPECT_TRUE(root.IsFree(r) && root.IsFree(r - 1)) << "slots leave with the entry";
    // A move where the alias is free keeps it.
    int k = inner.MoveTo(inner.FindName("report 2024.txt"), root);
    ASSERT_GE(k, 0);
    EXPECT_EQ(root.GetDisplayName(k), "REPORT~1.TXT");
    EXPECT_EQ(root.GetNameUtf8(k), "Report 2024.txt");
}

TEST_F(LongNameDirTest, OffMeansEightThreeAndHuman68kNeverGetsSlots) {
    v.image.LongNames = false;
    DIDir root(&v.image, 0);
    ASSERT_TRUE(root.Load());
    int a = root.AddNamed("Document 1.txt");
    EXPECT_EQ(a, 0);
    EXPECT_EQ(root.GetNameUtf8(a), "DOCUMENT.TXT");
    EXPECT_EQ(root.FindName("Document 2.txt"), a) << "the 8.3 rule: names meet after conversion";
    v.image.LongNames = true;
    EXPECT_EQ(root.FindName("Document 2.txt"), -1);

    MemVolume h(1, 1);
    ASSERT_TRUE(h.Mount());
    DIDir hr(&h.image, 0);
    ASSERT_TRUE(hr.Load());
    int x = hr.AddNamed("long_name_x68k.txt");
    EXPECT_EQ(x, 0);
    EXPECT_EQ(hr.GetNameUtf8(x), "long_name_x68k.txt");
    EXPECT_EQ(hr.GetCount(), 1u) << "no slots on Human68k";
}

// A device that keeps only its first `limit` writes, as a power loss would.
class CutDevice : public MemoryDevice {
public:
    CutDevice(std::vector<uint8_t> bytes, int limit) : MemoryDevice(std::move(bytes)), limit_(limit) {}
    bool Write(int64_t offset, const void* buffer, uint32_t length) override {
        if (done_++ >= limit_) return true;
        return MemoryDevice::Write(offset, buffer, length);
    }
    int done_ = 0;

private:
    int limit_;
};

TEST_F(LongNameDirTest, AnEntryThatMovesForItsSlotsIsNeverLostByAStop) {
    // A full folder of one cluster whose next cluster is not beside it.
    DIDir root(&v.image, 0);
    ASSERT_TRUE(root.Load());
    int sub = root.MakeDir("SUB");
    int gap = root.AddEntry("GAP.BIN");
    auto chain = v.image.AllocateChain(1);
    ASSERT_TRUE(chain);
    root.SetStartCluster(gap, chain->front());
    root.SetSize(gap, 1);
    ASSERT_TRUE(root.Write());
    const uint32_t subCluster = uint32_t(root.GetStartCluster(sub));
    DIDir d(&v.image, subCluster);
    ASSERT_TRUE(d.Load());
    for (int k = 0; k < 14; ++k) ASSERT_GE(d.AddEntry("F" + std::to_string(k) + ".X"), 0);
    ASSERT_TRUE(d.Write());
    const std::vector<uint8_t> before = v.dev->data;
    const std::string longName = "A much longer name for F0.txt";

    for (int limit = 0;; ++limit) {
        VolumeParams p = v.params;
        auto* cut = new CutDevice(before, limit);
        p.Device = cut;
        DiskImage image;
        ASSERT_TRUE(image.Mount(p));
        DIDir folder(&image, subCluster);
        ASSERT_TRUE(folder.Load());
        int moved = folder.Rename(folder.FindName("F0.X"), longName);
        ASSERT_GT(moved, 15) << "the entry leaves the full first cluster";
        ASSERT_TRUE(folder.Write());
        const bool complete = cut->done_ <= limit;

        VolumeParams q = v.params;
        q.Device = new MemoryDevice(cut->data);
        DiskImage after;
        ASSERT_TRUE(after.Mount(q));
        DIDir check(&after, subCluster);
        ASSERT_TRUE(check.Load());
        EXPECT_TRUE(check.FindName("F0.X") >= 0 || check.FindName(longName) >= 0) << "stopped after write " << limit;
        if (complete) {
            EXPECT_GE(check.FindName(longName), 0);
            EXPECT_EQ(check.FindName("F0.X"), -1);
            break;
        }
    }
}

}  // namespace
