#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>

#include "opening/diskopen.h"
#include "support/disks.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/diskimage.h"
#include "volume/didir.h"

namespace {

constexpr int kKeep = ScriptedUI::kKeep;
constexpr int kCancel = ScriptedUI::kCancel;

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

DISKPROFILE Profile(const std::string& name, int type, const std::string& ext = "", int32_t size = 0) {
    DISKPROFILE p;
    p.Name = name;
    p.ProfileType = type;
    p.Extension = ext;
    p.FileSize = size;
    return p;
}

class OpenTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        setenv("VOLDEX_HOME", home.path().c_str(), 1);
        PendingOpeningOptions() = {};
        floppy = dir / "plain.img";
        MakeFatImage(floppy, 1440, 12);
    }
    void TearDown() override {
        if (params.Device) params.Device->Destroy();
        unsetenv("VOLDEX_HOME");
        PendingOpeningOptions() = {};
    }
    void Settings(const std::string& text) {
        WriteHostFile(home / "kestrel.ini", std::vector<uint8_t>(text.begin(), text.end()));
    }
    bool Detect(TDiskOpener& opener, const std::string& path) {
        if (params.Device) params.Device->Destroy();
        params = VolumeParams{};
        return DetectAndSelect(opener, path, params);
    }
    // Mounts what Detect produced and reads one file's text.
    std::string FileText(const std::string& name) {
        DiskImage image;
        VolumeParams p = params;
        params.Device = nullptr;
        if (!image.Mount(p)) return "<no mount>";
        DIDir root(&image, 0);
        if (!root.Load()) return "<no root>";
        int i = root.Find(name);
        if (i < 0) return "<missing>";
        std::vector<uint8_t> cluster(image.ClusterSize);
        EXPECT_TRUE(image.ReadCluster(uint32_t(root.GetStartCluster(i)), cluster.data()));
        return std::string(cluster.begin(), cluster.begin() + root.GetSize(i));
    }
    TempDir home, dir;
    std::string floppy;
    VolumeParams params;
};

TEST_F(OpenTest, PlainImageOpensWithoutProfiles) {
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    ASSERT_EQ(opener.Items.size(), 3u);
    EXPECT_EQ(opener.Items[2], "Απλή εικόνα δίσκου");
    ui.typeAnswers = {kKeep};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(ui.typeDialogs, std::vector<int>{2});
    EXPECT_EQ(opener.FileNameLabel, floppy);
    EXPECT_EQ(params.FATType, kFAT12);
    EXPECT_NE(params.Device, nullptr);
}

TEST_F(OpenTest, PreselectionByExtensionAndSize) {
    std::vector<DISKPROFILE> profiles = {Profile("lower", 1, ".hdi"), Profile("Sized", 1, "", 1474560),
                                         Profile("HDI", 1, ".HDI"), Profile("HDI again", 1, ".HDI")};
    TDiskOpener opener(profiles);
    std::string hdi = dir / "Disk.hdi";
    WriteHostFile(hdi, std::vector<uint8_t>(1000, 0));
    ui.typeAnswers = {kCancel};
    EXPECT_FALSE(Detect(opener, hdi));
    EXPECT_EQ(ui.typeDialogs.back(), 5) << "upper-case .HDI, the first of two";
    ui.typeAnswers = {kCancel};
    EXPECT_FALSE(Detect(opener, floppy));
    EXPECT_EQ(ui.typeDialogs.back(), 4) << "the size alone matches";
    std::string other = dir / "x.bin";
    WriteHostFile(other, std::vector<uint8_t>(1000, 3));
    ui.typeAnswers = {kCancel};
    EXPECT_FALSE(Detect(opener, other));
    EXPECT_EQ(ui.typeDialogs.back(), 2);
    // A disk of 4 GiB + 1474560 bytes is not a floppy of 1474560 bytes.
    std::string huge = dir / "huge.bin";
    ASSERT_EQ(RunShell("truncate -s 4296441856 " + Quote(huge)), 0);
    ui.typeAnswers = {kCancel};
    EXPECT_FALSE(Detect(opener, huge));
    EXPECT_EQ(ui.typeDialogs.back(), 2) << "the whole size is compared, not its low 32 bits";
    EXPECT_EQ(PathExtension("/a.b/c"), "");
    EXPECT_EQ(PathExtension("/x/disk.Nhd"), ".NHD");
}

