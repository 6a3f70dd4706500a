#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "cli/cli_args.h"
#include "support/disks.h"
#include "support/images.h"

namespace {

std::string Cli(const std::string& args) { return std::string("timeout 60 ") + VOLDEX_CLI + " " + args; }

struct Result {
    int rc;
    std::string out;
};

// stdout only, stderr separately in `err`.
Result RunCli(const std::string& args, std::string* err = nullptr, const std::string& home = "") {
    TempDir errDir;
    std::string errFile = errDir / "err";
    std::string env = home.empty() ? "" : "VOLDEX_HOME=" + Quote(home) + " ";
    std::string out;
    int rc = RunShell("( " + env + Cli(args) + " 2>" + Quote(errFile) + " )", &out);
    if (err) {
        auto e = ReadHostFile(errFile);
        *err = std::string(e.begin(), e.end());
    }
    return {rc, out};
}

time_t MTime(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// A reference image filled by mtools: nested folders, an empty file, a file
// of exactly one cluster, one of many clusters and a fragmented one.
class CliImageTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        bits = GetParam();
        image = dir / "ref.img";
        MakeFatImage(image, bits == 32 ? 70000 : bits == 16 ? 20480 : 1440, bits, "-n REFVOL");
        clusterBytes = ClusterSizeOf(image);
        src = dir / "src";
        RunShell("mkdir -p " + Quote(src + "/NESTED/DEEPER"));
        files = {{"EMPTY.TXT", {}},
                 {"ONE.BIN", RandomBytes(clusterBytes, 1)},
                 {"MANY.BIN", RandomBytes(clusterBytes * 7 + 123, 2)},
                 {"NESTED/INNER.TXT", RandomBytes(999, 3)},
                 {"NESTED/DEEPER/LEAF.DAT", RandomBytes(clusterBytes * 2, 4)}};
        for (auto& [name, data] : files) {
            WriteHostFile(src + "/" + name, data);
            RunShell("touch -d '1999-12-31 23:58:40' " + Quote(src + "/" + name));
        }
        ASSERT_EQ(RunShell("mcopy -s -m -i " + Quote(image) + " " + Quote(src + "/EMPTY.TXT") + " " + Quote(src + "/ONE.BIN") +
                      " " + Quote(src + "/MANY.BIN") + " " + Quote(src + "/NESTED") + " ::"),
                  0);
        // Fragmentation: a gap left by a deleted file is filled first.
        WriteHostFile(dir / "gap.bin", RandomBytes(clusterBytes * 2, 5));
        WriteHostFile(dir / "after.bin", RandomBytes(clusterBytes, 6));
        frag = RandomBytes(clusterBytes * 5 + 7, 7);
        WriteHostFile(src + "/FRAG.BIN", frag);
        ASSERT_EQ(RunShell("mcopy -i " + Quote(image) + " " + Quote(dir / "gap.bin") + " " + Quote(dir / "after.bin") +
                      " :: && mdel -i " + Quote(image) + " ::GAP.BIN && mcopy -i " + Quote(image) + " " +
                      Quote(src + "/FRAG.BIN") + " ::"),
                  0);
        files.emplace_back("FRAG.BIN", frag);
    }
    static uint32_t ClusterSizeOf(const std::string& img) {
        auto b = ReadHostFile(img);
        return uint32_t(b[11] | b[12] << 8) * b[13];
    }
    TempDir dir;
    std::string image, src;
    int bits = 16;
    uint32_t clusterBytes = 0;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    std::vector<uint8_t> frag;
};

TEST_P(CliImageTest, GetReproducesEveryFileAndItsTime) {
    std::string out = dir / "out";
    mkdir(out.c_str(), 0755);
    std::string err;
    Result r = RunCli("get " + Quote(image) + " EMPTY.TXT one.bin MANY.BIN nested FRAG.BIN " + Quote(out), &err);
    ASSERT_EQ(r.rc, 0) << err;
    EXPECT_EQ(err, "");
    for (auto& [name, data] : files) {
        EXPECT_EQ(ReadHostFile(out + "/" + name), data) << name;
        if (name != "FRAG.BIN") {
            EXPECT_EQ(MTime(out + "/" + name), MTime(src + "/" + name)) << name;
        }
    }
    if (bits != 32) {
        // (mtools fills the gap only on FAT12/16; on FAT32 it goes on after the last cluster.)
        std::string fat;
        RunShell("mshowfat -i " + Quote(image) + " ::FRAG.BIN", &fat);
        EXPECT_NE(fat.find("> <"), std::string::npos) << "FRAG.BIN should be in more than one piece: " << fat;
    }
}

