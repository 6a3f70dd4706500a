#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "device/containerdevice.h"
#include "device/d88.h"
#include "device/deviceio_file.h"
#include "device/dim.h"
#include "device/floppycontainers.h"
#include "device/floppyopen.h"
#include "device/nfd.h"
#include "support/containers.h"
#include "device/messages.h"
#include "support/scripted_ui.h"

namespace {

constexpr uint32_t kSector = 1024;
constexpr uint64_t kTrackBytes = 8 * kSector;

class ContainerTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override { volume = MakeFloppyVolume({{"DATA.BIN", RandomBytes(30000, 3)}}); }
    void TearDown() override {
        if (device) device->Destroy();
    }
    DeviceIO_File* OpenFile(const std::string& p) {
        auto* f = new DeviceIO_File;
        EXPECT_TRUE(f->Open(p));
        return f;
    }
    // The container device over the open file, made from what `disks` describes.
    void OpenContainer(std::vector<ContainerDisk> disks, const char* kind = "D88") {
        device = new DeviceIO_Container(file, kind, std::move(disks));
    }
    std::vector<ContainerDisk> D88Disks(const std::string& p) {
        file = OpenFile(p);
        auto disks = ReadD88(file, ReadHostFile(p).size());
        EXPECT_TRUE(disks.has_value());
        return disks ? *disks : std::vector<ContainerDisk>{};
    }
    std::vector<uint8_t> ReadAll(uint64_t from, uint64_t length) {
        std::vector<uint8_t> v(length);
        EXPECT_TRUE(device->Read(int64_t(from), v.data(), uint32_t(length)));
        return v;
    }

    TempDir dir;
    std::vector<uint8_t> volume;
    DeviceIO_File* file = nullptr;
    DeviceIO_Container* device = nullptr;
};

// Copy-protection marks (a sector number far beyond the track, a cylinder
// of 255, a short sector) do not stretch the geometry.
TEST(DiskFromRecordsTest, StrayRecordsDoNotChangeTheGeometry) {
    std::vector<SectorRecord> records;
    int64_t at = 1000;
    for (uint32_t c = 0; c < 2; ++c)
        for (uint32_t h = 0; h < 2; ++h)
            for (uint32_t r = 8; r >= 1; --r) records.push_back({c, h, r, 512, at += 512});
    records.push_back({0, 0, 0xF5, 512, 1});
    records.push_back({0xFF, 0, 1, 512, 2});
    records.push_back({1, 1, 9, 128, 3});
    records.push_back({1, 0, 3, 512, 4});  // the same sector again: the first one stays
    ContainerDisk d = DiskFromRecords(records);
    EXPECT_EQ(GeometryText(d.geometry), "2/2/8/512");
    ASSERT_EQ(d.sectorData.size(), 32u);
    // Cylinder 1, head 0, sector 3: the 6th record stored for that track.
    EXPECT_EQ(d.sectorData[(1 * 2 + 0) * 8 + 2], 1000 + 512 * (2 * 8 + 6));
    for (int64_t v : d.sectorData) EXPECT_GE(v, 1000);
}

TEST_F(ContainerTest, ShuffledD88RecordsReadInLogicalOrder) {
    std::string p = dir / "s.d88";
    WriteD88(p, {{"SHUFFLED", volume, {}, 11}});
    OpenContainer(D88Disks(p));
    ASSERT_EQ(device->Disks().size(), 1u);
    EXPECT_EQ(GeometryText(device->Disks()[0].geometry), "77/2/8/1024");
    EXPECT_EQ(device->Disks()[0].name, "SHUFFLED");
    // One read across many tracks, and reads that start and end inside sectors.
    EXPECT_EQ(ReadAll(0, volume.size()), volume);
    EXPECT_EQ(ReadAll(1000, 5000), std::vector<uint8_t>(volume.begin() + 1000, volume.begin() + 6000));
    EXPECT_EQ(device->DiskAt(volume.size() - 1), 0);
    EXPECT_EQ(device->DiskAt(volume.size()), -1);
    uint8_t b;
    EXPECT_FALSE(device->Read(int64_t(volume.size()), &b, 1));
}

