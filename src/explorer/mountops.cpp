#include "explorer/mountops.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "device/asciicase.h"
#include "explorer/hostnames.h"
#include "explorer/mover.h"
#include "volume/longnames.h"

namespace {

// Largest piece of a file moved to or from the device in one call.
constexpr uint64_t kPieceBytes = 1u << 20;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

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

std::time_t ToTimeT(const SystemTime& t) {
    std::tm tm{};
    tm.tm_year = int(t.wYear) - 1900;
    tm.tm_mon = std::max(1, int(t.wMonth)) - 1;
    tm.tm_mday = std::max(1, int(t.wDay));
    tm.tm_hour = t.wHour;
    tm.tm_min = t.wMinute;
    tm.tm_sec = t.wSecond;
    tm.tm_isdst = -1;
    std::time_t v = std::mktime(&tm);
    return v == std::time_t(-1) ? 0 : v;
}

NodeInfo InfoOf(const DIDir& dir, int i) {
    NodeInfo n;
    uint8_t a = dir.GetAttr(i);
    n.isDir = (a & kAttrDirectory) != 0;
    n.readOnly = (a & kAttrReadOnly) != 0;
    n.size = n.isDir ? 0 : dir.GetSize(i);
    n.mtime = ToTimeT(dir.GetTime(i));
    return n;
}

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '/') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

}  // namespace

VolumeFiles::VolumeFiles(DiskImage& image, bool readOnly)
    : image_(image), readOnly_(readOnly || image.IsReadOnly()), mountTime_(std::time(nullptr)) {}

bool VolumeFiles::Flush() {
    if (!dirty_) return true;
    if (flusher && !flusher()) return false;
    dirty_ = false;
    return true;
}

int VolumeFiles::FindName(const DIDir& dir, const std::string& utf8) const {
    if (dir.UsesLongNames()) {
        // Long names and their 8.3 aliases, letters of any script folded.
        int i = dir.FindName(utf8);
        return i >= 0 && IsListed(dir, i) ? i : -1;
    }
    for (uint32_t i = 0; i < dir.GetCount(); ++i)
        if (IsListed(dir, int(i)) && EqualIgnoringAsciiCase(EntryName(dir, int(i)), utf8)) return int(i);
    return -1;
}

