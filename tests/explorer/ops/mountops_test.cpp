// The path operations behind the mount, without the kernel: contents
// against a reference file, names, folders, renames, the order of writes
// and what a stop after any single write leaves behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <unistd.h>

#include "explorer/ops/mountops.h"
#include "support/fsck_stopped.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

namespace {

std::vector<uint8_t> Bytes(std::size_t n, uint32_t seed) { return RandomBytes(n, seed); }

// Reads a whole file through a fresh handle.
std::vector<uint8_t> Slurp(VolumeFiles& f, const std::string& path) {
    NodeInfo info;
    EXPECT_EQ(f.Stat(path, info), 0) << path;
    uint64_t h;
    EXPECT_EQ(f.Open(path, false, h), 0) << path;
    std::vector<uint8_t> out(info.size);
    if (!out.empty()) {
        EXPECT_EQ(f.Read(h, 0, uint32_t(out.size()), reinterpret_cast<char*>(out.data())), long(out.size()));
    }
    EXPECT_EQ(f.Close(h), 0);
    return out;
}

long WriteAll(VolumeFiles& f, uint64_t h, uint64_t at, const std::vector<uint8_t>& data) {
    return f.Write(h, at, reinterpret_cast<const char*>(data.data()), uint32_t(data.size()));
}

// Reads a range from the places in the image file that ReadSpans names,
// as the mount's splice does.
std::vector<uint8_t> ReadBySpans(VolumeFiles& f, uint64_t h, uint64_t at, uint32_t size) {
    std::vector<VolumeFiles::FileBytes> spans;
    const long n = f.ReadSpans(h, at, size, spans, SIZE_MAX);
    std::vector<uint8_t> out;
    for (const auto& s : spans) {
        out.resize(out.size() + s.length);
        EXPECT_EQ(pread(s.fd, out.data() + out.size() - s.length, s.length, s.at), ssize_t(s.length));
    }
    EXPECT_EQ(long(out.size()), n) << "every byte has its place";
    return out;
}

class MountOpsTest : public ::testing::Test, public UITest {
protected:
    void MakeFat(unsigned kib = 4096, int bits = 16, const std::string& extra = "-s 1") {
        path = dir / "v.img";
        MakeFatImage(path, kib, bits, extra);
        Open();
    }
    void MakeHuman68k() {
        path = dir / "h.hds";
        Human68kLayout layout;
        WriteHostFile(path, BuildHuman68kImage(layout));
        Open();
        ASSERT_EQ(m->FileSystem, kFileSystemHuman68k);
    }
    void Open(bool readOnly = false) {
        files.reset();
        m.image.reset();  // one open image at a time
        m = MountImageFile(path);
        ASSERT_TRUE(m);
        files = std::make_unique<VolumeFiles>(*m.image, readOnly);
        files->flusher = [this] {
            ++flushes;
            return true;
        };
    }
    void Close() {
        files.reset();
        m.image.reset();
    }
    void ExpectFsckClean() {
        Close();
        std::string report;
        EXPECT_TRUE(FsckClean(path, &report)) << report;
        Open();
    }

