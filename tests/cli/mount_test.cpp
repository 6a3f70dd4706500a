// voldex-cli mount through the kernel: a PC-9801 hard-disk partition and a
// Human68k volume used by ordinary programs (cp, diff, mv, rm), random
// writes at offsets, then the volume checked after unmounting. Skipped
// where /dev/fuse cannot be used.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <random>
#include <sys/file.h>
#include <sys/mman.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "cli/cli_args.h"
#include "support/disks.h"
#include "support/faulty_device.h"
#include "support/fsck_stopped.h"
#include "support/human68k.h"
#include "support/images.h"

namespace {

std::string Cli(const std::string& args) { return std::string("timeout 120 ") + VOLDEX_CLI + " " + args; }

bool FuseUsable(std::string& why) {
    int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("/dev/fuse: ") + std::strerror(errno);
        return false;
    }
    ::close(fd);
    if (RunShell("command -v fusermount3 >/dev/null") != 0) {
        why = "fusermount3 is not installed";
        return false;
    }
    return true;
}

bool IsMounted(const std::string& dir) {
    std::string out;
    return RunShell("mountpoint -q " + Quote(dir), &out) == 0;
}

// True once no process holds a lock on the image any more.
bool WaitUnlocked(const std::string& image) {
    int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool free = false;
    for (int k = 0; k < 200 && !free; ++k) {
        free = flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!free) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::close(fd);
    return free;
}

// A tree of `folders` x `each` files of random sizes; names from `name`.
void MakeTree(const std::string& root, int folders, int each, const std::function<std::string(int, int)>& name) {
    std::mt19937 rng(42);
    for (int d = 0; d < folders; ++d) {
        std::string folder = root + "/" + name(d, -1);
        ASSERT_EQ(RunShell("mkdir -p " + Quote(folder)), 0);
        for (int f = 0; f < each; ++f) WriteHostFile(folder + "/" + name(d, f), RandomBytes(rng() % 3000, rng()));
    }
}

class MountTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!FuseUsable(why)) GTEST_SKIP() << "mount tests skipped: " << why;
        mnt = dir / "mnt";
        ASSERT_EQ(RunShell("mkdir -p " + Quote(mnt)), 0);
    }
    void TearDown() override {
        if (!mnt.empty() && IsMounted(mnt)) RunShell("fusermount3 -u -z " + Quote(mnt));
    }
    // Mounts (the command returns once the folder is mounted) or skips
    // when the kernel refuses FUSE here.
    void Mount(const std::string& options) {
        std::string out;
        int rc = RunShell(Cli("mount " + options + " " + Quote(mnt)), &out);
        // The kernel or fusermount3 refusing FUSE here (a container without
        // the right to mount) skips; any other failure fails.
        bool refused = out.find("Σφάλμα κατά την προσάρτηση") != std::string::npos &&
                       (out.find("fusermount") != std::string::npos || out.find("/dev/fuse") != std::string::npos ||
                        out.find("ermission") != std::string::npos || out.find("not permitted") != std::string::npos);
        if (rc != 0 && refused) GTEST_SKIP() << "mount tests skipped: " << out;
        ASSERT_EQ(rc, 0) << out;
        ASSERT_TRUE(IsMounted(mnt));
    }
    void Unmount(const std::string& image) {
        std::string out;
        ASSERT_EQ(RunShell("fusermount3 -u " + Quote(mnt), &out), 0) << out;
        EXPECT_TRUE(WaitUnlocked(image)) << "the image is still locked after unmounting";
        EXPECT_FALSE(IsMounted(mnt));
    }
    void Sh(const std::string& cmd) {
        std::string out;
        ASSERT_EQ(RunShell(cmd, &out), 0) << cmd << "\n" << out;
    }

    // Random writes at offsets into a file on the mount and into a
    // reference copy on the host; then both must be equal.
    void RandomWrites(const std::string& onMount, const std::string& reference) {
        std::mt19937 rng(9);
        int a = ::open(onMount.c_str(), O_RDWR | O_CREAT, 0644);
        int b = ::open(reference.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(a, 0);
        ASSERT_GE(b, 0);
        off_t size = 0;
        for (int k = 0; k < 200; ++k) {
            auto data = RandomBytes(1 + rng() % 20000, rng());
            off_t at = off_t(rng() % (size + 30000));
            ASSERT_EQ(pwrite(a, data.data(), data.size(), at), ssize_t(data.size())) << std::strerror(errno);
            ASSERT_EQ(pwrite(b, data.data(), data.size(), at), ssize_t(data.size()));
            size = std::max<off_t>(size, at + off_t(data.size()));
            if (k % 50 == 49) {
                off_t cut = off_t(rng() % size);
                ASSERT_EQ(ftruncate(a, cut), 0);
                ASSERT_EQ(ftruncate(b, cut), 0);
                size = cut;
            }
        }
        EXPECT_EQ(fsync(a), 0);
        ::close(a);
        ::close(b);
        Sh("cmp " + Quote(onMount) + " " + Quote(reference));
    }

    // The same changes on the mount and on the host copy of the tree.
    void RenameAndDelete(const std::string& mounted, const std::string& host, const std::string& folder,
                         const std::string& renamed, const std::string& file, const std::string& movedFile,
                         const std::string& goneFolder) {
        for (const std::string& base : {mounted, host}) {
            Sh("mv " + Quote(base + "/" + folder) + " " + Quote(base + "/" + renamed));
            Sh("mv " + Quote(base + "/" + renamed + "/" + file) + " " + Quote(base + "/" + movedFile));
            Sh("rm " + Quote(base + "/" + movedFile));
            Sh("rm -r " + Quote(base + "/" + goneFolder));
        }
    }

    TempDir dir;
    std::string mnt;
};

