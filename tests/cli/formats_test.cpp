// Every image format the program detects, through voldex-cli with no
// option: it lists and exports what the image holds, and after put, mkdir
// and rm the volume read back out of the image by the test's own reader is
// sound under fsck.fat.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>
#include <sys/stat.h>

#include "support/containers.h"
#include "support/disks.h"
#include "support/human68k.h"
#include "support/images.h"

namespace {

struct CliRun {
    int rc;
    std::string out, err;
};

// `home`: a VOLDEX_HOME for the run (an empty folder: no profile file at all).
CliRun Cli(const std::string& args, const std::string& home = "") {
    TempDir t;
    std::string out;
    std::string env = home.empty() ? "" : "VOLDEX_HOME=" + Quote(home) + " ";
    int rc = RunShell("( " + env + "timeout 60 " + std::string(VOLDEX_CLI) + " --lang en " + args + " 2>" +
                          Quote(t / "err") + " )",
                      &out);
    auto e = ReadHostFile(t / "err");
    return {rc, out, std::string(e.begin(), e.end())};
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// One image of one format: the file, what is in it, and how the test reads
// its volume back.
struct FormatImage {
    std::string path;
    std::string container;        // what `info` names
    std::string file;             // a file the image holds
    std::vector<uint8_t> content;  // its bytes
    bool human68k = false;
    std::string option;           // extra voldex-cli option (--partition N)
    std::function<std::vector<uint8_t>()> volume;
};

using Maker = std::function<FormatImage(const TempDir&)>;

const std::vector<uint8_t>& Payload() {
    static const std::vector<uint8_t> p = RandomBytes(5000, 42);
    return p;
}

FormatImage VolumeAt(const std::string& path, uint64_t offset, uint64_t length) {
    FormatImage f;
    f.path = path;
    f.volume = [path, offset, length] { return ReadRange(path, offset, length); };
    return f;
}

std::map<std::string, Maker> Makers() {
    std::map<std::string, Maker> m;
    m["D88"] = [](const TempDir& d) {
        FormatImage f;
        f.path = d / "shuffled.d88";
        D88Disk disk{"GAME", MakeFloppyVolume({{"DATA.BIN", Payload()}}), {}, 3};
        SectorMap map = WriteD88(f.path, {disk});
        f.container = "D88";
        f.file = "DATA.BIN";
        f.content = Payload();
        f.volume = [p = f.path, map] { return ExtractVolume(p, map); };
        return f;
    };
    m["D88Second"] = [](const TempDir& d) {
        FormatImage f;
        f.path = d / "two.d77";
        D88Disk a{"DISK A", MakeFloppyVolume({{"A.TXT", Bytes("first disk\n")}}), {}, 5};
        D88Disk b{"DISK B", MakeFloppyVolume({{"B.BIN", Payload()}}), {}, 9};
        SectorMap map = WriteD88(f.path, {a, b});
        f.container = "D88";
        f.file = "B.BIN";
        f.content = Payload();
        f.option = "--partition 2 ";
        f.volume = [p = f.path, map] { return ExtractVolume(p, map, 1); };
        return f;
    };
    m["NFD"] = [](const TempDir& d) {
        FormatImage f;
        f.path = d / "disk.nfd";
        SectorMap map = WriteNFD(f.path, MakeFloppyVolume({{"NFD.BIN", Payload()}}));
        f.container = "NFD";
        f.file = "NFD.BIN";
        f.content = Payload();
        f.volume = [p = f.path, map] { return ExtractVolume(p, map); };
        return f;
    };
    m["DIM"] = [](const TempDir& d) {
        FormatImage f;
        f.path = d / "disk.dim";
        SectorMap map = WriteDIM(f.path, MakeFloppyVolume({{"DIM.BIN", Payload()}}), {150, 151, 152, 153});
        f.container = "DIM";
        f.file = "DIM.BIN";
        f.content = Payload();
        f.volume = [p = f.path, map] { return ExtractVolume(p, map); };
        return f;
    };
    // Containers kept track by track, each written by the test from its layout.
    const struct {
        const char* name;
        const char* file;
        const char* kind;
        SectorMap (*write)(const std::string&, const std::vector<uint8_t>&, const TrackImageOptions&);
    } tracked[] = {{"NFD1", "disk.nfd", "NFD r1", WriteNFD1}, {"IMD", "disk.imd", "IMD", WriteIMD},
                   {"FDD", "disk.fdd", "FDD", WriteFDD},     {"DCP", "disk.dcu", "DCP", WriteDCP}};
    for (const auto& t : tracked)
        m[t.name] = [t](const TempDir& d) {
            FormatImage f;
            f.path = d / t.file;
            TrackImageOptions o;
            o.retries = true;  // NFD r1: a sector in three copies and a special read
            SectorMap map = t.write(f.path, MakeFloppyVolume({{"TRACK.BIN", Payload()}}), o);
            f.container = t.kind;
            f.file = "TRACK.BIN";
            f.content = Payload();
            f.volume = [p = f.path, map] { return ExtractVolume(p, map); };
            return f;
        };
    m["HFE"] = [](const TempDir& d) {
        FormatImage f;
        f.path = d / "disk.hfe";
        WriteHFE(f.path, MakeFloppyVolume({{"HFE.BIN", Payload()}}));
        f.container = "HFE";
        f.file = "HFE.BIN";
        f.content = Payload();
        f.volume = [p = f.path] { return UnwrapContainer(p, "HFE").bytes; };
        return f;
    };
    for (bool slh : {false, true})
        m[slh ? "SLH" : "Virtual98HDD"] = [slh](const TempDir& d) {
            std::string path = d / (slh ? "disk.slh" : "disk.hdd");
            PC98Disk g;
            auto offsets = WriteVirtual98Disk(path, g, {{1, 99}}, slh);
            FormatImage f = VolumeAt(path, offsets[0], 99 * 512 * 17 * 8);
            f.container = slh ? "SLH" : "Virtual98 HDD";
            f.file = "PART1.TXT";
            f.content = Bytes("partition 1\n");
            return f;
        };
    m["FDI"] = [](const TempDir& d) {
        // Named as emulators name them, and opened by its header alone.
        FormatImage f = VolumeAt(d / "floppy.fdi", 4096, 1232 * 1024);
        MakeAnex86Floppy(f.path);
        f.container = "FDI";
        f.file = "FLOPPY.TXT";
        f.content = Bytes("fd\n");
        return f;
    };
    m["FDIByContent"] = [](const TempDir& d) {
        FormatImage f = VolumeAt(d / "floppy.bin", 4096, 1232 * 1024);
        MakeAnex86Floppy(f.path);
        f.container = "FDI";
        f.file = "FLOPPY.TXT";
        f.content = Bytes("fd\n");
        return f;
    };
    m["X68000SCSI"] = [](const TempDir& d) {
        auto vol = MakeHuman68kVolume("scsi disk\n");
        std::string path = d / "x68.hds";
        uint64_t at = WriteX68000Disk(path, true, vol);
        FormatImage f = VolumeAt(path, at, vol.size());
        f.container = "X68000 SCSI";
        f.file = "HUMAN.TXT";
        f.content = Bytes("scsi disk\n");
        f.human68k = true;
        return f;
    };
    m["X68000SASI"] = [](const TempDir& d) {
        auto vol = MakeHuman68kVolume("sasi disk\n");
        std::string path = d / "x68.hdf";
        uint64_t at = WriteX68000Disk(path, false, vol);
        FormatImage f = VolumeAt(path, at, vol.size());
        f.container = "X68000 SASI";
        f.file = "HUMAN.TXT";
        f.content = Bytes("sasi disk\n");
        f.human68k = true;
        return f;
    };
    m["X68000Floppy"] = [](const TempDir& d) {
        FormatImage f;
        f.path = d / "human3.xdf";
        WriteHostFile(f.path, BuildHuman68kFloppy({{"LONGFILENAME12.TXT", Payload()}}));
        f.container = "Plain";
        f.file = "LONGFILENAME12.TXT";
        f.content = Payload();
        f.human68k = true;
        f.volume = [p = f.path] { return ReadHostFile(p); };
        return f;
    };
    m["PC98"] = [](const TempDir& d) {
        std::string path = d / "pc98.img";
        PC98Disk g;  // 512-byte sectors, 17 per track, 8 heads
        auto offsets = WritePC98Disk(path, g, {{1, 40}, {41, 99}});
        FormatImage f = VolumeAt(path, offsets[1], 59 * 512 * 17 * 8);
        f.container = "PC-9801";
        f.file = "PART2.TXT";
        f.content = Bytes("partition 2\n");
        f.option = "--partition 2 ";
        return f;
    };
    m["THD"] = [](const TempDir& d) {
        std::string path = d / "disk.thd";
        PC98Disk g{256, 33, 8, 80, true};
        auto offsets = WritePC98Disk(path, g, {{1, 79}});
        FormatImage f = VolumeAt(path, offsets[0], 79 * 256 * 33 * 8);
        f.container = "THD";
        f.file = "PART1.TXT";
        f.content = Bytes("partition 1\n");
        return f;
    };
    m["AT"] = [](const TempDir& d) {
        std::string path = d / "at.img";
        uint64_t at = WriteATDisk(path, 8);
        FormatImage f = VolumeAt(path, at, (8u << 20) - at);
        f.container = "AT";
        f.file = "PART1.TXT";
        f.content = Bytes("at\n");
        return f;
    };
    return m;
}

class FormatTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { img = Makers().at(GetParam())(dir); }
    std::string Args(const std::string& command, const std::string& rest = "") {
        return command + " " + img.option + Quote(img.path) + (rest.empty() ? "" : " " + rest);
    }
    // fsck.fat -n on the volume as the test reads it out of the image.
    void ExpectSoundVolume() {
        auto vol = img.volume();
        if (img.human68k) vol = Human68kAsFat(vol);
        std::string copy = dir / "volume.img";
        WriteHostFile(copy, vol);
        std::string report;
        EXPECT_TRUE(FsckClean(copy, &report)) << report;
    }
    TempDir dir;
    FormatImage img;
};

TEST_P(FormatTest, OpensListsExportsAndStaysSoundAfterChanges) {
    // Detection by content needs no profile file.
    std::string empty = dir / "empty";
    mkdir(empty.c_str(), 0755);
    CliRun r = Cli(Args("ls"), empty);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find(img.file + "\t" + std::to_string(img.content.size())), std::string::npos) << r.out;
    if (img.option.empty()) {
        // One volume: --partition 1 names it, any other number is refused,
        // on a floppy for want of a table.
        EXPECT_EQ(Cli("--partition 1 " + Args("ls")).rc, 0);
        r = Cli("--partition 2 " + Args("ls"));
        EXPECT_EQ(r.rc, 1) << r.out;
        bool floppy = img.container != "X68000 SCSI" && img.container != "X68000 SASI" && img.container != "THD" &&
                      img.container != "AT" && img.container != "Virtual98 HDD" && img.container != "SLH";
        EXPECT_EQ(r.err.find("has no partition table: --partition 2") != std::string::npos, floppy) << r.err;
    }