TEST_P(CliImageTest, LsMatchesWhatMtoolsShows) {
    std::string err;
    Result r = RunCli("--lang en ls " + Quote(image), &err);
    ASSERT_EQ(r.rc, 0) << err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "Filename\tSize\tAttributes\tDate/Time\tStart");
    std::vector<std::string> names;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::stringstream ls(line);
        std::string field;
        while (std::getline(ls, field, '\t')) f.push_back(field);
        ASSERT_EQ(f.size(), 5u) << line;
        names.push_back(f[0]);
        if (f[0] == "REFVOL") {
            EXPECT_EQ(f[2], "<VOL>");
            continue;
        }
        if (f[0] == "NESTED") {
            EXPECT_EQ(f[2], "<DIR>");
            continue;
        }
        EXPECT_EQ(f[2], "A") << f[0];
        for (auto& [name, data] : files) {
            if (name == f[0]) {
                EXPECT_EQ(f[1], std::to_string(data.size()));
            }
        }
        if (f[0] != "FRAG.BIN" && f[0] != "after.bin") {
            EXPECT_EQ(f[3], "1999/12/31 23:58:40") << f[0];
        }
        // The first cluster as mtools sees it.
        std::string fat;
        RunShell("mshowfat -i " + Quote(image) + " ::" + f[0], &fat);
        if (f[1] == "0") {
            EXPECT_EQ(f[4], "0");
        } else {
            bool starts = fat.find("<" + f[4] + "-") != std::string::npos || fat.find("<" + f[4] + ">") != std::string::npos;
            EXPECT_TRUE(starts) << fat << " vs " << f[4];
        }
    }
    // FRAG.BIN takes the slot that GAP.BIN left; after.bin keeps the lower
    // case that mcopy marked in its entry.
    std::vector<std::string> expected = {"REFVOL", "EMPTY.TXT", "ONE.BIN", "MANY.BIN", "NESTED", "FRAG.BIN", "after.bin"};
    EXPECT_EQ(names, expected);

    r = RunCli("ls " + Quote(image) + " " + Quote("/nested\\deeper"));
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 9), "LEAF.DAT\t");
    r = RunCli("ls " + Quote(image) + " nothing/here", &err);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("Δεν βρέθηκε το αρχείο ή ο φάκελος"), std::string::npos);
}

TEST_P(CliImageTest, InfoPrintsTheLayout) {
    Result r = RunCli("--lang en info " + Quote(image));
    ASSERT_EQ(r.rc, 0);
    std::string minfo;
    RunShell("minfo -i " + Quote(image), &minfo);
    for (const char* key : {"Volume start: 0\n", "File system: FAT\n", "Number of FATs: 2\n"})
        EXPECT_NE(r.out.find(key), std::string::npos) << key;
    EXPECT_NE(r.out.find("FAT type: FAT" + std::to_string(bits) + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("Cluster size: " + std::to_string(clusterBytes) + "\n"), std::string::npos);
    for (const char* key : {"FAT start:", "FAT size:", "Root folder start:", "Data area start:", "Clusters:", "Free clusters:"})
        EXPECT_NE(r.out.find(key), std::string::npos) << key;
}

INSTANTIATE_TEST_SUITE_P(FatKinds, CliImageTest, ::testing::Values(12, 16, 32));

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12);
        data = RandomBytes(3000, 9);
        WriteHostFile(dir / "f.bin", data);
        ASSERT_EQ(RunShell("mmd -i " + Quote(image) + " ::D && mcopy -i " + Quote(image) + " " + Quote(dir / "f.bin") +
                      " ::D/"),
                  0);
        out = dir / "out";
        mkdir(out.c_str(), 0755);
    }
    void Patch(std::size_t at, std::initializer_list<uint8_t> bytes) {
        auto b = ReadHostFile(image);
        std::size_t k = at;
        for (uint8_t x : bytes) b[k++] = x;
        WriteHostFile(image, b);
    }
    TempDir dir;
    std::string image, out;
    std::vector<uint8_t> data;
};

