#include "opening/detect.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "device/asciicase.h"
#include "device/byteorder.h"
#include "device/containerdevice.h"
#include "device/d88.h"
#include "device/dim.h"
#include "device/floppycontainers.h"
#include "device/floppyopen.h"
#include "device/messages.h"
#include "device/nfd.h"
#include "device/sjis.h"
#include "volume/volumeparams.h"

namespace {

constexpr uint32_t kHeadBytes = 4096;
// The boot-sector search of a disk without a header looks no further.
constexpr uint64_t kSearchLimit = 10485760;

// Reads only what lies inside the file, so that probing never makes the
// device report an error.
struct Probe {
    DeviceIOIF* device;
    uint64_t size;
    uint64_t base = 0;  // where the disk begins in the file (behind a header); `size` counts from there
    bool Read(uint64_t at, void* buffer, uint32_t length) const {
        return at <= size && length <= size - at && device->Read(int64_t(base + at), buffer, length);
    }
};

std::string Msg(unsigned id, const MsgArgs& args) { return ResourceString().LoadMessageV(id, args); }

std::string Records(uint64_t count, uint64_t length) { return std::to_string(count) + "/" + std::to_string(length); }

bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// A FAT boot sector with a sane parameter block, or a Human68k boot record.
bool IsBootRecord(const uint8_t* s) {
    VolumeLayout l;
    if (std::memcmp(s + 2, "Hudson soft", 11) == 0) return DecodeHuman68kBootSector(s, l) == BootOk;
    uint32_t bps = LE16(s + 11), spc = s[13], reserved = LE16(s + 14), fats = s[16];
    uint32_t total = LE16(s + 19) ? LE16(s + 19) : LE32(s + 32);
    if (!PowerOfTwo(bps) || bps < 256 || bps > 4096 || !PowerOfTwo(spc) || reserved == 0 || fats == 0 ||
        fats > 4 || s[21] < 0xF0 || total == 0)
        return false;
    return DecodeFATBootSector(s, l) == BootOk;
}

bool HasFATLabel(const uint8_t* s) {
    return std::memcmp(s + 54, "FAT16   ", 8) == 0 || std::memcmp(s + 54, "FAT12   ", 8) == 0 ||
           std::memcmp(s + 82, "FAT32   ", 8) == 0;
}

// Plain floppy dumps by size, then the boot record's own figures. Where
// two floppies share a size (1.44 MB and 2HS, 1024 x 9 x 80 x 2), the
// boot record's sector size tells them apart.
std::string VolumeGeometry(const uint8_t* boot, uint64_t size) {
    static const struct {
        uint64_t size;
        uint32_t c, h, s, n;
    } kFloppies[] = {{1261568, 77, 2, 8, 1024}, {1474560, 80, 2, 18, 512}, {1474560, 80, 2, 9, 1024},
                     {1228800, 80, 2, 15, 512}, {737280, 80, 2, 9, 512},   {655360, 80, 2, 8, 512},
                     {327680, 40, 2, 8, 512},   {368640, 40, 2, 9, 512}};
    const bool bigEndian = std::memcmp(boot + 2, "Hudson soft", 11) == 0;
    const uint32_t bps = bigEndian ? BE16(boot + 18) : LE16(boot + 11);
    std::string bySize;
    for (const auto& f : kFloppies) {
        if (f.size != size) continue;
        if (f.n == bps) return ChsText(f.c, f.h, f.s, f.n);
        if (bySize.empty()) bySize = ChsText(f.c, f.h, f.s, f.n);
    }
    if (!bySize.empty()) return bySize;
    if (bigEndian) {
        uint32_t total = BE16(boot + 26) ? BE16(boot + 26) : BE32(boot + 30);
        return Records(total, bps);
    }
    uint32_t spt = LE16(boot + 24), heads = LE16(boot + 26);
    uint32_t total = LE16(boot + 19) ? LE16(boot + 19) : LE32(boot + 32);
    if (spt && heads) return ChsText(total / (spt * heads), heads, spt, bps);
    return Records(total, bps);
}

}  // namespace

