#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>

#include "device/byteorder.h"
#include "device/catalogue.h"
#include "support/faulty_device.h"
#include "support/fsck_stopped.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "explorer/ops/importer.h"
#include "volume/fsck/checker.h"
#include "volume/didir.h"
#include "volume/longnames.h"
#include "volume/fsck/repairer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An image file in memory, for byte patches, with the layout its boot
// record gives.
struct Patchable {
    explicit Patchable(const std::string& path) : bytes(ReadHostFile(path)) {
        Mounted m = MountImageFile(path);
        if (m) layout = m->Layout();
    }
    const VolumeLayout& l() const { return layout; }
    bool Human() const { return layout.FileSystem == kFileSystemHuman68k; }

    uint8_t* Cluster(uint32_t c) {
        return bytes.data() + layout.DiskStart + layout.UserArea + std::size_t(c - 2) * layout.ClusterSize;
    }
    uint8_t* Fat(uint32_t copy) { return bytes.data() + layout.DiskStart + layout.FAT + std::size_t(copy) * layout.FATSize; }

    uint32_t GetFat(uint32_t c) {
        uint8_t* t = Fat(0);
        switch (layout.FATType) {
            case kFAT12: {
                uint32_t pair = LE16(t + c * 3 / 2);
                return (c & 1) ? pair >> 4 : pair & 0xFFF;
            }
            case kFAT16: return Human() ? BE16(t + c * 2) : LE16(t + c * 2);
            default: return LE32(t + c * 4) & 0x0FFFFFFF;
        }
    }
    // Every copy, or only `only`.
    void SetFat(uint32_t c, uint32_t v, int only = -1) {
        for (uint32_t k = 0; k < layout.FATCount; ++k) {
            if (only >= 0 && k != uint32_t(only)) continue;
            uint8_t* t = Fat(k);
            switch (layout.FATType) {
                case kFAT12: {
                    uint32_t pair = LE16(t + c * 3 / 2);
                    pair = (c & 1) ? (pair & 0x000F) | (v & 0xFFF) << 4 : (pair & 0xF000) | (v & 0xFFF);
                    PutLE16(t + c * 3 / 2, uint16_t(pair));
                    break;
                }
                case kFAT16:
                    if (Human()) PutBE16(t + c * 2, uint16_t(v));
                    else PutLE16(t + c * 2, uint16_t(v));
                    break;
                default: PutLE32(t + c * 4, v); break;
            }
        }
    }
    uint32_t End() const { return layout.FATType == kFAT12 ? 0xFFF : layout.FATType == kFAT16 ? 0xFFFF : 0x0FFFFFFF; }
    uint32_t Bad() const { return End() - 8; }
    uint32_t Reserved() const { return End() - 15; }

    std::vector<uint32_t> Chain(uint32_t first) {
        std::vector<uint32_t> out;
        for (uint32_t c = first; c >= 2 && c < End() - 15 && out.size() < 100000; c = GetFat(c)) out.push_back(c);
        return out;
    }

    // The 32-byte slot i of a folder (0: the root), in its first cluster.
    uint8_t* Slot(uint32_t folder, uint32_t i) {
        if (folder == 0 && layout.FATType != kFAT32)
            return bytes.data() + layout.DiskStart + layout.RootDir + std::size_t(i) * 32;
        return Cluster(folder == 0 ? layout.RootDir : folder) + std::size_t(i) * 32;
    }
    uint8_t* Find(uint32_t folder, const char* name11) {
        for (uint32_t i = 0; i < layout.ClusterSize / 32; ++i) {
            uint8_t* e = Slot(folder, i);
            if (std::memcmp(e, name11, 11) == 0) return e;
        }
        ADD_FAILURE() << "no entry " << name11;
        static uint8_t dummy[32];
        return dummy;
    }
    uint32_t FreeSlot(uint32_t folder) {
        uint32_t i = 0;
        while (Slot(folder, i)[0] != 0) ++i;
        return i;
    }
    // A root entry of no data with a long name, its slots before it.
    void AddLong(const std::u16string& name, const char* name11) {
        uint32_t i = FreeSlot(0), n = LongNameSlotCount(name);
        BuildLongNameSlots(name, reinterpret_cast<const uint8_t*>(name11), Slot(0, i));
        uint8_t* e = Slot(0, i + n);
        std::memset(e, 0, 32);
        std::memcpy(e, name11, 11);
        e[11] = kAttrArchive;
    }
    static uint32_t First(const uint8_t* e) { return LE16(e + 26) | uint32_t(LE16(e + 20)) << 16; }
    static void SetFirst(uint8_t* e, uint32_t c) {
        PutLE16(e + 26, uint16_t(c));
        PutLE16(e + 20, uint16_t(c >> 16));
    }

