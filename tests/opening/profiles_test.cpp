#include <gtest/gtest.h>

#include "opening/profiles.h"
#include "support/images.h"
#include "support/scripted_ui.h"

namespace {

class ProfilesTest : public ::testing::Test, public UITest {
protected:
    void Write(const std::string& name, const std::string& text) {
        WriteHostFile(dir / name, std::vector<uint8_t>(text.begin(), text.end()));
    }
    TempDir dir;
};

TEST_F(ProfilesTest, OnlyMarkedFilesCount) {
    Write("kestrel.ini", "[ProgramSettings]\nDnDMode=1\n");
    Write("other.ini", "; VoldexProfiles\n[NotMine]\nProfileType=2\n");
    Write("short.ini", ";Voldex");
    Write("notini.txt", ";VoldexProfiles\n[Nope]\nProfileType=2\n");
    EXPECT_TRUE(LoadProfiles(dir.path()).empty());
    Write("mine.ini", ";VoldexProfiles and some more words\r\n[Mine]\r\nProfileType=1\r\n");
    auto p = LoadProfiles(dir.path());
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].Name, "Mine");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ProfilesTest, KeysAreReadByType) {
    Write("a.ini",
          ";VoldexProfiles\n"
          "[Boot]\nExtension=.XDF\nFileSize=1261568\nProfileType=1\nDiskStart=1024\nFileSystem=1\nFATType=2\n"
          "[Full]\nProfileType=2\nDiskStart=1\nFileSystem=0\nFATType=1\nFAT=512\nFATSize=1024\nFATCount=2\n"
          "RootDir=2560\nUserArea=6656\nClusterSize=2048\nClustersCount=4000\nLibrary=ignored.so\n"
          "[Disk]\nProfileType=3\nHDDType=1\nDiskStart=512\nSecLen=256\nSectors=33\nHeads=8\nCylinders=615\n"
          "[Plug]\nProfileType=6\nLibrary=/opt/lib/x.so\nDiskStart=99\n");
    auto p = LoadProfiles(dir.path());
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].Extension, ".XDF");
    EXPECT_EQ(p[0].FileSize, 1261568);
    EXPECT_EQ(p[0].Params[0], 1024);
    EXPECT_EQ(p[0].Params[1], 1);
    EXPECT_EQ(p[0].Params[2], 0) << "type 1 reads only DiskStart and FileSystem";
    const int32_t full[10] = {1, 0, 1, 512, 1024, 2, 2560, 6656, 2048, 4000};
    EXPECT_TRUE(std::equal(full, full + 10, p[1].Params));
    EXPECT_EQ(p[1].Library, "");
    const int32_t geo[10] = {1, 512, 256, 33, 8, 615, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(geo, geo + 10, p[2].Params));
    EXPECT_EQ(p[3].Library, "/opt/lib/x.so");
    EXPECT_EQ(p[3].Params[0], 0);
}

TEST_F(ProfilesTest, FilesInNameOrderSectionsInFileOrderAndTheLimit) {
    std::string b = ";VoldexProfiles\n", a = ";VoldexProfiles\n";
    for (int k = 0; k < 30; ++k) b += "[B" + std::to_string(k) + "]\nProfileType=1\n";
    for (int k = 0; k < 30; ++k) a += "[A" + std::to_string(k) + "]\nProfileType=1\n";
    Write("b.ini", b);
    Write("a.ini", a);
    auto p = LoadProfiles(dir.path());
    ASSERT_EQ(p.size(), 47u) << "the 48th and later are not loaded";
    EXPECT_EQ(p[0].Name, "A0");
    EXPECT_EQ(p[29].Name, "A29");
    EXPECT_EQ(p[30].Name, "B0");
    EXPECT_EQ(p[46].Name, "B16");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ProfilesTest, BadTypeIsReportedAndKept) {
    Write("p.ini", ";VoldexProfiles\n[NoType]\nExtension=.IMG\n[Eight]\nProfileType=8\n[Same]\nProfileType=2\n");
    Write("q.ini", ";VoldexProfiles\n[Same]\nProfileType=2\n");
    auto p = LoadProfiles(dir.path());
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].ProfileType, 0);
    EXPECT_EQ(p[1].ProfileType, 8);
    EXPECT_EQ(p[2].Name, p[3].Name);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Εσφαλμένος τύπος προφίλ για το [NoType]",
                                                    "Εσφαλμένος τύπος προφίλ για το [Eight]"}));
}

}  // namespace

namespace {

TEST(ProfileFolders, LaterFoldersReplaceFilesAndCatchAllProfilesComeLast) {
    UITest quiet;
    TempDir shipped, user;
    auto write = [](const std::string& path, const std::string& text) {
        WriteHostFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    };
    write(shipped / "a.ini", ";VoldexProfiles\n[Any file]\nProfileType=2\n[Shipped HDI]\nExtension=.HDI\nProfileType=4\n");
    write(shipped / "b.ini", ";VoldexProfiles\n[Shipped NHD]\nExtension=.NHD\nProfileType=5\n");
    write(user / "b.ini", ";VoldexProfiles\n[My NHD]\nExtension=.NHD\nProfileType=5\n");
    write(user / "c.ini", ";VoldexProfiles\n[My 2HD]\nFileSize=1261568\nProfileType=1\n"
                          "[Shipped HDI]\nExtension=.HDI\nProfileType=1\n");
    auto p = LoadProfiles(std::vector<std::string>{shipped.path(), user.path()});
    std::vector<std::string> names;
    for (const auto& x : p) names.push_back(x.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"Shipped HDI", "My NHD", "My 2HD", "Any file"}));
    EXPECT_EQ(p[0].ProfileType, 1) << "a user's profile takes the place of the shipped one of its name";
    // Detection by content is there without any profile file, and only once.
    auto built = WithDetectionByContent({});
    ASSERT_EQ(built.size(), 1u);
    EXPECT_EQ(built[0].ProfileType, kProfileDetect);
    EXPECT_EQ(WithDetectionByContent(p).size(), 5u);
    EXPECT_EQ(WithDetectionByContent(built).size(), 1u);
}

}  // namespace