TEST_F(MountTest, Pc98HardDiskPartitionTakesATreeOfAThousandFiles) {
    std::string hdi = dir / "disk.hdi";
    auto offsets = MakePC98Disk(hdi, PC98Header::Anex86, PC98Geometry{}, {{1, 150, "DOS"}, {151, 300, "DATA"}});
    std::string src = dir / "src";
    MakeTree(src + "/TREE", 10, 100, [](int d, int f) {
        char b[16];
        if (f < 0) std::snprintf(b, sizeof b, "DIR%02d", d);
        else std::snprintf(b, sizeof b, "F%03d.BIN", f);
        return std::string(b);
    });
    Mount("--partition 2 " + Quote(hdi));
    // A second writer is refused while the volume is mounted.
    std::string out;
    EXPECT_EQ(RunShell(Cli("--partition 2 mount " + Quote(hdi) + " " + Quote(dir.path())), &out), 1) << out;

    Sh("cp -r " + Quote(src + "/TREE") + " " + Quote(mnt + "/"));
    Sh("diff -r " + Quote(src + "/TREE") + " " + Quote(mnt + "/TREE"));
    EXPECT_EQ(RunShell("test -f " + Quote(mnt + "/PART2.TXT")), 0) << "the partition's own file is there";
    RandomWrites(mnt + "/RANDOM.BIN", src + "/RANDOM.BIN");
    RenameAndDelete(mnt + "/TREE", src + "/TREE", "DIR01", "MOVED", "F007.BIN", "DIR02/F007.BIN", "DIR03");
    // Long names are kept; names no entry can hold are refused.
    Sh("touch " + Quote(mnt + "/longer-than-eight.txt") + " && test -f " + Quote(mnt + "/LONGER-than-EIGHT.TXT"));
    Sh("rm " + Quote(mnt + "/longer-than-eight.txt"));
    EXPECT_NE(RunShell("touch " + Quote(mnt + "/a*b.txt") + " 2>/dev/null"), 0);
    Sh("diff -r " + Quote(src + "/TREE") + " " + Quote(mnt + "/TREE"));
    Sh("cp -r " + Quote(mnt + "/TREE") + " " + Quote(dir / "out"));
    Sh("diff -r " + Quote(src + "/TREE") + " " + Quote(dir / "out"));
    Unmount(hdi);

    // The partition, taken out of the disk, passes fsck.fat.
    std::string part = dir / "part.img";
    Sh("dd if=" + Quote(hdi) + " of=" + Quote(part) + " bs=512 skip=" + std::to_string(offsets[1] / 512) +
       " count=" + std::to_string(150 * 8 * 17) + " status=none");
    std::string report;
    EXPECT_TRUE(FsckClean(part, &report)) << report;
    // And it reads back the same in a fresh process.
    Sh("mkdir " + Quote(dir / "again"));
    Sh(Cli("--partition 2 get " + Quote(hdi) + " TREE " + Quote(dir / "again")));
    Sh("diff -r " + Quote(src + "/TREE") + " " + Quote(dir / "again/TREE"));
}