    std::vector<uint8_t> bytes;
    VolumeLayout layout;
};

// Repairs the image file (nothing when the repair is refused); the refusal.
unsigned RepairFile(const std::string& path, uint32_t fileSystem = 0, RepairOptions options = {}) {
    Mounted m = MountImageFile(path, 0, fileSystem);
    if (!m) return 1522;
    if (unsigned why = RepairRefusal(*m.image, CheckVolume(*m.image))) return why;
    RepairOutcome o = RepairVolume(*m.image, options);
    EXPECT_FALSE(o.writeFailed);
    EXPECT_TRUE(m.image->Flush());
    return 0;
}

// Every finding reads in all three languages: its message formats with the
// inserts the checker gave (a number where a plural is chosen), every text
// insert (paths, names, bytes) stands in each, and Greek and Japanese are
// not the English text.
void ExpectSpokenInEveryLanguage(const CheckResult& r) {
    for (const CheckFinding& f : r.findings) {
        SCOPED_TRACE(std::string(CheckKindName(f.kind)) + " " + std::to_string(f.message));
        const std::string en = FindingText(f, Language::English);
        EXPECT_EQ(f.text, FindingText(f, CurrentLanguage()));
        for (Language l : {Language::Greek, Language::English, Language::Japanese}) {
            ASSERT_NE(CatalogueTextIn(l, f.message), nullptr) << LanguageCode(l);
            const std::string text = FindingText(f, l);
            EXPECT_NE(text, "?") << LanguageCode(l);
            for (const MsgArg& a : f.inserts)
                EXPECT_TRUE(!a.IsText() || text.find(a.Text()) != std::string::npos) << LanguageCode(l) << ": " << text;
            EXPECT_TRUE(l == Language::English || text != en) << LanguageCode(l);
        }
    }
}

CheckResult CheckFile(const std::string& path, uint32_t fileSystem = 0) {
    Mounted m = MountImageFile(path, 0, fileSystem);
    if (!m) {
        CheckResult r;
        r.complete = false;
        return r;
    }
    return CheckVolume(*m.image);
}

// fsck.fat -n found nothing: exit status 0 and no line beyond its banner
// and its summary (it reports some faults, such as a long-name checksum,
// without failing).
bool FsckFindsNothing(const std::string& path, std::string& report) {
    bool rc0 = FsckClean(path, &report);
    std::size_t lines = 0;
    for (char c : report) lines += c == '\n';
    return rc0 && lines <= 2;
}

struct Damage {
    const char* name;
    CheckKind kind;
    std::function<void(Patchable&)> patch;
};

class CheckerCorpusTest : public ::testing::TestWithParam<int>, public UITest {
protected:
    void SetUp() override {
        bits = GetParam();
        ref = dir / "ref.img";
        MakeFatImage(ref, bits == 32 ? 34000 : bits == 16 ? 20480 : 1440, bits, bits == 32 ? "-s 1" : "");
        cs = Patchable(ref).l().ClusterSize;
        std::string src = dir / "src";
        RunShell("mkdir -p " + Quote(src + "/SUB"));
        WriteHostFile(src + "/BIG.BIN", RandomBytes(cs * 5 + 100, 1));
        WriteHostFile(src + "/SMALL.BIN", RandomBytes(cs - 10, 2));
        WriteHostFile(src + "/SUB/INNER.TXT", RandomBytes(700, 3));
        WriteHostFile(src + "/Long Empty Name.txt", {});
        ASSERT_EQ(RunShell("mcopy -s -i " + Quote(ref) + " " + Quote(src + "/BIG.BIN") + " " + Quote(src + "/SMALL.BIN") +
                           " " + Quote(src + "/SUB") + " " + Quote(src + "/Long Empty Name.txt") + " ::/"),
                  0);
    }
    int bits = 0;
    uint32_t cs = 0;
    TempDir dir;
    std::string ref;
};

