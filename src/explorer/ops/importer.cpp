#include "explorer/ops/importer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "device/messages.h"
#include "explorer/ops/exporter.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/hostnames.h"
#include "volume/deleter.h"
#include "volume/longnames.h"

namespace {

// Largest piece of file data written to the device at once.
constexpr uint32_t kPieceBytes = 4u << 20;

// Host entries the import in progress passed over (links to nothing,
// FIFOs and devices, links back up, names taken by folders): the copy is
// then incomplete, which the command line's status says.
thread_local std::size_t g_skipped = 0;

// A host path as messages name it: below a path given another name
// (HostPathShownAs), by that name.
std::string Shown(const std::string& path) { return ShownHostPath(path); }

void Skip(unsigned message, const std::string& path) {
    ShowMessage(message, Shown(path));
    ++g_skipped;
}

// A new file is marked for archiving, as DOS marks every file it writes;
// a host file without write permission arrives read-only.
uint8_t MappedAttributes(const struct stat& st) {
    uint8_t a = kAttrArchive;
    if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
    return a;
}

// Reads up to n bytes; the number read, or -1 on a read error.
long ReadUpTo(int fd, uint8_t* p, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, p + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += std::size_t(r);
    }
    return long(got);
}

enum class CopyResult { Ok, HostError, DeviceError, Stopped };

