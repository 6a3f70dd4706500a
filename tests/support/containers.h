#pragma once
// Image files of the formats the program detects by content, written byte
// by byte from the formats' published layouts, independently of the
// program's own readers: D88, NFD r0 and DIM floppy containers, X68000
// SCSI and SASI disks, PC-9801 hard disks without a header and with a THD
// header, and AT disks. Each writer tells where it put every sector, so
// that a test can read the volume back out of the container after the
// program has changed it.

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/images.h"

using HostFiles = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

// A PC-9801 2HD floppy volume (77 cylinders, 2 heads, 8 sectors of 1024
// bytes) made by mkfs.fat and filled by mcopy.
std::vector<uint8_t> MakeFloppyVolume(const HostFiles& files);

// Where each logical sector of each disk lies in a container file (in
// cylinder, head, sector order; -1: not stored).
struct SectorMap {
    uint32_t sectorSize = 1024;
    std::vector<std::vector<int64_t>> disks;
    // Every byte range of the file that holds sector data.
    std::vector<std::pair<int64_t, int64_t>> DataRanges() const;
};
// The volume of disk `disk` read back out of the file; absent sectors read as zeros.
std::vector<uint8_t> ExtractVolume(const std::string& path, const SectorMap& map, std::size_t disk = 0);

struct D88Disk {
    std::string name;
    std::vector<uint8_t> volume;  // 77/2/8/1024
    std::set<uint32_t> absentTracks;  // cylinder * 2 + head
    uint32_t shuffleSeed = 0;  // non-zero: the records of each track in a random order
    bool shortTable = false;   // 160 track offsets, the first track at 0x2A0
};
SectorMap WriteD88(const std::string& path, const std::vector<D88Disk>& disks);

// One sector record of a D88 track, every field as stored.
struct D88Record {
    uint8_t c = 0, h = 0, r = 0, n = 3;
    uint8_t density = 0x00, deleted = 0x00, status = 0x00;  // 0x40 single density, 0x10 deleted data
    std::vector<uint8_t> data;
};
using D88Tracks = std::vector<std::vector<D88Record>>;  // index cylinder * 2 + head; empty: absent
// The tracks of a plain volume laid out as cylinders x 2 heads x sectors x bytes, records in sector order.
D88Tracks TracksOfVolume(const std::vector<uint8_t>& volume, uint32_t sectors, uint32_t bytes);
// A D88 file of one disk holding `tracks` as given (media 0x20 2HD, 0x10 2DD).
void WriteD88Tracks(const std::string& path, const std::string& name, uint8_t media, bool writeProtected,
                    const D88Tracks& tracks);

// NFD r0 of a 77/2/8/1024 volume; the map of each track lists its sectors
// shuffled. Unused slots are 0xFF and track 1 ends with a record numbered
// 0 whose data take room; `earlierWriter`: unused slots all zero and the
// disk type at byte 11, as this program once wrote them.
SectorMap WriteNFD(const std::string& path, const std::vector<uint8_t>& volume, bool earlierWriter = false);

// DIM of type 2HD (77/2/8/1024) without the tracks in `absentTracks`.
SectorMap WriteDIM(const std::string& path, const std::vector<uint8_t>& volume, const std::set<uint32_t>& absentTracks);

// A Human68k volume (1024-byte sectors, FAT16) holding HUMAN.TXT with `text`.
std::vector<uint8_t> MakeHuman68kVolume(const std::string& text);
// The same volume as a DOS FAT volume (little-endian boot sector, FAT16
// entries swapped), so that fsck.fat and mtools can judge it. A Human68k
// 3.x floppy ("X68IPL30") gets only a PC's jump and the label fields.
std::vector<uint8_t> Human68kAsFat(const std::vector<uint8_t>& volume);

// An X68000 disk with one Human68k partition holding `volume`: SCSI
// ("X68SCSI1", table at 0x800, records of 1024 bytes, partition at record
// 32) or SASI (table at 0x400, records of 256 bytes, partition at record
// 64). Returns the partition's byte offset.
uint64_t WriteX68000Disk(const std::string& path, bool scsi, const std::vector<uint8_t>& volume);

// A PC-9801 hard disk: IPL in sector 0, partition table in sector 1, and
// in each partition (cylinders first..last) a FAT16 volume made by
// mkfs.fat with the disk's heads, sectors per track and hidden sectors,
// holding PARTn.TXT. With `thd`, a 256-byte THD header (cylinder count)
// comes first and the geometry must be 8 heads, 33 sectors of 256 bytes.
// Returns each partition's byte offset in the file.
struct PC98Disk {
    uint32_t secLen = 512, sectors = 17, heads = 8, cylinders = 100;
    bool thd = false;
};
std::vector<uint64_t> WritePC98Disk(const std::string& path, const PC98Disk& g,
                                    const std::vector<std::pair<uint32_t, uint32_t>>& parts);

// An AT disk of `mib` MiB partitioned by sfdisk: one FAT16 partition at
// sector 2048 holding PART1.TXT. Returns its byte offset.
uint64_t WriteATDisk(const std::string& path, unsigned mib);

// The disk inside a container file, unwrapped by the test from the
// containers' published layouts: "D88" (the first disk), "NFD" (r0), "DIM",
// "FDI" and "HDI" (Anex86), "NHD" (T98-Next), "THD", "NFD r1", "IMD",
// "FDD", "DCP", "HFE" (decoded by the test's own MFM reader), "Virtual98
// HDD"; any other kind is the file as it stands. Sectors in cylinder, head, sector order.
struct PlainDisk {
    std::vector<uint8_t> bytes;
    uint32_t secLen = 0, sectors = 0, heads = 0;  // 0: the container does not say
};
PlainDisk UnwrapContainer(const std::string& path, const std::string& kind);

// Bytes [offset, offset + length) of a file, and their replacement.
std::vector<uint8_t> ReadRange(const std::string& path, uint64_t offset, uint64_t length);
void WriteRange(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes);

// Track-by-track containers of a 77/2/8/1024 volume, written from their
// published layouts. Where the map has -1, the sector is not stored as
// plain bytes (a fill byte, or inside an HFE track).
struct TrackImageOptions {
    bool fillUniform = false;   // IMD, FDD: sectors of one repeated byte kept as that byte
    std::set<uint32_t> absentTracks;  // DCP: tracks left out of the map
    int errorSector = -1;       // IMD: this logical sector recorded with a data error; HFE: with a bad data CRC
    bool retries = false;       // NFD r1: sector 1 of track 0 kept as three copies, and a special read on track 0
};
SectorMap WriteNFD1(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o = {});
SectorMap WriteIMD(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o = {});
SectorMap WriteFDD(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o = {});
SectorMap WriteDCP(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o = {});
// HFE revision 1, 500 kbit/s, 360 rpm, the sectors of each track MFM-encoded
// by the test itself in a shuffled order.
void WriteHFE(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o = {});
// A Virtual98 hard disk: the "VHD1.00" header, then the disk of `g` written as WritePC98Disk does.
std::vector<uint64_t> WriteVirtual98Disk(const std::string& path, const PC98Disk& g,
                                         const std::vector<std::pair<uint32_t, uint32_t>>& parts, bool slh = false);