TEST_F(ContainerTest, D88WithA160TrackTableReadsTheSame) {
    std::string p = dir / "short.d88";
    D88Disk disk{"SHORT", volume, {}, 6};
    disk.shortTable = true;
    WriteD88(p, {disk});
    ASSERT_EQ(ReadHostFile(p)[0x20], 0xA0);  // the first track right after 160 offsets
    OpenContainer(D88Disks(p));
    EXPECT_EQ(ReadAll(0, volume.size()), volume);
}

TEST_F(ContainerTest, WritesChangeOnlyTheDataOfTheRecordsTouched) {
    std::string p = dir / "w.d88";
    SectorMap map = WriteD88(p, {{"W", volume, {}, 5}});
    auto before = ReadHostFile(p);
    OpenContainer(D88Disks(p));
    // Sectors 9 to 11 of the volume, starting half-way into sector 9.
    auto data = RandomBytes(2 * kSector + 512, 9);
    ASSERT_TRUE(device->Write(9 * kSector + 512, data.data(), uint32_t(data.size())));
    auto after = ReadHostFile(p);
    ASSERT_EQ(after.size(), before.size());
    int64_t s9 = map.disks[0][9], s10 = map.disks[0][10], s11 = map.disks[0][11];
    for (std::size_t i = 0; i < after.size(); ++i) {
        int64_t at = int64_t(i);
        bool touched = (at >= s9 + 512 && at < s9 + kSector) || (at >= s10 && at < s10 + kSector) ||
                       (at >= s11 && at < s11 + kSector);
        if (!touched) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i << " changed outside the records written";
        }
    }
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 512, after.begin() + s9 + 512));
    EXPECT_TRUE(std::equal(data.begin() + 512, data.begin() + 1536, after.begin() + s10));
    EXPECT_TRUE(std::equal(data.begin() + 1536, data.end(), after.begin() + s11));
}

TEST_F(ContainerTest, AbsentD88TrackFailsNamingTheSectorAndWritesNothing) {
    std::string p = dir / "gap.d88";
    WriteD88(p, {{"GAP", volume, {11}, 0}});  // cylinder 5, head 1
    auto before = ReadHostFile(p);
    OpenContainer(D88Disks(p));
    const uint64_t track11 = 11 * kTrackBytes;
    std::vector<uint8_t> buf(kSector);
    EXPECT_FALSE(device->Read(int64_t(track11 + 3 * kSector), buf.data(), kSector));
    EXPECT_EQ(ui.Texts().back(), "Ο sector C 5 H 1 R 4 λείπει από την εικόνα D88");
    // A write running from the track before into the missing one writes nothing at all.
    auto data = RandomBytes(2 * kSector, 2);
    EXPECT_FALSE(device->Write(int64_t(track11 - kSector), data.data(), uint32_t(data.size())));
    EXPECT_EQ(ui.Texts().back(), "Ο sector C 5 H 1 R 1 λείπει από την εικόνα D88");
    EXPECT_EQ(ReadHostFile(p), before);
    EXPECT_EQ(ReadAll(track11 - kSector, kSector),
              std::vector<uint8_t>(volume.begin() + long(track11 - kSector), volume.begin() + long(track11)));
}

TEST_F(ContainerTest, SeveralD88DisksFollowOneAnotherOnTheDevice) {
    auto second = MakeFloppyVolume({{"OTHER.BIN", RandomBytes(4000, 8)}});
    std::string p = dir / "two.d88";
    WriteD88(p, {{"ONE", volume, {}, 1}, {"TWO", second, {}, 2}});
    OpenContainer(D88Disks(p));
    ASSERT_EQ(device->Disks().size(), 2u);
    EXPECT_EQ(device->DiskBase(1), volume.size());
    EXPECT_EQ(device->Disks()[1].name, "TWO");
    EXPECT_EQ(ReadAll(volume.size(), second.size()), second);
    // A read across the seam between the disks.
    auto seam = ReadAll(volume.size() - 100, 200);
    EXPECT_TRUE(std::equal(seam.begin(), seam.begin() + 100, volume.end() - 100));
    EXPECT_TRUE(std::equal(seam.begin() + 100, seam.end(), second.begin()));
}

