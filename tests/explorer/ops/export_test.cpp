#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "explorer/ops/exporter.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

namespace {

class ExportTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 4096, 12, "-s 2");  // 1 KiB clusters
        a = RandomBytes(5000, 1);
        exact = RandomBytes(2048, 2);
        WriteHostFile(dir / "a.bin", a);
        WriteHostFile(dir / "exact.bin", exact);
        WriteHostFile(dir / "empty.txt", {});
        RunShell("touch -d '2001-02-03 04:05:06' " + Quote(dir / "a.bin") + " " + Quote(dir / "empty.txt"));
        ASSERT_EQ(RunShell("mmd -i " + Quote(image) + " ::SUB ::SUB/DEEP && mcopy -m -i " + Quote(image) + " " +
                      Quote(dir / "a.bin") + " " + Quote(dir / "exact.bin") + " " + Quote(dir / "empty.txt") +
                      " :: && mcopy -m -i " + Quote(image) + " " + Quote(dir / "a.bin") + " ::SUB/DEEP/ && mattrib -i " +
                      Quote(image) + " +r ::EXACT.BIN"),
                  0);
        out = dir / "out";
        mkdir(out.c_str(), 0755);
        m = MountImageFile(image);
        ASSERT_TRUE(m);
        m->LongNames = false;  // the 8.3 names; long names have their own tests
        root = std::make_unique<DIDir>(m.image.get(), 0);
        ASSERT_TRUE(root->Load());
    }
    int Index(const std::string& name) { return root->Find(name); }
    OverwriteAnswer ExportNames(std::initializer_list<const char*> names, OverwriteAnswer state = owYes) {
        for (const char* n : names) {
            ExportEntry(*root, Index(n), out, state);
            if (state == owCancel) break;
        }
        return state;
    }
    time_t MTime(const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 ? st.st_mtime : 0;
    }

    TempDir dir;
    std::string image, out;
    std::vector<uint8_t> a, exact;
    Mounted m;
    std::unique_ptr<DIDir> root;
};

