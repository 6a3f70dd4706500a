#include "explorer/exporter.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/messages.h"
#include "explorer/hostnames.h"

namespace {

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

// Writes the file's chain to fd. The chain decides how many clusters are
// written; the size decides only the share of the last one.
bool CopyChainToHost(DiskImage& image, const ChainList& chain, uint32_t size, int fd) {
    const uint32_t cs = image.ClusterSize;
    const uint32_t perPiece = std::max<uint32_t>(1, kPieceBytes / cs);
    const uint32_t lastPart = size % cs ? size % cs : cs;
    std::vector<uint8_t> buffer;
    return ForEachClusterRun(chain, perPiece, [&](std::size_t i, uint32_t first, uint32_t n) {
        buffer.resize(std::size_t(n) * cs);
        // Cluster reads are not checked one by one: an unreadable cluster
        // has shown its error and the export goes on, as with a bad sector.
        if (!image.ReadClusterRun(first, n, buffer.data())) std::fill(buffer.begin(), buffer.end(), 0);
        std::size_t bytes = buffer.size();
        if (i + n == chain.size()) bytes -= cs - lastPart;
        return WriteAll(fd, buffer.data(), bytes);
    });
}

// The open folders of the export in progress, to stop a folder that refers
// back to one of its parents from being followed without end.
thread_local std::vector<uint32_t> g_openFolders;

}  // namespace

bool IsTransferable(const DIDir& dir, int i) {
    if (dir.IsFree(i) || (dir.GetAttr(i) & kAttrVolume)) return false;
    std::string name = dir.GetDisplayName(i);
    return !name.empty() && name[0] != '.';
}

bool SetHostFileTime(const std::string& path, const SystemTime& t) {
    std::tm tm{};
    tm.tm_year = std::max<int>(t.wYear, 1970) - 1900;
    tm.tm_mon = std::clamp<int>(t.wMonth, 1, 12) - 1;
    tm.tm_mday = std::clamp<int>(t.wDay, 1, 31);
    tm.tm_hour = std::min<int>(t.wHour, 23);
    tm.tm_min = std::min<int>(t.wMinute, 59);
    tm.tm_sec = std::min<int>(t.wSecond, 59);
    tm.tm_isdst = -1;
    std::time_t when = std::mktime(&tm);
    if (when == static_cast<std::time_t>(-1)) return false;
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
    if (state == owCancel) return;
    std::string display = dir.GetDisplayName(i);
    UI().SetStatusText(1, ResourceString().LoadMessage(134, SjisToUtf8(display)));
    if (!IsTransferable(dir, i)) return;
    DiskImage& image = *dir.GetImage();
    const std::string target = JoinHostPath(folder, HostComponent(display));
    const uint8_t attr = dir.GetAttr(i);

    if (attr & kAttrDirectory) {
        ::mkdir(target.c_str(), 0777);
        uint32_t start = uint32_t(dir.GetStartCluster(i));
        bool loops = start < 2 || start == dir.GetCluster() ||
                     std::find(g_openFolders.begin(), g_openFolders.end(), start) != g_openFolders.end();
        if (loops) {
            ShowMessage(128);
            return;
        }
        DIDir sub(&image, start);
        if (!sub.Load()) return;  // an unreadable folder exports as an empty one
        g_openFolders.push_back(dir.GetCluster());
        for (uint32_t k = 0; k < sub.GetCount() && state != owCancel; ++k)
            if (IsTransferable(sub, int(k))) ExportEntry(sub, int(k), target, state);
        g_openFolders.pop_back();
        return;
    }

    struct stat st;
    if (lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (state == owNoToAll) return;
        if (state != owYesToAll) {
            SystemTime existing;
            if (!GetHostFileTime(target, existing)) {
                ShowMessage(110, target);
                state = owCancel;
                return;
            }
            state = UI().AskOverwrite(target, existing, SjisToUtf8(display), dir.GetTime(i));
            if (state == owCancel || state == owNo || state == owNoToAll) return;
        }
        ::chmod(target.c_str(), (st.st_mode | S_IWUSR) & 07777);
    }

    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        ShowMessage(110, target);
        state = owCancel;
        return;
    }
    uint32_t size = dir.GetSize(i);
    if (size != 0) {
        auto chain = image.ReadChain(uint32_t(dir.GetStartCluster(i)));
        if (!chain) {
            ShowMessage(115, target);
            ::close(fd);
            state = owCancel;
            return;
        }
        if (!CopyChainToHost(image, *chain, size, fd)) {
            ShowSystemError();
            ShowMessage(110, target);
            ::close(fd);
            state = owCancel;
            return;
        }
    }
    ::close(fd);
    SetHostFileTime(target, dir.GetTime(i));
    // Of the entry's attributes only read-only has a home on this host.
    if (attr & kAttrReadOnly) {
        if (::stat(target.c_str(), &st) == 0) ::chmod(target.c_str(), st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777);
    }
}

int ExportEntries(DIDir& dir, const std::vector<int>& indexes, const std::string& folder, OverwriteAnswer& state) {
    int count = 0;
    for (int i : indexes) {
        if (state == owCancel) break;
        ExportEntry(dir, i, folder, state);
        ++count;
    }
    return count;
}
