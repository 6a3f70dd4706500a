#include "device/convert_floppy.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "device/byteorder.h"

namespace {

uint8_t SizeCode(uint32_t bytes) {
    uint8_t n = 0;
    while (n < 7 && (128u << n) < bytes) ++n;
    return n;
}

// Writes `length` bytes at `at` through a device that takes at most 4 GiB a call.
bool WriteAt(DeviceIOIF* file, uint64_t at, const void* data, std::size_t length) {
    return length == 0 || file->Write(int64_t(at), data, uint32_t(length));
}

FloppyMedia MediaOfLayout(const ContainerGeometry& g) {
    if (g.sectorSize == 1024 && g.sectors == 8) return FloppyMedia::k2HD;
    if (g.sectorSize == 1024 && g.sectors == 9) return FloppyMedia::k2HS;
    if (g.sectorSize == 512 && g.sectors == 18) return FloppyMedia::k2HQ;
    if (g.sectorSize == 512 && g.sectors == 15) return FloppyMedia::k2HC;
    if (g.cylinders > 0 && g.cylinders <= 42) return FloppyMedia::k2D;
    if (g.cylinders > 0) return FloppyMedia::k2DD;
    return FloppyMedia::kUnknown;
}

// The dominant layout of a disk from the sizes and sector numbers of its
// tracks: the size most sectors have, the count of that size most tracks
// hold; the cylinders those tracks reach.
struct LayoutCounter {
    std::map<uint32_t, uint64_t> sizes;
    std::map<uint32_t, uint64_t> counts;  // by sectors of the main size per track, filled in Finish
    std::vector<std::vector<uint32_t>> trackSizes;  // per track: every sector's size
    std::vector<std::pair<uint32_t, uint32_t>> places;  // per track: cylinder, head
    void Track(uint32_t c, uint32_t h, std::vector<uint32_t> sectorSizes) {
        for (uint32_t s : sectorSizes) ++sizes[s];
        trackSizes.push_back(std::move(sectorSizes));
        places.emplace_back(c, h);
    }
    ContainerGeometry Finish(uint32_t heads) {
        ContainerGeometry g;
        if (sizes.empty()) return g;
        uint32_t size = 0;
        uint64_t best = 0;
        for (auto [s, n] : sizes)
            if (n > best) best = n, size = s;
        for (const auto& t : trackSizes) {
            uint32_t k = uint32_t(std::count(t.begin(), t.end(), size));
            if (k) ++counts[k];
        }
        best = 0;
        for (auto [k, n] : counts)
            if (n > best) best = n, g.sectors = k;
        g.sectorSize = size;
        g.heads = heads;
        for (std::size_t t = 0; t < places.size(); ++t)
            if (!trackSizes[t].empty()) g.cylinders = std::max(g.cylinders, places[t].first + 1);
        return g;
    }
};

// A plain dump of a regular layout at `base` of the file (plain, FDI).
class RegularSource : public FloppyTrackSource {
public:
    RegularSource(DeviceIOIF* file, uint64_t base, FloppyDiskInfo info) : file_(file), base_(base), info_(std::move(info)) {}
    const FloppyDiskInfo& Info() const override { return info_; }
    bool ReadTrack(uint32_t c, uint32_t h, FloppyTrack& out) override {
        const ContainerGeometry& g = info_.geometry;
        out.cylinder = c;
        out.head = h;
        out.sectors.clear();
        if (c >= g.cylinders || h >= g.heads) return true;
        const uint64_t trackBytes = uint64_t(g.sectors) * g.sectorSize;
        std::vector<uint8_t> bytes(trackBytes);
        if (!file_->Read(int64_t(base_ + (uint64_t(c) * g.heads + h) * trackBytes), bytes.data(), uint32_t(trackBytes)))
            return false;
        for (uint32_t s = 0; s < g.sectors; ++s) {
            FloppySector sec;
            sec.c = uint8_t(c);
            sec.h = uint8_t(h);
            sec.r = uint8_t(s + 1);
            sec.n = SizeCode(g.sectorSize);
            sec.data.assign(bytes.begin() + std::ptrdiff_t(s * g.sectorSize),
                            bytes.begin() + std::ptrdiff_t((s + 1) * g.sectorSize));
            out.sectors.push_back(std::move(sec));
        }
        return true;
    }

private:
    DeviceIOIF* file_;
    uint64_t base_;
    FloppyDiskInfo info_;
};

// Writes the disk as a plain dump of its layout at `base`, after a header
// the subclass makes once the disk is known.
class RegularSink : public FloppyTrackSink {
public:
    explicit RegularSink(DeviceIOIF* file) : file_(file) {}
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) override {
        g_ = info.geometry;
        if (g_.SectorCount() == 0 || !Describes(info, losses)) {
            losses.push_back({FloppyLoss::kGeometry, g_.cylinders, g_.heads, g_.sectors, g_.sectorSize, 0});
            g_ = {};
            return true;
        }
        return WriteHeader(info);
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        if (g_.SectorCount() == 0) return true;
        if (track.cylinder >= g_.cylinders || track.head >= g_.heads) {
            if (!track.sectors.empty())
                losses.push_back({FloppyLoss::kTooManyTracks, track.cylinder, track.head, 0, track.sectors.size(), 0});
            return true;
        }
        std::vector<const FloppySector*> byPlace;
        if (track.sectors.empty() && Absent(track, losses)) return true;
        RegularTrackLosses(track, g_, losses, byPlace);
        std::vector<uint8_t> bytes(uint64_t(g_.sectors) * g_.sectorSize, 0);
        for (uint32_t s = 0; s < g_.sectors; ++s)
            if (byPlace[s])
                std::memcpy(bytes.data() + uint64_t(s) * g_.sectorSize, byPlace[s]->data.data(),
                            std::min<std::size_t>(g_.sectorSize, byPlace[s]->data.size()));
        return Put(track, bytes);
    }
    bool Finish() override { return FinishHeader(); }

protected:
    // Whether the container can describe `info`'s layout; may add the reason.
    virtual bool Describes(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) = 0;
    virtual bool WriteHeader(const FloppyDiskInfo&) { return true; }
    virtual bool FinishHeader() { return true; }
    // A track the source lacks: true when the container keeps its absence.
    virtual bool Absent(const FloppyTrack& track, std::vector<FloppyLoss>& losses) {
        losses.push_back({FloppyLoss::kMissingTrack, track.cylinder, track.head, 0, 0, 0});
        return false;
    }
    virtual bool Put(const FloppyTrack& track, const std::vector<uint8_t>& bytes) {
        return WriteAt(file_, base_ + (uint64_t(track.cylinder) * g_.heads + track.head) * bytes.size(), bytes.data(),
                       bytes.size());
    }

