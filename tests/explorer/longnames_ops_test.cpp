// Long names between this program and mtools: names mcopy wrote are shown
// and exported; names this program writes are what mdir shows; fsck.fat
// finds no orphan or mismatched slot after any change.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <sys/stat.h>

#include "explorer/ops/exporter.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/importer.h"
#include "explorer/ops/mover.h"
#include "shell/listing.h"
#include "support/images.h"
#include "support/root_fixture.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

namespace {

// mtools takes host names in the locale's character set.
const std::string kUtf8 = "LC_ALL=C.UTF-8 ";

// fsck.fat -n that says nothing but its summary: it exits 0 even for the
// long-name faults it only reports ("Not auto-correcting this").
bool FsckSilent(const std::string& image, std::string* report) {
    int status = 0;
    return FsckFindings(image, report, &status).empty() && status == 0;
}

// The long names mdir shows in one folder (the text after the time).
std::vector<std::string> MdirLongNames(const std::string& image, const std::string& folder) {
    std::string out;
    RunShell(kUtf8 + "mdir -i " + Quote(image) + " " + Quote("::" + folder), &out);
    static const std::regex line(R"(\d{4}-\d\d-\d\d +\d+:\d\d  (.+))");
    std::vector<std::string> names;
    std::istringstream lines(out);
    std::string l;
    std::smatch match;
    while (std::getline(lines, l))
        if (std::regex_search(l, match, line)) names.push_back(match[1]);
    return names;
}

void CollectHostTree(const std::string& root, const std::string& rel, std::map<std::string, std::vector<uint8_t>>& out) {
    std::string listing;
    RunShell("cd " + Quote(root) + " && find . -type f -print0 | sort -z | tr '\\0' '\\n'", &listing);
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        std::string p = listing.substr(start, end - start);
        start = end + 1;
        if (!p.empty()) out[rel + p] = ReadHostFile(root + "/" + p);
    }
}

const std::string k13 = "Thirteen char";                        // exactly one slot
const std::string k26 = "Twenty-six characters long";           // exactly two slots
const std::string k255 = std::string(251, 'L') + ".txt";        // the longest
const std::string kSpaced = "My Document.v2 final draft.txt";   // spaces and several dots
const std::string kJapanese = "日本語のファイル名.テキスト";
const std::string kLatin = "Café Ωmega résumé.doc";

class LongNameOpsTest : public RootFixture, public UITest {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12);
        src = dir / "src";
        mkdir(src.c_str(), 0755);
        Mount();
    }
    std::string Host(const std::string& rel, std::size_t size, uint32_t seed) {
        std::string p = src + "/" + rel;
        WriteHostFile(p, RandomBytes(size, seed));
        return p;
    }
    void ExpectSilent() {
        Unmount();
        std::string report;
        EXPECT_TRUE(FsckSilent(image, &report)) << report;
        Mount();
    }
    std::string src;
};

