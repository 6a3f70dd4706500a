// NFD r1: "T98FDDIMAGE.R1" at 0, a comment at 0x10, the header size at
// 0x110, write-protect at 0x114, heads at 0x115, 164 absolute offsets of
// track tables at 0x120 (0: no track). A track table is 16 bytes (sector
// count, special-read count) and then 16 bytes per sector (C, H, R, N,
// MFM, deleted mark, status, ST0..ST2, retries at 10, disk type at 11) and
// per special read (command, C, H, R, N, status, ST0..ST2, retries, data
// length at 10, disk type at 14). The data follow the header, track after
// track, each sector's data once, or 1 + retries times when it has
// retries, then each special read's.

#include <algorithm>
#include <cstring>

#include "device/byteorder.h"
#include "device/floppycontainers.h"

namespace {

constexpr uint32_t kTableAt = 0x120;
constexpr uint32_t kTracks = 164;
constexpr uint32_t kFixedHeader = 0x3C0;
constexpr uint32_t kMaxHeader = 8u << 20;
constexpr char kSignature[] = "T98FDDIMAGE.R1";

uint8_t TypeOf(FloppyMedia m) {
    return m == FloppyMedia::k2HQ ? 0x30 : m == FloppyMedia::k2DD || m == FloppyMedia::k2D ? 0x10 : 0x90;
}

FloppyMedia MediaOfType(uint8_t t) {
    return t == 0x30 ? FloppyMedia::k2HQ : t == 0x10 ? FloppyMedia::k2DD : t == 0x90 ? FloppyMedia::k2HD
                                                                                       : FloppyMedia::kUnknown;
}

class Sink : public FloppyTrackSink {
public:
    explicit Sink(DeviceIOIF* file) : file_(file) {}
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) override {
        info_ = info;
        if (info.name.size() > 0xFF) losses.push_back({FloppyLoss::kHeaderField});
        return true;
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        const uint32_t heads = std::max(1u, std::min(2u, info_.heads));
        const uint32_t t = track.cylinder * heads + track.head;
        if (track.sectors.empty()) return true;
        if (t >= kTracks || track.head >= heads) {
            losses.push_back({FloppyLoss::kGeometry, track.cylinder, track.head});
            return true;
        }
        for (const FloppySector& s : track.sectors) {
            if (s.data.size() != (128u << (s.n & 7)))
                losses.push_back({FloppyLoss::kDataLength, track.cylinder, track.head, s.r, s.data.size(),
                                  128u << (s.n & 7)});
        }
        tracks_.push_back({t, track});
        return true;
    }
    bool Finish() override {
        const uint32_t heads = std::max(1u, std::min(2u, info_.heads));
        uint32_t headerSize = kFixedHeader;
        for (const auto& [t, track] : tracks_) headerSize += 16 + 16 * uint32_t(track.sectors.size());
        std::vector<uint8_t> head(headerSize, 0);
        std::memcpy(head.data(), kSignature, sizeof kSignature);
        std::memcpy(head.data() + 0x10, info_.name.data(), std::min<std::size_t>(info_.name.size(), 0xFF));
        PutLE32(head.data() + 0x110, headerSize);
        head[0x114] = info_.writeProtected ? 1 : 0;
        head[0x115] = uint8_t(heads);
        const uint8_t type = TypeOf(info_.media);
        uint32_t at = kFixedHeader;
        uint64_t data = headerSize;
        for (const auto& [t, track] : tracks_) {
            PutLE32(head.data() + kTableAt + 4 * t, at);
            PutLE16(head.data() + at, uint16_t(track.sectors.size()));
            at += 16;
            for (const FloppySector& s : track.sectors) {
                uint8_t* e = head.data() + at;
                e[0] = s.c, e[1] = s.h, e[2] = s.r, e[3] = s.n & 7;
                e[4] = s.mfm ? 1 : 0;
                e[5] = s.deleted ? 1 : 0;
                ResultOfStatus(s.status ? s.status : s.crcError ? 0xB0 : 0, e + 6);
                e[11] = type;
                at += 16;
                std::vector<uint8_t> bytes = s.data;
                bytes.resize(128u << (s.n & 7), 0);
                if (!PutBytes(file_, data, bytes.data(), bytes.size())) return false;
                data += bytes.size();
            }
        }
        return PutBytes(file_, 0, head.data(), head.size()) && file_->Flush();
    }

private:
    DeviceIOIF* file_;
    FloppyDiskInfo info_;
    std::vector<std::pair<uint32_t, FloppyTrack>> tracks_;
};

}  // namespace