    r = Cli("--lang en " + Args("info"));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("Container: " + (img.container == "Plain" ? std::string("plain image") : img.container) + "\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Geometry: "), std::string::npos) << r.out;
    r = Cli(Args("info", "--json"));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("\"Container\": \"" + img.container + "\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"Geometry\": \""), std::string::npos) << r.out;

    std::string out = dir / "out";
    mkdir(out.c_str(), 0755);
    r = Cli(Args("get", img.file + " " + Quote(out)));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadHostFile(out + "/" + img.file), img.content);

    auto incoming = RandomBytes(23456, 7);
    WriteHostFile(dir / "NEW.BIN", incoming);
    ASSERT_EQ(Cli(Args("put", Quote(dir / "NEW.BIN"))).rc, 0);
    r = Cli(Args("mkdir", "FOLDER"));
    ASSERT_EQ(r.rc, 0) << r.err;
    if (img.human68k) {  // 18+3 names without spaces: refused, not squeezed
        r = Cli(Args("mkdir", "'Long Name With Space'"));
        EXPECT_EQ(r.rc, 1);
        EXPECT_NE(r.err.find("Invalid name: Long Name With Space"), std::string::npos) << r.err;
        EXPECT_EQ(Cli(Args("mkdir", "NINETEENLETTERS0123")).rc, 1);
    }
    r = Cli(Args("rm", img.file));
    ASSERT_EQ(r.rc, 0) << r.err;
    ExpectSoundVolume();

    std::string back = dir / "back";
    mkdir(back.c_str(), 0755);
    r = Cli(Args("get", "NEW.BIN " + Quote(back)));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadHostFile(back + "/NEW.BIN"), incoming);
    r = Cli(Args("ls"));
    EXPECT_EQ(r.out.find(img.file + "\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FOLDER\t"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTest,
                         ::testing::Values("D88", "D88Second", "NFD", "DIM", "FDI", "FDIByContent", "X68000SCSI",
                                           "X68000SASI", "X68000Floppy", "PC98", "THD", "AT", "NFD1", "IMD", "FDD", "DCP",
                                           "HFE", "Virtual98HDD", "SLH"));

// An X68000 floppy as Human68k 3.x formats it, with 18 + 3 names in lower
// case: read, exported, checked and written with those names, and what is
// put in is what a Human68k reader finds.
TEST(Human68kFloppyTest, EighteenPlusThreeNamesInLowerCaseStayAsTheyAre) {
    TempDir d;
    const std::string img = d / "names.xdf";
    const auto inner = RandomBytes(3000, 11);
    WriteHostFile(img, BuildHuman68kFloppy({{"LONGFILENAME12.TXT", Payload()},
                                            {"longdirname12345", {}, true},
                                            {"SUBDIR", {}, true},
                                            {"SUBDIR/inner_file_name.dat", inner},
                                            {"empty_by_another.txt", {}, false, true}}));
    const auto before = ReadHostFile(img);
    CliRun r = Cli("--lang en info " + Quote(img));
    EXPECT_NE(r.out.find("File system: Human68k\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Geometry: 77/2/8/1024\n"), std::string::npos) << r.out;
    for (const char* option : {"", "--human68k "}) {
        r = Cli(std::string(option) + "ls " + Quote(img));
        ASSERT_EQ(r.rc, 0) << option << r.err;
        for (const char* name : {"LONGFILENAME12.TXT\t5000", "longdirname12345\t0", "empty_by_another.txt\t0"})
            EXPECT_NE(r.out.find(std::string("\n") + name), std::string::npos) << option << r.out;
    }
    r = Cli("ls " + Quote(img) + " SUBDIR");
    EXPECT_NE(r.out.find("\ninner_file_name.dat\t3000"), std::string::npos) << r.out;
    const std::string out = d / "out";
    mkdir(out.c_str(), 0755);
    ASSERT_EQ(Cli("get " + Quote(img) + " SUBDIR/inner_file_name.dat LONGFILENAME12.TXT " + Quote(out)).rc, 0);
    EXPECT_EQ(ReadHostFile(out + "/inner_file_name.dat"), inner);
    EXPECT_EQ(ReadHostFile(out + "/LONGFILENAME12.TXT"), Payload());
    // Nothing to find and nothing to mend: the names are Human68k's, the
    // empty file's cluster that formatter's habit.
    r = Cli("check " + Quote(img));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    r = Cli("repair --yes " + Quote(img));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(ReadHostFile(img), before) << r.out;

    const auto text = RandomBytes(1500, 12);
    WriteHostFile(d / "a_long_put_name18.txt", text);
    r = Cli("put " + Quote(img) + " " + Quote(d / "a_long_put_name18.txt") + " ::SUBDIR");
    ASSERT_EQ(r.rc, 0) << r.err;
    ASSERT_EQ(Cli("rm " + Quote(img) + " empty_by_another.txt").rc, 0);
    Human68kReader reader(ReadHostFile(img));
    std::string names;
    for (const Human68kEntry& e : reader.List("SUBDIR")) names += e.name + "/" + std::to_string(e.attr) + " ";
    EXPECT_EQ(names, "inner_file_name.dat/32 a_long_put_name18.txt/32 ");
    EXPECT_EQ(reader.Read("SUBDIR/a_long_put_name18.txt"), text);
    EXPECT_EQ(reader.List("").size(), 3u) << "the emptied file's entry is gone";
    EXPECT_EQ(reader.LostClusters(), 0u) << "the empty file's cluster went with it";
    EXPECT_EQ(Cli("check " + Quote(img)).rc, 0);
}

TEST(FormatPartsTest, PartsListsEveryHardDiskFormatAtItsTrueOffsets) {
    TempDir d;
    for (const std::string name : {"X68000SCSI", "X68000SASI", "PC98", "THD", "AT"}) {
        FormatImage img = Makers().at(name)(d);
        CliRun r = Cli("parts " + Quote(img.path));
        ASSERT_EQ(r.rc, 0) << name << ": " << r.err;
        std::string expected = name == "X68000SCSI" ? "\t32768\n" : name == "X68000SASI" ? "\t16384\n"
                               : name == "PC98"     ? "\t69632\n"
                               : name == "THD"      ? "\t67840\n"
                                                    : "\t1048576\n";
        EXPECT_NE(r.out.find(expected), std::string::npos) << name << ":\n" << r.out;
    }
}

TEST(FormatPartsTest, SeveralDisksOfOneD88) {
    TempDir d;
    FormatImage img = Makers().at("D88Second")(d);
    CliRun r = Cli("parts " + Quote(img.path));
    ASSERT_EQ(r.rc, 0) << r.err;
    // Start and end in the disks' logical space; no file offset, the sectors having headers between them.
    EXPECT_EQ(r.out, "1: DISK A\t0\t1261567\t1232KB\t-\n2: DISK B\t1261568\t2523135\t1232KB\t-\n");
    r = Cli("parts --json " + Quote(img.path));
    EXPECT_NE(r.out.find("\"offset\": null, \"logicalOffset\": 1261568, \"bytes\": 1261568}"), std::string::npos) << r.out;
    // Without --partition: the first disk that holds a volume, said; none: the list.
    const std::vector<uint8_t> blank(1261568, 0);
    for (auto [first, second, rc, said] :
         {std::tuple{true, true, 0, "disk 1 of 2: DISK A\n"}, {false, true, 0, "disk 2 of 2: DISK B\n"},
          {false, false, 1, "No disk of "}}) {
        D88Disk a{"DISK A", first ? MakeFloppyVolume({{"A.TXT", Bytes("a\n")}}) : blank, {}, 0};
        D88Disk b{"DISK B", second ? MakeFloppyVolume({{"B.TXT", Bytes("b\n")}}) : blank, {}, 0};
        std::string path = d / "pair.d88";
        WriteD88(path, {a, b});
        r = Cli("ls " + Quote(path));
        EXPECT_EQ(r.rc, rc) << r.err;
        EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
        if (rc == 0) EXPECT_NE(r.out.find(first ? "A.TXT\t" : "B.TXT\t"), std::string::npos) << r.out;
        else EXPECT_NE(r.err.find("  disk 2 of 2: DISK B"), std::string::npos) << r.err;
    }
}

TEST(FormatPartsTest, EveryRowHasItsEndSizeAndATrimmedName) {
    TempDir d;
    FormatImage x68 = Makers().at("X68000SCSI")(d);
    CliRun r = Cli("parts --json " + Quote(x68.path));
    EXPECT_NE(r.out.find("\"name\": \"Human68k\", \"plainName\": \"Human68k\", \"type\": null, \"start\": 32, \"end\": "),
              std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"bytes\": 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"offset\": 32768, \"logicalOffset\": 32768"), std::string::npos) << r.out;
    FormatImage pc98 = Makers().at("PC98")(d);
    r = Cli("parts " + Quote(pc98.path));
    EXPECT_EQ(r.out.find(" \t"), std::string::npos) << "no padding after a name:\n" << r.out;
}