TEST_F(CliTest, ConflictNeedsYesOrNo) {
    WriteHostFile(out + "/f.bin", {1});
    std::string err;
    Result r = RunCli("get " + Quote(image) + " D/F.BIN " + Quote(out), &err);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("--yes"), std::string::npos);
    // Nobody can answer: that file is skipped, said so, and the export goes on.
    EXPECT_NE(err.find("υπάρχει ήδη και παραλείφθηκε"), std::string::npos) << err;
    EXPECT_EQ(err.find("Η εξαγωγή αρχείων διακόπηκε"), std::string::npos) << err;
    EXPECT_EQ(ReadHostFile(out + "/f.bin"), std::vector<uint8_t>{1});
    EXPECT_EQ(RunCli("--no get " + Quote(image) + " D/F.BIN " + Quote(out)).rc, 0);
    EXPECT_EQ(ReadHostFile(out + "/f.bin"), std::vector<uint8_t>{1});
    EXPECT_EQ(RunCli("get --yes " + Quote(image) + " D/F.BIN " + Quote(out)).rc, 0);
    EXPECT_EQ(ReadHostFile(out + "/f.bin"), data);
}

TEST_F(CliTest, BadUsageExitsWith2) {
    const std::string img = Quote(image), general = "COMMAND --help | --help | --version";
    RunShell("mmd -i " + img + " ::E && mcopy -i " + img + " " + Quote(dir / "f.bin") + " ::D/G.BIN");
    // The usage that follows an error is the command's own line, or a
    // command name near the one mistyped; the general usage only with no command.
    struct Case {
        std::string args, said, notSaid;
    };
    const Case cases[] = {
        {"", general, ""},
        {"frobnicate " + img, "--help lists the commands", general},
        {"lss " + img, "Perhaps you meant ls", general},
        {"ls", "usage: voldex-cli ls IMAGE", general},
        {"ls --jsn " + img, "usage: voldex-cli ls IMAGE", general},
        {"info " + img + " extra", "usage: voldex-cli info IMAGE", general},
        {"get " + img + " only-one", "usage: voldex-cli get IMAGE", general},
        {"attrib " + img + " +x ::D", "Unknown attribute flag: +x", "No such"},
        {"mkfdd " + img + " " + Quote(dir / "o.img") + " --size 1000", "usage: voldex-cli mkfdd", general},
        {"get " + img + " '::/D/*.BIN' " + Quote(dir / "one.bin"), "is not a folder", "System error"},
        {"get " + img + " ::/D/F.BIN ::/D/G.BIN " + Quote(dir / "one.bin"), "is not a folder", ""},
        {"--offset -5 info " + img, "", ""},
        {"--offset x info " + img, "", ""},
        {"--yes --no info " + img, "", ""},
        {"--bogus info " + img, "", ""},
    };
    for (const Case& c : cases) {
        std::string err;
        EXPECT_EQ(RunCli("--lang en " + c.args, &err).rc, 2) << c.args;
        EXPECT_NE(err.find(c.said), std::string::npos) << c.args << ": " << err;
        if (!c.notSaid.empty()) {
            EXPECT_EQ(err.find(c.notSaid), std::string::npos) << c.args << ": " << err;
        }
    }
    EXPECT_NE(RunShell("test -e " + Quote(dir / "o.img") + " || test -e " + Quote(dir / "one.bin")), 0);
    EXPECT_EQ(RunCli("--help").rc, 0);
}

