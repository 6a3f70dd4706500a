#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "device/containerdevice.h"
#include "device/deviceio_file.h"
#include "opening/detect.h"
#include "opening/diskopen.h"
#include "support/containers.h"
#include "support/human68k.h"
#include "support/disks.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/diskimage.h"
#include "volume/didir.h"

namespace {

class DetectTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        setenv("VOLDEX_HOME", home.path().c_str(), 1);
        PendingOpeningOptions() = {};
    }
    void TearDown() override {
        if (device) device->Destroy();
        if (params.Device) params.Device->Destroy();
        unsetenv("VOLDEX_HOME");
    }
    DetectedImage Detect(const std::string& path) {
        if (device) device->Destroy();
        auto* f = new DeviceIO_File;
        EXPECT_TRUE(f->Open(path));
        device = f;
        return DetectImage(device, ImageFileSize(path));
    }
    void Settings(const std::string& text) {
        WriteHostFile(home / "kestrel.ini", std::vector<uint8_t>(text.begin(), text.end()));
    }
    // The shipped arrangement: header profiles first, detection last.
    TDiskOpener Opener() {
        DISKPROFILE hdi, detect;
        hdi.Name = "Anex86 (.HDI)";
        hdi.Extension = ".HDI";
        hdi.ProfileType = kProfileAnex86;
        detect.Name = "Content";
        detect.ProfileType = kProfileDetect;
        return TDiskOpener({hdi, detect});
    }
    std::string RootNames() {
        DiskImage image;
        EXPECT_TRUE(image.Mount(params));
        params.Device = nullptr;
        DIDir dir(&image, 0);
        EXPECT_TRUE(dir.Load());
        std::string names;
        for (uint32_t i = 0; i < dir.GetCount(); ++i)
            if (!dir.IsFree(int(i))) names += dir.GetDisplayName(int(i)) + ";";
        return names;
    }

    TempDir dir, home;
    DeviceIOIF* device = nullptr;
    VolumeParams params;
};

TEST_F(DetectTest, EachFormatIsKnownWithItsRoadAndGeometry) {
    auto floppy = MakeFloppyVolume({{"F.TXT", {'f'}}});
    struct Case {
        std::string file, container, geometry;
        DetectedImage::Road road;
        int32_t diskStart;
    };
    std::vector<Case> cases;
    WriteD88(dir / "a.d88", {{"ONE", floppy, {}, 4}});
    cases.push_back({"a.d88", "D88", "77/2/8/1024", DetectedImage::kVolume, 0});
    WriteNFD(dir / "a.nfd", floppy);
    cases.push_back({"a.nfd", "NFD", "77/2/8/1024", DetectedImage::kVolume, 0});
    WriteDIM(dir / "a.dim", floppy, {3});
    cases.push_back({"a.dim", "DIM", "77/2/8/1024", DetectedImage::kVolume, 0});
    MakeAnex86Floppy(dir / "a.fdi");
    cases.push_back({"a.fdi", "FDI", "77/2/8/1024", DetectedImage::kVolume, 4096});
    MakePC98Disk(dir / "a.hdi", PC98Header::Anex86, PC98Geometry{512, 17, 8, 200}, {{1, 150, "A"}});
    cases.push_back({"a.hdi", "HDI", "200/8/17/512", DetectedImage::kPartitions, 0});
    MakePC98Disk(dir / "a.nhd", PC98Header::T98Next, PC98Geometry{512, 17, 8, 200}, {{1, 150, "A"}});
    cases.push_back({"a.nhd", "NHD", "200/8/17/512", DetectedImage::kPartitions, 0});
    auto h68 = MakeHuman68kVolume("x");
    WriteX68000Disk(dir / "a.hds", true, h68);
    cases.push_back({"a.hds", "X68000 SCSI", "16448/512", DetectedImage::kPartitions, 0});
    WriteX68000Disk(dir / "a.hdf", false, h68);
    cases.push_back({"a.hdf", "X68000 SASI", "32832/256", DetectedImage::kPartitions, 0});
    WritePC98Disk(dir / "a.thd", {256, 33, 8, 40, true}, {{1, 39}});
    cases.push_back({"a.thd", "THD", "40/8/33/256", DetectedImage::kPartitions, 0});
    WritePC98Disk(dir / "p512.img", {512, 17, 8, 100, false}, {{1, 40}, {41, 99}});
    cases.push_back({"p512.img", "PC-9801", "100/8/17/512", DetectedImage::kPartitions, 0});
    // Volumes whose geometry fields are mkfs.fat's own, not the disk's.
    MakePC98Disk(dir / "mkfs98.img", PC98Header::None, PC98Geometry{512, 17, 8, 200}, {{1, 150, "A"}});
    cases.push_back({"mkfs98.img", "PC-9801", "200/8/17/512", DetectedImage::kPartitions, 0});
    WritePC98Disk(dir / "p256.img", {256, 33, 8, 60, false}, {{1, 59}});
    cases.push_back({"p256.img", "PC-9801", "60/8/33/256", DetectedImage::kPartitions, 0});
    WriteATDisk(dir / "at.img", 8);
    cases.push_back({"at.img", "AT", "16384/512", DetectedImage::kPartitions, 0});
    WriteHostFile(dir / "vol.img", floppy);
    cases.push_back({"vol.img", "Plain", "77/2/8/1024", DetectedImage::kVolume, 0});
    WriteHostFile(dir / "h68.xdf", h68);
    cases.push_back({"h68.xdf", "Plain", "8192/1024", DetectedImage::kVolume, 0});
    WriteHostFile(dir / "h3.xdf", BuildHuman68kFloppy({{"F.TXT", {'f'}}}));
    cases.push_back({"h3.xdf", "Plain", "77/2/8/1024", DetectedImage::kVolume, 0});
    // A 2HS floppy has the size of a 1.44 MB one; its boot record tells.
    ASSERT_EQ(RunShell("mkfs.fat -C -S 1024 -s 1 -r 192 -g 2/9 " + Quote(dir / "2hs.img") + " 1440 >/dev/null"), 0);
    cases.push_back({"2hs.img", "Plain", "80/2/9/1024", DetectedImage::kVolume, 0});
    ASSERT_EQ(RunShell("mkfs.fat -C " + Quote(dir / "144.img") + " 1440 >/dev/null"), 0);
    cases.push_back({"144.img", "Plain", "80/2/18/512", DetectedImage::kVolume, 0});

    for (const Case& c : cases) {
        DetectedImage d = Detect(dir / c.file);
        EXPECT_EQ(d.container, c.container) << c.file;
        EXPECT_EQ(d.geometryText, c.geometry) << c.file;
        EXPECT_EQ(d.road, c.road) << c.file;
        EXPECT_EQ(d.diskStart, c.diskStart) << c.file;
        bool wrapped = std::string(device->GetName()).find("Built-in File I/O") != 0;
        EXPECT_EQ(wrapped, c.container == "D88" || c.container == "NFD" || c.container == "DIM") << c.file;
    }
    EXPECT_TRUE(ui.boxes.empty()) << ui.Texts()[0];
}

