#include "device/containerdevice.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "device/messages.h"

namespace {

// Floppy disks have at most two sides and well under a hundred cylinders;
// records that claim more are copy-protection marks, not sectors.
constexpr uint32_t kMaxCylinders = 100;
constexpr uint32_t kMaxHeads = 2;

}  // namespace

ContainerDisk DiskFromRecords(const std::vector<SectorRecord>& records) {
    ContainerDisk disk;
    auto usable = [](const SectorRecord& r) { return r.r != 0 && r.size != 0 && r.c < kMaxCylinders && r.h < kMaxHeads; };
    std::map<uint32_t, std::size_t> bySize;
    for (const SectorRecord& r : records)
        if (usable(r)) ++bySize[r.size];
    if (bySize.empty()) return disk;
    uint32_t size = 0;
    std::size_t most = 0;
    for (const auto& [s, n] : bySize)
        if (n > most) {
            most = n;
            size = s;
        }
    // Sectors per track: the count of sector numbers most tracks have.
    std::map<std::pair<uint32_t, uint32_t>, std::set<uint32_t>> perTrack;
    for (const SectorRecord& r : records)
        if (usable(r) && r.size == size) perTrack[{r.c, r.h}].insert(r.r);
    std::map<uint32_t, std::size_t> counts;
    for (const auto& [track, numbers] : perTrack) ++counts[uint32_t(numbers.size())];
    uint32_t sectors = 0;
    most = 0;
    for (const auto& [n, tracks] : counts)
        if (tracks >= most) {
            most = tracks;
            sectors = n;
        }
    auto mapped = [&](const SectorRecord& r) { return usable(r) && r.size == size && r.r <= sectors; };

    ContainerGeometry& g = disk.geometry;
    g.sectorSize = size;
    g.sectors = sectors;
    for (const SectorRecord& r : records) {
        if (!mapped(r)) continue;
        g.cylinders = std::max(g.cylinders, r.c + 1);
        g.heads = std::max(g.heads, r.h + 1);
    }
    disk.sectorData.assign(g.SectorCount(), -1);
    for (const SectorRecord& r : records) {
        if (!mapped(r)) continue;
        int64_t& slot = disk.sectorData[(uint64_t(r.c) * g.heads + r.h) * g.sectors + (r.r - 1)];
        if (slot < 0) slot = r.dataOffset;
    }
    return disk;
}

std::string GeometryText(const ContainerGeometry& g) {
    return std::to_string(g.cylinders) + "/" + std::to_string(g.heads) + "/" + std::to_string(g.sectors) + "/" +
           std::to_string(g.sectorSize);
}

DeviceIO_Container::DeviceIO_Container(DeviceIOIF* file, std::string kind, std::vector<ContainerDisk> disks)
    : file_(file), kind_(std::move(kind)), disks_(std::move(disks)) {
    name_ = kind_ + " (" + file_->GetName() + ")";
    uint64_t at = 0;
    for (const ContainerDisk& d : disks_) {
        bases_.push_back(at);
        at += d.geometry.Bytes();
        protected_ = protected_ || d.writeProtected;
    }
    bases_.push_back(at);
}

DeviceIO_Container::~DeviceIO_Container() { file_->Destroy(); }

int DeviceIO_Container::DiskAt(uint64_t offset) const {
    for (std::size_t k = 0; k < disks_.size(); ++k)
        if (offset >= bases_[k] && offset < bases_[k + 1]) return int(k);
    return -1;
}

template <class F>
bool DeviceIO_Container::ForEachPiece(int64_t offset, uint32_t length, F fn) {
    if (offset < 0 || uint64_t(offset) + length > bases_.back()) {
        ShowSystemError(offset < 0 ? EINVAL : EIO);
        return false;
    }
    // Walks the range sector by sector; `emit` false only checks.
    auto walk = [&](bool emit) {
        uint64_t pos = uint64_t(offset);
        uint32_t done = 0;
        int64_t runFile = -1;
        uint32_t runBuffer = 0, runLength = 0;
        while (done < length) {
            int k = DiskAt(pos);
            const ContainerDisk& d = disks_[std::size_t(k)];
            const ContainerGeometry& g = d.geometry;
            uint64_t rel = pos - bases_[std::size_t(k)];
            uint64_t sector = rel / g.sectorSize;
            uint32_t within = uint32_t(rel % g.sectorSize);
            uint32_t n = std::min<uint32_t>(length - done, g.sectorSize - within);
            int64_t data = d.sectorData[sector];
            if (data < 0) {
                if (!emit) {
                    uint32_t c = uint32_t(sector / (uint64_t(g.heads) * g.sectors));
                    uint32_t h = uint32_t(sector / g.sectors % g.heads);
                    uint32_t r = uint32_t(sector % g.sectors) + 1;
                    ShowMessage(1311, c, h, r, kind_);
                }
                return false;
            }
            int64_t at = data + within;
            if (emit) {
                if (runLength > 0 && runFile + int64_t(runLength) == at) {
                    runLength += n;
                } else {
                    if (runLength > 0 && !fn(runFile, runBuffer, runLength)) return false;
                    runFile = at;
                    runBuffer = done;
                    runLength = n;
                }
            }
            pos += n;
            done += n;
        }
        return !emit || runLength == 0 || fn(runFile, runBuffer, runLength);
    };
    return walk(false) && walk(true);
}

bool DeviceIO_Container::Read(int64_t offset, void* buffer, uint32_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    return ForEachPiece(offset, length,
                        [&](int64_t at, uint32_t from, uint32_t n) { return file_->Read(at, p + from, n); });
}

bool DeviceIO_Container::Write(int64_t offset, const void* buffer, uint32_t length) {
    if (IsReadOnly()) return false;
    auto* p = static_cast<const uint8_t*>(buffer);
    return ForEachPiece(offset, length,
                        [&](int64_t at, uint32_t from, uint32_t n) { return file_->Write(at, p + from, n); });
}
