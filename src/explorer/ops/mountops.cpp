#include "explorer/ops/mountops.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "device/asciicase.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/hostnames.h"
#include "explorer/ops/mover.h"
#include "explorer/ops/properties.h"
#include "volume/longnames.h"

namespace {

// Largest piece of a file moved to or from the device in one call.
constexpr uint64_t kPieceBytes = 1u << 20;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;
// Folders kept between requests; more are read again.
constexpr std::size_t kKeptFolders = 32;

// The name under which an entry appears: its long name where it has one,
// else its display name, in UTF-8, with the bytes a path component cannot
// hold replaced.
std::string EntryName(const DIDir& dir, int i) {
    if (!dir.UsesLongNames()) return HostComponent(dir.GetDisplayName(i));
    std::string name = dir.GetNameUtf8(i);
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    return name.empty() ? "_" : name;
}

// Entries that appear in a listing: in use, not a volume label or a
// long-name slot, not "." or "..".
bool IsListed(const DIDir& dir, int i) {
    if (dir.IsFree(i) || (dir.GetAttr(i) & kAttrVolume)) return false;
    std::string name = dir.GetDisplayName(i);
    return name != "." && name != "..";
}

uint32_t SubFolder(const DIDir& dir, int i) {
    int64_t c = dir.GetStartCluster(i);
    return c < 2 ? 0 : uint32_t(c);
}

// Entry times as the host counts them. mktime looks at the time zone's
// file again at every call: the start of each hour met is kept, and the
// minutes and seconds are added to it.
std::time_t ToTimeT(const SystemTime& t, std::map<uint32_t, std::time_t>& hours) {
    const int year = int(t.wYear), month = std::max(1, int(t.wMonth)), day = std::max(1, int(t.wDay));
    const uint32_t key = ((uint32_t(year) * 13 + uint32_t(month)) * 32 + uint32_t(day)) * 24 + t.wHour;
    auto it = hours.find(key);
    if (it == hours.end()) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = t.wHour;
        tm.tm_isdst = -1;
        if (hours.size() >= 4096) hours.clear();
        it = hours.emplace(key, std::mktime(&tm)).first;
    }
    return it->second == std::time_t(-1) ? 0 : it->second + t.wMinute * 60 + t.wSecond;
}

NodeInfo InfoOf(const DIDir& dir, int i, std::map<uint32_t, std::time_t>& hours) {
    NodeInfo n;
    uint8_t a = dir.GetAttr(i);
    n.isDir = (a & kAttrDirectory) != 0;
    n.readOnly = (a & kAttrReadOnly) != 0;
    n.size = n.isDir ? 0 : dir.GetSize(i);
    n.mtime = ToTimeT(dir.GetTime(i), hours);
    return n;
}

// Cuts a run of `count` clusters of `cs` bytes, which holds the file bytes
// from `at`, into at most three pieces: the clusters before those wholly
// inside [lo, hi), those clusters, and the ones after. `piece(first, n,
// whole)` is called for each piece that is not empty, in order.
template <typename F>
bool ForEachPiece(uint64_t at, uint32_t count, uint32_t cs, uint64_t lo, uint64_t hi, F piece) {
    const uint64_t end = at + uint64_t(count) * cs;
    uint32_t a = count, b = count;  // the whole clusters: [a, b)
    if (lo < end && hi > at) {
        const uint64_t from = std::max(lo, at), to = std::min(hi, end);
        a = uint32_t((from - at + cs - 1) / cs);
        b = uint32_t((to - at) / cs);
        if (a >= b) a = b = count;
    }
    if (a == count) return piece(0, count, false);
    return (a == 0 || piece(0, a, false)) && piece(a, b - a, true) && (b == count || piece(b, count - b, false));
}

// The components of a path the kernel passes: only "/" separates them.
std::vector<std::string> Components(const std::string& path) { return SplitVolumePath(path, "/"); }

}  // namespace

VolumeFiles::VolumeFiles(DiskImage& image, bool readOnly)
    : image_(image), readOnly_(readOnly || image.IsReadOnly()), mountTime_(std::time(nullptr)) {}

bool VolumeFiles::Flush() {
    if (!dirty_) return true;
    if (flusher && !flusher()) return false;
    dirty_ = false;
    return true;
}