TEST_F(LongNameOpsTest, NamesWrittenByMcopyAreShownFoundAndExported) {
    const std::vector<std::string> names = {k13, k26, k255, kSpaced, kJapanese, kLatin, "lower.txt"};
    uint32_t seed = 1;
    for (const auto& n : names) Host(n, 700 * seed, seed), ++seed;
    RunShell("mkdir -p " + Quote(src + "/Program Files/Sub Folder") + " && echo inner > " +
             Quote(src + "/Program Files/Sub Folder/" + kJapanese));
    Unmount();
    ASSERT_EQ(RunShell("cd " + Quote(src) + " && " + kUtf8 + "mcopy -s -m -i " + Quote(image) + " * ::"), 0);
    Mount();

    std::vector<std::string> listed;
    for (int i : ListedEntries(*root)) listed.push_back(root->GetNameUtf8(i));
    for (const auto& n : names) EXPECT_NE(std::find(listed.begin(), listed.end(), n), listed.end()) << n;
    EXPECT_NE(std::find(listed.begin(), listed.end(), "Program Files"), listed.end());
    // The listing text carries them too.
    std::string text = MakeListingText(*root, ListedEntries(*root), "\n", true);
    EXPECT_NE(text.find(kSpaced + "\t2800\tA\t"), std::string::npos) << text;
    // Found by long name in any case, or by alias.
    EXPECT_GE(root->FindName("my document.V2 FINAL DRAFT.TXT"), 0);
    EXPECT_EQ(root->FindName("MYDOCU~1.TXT"), root->FindName(kSpaced));
    EXPECT_EQ(root->FindName("lower.txt"), root->FindName("LOWER.TXT")) << "mcopy kept its case in the entry";

    // Exported under their long names, byte for byte, folders included.
    std::string out = dir / "out";
    mkdir(out.c_str(), 0755);
    OverwriteAnswer state = owYes;
    std::vector<int> all;
    for (uint32_t i = 0; i < root->GetCount(); ++i)
        if (IsTransferable(*root, int(i))) all.push_back(int(i));
    ExportEntries(*root, all, out, state);
    ASSERT_NE(state, owCancel);
    std::map<std::string, std::vector<uint8_t>> a, b;
    CollectHostTree(src, "", a);
    CollectHostTree(out, "", b);
    EXPECT_EQ(a, b);
}

TEST_F(LongNameOpsTest, ARunThatDoesNotMatchLeavesTheEightThreeName) {
    Host(kSpaced, 10, 1);
    Unmount();
    ASSERT_EQ(RunShell(kUtf8 + "mcopy -i " + Quote(image) + " " + Quote(src + "/" + kSpaced) + " ::"), 0);
    // Another checksum in the first stored slot.
    auto bytes = ReadHostFile(image);
    const std::size_t rootAt = 512 * (1 + 2 * 9);
    ASSERT_EQ(bytes[rootAt + 11], 0x0F);
    bytes[rootAt + 13] ^= 0x55;
    WriteHostFile(image, bytes);
    Mount();
    int i = root->FindName("MYDOCU~1.TXT");
    ASSERT_GE(i, 0);
    EXPECT_EQ(root->GetNameUtf8(i), "MYDOCU~1.TXT");
    EXPECT_EQ(root->FindName(kSpaced), -1);
}

