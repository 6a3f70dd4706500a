#include "volume/volumeparams.h"
#include "device/byteorder.h"

#include <cstring>

#include "device/deviceio.h"

namespace {


constexpr uint32_t kMaxFAT12Clusters = 4084;
constexpr uint32_t kMaxFAT16Clusters = 65518;
constexpr uint32_t kSearchLimit = 0xA00000;

BootStatus DecodeFAT32BPB(const uint8_t* s, VolumeLayout& l) {
    uint32_t bps = LE16(s + 11), spc = s[13], reserved = LE16(s + 14), fats = s[16];
    uint32_t spf = LE32(s + 36);
    l.FATType = kFAT32;
    l.FAT = static_cast<int32_t>(reserved * bps);
    l.FATSize = static_cast<int32_t>(bps * spf);
    l.FATCount = fats;
    l.RootDir = LE32(s + 44);
    l.UserArea = static_cast<int32_t>(static_cast<uint32_t>(l.FATSize) * fats + static_cast<uint32_t>(l.FAT));
    l.ClusterSize = bps * spc;
    // A small volume gives its sector count in the 16-bit field.
    const uint32_t total = LE16(s + 19) ? LE16(s + 19) : LE32(s + 32);
    if (total < fats * spf + reserved) return BootBadRecord;
    l.ClustersCount = (total - fats * spf - reserved) / spc;
    return BootOk;
}

// The common tail of the FAT12/16 and Human68k decoders.
BootStatus FinishLayout(VolumeLayout& l, uint32_t kind, uint32_t fatOffset, uint32_t fatBytes, uint32_t fats,
                        uint32_t rootBytes, uint32_t clusterSize, uint32_t clusters) {
    l.FATType = kind;
    l.FAT = static_cast<int32_t>(fatOffset);
    l.FATSize = static_cast<int32_t>(fatBytes);
    l.FATCount = fats;
    l.RootDir = fatOffset + fatBytes * fats;
    l.UserArea = static_cast<int32_t>(l.RootDir + rootBytes);
    l.ClusterSize = clusterSize;
    l.ClustersCount = clusters;
    return BootOk;
}

// The kind a cluster count implies; false beyond the FAT16 range.
bool KindByCount(uint32_t clusters, uint32_t& kind) {
    if (clusters <= kMaxFAT12Clusters) kind = kFAT12;
    else if (clusters <= kMaxFAT16Clusters) kind = kFAT16;
    else return false;
    return true;
}

BootStatus DecodeFAT1216BPB(const uint8_t* s, VolumeLayout& l) {
    uint32_t bps = LE16(s + 11), spc = s[13], reserved = LE16(s + 14), fats = s[16];
    uint32_t rootEntries = LE16(s + 17), spf = LE16(s + 22);
    uint32_t fatOffset = bps * reserved, fatBytes = spf * bps, rootBytes = rootEntries * 32;
    uint32_t rootSectors = rootBytes / bps;
    uint32_t systemSectors = fats * spf + reserved + rootSectors;
    uint32_t total = LE16(s + 19) ? LE16(s + 19) : LE32(s + 32);
    // A volume smaller than its own system area has no cluster count to trust.
    if (total < systemSectors) return BootBadRecord;
    uint32_t clusters = (total - systemSectors) / spc;
    uint32_t kind = kFAT12;
    if (std::memcmp(s + 54, "FAT12", 5) == 0) kind = kFAT12;
    else if (std::memcmp(s + 54, "FAT16", 5) == 0) kind = kFAT16;
    else if (!KindByCount(clusters, kind)) return BootBadRecord;
    return FinishLayout(l, kind, fatOffset, fatBytes, fats, rootBytes, bps * spc, clusters);
}

bool Plausible(uint32_t bps, uint32_t spc, uint32_t fats) {
    return bps >= 256 && bps <= 4096 && (bps & (bps - 1)) == 0 && spc != 0 && (spc & (spc - 1)) == 0 && fats != 0 &&
           fats <= 4;
}

}  // namespace

bool IsX68000BootRecord(const uint8_t* r) { return r[0] == 0x60; }

bool HasLittleEndianBPB(const uint8_t* r) {
    if (!IsX68000BootRecord(r) || std::memcmp(r + 2, "Hudson soft", 11) == 0) return false;
    if (std::memcmp(r + 3, "X68IPL30", 8) == 0) return true;
    // Without the name: the parameter block that makes sense, the
    // big-endian one where both do.
    return Plausible(LE16(r + 11), r[13], r[16]) && !Plausible(BE16(r + 18), r[20], r[21]);
}

