#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "explorer/ops/exporter.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/hostnames.h"
#include "explorer/ops/importer.h"
#include "support/images.h"
#include "support/root_fixture.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"
#include "volume/fsck/checker.h"

namespace {

class ImportTest : public RootFixture, public UITest {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12);
        src = dir / "src";
        mkdir(src.c_str(), 0755);
        longNames = false;  // the 8.3 rules; long names have their own tests
        Mount();
    }
    std::string Host(const std::string& name, std::size_t size, uint32_t seed = 1) {
        std::string p = src + "/" + name;
        WriteHostFile(p, RandomBytes(size, seed));
        return p;
    }
    std::string Mtype(const std::string& path) {
        std::string out;
        RunShell("mtype -i " + Quote(image) + " " + Quote("::" + path), &out);
        return out;
    }
    std::string src;
};

TEST_F(ImportTest, FilesAndFoldersArrive) {
    std::string a = Host("a.txt", 100, 1);
    std::string big = Host("big.bin", 5000, 2);
    std::string empty = Host("empty.dat", 0);
    mkdir((src + "/folder").c_str(), 0755);
    mkdir((src + "/folder/inner").c_str(), 0755);
    WriteHostFile(src + "/folder/inner/deep.txt", {'d', 'e', 'e', 'p'});
    RunShell("touch -d '2003-04-05 06:07:09' " + Quote(a));
    chmod(big.c_str(), 0444);
    EXPECT_EQ(ImportFileList(*root, {a, big, empty, src + "/folder"}, false), owYes);
    int i = root->Find("A.TXT");
    ASSERT_GE(i, 0);
    EXPECT_EQ(root->GetSize(i), 100u);
    EXPECT_EQ(root->GetTimeText(i), "2003/04/05 06:07:08") << "two-second resolution";
    EXPECT_EQ(root->GetAttrText(i), "A");
    EXPECT_EQ(root->GetAttrText(root->Find("BIG.BIN")), "RA");
    int e = root->Find("empty.dat");
    EXPECT_EQ(root->GetSize(e), 0u);
    EXPECT_EQ(root->GetStartCluster(e), 0);
    EXPECT_EQ(root->GetAttr(root->Find("FOLDER")), kAttrDirectory);
    ExpectSound();
    EXPECT_EQ(Mtype("FOLDER/INNER/DEEP.TXT"), "deep");
    auto bytes = RandomBytes(5000, 2);
    EXPECT_EQ(Mtype("BIG.BIN"), std::string(bytes.begin(), bytes.end()));
    EXPECT_TRUE(ui.boxes.empty()) << ui.Texts()[0];
}

TEST_F(ImportTest, ProgressCountsTheFilesDone) {
    std::vector<std::string> paths = {Host("x1", 1), Host("x2", 1), Host("x3", 1)};
    ImportFileList(*root, paths, false);
    std::vector<std::string> panel0, panel1;
    for (auto& [p, t] : ui.status) (p == 0 ? panel0 : panel1).push_back(t);
    // Each count is of the files finished before the one being written.
    EXPECT_EQ(panel0, (std::vector<std::string>{"Γράφονται 3 αρχεία (0 τελείωσαν)", "Γράφονται 3 αρχεία (1 τελείωσαν)",
                                                "Γράφονται 3 αρχεία (2 τελείωσαν)"}));
    EXPECT_EQ(panel1.front(), "Εγγραφή... x1");
}

TEST_F(ImportTest, NamesMeetAfterConversion) {
    std::string spaced = Host("read me.txt", 10, 1);
    mkdir((src + "/other").c_str(), 0755);
    WriteHostFile(src + "/other/readme.txt", RandomBytes(20, 2));
    ui.overwriteAnswers = {owNo};
    ImportFileList(*root, {spaced, src + "/other/readme.txt"}, false);
    ASSERT_EQ(ui.overwriteQuestions.size(), 1u);
    EXPECT_EQ(ui.overwriteQuestions[0].first, "README.TXT");
    EXPECT_EQ(ui.overwriteQuestions[0].second, src + "/other/readme.txt");
    EXPECT_EQ(root->GetSize(root->Find("README.TXT")), 10u) << "No keeps the first";
}

