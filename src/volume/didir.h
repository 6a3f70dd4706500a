#pragma once
// One directory of the mounted volume, held in memory: its 32-byte entries,
// addressed by index in on-disk order. Changes stay in memory until Write;
// FAT changes and cluster contents are written to the device at once.

#include <cstdint>
#include <ctime>
#include <functional>
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
// What a name lookup gives when several entries match without regard to
// case and none exactly: the name is taken, yet names no one entry.
constexpr int kAmbiguousName = -2;
// Stored in place of a first name byte 0xE5.
constexpr uint8_t kStoredE5 = 0x05;


// A moment as local calendar time, as directory entries store it.
SystemTime LocalTimeOf(std::time_t when);
// The current local time.
SystemTime LocalTimeNow();

class DIDir {
public:
    DIDir(DiskImage* image, uint32_t firstCluster) : Image(image), FirstCluster(firstCluster) {}

    // `quiet`: a folder without its "." entry is read without a message.
    [[nodiscard]] bool Load(bool quiet = false);
    // Writes the clusters of the directory that changed since it was loaded
    // or last written.
    [[nodiscard]] bool Write();
    void Clear();

    uint32_t GetCluster() const { return FirstCluster; }
    uint32_t GetCount() const { return Count; }
    bool IsValidIndex(int i) const { return loaded_ && i >= 0 && uint32_t(i) < Count; }
    DiskImage* GetImage() const { return Image; }

    // Index of the live entry named `name` (8.3, Shift-JIS), letters
    // compared without regard to case; the entry whose name is written
    // exactly so wins. -1 for none; kAmbiguousName when several match
    // without regard to case and none exactly.
    int Find(const std::string& name) const;
    bool IsFree(int i) const;
    // The "." or ".." entry of a folder (and not a name that merely begins
    // with a full stop, which other systems make).
    bool IsDotEntry(int i) const;
    // True when `hostName` may name a new entry: not ".", "..", nor made
    // only of spaces and full stops, and with a base name left after the
    // conversion to the stored form.
    bool IsValidNewName(const std::string& hostName) const;
    std::string GetDisplayName(int i) const;
    std::string GetAttrText(int i) const;
    std::string GetTimeText(int i) const;
    uint8_t GetAttr(int i) const;
    SystemTime GetTime(int i) const;
    int64_t GetStartCluster(int i) const;
    uint32_t GetSize(int i) const;
    // The raw 32 bytes of an entry (nullptr for an invalid index).
    const uint8_t* RawEntry(int i) const;
    // Puts back the 32 bytes of an entry taken with RawEntry (in memory).
    void RestoreEntry(int i, const uint8_t* raw);

    // The stored form of a host name (Shift-JIS bytes): "BASE.EXT". Full
    // stops at the start of the name are left out, so that ".gitignore"
    // keeps its letters: "GITIGNOR".
    std::string ToDiskName(const std::string& hostName) const;

    bool SetName(int i, const std::string& hostName);
    bool SetAttr(int i, uint8_t attr);
    bool SetTime(int i, const SystemTime& t);
    bool SetStartCluster(int i, uint32_t cluster);
    bool SetSize(int i, uint32_t size);

    // Deletes entry i (a folder with everything below it): the entry and
    // its long-name slots are marked deleted and the directory is written
    // first, then the chains are freed. A folder met twice on the way (a
    // loop or a ladder) stops it with 128 before anything changes.
    [[nodiscard]] bool Delete(int i);
    [[nodiscard]] bool DeleteAll();
    // Marks entry i and its long-name slots deleted, in memory only.
    bool Release(int i);
    // Replace: points file entry i at the chain starting at `first` (data
    // and FAT already written; 0 for none) with `size` bytes, writes the
    // folder (the data before it) and flushes; only then is the chain the
    // entry had freed. A stop leaves the old file or the new one. The
    // caller sets the time and attributes in memory beforehand. NotSwitched:
    // the folder could not be written and the entry points at its old data
    // again (the new chain is the caller's); OldKept: switched, but the old chain could
    // not be freed.
    enum class Replaced { Done, NotSwitched, OldKept };
    [[nodiscard]] Replaced ReplaceChain(int i, uint32_t first, uint32_t size);

