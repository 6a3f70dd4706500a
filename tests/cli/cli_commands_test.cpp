// The command line as scripts use it: explicit image paths, renames,
// wildcards, the reading commands, JSON, partitions far into large disks,
// options over settings, and the floppy maker's care for existing files.
// Every test runs the real binary.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <unistd.h>
#include <sstream>
#include <tuple>
#include <sys/stat.h>

#include "cli/cli_args.h"
#include "cli/cli_paths.h"
#include "cli/cli_ui.h"
#include "opening/physicalform.h"
#include "support/disks.h"
#include "support/images.h"

namespace {

struct Outcome {
    int rc;
    std::string out, err;
};

Outcome Cli(const std::string& args, const std::string& home = "", const std::string& input = "") {
    TempDir t;
    std::string env = home.empty() ? "" : "VOLDEX_HOME=" + Quote(home) + " ";
    std::string redirect = input.empty() ? " </dev/null" : " <" + Quote(input);
    std::string out;
    int rc = RunShell("( " + env + "timeout 120 " + VOLDEX_CLI + " " + args + redirect + " 2>" + Quote(t / "err") + " )",
                      &out);
    auto e = ReadHostFile(t / "err");
    return {rc, out, std::string(e.begin(), e.end())};
}

std::string Text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }
std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string Shell(const std::string& cmd) {
    std::string out;
    RunShell(cmd, &out);
    return out;
}

// A floppy with GAMES/{A.TXT,B.TXT,C.DAT} and README.TXT, made by mtools.
class CliScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "fd.img";
        MakeFatImage(image, 1440, 12);
        WriteHostFile(dir / "A.TXT", Bytes("alpha\n"));
        WriteHostFile(dir / "B.TXT", Bytes("bravo\n"));
        WriteHostFile(dir / "C.DAT", Bytes("charlie\n"));
        WriteHostFile(dir / "README.TXT", Bytes("read me\n"));
        ASSERT_EQ(RunShell("cd " + Quote(dir.path()) + " && mmd -i fd.img ::GAMES && mcopy -i fd.img A.TXT B.TXT C.DAT "
                           "::GAMES && mcopy -i fd.img README.TXT ::"),
                  0);
    }
    std::string Mtype(const std::string& path) { return Shell("mtype -i " + Quote(image) + " " + Quote("::" + path)); }
    TempDir dir;
    std::string image;
};

TEST_F(CliScriptTest, PutNeverTakesAnOperandForWhatItIsNot) {
    WriteHostFile(dir / "a.txt", Bytes("new\n"));
    RunShell("mkdir -p " + Quote(dir / "GAMES"));
    auto before = ReadHostFile(image);
    for (const char* wrong : {"/", "..", ".", "./", "/tmp/..", "GAMES"}) {
        Outcome r = Cli("put " + Quote(image) + " " + Quote(dir / "a.txt") + " " + Quote(wrong));
        EXPECT_EQ(r.rc, 2) << wrong << ": " << r.err;
        EXPECT_NE(r.err.find("\nυπόδειξη: "), std::string::npos) << r.err;
        EXPECT_EQ(ReadHostFile(image), before) << wrong;
    }
    // A host folder of the same name as an image folder is still refused
    // in the old form: the user says which it is with "::".
    Outcome r = Cli("put " + Quote(image) + " " + Quote(dir / "a.txt") + " ::/");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Mtype("/A.TXT"), "new\n");
    r = Cli("put " + Quote(image) + " " + Quote(dir / "a.txt"));
    EXPECT_EQ(r.rc, 1) << "no :: destination: the root, where A.TXT now exists and no --yes was given";
    r = Cli("put --yes " + Quote(image) + " " + Quote(dir / "C.DAT") + " " + Quote(dir / "README.TXT") + " ::GAMES");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Mtype("/GAMES/README.TXT"), "read me\n");
    EXPECT_TRUE(FsckClean(image));
}

TEST_F(CliScriptTest, RenameOnPutGetAndMove) {
    WriteHostFile(dir / "host.txt", Bytes("renamed on the way in\n"));
    Outcome r = Cli("put " + Quote(image) + " " + Quote(dir / "host.txt") + " ::/GAMES/NEW.TXT");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Mtype("/GAMES/NEW.TXT"), "renamed on the way in\n");
    EXPECT_EQ(Shell("mdir -b -i " + Quote(image) + " ::/ | grep -ci host"), "0\n") << "no HOST.TXT anywhere";

    // A folder under another name, and standard input under a name.
    RunShell("mkdir -p " + Quote(dir / "tree/sub") + " && echo leaf > " + Quote(dir / "tree/sub/LEAF.TXT"));
    ASSERT_EQ(Cli("put " + Quote(image) + " " + Quote(dir / "tree") + " ::/COPY").rc, 0);
    EXPECT_EQ(Mtype("/COPY/SUB/LEAF.TXT"), "leaf\n");
    WriteHostFile(dir / "stdin.txt", Bytes("from a pipe\n"));
    r = Cli("put " + Quote(image) + " - ::/GAMES/PIPE.TXT", "", dir / "stdin.txt");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Mtype("/GAMES/PIPE.TXT"), "from a pipe\n");
    EXPECT_EQ(Cli("put " + Quote(image) + " - ::/GAMES", "", dir / "stdin.txt").rc, 2) << "standard input needs a name";
    EXPECT_EQ(Cli("put " + Quote(image) + " " + Quote(dir / "host.txt") + " ::/NOWHERE/X.TXT").rc, 1);

    // get under another name; an existing host file needs --yes.
    std::string out = dir / "out";
    RunShell("mkdir -p " + Quote(out));
    ASSERT_EQ(Cli("get " + Quote(image) + " ::/GAMES/A.TXT " + Quote(out + "/b.txt")).rc, 0);
    EXPECT_EQ(Text(ReadHostFile(out + "/b.txt")), "alpha\n");
    EXPECT_EQ(Cli("get " + Quote(image) + " ::/GAMES/B.TXT " + Quote(out + "/b.txt")).rc, 1);
    EXPECT_EQ(Text(ReadHostFile(out + "/b.txt")), "alpha\n");
    ASSERT_EQ(Cli("get --yes " + Quote(image) + " ::/GAMES/B.TXT " + Quote(out + "/b.txt")).rc, 0);
    EXPECT_EQ(Text(ReadHostFile(out + "/b.txt")), "bravo\n");
    ASSERT_EQ(Cli("get " + Quote(image) + " ::/GAMES " + Quote(out + "/games-copy")).rc, 0);
    EXPECT_EQ(Text(ReadHostFile(out + "/games-copy/C.DAT")), "charlie\n");
    EXPECT_EQ(Shell("ls -A " + Quote(out) + " | grep -c voldex"), "0\n") << "no work folder left behind";
    EXPECT_EQ(Cli("get " + Quote(image) + " ::/GAMES/A.TXT ::/B.TXT").rc, 2) << "the last operand is a host path";

    // mv renames in place, and moves and renames across folders.
    ASSERT_EQ(Cli("mv " + Quote(image) + " ::/README.TXT ::/READ2.TXT").rc, 0);
    EXPECT_EQ(Mtype("/READ2.TXT"), "read me\n");
    ASSERT_EQ(Cli("mv " + Quote(image) + " ::/READ2.TXT ::/GAMES/READ3.TXT").rc, 0);
    EXPECT_EQ(Mtype("/GAMES/READ3.TXT"), "read me\n");
    EXPECT_NE(Cli("mv " + Quote(image) + " ::/GAMES/A.TXT ::/GAMES/B.TXT ::/NEW.TXT").rc, 0)
        << "two sources need an existing folder";
    EXPECT_EQ(Cli("mv " + Quote(image) + " ::/GAMES/A.TXT ::/NOFOLDER/").rc, 1) << "a trailing / names a folder";
    // Onto an existing file: kept with --no, fails unasked, replaced with --yes.
    for (auto [option, rc, b] : {std::tuple{"--no ", 0, "bravo\n"}, {"", 1, "bravo\n"}, {"--yes ", 0, "alpha\n"}}) {
        r = Cli(std::string(option) + "mv " + Quote(image) + " ::/GAMES/A.TXT ::/GAMES/B.TXT");
        EXPECT_EQ(r.rc, rc) << option << r.err;
        EXPECT_EQ(Mtype("/GAMES/B.TXT"), b) << option;
    }
    EXPECT_EQ(Shell("mdir -b -i " + Quote(image) + " ::/GAMES | grep -c A.TXT"), "0\n") << "moved, not copied";
    ASSERT_EQ(Cli("--yes mv " + Quote(image) + " ::/GAMES/B.TXT ::/GAMES/READ3.TXT").rc, 0);
    EXPECT_EQ(Cli("--yes mv " + Quote(image) + " ::/GAMES/READ3.TXT ::/GAMES/C.DAT ::/COPY").rc, 0);
    EXPECT_TRUE(FsckClean(image));
}

