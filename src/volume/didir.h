#pragma once
// One directory of the mounted volume, held in memory: its 32-byte entries,
// addressed by index in on-disk order. Changes stay in memory until Write;
// FAT changes and cluster contents are written to the device at once.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "device/sjis.h"
#include "device/userinterface.h"
#include "volume/diskimage.h"

enum EntryAttr : uint8_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolume = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
};

constexpr uint8_t kDeletedMark = 0xE5;
// Stored in place of a first name byte 0xE5.
constexpr uint8_t kStoredE5 = 0x05;


// A moment as local calendar time, as directory entries store it.
SystemTime LocalTimeOf(std::time_t when);
// The current local time.
SystemTime LocalTimeNow();

class DIDir {
public:
    DIDir(DiskImage* image, uint32_t firstCluster) : Image(image), FirstCluster(firstCluster) {}

    bool Load();
    bool Write();
    void Clear();

    uint32_t GetCluster() const { return FirstCluster; }
    uint32_t GetCount() const { return Count; }
    bool IsValidIndex(int i) const { return loaded_ && i >= 0 && uint32_t(i) < Count; }
    DiskImage* GetImage() const { return Image; }

    int Find(const std::string& name) const;
    bool IsFree(int i) const;
    std::string GetDisplayName(int i) const;
    std::string GetAttrText(int i) const;
    std::string GetTimeText(int i) const;
    uint8_t GetAttr(int i) const;
    SystemTime GetTime(int i) const;
    int64_t GetStartCluster(int i) const;
    uint32_t GetSize(int i) const;
    // The raw 32 bytes of an entry (nullptr for an invalid index).
    const uint8_t* RawEntry(int i) const;

    // The stored form of a host name (Shift-JIS bytes): "BASE.EXT".
    std::string ToDiskName(const std::string& hostName) const;

    bool SetName(int i, const std::string& hostName);
    bool SetAttr(int i, uint8_t attr);
    bool SetTime(int i, const SystemTime& t);
    bool SetStartCluster(int i, uint32_t cluster);
    bool SetSize(int i, uint32_t size);

    bool Delete(int i);
    bool DeleteAll();
    bool Release(int i);
    int MoveTo(int i, DIDir& target);
    int AddEntry(const std::string& name);
    int MakeDir(const std::string& name);

private:
    uint8_t* Entry(int i) { return Entries.data() + std::size_t(i) * 32; }
    const uint8_t* Entry(int i) const { return Entries.data() + std::size_t(i) * 32; }
    bool IsHuman68k() const { return Image->FileSystem == kFileSystemHuman68k; }
    // The display name of a valid entry i written into `out`; its length.
    static constexpr std::size_t kMaxDisplayName = 24;
    std::size_t DisplayNameInto(int i, char* out) const;
    // `open` holds the first clusters of the folders being deleted around
    // this one, so that a folder that refers back to one of them is not
    // followed again.
    bool DeleteAt(int i, std::vector<uint32_t>& open);
    bool DeleteAllAt(std::vector<uint32_t>& open);

    DiskImage* Image;
    uint32_t FirstCluster;
    std::vector<uint8_t> Entries;
    uint32_t Count = 0;
    bool loaded_ = false;
};

// Entry date and time words for a calendar time, and back.
void PackDosTime(const SystemTime& t, uint16_t& date, uint16_t& time);
SystemTime UnpackDosTime(uint16_t date, uint16_t time);
