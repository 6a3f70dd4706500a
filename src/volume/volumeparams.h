#pragma once
// The description of one volume: the device it lies on and ten layout
// values, as decoded from the volume's boot record, given by a profile or a
// plug-in, or typed by hand. All offsets are bytes counted from DiskStart,
// which is 64-bit: a partition may begin anywhere on a large disk.

#include <cstdint>

class DeviceIOIF;

// Human68k names the folders' entries (18 + 3 names, case kept, no long-name
// slots) whatever the FAT: FAT12 is packed as on DOS (X68000 floppies),
// FAT16 entries are big-endian (Human68k hard-disk partitions).
enum FileSystemKind : uint32_t { kFileSystemDOS = 0, kFileSystemHuman68k = 1 };
enum FATKind : uint32_t { kFAT12 = 0, kFAT16 = 1, kFAT32 = 2 };

// The ten values, in this order, are also the 40-byte parameter block of
// profiles and plug-in answers; there DiskStart is 32-bit (see
// SetLayoutFromBlock).
struct VolumeLayout {
    int64_t DiskStart = 0;
    uint32_t FileSystem = 0;
    uint32_t FATType = 0;
    int32_t FAT = 0;
    int32_t FATSize = 0;
    uint32_t FATCount = 0;
    uint32_t RootDir = 0;
    int32_t UserArea = 0;
    uint32_t ClusterSize = 0;
    uint32_t ClustersCount = 0;
};

// Takes the ten values of a 40-byte parameter block, in their order. A
// block's DiskStart is a signed 32-bit byte offset: false (and nothing
// taken) for a negative one, which names no place on a disk.
bool SetLayoutFromBlock(VolumeLayout& layout, const int32_t block[10]);

struct VolumeParams : VolumeLayout {
    DeviceIOIF* Device = nullptr;
};

enum BootStatus : int {
    BootOk = 0,
    BootBadFileSystem = 1,
    BootReadError = 2,
    BootBadSectorSize = 3,
    BootBadClusterSize = 4,
    BootBadRecord = 5,
};

// Fills the layout from the boot record at DiskStart (FileSystem chooses the
// decoder; a FAT record carrying "Hudson soft" or beginning with a 68000
// branch switches it to Human68k).
BootStatus DecodeBootRecord(VolumeParams& params);
BootStatus DecodeFATBootRecord(VolumeParams& params);
BootStatus DecodeHuman68kBootRecord(VolumeParams& params);

// Decoders over a boot record already in memory (512 bytes for FAT, at least
// kHuman68kRecordBytes for Human68k); used by the device decoders and by the
// manual dialog. A Human68k record is read in one of two forms: the
// big-endian one of hard-disk partitions and "Hudson soft 2.00" floppies,
// or the little-endian DOS-style block at 11 of "X68IPL30" floppies.
constexpr uint32_t kHuman68kRecordBytes = 64;
BootStatus DecodeFATBootSector(const uint8_t* sector, VolumeLayout& layout);
BootStatus DecodeHuman68kBootSector(const uint8_t* record, VolumeLayout& layout);

// A boot record that begins with a 68000 branch (0x60): an X68000 disk.
bool IsX68000BootRecord(const uint8_t* record);
// An X68000 boot record whose parameter block is the little-endian DOS one
// at 11 ("X68IPL30" at 3, or that block alone making sense).
bool HasLittleEndianBPB(const uint8_t* record);

// The catalogue message a caller shows for a failed status (301..305).
unsigned BootStatusMessage(BootStatus status);

// Looks for a FAT boot sector at start, start + step, ... below 10 MiB past
// start. On success `buffer` (512 bytes) holds it and `found` its offset
// relative to start. A step of 0 or less is refused.
bool FindFATBootSector(DeviceIOIF* device, int64_t start, int32_t step, uint32_t& found, uint8_t* buffer);
