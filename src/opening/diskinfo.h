#pragma once
// The figures of a mounted volume, as the disk information window shows them.

#include <cstdint>
#include <string>

class DiskImage;
struct OpenedFormat;

// Decimal digits with "," between groups of three: 1234567 gives "1,234,567".
std::string GroupDigits(uint64_t value);

struct DiskInfoTexts {
    std::string FileName;       // the device's path
    std::string DeviceVersion;  // the device's kind
    std::string FileSystem;
    std::string FATType;
    std::string ClusterSize;
    std::string TotalSize;
    std::string UsedSize;
    std::string FreeSize;
    std::string MaxEntries;
    std::string Container;  // the image format found; empty for a plain image
    std::string Geometry;   // "cylinders/heads/sectors/bytes" or "records/bytes"
};

DiskInfoTexts MakeDiskInfo(DiskImage& image);
// With the format the volume was opened in. A plain image's geometry is
// read from its boot record's parameter block.
DiskInfoTexts MakeDiskInfo(DiskImage& image, const OpenedFormat& format);
