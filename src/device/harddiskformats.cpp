#include "device/harddiskformats.h"

#include <cstring>

#include "device/byteorder.h"

namespace {

bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The geometry multiplies out to the dump's length.
bool Whole(const HardDiskLayout& d) {
    return d.sectorSize && d.sectors && d.heads && d.cylinders &&
           uint64_t(d.sectorSize) * d.sectors * d.heads * d.cylinders == d.dataBytes;
}

}  // namespace

std::optional<HardDiskLayout> ProbeHDI(const uint8_t* h, std::size_t n, uint64_t size) {
    if (n < 32 || size < 32 || LE32(h) != 0) return std::nullopt;
    uint32_t code = LE32(h + 4);
    HardDiskLayout d{LE32(h + 8), LE32(h + 12), LE32(h + 16), LE32(h + 20), LE32(h + 24), LE32(h + 28)};
    if (code == 0x10 || code == 0x30 || code == 0x90) return std::nullopt;  // floppies
    if (d.dataOffset < 32 || d.dataOffset + d.dataBytes != size || !PowerOfTwo(d.sectorSize) || d.sectorSize < 128 ||
        d.sectorSize > 4096 || d.sectors > 255 || d.heads > 255 || !Whole(d))
        return std::nullopt;
    return d;
}

std::optional<std::vector<uint8_t>> HDIHeader(HardDiskLayout& d) {
    d.dataOffset = 4096;
    if (!Whole(d) || d.dataBytes >= (1ull << 32) || d.sectors > 255 || d.heads > 255) return std::nullopt;
    std::vector<uint8_t> h(4096, 0);
    PutLE32(h.data() + 8, 4096);
    PutLE32(h.data() + 12, uint32_t(d.dataBytes));
    PutLE32(h.data() + 16, d.sectorSize);
    PutLE32(h.data() + 20, d.sectors);
    PutLE32(h.data() + 24, d.heads);
    PutLE32(h.data() + 28, d.cylinders);
    return h;
}

std::optional<HardDiskLayout> ProbeNHD(const uint8_t* h, std::size_t n, uint64_t size) {
    if (n < 0x11E || std::memcmp(h, "T98HDDIMAGE.R0", 14) != 0) return std::nullopt;
    HardDiskLayout d{LE32(h + 0x110), 0, LE16(h + 0x11C), LE16(h + 0x11A), LE16(h + 0x118), LE32(h + 0x114)};
    if (d.dataOffset < 0x11E || d.dataOffset > size) return std::nullopt;
    d.dataBytes = size - d.dataOffset;
    return d;
}

std::optional<std::vector<uint8_t>> NHDHeader(HardDiskLayout& d) {
    d.dataOffset = 512;
    if (!Whole(d) || d.heads > 0xFFFF || d.sectors > 0xFFFF || d.sectorSize > 0xFFFF) return std::nullopt;
    std::vector<uint8_t> h(512, 0);
    std::memcpy(h.data(), "T98HDDIMAGE.R0", 14);
    PutLE32(h.data() + 0x110, 512);
    PutLE32(h.data() + 0x114, d.cylinders);
    PutLE16(h.data() + 0x118, uint16_t(d.heads));
    PutLE16(h.data() + 0x11A, uint16_t(d.sectors));
    PutLE16(h.data() + 0x11C, uint16_t(d.sectorSize));
    return h;
}

std::optional<HardDiskLayout> ProbeTHD(const uint8_t* h, std::size_t n, uint64_t size) {
    if (n < 2) return std::nullopt;
    uint32_t cylinders = LE16(h);
    if (cylinders == 0 || size != 256 + uint64_t(cylinders) * 8 * 33 * 256) return std::nullopt;
    return HardDiskLayout{256, size - 256, 256, 33, 8, cylinders};
}

std::optional<std::vector<uint8_t>> THDHeader(HardDiskLayout& d) {
    d.dataOffset = 256;
    if (d.sectorSize != 256 || d.sectors != 33 || d.heads != 8 || !Whole(d) || d.cylinders > 0xFFFF) return std::nullopt;
    std::vector<uint8_t> h(256, 0);
    PutLE16(h.data(), uint16_t(d.cylinders));
    return h;
}

std::optional<HardDiskLayout> ProbeX68000SCSI(const uint8_t* h, std::size_t n, uint64_t size) {
    if (n < 0x804 || std::memcmp(h, "X68SCSI1", 8) != 0 || std::memcmp(h + 0x800, "X68K", 4) != 0) return std::nullopt;
    return HardDiskLayout{0, size, 1024, 0, 0, 0};
}

std::optional<HardDiskLayout> ProbeX68000SASI(const uint8_t* h, std::size_t n, uint64_t size) {
    if (n < 0x404 || std::memcmp(h + 0x400, "X68K", 4) != 0) return std::nullopt;
    return HardDiskLayout{0, size, 256, 0, 0, 0};
}

std::optional<HardDiskLayout> ProbePlainHardDisk(const uint8_t*, std::size_t, uint64_t size) {
    return HardDiskLayout{0, size, 0, 0, 0, 0};
}

std::optional<std::vector<uint8_t>> NoHeader(HardDiskLayout& d) {
    d.dataOffset = 0;
    return std::vector<uint8_t>{};
}