int VolumeFiles::Resolve(const std::string& path, Loc& loc, DIDir* holder, std::vector<uint32_t>* trail) {
    loc = Loc{};
    uint32_t folder = 0;
    std::vector<uint32_t> own;
    std::vector<uint32_t>& folders = trail ? *trail : own;
    folders.assign(1, 0);
    auto parts = Components(path);
    if (parts.empty()) {
        if (holder) {
            *holder = DIDir(&image_, 0);
            if (!holder->Load()) return -EIO;
        }
        return 0;
    }
    for (std::size_t k = 0; k < parts.size(); ++k) {
        DIDir dir(&image_, folder);
        if (!dir.Load()) return -EIO;
        int i = FindName(dir, parts[k]);
        if (i < 0) return -ENOENT;
        if (k + 1 == parts.size()) {
            loc.folder = folder;
            loc.index = i;
            if (holder) *holder = std::move(dir);
            return 0;
        }
        if (!(dir.GetAttr(i) & kAttrDirectory)) return -ENOTDIR;
        folder = SubFolder(dir, i);
        // A folder that holds itself, or one above it, leads nowhere new.
        if (folder == 0 || std::find(folders.begin(), folders.end(), folder) != folders.end()) return -ELOOP;
        folders.push_back(folder);
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

int VolumeFiles::CheckNewName(const DIDir& dir, const std::string& utf8, std::string& sjis) const {
    if (utf8.empty() || utf8 == "." || utf8 == "..") return -EINVAL;
    if (dir.UsesLongNames()) {
        // Any name a long name can hold as given.
        std::u16string clean = CleanLongName(utf8);
        if (clean.size() > 255) return -ENAMETOOLONG;
        if (clean.empty() || Utf16ToUtf8(clean) != utf8) return -EINVAL;
        sjis.clear();
        return 0;
    }
    sjis = Utf8ToSjis(utf8);
    if (SjisToUtf8(sjis) != utf8) return -EINVAL;  // no Shift-JIS spelling
    // The name must come back as it was given (letters may change case):
    // a name the volume would shorten or alter is refused, so that two
    // different names never end up as one entry.
    std::string disk = dir.ToDiskName(sjis);
    std::size_t dot = disk.find('.');
    std::string base = disk.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : disk.substr(dot + 1);
    if (base.empty()) return -EINVAL;
    std::string shown = ext.empty() ? base : base + "." + ext;
    if (EqualIgnoringAsciiCase(shown, sjis)) return 0;
    // Too long, or changed: a dot at either end or more than one, spaces,
    // characters a DOS name cannot hold.
    bool altered = utf8.front() == '.' || utf8.back() == '.' || std::count(utf8.begin(), utf8.end(), '.') > 1 ||
                   utf8.find_first_of(" \\:;,*?\"<>|") != std::string::npos ||
                   std::any_of(utf8.begin(), utf8.end(), [](char c) { return (unsigned char)c < 0x20; });
    return altered ? -EINVAL : -ENAMETOOLONG;
}

// Makes sure the folder can take one more entry. A folder whose clusters
// are full grows by one cluster here, zeroed on the device before the FAT
// links it, so that a stop never shows stale bytes as entries; the folder
// is loaded again afterwards.
int VolumeFiles::EnsureRoom(DIDir& dir) {
    for (uint32_t i = 0; i < dir.GetCount(); ++i)
        if (dir.IsFree(int(i))) return 0;
    const uint64_t wanted = uint64_t(dir.GetCount() + 1) * 32;
    if (image_.IsRootRegion(dir.GetCluster()))
        return wanted <= uint64_t(uint32_t(image_.UserArea) - image_.RootDir) ? 0 : -ENOSPC;
    if (dir.GetCount() + 1 > kMaxDirEntries) return -ENOSPC;
    const uint32_t first = dir.GetCluster() == 0 ? image_.RootDir : dir.GetCluster();
    auto chain = image_.ReadChain(first);
    if (!chain) return -EIO;
    if (wanted <= uint64_t(chain->size()) * image_.ClusterSize) return 0;
    if (image_.FreeClusters == 0) return -ENOSPC;
    uint32_t fresh = 0;
    const uint32_t limit = image_.ClusterLimit();
    const uint32_t start = std::clamp<uint32_t>(image_.NextFree, 2, limit);
    for (uint32_t c = start; c < limit && !fresh; ++c)
        if (image_.GetFATEntry(c) == 0) fresh = c;
    for (uint32_t c = 2; c < start && !fresh; ++c)
        if (image_.GetFATEntry(c) == 0) fresh = c;
    if (!fresh) return -ENOSPC;
    std::vector<uint8_t> zeros(image_.ClusterSize, 0);
    if (!image_.WriteCluster(fresh, zeros.data())) return -EIO;
    bool ok;
    {
        DiskImage::FATBatch batch(image_);
        ok = image_.SetFATEntry(fresh, EndOfChain) && image_.SetFATEntry(chain->back(), fresh);
        ok = batch.Commit() && ok;
    }
    if (!ok) return -EIO;
    image_.FreeClusters -= 1;
    image_.NextFree = fresh + 1;
    dirty_ = true;
    return dir.Load() ? 0 : -EIO;
}

// Gives entry i the name `utf8` (`sjis` its stored form without long
// names), in memory. With long names the entry may move to make room for
// its slots: the index it has afterwards, or -1.
int VolumeFiles::NameEntry(DIDir& dir, int i, const std::string& utf8, const std::string& sjis) {
    if (dir.UsesLongNames()) return dir.Rename(i, utf8);
    return dir.SetName(i, sjis) ? i : -1;
}

int VolumeFiles::LoadFile(const OpenFile& f, DIDir& dir) const {
    if (f.gone) return -ESTALE;
    dir = DIDir(&image_, f.loc.folder);
    if (!dir.Load()) return -EIO;
    if (!dir.IsValidIndex(f.loc.index) || dir.IsFree(f.loc.index)) return -ESTALE;
    if (dir.GetAttr(f.loc.index) & kAttrDirectory) return -EISDIR;
    return 0;
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
    info = InfoOf(dir, loc.index);
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
    if (!dir.Load()) return -EIO;
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
        entries.emplace_back(name, InfoOf(dir, int(i)));
    }
    return 0;
}

int VolumeFiles::Open(const std::string& path, bool write, uint64_t& handle) {
    if (write && readOnly_) return -EROFS;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0 || (dir.GetAttr(loc.index) & kAttrDirectory)) return -EISDIR;
    if (write && (dir.GetAttr(loc.index) & kAttrReadOnly)) return -EACCES;
    handle = nextHandle_++;
    open_[handle] = OpenFile{loc, write, false, false};
    return 0;
}