    DeviceIOIF* file_;
    uint64_t base_ = 0;
    ContainerGeometry g_;
};

const ContainerGeometry kPlainSizes[] = {
    {77, 2, 8, 1024}, {80, 2, 18, 512}, {80, 2, 15, 512}, {80, 2, 9, 512},
    {80, 2, 8, 512},  {40, 2, 8, 512},  {40, 2, 9, 512},
};

class PlainSink : public RegularSink {
public:
    using RegularSink::RegularSink;

protected:
    bool Describes(const FloppyDiskInfo& info, std::vector<FloppyLoss>&) override {
        const ContainerGeometry& g = info.geometry;
        const ContainerGeometry* known = PlainFloppyGeometry(g.Bytes());
        return known && known->sectors == g.sectors && known->sectorSize == g.sectorSize && known->heads == g.heads;
    }
};

// The Anex86 floppy header: 32 bytes of a 4096-byte header.
constexpr uint32_t kFDIHeader = 4096;

uint32_t FDIType(const ContainerGeometry& g) {
    if (g.sectorSize == 1024 || g.sectors == 15) return 0x90;
    if (g.sectors == 18) return 0x30;
    return 0x10;
}

class FDISink : public RegularSink {
public:
    explicit FDISink(DeviceIOIF* file) : RegularSink(file) { base_ = kFDIHeader; }

protected:
    bool Describes(const FloppyDiskInfo& info, std::vector<FloppyLoss>&) override {
        const ContainerGeometry& g = info.geometry;
        return g.sectorSize >= 128 && g.sectorSize <= 4096 && g.sectors <= 255 && g.heads <= 255 && g.Bytes() < (1ull << 32);
    }
    bool WriteHeader(const FloppyDiskInfo&) override {
        std::vector<uint8_t> h(kFDIHeader, 0);
        PutLE32(h.data() + 4, FDIType(g_));
        PutLE32(h.data() + 8, kFDIHeader);
        PutLE32(h.data() + 12, uint32_t(g_.Bytes()));
        PutLE32(h.data() + 16, g_.sectorSize);
        PutLE32(h.data() + 20, g_.sectors);
        PutLE32(h.data() + 24, g_.heads);
        PutLE32(h.data() + 28, g_.cylinders);
        return WriteAt(file_, 0, h.data(), h.size());
    }
};