TEST_F(LongNameOpsTest, PutTreeMatchesMdirRoundTripsAndSurvivesChanges) {
    std::vector<std::string> files = {k13, k26, k255, kSpaced, kJapanese, kLatin, "README.TXT", "lower.txt"};
    RunShell("mkdir -p " + Quote(src + "/Long Folder Name/日本語フォルダ"));
    uint32_t seed = 1;
    for (const auto& n : files) Host(n, 300 * seed, seed), ++seed;
    for (const auto& n : files) Host("Long Folder Name/" + n, 100 + seed, seed), ++seed;
    Host("Long Folder Name/日本語フォルダ/" + kLatin, 2000, 99);

    std::vector<std::string> paths;
    for (const auto& n : files) paths.push_back(src + "/" + n);
    paths.push_back(src + "/Long Folder Name");
    ASSERT_EQ(ImportFileList(*root, paths, false), owYes);
    ExpectSilent();

    // What mdir shows is what was imported.
    auto shown = MdirLongNames(image, "/");
    for (const auto& n : files)
        if (n != "README.TXT") {
            EXPECT_NE(std::find(shown.begin(), shown.end(), n), shown.end()) << n;
        }
    EXPECT_NE(std::find(shown.begin(), shown.end(), "Long Folder Name"), shown.end());
    shown = MdirLongNames(image, "/Long Folder Name/日本語フォルダ");
    EXPECT_NE(std::find(shown.begin(), shown.end(), kLatin), shown.end());
    // mcopy reads back the same bytes under the same names.
    std::string back = dir / "back";
    mkdir(back.c_str(), 0755);
    ASSERT_EQ(RunShell(kUtf8 + "mcopy -s -n -i " + Quote(image) + " ::* " + Quote(back)), 0);
    std::map<std::string, std::vector<uint8_t>> a, b;
    CollectHostTree(src, "", a);
    CollectHostTree(back, "", b);
    EXPECT_EQ(a, b);

    // Rename, move and delete half of them.
    int folder = root->FindName("long folder name");
    ASSERT_GE(folder, 0);
    DIDir sub(m.image.get(), uint32_t(root->GetStartCluster(folder)));
    ASSERT_TRUE(sub.Load());
    int r = root->FindName(k13);
    EXPECT_EQ(RenameEntry(*root, r, "Renamed to a much longer name than before.bin"),
              "Renamed to a much longer name than before.bin");
    r = root->FindName(k255);
    EXPECT_EQ(RenameEntry(*root, r, "short"), "short");
    r = root->FindName(kJapanese);
    EXPECT_EQ(RenameEntry(*root, r, "日本語の新しい名前.txt"), "日本語の新しい名前.txt");
    r = root->FindName("lower.txt");
    EXPECT_EQ(RenameEntry(*root, r, "LOWER.txt"), "LOWER.txt") << "a change of case is a rename";
    std::vector<int> toMove = {root->FindName(kSpaced), root->FindName(kLatin)};
    EXPECT_EQ(MoveEntries(*root, toMove, 0, "", false), 0) << "a file is never moved onto itself";
    ASSERT_TRUE(sub.Load());
    int jf = sub.FindName("日本語フォルダ");
    ASSERT_GE(jf, 0);
    uint32_t jpFolder = uint32_t(sub.GetStartCluster(jf));
    // Into a folder that holds the same names: refused one by one (119).
    EXPECT_EQ(MoveEntries(*root, toMove, uint32_t(root->GetStartCluster(folder)), "Long Folder Name", false), 0);
    EXPECT_EQ(ui.Texts().back(), "Υπάρχει ήδη αρχείο με όνομα\n" + kLatin);
    ASSERT_TRUE(root->Load());
    toMove = {root->FindName(kSpaced)};
    EXPECT_EQ(MoveEntries(*root, toMove, jpFolder, "日本語フォルダ", false), 1);
    ASSERT_TRUE(sub.Load());
    EXPECT_TRUE(DeleteEntries(sub, {sub.FindName(k26), sub.FindName(kJapanese), sub.FindName("README.TXT")}).Ok());
    ExpectSilent();

    shown = MdirLongNames(image, "/");
    for (const char* n : {"Renamed to a much longer name than before.bin", "short", "日本語の新しい名前.txt", "LOWER.txt"})
        EXPECT_NE(std::find(shown.begin(), shown.end(), n), shown.end()) << n;
    EXPECT_EQ(std::find(shown.begin(), shown.end(), kSpaced), shown.end()) << "moved away" << ::testing::PrintToString(shown);
    shown = MdirLongNames(image, "/Long Folder Name/日本語フォルダ");
    EXPECT_NE(std::find(shown.begin(), shown.end(), kSpaced), shown.end());
    shown = MdirLongNames(image, "/Long Folder Name");
    EXPECT_EQ(std::find(shown.begin(), shown.end(), k26), shown.end()) << "deleted";
    std::string moved;
    RunShell(kUtf8 + "mtype -i " + Quote(image) + " " + Quote("::Long Folder Name/日本語フォルダ/" + kSpaced), &moved);
    auto expected = RandomBytes(300 * 4, 4);
    EXPECT_EQ(moved, std::string(expected.begin(), expected.end()));
}

