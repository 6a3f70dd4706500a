#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "device/deviceio_file.h"
#include "opening/hddpart.h"
#include "support/disks.h"
#include "support/images.h"
#include "support/scripted_ui.h"

namespace {

class PartTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override { setenv("VOLDEX_HOME", home.path().c_str(), 1); }
    void TearDown() override {
        if (device) device->Destroy();
        unsetenv("VOLDEX_HOME");
    }
    void Open(const std::string& path) {
        device = new DeviceIO_File;
        ASSERT_TRUE(device->Open(path));
        params.Device = device;
    }
    std::vector<PartitionRow> Rows(const HDDGeometry& g) {
        THDDPartDialog d;
        d.Device = device;
        d.SetGeometry(g);
        d.Fill();
        return d.Rows;
    }
    void Settings(const std::string& text) {
        WriteHostFile(home / "kestrel.ini", std::vector<uint8_t>(text.begin(), text.end()));
    }
    TempDir home, dir;
    DeviceIO_File* device = nullptr;
    VolumeParams params;
};

TEST_F(PartTest, PC98TableRows) {
    std::string path = dir / "pc98.img";
    PC98Geometry g;
    auto offsets = MakePC98Disk(path, PC98Header::None, g, {{1, 150, "MS-DOS 6.20"}, {151, 300, "\x83\x66\x81\x5B\x83\x5E"}});
    Open(path);
    HDDGeometry hg{0, 0, 512, 17, 8, 300};
    auto rows = Rows(hg);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "MS-DOS 6.20");
    EXPECT_EQ(rows[1].name, "データ") << "Shift-JIS names are shown as text";
    EXPECT_EQ(rows[0].start, "1CYL");
    EXPECT_EQ(rows[0].end, "150CYL");
    EXPECT_EQ(rows[0].size, "10MB") << "9.96 MiB, to the nearest";
    EXPECT_EQ(rows[0].offset, offsets[0]);
    EXPECT_EQ(rows[1].offset, offsets[1]);
    EXPECT_EQ(rows[1].offsetText, std::to_string(offsets[1]));
    EXPECT_TRUE(ui.boxes.empty());
    // An entry whose first byte is 0 is not listed, even with a name.
    auto img = ReadHostFile(path);
    img[512 + 32] = 0;
    WriteHostFile(path, img);
    EXPECT_EQ(Rows(hg).size(), 1u);
}

TEST_F(PartTest, ATPrimaryAndNestedLogicalPartitions) {
    std::string path = dir / "at.img";
    RunShell("truncate -s 200M " + Quote(path));
    ASSERT_EQ(RunShell("printf 'label: dos\\n63,40M,6\\n,,E\\n,30M,6\\n,30M,1\\n,30M,c\\n' | sfdisk -q " + Quote(path)), 0);
    std::string dump;
    RunShell("sfdisk -d " + Quote(path), &dump);
    Open(path);
    auto rows = Rows({1, 0, 512, 63, 255, 0});
    ASSERT_EQ(rows.size(), 4u) << dump;
    EXPECT_EQ(rows[0].name, "Βασικό διαμέρισμα (FAT16, 32 MB και άνω)");
    EXPECT_EQ(rows[0].start, "63SEC");
    EXPECT_EQ(rows[0].offset, 32256u);
    EXPECT_EQ(rows[1].name, "Δευτερεύον διαμέρισμα (FAT16, 32 MB και άνω)");
    EXPECT_EQ(rows[2].name, "Δευτερεύον διαμέρισμα (FAT12)");
    EXPECT_EQ(rows[3].name, "Δευτερεύον διαμέρισμα (FAT32)");
    EXPECT_EQ(rows[1].size, "30MB");
    // The logical partitions lie where sfdisk put them.
    for (int k = 1; k <= 3; ++k) {
        std::string line = dump.substr(dump.find("img" + std::to_string(k + 4) + " :"));
        unsigned long start = std::strtoul(line.substr(line.find("start=") + 6).c_str(), nullptr, 10);
        EXPECT_EQ(rows[std::size_t(k)].offset, start * 512) << line;
    }
}