    TempDir dir;
    std::string path;
    Mounted m;
    std::unique_ptr<VolumeFiles> files;
    int flushes = 0;
};

// Random writes (inside, across and beyond the end, leaving gaps) and
// truncations (down and up), each done to a reference buffer as well.
void RandomRun(VolumeFiles& f, std::vector<uint8_t>& ref, uint32_t seed, int steps) {
    std::mt19937 rng(seed);
    uint64_t h;
    ASSERT_EQ(f.Create("/RANDOM.BIN", 0644, h), 0);
    for (int step = 0; step < steps; ++step) {
        int what = int(rng() % 10);
        if (what < 7) {
            uint64_t at = rng() % (ref.size() + 3000);
            auto data = Bytes(1 + rng() % 5000, rng());
            ASSERT_EQ(WriteAll(f, h, at, data), long(data.size())) << "step " << step;
            if (ref.size() < at + data.size()) ref.resize(at + data.size(), 0);
            std::memcpy(ref.data() + at, data.data(), data.size());
        } else if (what < 9) {
            uint64_t size = rng() % (ref.size() + 4000);
            ASSERT_EQ(f.TruncateOpen(h, size), 0) << "step " << step;
            ref.resize(size, 0);
        } else {
            ASSERT_EQ(f.Close(h), 0);
            ASSERT_EQ(f.Open("/RANDOM.BIN", true, h), 0);
        }
        if (step % 20 == 0) {
            std::vector<uint8_t> back(ref.size());
            if (!back.empty()) {
                ASSERT_EQ(f.Read(h, 0, uint32_t(back.size()), reinterpret_cast<char*>(back.data())), long(back.size()));
            }
            ASSERT_EQ(back, ref) << "step " << step;
            // A read that starts inside and runs past the end stops at the end.
            if (ref.size() > 10) {
                char tail[64];
                EXPECT_EQ(f.Read(h, ref.size() - 10, sizeof tail, tail), 10);
                EXPECT_EQ(std::memcmp(tail, ref.data() + ref.size() - 10, 10), 0);
            }
        }
    }
    ASSERT_EQ(f.Close(h), 0);
}

TEST_F(MountOpsTest, RandomWritesAndTruncationsMatchAReferenceFileOnFat) {
    MakeFat();
    const uint32_t freeBefore = m->FreeClusters;
    std::vector<uint8_t> ref;
    RandomRun(*files, ref, 7, 400);
    const uint32_t freeAfter = m->FreeClusters;
    EXPECT_EQ(freeBefore - freeAfter, (ref.size() + m->ClusterSize - 1) / m->ClusterSize);
    ExpectFsckClean();
    EXPECT_EQ(m->FreeClusters, freeAfter) << "the count kept while writing equals a fresh count";
    EXPECT_EQ(Slurp(*files, "/RANDOM.BIN"), ref);
    // mtools reads the same bytes.
    std::string out;
    ASSERT_EQ(RunShell("mcopy -n -i " + Quote(path) + " ::RANDOM.BIN " + Quote(dir / "out.bin"), &out), 0) << out;
    EXPECT_EQ(ReadHostFile(dir / "out.bin"), ref);
    EXPECT_EQ(files->RemoveFile("/RANDOM.BIN"), 0);
    EXPECT_EQ(m->FreeClusters, freeBefore);
    ExpectFsckClean();
}

TEST_F(MountOpsTest, RandomWritesAndTruncationsMatchAReferenceFileOnHuman68k) {
    MakeHuman68k();
    const uint32_t freeBefore = m->FreeClusters;
    std::vector<uint8_t> ref;
    RandomRun(*files, ref, 11, 300);
    const uint32_t freeAfter = m->FreeClusters;
    Open();
    EXPECT_EQ(m->FreeClusters, freeAfter);
    EXPECT_EQ(freeBefore - freeAfter, (ref.size() + m->ClusterSize - 1) / m->ClusterSize);
    EXPECT_EQ(Slurp(*files, "/random.bin"), ref) << "lookups ignore the case of letters";
}

// A file grown in turns with another lies in pieces; the places named for
// it hold its bytes in order. Where the image file ends before a place
// would, none are named and reading fails rather than coming up short.
TEST_F(MountOpsTest, ThePlacesOfAFileInPiecesHoldItsBytesAndNeverRunPastTheImage) {
    MakeFat(8192, 16, "-s 2");
    const uint32_t cs = m->ClusterSize;
    uint64_t a, b;
    ASSERT_TRUE(files->Create("/A.BIN", 0644, a) == 0 && files->Create("/B.BIN", 0644, b) == 0);
    std::vector<uint8_t> ra;
    for (uint32_t i = 0; i < 6; ++i) {  // B's clusters between A's
        auto d = Bytes(cs + cs / 2, i);
        ASSERT_TRUE(WriteAll(*files, a, ra.size(), d) == long(d.size()) && WriteAll(*files, b, i * cs, Bytes(cs, 9)) == cs);
        ra.insert(ra.end(), d.begin(), d.end());
    }
    EXPECT_EQ(ReadBySpans(*files, a, 0, uint32_t(ra.size()) + 50), ra);
    EXPECT_EQ(ReadBySpans(*files, a, cs / 3, 3 * cs), std::vector<uint8_t>(ra.begin() + cs / 3, ra.begin() + cs / 3 + 3 * cs));
    std::vector<VolumeFiles::FileBytes> spans;
    ASSERT_EQ(files->ReadSpans(a, 0, uint32_t(ra.size()), spans, 100), long(ra.size()));
    ASSERT_GT(spans.size(), 1u) << "the file lies in pieces";
    EXPECT_EQ(files->ReadSpans(a, 0, uint32_t(ra.size()), spans, spans.size() - 1), long(ra.size()));
    EXPECT_TRUE(spans.empty()) << "more places than asked for are none";
    ASSERT_TRUE(files->ReadSpans(a, ra.size() - 1, 1, spans, 1) == 1 && spans.size() == 1);
    ASSERT_TRUE(files->Close(a) == 0 && files->Close(b) == 0 && files->Open("/A.BIN", false, a) == 0);
    ASSERT_EQ(truncate(path.c_str(), spans[0].at), 0);  // inside A's last cluster
    EXPECT_EQ(files->ReadSpans(a, 0, uint32_t(ra.size()), spans, 100), long(ra.size()));
    EXPECT_TRUE(spans.empty()) << "no place beyond the image's end";
    std::vector<char> back(ra.size());
    EXPECT_EQ(files->Read(a, 0, uint32_t(back.size()), back.data()), -EIO);
}

// Bytes go past the kernel's cache for a handle that only writes and is
// alone on its file, and for every handle opened beside one: never while
// another handle of the file may cache it.
TEST_F(MountOpsTest, OnlyAWriterAloneOnItsFileGoesPastTheCache) {
    MakeFat();
    uint64_t w, r, w2, other;
    ASSERT_EQ(files->Create("/P.BIN", 0644, w), 0);
    ASSERT_EQ(files->Create("/Q.BIN", 0644, other), 0);
    EXPECT_TRUE(files->PastTheCache(w, true));
    EXPECT_FALSE(files->PastTheCache(other, false)) << "another file";
    ASSERT_EQ(files->Open("/P.BIN", false, r), 0);
    EXPECT_TRUE(files->PastTheCache(r, false)) << "a reader beside it";
    ASSERT_TRUE(files->Close(w) == 0 && files->Close(r) == 0 && files->Open("/P.BIN", false, r) == 0);
    EXPECT_FALSE(files->PastTheCache(r, false));
    ASSERT_EQ(files->Open("/P.BIN", true, w2), 0);
    EXPECT_FALSE(files->PastTheCache(w2, true)) << "a reader caches the file";
    ASSERT_TRUE(files->Close(r) == 0 && files->Close(w2) == 0 && files->Close(other) == 0);
}

TEST_F(MountOpsTest, BytesBetweenTheOldEndAndAWriteBeyondItReadAsZero) {
    MakeFat();
    uint64_t h;
    ASSERT_EQ(files->Create("/GAP.BIN", 0644, h), 0);
    std::vector<uint8_t> full(4096, 0xAA);
    ASSERT_EQ(WriteAll(*files, h, 0, full), 4096);
    // Shrinking keeps the old bytes in the cluster's tail; growing again
    // must not bring them back.
    ASSERT_EQ(files->TruncateOpen(h, 10), 0);
    ASSERT_EQ(WriteAll(*files, h, 3000, {0x55}), 1);
    ASSERT_EQ(files->Close(h), 0);
    auto back = Slurp(*files, "/GAP.BIN");
    ASSERT_EQ(back.size(), 3001u);
    std::vector<uint8_t> want(3001, 0);
    std::fill(want.begin(), want.begin() + 10, 0xAA);
    want[3000] = 0x55;
    EXPECT_EQ(back, want);
    ASSERT_EQ(files->Truncate("/GAP.BIN", 5000), 0);
    back = Slurp(*files, "/GAP.BIN");
    want.resize(5000, 0);
    EXPECT_EQ(back, want);
    ExpectFsckClean();
}

// An open that truncates empties the file as a replace does, on each
// kind of volume: the entry with size 0 and no chain, the old chain freed;
// what is then written is all the file holds.
TEST_F(MountOpsTest, AnOpenThatTruncatesEmptiesTheFileOnEveryKindOfVolume) {
    for (int kind : {12, 16, 68}) {
        SCOPED_TRACE(kind);
        Close();
        std::remove((dir / "v.img").c_str());
        if (kind == 68) MakeHuman68k();
        else MakeFat(kind == 12 ? 1440 : 4096, kind, kind == 12 ? "" : "-s 1");
        const uint32_t freeBefore = m->FreeClusters;
        uint64_t h;
        ASSERT_EQ(files->Create("/Y.TXT", 0644, h), 0);
        ASSERT_EQ(WriteAll(*files, h, 0, Bytes(20000, 1)), 20000);
        ASSERT_EQ(files->Close(h), 0);
        // A second handle reads while the file is emptied and written anew.
        uint64_t reader;
        ASSERT_EQ(files->Open("/Y.TXT", false, reader), 0);
        ASSERT_EQ(files->Open("/Y.TXT", true, h, true), 0);
        NodeInfo info;
        ASSERT_EQ(files->Stat("/Y.TXT", info), 0);
        EXPECT_EQ(info.size, 0u);
        EXPECT_EQ(m->FreeClusters, freeBefore) << "the old chain is freed at the open";
        ASSERT_EQ(WriteAll(*files, h, 0, {'n', 'e', 'w', '\n'}), 4);
        ASSERT_EQ(files->Stat("/Y.TXT", info), 0);
        EXPECT_EQ(info.size, 4u) << "a size not yet in the entry shows all the same";
        char back[16];
        EXPECT_EQ(files->Read(reader, 0, sizeof back, back), 4);
        ASSERT_EQ(files->Close(h), 0);
        ASSERT_EQ(files->Close(reader), 0);
        // Truncating an empty file, and opening without truncating, change nothing.
        ASSERT_EQ(files->Open("/Y.TXT", true, h, false), 0);
        ASSERT_EQ(files->Close(h), 0);
        EXPECT_EQ(Slurp(*files, "/Y.TXT"), (std::vector<uint8_t>{'n', 'e', 'w', '\n'}));
        Open();  // a fresh mount reads the entry from the device
        EXPECT_EQ(Slurp(*files, "/Y.TXT"), (std::vector<uint8_t>{'n', 'e', 'w', '\n'}));
        EXPECT_EQ(m->FreeClusters, freeBefore - 1);
        EXPECT_EQ(files->Open("/Y.TXT", true, h, true), 0);
        ASSERT_EQ(files->Close(h), 0);
        EXPECT_EQ(m->FreeClusters, freeBefore);
        if (kind != 68) ExpectFsckClean();
    }
}

// Writes reach the device without a flush each; the entry takes the new
// size when the file is closed or synced, and the data are flushed then.
TEST_F(MountOpsTest, WritesAreFlushedOnCloseAndSyncNotEachTime) {
    MakeFat();
    uint64_t h;
    ASSERT_EQ(files->Create("/BIG.BIN", 0644, h), 0);
    auto data = Bytes(300000, 3);
    flushes = 0;
    for (uint32_t at = 0; at < data.size(); at += 10000)
        ASSERT_EQ(files->Write(h, at, reinterpret_cast<const char*>(data.data()) + at, 10000), 10000);
    EXPECT_EQ(flushes, 0);
    {
        // Until then, the volume holds an empty entry and lost clusters.
        WriteHostFile(dir / "copy.img", ReadHostFile(path));
        Mounted other = MountImageFile(dir / "copy.img");
        ASSERT_TRUE(other);
        VolumeFiles second(*other.image, true);
        NodeInfo info;
        ASSERT_EQ(second.Stat("/BIG.BIN", info), 0);
        EXPECT_EQ(info.size, 0u);
    }
    ASSERT_EQ(files->Sync(h), 0);
    EXPECT_GE(flushes, 1);
    ASSERT_EQ(WriteAll(*files, h, data.size(), {9}), 1);
    data.push_back(9);
    ASSERT_EQ(files->Close(h), 0);
    Open();
    EXPECT_EQ(Slurp(*files, "/BIG.BIN"), data);
    ExpectFsckClean();
}

// What was read of a file stays valid in the kernel while its entry is
// unchanged; any change, through a handle or a path, ends that.
TEST_F(MountOpsTest, TheKernelKeepsItsCacheOnlyForUnchangedFiles) {
    MakeFat();
    uint64_t h;
    bool keep = true;
    ASSERT_EQ(files->Create("/C.BIN", 0644, h), 0);
    ASSERT_EQ(WriteAll(*files, h, 0, Bytes(5000, 2)), 5000);
    ASSERT_EQ(files->Close(h), 0);
    auto opens = [&](bool expected, const char* why) {
        ASSERT_EQ(files->Open("/C.BIN", false, h, false, &keep), 0);
        EXPECT_EQ(keep, expected) << why;
        ASSERT_EQ(files->Close(h), 0);
    };
    opens(false, "first read");
    opens(true, "unchanged");
    ASSERT_EQ(files->Open("/C.BIN", true, h), 0);
    ASSERT_EQ(WriteAll(*files, h, 10, {1}), 1);  // same size, and maybe the same time
    ASSERT_EQ(files->Close(h), 0);
    opens(false, "written in place");
    opens(true, "unchanged again");
    ASSERT_EQ(files->Truncate("/C.BIN", 100), 0);
    opens(false, "truncated");
    ASSERT_EQ(files->Rename("/C.BIN", "/D.BIN", false), 0);
    ASSERT_EQ(files->Rename("/D.BIN", "/C.BIN", false), 0);
    opens(false, "renamed back");
}

TEST_F(MountOpsTest, NamesFollowTheVolumesRules) {
    MakeFat();
    m->LongNames = false;  // 8.3 names only
    uint64_t h;
    ASSERT_EQ(files->Create("/readme.txt", 0644, h), 0);
    ASSERT_EQ(files->Close(h), 0);
    std::vector<std::pair<std::string, NodeInfo>> list;
    ASSERT_EQ(files->List("/", list), 0);
    ASSERT_EQ(list.size(), 1u) << "the volume label is not listed";
    EXPECT_EQ(list[0].first, "README.TXT");
    NodeInfo info;
    EXPECT_EQ(files->Stat("/ReadMe.Txt", info), 0);
    EXPECT_EQ(files->Create("/README.TXT", 0644, h), -EEXIST);
    // Names the volume would shorten or change are refused, never stored
    // under another name.
    EXPECT_EQ(files->Create("/toolongname.txt", 0644, h), -ENAMETOOLONG);
    EXPECT_EQ(files->Create("/a.html", 0644, h), -ENAMETOOLONG);
    EXPECT_EQ(files->Create("/a b.txt", 0644, h), -EINVAL);
    EXPECT_EQ(files->Create("/x.tar.gz", 0644, h), -EINVAL);
    EXPECT_EQ(files->Create("/.git", 0644, h), -EINVAL);
    EXPECT_EQ(files->Create("/.gitignore", 0644, h), -EINVAL);
    EXPECT_EQ(files->Create("/abc.", 0644, h), -EINVAL);
    EXPECT_EQ(files->MakeFolder("/a*b"), -EINVAL);
    EXPECT_EQ(files->Stat("/toolongname.txt", info), -ENOENT) << "no lookup through a shortened name";
    EXPECT_EQ(files->Stat("/README.TXT/x", info), -ENOTDIR);
    // Japanese names travel as UTF-8 and are stored as Shift-JIS.
    ASSERT_EQ(files->MakeFolder("/日本"), 0);
    ASSERT_EQ(files->Stat("/日本", info), 0);
    EXPECT_TRUE(info.isDir);
    DIDir root(m.image.get(), 0);
    ASSERT_TRUE(root.Load());
    EXPECT_GE(root.Find("\x93\xfa\x96\x7b"), 0);
    ExpectFsckClean();
}

TEST_F(MountOpsTest, LongNamesOnFat) {
    MakeFat();
    uint64_t h;
    ASSERT_EQ(files->Create("/Long File Name.txt", 0644, h), 0);
    ASSERT_EQ(WriteAll(*files, h, 0, Bytes(700, 4)), 700);
    ASSERT_EQ(files->Close(h), 0);
    ASSERT_EQ(files->MakeFolder("/Folder with a long name"), 0);
    EXPECT_EQ(files->Create("/LONG FILE NAME.TXT", 0644, h), -EEXIST) << "names match without regard to case";
    EXPECT_EQ(files->Create("/a*b.txt", 0644, h), -EINVAL);
    EXPECT_EQ(files->Create("/trailing.", 0644, h), -EINVAL);
    EXPECT_EQ(files->Create("/" + std::string(256, 'n'), 0644, h), -ENAMETOOLONG);
    EXPECT_EQ(files->MakeFolder("/" + std::string(255, 'n')), 0) << "255 characters fit";
    EXPECT_EQ(files->RemoveFolder("/" + std::string(255, 'N')), 0);
    std::vector<std::pair<std::string, NodeInfo>> list;
    ASSERT_EQ(files->List("/", list), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].first, "Long File Name.txt");
    EXPECT_EQ(list[1].first, "Folder with a long name");
    ASSERT_EQ(files->Rename("/Long File Name.txt", "/Folder with a long name/Another long name.bin", false), 0);
    ASSERT_EQ(files->Rename("/Folder with a long name/Another long name.bin",
                            "/Folder with a long name/another LONG name.bin", false), 0);
    ASSERT_EQ(files->List("/Folder with a long name", list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].first, "another LONG name.bin");
    EXPECT_EQ(Slurp(*files, "/folder WITH a long name/Another Long Name.bin"), Bytes(700, 4));
    ExpectFsckClean();
    std::string out;
    ASSERT_EQ(RunShell("mdir -/ -i " + Quote(path) + " ::", &out), 0) << out;
    EXPECT_NE(out.find("another LONG name.bin"), std::string::npos) << out;
}