TEST_F(LongNameOpsTest, DocumentsOneTwoThreeStayThreeFiles) {
    std::vector<std::string> paths;
    for (int k = 1; k <= 3; ++k) paths.push_back(Host("Document " + std::to_string(k) + ".txt", 100 * k, uint32_t(k)));
    ui.overwriteAnswers = {owYesToAll};
    ASSERT_EQ(ImportFileList(*root, paths, false), owYes);
    EXPECT_TRUE(ui.overwriteQuestions.empty()) << "no name meets another";
    ExpectSilent();
    for (int k = 1; k <= 3; ++k) {
        int i = root->FindName("Document " + std::to_string(k) + ".txt");
        ASSERT_GE(i, 0) << k;
        EXPECT_EQ(root->GetDisplayName(i), "DOCUME~" + std::to_string(k) + ".TXT");
        std::string out;
        RunShell(kUtf8 + "mtype -i " + Quote(image) + " " + Quote("::Document " + std::to_string(k) + ".txt"), &out);
        auto want = RandomBytes(100 * k, uint32_t(k));
        EXPECT_EQ(out, std::string(want.begin(), want.end())) << k;
    }
    // Imported again: each meets itself, under its long name.
    ui.overwriteAnswers = {owNoToAll};
    ImportFileList(*root, paths, false);
    ASSERT_EQ(ui.overwriteQuestions.size(), 1u);
    EXPECT_EQ(ui.overwriteQuestions[0].first, "Document 1.txt");
}

TEST_F(LongNameOpsTest, ReplacingKeepsTheLongName) {
    std::string p = Host("Quarterly report.txt", 3000, 1);
    ImportFileList(*root, {p}, false);
    WriteHostFile(p, RandomBytes(700, 2));
    ui.overwriteAnswers = {owYes};
    ImportFileList(*root, {p}, false);
    ExpectSilent();
    int i = root->FindName("quarterly report.txt");
    ASSERT_GE(i, 0);
    EXPECT_EQ(root->GetNameUtf8(i), "Quarterly report.txt");
    EXPECT_EQ(root->GetSize(i), 700u);
    EXPECT_EQ(MtoolsFreeClusters(image, 512), long(m->FreeClusters));
}

TEST_F(LongNameOpsTest, AFullRootIsToldAndAFolderGrows) {
    // 224 root entries on this floppy: runs of three entries until no room is left.
    std::vector<std::string> paths;
    for (int k = 0; k < 80; ++k) paths.push_back(Host("A long file name number " + std::to_string(k), 1, uint32_t(k)));
    EXPECT_EQ(ImportFileList(*root, paths, false), owCancel);
    auto texts = ui.Texts();
    EXPECT_EQ(texts.front(), "Ο φάκελος είναι γεμάτος") << "a full folder is told as such";
    ExpectSilent();
    EXPECT_EQ(root->GetCount(), 222u) << "74 runs of three; the last two entries stay free";
    EXPECT_GE(CreateFolder(*root, "FOLDER"), 0) << "a plain name still fits";
    EXPECT_EQ(root->GetCount(), 223u);
    ExpectSilent();
}

TEST_F(LongNameOpsTest, FoldersGrowForRuns) {
    int f = CreateFolder(*root, "Many long names");
    ASSERT_GE(f, 0);
    DIDir sub(m.image.get(), uint32_t(root->GetStartCluster(f)));
    ASSERT_TRUE(sub.Load());
    std::vector<std::string> paths;
    for (int k = 0; k < 60; ++k) paths.push_back(Host("A long file name number " + std::to_string(k), 10, uint32_t(k)));
    ASSERT_EQ(ImportFileList(sub, paths, false), owYes);
    ExpectSilent();
    auto shown = MdirLongNames(image, "/Many long names");
    EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [](const std::string& s) { return s.rfind("A long", 0) == 0; }),
              60);
}

TEST_F(LongNameOpsTest, OffGivesTheEightThreeBehaviour) {
    longNames = false;
    Mount();
    std::vector<std::string> paths;
    for (int k = 1; k <= 3; ++k) paths.push_back(Host("Document " + std::to_string(k) + ".txt", 100 * k, uint32_t(k)));
    ImportFileList(*root, paths, false);
    ExpectSound();
    std::vector<std::string> listed;
    for (int i : ListedEntries(*root)) listed.push_back(root->GetNameUtf8(i));
    EXPECT_EQ(listed, (std::vector<std::string>{"DOCUMENT.TXT", "DOCUME~1.TXT", "DOCUME~2.TXT"}))
        << "names that meet after conversion stay apart";
    EXPECT_TRUE(ui.overwriteQuestions.empty());
    EXPECT_TRUE(MdirLongNames(image, "/").empty()) << "no slots written";
}