TEST_F(PartTest, ExtendedTableThatRefersToItselfEnds) {
    std::string path = dir / "loop.img";
    std::vector<uint8_t> disk(1 << 20, 0);
    auto entry = [&](std::size_t table, int k, uint8_t type, uint32_t first, uint32_t count) {
        uint8_t* e = disk.data() + table + 446 + 16 * k;
        e[4] = type;
        for (int b = 0; b < 4; ++b) {
            e[8 + b] = uint8_t(first >> (8 * b));
            e[12 + b] = uint8_t(count >> (8 * b));
        }
    };
    entry(0, 0, 5, 100, 1000);          // extended at sector 100
    entry(100 * 512, 0, 6, 10, 50);     // a logical partition
    entry(100 * 512, 1, 5, 0, 1000);    // a link back to the same table
    WriteHostFile(path, disk);
    Open(path);
    auto rows = Rows({1, 0, 512, 63, 16, 0});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].offset, 110u * 512);
}

TEST_F(PartTest, X68000TablePosition) {
    for (int secLen : {1024, 256}) {
        std::string path = dir / ("x68_" + std::to_string(secLen) + ".hds");
        std::vector<uint8_t> disk(64 * 1024, 0);
        std::size_t at = secLen == 256 ? 1024 : 2048;
        std::memcpy(disk.data() + at, "X68K", 4);  // the table's header, examined like an entry
        std::memcpy(disk.data() + at + 16, "Human68k", 8);
        disk[at + 16 + 11] = 0x21;  // start record 0x21
        std::memcpy(disk.data() + at + 32, "Other   ", 8);
        std::memcpy(disk.data() + at + 48, "Human68k", 8);
        disk[at + 48 + 10] = 0x01;  // start record 0x100
        WriteHostFile(path, disk);
        Open(path);
        auto rows = Rows({2, 0, secLen, 0, 0, 0});
        ASSERT_EQ(rows.size(), 2u) << secLen;
        EXPECT_EQ(rows[0].name, "Human68k");
        EXPECT_EQ(rows[0].start, "33REC");
        EXPECT_EQ(rows[0].end, "");
        EXPECT_EQ(rows[0].offset, uint32_t(0x21 * secLen));
        EXPECT_EQ(rows[1].offset, uint32_t(0x100 * secLen));
        ui.partitionAnswers = {1};
        THDDPartDialog dialog;
        ASSERT_EQ(RunPartitionDialog(dialog, params, {2, 0, secLen, 0, 0, 0}, false), 1);
        EXPECT_EQ(params.DiskStart, int32_t(0x100 * secLen));
        EXPECT_EQ(params.FileSystem, kFileSystemHuman68k);
        device->Destroy();
        device = nullptr;
    }
}

class AutoChoiceTest : public PartTest {
protected:
    void SetUp() override {
        PartTest::SetUp();
        path = dir / "two.img";
        MakePC98Disk(path, PC98Header::None, PC98Geometry{}, {{1, 150, "A"}, {151, 300, "B"}});
        single = dir / "one.img";
        MakePC98Disk(single, PC98Header::None, PC98Geometry{}, {{1, 150, "ONLY"}});
    }
    int Run(const std::string& image, bool force = false) {
        if (device) device->Destroy();
        Open(image);
        THDDPartDialog dialog;
        return RunPartitionDialog(dialog, params, {0, 0, 512, 17, 8, 300}, force);
    }
    std::string path, single;
};

TEST_F(AutoChoiceTest, AutoHDDSingle) {
    Settings("[ProgramSettings]\nAutoHDDSingle=1\n");
    EXPECT_EQ(Run(single), 1);
    EXPECT_TRUE(ui.partitionDialogs.empty()) << "one partition: not shown";
    EXPECT_EQ(params.DiskStart, 17 * 8 * 512);
    EXPECT_EQ(Run(path), 2) << "two partitions: shown, and cancelled";
    EXPECT_EQ(ui.partitionDialogs, std::vector<bool>{false});
}

