#include "explorer/ops/exporter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <sys/stat.h>
#include <unistd.h>

#include "device/messages.h"
#include "explorer/ops/hostnames.h"
#include "explorer/ops/tempfolder.h"

namespace {

// A host path as messages name it: below a path given another name
// (HostPathShownAs), by that name.
std::string Shown(const std::string& path) { return ShownHostPath(path); }

// Largest piece of file data read from the device at once.
constexpr uint32_t kPieceBytes = 4u << 20;

bool WriteAll(int fd, const uint8_t* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

enum class CopyResult { Ok, ReadError, WriteError };

// Writes the first `bytes` bytes held by the chain to fd. A cluster that
// cannot be read ends the copy: no zeros stand in for it.
CopyResult CopyChainToHost(DiskImage& image, const ChainList& chain, uint64_t bytes, int fd) {
    const uint32_t cs = image.ClusterSize;
    const uint32_t perPiece = std::max<uint32_t>(1, kPieceBytes / cs);
    std::vector<uint8_t> buffer;
    CopyResult result = CopyResult::Ok;
    ForEachClusterRun(chain, perPiece, [&](std::size_t i, uint32_t first, uint32_t n) {
        uint64_t at = uint64_t(i) * cs;
        if (at >= bytes) return false;
        buffer.resize(std::size_t(n) * cs);
        if (!image.ReadClusterRun(first, n, buffer.data())) {
            result = CopyResult::ReadError;
            return false;
        }
        std::size_t take = std::size_t(std::min<uint64_t>(buffer.size(), bytes - at));
        if (!WriteAll(fd, buffer.data(), take)) {
            result = CopyResult::WriteError;
            return false;
        }
        return true;
    });
    return result;
}

// What an export learns about the host once rather than per file: the
// permission bits new files get, whether a new file can be written without
// a name and linked in whole, and the longest name the last host folder
// takes.
struct HostFacts {
    mode_t newMode = 0644;
    bool procFd = false;
    std::string folder;
    long nameMax = NAME_MAX;
    bool unnamedFiles = true;

    HostFacts() {
        mode_t mask = ::umask(0);
        ::umask(mask);
        newMode = 0666 & ~mask;
        // An unnamed file is linked in through its descriptor's name below
        // /proc; without /proc the files go through a temporary name.
        procFd = ::access("/proc/self/fd", X_OK) == 0;
    }
    void Enter(const std::string& f) {
        if (f == folder) return;
        folder = f;
        nameMax = ::pathconf(f.c_str(), _PC_NAME_MAX);
        if (nameMax <= 0) nameMax = NAME_MAX;
        unnamedFiles = procFd;
    }
};

bool HostTimeOf(const SystemTime& t, std::time_t& when) {
    std::tm tm{};
    tm.tm_year = std::max<int>(t.wYear, 1970) - 1900;
    tm.tm_mon = std::clamp<int>(t.wMonth, 1, 12) - 1;
    tm.tm_mday = std::clamp<int>(t.wDay, 1, 31);
    tm.tm_hour = std::min<int>(t.wHour, 23);
    tm.tm_min = std::min<int>(t.wMinute, 59);
    tm.tm_sec = std::min<int>(t.wSecond, 59);
    tm.tm_isdst = -1;
    when = std::mktime(&tm);
    return when != static_cast<std::time_t>(-1);
}

// Sets both times of the open file fd.
void SetOpenFileTime(int fd, const SystemTime& t) {
    std::time_t when;
    if (!HostTimeOf(t, when)) return;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = when;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    static_cast<void>(::futimens(fd, times));
}

std::string FolderOf(const std::string& path) {
    std::size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : path.substr(0, cut);
}

// Makes sure a rename into `folder` is on the disk.
void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    static_cast<void>(::fsync(fd));
    ::close(fd);
}

// The host name of entry i of `dir` in host folder `folder`: its name, or,
// when the host cannot hold a name that long, its 8.3 alias, with a line
// that says so (1628).
std::string HostNameOf(const DIDir& dir, int i, const std::string& folder, HostFacts& facts) {
    std::string name = HostComponentUtf8(dir.GetNameUtf8(i));
    facts.Enter(folder);
    if (name.size() <= std::size_t(facts.nameMax)) return name;
    std::string alias = HostComponent(dir.GetDisplayName(i));
    ShowMessage(1628, dir.GetNameUtf8(i), alias);
    return alias;
}

// Exports file entry i of dir to `target` with what `facts` knows of the host.
void ExportFileWith(DIDir& dir, int i, const std::string& target, OverwriteAnswer& state, HostFacts& facts) {
    DiskImage& image = *dir.GetImage();
    const std::string display = dir.GetNameUtf8(i);
    const uint8_t attr = dir.GetAttr(i);
    struct stat st;
    mode_t mode = facts.newMode;
    const bool replacing = lstat(target.c_str(), &st) == 0;
    if (replacing) {
        // Only a regular file is replaced; a link, a folder or a device
        // under the name is left alone.
        if (!S_ISREG(st.st_mode)) {
            ShowMessage(110, Shown(target));
            state = owCancel;
            return;
        }
        if (state == owNoToAll) return;
        if (state != owYesToAll) {
            SystemTime existing = LocalTimeOf(st.st_mtime);
            state = UI().AskOverwrite(Shown(target), existing, display, dir.GetTime(i));
            if (state == owCancel || state == owNo || state == owNoToAll) return;
        }
        mode = (st.st_mode | S_IWUSR) & 07777;
    }
    // Of the entry's attributes only read-only has a home on this host.
    if (attr & kAttrReadOnly) mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
    const std::string folder = FolderOf(target);
    facts.Enter(folder);

    // A new file is written without a name and linked in under the
    // target's name once it is whole; a file replaced, or a host that
    // cannot do that, goes through a temporary name beside the target.
    // Either way a failure or a signal on the way leaves no part of a file
    // under the name and an old file as it was.
    int fd = -1;
    const bool unnamed = !replacing && facts.unnamedFiles &&
                         (fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode)) >= 0;
    if (!replacing && !unnamed) facts.unnamedFiles = false;
    std::string temp;
    std::optional<RemovedOnSignal> removal;
    if (!unnamed) {
        temp = JoinHostPath(folder, ".voldex-XXXXXX");
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) {
            ShowSystemError();
            ShowMessage(110, Shown(target));
            state = owCancel;
            return;
        }
        removal.emplace(temp);
    }
    auto fail = [&](unsigned message) {
        if (fd >= 0) ::close(fd);
        if (!unnamed) ::unlink(temp.c_str());
        ShowMessage(message, Shown(target));
        state = owCancel;
    };
    const uint32_t size = dir.GetSize(i);
    uint64_t chainBytes = 0, written = 0;
    if (size != 0) {
        auto chain = image.ReadChain(uint32_t(dir.GetStartCluster(i)));
        if (!chain) return fail(115);
        chainBytes = uint64_t(chain->size()) * image.ClusterSize;
        written = std::min<uint64_t>(size, chainBytes);
        switch (CopyChainToHost(image, *chain, written, fd)) {
            case CopyResult::Ok: break;
            case CopyResult::ReadError: return fail(1218);
            case CopyResult::WriteError: ShowSystemError(); return fail(110);
        }
    }
    if ((!unnamed && ::fchmod(fd, mode) != 0) || (replacing && ::fsync(fd) != 0)) {
        ShowSystemError();
        return fail(110);
    }
    SetOpenFileTime(fd, dir.GetTime(i));
    if (unnamed) {
        // linkat never replaces: a file that took the name meanwhile is
        // left alone and ends the export.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            ShowSystemError();
            return fail(110);
        }
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0) {
            ShowSystemError();
            ::unlink(target.c_str());
            return fail(110);
        }
    } else {
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0) {
            ShowSystemError();
            return fail(110);
        }
        if (::rename(temp.c_str(), target.c_str()) != 0) {
            ShowSystemError();
            return fail(110);
        }
        if (replacing) SyncFolder(folder);
    }
    // A chain shorter or longer than the size: the host file holds what the
    // chain holds, up to the size, and the export says so and stops.
    const uint64_t needed = (uint64_t(size) + image.ClusterSize - 1) / image.ClusterSize * image.ClusterSize;
    if (size != 0 && chainBytes != needed) {
        ShowMessage(1212, Shown(target), uint64_t(size), chainBytes, written);
        state = owCancel;
    }
}

}  // namespace