TEST_F(ExportTest, FilesAndFoldersComeOutByteForByteWithTheirTimes) {
    EXPECT_EQ(ExportNames({"A.BIN", "EXACT.BIN", "EMPTY.TXT", "SUB"}), owYes);
    EXPECT_EQ(ReadHostFile(out + "/A.BIN"), a);
    EXPECT_EQ(ReadHostFile(out + "/EXACT.BIN"), exact) << "a whole last cluster";
    EXPECT_TRUE(ReadHostFile(out + "/EMPTY.TXT").empty());
    EXPECT_EQ(ReadHostFile(out + "/SUB/DEEP/A.BIN"), a);
    EXPECT_EQ(MTime(out + "/A.BIN"), MTime(dir / "a.bin"));
    EXPECT_EQ(MTime(out + "/EMPTY.TXT"), MTime(dir / "empty.txt"));
    struct stat st;
    ASSERT_EQ(stat((out + "/EXACT.BIN").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only entries become read-only files";
    ASSERT_EQ(stat((out + "/A.BIN").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    EXPECT_TRUE(ui.boxes.empty());
    ASSERT_FALSE(ui.status.empty());
    EXPECT_EQ(ui.status.front().second, "Εξαγωγή... A.BIN");
}

TEST_F(ExportTest, FragmentedChainIsFollowed) {
    // Rewrite A.BIN's chain so that its clusters are out of order.
    int i = Index("A.BIN");
    auto chain = *m->ReadChain(uint32_t(root->GetStartCluster(i)));
    ASSERT_EQ(chain.size(), 5u);
    std::vector<std::vector<uint8_t>> data(5, std::vector<uint8_t>(1024));
    for (int k = 0; k < 5; ++k) EXPECT_TRUE(m->ReadCluster(chain[k], data[k].data()));
    auto spare = *m->AllocateChain(5 * 1024);
    // New order: spare[4], chain[1], spare[0], chain[3], spare[2].
    ChainList order = {spare[4], chain[1], spare[0], chain[3], spare[2]};
    for (int k = 0; k < 5; ++k) {
        EXPECT_TRUE(m->WriteCluster(order[k], data[k].data()));
        EXPECT_TRUE(m->SetFATEntry(order[k], k + 1 < 5 ? order[k + 1] : EndOfChain));
    }
    root->SetStartCluster(i, order[0]);
    OverwriteAnswer state = owYes;
    ExportEntry(*root, i, out, state);
    EXPECT_EQ(ReadHostFile(out + "/A.BIN"), a);
}

TEST_F(ExportTest, OverwriteAnswersRunThroughTheExport) {
    WriteHostFile(out + "/A.BIN", {1, 2, 3});
    WriteHostFile(out + "/EMPTY.TXT", {4});
    // No: kept, and the next conflict asks again.
    ui.overwriteAnswers = {owNo, owYes};
    EXPECT_EQ(ExportNames({"A.BIN", "EMPTY.TXT"}), owYes);
    EXPECT_EQ(ReadHostFile(out + "/A.BIN"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(ReadHostFile(out + "/EMPTY.TXT").empty());
    ASSERT_EQ(ui.overwriteQuestions.size(), 2u);
    EXPECT_EQ(ui.overwriteQuestions[0].first, out + "/A.BIN");
    EXPECT_EQ(ui.overwriteQuestions[0].second, "A.BIN");
    EXPECT_EQ(ui.lastIncomingTime.wYear, 2001);
    // No to all: every later conflict kept silently.
    WriteHostFile(out + "/EMPTY.TXT", {4});
    ui.overwriteQuestions.clear();
    ui.overwriteAnswers = {owNoToAll};
    EXPECT_EQ(ExportNames({"A.BIN", "EMPTY.TXT"}), owNoToAll);
    EXPECT_EQ(ui.overwriteQuestions.size(), 1u);
    EXPECT_EQ(ReadHostFile(out + "/EMPTY.TXT"), std::vector<uint8_t>{4});
    // Yes to all.
    ui.overwriteQuestions.clear();
    ui.overwriteAnswers = {owYesToAll};
    EXPECT_EQ(ExportNames({"A.BIN", "EMPTY.TXT"}), owYesToAll);
    EXPECT_EQ(ui.overwriteQuestions.size(), 1u);
    EXPECT_EQ(ReadHostFile(out + "/A.BIN"), a);
    EXPECT_TRUE(ReadHostFile(out + "/EMPTY.TXT").empty());
    // Cancel stops the export at once.
    ui.overwriteAnswers = {owCancel};
    EXPECT_EQ(ExportNames({"A.BIN", "EXACT.BIN"}), owCancel);
    EXPECT_TRUE(ReadHostFile(out + "/EXACT.BIN").empty()) << "nothing after the cancel";
}

TEST_F(ExportTest, ReadOnlyHostFileIsReplacedAfterYes) {
    ExportNames({"EXACT.BIN"});
    ui.overwriteAnswers = {owYes};
    EXPECT_EQ(ExportNames({"EXACT.BIN"}), owYes);
    EXPECT_EQ(ReadHostFile(out + "/EXACT.BIN"), exact);
    EXPECT_EQ(ui.overwriteQuestions.size(), 1u);
    // The new file has the old one's permissions, less write for the mark.
    struct stat st;
    ASSERT_EQ(chmod((out + "/EXACT.BIN").c_str(), 0640), 0);
    ui.overwriteAnswers = {owYes};
    ExportNames({"EXACT.BIN"});
    ASSERT_EQ(stat((out + "/EXACT.BIN").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0440u);
}

TEST_F(ExportTest, FolderInTheWayOfAFileStopsWith110) {
    mkdir((out + "/A.BIN").c_str(), 0755);
    EXPECT_EQ(ExportNames({"A.BIN", "EXACT.BIN"}), owCancel);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Σφάλμα κατά το άνοιγμα του αρχείου\n" + out + "/A.BIN");
}

TEST_F(ExportTest, ExistingFolderReceivesTheContents) {
    mkdir((out + "/SUB").c_str(), 0755);
    EXPECT_EQ(ExportNames({"SUB"}), owYes);
    EXPECT_EQ(ReadHostFile(out + "/SUB/DEEP/A.BIN"), a);
}

TEST_F(ExportTest, BrokenChainStopsWith115AndLeavesNoHostFile) {
    int i = Index("A.BIN");
    ASSERT_TRUE(m->SetFATEntry(uint32_t(root->GetStartCluster(i)) + 1, 0));
    EXPECT_EQ(ExportNames({"A.BIN"}), owCancel);
    EXPECT_TRUE(ui.Showed("Σφάλμα κατά την ανάγνωση της αλυσίδας cluster του αρχείου\n" + out + "/A.BIN"));
    EXPECT_TRUE(ui.Showed("Μη έγκυρη αλυσίδα"));
    struct stat st;
    EXPECT_NE(stat((out + "/A.BIN").c_str(), &st), 0) << "no empty file passes for a copy";
}

TEST_F(ExportTest, HostileNamesNeverLeaveTheTargetFolder) {
    // Entries whose stored names hold "/" and ".." as other systems could write them.
    int i = root->AddEntry("X");
    std::memcpy(const_cast<uint8_t*>(root->RawEntry(i)), "..      ", 8);
    int j = root->AddEntry("Y");
    std::memcpy(const_cast<uint8_t*>(root->RawEntry(j)), "A/B     TXT", 11);
    int k = root->AddEntry("Z");
    std::memcpy(const_cast<uint8_t*>(root->RawEntry(k)), "X/..    ", 8);
    for (int n : {i, j, k}) root->SetSize(n, 0);
    OverwriteAnswer state = owYes;
    ExportEntries(*root, {i, j, k}, out, state);
    EXPECT_EQ(state, owYes);
    std::string listing;
    RunShell("cd " + Quote(out) + " && LC_ALL=C ls -A", &listing);
    EXPECT_EQ(listing, "A_B.TXT\nX_..\n") << "'..' is skipped as a dot entry; '/' becomes '_'";
    std::string above;
    RunShell("ls -A " + Quote(dir.path()), &above);
    EXPECT_EQ(above.find("B.TXT"), std::string::npos);
}

TEST_F(ExportTest, JapaneseNamesBecomeUtf8HostNames) {
    int i = root->AddEntry("\x93\xFA\x96\x7B.TXT");
    root->SetSize(i, 0);
    root->SetAttr(i, kAttrArchive);
    OverwriteAnswer state = owYes;
    ExportEntry(*root, i, out, state);
    struct stat st;
    EXPECT_EQ(stat((out + "/日本.TXT").c_str(), &st), 0);
}

TEST_F(ExportTest, FolderLoopsAreReportedNotFollowed) {
    DIDir sub(m.image.get(), uint32_t(root->GetStartCluster(Index("SUB"))));
    ASSERT_TRUE(sub.Load());
    int l = sub.AddEntry("BACK");
    sub.SetAttr(l, kAttrDirectory);
    sub.SetStartCluster(l, sub.GetCluster());
    int r = sub.AddEntry("TOROOT");
    sub.SetAttr(r, kAttrDirectory);
    sub.SetStartCluster(r, 0);
    ASSERT_TRUE(sub.Write());
    // The first folder that leads back ends the export.
    EXPECT_EQ(ExportNames({"SUB"}), owCancel);
    std::vector<std::string> texts = ui.Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Υπάρχει ένας φάκελος με παραπομπή σε βρόχο"), 1);
}

TEST_F(ExportTest, ExportChangesNothingInTheImage) {
    m.image.reset();
    auto before = ReadHostFile(image);
    m = MountImageFile(image);
    root = std::make_unique<DIDir>(m.image.get(), 0);
    ASSERT_TRUE(root->Load());
    ExportNames({"A.BIN", "SUB", "EXACT.BIN"});
    m.image.reset();
    EXPECT_EQ(ReadHostFile(image), before);
}

TEST_F(ExportTest, AChainShorterOrLongerThanTheSizeIsReported) {
    // A.BIN: 5000 bytes in five 1 KiB clusters. Said to be 9000 bytes, its
    // chain is four clusters short; said to be 1000, it is four too long.
    int i = Index("A.BIN");
    root->SetSize(i, 9000);
    EXPECT_EQ(ExportNames({"A.BIN"}), owCancel);
    EXPECT_TRUE(ui.Showed("Το μέγεθος του αρχείου (9000 bytes) δεν ταιριάζει με την αλυσίδα cluster (5120 bytes)\n" +
                          out + "/A.BIN\nΤο αρχείο κρατήθηκε με 5120 bytes"))
        << ::testing::PrintToString(ui.Texts());
    auto got = ReadHostFile(out + "/A.BIN");
    ASSERT_EQ(got.size(), 5120u) << "what the chain holds, no padding";
    EXPECT_TRUE(std::equal(a.begin(), a.end(), got.begin()));

    ui.boxes.clear();
    root->SetSize(i, 1000);
    EXPECT_EQ(ExportNames({"A.BIN"}, owYesToAll), owCancel);
    EXPECT_TRUE(ui.Showed("Το μέγεθος του αρχείου (1000 bytes) δεν ταιριάζει με την αλυσίδα cluster (5120 bytes)\n" +
                          out + "/A.BIN\nΤο αρχείο κρατήθηκε με 1000 bytes"));
    EXPECT_EQ(ReadHostFile(out + "/A.BIN"), std::vector<uint8_t>(a.begin(), a.begin() + 1000));
}

TEST_F(ExportTest, AnUnreadableClusterLeavesNoHostFileBehind) {
    // The image ends inside A.BIN's third cluster.
    int i = Index("A.BIN");
    int64_t third = m->ClusterToOffset(uint32_t(root->GetStartCluster(i)) + 2);
    root.reset();
    m.image.reset();
    ASSERT_EQ(truncate(image.c_str(), third + 100), 0);
    m = MountImageFile(image);
    ASSERT_TRUE(m);
    m->LongNames = false;
    root = std::make_unique<DIDir>(m.image.get(), 0);
    ASSERT_TRUE(root->Load());
    EXPECT_EQ(ExportNames({"A.BIN"}), owCancel);
    EXPECT_TRUE(ui.Showed("Ένα cluster του αρχείου δεν διαβάζεται· το μερικό αντίγραφο αφαιρέθηκε\n" + out + "/A.BIN"))
        << ::testing::PrintToString(ui.Texts());
    struct stat st;
    EXPECT_NE(stat((out + "/A.BIN").c_str(), &st), 0) << "no file of zeros passes for a copy";
    // Over an old file: the old file stays whole, and nothing else is left.
    WriteHostFile(out + "/A.BIN", {'o', 'l', 'd'});
    EXPECT_EQ(ExportNames({"A.BIN"}, owYesToAll), owCancel);
    EXPECT_EQ(ReadHostFile(out + "/A.BIN"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    std::string listing;
    RunShell("ls -A " + Quote(out), &listing);
    EXPECT_EQ(listing, "A.BIN\n") << "the unfinished copy is removed";
}

TEST_F(ExportTest, ALadderOfFoldersIsEnteredOnce) {
    // SUB holds DEEP twice: the second entry to the same folder ends the export.
    DIDir sub(m.image.get(), uint32_t(root->GetStartCluster(Index("SUB"))));
    ASSERT_TRUE(sub.Load());
    int deep = sub.Find("DEEP");
    int again = sub.AddEntry("AGAIN");
    sub.SetAttr(again, kAttrDirectory);
    sub.SetStartCluster(again, uint32_t(sub.GetStartCluster(deep)));
    ASSERT_TRUE(sub.Write());
    EXPECT_EQ(ExportNames({"SUB"}), owCancel);
    EXPECT_TRUE(ui.Showed("Υπάρχει ένας φάκελος με παραπομπή σε βρόχο"));
    EXPECT_EQ(ReadHostFile(out + "/SUB/DEEP/A.BIN"), a) << "the first way in is exported";
}

}  // namespace