bool VolumeFiles::LoadFolder(uint32_t first, DIDir& dir) {
    auto it = folders_.find(first);
    if (it == folders_.end()) {
        DIDir read(&image_, first);
        if (!read.Load()) return false;
        if (folders_.size() >= kKeptFolders) folders_.clear();
        it = folders_.emplace(first, std::move(read)).first;
    }
    dir = it->second;
    return true;
}

void VolumeFiles::Keep(const DIDir& dir) {
    if (folders_.size() >= kKeptFolders) folders_.clear();
    folders_.insert_or_assign(dir.GetCluster(), dir);
}

int VolumeFiles::FindName(const DIDir& dir, const std::string& utf8) const {
    if (dir.UsesLongNames()) {
        // Long names and their 8.3 aliases, letters of any script folded.
        int i = dir.FindName(utf8);
        return i == kAmbiguousName || (i >= 0 && IsListed(dir, i)) ? i : -1;
    }
    // The entry named exactly so, else the one entry that matches without
    // regard to case.
    int found = -1, matches = 0;
    for (uint32_t i = 0; i < dir.GetCount(); ++i) {
        if (!IsListed(dir, int(i))) continue;
        std::string name = EntryName(dir, int(i));
        if (name == utf8) return int(i);
        if (EqualIgnoringAsciiCase(name, utf8) && matches++ == 0) found = int(i);
    }
    return matches > 1 ? kAmbiguousName : found;
}

int VolumeFiles::Resolve(const std::string& path, Loc& loc, DIDir* holder, std::vector<uint32_t>* trail) {
    // A folder that holds itself, or one above it, leads nowhere new: the
    // walk keeps its trail.
    std::vector<uint32_t> own;
    const auto find = [this](const DIDir& dir, const std::string& name) { return FindName(dir, name); };
    const FolderLoader load = [this](uint32_t first, DIDir& dir) { return LoadFolder(first, dir); };
    switch (WalkVolumePath(image_, Components(path), find, loc, nullptr, holder, trail ? trail : &own, &load)) {
        case PathEnd::kFound: return 0;
        case PathEnd::kNotFolder: return -ENOTDIR;
        case PathEnd::kLoop: return -ELOOP;
        case PathEnd::kUnreadable: return -EIO;
        case PathEnd::kNotFound:
        case PathEnd::kAmbiguous: break;
    }
    return -ENOENT;
}

int VolumeFiles::ResolveParent(const std::string& path, uint32_t& folder, std::string& name) {
    auto parts = Components(path);
    if (parts.empty()) return -EBUSY;  // the root has no parent
    name = parts.back();
    std::string parent;
    for (std::size_t k = 0; k + 1 < parts.size(); ++k) parent += "/" + parts[k];
    Loc loc;
    DIDir holder(&image_, 0);
    if (int rc = Resolve(parent, loc, &holder); rc < 0) return rc;
    if (loc.index < 0) {
        folder = 0;
        return 0;
    }
    if (!(holder.GetAttr(loc.index) & kAttrDirectory)) return -ENOTDIR;
    folder = SubFolder(holder, loc.index);
    return 0;
}

std::shared_ptr<VolumeFiles::FileState> VolumeFiles::StateAt(const Loc& loc) const {
    // Asked for every entry of a listing: the two lists are looked through
    // as they stand.
    const auto at = [&loc](const std::shared_ptr<FileState>& f) {
        return !f->gone && f->loc.folder == loc.folder && f->loc.index == loc.index;
    };
    for (const auto& f : unsaved_)
        if (at(f)) return f;
    for (const auto& [h, o] : open_)
        if (at(o.file)) return o.file;
    return nullptr;
}

// Reads the file's first cluster, size and chain from its entry, once.
int VolumeFiles::Know(FileState& f) {
    if (f.gone) return -ESTALE;
    if (f.known) return 0;
    DIDir dir(&image_, f.loc.folder);
    if (!LoadFolder(f.loc.folder, dir)) return -EIO;
    const int i = f.loc.index;
    if (!dir.IsValidIndex(i) || dir.IsFree(i)) return -ESTALE;
    if (dir.GetAttr(i) & kAttrDirectory) return -EISDIR;
    int64_t c = dir.GetStartCluster(i);
    f.first = c < 2 ? 0 : uint32_t(c);
    f.size = dir.GetSize(i);
    f.chain.clear();
    if (f.first != 0) {
        auto chain = image_.ReadChain(f.first);
        if (!chain) return -EIO;
        f.chain = std::move(*chain);
    }
    f.pending = false;
    f.known = true;
    return 0;
}