TEST_F(MountOpsTest, Human68kNamesKeepTheirCaseAndEighteenLetters) {
    MakeHuman68k();
    uint64_t h;
    ASSERT_EQ(files->Create("/LongFileName12.txt", 0644, h), 0);
    ASSERT_EQ(files->Close(h), 0);
    std::vector<std::pair<std::string, NodeInfo>> list;
    ASSERT_EQ(files->List("/", list), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].first, "LongFileName12.txt");
    NodeInfo info;
    EXPECT_EQ(files->Stat("/LONGFILENAME12.TXT", info), 0);
    EXPECT_EQ(files->Create("/nineteenletters0123.txt", 0644, h), -ENAMETOOLONG);
    EXPECT_EQ(files->Create("/LongFileName12.text", 0644, h), -ENAMETOOLONG);
    EXPECT_EQ(files->Figures().nameMax, 22u) << "18.3";
    ASSERT_EQ(files->Create("/eighteen_letters__.txt", 0644, h), 0) << "22 bytes";
    ASSERT_EQ(files->Close(h), 0);
    EXPECT_EQ(files->Rename("/LongFileName12.txt", "/longfilename12.TXT", false), 0);
    ASSERT_EQ(files->List("/", list), 0);
    EXPECT_EQ(list[0].first, "longfilename12.TXT") << "a rename may change only the case";
}