int VolumeFiles::Create(const std::string& path, unsigned mode, uint64_t& handle) {
    if (readOnly_) return -EROFS;
    uint32_t folder;
    std::string name, sjis;
    if (int rc = ResolveParent(path, folder, name); rc < 0) return rc;
    DIDir dir(&image_, folder);
    if (!dir.Load()) return -EIO;
    if (FindName(dir, name) >= 0) return -EEXIST;
    if (int rc = CheckNewName(dir, name, sjis); rc < 0) return rc;
    int i;
    if (dir.UsesLongNames()) {
        i = dir.AddNamed(name);
    } else {
        if (int rc = EnsureRoom(dir); rc < 0) return rc;
        i = dir.AddEntry(sjis);
    }
    if (i < 0) return -ENOSPC;
    dir.SetAttr(i, uint8_t(kAttrArchive | ((mode & 0200) ? 0 : kAttrReadOnly)));
    dir.SetTime(i, LocalTimeNow());
    if (!dir.Write()) return -EIO;
    dirty_ = true;
    handle = nextHandle_++;
    open_[handle] = OpenFile{Loc{folder, i}, true, true, false};
    return 0;
}

long VolumeFiles::Read(uint64_t handle, uint64_t offset, uint32_t size, char* buffer) {
    auto it = open_.find(handle);
    if (it == open_.end()) return -EBADF;
    DIDir dir(&image_, 0);
    if (int rc = LoadFile(it->second, dir); rc < 0) return rc;
    const int i = it->second.loc.index;
    const uint64_t fileSize = dir.GetSize(i);
    if (offset >= fileSize || size == 0) return 0;
    const uint64_t n = std::min<uint64_t>(size, fileSize - offset);
    const uint32_t cs = image_.ClusterSize;
    int64_t first = dir.GetStartCluster(i);
    if (first < 2) return -EIO;
    auto chain = image_.ReadChain(uint32_t(first));
    if (!chain) return -EIO;
    const uint64_t k0 = offset / cs, k1 = (offset + n - 1) / cs;
    if (k1 >= chain->size()) return -EIO;  // the chain ends before the size does
    ChainList part(chain->begin() + long(k0), chain->begin() + long(k1) + 1);
    std::vector<uint8_t> tmp;
    uint64_t done = 0;
    bool ok = ForEachClusterRun(part, std::max<uint64_t>(1, kPieceBytes / cs), [&](std::size_t index, uint32_t run,
                                                                                   uint32_t count) {
        tmp.resize(std::size_t(count) * cs);
        if (!image_.ReadClusterRun(run, count, tmp.data())) return false;
        uint64_t runStart = (k0 + index) * cs;  // file offset of the run
        uint64_t from = std::max(runStart, offset), to = std::min(runStart + tmp.size(), offset + n);
        std::memcpy(buffer + (from - offset), tmp.data() + (from - runStart), std::size_t(to - from));
        done += to - from;
        return true;
    });
    if (!ok || done != n) return -EIO;
    return long(n);
}