TEST_F(AutoChoiceTest, AutoHDDFirst) {
    Settings("[ProgramSettings]\nAutoHDDFirst=1\n");
    EXPECT_EQ(Run(path), 1);
    EXPECT_TRUE(ui.partitionDialogs.empty());
    EXPECT_EQ(params.DiskStart, 17 * 8 * 512);
    EXPECT_EQ(params.FileSystem, kFileSystemDOS);
    std::string empty = dir / "empty.img";
    WriteHostFile(empty, std::vector<uint8_t>(1 << 20, 0));
    EXPECT_EQ(Run(empty), 2) << "no partitions: the dialog is shown";
    EXPECT_EQ(ui.partitionDialogs.size(), 1u);
}

TEST_F(AutoChoiceTest, ShiftAndForceShowTheDetails) {
    Settings("[ProgramSettings]\nAutoHDDFirst=1\n");
    ui.shift = true;
    ui.partitionAnswers = {1};
    EXPECT_EQ(Run(path), 1);
    EXPECT_EQ(ui.partitionDialogs, std::vector<bool>{true});
    EXPECT_EQ(params.DiskStart, 151 * 17 * 8 * 512);
    ui.shift = false;
    ui.partitionAnswers = {0};
    EXPECT_EQ(Run(path, true), 1);
    EXPECT_EQ(ui.partitionDialogs, (std::vector<bool>{true, true}));
}

TEST_F(AutoChoiceTest, OkWithoutSelectionKeepsTheDialog) {
    Open(path);
    THDDPartDialog d;
    d.Device = device;
    d.SetGeometry({0, 0, 512, 17, 8, 300});
    ASSERT_TRUE(d.Fill());
    EXPECT_FALSE(d.Choose(-1));
    EXPECT_EQ(ui.Texts().back(), "Επιλέξτε διαμέρισμα");
    EXPECT_TRUE(d.Choose(1));
    EXPECT_EQ(d.Caption, "two.img - δίσκος");
    EXPECT_EQ(d.SectorLenLabel, "Μέγεθος sector");
    d.SetType(2, false);
    EXPECT_EQ(d.SectorLenLabel, "Μήκος εγγραφής");
    d.SetType(-1, false);
    EXPECT_FALSE(d.Fill());
    EXPECT_EQ(ui.Texts().back(), "Επιλέξτε μορφή δίσκου");
    d.SetType(0, false);
    d.HeaderEdit = "8x";
    EXPECT_FALSE(d.Fill());
    EXPECT_EQ(ui.Texts().back(), "Το «8x» δεν είναι έγκυρος ακέραιος αριθμός");
}

TEST_F(AutoChoiceTest, SearchFindsTheDiskStart) {
    // A disk whose first partition's boot sector says it has 17*8 hidden
    // sectors: the search puts the disk start back at the disk's first byte.
    std::string shifted = dir / "shifted.img";
    auto img = ReadHostFile(path);
    uint8_t* boot = img.data() + 17 * 8 * 512;
    uint32_t hidden = 17 * 8;
    for (int k = 0; k < 4; ++k) boot[28 + k] = uint8_t(hidden >> (8 * k));
    boot[24] = 17;
    boot[25] = 0;
    boot[26] = 8;
    boot[27] = 0;
    img.insert(img.begin(), 8192, 0);
    WriteHostFile(shifted, img);
    Open(shifted);
    THDDPartDialog d;
    d.Device = device;
    d.SetGeometry({0, 0, 512, 20, 4, 300});
    ASSERT_TRUE(d.Search());
    EXPECT_EQ(d.DiskStartEdit, "8192");
    EXPECT_EQ(d.SectorEdit, "17");
    EXPECT_EQ(d.HeaderEdit, "8");
    ASSERT_EQ(d.Rows.size(), 2u) << "the list is filled again";
    EXPECT_EQ(d.Rows[0].offset, 8192u + 17 * 8 * 512);
    EXPECT_EQ(ui.Texts().back(), "Βρέθηκε sector τύπου IPL");
    d.SectorLenEdit = "0";
    EXPECT_FALSE(d.Search());
    EXPECT_EQ(ui.Texts().back(), "Το βήμα της αναζήτησης πρέπει να είναι μεγαλύτερο από 0");
}