// New images: every format in every container it fits, read back by the
// test's own readers of the containers and tables, mtools and fsck.fat.
struct NewCase {
    const char* format;
    const char* file;       // the image's name: its extension names the container
    const char* size;       // --size, or ""
    const char* container;  // what `info` names
    const char* geometry;   // what `info` shows
    const char* options = "";  // more of new's options
};

const NewCase kNewCases[] = {
    {"2hd", "a.fdi", "", "FDI", "77/2/8/1024"},        {"2hd", "a.d88", "", "D88", "77/2/8/1024"},
    {"2hd", "a.nfd", "", "NFD", "77/2/8/1024"},        {"2hd", "a.dim", "", "DIM", "77/2/8/1024"},
    {"2hd", "a.hdm", "", "Plain", "77/2/8/1024"},      {"1.44m", "a.fdi", "", "FDI", "80/2/18/512"},
    {"1.44m", "a.dim", "", "DIM", "80/2/18/512"},
    {"1.44m", "a.d98", "", "D88", "80/2/18/512"},      {"1.44m", "a.nfd", "", "NFD", "80/2/18/512"},
    {"1.44m", "a.ima", "", "Plain", "80/2/18/512"},    {"2dd", "a.fdi", "", "FDI", "80/2/9/512"},
    {"2dd", "a.d77", "", "D88", "80/2/9/512"},         {"2dd", "a.nfd", "", "NFD", "80/2/9/512"},
    {"2dd", "a.img", "", "Plain", "80/2/9/512"},       {"640k", "a.fdi", "", "FDI", "80/2/8/512"},
    {"640k", "a.88d", "", "D88", "80/2/8/512"},        {"640k", "a.nfd", "", "NFD", "80/2/8/512"},
    {"640k", "a.tfd", "", "Plain", "80/2/8/512"},      {"x68k-2hd", "a.fdi", "", "FDI", "77/2/8/1024"},
    {"x68k-2hd", "a.d68", "", "D88", "77/2/8/1024"},   {"x68k-2hd", "a.nfd", "", "NFD", "77/2/8/1024"},
    {"x68k-2hd", "a.dim", "", "DIM", "77/2/8/1024"},   {"x68k-2hd", "a.xdf", "", "Plain", "77/2/8/1024"},
    {"pc98-hd", "a.hdi", "20M", "HDI", "301/8/17/512"}, {"pc98-hd", "a.nhd", "20M", "NHD", "301/8/17/512"},
    {"pc98-hd", "a.thd", "20M", "THD", "310/8/33/256"}, {"pc98-hd", "a.img", "5M", "PC-9801", "75/8/17/512"},
    {"at-hd", "a.img", "40M", "AT", "81648/512"},      {"at-hd", "a.hdi", "8M", "HDI", "16/16/63/512"},
    {"x68k-hd", "a.hds", "12M", "X68000 SCSI", "24576/512"}, {"x68k-hd", "a.hdf", "10M", "X68000 SASI", "40788/256"},
    {"2hd", "a.imd", "", "IMD", "77/2/8/1024"},        {"1.44m", "a.imd", "", "IMD", "80/2/18/512"},
    {"2dd", "a.fdd", "", "FDD", "80/2/9/512"},         {"x68k-2hd", "a.fdd", "", "FDD", "77/2/8/1024"},
    {"2hd", "a.dcp", "", "DCP", "77/2/8/1024"},        {"640k", "a.dcu", "", "DCP", "80/2/8/512"},
    {"2hd", "a.hfe", "", "HFE", "77/2/8/1024"},        {"1.44m", "a.hfe", "", "HFE", "80/2/18/512"},
    {"pc98-hd", "a.hdd", "20M", "Virtual98 HDD", "301/8/17/512"}, {"pc98-hd", "a.slh", "20M", "SLH", "301/8/17/512"},
    {"2hd", "a.nfd", "", "NFD r1", "77/2/8/1024", " --container nfd-r1"},
    {"1.44m", "a.nfd", "", "NFD r1", "80/2/18/512", " --container NFD-R1"},
};