TEST_F(ContainerTest, NFDAndDIMMapTheirSectors) {
    // The published layout (a record numbered 0 in track 1 takes its room)
    // and the one this program once wrote (unused slots zero).
    for (bool earlier : {false, true}) {
        std::string nfd = dir / "d.nfd";
        WriteNFD(nfd, volume, earlier);
        file = OpenFile(nfd);
        auto disk = ReadNFD(file, ReadHostFile(nfd).size());
        ASSERT_TRUE(disk) << earlier;
        EXPECT_EQ(GeometryText(disk->geometry), "77/2/8/1024") << earlier;
        OpenContainer({*disk}, "NFD");
        EXPECT_EQ(ReadAll(0, volume.size()), volume) << earlier;
        EXPECT_FALSE(device->IsReadOnly());
        device->Destroy();
    }

    std::string dim = dir / "d.dim";
    WriteDIM(dim, volume, {150, 153});
    file = OpenFile(dim);
    auto d2 = ReadDIM(file, ReadHostFile(dim).size());
    ASSERT_TRUE(d2);
    OpenContainer({*d2}, "DIM");
    EXPECT_EQ(ReadAll(0, 150 * kTrackBytes), std::vector<uint8_t>(volume.begin(), volume.begin() + 150 * kTrackBytes));
    EXPECT_EQ(ReadAll(151 * kTrackBytes, 2 * kTrackBytes),
              std::vector<uint8_t>(volume.begin() + 151 * kTrackBytes, volume.begin() + 153 * kTrackBytes));
    std::vector<uint8_t> buf(kSector);
    EXPECT_FALSE(device->Read(int64_t(153 * kTrackBytes + 7 * kSector), buf.data(), kSector));
    EXPECT_EQ(ui.Texts().back(), "Ο sector C 76 H 1 R 8 λείπει από την εικόνα DIM");
}

TEST_F(ContainerTest, ReadOnlyGoesToTheFileDevice) {
    std::string p = dir / "ro.d88";
    WriteD88(p, {{"RO", volume, {}, 0}});
    auto before = ReadHostFile(p);
    OpenContainer(D88Disks(p));
    EXPECT_FALSE(device->IsReadOnly());
    EXPECT_TRUE(device->MakeReadOnly());
    EXPECT_TRUE(device->IsReadOnly());
    EXPECT_TRUE(file->IsReadOnly());
    std::vector<uint8_t> buf(kSector, 1);
    EXPECT_FALSE(device->Write(0, buf.data(), kSector));
    EXPECT_EQ(ReadHostFile(p), before);
    EXPECT_EQ(std::string(device->GetPath()), p);
    EXPECT_EQ(std::string(device->GetName()), "D88 (Built-in File I/O)");
}

TEST_F(ContainerTest, AWriteProtectedD88OrNFDDiskIsReadOnly) {
    for (const char* kind : {"D88", "NFD"}) {
        const bool d88 = std::string(kind) == "D88";
        std::string p = dir / (d88 ? "wp.d88" : "wp.nfd");
        if (d88) WriteD88(p, {{"WP", volume, {}, 0}});
        else WriteNFD(p, volume);
        auto bytes = ReadHostFile(p);
        if (d88) bytes[0x1A] = 0x10;  // the header's write-protect mark
        else bytes[0x114] = 1;
        WriteHostFile(p, bytes);
        if (d88) {
            OpenContainer(D88Disks(p));
        } else {
            file = OpenFile(p);
            auto disk = ReadNFD(file, bytes.size());
            ASSERT_TRUE(disk);
            OpenContainer({*disk}, kind);
        }
        EXPECT_TRUE(device->IsReadOnly()) << kind;
        EXPECT_FALSE(file->IsReadOnly()) << "the file itself could be written";
        std::vector<uint8_t> buf(kSector, 1);
        EXPECT_FALSE(device->Write(0, buf.data(), kSector)) << kind;
        EXPECT_EQ(ReadHostFile(p), bytes) << kind;
        EXPECT_EQ(ReadAll(0, kSector), std::vector<uint8_t>(volume.begin(), volume.begin() + kSector));
        device->Destroy();
        device = nullptr;
    }
}

