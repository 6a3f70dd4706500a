// HFE (HxC floppy emulators), revision 1: a 512-byte header ("HXCPICFE",
// revision at 8, tracks at 9, sides at 10, track encoding at 11, bit rate
// in kbit/s (u16) at 12, rpm (u16) at 14, interface mode at 16, the track
// list's place in 512-byte blocks (u16) at 18, writes allowed at 20
// (0xFF)). The track list holds per track its place in blocks (u16) and
// its length in bytes (u16, both sides). A track's bytes come in 512-byte
// blocks, the first 256 bytes of each for side 0 and the next 256 for side
// 1; each byte holds eight MFM cells, the first in time in its lowest bit.
//
// A sector is found by its sync (A1 with a missing clock, three times),
// the ID mark FE with C, H, R, N and a CRC-16/CCITT over the sync, mark and
// ID, then the data mark FB (F8: deleted data) with the data and their CRC.
// A sector whose ID fails its CRC is not taken; one whose data fail theirs
// is read as an error.

#include <algorithm>
#include <cstring>

#include "device/byteorder.h"
#include "device/floppycontainers.h"
#include "device/messages.h"

namespace {

constexpr uint16_t kSync = 0x4489;  // A1 with the clock between its bits 2 and 3 missing

uint16_t Crc(const uint8_t* p, std::size_t n, uint16_t crc = 0xFFFF) {
    for (std::size_t k = 0; k < n; ++k) {
        crc ^= uint16_t(p[k] << 8);
        for (int b = 0; b < 8; ++b) crc = uint16_t(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}
const uint8_t kSyncBytes[3] = {0xA1, 0xA1, 0xA1};

// The file offset of byte `j` of side `side` of a track at block `block`.
uint64_t SideByte(uint32_t block, uint32_t side, uint64_t j) {
    return uint64_t(block) * 512 + j / 256 * 512 + side * 256 + j % 256;
}

// One side of a track as cells, read out of (and written back into) the file's bytes.
struct Side {
    std::vector<uint8_t>* file;
    uint32_t block, side;
    uint64_t bytes;  // cells / 8
    bool Cell(uint64_t k) const { return (*file)[SideByte(block, side, k / 8)] >> (k % 8) & 1; }
    void SetCell(uint64_t k, bool v) {
        uint8_t& b = (*file)[SideByte(block, side, k / 8)];
        b = uint8_t(v ? b | 1 << (k % 8) : b & ~(1 << (k % 8)));
    }
    uint64_t Cells() const { return bytes * 8; }
    uint8_t Byte(uint64_t at) const {  // the data bits of the 16 cells from `at`
        uint8_t v = 0;
        for (int b = 0; b < 8; ++b) v = uint8_t(v << 1 | Cell(at + 2 * b + 1));
        return v;
    }
};

// Cells for `bytes` after a data bit `previous`, appended to `out`.
void Encode(std::vector<bool>& out, const uint8_t* bytes, std::size_t n, bool& previous) {
    for (std::size_t k = 0; k < n; ++k)
        for (int b = 7; b >= 0; --b) {
            bool d = bytes[k] >> b & 1;
            out.push_back(!previous && !d);
            out.push_back(d);
            previous = d;
        }
}
void EncodeSync(std::vector<bool>& out, bool& previous) {
    for (int k = 0; k < 3; ++k)
        for (int b = 15; b >= 0; --b) out.push_back(kSync >> b & 1);
    previous = true;
}

class HFEDevice : public DeviceIO_FloppyImage {
public:
    HFEDevice(DeviceIOIF* file, StoredDisk disk, std::vector<uint8_t> bytes, std::vector<Side> sides)
        : DeviceIO_FloppyImage(file, kHFEKind, std::move(disk)), bytes_(std::move(bytes)), sides_(std::move(sides)) {
        for (Side& s : sides_) s.file = &bytes_;
    }

protected:
    bool StoreEncoded(StoredSector& sector, const uint8_t* data) override {
        Side& side = sides_[sector.tag >> 40];
        const uint64_t at = sector.tag & ((uint64_t(1) << 40) - 1);
        std::vector<uint8_t> field(4 + sector.length);
        std::memcpy(field.data(), kSyncBytes, 3);
        field[3] = sector.id.deleted ? 0xF8 : 0xFB;
        std::memcpy(field.data() + 4, data, sector.length);
        const uint16_t crc = Crc(field.data(), field.size());
        field.push_back(uint8_t(crc >> 8));
        field.push_back(uint8_t(crc));
        std::vector<bool> cells;
        bool previous = !sector.id.deleted;  // the mark's last data bit
        Encode(cells, field.data() + 4, field.size() - 4, previous);
        const uint64_t end = at + cells.size();
        if (end + 2 > side.Cells()) {
            ShowSystemError(EIO);
            return false;
        }
        for (uint64_t k = 0; k < cells.size(); ++k) side.SetCell(at + k, cells[k]);
        // The clock of the bit after the CRC follows from its new neighbour.
        side.SetCell(end, !previous && !side.Cell(end + 1));
        // The bytes touched, written back piece by piece (each piece lies within a block's half).
        const uint64_t first = at / 8, last = end / 8;
        for (uint64_t j = first; j <= last;) {
            uint64_t runEnd = std::min(last + 1, (j / 256 + 1) * 256);
            const uint64_t off = SideByte(side.block, side.side, j);
            if (!File()->Write(int64_t(off), bytes_.data() + off, uint32_t(runEnd - j))) return false;
            j = runEnd;
        }
        return true;
    }

private:
    std::vector<uint8_t> bytes_;
    std::vector<Side> sides_;
};

struct Parsed {
    StoredDisk disk;
    std::vector<uint8_t> bytes;
    std::vector<Side> sides;
};

std::optional<Parsed> Parse(DeviceIOIF* file, uint64_t size) {
    uint8_t h[512];
    if (size < 1024 || size > (64u << 20) || !file->Read(0, h, 512) || std::memcmp(h, "HXCPICFE", 8) != 0 || h[8] != 0)
        return std::nullopt;
    const uint32_t tracks = h[9], sides = h[10];
    if (tracks == 0 || sides < 1 || sides > 2 || h[11] != 0) return std::nullopt;  // ISO MFM only
    Parsed p;
    p.bytes.resize(size);
    if (!file->Read(0, p.bytes.data(), uint32_t(size))) return std::nullopt;
    const uint64_t list = uint64_t(LE16(h + 18)) * 512;
    if (list + 4 * tracks > size) return std::nullopt;
    p.disk.info.writeProtected = h[20] == 0;
    p.disk.info.heads = sides;
    p.disk.info.cylinders = tracks;
    const uint32_t rate = LE16(h + 12), rpm = LE16(h + 14);
    p.disk.info.media = rate >= 400 ? (rpm == 300 ? FloppyMedia::k2HQ : FloppyMedia::k2HD) : FloppyMedia::k2DD;
    for (uint32_t t = 0; t < tracks; ++t) {
        const uint32_t block = LE16(p.bytes.data() + list + 4 * t), length = LE16(p.bytes.data() + list + 4 * t + 2);
        const uint64_t sideBytes = length / 2;
        if (block == 0 || sideBytes == 0 || SideByte(block, sides - 1, sideBytes - 1) >= size) return std::nullopt;
        for (uint32_t s = 0; s < sides; ++s) {
            Side side{&p.bytes, block, s, sideBytes};
            const uint64_t sideIndex = p.sides.size();
            p.sides.push_back(side);
            StoredTrack track;
            track.cylinder = t;
            track.head = s;
            const uint64_t cells = side.Cells();
            uint16_t window = 0;
            bool haveId = false;
            uint8_t id[4] = {};
            for (uint64_t k = 0; k < cells; ++k) {
                window = uint16_t(window << 1 | side.Cell(k));
                if (window != kSync) continue;
                uint64_t at = k + 1;
                int syncs = 1;
                while (at + 16 <= cells) {
                    uint16_t w = 0;
                    for (int b = 0; b < 16; ++b) w = uint16_t(w << 1 | side.Cell(at + b));
                    if (w != kSync) break;
                    ++syncs;
                    at += 16;
                }
                k = at - 1;
                window = 0;
                if (syncs < 3 || at + 16 > cells) continue;
                const uint8_t mark = side.Byte(at);
                at += 16;
                if (mark == 0xFE) {
                    if (at + 6 * 16 > cells) continue;
                    uint8_t f[10] = {0xA1, 0xA1, 0xA1, 0xFE};
                    for (int b = 0; b < 6; ++b) f[4 + b] = side.Byte(at + 16 * b);
                    haveId = Crc(f, 8) == (f[8] << 8 | f[9]) && f[7] <= 7;
                    std::memcpy(id, f + 4, 4);
                    k = at + 6 * 16 - 1;
                } else if ((mark == 0xFB || mark == 0xF8) && haveId) {
                    haveId = false;
                    const uint32_t length = 128u << id[3];
                    if (at + (length + 2) * 16 > cells) continue;
                    StoredSector st;
                    st.id.c = id[0], st.id.h = id[1], st.id.r = id[2], st.id.n = id[3];
                    st.id.deleted = mark == 0xF8;
                    st.length = length;
                    st.inMemory = true;
                    st.tag = sideIndex << 40 | at;
                    std::vector<uint8_t> f(4 + length + 2);
                    std::memcpy(f.data(), kSyncBytes, 3);
                    f[3] = mark;
                    for (uint32_t b = 0; b < length + 2; ++b) f[4 + b] = side.Byte(at + 16 * uint64_t(b));
                    st.id.crcError = Crc(f.data(), 4 + length) != (f[4 + length] << 8 | f[5 + length]);
                    st.id.data.assign(f.begin() + 4, f.begin() + 4 + length);
                    track.sectors.push_back(std::move(st));
                    k = at + (length + 2) * 16 - 1;
                }
            }
            if (!track.sectors.empty()) p.disk.tracks.push_back(std::move(track));
        }
    }
    if (p.disk.tracks.empty()) return std::nullopt;
    p.disk.info.geometry = LayoutStoredDisk(p.disk).geometry;
    return p;
}

class Sink : public FloppyTrackSink {
public:
    explicit Sink(DeviceIOIF* file) : file_(file) {}
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) override {
        info_ = info;
        if (!info.name.empty()) losses.push_back({FloppyLoss::kHeaderField});
        const bool hd = info.media != FloppyMedia::k2DD && info.media != FloppyMedia::k2D;
        rate_ = hd ? 500 : 250;
        rpm_ = info.media == FloppyMedia::k2HQ || !hd ? 300 : 360;
        heads_ = std::max(1u, std::min(2u, info.heads));
        cylinders_ = std::min(255u, info.cylinders);
        // Cells a revolution holds, two a bit.
        sideBytes_ = (uint64_t(rate_) * 1000 * 60 / rpm_ * 2 + 7) / 8;
        trackBlocks_ = uint32_t((sideBytes_ + 255) / 256);
        uint8_t h[512];
        std::memset(h, 0xFF, sizeof h);
        std::memcpy(h, "HXCPICFE", 8);
        h[8] = 0;
        h[9] = uint8_t(cylinders_);
        h[10] = uint8_t(heads_);
        h[11] = 0;  // ISO MFM
        PutLE16(h + 12, uint16_t(rate_));
        PutLE16(h + 14, uint16_t(rpm_));
        h[16] = hd ? 1 : 0;
        h[17] = 1;
        PutLE16(h + 18, 1);
        h[20] = info.writeProtected ? 0x00 : 0xFF;
        std::vector<uint8_t> list(((4 * cylinders_ + 511) / 512) * 512, 0xFF);
        firstBlock_ = 1 + uint32_t(list.size() / 512);
        for (uint32_t t = 0; t < cylinders_; ++t) {
            PutLE16(list.data() + 4 * t, uint16_t(firstBlock_ + t * trackBlocks_));
            PutLE16(list.data() + 4 * t + 2, uint16_t(trackBlocks_ * 512));
        }
        if (!PutBytes(file_, 0, h, sizeof h) || !PutBytes(file_, 512, list.data(), list.size())) return false;
        tracks_.assign(std::size_t(trackBlocks_) * 512, 0);
        return true;
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        if (track.cylinder >= cylinders_ || track.head >= heads_) {
            if (!track.sectors.empty()) losses.push_back({FloppyLoss::kGeometry, track.cylinder, track.head});
            return true;
        }
        std::vector<bool> cells;
        bool previous = false;
        auto gap = [&](uint8_t b, std::size_t n) {
            std::vector<uint8_t> g(n, b);
            Encode(cells, g.data(), n, previous);
        };
        const std::size_t capacity = sideBytes_ * 8 / 16;  // decoded bytes a revolution holds
        std::size_t fixed = 80 + 12 + 50;
        for (const FloppySector& s : track.sectors) fixed += 12 + 3 + 1 + 6 + 22 + 12 + 3 + 1 + s.data.size() + 2;
        if (fixed > capacity) {
            losses.push_back({FloppyLoss::kLongTrack, track.cylinder, track.head, 0, track.sectors.size()});
            return true;
        }
        const std::size_t gap3 =
            track.sectors.empty() ? 0 : std::max<std::size_t>(1, std::min<std::size_t>(116, (capacity - fixed) / track.sectors.size()));
        gap(0x4E, 80);
        gap(0x00, 12);
        gap(0x4E, 50);
        for (const FloppySector& s : track.sectors) {
            if (!s.mfm) losses.push_back({FloppyLoss::kSingleDensity, track.cylinder, track.head, s.r});
            gap(0x00, 12);
            EncodeSync(cells, previous);
            uint8_t idf[10] = {0xA1, 0xA1, 0xA1, 0xFE, s.c, s.h, s.r, s.n};
            const uint16_t idc = Crc(idf, 8);
            idf[8] = uint8_t(idc >> 8);
            idf[9] = uint8_t(idc);
            Encode(cells, idf + 3, 7, previous);
            gap(0x4E, 22);
            gap(0x00, 12);
            EncodeSync(cells, previous);
            std::vector<uint8_t> f = {0xA1, 0xA1, 0xA1, uint8_t(s.deleted ? 0xF8 : 0xFB)};
            f.insert(f.end(), s.data.begin(), s.data.end());
            uint16_t c = Crc(f.data(), f.size());
            if (s.crcError || s.status) c = uint16_t(~c);  // kept as the disk had it: a data field that fails its CRC
            f.push_back(uint8_t(c >> 8));
            f.push_back(uint8_t(c));
            Encode(cells, f.data() + 3, f.size() - 3, previous);
            gap(0x4E, gap3);
        }
        while (cells.size() + 16 <= sideBytes_ * 8) gap(0x4E, 1);
        // The cells into this side's halves of the track's blocks.
        for (uint64_t k = 0; k < sideBytes_ * 8; ++k) {
            const uint64_t at = SideByte(0, track.head, k / 8);
            if (k % 8 == 0) tracks_[at] = 0;
            if (k < cells.size() && cells[k]) tracks_[at] |= uint8_t(1 << (k % 8));
        }
        if (track.head + 1 == heads_) {
            if (!PutBytes(file_, uint64_t(firstBlock_ + track.cylinder * trackBlocks_) * 512, tracks_.data(), tracks_.size()))
                return false;
            std::fill(tracks_.begin(), tracks_.end(), 0);
        }
        return true;
    }
    bool Finish() override { return file_->Flush(); }

private:
    DeviceIOIF* file_;
    FloppyDiskInfo info_;
    uint32_t rate_ = 500, rpm_ = 360, heads_ = 2, cylinders_ = 0, trackBlocks_ = 0, firstBlock_ = 2;
    uint64_t sideBytes_ = 0;
    std::vector<uint8_t> tracks_;
};

}  // namespace

std::optional<StoredDisk> ReadHFE(DeviceIOIF* file, uint64_t size) {
    auto p = Parse(file, size);
    if (!p) return std::nullopt;
    return std::move(p->disk);
}

DeviceIO_FloppyImage* OpenHFEDevice(DeviceIOIF* file, uint64_t size) {
    auto p = Parse(file, size);
    if (!p || LayoutStoredDisk(p->disk).geometry.SectorCount() == 0) return nullptr;
    return new HFEDevice(file, std::move(p->disk), std::move(p->bytes), std::move(p->sides));
}

std::unique_ptr<FloppyTrackSink> HFESink(DeviceIOIF* file) { return std::make_unique<Sink>(file); }
