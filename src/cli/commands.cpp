#include "cli/commands.h"

#include <cstdio>
#include <map>
#include <sys/stat.h>

#include "device/messages.h"
#include "explorer/folderops.h"
#include "explorer/hostnames.h"
#include "explorer/importer.h"
#include "explorer/mover.h"
#include "explorer/volumepath.h"
#include "volume/didir.h"

namespace {

enum { kOk = 0, kFailure = 1 };

bool HostPathExists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

// The folder part and the last component of a volume path.
void SplitLast(const std::string& path, std::string& folder, std::string& name) {
    std::string p = path;
    while (!p.empty() && (p.back() == '/' || p.back() == '\\')) p.pop_back();
    std::size_t cut = p.find_last_of("/\\");
    folder = cut == std::string::npos ? "" : p.substr(0, cut);
    name = cut == std::string::npos ? p : p.substr(cut + 1);
}

bool LoadFolder(const std::string& path, DIDir& dir) {
    if (dir.Load()) return true;
    ShowMessage(106, path);
    return false;
}

}  // namespace

bool IsChangingCommand(const std::string& c) {
    return c == "put" || c == "mkdir" || c == "rm" || c == "release" || c == "ren" || c == "mv";
}

int CmdPut(DiskImage& image, const std::vector<std::string>& operands) {
    std::vector<std::string> sources(operands.begin() + 1, operands.end());
    std::string target;
    if (sources.size() > 1 && !HostPathExists(sources.back())) {
        target = sources.back();
        sources.pop_back();
    }
    auto folder = ResolveFolder(image, target);
    if (!folder) {
        ShowMessage(106, target);
        return kFailure;
    }
    DIDir dir(&image, *folder);
    if (!LoadFolder(target, dir)) return kFailure;
    return ImportFileList(dir, sources, false) == owCancel ? kFailure : kOk;
}

int CmdMkdir(DiskImage& image, const std::string& path, bool defaultName) {
    std::string parent = path, name;
    if (!defaultName) SplitLast(path, parent, name);
    auto folder = ResolveFolder(image, parent);
    if (!folder || (!defaultName && name.empty())) {
        ShowMessage(106, parent);
        return kFailure;
    }
    DIDir dir(&image, *folder);
    if (!LoadFolder(parent, dir)) return kFailure;
    int j = defaultName ? MakeDefaultFolder(dir) : CreateFolder(dir, Utf8ToSjis(name));
    if (j < 0) return kFailure;
    std::printf("%s\n", SjisToUtf8(dir.GetDisplayName(j)).c_str());
    return kOk;
}

int CmdRm(DiskImage& image, const std::vector<std::string>& paths, bool release) {
    int rc = kOk;
    for (const std::string& path : paths) {
        auto loc = ResolveEntry(image, path);
        if (!loc || loc->index < 0) {
            ShowMessage(123);
            std::fprintf(stderr, "%s\n", path.c_str());
            rc = kFailure;
            continue;
        }
        DIDir dir(&image, loc->folder);
        if (!LoadFolder(path, dir)) return kFailure;
        bool done = release ? ReleaseEntries(dir, {loc->index}) : DeleteEntries(dir, {loc->index});
        // A delete passes over labels and dot entries: they are still there.
        if (!done || (!release && !dir.IsFree(loc->index))) {
            ShowMessage(111, path);
            rc = kFailure;
        }
    }
    return rc;
}

int CmdRen(DiskImage& image, const std::string& path, const std::string& newName) {
    auto loc = ResolveEntry(image, path);
    if (!loc || loc->index < 0) {
        ShowMessage(123);
        return kFailure;
    }
    DIDir dir(&image, loc->folder);
    if (!LoadFolder(path, dir)) return kFailure;
    std::string wanted = Utf8ToSjis(newName);
    int other = dir.Find(wanted);
    std::string shown = RenameEntry(dir, loc->index, wanted);
    if (wanted.empty() || (other >= 0 && other != loc->index)) return kFailure;
    std::printf("%s\n", SjisToUtf8(shown).c_str());
    return kOk;
}

int CmdMv(DiskImage& image, const std::vector<std::string>& paths, const std::string& dest) {
    auto target = ResolveEntry(image, dest);
    uint32_t targetCluster = 0;
    if (!target) {
        ShowMessage(123);
        return kFailure;
    }
    if (target->index >= 0) {
        DIDir holder(&image, target->folder);
        if (!LoadFolder(dest, holder)) return kFailure;
        if (!(holder.GetAttr(target->index) & kAttrDirectory)) {
            ShowMessage(125);
            return kFailure;
        }
        int64_t c = holder.GetStartCluster(target->index);
        targetCluster = c < 2 ? 0 : uint32_t(c);
    }
    // Entries are moved folder by folder, in the order given.
    std::map<uint32_t, std::vector<int>> bySource;
    std::vector<uint32_t> order;
    for (const std::string& p : paths) {
        auto loc = ResolveEntry(image, p);
        if (!loc || loc->index < 0) {
            ShowMessage(123);
            std::fprintf(stderr, "%s\n", p.c_str());
            return kFailure;
        }
        if (!bySource.count(loc->folder)) order.push_back(loc->folder);
        bySource[loc->folder].push_back(loc->index);
    }
    std::size_t wanted = paths.size(), moved = 0;
    for (uint32_t folder : order) {
        DIDir source(&image, folder);
        if (!LoadFolder("", source)) return kFailure;
        moved += std::size_t(MoveEntries(source, bySource[folder], targetCluster, dest, false));
    }
    return moved == wanted ? kOk : kFailure;
}
