// The commands that read a volume: ls, tree, cat and get.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_paths.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "device/byteorder.h"
#include "device/messages.h"
#include "explorer/ops/exporter.h"
#include "explorer/ops/hostnames.h"
#include "shell/listing.h"
#include "volume/didir.h"
#include "volume/folderwalk.h"

namespace {

constexpr unsigned kListingHeader = 2051;  // "Filename<TAB>Size<TAB>..." in the language

const char* EntryType(uint8_t attr) {
    if (attr & kAttrVolume) return "label";
    if (attr & kAttrDirectory) return "folder";
    return "file";
}

uint32_t FolderCluster(const DIDir& dir, int i) {
    int64_t c = dir.GetStartCluster(i);
    return c < 2 ? 0 : uint32_t(c);
}

// The entry's time for JSON: the ISO text, or null when the stored fields
// are no valid date, with the stored 16-bit date and time beside it.
std::string JsonTime(const DIDir& dir, int i) {
    std::string iso = IsoTime(dir, i);
    const uint8_t* e = dir.RawEntry(i);
    return (iso.empty() ? std::string("null") : "\"" + iso + "\"") + ", \"storedDate\": " + std::to_string(LE16(e + 24)) +
           ", \"storedTime\": " + std::to_string(LE16(e + 22));
}

// The rows of ls, in text or JSON.
class Listing {
public:
    bool Json() const { return json_; }
    explicit Listing(bool json) : json_(json) {}

    // The header goes out with the first thing listed (an empty folder
    // included), never before an operand that names nothing.
    void Begin() {
        if (!json_ && !begun_) text_ += MessageString(kListingHeader) + "\n";
        begun_ = true;
    }

    void Add(const DIDir& dir, int i, const std::string& shown, const std::string& path) {
        Begin();
        if (json_) {
            std::string name = dir.GetNameUtf8(i);
            text_ += count_++ ? ",\n  " : "\n  ";
            text_ += "{\"path\": " + JsonString(path) + ", \"name\": " + JsonString(name) +
                     ", \"type\": \"" + EntryType(dir.GetAttr(i)) + "\", \"size\": " + std::to_string(dir.GetSize(i)) +
                     ", \"attributes\": " + std::to_string(dir.GetAttr(i)) +
                     ", \"attributeText\": " + JsonString(dir.GetAttrText(i)) + ", \"time\": " + JsonTime(dir, i) +
                     ", \"cluster\": " + std::to_string(dir.GetStartCluster(i)) + "}";
            return;
        }
        text_ += EscapeField(shown) + '\t' + std::to_string(dir.GetSize(i)) + '\t' + dir.GetAttrText(i) + '\t' +
                 dir.GetTimeText(i) + '\t' + std::to_string(dir.GetStartCluster(i)) + '\n';
        Flush(false);
    }

    void Flush(bool last) {
        if (json_ && !last) return;
        if (json_) text_ = "{\"entries\": [" + text_ + (count_ ? "\n" : "") + "]}\n";
        if (!json_ && !last && text_.size() < 65536) return;
        std::fwrite(text_.data(), 1, text_.size(), stdout);
        text_.clear();
    }

private:
    bool json_;
    bool begun_ = false;
    std::string text_;
    std::size_t count_ = 0;
};

// Lists the folder `cluster`; with `recursive`, every folder below it too,
// each entry named by its path from the listed folder after `prefix`. A
// folder met a second time is listed once and reported.
bool ListFolder(DiskImage& image, uint32_t cluster, const std::string& path, const std::string& prefix,
                bool recursive, Listing& out) {
    out.Begin();
    const std::size_t skip = path == "/" ? 1 : path.size() + 1;
    const bool json = out.Json();
    std::string shown;
    FolderWalk walk;
    walk.entry = [&](const DIDir& dir, int i, const std::string& folder, int) {
        if (dir.IsFree(i) || dir.GetAttr(i) == 0x0F || dir.IsDotEntry(i)) return false;
        std::string name = dir.GetNameUtf8(i);
        shown.assign(prefix);
        if (folder.size() > path.size()) shown.append(folder, skip).append(1, '/');
        shown += name;
        out.Add(dir, i, shown, json ? JoinImagePath(folder, name) : std::string());
        return recursive && (dir.GetAttr(i) & kAttrDirectory) && !(dir.GetAttr(i) & kAttrVolume);
    };
    walk.repeated = [](const std::string& p) { ShowMessage(1432, p); };
    walk.unreadable = [](const std::string& p) { ShowMessage(106, p); };
    return walk.Run(image, cluster, path);
}

}  // namespace