// Files that are not consistent containers are refused, whatever their
// first bytes say.
TEST_F(ContainerTest, InconsistentContainersAreRefused) {
    std::string p = dir / "t.d88";
    WriteD88(p, {{"T", volume, {}, 0}});
    auto good = ReadHostFile(p);
    auto check = [&](const std::vector<uint8_t>& bytes, const char* what) {
        std::string q = dir / "bad.bin";
        WriteHostFile(q, bytes);
        DeviceIO_File* f = OpenFile(q);
        EXPECT_FALSE(ReadD88(f, bytes.size())) << what;
        EXPECT_FALSE(ReadNFD(f, bytes.size())) << what;
        EXPECT_FALSE(ReadDIM(f, bytes.size())) << what;
        f->Destroy();
    };
    check(std::vector<uint8_t>(good.begin(), good.end() - 1), "D88 cut short by one byte");
    check(std::vector<uint8_t>(good.begin(), good.begin() + 0x200), "D88 header cut short");
    auto grown = good;
    grown.push_back(0);
    check(grown, "D88 with a stray byte after its disk");
    auto badRecord = good;
    badRecord[0x2B0 + 14] = 0xFF;  // first record's data size beyond the disk
    badRecord[0x2B0 + 15] = 0xFF;
    check(badRecord, "D88 record larger than its disk");

    std::string n = dir / "n.nfd";
    WriteNFD(n, volume);
    auto nfd = ReadHostFile(n);
    check(std::vector<uint8_t>(nfd.begin(), nfd.begin() + 0x8000), "NFD header cut short");
    check(std::vector<uint8_t>(nfd.begin(), nfd.end() - 1024), "NFD missing its last sector");
    // Without the data of its record numbered 0, the map and the data no
    // longer agree, whichever way the unused slots are read.
    auto noMark = nfd;
    noMark.erase(noMark.begin() + 0x10A10 + 2 * kTrackBytes, noMark.begin() + 0x10A10 + 2 * kTrackBytes + kSector);
    check(noMark, "NFD missing the data of a record numbered 0");

    std::string m = dir / "m.dim";
    WriteDIM(m, volume, {});
    auto dim = ReadHostFile(m);
    check(std::vector<uint8_t>(dim.begin(), dim.end() - 1), "DIM cut short");
    auto badFlag = dim;
    badFlag[5] = 2;
    check(badFlag, "DIM with a flag that is not a flag");
    auto shortMark = dim;
    shortMark[0xAB + 11] = '_';
    check(shortMark, "DIM whose mark is not followed by its two spaces");
}

// The containers kept track by track, as the tests write them: the file's
// name, the kind `info` names, and the writer (HFE has no plain data).
struct TrackCase {
    const char* file;
    const char* kind;
    SectorMap (*write)(const std::string&, const std::vector<uint8_t>&, const TrackImageOptions&);
};
const TrackCase kTrackCases[] = {{"t.nfd", "NFD r1", WriteNFD1}, {"t.imd", "IMD", WriteIMD}, {"t.fdd", "FDD", WriteFDD},
                                 {"t.dcp", "DCP", WriteDCP},     {"t.hfe", "HFE", nullptr}};

class TrackContainerTest : public ContainerTest {
protected:
    SectorMap Write(const TrackCase& c, const TrackImageOptions& o = {}) {
        path = dir / c.file;
        if (c.write) return c.write(path, volume, o);
        WriteHFE(path, volume, o);
        return {};
    }
    DeviceIO_FloppyImage* Open() {
        file = OpenFile(path);
        DeviceIO_FloppyImage* image = OpenFloppyImage(file, ReadHostFile(path).size());
        EXPECT_NE(image, nullptr) << path;
        device = image;
        return image;
    }
    std::string path;
};

