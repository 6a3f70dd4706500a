#include "device/dim.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kHeaderSize = 256;
constexpr uint32_t kTracks = 170;

struct DimType {
    uint8_t code;
    uint32_t sectorSize, sectors, cylinders;
};
// 2HD, 2HS, 2HC, 2HDE, 2HQ.
constexpr DimType kTypes[] = {
    {0, 1024, 8, 77}, {1, 1024, 9, 80}, {2, 512, 15, 80}, {3, 1024, 9, 80}, {9, 512, 18, 80},
};

}  // namespace

std::optional<ContainerDisk> ReadDIM(DeviceIOIF* file, uint64_t fileSize) {
    if (fileSize < kHeaderSize) return std::nullopt;
    uint8_t head[kHeaderSize];
    if (!file->Read(0, head, kHeaderSize) || std::memcmp(head + 0xAB, "DIFC HEADER", 11) != 0) return std::nullopt;
    const DimType* type = nullptr;
    for (const DimType& t : kTypes)
        if (t.code == head[0]) type = &t;
    if (!type) return std::nullopt;
    const uint64_t trackBytes = uint64_t(type->sectorSize) * type->sectors;
    uint32_t present = 0, last = 0;
    for (uint32_t t = 0; t < kTracks; ++t) {
        uint8_t flag = head[1 + t];
        if (flag > 1) return std::nullopt;
        if (flag) {
            ++present;
            last = t;
        }
    }
    if (fileSize != kHeaderSize + present * trackBytes) return std::nullopt;

    ContainerDisk disk;
    ContainerGeometry& g = disk.geometry;
    g.sectorSize = type->sectorSize;
    g.sectors = type->sectors;
    g.heads = 2;
    g.cylinders = std::max(type->cylinders, present ? last / 2 + 1 : 0);
    disk.sectorData.assign(g.SectorCount(), -1);
    uint64_t at = kHeaderSize;
    for (uint32_t t = 0; t < kTracks && t < g.cylinders * 2; ++t) {
        if (!head[1 + t]) continue;
        for (uint32_t s = 0; s < g.sectors; ++s) disk.sectorData[uint64_t(t) * g.sectors + s] = int64_t(at + s * type->sectorSize);
        at += trackBytes;
    }
    return disk;
}

std::vector<uint8_t> MakeDIM2HD(const std::vector<uint8_t>& plain) {
    const DimType& t = kTypes[0];
    const uint32_t tracks = t.cylinders * 2;
    std::vector<uint8_t> out(kHeaderSize, 0);
    out[0] = t.code;
    for (uint32_t k = 0; k < tracks; ++k) out[1 + k] = 1;
    std::memcpy(out.data() + 0xAB, "DIFC HEADER  ", 13);  // two spaces: readers compare all 13 bytes
    const std::size_t bytes = std::size_t(tracks) * t.sectors * t.sectorSize;
    out.insert(out.end(), plain.begin(), plain.begin() + std::ptrdiff_t(std::min(plain.size(), bytes)));
    out.resize(kHeaderSize + bytes, 0);
    return out;
}
