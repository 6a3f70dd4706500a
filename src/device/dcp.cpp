// DCP/DCU (Disk Copy Pro): a 162-byte header, the disk type at 0, a flag
// per track at 1..0xA0 (track = cylinder * 2 + head; 1: stored), a flag
// at 0xA1 saying every track is stored whatever the map says; then the
// stored tracks' data in track order, sectors 1..S of the type's size.
// There is no signature: only files named .dcp or .dcu are read as such.

#include <algorithm>
#include <cstring>

#include "device/asciicase.h"
#include "device/floppycontainers.h"

namespace {

constexpr uint32_t kHeader = 162;
constexpr uint32_t kTracks = 160;

struct DcpType {
    uint8_t code;
    uint32_t cylinders, sectors, sectorSize;
    FloppyMedia media;
};
constexpr DcpType kTypes[] = {
    {0x01, 77, 8, 1024, FloppyMedia::k2HD}, {0x02, 80, 15, 512, FloppyMedia::k2HC},
    {0x03, 80, 18, 512, FloppyMedia::k2HQ}, {0x04, 80, 8, 512, FloppyMedia::k2DD},
    {0x05, 80, 9, 512, FloppyMedia::k2DD},  {0x08, 80, 9, 1024, FloppyMedia::k2HS},
    {0x19, 80, 16, 256, FloppyMedia::k2DD}, {0x21, 80, 26, 256, FloppyMedia::k2HD},
};

const DcpType* TypeFor(const ContainerGeometry& g) {
    for (const DcpType& t : kTypes)
        if (t.cylinders == g.cylinders && t.sectors == g.sectors && t.sectorSize == g.sectorSize && g.heads == 2)
            return &t;
    return nullptr;
}

class Sink : public FloppyTrackSink {
public:
    explicit Sink(DeviceIOIF* file) : file_(file) {}
    bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) override {
        type_ = TypeFor(info.geometry);
        if (!type_) {
            losses.push_back({FloppyLoss::kGeometry});
            return false;
        }
        if (!info.name.empty() || info.writeProtected) losses.push_back({FloppyLoss::kHeaderField});
        head_[0] = type_->code;
        return true;
    }
    bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) override {
        const uint32_t t = track.cylinder * 2 + track.head;
        if (track.sectors.empty()) return true;
        if (t >= kTracks) {
            losses.push_back({FloppyLoss::kGeometry, track.cylinder, track.head});
            return true;
        }
        // Sectors by their number; what the fixed layout has no room for is lost.
        std::vector<uint8_t> data(std::size_t(type_->sectors) * type_->sectorSize, 0);
        std::vector<bool> seen(type_->sectors, false);
        for (const FloppySector& s : track.sectors) {
            const bool fits = s.r >= 1 && s.r <= type_->sectors && s.data.size() == type_->sectorSize &&
                              s.c == track.cylinder && s.h == track.head && !seen[s.r - 1];
            if (!fits) {
                losses.push_back({FloppyLoss::kForeignId, track.cylinder, track.head, s.r});
                continue;
            }
            seen[s.r - 1] = true;
            if (s.deleted) losses.push_back({FloppyLoss::kDeletedMark, track.cylinder, track.head, s.r});
            if (s.crcError || s.status) losses.push_back({FloppyLoss::kCrcError, track.cylinder, track.head, s.r});
            std::memcpy(data.data() + std::size_t(s.r - 1) * type_->sectorSize, s.data.data(), s.data.size());
        }
        for (uint32_t r = 1; r <= type_->sectors; ++r)
            if (!seen[r - 1]) losses.push_back({FloppyLoss::kMissingSector, track.cylinder, track.head, r});
        // Tracks come in order; a track missing before this one takes no room.
        head_[1 + t] = 1;
        if (!PutBytes(file_, at_, data.data(), data.size())) return false;
        at_ += data.size();
        return true;
    }
    bool Finish() override { return PutBytes(file_, 0, head_, kHeader) && file_->Flush(); }

private:
    DeviceIOIF* file_;
    const DcpType* type_ = nullptr;
    uint8_t head_[kHeader] = {};
    uint64_t at_ = kHeader;
};

}  // namespace

bool NamedDCP(const std::string& path) {
    if (path.size() < 4) return false;
    const std::string ext = path.substr(path.size() - 4);
    return EqualIgnoringAsciiCase(ext, ".dcp") || EqualIgnoringAsciiCase(ext, ".dcu");
}

std::optional<StoredDisk> ReadDCP(DeviceIOIF* file, uint64_t size) {
    if (size < kHeader || !file->GetPath() || !NamedDCP(file->GetPath())) return std::nullopt;
    uint8_t head[kHeader];
    if (!file->Read(0, head, kHeader)) return std::nullopt;
    const DcpType* type = nullptr;
    for (const DcpType& t : kTypes)
        if (t.code == head[0]) type = &t;
    if (!type || head[0xA1] > 1) return std::nullopt;
    const uint64_t trackBytes = uint64_t(type->sectors) * type->sectorSize;
    const uint32_t tracks = std::min(kTracks, type->cylinders * 2);
    uint32_t present = 0;
    for (uint32_t t = 0; t < kTracks; ++t) {
        if (head[1 + t] > 1) return std::nullopt;
        present += head[1 + t];
    }
    // Either the map's tracks, or (with the flag) every track, fill the file exactly.
    bool all;
    if (size == kHeader + present * trackBytes) all = false;
    else if (head[0xA1] == 1 && size == kHeader + tracks * trackBytes) all = true;
    else return std::nullopt;
    StoredDisk disk;
    disk.info.media = type->media;
    disk.info.cylinders = type->cylinders;
    disk.info.heads = 2;
    uint64_t at = kHeader;
    for (uint32_t t = 0; t < tracks; ++t) {
        if (!all && !head[1 + t]) continue;
        StoredTrack track;
        track.cylinder = t / 2;
        track.head = t % 2;
        for (uint32_t r = 1; r <= type->sectors; ++r) {
            StoredSector s;
            s.id.c = uint8_t(track.cylinder), s.id.h = uint8_t(track.head), s.id.r = uint8_t(r);
            s.id.n = uint8_t(SizeCode(type->sectorSize));
            s.length = type->sectorSize;
            s.at = int64_t(at);
            at += type->sectorSize;
            track.sectors.push_back(std::move(s));
        }
        disk.tracks.push_back(std::move(track));
    }
    disk.info.geometry = LayoutStoredDisk(disk).geometry;
    return disk;
}

std::unique_ptr<FloppyTrackSink> DCPSink(DeviceIOIF* file) { return std::make_unique<Sink>(file); }