int CmdLs(CliContext& c) {
    DiskImage& image = *c.image;
    std::vector<std::string> operands = c.Args();
    if (operands.empty()) operands.push_back("/");
    Listing out(c.options.json);
    bool ok = true;
    for (const std::string& operand : operands) {
        auto entries = ExpandImagePath(image, operand);
        if (!entries) {
            ok = false;
            continue;
        }
        const bool pattern = HasWildcard(operand);
        for (const NamedEntry& e : *entries) {
            if (e.where.index < 0) {
                ok = ListFolder(image, 0, "/", "", c.options.recursive, out) && ok;
                continue;
            }
            DIDir dir(&image, e.where.folder);
            if (!dir.Load()) {
                ShowMessage(106, e.path);
                ok = false;
                continue;
            }
            const bool folder = (dir.GetAttr(e.where.index) & kAttrDirectory) != 0;
            std::string name = dir.GetNameUtf8(e.where.index);
            if (folder && !pattern) {
                ok = ListFolder(image, FolderCluster(dir, e.where.index), e.path, "", c.options.recursive, out) && ok;
                continue;
            }
            out.Add(dir, e.where.index, name, e.path);
            if (folder && c.options.recursive)
                ok = ListFolder(image, FolderCluster(dir, e.where.index), e.path, name + "/", true, out) && ok;
        }
    }
    out.Flush(true);
    return ok ? kExitOk : kExitFailure;
}

namespace {

}  // namespace

int CmdTree(CliContext& c) {
    DiskImage& image = *c.image;
    auto args = c.Args();
    std::string path = args.empty() ? "/" : WithoutImagePrefix(args[0]);
    auto folder = ResolveFolder(image, path);
    if (!folder) {
        if (ResolveEntry(image, path)) ShowMessage(1293, path);
        else ReportNotFound(path, &image);
        return kExitFailure;
    }
    std::printf("%s\n", EscapeField(path.empty() ? "/" : path).c_str());
    FolderWalk walk;
    walk.nested = true;
    std::string text;
    walk.entry = [&](const DIDir& dir, int i, const std::string&, int depth) {
        const uint8_t attr = dir.GetAttr(i);
        if (dir.IsFree(i) || attr == 0x0F || dir.IsDotEntry(i) || (attr & kAttrVolume)) return false;
        const bool isFolder = (attr & kAttrDirectory) != 0;
        text.append(std::size_t(depth + 1) * 2, ' ');
        text += EscapeField(dir.GetNameUtf8(i));
        text += isFolder ? "/\n" : "\n";
        if (text.size() >= 65536) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            text.clear();
        }
        return isFolder;
    };
    // Said where it happens: what was printed goes out first.
    auto report = [&](unsigned id, const std::string& p) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        text.clear();
        std::fflush(stdout);
        ShowMessage(id, p);
    };
    walk.repeated = [&](const std::string& p) { report(1432, p); };
    walk.unreadable = [&](const std::string& p) { report(106, p); };
    const bool ok = walk.Run(image, *folder, path.empty() ? "/" : path);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return ok ? kExitOk : kExitFailure;
}

namespace {

// Writes the data of file entry i to standard output.
bool CatEntry(DIDir& dir, int i, const std::string& path) {
    DiskImage& image = *dir.GetImage();
    uint32_t size = dir.GetSize(i);
    if (size == 0) return true;
    auto chain = image.ReadChain(uint32_t(dir.GetStartCluster(i)));
    if (!chain) {
        ShowMessage(115, path);
        return false;
    }
    const uint32_t cs = image.ClusterSize;
    uint64_t left = size;
    std::vector<uint8_t> buffer;
    ForEachClusterRun(*chain, std::max<uint32_t>(1, (4u << 20) / cs), [&](std::size_t, uint32_t first,
                                                                                    uint32_t n) {
        buffer.resize(std::size_t(n) * cs);
        if (!image.ReadClusterRun(first, n, buffer.data())) return false;
        std::size_t bytes = std::size_t(std::min<uint64_t>(left, buffer.size()));
        if (std::fwrite(buffer.data(), 1, bytes, stdout) != bytes) return false;
        left -= bytes;
        return left > 0;
    });
    // A chain that could not be read, or that ends before the size does.
    if (left > 0) {
        ShowMessage(115, path);
        return false;
    }
    if (std::fflush(stdout) != 0) return false;
    // A chain longer than the size: the bytes up to the size went out, and
    // the mismatch is said as an export says it.
    const uint64_t chainBytes = uint64_t(chain->size()) * cs;
    if (chainBytes != (uint64_t(size) + cs - 1) / cs * cs) {
        ShowMessage(1212, path, uint64_t(size), chainBytes, uint64_t(size));
        return false;
    }
    return true;
}

// Files only, one after another on standard output; a folder or the label
// among them is refused where it stands.
bool CatEntries(DiskImage& image, const std::vector<NamedEntry>& entries) {
    for (const NamedEntry& e : entries) {
        DIDir dir(&image, e.where.folder);
        if (e.where.index < 0 || !dir.Load() || (dir.GetAttr(e.where.index) & (kAttrDirectory | kAttrVolume))) {
            ShowMessage(1294, e.path);
            return false;
        }
        if (!CatEntry(dir, e.where.index, e.path)) return false;
    }
    return true;
}

}  // namespace