// Writes `size` bytes of the host file into the chain, contiguous clusters
// in one device write each; the tail of the last cluster is zero. A host
// file that gives fewer bytes than its size is a failure.
CopyResult CopyHostToChain(DiskImage& image, const ChainList& chain, int fd, uint32_t size) {
    const uint32_t cs = image.ClusterSize;
    const uint32_t perPiece = std::max<uint32_t>(1, kPieceBytes / cs);
    std::vector<uint8_t> buffer(std::size_t(std::min<std::size_t>(chain.size(), perPiece)) * cs);
    uint64_t left = size;
    CopyResult result = CopyResult::Ok;
    ForEachClusterRun(chain, perPiece, [&](std::size_t, uint32_t first, uint32_t n) {
        if (UI().StopRequested()) {
            result = CopyResult::Stopped;
            return false;
        }
        std::size_t want = std::size_t(std::min<uint64_t>(left, uint64_t(n) * cs));
        long got = ReadUpTo(fd, buffer.data(), want);
        if (got < 0 || std::size_t(got) != want) {
            result = CopyResult::HostError;
            return false;
        }
        std::fill(buffer.begin() + long(want), buffer.begin() + long(std::size_t(n) * cs), 0);
        if (!image.WriteClusterRun(first, n, buffer.data())) {
            result = CopyResult::DeviceError;
            return false;
        }
        left -= want;
        return true;
    });
    return result;
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

// `base` cut to at most `limit` Shift-JIS bytes, never inside a
// double-byte character.
std::string CutSjis(const std::string& base, std::size_t limit) {
    std::size_t n = 0;
    while (n < base.size()) {
        std::size_t w = IsSjisLeadByte(uint8_t(base[n])) && n + 1 < base.size() ? 2 : 1;
        if (n + w > limit) break;
        n += w;
    }
    return base.substr(0, n);
}

// The name a host name the volume cannot hold as given takes in `dir`: its
// stored form, or, when another entry bears that already (a source before
// it shortened to the same name), that form with a "~N" tail before the
// extension, cut so that it fits (18 or 8 Shift-JIS bytes, or 255
// characters of a long name). "" when no number is free.
std::string UniqueStoredName(const DIDir& dir, const std::string& utf8) {
    const std::string stored = StoredNameOf(dir, utf8);
    if (dir.FindName(stored) == -1) return stored;
    const bool longNames = dir.UsesLongNames();
    const std::string form = longNames ? stored : Utf8ToSjis(stored);
    std::size_t dot = form.rfind('.');
    if (dot == 0 || dot == std::string::npos || (!longNames && form.find('.') != dot)) dot = form.size();
    const std::string base = form.substr(0, dot), ext = form.substr(dot);
    const std::size_t limit = dir.GetImage()->FileSystem == kFileSystemHuman68k ? 18 : 8;
    for (unsigned n = 1; n <= 9999; ++n) {
        const std::string tail = "~" + std::to_string(n);
        std::string candidate;
        if (longNames) {
            std::u16string b = Utf8ToUtf16(base);
            const std::size_t room = kLongNameMaxChars - Utf8ToUtf16(tail + ext).size();
            if (b.size() > room) b.resize(room);
            candidate = Utf16ToUtf8(b) + tail + ext;
        } else {
            candidate = SjisToUtf8(CutSjis(base, limit - tail.size()) + tail + ext);
        }
        if (CheckNameAsGiven(dir, candidate) == NameProblem::kNone && dir.FindName(candidate) == -1) return candidate;
    }
    return "";
}

// Refuses (1211) a host name that cannot name a new entry. A name the
// volume stores in a changed form goes on under that form (made unique in
// the folder, so that two sources never meet in one entry) when the user
// interface accepts the change, and is refused otherwise. `stored`: the
// name the entry takes.
bool AcceptName(const DIDir& dir, const std::string& hostPath, const std::string& name, std::string& stored,
                OverwriteAnswer& state) {
    if (!ValidNewName(dir, name)) {
        ShowMessage(1211, Shown(hostPath));
        state = owCancel;
        return false;
    }
    NameProblem problem = CheckNameAsGiven(dir, name);
    if (problem == NameProblem::kNone) {
        stored = name;
        return true;
    }
    stored = UniqueStoredName(dir, name);
    if (stored.empty()) {
        ShowMessage(2220, Shown(hostPath));
        state = owCancel;
        return false;
    }
    if (UI().AcceptChangedName(name, stored)) return true;
    ReportNameProblem(dir, name, problem);
    state = owCancel;
    return false;
}

// The FAT writes of the files imported one after another into one folder,
// gathered into one write per FAT copy. Nothing on the device points at
// their chains until the folder's entries are written, and everything that
// writes the folder (its end, a replace, a folder made in it) settles the
// batch first: data, then the FAT, then the entries. When the device does
// not take the FAT, the entries made since are taken back.
class PendingChains {
public:
    explicit PendingChains(DIDir& dir) : dir_(dir) {}
    PendingChains(const PendingChains&) = delete;
    PendingChains& operator=(const PendingChains&) = delete;
    ~PendingChains() { static_cast<void>(Settle()); }

    void Begin() {
        if (!batch_) batch_.emplace(*dir_.GetImage());
    }
    // Entry i of the folder points at a chain linked in the batch.
    void Added(int i, const std::string& hostPath) {
        added_.push_back(i);
        last_ = hostPath;
    }
    // Closes the batch; false (told, the entries taken back) when the FAT
    // could not be written.
    [[nodiscard]] bool Settle() {
        if (!batch_) return true;
        const bool ok = batch_->Commit();
        batch_.reset();
        if (!ok) {
            for (int i : added_) static_cast<void>(dir_.Release(i));
            ShowMessage(114, Shown(last_));
        }
        added_.clear();
        return ok;
    }

private:
    DIDir& dir_;
    std::optional<DiskImage::FATBatch> batch_;
    std::vector<int> added_;
    std::string last_;
};

void ImportFile(const std::string& path, const std::string& name, const struct stat& seen, DIDir& dir,
                PendingChains& pending, OverwriteAnswer& state);

// One host folder being imported: its names, the next one to import, and
// the volume folder made for it.
struct FolderFrame {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<std::string> names;
    std::size_t next = 0;
    std::unique_ptr<DIDir> dir;
    std::unique_ptr<PendingChains> pending;  // the chains of `dir`'s new files
    DIDir* parent = nullptr;
    int entry = -1;
};

// Makes the volume folder for host folder `path` in `parent` and puts its
// frame on the stack. False when the import stops (state set) or the
// folder is passed over.
bool EnterFolder(const std::string& path, const std::string& name, const struct stat& st, DIDir& parent,
                 PendingChains& parentPending, std::vector<FolderFrame>& stack, OverwriteAnswer& state) {
    std::string stored;
    if (!AcceptName(parent, path, name, stored, state)) return false;
    // Only a folder that is its own ancestor is a loop; one reached again
    // by another way (a link to a sibling) is copied again.
    for (const FolderFrame& up : stack)
        if (up.device == st.st_dev && up.inode == st.st_ino) {
            Skip(1430, path);  // a link back up: passed over
            return false;
        }
    FolderFrame f;
    bool listed = false;
    f.names = ListHostFolder(path, listed);
    if (!listed) {
        ShowMessage(f.names.empty() ? 104 : 105, Shown(path));
        state = owCancel;
        return false;
    }
    // Making the folder writes its parent, whose new files' chains go first.
    if (!parentPending.Settle()) {
        state = owCancel;
        return false;
    }
    int j = CreateFolder(parent, stored);
    if (j < 0) {
        state = owCancel;
        return false;
    }
    f.dir = std::make_unique<DIDir>(parent.GetImage(), uint32_t(parent.GetStartCluster(j)));
    if (!f.dir->Load()) {
        ShowMessage(106, parent.GetNameUtf8(j));
        state = owCancel;
        return false;
    }
    f.pending = std::make_unique<PendingChains>(*f.dir);
    f.path = path;
    f.device = st.st_dev;
    f.inode = st.st_ino;
    f.parent = &parent;
    f.entry = j;
    stack.push_back(std::move(f));
    return true;
}

// Imports a host folder and everything below it, with a stack of its own
// rather than the call stack, so that no depth ends it.
void ImportFolder(const std::string& path, const std::string& name, const struct stat& st, DIDir& dir,
                  PendingChains& pending, OverwriteAnswer& state) {
    std::vector<FolderFrame> stack;
    if (!EnterFolder(path, name, st, dir, pending, stack, state)) return;
    while (!stack.empty()) {
        FolderFrame& top = stack.back();
        // A stop asked for ends the import before the next entry (a signal
        // at once); the folders made so far are written as they stand.
        if (state != owCancel && (UI().StopRequested() || (top.next > 0 && top.next < top.names.size() && UI().StopAsked())))
            state = owCancel;
        if (state != owCancel && top.next < top.names.size()) {
            std::size_t k = top.next++;
            UI().SetStatusText(0, ResourceString().LoadMessage(133, int(top.names.size()), int(k)));
            std::string child = JoinHostPath(top.path, top.names[k]);
            UI().SetStatusText(1, ResourceString().LoadMessage(132, top.names[k]));
            // One lstat tells most entries; a link is followed once.
            struct stat cs {};
            bool seen = lstat(child.c_str(), &cs) == 0;
            if (seen && S_ISLNK(cs.st_mode) && stat(child.c_str(), &cs) != 0) {
                Skip(1214, child);  // a link to nothing: passed over
                continue;
            }
            if (!seen || S_ISDIR(cs.st_mode)) {
                DIDir& into = *top.dir;  // `top` may move when the stack grows
                PendingChains& intoPending = *top.pending;
                EnterFolder(child, top.names[k], cs, into, intoPending, stack, state);
            } else {
                ImportFile(child, top.names[k], cs, *top.dir, *top.pending, state);
            }
            continue;
        }
        // The folder is done (or the import stopped): its entries go to the
        // device after their chains; a folder that cannot be written is taken back.
        if (!top.pending->Settle()) state = owCancel;
        if (!top.dir->Write()) {
            ShowMessage(107, Shown(top.path));
            uint32_t cluster = top.dir->GetCluster();
            if (top.parent->Delete(top.entry)) UI().FolderRemoved(cluster);
            state = owCancel;
        }
        UI().FreeSpaceChanged();
        stack.pop_back();
    }
}

void ImportFile(const std::string& path, const std::string& given, const struct stat& seen, DIDir& dir,
                PendingChains& pending, OverwriteAnswer& state) {
    // Only regular files are copied: a FIFO would block, a socket or a
    // device has no contents to copy. The kind is looked at before the open
    // (`seen`, the caller's stat of the path) and again on the open file,
    // which is opened without waiting; reads of a regular file never wait.
    if (!S_ISREG(seen.st_mode)) {
        Skip(1214, path);
        return;
    }
    struct stat st;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        ShowMessage(110, Shown(path));
        state = owCancel;
        return;
    }
    if (fstat(fd, &st) != 0) {
        ShowMessage(112, Shown(path));
        ::close(fd);
        state = owCancel;
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        Skip(1214, path);  // a FIFO, socket or device: passed over
        ::close(fd);
        return;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    std::string name;
    if (!AcceptName(dir, path, given, name, state)) return;

    int i = dir.FindName(name);
    if (i == kAmbiguousName) {
        // Which of the entries to replace cannot be told.
        ShowMessage(1463, name);
        state = owCancel;
        return;
    }
    const bool replacing = i >= 0;
    if (replacing) {
        if (dir.GetAttr(i) & kAttrDirectory) {
            Skip(109, dir.GetNameUtf8(i));
            return;
        }
        if (state == owNoToAll) return;
        if (state != owYesToAll) {
            state = UI().AskOverwrite(dir.GetNameUtf8(i), dir.GetTime(i), Shown(path), LocalTimeOf(st.st_mtime));
            if (state == owCancel || state == owNo || state == owNoToAll) return;
        }
    }
    if (st.st_size > 0xFFFFFFFFll) {
        ShowMessage(112, Shown(path));
        state = owCancel;
        return;
    }
    DiskImage& image = *dir.GetImage();
    const uint32_t size = uint32_t(st.st_size);
    // While the old file is replaced, both it and the new one hold clusters.
    if (uint64_t(image.FreeClusters) * image.ClusterSize < size) {
        ShowMessage(113, Shown(path));
        state = owCancel;
        return;
    }
    if (!replacing) {
        i = dir.AddNamed(name);
        if (i < 0) {
            ShowMessage(2147, Shown(path));
            state = owCancel;
            return;
        }
    }
    auto takeBack = [&] {
        if (!replacing) dir.Release(i);
        state = owCancel;
    };

    // The data into fresh clusters, then the FAT; nothing points at them
    // until the entry does.
    ChainList chain;
    if (size != 0) {
        auto picked = image.PickClusters(size);
        if (!picked) {
            ShowMessage(114, Shown(path));
            takeBack();
            return;
        }
        chain = std::move(*picked);
        CopyResult copied = CopyHostToChain(image, chain, fd, size);
        if (copied == CopyResult::Stopped) {
            takeBack();
            return;
        }
        if (copied != CopyResult::Ok) {
            ShowMessage(copied == CopyResult::HostError ? 1217 : 1216, Shown(path));
            takeBack();
            return;
        }
        // A new file's chain waits in the folder's batch; a replacing one
        // is linked at once, after the chains gathered before it.
        if (replacing && !pending.Settle()) {
            takeBack();
            return;
        }
        if (!replacing) pending.Begin();
        if (!image.LinkChain(chain)) {
            ShowMessage(114, Shown(path));
            takeBack();
            return;
        }
    }
    std::vector<uint8_t> old(dir.RawEntry(i), dir.RawEntry(i) + 32);
    // A replaced entry keeps its name; on 8.3 names it takes the new case.
    if (replacing && !dir.UsesLongNames() && dir.GetDisplayName(i) != dir.ToDiskName(Utf8ToSjis(name)))
        dir.SetName(i, Utf8ToSjis(name));
    dir.SetAttr(i, MappedAttributes(st));
    dir.SetTime(i, LocalTimeOf(st.st_mtime));
    const uint32_t first = chain.empty() ? 0 : chain.front();
    if (replacing) {
        // The switch: the entry now points at the new data (which Write
        // makes durable first, after the chains gathered so far). Only
        // after it is on the disk is the old chain freed.
        if (!pending.Settle()) {
            dir.RestoreEntry(i, old.data());
            state = owCancel;
            return;
        }
        DIDir::Replaced r = dir.ReplaceChain(i, first, size);
        if (r == DIDir::Replaced::NotSwitched) {
            ShowMessage(107, Shown(path));
            dir.RestoreEntry(i, old.data());
            if (!chain.empty()) static_cast<void>(image.FreeChain(chain.front()));  // else lost clusters
            state = owCancel;
            return;
        }
        if (r == DIDir::Replaced::OldKept) {
            ShowMessage(111, dir.GetNameUtf8(i));
            state = owCancel;
            return;
        }
    } else {
        dir.SetSize(i, size);
        dir.SetStartCluster(i, first);
        if (!chain.empty()) pending.Added(i, path);
    }
    UI().FreeSpaceChanged();
}

}  // namespace