uint32_t LE(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int k = n - 1; k >= 0; --k) v = v << 8 | p[k];
    return v;
}
uint32_t BE(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The byte offset of the one partition, read from the disk's table by the
// test itself; checks that it fills the disk.
uint64_t PartitionOffset(const std::string& format, const std::string& container, const PlainDisk& d,
                         const std::string& diskFile) {
    const uint8_t* b = d.bytes.data();
    if (format == "pc98-hd") {
        uint32_t secLen = d.secLen ? d.secLen : 512, spt = d.sectors ? d.sectors : 17, heads = d.heads ? d.heads : 8;
        const uint8_t* e = b + secLen;
        EXPECT_NE(e[0], 0);
        EXPECT_EQ(LE(e + 14, 2) + 1, d.bytes.size() / (uint64_t(secLen) * spt * heads)) << "the last cylinder";
        return uint64_t(secLen) * (e[4] + spt * (e[5] + uint64_t(heads) * LE(e + 6, 2)));
    }
    if (format == "at-hd") {
        const uint8_t* e = b + 446;
        EXPECT_EQ(LE(b + 510, 2), 0xAA55u);
        EXPECT_EQ(e[4], d.bytes.size() - 1048576 < (32u << 20) ? 0x04 : 0x06);
        EXPECT_EQ(LE(e + 8, 4) + LE(e + 12, 4), d.bytes.size() / 512);
        std::string out;
        EXPECT_EQ(RunShell("sfdisk -d " + Quote(diskFile), &out), 0) << out;
        EXPECT_NE(out.find("start=        2048, size=" ), std::string::npos) << out;
        return uint64_t(LE(e + 8, 4)) * 512;
    }
    if (format == "x68k-hd") {
        const bool scsi = container == "X68000 SCSI";
        const uint8_t* t = b + (scsi ? 0x800 : 0x400);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t), 4), "X68K");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t + 16), 8), "Human68k");
        EXPECT_EQ(uint64_t(BE(t + 24)) + BE(t + 28), d.bytes.size() / (scsi ? 1024 : 256));
        return uint64_t(BE(t + 24)) * (scsi ? 1024 : 256);
    }
    return 0;
}

class NewImageTest : public ::testing::TestWithParam<NewCase> {};

