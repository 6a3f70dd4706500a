#pragma once
// The mounted volume seen as a tree of paths, as a file-system bridge asks
// for it: look up, list, open, read and write at any offset, extend and
// truncate, make and remove files and folders, rename, set the time and the
// read-only mark, count the free space. Everything goes through the volume
// engine; nothing here knows of the kernel.
//
// Paths are UTF-8, separated by "/", the root is "/". Names are matched the
// way the volume matches them (ASCII letters without regard to case). Every
// operation returns 0 (or a byte count) on success and a negative errno
// value on failure.
//
// Order of writes, so that a stop after any single device write leaves at
// worst clusters that no entry reaches (or a chain longer than its size):
//   - growing a file: the bytes go into clusters that are still free, then
//     the FAT links them (one write per FAT copy), then the directory entry
//     takes the new size;
//   - overwriting bytes inside the file: the clusters are rewritten in
//     place, then the entry takes the new time;
//   - shrinking or removing: the entry is written first, then the clusters
//     are freed;
//   - a folder that grows: its new cluster is zeroed on the device before
//     the FAT links it;
//   - rename onto an existing name: the old target's entry goes first, the
//     moved entry is written into its folder, the source entry is removed,
//     then the old target's clusters are freed;
//   - move to another folder: the entry takes its new name in its own
//     folder, is written into the target, and is removed from the source
//     last: a stop leaves it in one folder or both, never in neither.

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "volume/didir.h"

struct NodeInfo {
    bool isDir = false;
    bool readOnly = false;  // the entry's read-only mark
    uint32_t size = 0;
    std::time_t mtime = 0;
};

struct VolumeFigures {
    uint32_t clusterSize = 0;
    uint32_t clusters = 0;
    uint32_t freeClusters = 0;
    uint32_t nameMax = 0;  // longest name in bytes
};

class VolumeFiles {
public:
    // `readOnly` refuses every change even when the volume could take it.
    VolumeFiles(DiskImage& image, bool readOnly);

    bool IsReadOnly() const { return readOnly_; }

    // Called after data was written when the caller asks for it to be on
    // the disk (fsync, the last close of a written file, unmount); false
    // when flushing failed.
    std::function<bool()> flusher;

    int Stat(const std::string& path, NodeInfo& info);
    // The entries of a folder (without "." and ".."), in on-disk order.
    int List(const std::string& path, std::vector<std::pair<std::string, NodeInfo>>& entries);

    int Open(const std::string& path, bool write, uint64_t& handle);
    // Makes an empty file and opens it for writing. Without the owner's
    // write bit in `mode` the file gets the read-only mark.
    int Create(const std::string& path, unsigned mode, uint64_t& handle);
    // Bytes read (0 at or beyond the end), or a negative errno.
    long Read(uint64_t handle, uint64_t offset, uint32_t size, char* buffer);
    // Bytes written (all of them), or a negative errno.
    long Write(uint64_t handle, uint64_t offset, const char* data, uint32_t size);
    int Truncate(const std::string& path, uint64_t size);
    int TruncateOpen(uint64_t handle, uint64_t size);
    int Sync(uint64_t handle);
    int Close(uint64_t handle);
    // Flushes whatever was written since the last flush.
    int SyncAll();

    int MakeFolder(const std::string& path);
    int RemoveFile(const std::string& path);
    int RemoveFolder(const std::string& path);
    // `noReplace`: fail with EEXIST when the target exists.
    int Rename(const std::string& from, const std::string& to, bool noReplace);
    int SetTime(const std::string& path, std::time_t mtime);
    int SetReadOnly(const std::string& path, bool readOnly);

    VolumeFigures Figures() const;
    std::size_t OpenCount() const { return open_.size(); }

    // An entry: its folder's first cluster (0 the root) and its index there;
    // the root itself has index -1.
    struct Loc {
        uint32_t folder = 0;
        int index = -1;
    };

private:
    struct OpenFile {
        Loc loc;
        bool write = false;
        bool wrote = false;
        bool gone = false;  // the entry was removed while open
    };

    // `trail`, when given, receives the folders the path passes through,
    // the root (0) first. A path through a folder twice fails with ELOOP.
    int Resolve(const std::string& path, Loc& loc, DIDir* holder = nullptr, std::vector<uint32_t>* trail = nullptr);
    int ResolveParent(const std::string& path, uint32_t& folder, std::string& name);
    int FindName(const DIDir& dir, const std::string& utf8) const;
    int CheckNewName(const DIDir& dir, const std::string& utf8, std::string& sjis) const;
    int EnsureRoom(DIDir& dir);
    static int NameEntry(DIDir& dir, int i, const std::string& utf8, const std::string& sjis);
    int LoadFile(const OpenFile& f, DIDir& dir) const;
    int ChangeSize(DIDir& dir, int i, uint64_t offset, const char* data, uint32_t size);
    int Shrink(DIDir& dir, int i, uint32_t newSize);
    int RemoveEntry(DIDir& dir, int i);
    void Moved(const Loc& from, const Loc& to);
    void Forget(const Loc& loc);
    bool Flush();

    DiskImage& image_;
    bool readOnly_;
    bool dirty_ = false;
    std::time_t mountTime_;
    std::map<uint64_t, OpenFile> open_;
    uint64_t nextHandle_ = 1;
};
