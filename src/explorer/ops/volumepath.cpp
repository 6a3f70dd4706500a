#include "explorer/ops/volumepath.h"

#include "device/messages.h"
#include "explorer/ops/hostnames.h"
#include "volume/didir.h"

std::vector<std::string> SplitVolumePath(const std::string& utf8Path) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : utf8Path) {
        if (c == '/' || c == '\\') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

std::optional<EntryLocation> ResolveEntry(DiskImage& image, const std::string& utf8Path, bool* ambiguous) {
    if (ambiguous) *ambiguous = false;
    EntryLocation loc;
    auto parts = SplitVolumePath(utf8Path);
    uint32_t folder = 0;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        DIDir dir(&image, folder);
        if (!dir.Load()) return std::nullopt;
        int i = dir.FindName(parts[k]);
        if (i == kAmbiguousName) {
            std::string shown;
            for (std::size_t n = 0; n <= k; ++n) shown += "/" + parts[n];
            ShowMessage(1463, shown);
            if (ambiguous) *ambiguous = true;
            return std::nullopt;
        }
        if (i < 0 || dir.IsFree(i)) return std::nullopt;
        if (k + 1 == parts.size()) {
            loc.folder = folder;
            loc.index = i;
            return loc;
        }
        if (!(dir.GetAttr(i) & kAttrDirectory)) return std::nullopt;
        int64_t next = dir.GetStartCluster(i);
        // ".." of a first-level folder stores 0 for the root.
        folder = next < 2 ? 0 : uint32_t(next);
    }
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