// DIM: the disk types and their layouts.
struct DimType {
    uint8_t code;
    uint32_t sectorSize, sectors, cylinders;
};
constexpr DimType kDimTypes[] = {{0, 1024, 8, 77}, {1, 1024, 9, 80}, {2, 512, 15, 80}, {3, 1024, 9, 80}, {9, 512, 18, 80}};
constexpr uint32_t kDimHeader = 256, kDimTracks = 170;
const char kDimId[] = "DIFC HEADER  ";  // 13 bytes

class DIMSink : public RegularSink {
public:
    explicit DIMSink(DeviceIOIF* file) : RegularSink(file), header_(kDimHeader, 0) { base_ = kDimHeader; }

protected:
    bool Describes(const FloppyDiskInfo& info, std::vector<FloppyLoss>&) override {
        const ContainerGeometry& g = info.geometry;
        if (g.heads != 2 || g.cylinders > kDimTracks / 2) return false;
        for (const DimType& t : kDimTypes)
            if (t.sectorSize == g.sectorSize && t.sectors == g.sectors) {
                header_[0] = t.code;
                return true;
            }
        return false;
    }
    bool WriteHeader(const FloppyDiskInfo& info) override {
        std::memcpy(header_.data() + 0xAB, kDimId, 13);
        std::memcpy(header_.data() + 0xC2, info.name.data(), std::min<std::size_t>(info.name.size(), 0xFF - 0xC2 - 1));
        return true;
    }
    bool Absent(const FloppyTrack&, std::vector<FloppyLoss>&) override { return true; }
    bool Put(const FloppyTrack& track, const std::vector<uint8_t>& bytes) override {
        header_[1 + track.cylinder * 2 + track.head] = 1;
        bool ok = WriteAt(file_, base_ + written_, bytes.data(), bytes.size());
        written_ += bytes.size();
        return ok;
    }
    bool FinishHeader() override { return g_.SectorCount() == 0 || WriteAt(file_, 0, header_.data(), header_.size()); }

private:
    std::vector<uint8_t> header_;
    uint64_t written_ = 0;
};

class DIMSource : public FloppyTrackSource {
public:
    DIMSource(DeviceIOIF* file, const uint8_t* head, const DimType& type) : file_(file) {
        std::memcpy(present_, head + 1, kDimTracks);
        ContainerGeometry& g = info_.geometry;
        g = {type.cylinders, 2, type.sectors, type.sectorSize};
        uint64_t at = kDimHeader;
        for (uint32_t t = 0; t < kDimTracks; ++t) {
            offsets_[t] = at;
            if (present_[t]) {
                at += uint64_t(g.sectors) * g.sectorSize;
                g.cylinders = std::max(g.cylinders, t / 2 + 1);
            }
        }
        info_.cylinders = g.cylinders;
        info_.heads = 2;
        info_.media = type.code == 0 ? FloppyMedia::k2HD : type.code == 2 ? FloppyMedia::k2HC
                    : type.code == 9 ? FloppyMedia::k2HQ : FloppyMedia::k2HS;
        const char* comment = reinterpret_cast<const char*>(head + 0xC2);
        info_.name.assign(comment, strnlen(comment, 0xFF - 0xC2));
    }
    const FloppyDiskInfo& Info() const override { return info_; }
    bool ReadTrack(uint32_t c, uint32_t h, FloppyTrack& out) override {
        out.cylinder = c;
        out.head = h;
        out.sectors.clear();
        uint32_t t = c * 2 + h;
        if (h > 1 || t >= kDimTracks || !present_[t]) return true;
        RegularSource plain(file_, offsets_[t] - uint64_t(t) * info_.geometry.sectors * info_.geometry.sectorSize, info_);
        return plain.ReadTrack(c, h, out);
    }

private:
    DeviceIOIF* file_;
    uint8_t present_[kDimTracks] = {};
    uint64_t offsets_[kDimTracks] = {};
    FloppyDiskInfo info_;
};

// D88.
constexpr uint32_t kD88Header = 0x2B0, kD88ShortHeader = 0x2A0, kD88Tracks = 164, kD88Record = 16;
constexpr uint32_t kD88MaxDisk = 64u << 20;

FloppyMedia D88Media(uint8_t m, const ContainerGeometry& g) {
    switch (m) {
    case 0x00: return FloppyMedia::k2D;
    case 0x10: return FloppyMedia::k2DD;
    case 0x30: return FloppyMedia::k1D;
    case 0x40: return FloppyMedia::k1DD;
    default: {
        FloppyMedia l = MediaOfLayout(g);
        return l == FloppyMedia::k2D || l == FloppyMedia::k2DD || l == FloppyMedia::kUnknown ? FloppyMedia::k2HD : l;
    }
    }
}

