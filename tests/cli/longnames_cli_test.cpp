// Long names on the command line: ls, get, put, ren and mv with names as
// long as the user typed them; LongNames=0 and --short-names give 8.3 names.

#include <gtest/gtest.h>

#include "support/images.h"

namespace {

const std::string kUtf8 = "LC_ALL=C.UTF-8 ";

struct CliRun {
    int rc;
    std::string out, err;
};

CliRun Cli(const std::string& args, const std::string& home) {
    TempDir errDir;
    CliRun r;
    r.rc = RunShell("( VOLDEX_HOME=" + Quote(home) + " " + Quote(VOLDEX_CLI) + " " + args + " 2>" +
                        Quote(errDir / "err") + " )",
                    &r.out);
    auto e = ReadHostFile(errDir / "err");
    r.err.assign(e.begin(), e.end());
    return r;
}

// The first column of each line of an ls listing, after the header.
std::vector<std::string> Names(const std::string& listing) {
    std::vector<std::string> names;
    std::size_t start = listing.find('\n') + 1;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        names.push_back(listing.substr(start, listing.find('\t', start) - start));
        start = end + 1;
    }
    return names;
}

class CliLongNames : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12);
        home = dir / "home";
        RunShell("mkdir -p " + Quote(home) + " " + Quote(dir / "src/Program Files"));
        WriteHostFile(dir / "src/Program Files/Café Ωmega.doc", RandomBytes(3000, 1));
        WriteHostFile(dir / "src/日本語のファイル名.テキスト", RandomBytes(100, 2));
        ASSERT_EQ(RunShell("cd " + Quote(dir / "src") + " && " + kUtf8 + "mcopy -s -i " + Quote(image) + " * ::"), 0);
    }
    void Settings(const std::string& text) { WriteHostFile(home + "/kestrel.ini", std::vector<uint8_t>(text.begin(), text.end())); }
    TempDir dir;
    std::string image, home;
};

TEST_F(CliLongNames, LsGetAndPathsUseLongNames) {
    CliRun r = Cli("ls " + Quote(image), home);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Names(r.out), (std::vector<std::string>{"Program Files", "日本語のファイル名.テキスト"}));
    r = Cli("ls " + Quote(image) + " 'program files'", home);
    EXPECT_EQ(Names(r.out), std::vector<std::string>{"Café Ωmega.doc"});
    r = Cli("ls " + Quote(image) + " PROGRA~1", home);
    EXPECT_EQ(Names(r.out), std::vector<std::string>{"Café Ωmega.doc"}) << "the alias names the folder too";
    r = Cli("ls " + Quote(image) + " '::/Program Files/caf? ω*.DOC'", home);
    EXPECT_EQ(Names(r.out), std::vector<std::string>{"Café Ωmega.doc"}) << "patterns match long names";
    r = Cli("ls " + Quote(image) + " '::/program files/CAF*~1.DOC'", home);
    EXPECT_EQ(Names(r.out), std::vector<std::string>{"Café Ωmega.doc"}) << "and aliases";
    std::string out = dir / "out";
    RunShell("mkdir -p " + Quote(out));
    r = Cli("get " + Quote(image) + " 'Program Files/CAFÉ ΩMEGA.DOC' " + Quote(out), home);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadHostFile(out + "/Café Ωmega.doc"), RandomBytes(3000, 1));
    RunShell("mkdir -p " + Quote(out + "/all"));
    r = Cli("get " + Quote(image) + " / " + Quote(out + "/all"), home);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadHostFile(out + "/all/日本語のファイル名.テキスト"), RandomBytes(100, 2));

    // Both ways back to 8.3 names.
    r = Cli("--short-names ls " + Quote(image), home);
    EXPECT_EQ(Names(r.out), (std::vector<std::string>{"PROGRA~1", "______~1.___"}));
    Settings("[ProgramSettings]\nLongNames=0\n");
    r = Cli("ls " + Quote(image), home);
    EXPECT_EQ(Names(r.out), (std::vector<std::string>{"PROGRA~1", "______~1.___"}));
    EXPECT_NE(Cli("ls " + Quote(image) + " 'Program Files'", home).rc, 0) << "no long names to find";
}

TEST_F(CliLongNames, PutRenMvAndWhatMdirShows) {
    std::string docs = dir / "docs";
    RunShell("mkdir -p " + Quote(docs));
    std::string args;
    for (int k = 1; k <= 3; ++k) {
        std::string p = docs + "/Document " + std::to_string(k) + ".txt";
        WriteHostFile(p, RandomBytes(100 * k, uint32_t(k)));
        args += " " + Quote(p);
    }
    CliRun r = Cli("--yes put " + Quote(image) + args, home);
    ASSERT_EQ(r.rc, 0) << r.err;
    r = Cli("ren " + Quote(image) + " 'document 2.txt' 'The second document, renamed.txt'", home);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "The second document, renamed.txt\n");
    r = Cli("mv " + Quote(image) + " 'Document 3.txt' 'Program Files'", home);
    ASSERT_EQ(r.rc, 0) << r.err;
    std::string mdir;
    RunShell(kUtf8 + "mdir -/ -i " + Quote(image) + " ::", &mdir);
    EXPECT_NE(mdir.find("DOCUME~1 TXT       100"), std::string::npos) << mdir;
    EXPECT_NE(mdir.find("  Document 1.txt"), std::string::npos) << mdir;
    EXPECT_NE(mdir.find("  The second document, renamed.txt"), std::string::npos) << mdir;
    EXPECT_NE(mdir.find("DOCUME~3 TXT       300"), std::string::npos) << mdir;
    EXPECT_EQ(mdir.find("Document 2.txt"), std::string::npos) << mdir;
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report;
    EXPECT_EQ(report.find("long file name"), std::string::npos) << report;
    // A name that is taken, as long name or as alias, is refused.
    EXPECT_EQ(Cli("ren " + Quote(image) + " 'Document 1.txt' 'program files'", home).rc, 1);
    EXPECT_EQ(Cli("ren " + Quote(image) + " 'Document 1.txt' 'THESEC~1.TXT'", home).rc, 1);
    // With --short-names names are 8.3 only: the three cut to one form stay apart.
    std::string other = dir / "w.img";
    MakeFatImage(other, 1440, 12);
    r = Cli("--short-names --yes put " + Quote(other) + args, home);
    ASSERT_EQ(r.rc, 0) << r.err;
    r = Cli("ls " + Quote(other), home);
    EXPECT_EQ(Names(r.out), (std::vector<std::string>{"DOCUMENT.TXT", "DOCUME~1.TXT", "DOCUME~2.TXT"}));
}

}  // namespace