    // One entry below a folder: where it stands, what it points at, and the
    // position in the list of the folder entry that holds it (-1: the
    // folder the walk began with).
    struct TreeEntry {
        uint32_t folder;
        int index;
        uint32_t first;
        uint32_t size;
        bool isDir;
        int parent;
    };
    // Every entry below folder `start` (a folder of this directory), each
    // folder read once. False (128 shown) when a folder is met twice or
    // leads back to one of the folders above this one, or when a folder
    // cannot be read (`loop` tells the two apart).
    bool CollectTree(uint32_t start, std::vector<TreeEntry>& entries, bool* loop = nullptr);
    // Moves entry i into `target`: the target is written first, then a
    // moved folder's "..", then this directory. With `newName` (UTF-8) the
    // entry arrives under that name in the same write. -1 on failure.
    [[nodiscard]] int MoveTo(int i, DIDir& target, const std::string& newName = {});
    // Moves entry i onto entry t of `target` (the same object for a move
    // within this folder), which keeps its name and takes entry i's data:
    // the target is written first (it is then the moved entry), then a
    // moved folder's "..", then this directory without entry i; only then
    // is the chain t had freed. A stop leaves t old or new and entry i's
    // data reachable. NotSwitched: nothing changed (or, when even the way
    // back failed, the entry stands in both places); OldKept: moved, the
    // old chain could not be freed.
    [[nodiscard]] Replaced MoveOnto(int i, DIDir& target, int t);
    // A new entry in memory; the directory may grow on the device.
    [[nodiscard]] int AddEntry(const std::string& name);
    // A new folder: its cluster is written and linked before the entry
    // (in memory) points at it; the caller writes the directory.
    [[nodiscard]] int MakeDir(const std::string& name);

    // Long names, on FAT volumes whose DiskImage has LongNames set; on other
    // volumes these fall back to the 8.3 forms above. Names here are UTF-8.
    bool UsesLongNames() const;
    // The entry's long name, or "" when it has none.
    std::string GetLongName(int i) const;
    // The name to show: the long name, else the 8.3 name (in lower case
    // where the entry's case bits ask for it).
    std::string GetNameUtf8(int i) const;
    // Index of the live entry whose long name or 8.3 name equals `name`
    // without regard to case; an entry that bears the name exactly wins.
    // -1 for none; kAmbiguousName when several match without regard to
    // case and none exactly.
    int FindName(const std::string& name) const;
    // A new entry named `name`, with long-name slots and an alias where the
    // name needs them, the whole run in one place (the folder grows when it
    // has no room). Index of the 8.3 entry, or -1.
    [[nodiscard]] int AddNamed(const std::string& name);
    [[nodiscard]] int MakeDirNamed(const std::string& name);
    // Gives entry i a new name (in memory); its old slots go. The entry may
    // move to another index to find room for its slots: the new index, or
    // -1 with nothing changed.
    [[nodiscard]] int Rename(int i, const std::string& name);

private:
    uint8_t* Entry(int i) { return Entries.data() + std::size_t(i) * 32; }
    const uint8_t* Entry(int i) const { return Entries.data() + std::size_t(i) * 32; }
    bool IsHuman68k() const { return Image->FileSystem == kFileSystemHuman68k; }
    // The display name of a valid entry i written into `out`; its length.
    static constexpr std::size_t kMaxDisplayName = 24;
    std::size_t DisplayNameInto(int i, char* out) const;
    // Marks entry i deleted together with the long-name slots that belong
    // to it (the run of live slots just before it that carry its checksum).
    void MarkDeleted(int i);
    // Marks deleted the live long-name slots just before slot i.
    void DropSlotsBefore(int i, bool matchChecksum);
    int MakeDirAt(int j);
    // Whether an 8.3 name (11 bytes) is in use, entry `except` left out. The
    // first question walks the entries; from the second on (aliases being
    // tried one after the other) a set of the names answers.
    std::function<bool(const uint8_t*)> ShortNameInUse(int except) const;
    // Places slots for `longName` and the 8.3 entry `name11` in one run:
    // entry i (its old slots dropped), moved when the room before it is
    // taken, or a new entry when i is -1. Index of the 8.3 entry, or -1.
    int PlaceRun(int i, const uint8_t* name11, const std::u16string& longName);
    // Entry i with the fields that follow the name (attributes, times,
    // first cluster, size) taken from `from`.
    void TakeFieldsOf(int i, const uint8_t* from);
    // The second half of a move: a moved folder's ".." pointed at
    // `target`, then entry i marked deleted here and this folder written;
    // on failure the way back as far as the device allows. False on failure.
    bool FinishMove(int i, DIDir& target, const std::function<void()>& takeBack);
    // Writes the entries first..last (what holds them: the root region's
    // bytes or whole clusters) ahead of the rest of the folder.
    bool WriteEntriesAhead(uint32_t first, uint32_t last);

    DiskImage* Image;
    uint32_t FirstCluster;
    std::vector<uint8_t> Entries;
    std::vector<uint8_t> onDisk_;  // what the device holds, for Write
    uint32_t Count = 0;
    bool loaded_ = false;
    // A run that an entry moved into to find room for its slots: written
    // before the folder, so that the entry is never in neither place.
    int64_t movedFirst_ = -1, movedLast_ = -1;
};

// Entry date and time words for a calendar time, and back.
void PackDosTime(const SystemTime& t, uint16_t& date, uint16_t& time);
SystemTime UnpackDosTime(uint16_t date, uint16_t time);