TEST_F(MountOpsTest, FoldersRenamesAndRemovalsLeaveASoundVolume) {
    MakeFat();
    const uint32_t freeBefore = m->FreeClusters;
    ASSERT_EQ(files->MakeFolder("/A"), 0);
    ASSERT_EQ(files->MakeFolder("/A/B"), 0);
    EXPECT_EQ(files->MakeFolder("/A/B"), -EEXIST);
    EXPECT_EQ(files->MakeFolder("/NONE/C"), -ENOENT);
    uint64_t h;
    ASSERT_EQ(files->Create("/A/B/F.BIN", 0644, h), 0);
    auto one = Bytes(3000, 1);
    ASSERT_EQ(WriteAll(*files, h, 0, one), 3000);
    // The handle follows the entry through a move to another folder.
    ASSERT_EQ(files->Rename("/A/B/F.BIN", "/G.BIN", false), 0);
    ASSERT_EQ(WriteAll(*files, h, 3000, {1, 2, 3}), 3);
    ASSERT_EQ(files->Close(h), 0);
    one.insert(one.end(), {1, 2, 3});
    EXPECT_EQ(Slurp(*files, "/G.BIN"), one);
    NodeInfo info;
    EXPECT_EQ(files->Stat("/A/B/F.BIN", info), -ENOENT);

    // Replacing an existing file frees the old one's clusters.
    ASSERT_EQ(files->Create("/A/H.BIN", 0644, h), 0);
    ASSERT_EQ(WriteAll(*files, h, 0, Bytes(9000, 2)), 9000);
    ASSERT_EQ(files->Close(h), 0);
    EXPECT_EQ(files->Rename("/G.BIN", "/A/H.BIN", true), -EEXIST);
    ASSERT_EQ(files->Rename("/G.BIN", "/A/H.BIN", false), 0);
    EXPECT_EQ(Slurp(*files, "/A/H.BIN"), one);
    EXPECT_EQ(freeBefore - m->FreeClusters, 2 + (one.size() + 511) / 512) << "two folders and one file";

    EXPECT_EQ(files->Rename("/A", "/A/B/C", false), -EINVAL) << "a folder cannot move below itself";
    EXPECT_EQ(files->Rename("/A/H.BIN", "/A/B", false), -EISDIR);
    EXPECT_EQ(files->RemoveFolder("/A"), -ENOTEMPTY);
    EXPECT_EQ(files->RemoveFile("/A"), -EISDIR);
    EXPECT_EQ(files->RemoveFolder("/A/H.BIN"), -ENOTDIR);
    // A folder moved into another gets its ".." pointed at the new parent.
    ASSERT_EQ(files->MakeFolder("/D"), 0);
    ASSERT_EQ(files->Rename("/A/B", "/D/B2", false), 0);
    ExpectFsckClean();
    ASSERT_EQ(files->RemoveFolder("/D/B2"), 0);
    ASSERT_EQ(files->RemoveFolder("/D"), 0);
    ASSERT_EQ(files->RemoveFile("/A/H.BIN"), 0);
    ASSERT_EQ(files->RemoveFolder("/A"), 0);
    EXPECT_EQ(m->FreeClusters, freeBefore);
    std::vector<std::pair<std::string, NodeInfo>> list;
    ASSERT_EQ(files->List("/", list), 0);
    EXPECT_TRUE(list.empty());
    ExpectFsckClean();
}

