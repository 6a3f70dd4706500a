#include "explorer/importer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/messages.h"
#include "explorer/exporter.h"
#include "explorer/folderops.h"
#include "explorer/hostnames.h"

namespace {

// Largest piece of file data written to the device at once.
constexpr uint32_t kPieceBytes = 4u << 20;

// The host folders being imported, by device and inode: a folder reached
// again through a symbolic link is not imported into itself without end.
thread_local std::vector<std::pair<dev_t, ino_t>> g_openFolders;

// A new file is marked for archiving, as DOS marks every file it writes;
// a host file without write permission arrives read-only.
uint8_t MappedAttributes(const struct stat& st) {
    uint8_t a = kAttrArchive;
    if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
    return a;
}

// Reads up to n bytes; the number read.
std::size_t ReadUpTo(int fd, uint8_t* p, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, p + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += std::size_t(r);
    }
    return got;
}

// Writes the host file into the chain, contiguous clusters in one device
// write each; the tail of the last cluster is zero.
void CopyHostToChain(DiskImage& image, const ChainList& chain, int fd) {
    const uint32_t cs = image.ClusterSize;
    const uint32_t perPiece = std::max<uint32_t>(1, kPieceBytes / cs);
    std::vector<uint8_t> buffer(std::size_t(std::min<std::size_t>(chain.size(), perPiece)) * cs);
    ForEachClusterRun(chain, perPiece, [&](std::size_t, uint32_t first, uint32_t n) {
        // Host reads are not checked one by one: what could not be read
        // stays zero, as with a bad sector; so does the tail of the last cluster.
        std::size_t got = ReadUpTo(fd, buffer.data(), std::size_t(n) * cs);
        std::fill(buffer.begin() + long(got), buffer.begin() + long(std::size_t(n) * cs), 0);
        image.WriteClusterRun(first, n, buffer.data());
        return true;
    });
}

std::vector<std::string> ListHostFolder(const std::string& path, bool& ok) {
    std::vector<std::string> names;
    ok = false;
    DIR* d = opendir(path.c_str());
    if (!d) return names;
    errno = 0;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
        errno = 0;
    }
    ok = errno == 0;
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

void ImportFolder(const std::string& path, const struct stat& st, DIDir& dir, OverwriteAnswer& state) {
    bool listed = false;
    std::vector<std::string> names = ListHostFolder(path, listed);
    if (!listed) {
        ShowMessage(names.empty() ? 104 : 105, path);
        state = owCancel;
        return;
    }
    for (const auto& open : g_openFolders)
        if (open.first == st.st_dev && open.second == st.st_ino) return;  // a link back to a folder being imported
    int j = CreateFolder(dir, Utf8ToSjis(HostBaseName(path)));
    if (j < 0) {
        state = owCancel;
        return;
    }
    uint32_t cluster = uint32_t(dir.GetStartCluster(j));
    DIDir sub(dir.GetImage(), cluster);
    if (!sub.Load()) {
        ShowMessage(106, dir.GetDisplayName(j));
        state = owCancel;
        return;
    }
    g_openFolders.emplace_back(st.st_dev, st.st_ino);
    for (std::size_t k = 0; k < names.size() && state != owCancel; ++k) {
        UI().SetStatusText(0, ResourceString().LoadMessage(133, int(names.size()), int(k)));
        ImportPath(JoinHostPath(path, names[k]), sub, state);
    }
    g_openFolders.pop_back();
    if (!sub.Write()) {
        ShowMessage(107, path);
        sub.DeleteAll();
        dir.Delete(j);
        dir.Write();
        UI().FolderRemoved(cluster);
        state = owCancel;
    }
    UI().FreeSpaceChanged();
}

void ImportFile(const std::string& path, DIDir& dir, OverwriteAnswer& state) {
    const std::string name = Utf8ToSjis(HostBaseName(path));
    int i = dir.Find(name);
    if (i < 0) {
        i = dir.AddEntry(name);
        if (i < 0) {
            ShowMessage(108);
            state = owCancel;
            return;
        }
    } else {
        if (dir.GetAttr(i) & kAttrDirectory) {
            ShowMessage(109, SjisToUtf8(dir.GetDisplayName(i)));
            return;
        }
        if (state == owNoToAll) return;
        if (state != owYesToAll) {
            SystemTime hostTime;
            if (!GetHostFileTime(path, hostTime)) {
                ShowMessage(110, path);
                state = owCancel;
                return;
            }
            state = UI().AskOverwrite(SjisToUtf8(dir.GetDisplayName(i)), dir.GetTime(i), path, hostTime);
            if (state == owCancel || state == owNo || state == owNoToAll) return;
        }
        if (!dir.Delete(i)) {
            ShowMessage(111, SjisToUtf8(dir.GetDisplayName(i)));
            state = owCancel;
            return;
        }
        dir.SetName(i, name);
    }

    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0) {
        ShowMessage(110, path);
        dir.Release(i);
        state = owCancel;
        return;
    }
    if (fstat(fd, &st) != 0 || st.st_size > 0xFFFFFFFFll) {
        ShowMessage(112, path);
        ::close(fd);
        dir.Release(i);
        state = owCancel;
        return;
    }
    dir.SetAttr(i, MappedAttributes(st));
    dir.SetTime(i, LocalTimeOf(st.st_mtime));
    DiskImage& image = *dir.GetImage();
    const uint32_t size = uint32_t(st.st_size);
    if (uint64_t(image.FreeClusters) * image.ClusterSize < size) {
        ShowMessage(113, path);
        ::close(fd);
        dir.Release(i);
        state = owCancel;
        return;
    }
    dir.SetSize(i, size);
    if (size == 0) {
        dir.SetStartCluster(i, 0);
        ::close(fd);
        UI().FreeSpaceChanged();
        return;
    }
    auto chain = image.AllocateChain(size);
    if (!chain) {
        ShowMessage(114, path);
        ::close(fd);
        dir.Release(i);
        state = owCancel;
        return;
    }
    dir.SetStartCluster(i, chain->front());
    CopyHostToChain(image, *chain, fd);
    ::close(fd);
    UI().FreeSpaceChanged();
}

}  // namespace

void ImportPath(const std::string& hostPath, DIDir& dir, OverwriteAnswer& state) {
    if (state == owCancel) return;
    UI().SetStatusText(1, ResourceString().LoadMessage(132, HostBaseName(hostPath)));
    struct stat st {};
    // A path whose attributes cannot be read counts as a folder, whose
    // listing then reports it.
    if (stat(hostPath.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        ImportFolder(hostPath, st, dir, state);
        return;
    }
    ImportFile(hostPath, dir, state);
}

OverwriteAnswer ImportFileList(DIDir& dir, const std::vector<std::string>& paths, bool confirm, bool countFromOne) {
    if (confirm && !UI().ConfirmImport(paths)) return owCancel;
    OverwriteAnswer state = owYes;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        UI().SetStatusText(0, ResourceString().LoadMessage(133, int(paths.size()), int(k + (countFromOne ? 1 : 0))));
        ImportPath(paths[k], dir, state);
        if (state == owCancel) {
            ShowMessage(118);
            break;
        }
    }
    if (!dir.Write()) ShowMessage(107, "");
    UI().FreeSpaceChanged();
    return state;
}