// Names given for the image are stored as given or refused (exit 1, the
// name and the rule on standard error); host names the volume changes
// are said, or refused with --strict-names.
TEST_F(CliScriptTest, NamesAreStoredAsGivenOrRefused) {
    WriteHostFile(dir / "f.txt", Bytes("f\n"));
    WriteHostFile(dir / "a\"b.txt", Bytes("q\n"));
    WriteHostFile(dir / "表示.TXT", Bytes("h\n"));
    const std::string img = Quote(image), f = Quote(dir / "f.txt"), q = Quote(dir / "a\"b.txt");
    const std::string kana = [] {
        std::string k;
        for (int n = 0; n < 256; ++n) k += "ア";
        return k;
    }();
    struct Case {
        std::string args;
        int rc;
        std::string err;  // what standard error holds
    } cases[] = {
        {"ren " + img + " ::README.TXT 'bad*name.txt'", 1, "Invalid name: bad*name.txt\nA long name cannot hold"},
        {"ren " + img + " '::README.TXT' ::/NEW/x.txt", 2, "ren takes a name, not a path: /NEW/x.txt"},
        {"put " + img + " " + f + " '::/st*r.txt'", 1, "Invalid name: st*r.txt"},
        {"put " + img + " " + f + " '::trail. '", 1, "nor end with a space or a full stop"},
        {"mkdir " + img + " " + Quote(kana), 1, "Name too long: " + kana + "\nIt has 256 UTF-16 units"},
        {"mv " + img + " ::README.TXT '::GAMES/a|b'", 1, "Invalid name: a|b"},
        {"--short-names mkdir " + img + " 'A long name'", 1, "An 8.3 name cannot hold spaces"},
        {"--short-names mkdir " + img + " LONGNAME9.TXT", 1, "Name too long: LONGNAME9.TXT\nOn this volume a name has at most 8"},
        {"--strict-names put " + img + " " + q, 1, "a\"b.txt would be stored as a_b.txt: refused"},
        {"put " + img + " " + q, 0, "a\"b.txt stored as a_b.txt\n"},
        {"put " + img + " " + Quote(dir / "表示.TXT"), 0, ""},  // an alias without the byte 0x5C
        {"put " + img + " " + f + " " + Quote("::" + kana.substr(0, 255 * 3)), 0, ""},  // 765 bytes, 255 units
        // Each message names what it is about.
        {"mkdir " + img + " ::/GAMES", 1, "A folder with this name already exists:\nGAMES"},
        {"mkdir " + img + " ::/readme.txt", 1, "A file with this name already exists:\nREADME.TXT"},
        {"ls " + img + " ::/README.TXT/X", 1, "Not a folder: /README.TXT\n"},
        {"ls " + img + " ::/README.TXT/", 1, "Not a folder: /README.TXT/\n"},
        {"put " + img + " " + f + " ::/NEWF/", 1, "No such file or folder\nPath: /NEWF/"},
        {"rm " + img + " ::/", 1, "The root folder itself cannot be deleted"},
        {"--no put " + img + " " + Quote(dir / "README.TXT"), 0, "Kept: ::/README.TXT (--no)\n"},
        {"label " + img + " 'a*b'", 1, "Invalid volume label: a*b\nA label has 1 to 11 bytes"},
        {"label " + img + " HOME", 0, ""},
        {"mkdir " + img + " ::/HOME", 0, ""},  // the label's name is no file's
        {"new " + Quote(dir / "l.img") + " 2hd --label 'a*b'", 2, "A label has 1 to 11 bytes"},
        {"mount " + img + " " + img, 1, "Not a folder: " + image},
    };
    for (const Case& c : cases) {
        Outcome r = Cli("--lang en " + c.args);
        EXPECT_EQ(r.rc, c.rc) << c.args << "\n" << r.err;
        if (c.err.empty()) EXPECT_EQ(r.err, "") << c.args;
        else EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << "\n" << r.err;
    }
    Outcome none = Cli("ls " + img + " '::/*.ZZZ'");
    EXPECT_EQ(none.rc, 1);
    EXPECT_EQ(none.out, "") << "no header before nothing";
    // A full root folder: the file that does not fit is named, and no
    // "interrupted" follows the reason.
    RunShell("mkdir -p " + Quote(dir / "r") + " && cd " + Quote(dir / "r") + " && for i in $(seq 230); do echo $i > F$i; done");
    Outcome full = Cli("--lang en put " + img + " " + Quote(dir / "r") + "/*");
    EXPECT_EQ(full.rc, 1);
    EXPECT_NE(full.err.find("Not imported: "), std::string::npos) << full.err;
    EXPECT_EQ(full.err.find("interrupted"), std::string::npos) << full.err;
    EXPECT_EQ(full.err.find("Error creating a folder"), std::string::npos) << full.err;
    EXPECT_EQ(Mtype("/a_b.txt"), "q\n");
    EXPECT_EQ(Shell("LC_ALL=C.UTF-8 mdir -b -i " + img + " ::/ | grep -c 表示.TXT"), "1\n") << "the long name keeps the character";
    EXPECT_EQ(Mtype("/README.TXT"), "read me\n") << "nothing renamed";
    std::string listing = Cli("ls " + img).out;
    EXPECT_NE(listing.find(kana.substr(0, 255 * 3) + "\t2\t"), std::string::npos) << listing;
    EXPECT_TRUE(FsckClean(image));

    // A name the host cannot hold (765 bytes) is written under its alias, and the export goes on.
    std::string out = dir / "out";
    RunShell("mkdir -p " + Quote(out));
    Outcome r = Cli("--lang en get " + img + " ::/ " + Quote(out));
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.err.find(kana.substr(0, 255 * 3) + " written as アアア~1: the name is too long"), std::string::npos) << r.err;
    EXPECT_EQ(Text(ReadHostFile(out + "/アアア~1")), "f\n");
    EXPECT_EQ(Text(ReadHostFile(out + "/a_b.txt")), "q\n") << "the files after it are written too";
}