// One image per kind of finding, each made from a clean volume by one byte
// patch; the checker must find that kind, and its verdict must be the one
// of fsck.fat -n.
TEST_P(CheckerCorpusTest, EveryKindOfDamageIsFoundAndFsckAgrees) {
    auto big = [](Patchable& p) { return p.Find(0, "BIG     BIN"); };
    auto small = [](Patchable& p) { return p.Find(0, "SMALL   BIN"); };
    auto sub = [](Patchable& p) { return Patchable::First(p.Find(0, "SUB        ")); };
    auto bigChain = [&](Patchable& p) { return p.Chain(Patchable::First(big(p))); };
    std::vector<Damage> corpus = {
        {"fat copies differ on a chain", CheckKind::FatCopies, [&](Patchable& p) { p.SetFat(bigChain(p)[1], p.End(), 1); }},
        {"fat copies differ on clusters no entry reaches", CheckKind::LostClusters,
         [](Patchable& p) { p.SetFat(p.l().ClustersCount, p.End(), 1); }},
        {"a folder grown in the first FAT copy only", CheckKind::FatCopyBehind,
         [&](Patchable& p) {
             uint32_t grown = p.l().ClustersCount - 10;
             p.SetFat(sub(p), grown, 0);
             p.SetFat(grown, p.End(), 0);
         }},
        {"chain loops", CheckKind::ChainLoop, [&](Patchable& p) { auto c = bigChain(p); p.SetFat(c[5], c[1]); }},
        {"chain runs into free", CheckKind::ChainFree, [&](Patchable& p) { p.SetFat(bigChain(p)[2], 0); }},
        {"chain runs into bad", CheckKind::ChainBad, [&](Patchable& p) { p.SetFat(bigChain(p)[2], p.Bad()); }},
        {"chain runs into reserved", CheckKind::ChainReserved,
         [&](Patchable& p) { p.SetFat(bigChain(p)[2], p.Reserved()); }},
        {"chain runs beyond the volume", CheckKind::ChainBeyond,
         [&](Patchable& p) { p.SetFat(bigChain(p)[2], p.l().ClustersCount + 5); }},
        {"first cluster beyond the volume", CheckKind::ChainBeyond,
         [&](Patchable& p) { Patchable::SetFirst(small(p), p.l().ClustersCount + 9); }},
        {"two chains share clusters", CheckKind::CrossLink,
         [&](Patchable& p) { p.SetFat(Patchable::First(small(p)), bigChain(p)[3]); }},
        {"one entry in two folders", CheckKind::InTwoFolders,
         [&](Patchable& p) {
             uint32_t s = sub(p);
             std::memcpy(p.Slot(s, p.FreeSlot(s)), small(p), 32);
         }},
        {"size beyond the chain", CheckKind::SizeMismatch,
         [&](Patchable& p) { PutLE32(big(p) + 28, LE32(big(p) + 28) + 3 * p.l().ClusterSize); }},
        {"size below the chain", CheckKind::SizeMismatch, [&](Patchable& p) { PutLE32(big(p) + 28, 1); }},
        {"\".\" names another cluster", CheckKind::DotEntries,
         [&](Patchable& p) { Patchable::SetFirst(p.Slot(sub(p), 0), Patchable::First(small(p))); }},
        {"\"..\" names another folder", CheckKind::DotEntries,
         [&](Patchable& p) { Patchable::SetFirst(p.Slot(sub(p), 1), sub(p)); }},
        {"duplicate names", CheckKind::DuplicateName, [&](Patchable& p) { std::memcpy(small(p), "BIG     BIN", 11); }},
        {"blank name", CheckKind::InvalidName, [&](Patchable& p) { std::memcpy(small(p), "           ", 11); }},
        {"control byte in a name", CheckKind::InvalidName, [&](Patchable& p) { small(p)[2] = 0x01; }},
        {"wildcard in a name", CheckKind::InvalidName, [&](Patchable& p) { small(p)[2] = '?'; }},
        {"long-name slots left by a delete", CheckKind::OrphanLongName,
         [&](Patchable& p) { p.Find(0, "LONGEM~1TXT")[0] = kDeletedMark; }},
        {"lost clusters", CheckKind::LostClusters,
         [&](Patchable& p) {
             p.SetFat(p.l().ClustersCount - 3, p.End());
             p.SetFat(p.l().ClustersCount - 1, p.End());
         }},
        {"a folder entry that closes a loop", CheckKind::CrossLink,
         [&](Patchable& p) {
             uint8_t* e = p.Slot(sub(p), p.FreeSlot(sub(p)));
             std::memcpy(e, p.Find(0, "SUB        "), 32);
             std::memcpy(e, "BACK       ", 11);
         }},
        {"the FAT head broken beyond the media byte", CheckKind::MediaByte, [&](Patchable& p) {
             for (uint32_t k = 0; k < p.l().FATCount; ++k) p.Fat(k)[1] = 0x00;
         }},
        {"the boot record's label and the root's differ", CheckKind::LabelsDiffer,
         [&](Patchable& p) { std::memcpy(p.bytes.data() + (bits == 32 ? 71 : 43), "OTHER      ", 11); }},
        {"a file marked as a label", CheckKind::LabelEntry, [&](Patchable& p) { small(p)[11] = kAttrVolume; }},
        {"a long-name slot with a first cluster", CheckKind::LongNameSlot,
         [&](Patchable& p) { PutLE16(p.Find(0, "LONGEM~1TXT") - 32 + 26, 5); }},
        {"\".\" and \"..\" pushed down by another entry", CheckKind::DotEntries,
         [&](Patchable& p) {
             uint8_t *dot = p.Slot(sub(p), 0), *inner = p.Find(sub(p), "INNER   TXT");
             uint8_t saved[96];
             std::memcpy(saved, dot, 64);
             std::memcpy(saved + 64, inner, 32);
             std::memcpy(dot, saved + 64, 32);
             std::memcpy(dot + 32, saved, 64);
         }},
    };
    if (bits == 16)
        corpus.push_back({"left marked not cleanly closed", CheckKind::NotClosed, [&](Patchable& p) {
                              for (uint32_t k = 0; k < p.l().FATCount; ++k) p.Fat(k)[3] &= 0x7F;
                          }});
    if (bits == 32)
        corpus.push_back({"left marked not cleanly closed", CheckKind::NotClosed, [&](Patchable& p) {
                              for (uint32_t k = 0; k < p.l().FATCount; ++k) p.Fat(k)[7] &= 0xF7;
                          }});
    // Where the checker is stricter than fsck.fat: names DOS itself could
    // never have made, long names no two systems read alike, and a media
    // byte other than the boot sector's.
    const std::vector<Damage> stricter = {
        {"lower case in a FAT name", CheckKind::InvalidName, [&](Patchable& p) { small(p)[1] = 'm'; }},
        {"a byte DOS refuses but fsck.fat lets pass", CheckKind::InvalidName, [&](Patchable& p) { small(p)[1] = ','; }},
        {"a media byte other than the boot sector's", CheckKind::MediaByte, [&](Patchable& p) {
             for (uint32_t k = 0; k < p.l().FATCount; ++k) p.Fat(k)[0] = 0xF9;
         }},
        {"two long names equal ignoring case", CheckKind::DuplicateName,
         [&](Patchable& p) { p.AddLong(u"LONG EMPTY NAME.TXT", "LONGEM~2TXT"); }},
        {"a long name holding a slash", CheckKind::InvalidName, [&](Patchable& p) { p.AddLong(u"a/b.txt", "AB~1    TXT"); }},
        {"a long name \"..\"", CheckKind::InvalidName, [&](Patchable& p) { p.AddLong(u"..", "DOTS~1     "); }},
        {"a long name equal to another entry's 8.3 name", CheckKind::DuplicateName,
         [&](Patchable& p) { p.AddLong(u"small.bin", "X       BIN"); }},
        {"a label entry in a subfolder", CheckKind::LabelEntry,
         [&](Patchable& p) { p.Find(sub(p), "INNER   TXT")[11] = kAttrVolume; }},
        {"a long name holding a control character", CheckKind::InvalidName,
         [&](Patchable& p) { p.AddLong(u"a\u0001b.txt", "AB~1    TXT"); }},
        {"an entry after the end mark", CheckKind::AfterEnd,
         [&](Patchable& p) {
             uint32_t free = p.FreeSlot(0);
             std::memcpy(p.Slot(0, free + 1), small(p), 32);
             small(p)[0] = kDeletedMark;
         }},
    };

    // Where fsck.fat sees damage in a sound volume: a Shift-JIS name whose
    // second byte is 0x5C (表.BIN), which fsck.fat takes for a backslash and
    // would rename.
    const std::vector<Damage> sound = {
        {"a Shift-JIS name with 0x5C as its second byte", CheckKind::InvalidName,
         [&](Patchable& p) { std::memcpy(small(p), "\x95\x5C      BIN", 11); }},
    };

    const std::vector<uint8_t> clean = ReadHostFile(ref);
    std::string report;
    CheckResult r = CheckFile(ref);
    EXPECT_TRUE(r.Clean()) << r.Report();
    EXPECT_EQ(r.files, 4u);
    EXPECT_EQ(r.folders, 2u);
    ASSERT_TRUE(FsckFindsNothing(ref, report)) << report;

    int agreed = 1, images = 1, repaired = 0;
    bool refused = false;
    const Bytes bigData = ReadHostFile(dir / "src/BIG.BIN"), smallData = ReadHostFile(dir / "src/SMALL.BIN");
    for (int g = 0; g < 2; ++g) {
        const bool isStricter = g == 1;
        const std::vector<Damage>& group = isStricter ? stricter : corpus;
        for (const Damage& d : group) {
            SCOPED_TRACE(d.name);
            Patchable p(ref);
            d.patch(p);
            ASSERT_NE(p.bytes, clean) << "the patch changed nothing";
            std::string path = dir / "damaged.img";
            WriteHostFile(path, p.bytes);
            r = CheckFile(path);
            ++images;
            EXPECT_TRUE(r.complete);
            EXPECT_GE(r.Count(d.kind), 1u) << r.Report();
            ExpectSpokenInEveryLanguage(r);
            EXPECT_FALSE(r.Clean());
            bool fsckClean = FsckFindsNothing(path, report);
            if (isStricter) {
                EXPECT_TRUE(fsckClean) << "fsck.fat now sees it too:\n" << report;
            } else {
                EXPECT_FALSE(fsckClean) << report;
                agreed += !fsckClean;
            }
            EXPECT_EQ(ReadHostFile(path), p.bytes) << "the check wrote to the image";
            // The repair mends every kind to clean, or refuses FAT32 and
            // writes nothing.
            if (bits == 32) {
                if (!refused) {
                    refused = true;
                    EXPECT_EQ(RepairFile(path), 1509u);
                    EXPECT_EQ(ReadHostFile(path), p.bytes);
                }
                continue;
            }
            ++repaired;
            // The repairs that move or rewrite entries, stopped at each of
            // their writes and run again, end clean too.
            if (bits == 16 && (d.kind == CheckKind::LabelsDiffer || d.kind == CheckKind::LabelEntry ||
                               d.kind == CheckKind::AfterEnd || d.kind == CheckKind::LongNameSlot ||
                               std::string(d.name).find("pushed down") != std::string::npos)) {
                const std::string copy = dir / "stopped.img";
                WriteHostFile(copy, p.bytes);
                int stops = 0;
                EXPECT_EQ(RepairSurvivesStops(copy, 0, &stops), "");
                EXPECT_GT(stops, 0);
            }
            EXPECT_EQ(RepairFile(path), 0u);
            r = CheckFile(path);
            EXPECT_TRUE(r.Clean()) << "after the repair:\n" << r.Report();
            EXPECT_TRUE(FsckFindsNothing(path, report)) << "after the repair:\n" << report;
            // Shared data stays with both owners; what the damage did not
            // touch keeps its bytes.
            if (d.kind == CheckKind::InTwoFolders || d.kind == CheckKind::CrossLink || d.kind == CheckKind::LostClusters ||
                d.kind == CheckKind::LabelEntry || d.kind == CheckKind::AfterEnd) {
                auto files = FilesByMtools(path);
                EXPECT_EQ(files["big.bin"], bigData);
                if (d.kind == CheckKind::LabelEntry || d.kind == CheckKind::AfterEnd) {
                    EXPECT_EQ(files["small.bin"], smallData);
                }
                if (d.kind == CheckKind::InTwoFolders) {
                    EXPECT_EQ(files["small.bin"], smallData);
                    EXPECT_EQ(files["sub/small.bin"], smallData);
                }
            }
        }
    }
    for (const Damage& d : sound) {
        SCOPED_TRACE(d.name);
        Patchable p(ref);
        d.patch(p);
        std::string path = dir / "sound.img";
        WriteHostFile(path, p.bytes);
        r = CheckFile(path);
        ++images;
        EXPECT_TRUE(r.Clean()) << r.Report();
        EXPECT_FALSE(FsckFindsNothing(path, report)) << "fsck.fat now takes it as sound";
    }
    std::cout << "FAT" << bits << ": verdict agrees with fsck.fat -n on " << agreed << " of " << images
              << " images; stricter on " << stricter.size() << ", sound where fsck.fat objects on " << sound.size()
              << "; " << repaired << " repaired\n";
}