TEST_F(TrackContainerTest, SectorsReadInLogicalOrderAndWritesLandInTheirRecords) {
    for (const TrackCase& c : kTrackCases) {
        SCOPED_TRACE(c.kind);
        TrackImageOptions o;
        o.retries = true;
        if (std::string(c.kind) == "DCP") o.absentTracks = {150};
        SectorMap map = Write(c, o);
        auto before = ReadHostFile(path);
        DeviceIO_FloppyImage* image = Open();
        if (!image) continue;
        EXPECT_EQ(image->Kind(), c.kind);
        EXPECT_EQ(GeometryText(image->Disks()[0].geometry), "77/2/8/1024");
        EXPECT_EQ(ReadAll(0, 150 * kTrackBytes), std::vector<uint8_t>(volume.begin(), volume.begin() + 150 * kTrackBytes));
        // Sectors 0 to 2 of the volume (the first in three copies in NFD r1), from half-way into sector 0.
        auto data = RandomBytes(2 * kSector + 512, 4);
        ASSERT_TRUE(device->Write(512, data.data(), uint32_t(data.size())));
        auto expected = volume;
        std::copy(data.begin(), data.end(), expected.begin() + 512);
        auto after = ReadHostFile(path);
        ASSERT_EQ(after.size(), before.size());
        PlainDisk back = UnwrapContainer(path, c.kind);
        back.bytes.resize(volume.size(), 0);
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 3 * kSector, back.bytes.begin()));
        if (c.write) {
            // Nothing but the records' data changed; all three copies of the unstable sector are the same.
            auto ranges = map.DataRanges();
            for (std::size_t i = 0; i < after.size(); ++i)
                if (after[i] != before[i]) {
                    bool inside = std::string(c.kind) == "NFD r1" && int64_t(i) >= map.disks[0][0] &&
                                  int64_t(i) < map.disks[0][0] + 3 * kSector;
                    for (auto [from, to] : ranges) inside = inside || (int64_t(i) >= from && int64_t(i) < to);
                    ASSERT_TRUE(inside) << "byte " << i << " changed outside the records";
                }
            if (std::string(c.kind) == "NFD r1") {
                EXPECT_TRUE(std::equal(after.begin() + map.disks[0][0], after.begin() + map.disks[0][0] + kSector,
                                       after.begin() + map.disks[0][0] + 2 * kSector));
            }
        }
        EXPECT_EQ(ReadAll(0, 3 * kSector), std::vector<uint8_t>(expected.begin(), expected.begin() + 3 * kSector));
        if (std::string(c.kind) == "DCP") {
            std::vector<uint8_t> buf(kSector);
            EXPECT_FALSE(device->Read(int64_t(150 * kTrackBytes), buf.data(), kSector));
            EXPECT_EQ(ui.Texts().back(), "Ο sector C 75 H 0 R 1 λείπει από την εικόνα DCP");
        }
        device->Destroy();
        device = nullptr;
    }
}

// The containers' own write-protect marks make the device read-only.
TEST_F(TrackContainerTest, WriteProtectMarksAreHonoured) {
    const struct {
        const TrackCase& c;
        std::size_t at;
        uint8_t value;
    } marks[] = {{kTrackCases[0], 0x114, 1}, {kTrackCases[2], 0x88, 1}, {kTrackCases[4], 20, 0}};
    for (const auto& m : marks) {
        SCOPED_TRACE(m.c.kind);
        Write(m.c);
        auto bytes = ReadHostFile(path);
        bytes[m.at] = m.value;
        WriteHostFile(path, bytes);
        if (!Open()) continue;
        EXPECT_TRUE(device->IsReadOnly());
        EXPECT_TRUE(device->IsWriteProtected());
        std::vector<uint8_t> buf(kSector, 7);
        EXPECT_FALSE(device->Write(0, buf.data(), kSector));
        EXPECT_EQ(ReadHostFile(path), bytes);
        device->Destroy();
        device = nullptr;
    }
}