// Several sources: a clash nobody answers passes over that one entry and
// the rest go in (exit 1); free space is checked file by file, and the
// first that does not fit ends the batch there.
TEST_F(CliScriptTest, BatchesGoOnPastAClashAndStopWhereSpaceEnds) {
    RunShell("mkdir -p " + Quote(dir / "h/GAMES") + " && echo g > " + Quote(dir / "h/GAMES/G.TXT") +
             " && echo n > " + Quote(dir / "h/N1.TXT") + " && echo m > " + Quote(dir / "h/N2.TXT") +
             " && echo new > " + Quote(dir / "h/README.TXT"));
    const std::string h = Quote(dir / "h") + "/";
    Outcome r = Cli("--lang en put " + Quote(image) + " " + h + "README.TXT " + h + "N1.TXT " + h + "N2.TXT " + h + "GAMES");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("::/README.TXT already exists and was skipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("A folder with this name already exists:\nGAMES"), std::string::npos) << r.err;
    EXPECT_EQ(Mtype("/README.TXT"), "read me\n");
    EXPECT_EQ(Mtype("/N1.TXT") + Mtype("/N2.TXT"), "n\nm\n");
    EXPECT_EQ(Cli("ls " + Quote(image) + " ::/GAMES/G.TXT").rc, 1) << "an existing folder is not merged into";

    RunShell("head -c 800000 /dev/zero > " + Quote(dir / "h/BIG1") + " && cp " + Quote(dir / "h/BIG1") + " " +
             Quote(dir / "h/BIG2"));
    r = Cli("--lang en put " + Quote(image) + " " + h + "BIG1 " + h + "BIG2 " + h + "N1.TXT ::/GAMES");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("Not enough free space for the file"), std::string::npos) << r.err;
    std::string listing = Cli("ls " + Quote(image) + " ::/GAMES").out;
    EXPECT_NE(listing.find("BIG1\t800000\t"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("BIG2"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("N1.TXT"), std::string::npos) << "nothing after the file that did not fit";
    EXPECT_TRUE(FsckClean(image));
}

// A host file is replaced whole or not at all, and private copies go with
// a signal.
TEST_F(CliScriptTest, HostFilesAndSignals) {
    const std::string cli = VOLDEX_CLI;
    std::string out = dir / "out";
    RunShell("mkdir -p " + Quote(out) + " && printf old > " + Quote(out + "/a.txt"));
    WriteHostFile(dir / "big.bin", RandomBytes(200000, 3));
    ASSERT_EQ(Cli("put " + Quote(image) + " " + Quote(dir / "big.bin") + " ::/").rc, 0);
    // The file size limit ends get halfway (SIGXFSZ).
    int rc = RunShell("ulimit -f 64; " + Quote(cli) + " get --yes " + Quote(image) + " ::/BIG.BIN " + Quote(out + "/a.txt") +
                      " 2>/dev/null");
    EXPECT_NE(rc, 0);
    EXPECT_EQ(Text(ReadHostFile(out + "/a.txt")), "old");
    EXPECT_EQ(Shell("ls -A " + Quote(out)), "a.txt\n") << "the unfinished copy is removed";

    // put - ended by SIGTERM while it reads: its copy of standard input goes.
    TempDir tmp;
    auto before = ReadHostFile(image);
    std::string log;
    RunShell("export TMPDIR=" + Quote(tmp.path()) + "; cd " + Quote(dir.path()) + "; mkfifo in; exec " + Quote(cli) +
                 " put " + Quote(image) + " - ::/PIPE.TXT <in & p=$!; exec 3>" + Quote(dir / "in") +
                 "; echo part >&3; for i in $(seq 200); do [ -n \"$(ls -A " + Quote(tmp.path()) +
                 "/*/ 2>/dev/null)\" ] && break; sleep 0.05; done; kill -TERM $p; wait $p; echo rc=$?; exec 3>&-; ls -A " +
                 Quote(tmp.path()),
             &log);
    EXPECT_EQ(log, "rc=143\n");
    EXPECT_EQ(ReadHostFile(image), before);

    // SIGINT stops a put after the file in hand: here while the question
    // on C.DAT waits, answered y. What came before is whole, C.DAT keeps its
    // old data, what comes after is not taken.
    std::string many = dir / "many";
    RunShell("mkdir -p " + Quote(many));
    for (const char* name : {"A.TXT", "B.TXT", "C.DAT", "D.TXT", "E.TXT"})
        WriteHostFile(many + "/" + name, RandomBytes(30000, uint32_t(name[0])));
    ASSERT_EQ(Cli("mkdir " + Quote(image) + " ::/MANY").rc, 0);
    ASSERT_EQ(Cli("put " + Quote(image) + " " + Quote(dir / "C.DAT") + " ::/MANY").rc, 0);
    const std::string ask =
        "import os, pty, signal, sys\n"
        "pid, fd = pty.fork()\n"
        "if pid == 0: os.execv(sys.argv[1], sys.argv[1:])\n"
        "out = b''\n"
        "while b'(y' not in out: out += os.read(fd, 1024)\n"
        "os.kill(pid, signal.SIGINT)\n"
        "os.write(fd, b'y\\n')\n"
        "try:\n"
        "    while True:\n"
        "        d = os.read(fd, 1024)\n"
        "        if not d: break\n"
        "        out += d\n"
        "except OSError: pass\n"
        "print(out.decode(errors='replace'), 'rc=%d' % os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))\n";
    WriteHostFile(dir / "ask.py", Bytes(ask));
    std::string sources;
    for (const char* name : {"A.TXT", "B.TXT", "C.DAT", "D.TXT", "E.TXT"}) sources += " " + Quote(many + "/" + name);
    log = Shell("python3 " + Quote(dir / "ask.py") + " " + Quote(cli) + " --lang en put " + Quote(image) + sources +
                " ::/MANY");
    EXPECT_NE(log.find("Stopped by a signal"), std::string::npos) << log;
    EXPECT_NE(log.find("rc=130"), std::string::npos) << log;
    EXPECT_EQ(Shell("mdir -b -i " + Quote(image) + " ::/MANY"), "::/MANY/C.DAT\n::/MANY/A.TXT\n::/MANY/B.TXT\n");
    EXPECT_EQ(Mtype("/MANY/C.DAT"), "charlie\n");
    EXPECT_EQ(Bytes(Mtype("/MANY/B.TXT")), RandomBytes(30000, 'B'));
    EXPECT_TRUE(FsckClean(image));

    // Messages name standard input, not the private copy.
    WriteHostFile(dir / "huge.bin", RandomBytes(1600000, 4));
    Outcome r = Cli("put " + Quote(image) + " - ::/HUGE.BIN", "", dir / "huge.bin");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("\nτυπική είσοδος"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("voldex-put"), std::string::npos) << r.err;

    EXPECT_TRUE(FsckClean(image));
}

TEST_F(CliScriptTest, WildcardsMatchInAnyComponentWithoutRegardToCase) {
    std::string out = dir / "out";
    RunShell("mkdir -p " + Quote(out));
    // In folder components too, and "-" is standard output.
    ASSERT_EQ(RunShell("cd " + Quote(dir.path()) + " && mmd -i fd.img ::GRAPHICS ::GONE && mcopy -i fd.img README.TXT ::GRAPHICS/Z.TXT"), 0);
    Outcome r = Cli("get " + Quote(image) + " '::/G*/*.TXT' -");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "alpha\nbravo\nread me\n");
    EXPECT_EQ(Cli("get " + Quote(image) + " ::/README.TXT -").out, "read me\n");
    EXPECT_EQ(Shell("ls " + Quote(out)), "") << "no host file named -";
    EXPECT_EQ(Cli("get " + Quote(image) + " ::/GAMES -").rc, 1) << "a folder has no data to write out";
    r = Cli("ls " + Quote(image) + " '::/*/?.DAT'");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("C.DAT\t8\t"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("ls " + Quote(image) + " '::/X*/*.TXT'").rc, 1);
    ASSERT_EQ(Cli("rm " + Quote(image) + " ::/GRAPHICS ::/GONE").rc, 0);
    r = Cli("get " + Quote(image) + " '::/games/*.txt' " + Quote(out));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Shell("ls " + Quote(out)), "A.TXT\nB.TXT\n");
    r = Cli("--lang en ls " + Quote(image) + " '::GAMES/?.*'");
    ASSERT_EQ(r.rc, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::vector<std::string> names;
    while (std::getline(lines, line)) names.push_back(line.substr(0, line.find('\t')));
    EXPECT_EQ(names, (std::vector<std::string>{"Filename", "A.TXT", "B.TXT", "C.DAT"}));
    r = Cli("get " + Quote(image) + " '::/*.ZZZ' " + Quote(out));
    EXPECT_EQ(r.rc, 1) << "a pattern that matches nothing is an error";
    EXPECT_NE(r.err.find("*.ZZZ"), std::string::npos) << r.err;
    ASSERT_EQ(Cli("rm " + Quote(image) + " '::/GAMES/*.TXT'").rc, 0);
    EXPECT_EQ(Shell("mdir -b -i " + Quote(image) + " ::/GAMES"), "::/GAMES/C.DAT\n");
    ASSERT_EQ(Cli("mv " + Quote(image) + " '::/*.txt' ::/GAMES").rc, 0);
    EXPECT_EQ(Mtype("/GAMES/README.TXT"), "read me\n");
    EXPECT_TRUE(FsckClean(image));
    ASSERT_EQ(Cli("release " + Quote(image) + " '::/GAMES/*'").rc, 0);
    EXPECT_EQ(Shell("mdir -b -i " + Quote(image) + " ::/GAMES"), "");
    EXPECT_TRUE(FsckCleanButLost(image));
}

TEST_F(CliScriptTest, ReadingCommands) {
    Outcome r = Cli("cat " + Quote(image) + " ::/GAMES/A.TXT ::README.TXT");
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, "alpha\nread me\n");
    EXPECT_EQ(Cli("cat " + Quote(image) + " ::/GAMES").rc, 1) << "a folder has no data to print";

    r = Cli("ls " + Quote(image) + " ::/GAMES/C.DAT");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 11), "C.DAT\t8\tA\t2");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);

    r = Cli("ls -R " + Quote(image));
    ASSERT_EQ(r.rc, 0);
    for (const char* name : {"\nGAMES\t", "\nREADME.TXT\t", "\nGAMES/A.TXT\t", "\nGAMES/C.DAT\t"})
        EXPECT_NE(r.out.find(name), std::string::npos) << name << " in " << r.out;

    r = Cli("tree " + Quote(image));
    EXPECT_EQ(r.out, "/\n  GAMES/\n    A.TXT\n    B.TXT\n    C.DAT\n  README.TXT\n");
    r = Cli("tree " + Quote(image) + " ::GAMES");
    EXPECT_EQ(r.out, "GAMES\n  A.TXT\n  B.TXT\n  C.DAT\n");

    // JSON, read back by a JSON parser.
    std::string json = dir / "ls.json";
    ASSERT_EQ(RunShell(std::string(VOLDEX_CLI) + " ls -R --json " + Quote(image) + " > " + Quote(json)), 0);
    EXPECT_EQ(Shell("jq -r '.entries[] | select(.type == \"file\") | \"\\(.path) \\(.size)\"' " + Quote(json)),
              "/README.TXT 8\n/GAMES/A.TXT 6\n/GAMES/B.TXT 6\n/GAMES/C.DAT 8\n");
    EXPECT_EQ(Shell("jq -r '.entries[] | select(.name == \"GAMES\") | .type' " + Quote(json)), "folder\n");
    EXPECT_EQ(Shell(std::string(VOLDEX_CLI) + " info --json " + Quote(image) +
                    " | jq '.ClusterBytes * .ClustersCount == .TotalBytes and .FreeBytes + .UsedBytes == .TotalBytes'"),
              "true\n");
    EXPECT_EQ(Cli("tree --json " + Quote(image)).rc, 2) << "--json only where a schema is documented";

    // Whether the image could be changed, though info itself only reads it.
    std::string fat32 = dir / "fat32.img";
    MakeFatImage(fat32, 70000, 32);
    for (auto [img, writable] : {std::pair{image, "true"}, {fat32, "false"}})
        EXPECT_EQ(Shell(std::string(VOLDEX_CLI) + " info --json " + Quote(img) + " | jq -c '[.Writable, .ReadOnly]'"),
                  "[" + std::string(writable) + "," + (std::string(writable) == "true" ? "false" : "true") + "]\n")
            << img;

    // A stored date that is no date: null in JSON, with the stored fields; as stored in text.
    auto bytes = ReadHostFile(image);
    const std::string stored = "README  TXT";
    auto at = std::search(bytes.begin(), bytes.end(), stored.begin(), stored.end()) - bytes.begin();
    bytes[at + 22] = 0x59, bytes[at + 23] = 0xD6;  // 26:50:50
    bytes[at + 24] = 0, bytes[at + 25] = 0;        // 1980-00-00
    WriteHostFile(image, bytes);
    EXPECT_EQ(Shell(std::string(VOLDEX_CLI) + " ls --json " + Quote(image) +
                    " | jq -c '.entries[] | select(.name == \"README.TXT\") | [.time, .storedDate, .storedTime]'"),
              "[null,0,54873]\n");
    EXPECT_NE(Cli("ls " + Quote(image)).out.find("README.TXT\t8\tA\t1980/00/00 26:50:50\t"), std::string::npos);
}

