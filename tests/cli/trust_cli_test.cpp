// The command line under hostile conditions: two writers at once, names that
// cannot be stored, folders that loop or run very deep, FIFOs.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/images.h"
#include "volume/didir.h"

namespace {

struct Result {
    int rc;
    std::string out, err;
};

Result Cli(const std::string& args) {
    TempDir errDir;
    std::string errFile = errDir / "err";
    std::string out;
    int rc = RunShell(std::string("( timeout 60 ") + VOLDEX_CLI + " " + args + " 2>" + Quote(errFile) + " )", &out);
    auto e = ReadHostFile(errFile);
    return {rc, out, std::string(e.begin(), e.end())};
}

class TrustCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12);
    }
    std::string Mtype(const std::string& path) {
        std::string out;
        RunShell("mtype -i " + Quote(image) + " ::" + path, &out);
        return out;
    }
    TempDir dir;
    std::string image;
};

TEST_F(TrustCliTest, TwoWritersAtOnceNeverCorruptTheImage) {
    // Two loops of puts started together: the lock lets one writer in at a
    // time and turns the other away at once with exit 1.
    const int kPuts = 25;
    std::string host = dir / "host";
    mkdir(host.c_str(), 0755);
    for (int k = 0; k < kPuts; ++k)
        for (char who : {'A', 'B'})
            WriteHostFile(host + "/" + who + std::to_string(k) + ".BIN",
                          RandomBytes(700 + 37 * k, uint32_t(k * 2 + (who == 'A'))));
    std::string script;
    for (char who : {'A', 'B'}) {
        script += "( for k in $(seq 0 " + std::to_string(kPuts - 1) + "); do " + VOLDEX_CLI + " put " + Quote(image) +
                  " " + Quote(host) + "/" + who + "$k.BIN 2>/dev/null; echo " + who + "$k:$?; done ) > " +
                  Quote(dir / std::string(1, who) + ".log") + " & ";
    }
    script += "wait";
    ASSERT_EQ(RunShell(script), 0);
    int ok = 0, refused = 0;
    for (char who : {'A', 'B'}) {
        auto log = ReadHostFile(dir / std::string(1, who) + ".log");
        std::string text(log.begin(), log.end());
        for (int k = 0; k < kPuts; ++k) {
            std::string name = who + std::to_string(k) + ".BIN";
            bool exited0 = text.find(who + std::to_string(k) + ":0\n") != std::string::npos;
            if (!exited0) {
                ++refused;
                continue;
            }
            ++ok;
            auto want = ReadHostFile(host + "/" + name);
            EXPECT_EQ(Mtype("/" + name), std::string(want.begin(), want.end())) << name;
        }
    }
    EXPECT_GT(ok, 0);
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report << " (" << ok << " puts, " << refused << " refused)";
}