TEST_F(CliTest, MissingImageAndMissingSourceFailCleanly) {
    std::string err;
    // One line naming the file and the cause, and nothing else.
    const std::string missing = dir / "nope.img", empty = dir / "empty.img", folder = dir / "folder.img",
                      text = dir / "notes.txt";
    WriteHostFile(empty, {});
    WriteHostFile(text, std::vector<uint8_t>(100, 'x'));
    RunShell("mkdir -p " + Quote(folder));
    const std::pair<std::string, std::string> refusals[] = {
        {"ls " + Quote(missing), missing + ": δεν υπάρχει τέτοιο αρχείο\n"},
        {"ls " + Quote(empty), "Το " + empty + " είναι κενό\n"},
        {"ls " + Quote(folder), "Το " + folder + " είναι φάκελος, όχι εικόνα δίσκου\n"},
        {"ls " + Quote(text), text + ": δεν είναι εικόνα δίσκου που αναγνωρίζει το Voldex (δεν βρέθηκε κεφαλίδα, "
                                     "πίνακας διαμερισμάτων ή εγγραφή εκκίνησης)\n"},
        {"--offset 1474560 ls " + Quote(image),
         "Η μετατόπιση 1474560 είναι πέρα από το τέλος του " + image + " (1,474,560 bytes)\n"},
    };
    for (const auto& [command, message] : refusals) {
        EXPECT_EQ(RunCli(command, &err).rc, 1) << command;
        EXPECT_EQ(err, message) << command;
    }
    EXPECT_EQ(RunCli("get " + Quote(image) + " D/NOPE.BIN " + Quote(out), &err).rc, 1);
    EXPECT_NE(err.find("Δεν βρέθηκε το αρχείο ή ο φάκελος"), std::string::npos);
    EXPECT_EQ(RunCli("get " + Quote(image) + " D " + Quote(dir / "no-such-dir/below"), &err).rc, 1)
        << "a new name needs an existing host folder to go into";
}

TEST_F(CliTest, ZeroSectorSizeGives302) {
    Patch(11, {0, 0});
    std::string err;
    EXPECT_EQ(RunCli("info " + Quote(image), &err).rc, 1);
    EXPECT_NE(err.find("[Εσφαλμένο μέγεθος sector]"), std::string::npos) << err;
}

TEST_F(CliTest, ClusterCountBeyondTheFatGives304) {
    // 60000 sectors in the 32-bit total, labelled FAT12: far more clusters
    // than the 9 KiB FAT can hold.
    Patch(19, {0, 0});
    Patch(32, {0x60, 0xEA, 0, 0});
    std::string err;
    EXPECT_EQ(RunCli("ls " + Quote(image), &err).rc, 1);
    EXPECT_NE(err.find("[Εσφαλμένη boot εγγραφή]"), std::string::npos) << err;
}

TEST_F(CliTest, LoopingChainIsAnInvalidChain) {
    TempDir home;
    // D's file F.BIN starts at cluster 3 (D has cluster 2); make 4 point back to 3.
    std::string fat;
    RunShell("mshowfat -i " + Quote(image) + " ::D/F.BIN", &fat);
    ASSERT_NE(fat.find("<3-8>"), std::string::npos) << fat;
    // FAT12 entry 4 lies in bytes 6 and 7 of each copy (low 12 bits).
    for (std::size_t fatStart : {512u, 512u + 9 * 512u}) {
        auto b = ReadHostFile(image);
        b[fatStart + 6] = 0x03;
        b[fatStart + 7] = uint8_t((b[fatStart + 7] & 0xF0) | 0x00);
        WriteHostFile(image, b);
    }
    std::string err;
    Result r = RunCli("get " + Quote(image) + " D " + Quote(out), &err, home.path());
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("Μη έγκυρη αλυσίδα"), std::string::npos) << err;
    EXPECT_NE(err.find("Σφάλμα κατά την ανάγνωση της αλυσίδας cluster του αρχείου"), std::string::npos) << err;
    auto log = ReadHostFile(home / "kestrel.log");
    std::string line(log.begin(), log.end());
    EXPECT_EQ(line.substr(std::min(line.size(), std::size_t(20))), image + ": Μη έγκυρη αλυσίδα\n") << "time image: message";
    // Under another name the folder is made in a private folder first; the
    // message names where the file was going.
    r = RunCli("get " + Quote(image) + " D " + Quote(out + "/copy"), &err, home.path());
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("αρχείου\n" + out + "/copy/f.bin"), std::string::npos) << err;
    EXPECT_EQ(err.find(".voldex"), std::string::npos) << err;
}