// Brings the file's entry up to what was written: size, first cluster,
// time and the archive mark. The directory write flushes the data first.
int VolumeFiles::Commit(FileState& f) {
    if (f.gone || !f.pending) return 0;
    DIDir dir(&image_, f.loc.folder);
    if (!LoadFolder(f.loc.folder, dir)) return -EIO;
    const int i = f.loc.index;
    if (!dir.IsValidIndex(i) || dir.IsFree(i) || (dir.GetAttr(i) & kAttrDirectory)) return -ESTALE;
    int64_t c = dir.GetStartCluster(i);
    if (c >= 2 && uint32_t(c) != f.first) return -EIO;  // the entry went elsewhere meanwhile
    dir.SetSize(i, f.size);
    dir.SetStartCluster(i, f.first);
    dir.SetAttr(i, uint8_t(dir.GetAttr(i) | kAttrArchive));
    dir.SetTime(i, f.written);
    if (!dir.Write()) {
        ForgetFolders();
        return -EIO;
    }
    Keep(dir);
    f.pending = false;
    dirty_ = true;
    return 0;
}

int VolumeFiles::CommitAll() {
    // A closed file whose entry cannot be written stays for the next try
    // and for the unmount's status; it does not hold up other changes.
    for (const auto& f : unsaved_) static_cast<void>(Commit(*f));
    int first = 0;
    for (const auto& [h, o] : open_)
        if (int rc = Commit(*o.file); rc < 0 && first == 0) first = rc;
    // Closed files whose entries are now written are done with.
    unsaved_.erase(std::remove_if(unsaved_.begin(), unsaved_.end(),
                                  [](const std::shared_ptr<FileState>& f) { return f->gone || !f->pending; }),
                   unsaved_.end());
    return first;
}

std::vector<std::shared_ptr<VolumeFiles::FileState>> VolumeFiles::States() const {
    std::vector<std::shared_ptr<FileState>> all(unsaved_);
    for (const auto& [h, o] : open_)
        if (std::find(all.begin(), all.end(), o.file) == all.end()) all.push_back(o.file);
    return all;
}

int VolumeFiles::Stat(const std::string& path, NodeInfo& info) {
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0) {
        info = NodeInfo{};
        info.isDir = true;
        info.mtime = mountTime_;
        return 0;
    }
    info = InfoOf(dir, loc.index, hours_);
    if (auto f = StateAt(loc); f && f->pending) {
        info.size = f->size;
        info.mtime = ToTimeT(f->written, hours_);
    }
    return 0;
}

int VolumeFiles::List(const std::string& path, std::vector<std::pair<std::string, NodeInfo>>& entries) {
    entries.clear();
    Loc loc;
    DIDir holder(&image_, 0);
    std::vector<uint32_t> above;
    if (int rc = Resolve(path, loc, &holder, &above); rc < 0) return rc;
    uint32_t folder = 0;
    if (loc.index >= 0) {
        if (!(holder.GetAttr(loc.index) & kAttrDirectory)) return -ENOTDIR;
        folder = SubFolder(holder, loc.index);
        if (folder == 0 || std::find(above.begin(), above.end(), folder) != above.end()) return -ELOOP;
        above.push_back(folder);
    }
    DIDir dir(&image_, folder);
    if (!LoadFolder(folder, dir)) return -EIO;
    // A name met twice (other systems may store case variants) is listed
    // once: only the first can be reached by its name. A folder entry that
    // leads back up, or to a folder listed here already, is left out: a
    // walk through the mount enters each folder of this path once.
    std::set<std::string> seen;
    std::set<uint32_t> folders;
    for (uint32_t i = 0; i < dir.GetCount(); ++i) {
        if (!IsListed(dir, int(i))) continue;
        if (dir.GetAttr(int(i)) & kAttrDirectory) {
            const uint32_t sub = SubFolder(dir, int(i));
            if (sub == 0 || std::find(above.begin(), above.end(), sub) != above.end() || !folders.insert(sub).second)
                continue;
        }
        std::string name = EntryName(dir, int(i));
        std::string key = name;
        for (char& c : key)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        if (!seen.insert(key).second) continue;
        NodeInfo info = InfoOf(dir, int(i), hours_);
        if (auto f = StateAt(Loc{folder, int(i)}); f && f->pending) {
            info.size = f->size;
            info.mtime = ToTimeT(f->written, hours_);
        }
        entries.emplace_back(name, info);
    }
    return 0;
}