uint8_t D88MediaByte(const FloppyDiskInfo& info) {
    FloppyMedia m = info.media == FloppyMedia::kUnknown ? MediaOfLayout(info.geometry) : info.media;
    switch (m) {
    case FloppyMedia::k2D: return 0x00;
    case FloppyMedia::k2DD: return 0x10;
    case FloppyMedia::k1D: return 0x30;
    case FloppyMedia::k1DD: return 0x40;
    default: return 0x20;
    }
}

class D88Source : public FloppyTrackSource {
public:
    // Reads and checks the disk's header and every record header; false
    // when it is not a consistent D88 disk.
    bool Open(DeviceIOIF* file, uint64_t at, uint64_t fileSize, uint32_t& diskSize) {
        file_ = file;
        base_ = at;
        if (fileSize - at < kD88ShortHeader) return false;
        uint8_t head[kD88Header] = {};
        if (!file->Read(int64_t(at), head, uint32_t(std::min<uint64_t>(kD88Header, fileSize - at)))) return false;
        if ((head[0x1A] != 0x00 && head[0x1A] != 0x10) ||
            (head[0x1B] != 0 && head[0x1B] != 0x10 && head[0x1B] != 0x20 && head[0x1B] != 0x30 && head[0x1B] != 0x40))
            return false;
        diskSize = LE32(head + 0x1C);
        if (diskSize < kD88ShortHeader || diskSize > kD88MaxDisk || diskSize > fileSize - at) return false;
        uint32_t first = UINT32_MAX;
        for (uint32_t t = 0; t < 160; ++t)
            if (uint32_t o = LE32(head + 0x20 + 4 * t); o != 0) first = std::min(first, o);
        uint32_t slots = first == kD88ShortHeader ? 160 : kD88Tracks;
        LayoutCounter layout;
        for (uint32_t t = 0; t < slots; ++t) {
            uint32_t o = LE32(head + 0x20 + 4 * t);
            tracks_[t] = o;
            if (o == 0) continue;
            if (o < (slots == 160 ? kD88ShortHeader : kD88Header) || o > diskSize - kD88Record) return false;
            uint32_t p = o, count = 0;
            std::vector<uint32_t> sizes;
            uint32_t c = 0, h = 0;
            for (uint32_t s = 0; s == 0 || s < count; ++s) {
                uint8_t r[kD88Record];
                if (diskSize - p < kD88Record || !file->Read(int64_t(at + p), r, kD88Record)) return false;
                if (s == 0) count = LE16(r + 4);
                if (count == 0) break;
                if (count > 255 || LE16(r + 4) != count || r[3] > 7) return false;
                uint32_t dataSize = LE16(r + 14);
                if (diskSize - p - kD88Record < dataSize) return false;
                if (s == 0) c = r[0], h = r[1];
                sizes.push_back(dataSize == (128u << r[3]) ? dataSize : 0);
                p += kD88Record + dataSize;
            }
            (void)c;
            (void)h;
            if (count) layout.Track(t / 2, t % 2, std::move(sizes));
        }
        info_.name.assign(reinterpret_cast<const char*>(head), strnlen(reinterpret_cast<const char*>(head), 17));
        info_.writeProtected = head[0x1A] == 0x10;
        info_.geometry = layout.Finish(2);
        info_.geometry.sectors = info_.geometry.sectors;
        // One-sided media keep their tracks one to a cylinder.
        info_.media = D88Media(head[0x1B], info_.geometry);
        info_.heads = 2;
        uint32_t last = 0;
        for (uint32_t t = 0; t < kD88Tracks; ++t)
            if (tracks_[t]) last = t + 1;
        info_.cylinders = std::max(info_.geometry.cylinders, (last + 1) / 2);
        info_.geometry.cylinders = info_.geometry.SectorCount() ? info_.cylinders : 0;
        size_ = diskSize;
        return true;
    }
    const FloppyDiskInfo& Info() const override { return info_; }
    bool ReadTrack(uint32_t c, uint32_t h, FloppyTrack& out) override {
        out.cylinder = c;
        out.head = h;
        out.sectors.clear();
        uint32_t t = c * 2 + h;
        if (h > 1 || t >= kD88Tracks || tracks_[t] == 0) return true;
        uint32_t p = tracks_[t], count = 1;
        for (uint32_t s = 0; s < count; ++s) {
            uint8_t r[kD88Record];
            if (!file_->Read(int64_t(base_ + p), r, kD88Record)) return false;
            count = LE16(r + 4);
            if (count == 0) break;
            FloppySector sec;
            sec.c = r[0];
            sec.h = r[1];
            sec.r = r[2];
            sec.n = r[3];
            sec.mfm = r[6] != 0x40;
            sec.deleted = r[7] == 0x10;
            sec.status = r[8];
            sec.crcError = r[8] != 0;
            sec.data.resize(LE16(r + 14));
            if (!sec.data.empty() && !file_->Read(int64_t(base_ + p + kD88Record), sec.data.data(), uint32_t(sec.data.size())))
                return false;
            p += kD88Record + uint32_t(sec.data.size());
            out.sectors.push_back(std::move(sec));
        }
        return true;
    }
    uint32_t Size() const { return size_; }

private:
    DeviceIOIF* file_ = nullptr;
    uint64_t base_ = 0;
    uint32_t size_ = 0;
    uint32_t tracks_[kD88Tracks] = {};
    FloppyDiskInfo info_;
};