TEST_F(CliTest, DirectoryPointingAtItselfEndsCleanly) {
    // Turn D's "." entry into a plain subfolder named SELF that points at D.
    std::string before;
    Result r = RunCli("ls " + Quote(image) + " D");
    ASSERT_EQ(r.rc, 0);
    auto b = ReadHostFile(image);
    // D is cluster 2: data area of this 1.44M image starts at sector 33.
    std::size_t d = 33 * 512;
    ASSERT_EQ(b[d], '.');
    std::memcpy(b.data() + d + 64, "SELF       ", 11);
    b[d + 64 + 11] = 0x10;
    b[d + 64 + 26] = 2;
    b[d + 64 + 27] = 0;
    b[d + 64 + 28] = b[d + 64 + 29] = b[d + 64 + 30] = b[d + 64 + 31] = 0;
    // F.BIN moves one slot on (its slot was 64 or after).
    WriteHostFile(image, b);
    std::string err;
    r = RunCli("ls " + Quote(image) + " D/SELF/SELF/SELF", &err);
    EXPECT_EQ(r.rc, 0) << err;
    r = RunCli("get " + Quote(image) + " D " + Quote(out), &err);
    EXPECT_NE(err.find("Υπάρχει ένας φάκελος με παραπομπή σε βρόχο"), std::string::npos) << err;
}

TEST_F(CliTest, OffsetAndHuman68k) {
    // The same volume behind 64 KiB of something else.
    std::string shifted = dir / "shifted.img";
    auto b = ReadHostFile(image);
    b.insert(b.begin(), 65536, 0xAA);
    WriteHostFile(shifted, b);
    Result r = RunCli("--offset 65536 get " + Quote(shifted) + " D/F.BIN " + Quote(out));
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(ReadHostFile(out + "/f.bin"), data);
    r = RunCli("--lang en info --offset=0x10000 " + Quote(shifted));
    EXPECT_NE(r.out.find("Volume start: 65536\n"), std::string::npos);

    Human68kLayout h;
    auto img = BuildHuman68kImage(h);
    uint32_t root = (1 + 2 * 16) * 1024;
    PutHuman68kEntry(img.data() + root, "readme_for_x68k", "doc", 0x20, 0, 0);
    std::string hpath = dir / "x68.hdf";
    WriteHostFile(hpath, img);
    r = RunCli("--lang en --human68k ls " + Quote(hpath));
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, "Filename\tSize\tAttributes\tDate/Time\tStart\nreadme_for_x68k.doc\t0\tA\t2002/01/01 12:00:00\t0\n");
    r = RunCli("--lang en info " + Quote(hpath));
    EXPECT_NE(r.out.find("File system: Human68k\n"), std::string::npos) << "found by its boot record without the option";
}

TEST(CliOpening, HdiAndNhdOpenWithNoOption) {
    TempDir dir;
    std::string hdi = dir / "disk.hdi", nhd = dir / "disk.nhd";
    auto hdiOffsets = MakePC98Disk(hdi, PC98Header::Anex86, PC98Geometry{}, {{1, 150, "DOS"}, {151, 300, "DATA"}});
    MakePC98Disk(nhd, PC98Header::T98Next, PC98Geometry{}, {{1, 150, "ONLY"}});
    std::string err;
    Result r = RunCli("ls " + Quote(hdi), &err);
    ASSERT_EQ(r.rc, 0) << err;
    EXPECT_NE(r.out.find("PART1.TXT\t12\t"), std::string::npos) << r.out;
    EXPECT_EQ(err, "");
    r = RunCli("--partition 2 ls " + Quote(hdi), &err);
    ASSERT_EQ(r.rc, 0) << err;
    EXPECT_NE(r.out.find("PART2.TXT"), std::string::npos) << r.out;
    r = RunCli("ls " + Quote(nhd), &err);
    ASSERT_EQ(r.rc, 0) << err;
    EXPECT_NE(r.out.find("PART1.TXT"), std::string::npos) << r.out;
    r = RunCli("parts " + Quote(hdi), &err);
    ASSERT_EQ(r.rc, 0) << err;
    EXPECT_EQ(r.out, "DOS\t1CYL\t150CYL\t10MB\t" + std::to_string(hdiOffsets[0]) + "\nDATA\t151CYL\t300CYL\t10MB\t" +
                         std::to_string(hdiOffsets[1]) + "\n");
    r = RunCli("--partition 3 ls " + Quote(hdi), &err);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("το διαμέρισμα 3 δεν βρέθηκε (ο πίνακας έχει 2 διαμερίσματα)"), std::string::npos) << err;
    r = RunCli("--lang en info " + Quote(hdi));
    EXPECT_NE(r.out.find("Volume start: " + std::to_string(hdiOffsets[0]) + "\n"), std::string::npos) << r.out;
}

