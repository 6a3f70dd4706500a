// Hard disks behind a PC-9801 emulator's header, the plain disk following:
//   Virtual98 (HDD): "VHD1.00" at 0, a comment (128 bytes) at 8, the size
//     in MB (u16) at 0x8C, bytes per sector (u16) at 0x8E, sectors per
//     track at 0x90, heads at 0x91, cylinders (u16) at 0x92, the sector
//     count (u32) at 0x94; 220 bytes in all.
//   SL9821 (SLH): a 512-byte header, little-endian: "HDIM" at 0, the
//     disk's bytes (u64) at 4, bytes per sector at 0x0C, cylinders at 0x10,
//     heads at 0x14, sectors per track at 0x18 (u32 each), then the drive's
//     serial number (20 bytes), revision (8) and model (40) as an ATA drive
//     names them. A header without the signature (some tools leave it
//     zero), or one whose fields disagree with the file, is taken for
//     SL9821 only by the file's name and by a PC-9801 partition table where
//     the disk's second sector lies; the disk's geometry is then the
//     volumes' own.

#include <cstring>

#include "device/byteorder.h"
#include "device/floppycontainers.h"

namespace {

constexpr uint32_t kVHDHeader = 220;
constexpr uint32_t kSLHHeader = 512;

bool PowerOfTwoSector(uint32_t v) { return v >= 256 && v <= 4096 && (v & (v - 1)) == 0; }

// A geometry both headers can hold: byte-sized sectors per track and heads,
// 16-bit cylinders.
bool Describable(const HardDiskLayout& d) {
    return PowerOfTwoSector(d.sectorSize) && d.sectors != 0 && d.sectors <= 255 && d.heads != 0 && d.heads <= 255 &&
           d.cylinders != 0 && d.cylinders <= 65535;
}

}  // namespace

std::optional<HardDiskLayout> ProbeVHD(const uint8_t* h, std::size_t n, uint64_t size) {
    if (n < kVHDHeader || size <= kVHDHeader || std::memcmp(h, "VHD1.00", 7) != 0) return std::nullopt;
    HardDiskLayout l;
    l.dataOffset = kVHDHeader;
    l.dataBytes = size - kVHDHeader;
    l.sectorSize = LE16(h + 0x8E);
    l.sectors = h[0x90];
    l.heads = h[0x91];
    l.cylinders = LE16(h + 0x92);
    if (!PowerOfTwoSector(l.sectorSize) || l.sectors == 0 || l.heads == 0 || l.cylinders == 0 ||
        uint64_t(l.sectorSize) * l.sectors * l.heads * l.cylinders > l.dataBytes)
        return std::nullopt;
    return l;
}

std::optional<std::vector<uint8_t>> VHDHeader(HardDiskLayout& d) {
    if (!Describable(d)) return std::nullopt;
    std::vector<uint8_t> h(kVHDHeader, 0);
    std::memcpy(h.data(), "VHD1.00", 7);
    const uint64_t sectors = uint64_t(d.sectors) * d.heads * d.cylinders;
    PutLE16(h.data() + 0x8C, uint16_t(sectors * d.sectorSize >> 20));
    PutLE16(h.data() + 0x8E, uint16_t(d.sectorSize));
    h[0x90] = uint8_t(d.sectors);
    h[0x91] = uint8_t(d.heads);
    PutLE16(h.data() + 0x92, uint16_t(d.cylinders));
    PutLE32(h.data() + 0x94, uint32_t(sectors));
    d.dataOffset = kVHDHeader;
    return h;
}

std::optional<std::vector<uint8_t>> SLHHeader(HardDiskLayout& d) {
    if (!Describable(d)) return std::nullopt;
    std::vector<uint8_t> h(kSLHHeader, 0);
    std::memcpy(h.data(), "HDIM", 4);
    PutLE64(h.data() + 4, uint64_t(d.sectorSize) * d.sectors * d.heads * d.cylinders);
    PutLE32(h.data() + 0x0C, d.sectorSize);
    PutLE32(h.data() + 0x10, d.cylinders);
    PutLE32(h.data() + 0x14, d.heads);
    PutLE32(h.data() + 0x18, d.sectors);
    d.dataOffset = kSLHHeader;
    return h;
}

std::optional<HardDiskLayout> ProbeSLH(const uint8_t* h, std::size_t n, uint64_t size) {
    if (n >= kSLHHeader && size > kSLHHeader && std::memcmp(h, "HDIM", 4) == 0) {
        HardDiskLayout l;
        l.dataOffset = kSLHHeader;
        l.dataBytes = LE64(h + 4);
        l.sectorSize = LE32(h + 0x0C);
        l.cylinders = LE32(h + 0x10);
        l.heads = LE32(h + 0x14);
        l.sectors = LE32(h + 0x18);
        if (Describable(l) && l.dataBytes <= size - kSLHHeader &&
            uint64_t(l.sectorSize) * l.sectors * l.heads * l.cylinders == l.dataBytes)
            return l;
        // A header that disagrees with the file (a cut-off copy): the disk
        // is then taken as an unsigned one would be.
    }
    if (n < kSLHHeader + 1024 || size <= kSLHHeader + 1024 || (size - kSLHHeader) % 512 != 0) return std::nullopt;
    // The table in the disk's second sector: some entry in use, each one's
    // end not before its start.
    const uint8_t* table = h + kSLHHeader + 512;
    bool used = false;
    for (int k = 0; k < 16; ++k) {
        const uint8_t* e = table + 32 * k;
        if (e[0] == 0) continue;
        if (LE16(e + 14) < LE16(e + 10)) return std::nullopt;
        used = true;
    }
    if (!used) return std::nullopt;
    HardDiskLayout l;
    l.dataOffset = kSLHHeader;
    l.dataBytes = size - kSLHHeader;
    l.sectorSize = 512;
    return l;
}