class D88Sink : public FloppyTrackSink {
public:
    explicit D88Sink(DeviceIOIF* file) : file_(file), header_(kD88Header, 0) {}
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>&) override {
        std::memcpy(header_.data(), info.name.data(), std::min<std::size_t>(info.name.size(), 16));
        header_[0x1A] = info.writeProtected ? 0x10 : 0x00;
        header_[0x1B] = D88MediaByte(info);
        return true;
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        if (track.sectors.empty()) return true;
        uint32_t t = track.cylinder * 2 + track.head;
        if (track.head > 1 || t >= kD88Tracks) {
            losses.push_back({FloppyLoss::kTooManyTracks, track.cylinder, track.head, 0, track.sectors.size(), 0});
            return true;
        }
        if (track.sectors.size() > 0xFFFF) {
            losses.push_back({FloppyLoss::kLongTrack, track.cylinder, track.head, 0, track.sectors.size(), 0xFFFF});
            return true;
        }
        PutLE32(header_.data() + 0x20 + 4 * t, uint32_t(end_));
        std::vector<uint8_t> bytes;
        for (const FloppySector& s : track.sectors) {
            std::size_t length = std::min<std::size_t>(s.data.size(), 0xFFFF);
            if (length != s.data.size())
                losses.push_back({FloppyLoss::kDataLength, track.cylinder, track.head, s.r, s.data.size(), 0xFFFF});
            uint8_t r[kD88Record] = {s.c, s.h, s.r, s.n};
            PutLE16(r + 4, uint16_t(track.sectors.size()));
            r[6] = s.mfm ? 0x00 : 0x40;
            r[7] = s.deleted ? 0x10 : 0x00;
            r[8] = s.status ? s.status : s.crcError ? 0xB0 : 0x00;
            PutLE16(r + 14, uint16_t(length));
            bytes.insert(bytes.end(), r, r + kD88Record);
            bytes.insert(bytes.end(), s.data.begin(), s.data.begin() + std::ptrdiff_t(length));
        }
        if (end_ + bytes.size() > kD88MaxDisk) {
            losses.push_back({FloppyLoss::kLongTrack, track.cylinder, track.head, 0, track.sectors.size(), 0});
            return true;
        }
        bool ok = WriteAt(file_, end_, bytes.data(), bytes.size());
        end_ += bytes.size();
        return ok;
    }
    bool Finish() override {
        PutLE32(header_.data() + 0x1C, uint32_t(end_));
        return WriteAt(file_, 0, header_.data(), header_.size());
    }

private:
    DeviceIOIF* file_;
    std::vector<uint8_t> header_;
    uint64_t end_ = kD88Header;
};

// NFD r0.
constexpr uint32_t kNfdMap = 0x120, kNfdTracks = 163, kNfdSlots = 26, kNfdSlot = 16;
constexpr uint32_t kNfdHeader = kNfdMap + kNfdTracks * kNfdSlots * kNfdSlot + 16;
const char kNfdId[] = "T98FDDIMAGE.R0";  // and its NUL: 15 bytes

uint8_t PDAOf(const FloppyDiskInfo& info) {
    const ContainerGeometry& g = info.geometry;
    if (info.media == FloppyMedia::k2HQ || (g.sectorSize == 512 && g.sectors == 18)) return 0x30;
    if (info.media == FloppyMedia::k2D || info.media == FloppyMedia::k2DD || info.media == FloppyMedia::k1D ||
        info.media == FloppyMedia::k1DD || (g.sectorSize == 512 && g.sectors < 15))
        return 0x10;
    return 0x90;
}

