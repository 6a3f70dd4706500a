#pragma once
// Human68k volumes read and built by the tests themselves, from the
// published layout and independently of the program's volume engine.
//
// The boot record comes in two forms: "X68IPL30" at 3 with a DOS-style
// little-endian parameter block at 11 (Human68k 3.x floppies), or the
// big-endian block at 18 ("Hudson soft 2.00" floppies and hard-disk
// partitions). FAT12 is packed as on DOS; FAT16 entries are big-endian.
// Entries: name bytes 0-7, extension 8-10, attribute 11, ten more name
// bytes 12-21 (NUL-padded), time 22, date 24, first cluster 26, size 28.

#include <cstdint>
#include <string>
#include <vector>

struct Human68kEntry {
    std::string name;  // 18 + 3, as stored (Shift-JIS)
    uint8_t attr = 0;
    uint32_t cluster = 0, size = 0;
};

class Human68kReader {
public:
    // Throws std::runtime_error when the boot record is of neither form.
    explicit Human68kReader(std::vector<uint8_t> volume);
    bool LittleEndianBlock() const { return little_; }
    // Every entry in use of a folder ("" or "/" the root; "A/B" below),
    // labels and any other kind included, "." and ".." left out. Throws
    // when a part of the path is not a folder.
    std::vector<Human68kEntry> List(const std::string& folder) const;
    // The data of a file, as long as its size says.
    std::vector<uint8_t> Read(const std::string& path) const;
    // Clusters no entry reaches that the FAT does not mark free.
    uint32_t LostClusters() const;

private:
    uint32_t Next(uint32_t cluster) const;
    std::vector<uint32_t> Chain(uint32_t first) const;
    std::vector<uint8_t> FolderBytes(uint32_t first) const;
    std::vector<Human68kEntry> ListCluster(uint32_t first) const;
    Human68kEntry Find(const std::string& path) const;

    std::vector<uint8_t> v_;
    bool little_ = false, fat16_ = false;
    uint32_t bps_ = 0, spc_ = 0, fat_ = 0, root_ = 0, rootBytes_ = 0, data_ = 0, clusters_ = 0;
};

// A Human68k 3.x floppy (77/2/8/1024, 2 FATs of 2 sectors, 192 root
// entries, media 0xFE) built byte by byte. Folders are listed before what
// they hold ("A", then "A/b.txt"); each folder takes one cluster with its
// "." and "..". `oneCluster` gives an empty file a cluster, as some X68000
// formatters do.
struct Human68kFile {
    std::string path;
    std::vector<uint8_t> data;
    bool folder = false;
    bool oneCluster = false;
};
std::vector<uint8_t> BuildHuman68kFloppy(const std::vector<Human68kFile>& files);