int VolumeFiles::Open(const std::string& path, bool write, uint64_t& handle, bool truncate, bool* keepCache) {
    if (keepCache) *keepCache = false;
    if (write && readOnly_) return -EROFS;
    // The entry may be written below: every pending one goes first, so that
    // no folder read here is older than the device.
    if (write && truncate)
        if (int rc = CommitAll(); rc < 0) return rc;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0 || (dir.GetAttr(loc.index) & kAttrDirectory)) return -EISDIR;
    if (write && (dir.GetAttr(loc.index) & kAttrReadOnly)) return -EACCES;
    if (write && truncate && (dir.GetSize(loc.index) != 0 || dir.GetStartCluster(loc.index) != 0)) {
        if (int rc = Resize(loc, dir, 0); rc < 0) return rc;
    }
    auto file = StateAt(loc);
    const auto key = std::make_pair(loc.folder, loc.index);
    if (!write) {
        const uint8_t* raw = dir.RawEntry(loc.index);
        std::vector<uint8_t> entry(raw, raw + 32);
        auto it = seen_.find(key);
        if (keepCache) *keepCache = !(file && file->pending) && it != seen_.end() && it->second == entry;
        seen_[key] = std::move(entry);
    } else {
        seen_.erase(key);
    }
    if (!file) {
        file = std::make_shared<FileState>();
        file->loc = loc;
    }
    handle = nextHandle_++;
    open_[handle] = OpenFile{file, write, false};
    return 0;
}

int VolumeFiles::Create(const std::string& path, unsigned mode, uint64_t& handle) {
    if (readOnly_) return -EROFS;
    uint32_t folder;
    std::string name;
    if (int rc = ResolveParent(path, folder, name); rc < 0) return rc;
    DIDir dir(&image_, folder);
    if (!LoadFolder(folder, dir)) return -EIO;
    dirty_ = true;
    OpResult r = MakeEmptyFileIn(dir, name, uint8_t(kAttrArchive | ((mode & 0200) ? 0 : kAttrReadOnly)));
    if (!r.Ok()) {
        ForgetFolders();
        return -ErrnoOf(r);
    }
    Keep(dir);
    const int i = r.index;
    // The empty entry reaches the disk with the file's data, at its close.
    auto file = std::make_shared<FileState>();
    file->loc = Loc{folder, i};
    file->known = true;
    seen_.erase(std::make_pair(folder, i));
    handle = nextHandle_++;
    open_[handle] = OpenFile{file, true, true};
    return 0;
}

bool VolumeFiles::PastTheCache(uint64_t handle, bool writeOnly) {
    auto it = open_.find(handle);
    if (it == open_.end()) return false;
    bool others = false, past = false;
    for (const auto& [h, o] : open_)
        if (h != handle && o.file == it->second.file) {
            others = true;
            past = past || o.pastCache;
        }
    it->second.pastCache = past || (writeOnly && !others);
    return it->second.pastCache;
}

template <typename F>
long VolumeFiles::ForEachWantedRun(uint64_t handle, uint64_t offset, uint32_t size, F fn) {
    auto it = open_.find(handle);
    if (it == open_.end()) return -EBADF;
    FileState& f = *it->second.file;
    if (int rc = Know(f); rc < 0) return rc;
    if (offset >= f.size || size == 0) return 0;
    const uint64_t n = std::min<uint64_t>(size, f.size - offset);
    const uint32_t cs = image_.ClusterSize;
    const uint64_t k0 = offset / cs, k1 = (offset + n - 1) / cs;
    if (k1 >= f.chain.size()) return -EIO;  // the chain ends before the size does
    ChainList part(f.chain.begin() + long(k0), f.chain.begin() + long(k1) + 1);
    uint64_t done = 0;
    bool ok = ForEachClusterRun(part, std::max<uint64_t>(1, kPieceBytes / cs), [&](std::size_t index, uint32_t run,
                                                                                   uint32_t count) {
        const uint64_t at = (k0 + index) * cs;
        const uint64_t from = std::max(at, offset), to = std::min(at + uint64_t(count) * cs, offset + n);
        done += to - from;
        return fn(run, count, at, from, to);
    });
    if (!ok || done != n) return -EIO;
    return long(n);
}