class NFDSource : public FloppyTrackSource {
public:
    bool Open(DeviceIOIF* file, uint64_t fileSize) {
        file_ = file;
        if (fileSize < kNfdHeader - 16) return false;
        map_.resize(kNfdHeader - 16);
        if (!file->Read(0, map_.data(), uint32_t(map_.size())) || std::memcmp(map_.data(), kNfdId, 15) != 0) return false;
        uint32_t headerSize = LE32(map_.data() + 0x110);
        if (headerSize < kNfdHeader - 16 || headerSize > fileSize) return false;
        heads_ = map_[0x115] == 1 ? 1 : 2;
        // Unused slots hold C = 0xFF. Some writers left them zero instead:
        // when the data do not fill the file the first way, slots with
        // R = 0 are taken as unused too.
        if (!Lay(headerSize, fileSize, false) && !Lay(headerSize, fileSize, true)) return false;
        const char* comment = reinterpret_cast<const char*>(map_.data() + 0x10);
        info_.name.assign(comment, strnlen(comment, 0x100));
        info_.writeProtected = map_[0x114] != 0;
        info_.cylinders = info_.geometry.cylinders;
        const uint8_t pda = pda_;
        info_.heads = heads_;
        info_.media = pda == 0x30 ? FloppyMedia::k2HQ : pda == 0x10 ? MediaOfLayout(info_.geometry) : MediaOfLayout(info_.geometry);
        if (pda == 0x90 && info_.media != FloppyMedia::k2HC) info_.media = FloppyMedia::k2HD;
        return true;
    }
    const FloppyDiskInfo& Info() const override { return info_; }
    bool ReadTrack(uint32_t c, uint32_t h, FloppyTrack& out) override {
        out.cylinder = c;
        out.head = h;
        out.sectors.clear();
        uint32_t t = c * heads_ + h;
        if (h >= heads_ || t >= kNfdTracks) return true;
        uint64_t at = starts_[t];
        for (uint32_t k = 0; k < kNfdSlots; ++k) {
            const uint8_t* e = Slot(t, k);
            if (Unused(e)) continue;
            FloppySector s;
            s.c = e[0];
            s.h = e[1];
            s.r = e[2];
            s.n = e[3];
            s.mfm = e[4] != 0;
            s.deleted = e[5] != 0;
            s.status = StatusOfResult(e + 6);
            s.crcError = s.status != 0;
            s.data.resize(128u << e[3]);
            if (!file_->Read(int64_t(at), s.data.data(), uint32_t(s.data.size()))) return false;
            at += s.data.size();
            out.sectors.push_back(std::move(s));
        }
        return true;
    }

private:
    const uint8_t* Slot(uint32_t t, uint32_t k) const { return map_.data() + kNfdMap + (t * kNfdSlots + k) * kNfdSlot; }
    bool Unused(const uint8_t* e) const { return e[0] == 0xFF || (zeroUnused_ && e[2] == 0); }
    // The tracks' data offsets and the layout, when the slots' data fill the file exactly.
    bool Lay(uint64_t headerSize, uint64_t fileSize, bool zeroUnused) {
        zeroUnused_ = zeroUnused;
        LayoutCounter layout;
        uint64_t at = headerSize;
        pda_ = 0;
        for (uint32_t t = 0; t < kNfdTracks; ++t) {
            starts_[t] = at;
            std::vector<uint32_t> sizes;
            for (uint32_t k = 0; k < kNfdSlots; ++k) {
                const uint8_t* e = Slot(t, k);
                if (Unused(e)) continue;
                if (e[3] > 7) return false;
                sizes.push_back(128u << e[3]);
                at += 128u << e[3];
                if (!pda_) pda_ = e[10];
            }
            layout.Track(t / heads_, t % heads_, std::move(sizes));
        }
        if (at != fileSize) return false;
        info_.geometry = layout.Finish(heads_);
        return true;
    }
    bool zeroUnused_ = false;
    uint8_t pda_ = 0;
    DeviceIOIF* file_ = nullptr;
    std::vector<uint8_t> map_;
    uint32_t heads_ = 2;
    uint64_t starts_[kNfdTracks] = {};
    FloppyDiskInfo info_;
};