TEST_F(MountTest, Human68kVolumeKeepsLongMixedCaseNames) {
    std::string image = dir / "x68.hds";
    Human68kLayout layout;
    layout.totalSectors = 16384;
    layout.sectorsPerFAT = 32;
    WriteHostFile(image, BuildHuman68kImage(layout));
    std::string src = dir / "src";
    MakeTree(src + "/Tree", 10, 100, [](int d, int f) {
        char b[32];
        if (f < 0) std::snprintf(b, sizeof b, "Folder_%02d", d);
        else std::snprintf(b, sizeof b, "LongName_%04d.dat", f);
        return std::string(b);
    });
    Mount("--human68k " + Quote(image));
    Sh("cp -r " + Quote(src + "/Tree") + " " + Quote(mnt + "/"));
    Sh("diff -r " + Quote(src + "/Tree") + " " + Quote(mnt + "/Tree"));
    RandomWrites(mnt + "/Random.bin", src + "/Random.bin");
    RenameAndDelete(mnt + "/Tree", src + "/Tree", "Folder_01", "Moved_Folder", "LongName_0007.dat",
                    "Folder_02/Moved_0007.dat", "Folder_03");
    Sh("diff -r " + Quote(src + "/Tree") + " " + Quote(mnt + "/Tree"));
    Sh("cp -r " + Quote(mnt + "/Tree") + " " + Quote(dir / "out"));
    Sh("diff -r " + Quote(src + "/Tree") + " " + Quote(dir / "out"));
    Unmount(image);

    // Read back by a fresh process, and every cluster accounted for: the
    // clusters in use are exactly those of the files and the folders (the
    // root region takes none).
    Sh("mkdir " + Quote(dir / "again"));
    Sh(Cli("--human68k get " + Quote(image) + " Tree " + Quote(dir / "again")));
    Sh("diff -r " + Quote(src + "/Tree") + " " + Quote(dir / "again/Tree"));
    // The volume checker finds nothing at all.
    std::string report;
    EXPECT_EQ(RunShell(Cli("--human68k check " + Quote(image)), &report), 0) << report;
    Mounted m = MountImageFile(image);
    ASSERT_TRUE(m);
    const uint64_t cs = m->ClusterSize;
    uint64_t used = (ReadHostFile(src + "/Random.bin").size() + cs - 1) / cs;
    std::string listing;
    ASSERT_EQ(RunShell("cd " + Quote(src) + " && find Tree -type d | while read d; do echo \"$(ls -A \"$d\" | wc -l)\"; "
                       "done; find Tree -type f -printf 'f %s\\n'",
                       &listing),
              0);
    std::istringstream lines(listing);
    std::string word;
    while (lines >> word) {
        if (word == "f") {
            uint64_t size;
            lines >> size;
            used += (size + cs - 1) / cs;
        } else {
            uint64_t entries = std::stoull(word) + 2;  // with "." and ".."
            used += (entries * 32 + cs - 1) / cs;
        }
    }
    EXPECT_EQ(m->ClustersCount - m->FreeClusters, used) << "clusters in use beyond what the files need";
}