TEST_F(TrustCliTest, ASecondWriterIsRefusedAtOnceWhileReadersShare) {
    // Hold the image for writing from a shell, the way another program would.
    std::string hold = "flock -x " + Quote(image) + " sleep 1.5 & sleep 0.3; ";
    auto started = std::chrono::steady_clock::now();
    std::string out;
    int rc = RunShell("( " + hold + VOLDEX_CLI + " mkdir " + Quote(image) + " NEW 2>&1; echo rc=$?; wait )", &out);
    ASSERT_EQ(rc, 0);
    EXPECT_NE(out.find("Η εικόνα χρησιμοποιείται ήδη από άλλο πρόγραμμα"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=1"), std::string::npos) << out;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_NE(Mtype("/NEW").find("not found"), std::string::npos) << "nothing was written";
    // Readers share a lock with other readers.
    RunShell("( flock -s " + Quote(image) + " sleep 1 & sleep 0.3; " + VOLDEX_CLI + " ls " + Quote(image) +
                 "; echo rc=$?; wait )",
             &out);
    EXPECT_NE(out.find("rc=0"), std::string::npos) << out;
}

TEST_F(TrustCliTest, NamesBeginningWithAFullStopTravelBothWays) {
    std::string host = dir / "dots";
    mkdir(host.c_str(), 0755);
    auto ignore = RandomBytes(600, 1), attrs = RandomBytes(1500, 2);
    WriteHostFile(host + "/.gitignore", ignore);
    WriteHostFile(host + "/.gitattributes", attrs);
    Result put = Cli("put " + Quote(image) + " " + Quote(host));
    ASSERT_EQ(put.rc, 0) << put.err;
    // With long names (the default) the names arrive whole; their aliases keep the letters.
    EXPECT_EQ(Mtype("/dots/.gitignore"), std::string(ignore.begin(), ignore.end()));
    EXPECT_EQ(Mtype("/DOTS/GITIGN~1"), std::string(ignore.begin(), ignore.end()));
    EXPECT_EQ(Mtype("/dots/.gitattributes"), std::string(attrs.begin(), attrs.end()));
    std::string back = dir / "back";
    mkdir(back.c_str(), 0755);
    ASSERT_EQ(Cli("get " + Quote(image) + " DOTS " + Quote(back)).rc, 0);
    EXPECT_EQ(ReadHostFile(back + "/dots/.gitignore"), ignore);
    EXPECT_EQ(ReadHostFile(back + "/dots/.gitattributes"), attrs);
    ASSERT_EQ(Cli("rm " + Quote(image) + " DOTS").rc, 0);
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report;
    std::string free;
    RunShell("mdir -i " + Quote(image) + " :: | grep 'bytes free'", &free);
    EXPECT_NE(free.find("1 457 664"), std::string::npos) << "every cluster is free again: " << free;
}

TEST_F(TrustCliTest, EntriesOtherSystemsNamedWithAFullStopCanBeListedExportedAndDeleted) {
    // ".HIDDEN" stored as it stands, as another system could write it.
    auto data = RandomBytes(1400, 3);
    {
        Mounted m = MountImageFile(image);
        ASSERT_TRUE(m);
        DIDir root(m.image.get(), 0);
        ASSERT_TRUE(root.Load());
        int i = root.AddEntry("X");
        ASSERT_GE(i, 0);
        auto chain = m->AllocateChain(uint32_t(data.size()));
        ASSERT_TRUE(chain);
        std::vector<uint8_t> buf(m->ClusterSize * chain->size(), 0);
        std::copy(data.begin(), data.end(), buf.begin());
        for (std::size_t k = 0; k < chain->size(); ++k)
            ASSERT_TRUE(m->WriteCluster((*chain)[k], buf.data() + k * m->ClusterSize));
        uint8_t raw[32] = {};
        std::memcpy(raw, ".HIDDEN    ", 11);
        raw[11] = kAttrArchive;
        root.RestoreEntry(i, raw);
        root.SetStartCluster(i, chain->front());
        root.SetSize(i, uint32_t(data.size()));
        ASSERT_TRUE(root.Write());
    }
    Result ls = Cli("ls " + Quote(image));
    EXPECT_NE(ls.out.find(".HIDDEN"), std::string::npos) << ls.out;
    std::string back = dir / "back";
    mkdir(back.c_str(), 0755);
    ASSERT_EQ(Cli("get " + Quote(image) + " .HIDDEN " + Quote(back)).rc, 0);
    EXPECT_EQ(ReadHostFile(back + "/.HIDDEN"), data);
    ASSERT_EQ(Cli("rm " + Quote(image) + " .HIDDEN").rc, 0);
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report << " (nothing leaked)";
}

TEST_F(TrustCliTest, NamesThatCannotBeStoredAreRefusedAndChangeNothing) {
    ASSERT_EQ(Cli("mkdir " + Quote(image) + " DIR").rc, 0);
    auto before = ReadHostFile(image);
    for (const char* bad : {".", "..", "   ", ". .", "..."}) {
        Result mk = Cli("mkdir " + Quote(image) + " " + Quote(bad));
        EXPECT_EQ(mk.rc, 1) << "mkdir '" << bad << "'";
        Result ren = Cli("ren " + Quote(image) + " DIR " + Quote(bad));
        EXPECT_EQ(ren.rc, 1) << "ren to '" << bad << "'";
        EXPECT_NE(ren.err.find("Μη έγκυρο όνομα"), std::string::npos) << ren.err;
    }
    Result dotdot = Cli("ren " + Quote(image) + " DIR/.. X");
    EXPECT_EQ(dotdot.rc, 1);
    EXPECT_NE(dotdot.err.find("Μη έγκυρο όνομα"), std::string::npos) << dotdot.err;
    EXPECT_EQ(Cli("ren " + Quote(image) + " DIR/. X").rc, 1);
    EXPECT_EQ(ReadHostFile(image), before) << "not one byte changed";
}

TEST_F(TrustCliTest, AThirtyThousandDeepFolderChainEndsWithoutASignal) {
    image = dir / "deep.img";
    MakeFatImage(image, 32768, 16, "-s 1");
    ASSERT_TRUE(BuildFolderChain(image, 30000, false));
    std::string out = dir / "out";
    mkdir(out.c_str(), 0755);
    Result get = Cli("get " + Quote(image) + " D " + Quote(out));
    // The host's path length ends the export long before the chain does:
    // a message and exit 1, never a crash.
    EXPECT_EQ(get.rc, 1) << get.err;
    EXPECT_NE(get.err.find("Σφάλμα κατά το άνοιγμα του αρχείου"), std::string::npos) << get.err;
    // The listings walk all of it: one line for each folder.
    for (const char* command : {"ls -R", "tree"}) {
        std::string lines;
        RunShell("{ " + std::string(VOLDEX_CLI) + " " + command + " " + Quote(image) + "; echo $? > " +
                     Quote(dir / "rc") + "; } | wc -l",
                 &lines);
        EXPECT_EQ(lines, "30001\n") << command;
        auto rc = ReadHostFile(dir / "rc");
        EXPECT_EQ(std::string(rc.begin(), rc.end()), "0\n") << command;
    }
    // The delete walks all of it.
    Result rm = Cli("rm " + Quote(image) + " D");
    EXPECT_EQ(rm.rc, 0) << rm.err;
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report;
}

TEST_F(TrustCliTest, ALadderOfFoldersEndsWith128WithinASecond) {
    ASSERT_TRUE(BuildFolderChain(image, 60, true));
    auto before = ReadHostFile(image);
    std::string out = dir / "out";
    mkdir(out.c_str(), 0755);
    // Each folder is listed once; every second way into it is reported.
    for (const char* command : {"ls -R", "tree"}) {
        auto started = std::chrono::steady_clock::now();
        Result r = Cli(std::string(command) + " " + Quote(image));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << command;
        EXPECT_EQ(r.rc, 1) << command;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + 1 + 59 * 2) << command << r.out;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 59 * 2) << r.err;
        EXPECT_NE(r.err.find("και παρατίθεται μία μόνο φορά\n/D/E\n"), std::string::npos) << r.err;
    }
    auto started = std::chrono::steady_clock::now();
    Result get = Cli("get " + Quote(image) + " D " + Quote(out));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(get.rc, 1);
    EXPECT_NE(get.err.find("Υπάρχει ένας φάκελος με παραπομπή σε βρόχο"), std::string::npos) << get.err;
    Result rm = Cli("rm " + Quote(image) + " D");
    EXPECT_EQ(rm.rc, 1);
    EXPECT_NE(rm.err.find("Υπάρχει ένας φάκελος με παραπομπή σε βρόχο"), std::string::npos) << rm.err;
    EXPECT_EQ(ReadHostFile(image), before) << "a delete through a ladder changes nothing";
}