// Names cut to the same 8.3 form stay apart; only a source whose own name
// an entry bears is asked about.
TEST_F(ImportTest, ShortenedNamesNeverMeet) {
    std::string one = Host("longfilename1.txt", 10, 1), two = Host("longfilename2.txt", 20, 2);
    ui.overwriteAnswers = {owYes};
    ImportFileList(*root, {one, two, Host("LONGFILE.TXT", 30, 3)}, false);
    EXPECT_EQ(ui.changedNames, (std::vector<std::pair<std::string, std::string>>{
                                   {"longfilename1.txt", "LONGFILE.TXT"}, {"longfilename2.txt", "LONGFI~1.TXT"}}));
    ASSERT_EQ(ui.overwriteQuestions.size(), 1u);
    EXPECT_EQ(ui.overwriteQuestions[0].second, src + "/LONGFILE.TXT");
    EXPECT_EQ(root->GetSize(root->Find("LONGFILE.TXT")), 30u);
    EXPECT_EQ(root->GetSize(root->Find("LONGFI~1.TXT")), 20u);
    ExpectSound();
}

// The label is no file: a folder may bear its name, by 8.3 lookups and by
// long-name ones with their aliases, and the label stays.
TEST_F(ImportTest, TheLabelsNameIsFree) {
    mkdir((src + "/MYDISK").c_str(), 0755);
    WriteHostFile(src + "/MYDISK/a.txt", {'a'});
    Unmount();
    ASSERT_EQ(RunShell("mlabel -i " + Quote(image) + " ::MYDISK"), 0);
    Mount();
    EXPECT_EQ(ImportFileList(*root, {src + "/MYDISK"}, false), owYes);
    ExpectSound();
    Unmount();
    ASSERT_EQ(RunShell("mlabel -i " + Quote(image) + " ::OTHER"), 0);
    longNames = true;
    Mount();
    EXPECT_EQ(MakeFolderIn(*root, "OTHER").status, OpStatus::kOk);
    EXPECT_EQ(MakeFolderIn(*root, "mydisk").status, OpStatus::kExists) << "a folder's name is taken";
    ExpectSound();
    EXPECT_TRUE(ui.boxes.empty()) << ui.Texts()[0];
    std::string out;
    RunShell("mlabel -s -i " + Quote(image) + " ::", &out);
    EXPECT_NE(out.find("OTHER"), std::string::npos) << out;
    EXPECT_EQ(Mtype("MYDISK/A.TXT"), "a");
}

TEST_F(ImportTest, ReplacingFreesTheOldChain) {
    std::string f = Host("f.bin", 3000, 1);
    ImportFileList(*root, {f}, false);
    uint32_t freeAfterFirst = m->FreeClusters;
    WriteHostFile(f, RandomBytes(600, 9));
    ui.overwriteAnswers = {owYes};
    EXPECT_EQ(ImportFileList(*root, {f}, false), owYes);
    EXPECT_EQ(m->FreeClusters, freeAfterFirst + 6 - 2);
    ExpectSound();
    auto b = RandomBytes(600, 9);
    EXPECT_EQ(Mtype("F.BIN"), std::string(b.begin(), b.end()));
}

TEST_F(ImportTest, ExistingFolderIsNotMergedInto) {
    mkdir((src + "/d").c_str(), 0755);
    WriteHostFile(src + "/d/one", {1});
    ImportFileList(*root, {src + "/d"}, false);
    ASSERT_TRUE(ui.boxes.empty());
    EXPECT_EQ(ImportFileList(*root, {src + "/d"}, false), owCancel);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Υπάρχει ήδη φάκελος με το όνομα\nD", "Η εισαγωγή αρχείων διακόπηκε"}));
}