TEST_F(OpenTest, ProfileOptionSelectsAndIsBlanked) {
    TDiskOpener opener({Profile("Boot at 0", 1)});
    PendingOpeningOptions() = {"BOOT AT 0", true};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_TRUE(ui.typeDialogs.empty()) << "/S skips the dialog";
    EXPECT_EQ(opener.Selected, 3);
    EXPECT_FALSE(PendingOpeningOptions().profile);
    EXPECT_FALSE(PendingOpeningOptions().skipTypeDialog);
    // Used once: the next opening shows the dialog with the preselection
    // (the profile matches every file).
    ui.typeAnswers = {kCancel};
    EXPECT_FALSE(Detect(opener, floppy));
    EXPECT_EQ(ui.typeDialogs, std::vector<int>{3});
}

TEST_F(OpenTest, ProfileOptionMatchesBuiltInItems) {
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    PendingOpeningOptions() = {"απλή εικόνα δίσκου", true};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(opener.Selected, 2);
    EXPECT_TRUE(ui.boxes.empty());
}

// A disk type named on the command line by its stored name or by the name
// any of the three languages shows, ignoring case, access keys and dots.
TEST(FindDiskType, TakesTheNameInEveryLanguage) {
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    std::vector<std::string> items = opener.Items;
    items.push_back("Αναγνώριση από το περιεχόμενο");
    items.push_back("Anex86 (.HDI)");
    const std::pair<const char*, int> cases[] = {
        {"Αναγνώριση από το περιεχόμενο", 3}, {"αναγνώριση από το Περιεχόμενο", 3}, {"Detect by content", 3},
        {"DETECT BY CONTENT", 3}, {"内容から自動判別", 3}, {"Custom floppy disk...", 0}, {"custom floppy disk", 0},
        {"特殊フォーマットのハードディスク", 1}, {"plain disk image", 2}, {"anex86 (.hdi)", 4}, {"Detect", -1}, {"", -1}};
    for (const auto& [name, index] : cases) EXPECT_EQ(FindDiskType(items, name), index) << name;
}

TEST_F(OpenTest, UnknownProfileReports201AndAsksWithItem0) {
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    PendingOpeningOptions() = {"", false};
    ui.typeAnswers = {kCancel};
    EXPECT_FALSE(Detect(opener, floppy));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Το προφίλ «» δεν υπάρχει"});
    EXPECT_EQ(ui.typeDialogs, std::vector<int>{0});
    // A name that matches nothing: after OK, shown a second time.
    PendingOpeningOptions() = {"nothing", false};
    ui.typeDialogs.clear();
    ui.typeAnswers = {2, kKeep};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(ui.typeDialogs, (std::vector<int>{0, 2}));
    // ... unless /S suppresses it.
    PendingOpeningOptions() = {"nothing", true};
    ui.typeDialogs.clear();
    ui.typeAnswers = {2};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(ui.typeDialogs, std::vector<int>{0});
}

TEST_F(OpenTest, ShiftShowsTheDialogDespiteSkipSettings) {
    Settings("[ProgramSettings]\nSkipTypeSelect=1\n");
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_TRUE(ui.typeDialogs.empty());
    ui.shift = true;
    ui.typeAnswers = {kKeep};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(ui.typeDialogs.size(), 1u);
}

TEST_F(OpenTest, BadBootRecordReportsThenAsksAgain) {
    Settings("[ProgramSettings]\nSkipTypeSelect=1\n");
    std::string junk = dir / "junk.img";
    WriteHostFile(junk, std::vector<uint8_t>(4096, 0));
    TDiskOpener opener({Profile("Any", 1)});
    ui.typeAnswers = {kCancel};
    int before = OpenDescriptors();
    EXPECT_FALSE(Detect(opener, junk));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"[Εσφαλμένο μέθεθος cluster]\nΕσφαλμένη boot εγγραφή\nΚάποιες παράμετροι ίσως δεν ταιριάζουν"});
    EXPECT_EQ(ui.typeDialogs, std::vector<int>{3});
    EXPECT_EQ(params.Device, nullptr);
    EXPECT_EQ(OpenDescriptors(), before) << "cancelling leaves no device open";
}

TEST_F(OpenTest, MissingFileEndsTheOpening) {
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    ui.typeAnswers = {kKeep, kKeep};
    EXPECT_FALSE(Detect(opener, dir / "missing.img"));
    EXPECT_TRUE(ui.typeDialogs.empty()) << "nothing is asked about a file that is not there";
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{dir / "missing.img" + ": δεν υπάρχει τέτοιο αρχείο"});
}