TEST_F(MountTest, AKilledMountLeavesNothingWorseThanLostClusters) {
    // The program killed while cp writes a tree into the volume (what a
    // power cut leaves of the writes made so far): the volume checks clean
    // but for lost clusters, and every file already closed is intact.
    std::string image = dir / "v.img";
    std::string src = dir / "src";
    MakeTree(src + "/TREE", 10, 100, [](int d, int f) {
        char b[16];
        if (f < 0) std::snprintf(b, sizeof b, "DIR%02d", d);
        else std::snprintf(b, sizeof b, "F%03d.BIN", f);
        return std::string(b);
    });
    for (int delay : {150, 400, 900}) {
        RunShell("rm -f " + Quote(image));
        MakeFatImage(image, 8192, 16, "-s 2");
        std::vector<std::string> argv{VOLDEX_CLI, "mount", image, mnt, "-f"};
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, VOLDEX_CLI, nullptr, nullptr, cargv.data(), environ), 0);
        for (int k = 0; k < 100 && !IsMounted(mnt); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(IsMounted(mnt));
        RunShell("cp -r " + Quote(src + "/TREE") + " " + Quote(mnt + "/") + " >/dev/null 2>&1 &");
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        kill(pid, SIGKILL);
        int status;
        waitpid(pid, &status, 0);
        RunShell("fusermount3 -u -z " + Quote(mnt));
        RunShell("sleep 0.3");
        std::string report;
        EXPECT_TRUE(FsckCleanButLostOrLong(image, &report)) << "killed after " << delay << " ms\n" << report;
        // What the volume holds of the tree is what was copied.
        std::string got = dir / "got";
        RunShell("rm -rf " + Quote(got) + " && mkdir " + Quote(got));
        RunShell(Cli("get " + Quote(image) + " TREE " + Quote(got)));
        std::string listing;
        RunShell("cd " + Quote(got) + " && find . -type f", &listing);
        std::istringstream files(listing);
        std::string f;
        int checked = 0;
        while (std::getline(files, f)) {
            auto a = ReadHostFile(got + "/" + f), b = ReadHostFile(src + "/" + f);
            // The file being written when the program was killed may be short.
            if (a.size() == b.size()) {
                EXPECT_EQ(a, b) << f;
                ++checked;
            }
        }
        EXPECT_GT(checked, 0) << "killed after " << delay << " ms";
    }
}

// The image's host file refuses writes beyond 720 KiB (a limit on the
// mount's file size): a copy whose data reach there fails in cp, a small
// file written with ">" before and after it stands whole, and the volume
// holds nothing worse than lost clusters, the copied file no more than a
// first part of its bytes.
TEST_F(MountTest, AFailedWriteReachesTheCopyingProgram) {
    using Bytes = std::vector<uint8_t>;
    std::string image = dir / "f12.img", big = dir / "big";
    MakeFatImage(image, 1440, 12);
    WriteHostFile(big, RandomBytes(1000000, 21));
    std::string out;
    int rc = RunShell("bash -c " + Quote("trap '' XFSZ; ulimit -f 720; exec " + Cli("mount " + Quote(image) + " " +
                                                                                      Quote(mnt))),
                      &out);
    if (rc != 0 && out.find("Σφάλμα κατά την προσάρτηση") != std::string::npos) GTEST_SKIP() << out;
    ASSERT_EQ(rc, 0) << out;
    ASSERT_TRUE(IsMounted(mnt));
    Sh("printf before > " + Quote(mnt + "/BEFORE.TXT"));
    EXPECT_NE(RunShell("cp " + Quote(big) + " " + Quote(mnt + "/BIG.BIN"), &out), 0) << "the copy was told success";
    Sh("printf after > " + Quote(mnt + "/AFTER.TXT"));
    Unmount(image);
    std::string report;
    EXPECT_TRUE(FsckCleanButLost(image, &report)) << report;
    auto files = FilesByMtools(image);
    EXPECT_EQ(files["before.txt"], Bytes({'b', 'e', 'f', 'o', 'r', 'e'}));
    EXPECT_EQ(files["after.txt"], Bytes({'a', 'f', 't', 'e', 'r'}));
    if (files.count("big.bin")) {
        const Bytes& got = files["big.bin"];
        const Bytes whole = ReadHostFile(big);
        EXPECT_LT(got.size(), whole.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin())) << "the copied part is not the file's start";
    }
}