void ExportFileTo(DIDir& dir, int i, const std::string& target, OverwriteAnswer& state) {
    HostFacts facts;
    ExportFileWith(dir, i, target, state, facts);
}

namespace {

// One folder being exported: its entries, the next one, its host folder.
struct FolderFrame {
    std::unique_ptr<DIDir> dir;
    std::string host;
    uint32_t next = 0;
};

// Makes the host folder for folder entry i of `parent` and puts its frame on
// the stack. `seen` holds every folder cluster this export has entered.
bool EnterFolder(DIDir& parent, int i, const std::string& into, std::unordered_set<uint32_t>& seen,
                 std::vector<FolderFrame>& stack, OverwriteAnswer& state, HostFacts& facts) {
    const std::string target = JoinHostPath(into, HostNameOf(parent, i, into, facts));
    uint32_t start = uint32_t(parent.GetStartCluster(i));
    // A folder met a second time (a loop back up, or a ladder of entries
    // to one folder) ends the export.
    if (start < 2 || start == parent.GetCluster() || !seen.insert(start).second) {
        ShowMessage(128);
        state = owCancel;
        return false;
    }
    struct stat st;
    if (::mkdir(target.c_str(), 0777) != 0 && !(errno == EEXIST && stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        ShowSystemError();
        ShowMessage(110, Shown(target));
        state = owCancel;
        return false;
    }
    auto sub = std::make_unique<DIDir>(parent.GetImage(), start);
    if (!sub->Load()) {
        ShowMessage(106, parent.GetNameUtf8(i));
        state = owCancel;
        return false;
    }
    stack.push_back({std::move(sub), target, 0});
    return true;
}

// Exports entry i and, for a folder, everything below it, with a stack of
// its own rather than the call stack, so that no depth ends it.
void ExportTree(DIDir& dir, int i, const std::string& folder, OverwriteAnswer& state,
                std::unordered_set<uint32_t>& seen, HostFacts& facts) {
    if (state == owCancel) return;
    UI().SetStatusText(1, ResourceString().LoadMessage(134, dir.GetNameUtf8(i)));
    if (!IsExportable(dir, i)) return;
    if (!(dir.GetAttr(i) & kAttrDirectory)) {
        ExportFileWith(dir, i, JoinHostPath(folder, HostNameOf(dir, i, folder, facts)), state, facts);
        return;
    }
    seen.insert(dir.GetCluster());
    std::vector<FolderFrame> stack;
    if (!EnterFolder(dir, i, folder, seen, stack, state, facts)) return;
    while (!stack.empty() && state != owCancel) {
        FolderFrame& top = stack.back();
        if (top.next >= top.dir->GetCount()) {
            stack.pop_back();
            continue;
        }
        int k = int(top.next++);
        DIDir& d = *top.dir;
        if (!IsExportable(d, k)) continue;
        std::string host = top.host;  // `top` may move when the stack grows
        UI().SetStatusText(1, ResourceString().LoadMessage(134, d.GetNameUtf8(k)));
        if (d.GetAttr(k) & kAttrDirectory) EnterFolder(d, k, host, seen, stack, state, facts);
        else ExportFileWith(d, k, JoinHostPath(host, HostNameOf(d, k, host, facts)), state, facts);
    }
}

}  // namespace

bool IsExportable(const DIDir& dir, int i) {
    return !dir.IsFree(i) && !(dir.GetAttr(i) & kAttrVolume) && !dir.IsDotEntry(i) && !dir.GetDisplayName(i).empty();
}

bool IsTransferable(const DIDir& dir, int i) {
    if (dir.IsFree(i) || (dir.GetAttr(i) & kAttrVolume)) return false;
    std::string name = dir.GetDisplayName(i);
    return !name.empty() && name[0] != '.';
}

bool SetHostFileTime(const std::string& path, const SystemTime& t) {
    std::time_t when;
    if (!HostTimeOf(t, when)) return false;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = when;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool GetHostFileTime(const std::string& path, SystemTime& t) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    t = LocalTimeOf(st.st_mtime);
    return true;
}

void ExportEntry(DIDir& dir, int i, const std::string& folder, OverwriteAnswer& state) {
    std::unordered_set<uint32_t> seen;
    HostFacts facts;
    ExportTree(dir, i, folder, state, seen, facts);
}

int ExportEntries(DIDir& dir, const std::vector<int>& indexes, const std::string& folder, OverwriteAnswer& state) {
    int count = 0;
    std::unordered_set<uint32_t> seen;
    HostFacts facts;
    for (int i : indexes) {
        if (state == owCancel) break;
        ExportTree(dir, i, folder, state, seen, facts);
        ++count;
    }
    return count;
}
