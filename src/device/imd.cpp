// ImageDisk (IMD): an ASCII header ("IMD v.vv: date time", then a
// comment) ended by 0x1A, then the tracks. A track: mode (0-2 FM, 3-5
// MFM), cylinder, head (bit 7: a cylinder map follows, bit 6: a head map
// follows), sector count, size code (0xFF: a table of 16-bit sizes follows
// the maps), the sector-number map, the optional maps, then one record per
// sector: a type byte (0 no data; 1 data; 2 one byte filling the sector;
// 3, 4 the same with a deleted-data mark; 5, 6 with a data error; 7, 8
// both) and the data or the fill byte.

#include <algorithm>
#include <cstring>
#include <ctime>

#include "device/byteorder.h"
#include "device/floppycontainers.h"

namespace {

constexpr uint32_t kMaxComment = 1u << 20;

bool Get(DeviceIOIF* file, uint64_t size, uint64_t& pos, void* out, uint32_t n) {
    if (pos > size || size - pos < n || !file->Read(int64_t(pos), out, n)) return false;
    pos += n;
    return true;
}

class Sink : public FloppyTrackSink {
public:
    explicit Sink(DeviceIOIF* file) : file_(file) {}
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) override {
        info_ = info;
        if (info.writeProtected) losses.push_back({FloppyLoss::kHeaderField});
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char line[64];
        std::snprintf(line, sizeof line, "IMD 1.18: %02d/%02d/%04d %02d:%02d:%02d\r\n", tm.tm_mday, tm.tm_mon + 1,
                      tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
        std::string head = line;
        for (char ch : info.name)
            if (ch != 0x1A) head += ch;
        head += '\x1A';
        at_ = head.size();
        return PutBytes(file_, 0, head.data(), head.size());
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        const auto& ss = track.sectors;
        if (ss.empty()) return true;
        if (ss.size() > 255) {
            losses.push_back({FloppyLoss::kLongTrack, track.cylinder, track.head, 0, ss.size()});
            return true;
        }
        const bool fast = info_.media != FloppyMedia::k2DD && info_.media != FloppyMedia::k2D;
        bool cmap = false, hmap = false, mixed = false;
        for (const FloppySector& s : ss) {
            cmap = cmap || s.c != track.cylinder;
            hmap = hmap || s.h != track.head;
            mixed = mixed || s.n != ss[0].n || s.data.size() != (128u << (ss[0].n & 7));
        }
        std::vector<uint8_t> out = {uint8_t(ss[0].mfm ? (fast ? 3 : 5) : (fast ? 0 : 2)), uint8_t(track.cylinder),
                                    uint8_t(track.head | (cmap ? 0x80 : 0) | (hmap ? 0x40 : 0)), uint8_t(ss.size()),
                                    uint8_t(mixed ? 0xFF : ss[0].n & 7)};
        for (const FloppySector& s : ss) out.push_back(s.r);
        if (cmap)
            for (const FloppySector& s : ss) out.push_back(s.c);
        if (hmap)
            for (const FloppySector& s : ss) out.push_back(s.h);
        if (mixed)
            for (const FloppySector& s : ss) {
                out.push_back(uint8_t(s.data.size()));
                out.push_back(uint8_t(s.data.size() >> 8));
            }
        for (const FloppySector& s : ss) {
            if (s.mfm != ss[0].mfm) losses.push_back({FloppyLoss::kSingleDensity, track.cylinder, track.head, s.r});
            // Data are kept whole, never as a fill byte, so that any sector can be rewritten in place.
            out.push_back(uint8_t(1 + (s.deleted ? 2 : 0) + (s.crcError || s.status ? 4 : 0)));
            std::vector<uint8_t> data = s.data;
            if (!mixed) data.resize(128u << (ss[0].n & 7), 0);
            out.insert(out.end(), data.begin(), data.end());
        }
        if (!PutBytes(file_, at_, out.data(), out.size())) return false;
        at_ += out.size();
        return true;
    }
    bool Finish() override { return file_->Flush(); }

private:
    DeviceIOIF* file_;
    FloppyDiskInfo info_;
    uint64_t at_ = 0;
};

}  // namespace