TEST_F(AutoChoiceTest, SearchWithoutBootSectorChangesNothing) {
    std::string empty = dir / "blank.img";
    WriteHostFile(empty, std::vector<uint8_t>(11u << 20, 0));
    Open(empty);
    THDDPartDialog d;
    d.Device = device;
    d.SetGeometry({0, 0, 512, 20, 4, 300});
    EXPECT_FALSE(d.Search());
    EXPECT_EQ(ui.Texts().back(), "Δεν υπάρχει sector τύπου IPL σε 10MB");
    EXPECT_EQ(d.DiskStartEdit, "0");
    EXPECT_EQ(d.SectorEdit, "20");
}

}  // namespace

namespace {

// A disk of 5 GiB that holds only its first sector: an AT table whose
// partitions start at 1 MiB, 3 GiB and 4.1 GiB. Reads elsewhere give zeros.
class SparseATDisk : public DeviceIOIF {
public:
    SparseATDisk() {
        const uint32_t starts[3] = {2048, 6291456, 8598528};
        for (int k = 0; k < 3; ++k) {
            uint8_t* e = mbr + 446 + 16 * k;
            e[4] = 6;
            for (int b = 0; b < 4; ++b) {
                e[8 + b] = uint8_t(starts[k] >> (8 * b));
                e[12 + b] = uint8_t(131072u >> (8 * b));
            }
        }
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
    }
    const char* GetName() override { return "sparse"; }
    const char* GetPath() override { return "sparse.img"; }
    bool IsReadOnly() override { return true; }
    bool Read(int64_t offset, void* buffer, uint32_t length) override {
        if (offset < 0 || uint64_t(offset) + length > (5ull << 30)) return false;
        std::memset(buffer, 0, length);
        if (offset < 512) std::memcpy(buffer, mbr + offset, std::min<uint64_t>(length, 512 - uint64_t(offset)));
        return true;
    }
    bool Write(int64_t, const void*, uint32_t) override { return false; }
    bool MakeReadOnly() override { return true; }
    void Destroy() override { delete this; }
    uint8_t mbr[512] = {};
};

TEST_F(PartTest, OffsetsBeyond2And4GiBStayWhole) {
    auto* disk = new SparseATDisk;
    params.Device = disk;
    THDDPartDialog d;
    HDDGeometry g{1, 0, 512, 63, 255, 0};
    ASSERT_EQ(RunPartitionDialog(d, params, g, false), 2) << "no Auto setting: the dialog is asked, and cancelled";
    ASSERT_EQ(d.Rows.size(), 3u);
    EXPECT_EQ(d.Rows[1].offset, 3221225472ull);
    EXPECT_EQ(d.Rows[2].offset, 4402446336ull);
    EXPECT_EQ(d.Rows[2].offsetText, "4402446336");
    EXPECT_EQ(d.Rows[2].bytes, 67108864ull);
    Settings("[ProgramSettings]\nAutoHDDFirst=1\n");
    THDDPartDialog automatic;
    ASSERT_EQ(RunPartitionDialog(automatic, params, g, false), 1);
    EXPECT_EQ(params.DiskStart, 1048576);
    // A start found by the search far into the disk is kept whole too.
    automatic.DiskStartEdit = "4402446336";
    EXPECT_TRUE(automatic.Fill()) << "a disk start beyond 2 GiB is a number like any other";
    EXPECT_TRUE(automatic.Rows.empty()) << "no table there, and no wrap-around to the first sector";
    disk->Destroy();
    params.Device = nullptr;
}

}  // namespace