TEST_F(MountOpsTest, AFileRemovedWhileOpenIsGoneForItsHandle) {
    MakeFat();
    const uint32_t freeBefore = m->FreeClusters;
    uint64_t h;
    ASSERT_EQ(files->Create("/X.BIN", 0644, h), 0);
    ASSERT_EQ(WriteAll(*files, h, 0, Bytes(2000, 3)), 2000);
    ASSERT_EQ(files->RemoveFile("/X.BIN"), 0);
    EXPECT_EQ(m->FreeClusters, freeBefore);
    // A new file may take the same slot; the old handle never reaches it.
    uint64_t h2;
    ASSERT_EQ(files->Create("/Y.BIN", 0644, h2), 0);
    char c;
    EXPECT_EQ(files->Read(h, 0, 1, &c), -ESTALE);
    EXPECT_EQ(WriteAll(*files, h, 0, {1}), -ESTALE);
    EXPECT_EQ(files->Close(h), 0);
    EXPECT_EQ(files->Close(h2), 0);
    NodeInfo info;
    ASSERT_EQ(files->Stat("/Y.BIN", info), 0);
    EXPECT_EQ(info.size, 0u);
    ExpectFsckClean();
}

TEST_F(MountOpsTest, ReadOnlyMarkTimesAndFlushes) {
    MakeFat();
    uint64_t h;
    ASSERT_EQ(files->Create("/R.TXT", 0444, h), 0) << "a new file without write permission is marked read-only";
    ASSERT_EQ(WriteAll(*files, h, 0, {'a'}), 1) << "the creating handle may still write";
    int before = flushes;
    ASSERT_EQ(files->Close(h), 0);
    EXPECT_EQ(flushes, before + 1) << "closing a written file flushes";
    NodeInfo info;
    ASSERT_EQ(files->Stat("/R.TXT", info), 0);
    EXPECT_TRUE(info.readOnly);
    EXPECT_EQ(files->Open("/R.TXT", true, h), -EACCES);
    EXPECT_EQ(files->Truncate("/R.TXT", 0), -EACCES);
    ASSERT_EQ(files->SetReadOnly("/R.TXT", false), 0);
    ASSERT_EQ(files->Open("/R.TXT", true, h), 0);
    ASSERT_EQ(files->Close(h), 0);
    before = flushes;
    ASSERT_EQ(files->Open("/R.TXT", false, h), 0);
    ASSERT_EQ(files->Close(h), 0);
    EXPECT_EQ(flushes, before) << "nothing to flush after reading";

    std::tm tm{};
    tm.tm_year = 1994 - 1900;
    tm.tm_mon = 5;
    tm.tm_mday = 17;
    tm.tm_hour = 13;
    tm.tm_min = 45;
    tm.tm_sec = 32;
    tm.tm_isdst = -1;
    std::time_t when = std::mktime(&tm);
    ASSERT_EQ(files->SetTime("/R.TXT", when), 0);
    Open();
    ASSERT_EQ(files->Stat("/R.TXT", info), 0);
    EXPECT_EQ(info.mtime, when);
    EXPECT_FALSE(info.readOnly);
    // Times the volume cannot hold are stored as the nearest it can.
    auto local = [](int year, int mon, int day, int hour, int min, int sec) {
        std::tm t{};
        t.tm_year = year - 1900, t.tm_mon = mon - 1, t.tm_mday = day;
        t.tm_hour = hour, t.tm_min = min, t.tm_sec = sec, t.tm_isdst = -1;
        return std::mktime(&t);
    };
    ASSERT_EQ(files->SetTime("/R.TXT", local(1975, 6, 1, 0, 0, 0)), 0);
    ASSERT_EQ(files->Stat("/R.TXT", info), 0);
    EXPECT_EQ(info.mtime, local(1980, 1, 1, 0, 0, 0));
    ASSERT_EQ(files->SetTime("/R.TXT", local(2200, 1, 1, 0, 0, 0)), 0);
    ASSERT_EQ(files->Stat("/R.TXT", info), 0);
    EXPECT_EQ(info.mtime, local(2107, 12, 31, 23, 59, 58));
    flushes = 0;
    ASSERT_EQ(files->Open("/R.TXT", true, h), 0);
    ASSERT_EQ(WriteAll(*files, h, 0, {'b'}), 1);
    EXPECT_EQ(files->Sync(h), 0);
    EXPECT_EQ(flushes, 1);
    files->flusher = [] { return false; };
    ASSERT_EQ(WriteAll(*files, h, 1, {'c'}), 1);
    EXPECT_EQ(files->Close(h), -EIO) << "a failed flush is reported";
}

