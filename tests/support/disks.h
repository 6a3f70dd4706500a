#pragma once
// Hard-disk images for the opening tests: PC-9801 disks with their
// partition table, plain or behind an Anex86 or T98-Next header, and
// X68000 disks. Each partition holds a volume made by mkfs.fat and filled
// with one file, PARTn.TXT, whose text names the partition.

#include <cstdint>
#include <string>
#include <vector>

enum class PC98Header { None, Anex86, T98Next };

struct PC98Geometry {
    uint32_t secLen = 512, sectors = 17, heads = 8, cylinders = 120;
};

// Partitions are given by first and last cylinder.
struct PC98Partition {
    uint32_t startCyl, endCyl;
    std::string name;
};

// Returns the byte offset of each partition's volume inside the file.
std::vector<uint32_t> MakePC98Disk(const std::string& path, PC98Header header, const PC98Geometry& g,
                                   const std::vector<PC98Partition>& parts);

// An Anex86 floppy image: a 4096-byte header with type code 0x90, then a
// 1.2 MB FAT12 floppy holding FLOPPY.TXT.
void MakeAnex86Floppy(const std::string& path);

// Puts a FAT16 volume of `kib` KiB with PARTn.TXT (n = `number`) at byte `offset` of `path`.
void PutVolumeAt(const std::string& path, uint64_t offset, unsigned kib, int number);
