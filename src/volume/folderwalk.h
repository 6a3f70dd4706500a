#pragma once
// A walk through the folders below one folder, depth first, with a stack of
// its own rather than the call stack: no depth of folders ends it. Each
// folder cluster is entered once, so that a folder reached a second time
// (a loop back up, or entries of several folders sharing one child) costs
// nothing more than a report.

#include <cstdint>
#include <functional>
#include <string>

#include "volume/didir.h"

// "/" and "A" give "/A"; "/A" and "B" give "/A/B".
std::string JoinImagePath(const std::string& folder, const std::string& name);

struct FolderWalk {
    // Every entry of a folder in on-disk order, with the path of its folder
    // and that folder's depth (0 for the first). True to go into folder
    // entry i.
    std::function<bool(const DIDir& dir, int i, const std::string& folderPath, int depth)> entry;
    // A folder entry whose folder was entered already (or is the first
    // folder, or points nowhere): it is not entered again.
    std::function<void(const std::string& path)> repeated;
    // A folder that could not be read.
    std::function<void(const std::string& path)> unreadable;
    // With `nested`, a folder's contents follow its entry at once (a tree);
    // without, all entries of a folder come before any of its subfolders'
    // (a recursive listing).
    bool nested = false;

    // Walks from folder `cluster`, named `path`. True when every folder was
    // read and none was met twice.
    bool Run(DiskImage& image, uint32_t cluster, const std::string& path) const;
};