// Puts `size` bytes of `data` at `offset` of entry i; the bytes between the
// old size and `offset`, when the write starts beyond the end, become zero.
// The file grows to offset + size when that is beyond its size.
int VolumeFiles::ChangeSize(DIDir& dir, int i, uint64_t offset, const char* data, uint32_t size) {
    const uint32_t cs = image_.ClusterSize;
    const uint64_t oldSize = dir.GetSize(i);
    const uint64_t end = offset + size;
    if (end > kMaxFileSize) return -EFBIG;
    const uint64_t newSize = std::max(oldSize, end);
    const uint64_t from = std::min(offset, oldSize);

    int64_t firstCluster = dir.GetStartCluster(i);
    uint32_t first = firstCluster < 2 ? 0 : uint32_t(firstCluster);
    ChainList chain;
    if (first != 0) {
        auto c = image_.ReadChain(first);
        if (!c) return -EIO;
        chain = std::move(*c);
    }
    const uint64_t have = chain.size();
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
        ChainList part(chain.begin() + long(k0), chain.begin() + long(k1) + 1);
        bool ok = ForEachClusterRun(part, perRun, [&](std::size_t index, uint32_t run, uint32_t count) {
            uint64_t at = (k0 + index) * cs, len = uint64_t(count) * cs;
            buf.assign(std::size_t(len), 0);
            // Clusters only partly covered keep the bytes around the write.
            if ((at < from || at + len > inPlaceTo) && !image_.ReadClusterRun(run, count, buf.data())) return false;
            fill(at, buf.data(), len);
            return image_.WriteClusterRun(run, count, buf.data());
        });
        if (!ok) return -EIO;
    }

    // 2. Bytes beyond the clusters the file has: into free clusters first,
    //    then the FAT links them.
    if (need > have) {
        uint64_t more = need - have;
        if (more > image_.FreeClusters) return -ENOSPC;
        ChainList fresh;
        fresh.reserve(std::size_t(more));
        const uint32_t limit = image_.ClusterLimit();
        const uint32_t start = std::clamp<uint32_t>(image_.NextFree, 2, limit);
        for (uint32_t c = start; c < limit && fresh.size() < more; ++c)
            if (image_.GetFATEntry(c) == 0) fresh.push_back(c);
        for (uint32_t c = 2; c < start && fresh.size() < more; ++c)
            if (image_.GetFATEntry(c) == 0) fresh.push_back(c);
        if (fresh.size() < more) return -ENOSPC;
        bool ok = ForEachClusterRun(fresh, perRun, [&](std::size_t index, uint32_t run, uint32_t count) {
            uint64_t at = (have + index) * cs, len = uint64_t(count) * cs;
            buf.assign(std::size_t(len), 0);
            fill(at, buf.data(), len);
            return image_.WriteClusterRun(run, count, buf.data());
        });
        if (!ok) return -EIO;
        {
            DiskImage::FATBatch batch(image_);
            for (std::size_t k = 0; k < fresh.size() && ok; ++k)
                ok = image_.SetFATEntry(fresh[k], k + 1 < fresh.size() ? fresh[k + 1] : EndOfChain);
            if (ok && !chain.empty()) ok = image_.SetFATEntry(chain.back(), fresh.front());
            ok = batch.Commit() && ok;
        }
        if (!ok) return -EIO;
        image_.FreeClusters -= uint32_t(more);
        image_.NextFree = fresh.back() + 1;
        if (first == 0) first = fresh.front();
    }

    // 3. The entry: size, first cluster, time.
    dir.SetSize(i, uint32_t(newSize));
    dir.SetStartCluster(i, first);
    dir.SetAttr(i, uint8_t(dir.GetAttr(i) | kAttrArchive));
    dir.SetTime(i, LocalTimeNow());
    if (!dir.Write()) return -EIO;
    dirty_ = true;
    return 0;
}