long VolumeFiles::Read(uint64_t handle, uint64_t offset, uint32_t size, char* buffer) {
    const uint32_t cs = image_.ClusterSize;
    // Whole clusters straight into the caller's buffer; a cluster only
    // partly wanted goes through a buffer of its own.
    std::vector<uint8_t> tmp;
    return ForEachWantedRun(handle, offset, size, [&](uint32_t run, uint32_t count, uint64_t at, uint64_t lo, uint64_t hi) {
        return ForEachPiece(at, count, cs, lo, hi, [&](uint32_t k, uint32_t m, bool whole) {
            const uint64_t pieceStart = at + uint64_t(k) * cs;  // file offset of the piece
            const uint64_t from = std::max(pieceStart, lo), to = std::min(pieceStart + uint64_t(m) * cs, hi);
            if (whole) return image_.ReadClusterRun(run + k, m, buffer + (from - offset));
            tmp.resize(std::size_t(m) * cs);
            if (!image_.ReadClusterRun(run + k, m, tmp.data())) return false;
            std::memcpy(buffer + (from - offset), tmp.data() + (from - pieceStart), std::size_t(to - from));
            return true;
        });
    });
}

long VolumeFiles::ReadSpans(uint64_t handle, uint64_t offset, uint32_t size, std::vector<FileBytes>& spans,
                            std::size_t most) {
    spans.clear();
    bool unknown = false;
    long n = ForEachWantedRun(handle, offset, size, [&](uint32_t run, uint32_t, uint64_t at, uint64_t from, uint64_t to) {
        FileBytes b{};
        b.length = uint32_t(to - from);
        if (unknown || !image_.ClusterBytesSpan(run, uint32_t(from - at), b.length, b.fd, b.at)) {
            unknown = true;  // Read is the way
        } else if (!spans.empty() && spans.back().fd == b.fd && spans.back().at + spans.back().length == b.at) {
            spans.back().length += b.length;
        } else {
            spans.push_back(b);
            unknown = spans.size() > most;
        }
        return true;
    });
    if (unknown || n < 0) spans.clear();
    return n;
}