// A stop asked for between files ends the import there, inside a folder
// as between the paths given; what was written stays, and sound.
TEST_F(ImportTest, StopAskedEndsAfterTheFileAtHand) {
    mkdir((src + "/d").c_str(), 0755);
    for (const char* n : {"a", "b", "c"}) WriteHostFile(src + "/d/" + n, RandomBytes(700, 3));
    ui.stopAt = 0;
    EXPECT_EQ(ImportFileList(*root, {src + "/d", Host("after", 10)}, false), owCancel);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Η εισαγωγή αρχείων διακόπηκε"});
    DIDir d(m.image.get(), uint32_t(root->GetStartCluster(root->Find("D"))));
    ASSERT_TRUE(d.Load());
    EXPECT_GE(d.Find("A"), 0);
    EXPECT_LT(d.Find("B"), 0);
    EXPECT_LT(root->Find("AFTER"), 0);
    ExpectSound();
}

TEST_F(ImportTest, YesToAllReachesIntoSubfolders) {
    std::string top = Host("top", 1, 1);
    ImportFileList(*root, {top}, false);
    // X.TXT and x.txt are two host files but one volume name.
    mkdir((src + "/newd").c_str(), 0755);
    WriteHostFile(src + "/newd/X.TXT", {1});
    WriteHostFile(src + "/newd/x.txt", {2, 2});
    ui.overwriteAnswers = {owYesToAll};
    EXPECT_EQ(ImportFileList(*root, {top, src + "/newd"}, false), owYesToAll);
    EXPECT_EQ(ui.overwriteQuestions.size(), 1u) << "one answer serves the files inside the new folder too";
    DIDir d(m.image.get(), uint32_t(root->GetStartCluster(root->Find("NEWD"))));
    ASSERT_TRUE(d.Load());
    EXPECT_EQ(d.GetSize(d.Find("X.TXT")), 2u);
    ExpectSound();
}

TEST_F(ImportTest, FileNamedLikeAFolderIsSkipped) {
    mkdir((src + "/sub").c_str(), 0755);
    ImportFileList(*root, {src + "/sub"}, false);
    TempDir other;
    WriteHostFile(other / "SUB", {1});
    WriteHostFile(other / "next", {2});
    EXPECT_EQ(ImportFileList(*root, {other / "SUB", other / "next"}, false), owYes);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Υπάρχει ήδη φάκελος με το όνομα\nSUB"});
    EXPECT_GE(root->Find("NEXT"), 0) << "the import goes on";
}

TEST_F(ImportTest, FullVolumeStopsWith113AndLosesNothing) {
    std::string fill = Host("fill.bin", 1400 * 1024, 1);
    ImportFileList(*root, {fill}, false);
    ExpectSound();
    auto fatBefore = m->FATTable();
    uint32_t freeBefore = m->FreeClusters;
    std::string tooBig = Host("toobig.bin", (freeBefore + 1) * 512, 2);
    std::string after = Host("after.txt", 5, 3);
    EXPECT_EQ(ImportFileList(*root, {tooBig, after}, false), owCancel);
    EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Δεν υπάρχει αρκετός χώρος για το αρχείο\n" + tooBig,
                                                    "Η εισαγωγή αρχείων διακόπηκε"}));
    EXPECT_EQ(m->FATTable(), fatBefore) << "refused before any cluster is taken";
    EXPECT_EQ(m->FreeClusters, freeBefore);
    EXPECT_LT(root->Find("TOOBIG.BIN"), 0) << "the entry is released";
    EXPECT_LT(root->Find("AFTER.TXT"), 0) << "the import stopped";
    ExpectSound();
    auto b = RandomBytes(1400 * 1024, 1);
    EXPECT_EQ(Mtype("FILL.BIN"), std::string(b.begin(), b.end()));
}

TEST_F(ImportTest, CancelAndConfirmation) {
    std::string f = Host("f", 10);
    EXPECT_EQ(ImportFileList(*root, {f}, true), owYes) << "the scripted list answers Yes by default";
    struct Refusing : ScriptedUI {
        bool ConfirmImport(const std::vector<std::string>& paths) override {
            seen = paths;
            return false;
        }
        std::vector<std::string> seen;
    } refusing;
    ScopedUserInterface scope(&refusing);
    std::string g = Host("g", 10);
    EXPECT_EQ(ImportFileList(*root, {g}, true), owCancel);
    EXPECT_EQ(refusing.seen, std::vector<std::string>{g});
    EXPECT_LT(root->Find("G"), 0);
    // Cancel in the overwrite question stops the import; what came before stays.
    std::string h = Host("h", 10);
    refusing.overwriteAnswers = {owCancel};
    EXPECT_EQ(ImportFileList(*root, {h, f, Host("later", 1)}, false), owCancel);
    EXPECT_GE(root->Find("H"), 0);
    EXPECT_LT(root->Find("LATER"), 0);
}