int CmdCat(CliContext& c) {
    DiskImage& image = *c.image;
    for (const std::string& operand : c.Args()) {
        auto entries = ExpandImagePath(image, operand);
        if (!entries) return kExitFailure;
        if (!CatEntries(image, *entries)) return kExitFailure;
    }
    return kExitOk;
}

namespace {

bool IsHostFolder(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Removes a folder this program made, with what is in it.
void RemoveTree(const std::string& path) {
    nftw(path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

std::string HostParent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::size_t cut = p.find_last_of('/');
    if (cut == std::string::npos) return ".";
    return cut == 0 ? "/" : p.substr(0, cut);
}

// Exports one entry under another name: into a private folder beside the
// target first, then renamed into place, so that the target appears only
// whole.
int ExportRenamed(DIDir& dir, int i, const std::string& target, OverwriteAnswer& state) {
    if (!(dir.GetAttr(i) & kAttrDirectory)) {
        ExportFileTo(dir, i, target, state);
        return state == owCancel ? kExitFailure : kExitOk;
    }
    struct stat st;
    if (lstat(target.c_str(), &st) == 0) {
        if (state == owNoToAll) return kExitOk;
        SystemTime existing;
        GetHostFileTime(target, existing);
        state = UI().AskOverwrite(target, existing, dir.GetNameUtf8(i), dir.GetTime(i));
        if (state == owNo || state == owNoToAll) return kExitOk;
        if (state == owCancel) return kExitFailure;
    }
    std::string work = JoinHostPath(HostParent(target), ".voldex-get-XXXXXX");
    if (!mkdtemp(work.data())) {
        ShowSystemError();
        ShowMessage(110, target);
        return kExitFailure;
    }
    OverwriteAnswer inner = owYes;
    std::string made = JoinHostPath(work, HostComponentUtf8(dir.GetNameUtf8(i)));
    {
        HostPathShownAs shown(made, target);
        ExportEntry(dir, i, work, inner);
    }
    // A name the host could not hold was made under the entry's alias: the
    // one item in the private folder.
    if (DIR* d = opendir(work.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) made = JoinHostPath(work, e->d_name);
        closedir(d);
    }
    int rc = kExitOk;
    if (inner == owCancel) {
        rc = kExitFailure;
    } else if (std::rename(made.c_str(), target.c_str()) != 0) {
        ShowSystemError();
        ShowMessage(110, target);
        rc = kExitFailure;
    }
    RemoveTree(work);
    if (rc != kExitOk) state = owCancel;
    return rc;
}

}  // namespace

int CheckGetOperands(const CliOptions& o) {
    if (HasImagePrefix(o.operands.back()))
        return UsageError(MessageString(1701, o.operands.back()),
                          MessageString(1694, "voldex-cli get IMAGE ::PATH... HOSTDEST"));
    return kExitOk;
}

int CmdGet(CliContext& c) {
    DiskImage& image = *c.image;
    auto args = c.Args();
    const std::string dest = args.back();
    args.pop_back();
    std::vector<NamedEntry> entries;
    for (const std::string& operand : args) {
        auto found = ExpandImagePath(image, operand);
        if (!found) return kExitFailure;
        entries.insert(entries.end(), found->begin(), found->end());
    }
    if (dest == "-") {
        // Standard output, as cat writes it: files only, one after another.
        return CatEntries(image, entries) ? kExitOk : kExitFailure;
    }
    OverwriteAnswer state = owYes;
    if (!IsHostFolder(dest)) {
        // Another name for one entry; the folder it goes into must exist.
        if (entries.size() != 1)
            return UsageError(MessageString(2142, dest), MessageString(1694, "voldex-cli get IMAGE ::PATH... HOSTFOLDER"));
        if (entries[0].where.index < 0 || dest.empty() || dest.back() == '/' || !IsHostFolder(HostParent(dest))) {
            ShowSystemError(IsHostFolder(HostParent(dest)) ? ENOTDIR : ENOENT);
            ShowMessage(110, dest);
            return kExitFailure;
        }
        DIDir dir(&image, entries[0].where.folder);
        if (!dir.Load()) {
            ShowMessage(106, entries[0].path);
            return kExitFailure;
        }
        if (!IsExportable(dir, entries[0].where.index)) {
            ReportNotFound(entries[0].path);
            return kExitFailure;
        }
        return ExportRenamed(dir, entries[0].where.index, dest, state);
    }
    for (const NamedEntry& e : entries) {
        DIDir dir(&image, e.where.folder);
        if (!dir.Load()) {
            ShowMessage(106, e.path);
            return kExitFailure;
        }
        if (e.where.index < 0) {
            // The root itself: everything in it.
            std::vector<int> all;
            for (uint32_t i = 0; i < dir.GetCount(); ++i)
                if (IsExportable(dir, int(i))) all.push_back(int(i));
            ExportEntries(dir, all, dest, state);
        } else {
            ExportEntry(dir, e.where.index, dest, state);
        }
        if (state == owCancel) {
            ShowMessage(131);
            return kExitFailure;
        }
    }
    return kExitOk;
}