// Puts `size` bytes of `data` at `offset` of the file; the bytes between
// its end and `offset`, when the write starts beyond the end, become zero.
// The file grows to offset + size when that is beyond its size. The entry
// is left to Commit.
int VolumeFiles::WriteAt(FileState& f, uint64_t offset, const char* data, uint32_t size) {
    if (int rc = Know(f); rc < 0) return rc;
    const uint32_t cs = image_.ClusterSize;
    const uint64_t oldSize = f.size;
    const uint64_t end = offset + size;
    if (end > kMaxFileSize) return -EFBIG;
    const uint64_t newSize = std::max(oldSize, end);
    const uint64_t from = std::min(offset, oldSize);
    const uint64_t have = f.chain.size();
    if (have * cs < oldSize) return -EIO;  // a chain shorter than the size: damaged
    const uint64_t need = (newSize + cs - 1) / cs;

    // The bytes of file range [at, at + len) as they must be after the
    // write: zero in the gap, the caller's data in its range; bytes outside
    // both are left as `buf` holds them.
    auto fill = [&](uint64_t at, uint8_t* buf, uint64_t len) {
        uint64_t zeroFrom = std::max(at, oldSize), zeroTo = std::min(at + len, offset);
        if (zeroFrom < zeroTo) std::memset(buf + (zeroFrom - at), 0, std::size_t(zeroTo - zeroFrom));
        uint64_t dataFrom = std::max(at, offset), dataTo = std::min(at + len, end);
        if (dataFrom < dataTo) std::memcpy(buf + (dataFrom - at), data + (dataFrom - offset), std::size_t(dataTo - dataFrom));
    };
    const uint64_t perRun = std::max<uint64_t>(1, kPieceBytes / cs);
    std::vector<uint8_t> buf;

    // 1. Bytes that fall in clusters the file has: rewritten in place.
    const uint64_t inPlaceTo = std::min(end, have * cs);
    if (from < inPlaceTo) {
        uint64_t k0 = from / cs, k1 = (inPlaceTo - 1) / cs;
        ChainList part(f.chain.begin() + long(k0), f.chain.begin() + long(k1) + 1);
        bool ok = ForEachClusterRun(part, perRun, [&](std::size_t index, uint32_t run, uint32_t count) {
            const uint64_t runAt = (k0 + index) * cs;
            return ForEachPiece(runAt, count, cs, offset, end, [&](uint32_t k, uint32_t m, bool whole) {
                const uint64_t at = runAt + uint64_t(k) * cs, len = uint64_t(m) * cs;
                // Clusters wholly written take the caller's bytes as they are.
                if (whole) return image_.WriteClusterRun(run + k, m, data + (at - offset));
                buf.assign(std::size_t(len), 0);
                // Clusters only partly covered keep the bytes around the write.
                if ((at < from || at + len > inPlaceTo) && !image_.ReadClusterRun(run + k, m, buf.data())) return false;
                fill(at, buf.data(), len);
                return image_.WriteClusterRun(run + k, m, buf.data());
            });
        });
        if (!ok) return -EIO;
    }

    // 2. Bytes beyond the clusters the file has: into free clusters, which
    //    then become a chain linked to the file's last cluster.
    if (need > have) {
        if (need - have > image_.FreeClusters) return -ENOSPC;
        auto fresh = image_.PickClusters(uint32_t(newSize - have * cs));
        if (!fresh) return -ENOSPC;
        bool ok = ForEachClusterRun(*fresh, perRun, [&](std::size_t index, uint32_t run, uint32_t count) {
            const uint64_t runAt = (have + index) * cs;
            return ForEachPiece(runAt, count, cs, offset, end, [&](uint32_t k, uint32_t m, bool whole) {
                const uint64_t at = runAt + uint64_t(k) * cs, len = uint64_t(m) * cs;
                if (whole) return image_.WriteClusterRun(run + k, m, data + (at - offset));
                buf.assign(std::size_t(len), 0);
                fill(at, buf.data(), len);
                return image_.WriteClusterRun(run + k, m, buf.data());
            });
        });
        if (!ok || !image_.ExtendChain(have ? f.chain.back() : 0, *fresh)) return -EIO;
        if (f.first == 0) f.first = fresh->front();
        f.chain.insert(f.chain.end(), fresh->begin(), fresh->end());
    }
    f.size = uint32_t(newSize);
    f.written = LocalTimeNow();
    f.pending = true;
    dirty_ = true;
    return 0;
}

// Gives the file at `loc` (entry loc.index of `dir`, loaded after every
// pending entry was written) the size `size`, its entry written at once.
int VolumeFiles::Resize(const Loc& loc, DIDir& dir, uint64_t size) {
    FolderChange change{*this};
    const int i = loc.index;
    const uint64_t old = dir.GetSize(i);
    Changed(loc);
    dirty_ = true;
    if (size > old) {
        FileState f;
        f.loc = loc;
        if (int rc = WriteAt(f, size, nullptr, 0); rc < 0) return rc;
        return Commit(f);
    }
    dir.SetAttr(i, uint8_t(dir.GetAttr(i) | kAttrArchive));
    dir.SetTime(i, LocalTimeNow());
    if (size == old) return dir.Write() ? 0 : -EIO;
    if (size == 0) {
        // As a replace with nothing: the entry with no chain, then the
        // old chain freed.
        return dir.ReplaceChain(i, 0, 0) == DIDir::Replaced::Done ? 0 : -EIO;
    }
    // The entry first: a stop before the clusters are freed leaves them
    // allocated beyond the size, never a size beyond the chain.
    const int64_t c = dir.GetStartCluster(i);
    dir.SetSize(i, uint32_t(size));
    if (!dir.Write()) return -EIO;
    if (c < 2) return -EIO;  // a size without a chain: damaged
    return image_.ResizeChain(uint32_t(c), uint32_t(size)) ? 0 : -EIO;
}

long VolumeFiles::Write(uint64_t handle, uint64_t offset, const char* data, uint32_t size) {
    if (readOnly_) return -EROFS;
    auto it = open_.find(handle);
    if (it == open_.end() || !it->second.write) return -EBADF;
    if (size == 0) return 0;
    FileState& f = *it->second.file;
    seen_.erase(std::make_pair(f.loc.folder, f.loc.index));
    if (int rc = WriteAt(f, offset, data, size); rc < 0) return rc;
    it->second.wrote = true;
    return long(size);
}

