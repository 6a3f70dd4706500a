#include <gtest/gtest.h>

#include <sys/stat.h>

#include "floppy/makefdd.h"
#include "support/images.h"
#include "support/scripted_ui.h"

namespace {

bool Exists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

TEST(FloppyFormats, FourSizesInOrder) {
    const auto& f = FloppyFormats();
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0].ShownSize(), 1440u);
    EXPECT_EQ(f[1].ShownSize(), 1232u);
    EXPECT_EQ(f[2].ShownSize(), 720u);
    EXPECT_EQ(f[3].ShownSize(), 640u);
    EXPECT_EQ(f[0].Tracks(), 160u);
    EXPECT_EQ(f[0].TrackBytes(), 9216u);
    EXPECT_EQ(f[1].Tracks(), 154u);
    EXPECT_EQ(f[1].TrackBytes(), 8192u);
    EXPECT_EQ(FloppyFormatBySize(720), 2);
    EXPECT_EQ(FloppyFormatBySize(1200), -1);
    EXPECT_EQ(ImageFileName("backup"), "backup.disk");
    EXPECT_EQ(ImageFileName("/my.dir/backup"), "/my.dir/backup") << "a dot anywhere keeps the name";
}

class FloppyTest : public ::testing::Test, public UITest {
protected:
    TempDir dir;
};

TEST_F(FloppyTest, ReadsEveryTrackInOrder) {
    std::string src = dir / "drive";
    auto bytes = RandomBytes(1261568 + 5000, 3);  // a device may be longer than the format
    WriteHostFile(src, bytes);
    std::vector<uint32_t> seen;
    uint32_t total = 0;
    ASSERT_TRUE(MakeFloppyImage(src, dir / "out.img", 1, [&](uint32_t k, uint32_t n) {
        seen.push_back(k);
        total = n;
    }));
    auto out = ReadHostFile(dir / "out.img");
    ASSERT_EQ(out.size(), 1261568u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin()));
    EXPECT_EQ(total, 154u);
    ASSERT_EQ(seen.size(), 155u);
    EXPECT_EQ(seen[153], 153u);
    EXPECT_EQ(seen.back(), 0u) << "the progress goes back to 0";
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"?"});  // 706
}

TEST_F(FloppyTest, ChecksComeFirstAndNothingIsLeftOnFailure) {
    std::string src = dir / "drive";
    WriteHostFile(src, RandomBytes(737280, 1));
    EXPECT_FALSE(MakeFloppyImage(src, "", 0));
    EXPECT_FALSE(MakeFloppyImage("", dir / "a.img", 0));
    EXPECT_FALSE(MakeFloppyImage(src, dir / "a.img", -1));
    EXPECT_EQ(ui.boxes.size(), 3u);
    EXPECT_FALSE(Exists(dir / "a.img"));
    // A disk shorter than the format: the read fails at a track, no file stays.
    EXPECT_FALSE(MakeFloppyImage(src, dir / "b.img", 0));
    EXPECT_EQ(ui.boxes.back().text, "I/O ?");
    EXPECT_EQ(ui.boxes.back().style, kBoxStop);
    EXPECT_FALSE(Exists(dir / "b.img"));
    // No drive there.
    EXPECT_FALSE(MakeFloppyImage(dir / "nodrive", dir / "c.img", 2));
    EXPECT_FALSE(Exists(dir / "c.img"));
    // An output that cannot be made.
    EXPECT_FALSE(MakeFloppyImage(src, dir / "no/such/folder/d.img", 2));
    EXPECT_EQ(ui.boxes.back().text, dir / "no/such/folder/d.img" + "\n?");
}

TEST_F(FloppyTest, ExistingOutputIsAskedAbout) {
    std::string src = dir / "drive";
    WriteHostFile(src, RandomBytes(655360, 1));
    WriteHostFile(dir / "old.img", {1, 2, 3});
    ui.boxAnswers = {kIdNo};
    EXPECT_FALSE(MakeFloppyImage(src, dir / "old.img", 3));
    EXPECT_EQ(ui.boxes[0].text, dir / "old.img" + "\n?\n?");
    EXPECT_EQ(ui.boxes[0].style, kBoxYesNoQuestion);
    EXPECT_EQ(ReadHostFile(dir / "old.img"), (std::vector<uint8_t>{1, 2, 3}));
    ui.boxAnswers = {kIdYes};
    EXPECT_TRUE(MakeFloppyImage(src, dir / "old.img", 3));
    EXPECT_EQ(ReadHostFile(dir / "old.img").size(), 655360u);
}

TEST_F(FloppyTest, CommandLine) {
    std::string src = dir / "fd.img";
    ASSERT_EQ(RunShell("mkfs.fat -C -F 12 -S 1024 -s 1 -r 192 " + Quote(src) + " 1232"), 0);
    std::string out;
    EXPECT_EQ(RunShell(std::string(VOLDEX_CLI) + " mkfdd " + Quote(src) + " " + Quote(dir / "copy") + " --size 1232", &out), 0) << out;
    EXPECT_EQ(ReadHostFile(dir / "copy.disk"), ReadHostFile(src));
    EXPECT_EQ(RunShell(std::string(VOLDEX_CLI) + " ls " + Quote(dir / "copy.disk")), 0);
    EXPECT_NE(RunShell(std::string(VOLDEX_CLI) + " mkfdd " + Quote(src) + " " + Quote(dir / "x") + " --size 1440"), 0);
    EXPECT_FALSE(Exists(dir / "x.disk"));
}

}  // namespace
