#include <gtest/gtest.h>

#include <sys/stat.h>

#include "device/deviceio_file.h"
#include "device/messages.h"
#include "support/images.h"
#include "support/scripted_ui.h"

namespace {

class FileDeviceTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        path = dir / "disk.img";
        content = RandomBytes(200000, 7);
        WriteHostFile(path, content);
    }
    DeviceIO_File* Make() { return new DeviceIO_File; }
    TempDir dir;
    std::string path;
    std::vector<uint8_t> content;
};

struct Holder {
    DeviceIO_File* d;
    ~Holder() { d->Destroy(); }
    DeviceIO_File* operator->() { return d; }
};

TEST_F(FileDeviceTest, OpensReadWriteAndReadsExactLengths) {
    Holder d{Make()};
    ASSERT_TRUE(d->Open(path));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(d->IsReadOnly());
    EXPECT_STREQ(d->GetName(), "Built-in File I/O");
    EXPECT_EQ(d->GetPath(), path);
    std::vector<uint8_t> buf(1000);
    ASSERT_TRUE(d->Read(12345, buf.data(), 1000));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), content.begin() + 12345));
    // A read that would run past the end is a failure, not a short success.
    EXPECT_FALSE(d->Read(199500, buf.data(), 1000));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].caption, SystemErrorCaption());
}

// Makes the file impossible to open for writing, for root as well
// (permission bits do not stop root; the immutable flag does).
bool WriteProtect(const std::string& path) {
    chmod(path.c_str(), 0444);
    if (access(path.c_str(), W_OK) != 0) return true;
    return RunShell("chattr +i " + Quote(path)) == 0;
}

TEST_F(FileDeviceTest, WriteProtectedFileOpensReadOnlyWithMessage603) {
    if (!WriteProtect(path)) GTEST_SKIP() << "cannot write-protect a file here";
    Holder d{Make()};
    bool opened = d->Open(path);
    RunShell("chattr -i " + Quote(path));
    ASSERT_TRUE(opened);
    EXPECT_TRUE(d->IsReadOnly());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, path + "\nΤο αρχείο είναι μόνο για ανάγνωση");
    EXPECT_FALSE(d->Write(0, "x", 1));
    EXPECT_EQ(ui.boxes.size(), 1u) << "a refused write is silent";
    EXPECT_EQ(ReadHostFile(path), content);
}

TEST_F(FileDeviceTest, RawPrefixNeverOpensForWritingAndReadsWholeSectors) {
    Holder d{Make()};
    ASSERT_TRUE(d->Open("\\\\.\\" + path));
    EXPECT_TRUE(d->IsRaw());
    EXPECT_TRUE(d->IsReadOnly());
    EXPECT_EQ(d->SectorSize(), 512u);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "\\\\.\\" + path + "\nΤο αρχείο είναι μόνο για ανάγνωση");
    uint8_t buf[34];
    ASSERT_TRUE(d->Read(1024, buf, 34));
    EXPECT_TRUE(std::equal(buf, buf + 34, content.begin() + 1024));
    // 34 bytes at the last whole sector but one byte short of the end: the
    // device reads a full sector, which is not there.
    std::size_t lastSector = content.size() / 512 * 512;  // 199680, 320 bytes remain
    EXPECT_FALSE(d->Read(int64_t(lastSector), buf, 34));
    EXPECT_FALSE(d->Write(0, buf, 34));
}

TEST_F(FileDeviceTest, MissingPathShowsSystemErrorThen602AndStaysClosed) {
    Holder d{Make()};
    std::string missing = dir / "nope.img";
    EXPECT_FALSE(d->Open(missing));
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].caption, SystemErrorCaption());
    EXPECT_EQ(ui.boxes[0].text, "No such file or directory");
    EXPECT_EQ(ui.boxes[1].text, missing + "\nΤο αρχείο δεν βρέθηκε ή είναι ανοικτό");
    // Closed: a later Open may be tried.
    EXPECT_TRUE(d->Open(path));
}

TEST_F(FileDeviceTest, SecondOpenShows601AndKeepsTheFirstHandle) {
    Holder d{Make()};
    ASSERT_TRUE(d->Open(path));
    EXPECT_FALSE(d->Open(dir / "other.img"));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "?");
    uint8_t b;
    ASSERT_TRUE(d->Read(5, &b, 1));
    EXPECT_EQ(b, content[5]);
    EXPECT_EQ(d->GetPath(), path);
}

TEST_F(FileDeviceTest, LargeWritesGoInPiecesOf1024) {
    Holder d{Make()};
    ASSERT_TRUE(d->Open(path));
    std::vector<uint8_t> small = RandomBytes(65535, 1), large = RandomBytes(65536, 2);
    ASSERT_TRUE(d->Write(100, small.data(), uint32_t(small.size())));
    EXPECT_EQ(d->LastWritePieces(), 1u);
    ASSERT_TRUE(d->Write(70000, large.data(), uint32_t(large.size())));
    EXPECT_EQ(d->LastWritePieces(), 64u);
    auto now = ReadHostFile(path);
    EXPECT_TRUE(std::equal(small.begin(), small.end(), now.begin() + 100));
    EXPECT_TRUE(std::equal(large.begin(), large.end(), now.begin() + 70000));
}

TEST_F(FileDeviceTest, MakeReadOnlyReopensForReading) {
    Holder d{Make()};
    EXPECT_FALSE(d->MakeReadOnly()) << "no handle";
    ASSERT_TRUE(d->Open(path));
    ASSERT_TRUE(d->MakeReadOnly());
    EXPECT_TRUE(d->IsReadOnly());
    EXPECT_TRUE(d->MakeReadOnly());
    EXPECT_FALSE(d->Write(0, "zz", 2));
    EXPECT_EQ(ReadHostFile(path), content);
    uint8_t b;
    EXPECT_TRUE(d->Read(0, &b, 1));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(FileDeviceTest, OverlongPathIsRefused) {
    Holder d{Make()};
    EXPECT_FALSE(d->Open("/" + std::string(300, 'a')));
    EXPECT_FALSE(ui.boxes.empty());
    EXPECT_TRUE(d->Open(path));
}

}  // namespace
