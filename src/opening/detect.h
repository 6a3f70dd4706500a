#pragma once
// Detection by content: what an image file is, judged from its first bytes
// and its size, and how its volume is reached. The first certain match
// wins, in this order: T98-Next hard disk, Virtual98 hard disk, SL9821
// hard disk (by its .slh name and the table behind its header), NFD r0,
// the containers kept track by track (NFD r1, IMD, Virtual98 FDD, HFE,
// DCP/DCU by name), X68000 SCSI disk, DIM, D88, Anex86 (hard disk or floppy), X68000 SASI disk, T98 hard disk
// (THD), PC-9801 hard disk without a header, AT master boot record, and a
// FAT or Human68k boot record at byte 0. A file that matches nothing is
// read as a plain image.

#include <cstdint>
#include <string>
#include <vector>

#include "opening/hddpart.h"

class DeviceIOIF;

struct DetectedImage {
    enum Road {
        kPlain,       // nothing matched: the boot record at byte 0
        kVolume,      // the volume begins at `diskStart`
        kPartitions,  // the partition dialog, on `geometry`
        kRefused,     // a format known but not readable (reported)
    };
    Road road = kPlain;
    std::string container;  // the format's name for `info`; empty when nothing matched
    int32_t diskStart = 0;
    HDDGeometry geometry;
    // A container holding several disks: the rows the partition dialog
    // lists instead of a table, and each disk's geometry.
    std::vector<PartitionRow> disks;
    std::vector<std::string> diskGeometry;
    std::string geometryText;  // "cylinders/heads/sectors/bytes", or "records/bytes"
};

// Looks at the image behind `device`, a file of `size` bytes. Reads only
// inside the file and shows nothing unless the format is refused. When the
// file is a floppy container (D88, NFD, DIM, IMD, FDD, DCP, HFE), `device`
// is replaced by a container device that owns the one given.
[[nodiscard]] DetectedImage DetectImage(DeviceIOIF*& device, uint64_t size);

// The signature of an AT master boot record in `sector` (512 bytes), and
// four entries that are empty or lie inside a disk of `sectors` sectors,
// one at least in use.
bool IsATTable(const uint8_t* sector, uint64_t sectors);

// "cylinders/heads/sectors/bytes per sector".
std::string ChsText(uint64_t c, uint64_t h, uint64_t s, uint64_t n);

// The size of what `path` names (image files and block devices), or 0.
uint64_t ImageFileSize(const std::string& path);

// The format of the volume opened last, for the disk figures: the
// container's name and geometry, empty when the opening road did not look
// at the image's format.
struct OpenedFormat {
    std::string container, geometry;
};
OpenedFormat& LastOpenedFormat();
// Records what `detected` found, for the disk that begins at `diskStart`.
void NoteOpenedFormat(const DetectedImage& detected, int64_t diskStart);