int VolumeFiles::Truncate(const std::string& path, uint64_t size) {
    if (readOnly_) return -EROFS;
    if (int rc = CommitAll(); rc < 0) return rc;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0 || (dir.GetAttr(loc.index) & kAttrDirectory)) return -EISDIR;
    if (dir.GetAttr(loc.index) & kAttrReadOnly) return -EACCES;
    if (size > kMaxFileSize) return -EFBIG;
    if (int rc = Resize(loc, dir, size); rc < 0) return rc;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::TruncateOpen(uint64_t handle, uint64_t size) {
    if (readOnly_) return -EROFS;
    auto it = open_.find(handle);
    if (it == open_.end() || !it->second.write) return -EBADF;
    if (size > kMaxFileSize) return -EFBIG;
    if (it->second.file->gone) return -ESTALE;
    if (int rc = CommitAll(); rc < 0) return rc;
    const Loc loc = it->second.file->loc;
    DIDir dir(&image_, loc.folder);
    if (!LoadFolder(loc.folder, dir)) return -EIO;
    if (!dir.IsValidIndex(loc.index) || dir.IsFree(loc.index)) return -ESTALE;
    if (int rc = Resize(loc, dir, size); rc < 0) return rc;
    it->second.wrote = true;
    return 0;
}

int VolumeFiles::Sync(uint64_t handle) {
    auto it = open_.find(handle);
    if (it == open_.end()) return -EBADF;
    if (int rc = Commit(*it->second.file); rc < 0) return rc;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::FlushOpen(uint64_t handle) {
    auto it = open_.find(handle);
    if (it == open_.end()) return -EBADF;
    if (!it->second.wrote) return 0;
    if (int rc = Commit(*it->second.file); rc < 0) return rc;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::Close(uint64_t handle) {
    auto it = open_.find(handle);
    if (it == open_.end()) return -EBADF;
    const bool wrote = it->second.wrote;
    std::shared_ptr<FileState> file = it->second.file;
    int rc = wrote ? Commit(*file) : 0;
    open_.erase(it);
    // An entry that could not be written is tried again before every
    // other change and at unmount, whose status tells a last failure.
    if (file->pending && !file->gone && std::find(unsaved_.begin(), unsaved_.end(), file) == unsaved_.end())
        unsaved_.push_back(file);
    if (rc < 0) return rc;
    if (wrote && !Flush()) return -EIO;
    return 0;
}

int VolumeFiles::SyncAll() {
    int rc = CommitAll();
    if (!Flush()) return -EIO;
    return rc < 0 ? rc : unsaved_.empty() ? 0 : -EIO;
}

int VolumeFiles::MakeFolder(const std::string& path) {
    if (readOnly_) return -EROFS;
    FolderChange change{*this};
    uint32_t folder;
    std::string name;
    if (int rc = ResolveParent(path, folder, name); rc < 0) return rc;
    DIDir dir(&image_, folder);
    if (!LoadFolder(folder, dir)) return -EIO;
    // A name the volume would shorten or alter is refused, so that two
    // different names never end up as one entry.
    dirty_ = true;
    if (OpResult r = MakeFolderIn(dir, name, true); !r.Ok()) return -ErrnoOf(r);
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::RemoveEntry(const std::string& path, bool folder) {
    if (readOnly_) return -EROFS;
    FolderChange change{*this};
    if (int rc = CommitAll(); rc < 0) return rc;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0) return folder ? -EBUSY : -EISDIR;
    dirty_ = true;
    if (OpResult r = RemoveEntryIn(dir, loc.index, folder); !r.Ok()) return -ErrnoOf(r);
    Forget(loc);
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::RemoveFile(const std::string& path) { return RemoveEntry(path, false); }

int VolumeFiles::RemoveFolder(const std::string& path) { return RemoveEntry(path, true); }

void VolumeFiles::Moved(const Loc& from, const Loc& to) {
    seen_.erase(std::make_pair(from.folder, from.index));
    seen_.erase(std::make_pair(to.folder, to.index));
    for (const auto& state : States()) {
        FileState& f = *state;
        if (!f.gone && f.loc.folder == from.folder && f.loc.index == from.index) f.loc = to;
    }
}

void VolumeFiles::Changed(const Loc& loc) {
    seen_.erase(std::make_pair(loc.folder, loc.index));
    for (const auto& state : States()) {
        FileState& f = *state;
        if (f.loc.folder == loc.folder && f.loc.index == loc.index) f.known = false;
    }
}

void VolumeFiles::Forget(const Loc& loc) {
    seen_.erase(std::make_pair(loc.folder, loc.index));
    for (const auto& state : States()) {
        FileState& f = *state;
        if (f.loc.folder == loc.folder && f.loc.index == loc.index) f.gone = true;
    }
}

int VolumeFiles::Rename(const std::string& from, const std::string& to, bool noReplace) {
    if (readOnly_) return -EROFS;
    FolderChange change{*this};
    if (int rc = CommitAll(); rc < 0) return rc;
    Loc src;
    DIDir srcDir(&image_, 0);
    if (int rc = Resolve(from, src, &srcDir); rc < 0) return rc;
    if (src.index < 0) return -EBUSY;
    uint32_t targetFolder;
    std::string name;
    if (int rc = ResolveParent(to, targetFolder, name); rc < 0) return rc;
    const bool sameFolder = targetFolder == src.folder;
    DIDir otherDir(&image_, targetFolder);
    if (!sameFolder && !LoadFolder(targetFolder, otherDir)) return -EIO;
    DIDir& dst = sameFolder ? srcDir : otherDir;

    int t = FindName(dst, name);
    if (t == kAmbiguousName) return -EEXIST;
    dirty_ = true;
    if (sameFolder && (t == src.index || t < 0)) {
        // A new name in the same folder (or the same entry under another
        // spelling: only the case changes).
        if (EntryName(srcDir, src.index) == name) return 0;
        OpResult r = RenameIn(srcDir, src.index, name, true);
        if (!r.Ok()) return -ErrnoOf(r);
        Moved(src, Loc{src.folder, r.index});
        return Flush() ? 0 : -EIO;
    }
    if (t >= 0 && noReplace) return -EEXIST;
    if (t < 0)
        if (OpResult r = ExactName(dst, name); !r.Ok()) return -ErrnoOf(r);
    // The one move of the volume: onto the existing entry as a replace, or
    // into the other folder under the name asked for, in one step.
    const bool sameName = EntryName(srcDir, src.index) == name;
    OpResult r = MoveEntry(srcDir, src.index, dst, t >= 0 || sameName ? std::string() : name, t);
    if (!r.Ok()) return -ErrnoOf(r);
    if (t >= 0) Forget(Loc{targetFolder, t});
    Moved(src, Loc{targetFolder, r.index});
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::SetTime(const std::string& path, std::time_t mtime) {
    if (readOnly_) return -EROFS;
    // Written data keep their own time until their entry is written: that
    // comes first, so that the time set here stays.
    if (int rc = CommitAll(); rc < 0) return rc;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0) return 0;  // the root has no entry to hold a time
    dir.SetTime(loc.index, LocalTimeOf(mtime));
    dirty_ = true;
    if (OpResult r = WriteFolder(dir); !r.Ok()) {
        ForgetFolders();
        return -ErrnoOf(r);
    }
    Keep(dir);
    seen_.erase(std::make_pair(loc.folder, loc.index));
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::SetReadOnly(const std::string& path, bool readOnly) {
    if (readOnly_) return -EROFS;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0) return 0;
    const uint8_t a = dir.GetAttr(loc.index);
    if (bool(a & kAttrReadOnly) == readOnly) return 0;
    OpResult r = SetAttributesIn(dir, loc.index, readOnly ? kAttrReadOnly : 0, readOnly ? 0 : kAttrReadOnly);
    dirty_ = true;
    if (r.Ok()) r = WriteFolder(dir);
    if (!r.Ok()) {
        ForgetFolders();
        return -ErrnoOf(r);
    }
    Keep(dir);
    return Flush() ? 0 : -EIO;
}

VolumeFigures VolumeFiles::Figures() const {
    VolumeFigures f;
    f.clusterSize = image_.ClusterSize;
    f.clusters = image_.ClustersCount;
    f.freeClusters = image_.FreeCount();
    // The longest name in bytes: a long name of 255 characters, else 8.3,
    // or 18.3 on Human68k.
    if (image_.FileSystem == kFileSystemHuman68k) f.nameMax = 22;
    else f.nameMax = image_.LongNames ? 255 : 12;
    return f;
}
