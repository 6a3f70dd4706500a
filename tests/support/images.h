#pragma once
// Helpers for tests that work on real image files: temporary folders,
// reference images made by mkfs.fat and mtools, fsck.fat, and a device in
// memory.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/deviceio.h"
#include "volume/diskimage.h"

// A fresh folder under the system's temporary path, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command; returns its exit status and fills `output` with
// stdout and stderr together.
int RunShell(const std::string& command, std::string* output = nullptr);
std::string Quote(const std::string& s);

std::vector<uint8_t> ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed);

// mkfs.fat: an image of `kib` KiB with FAT `bits` (12, 16, 32) and extra options.
void MakeFatImage(const std::string& path, unsigned kib, int bits, const std::string& extra = "");

// fsck.fat -n on the image; true when it reports no problem. The report goes to `report`.
bool FsckClean(const std::string& path, std::string* report = nullptr);

// fsck.fat -n on the image, allowing only the complaint about clusters that
// no entry reaches (what releasing entries leaves behind).
bool FsckCleanButLost(const std::string& path, std::string* report = nullptr);
// Runs fsck.fat -n and returns what it found, one line each: its banner,
// its summary and its closing words left out. The whole output goes to
// `report`, its exit status to `status`.
std::vector<std::string> FsckFindings(const std::string& path, std::string* report = nullptr, int* status = nullptr);

// The free clusters mtools counts (mdir's "bytes free" over the cluster size).
long MtoolsFreeClusters(const std::string& path, uint32_t clusterSize);

// A volume mounted over a file device, for engine tests.
struct Mounted {
    std::unique_ptr<DiskImage> image;
    explicit operator bool() const { return image != nullptr; }
    DiskImage* operator->() const { return image.get(); }
};
Mounted MountImageFile(const std::string& path, int32_t diskStart = 0, uint32_t fileSystem = 0);

// A device over bytes in memory that counts what is done to it.
class MemoryDevice : public DeviceIOIF {
public:
    explicit MemoryDevice(std::vector<uint8_t> bytes, bool readOnly = false)
        : data(std::move(bytes)), readOnly_(readOnly) {}
    const char* GetName() override { return "memory"; }
    const char* GetPath() override { return "memory"; }
    bool IsReadOnly() override { return readOnly_; }
    bool Read(int64_t offset, void* buffer, uint32_t length) override;
    bool Write(int64_t offset, const void* buffer, uint32_t length) override;
    bool MakeReadOnly() override {
        readOnly_ = true;
        return true;
    }
    void Destroy() override {
        if (destroyed) *destroyed = true;
        delete this;
    }

    std::vector<uint8_t> data;
    int reads = 0, writes = 0;
    bool* destroyed = nullptr;

private:
    bool readOnly_;
};

// Builds a chain of `depth` folders in a FAT image file, each holding the
// next as "D" (and, for a ladder, as "E" too), the first as "D" of the
// root. False when it could not be written.
bool BuildFolderChain(const std::string& image, int depth, bool ladder);

// Builds a Human68k volume byte by byte: big-endian boot record carrying
// "Hudson soft", byte-swapped FAT16 (or FAT12 when small), 1024-byte sectors.
struct Human68kLayout {
    uint32_t bytesPerSector = 1024;
    uint32_t sectorsPerCluster = 1;
    uint32_t fats = 2;
    uint32_t reserved = 1;
    uint32_t rootEntries = 512;
    uint32_t sectorsPerFAT = 16;
    uint32_t totalSectors = 8192;
};
std::vector<uint8_t> BuildHuman68kImage(const Human68kLayout& layout);

// Stores a FAT16 big-endian entry in every FAT copy of a Human68k image.
void SetHuman68kFAT16(std::vector<uint8_t>& img, const Human68kLayout& layout, uint32_t cluster, uint16_t value);

// Fills a 32-byte directory entry with a Human68k name (up to 18 + 3).
void PutHuman68kEntry(uint8_t* e, const std::string& base, const std::string& ext, uint8_t attr, uint16_t cluster,
                      uint32_t size);