TEST_P(CheckerCorpusTest, LostClustersAloneAreTold) {
    Patchable p(ref);
    uint32_t c = p.l().ClustersCount - 2;
    p.SetFat(c, c + 1);
    p.SetFat(c + 1, p.End());
    p.SetFat(c - 5, p.End());
    WriteHostFile(ref, p.bytes);
    CheckResult r = CheckFile(ref);
    EXPECT_TRUE(r.OnlyLostClusters()) << r.Report();
    EXPECT_FALSE(r.Clean());
    EXPECT_EQ(r.lostClusters, 3u);
    EXPECT_EQ(r.lostChains, 2u);
    std::string report;
    EXPECT_TRUE(FsckCleanButLost(ref, &report)) << report;

    // A stop between the writes of the two FAT copies: the second copy
    // still holds a chain no entry reaches, which is lost clusters too.
    p.SetFat(c - 7, c - 6, 1);
    p.SetFat(c - 6, p.End(), 1);
    WriteHostFile(ref, p.bytes);
    r = CheckFile(ref);
    EXPECT_TRUE(r.OnlyLostClusters()) << r.Report();
    EXPECT_EQ(r.Count(CheckKind::LostClusters), 2u);
    EXPECT_EQ(r.lostClusters, 5u);
}

// An image cut short: the check says so (fsck.fat agrees), and the repair
// refuses it without writing.
TEST_P(CheckerCorpusTest, TruncatedVolumeIsFoundAndNotRepaired) {
    Patchable p(ref);
    const uint64_t end = p.l().DiskStart + p.l().UserArea + uint64_t(p.l().ClustersCount) * cs;
    ASSERT_LE(end, p.bytes.size());
    p.bytes.resize(std::size_t(end - 2 * cs));
    WriteHostFile(ref, p.bytes);
    CheckResult r = CheckFile(ref);
    EXPECT_EQ(r.Count(CheckKind::Truncated), 1u) << r.Report();
    ExpectSpokenInEveryLanguage(r);
    std::string report;
    EXPECT_FALSE(FsckFindsNothing(ref, report));
    EXPECT_EQ(RepairFile(ref), bits == 32 ? 1509u : 1511u);
    EXPECT_EQ(ReadHostFile(ref), p.bytes);
}

