#include "explorer/ops/volumepath.h"

#include <algorithm>
#include <cstring>

#include "device/messages.h"
#include "explorer/ops/hostnames.h"
#include "volume/didir.h"

std::vector<std::string> SplitVolumePath(const std::string& utf8Path, const char* separators) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : utf8Path) {
        if (c != 0 && std::strchr(separators, c)) {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

PathEnd WalkVolumePath(DiskImage& image, const std::vector<std::string>& parts,
                       const std::function<int(const DIDir&, const std::string&)>& find, EntryLocation& loc,
                       std::size_t* at, DIDir* holder, std::vector<uint32_t>* trail, const FolderLoader* load) {
    loc = EntryLocation{};
    if (trail) trail->assign(1, 0);
    const auto read = [&](uint32_t first, DIDir& dir) {
        dir = DIDir(&image, first);
        return load ? (*load)(first, dir) : dir.Load();
    };
    if (parts.empty()) {
        if (holder && !read(0, *holder)) return PathEnd::kUnreadable;
        return PathEnd::kFound;
    }
    uint32_t folder = 0;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (at) *at = k;
        DIDir dir(&image, folder);
        if (!read(folder, dir)) return PathEnd::kUnreadable;
        const int i = find(dir, parts[k]);
        if (i == kAmbiguousName) return PathEnd::kAmbiguous;
        if (i < 0) return PathEnd::kNotFound;
        if (k + 1 == parts.size()) {
            loc.folder = folder;
            loc.index = i;
            if (holder) *holder = std::move(dir);
            return PathEnd::kFound;
        }
        if (!(dir.GetAttr(i) & kAttrDirectory)) return PathEnd::kNotFolder;
        const int64_t next = dir.GetStartCluster(i);
        // ".." of a first-level folder stores 0 for the root.
        folder = next < 2 ? 0 : uint32_t(next);
        if (trail) {
            if (folder == 0 || std::find(trail->begin(), trail->end(), folder) != trail->end()) return PathEnd::kLoop;
            trail->push_back(folder);
        }
    }
    return PathEnd::kNotFound;
}

std::optional<EntryLocation> ResolveEntry(DiskImage& image, const std::string& utf8Path, bool* ambiguous) {
    if (ambiguous) *ambiguous = false;
    const auto parts = SplitVolumePath(utf8Path);
    EntryLocation loc;
    std::size_t at = 0;
    const PathEnd end = WalkVolumePath(
        image, parts,
        [](const DIDir& dir, const std::string& name) {
            const int i = dir.FindName(name);
            return i >= 0 && dir.IsFree(i) ? -1 : i;
        },
        loc, &at);
    if (end == PathEnd::kAmbiguous) {
        std::string shown;
        for (std::size_t n = 0; n <= at; ++n) shown += "/" + parts[n];
        ShowMessage(1463, shown);
        if (ambiguous) *ambiguous = true;
    }
    if (end != PathEnd::kFound) return std::nullopt;
    return loc;
}

std::optional<uint32_t> ResolveFolder(DiskImage& image, const std::string& utf8Path) {
    auto loc = ResolveEntry(image, utf8Path);
    if (!loc) return std::nullopt;
    if (loc->index < 0) return 0u;
    DIDir dir(&image, loc->folder);
    if (!dir.Load() || !(dir.GetAttr(loc->index) & kAttrDirectory)) return std::nullopt;
    int64_t c = dir.GetStartCluster(loc->index);
    return c < 2 ? 0u : uint32_t(c);
}