TEST_F(ImportTest, MissingHostPathStops) {
    EXPECT_EQ(ImportFileList(*root, {src + "/nothing"}, false), owCancel);
    EXPECT_EQ(ui.Texts().front(), "Δεν βρέθηκε αρχείο στον φάκελο\n" + src + "/nothing");
}

TEST_F(ImportTest, SymbolicLinkLoopEnds) {
    mkdir((src + "/loop").c_str(), 0755);
    WriteHostFile(src + "/loop/f", {1});
    ASSERT_EQ(symlink((src + "/loop").c_str(), (src + "/loop/again").c_str()), 0);
    EXPECT_EQ(ImportFileList(*root, {src + "/loop"}, false), owYes);
    DIDir loop(m.image.get(), uint32_t(root->GetStartCluster(root->Find("LOOP"))));
    ASSERT_TRUE(loop.Load());
    EXPECT_GE(loop.Find("F"), 0);
    EXPECT_LT(loop.Find("AGAIN"), 0);
    EXPECT_EQ(LastImportSkipped(), 1u);
    EXPECT_TRUE(ui.Showed("Παραλείφθηκε: σύνδεσμος προς φάκελο που τον περιέχει\n" + src + "/loop/again"));
    ExpectSound();
}

TEST_F(ImportTest, ALinkToASiblingIsCopiedAndTheSiblingToo) {
    mkdir((src + "/s").c_str(), 0755);
    mkdir((src + "/s/a").c_str(), 0755);
    mkdir((src + "/s/b").c_str(), 0755);
    WriteHostFile(src + "/s/b/in.txt", {'b'});
    ASSERT_EQ(symlink("../b", (src + "/s/a/link").c_str()), 0);
    EXPECT_EQ(ImportFileList(*root, {src + "/s"}, false), owYes);
    EXPECT_EQ(LastImportSkipped(), 0u);
    EXPECT_TRUE(ui.boxes.empty()) << ui.Texts()[0];
    EXPECT_EQ(Mtype("S/A/LINK/IN.TXT"), "b");
    EXPECT_EQ(Mtype("S/B/IN.TXT"), "b");
    ExpectSound();
}

// Host times outside what an entry holds are stored as the nearest end.
TEST_F(ImportTest, TimesOutsideTheVolumesRangeAreClampedNotWrapped) {
    Human68kLayout h;
    const std::string x68 = dir / "h.hds";
    WriteHostFile(x68, BuildHuman68kImage(h));
    const std::vector<std::pair<const char*, const char*>> table = {
        {"1975-06-01 12:00:00", "1980/01/01 00:00:00"}, {"1979-12-31 23:59:59", "1980/01/01 00:00:00"},
        {"1980-01-01 00:00:00", "1980/01/01 00:00:00"}, {"2107-12-31 23:59:58", "2107/12/31 23:59:58"},
        {"2108-01-01 00:00:00", "2107/12/31 23:59:58"}, {"2200-03-04 05:06:07", "2107/12/31 23:59:58"},
    };
    std::vector<std::string> files;
    for (std::size_t k = 0; k < table.size(); ++k) {
        files.push_back(Host("t" + std::to_string(k), 1));
        ASSERT_EQ(RunShell("touch -d '" + std::string(table[k].first) + "' " + Quote(files.back())), 0);
    }
    ImportFileList(*root, files, false);
    Mounted hm = MountImageFile(x68);
    ASSERT_TRUE(hm);
    DIDir hroot(hm.image.get(), 0);
    ASSERT_TRUE(hroot.Load());
    ImportFileList(hroot, files, false);
    for (std::size_t k = 0; k < table.size(); ++k) {
        EXPECT_EQ(root->GetTimeText(root->Find("T" + std::to_string(k))), table[k].second) << table[k].first;
        EXPECT_EQ(hroot.GetTimeText(hroot.Find("t" + std::to_string(k))), table[k].second) << table[k].first;
    }
}