TEST(CliOpening, ATDiskListsLogicalPartitionsInTableOrder) {
    TempDir dir;
    std::string disk = dir / "at.img";
    RunShell("truncate -s 64M " + Quote(disk));
    ASSERT_EQ(RunShell("printf 'label: dos\n2048,20M,6\n,,5\n,16M,6\n,16M,6\n' | sfdisk -q " + Quote(disk)), 0);
    std::string dump;
    RunShell("sfdisk -d " + Quote(disk), &dump);
    std::vector<uint64_t> starts;
    for (const char* part : {"img1 :", "img5 :", "img6 :"}) {
        std::string line = dump.substr(dump.find(part));
        starts.push_back(std::stoull(line.substr(line.find("start=") + 6)) * 512);
    }
    for (int k = 0; k < 3; ++k) PutVolumeAt(disk, starts[std::size_t(k)], 15 * 1024, k + 1);
    std::string err;
    Result r = RunCli("parts " + Quote(disk), &err);
    ASSERT_EQ(r.rc, 0) << err;
    std::istringstream lines(r.out);
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(lines, line)) rows.push_back(line);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    EXPECT_EQ(rows[0].rfind("Βασικό διαμέρισμα (FAT16, 32 MB και άνω)\t", 0), 0u);
    EXPECT_EQ(rows[1].rfind("Δευτερεύον διαμέρισμα", 0), 0u);
    EXPECT_EQ(rows[2].rfind("Δευτερεύον διαμέρισμα", 0), 0u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(rows[std::size_t(k)].substr(rows[std::size_t(k)].rfind('\t') + 1), std::to_string(starts[std::size_t(k)]));
    for (int k = 1; k <= 3; ++k) {
        r = RunCli("--partition " + std::to_string(k) + " ls " + Quote(disk), &err);
        ASSERT_EQ(r.rc, 0) << err;
        EXPECT_NE(r.out.find("PART" + std::to_string(k) + ".TXT"), std::string::npos) << r.out;
    }
    // Without --partition: the plain reading fails, then the first partition.
    r = RunCli("ls " + Quote(disk), &err);
    ASSERT_EQ(r.rc, 0) << err;
    EXPECT_NE(r.out.find("PART1.TXT"), std::string::npos);
}

TEST(CliOpening, ProfilesAndDiskFigures) {
    TempDir dir;
    std::string img = dir / "fd.img";
    MakeFatImage(img, 1440, 12);
    Result r = RunCli("--lang en info " + Quote(img));
    EXPECT_NE(r.out.find("Capacity: 1,457,664 bytes (2,847 clusters)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Used: 0 bytes (0 clusters)\n"), std::string::npos);
    EXPECT_NE(r.out.find("Free: 1,457,664 bytes (2,847 clusters)\n"), std::string::npos);
    EXPECT_NE(r.out.find("Root folder: 224 entries\n"), std::string::npos);
    std::string err;
    r = RunCli("--profile 'No such profile' info " + Quote(img), &err);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("Το προφίλ «No such profile» δεν υπάρχει"), std::string::npos) << err;
    // A profile given by name: the Anex86 one on a file without its header.
    r = RunCli("--profile 'anex86 (.hdi)' info " + Quote(img), &err);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("δεν έχει την μορφή δίσκου Anex86"), std::string::npos) << err;
}

// Every file of a host tree, relative path to bytes.
void CollectHostTree(const std::string& root, const std::string& rel, std::map<std::string, std::vector<uint8_t>>& out) {
    std::string listing;
    RunShell("cd " + Quote(root) + " && find . -type f | LC_ALL=C sort", &listing);
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) out[line] = ReadHostFile(root + "/" + line.substr(2));
    (void)rel;
}