std::optional<StoredDisk> ReadIMD(DeviceIOIF* file, uint64_t size) {
    char sig[4];
    if (size < 5 || !file->Read(0, sig, 4) || std::memcmp(sig, "IMD ", 4) != 0) return std::nullopt;
    // The header runs to the first 0x1A.
    std::string text;
    uint64_t pos = 0;
    for (;;) {
        char chunk[512];
        uint32_t n = uint32_t(std::min<uint64_t>(sizeof chunk, size - pos));
        if (n == 0 || pos > kMaxComment || !file->Read(int64_t(pos), chunk, n)) return std::nullopt;
        const char* end = static_cast<const char*>(std::memchr(chunk, 0x1A, n));
        text.append(chunk, end ? std::size_t(end - chunk) : n);
        pos += n;
        if (end) break;
    }
    pos = text.size() + 1;
    StoredDisk disk;
    std::size_t eol = text.find('\n');
    disk.info.name = eol == std::string::npos ? "" : text.substr(eol + 1);
    while (pos < size) {
        uint8_t h[5];
        if (!Get(file, size, pos, h, 5) || h[0] > 5 || (h[2] & 0x3F) > 1 || (h[4] > 7 && h[4] != 0xFF))
            return std::nullopt;
        const uint32_t count = h[3];
        std::vector<uint8_t> numbers(count), cyls(count, h[1]), heads(count, h[2] & 1), sizes(2 * count);
        if (!Get(file, size, pos, numbers.data(), count)) return std::nullopt;
        if ((h[2] & 0x80) && !Get(file, size, pos, cyls.data(), count)) return std::nullopt;
        if ((h[2] & 0x40) && !Get(file, size, pos, heads.data(), count)) return std::nullopt;
        if (h[4] == 0xFF && !Get(file, size, pos, sizes.data(), 2 * count)) return std::nullopt;
        StoredTrack track;
        track.cylinder = h[1];
        track.head = h[2] & 1;
        for (uint32_t k = 0; k < count; ++k) {
            uint8_t type;
            if (!Get(file, size, pos, &type, 1) || type > 8) return std::nullopt;
            const uint32_t length = h[4] == 0xFF ? LE16(sizes.data() + 2 * k) : 128u << h[4];
            if (type == 0) continue;  // the sector's data could not be read
            StoredSector s;
            s.id.c = cyls[k], s.id.h = heads[k], s.id.r = numbers[k];
            const int code = SizeCode(length);
            s.id.n = uint8_t(code < 0 ? 0 : code);
            s.id.mfm = h[0] >= 3;
            s.id.deleted = type == 3 || type == 4 || type == 7 || type == 8;
            s.id.crcError = type >= 5;
            s.length = length;
            if (type % 2 == 1) {
                s.at = int64_t(pos);
                if (size - pos < length) return std::nullopt;
                pos += length;
            } else {
                uint8_t fill;
                s.fillAt = int64_t(pos);
                if (!Get(file, size, pos, &fill, 1)) return std::nullopt;
                s.fill = fill;
            }
            track.sectors.push_back(std::move(s));
        }
        disk.info.cylinders = std::max(disk.info.cylinders, track.cylinder + 1);
        disk.info.heads = std::max(disk.info.heads, track.head + 1);
        disk.tracks.push_back(std::move(track));
    }
    if (disk.tracks.empty()) return std::nullopt;
    disk.info.geometry = LayoutStoredDisk(disk).geometry;
    disk.info.media = MediaOf(disk.info.geometry);
    return disk;
}

std::unique_ptr<FloppyTrackSink> IMDSink(DeviceIOIF* file) { return std::make_unique<Sink>(file); }