// Whatever empties a file as it opens it (the shell's ">", cp over a
// longer file, Python's open('w'), O_RDWR|O_TRUNC) leaves only the new
// bytes, on FAT12, FAT16 and Human68k; statfs gives the longest name and a
// longer one is refused as too long.
TEST_F(MountTest, OverwritingAFileLeavesOnlyTheNewBytes) {
    struct Volume {
        const char* file;
        const char* options;
        unsigned long nameMax;
        const char* tooLong;  // a name longer than the volume holds
    };
    const Volume volumes[] = {{"f12.img", "--short-names", 12, "NINECHARS.TXT"},
                              {"f16.img", "", 255, nullptr},
                              {"x68.hds", "--human68k", 22, "nineteen_letters_xx.txt"},
                              {"x68.xdf", "", 22, "nineteen_letters_xx.txt"}};  // a Human68k 3.x floppy
    std::string small = dir / "small", big = dir / "big";
    WriteHostFile(small, {'s', 'm', 'a', 'l', 'l'});
    WriteHostFile(big, RandomBytes(50000, 5));
    for (const Volume& v : volumes) {
        SCOPED_TRACE(v.file);
        std::string image = dir / v.file;
        if (std::string(v.file) == "x68.xdf") {
            WriteHostFile(image, BuildHuman68kFloppy({}));
        } else if (v.nameMax == 22) {
            Human68kLayout layout;
            layout.totalSectors = 4096;
            layout.sectorsPerFAT = 8;
            WriteHostFile(image, BuildHuman68kImage(layout));
        } else {
            MakeFatImage(image, v.nameMax == 12 ? 1440 : 8192, v.nameMax == 12 ? 12 : 16, v.nameMax == 12 ? "" : "-s 2");
        }
        Mount(std::string(v.options) + " " + Quote(image));
        const std::string m = mnt + "/";
        for (const char* name : {"A.TXT", "B.TXT", "C.TXT", "D.TXT"}) Sh("cp " + Quote(big) + " " + Quote(m + name));
        Sh("echo new > " + Quote(m + "A.TXT"));
        Sh("cp " + Quote(small) + " " + Quote(m + "B.TXT"));
        Sh("python3 -c \"open('" + m + "C.TXT', 'w').write('py')\"");
        int fd = ::open((m + "D.TXT").c_str(), O_RDWR | O_TRUNC);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ASSERT_EQ(::write(fd, "fd", 2), 2);
        ::close(fd);
        EXPECT_EQ(ReadHostFile(m + "A.TXT"), (std::vector<uint8_t>{'n', 'e', 'w', '\n'}));
        EXPECT_EQ(ReadHostFile(m + "B.TXT"), ReadHostFile(small));
        EXPECT_EQ(ReadHostFile(m + "C.TXT"), (std::vector<uint8_t>{'p', 'y'}));
        EXPECT_EQ(ReadHostFile(m + "D.TXT"), (std::vector<uint8_t>{'f', 'd'}));
        // Bytes written through a handle that only writes reach a mapping
        // made before through another handle.
        int reader = ::open((m + "B.TXT").c_str(), O_RDONLY), writer = ::open((m + "B.TXT").c_str(), O_WRONLY);
        void* map = mmap(nullptr, 5, PROT_READ, MAP_SHARED, reader, 0);
        ASSERT_TRUE(map != MAP_FAILED && writer >= 0 && static_cast<const char*>(map)[0] == 's') << std::strerror(errno);
        ASSERT_EQ(static_cast<const volatile char*>(map)[1], 'm');  // in the cache again after the writer's open
        ASSERT_TRUE(::pwrite(writer, "WRITE", 5, 0) == 5 && ::close(writer) == 0);
        EXPECT_EQ(std::string(static_cast<const char*>(map), 5), "WRITE");
        munmap(map, 5);
        ::close(reader);
        struct statvfs sv;
        ASSERT_EQ(statvfs(mnt.c_str(), &sv), 0);
        EXPECT_EQ(sv.f_namemax, v.nameMax);
        if (v.tooLong) {
            errno = 0;
            EXPECT_LT(::open((m + v.tooLong).c_str(), O_CREAT | O_WRONLY, 0644), 0);
            EXPECT_EQ(errno, ENAMETOOLONG);
        }
        Unmount(image);
        std::string report;
        if (v.nameMax == 22) EXPECT_EQ(RunShell(Cli("--human68k check " + Quote(image)), &report), 0) << report;
        else EXPECT_TRUE(FsckClean(image, &report)) << report;
        // The freed tails are free: a fresh count of the volume agrees.
        std::string out;
        ASSERT_EQ(RunShell(Cli(std::string(v.options) + " get " + Quote(image) + " A.TXT " + Quote(dir.path())), &out), 0)
            << out;
        EXPECT_EQ(ReadHostFile(dir / "A.TXT"), (std::vector<uint8_t>{'n', 'e', 'w', '\n'}));
        RunShell("rm -f " + Quote(dir / "A.TXT"));
    }
}