INSTANTIATE_TEST_SUITE_P(FatKinds, CheckerCorpusTest, ::testing::Values(12, 16, 32));

// A Human68k volume built byte by byte: byte-swapped FAT16, 18-character
// and lower-case names, a Shift-JIS name, a folder with "." and "..".
class HumanCheckerTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        img = BuildHuman68kImage(layout);
        root = (layout.reserved + layout.fats * layout.sectorsPerFAT) * layout.bytesPerSector;
        data = root + layout.rootEntries * 32;
        // a fragmented file: clusters 2, 5, 3 (a little-endian reading of
        // the FAT would follow 2 to 0x500)
        PutHuman68kEntry(Root(0), "longfilename12", "txt", kAttrArchive, 2, 2500);
        Link(2, 5);
        Link(5, 3);
        Link(3, 0xFFFF);
        PutHuman68kEntry(Root(1), "\x93\xfa\x96\x7b\x8c\xea", "doc", kAttrArchive, 4, 10);  // 日本語
        Link(4, 0xFFFF);
        PutHuman68kEntry(Root(2), "folder", "", kAttrDirectory, 6, 0);
        Link(6, 0xFFFF);
        PutHuman68kEntry(Dir(6, 0), ".", "", kAttrDirectory, 6, 0);
        PutHuman68kEntry(Dir(6, 1), "..", "", kAttrDirectory, 0, 0);
        PutHuman68kEntry(Dir(6, 2), "Inner", "c", kAttrArchive, 7, 1024);
        Link(7, 0xFFFF);
        path = dir / "h.hds";
    }
    uint8_t* Root(int i) { return img.data() + root + 32 * i; }
    uint8_t* Dir(uint32_t c, int i) { return img.data() + data + (c - 2) * 1024 + 32 * i; }
    void Link(uint32_t c, uint16_t v) { SetHuman68kFAT16(img, layout, c, v); }
    CheckResult Check() {
        WriteHostFile(path, img);
        return CheckFile(path, kFileSystemHuman68k);
    }

    Human68kLayout layout;
    std::vector<uint8_t> img;
    uint32_t root = 0, data = 0;
    TempDir dir;
    std::string path;
};

