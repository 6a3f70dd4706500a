#pragma once
// New volumes: the layout a system's own format command gives a disk of a
// given size, and the bytes of its system area (boot record, FAT copies,
// root folder). Everything after the system area is zeros, which a new
// file already holds. The boot record carries no boot program: only the
// marks a system looks for to take the volume as formatted (the jump and
// 0x55AA of a FAT boot sector; of a Human68k one the 68000 branch, which
// here branches to itself, and "X68IPL30" or "Hudson soft 2.00").

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "volume/volumeparams.h"

struct NewVolume {
    uint32_t fileSystem = kFileSystemDOS;
    // Human68k only: the floppy form of Human68k 3.x ("X68IPL30" and the
    // DOS-style little-endian parameter block at 11) instead of the
    // big-endian record of hard-disk partitions.
    bool x68000Floppy = false;
    uint32_t fatType = kFAT12;
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 1;
    uint32_t reserved = 1;
    uint32_t fats = 2;
    uint32_t rootEntries = 224;
    uint32_t sectorsPerFAT = 0;  // filled by FinishLayout
    uint32_t totalSectors = 0;
    uint8_t media = 0xF0;
    uint32_t sectorsPerTrack = 0, heads = 0;  // FAT boot sectors only
    uint32_t hiddenSectors = 0;               // sectors before the volume on its disk
    std::string label;                        // stored form, 11 bytes; empty: none

    uint32_t RootSectors() const { return (rootEntries * 32 + bytesPerSector - 1) / bytesPerSector; }
    uint32_t SystemSectors() const { return reserved + fats * sectorsPerFAT + RootSectors(); }
    uint32_t Clusters() const { return (totalSectors - SystemSectors()) / sectorsPerCluster; }
    uint64_t Bytes() const { return uint64_t(totalSectors) * bytesPerSector; }
};

// The largest cluster count a FAT16 volume holds here (and Human68k reads).
constexpr uint32_t kMaxFAT16Clusters = 65518;
// The fewest clusters of a FAT16 volume.
constexpr uint32_t kMinFAT16Clusters = 4085;

// Sizes the FAT copies for the clusters they must number, and picks FAT12
// or FAT16 by the cluster count. A FAT16 volume with more clusters than
// kMaxFAT16Clusters is cut at its end to that count. False when the volume
// is too small for one cluster.
bool FinishLayout(NewVolume& v);

// A FAT16 volume as DOS formats a hard-disk partition of `sectors` sectors
// of 512 bytes: 512 root entries, media 0xF8, the cluster size of the
// partition's size class (2 KiB up to 128 MiB, ... 32 KiB up to 2 GiB).
NewVolume HardDiskFAT16(uint64_t sectors, uint32_t sectorsPerTrack, uint32_t heads, uint32_t hidden);

// A Human68k hard-disk volume of `bytes` bytes: 1024-byte records, 512
// root entries, media 0xF7 on SCSI and 0xF8 on SASI, the smallest cluster from 1 KiB to 32 KiB that keeps the
// count within kMaxFAT16Clusters.
NewVolume HardDiskHuman68k(uint64_t bytes, bool scsi);

// The system area: from the boot record to the end of the root folder
// (SystemSectors() sectors). `serial` is the FAT volume serial number.
std::vector<uint8_t> VolumeSystemArea(const NewVolume& v, uint32_t serial);

// The stored form of a volume label (11 bytes, padded with spaces): UTF-8
// text turned into Shift-JIS, upper case on FAT. Nothing when the text is
// empty, longer than 11 bytes, or holds a character names may not hold.
std::optional<std::string> LabelStoredForm(const std::string& text, bool human68k);
