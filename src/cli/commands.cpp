// The commands that change a volume: put, mkdir, rm, release, ren, mv; and
// the floppy maker.

#include "cli/commands.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <map>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_paths.h"
#include "cli/cli_ui.h"
#include "device/messages.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/hostnames.h"
#include "explorer/ops/importer.h"
#include "explorer/ops/mountops.h"
#include "explorer/ops/mover.h"
#include "explorer/ops/tempfolder.h"
#include "explorer/ops/volumepath.h"
#include "floppy/makefdd.h"
#include "volume/deleter.h"
#include "volume/didir.h"

namespace {

constexpr unsigned kBadFloppySize = 2046;  // a floppy size that is none of the four

bool LoadFolder(const std::string& path, DIDir& dir) {
    if (dir.Load()) return true;
    ShowMessage(106, path);
    return false;
}

// A private folder for the host-side names of a put under another name.
class WorkFolder {
public:
    WorkFolder() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/voldex-put-XXXXXX";
        if (!mkdtemp(path_.data())) path_.clear();
    }
    ~WorkFolder() {
        if (!path_.empty())
            nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
                 FTW_DEPTH | FTW_PHYS);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Copies standard input into a new host file.
bool CopyStandardInput(const std::string& to) {
    int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    char buf[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(fd, buf + done, std::size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    return ::close(fd) == 0 && ok;
}

// A host operand that names a whole root, the current or the parent folder:
// its last component is empty, "." or "..", which would arrive under a
// blank or "_" name.
bool NamesNoFolderOfItsOwn(const std::string& host) {
    std::string p = host;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p == "/" ) return true;
    std::string base = p.substr(p.find_last_of('/') == std::string::npos ? 0 : p.find_last_of('/') + 1);
    return base == "." || base == "..";
}

}  // namespace

bool AcceptGivenName(const DIDir& dir, const std::string& name) {
    NameProblem problem = CheckNameAsGiven(dir, name);
    if (problem == NameProblem::kNone) return true;
    ReportNameProblem(dir, name, problem);
    return false;
}

int UsageError(const std::string& reason, const std::string& hint) {
    std::fprintf(stderr, "voldex-cli: %s\n%s\n", reason.c_str(), hint.c_str());
    return kExitUsage;
}

namespace {

// The host sources and the "::" destination of put.
void SplitPutOperands(const CliOptions& o, std::vector<std::string>& sources, std::optional<std::string>& dest) {
    sources.assign(o.operands.begin() + 1, o.operands.end());
    if (!sources.empty() && HasImagePrefix(sources.back())) {
        dest = WithoutImagePrefix(sources.back());
        sources.pop_back();
    }
}

}  // namespace

int CheckPutOperands(const CliOptions& o) {
    std::vector<std::string> sources;
    std::optional<std::string> dest;
    SplitPutOperands(o, sources, dest);
    if (sources.empty()) return UsageError(MessageString(1702), MessageString(1693, "voldex-cli put IMAGE HOSTPATH... [::DEST]"));
    int fromInput = 0;
    for (const std::string& s : sources) {
        if (HasImagePrefix(s))
            return UsageError(MessageString(1703, s), MessageString(1694, "voldex-cli put IMAGE HOSTPATH... ::DEST"));
        if (s == "-") {
            ++fromInput;
            continue;
        }
        if (NamesNoFolderOfItsOwn(s))
            return UsageError(MessageString(1704, s), MessageString(1705, "voldex-cli put IMAGE a.txt ::/"));
    }
    if (fromInput > 1 || (fromInput && sources.size() > 1))
        return UsageError(MessageString(1706), MessageString(1694, "voldex-cli put IMAGE - ::NAME"));
    if (fromInput && !dest)
        return UsageError(MessageString(1707), MessageString(1694, "voldex-cli put IMAGE - ::/DIR/NAME.TXT"));
    return kExitOk;
}

int CmdPut(CliContext& c) {
    DiskImage& image = *c.image;
    std::vector<std::string> sources;
    std::optional<std::string> dest;
    SplitPutOperands(c.options, sources, dest);
    const bool fromInput = sources.size() == 1 && sources[0] == "-";
    if (!dest && sources.size() >= 2) {
        // The old form took a last operand for the image folder when no
        // host file had that name; it is refused rather than guessed.
        const std::string& last = sources.back();
        auto loc = ResolveEntry(image, last);
        if (loc && loc->index >= 0 && ResolveFolder(image, last))
            return UsageError(MessageString(1708, last), MessageString(1694, "voldex-cli put IMAGE HOSTPATH... ::" + last));
    }
    // A host path that is not there is told as such before anything starts.
    bool missing = false;
    for (const std::string& s : sources) {
        struct stat st;
        if (!fromInput && lstat(s.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            ShowMessage(1563, s);
            missing = true;
        }
    }
    if (missing) return kExitFailure;

    // Where the sources go: into an existing folder, or (one source) under
    // the name the destination gives.
    std::string destPath = dest.value_or("");
    auto target = ResolveEntry(image, destPath);
    bool intoFolder = target && (target->index < 0 || ResolveFolder(image, destPath));
    std::string folderPath = destPath, newName;
    if (!intoFolder) {
        SplitImagePath(destPath, folderPath, newName);
        bool slash = !destPath.empty() && (destPath.back() == '/' || destPath.back() == '\\');
        if (slash || newName.empty()) {
            if (target) ShowMessage(1293, destPath);
            else ReportNotFound(destPath, &image);
            return kExitFailure;
        }
        if (sources.size() != 1) {
            if (target) ShowMessage(1293, destPath);
            else ReportNotFound(destPath, &image);
            return kExitFailure;
        }
    } else if (fromInput) {
        return UsageError(MessageString(1707), MessageString(1694, "voldex-cli put IMAGE - ::/DIR/NAME.TXT"));
    }
    auto folder = ResolveFolder(image, folderPath);
    if (!folder) {
        ReportNotFound(folderPath, &image);
        return kExitFailure;
    }
    DIDir dir(&image, *folder);
    if (!LoadFolder(folderPath, dir)) return kExitFailure;

    if (!intoFolder && !AcceptGivenName(dir, newName)) return kExitFailure;
    WorkFolder work;
    // A signal takes the private folder and what is in it along.
    RemovedOnSignal workRemoval(work.Path(), true);
    std::optional<RemovedOnSignal> namedRemoval;
    std::optional<HostPathShownAs> shownAs;
    if (fromInput) {
        // Standard input is gathered into a private file first, so that the
        // free space is known before anything is taken; messages name it
        // as standard input, never as the private copy.
        const std::string shown = ResourceString().LoadMessage(1431);
        if (work.Path().empty()) {
            ShowSystemError();
            return kExitFailure;
        }
        std::string named = work.Path() + "/input";
        namedRemoval.emplace(named);
        if (!CopyStandardInput(named)) {
            ShowSystemError();
            ShowMessage(110, shown);
            return kExitFailure;
        }
        shownAs.emplace(named, shown);
        sources = {named};
        c.ui.importSources = {{shown, newName}};
    } else {
        for (const std::string& s : sources) {
            std::string trimmed = s.size() > 1 && s.back() == '/' ? s.substr(0, s.find_last_not_of('/') + 1) : s;
            c.ui.importSources.emplace_back(s, newName.empty() ? trimmed.substr(trimmed.find_last_of('/') + 1) : newName);
        }
    }
    c.ui.importFolder = folderPath;
    // Ctrl-C or a kill stops the import between pieces of data: the files
    // before it stay whole, the one being copied is taken back.
    StopOnSignal stopping;
    OverwriteAnswer state = ImportFileList(dir, sources, false, newName);
    if (int sig = StopOnSignal::Caught()) {
        ShowMessage(2146);
        return 128 + sig;
    }
    // Anything passed over leaves the copy incomplete: scripts learn it
    // from the status.
    if (state == owCancel) return kExitFailure;
    return LastImportSkipped() == 0 ? kExitOk : kExitFailure;
}

int CmdMkdir(CliContext& c) {
    DiskImage& image = *c.image;
    const std::string path = WithoutImagePrefix(c.Args()[0]);
    const bool defaultName = c.options.defaultName;
    std::string parent = path, name;
    if (!defaultName) SplitImagePath(path, parent, name);
    auto folder = ResolveFolder(image, parent);
    if (!folder || (!defaultName && name.empty())) {
        ShowMessage(106, parent);
        return kExitFailure;
    }
    DIDir dir(&image, *folder);
    if (!LoadFolder(parent, dir)) return kExitFailure;
    if (!defaultName && !AcceptGivenName(dir, name)) return kExitFailure;
    int j = defaultName ? MakeDefaultFolder(dir) : CreateFolder(dir, name);
    if (j < 0) return kExitFailure;
    std::printf("%s\n", dir.GetNameUtf8(j).c_str());
    return kExitOk;
}

namespace {

int RemoveOrRelease(CliContext& c, bool release) {
    DiskImage& image = *c.image;
    int rc = kExitOk;
    // Every operand is resolved first; then all of them go in one batch,
    // each folder loaded once.
    std::map<uint32_t, std::unique_ptr<DIDir>> folders;
    std::vector<DeleteTarget> targets;
    for (const std::string& operand : c.Args()) {
        auto entries = ExpandImagePath(image, operand);
        if (!entries) {
            rc = kExitFailure;
            continue;
        }
        for (const NamedEntry& e : *entries) {
            if (e.where.index < 0) {
                ShowMessage(2148, "::/");
                rc = kExitFailure;
                continue;
            }
            auto& dir = folders[e.where.folder];
            if (!dir) {
                dir = std::make_unique<DIDir>(&image, e.where.folder);
                if (!LoadFolder(e.path, *dir)) return kExitFailure;
            }
            targets.push_back({dir.get(), e.where.index, e.path});
        }
    }
    if (targets.empty()) return rc;
    if (!DeleteTargets(image, targets, release).Ok()) return kExitFailure;
    // A delete passes over labels and dot entries: they are still there.
    for (const DeleteTarget& t : targets)
        if (!t.dir->IsFree(t.index)) {
            ShowMessage(111, t.path);
            rc = kExitFailure;
        }
    return rc;
}

}  // namespace

int CmdRm(CliContext& c) { return RemoveOrRelease(c, false); }
int CmdRelease(CliContext& c) { return RemoveOrRelease(c, true); }

namespace {

// Renames entry i of dir; the exit status.
int RenameTold(DIDir& dir, int i, const std::string& newName) {
    if (!dir.IsDotEntry(i) && !AcceptGivenName(dir, newName)) return kExitFailure;
    bool renamed = false;
    std::string shown = RenameEntry(dir, i, newName, &renamed);
    if (!renamed) return kExitFailure;
    std::printf("%s\n", shown.c_str());
    return kExitOk;
}

// Moves (or renames) one entry onto an existing file, which it replaces
// when the user says so (--yes, or Yes on a terminal): the replaced file
// keeps its data until the moved entry stands in its place.
int MoveOnto(DiskImage& image, const NamedEntry& source, DIDir& holder, int t, const std::string& dest) {
    const bool sameFolder = source.where.folder == holder.GetCluster();
    DIDir other(&image, source.where.folder);
    if (!sameFolder && !LoadFolder(source.path, other)) return kExitFailure;
    DIDir& from = sameFolder ? holder : other;
    if (sameFolder && source.where.index == t) return kExitOk;  // itself
    const int i = source.where.index;
    if (from.GetAttr(i) & kAttrDirectory) {
        ShowMessage(125);  // a folder never takes a file's place
        return kExitFailure;
    }
    OverwriteAnswer answer = UI().AskOverwrite(holder.GetNameUtf8(t), holder.GetTime(t), from.GetNameUtf8(i), from.GetTime(i));
    if (answer == owNo || answer == owNoToAll) return kExitOk;
    if (answer == owCancel) return kExitFailure;
    return MoveOntoEntry(from, i, holder, t, dest) ? kExitOk : kExitFailure;
}

}  // namespace

int CheckRenOperands(const CliOptions& o) {
    const std::string name = WithoutImagePrefix(o.operands.back());
    if (name.find_first_of("/\\") != std::string::npos) {
        std::string reason = ResourceString().LoadMessage(1633, name);  // the text lasts until the next load
        return UsageError(reason, ResourceString().LoadMessage(1634));
    }
    return kExitOk;
}

int CmdRen(CliContext& c) {
    DiskImage& image = *c.image;
    auto args = c.Args();
    std::string path = WithoutImagePrefix(args[0]);
    auto loc = ResolveEntry(image, path);
    if (!loc || loc->index < 0) {
        ReportNotFound(path, &image);
        return kExitFailure;
    }
    DIDir dir(&image, loc->folder);
    if (!LoadFolder(path, dir)) return kExitFailure;
    return RenameTold(dir, loc->index, WithoutImagePrefix(args[1]));
}

int CmdMv(CliContext& c) {
    DiskImage& image = *c.image;
    auto args = c.Args();
    const std::string dest = WithoutImagePrefix(args.back());
    args.pop_back();
    std::vector<NamedEntry> sources;
    for (const std::string& operand : args) {
        auto found = ExpandImagePath(image, operand);
        if (!found) return kExitFailure;
        for (const NamedEntry& e : *found) {
            if (e.where.index < 0) {
                ShowMessage(126, e.path);
                return kExitFailure;
            }
            sources.push_back(e);
        }
    }
    auto target = ResolveEntry(image, dest);
    uint32_t targetCluster = 0;
    std::string newName;
    if (!target) {
        // One entry and a name that does not exist: move and rename.
        std::string folder;
        SplitImagePath(dest, folder, newName);
        auto parent = ResolveFolder(image, folder);
        bool slash = !dest.empty() && (dest.back() == '/' || dest.back() == '\\');  // meant as a folder
        if (sources.size() != 1 || !parent || newName.empty() || slash) {
            ReportNotFound(dest, &image);
            return kExitFailure;
        }
        targetCluster = *parent;
        if (targetCluster == sources[0].where.folder) {
            DIDir dir(&image, targetCluster);
            if (!LoadFolder(folder, dir)) return kExitFailure;
            return RenameTold(dir, sources[0].where.index, newName);
        }
        DIDir holder(&image, targetCluster);
        if (!LoadFolder(folder, holder)) return kExitFailure;
        if (!AcceptGivenName(holder, newName)) return kExitFailure;
        if (holder.FindName(newName) != -1) {
            ReportNameTaken(holder, newName);
            return kExitFailure;
        }
        // Into the other folder under the new name, in one step.
        DIDir source(&image, sources[0].where.folder);
        if (!LoadFolder("", source)) return kExitFailure;
        if (MoveEntries(source, {sources[0].where.index}, targetCluster, dest, false, newName) != 1)
            return kExitFailure;
        DIDir arrived(&image, targetCluster);
        int i = LoadFolder(dest, arrived) ? arrived.FindName(newName) : -1;
        if (i < 0) {
            ReportNotFound(newName);
            return kExitFailure;
        }
        std::printf("%s\n", arrived.GetNameUtf8(i).c_str());
        return kExitOk;
    } else if (target->index >= 0) {
        DIDir holder(&image, target->folder);
        if (!LoadFolder(dest, holder)) return kExitFailure;
        if (!(holder.GetAttr(target->index) & kAttrDirectory)) {
            if (sources.size() != 1) {
                ShowMessage(125);
                return kExitFailure;
            }
            return MoveOnto(image, sources[0], holder, target->index, dest);
        }
        int64_t cl = holder.GetStartCluster(target->index);
        targetCluster = cl < 2 ? 0 : uint32_t(cl);
    }
    // Entries are moved folder by folder, in the order given.
    std::map<uint32_t, std::vector<int>> bySource;
    std::vector<uint32_t> order;
    for (const NamedEntry& e : sources) {
        if (!bySource.count(e.where.folder)) order.push_back(e.where.folder);
        bySource[e.where.folder].push_back(e.where.index);
    }
    std::size_t moved = 0;
    for (uint32_t folder : order) {
        DIDir source(&image, folder);
        if (!LoadFolder("", source)) return kExitFailure;
        int n = MoveEntries(source, bySource[folder], targetCluster, dest, false);
        if (n < 0) return kExitFailure;
        moved += std::size_t(n);
    }
    return moved == sources.size() ? kExitOk : kExitFailure;
}

int CmdMkfdd(CliContext& c) {
    const CliOptions& o = c.options;
    const std::string& source = o.operands[0];
    const std::string output = o.operands[1].empty() ? "" : ImageFileName(o.operands[1]);
    // What is missing or wrong on the command line is a usage error.
    auto refuse = [](unsigned id, unsigned plain) {
        ShowMessage(id);
        // The plain words only where the catalogue's own text is a bare "?".
        if (FormatCatalogueMessage(id, {}).value_or("") == "?") ShowMessage(plain);
        std::fprintf(stderr, "%s\n", MessageString(1693, std::string("voldex-cli ") + FindCliCommand("mkfdd")->synopsis).c_str());
        return kExitUsage;
    };
    if (output.empty()) return refuse(701, 1283);
    if (source.empty()) return refuse(702, 1284);
    // The window's "choose the size" has no place here: the line says what to give.
    auto usage = [] {
        std::fprintf(stderr, "%s\n", MessageString(1693, std::string("voldex-cli ") + FindCliCommand("mkfdd")->synopsis).c_str());
        return kExitUsage;
    };
    if (!o.size) {
        ShowMessage(1285);
        return usage();
    }
    int format = FloppyFormatBySize(uint32_t(*o.size));
    if (format < 0) {
        ShowMessage(kBadFloppySize, *o.size);
        return usage();
    }
    c.ui.floppyMessages = true;
    bool ok = MakeFloppyImage(source, output, format);
    c.ui.floppyMessages = false;
    return ok ? kExitOk : kExitFailure;
}