int VolumeFiles::Shrink(DIDir& dir, int i, uint32_t newSize) {
    const uint32_t cs = image_.ClusterSize;
    int64_t firstCluster = dir.GetStartCluster(i);
    uint32_t first = firstCluster < 2 ? 0 : uint32_t(firstCluster);
    std::size_t have = 0;
    if (first != 0) {
        auto chain = image_.ReadChain(first);
        if (!chain) return -EIO;
        have = chain->size();
    }
    const uint64_t keep = (uint64_t(newSize) + cs - 1) / cs;
    // The entry first: a stop before the clusters are freed leaves them
    // allocated beyond the size, never a size beyond the chain.
    dir.SetSize(i, newSize);
    if (keep == 0) dir.SetStartCluster(i, 0);
    dir.SetAttr(i, uint8_t(dir.GetAttr(i) | kAttrArchive));
    dir.SetTime(i, LocalTimeNow());
    if (!dir.Write()) return -EIO;
    dirty_ = true;
    if (have > keep) {
        bool ok = keep == 0 ? image_.FreeChain(first) : image_.ResizeChain(first, newSize).has_value();
        if (!ok) return -EIO;
    }
    return 0;
}

long VolumeFiles::Write(uint64_t handle, uint64_t offset, const char* data, uint32_t size) {
    if (readOnly_) return -EROFS;
    auto it = open_.find(handle);
    if (it == open_.end() || !it->second.write) return -EBADF;
    if (size == 0) return 0;
    DIDir dir(&image_, 0);
    if (int rc = LoadFile(it->second, dir); rc < 0) return rc;
    if (int rc = ChangeSize(dir, it->second.loc.index, offset, data, size); rc < 0) return rc;
    it->second.wrote = true;
    return long(size);
}

int VolumeFiles::Truncate(const std::string& path, uint64_t size) {
    if (readOnly_) return -EROFS;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0 || (dir.GetAttr(loc.index) & kAttrDirectory)) return -EISDIR;
    if (dir.GetAttr(loc.index) & kAttrReadOnly) return -EACCES;
    if (size > kMaxFileSize) return -EFBIG;
    uint64_t old = dir.GetSize(loc.index);
    int rc;
    if (size > old) {
        rc = ChangeSize(dir, loc.index, size, nullptr, 0);
    } else if (size < old) {
        rc = Shrink(dir, loc.index, uint32_t(size));
    } else {
        dir.SetTime(loc.index, LocalTimeNow());
        rc = dir.Write() ? 0 : -EIO;
        dirty_ = true;
    }
    if (rc < 0) return rc;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::TruncateOpen(uint64_t handle, uint64_t size) {
    if (readOnly_) return -EROFS;
    auto it = open_.find(handle);
    if (it == open_.end() || !it->second.write) return -EBADF;
    if (size > kMaxFileSize) return -EFBIG;
    DIDir dir(&image_, 0);
    if (int rc = LoadFile(it->second, dir); rc < 0) return rc;
    const int i = it->second.loc.index;
    uint64_t old = dir.GetSize(i);
    int rc = 0;
    if (size > old) rc = ChangeSize(dir, i, size, nullptr, 0);
    else if (size < old) rc = Shrink(dir, i, uint32_t(size));
    if (rc < 0) return rc;
    it->second.wrote = true;
    return 0;
}

