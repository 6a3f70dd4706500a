// One writer at a time on an image file; readers share it; files that are
// not images are refused at once.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "device/deviceio_file.h"
#include "support/images.h"
#include "support/scripted_ui.h"

namespace {

const char* const kInUse = "Η εικόνα χρησιμοποιείται ήδη από άλλο πρόγραμμα\n";

struct OfferingUI : ScriptedUI {
    bool OfferReadOnly(const std::string& path) override {
        offered.push_back(path);
        return accept;
    }
    bool accept = false;
    std::vector<std::string> offered;
};

class LockTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir / "disk.img";
        WriteHostFile(path, RandomBytes(4096, 3));
    }
    void TearDown() override { DeviceIO_File::SetOpenForWriting(true); }
    // Opens a device; nullptr when refused.
    std::unique_ptr<DeviceIO_File, DeviceDestroyer> Open(bool write) {
        DeviceIO_File::SetOpenForWriting(write);
        auto* d = new DeviceIO_File;
        if (d->Open(path)) return std::unique_ptr<DeviceIO_File, DeviceDestroyer>(d);
        d->Destroy();
        return nullptr;
    }
    TempDir dir;
    std::string path;
    OfferingUI ui;
    ScopedUserInterface scope{&ui};
};

TEST_F(LockTest, OneWriterAtATimeAndReadersShare) {
    auto writer = Open(true);
    ASSERT_TRUE(writer);
    EXPECT_FALSE(writer->IsReadOnly());
    EXPECT_FALSE(Open(true)) << "a second writer";
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, kInUse + path);
    EXPECT_EQ(ui.offered, std::vector<std::string>{path}) << "the front end may offer reading instead";
    EXPECT_FALSE(Open(false)) << "a reader while a writer works";
    writer.reset();

    auto reader1 = Open(false), reader2 = Open(false);
    ASSERT_TRUE(reader1 && reader2) << "readers share the image";
    EXPECT_TRUE(reader1->IsReadOnly());
    EXPECT_FALSE(Open(true)) << "a writer while readers read";
    reader1.reset();
    reader2.reset();
    EXPECT_TRUE(Open(true)) << "free again once they are gone";
}

TEST_F(LockTest, AnAcceptedOfferOpensForReadingBesideTheWriter) {
    auto writer = Open(true);
    ASSERT_TRUE(writer);
    ui.accept = true;
    auto second = Open(true);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->IsReadOnly());
    char b;
    EXPECT_TRUE(second->Read(10, &b, 1));
    EXPECT_FALSE(second->Write(10, &b, 1));
    EXPECT_TRUE(ui.boxes.empty()) << "the question was the message";
}

TEST_F(LockTest, MakeReadOnlyLetsReadersIn) {
    auto writer = Open(true);
    ASSERT_TRUE(writer);
    uint8_t b = 7;
    ASSERT_TRUE(writer->Write(0, &b, 1));
    EXPECT_TRUE(writer->Flush());
    ASSERT_TRUE(writer->MakeReadOnly());
    EXPECT_TRUE(Open(false)) << "the lock became shared";
    EXPECT_EQ(ReadHostFile(path)[0], 7);
}

TEST_F(LockTest, OnlyRegularFilesAndBlockDevicesAreOpened) {
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (bool write : {true, false}) {
        DeviceIO_File::SetOpenForWriting(write);
        auto* d = new DeviceIO_File;
        EXPECT_FALSE(d->Open(fifo));
        d->Destroy();
    }
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "Το " + fifo + "\nδεν είναι αρχείο εικόνας ή συσκευή δίσκου");
    auto* d = new DeviceIO_File;
    EXPECT_FALSE(d->Open(dir.path())) << "a folder";
    d->Destroy();
}

}  // namespace
