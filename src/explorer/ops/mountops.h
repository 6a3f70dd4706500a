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
// Every change goes through the volume engine's own steps, the ones the
// command line and the window use, so that a stop after any single device
// write leaves at worst clusters that no entry reaches, or a chain longer
// than its file's size:
//   - writing: bytes inside the clusters a file has are rewritten in
//     place; bytes beyond them go into free clusters, which are then made a
//     chain and linked to the file's last cluster (DiskImage::ExtendChain).
//     The entry takes the new size, first cluster and time when the file is
//     closed (FlushOpen, whose status close(2) returns) or synced, before
//     any other change to it, and at unmount: a
//     stop before that leaves the old size with a longer chain, or lost
//     clusters for a file that had none;
//   - an open that truncates, and a truncation to nothing: the entry is
//     written with size 0 and no chain, then the old chain is freed (the
//     engine's replace, DIDir::ReplaceChain);
//   - shrinking: the entry is written first, then the clusters are freed;
//   - removing a file or a folder, and the existing entry a rename
//     replaces: the engine's delete (DIDir::Delete);
//   - a folder that grows: the engine zeroes its new cluster before the FAT
//     links it;
//   - move to another folder: the entry takes its new name in its own
//     folder, is written into the target, and is removed from the source
//     last (DIDir::MoveTo): a stop leaves it in one folder or both, never
//     in neither.
// Written data are flushed on Sync, on the close of a written file, before
// every directory write (the engine's barrier) and by SyncAll, not after
// every write.

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "explorer/ops/volumepath.h"
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

    // With `truncate` (and `write`) the file is emptied first. `keepCache`
    // receives true for a file opened for reading whose entry has not
    // changed since it was last opened so: what was read before still holds.
    int Open(const std::string& path, bool write, uint64_t& handle, bool truncate = false,
             bool* keepCache = nullptr);
    // Makes an empty file and opens it for writing. Without the owner's
    // write bit in `mode` the file gets the read-only mark.
    int Create(const std::string& path, unsigned mode, uint64_t& handle);
    // Bytes read (0 at or beyond the end), or a negative errno.
    long Read(uint64_t handle, uint64_t offset, uint32_t size, char* buffer);
    // Bytes of the image file that hold part of an open file.
    struct FileBytes {
        int fd;
        int64_t at;
        uint32_t length;
    };
    // What Read would give, as the places in the image file that hold it,
    // in order: the byte count (0 at or beyond the end, `spans` empty) or a
    // negative errno. Where the device cannot say where its bytes lie, or
    // they lie in more than `most` places, `spans` is left empty beside a
    // count: Read is then the way.
    long ReadSpans(uint64_t handle, uint64_t offset, uint32_t size, std::vector<FileBytes>& spans, std::size_t most);
    // Bytes written (all of them), or a negative errno.
    long Write(uint64_t handle, uint64_t offset, const char* data, uint32_t size);
    // Whether a handle just opened moves its bytes past the kernel's cache
    // (recorded with the handle): a handle that only writes does when no
    // other handle holds its file, and so does every handle opened while
    // such a one is open. So no cache of the file is kept while bytes go
    // past it, and none goes stale.
    bool PastTheCache(uint64_t handle, bool writeOnly);
    int Truncate(const std::string& path, uint64_t size);
    int TruncateOpen(uint64_t handle, uint64_t size);
    int Sync(uint64_t handle);
    // What close(2) of a handle returns: the entry of a file written through
    // it is brought up to date and the data flushed.
    int FlushOpen(uint64_t handle);
    // The handle's end. A file whose entry cannot be written even now is
    // kept and tried again by every later change and by SyncAll.
    int Close(uint64_t handle);
    // Brings every open file's entry up to date and flushes whatever was
    // written since the last flush; fails also while a closed file's entry
    // could not be written.
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
    using Loc = EntryLocation;

private:
    // Calls fn(run, count, at, from, to) for each run of `count` clusters
    // from `run` that holds bytes of [offset, offset + size) of an open
    // file: `at` is the file offset of the run's first byte, [from, to) the
    // part of the run wanted. The byte count (0 at or beyond the end), or
    // a negative errno (EIO when fn fails or the chain ends too soon).
    template <typename F>
    long ForEachWantedRun(uint64_t handle, uint64_t offset, uint32_t size, F fn);

    // What the open handles of one file share: where its entry is, and,
    // once read, its chain and size as written so far. The entry catches up
    // (Commit) on close, sync, before other changes to it, and at unmount.
    struct FileState {
        Loc loc;
        bool gone = false;     // the entry was removed while open
        bool known = false;    // first, size and chain below are read
        uint32_t first = 0;    // first cluster (0: none yet)
        uint32_t size = 0;
        ChainList chain;       // in chain order: where every offset lies
        bool pending = false;  // size, first cluster or time not yet in the entry
        SystemTime written{};  // time of the last write
    };
    struct OpenFile {
        std::shared_ptr<FileState> file;
        bool write = false;
        bool wrote = false;
        bool pastCache = false;  // its bytes go past the kernel's cache
    };

    // `trail`, when given, receives the folders the path passes through,
    // the root (0) first. A path through a folder twice fails with ELOOP.
    int Resolve(const std::string& path, Loc& loc, DIDir* holder = nullptr, std::vector<uint32_t>* trail = nullptr);
    int ResolveParent(const std::string& path, uint32_t& folder, std::string& name);
    int FindName(const DIDir& dir, const std::string& utf8) const;
    // The folders read through the mount are kept as the device holds
    // them, so that a request does not read again what the one before it
    // read. A folder written here is kept as written (Keep); every other
    // change (the engine's steps, which read and write folders of their
    // own) forgets them all (ForgetFolders, or a FolderChange for the
    // length of a call).
    bool LoadFolder(uint32_t first, DIDir& dir);
    void Keep(const DIDir& dir);
    void ForgetFolders() { folders_.clear(); }
    struct FolderChange {
        VolumeFiles& files;
        ~FolderChange() { files.ForgetFolders(); }
    };
    std::shared_ptr<FileState> StateAt(const Loc& loc) const;
    // The files open, and those closed whose entries are still to write.
    std::vector<std::shared_ptr<FileState>> States() const;
    int Know(FileState& f);
    int WriteAt(FileState& f, uint64_t offset, const char* data, uint32_t size);
    int Commit(FileState& f);
    int CommitAll();
    int Resize(const Loc& loc, DIDir& dir, uint64_t size);
    int RemoveEntry(const std::string& path, bool folder);
    void Moved(const Loc& from, const Loc& to);
    void Changed(const Loc& loc);
    void Forget(const Loc& loc);
    bool Flush();

    DiskImage& image_;
    bool readOnly_;
    bool dirty_ = false;
    std::time_t mountTime_;
    std::map<uint64_t, OpenFile> open_;
    std::vector<std::shared_ptr<FileState>> unsaved_;
    // The entry of each file as it was when last opened for reading.
    std::map<std::pair<uint32_t, int>, std::vector<uint8_t>> seen_;
    std::map<uint32_t, DIDir> folders_;
    std::map<uint32_t, std::time_t> hours_;  // the start of each hour met, for entry times
    uint64_t nextHandle_ = 1;
};