TEST(CliChanges, RoundTripThroughPutAndGet) {
    for (int bits : {12, 16}) {
        TempDir dir;
        std::string image = dir / "v.img";
        MakeFatImage(image, bits == 12 ? 1440 : 20480, bits);
        uint32_t cs = bits == 12 ? 512 : 2048;
        std::string src = dir / "SRC";
        RunShell("mkdir -p " + Quote(src + "/NESTED/DEEPER/DEEPEST"));
        WriteHostFile(src + "/EMPTY.TXT", {});
        WriteHostFile(src + "/ONE.BIN", RandomBytes(cs, 1));
        WriteHostFile(src + "/MANY.BIN", RandomBytes(cs * 9 + 5, 2));
        WriteHostFile(src + "/日本語.TXT", RandomBytes(77, 3));
        WriteHostFile(src + "/NESTED/漢字かな.DAT", RandomBytes(3 * cs, 4));
        WriteHostFile(src + "/NESTED/DEEPER/DEEPEST/LEAF.TXT", RandomBytes(10, 5));
        RunShell("find " + Quote(src) + " -type f -exec touch -d '2011-11-11 11:11:11' {} +");
        std::string err;
        Result r = RunCli("put " + Quote(image) + " " + Quote(src + "/EMPTY.TXT") + " " + Quote(src + "/ONE.BIN") + " " +
                              Quote(src + "/MANY.BIN") + " " + Quote(src + "/日本語.TXT") + " " + Quote(src + "/NESTED"),
                          &err);
        ASSERT_EQ(r.rc, 0) << err;
        std::string report;
        EXPECT_TRUE(FsckClean(image, &report)) << report;
        std::string out = dir / "OUT";
        mkdir(out.c_str(), 0755);
        r = RunCli("get " + Quote(image) + " / " + Quote(out), &err);
        ASSERT_EQ(r.rc, 0) << err;
        std::map<std::string, std::vector<uint8_t>> a, b;
        CollectHostTree(src, "", a);
        CollectHostTree(out, "", b);
        EXPECT_EQ(a, b) << bits;
        struct stat st;
        ASSERT_EQ(stat((out + "/NESTED/漢字かな.DAT").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, MTime(src + "/NESTED/漢字かな.DAT") - 1) << "two-second resolution";
    }
}

TEST(CliChanges, FolderCommands) {
    TempDir dir;
    std::string image = dir / "v.img";
    MakeFatImage(image, 1440, 12);
    EXPECT_EQ(RunCli("mkdir " + Quote(image) + " TOP").rc, 0);
    EXPECT_EQ(RunCli("mkdir " + Quote(image) + " top/inner").rc, 0);
    Result r = RunCli("mkdir --default-name " + Quote(image) + " TOP");
    EXPECT_EQ(r.out, "NEWDIR.0\n");
    std::string err;
    EXPECT_EQ(RunCli("mkdir " + Quote(image) + " TOP", &err).rc, 1);
    EXPECT_NE(err.find("Υπάρχει ήδη φάκελος με το όνομα"), std::string::npos);
    WriteHostFile(dir / "f.txt", {'x'});
    ASSERT_EQ(RunCli("put " + Quote(image) + " " + Quote(dir / "f.txt") + " ::TOP/INNER").rc, 0);
    r = RunCli("--short-names ren " + Quote(image) + " TOP/INNER/F.TXT 'newname.txt'");
    EXPECT_EQ(r.out, "NEWNAME.TXT\n");
    EXPECT_EQ(RunCli("mv " + Quote(image) + " TOP/INNER TOP/INNER").rc, 1) << "never into itself";
    EXPECT_EQ(RunCli("mv " + Quote(image) + " TOP TOP/INNER", &err).rc, 1) << "never below itself";
    EXPECT_NE(err.find("Ο πάνω φάκελος δεν μπορεί να μετακινηθεί στον κάτω"), std::string::npos);
    EXPECT_EQ(RunCli("mv " + Quote(image) + " TOP/INNER/NEWNAME.TXT TOP/INNER /").rc, 0);
    EXPECT_EQ(RunCli("mv " + Quote(image) + " INNER NEWNAME.TXT", &err).rc, 1) << "a file is no target";
    EXPECT_NE(err.find("Ο προορισμός δεν είναι φάκελος"), std::string::npos);
    r = RunCli("ls " + Quote(image));
    EXPECT_NE(r.out.find("NEWNAME.TXT"), std::string::npos);
    EXPECT_NE(r.out.find("inner"), std::string::npos) << "made as top/inner";
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report;
    EXPECT_EQ(RunCli("rm " + Quote(image) + " TOP INNER").rc, 0);
    EXPECT_TRUE(FsckClean(image, &report)) << report;
    EXPECT_EQ(RunCli("release " + Quote(image) + " NEWNAME.TXT").rc, 0);
    EXPECT_FALSE(FsckClean(image));
    EXPECT_TRUE(FsckCleanButLost(image, &report)) << report;
    r = RunCli("ls " + Quote(image));
    EXPECT_EQ(r.out, "Όνομα\tΜέγεθος\tΙδιότητες\tΕνημέρωση\tΈναρξη\n");
    EXPECT_EQ(RunCli("rm " + Quote(image) + " NOTHING").rc, 1);
}

TEST(CliChanges, ReadOnlyVolumesRefuseEveryChange) {
    TempDir dir;
    std::string f32 = dir / "f32.img";
    MakeFatImage(f32, 70000, 32);
    RunShell("mmd -i " + Quote(f32) + " ::DIR");
    WriteHostFile(dir / "x", {'x'});
    auto before = ReadHostFile(f32);
    std::string err;
    for (const std::string& cmd : {"put " + Quote(f32) + " " + Quote(dir / "x"), "mkdir " + Quote(f32) + " NEW",
                                   "rm " + Quote(f32) + " DIR", "release " + Quote(f32) + " DIR",
                                   "ren " + Quote(f32) + " DIR OTHER", "mv " + Quote(f32) + " DIR /"}) {
        EXPECT_EQ(RunCli(cmd, &err).rc, 1) << cmd;
        EXPECT_NE(err.find("Ο δίσκος είναι μόνο για ανάγνωση"), std::string::npos) << cmd << err;
    }
    EXPECT_EQ(ReadHostFile(f32), before);
}

TEST(CliChanges, FullVolumeStopsWith113) {
    TempDir dir;
    std::string image = dir / "v.img";
    MakeFatImage(image, 1440, 12);
    WriteHostFile(dir / "a.bin", RandomBytes(1000 * 1024, 1));
    WriteHostFile(dir / "b.bin", RandomBytes(600 * 1024, 2));
    std::string err;
    Result r = RunCli("put " + Quote(image) + " " + Quote(dir / "a.bin") + " " + Quote(dir / "b.bin"), &err);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(err.find("Δεν υπάρχει αρκετός χώρος για το αρχείο\n" + dir / "b.bin"), std::string::npos) << err;
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report;
    r = RunCli("ls " + Quote(image));
    EXPECT_EQ(r.out.find("B.BIN"), std::string::npos);
    std::string out = dir / "out";
    mkdir(out.c_str(), 0755);
    ASSERT_EQ(RunCli("get " + Quote(image) + " A.BIN " + Quote(out)).rc, 0);
    EXPECT_EQ(ReadHostFile(out + "/a.bin"), RandomBytes(1000 * 1024, 1));
}

TEST(CliArgs, ParsesOptionsAnywhere) {
    std::string err;
    auto o = ParseCliArgs({"get", "--yes", "img", "A", "--offset", "512", "out"}, err);
    ASSERT_TRUE(o) << err;
    EXPECT_EQ(o->command, "get");
    EXPECT_TRUE(o->yes);
    EXPECT_EQ(*o->offset, 512);
    EXPECT_EQ(o->operands, (std::vector<std::string>{"img", "A", "out"}));
    o = ParseCliArgs({"ls", "img", "--", "--weird-name"}, err);
    ASSERT_TRUE(o) << err;
    EXPECT_EQ(o->operands.back(), "--weird-name");
    EXPECT_FALSE(ParseCliArgs({"ls", "img", "--offset"}, err));
    EXPECT_FALSE(ParseCliArgs({"ls", "img", "--offset", "99999999999999999999"}, err));
    EXPECT_TRUE(ParseCliArgs({"ls", "img", "--offset", "4402341478400"}, err)) << "offsets are 64-bit";
}

}  // namespace
