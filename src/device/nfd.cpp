#include "device/nfd.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/byteorder.h"

namespace {

constexpr uint32_t kMapAt = 0x120;
constexpr uint32_t kTracks = 163;
constexpr uint32_t kEntries = 26;
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kMapEnd = kMapAt + kTracks * kEntries * kEntrySize;
// The header as the published layout has it: the map and 16 reserved bytes.
constexpr uint32_t kHeaderSize = kMapEnd + 16;
constexpr uint8_t kNoSector = 0xFF;

// The records of the map whose slots `used` takes, their data from
// `headerSize` on in slot order; false when the data do not fill the file
// exactly or a slot names an impossible size.
bool MapRecords(const std::vector<uint8_t>& head, uint32_t headerSize, uint64_t fileSize,
                bool (*used)(const uint8_t*), std::vector<SectorRecord>& records) {
    records.clear();
    uint64_t at = headerSize;
    for (uint32_t k = 0; k < kTracks * kEntries; ++k) {
        const uint8_t* e = head.data() + kMapAt + kEntrySize * k;
        if (!used(e)) continue;
        if (e[3] > 7) return false;
        uint32_t size = 128u << e[3];
        if (fileSize - at < size) return false;
        SectorRecord r;
        r.c = e[0];
        r.h = e[1];
        r.r = e[2];
        r.size = size;
        r.dataOffset = int64_t(at);
        records.push_back(r);
        at += size;
    }
    // Every byte after the header is the data of some sector.
    return at == fileSize && !records.empty();
}

}  // namespace

std::optional<ContainerDisk> ReadNFD(DeviceIOIF* file, uint64_t fileSize) {
    if (fileSize < kMapEnd) return std::nullopt;
    std::vector<uint8_t> head(kMapEnd);
    if (!file->Read(0, head.data(), kMapEnd) || std::memcmp(head.data(), kNFDSignature0, 14) != 0)
        return std::nullopt;
    uint32_t headerSize = LE32(head.data() + 0x110);
    if (headerSize < kMapEnd || headerSize > fileSize) return std::nullopt;
    // Every slot whose cylinder is not 0xFF is a sector. An earlier writer
    // of this program left unused slots all zero instead (and no slot
    // 0xFF); such a map is read that way only when its data fill the file
    // so and not the other way.
    std::vector<SectorRecord> records;
    if (!MapRecords(head, headerSize, fileSize, [](const uint8_t* e) { return e[0] != kNoSector; }, records)) {
        bool earlier = true;
        for (uint32_t k = 0; k < kTracks * kEntries && earlier; ++k) {
            const uint8_t* e = head.data() + kMapAt + kEntrySize * k;
            if (e[0] == kNoSector) earlier = false;
            for (uint32_t b = 0; b < kEntrySize && earlier && e[2] == 0; ++b) earlier = e[b] == 0;
        }
        if (!earlier ||
            !MapRecords(head, headerSize, fileSize, [](const uint8_t* e) { return e[2] != 0; }, records))
            return std::nullopt;
    }
    ContainerDisk disk = DiskFromRecords(records);
    disk.writeProtected = head[0x114] != 0;
    return disk;
}

std::vector<uint8_t> MakeNFD(const std::vector<uint8_t>& plain, const ContainerGeometry& g, uint8_t pda) {
    std::vector<uint8_t> out(kHeaderSize, 0);
    std::memcpy(out.data(), kNFDSignature0, 14);
    PutLE32(out.data() + 0x110, kHeaderSize);
    out[0x115] = uint8_t(g.heads);
    // Slots without a sector say so in every byte.
    std::memset(out.data() + kMapAt, kNoSector, kMapEnd - kMapAt);
    uint8_t sizeCode = 0;
    while ((128u << sizeCode) < g.sectorSize) ++sizeCode;
    for (uint32_t t = 0; t < g.cylinders * g.heads && t < kTracks; ++t)
        for (uint32_t s = 0; s < g.sectors && s < kEntries; ++s) {
            uint8_t* e = out.data() + kMapAt + kEntrySize * (t * kEntries + s);
            std::memset(e, 0, kEntrySize);
            e[0] = uint8_t(t / g.heads);
            e[1] = uint8_t(t % g.heads);
            e[2] = uint8_t(s + 1);
            e[3] = sizeCode;
            e[4] = 1;  // MFM
            e[10] = pda;
        }
    out.insert(out.end(), plain.begin(), plain.begin() + std::ptrdiff_t(std::min<uint64_t>(plain.size(), g.Bytes())));
    out.resize(kHeaderSize + g.Bytes(), 0);
    return out;
}
