#pragma once
// What an image file really is, told without opening a volume: the
// container by content and what its name suggests, header fields that
// disagree with the file's size, the geometry, for floppies every disk's
// sector sizes and anomalies (sectors of another size, deleted marks,
// error statuses, missing, duplicate and foreign IDs, single density), for
// hard disks the partition table and each partition's file system and
// label (as its boot sector records it).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class DeviceIOIF;

struct IdentifiedFloppy {
    std::string name;  // as stored (Shift-JIS)
    bool writeProtected = false;
    std::string media;     // "2HD", "2DD", ...
    std::string geometry;  // the layout most tracks have
    uint32_t tracks = 0;   // tracks that hold sectors
    std::map<uint32_t, uint64_t> sectorSizes;  // bytes -> sectors of that size
    std::string fileSystem, label;  // as the first sector (0/0/1) records them
    // Anomalies by kind ("mixedSizes", "deletedMarks", ...), and where the first one of each lies.
    std::map<std::string, uint64_t> anomalies;
    std::map<std::string, std::string> firstAt;
};

struct IdentifiedPartition {
    std::string name;
    uint64_t offset = 0, bytes = 0;
    std::string fileSystem;  // "FAT12", "FAT16", "FAT32", "Human68k", or "" when none is recognised
    std::string label;
};

struct IdentifyReport {
    std::string path;
    uint64_t fileBytes = 0;
    bool isImage = false;
    std::string container;     // by content
    std::string nameSuggests;  // the container the extension names, when it differs from the content's
    std::vector<std::string> headerNotes;  // header fields that disagree with the file
    std::string geometry;
    std::vector<IdentifiedFloppy> disks;  // floppies: one per disk of the file
    std::string table;                     // hard disks: "PC-9801", "AT", "X68000"
    std::vector<IdentifiedPartition> partitions;
};

IdentifyReport IdentifyImage(const std::string& path);
// The same for an image already open on `device` (`size` bytes).
IdentifyReport IdentifyDevice(DeviceIOIF* device, uint64_t size, const std::string& path);

// "Key: value" lines, and one JSON object.
std::string IdentifyText(const IdentifyReport& report);
std::string IdentifyJson(const IdentifyReport& report);