// A floppy in a container lays its sectors out in records: what is read
// through the mount comes by the device, not from places in the file. The
// mount is made with -o max_read, which the answer to INIT must repeat.
TEST_F(MountTest, AFloppyInAContainerReadsTheSameBytesThroughTheMount) {
    const std::string d88 = dir / "a b.d88", data = dir / "data.bin";
    WriteHostFile(data, RandomBytes(300000, 5));
    Sh(Cli("new " + Quote(d88) + " 2hd"));
    Sh(Cli("put " + Quote(d88) + " " + Quote(data)));
    Mount("-o max_read=65536 " + Quote(d88));
    Sh("cmp " + Quote(mnt + "/DATA.BIN") + " " + Quote(data));
    Unmount(d88);
}

TEST_F(MountTest, Fat32MountsReadOnly) {
    std::string image = dir / "f32.img";
    MakeFatImage(image, 40000, 32);
    auto before = ReadHostFile(image);
    std::string out;
    int rc = RunShell(Cli("mount " + Quote(image) + " " + Quote(mnt)), &out);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_NE(out.find(image), std::string::npos) << "says it mounts read-only: " << out;
    EXPECT_NE(RunShell("touch " + Quote(mnt + "/NEW.TXT") + " 2>/dev/null"), 0);
    Sh("ls " + Quote(mnt));
    Unmount(image);
    EXPECT_EQ(ReadHostFile(image), before);
}

TEST_F(MountTest, AReadOnlyMountSharesTheImageWithReadersAndRefusesWriters) {
    std::string image = dir / "ro.img";
    MakeFatImage(image, 2880, 12);
    auto before = ReadHostFile(image);
    Mount("-o ro " + Quote(image));
    // A read-only mount holds a shared lock: a reader goes on, a writer is refused.
    std::string out;
    EXPECT_EQ(RunShell(Cli("ls " + Quote(image)), &out), 0) << out;
    EXPECT_EQ(RunShell(Cli("mkdir " + Quote(image) + " X"), &out), 1) << out;
    EXPECT_NE(RunShell("touch " + Quote(mnt + "/NEW.TXT") + " 2>/dev/null"), 0);
    Unmount(image);
    EXPECT_EQ(ReadHostFile(image), before);
}

TEST(MountCommandLine, OptionsAndOperands) {
    std::string error;
    auto o = ParseCliArgs({"--partition", "2", "mount", "disk.hdi", "/mnt/x", "-o", "ro,allow_other", "-f"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->command, "mount");
    EXPECT_EQ(o->operands, (std::vector<std::string>{"disk.hdi", "/mnt/x"}));
    EXPECT_EQ(o->mountOptions, (std::vector<std::string>{"ro,allow_other"}));
    EXPECT_TRUE(o->foreground);
    EXPECT_EQ(o->partition, 2);
    o = ParseCliArgs({"mount", "-o", "ro", "disk.hdi", "/mnt/x"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->mountOptions, (std::vector<std::string>{"ro"}));
    EXPECT_FALSE(o->foreground);
    EXPECT_FALSE(ParseCliArgs({"mount", "disk.hdi"}, error));
    EXPECT_FALSE(ParseCliArgs({"mount", "disk.hdi", "/mnt/x", "-o"}, error));
}

TEST(MountCommandLine, AMissingMountPointIsRefusedBeforeAnythingIsMounted) {
    TempDir dir;
    std::string image = dir / "v.img";
    MakeFatImage(image, 1440, 12);
    std::string out;
    EXPECT_EQ(RunShell(Cli("mount " + Quote(image) + " " + Quote(dir / "no-such-folder")), &out), 1);
    EXPECT_NE(out.find("Ο φάκελος προσάρτησης δεν υπάρχει"), std::string::npos) << out;
    EXPECT_TRUE(WaitUnlocked(image));
}

}  // namespace