int VolumeFiles::Sync(uint64_t handle) {
    if (!open_.count(handle)) return -EBADF;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::Close(uint64_t handle) {
    auto it = open_.find(handle);
    if (it == open_.end()) return -EBADF;
    bool wrote = it->second.wrote;
    open_.erase(it);
    if (wrote && !Flush()) return -EIO;
    return 0;
}

int VolumeFiles::SyncAll() { return Flush() ? 0 : -EIO; }

int VolumeFiles::MakeFolder(const std::string& path) {
    if (readOnly_) return -EROFS;
    uint32_t folder;
    std::string name, sjis;
    if (int rc = ResolveParent(path, folder, name); rc < 0) return rc;
    DIDir dir(&image_, folder);
    if (!dir.Load()) return -EIO;
    if (FindName(dir, name) >= 0) return -EEXIST;
    if (int rc = CheckNewName(dir, name, sjis); rc < 0) return rc;
    if (!dir.UsesLongNames())
        if (int rc = EnsureRoom(dir); rc < 0) return rc;
    if (image_.FreeClusters == 0) return -ENOSPC;
    int j = dir.UsesLongNames() ? dir.MakeDirNamed(name) : dir.MakeDir(sjis);
    if (j < 0) return -EIO;
    if (!dir.Write()) return -EIO;
    dirty_ = true;
    return Flush() ? 0 : -EIO;
}

// Removes entry i of `dir`: the entry is written first, then its clusters
// are freed.
int VolumeFiles::RemoveEntry(DIDir& dir, int i) {
    int64_t c = dir.GetStartCluster(i);
    uint32_t first = c < 2 ? 0 : uint32_t(c);
    if (!dir.Release(i) || !dir.Write()) return -EIO;
    dirty_ = true;
    Forget(Loc{dir.GetCluster(), i});
    if (first != 0 && !image_.FreeChain(first)) return -EIO;
    return 0;
}

int VolumeFiles::RemoveFile(const std::string& path) {
    if (readOnly_) return -EROFS;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0 || (dir.GetAttr(loc.index) & kAttrDirectory)) return -EISDIR;
    if (int rc = RemoveEntry(dir, loc.index); rc < 0) return rc;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::RemoveFolder(const std::string& path) {
    if (readOnly_) return -EROFS;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0) return -EBUSY;
    if (!(dir.GetAttr(loc.index) & kAttrDirectory)) return -ENOTDIR;
    uint32_t sub = SubFolder(dir, loc.index);
    if (sub == 0) return -EIO;  // a folder entry that points at the root
    DIDir inside(&image_, sub);
    if (!inside.Load()) return -EIO;
    for (uint32_t k = 0; k < inside.GetCount(); ++k) {
        if (inside.IsFree(int(k))) continue;
        std::string n = inside.GetDisplayName(int(k));
        if (n != "." && n != "..") return -ENOTEMPTY;
    }
    if (int rc = RemoveEntry(dir, loc.index); rc < 0) return rc;
    return Flush() ? 0 : -EIO;
}

void VolumeFiles::Moved(const Loc& from, const Loc& to) {
    for (auto& [h, f] : open_)
        if (!f.gone && f.loc.folder == from.folder && f.loc.index == from.index) f.loc = to;
}

void VolumeFiles::Forget(const Loc& loc) {
    for (auto& [h, f] : open_)
        if (f.loc.folder == loc.folder && f.loc.index == loc.index) f.gone = true;
}