std::optional<StoredDisk> ReadNFD1(DeviceIOIF* file, uint64_t size) {
    if (size < kFixedHeader) return std::nullopt;
    std::vector<uint8_t> head(kFixedHeader);
    if (!file->Read(0, head.data(), kFixedHeader) || std::memcmp(head.data(), kSignature, 14) != 0) return std::nullopt;
    const uint32_t headerSize = LE32(head.data() + 0x110);
    const uint32_t heads = head[0x115];
    if (headerSize < kFixedHeader || headerSize > size || headerSize > kMaxHeader || heads < 1 || heads > 2)
        return std::nullopt;
    head.resize(headerSize);
    if (!file->Read(kFixedHeader, head.data() + kFixedHeader, headerSize - kFixedHeader)) return std::nullopt;
    StoredDisk disk;
    disk.info.name.assign(reinterpret_cast<const char*>(head.data() + 0x10), strnlen(reinterpret_cast<const char*>(head.data() + 0x10), 0x100));
    disk.info.writeProtected = head[0x114] != 0;
    disk.info.heads = heads;
    uint64_t data = headerSize;
    for (uint32_t t = 0; t < kTracks; ++t) {
        const uint32_t at = LE32(head.data() + kTableAt + 4 * t);
        if (at == 0) continue;
        if (at < kFixedHeader || uint64_t(at) + 16 > headerSize) return std::nullopt;
        const uint32_t sectors = LE16(head.data() + at), specials = LE16(head.data() + at + 2);
        if (uint64_t(at) + 16 + 16 * uint64_t(sectors + specials) > headerSize) return std::nullopt;
        StoredTrack track;
        track.cylinder = t / heads;
        track.head = t % heads;
        for (uint32_t k = 0; k < sectors; ++k) {
            const uint8_t* e = head.data() + at + 16 + 16 * k;
            if (e[3] > 7) return std::nullopt;
            StoredSector s;
            s.id.c = e[0], s.id.h = e[1], s.id.r = e[2], s.id.n = e[3];
            s.id.mfm = e[4] != 0;
            s.id.deleted = e[5] != 0;
            // Kept as the read's result: the sector still reads, as in a D88 or NFD r0.
            s.id.status = StatusOfResult(e + 6);
            s.length = 128u << e[3];
            s.copies = e[10] ? e[10] + 1u : 1u;
            s.at = int64_t(data);
            data += uint64_t(s.length) * s.copies;
            if (disk.info.media == FloppyMedia::kUnknown) disk.info.media = MediaOfType(e[11]);
            track.sectors.push_back(std::move(s));
        }
        for (uint32_t k = 0; k < specials; ++k) {
            const uint8_t* e = head.data() + at + 16 + 16 * (sectors + k);
            data += uint64_t(LE32(e + 10)) * (e[9] ? e[9] + 1u : 1u);
        }
        if (data > size) return std::nullopt;
        disk.info.cylinders = std::max(disk.info.cylinders, track.cylinder + 1);
        disk.tracks.push_back(std::move(track));
    }
    if (disk.tracks.empty()) return std::nullopt;
    disk.info.geometry = LayoutStoredDisk(disk).geometry;
    return disk;
}

std::unique_ptr<FloppyTrackSink> NFD1Sink(DeviceIOIF* file) { return std::make_unique<Sink>(file); }