// A walk through the mount as find does it: a ladder of folders sharing
// their children is listed one way down, and a folder holding one above it
// is neither listed nor passed through.
TEST_F(MountOpsTest, FoldersMetTwiceAreListedOnce) {
    MakeFat();
    Close();
    ASSERT_TRUE(BuildFolderChain(path, 60, true));
    Open();
    std::vector<std::string> stack{"/"};
    std::size_t folders = 0;
    while (!stack.empty()) {
        std::string at = stack.back();
        stack.pop_back();
        ++folders;
        std::vector<std::pair<std::string, NodeInfo>> entries;
        ASSERT_EQ(files->List(at, entries), 0) << at;
        ASSERT_LE(folders, 100u) << "a folder is listed more than once";
        for (const auto& [name, info] : entries)
            if (info.isDir) stack.push_back((at == "/" ? "" : at) + "/" + name);
    }
    EXPECT_EQ(folders, 61u);
    // The deepest folder gets an entry for the first one: a loop.
    std::string deepest;
    uint32_t first = 0, cluster = 0;
    for (int k = 0; k < 60; ++k) {
        DIDir d(m.image.get(), cluster);
        ASSERT_TRUE(d.Load());
        cluster = uint32_t(d.GetStartCluster(d.Find("D")));
        if (k == 0) first = cluster;
        deepest += "/D";
    }
    DIDir last(m.image.get(), cluster);
    ASSERT_TRUE(last.Load());
    int back = last.AddEntry("BACK");
    ASSERT_GE(back, 0);
    last.SetAttr(back, kAttrDirectory);
    last.SetStartCluster(back, first);
    ASSERT_TRUE(last.Write());
    std::vector<std::pair<std::string, NodeInfo>> entries;
    ASSERT_EQ(files->List(deepest, entries), 0);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(files->List(deepest + "/BACK", entries), -ELOOP);
    NodeInfo info;
    EXPECT_EQ(files->Stat(deepest + "/BACK/D", info), -ELOOP);
}

TEST_F(MountOpsTest, ReadOnlyVolumesRefuseEveryChange) {
    MakeFat();
    uint64_t h;
    ASSERT_EQ(files->Create("/A.TXT", 0644, h), 0);
    ASSERT_EQ(files->Close(h), 0);
    Open(true);
    auto image = ReadHostFile(path);
    EXPECT_EQ(files->Create("/B.TXT", 0644, h), -EROFS);
    EXPECT_EQ(files->Open("/A.TXT", true, h), -EROFS);
    EXPECT_EQ(files->MakeFolder("/C"), -EROFS);
    EXPECT_EQ(files->RemoveFile("/A.TXT"), -EROFS);
    EXPECT_EQ(files->Rename("/A.TXT", "/D.TXT", false), -EROFS);
    EXPECT_EQ(files->Truncate("/A.TXT", 5), -EROFS);
    EXPECT_EQ(files->SetTime("/A.TXT", 0), -EROFS);
    EXPECT_EQ(ReadHostFile(path), image);

    // FAT32 volumes are read-only whatever is asked.
    path = dir / "f32.img";
    MakeFatImage(path, 40000, 32);
    Open(false);
    EXPECT_TRUE(files->IsReadOnly());
    EXPECT_EQ(files->MakeFolder("/X"), -EROFS);
}

TEST_F(MountOpsTest, AFullVolumeOrRootRefusesWithoutLeaking) {
    MakeFat(1440, 12, "");
    const uint32_t freeBefore = m->FreeClusters;
    uint64_t h;
    ASSERT_EQ(files->Create("/BIG.BIN", 0644, h), 0);
    std::vector<uint8_t> big(uint64_t(freeBefore + 1) * m->ClusterSize, 7);
    EXPECT_EQ(WriteAll(*files, h, 0, big), -ENOSPC);
    EXPECT_EQ(m->FreeClusters, freeBefore);
    EXPECT_EQ(files->TruncateOpen(h, big.size()), -ENOSPC);
    ASSERT_EQ(files->Close(h), 0);
    VolumeFigures fig = files->Figures();
    EXPECT_EQ(fig.freeClusters, freeBefore);
    EXPECT_EQ(fig.nameMax, 255u) << "long names";
    m->LongNames = false;
    EXPECT_EQ(files->Figures().nameMax, 12u);
    // The fixed root region of a floppy holds 224 entries.
    int made = 1;
    for (int k = 0; k < 300; ++k) {
        int rc = files->Create("/F" + std::to_string(k), 0644, h);
        if (rc == -ENOSPC) break;
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(files->Close(h), 0);
        ++made;
    }
    EXPECT_EQ(made, 224) << "BIG.BIN and 223 more fill the root region";
    ExpectFsckClean();
}

// A device over bytes in memory that records every write.
class RecordingDevice : public MemoryDevice {
public:
    using MemoryDevice::MemoryDevice;
    bool Write(int64_t offset, const void* buffer, uint32_t length) override {
        auto* p = static_cast<const uint8_t*>(buffer);
        log.push_back({offset, std::vector<uint8_t>(p, p + length)});
        return MemoryDevice::Write(offset, buffer, length);
    }
    bool Flush() override {
        flushedAt.push_back(log.size());
        return MemoryDevice::Flush();
    }
    struct Put {
        int64_t offset;
        std::vector<uint8_t> bytes;
    };
    std::vector<Put> log;
    std::vector<std::size_t> flushedAt;  // writes logged at each flush
};

class WriteOrderTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        path = dir / "v.img";
        MakeFatImage(path, 4096, 16, "-s 1");
        Mounted first = MountImageFile(path);
        ASSERT_TRUE(first);
        // A file of 2.5 clusters and a second one to be replaced.
        VolumeFiles f(*first.image, false);
        uint64_t h;
        ASSERT_EQ(f.Create("/OLD.BIN", 0644, h), 0);
        ASSERT_EQ(WriteAll(f, h, 0, Bytes(1280, 5)), 1280);
        ASSERT_EQ(f.Close(h), 0);
        ASSERT_EQ(f.SetTime("/OLD.BIN", 800000000), 0);  // 1995: any later change shows
        ASSERT_EQ(f.MakeFolder("/SUB"), 0);
        ASSERT_EQ(f.Create("/SUB/T.BIN", 0644, h), 0);
        ASSERT_EQ(WriteAll(f, h, 0, Bytes(700, 6)), 700);
        ASSERT_EQ(f.Close(h), 0);
        // Free clusters hold what deleted files and folders left: bytes
        // that read as directory entries if a folder took them unzeroed.
        std::vector<uint8_t> stale(first->ClusterSize, 'A');
        for (uint32_t c = 2; c < first->ClusterLimit(); ++c)
            if (first->GetFATEntry(c) == 0) {
                ASSERT_TRUE(first->WriteCluster(c, stale.data()));
            }
        first.image.reset();
        snapshot = ReadHostFile(path);
    }
    // Runs `op` on the snapshot through a recording device.
    void Record(const std::function<void(VolumeFiles&)>& op) {
        auto* dev = new RecordingDevice(snapshot);
        VolumeParams p;
        p.Device = dev;
        ASSERT_EQ(DecodeBootRecord(p), BootOk);
        image = std::make_unique<DiskImage>();
        ASSERT_TRUE(image->Mount(p));
        image->LongNames = false;  // the 8.3 path; long names grow folders in the engine
        VolumeFiles f(*image, false);
        op(f);
        // The clean-shutdown bit (one byte of each FAT copy, cleared before
        // the first change) is no step of the operation's own order; a
        // flush counts the writes before it that are.
        log.clear();
        flushedAt.clear();
        std::size_t next = 0;
        for (std::size_t k = 0; k <= dev->log.size(); ++k) {
            for (; next < dev->flushedAt.size() && dev->flushedAt[next] == k; ++next) flushedAt.push_back(log.size());
            if (k == dev->log.size()) break;
            const RecordingDevice::Put& put = dev->log[k];
            if (!(put.bytes.size() == 1 && put.offset >= image->FAT && (put.offset - image->FAT) % image->FATSize == 3))
                log.push_back(put);
        }
        fat = image->FAT;
        rootDir = image->RootDir;
        userArea = image->UserArea;
    }
    enum Region { kFat, kRoot, kData };
    Region RegionOf(int64_t offset) const {
        if (offset < int64_t(rootDir)) return kFat;
        if (offset < userArea) return kRoot;
        return kData;
    }
    // Region of each write, in order, with runs of one region merged.
    std::vector<Region> Regions() const {
        std::vector<Region> r;
        for (const auto& put : log)
            if (r.empty() || r.back() != RegionOf(put.offset)) r.push_back(RegionOf(put.offset));
        return r;
    }
    // The image after the first n writes of the log only.
    std::vector<uint8_t> After(std::size_t n) const {
        std::vector<uint8_t> img = snapshot;
        for (std::size_t k = 0; k < n; ++k) std::memcpy(img.data() + log[k].offset, log[k].bytes.data(), log[k].bytes.size());
        return img;
    }
    // For a stop after every single write: `check` looks at the volume as
    // the engine then reads it and says whether fsck.fat must find nothing
    // worse than lost clusters or a chain beyond its size (false only for
    // the one state a move may leave: the entry in both folders).
    void EveryStopIsSafe(const std::function<bool(VolumeFiles&, std::size_t)>& check) {
        for (std::size_t n = 0; n <= log.size(); ++n) {
            std::string stopped = dir / "stopped.img";
            WriteHostFile(stopped, After(n));
            bool fsck;
            {
                Mounted mm = MountImageFile(stopped);
                ASSERT_TRUE(mm);
                VolumeFiles f(*mm.image, true);
                fsck = check(f, n);
            }
            std::string report;
            if (fsck) {
                EXPECT_TRUE(FsckCleanButLostOrLong(stopped, &report)) << "stop after write " << n << "\n" << report;
            }
            // Then repair: clean for the check and for fsck.fat.
            CheckResult r = RepairAndCheck(stopped);
            EXPECT_TRUE(r.Clean()) << "stop after write " << n << ", then repair:\n" << r.Report();
            EXPECT_TRUE(FsckClean(stopped, &report)) << "stop after write " << n << ", then repair:\n" << report;
        }
    }

    TempDir dir;
    std::string path;
    std::vector<uint8_t> snapshot;
    std::unique_ptr<DiskImage> image;
    std::vector<RecordingDevice::Put> log;
    std::vector<std::size_t> flushedAt;
    int32_t fat = 0, userArea = 0;
    uint32_t rootDir = 0;
};

TEST_F(WriteOrderTest, GrowingWritesDataThenFatThenTheEntry) {
    auto old = Bytes(1280, 5);
    auto more = Bytes(2000, 9);
    Record([&](VolumeFiles& f) {
        uint64_t h;
        ASSERT_EQ(f.Open("/OLD.BIN", true, h), 0);
        ASSERT_EQ(WriteAll(f, h, 1000, more), 2000);
        ASSERT_EQ(f.Close(h), 0);
    });
    EXPECT_EQ(Regions(), (std::vector<Region>{kData, kFat, kRoot}));
    auto grown = old;
    grown.resize(3000);
    std::memcpy(grown.data() + 1000, more.data(), more.size());
    EveryStopIsSafe([&](VolumeFiles& f, std::size_t n) -> bool {
        auto now = Slurp(f, "/OLD.BIN");
        if (n < log.size()) {
            // Until the entry is written the file has its old size; the
            // bytes in place before that are the new ones or the old ones.
            EXPECT_EQ(now.size(), old.size()) << n;
            std::size_t bad = 0;
            for (std::size_t k = 0; k < std::min(now.size(), old.size()); ++k)
                if (now[k] != old[k] && now[k] != grown[k]) ++bad;
            EXPECT_EQ(bad, 0u) << "stop after write " << n;
        } else {
            EXPECT_EQ(now, grown);
        }
        return true;
    });
}