class NFDSink : public FloppyTrackSink {
public:
    explicit NFDSink(DeviceIOIF* file) : file_(file), header_(kNfdHeader, 0) {
        std::memset(header_.data() + kNfdMap, 0xFF, kNfdTracks * kNfdSlots * kNfdSlot);
        std::memcpy(header_.data(), kNfdId, 15);
        PutLE32(header_.data() + 0x110, kNfdHeader);
    }
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) override {
        heads_ = info.heads == 1 ? 1 : 2;
        header_[0x115] = uint8_t(heads_);
        header_[0x114] = info.writeProtected ? 1 : 0;
        std::memcpy(header_.data() + 0x10, info.name.data(), std::min<std::size_t>(info.name.size(), 0xFF));
        pda_ = PDAOf(info);
        if (info.heads > 2) losses.push_back({FloppyLoss::kGeometry, info.cylinders, info.heads, 0, 0, 0});
        return true;
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        if (track.sectors.empty()) return true;
        uint32_t t = track.cylinder * heads_ + track.head;
        if (track.head >= heads_ || t >= kNfdTracks) {
            losses.push_back({FloppyLoss::kTooManyTracks, track.cylinder, track.head, 0, track.sectors.size(), 0});
            return true;
        }
        if (track.sectors.size() > kNfdSlots)
            losses.push_back({FloppyLoss::kLongTrack, track.cylinder, track.head, 0, track.sectors.size(), kNfdSlots});
        std::vector<uint8_t> bytes;
        for (std::size_t k = 0; k < track.sectors.size() && k < kNfdSlots; ++k) {
            const FloppySector& s = track.sectors[k];
            uint8_t* e = header_.data() + kNfdMap + (t * kNfdSlots + k) * kNfdSlot;
            std::memset(e, 0, kNfdSlot);
            e[0] = s.c;
            e[1] = s.h;
            e[2] = s.r;
            e[3] = s.n;
            e[4] = s.mfm ? 1 : 0;
            e[5] = s.deleted ? 1 : 0;
            ResultOfStatus(s.status ? s.status : s.crcError ? 0xB0 : 0, e + 6);
            e[10] = pda_;
            const std::size_t size = 128u << (s.n & 7);
            if (s.data.size() != size || s.n > 7)
                losses.push_back({FloppyLoss::kDataLength, track.cylinder, track.head, s.r, s.data.size(), size});
            std::size_t from = bytes.size();
            bytes.resize(from + size, 0);
            std::memcpy(bytes.data() + from, s.data.data(), std::min(size, s.data.size()));
        }
        bool ok = WriteAt(file_, end_, bytes.data(), bytes.size());
        end_ += bytes.size();
        return ok;
    }
    bool Finish() override { return WriteAt(file_, 0, header_.data(), header_.size()); }

private:
    DeviceIOIF* file_;
    std::vector<uint8_t> header_;
    uint32_t heads_ = 2;
    uint8_t pda_ = 0x90;
    uint64_t end_ = kNfdHeader;
};

}  // namespace

const ContainerGeometry* PlainFloppyGeometry(uint64_t bytes) {
    for (const ContainerGeometry& g : kPlainSizes)
        if (g.Bytes() == bytes) return &g;
    return nullptr;
}

void RegularTrackLosses(const FloppyTrack& track, const ContainerGeometry& g, std::vector<FloppyLoss>& losses,
                        std::vector<const FloppySector*>& byPlace) {
    const uint32_t c = track.cylinder, h = track.head;
    byPlace.assign(g.sectors, nullptr);
    std::set<std::tuple<uint8_t, uint8_t, uint8_t>> seen;
    for (const FloppySector& s : track.sectors) {
        if (!seen.insert({s.c, s.h, s.r}).second) {
            losses.push_back({FloppyLoss::kDuplicateId, c, h, s.r, 0, 0});
            continue;
        }
        if (s.r == 0 || s.r > g.sectors) {
            losses.push_back({FloppyLoss::kLongTrack, c, h, s.r, track.sectors.size(), g.sectors});
            continue;
        }
        const uint32_t size = 128u << (s.n & 7);
        if (size != g.sectorSize || s.n > 7) {
            losses.push_back({FloppyLoss::kSectorSize, c, h, s.r, size, g.sectorSize});
            continue;
        }
        if (s.data.size() != size) losses.push_back({FloppyLoss::kDataLength, c, h, s.r, s.data.size(), size});
        if (s.c != c || s.h != h)
            losses.push_back({FloppyLoss::kForeignId, c, h, s.r, uint64_t(s.c) << 24 | uint64_t(s.h) << 16 | uint64_t(s.r) << 8 | s.n, 0});
        if (s.deleted) losses.push_back({FloppyLoss::kDeletedMark, c, h, s.r, 0, 0});
        if (s.crcError || s.status) losses.push_back({FloppyLoss::kCrcError, c, h, s.r, uint64_t(s.status ? s.status : 0xB0), 0});
        if (!s.mfm) losses.push_back({FloppyLoss::kSingleDensity, c, h, s.r, 0, 0});
        byPlace[s.r - 1] = &s;
    }
    for (uint32_t r = 1; r <= g.sectors; ++r)
        if (!byPlace[r - 1] && std::none_of(track.sectors.begin(), track.sectors.end(), [&](const FloppySector& s) {
                return s.r == r;
            }))
            losses.push_back({FloppyLoss::kMissingSector, c, h, r, 0, 0});
}