bool IsATTable(const uint8_t* s, uint64_t sectors) {
    if (s[510] != 0x55 || s[511] != 0xAA || IsBootRecord(s)) return false;
    int used = 0;
    for (int k = 0; k < 4; ++k) {
        const uint8_t* e = s + 446 + 16 * k;
        if (e[0] != 0 && e[0] != 0x80) return false;
        if (e[4] == 0) continue;
        uint32_t first = LE32(e + 8), count = LE32(e + 12);
        if (first == 0 || count == 0 || first >= sectors) return false;
        ++used;
    }
    return used > 0;
}

namespace {

// The Anex86 header (.HDI, .FDI): the first value 0, header and data
// filling the file, and a geometry whose product is the data size.
bool DetectAnex86(const Probe& probe, const uint8_t* h, uint64_t size, DetectedImage& d) {
    if (size < 32 || LE32(h) != 0) return false;
    uint32_t code = LE32(h + 4), headerSize = LE32(h + 8), dataSize = LE32(h + 12);
    uint32_t secLen = LE32(h + 16), sectors = LE32(h + 20), heads = LE32(h + 24), cylinders = LE32(h + 28);
    if (headerSize < 32 || uint64_t(headerSize) + dataSize != size || headerSize > INT32_MAX) return false;
    if (!PowerOfTwo(secLen) || secLen < 128 || secLen > 4096 || sectors == 0 || sectors > 255 || heads == 0 ||
        heads > 255 || cylinders == 0 || cylinders > 65535)
        return false;
    if (uint64_t(secLen) * sectors * heads * cylinders != dataSize) return false;
    d.geometryText = ChsText(cylinders, heads, sectors, secLen);
    if (code == 0x10 || code == 0x30 || code == 0x90) {
        d.container = "FDI";
        d.road = DetectedImage::kVolume;
        d.diskStart = int32_t(headerSize);
        return true;
    }
    d.container = "HDI";
    d.road = DetectedImage::kPartitions;
    // Most hold a PC-9801 disk; an AT disk carries its master boot record.
    uint8_t first[512];
    bool at = secLen == 512 && probe.Read(headerSize, first, sizeof first) && IsATTable(first, dataSize / 512);
    d.geometry = {at ? kTableAT : kTablePC98, int32_t(headerSize), int32_t(secLen), int32_t(sectors), int32_t(heads),
                  int32_t(cylinders)};
    return true;
}

// Byte offset of a PC-9801 table entry's first sector on a disk of this geometry.
uint64_t EntryStart(const uint8_t* e, uint64_t secLen, uint64_t sectors, uint64_t heads) {
    return secLen * (e[4] + sectors * (e[5] + heads * LE16(e + 6)));
}

bool StartsOnBootRecord(const Probe& probe, const uint8_t* entry, uint32_t secLen, uint32_t sectors, uint32_t heads) {
    if (sectors == 0 || heads == 0) return false;
    uint64_t start = EntryStart(entry, secLen, sectors, heads);
    uint8_t boot[512];
    return start >= 2 * secLen && probe.Read(start, boot, sizeof boot) && IsBootRecord(boot);
}

// Volumes whose own geometry fields do not describe the disk: the heads
// and sectors per track that put the first partition on the boot sector
// found, eight heads tried first (the common PC-9801 count).
bool FitGeometry(const uint8_t* entry, uint32_t secLen, uint64_t bootAt, uint32_t& sectors, uint32_t& heads) {
    for (uint32_t k = 0; k < 255; ++k) {
        uint32_t h = k < 8 ? 8 - k : k + 1;
        for (uint32_t s = 1; s <= 255; ++s)
            if (EntryStart(entry, secLen, s, h) == bootAt && entry[4] < s && entry[5] < h) {
                sectors = s;
                heads = h;
                return true;
            }
    }
    return false;
}

// Every partition of the table begins inside the disk, each at its own place.
bool EntriesInside(const uint8_t* table, uint32_t secLen, uint32_t sectors, uint32_t heads, uint64_t size) {
    std::vector<uint64_t> starts;
    for (int k = 0; k < 8; ++k) {
        const uint8_t* e = table + 32 * k;
        if (e[0] == 0) continue;
        uint64_t start = EntryStart(e, secLen, sectors, heads);
        if (start >= size || std::find(starts.begin(), starts.end(), start) != starts.end()) return false;
        starts.push_back(start);
    }
    return true;
}

// A PC-9801 partition table in the disk's second sector whose first
// partition begins with a boot record. The geometry comes from the first
// FAT boot sector after the table: its own heads and sectors per track,
// or, when those do not lead to it, the ones that do.
bool DetectPC98(const Probe& probe, const uint8_t* head, DetectedImage& d) {
    if (IsBootRecord(head)) return false;  // a volume, not an IPL
    for (uint32_t secLen : {512u, 256u}) {
        const uint8_t* table = head + secLen;
        const uint8_t* first = nullptr;
        bool sane = true;
        for (int k = 0; k < 8 && sane; ++k) {
            const uint8_t* e = table + 32 * k;
            if (e[0] == 0) continue;
            if (LE16(e + 14) < LE16(e + 10)) sane = false;
            if (!first) first = e;
        }
        if (!sane || !first) continue;

        uint8_t boot[512];
        bool found = false;
        uint64_t at = 2 * secLen;
        for (; !found && at < kSearchLimit && probe.Read(at, boot, sizeof boot); at += secLen) found = HasFATLabel(boot);
        if (!found) continue;
        const uint64_t bootAt = at - secLen;
        uint32_t sectors = LE16(boot + 24), heads = LE16(boot + 26);
        if (!StartsOnBootRecord(probe, first, secLen, sectors, heads) &&
            !(IsBootRecord(boot) && FitGeometry(first, secLen, bootAt, sectors, heads) &&
              EntriesInside(table, secLen, sectors, heads, probe.size)))
            continue;
        uint64_t cylinders = probe.size / (uint64_t(secLen) * sectors * heads);
        d.container = "PC-9801";
        d.road = DetectedImage::kPartitions;
        d.geometry = {kTablePC98, 0, int32_t(secLen), int32_t(sectors), int32_t(heads), int32_t(cylinders)};
        d.geometryText = ChsText(cylinders, heads, sectors, secLen);
        return true;
    }
    return false;
}

// An AT master boot record: the signature, and four entries that are
// empty or lie inside the disk.
bool DetectAT(const uint8_t* s, uint64_t size, DetectedImage& d) {
    if (!IsATTable(s, size / 512)) return false;
    const uint64_t sectors = size / 512;
    d.container = "AT";
    d.road = DetectedImage::kPartitions;
    d.geometry = {kTableAT, 0, 512, 63, 16, int32_t(std::min<uint64_t>(sectors / (63 * 16), INT32_MAX))};
    d.geometryText = Records(sectors, 512);
    return true;
}

// An X68000 table ("X68K") at `at` with a Human68k partition inside the file.
bool HasX68000Table(const uint8_t* head, uint32_t at, uint32_t record, uint64_t size) {
    if (std::memcmp(head + at, "X68K", 4) != 0) return false;
    for (int k = 1; k < 8; ++k) {
        const uint8_t* e = head + at + 16 * k;
        if (std::memcmp(e, "Human68k", 8) == 0 && uint64_t(BE32(e + 8)) * record < size) return true;
    }
    return false;
}

void UseContainer(DeviceIOIF*& device, DetectedImage& d, const char* kind, std::vector<ContainerDisk> disks) {
    auto* c = new DeviceIO_Container(device, kind, std::move(disks));
    device = c;
    d.container = kind;
    const auto& all = c->Disks();
    if (all.size() == 1) {
        d.road = DetectedImage::kVolume;
        d.diskStart = 0;
        d.geometryText = GeometryText(all[0].geometry);
        return;
    }
    d.road = DetectedImage::kPartitions;
    d.geometry = {kTablePC98, 0, int32_t(all[0].geometry.sectorSize), int32_t(all[0].geometry.sectors),
                  int32_t(all[0].geometry.heads), int32_t(all[0].geometry.cylinders)};
    for (std::size_t k = 0; k < all.size(); ++k) {
        PartitionRow r;
        r.name = std::to_string(k + 1) + ": " + SjisToUtf8(all[k].name);
        r.offset = c->DiskBase(k);
        r.bytes = all[k].geometry.Bytes();
        r.start = Msg(520, {r.offset});
        r.end = Msg(520, {r.offset + r.bytes - 1});
        r.first = r.offset;
        r.last = r.offset + r.bytes - (r.bytes ? 1 : 0);
        r.unit = "byte";
        r.plainName = SjisToUtf8(all[k].name);
        r.size = Msg(1310, {uint64_t(all[k].geometry.Bytes() / 1024)});
        r.offsetText = Msg(520, {r.offset});
        r.inContainer = true;
        // Where the disk's sectors follow one another in the file, the
        // first one's place is an offset the volume can be opened at.
        const std::vector<int64_t>& data = all[k].sectorData;
        bool whole = !data.empty() && data[0] >= 0;
        for (std::size_t j = 1; whole && j < data.size(); ++j)
            whole = data[j] == data[0] + int64_t(j) * int64_t(all[k].geometry.sectorSize);
        r.fileOffset = whole ? data[0] : -1;
        d.disks.push_back(r);
        d.diskGeometry.push_back(GeometryText(all[k].geometry));
    }
}

}  // namespace

