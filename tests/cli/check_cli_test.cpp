#include <gtest/gtest.h>

#include <sys/stat.h>

#include "device/byteorder.h"
#include "support/images.h"
#include "volume/didir.h"

namespace {

struct Result {
    int rc;
    std::string out, err;
};

// In English: the summary's words are part of what is checked.
Result Check(const std::string& args) {
    TempDir errDir;
    Result r;
    r.rc = RunShell("( timeout 60 " + std::string(VOLDEX_CLI) + " --lang en " + args + " 2>" + Quote(errDir / "err") + " )", &r.out);
    auto e = ReadHostFile(errDir / "err");
    r.err.assign(e.begin(), e.end());
    return r;
}

std::string LastLine(const std::string& s) {
    std::size_t end = s.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    std::size_t start = s.rfind('\n', end);
    return s.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

class CheckCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12);
        WriteHostFile(dir / "A.BIN", RandomBytes(3000, 1));
        WriteHostFile(dir / "B.BIN", RandomBytes(100, 2));
        ASSERT_EQ(RunShell("mmd -i " + Quote(image) + " ::D && mcopy -i " + Quote(image) + " " + Quote(dir / "A.BIN") +
                           " " + Quote(dir / "B.BIN") + " ::D/"),
                  0);
    }
    TempDir dir;
    std::string image;
};

TEST_F(CheckCliTest, CleanVolumeExitsZeroWithASummary) {
    Result r = Check("check " + Quote(image));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "2 folders, 2 files, 0 findings, 0 lost clusters\n");
}

TEST_F(CheckCliTest, FindingsExitOneOneLineEachAndNothingIsWritten) {
    // B.BIN's one cluster (cluster 9, after D at 2 and A at 3..8) is made to
    // run on into A's last cluster: the two chains share it.
    std::string fat;
    RunShell("mshowfat -i " + Quote(image) + " ::D/B.BIN", &fat);
    ASSERT_NE(fat.find("<9>"), std::string::npos) << fat;
    auto b = ReadHostFile(image);
    for (uint32_t copy = 0; copy < 2; ++copy) {
        uint8_t* t = b.data() + 512 + copy * 9 * 512;
        // entry 9 (odd): high 12 bits of the pair at bytes 12..14
        t[13] = uint8_t((t[13] & 0x0F) | 0x80);  // value 8
        t[14] = 0x00;
    }
    WriteHostFile(image, b);
    chmod(image.c_str(), 0644);
    struct stat before;
    stat(image.c_str(), &before);

    Result r = Check("check " + Quote(image));
    EXPECT_EQ(r.rc, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("cross-link: /D/B.BIN: cluster 8 also belongs to /D/A.BIN\n"), std::string::npos) << r.out;
    EXPECT_EQ(LastLine(r.out), "2 folders, 2 files, 1 finding, 0 lost clusters");
    EXPECT_EQ(ReadHostFile(image), b);
    struct stat after;
    stat(image.c_str(), &after);
    EXPECT_EQ(after.st_mtime, before.st_mtime);

    // In Japanese the findings and the plan are Japanese, the kind tags stay.
    r = Check("--lang ja check " + Quote(image));
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_NE(r.out.find("cross-link: /D/B.BIN：クラスタ 8 は /D/A.BIN にも属しています\n"), std::string::npos) << r.out;
    EXPECT_EQ(LastLine(r.out), "ディレクトリ 2 個、ファイル 2 個、問題 1 件、失われたクラスタ 0 個");
    r = Check("--lang ja repair --dry-run " + Quote(image));
    EXPECT_NE(r.out.find("cross-link: /D/B.BIN：クラスタ 8 は /D/A.BIN にも属しています => 2 番目のファイルに"),
              std::string::npos)
        << r.out;

    // The same as JSON, for scripts: English in every language.
    std::string fields;
    for (const char* lang : {"en", "ja"}) {
        r = Check(std::string("--lang ") + lang + " check --json " + Quote(image));
        EXPECT_EQ(r.rc, 1);
        RunShell("printf '%s' " + Quote(r.out) +
                     " | jq -r '[.complete, .folders, .files, .counts[\"cross-link\"], .findings[0].kind, .findings[0].text] | @tsv'",
                 &fields);
        EXPECT_EQ(fields, "true\t2\t2\t1\tcross-link\t/D/B.BIN: cluster 8 also belongs to /D/A.BIN\n") << r.out;
    }

    // A read-only image is checked all the same.
    chmod(image.c_str(), 0444);
    EXPECT_EQ(Check("check " + Quote(image)).rc, 1);
    chmod(image.c_str(), 0644);

    // repair: the plan alone, or no answer, writes nothing.
    r = Check("--lang en repair --dry-run " + Quote(image));
    EXPECT_EQ(r.rc, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("cross-link: /D/B.BIN: cluster 8 also belongs to /D/A.BIN => the second file gets its own copy"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Check("--lang en repair " + Quote(image) + " </dev/null").rc, 1);
    EXPECT_EQ(ReadHostFile(image), b);
    // With a lost chain besides, kept as FILE0000.CHK.
    for (uint32_t copy = 0; copy < 2; ++copy) {
        uint8_t* t = b.data() + 512 + copy * 9 * 512;
        t[150] = 0xFF;  // entry 100 (even): low byte, then the low half of the next byte
        t[151] = uint8_t(t[151] | 0x0F);
    }
    WriteHostFile(image, b);
    r = Check("--lang ja repair --yes --save --json " + Quote(image));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    RunShell("printf '%s' " + Quote(r.out) + " | jq -r '[.before.counts[\"cross-link\"], .clean, (.after.findings | length)] | @tsv'",
             &fields);
    EXPECT_EQ(fields, "1\ttrue\t0\n") << r.out;
    RunShell("printf '%s' " + Quote(r.out) + " | jq -r '.plan[].action, .done[]'", &fields);
    EXPECT_NE(fields.find("the second file gets its own copy of the shared clusters\n"), std::string::npos) << fields;
    EXPECT_NE(fields.find("saved as FILE0000.CHK (1 cluster)\n"), std::string::npos) << fields;
    EXPECT_EQ(Check("check " + Quote(image)).rc, 0);
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report;
    std::string copied;
    ASSERT_EQ(RunShell("mcopy -n -i " + Quote(image) + " ::D/A.BIN ::D/B.BIN ::FILE0000.CHK " + Quote(dir.path() + "/"), &copied), 0)
        << copied;
    EXPECT_EQ(ReadHostFile(dir / "A.BIN"), RandomBytes(3000, 1));
    EXPECT_EQ(ReadHostFile(dir / "B.BIN"), RandomBytes(100, 2));
    EXPECT_EQ(ReadHostFile(dir / "FILE0000.CHK").size(), 512u);
    r = Check("--lang en repair " + Quote(image));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "The volume is clean\n");
}