TEST_F(HumanCheckerTest, SoundVolumeIsClean) {
    CheckResult r = Check();
    EXPECT_TRUE(r.Clean()) << r.Report();
    EXPECT_EQ(r.files, 3u);
    EXPECT_EQ(r.folders, 2u);
}

TEST_F(HumanCheckerTest, EveryKindOfDamageIsFound) {
    const std::vector<uint8_t> sound = img;
    struct Case {
        const char* name;
        CheckKind kind;
        std::function<void()> patch;
    };
    const std::vector<Case> cases = {
        {"second FAT copy differs on a chain", CheckKind::FatCopies,
         [&] { img[(layout.reserved + layout.sectorsPerFAT) * layout.bytesPerSector + 2 * 5 + 1] = 0x04; }},
        {"second FAT copy differs on a free cluster", CheckKind::LostClusters,
         [&] { img[(layout.reserved + layout.sectorsPerFAT) * layout.bytesPerSector + 2 * 100 + 1] = 0xFF; }},
        {"folder grown in the first FAT copy only", CheckKind::FatCopyBehind,
         [&] {
             PutBE16(img.data() + layout.reserved * layout.bytesPerSector + 2 * 6, 50);
             PutBE16(img.data() + layout.reserved * layout.bytesPerSector + 2 * 50, 0xFFFF);
         }},
        {"chain loops", CheckKind::ChainLoop, [&] { Link(3, 2); }},
        {"chain runs into free", CheckKind::ChainFree, [&] { Link(5, 9); }},
        {"chain runs into bad", CheckKind::ChainBad, [&] { Link(5, 0xFFF7); }},
        {"chain runs into reserved", CheckKind::ChainReserved, [&] { Link(5, 0xFFF0); }},
        {"chain runs beyond", CheckKind::ChainBeyond, [&] { Link(5, 0xF000); }},
        {"cross-link", CheckKind::CrossLink, [&] { Link(4, 3); }},
        {"in two folders", CheckKind::InTwoFolders, [&] { std::memcpy(Dir(6, 3), Root(0), 32); }},
        {"size", CheckKind::SizeMismatch, [&] { PutLE32(Root(0) + 28, 4000); }},
        {"\".\"", CheckKind::DotEntries, [&] { Dir(6, 0)[26] = 7; }},
        {"\"..\"", CheckKind::DotEntries, [&] { Dir(6, 1)[26] = 6; }},
        {"duplicate, ignoring case", CheckKind::DuplicateName,
         [&] { PutHuman68kEntry(Root(3), "LONGFILENAME12", "TXT", kAttrArchive, 0, 0); }},
        {"byte a name cannot hold", CheckKind::InvalidName, [&] { Root(1)[8] = '*'; }},
        {"control byte in the name extension", CheckKind::InvalidName, [&] { Root(0)[14] = 0x07; }},
        {"blank name", CheckKind::InvalidName, [&] { std::memset(Root(1), ' ', 8); }},
        {"lost clusters", CheckKind::LostClusters, [&] { Link(40, 0xFFFF); }},
        {"media byte", CheckKind::MediaByte, [&] { img[layout.reserved * layout.bytesPerSector] = 0xF0; }},
        {"0x00 in the name", CheckKind::InvalidName, [&] { Root(1)[9] = 0x00; }},
        {"\"..\" of the root beyond the first two slots", CheckKind::DotEntries,
         [&] {
             std::memcpy(Dir(6, 3), Dir(6, 1), 32);
             std::memcpy(Dir(6, 1), Dir(6, 2), 32);
             std::memset(Dir(6, 2), 0, 32);
             Dir(6, 2)[0] = kDeletedMark;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        img = sound;
        c.patch();
        CheckResult r = Check();
        EXPECT_GE(r.Count(c.kind), 1u) << r.Report();
        ExpectSpokenInEveryLanguage(r);
        EXPECT_FALSE(r.Clean());
        EXPECT_EQ(RepairFile(path, kFileSystemHuman68k), 0u);
        r = CheckFile(path, kFileSystemHuman68k);
        EXPECT_TRUE(r.Clean()) << "after the repair:\n" << r.Report();
    }
    // Lower case is a Human68k name's own.
    img = sound;
    PutHuman68kEntry(Root(3), "lower", "c", kAttrArchive, 0, 0);
    EXPECT_TRUE(Check().Clean());
}

// A Human68k folder tree as the walk meets it, from a description: each
// folder one cluster, folder k at cluster k + 2.
struct TreeImage {
    explicit TreeImage(uint32_t clusters) {
        // FAT16 needs more than 4084 clusters.
        layout.totalSectors = std::max<uint32_t>(clusters, 5000) + 600;
        layout.sectorsPerFAT = (layout.totalSectors + 2) * 2 / 1024 + 1;
        img = BuildHuman68kImage(layout);
        root = (layout.reserved + layout.fats * layout.sectorsPerFAT) * layout.bytesPerSector;
        data = root + layout.rootEntries * 32;
    }
    uint8_t* Slot(uint32_t folderCluster, int i) {
        return folderCluster == 0 ? img.data() + root + 32 * i : img.data() + data + (folderCluster - 2) * 1024 + 32 * i;
    }
    void MakeFolder(uint32_t c, uint32_t parent) {
        SetHuman68kFAT16(img, layout, c, 0xFFFF);
        PutHuman68kEntry(Slot(c, 0), ".", "", kAttrDirectory, uint16_t(c), 0);
        PutHuman68kEntry(Slot(c, 1), "..", "", kAttrDirectory, uint16_t(parent), 0);
    }
    Human68kLayout layout;
    std::vector<uint8_t> img;
    uint32_t root = 0, data = 0;
};

TEST(CheckerWalkTest, DeepChainOfFoldersNeedsNoRecursion) {
    ScriptedUI ui;
    ScopedUserInterface scope(&ui);
    const uint32_t depth = 30000;
    TreeImage t(depth + 10);
    uint32_t parent = 0;
    for (uint32_t k = 0; k < depth; ++k) {
        uint32_t c = k + 2;
        PutHuman68kEntry(t.Slot(parent, parent == 0 ? 0 : 2), "d", "", kAttrDirectory, uint16_t(c), 0);
        t.MakeFolder(c, parent);
        parent = c;
    }
    TempDir dir;
    WriteHostFile(dir / "deep.hds", t.img);
    CheckResult r = CheckFile(dir / "deep.hds", kFileSystemHuman68k);
    EXPECT_TRUE(r.Clean()) << r.Report();
    EXPECT_EQ(r.folders, depth + 1);

    // The deepest folder's ".." names its own cluster: the finding's path
    // keeps its last part within a line.
    PutHuman68kEntry(t.Slot(parent, 1), "..", "", kAttrDirectory, uint16_t(parent), 0);
    WriteHostFile(dir / "deep.hds", t.img);
    r = CheckFile(dir / "deep.hds", kFileSystemHuman68k);
    ASSERT_EQ(r.Count(CheckKind::DotEntries), 1u) << r.Report();
    const std::string& text = r.findings[0].text;
    EXPECT_EQ(text.rfind(".../d/d/", 0), 0u) << text.substr(0, 40);
    EXPECT_LT(text.size(), 1200u);
}

TEST(CheckerWalkTest, LadderAndLoopOfFoldersAreEnteredOnce) {
    ScriptedUI ui;
    ScopedUserInterface scope(&ui);
    // Each level holds two entries for the next folder, and the last one an
    // entry back to the first: walked blindly, 2^40 folders without end.
    TreeImage t(100);
    uint32_t parent = 0;
    for (uint32_t k = 0; k < 40; ++k) {
        uint32_t c = k + 2;
        int at = parent == 0 ? 0 : 2;
        PutHuman68kEntry(t.Slot(parent, at), "a", "", kAttrDirectory, uint16_t(c), 0);
        PutHuman68kEntry(t.Slot(parent, at + 1), "b", "", kAttrDirectory, uint16_t(c), 0);
        t.MakeFolder(c, parent);
        parent = c;
    }
    PutHuman68kEntry(t.Slot(parent, 2), "back", "", kAttrDirectory, 2, 0);
    TempDir dir;
    WriteHostFile(dir / "ladder.hds", t.img);
    CheckResult r = CheckFile(dir / "ladder.hds", kFileSystemHuman68k);
    EXPECT_EQ(r.folders, 41u);
    EXPECT_EQ(r.Count(CheckKind::CrossLink), 41u) << r.Report();
    EXPECT_EQ(r.Count(CheckKind::InTwoFolders), 0u) << "a loop is no interrupted move";
}

TEST(CheckerWalkTest, GarbageRootGivesFindingsNotACrash) {
    ScriptedUI ui;
    ScopedUserInterface scope(&ui);
    TreeImage t(200);
    std::vector<uint8_t> noise = RandomBytes(512 * 32, 5);
    std::memcpy(t.Slot(0, 0), noise.data(), noise.size());
    TempDir dir;
    WriteHostFile(dir / "noise.hds", t.img);
    CheckResult r = CheckFile(dir / "noise.hds", kFileSystemHuman68k);
    EXPECT_TRUE(r.complete);
    EXPECT_FALSE(r.Clean());
    EXPECT_LE(r.findings.size(), 5000u);
}

// Whatever the import writes, the checker takes as sound: names with the
// punctuation the import keeps, the ones it replaces, Shift-JIS, lower case
// on Human68k.
TEST(CheckerAndImportTest, ImportedNamesCheckClean) {
    ScriptedUI ui;
    ScopedUserInterface scope(&ui);
    TempDir dir;
    std::string host = dir / "host";
    RunShell("mkdir -p " + Quote(host + "/Sub Folder [2]"));
    const char* names[] = {"c++ [1]=x.txt", "semi;colon,comma.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", "lower.txt",
                           "a.b.c.d", "Sub Folder [2]/inner file+.bin", "UPPER.TXT", "tab\tname"};
    for (const char* n : names) WriteHostFile(host + "/" + n, RandomBytes(1500, 7));

    std::string fat = dir / "fat.img";
    MakeFatImage(fat, 1440, 12);
    Human68kLayout l;
    std::string human = dir / "h.hds";
    WriteHostFile(human, BuildHuman68kImage(l));
    for (const std::string& image : {fat, human}) {
        SCOPED_TRACE(image);
        Mounted m = MountImageFile(image);
        ASSERT_TRUE(m);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        std::vector<std::string> paths;
        for (const char* n : names)
            if (std::strchr(n, '/') == nullptr) paths.push_back(host + "/" + n);
        paths.push_back(host + "/Sub Folder [2]");
        ImportFileList(root, paths, false);
        CheckResult r = CheckVolume(*m.image);
        EXPECT_TRUE(r.Clean()) << r.Report();
        EXPECT_EQ(r.files, 8u);
        EXPECT_EQ(r.folders, 2u);
    }
    std::string report;
    EXPECT_TRUE(FsckFindsNothing(fat, report)) << report;
}

}  // namespace