TEST_P(NewImageTest, OpensTakesAPutAndReadsBackThroughOtherReaders) {
    const NewCase& c = GetParam();
    TempDir d;
    const std::string img = d / c.file, kind = c.container;
    const bool human = std::string(c.format).rfind("x68k", 0) == 0;
    std::string size = *c.size ? std::string(" --size ") + c.size : "";
    CliRun r = Cli("new " + Quote(img) + " " + c.format + size + c.options + " --label 'New Disk'");
    ASSERT_EQ(r.rc, 0) << r.err;
    r = Cli("--lang en info " + Quote(img));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("Container: " + (kind == "Plain" ? std::string("plain image") : kind) + "\nGeometry: " + c.geometry + "\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("File system: ") + (human ? "Human68k" : "FAT")), std::string::npos) << r.out;
    auto payload = RandomBytes(70000, 3);
    WriteHostFile(d / "PAYLOAD.BIN", payload);
    ASSERT_EQ(Cli("put " + Quote(img) + " " + Quote(d / "PAYLOAD.BIN")).rc, 0);
    r = Cli("check " + Quote(img));
    EXPECT_EQ(r.rc, 0) << r.out << r.err;

    PlainDisk disk = UnwrapContainer(img, kind);
    std::string diskFile = d / "disk.raw";
    WriteHostFile(diskFile, disk.bytes);
    uint64_t offset = PartitionOffset(c.format, kind, disk, diskFile);
    std::vector<uint8_t> volume(disk.bytes.begin() + long(offset), disk.bytes.end());
    if (human) {
        // The boot record X68000 tools take, and the volume as a Human68k
        // reader sees it: the file, the label, nothing else.
        EXPECT_EQ(volume[0], 0x60) << "a 68000 branch";
        const bool floppy = std::string(c.format) == "x68k-2hd";
        EXPECT_EQ(std::string(volume.begin() + 3, volume.begin() + 11) == "X68IPL30", floppy);
        EXPECT_EQ(volume[floppy ? 21 : 28], floppy ? 0xFE : kind == "X68000 SCSI" ? 0xF7 : 0xF8);
        Human68kReader reader(volume);
        EXPECT_EQ(reader.LittleEndianBlock(), floppy);
        EXPECT_EQ(reader.Read("PAYLOAD.BIN"), payload);
        std::string names;
        for (const Human68kEntry& e : reader.List("")) names += e.name + "/" + std::to_string(e.attr) + " ";
        EXPECT_EQ(names, "New Disk/8 PAYLOAD.BIN/32 ");
        EXPECT_EQ(reader.LostClusters(), 0u);
    }
    std::string vol = d / "volume.raw";
    WriteHostFile(vol, human ? Human68kAsFat(volume) : volume);
    std::string out;
    const std::string target = human ? vol : diskFile + "@@" + std::to_string(offset);
    EXPECT_EQ(RunShell("MTOOLS_SKIP_CHECK=1 mcopy -n -i " + Quote(target) + " ::PAYLOAD.BIN " + Quote(d / "back"), &out), 0) << out;
    EXPECT_EQ(ReadHostFile(d / "back"), payload);
    RunShell("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + Quote(target) + " ::", &out);
    EXPECT_NE(out.find(human ? "is New Disk" : "is NEW DISK"), std::string::npos) << out;
    EXPECT_TRUE(FsckClean(vol, &out)) << out;
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, NewImageTest, ::testing::ValuesIn(kNewCases),
                         [](const ::testing::TestParamInfo<NewCase>& i) {
                             std::string n = std::string(i.param.format) + "_" + i.param.file + (*i.param.options ? "_r1" : "");
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

TEST(NewImageTest, NonsenseAndOutOfRangeAreUsageErrorsThatSayWhatFits) {
    TempDir d;
    const struct {
        std::string args, says;
    } cases[] = {
        {"x.nhd x68k-hd --size 40M", ".hds .hda .img .hdf"}, {"x.hdi 2hd", ".fdi .d88"},
        {"x.dim 2dd", ".nfd"},                               {"x.img pc98-hd", "pc98-hd"},
        {"x.img pc98-hd --size 1M", "5M"},                   {"x.img at-hd --size 3G", "2G"},
        {"x.hdf x68k-hd --size 30M", "10M 20M 40M"},         {"x.img 2hd --size 1M", "2hd"},
        {"x.zip 2hd", ".fdi"},                               {"x.img 3hd", "x68k-2hd"},
        {"x.img 2hd --label 'A*B'", "A*B"},                  {"x.img at-hd --size lots", "lots"},
        {"x.nfd 2hd --container d88", "nfd nfd-r1"},
    };
    for (const auto& c : cases) {
        CliRun r = Cli("new " + Quote(d.path()) + "/" + c.args);
        EXPECT_EQ(r.rc, 2) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
    std::string out;
    RunShell("ls -A " + Quote(d.path()), &out);
    EXPECT_EQ(out, "");
}

TEST(NewImageTest, ReplacesAnExistingImageOnlyWithYes) {
    TempDir d;
    const std::string img = d / "old.img";
    WriteHostFile(img, Bytes("someone's only copy"));
    EXPECT_NE(Cli("new " + Quote(img) + " 2dd").rc, 0);
    EXPECT_EQ(ReadHostFile(img), Bytes("someone's only copy"));
    ASSERT_EQ(Cli("new " + Quote(img) + " 2dd --yes").rc, 0);
    EXPECT_EQ(ReadHostFile(img).size(), 737280u);
    std::string out;
    RunShell("ls -A " + Quote(d.path()), &out);
    EXPECT_EQ(out, "old.img\n");  // nothing left under a temporary name
}

TEST(NewImageTest, LabelAndAttributesAreWhatMtoolsReports) {
    TempDir d;
    const std::string img = d / "disk.img", m = "MTOOLS_SKIP_CHECK=1 ";
    ASSERT_EQ(Cli("new " + Quote(img) + " 1.44m").rc, 0);
    EXPECT_EQ(Cli("label " + Quote(img)).out, "");
    // The label shown is the root entry's, whatever the boot sector holds.
    WriteRange(img, 43, Bytes("BOOTONLY   "));
    EXPECT_EQ(Cli("label " + Quote(img)).out, "");
    ASSERT_EQ(Cli("label " + Quote(img) + " 'Data 1'").rc, 0);
    EXPECT_EQ(Cli("label " + Quote(img)).out, "DATA 1\n");
    std::string out;
    RunShell(m + "mlabel -s -i " + Quote(img) + " ::", &out);
    EXPECT_NE(out.find("is DATA 1"), std::string::npos) << out;
    EXPECT_EQ(ReadRange(img, 43, 11), Bytes("DATA 1     "));
    ASSERT_EQ(Cli("label " + Quote(img) + " --clear").rc, 0);
    RunShell(m + "mlabel -s -i " + Quote(img) + " ::", &out);
    EXPECT_NE(out.find("has no label"), std::string::npos) << out;
    EXPECT_EQ(ReadRange(img, 43, 11), Bytes("NO NAME    "));
    EXPECT_EQ(Cli("label " + Quote(img) + " 'much too long'").rc, 1);

    WriteHostFile(d / "A.TXT", Bytes("a\n"));
    ASSERT_EQ(Cli("put --short-names " + Quote(img) + " " + Quote(d / "A.TXT")).rc, 0);
    ASSERT_EQ(Cli("mkdir " + Quote(img) + " ::DIR").rc, 0);
    ASSERT_EQ(Cli("put --short-names " + Quote(img) + " " + Quote(d / "A.TXT") + " ::DIR").rc, 0);
    ASSERT_EQ(Cli("label " + Quote(img) + " VOL").rc, 0);
    ASSERT_EQ(Cli("attrib " + Quote(img) + " +r +h -a ::A.TXT").rc, 0);
    ASSERT_EQ(Cli("attrib " + Quote(img) + " +s ::D* -R").rc, 0);
    RunShell(m + "mattrib -/ -i " + Quote(img) + " ::", &out);
    EXPECT_NE(out.find("      HR     ::/A.TXT"), std::string::npos) << out;
    EXPECT_NE(out.find("     S       ::/DIR\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  A  S       ::/DIR/A.TXT"), std::string::npos) << out;
    EXPECT_EQ(Cli("attrib " + Quote(img) + " ::*").out, "RH--\t/A.TXT\n--S-\t/DIR\n");
    EXPECT_EQ(Cli("attrib " + Quote(img) + " +r ::VOL").rc, 1);  // the label
    RunShell(m + "mlabel -s -i " + Quote(img) + " ::", &out);
    EXPECT_NE(out.find("is VOL"), std::string::npos) << out;
    EXPECT_TRUE(FsckClean(img, &out)) << out;
}

}  // namespace

// Conversion: every floppy container and back, read in between by the
// test's own readers; D88 files built record by record; every refusal.
namespace {

// A 1.44 MB FAT12 floppy made by mkfs.fat, holding one file.
std::vector<uint8_t> MakeHQVolume(const TempDir& d) {
    std::string img = d / "hq.raw";
    EXPECT_EQ(RunShell("mkfs.fat -C -f 2 -r 224 -S 512 " + Quote(img) + " 1440 >/dev/null 2>&1"), 0);
    WriteHostFile(d / "HQ.BIN", Payload());
    EXPECT_EQ(RunShell("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(img) + " " + Quote(d / "HQ.BIN") + " ::"), 0);
    return ReadHostFile(img);
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(ConvertTest, TwoFloppiesGoThroughEveryContainerAndBackUnchanged) {
    TempDir d;
    const struct {
        const char* name;
        std::vector<uint8_t> volume;
        uint32_t secLen, sectors;
    } disks[] = {{"2hd", MakeFloppyVolume({{"DATA.BIN", Payload()}}), 1024, 8}, {"hq", MakeHQVolume(d), 512, 18}};
    const struct {
        const char *ext, *kind;
        const char* options = "";
    } targets[] = {{".fdi", "FDI"}, {".d88", "D88"}, {".nfd", "NFD"}, {".dim", "DIM"}, {".xdf", "Plain"},
                   {".nfd", "NFD r1", "--container nfd-r1 "}};
    for (const auto& disk : disks) {
        const std::string plain = d / (std::string(disk.name) + ".hdm");
        WriteHostFile(plain, disk.volume);
        for (const auto& t : targets) {
            const std::string there = d / (std::string(disk.name) + (*t.options ? "_r1" : "") + t.ext),
                              back = d / (std::string(disk.name) + "_back.img");
            CliRun r = Cli(std::string("convert --yes ") + t.options + Quote(plain) + " " + Quote(there));
            ASSERT_EQ(r.rc, 0) << disk.name << t.ext << ": " << r.err;
            PlainDisk inside = UnwrapContainer(there, t.kind);
            EXPECT_EQ(inside.bytes, disk.volume) << disk.name << t.ext;
            EXPECT_TRUE(!inside.secLen || inside.secLen == disk.secLen) << disk.name << t.ext;
            EXPECT_TRUE(!inside.sectors || inside.sectors == disk.sectors) << disk.name << t.ext;
            r = Cli("convert --yes " + Quote(there) + " " + Quote(back));
            ASSERT_EQ(r.rc, 0) << disk.name << t.ext << ": " << r.err;
            EXPECT_EQ(ReadHostFile(back), disk.volume) << disk.name << t.ext;
        }
    }
    // The media byte and the PDA name the disk kind.
    EXPECT_EQ(ReadRange(d / "2hd.d88", 0x1B, 1), std::vector<uint8_t>{0x20});
    EXPECT_EQ(ReadRange(d / "hq.nfd", 0x120 + 10, 1), std::vector<uint8_t>{0x30});
    EXPECT_EQ(ReadRange(d / "hq.dim", 0, 1), std::vector<uint8_t>{9});
    EXPECT_EQ(ReadRange(d / "2hd.fdi", 4, 4), (std::vector<uint8_t>{0x90, 0, 0, 0}));
    // NFD slots past the last sector of a track are marked unused.
    EXPECT_EQ(ReadRange(d / "2hd.nfd", 0x120 + 8 * 16, 16), std::vector<uint8_t>(16, 0xFF));
    // A container the extension does not stand for is refused with those it does.
    CliRun r = Cli("--lang en convert --container d88 " + Quote(d / "2hd.hdm") + " " + Quote(d / "other.nfd"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("d88 is not a container the extension .nfd stands for; .nfd can be: nfd nfd-r1"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(d / "other.nfd"));
}

TEST(ConvertTest, ARecordByRecordD88BecomesExactlyItsPlainDumpKeepingItsHeader) {
    TempDir d;
    auto volume = MakeFloppyVolume({{"DATA.BIN", Payload()}});
    for (bool shortTable : {false, true}) {
        D88Disk disk{"GAME", volume, {}, 11, shortTable};
        WriteD88(d / "game.d88", {disk});
        CliRun r = Cli("convert --yes " + Quote(d / "game.d88") + " " + Quote(d / "game.hdm"));
        ASSERT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(ReadHostFile(d / "game.hdm"), volume) << "short table " << shortTable;
    }
    // An NFD whose unused slots were left zero, its sectors listed out of order.
    WriteNFD(d / "zero.nfd", volume, true);
    ASSERT_EQ(Cli("convert " + Quote(d / "zero.nfd") + " " + Quote(d / "zero.hdm")).rc, 0);
    EXPECT_EQ(ReadHostFile(d / "zero.hdm"), volume);
    // Name, write-protect, media, deleted mark, status, density and the
    // order of the records survive D88 -> NFD -> D88.
    D88Tracks tracks = TracksOfVolume(volume, 8, 1024);
    std::swap(tracks[3][0], tracks[3][5]);
    tracks[4][2].deleted = 0x10;
    tracks[6][1].status = 0xB0;
    WriteD88Tracks(d / "marks.d88", "MARKS", 0x20, true, tracks);
    ASSERT_EQ(Cli("convert " + Quote(d / "marks.d88") + " " + Quote(d / "marks.nfd")).rc, 0);
    ASSERT_EQ(Cli("convert " + Quote(d / "marks.nfd") + " " + Quote(d / "again.d88")).rc, 0);
    auto again = ReadHostFile(d / "again.d88");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(again.data())), "MARKS");
    EXPECT_EQ(again[0x1A], 0x10);
    EXPECT_EQ(again[0x1B], 0x20);
    auto record = [&](uint32_t track, uint32_t k) {
        uint32_t at = LE(again.data() + 0x20 + 4 * track, 4) + k * (16 + 1024);
        return std::vector<uint8_t>(again.begin() + at, again.begin() + at + 16);
    };
    EXPECT_EQ(record(3, 0)[2], 6);  // R of the record stored first
    EXPECT_EQ(record(4, 2)[7], 0x10);
    EXPECT_EQ(record(6, 1)[8], 0xB0);
    EXPECT_EQ(UnwrapContainer(d / "again.d88", "D88").bytes, volume);
}

TEST(ConvertTest, OneDiskOfSeveralIsChosenAndTheWholeFileIsRefusedWithItsDisks) {
    TempDir d;
    auto a = MakeFloppyVolume({{"A.TXT", Bytes("first disk\n")}}), b = MakeFloppyVolume({{"B.BIN", Payload()}});
    WriteD88(d / "two.d88", {{"DISK A", a, {}, 5}, {"DISK B", b, {}, 9}});
    CliRun r = Cli("convert " + Quote(d / "two.d88") + " " + Quote(d / "one.hdm"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("disk 1: \"DISK A\" (77/2/8/1024)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("disk 2: \"DISK B\""), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(d / "one.hdm"));
    ASSERT_EQ(Cli("convert --partition 2 " + Quote(d / "two.d88") + " " + Quote(d / "one.hdm")).rc, 0);
    EXPECT_EQ(ReadHostFile(d / "one.hdm"), b);
    EXPECT_EQ(Cli("convert --partition 3 " + Quote(d / "two.d88") + " " + Quote(d / "three.hdm")).rc, 1);
    // An existing target stays unless --yes.
    EXPECT_EQ(Cli("convert --partition 1 " + Quote(d / "two.d88") + " " + Quote(d / "one.hdm")).rc, 1);
    EXPECT_EQ(ReadHostFile(d / "one.hdm"), b);
    ASSERT_EQ(Cli("convert --yes --partition 1 " + Quote(d / "two.d88") + " " + Quote(d / "one.hdm")).rc, 0);
    EXPECT_EQ(ReadHostFile(d / "one.hdm"), a);
    // mkfdd would copy the headers along: it points at convert instead.
    r = Cli("mkfdd " + Quote(d / "two.d88") + " " + Quote(d / "copy.hdm") + " --size 1232");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("voldex-cli convert"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(d / "copy.hdm"));
}

TEST(ConvertTest, WhatThePlainDumpCannotHoldIsRefusedLineByLineAndDroppedOnlyWithLossy) {
    TempDir d;
    const auto volume = MakeFloppyVolume({});
    const struct {
        const char* anomaly;  // as identify counts it
        std::function<void(D88Tracks&)> spoil;
        const char* line;
    } cases[] = {
        {"mixedSizes", [](D88Tracks& t) { t[0][0].n = 2, t[0][0].data.resize(512); },
         "track 0 side 0 sector 1: 512 bytes among 1024-byte sectors; a plain dump cannot hold it"},
        {"deletedMarks", [](D88Tracks& t) { t[11][2].deleted = 0x10; },
         "track 5 side 1 sector 3: a deleted-data mark; a plain dump cannot hold it"},
        {"duplicateIds", [](D88Tracks& t) { t[4][3].r = 3; }, "track 2 side 0 sector 3: the same sector ID twice"},
        {"errorStatuses", [](D88Tracks& t) { t[20][7].status = 0xB0; }, "track 10 side 0 sector 8: read with error status B0h"},
        {"missingSectors", [](D88Tracks& t) { t[153].pop_back(); },
         "track 76 side 1 sector 8: missing; a plain dump would hold zeros in its place"},
        {"extraSectors", [](D88Tracks& t) { t[1].push_back(t[1][0]), t[1].back().r = 9; },
         "track 0 side 1 sector 9: beyond the 8 sectors of the track"},
        {"singleDensity", [](D88Tracks& t) { t[2][0].density = 0x40; }, "track 1 side 0 sector 1: single density (FM)"},
        {"foreignIds", [](D88Tracks& t) { t[7][4].c = 9; }, "track 3 side 1 sector 5: its ID says C 9 H 1 R 5 N 3"},
        {"missingTracks", [](D88Tracks& t) { t[30].clear(); }, "track 15 side 0: missing"},
    };
    for (const auto& c : cases) {
        D88Tracks tracks = TracksOfVolume(volume, 8, 1024);
        c.spoil(tracks);
        const std::string src = d / "odd.d88", dst = d / "odd.hdm";
        WriteD88Tracks(src, "ODD", 0x20, false, tracks);
        CliRun r = Cli("convert " + Quote(src) + " " + Quote(dst));
        EXPECT_EQ(r.rc, 1) << c.line;
        EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--lossy"), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(dst)) << c.line;
        r = Cli("identify --json " + Quote(src));
        EXPECT_NE(r.out.find(std::string("\"") + c.anomaly + "\": {\"count\": 1"), std::string::npos) << r.out;
        r = Cli("convert --lossy " + Quote(src) + " " + Quote(dst));
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_NE(r.err.find(std::string("dropped: ") + c.line), std::string::npos) << r.err;
        EXPECT_EQ(ReadHostFile(dst).size(), volume.size());
        std::remove(dst.c_str());
    }
    // A shape the target has no type for is refused even with --lossy.
    std::vector<uint8_t> dd(80 * 2 * 8 * 512, 0xE5);
    WriteD88Tracks(d / "dd.d88", "", 0x10, false, TracksOfVolume(dd, 8, 512));
    CliRun r = Cli("convert --lossy " + Quote(d / "dd.d88") + " " + Quote(d / "dd.dim"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("the disk's layout (80/2/8/512) is not one the DIM image can describe"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(d / "dd.dim"));
    // Mixed sizes go into a container that keeps them.
    D88Tracks mixed = TracksOfVolume(volume, 8, 1024);
    mixed[0][0].n = 2, mixed[0][0].data.resize(512);
    WriteD88Tracks(d / "mixed.d88", "", 0x20, false, mixed);
    EXPECT_EQ(Cli("convert " + Quote(d / "mixed.d88") + " " + Quote(d / "mixed.nfd")).rc, 0);
    EXPECT_EQ(ReadRange(d / "mixed.nfd", 0x120 + 3, 1), std::vector<uint8_t>{2});
}

TEST(ConvertTest, HardDisksKeepTheirTableAndPartitionsUnderEveryHeader) {
    TempDir d;
    const std::string m = "MTOOLS_SKIP_CHECK=1 ";
    auto offsets = WritePC98Disk(d / "pc98.img", PC98Disk{}, {{1, 40}, {41, 99}});
    const auto pc98 = ReadHostFile(d / "pc98.img");
    ASSERT_EQ(Cli("convert " + Quote(d / "pc98.img") + " " + Quote(d / "pc98.hdi")).rc, 0);
    PlainDisk hdi = UnwrapContainer(d / "pc98.hdi", "HDI");
    EXPECT_EQ(hdi.bytes, pc98);
    EXPECT_EQ(hdi.secLen * 1000000 + hdi.sectors * 1000 + hdi.heads, 512u * 1000000 + 17 * 1000 + 8);
    std::string out;
    EXPECT_EQ(RunShell(m + "mdir -b -i " + Quote(d / "pc98.hdi") + "@@" + std::to_string(4096 + offsets[1]) + " ::", &out), 0) << out;
    EXPECT_NE(out.find("PART2.TXT"), std::string::npos) << out;
    ASSERT_EQ(Cli("convert " + Quote(d / "pc98.hdi") + " " + Quote(d / "pc98.nhd")).rc, 0);
    EXPECT_EQ(UnwrapContainer(d / "pc98.nhd", "NHD").bytes, pc98);
    ASSERT_EQ(Cli("convert " + Quote(d / "pc98.nhd") + " " + Quote(d / "back.img")).rc, 0);
    EXPECT_EQ(ReadHostFile(d / "back.img"), pc98);
    // Virtual98 and SL9821 headers, and back; the SL9821 disk is known by its
    // header under any name.
    for (const auto& [ext, kind] : {std::pair{".hdd", "Virtual98 HDD"}, std::pair{".slh", "SLH"}}) {
        ASSERT_EQ(Cli("convert --yes " + Quote(d / "pc98.img") + " " + Quote(d / ("pc98" + std::string(ext)))).rc, 0) << kind;
        PlainDisk inside = UnwrapContainer(d / ("pc98" + std::string(ext)), kind);
        EXPECT_EQ(inside.bytes, pc98) << kind;
        EXPECT_EQ(inside.secLen * 1000000 + inside.sectors * 1000 + inside.heads, 512u * 1000000 + 17 * 1000 + 8) << kind;
        ASSERT_EQ(RunShell("cp " + Quote(d / ("pc98" + std::string(ext))) + " " + Quote(d / "renamed.bin")), 0);
        ASSERT_EQ(Cli("convert --yes " + Quote(d / "renamed.bin") + " " + Quote(d / "back.img")).rc, 0) << kind;
        EXPECT_EQ(ReadHostFile(d / "back.img"), pc98) << kind;
    }
    // Some tools leave the SL9821 header zero: such a disk opens by its name and its table.
    auto zeroed = ReadHostFile(d / "pc98.slh");
    std::fill(zeroed.begin(), zeroed.begin() + 512, 0);
    WriteHostFile(d / "zero.slh", zeroed);
    ASSERT_EQ(Cli("convert --yes " + Quote(d / "zero.slh") + " " + Quote(d / "back.img")).rc, 0);
    EXPECT_EQ(ReadHostFile(d / "back.img"), pc98);
    CliRun r = Cli("identify " + Quote(d / "pc98.nhd"));
    EXPECT_NE(r.out.find("Table: PC-9801\nPartition 1: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", FAT16"), std::string::npos) << r.out;
    // THD keeps only its own geometry.
    r = Cli("convert " + Quote(d / "pc98.img") + " " + Quote(d / "pc98.thd"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("is not one the THD image can describe"), std::string::npos) << r.err;
    WritePC98Disk(d / "old.thd", PC98Disk{256, 33, 8, 80, true}, {{1, 79}});
    ASSERT_EQ(Cli("convert " + Quote(d / "old.thd") + " " + Quote(d / "old.img")).rc, 0);
    ASSERT_EQ(Cli("convert " + Quote(d / "old.img") + " " + Quote(d / "new.thd")).rc, 0);
    EXPECT_EQ(ReadHostFile(d / "new.thd"), ReadHostFile(d / "old.thd"));

    // An AT disk gets a geometry of whole cylinders; sfdisk reads the table inside.
    WriteATDisk(d / "at.img", 8);
    ASSERT_EQ(Cli("convert " + Quote(d / "at.img") + " " + Quote(d / "at.hdi")).rc, 0);
    PlainDisk at = UnwrapContainer(d / "at.hdi", "HDI");
    EXPECT_EQ(at.bytes, ReadHostFile(d / "at.img"));
    WriteHostFile(d / "at.raw", at.bytes);
    EXPECT_EQ(RunShell("sfdisk -d " + Quote(d / "at.raw"), &out), 0) << out;
    EXPECT_NE(out.find("start=        2048"), std::string::npos) << out;

    // X68000 tables count their own records: SCSI stays SCSI.
    FormatImage x68 = Makers().at("X68000SCSI")(d);
    r = Cli("convert " + Quote(x68.path) + " " + Quote(d / "x68.hdf"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("X68000 SCSI disks cannot become X68000 SASI disks"), std::string::npos) << r.err;
    EXPECT_EQ(Cli("convert " + Quote(d / "pc98.img") + " " + Quote(d / "pc98.hds")).rc, 1);
    EXPECT_EQ(Cli("convert " + Quote(d / "pc98.img") + " " + Quote(d / "pc98.d88")).rc, 1);
    EXPECT_FALSE(Exists(d / "x68.hdf") || Exists(d / "pc98.hds") || Exists(d / "pc98.d88"));
}

TEST(ConvertTest, IdentifyTellsTheContentAgainstTheNameAndTheHeaderAgainstTheSize) {
    TempDir d;
    auto volume = MakeFloppyVolume({});
    WriteHostFile(d / "plain.fdi", volume);
    WriteD88(d / "liar.d88", {{"LIAR", volume, {}, 0}});
    auto liar = ReadHostFile(d / "liar.d88");
    liar.resize(liar.size() + 4096, 0);  // the disk size no longer adds up to the file
    WriteHostFile(d / "liar.d88", liar);
    CliRun r = Cli("identify --json " + Quote(d / "plain.fdi") + " " + Quote(d / "liar.d88"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("\"container\": \"Plain\", \"nameSuggests\": \"FDI\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"image\": false"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("D88 disk sizes 1281968, file 1286064"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
    // A batch goes on past a refusal and says so in its status.
    RunShell("mkdir " + Quote(d / "out"));
    r = Cli("convert --to fdi " + Quote(d / "plain.fdi") + " " + Quote(d / "liar.d88") + " " + Quote(d / "out"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(UnwrapContainer(d / "out/plain.fdi", "FDI").bytes, volume);
    EXPECT_FALSE(Exists(d / "out/liar.fdi"));
    // SL9821 and Virtual98 headers that promise more than the file holds.
    for (const char* name : {"short.slh", "short.hdd"}) {
        ASSERT_EQ(Cli(std::string("new ") + Quote(d / name) + " pc98-hd --size 5M").rc, 0);
        auto bytes = ReadHostFile(d / name);
        bytes.resize(bytes.size() - 512);
        WriteHostFile(d / name, bytes);
        r = Cli("identify " + Quote(d / name));
        EXPECT_NE(r.out.find(std::string("HeaderDisagrees: ") + (name[6] == 's' ? "SL9821 header+disk" : "Virtual98 header+sector") +
                             " bytes " + std::to_string(bytes.size() + 512) + ", file " + std::to_string(bytes.size())),
                  std::string::npos) << r.out;
    }
}