TEST_F(CheckCliTest, Fat32IsNeverRepaired) {
    std::string big = dir / "f32.img";
    MakeFatImage(big, 34000, 32, "-s 1");
    const auto before = ReadHostFile(big);
    Result r = Check("--lang en repair --yes " + Quote(big));
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("A FAT32 volume cannot be repaired"), std::string::npos) << r.err;
    EXPECT_EQ(ReadHostFile(big), before);
}

// A FAT32 volume small enough to give its sector count in the 16-bit
// field, with clusters marked bad, opens (read-only) as fsck.fat opens it.
TEST_F(CheckCliTest, SmallFat32WithBadClustersIsChecked) {
    std::string small = dir / "s32.img";
    WriteHostFile(dir / "bad.txt", {'5', '0', '0', '0', '\n'});
    ASSERT_EQ(RunShell("mkfs.fat -C -F 32 -l " + Quote(dir / "bad.txt") + " " + Quote(small) + " 20000 >/dev/null 2>&1"), 0);
    Result r = Check("check " + Quote(small));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "1 folder, 0 files, 0 findings, 0 lost clusters\n");
}

// Without a terminal the question cannot be asked: the options that
// answer it are named, and nothing is written.
TEST_F(CheckCliTest, RepairWithoutATerminalNamesTheAnswers) {
    auto b = ReadHostFile(image);
    b[512 + 9] = 0x00;  // FAT12 bytes of clusters 6 and 7: A.BIN runs into a free entry
    WriteHostFile(image, b);
    Result r = Check("repair " + Quote(image) + " </dev/null");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--no"), std::string::npos) << r.err;
    EXPECT_EQ(ReadHostFile(image), b);
    EXPECT_EQ(Check("repair --no " + Quote(image) + " </dev/null").err.find("--yes"), std::string::npos);
}

TEST_F(CheckCliTest, VolumeThatCannotBeCheckedExitsTwo) {
    Result r = Check("check " + Quote(dir / "missing.img"));
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("The check of the volume could not be completed"), std::string::npos) << r.err;
    WriteHostFile(dir / "zero.img", std::vector<uint8_t>(4096, 0));
    EXPECT_EQ(Check("--offset 0 check " + Quote(dir / "zero.img")).rc, 2);
    EXPECT_EQ(Check("check").rc, 2);
    EXPECT_EQ(Check("check " + Quote(image) + " extra").rc, 2);
}

TEST_F(CheckCliTest, Human68kVolumeWithTheOpeningOptions) {
    Human68kLayout l;
    std::vector<uint8_t> img = BuildHuman68kImage(l);
    uint32_t root = (l.reserved + l.fats * l.sectorsPerFAT) * l.bytesPerSector;
    PutHuman68kEntry(img.data() + root, "lower_case_name18", "txt", kAttrArchive, 2, 1500);
    SetHuman68kFAT16(img, l, 2, 3);
    SetHuman68kFAT16(img, l, 3, 0xFFFF);
    // a disk of 4096 bytes in front of the volume
    img.insert(img.begin(), 4096, 0);
    std::string path = dir / "x.hds";
    WriteHostFile(path, img);
    Result r = Check("--offset 4096 --human68k check " + Quote(path));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "1 folder, 1 file, 0 findings, 0 lost clusters\n");

    // The size now claims three clusters.
    img[4096 + root + 28] = 0x00;
    img[4096 + root + 29] = 0x0A;
    WriteHostFile(path, img);
    r = Check("--offset 4096 --human68k check " + Quote(path));
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("size: /lower_case_name18.txt: size 2560 bytes needs 3 clusters, the chain has 2"),
              std::string::npos)
        << r.out;
    // Repaired with the same options: the size becomes what the chain holds.
    r = Check("--offset 4096 --human68k repair --yes " + Quote(path));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(Check("--offset 4096 --human68k check " + Quote(path)).rc, 0);
    EXPECT_EQ(LE32(ReadHostFile(path).data() + 4096 + root + 28), 2048u);
}

}  // namespace