bool SetLayoutFromBlock(VolumeLayout& l, const int32_t b[10]) {
    if (b[0] < 0) return false;
    l.DiskStart = b[0];
    l.FileSystem = uint32_t(b[1]);
    l.FATType = uint32_t(b[2]);
    l.FAT = b[3];
    l.FATSize = b[4];
    l.FATCount = uint32_t(b[5]);
    l.RootDir = uint32_t(b[6]);
    l.UserArea = b[7];
    l.ClusterSize = uint32_t(b[8]);
    l.ClustersCount = uint32_t(b[9]);
    return true;
}

BootStatus DecodeFATBootSector(const uint8_t* s, VolumeLayout& l) {
    if (std::memcmp(s + 2, "Hudson soft", 11) == 0) {
        l.FileSystem = kFileSystemHuman68k;
        return DecodeHuman68kBootSector(s, l);
    }
    // A 68000 branch where a PC has its jump: an X68000 disk, whose
    // folders hold Human68k entries whichever parameter block it carries.
    if (IsX68000BootRecord(s)) {
        l.FileSystem = kFileSystemHuman68k;
        return DecodeHuman68kBootSector(s, l);
    }
    if (s[13] == 0) return BootBadClusterSize;
    uint16_t bps = LE16(s + 11);
    if (bps == 0 || (bps & 0xFF) != 0) return BootBadSectorSize;
    if (LE16(s + 17) == 0 && LE16(s + 22) == 0 && std::memcmp(s + 82, "FAT32", 5) == 0)
        return DecodeFAT32BPB(s, l);
    return DecodeFAT1216BPB(s, l);
}

BootStatus DecodeHuman68kBootSector(const uint8_t* r, VolumeLayout& l) {
    if (HasLittleEndianBPB(r)) {
        if (r[13] == 0) return BootBadClusterSize;
        uint16_t bps = LE16(r + 11);
        if (bps == 0 || (bps & 0xFF) != 0) return BootBadSectorSize;
        return DecodeFAT1216BPB(r, l);
    }
    uint32_t bps = BE16(r + 18), spc = r[20], fats = r[21], reserved = BE16(r + 22);
    uint32_t rootEntries = BE16(r + 24), spf = r[29];
    if (spc == 0) return BootBadRecord;
    // A zero sector size would divide by zero below.
    if (bps == 0) return BootBadSectorSize;
    uint32_t fatOffset = reserved * bps, fatBytes = spf * bps, rootBytes = rootEntries * 32;
    uint32_t rootSectors = rootBytes / bps;
    uint32_t systemSectors = rootSectors + reserved + spf * fats;
    uint32_t total = BE16(r + 26) ? BE16(r + 26) : BE32(r + 30);
    if (total < systemSectors) return BootBadRecord;
    uint32_t clusters = (total - systemSectors) / spc;
    uint32_t kind = kFAT12;
    if (!KindByCount(clusters, kind)) return BootBadRecord;
    return FinishLayout(l, kind, fatOffset, fatBytes, fats, rootBytes, spc * bps, clusters);
}

BootStatus DecodeFATBootRecord(VolumeParams& p) {
    uint8_t sector[512];
    if (!p.Device || !p.Device->Read(p.DiskStart, sector, sizeof sector)) return BootReadError;
    return DecodeFATBootSector(sector, p);
}

BootStatus DecodeHuman68kBootRecord(VolumeParams& p) {
    uint8_t record[kHuman68kRecordBytes];
    if (!p.Device || !p.Device->Read(p.DiskStart, record, sizeof record)) return BootReadError;
    return DecodeHuman68kBootSector(record, p);
}

BootStatus DecodeBootRecord(VolumeParams& p) {
    if (p.FileSystem == kFileSystemDOS) return DecodeFATBootRecord(p);
    if (p.FileSystem == kFileSystemHuman68k) return DecodeHuman68kBootRecord(p);
    return BootBadFileSystem;
}

unsigned BootStatusMessage(BootStatus status) {
    switch (status) {
        case BootBadFileSystem: return 301;
        case BootBadSectorSize: return 302;
        case BootBadClusterSize: return 303;
        case BootBadRecord: return 304;
        default: return 305;
    }
}

bool FindFATBootSector(DeviceIOIF* device, int64_t start, int32_t step, uint32_t& found, uint8_t* buffer) {
    if (!device || step <= 0) return false;
    for (uint64_t i = 0;; ++i) {
        uint64_t offset = i * static_cast<uint64_t>(step);
        if (offset >= kSearchLimit) return false;
        if (!device->Read(start + static_cast<int64_t>(offset), buffer, 512)) return false;
        if (std::memcmp(buffer + 54, "FAT16   ", 8) == 0 || std::memcmp(buffer + 54, "FAT12   ", 8) == 0 ||
            std::memcmp(buffer + 82, "FAT32   ", 8) == 0) {
            found = static_cast<uint32_t>(offset);
            return true;
        }
    }
}