// Random changes with long names of every kind; fsck.fat must find nothing,
// which includes orphan and mismatched slots.
TEST(LongNameRandomOps, StaysCleanUnderFsck) {
    TempDir dir;
    std::string image = dir / "v.img";
    MakeFatImage(image, 1440, 12);
    ScriptedUI ui;
    ui.overwriteAnswers = std::deque<OverwriteAnswer>(100000, owYes);
    ScopedUserInterface scope(&ui);
    std::mt19937 rng(1234);
    std::string host = dir / "host";
    mkdir(host.c_str(), 0755);
    const std::vector<std::string> stems = {"Document", "日本語のメモ", "Café", "a", "README", "x y z", "Ωmega résumé",
                                            "Long name with several.dots.in.it", std::string(80, 'q')};
    auto randomName = [&] {
        std::string n = stems[rng() % stems.size()];
        if (rng() % 2) n += " " + std::to_string(rng() % 30);
        if (rng() % 3) n += rng() % 2 ? ".txt" : ".テキスト";
        return n;
    };
    std::vector<std::string> pool;
    for (int k = 0; k < 25; ++k) {
        std::string p = host + "/" + randomName();
        WriteHostFile(p, RandomBytes(rng() % 3000, uint32_t(k)));
        pool.push_back(p);
    }
    const int kOps = 1200;
    for (int step = 1; step <= kOps; ++step) {
        Mounted m = MountImageFile(image);
        ASSERT_TRUE(m);
        std::vector<uint32_t> folders = {0};
        {
            DIDir r(m.image.get(), 0);
            ASSERT_TRUE(r.Load());
            for (uint32_t i = 0; i < r.GetCount(); ++i)
                if (!r.IsFree(int(i)) && (r.GetAttr(int(i)) & kAttrDirectory) && r.GetAttr(int(i)) != 0x0F)
                    folders.push_back(uint32_t(r.GetStartCluster(int(i))));
        }
        uint32_t here = folders[rng() % folders.size()];
        DIDir d(m.image.get(), here);
        ASSERT_TRUE(d.Load());
        std::vector<int> live;
        for (uint32_t i = 0; i < d.GetCount(); ++i) {
            int k = int(i);
            std::string n = d.GetDisplayName(k);
            if (!d.IsFree(k) && n[0] != '.' && !(d.GetAttr(k) & kAttrVolume)) live.push_back(k);
        }
        int op = int(rng() % 10);
        if (op <= 2 || live.empty()) {
            ImportFileList(d, {pool[rng() % pool.size()]}, false);
        } else if (op == 3 && here == 0) {
            CreateFolder(d, randomName());
        } else if (op == 4) {
            static_cast<void>(DeleteEntries(d, {live[rng() % live.size()]}));
        } else if (op <= 6) {
            MoveEntries(d, {live[rng() % live.size()]}, folders[rng() % folders.size()], "T", false);
        } else {
            int i = live[rng() % live.size()];
            RenameEntry(d, i, randomName());
        }
        m.image.reset();
        if (step % 100 == 0 || step == kOps) {
            std::string report;
            ASSERT_TRUE(FsckSilent(image, &report)) << "after step " << step << ":\n" << report;
        }
    }
    // The run did real work: long names everywhere at the end.
    auto shown = MdirLongNames(image, "/");
    EXPECT_GT(shown.size(), 5u);
    std::string all;
    RunShell("mdir -/ -s -i " + Quote(image) + " :: | grep -c '~'", &all);
    EXPECT_GT(std::stoi(all), 10) << "aliases made";
}

}  // namespace
