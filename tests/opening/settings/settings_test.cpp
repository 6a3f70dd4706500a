#include <gtest/gtest.h>

#include <cstdlib>

#include "opening/settings/config.h"
#include "opening/settings/inifile.h"
#include "support/images.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("VOLDEX_HOME", home.path().c_str(), 1); }
    void TearDown() override { unsetenv("VOLDEX_HOME"); }
    std::string Text(const std::string& path) {
        auto b = ReadHostFile(path);
        return std::string(b.begin(), b.end());
    }
    TempDir home;
};

TEST_F(SettingsTest, MissingFileReadsAsDefaults) {
    EXPECT_EQ(SettingsPath(), home.path() + "/kestrel.ini");
    for (const char* key : {"DnDMode", "NotifyExtract", "MovingDialog", "ImportDialog", "ShowExtendingTree",
                            "ShowThisDir", "ShowParentDir", "ExitOnCancel", "SkipTypeSelect", "AutoHDDSingle",
                            "AutoHDDFirst"})
        EXPECT_EQ(Setting(key), 0) << key;
    EXPECT_EQ(SettingText("LastOpenDir"), "");
}

TEST_F(SettingsTest, AByteOrderMarkHidesNothing) {
    // Windows editors write a UTF-8 byte-order mark before the first section.
    std::string text = "\xEF\xBB\xBF[ProgramSettings]\r\nAutoHDDFirst=1\r\nLastOpenDir=/a\r\n";
    WriteHostFile(SettingsPath(), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(Setting("AutoHDDFirst"), 1);
    EXPECT_EQ(SettingText("LastOpenDir"), "/a");
    EXPECT_TRUE(WriteSettingInt(kSettingsSection, "DnDMode", 1));
    EXPECT_EQ(Setting("AutoHDDFirst"), 1) << "a write keeps the section it found";
    EXPECT_EQ(Text(SettingsPath()).find("[ProgramSettings]"), 0u) << "and the file stays one section, not two";
    EXPECT_EQ(Text(SettingsPath()).find("[ProgramSettings]", 1), std::string::npos);
}

TEST_F(SettingsTest, WritesCreateTheFileAndKeepEverythingElse) {
    WriteHostFile(SettingsPath(), {});
    std::string original =
        "; my notes\r\n[Other]\r\nKeep=this\r\n\r\n[ProgramSettings]\r\nDnDMode=1\r\nLastOpenDir=/old\r\n";
    WriteHostFile(SettingsPath(), std::vector<uint8_t>(original.begin(), original.end()));
    EXPECT_TRUE(WriteSettingString(kSettingsSection, "LastOpenDir", "/new/place"));
    EXPECT_TRUE(WriteSettingInt(kSettingsSection, "NotifyExtract", 1));
    EXPECT_TRUE(WriteSettingInt("Third", "X", 5));
    EXPECT_EQ(Text(SettingsPath()),
              "; my notes\r\n[Other]\r\nKeep=this\r\n\r\n[ProgramSettings]\r\nDnDMode=1\r\nLastOpenDir=/new/place\r\n"
              "NotifyExtract=1\r\n[Third]\r\nX=5\r\n");
    EXPECT_EQ(SettingText("LastOpenDir"), "/new/place");
    EXPECT_EQ(ReadSettingString("other", "KEEP"), "this") << "names match without regard to case";
    // No temporary file is left behind.
    std::string listing;
    RunShell("ls -A " + Quote(home.path()), &listing);
    EXPECT_EQ(listing, "kestrel.ini\n");
}

TEST_F(SettingsTest, FirstWriteCreatesTheFile) {
    EXPECT_TRUE(WriteSettingInt(kSettingsSection, "AutoHDDFirst", 1));
    EXPECT_EQ(Text(SettingsPath()), "[ProgramSettings]\r\nAutoHDDFirst=1\r\n");
    EXPECT_EQ(Setting("AutoHDDFirst"), 1);
}

TEST_F(SettingsTest, IntegerAndTextRules) {
    std::string ini = "[ProgramSettings]\nDnDMode=2\nNotifyExtract = 7 apples\nMovingDialog=abc\nImportDialog=-3\n"
                      "ShowThisDir=0x1F\nLastExportDir=" +
                      std::string(300, 'x') + "\nLastImportDir=\"quoted value\"\n";
    WriteHostFile(SettingsPath(), std::vector<uint8_t>(ini.begin(), ini.end()));
    EXPECT_EQ(Setting("DnDMode"), 2) << "a 2 written by hand counts as on";
    EXPECT_EQ(Setting("NotifyExtract"), 7);
    EXPECT_EQ(Setting("MovingDialog"), 0) << "no digits";
    EXPECT_EQ(Setting("ImportDialog"), -3);
    EXPECT_EQ(Setting("ShowThisDir"), 31);
    EXPECT_EQ(SettingText("LastExportDir"), std::string(259, 'x'));
    EXPECT_EQ(SettingText("LastImportDir"), "quoted value");
}

TEST(IniFile, SectionNamesInFileOrder) {
    TempDir d;
    std::string p = d / "x.ini";
    std::string text = ";VoldexProfiles\n[Zeta]\na=1\n[Alpha]\n  [ Mid Section ]  \n[Zeta]\n";
    WriteHostFile(p, std::vector<uint8_t>(text.begin(), text.end()));
    IniFile f(p);
    EXPECT_EQ(f.SectionNames(), (std::vector<std::string>{"Zeta", "Alpha", "Mid Section", "Zeta"}));
    int v = 9;
    EXPECT_FALSE(ParseProfileInt("", v));
    EXPECT_TRUE(ParseProfileInt("  +12x", v));
    EXPECT_EQ(v, 12);
}

}  // namespace