// A container's track source hands out what the test wrote, and its sink
// writes what the test's own reader takes back byte for byte.
TEST_F(TrackContainerTest, SourcesAndSinksRoundTripThePlainDump) {
    const ContainerGeometry g{77, 2, 8, 1024};
    for (const TrackCase& c : kTrackCases) {
        SCOPED_TRACE(c.kind);
        const FloppyContainerFormat* format = nullptr;
        for (const FloppyContainerFormat& f : FloppyContainerFormats())
            if (std::string(f.kind) == c.kind) format = &f;
        ASSERT_NE(format, nullptr);
        Write(c);
        file = OpenFile(path);
        auto source = format->open(file, ReadHostFile(path).size(), 0);
        ASSERT_TRUE(source);
        std::vector<uint8_t> plain(volume.size(), 0);
        for (uint32_t t = 0; t < 154; ++t) {
            FloppyTrack track;
            ASSERT_TRUE(source->ReadTrack(t / 2, t % 2, track));
            ASSERT_EQ(track.sectors.size(), 8u) << "track " << t;
            for (const FloppySector& s : track.sectors) {
                ASSERT_EQ(s.data.size(), kSector);
                EXPECT_EQ(s.c * 2 + s.h, t);
                std::copy(s.data.begin(), s.data.end(), plain.begin() + (t * 8 + s.r - 1) * kSector);
            }
        }
        EXPECT_EQ(plain, volume);
        file->Destroy();
        file = nullptr;

        auto made = MakeFloppyContainer(*format, volume, g, FloppyMedia::k2HD, "");
        ASSERT_TRUE(made);
        const std::string out = dir / (std::string("made") + c.file);
        WriteHostFile(out, *made);
        PlainDisk back = UnwrapContainer(out, c.kind);
        EXPECT_EQ(back.secLen, kSector);
        EXPECT_EQ(back.bytes, volume);
    }
}

// A sector read with a data error is an error, never data; a sector kept
// as one byte takes only one byte again.
TEST_F(TrackContainerTest, DamagedAndFilledSectorsAreNeverTakenForData) {
    TrackImageOptions o;
    o.fillUniform = true;
    o.errorSector = 5;
    for (const TrackCase& c : {kTrackCases[1], kTrackCases[4]}) {
        SCOPED_TRACE(c.kind);
        Write(c, o);
        if (!Open()) continue;
        std::vector<uint8_t> buf(kSector);
        EXPECT_FALSE(device->Read(5 * kSector, buf.data(), kSector));
        EXPECT_NE(ui.Texts().back().find("C 0 H 0 R 6"), std::string::npos);
        EXPECT_NE(ui.Texts().back().find("CRC"), std::string::npos) << ui.Texts().back();
        EXPECT_FALSE(device->Write(5 * kSector, buf.data(), kSector));
        EXPECT_EQ(ReadAll(4 * kSector, kSector), std::vector<uint8_t>(volume.begin() + 4 * kSector, volume.begin() + 5 * kSector));
        device->Destroy();
        device = nullptr;
    }
    // The last sector of the IMD is zeros, kept as its fill byte.
    Write(kTrackCases[1], o);
    auto before = ReadHostFile(path);
    Open();
    const int64_t last = int64_t(volume.size() - kSector);
    EXPECT_EQ(ReadAll(uint64_t(last), kSector), std::vector<uint8_t>(kSector, 0));
    auto mixed = RandomBytes(kSector, 1);
    EXPECT_FALSE(device->Write(last, mixed.data(), kSector));
    EXPECT_NE(ui.Texts().back().find("C 76 H 1 R 8"), std::string::npos) << ui.Texts().back();
    EXPECT_EQ(ReadHostFile(path), before);
    std::vector<uint8_t> same(kSector, 0x33);
    ASSERT_TRUE(device->Write(last, same.data(), kSector));
    auto after = ReadHostFile(path);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(std::inner_product(after.begin(), after.end(), before.begin(), 0, std::plus<>(), std::not_equal_to<>()), 1);
    const std::vector<uint8_t> back = UnwrapContainer(path, "IMD").bytes;
    EXPECT_EQ(std::vector<uint8_t>(back.end() - kSector, back.end()), same);
}

}  // namespace
