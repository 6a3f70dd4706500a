// Virtual98 floppies (FDD): "VFD1.00" at 0, a comment (128 bytes) at 8,
// write-protect (u16) at 0x88, the special-read drive (u16, 0xFFFF none)
// at 0x8A, then from 0xDC a fixed map of 160 tracks of 26 sector entries
// of 12 bytes: C (0xFF: no sector), H, R, N, a fill byte (0xFF: the data
// are in the file; any other value fills the sector, which then takes no
// room), deleted mark, MFM, 2HD, and the data's offset in the file (u32).
// The data may lie in any order after the map.

#include <algorithm>
#include <cstring>

#include "device/byteorder.h"
#include "device/floppycontainers.h"

namespace {

constexpr uint32_t kMapAt = 0xDC;
constexpr uint32_t kTracks = 160, kSlots = 26, kEntry = 12;
constexpr uint32_t kMapEnd = kMapAt + kTracks * kSlots * kEntry;
constexpr uint32_t kDataAt = 0xC3FC;  // where writers put the first sector's data

class Sink : public FloppyTrackSink {
public:
    explicit Sink(DeviceIOIF* file) : file_(file), head_(kDataAt, 0) {}
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) override {
        std::memcpy(head_.data(), "VFD1.00", 7);
        std::memcpy(head_.data() + 8, info.name.data(), std::min<std::size_t>(info.name.size(), 128));
        if (info.name.size() > 128) losses.push_back({FloppyLoss::kHeaderField});
        PutLE16(head_.data() + 0x88, info.writeProtected ? 1 : 0);
        PutLE16(head_.data() + 0x8A, 0xFFFF);
        std::memset(head_.data() + kMapAt, 0xFF, kMapEnd - kMapAt);
        hd_ = info.media != FloppyMedia::k2DD && info.media != FloppyMedia::k2D;
        heads_ = std::max(1u, info.heads);
        return true;
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        const uint32_t t = track.cylinder * 2 + track.head;
        if (track.sectors.empty()) return true;
        if (t >= kTracks || track.sectors.size() > kSlots) {
            losses.push_back({FloppyLoss::kLongTrack, track.cylinder, track.head, 0, track.sectors.size()});
            if (t >= kTracks) return true;
        }
        for (uint32_t k = 0; k < track.sectors.size() && k < kSlots; ++k) {
            const FloppySector& s = track.sectors[k];
            if (s.crcError || s.status) losses.push_back({FloppyLoss::kCrcError, track.cylinder, track.head, s.r});
            uint8_t* e = head_.data() + kMapAt + (t * kSlots + k) * kEntry;
            e[0] = s.c, e[1] = s.h, e[2] = s.r, e[3] = s.n & 7;
            e[4] = 0xFF;  // the data in the file, so that the sector can be rewritten in place
            e[5] = s.deleted ? 1 : 0;
            e[6] = s.mfm ? 1 : 0;
            e[7] = hd_ ? 1 : 0;
            PutLE32(e + 8, uint32_t(at_));
            std::vector<uint8_t> data = s.data;
            data.resize(128u << (s.n & 7), 0);
            if (!PutBytes(file_, at_, data.data(), data.size())) return false;
            at_ += data.size();
        }
        return true;
    }
    bool Finish() override { return PutBytes(file_, 0, head_.data(), head_.size()) && file_->Flush(); }

private:
    DeviceIOIF* file_;
    std::vector<uint8_t> head_;
    bool hd_ = true;
    uint32_t heads_ = 2;
    uint64_t at_ = kDataAt;
};

}  // namespace

std::optional<StoredDisk> ReadFDD(DeviceIOIF* file, uint64_t size) {
    if (size < kMapEnd) return std::nullopt;
    std::vector<uint8_t> head(kMapEnd);
    if (!file->Read(0, head.data(), kMapEnd) || std::memcmp(head.data(), "VFD1.00", 7) != 0) return std::nullopt;
    StoredDisk disk;
    disk.info.name.assign(reinterpret_cast<const char*>(head.data() + 8), strnlen(reinterpret_cast<const char*>(head.data() + 8), 128));
    disk.info.writeProtected = LE16(head.data() + 0x88) != 0;
    for (uint32_t t = 0; t < kTracks; ++t) {
        StoredTrack track;
        track.cylinder = t / 2;
        track.head = t % 2;
        for (uint32_t k = 0; k < kSlots; ++k) {
            const uint8_t* e = head.data() + kMapAt + (t * kSlots + k) * kEntry;
            if (e[0] == 0xFF) continue;
            if (e[3] > 7) return std::nullopt;
            StoredSector s;
            s.id.c = e[0], s.id.h = e[1], s.id.r = e[2], s.id.n = e[3];
            s.id.deleted = e[5] != 0;
            s.id.mfm = e[6] != 0;
            s.length = 128u << e[3];
            if (e[4] != 0xFF) {
                s.fill = e[4];
                s.fillAt = int64_t(kMapAt + (t * kSlots + k) * kEntry + 4);
                s.reservedFill = 0xFF;
            } else {
                const uint32_t at = LE32(e + 8);
                if (at < kMapEnd || at > size || size - at < s.length) return std::nullopt;
                s.at = at;
            }
            track.sectors.push_back(std::move(s));
        }
        if (track.sectors.empty()) continue;
        disk.info.cylinders = std::max(disk.info.cylinders, track.cylinder + 1);
        disk.info.heads = std::max(disk.info.heads, track.head + 1);
        disk.tracks.push_back(std::move(track));
    }
    if (disk.tracks.empty()) return std::nullopt;
    disk.info.geometry = LayoutStoredDisk(disk).geometry;
    disk.info.media = MediaOf(disk.info.geometry);
    return disk;
}

std::unique_ptr<FloppyTrackSink> FDDSink(DeviceIOIF* file) { return std::make_unique<Sink>(file); }