std::unique_ptr<FloppyTrackSource> OpenPlainFloppy(DeviceIOIF* file, uint64_t size, std::size_t disk) {
    const ContainerGeometry* g = PlainFloppyGeometry(size);
    if (!g || disk != 0) return nullptr;
    FloppyDiskInfo info;
    info.geometry = *g;
    info.cylinders = g->cylinders;
    info.heads = g->heads;
    info.media = MediaOfLayout(*g);
    return std::make_unique<RegularSource>(file, 0, info);
}

std::unique_ptr<FloppyTrackSink> CreatePlainFloppy(DeviceIOIF* file) { return std::make_unique<PlainSink>(file); }

std::unique_ptr<FloppyTrackSource> OpenFDI(DeviceIOIF* file, uint64_t size, std::size_t disk) {
    uint8_t h[32];
    if (disk != 0 || size < 32 || !file->Read(0, h, sizeof h) || LE32(h) != 0) return nullptr;
    uint32_t code = LE32(h + 4), headerSize = LE32(h + 8), dataSize = LE32(h + 12);
    ContainerGeometry g{LE32(h + 28), LE32(h + 24), LE32(h + 20), LE32(h + 16)};
    if (code != 0x10 && code != 0x30 && code != 0x90) return nullptr;
    if (headerSize < 32 || uint64_t(headerSize) + dataSize != size || g.Bytes() != dataSize) return nullptr;
    if (g.sectorSize < 128 || g.sectorSize > 4096 || (g.sectorSize & (g.sectorSize - 1)) || g.sectors == 0 ||
        g.sectors > 255 || g.heads == 0 || g.heads > 255)
        return nullptr;
    FloppyDiskInfo info;
    info.geometry = g;
    info.cylinders = g.cylinders;
    info.heads = g.heads;
    info.media = code == 0x30 ? FloppyMedia::k2HQ : MediaOfLayout(g);
    return std::make_unique<RegularSource>(file, headerSize, info);
}

std::unique_ptr<FloppyTrackSink> CreateFDI(DeviceIOIF* file) { return std::make_unique<FDISink>(file); }

std::unique_ptr<FloppyTrackSource> OpenD88Disk(DeviceIOIF* file, uint64_t size, std::size_t disk) {
    // Every disk of the file must be sound for the file to be a D88.
    std::unique_ptr<D88Source> chosen;
    uint64_t at = 0;
    for (std::size_t k = 0; at < size; ++k) {
        auto d = std::make_unique<D88Source>();
        uint32_t diskSize = 0;
        if (!d->Open(file, at, size, diskSize)) return nullptr;
        at += diskSize;
        if (k == disk) chosen = std::move(d);
    }
    return chosen;
}

std::unique_ptr<FloppyTrackSink> CreateD88Disk(DeviceIOIF* file) { return std::make_unique<D88Sink>(file); }

std::unique_ptr<FloppyTrackSource> OpenNFD0(DeviceIOIF* file, uint64_t size, std::size_t disk) {
    auto s = std::make_unique<NFDSource>();
    if (disk != 0 || !s->Open(file, size)) return nullptr;
    return s;
}

std::unique_ptr<FloppyTrackSink> CreateNFD0(DeviceIOIF* file) { return std::make_unique<NFDSink>(file); }

std::unique_ptr<FloppyTrackSource> OpenDIMDisk(DeviceIOIF* file, uint64_t size, std::size_t disk) {
    uint8_t head[kDimHeader];
    // Files written without the two spaces after the mark are read all the same.
    if (disk != 0 || size < kDimHeader || !file->Read(0, head, kDimHeader) || std::memcmp(head + 0xAB, kDimId, 11) != 0 ||
        !((head[0xB6] == ' ' && head[0xB7] == ' ') || (head[0xB6] == 0 && head[0xB7] == 0)))
        return nullptr;
    const DimType* type = nullptr;
    for (const DimType& t : kDimTypes)
        if (t.code == head[0]) type = &t;
    if (!type) return nullptr;
    uint64_t present = 0;
    for (uint32_t t = 0; t < kDimTracks; ++t) {
        if (head[1 + t] > 1) return nullptr;
        present += head[1 + t];
    }
    if (size != kDimHeader + present * type->sectors * type->sectorSize) return nullptr;
    return std::make_unique<DIMSource>(file, head, *type);
}

std::unique_ptr<FloppyTrackSink> CreateDIMDisk(DeviceIOIF* file) { return std::make_unique<DIMSink>(file); }