TEST_F(TrustCliTest, FifosAndSocketsNeverBlock) {
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    auto started = std::chrono::steady_clock::now();
    Result ls = Cli("ls " + Quote(fifo));
    EXPECT_EQ(ls.rc, 1);
    EXPECT_NE(ls.err.find("δεν είναι αρχείο εικόνας ή συσκευή δίσκου"), std::string::npos) << ls.err;
    EXPECT_EQ(Cli("mkdir " + Quote(fifo) + " X").rc, 1);

    // Inside a folder being imported: passed over with a message.
    std::string host = dir / "host";
    mkdir(host.c_str(), 0755);
    ASSERT_EQ(mkfifo((host + "/pipe").c_str(), 0644), 0);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = host + "/sock";
    std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(symlink((host + "/nowhere").c_str(), (host + "/dangling").c_str()), 0);
    auto data = RandomBytes(800, 5);
    WriteHostFile(host + "/REAL.BIN", data);
    Result put = Cli("put " + Quote(image) + " " + Quote(host));
    close(s);
    EXPECT_EQ(put.rc, 1) << "the copy is incomplete: " << put.err;
    EXPECT_NE(put.err.find("Παραλείφθηκε: δεν είναι κανονικό αρχείο ή φάκελος\n" + host + "/pipe"), std::string::npos)
        << put.err;
    EXPECT_NE(put.err.find(host + "/dangling"), std::string::npos) << "a link to nothing is passed over too";
    EXPECT_EQ(Mtype("/HOST/REAL.BIN"), std::string(data.begin(), data.end()));
    EXPECT_NE(Mtype("/HOST/PIPE").find("not found"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    std::string report;
    EXPECT_TRUE(FsckClean(image, &report)) << report;
}

}  // namespace

namespace {

// Says the size of the root entry NAME is `size`, whatever its chain holds.
void SetRootEntrySize(const std::string& image, const std::string& name, uint32_t size) {
    Mounted m = MountImageFile(image);
    ASSERT_TRUE(m);
    m->LongNames = false;
    DIDir root(m.image.get(), 0);
    ASSERT_TRUE(root.Load());
    int i = root.Find(name);
    ASSERT_GE(i, 0);
    ASSERT_TRUE(root.SetSize(i, size));
    ASSERT_TRUE(root.Write());
}

}  // namespace

TEST_F(TrustCliTest, CatOfAChainThatDoesNotMatchItsSizeFails) {
    // 5000 bytes in 512-byte clusters: ten clusters.
    auto data = RandomBytes(5000, 11);
    WriteHostFile(dir / "A.BIN", data);
    ASSERT_EQ(RunShell("mcopy -i " + Quote(image) + " " + Quote(dir / "A.BIN") + " ::"), 0);

    Result whole = Cli("cat " + Quote(image) + " ::A.BIN");
    ASSERT_EQ(whole.rc, 0) << whole.err;
    EXPECT_EQ(whole.out, std::string(data.begin(), data.end()));

    // Said to be 1000 bytes: the chain is longer; the 1000 bytes go out and
    // the command fails with the reason.
    SetRootEntrySize(image, "A.BIN", 1000);
    Result longer = Cli("cat " + Quote(image) + " ::A.BIN");
    EXPECT_EQ(longer.rc, 1);
    EXPECT_EQ(longer.out, std::string(data.begin(), data.begin() + 1000));
    EXPECT_NE(longer.err.find("5120 bytes"), std::string::npos) << longer.err;

    // Said to be 9000 bytes: the chain ends first.
    SetRootEntrySize(image, "A.BIN", 9000);
    EXPECT_EQ(Cli("cat " + Quote(image) + " ::A.BIN").rc, 1);
}
