#include "device/nfd.h"

#include <cstring>
#include <vector>

#include "device/byteorder.h"

namespace {

constexpr uint32_t kMapAt = 0x120;
constexpr uint32_t kTracks = 163;
constexpr uint32_t kEntries = 26;
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kMapEnd = kMapAt + kTracks * kEntries * kEntrySize;

}  // namespace

std::optional<ContainerDisk> ReadNFD(DeviceIOIF* file, uint64_t fileSize) {
    if (fileSize < kMapEnd) return std::nullopt;
    std::vector<uint8_t> head(kMapEnd);
    if (!file->Read(0, head.data(), kMapEnd) || std::memcmp(head.data(), kNFDSignature0, 14) != 0)
        return std::nullopt;
    uint32_t headerSize = LE32(head.data() + 0x110);
    if (headerSize < kMapEnd || headerSize > fileSize) return std::nullopt;
    std::vector<SectorRecord> records;
    uint64_t at = headerSize;
    for (uint32_t k = 0; k < kTracks * kEntries; ++k) {
        const uint8_t* e = head.data() + kMapAt + kEntrySize * k;
        if (e[2] == 0 || e[0] == 0xFF) continue;
        if (e[3] > 7) return std::nullopt;
        uint32_t size = 128u << e[3];
        if (fileSize - at < size) return std::nullopt;
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
    if (at != fileSize || records.empty()) return std::nullopt;
    return DiskFromRecords(records);
}