std::string ChsText(uint64_t c, uint64_t h, uint64_t s, uint64_t n) {
    return GeometryText({uint32_t(c), uint32_t(h), uint32_t(s), uint32_t(n)});
}

uint64_t ImageFileSize(const std::string& path) {
    std::string host = path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    off_t size = lseek(fd, 0, SEEK_END);
    ::close(fd);
    return size < 0 ? 0 : uint64_t(size);
}

DetectedImage DetectImage(DeviceIOIF*& device, uint64_t size) {
    DetectedImage d;
    Probe probe{device, size};
    uint8_t head[kHeadBytes] = {};
    uint32_t have = uint32_t(std::min<uint64_t>(size, kHeadBytes));
    if (have == 0 || !probe.Read(0, head, have)) return d;

    if (size >= 0x11E && std::memcmp(head, "T98HDDIMAGE.R0", 14) == 0) {
        d.container = "NHD";
        d.road = DetectedImage::kPartitions;
        d.geometry = {kTablePC98, int32_t(LE32(head + 0x110)), LE16(head + 0x11C), LE16(head + 0x11A),
                      LE16(head + 0x118), int32_t(LE32(head + 0x114))};
        d.geometryText = ChsText(LE32(head + 0x114), LE16(head + 0x118), LE16(head + 0x11A), LE16(head + 0x11C));
        return d;
    }
    // PC-9801 hard disks behind an emulator's header: Virtual98 by its
    // signature, SL9821 by its name and the partition table behind it.
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats()) {
        if (f.probe != ProbeVHD && f.probe != ProbeSLH) continue;
        const bool slh = f.probe == ProbeSLH;
        const std::string path = device->GetPath() ? device->GetPath() : "";
        const bool named = path.size() >= 4 && EqualIgnoringAsciiCase(path.substr(path.size() - 4), ".slh");
        std::optional<HardDiskLayout> l = f.probe(head, have, size);
        if (!l) continue;
        // An SL9821 header that gives the geometry needs no name; without it
        // the name and the table behind the header decide.
        const bool described = l->cylinders != 0;
        if (slh && !described && !named) continue;
        DetectedImage inner;
        Probe disk{device, l->dataBytes, l->dataOffset};
        uint8_t diskHead[kHeadBytes] = {};
        if (!disk.Read(0, diskHead, uint32_t(std::min<uint64_t>(kHeadBytes, l->dataBytes)))) continue;
        if (slh && !described && !DetectPC98(disk, diskHead, inner)) continue;
        d.container = f.kind;
        d.road = DetectedImage::kPartitions;
        if (slh && !described) {
            d.geometry = inner.geometry;
            d.geometry.DiskStart = int32_t(l->dataOffset);
            d.geometryText = inner.geometryText;
        } else {
            d.geometry = {kTablePC98, int32_t(l->dataOffset), int32_t(l->sectorSize), int32_t(l->sectors),
                          int32_t(l->heads), int32_t(l->cylinders)};
            d.geometryText = ChsText(l->cylinders, l->heads, l->sectors, l->sectorSize);
        }
        return d;
    }
    if (std::memcmp(head, kNFDSignature0, 14) == 0) {
        if (auto disk = ReadNFD(device, size)) {
            std::vector<ContainerDisk> disks;
            disks.push_back(std::move(*disk));
            UseContainer(device, d, "NFD", std::move(disks));
            return d;
        }
    }
    // Containers kept track by track: NFD r1, IMD, FDD, DCP/DCU, HFE.
    if (DeviceIO_FloppyImage* image = OpenFloppyImage(device, size)) {
        device = image;
        d.container = image->Kind();
        d.road = DetectedImage::kVolume;
        d.diskStart = 0;
        d.geometryText = GeometryText(image->Disks()[0].geometry);
        return d;
    }
    if (size >= 0x900 && std::memcmp(head, "X68SCSI1", 8) == 0 && HasX68000Table(head, 0x800, 1024, size)) {
        d.container = "X68000 SCSI";
        d.road = DetectedImage::kPartitions;
        d.geometry = {kTableX68000, 0, 1024, 0, 0, 0};
        d.geometryText = Records(BE32(head + 10), BE16(head + 8));
        return d;
    }
    if (auto disk = ReadDIM(device, size)) {
        std::vector<ContainerDisk> disks;
        disks.push_back(std::move(*disk));
        UseContainer(device, d, "DIM", std::move(disks));
        return d;
    }
    if (auto disks = ReadD88(device, size)) {
        UseContainer(device, d, "D88", std::move(*disks));
        return d;
    }
    if (DetectAnex86(probe, head, size, d)) return d;
    if (size >= 0x480 && HasX68000Table(head, 0x400, 256, size)) {
        d.container = "X68000 SASI";
        d.road = DetectedImage::kPartitions;
        d.geometry = {kTableX68000, 0, 256, 0, 0, 0};
        d.geometryText = Records(size / 256, 256);
        return d;
    }
    const uint64_t thdCylinders = LE16(head);
    if (thdCylinders && size == 256 + thdCylinders * 8 * 33 * 256) {
        d.container = "THD";
        d.road = DetectedImage::kPartitions;
        d.geometry = {kTablePC98, 256, 256, 33, 8, int32_t(thdCylinders)};
        d.geometryText = ChsText(thdCylinders, 8, 33, 256);
        return d;
    }
    if (size >= 1024 && DetectPC98(probe, head, d)) return d;
    if (size >= 1024 && DetectAT(head, size, d)) return d;
    if (size >= 512 && IsBootRecord(head)) {
        d.container = "Plain";
        d.road = DetectedImage::kVolume;
        d.geometryText = VolumeGeometry(head, size);
    }
    return d;
}

OpenedFormat& LastOpenedFormat() {
    static OpenedFormat format;
    return format;
}

void NoteOpenedFormat(const DetectedImage& d, int64_t diskStart) {
    OpenedFormat& f = LastOpenedFormat();
    f.container = d.container;
    f.geometry = d.geometryText;
    for (std::size_t k = 0; k < d.disks.size(); ++k)
        if (d.disks[k].offset == uint64_t(diskStart)) f.geometry = d.diskGeometry[k];
}