// Plain images, random bytes and containers cut short are never taken for
// a container.
TEST_F(DetectTest, NothingIsTakenForAContainerWithoutCertainty) {
    MakeFatImage(dir / "plain.img", 1440, 12);
    DetectedImage d = Detect(dir / "plain.img");
    EXPECT_EQ(d.container, "Plain");
    EXPECT_EQ(d.geometryText, "80/2/18/512");
    EXPECT_EQ(std::string(device->GetName()), "Built-in File I/O");

    for (uint32_t seed = 1; seed <= 20; ++seed) {
        WriteHostFile(dir / "random.bin", RandomBytes(200000 + seed * 1000, seed));
        d = Detect(dir / "random.bin");
        EXPECT_EQ(d.road, DetectedImage::kPlain) << seed;
        EXPECT_EQ(d.container, "") << seed;
    }

    auto floppy = MakeFloppyVolume({});
    WriteD88(dir / "x.d88", {{"X", floppy, {}, 0}});
    WriteNFD(dir / "x.nfd", floppy);
    WriteDIM(dir / "x.dim", floppy, {});
    MakeAnex86Floppy(dir / "x.fdi");
    MakePC98Disk(dir / "x.hdi", PC98Header::Anex86, PC98Geometry{512, 17, 8, 200}, {{1, 150, "A"}});
    WritePC98Disk(dir / "x.thd", {256, 33, 8, 40, true}, {{1, 39}});
    for (const char* name : {"x.d88", "x.nfd", "x.dim", "x.fdi", "x.hdi", "x.thd"}) {
        auto bytes = ReadHostFile(dir / name);
        for (std::size_t keep : {std::size_t(20), std::size_t(700), bytes.size() / 2, bytes.size() - 1}) {
            WriteHostFile(dir / "cut.bin", std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(keep)));
            d = Detect(dir / "cut.bin");
            EXPECT_EQ(d.container, "") << name << " cut to " << keep;
            EXPECT_EQ(std::string(device->GetName()), "Built-in File I/O") << name << " cut to " << keep;
        }
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(DetectTest, TheDetectProfileIsPreselectedForFilesNoOtherProfileMatches) {
    MakeFatImage(dir / "plain.img", 1440, 12);
    MakePC98Disk(dir / "a.HDI", PC98Header::Anex86, PC98Geometry{512, 17, 8, 200}, {{1, 150, "A"}});
    TDiskOpener opener = Opener();
    ui.typeAnswers = {ScriptedUI::kKeep, ScriptedUI::kKeep};
    ui.partitionAnswers = {0};
    ASSERT_TRUE(DetectAndSelect(opener, dir / "plain.img", params));
    ASSERT_TRUE(DetectAndSelect(opener, dir / "a.HDI", params));
    EXPECT_EQ(ui.typeDialogs, (std::vector<int>{4, 3}));
    // The header profile names the format as well.
    EXPECT_EQ(LastOpenedFormat().container, "HDI");
    EXPECT_EQ(LastOpenedFormat().geometry, "200/8/17/512");
}

TEST_F(DetectTest, SeveralD88DisksAreChosenInThePartitionDialog) {
    auto a = MakeFloppyVolume({{"A.TXT", {'a'}}});
    auto b = MakeFloppyVolume({{"B.TXT", {'b'}}});
    WriteD88(dir / "two.d88", {{"DISK A", a, {}, 1}, {"DISK B", b, {}, 2}});
    TDiskOpener opener = Opener();
    ui.typeAnswers = {ScriptedUI::kKeep};
    ui.partitionAnswers = {1};
    ASSERT_TRUE(DetectAndSelect(opener, dir / "two.d88", params));
    ASSERT_EQ(ui.partitionRows.size(), 2u);
    EXPECT_EQ(ui.partitionRows[0].name, "1: DISK A");
    EXPECT_EQ(ui.partitionRows[1].name, "2: DISK B");
    EXPECT_EQ(ui.partitionRows[1].size, "1232KB");
    EXPECT_EQ(params.DiskStart, 1261568);
    EXPECT_EQ(LastOpenedFormat().container, "D88");
    EXPECT_EQ(LastOpenedFormat().geometry, "77/2/8/1024");
    EXPECT_EQ(RootNames(), "B.TXT;");
    // The rows stand for this container only.
    EXPECT_TRUE(opener.PartDialog.FixedRows.empty());
}

TEST_F(DetectTest, AutoSettingsAndSkipTypeSelectApplyToDetectedImages) {
    auto a = MakeFloppyVolume({{"A.TXT", {'a'}}});
    WriteD88(dir / "two.d88", {{"DISK A", a, {}, 1}, {"DISK B", a, {}, 2}});
    Settings("[ProgramSettings]\nSkipTypeSelect=1\nAutoHDDFirst=1\n");
    TDiskOpener opener = Opener();
    ASSERT_TRUE(DetectAndSelect(opener, dir / "two.d88", params));
    EXPECT_TRUE(ui.typeDialogs.empty());
    EXPECT_TRUE(ui.partitionDialogs.empty());
    EXPECT_EQ(params.DiskStart, 0);
    EXPECT_EQ(RootNames(), "A.TXT;");
}

TEST_F(DetectTest, UnreadableOrUnknownFilesComeBackToTheDialog) {
    // An NFD r1 header whose track table lies beyond the header is no NFD r1.
    std::vector<uint8_t> r1(100000, 0);
    std::memcpy(r1.data(), "T98FDDIMAGE.R1", 14);
    r1[0x111] = 0x04;  // header size 0x400
    r1[0x115] = 2;
    r1[0x121] = 0x05;  // track 0's table at 0x500
    WriteHostFile(dir / "r1.nfd", r1);
    TDiskOpener opener = Opener();
    ui.typeAnswers = {ScriptedUI::kKeep, ScriptedUI::kCancel};
    EXPECT_FALSE(DetectAndSelect(opener, dir / "r1.nfd", params));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("δεν είναι εικόνα δίσκου"), std::string::npos) << ui.boxes[0].text;
    EXPECT_EQ(params.Device, nullptr);

    // Nothing matched, and no boot record at byte 0: one message says so.
    WriteHostFile(dir / "random.bin", RandomBytes(50000, 5));
    ui.boxes.clear();
    ui.typeAnswers = {ScriptedUI::kKeep, ScriptedUI::kCancel};
    EXPECT_FALSE(DetectAndSelect(opener, dir / "random.bin", params));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, dir / "random.bin" + ": δεν είναι εικόνα δίσκου που αναγνωρίζει το Voldex (δεν βρέθηκε "
                                                    "κεφαλίδα, πίνακας διαμερισμάτων ή εγγραφή εκκίνησης)");
}

}  // namespace
