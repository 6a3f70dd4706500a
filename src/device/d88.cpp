#include "device/d88.h"

#include <algorithm>
#include <cstring>

#include "device/byteorder.h"

namespace {

constexpr uint32_t kHeaderSize = 0x2B0;
constexpr uint32_t kShortHeaderSize = 0x2A0;  // writers with 160 track offsets
constexpr uint32_t kTrackSlots = 164;
constexpr uint32_t kRecordHeader = 16;
// No floppy disk comes near this; a larger "disk size" is not a D88.
constexpr uint32_t kMaxDiskSize = 64u << 20;
constexpr uint32_t kMaxSectorsPerTrack = 128;

bool KnownMedia(uint8_t m) { return m == 0x00 || m == 0x10 || m == 0x20 || m == 0x30 || m == 0x40; }

// Reads and checks one disk at `at`; false when it is not consistent.
bool ReadDisk(DeviceIOIF* file, uint64_t at, uint64_t fileSize, ContainerDisk& disk, uint32_t& diskSize) {
    if (fileSize - at < kShortHeaderSize) return false;
    uint8_t head[kHeaderSize] = {};
    uint32_t headLength = uint32_t(std::min<uint64_t>(kHeaderSize, fileSize - at));
    if (!file->Read(int64_t(at), head, headLength)) return false;
    if ((head[0x1A] != 0x00 && head[0x1A] != 0x10) || !KnownMedia(head[0x1B])) return false;
    diskSize = LE32(head + 0x1C);
    if (diskSize < kShortHeaderSize || diskSize > kMaxDiskSize || diskSize > fileSize - at) return false;

    // The first track tells how long the offset table is: a track at 0x2A0
    // means 160 offsets, and the bytes after them are that track's.
    auto firstTrack = [&](uint32_t slots) {
        uint32_t first = UINT32_MAX;
        for (uint32_t t = 0; t < slots; ++t)
            if (uint32_t o = LE32(head + 0x20 + 4 * t); o != 0 && o < first) first = o;
        return first;
    };
    uint32_t slots = 160;
    if (firstTrack(160) != kShortHeaderSize && diskSize >= kHeaderSize) {
        slots = kTrackSlots;
        uint32_t first = firstTrack(slots);
        if (first != UINT32_MAX && first < kHeaderSize) return false;
    }

    // Every track must start inside the disk before the disk is read whole.
    for (uint32_t t = 0; t < slots; ++t) {
        uint32_t o = LE32(head + 0x20 + 4 * t);
        if (o != 0 && (o > diskSize - kRecordHeader || o < kShortHeaderSize)) return false;
    }

    std::vector<uint8_t> body(diskSize);
    if (!file->Read(int64_t(at), body.data(), diskSize)) return false;
    std::vector<SectorRecord> records;
    for (uint32_t t = 0; t < slots; ++t) {
        uint32_t p = LE32(body.data() + 0x20 + 4 * t);
        if (p == 0) continue;
        if (p >= diskSize || diskSize - p < kRecordHeader) return false;
        uint32_t count = LE16(body.data() + p + 4);
        if (count == 0) continue;  // an unformatted track
        if (count > kMaxSectorsPerTrack) return false;
        for (uint32_t s = 0; s < count; ++s) {
            if (diskSize - p < kRecordHeader) return false;
            const uint8_t* r = body.data() + p;
            uint32_t dataSize = LE16(r + 14);
            if (LE16(r + 4) != count || r[3] > 7 || diskSize - p - kRecordHeader < dataSize) return false;
            SectorRecord rec;
            rec.c = r[0];
            rec.h = r[1];
            rec.r = r[2];
            // Only data of the full size the record claims is a sector.
            rec.size = dataSize == (128u << r[3]) ? dataSize : 0;
            rec.dataOffset = int64_t(at + p + kRecordHeader);
            records.push_back(rec);
            p += kRecordHeader + dataSize;
        }
    }
    disk = DiskFromRecords(records);
    disk.name.assign(reinterpret_cast<const char*>(head), strnlen(reinterpret_cast<const char*>(head), 17));
    disk.writeProtected = head[0x1A] == 0x10;
    return true;
}

}  // namespace

std::optional<std::vector<ContainerDisk>> ReadD88(DeviceIOIF* file, uint64_t fileSize) {
    std::vector<ContainerDisk> disks;
    uint64_t at = 0;
    while (at < fileSize) {
        ContainerDisk disk;
        uint32_t size = 0;
        if (!ReadDisk(file, at, fileSize, disk, size)) return std::nullopt;
        disks.push_back(std::move(disk));
        at += size;
    }
    if (disks.empty()) return std::nullopt;
    return disks;
}

std::vector<uint8_t> MakeD88(const std::vector<uint8_t>& plain, const ContainerGeometry& g, uint8_t media,
                             const std::string& name) {
    const uint32_t tracks = g.cylinders * g.heads;
    const uint32_t trackBytes = g.sectors * (kRecordHeader + g.sectorSize);
    std::vector<uint8_t> out(kHeaderSize + std::size_t(tracks) * trackBytes, 0);
    std::memcpy(out.data(), name.data(), std::min<std::size_t>(name.size(), 16));
    out[0x1B] = media;
    PutLE32(out.data() + 0x1C, uint32_t(out.size()));
    uint8_t sizeCode = 0;
    while ((128u << sizeCode) < g.sectorSize) ++sizeCode;
    std::size_t from = 0;
    for (uint32_t t = 0; t < tracks && t < kTrackSlots; ++t) {
        uint32_t at = kHeaderSize + t * trackBytes;
        PutLE32(out.data() + 0x20 + 4 * t, at);
        for (uint32_t s = 0; s < g.sectors; ++s) {
            uint8_t* r = out.data() + at + s * (kRecordHeader + g.sectorSize);
            r[0] = uint8_t(t / g.heads);
            r[1] = uint8_t(t % g.heads);
            r[2] = uint8_t(s + 1);
            r[3] = sizeCode;
            PutLE16(r + 4, uint16_t(g.sectors));
            PutLE16(r + 14, uint16_t(g.sectorSize));
            if (from + g.sectorSize <= plain.size()) std::memcpy(r + kRecordHeader, plain.data() + from, g.sectorSize);
            from += g.sectorSize;
        }
    }
    return out;
}