TEST_F(CliScriptTest, ControlBytesInNamesAreEscaped) {
    // Names as a damaged or foreign directory may hold them: a tab and an
    // escape byte in the stored 8.3 names.
    auto b = ReadHostFile(image);
    std::string img(b.begin(), b.end());
    std::size_t at = img.find("README  TXT");
    ASSERT_NE(at, std::string::npos);
    b[at + 2] = '\t';
    b[at + 4] = 0x1B;
    WriteHostFile(image, b);
    Outcome r = Cli("ls " + Quote(image));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("RE\\tD\\x1BE.TXT\t8\t"), std::string::npos) << r.out;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
    EXPECT_EQ(Shell(std::string(VOLDEX_CLI) + " ls --json " + Quote(image) + " | jq -r '.entries[1].name'"),
              "RE\tD\x1B" "E.TXT\n");
}

TEST_F(CliScriptTest, HelpForEveryCommandAndVersion) {
    for (const CliCommand& c : CliCommands()) {
        Outcome r = Cli(std::string(c.name) + " --help");
        EXPECT_EQ(r.rc, 0) << c.name;
        EXPECT_EQ(r.out.rfind(std::string("usage: voldex-cli [OPTIONS] ") + c.name + " ", 0), 0u) << r.out;
        EXPECT_EQ(Cli("help " + std::string(c.name)).out, r.out);
    }
    // The notes on image paths and names end only the help they concern.
    EXPECT_EQ(Cli("info --help").out.find("::"), std::string::npos);
    EXPECT_EQ(Cli("rm --help").out.find("--strict-names"), std::string::npos);
    EXPECT_NE(Cli("put --help").out.find("--strict-names"), std::string::npos);
    Outcome r = Cli("--version");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out.rfind("voldex-cli ", 0), 0u);
    r = Cli("--help");
    EXPECT_NE(r.out.find("put IMAGE HOSTPATH... [::DEST]"), std::string::npos);
}