TEST_F(WriteOrderTest, ANewFilesEntryFollowsItsDataAfterABarrierAndTheCloseFlushesIt) {
    auto data = Bytes(700, 3);
    Record([&](VolumeFiles& f) {
        f.flusher = [&] { return image->Flush(); };
        uint64_t h;
        ASSERT_EQ(f.Create("/SUB/NEW.BIN", 0644, h), 0);
        ASSERT_EQ(WriteAll(f, h, 0, data), 700);
        ASSERT_EQ(f.FlushOpen(h), 0);
        ASSERT_EQ(f.Close(h), 0);
    });
    // The empty entry, the data, the FAT; a flush; the entry; a flush.
    ASSERT_EQ(Regions(), (std::vector<Region>{kData, kFat, kData}));
    EXPECT_EQ(RegionOf(log[log.size() - 2].offset), kFat);
    EXPECT_NE(std::find(flushedAt.begin(), flushedAt.end(), log.size() - 1), flushedAt.end());
    ASSERT_FALSE(flushedAt.empty());
    EXPECT_EQ(flushedAt.back(), log.size()) << "close(2) returns once the entry is on the disk";
    EveryStopIsSafe([&](VolumeFiles& f, std::size_t n) -> bool {
        NodeInfo info;
        if (f.Stat("/SUB/NEW.BIN", info) == 0 && info.size != 0) {
            EXPECT_EQ(Slurp(f, "/SUB/NEW.BIN"), data) << n;
        }
        return true;
    });
}

TEST_F(WriteOrderTest, OverwritingInPlaceWritesDataThenTheEntryAndNoFat) {
    Record([&](VolumeFiles& f) {
        uint64_t h;
        ASSERT_EQ(f.Open("/OLD.BIN", true, h), 0);
        ASSERT_EQ(WriteAll(f, h, 100, Bytes(600, 8)), 600);
        ASSERT_EQ(f.Close(h), 0);
    });
    EXPECT_EQ(Regions(), (std::vector<Region>{kData, kRoot}));
}

TEST_F(WriteOrderTest, ShrinkingWritesTheEntryThenFreesClusters) {
    auto old = Bytes(1280, 5);
    Record([&](VolumeFiles& f) { ASSERT_EQ(f.Truncate("/OLD.BIN", 100), 0); });
    EXPECT_EQ(Regions(), (std::vector<Region>{kRoot, kFat}));
    EveryStopIsSafe([&](VolumeFiles& f, std::size_t n) -> bool {
        auto now = Slurp(f, "/OLD.BIN");
        EXPECT_EQ(now.size(), n == 0 ? 1280u : 100u);
        EXPECT_TRUE(std::equal(now.begin(), now.end(), old.begin()));
        return true;
    });
}

TEST_F(WriteOrderTest, RenameOntoAFileInAnotherFolderNeverLosesTheSource) {
    auto old = Bytes(1280, 5);
    Record([&](VolumeFiles& f) { ASSERT_EQ(f.Rename("/OLD.BIN", "/SUB/T.BIN", false), 0); });
    EveryStopIsSafe([&](VolumeFiles& f, std::size_t n) -> bool {
        // The file under its old or new name, in its old or new folder.
        int copies = 0;
        for (const char* p : {"/OLD.BIN", "/T.BIN", "/SUB/OLD.BIN", "/SUB/T.BIN"}) {
            NodeInfo info;
            if (f.Stat(p, info) == 0 && info.size == old.size()) {
                EXPECT_EQ(Slurp(f, p), old) << p << ", stop after write " << n;
                ++copies;
            }
        }
        EXPECT_GE(copies, 1) << "stop after write " << n;
        if (n == log.size()) {
            NodeInfo info;
            EXPECT_EQ(f.Stat("/SUB/T.BIN", info), 0);
            EXPECT_EQ(copies, 1);
        }
        // In both folders at once the two entries share their clusters.
        return copies == 1;
    });
}

TEST_F(WriteOrderTest, AFullFolderGrowsByAZeroedClusterBeforeItIsLinked) {
    // SUB's one cluster holds 16 entries: ".", "..", T.BIN and 13 more.
    Record([&](VolumeFiles& f) {
        uint64_t h;
        for (int k = 0; k < 13; ++k) {
            ASSERT_EQ(f.Create("/SUB/F" + std::to_string(k), 0644, h), 0);
            ASSERT_EQ(f.Close(h), 0);
        }
    });
    snapshot = After(log.size());
    Record([&](VolumeFiles& f) {
        uint64_t h;
        ASSERT_EQ(f.Create("/SUB/NEW.TXT", 0644, h), 0);
        ASSERT_EQ(f.Close(h), 0);
        ASSERT_EQ(f.MakeFolder("/SUB/NEWDIR"), 0);
    });
    EveryStopIsSafe([&](VolumeFiles& f, std::size_t n) -> bool {
        std::vector<std::pair<std::string, NodeInfo>> list;
        EXPECT_EQ(f.List("/SUB", list), 0);
        EXPECT_GE(list.size(), 14u) << n;
        EXPECT_LE(list.size(), 16u) << "no stale entries appear, stop after write " << n;
        return true;
    });
}

TEST_F(WriteOrderTest, RemovingWritesTheEntryBeforeFreeingClusters) {
    Record([&](VolumeFiles& f) { ASSERT_EQ(f.RemoveFile("/OLD.BIN"), 0); });
    EXPECT_EQ(Regions(), (std::vector<Region>{kRoot, kFat}));
    EveryStopIsSafe([&](VolumeFiles&, std::size_t) { return true; });
}

}  // namespace