TEST_F(ImportTest, JapaneseAndUnmappableNames) {
    std::string jp = Host("日本語.txt", 3);
    std::string greek = Host("ω.txt", 3);  // no Shift-JIS form? omega has one: it stays
    std::string emoji = Host("a😀b.txt", 3);
    ImportFileList(*root, {jp, greek, emoji}, false);
    EXPECT_GE(root->Find("\x93\xFA\x96\x7B\x8C\xEA.TXT"), 0);
    EXPECT_GE(root->Find("\x83\xD6.TXT"), 0);
    EXPECT_GE(root->Find("A_B.TXT"), 0) << "a character with no Shift-JIS form becomes _";
}

// Japanese names cut to 18 bytes take a "~N" tail counted in Shift-JIS
// bytes; none replaces another, and the checker finds nothing.
TEST(ImportHuman68k, ShortenedNamesStayApart) {
    UITest t;
    TempDir dir;
    Human68kLayout h;
    std::string path = dir / "h.hds";
    WriteHostFile(path, BuildHuman68kImage(h));
    const std::string one = dir / "とても長い日本語のファイル名_その一.txt", two = dir / "とても長い日本語のファイル名_その二.txt";
    WriteHostFile(one, {'1'});
    WriteHostFile(two, {'2', '2'});
    mkdir((dir / "とても長い日本語のフォルダ名").c_str(), 0755);
    Mounted m = MountImageFile(path);
    DIDir root(m.image.get(), 0);
    ASSERT_TRUE(root.Load());
    ImportFileList(root, {one, two, dir / "とても長い日本語のフォルダ名", two}, false);
    const std::vector<std::pair<std::string, std::string>> told = {
        {HostBaseName(one), "とても長い日本語の.txt"},
        {HostBaseName(two), "とても長い日本語~1.txt"},
        {"とても長い日本語のフォルダ名", "とても長い日本語の"},
        {HostBaseName(two), "とても長い日本語~2.txt"}};
    EXPECT_EQ(t.ui.changedNames, told);
    EXPECT_TRUE(t.ui.overwriteQuestions.empty());
    EXPECT_EQ(root.GetSize(root.FindName("とても長い日本語の.txt")), 1u);
    EXPECT_EQ(root.GetSize(root.FindName("とても長い日本語~1.txt")), 2u);
    EXPECT_EQ(Utf8ToSjis("とても長い日本語~1").size(), 18u);
    EXPECT_TRUE(CheckVolume(*m.image).findings.empty());
}

TEST(ImportHuman68k, KeepsLowerCaseAndLongNames) {
    UITest t;
    TempDir dir;
    Human68kLayout h;
    std::string path = dir / "h.hds";
    WriteHostFile(path, BuildHuman68kImage(h));
    WriteHostFile(dir / "a_long_name_for_x68k.doc", RandomBytes(2000, 1));
    mkdir((dir / "Folder_With_Long_Name").c_str(), 0755);
    WriteHostFile(dir / "Folder_With_Long_Name/inner.c", {'x'});
    {
        Mounted m = MountImageFile(path);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        ImportFileList(root, {dir / "a_long_name_for_x68k.doc", dir / "Folder_With_Long_Name"}, false);
    }
    Mounted m = MountImageFile(path);
    DIDir root(m.image.get(), 0);
    ASSERT_TRUE(root.Load());
    EXPECT_EQ(root.GetDisplayName(0), "a_long_name_for_x6.doc");
    EXPECT_EQ(root.GetDisplayName(1), "Folder_With_Long_N");
    DIDir sub(m.image.get(), uint32_t(root.GetStartCluster(1)));
    ASSERT_TRUE(sub.Load());
    EXPECT_EQ(sub.GetDisplayName(2), "inner.c");
    // Out again, byte for byte.
    std::string out = dir / "out";
    mkdir(out.c_str(), 0755);
    OverwriteAnswer state = owYes;
    ExportEntry(root, 0, out, state);
    EXPECT_EQ(ReadHostFile(out + "/a_long_name_for_x6.doc"), RandomBytes(2000, 1));
    EXPECT_TRUE(t.ui.boxes.empty());
}

}  // namespace