std::size_t LastImportSkipped() { return g_skipped; }

namespace {

void ImportPathInto(const std::string& hostPath, DIDir& dir, PendingChains& pending, OverwriteAnswer& state,
                    const std::string& asName) {
    if (state == owCancel) return;
    const std::string name = asName.empty() ? HostBaseName(hostPath) : asName;
    UI().SetStatusText(1, ResourceString().LoadMessage(132, name));
    struct stat st {};
    // A path whose attributes cannot be read counts as a folder, whose
    // listing then reports it.
    if (stat(hostPath.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        ImportFolder(hostPath, name, st, dir, pending, state);
        return;
    }
    ImportFile(hostPath, name, st, dir, pending, state);
}

}  // namespace

void ImportPath(const std::string& hostPath, DIDir& dir, OverwriteAnswer& state, const std::string& asName) {
    PendingChains pending(dir);
    ImportPathInto(hostPath, dir, pending, state, asName);
    if (!pending.Settle()) state = owCancel;
}

OverwriteAnswer ImportFileList(DIDir& dir, const std::vector<std::string>& paths, bool confirm,
                               const std::string& asName) {
    g_skipped = 0;
    if (confirm && !UI().ConfirmImport(paths)) return owCancel;
    OverwriteAnswer state = owYes;
    PendingChains pending(dir);
    for (std::size_t k = 0; k < paths.size() && !UI().StopRequested(); ++k) {
        // The count is of the paths finished, the one at hand not among them.
        UI().SetStatusText(0, ResourceString().LoadMessage(133, int(paths.size()), int(k)));
        UI().CountProgress(k, paths.size());
        ImportPathInto(paths[k], dir, pending, state, paths.size() == 1 ? asName : std::string());
        if (state != owCancel) UI().CountProgress(k + 1, paths.size());
        // A stop asked for takes effect between paths, as between the files of a folder.
        if (state != owCancel && k + 1 < paths.size() && UI().StopAsked()) state = owCancel;
        if (state == owCancel) {
            if (!UI().StopRequested()) ShowMessage(118);
            break;
        }
    }
    // The chains, the listed folder, then a flush: success is told only
    // once the data is on the disk.
    if (!pending.Settle()) {
        state = owCancel;
    } else if (!dir.Write()) {
        ShowMessage(107, "");
        state = owCancel;
    } else if (!dir.GetImage()->Flush()) {
        ShowMessage(1213, dir.GetImage()->Device()->GetPath());
        state = owCancel;
    }
    UI().FreeSpaceChanged();
    return state;
}