int VolumeFiles::Rename(const std::string& from, const std::string& to, bool noReplace) {
    if (readOnly_) return -EROFS;
    Loc src;
    DIDir srcDir(&image_, 0);
    if (int rc = Resolve(from, src, &srcDir); rc < 0) return rc;
    if (src.index < 0) return -EBUSY;
    uint32_t targetFolder;
    std::string name, sjis;
    if (int rc = ResolveParent(to, targetFolder, name); rc < 0) return rc;
    const bool sameFolder = targetFolder == src.folder;
    DIDir otherDir(&image_, targetFolder);
    if (!sameFolder && !otherDir.Load()) return -EIO;
    DIDir& dst = sameFolder ? srcDir : otherDir;

    const bool srcIsDir = (srcDir.GetAttr(src.index) & kAttrDirectory) != 0;
    int t = FindName(dst, name);
    if (sameFolder && t == src.index) {
        // The same entry under another spelling: only the case changes.
        if (EntryName(srcDir, src.index) == name) return 0;
        if (int rc = CheckNewName(srcDir, name, sjis); rc < 0) return rc;
        int k = NameEntry(srcDir, src.index, name, sjis);
        if (k < 0 || !srcDir.Write()) return -EIO;
        dirty_ = true;
        Moved(src, Loc{src.folder, k});
        return Flush() ? 0 : -EIO;
    }
    if (int rc = CheckNewName(dst, name, sjis); rc < 0) return rc;
    uint32_t replacedChain = 0;
    if (t >= 0) {
        if (noReplace) return -EEXIST;
        const bool tIsDir = (dst.GetAttr(t) & kAttrDirectory) != 0;
        if (srcIsDir && !tIsDir) return -ENOTDIR;
        if (!srcIsDir && tIsDir) return -EISDIR;
        if (tIsDir) {
            DIDir inside(&image_, SubFolder(dst, t));
            if (SubFolder(dst, t) == 0 || !inside.Load()) return -EIO;
            for (uint32_t k = 0; k < inside.GetCount(); ++k) {
                std::string n = inside.IsFree(int(k)) ? "." : inside.GetDisplayName(int(k));
                if (n != "." && n != "..") return -ENOTEMPTY;
            }
        }
    }
    if (srcIsDir) {
        uint32_t moved = SubFolder(srcDir, src.index);
        if (!sameFolder && moved != 0 && IsAtOrBelow(image_, targetFolder, moved)) return -EINVAL;
    }
    if (!sameFolder && t < 0 && !dst.UsesLongNames()) {
        if (int rc = EnsureRoom(dst); rc < 0) return rc;
    }

    // The entry being replaced goes first; its clusters are freed last.
    if (t >= 0) {
        int64_t c = dst.GetStartCluster(t);
        replacedChain = c < 2 ? 0 : uint32_t(c);
        if (!dst.Release(t) || !dst.Write()) return -EIO;
        dirty_ = true;
        Forget(Loc{targetFolder, t});
    }
    Loc now{targetFolder, src.index};
    if (sameFolder) {
        now.index = NameEntry(srcDir, src.index, name, sjis);
        if (now.index < 0 || !srcDir.Write()) return -EIO;
    } else {
        // The new name first, in the source folder when no other entry
        // there has it, so that the entry carries it through the move.
        int from = src.index;
        int clash = FindName(srcDir, name);
        bool renamed = clash < 0 || clash == src.index;
        if (renamed && EntryName(srcDir, src.index) != name) {
            from = NameEntry(srcDir, src.index, name, sjis);
            if (from < 0 || !srcDir.Write()) return -EIO;
        }
        // Into the target first, then out of the source: a stop between the
        // two leaves the entry in both folders, never in neither.
        int j = srcDir.MoveTo(from, dst);
        if (j < 0) return -EIO;
        if (!renamed) j = NameEntry(dst, j, name, sjis);
        if (j < 0 || !dst.Write()) return -EIO;
        if (!srcDir.Write()) return -EIO;
        now.index = j;
    }
    dirty_ = true;
    Moved(src, now);
    if (replacedChain != 0 && !image_.FreeChain(replacedChain)) return -EIO;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::SetTime(const std::string& path, std::time_t mtime) {
    if (readOnly_) return -EROFS;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0) return 0;  // the root has no entry to hold a time
    dir.SetTime(loc.index, LocalTimeOf(mtime));
    if (!dir.Write()) return -EIO;
    dirty_ = true;
    return Flush() ? 0 : -EIO;
}

int VolumeFiles::SetReadOnly(const std::string& path, bool readOnly) {
    if (readOnly_) return -EROFS;
    Loc loc;
    DIDir dir(&image_, 0);
    if (int rc = Resolve(path, loc, &dir); rc < 0) return rc;
    if (loc.index < 0) return 0;
    uint8_t a = dir.GetAttr(loc.index);
    uint8_t b = readOnly ? uint8_t(a | kAttrReadOnly) : uint8_t(a & ~kAttrReadOnly);
    if (a == b) return 0;
    dir.SetAttr(loc.index, b);
    if (!dir.Write()) return -EIO;
    dirty_ = true;
    return Flush() ? 0 : -EIO;
}

VolumeFigures VolumeFiles::Figures() const {
    VolumeFigures f;
    f.clusterSize = image_.ClusterSize;
    f.clusters = image_.ClustersCount;
    f.freeClusters = image_.FreeClusters;
    f.nameMax = image_.FileSystem == kFileSystemHuman68k ? 22 : 12;
    return f;
}
