// The window's command line: options only as whole arguments, every other
// argument a path.
#include <gtest/gtest.h>

#include "explorer/startargs.h"

namespace {

StartArguments Parse(std::vector<std::string> args) { return ParseStartArguments(args); }

}  // namespace

TEST(StartArguments, AbsolutePathsArePathsNotOptions) {
    StartArguments a = Parse({"/home/me/disks/game.hdi"});
    EXPECT_EQ(a.paths, std::vector<std::string>{"/home/me/disks/game.hdi"});
    EXPECT_FALSE(a.options.profile);
    EXPECT_FALSE(a.options.skipTypeDialog);
    // "/P" and "/S" inside a path, at its start or after a folder, are the path's own.
    a = Parse({"/Pictures/x y/Saves/a.hdi", "/Sound/b.img"});
    EXPECT_EQ(a.paths, (std::vector<std::string>{"/Pictures/x y/Saves/a.hdi", "/Sound/b.img"}));
    EXPECT_FALSE(a.options.profile);
    EXPECT_FALSE(a.options.skipTypeDialog);
    a = Parse({"PC98/disk.img"});
    EXPECT_EQ(a.paths, std::vector<std::string>{"PC98/disk.img"});
    EXPECT_FALSE(a.options.profile);
    a = Parse({"/P", "/P[x", "/S/", "/s"});
    EXPECT_EQ(a.paths, (std::vector<std::string>{"/P", "/P[x", "/S/", "/s"}));
    EXPECT_FALSE(a.options.profile);
    EXPECT_FALSE(a.options.skipTypeDialog);
}

TEST(StartArguments, WholeOptionsInBothForms) {
    StartArguments a = Parse({"/S", "/tmp/x y/a.hdi", "/P[My Profile]"});
    EXPECT_EQ(a.paths, std::vector<std::string>{"/tmp/x y/a.hdi"});
    EXPECT_EQ(a.options.profile, "My Profile");
    EXPECT_TRUE(a.options.skipTypeDialog);
    a = Parse({"--profile=T98-Next", "--skip-type-dialog", "disk.nhd"});
    EXPECT_EQ(a.options.profile, "T98-Next");
    EXPECT_TRUE(a.options.skipTypeDialog);
    EXPECT_EQ(a.paths, std::vector<std::string>{"disk.nhd"});
    a = Parse({"--profile", "Boot at 0", "d.img"});
    EXPECT_EQ(a.options.profile, "Boot at 0");
    EXPECT_EQ(a.paths, std::vector<std::string>{"d.img"});
    // Empty brackets name an empty profile (reported as unknown when opening).
    EXPECT_EQ(Parse({"/P[]"}).options.profile, "");
    // The first profile counts.
    EXPECT_EQ(Parse({"/P[a]", "--profile=b"}).options.profile, "a");
}

TEST(StartArguments, DoubleDashEndsOptionsAndMistakesAreReported) {
    StartArguments a = Parse({"--", "/S", "--profile=x"});
    EXPECT_EQ(a.paths, (std::vector<std::string>{"/S", "--profile=x"}));
    EXPECT_FALSE(a.options.skipTypeDialog);
    EXPECT_FALSE(a.options.profile);
    // A word that looks like an option and is not one is refused, and
    // neither it nor the word after it becomes a path.
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"--frobnicate", "a.img"}, {"-x", "a.img"}, {"--lang", "fr", "a.img"},
          {"--lang=english", "a.img"}, {"--lang"}}) {
        a = Parse(words);
        EXPECT_FALSE(a.error.empty()) << words[0];
        EXPECT_TRUE(a.paths.empty()) << words[0];
    }
    a = Parse({"--lang", "en", "img"});
    EXPECT_EQ(a.language, Language::English);
    EXPECT_EQ(a.paths, std::vector<std::string>{"img"});
    EXPECT_EQ(Parse({"--lang=JA"}).language, Language::Japanese);
    EXPECT_EQ(Parse({"--", "-x"}).paths, std::vector<std::string>{"-x"});
    EXPECT_NE(std::string(StartUsage()).find("--lang el|en|ja"), std::string::npos);
    EXPECT_FALSE(Parse({"--profile"}).error.empty());
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({}).paths.empty());
}
