// Every image format the program detects, through voldex-cli with no
// option: it lists and exports what the image holds, and after put, mkdir
// and rm the volume read back out of the image by the test's own reader is
// sound under fsck.fat.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sys/stat.h>

#include "support/containers.h"
#include "support/disks.h"
#include "support/images.h"

namespace {

struct CliRun {
    int rc;
    std::string out, err;
};

CliRun Cli(const std::string& args) {
    TempDir t;
    std::string out;
    int rc = RunShell("( timeout 60 " + std::string(VOLDEX_CLI) + " " + args + " 2>" + Quote(t / "err") + " )", &out);
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
    CliRun r = Cli(Args("ls"));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find(img.file + "\t" + std::to_string(img.content.size())), std::string::npos) << r.out;

    r = Cli("--lang en " + Args("info"));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("Container: " + img.container + "\n"), std::string::npos) << r.out;
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
                                           "X68000SASI", "PC98", "THD", "AT"));

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

TEST(FormatPartsTest, SeveralDisksOfOneD88AreListedByName) {
    TempDir d;
    FormatImage img = Makers().at("D88Second")(d);
    CliRun r = Cli("parts " + Quote(img.path));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "1: DISK A\t\t\t1232KB\t0\n2: DISK B\t\t\t1232KB\t1261568\n");
    r = Cli("ls " + Quote(img.path));  // the first disk unless told otherwise
    EXPECT_NE(r.out.find("A.TXT\t"), std::string::npos) << r.out;
}

}  // namespace
