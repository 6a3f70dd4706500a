#include "volume/folderwalk.h"

#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

std::string JoinImagePath(const std::string& folder, const std::string& name) {
    return folder == "/" || folder.empty() ? "/" + name : folder + "/" + name;
}

namespace {

// One folder on the way down. The stack is always the chain of folders
// from the first to the current one, so one path string serves them all:
// each frame keeps only where its part of the path ends.
struct Frame {
    std::unique_ptr<DIDir> dir;
    std::size_t pathLength = 0;
    int depth = 0;
    uint32_t next = 0;  // the next entry to show
    // Folders to go into once every entry is shown (not nested).
    std::vector<std::pair<uint32_t, std::string>> below;
    std::size_t nextBelow = 0;
};

}  // namespace

bool FolderWalk::Run(DiskImage& image, uint32_t cluster, const std::string& path) const {
    bool ok = true;
    std::unordered_set<uint32_t> entered{cluster};
    std::vector<Frame> stack;
    std::string current = path;
    // Goes into folder `c`, whose path is `current` up to its end.
    auto push = [&](uint32_t c, int depth) {
        auto dir = std::make_unique<DIDir>(&image, c);
        if (!dir->Load()) {
            if (unreadable) unreadable(current);
            ok = false;
            return;
        }
        Frame f;
        f.dir = std::move(dir);
        f.pathLength = current.size();
        f.depth = depth;
        stack.push_back(std::move(f));
    };
    auto descend = [&](const std::string& name) {
        if (current != "/") current += '/';
        current += name;
    };
    push(cluster, 0);
    while (!stack.empty()) {
        Frame& top = stack.back();
        current.resize(top.pathLength);
        if (top.dir && top.next < top.dir->GetCount()) {
            const int i = int(top.next++);
            const DIDir& dir = *top.dir;
            if (!entry(dir, i, current, top.depth)) continue;
            // Only a folder this walk has not entered yet is gone into.
            const int64_t start = dir.GetStartCluster(i);
            if (start < 2 || !entered.insert(uint32_t(start)).second) {
                if (repeated) {
                    descend(dir.GetNameUtf8(i));
                    repeated(current);
                }
                ok = false;
                continue;
            }
            if (nested) {
                const int depth = top.depth + 1;
                descend(dir.GetNameUtf8(i));
                push(uint32_t(start), depth);  // `top` may move here
            } else {
                top.below.emplace_back(uint32_t(start), dir.GetNameUtf8(i));
            }
            continue;
        }
        top.dir.reset();  // every entry shown: only the folders below are left
        if (top.nextBelow < top.below.size()) {
            auto below = std::move(top.below[top.nextBelow++]);
            const int depth = top.depth + 1;
            descend(below.second);
            push(below.first, depth);
            continue;
        }
        stack.pop_back();
    }
    return ok;
}