TEST_F(OpenTest, FullVolumeProfileSkipsTheBootRecord) {
    DISKPROFILE p = Profile("Given", 2);
    const int32_t block[10] = {0, 0, 0, 512, 4608, 2, 9728, 16896, 512, 2847};
    std::copy(block, block + 10, p.Params);
    TDiskOpener opener({p});
    ui.typeAnswers = {3};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(params.ClustersCount, 2847u);
    EXPECT_EQ(params.UserArea, 16896);
}

TEST_F(OpenTest, InvalidProfileTypeJustAsksAgain) {
    TDiskOpener opener({Profile("Broken", 9)});
    ui.typeAnswers = {3, kCancel};
    EXPECT_FALSE(Detect(opener, floppy));
    EXPECT_EQ(ui.typeDialogs, (std::vector<int>{3, 3}));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(OpenTest, Anex86FloppyOpensBehindItsHeader) {
    std::string fdi = dir / "floppy.hdi";
    MakeAnex86Floppy(fdi);
    TDiskOpener opener({Profile("Anex86", 4, ".HDI")});
    ui.typeAnswers = {kKeep};
    ASSERT_TRUE(Detect(opener, fdi));
    EXPECT_TRUE(ui.partitionDialogs.empty());
    EXPECT_EQ(params.DiskStart, 4096);
    EXPECT_EQ(FileText("FLOPPY.TXT"), "fd\n");
}

TEST_F(OpenTest, Anex86HardDiskGoesThroughThePartitionDialog) {
    std::string hdi = dir / "disk.hdi";
    auto offsets = MakePC98Disk(hdi, PC98Header::Anex86, PC98Geometry{}, {{1, 150, "ONE"}, {151, 300, "TWO"}});
    TDiskOpener opener({Profile("Anex86", 4, ".HDI")});
    ui.typeAnswers = {kKeep};
    ui.partitionAnswers = {1};
    ASSERT_TRUE(Detect(opener, hdi));
    EXPECT_EQ(ui.partitionDialogs, std::vector<bool>{false});
    ASSERT_EQ(ui.partitionRows.size(), 2u);
    EXPECT_EQ(params.DiskStart, int32_t(offsets[1]));
    EXPECT_EQ(FileText("PART2.TXT"), "partition 2\n");
}

TEST_F(OpenTest, Anex86HeaderMustStartWithZero) {
    TDiskOpener opener({Profile("Anex86", 4)});
    std::string bad = dir / "bad.hdi";
    WriteHostFile(bad, std::vector<uint8_t>(512, 0xFF));
    ui.typeAnswers = {kKeep, kCancel};
    EXPECT_FALSE(Detect(opener, bad));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Το " + bad + "\nδεν έχει την μορφή δίσκου Anex86"});
    EXPECT_EQ(ui.typeDialogs, (std::vector<int>{3, 3}));
}

TEST_F(OpenTest, T98NextImage) {
    std::string nhd = dir / "disk.nhd";
    auto offsets = MakePC98Disk(nhd, PC98Header::T98Next, PC98Geometry{}, {{1, 150, "NHD"}});
    Settings("[ProgramSettings]\nAutoHDDSingle=1\nSkipTypeSelect=1\n");
    TDiskOpener opener({Profile("T98-Next", 5, ".NHD")});
    ASSERT_TRUE(Detect(opener, nhd));
    EXPECT_TRUE(ui.typeDialogs.empty());
    EXPECT_TRUE(ui.partitionDialogs.empty());
    EXPECT_EQ(params.DiskStart, int32_t(offsets[0]));
    EXPECT_EQ(FileText("PART1.TXT"), "partition 1\n");
    // Without the signature: 203, and the dialog again.
    PendingOpeningOptions() = {"t98-next", false};
    ui.typeAnswers = {kCancel};
    EXPECT_FALSE(Detect(opener, floppy));
    EXPECT_EQ(ui.Texts().back(), "Το " + floppy + "\nδεν έχει την μορφή δίσκου T98Next");
}

TEST_F(OpenTest, HardDiskOfSpecialFormatUsesDefaultGeometry) {
    std::string img = dir / "pc98.img";
    PC98Geometry g;
    g.sectors = 32;
    g.heads = 4;
    g.cylinders = 200;
    auto offsets = MakePC98Disk(img, PC98Header::None, g, {{2, 180, "X"}});
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    ui.typeAnswers = {1};
    ui.partitionAnswers = {0};
    ASSERT_TRUE(Detect(opener, img));
    EXPECT_EQ(ui.partitionDialogs, std::vector<bool>{true}) << "always shown, with its details";
    EXPECT_EQ(params.DiskStart, int32_t(offsets[0]));
}

TEST_F(OpenTest, FloppyOfSpecialFormatTakesTheTypedValues) {
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    ui.typeAnswers = {0};
    ui.manualAction = [](TManualDiskDialog& d) {
        EXPECT_EQ(d.editFAT, "0");
        EXPECT_EQ(d.cbFileSystem, 0);
        EXPECT_EQ(d.cbFATType, -1);
        EXPECT_FALSE(d.Confirm()) << "no FAT type selected";
        EXPECT_TRUE(d.ReadIPL());
        EXPECT_EQ(d.cbFATType, 0);
        EXPECT_EQ(d.editFAT, "512");
        EXPECT_EQ(d.editFATCount, "2");
        d.editClusters = "12abc";
        return d.Confirm();
    };
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(ui.manualDialogs, 1);
    EXPECT_EQ(params.FAT, 512);
    EXPECT_EQ(params.ClustersCount, 12u) << "reading stops at the first letter";
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Επιλέξτε τύπο FAT"});
}

TEST_F(OpenTest, ManualDialogSearchAndHuman68kSwitch) {
    Human68kLayout h;
    auto img = BuildHuman68kImage(h);
    img.insert(img.begin(), 65536, 0);
    std::string path = dir / "h68.img";
    WriteHostFile(path, img);
    auto fat = ReadHostFile(floppy);
    fat.insert(fat.begin(), 65536, 0);
    std::string fpath = dir / "fat.img";
    WriteHostFile(fpath, fat);
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    ui.typeAnswers = {0};
    ui.manualAction = [](TManualDiskDialog& d) {
        d.editVolumeStart = "65536";
        EXPECT_TRUE(d.ReadIPL());
        EXPECT_EQ(d.cbFileSystem, 1) << "a Human68k record switches the file system";
        EXPECT_EQ(d.editVolumeStart, "65536");
        d.editVolumeStart = "6x";
        EXPECT_FALSE(d.ReadIPL());
        return d.Confirm();
    };
    ASSERT_TRUE(Detect(opener, path));
    EXPECT_EQ(params.FileSystem, kFileSystemHuman68k);
    EXPECT_EQ(params.DiskStart, 6) << "OK reads the typed text the lenient way";
    ui.typeAnswers = {0};
    ui.manualAction = [](TManualDiskDialog& d) {
        std::string begin = "0";
        EXPECT_FALSE(d.Search("0", "0", begin));
        EXPECT_TRUE(d.Search("0", "512", begin));
        EXPECT_EQ(begin, "65536");
        EXPECT_TRUE(d.UseSearchResult(begin));
        return d.Confirm();
    };
    ASSERT_TRUE(Detect(opener, fpath));
    EXPECT_EQ(params.DiskStart, 65536);
    EXPECT_EQ(params.FATType, kFAT12);
}

// The plug-in exchange, through the sample library built for the tests.
class PluginTest : public OpenTest {
protected:
    void SetUp() override {
        OpenTest::SetUp();
        log = dir / "plugin.log";
        setenv("VOLDEX_TEST_LOG", log.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VOLDEX_TEST_LOG");
        unsetenv("VOLDEX_TEST_KIND");
        unsetenv("VOLDEX_TEST_PARAMS");
        OpenTest::TearDown();
    }
    TDiskOpener Opener(const std::string& library = VOLDEX_TEST_PLUGIN) {
        DISKPROFILE p = Profile("Plug", 6);
        p.Library = library;
        return TDiskOpener({p});
    }
    std::string Log() {
        auto b = ReadHostFile(log);
        return std::string(b.begin(), b.end());
    }
    std::string log;
};

TEST_F(PluginTest, Kind2MountsWithExactlyTheTenParameters) {
    setenv("VOLDEX_TEST_KIND", "2", 1);
    setenv("VOLDEX_TEST_PARAMS", "0,0,0,512,4608,2,9728,16896,512,2847", 1);
    {
        TDiskOpener opener = Opener();
        ui.typeAnswers = {3};
        ASSERT_TRUE(Detect(opener, floppy));
        EXPECT_EQ(params.FAT, 512);
        EXPECT_EQ(params.FATSize, 4608);
        EXPECT_EQ(params.ClustersCount, 2847u);
        EXPECT_STREQ(params.Device->GetName(), "Test plug-in");
        DiskImage image;
        VolumeParams p = params;
        params.Device = nullptr;
        ASSERT_TRUE(image.Mount(p));
        EXPECT_EQ(image.FreeClusters, 2847u);
        EXPECT_EQ(Log(), "open\n");
    }
    EXPECT_EQ(Log(), "open\ndestroy\nunload\n") << "Destroy before the library is unloaded";
}

TEST_F(PluginTest, ANegativeDiskStartIsRefusedNotRead) {
    // -2147483136 would wrap to 2 GiB + 512 in 32 bits; as a 64-bit start it
    // names no place at all.
    setenv("VOLDEX_TEST_KIND", "1", 1);
    setenv("VOLDEX_TEST_PARAMS", "-2147483136,0", 1);
    TDiskOpener opener = Opener();
    ui.typeAnswers = {3};  // the second question is cancelled
    EXPECT_FALSE(Detect(opener, floppy));
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes[0].text, "Εσφαλμένη αρχή τόμου: -2147483136");
}

TEST_F(PluginTest, Kind1DecodesTheBootRecord) {
    setenv("VOLDEX_TEST_KIND", "1", 1);
    setenv("VOLDEX_TEST_PARAMS", "0,0", 1);
    TDiskOpener opener = Opener();
    ui.typeAnswers = {3};
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(params.FATType, kFAT12);
    EXPECT_EQ(params.ClustersCount, 2847u);
}

TEST_F(PluginTest, Kind3RunsTheManualDialog) {
    setenv("VOLDEX_TEST_KIND", "3", 1);
    setenv("VOLDEX_TEST_PARAMS", "7,7,7,7,7,7,7,7,7,7", 1);
    TDiskOpener opener = Opener();
    ui.typeAnswers = {3};
    ui.manualAction = [](TManualDiskDialog& d) {
        EXPECT_EQ(d.editFAT, "0") << "the plug-in's values are not shown";
        return d.ReadIPL() && d.Confirm();
    };
    ASSERT_TRUE(Detect(opener, floppy));
    EXPECT_EQ(params.FAT, 512);
    EXPECT_EQ(params.DiskStart, 0);
}

TEST_F(PluginTest, Kinds4And5UseThePartitionDialog) {
    std::string img = dir / "pc98.img";
    auto offsets = MakePC98Disk(img, PC98Header::None, PC98Geometry{}, {{1, 150, "P"}});
    setenv("VOLDEX_TEST_PARAMS", "0,0,512,17,8,300", 1);
    for (const char* kind : {"4", "5"}) {
        setenv("VOLDEX_TEST_KIND", kind, 1);
        TDiskOpener opener = Opener();
        ui.partitionDialogs.clear();
        ui.typeAnswers = {3};
        ui.partitionAnswers = {0};
        ASSERT_TRUE(Detect(opener, img)) << kind;
        EXPECT_EQ(ui.partitionDialogs, std::vector<bool>{kind[0] == '5'});
        EXPECT_EQ(params.DiskStart, int32_t(offsets[0]));
    }
}

TEST_F(PluginTest, WrongKindReports204AndAsksAgain) {
    setenv("VOLDEX_TEST_KIND", "7", 1);
    TDiskOpener opener = Opener();
    ui.typeAnswers = {3, kCancel};
    EXPECT_FALSE(Detect(opener, floppy));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{std::string("Το DLL ") + VOLDEX_TEST_PLUGIN +
                                                   " επιστρέφει εσφαλμένο προφίλ για το " + floppy});
    EXPECT_EQ(ui.typeDialogs, (std::vector<int>{3, 3}));
    EXPECT_EQ(params.Device, nullptr);
    EXPECT_NE(Log().find("open\ndestroy\n"), std::string::npos);
}

TEST_F(PluginTest, LibraryFailures) {
    setenv("VOLDEX_TEST_KIND", "null", 1);
    {
        TDiskOpener opener = Opener();
        ui.typeAnswers = {3, kCancel};
        EXPECT_FALSE(Detect(opener, floppy));
        EXPECT_EQ(ui.Texts().back(), std::string("DLL ") + VOLDEX_TEST_PLUGIN + " はデバイス" + floppy +
                                         "を開けませんでした。");
    }
    {
        TDiskOpener opener = Opener(VOLDEX_NOENTRY_PLUGIN);
        ui.typeAnswers = {3, kCancel};
        EXPECT_FALSE(Detect(opener, floppy));
        EXPECT_EQ(ui.Texts().back(),
                  std::string("DLL ") + VOLDEX_NOENTRY_PLUGIN + " 内に必要な関数 OpenDevice がありません。");
    }
    {
        TDiskOpener opener = Opener("");
        ui.typeAnswers = {3, kCancel};
        EXPECT_FALSE(Detect(opener, floppy));
        EXPECT_EQ(ui.Texts().back(), "\nDLLが見つからないか、開けません。");
    }
}

}  // namespace