// The usage, each command's help, the manual page and the completion list
// the commands and options of one table: each command with the options it
// takes of its own and no other, every option once.
TEST(CliTable, HelpManualAndCompletionFollowTheTable) {
    auto source = [](const std::string& name) { return Text(ReadHostFile(std::string(VOLDEX_SOURCE_DIR) + "/" + name)); };
    auto troff = [](const std::string& word) { return std::regex_replace(word, std::regex("-"), "\\-"); };
    const std::string page = source("data/man/voldex-cli.1"), completion = source("data/completion/voldex-cli");
    const std::string usage = Cli("--help").out;
    EXPECT_EQ(page.rfind(".TH VOLDEX\\-CLI 1 \"2026\" \"Voldex " + std::string(kCliVersion) + "\"", 0), 0u) << "the version";

    // The manual: each command's entry (from its .TP to the next), the options section.
    const std::size_t commandsAt = page.find(".SH COMMANDS\n"), optionsAt = page.find(".SH OPTIONS\n");
    ASSERT_TRUE(commandsAt != std::string::npos && optionsAt != std::string::npos);
    std::map<std::string, std::string> entries;
    const std::string commandPart = page.substr(commandsAt, optionsAt - commandsAt);
    static const std::regex entryHead(R"(\n\.TP\n\.BI "?([a-z0-9]+))");
    std::vector<std::pair<std::size_t, std::string>> heads;
    for (auto it = std::sregex_iterator(commandPart.begin(), commandPart.end(), entryHead); it != std::sregex_iterator(); ++it)
        heads.push_back({std::size_t(it->position()), (*it)[1].str()});
    for (std::size_t k = 0; k < heads.size(); ++k)
        entries[heads[k].second] += commandPart.substr(heads[k].first, (k + 1 < heads.size() ? heads[k + 1].first : commandPart.size()) - heads[k].first);
    const std::string optionPart = page.substr(optionsAt, page.find("\n.SH ", optionsAt + 1) - optionsAt);

    // The completion: the command list, the general options, one line per command.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(completion, m, std::regex(R"re(local commands="([^"]*)")re")));
    const std::string listed = " " + m[1].str() + " ";
    ASSERT_TRUE(std::regex_search(completion, m, std::regex(R"re(local general="([^"]*)")re")));
    auto words = [](const std::string& text) {
        std::vector<std::string> w;
        std::istringstream in(text);
        for (std::string x; in >> x;) w.push_back(x);
        return w;
    };
    auto sorted = [](std::vector<std::string> w) { std::sort(w.begin(), w.end()); return w; };
    std::vector<std::string> general = words(m[1].str()), wantGeneral;
    std::size_t count = 0;
    const CliOption* table = CliOptionTable(count);
    for (std::size_t k = 0; k < count; ++k) {
        const CliOption& o = table[k];
        const std::string shown = o.alias ? std::string(o.alias) + ", " + o.name : std::string(o.name);
        EXPECT_NE(usage.find("\n  " + shown), std::string::npos) << "--help lacks " << shown;
        EXPECT_NE(optionPart.find(troff(o.name)), std::string::npos) << "the manual's options lack " << o.name;
        if (o.alias) {
            EXPECT_NE(optionPart.find(troff(o.alias)), std::string::npos) << "the manual lacks " << o.alias;
        }
        if (!o.General()) continue;
        wantGeneral.push_back(o.name);
        if (o.alias) wantGeneral.push_back(o.alias);
    }
    EXPECT_EQ(sorted(general), sorted(wantGeneral)) << "the completion's general options";

    std::size_t commands = 0;
    for (const CliCommand& c : CliCommands()) {
        ++commands;
        const std::string name = c.name, help = Cli(name + " --help").out;
        EXPECT_NE(listed.find(" " + name + " "), std::string::npos) << "completion lacks " << name;
        ASSERT_TRUE(entries.count(name)) << "the manual lacks " << name;
        ASSERT_TRUE(std::regex_search(completion, m, std::regex("\n        " + name + R"re(\) own="([^"]*)")re")))
            << "completion lacks the options of " << name;
        std::vector<std::string> own = words(m[1].str()), want;
        for (const CliOption* o : CommandOptions(c)) {
            want.push_back(o->name);
            if (o->alias) want.push_back(o->alias);
            const std::string shown = o->alias ? std::string(o->alias) + ", " + o->name : std::string(o->name);
            EXPECT_NE(help.find("\n  " + shown), std::string::npos) << name << " --help lacks " << shown;
            EXPECT_TRUE(entries[name].find(troff(o->name)) != std::string::npos ||
                        (o->alias && entries[name].find(troff(o->alias)) != std::string::npos))
                << "the manual's " << name << " lacks " << o->name;
        }
        EXPECT_EQ(sorted(own), sorted(want)) << "completion of " << name;
    }
    EXPECT_EQ(words(listed).size(), commands) << "no command the table lacks";
    EXPECT_EQ(entries.size(), commands) << "no manual entry the table lacks";
}

TEST_F(CliScriptTest, ProgressOnlyOnATerminal) {
    WriteHostFile(dir / "big.bin", RandomBytes(1000000, 9));
    Outcome quiet = Cli("put " + Quote(image) + " " + Quote(dir / "big.bin"));
    ASSERT_EQ(quiet.rc, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    std::string out = dir / "out";
    RunShell("mkdir -p " + Quote(out));
    // script(1) gives the command a terminal; its output is what the terminal showed.
    std::string shown = Shell("script -qec " + Quote(std::string(VOLDEX_CLI) + " --lang en get " + Quote(image) + " ::BIG.BIN " +
                                               Quote(out)) +
                              " /dev/null");
    EXPECT_NE(shown.find("MiB/s"), std::string::npos) << shown;
    EXPECT_NE(shown.find(" MiB, 1 file, "), std::string::npos) << shown;
    EXPECT_EQ(ReadHostFile(out + "/big.bin"), RandomBytes(1000000, 9)) << "exported under its long name";
}

TEST(CliPaths, PatternsEscapesAndTables) {
    EXPECT_TRUE(MatchesPattern("*.TXT", "README.TXT"));
    EXPECT_TRUE(MatchesPattern("*.txt", "README.TXT"));
    EXPECT_FALSE(MatchesPattern("*.TXT", "README.TX"));
    EXPECT_TRUE(MatchesPattern("*.*", "README"));
    EXPECT_TRUE(MatchesPattern("R?ADME", "README"));
    EXPECT_FALSE(MatchesPattern("R?ADME", "RADME"));
    EXPECT_TRUE(MatchesPattern("*AB", "AAB")) << "a star gives back what the rest needs";
    EXPECT_TRUE(MatchesPattern("*A*B*", "XAYBZ"));
    EXPECT_FALSE(MatchesPattern("*A*B", "XBYA"));
    EXPECT_FALSE(MatchesPattern(std::string(40, '*') + "Z", std::string(5000, 'A'))) << "and does so quickly";
    // A double-byte character is one character for "?".
    EXPECT_TRUE(MatchesPattern("?.TXT", "\x83\x41.TXT"));
    EXPECT_FALSE(MatchesPattern("??.TXT", "\x83\x41.TXT"));
    EXPECT_EQ(EscapeField("a\tb\nc\\d\x01"), "a\\tb\\nc\\\\d\\x01");
    EXPECT_EQ(JsonString("q\"\x02"), "\"q\\\"\\u0002\"");

    PartitionRow a, b;
    a.offset = 1048576;
    a.bytes = 1048576;
    b.offset = 2097152;
    b.bytes = 1048576;
    EXPECT_TRUE(IsSoundTable({a, b}, 4 << 20));
    EXPECT_FALSE(IsSoundTable({a, b}, (3 << 20) - 1)) << "the second ends beyond the image";
    b.offset = 1048576 + 4096;
    EXPECT_FALSE(IsSoundTable({a, b}, 4 << 20)) << "overlapping";
    EXPECT_FALSE(IsSoundTable({}, 4 << 20));
}

// A sparse AT disk larger than 4 GiB with partitions at 1 MiB, 3 GiB and 4.1 GiB.
class CliLargeDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        disk = dir / "big.img";
        ASSERT_EQ(RunShell("truncate -s 4500M " + Quote(disk)), 0);
        ASSERT_EQ(RunShell("printf 'label: dos\\nstart=2048, size=131072, type=6\\nstart=6291456, size=131072, "
                           "type=6\\nstart=8598528, size=131072, type=6\\n' | sfdisk -q " +
                           Quote(disk)),
                  0);
        for (uint64_t start : {2048ull, 6291456ull, 8598528ull})
            ASSERT_EQ(RunShell("mkfs.fat -F 16 --offset " + std::to_string(start) + " " + Quote(disk) +
                               " 65536 >/dev/null 2>&1"),
                      0);
        WriteHostFile(dir / "one.txt", Bytes("first\n"));
        ASSERT_EQ(RunShell("mcopy -i " + Quote(disk + "@@1048576") + " " + Quote(dir / "one.txt") + " ::"), 0);
    }
    std::string PartitionSum(uint64_t startSector) {
        return Shell("dd if=" + Quote(disk) + " bs=512 skip=" + std::to_string(startSector) +
                     " count=131072 status=none | sha1sum");
    }
    TempDir dir;
    std::string disk;
};

TEST_F(CliLargeDiskTest, PartitionsBeyond2And4GiBAreWrittenWhereTheyAre) {
    Outcome r = Cli("parts --json " + Quote(disk));
    ASSERT_EQ(r.rc, 0) << r.err;
    WriteHostFile(dir / "parts.json", Bytes(r.out));
    EXPECT_EQ(Shell("jq -r '.partitions[].offset' " + Quote(dir / "parts.json")),
              "1048576\n3221225472\n4402446336\n");
    // First and last sector as sfdisk counts them, the type byte, the name
    // untranslated; the text shows the same ends.
    EXPECT_EQ(Shell("jq -r '.partitions[] | \"\\(.start) \\(.end) \\(.type) \\(.unit) \\(.plainName)\"' " + Quote(dir / "parts.json")),
              Shell("sfdisk -J " + Quote(disk) + " | jq -r '.partitiontable.partitions[] | \"\\(.start) \\(.start + .size - 1) "
                    "\\(.type) sector FAT16, 32 MB or more\"'"));
    EXPECT_NE(Cli("parts " + Quote(disk)).out.find("\t2048SEC\t133119SEC\t64MB\t"), std::string::npos);
    // A disk without a table still gives JSON.
    r = Cli("parts --json " + Quote(dir / "one.txt"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "{\"partitions\": []}\n");
    const std::string first = PartitionSum(2048);
    r = Cli("--partition 3 mkdir " + Quote(disk) + " X");
    ASSERT_EQ(r.rc, 0) << r.err;
    r = Cli("--partition 2 mkdir " + Quote(disk) + " Y");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(Shell("mdir -i " + Quote(disk + "@@4402446336") + " ::").find("X            <DIR>"), std::string::npos);
    EXPECT_NE(Shell("mdir -i " + Quote(disk + "@@3221225472") + " ::").find("Y            <DIR>"), std::string::npos);
    EXPECT_EQ(PartitionSum(2048), first) << "the first partition is untouched";
    EXPECT_NE(Cli("--offset 4402446336 ls " + Quote(disk)).out.find("\nX\t0\t<DIR>"), std::string::npos);
    // The partition taken out of the disk is sound.
    RunShell("dd if=" + Quote(disk) + " of=" + Quote(dir / "p3.img") + " bs=512 skip=8598528 count=131072 status=none");
    EXPECT_TRUE(FsckClean(dir / "p3.img"));
}

TEST_F(CliLargeDiskTest, CommandLineWinsOverSettings) {
    TempDir home;
    // Written as a Windows editor writes it: byte-order mark, CR LF.
    WriteHostFile(home / "kestrel.ini", Bytes("\xEF\xBB\xBF[ProgramSettings]\r\nAutoHDDFirst=1\r\nSkipTypeSelect=1\r\n"));
    WriteHostFile(home / "DISKS.INI", Bytes("\xEF\xBB\xBF;VoldexProfiles\r\n[First]\r\nExtension=.IMG\r\nProfileType=1\r\n"
                                            "DiskStart=1048576\r\n[Whole disk]\r\nExtension=.NONE\r\nProfileType=3\r\n"
                                            "HDDType=1\r\nSecLen=512\r\nSectors=63\r\nHeads=255\r\n"));
    auto start = [&](const std::string& options) {
        Outcome r = Cli("--lang en " + options + " info " + Quote(disk), home.path());
        return r.out.substr(0, r.out.find('\n')) + (r.rc ? " rc=" + std::to_string(r.rc) + r.err : "");
    };
    EXPECT_EQ(start(""), "Volume start: 1048576") << "the preselected profile, read from an upper-case .INI with a BOM";
    EXPECT_EQ(start("--partition 3"), "Volume start: 4402446336");
    EXPECT_EQ(start("--profile 'whole disk'"), "Volume start: 1048576") << "the first partition by default";
    EXPECT_EQ(start("--profile 'whole disk' --partition 2"), "Volume start: 3221225472");
    EXPECT_EQ(start("--offset 3221225472"), "Volume start: 3221225472");
    EXPECT_EQ(Cli("--offset 3221225472 --partition 3 info " + Quote(disk), home.path()).rc, 2)
        << "two answers to one question";
}

TEST(CliOpening2, PlainDumpsAndGarbage) {
    TempDir dir;
    // A PC-9801 disk without a header: the geometry comes from the boot sector found.
    std::string pc98 = dir / "plain98.img";
    auto offsets = MakePC98Disk(pc98, PC98Header::None, PC98Geometry{}, {{1, 150, "DOS"}, {151, 300, "DATA"}});
    ASSERT_EQ(offsets[0], 69632u);
    Outcome r = Cli("parts " + Quote(pc98));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "DOS\t1CYL\t150CYL\t10MB\t69632\nDATA\t151CYL\t300CYL\t10MB\t" + std::to_string(offsets[1]) + "\n");
    r = Cli("--partition 2 ls " + Quote(pc98));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("PART2.TXT"), std::string::npos);

    // Random bytes hold no table.
    std::string noise = dir / "noise.img";
    WriteHostFile(noise, RandomBytes(3 << 20, 77));
    r = Cli("parts " + Quote(noise));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "");

    // Two AT entries that overlap, or one beyond the end, are not a table.
    std::string bad = dir / "bad.img";
    RunShell("truncate -s 32M " + Quote(bad));
    ASSERT_EQ(RunShell("printf 'label: dos\\nstart=2048, size=20000, type=6\\nstart=22048, size=20000, type=6\\n' | "
                       "sfdisk -q " + Quote(bad)),
              0);
    auto b = ReadHostFile(bad);
    b[446 + 16 + 8] = 0x00;  // the second now starts at 21504: inside the first
    b[446 + 16 + 9] = 0x54;
    WriteHostFile(bad, b);
    EXPECT_EQ(Cli("parts " + Quote(bad)).out, "");

    // A plain AT disk opens by the fallback without a word about the failed plain reading.
    std::string at = dir / "at.img";
    RunShell("truncate -s 16M " + Quote(at));
    ASSERT_EQ(RunShell("printf 'label: dos\\n2048,,6\\n' | sfdisk -q " + Quote(at)), 0);
    PutVolumeAt(at, 1048576, 15 * 1024, 1);
    r = Cli("ls " + Quote(at));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("PART1.TXT"), std::string::npos);
    r = Cli("ls " + Quote(noise));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, noise + ": δεν είναι εικόνα δίσκου που αναγνωρίζει το Voldex (δεν βρέθηκε κεφαλίδα, πίνακας "
                             "διαμερισμάτων ή εγγραφή εκκίνησης)\n")
        << "a failure says why, once";
}

TEST(CliFloppy, MkfddNeverHarmsAFileItDidNotMake) {
    TempDir dir;
    std::string src = dir / "floppy.img";
    auto data = RandomBytes(1474560, 5);
    WriteHostFile(src, data);
    Outcome r = Cli("mkfdd --yes " + Quote(src) + " " + Quote(src) + " --size 1440");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("ίδιος ο δίσκος προέλευσης"), std::string::npos) << r.err;
    EXPECT_EQ(ReadHostFile(src), data) << "the source is neither truncated nor removed";
    symlink(src.c_str(), (dir / "link.img").c_str());
    EXPECT_EQ(Cli("mkfdd --yes " + Quote(src) + " " + Quote(dir / "link.img") + " --size 1440").rc, 1);
    EXPECT_EQ(ReadHostFile(src), data);

    // A read that fails leaves an existing output as it was.
    std::string shortSrc = dir / "short.img", keep = dir / "keep.img";
    WriteHostFile(shortSrc, RandomBytes(100000, 6));
    WriteHostFile(keep, Bytes("precious"));
    r = Cli("mkfdd --yes " + Quote(shortSrc) + " " + Quote(keep) + " --size 1440");
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(Text(ReadHostFile(keep)), "precious");
    EXPECT_NE(r.err.find("Σφάλμα ανάγνωσης τροχιάς"), std::string::npos) << "plain words after \"I/O ?\": " << r.err;
    EXPECT_EQ(Shell("ls " + Quote(dir.path())), "floppy.img\nkeep.img\nlink.img\nshort.img\n") << "no partial file left";

    r = Cli("mkfdd " + Quote(src) + " " + Quote(dir / "copy.img") + " --size 1440");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(ReadHostFile(dir / "copy.img"), data);
    EXPECT_NE(r.err.find("Η εικόνα δημιουργήθηκε"), std::string::npos) << r.err;
    r = Cli("mkfdd " + Quote(src) + " " + Quote(dir / "x.img"));
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("μέγεθος δισκέτας"), std::string::npos) << r.err;

    // Replacing an existing output: the answer typed on a terminal is
    // read; without a terminal the question points at --yes and --no.
    std::string blank = dir / "blank.img";
    ASSERT_EQ(Cli("new " + Quote(blank) + " 1.44m").rc, 0);
    struct Asked {
        std::string command, typed;
        int rc;
        uint64_t size;
    };
    for (const Asked& a : {Asked{"new " + Quote(blank) + " 2dd", "n", 1, 1474560},
                           Asked{"new " + Quote(blank) + " 2hd", "x\ny", 0, 1261568},
                           Asked{"mkfdd " + Quote(src) + " " + Quote(blank) + " --size 1440", "y", 0, 1474560}}) {
        std::string shown = Shell("printf '" + a.typed + "\\n' | script -qec " +
                                  Quote(std::string(VOLDEX_CLI) + " " + a.command + "; echo rc=$?") + " /dev/null");
        EXPECT_NE(shown.find("rc=" + std::to_string(a.rc)), std::string::npos) << a.command << ": " << shown;
        EXPECT_EQ(ReadHostFile(blank).size(), a.size) << a.command;
    }
    EXPECT_EQ(ReadHostFile(blank), data);
    r = Cli("new " + Quote(blank) + " 2hd");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    EXPECT_EQ(ReadHostFile(blank), data);
}

TEST(CliConfiguration, ProfilesAsPeopleWriteThemAndTheDriveList) {
    TempDir home, dir;
    // A plug-in named relative to the program folder, in a profile file
    // whose name is upper case and which begins with a byte-order mark.
    RunShell("cp " + Quote(VOLDEX_TEST_PLUGIN) + " " + Quote(home / "plugin.so"));
    WriteHostFile(home / "PLUG.INI", Bytes("\xEF\xBB\xBF;VoldexProfiles\n[Plug]\nExtension=.PLG\nProfileType=6\n"
                                           "Library=plugin.so\n[Far]\nExtension=.FAR\nProfileType=1\n"
                                           "DiskStart=4402446336\n"));
    std::string image = dir / "disk.plg";
    MakeFatImage(image, 1440, 12);
    setenv("VOLDEX_TEST_KIND", "1", 1);  // the plug-in answers: read the boot record at 0
    Outcome r = Cli("--lang en info " + Quote(image), home.path());
    unsetenv("VOLDEX_TEST_KIND");
    EXPECT_EQ(r.out.rfind("Volume start: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("library"), std::string::npos) << "the plug-in was found beside the profiles: " << r.err;
    // A 32-bit DiskStart that does not fit is refused, not wrapped.
    std::string far = dir / "disk.far";
    MakeFatImage(far, 1440, 12);
    r = Cli("info " + Quote(far), home.path());
    EXPECT_NE(r.err.find("DiskStart=4402446336"), std::string::npos) << r.err;

    std::string sys = dir / "sys";
    for (auto [name, size] : std::vector<std::pair<std::string, std::string>>{
             {"sda", "1000"}, {"loop0", "2880"}, {"loop1", "0"}, {"zram0", "8000"}, {"ram0", "8000"}, {"mmcblk0", "64"}}) {
        RunShell("mkdir -p " + Quote(sys + "/" + name));
        WriteHostFile(sys + "/" + name + "/size", Bytes(size + "\n"));
    }
    EXPECT_EQ(ListDrivePathsIn(sys), (std::vector<std::string>{"/dev/loop0", "/dev/mmcblk0", "/dev/sda"}));
}

}  // namespace
