#pragma once
// Moving entries from one folder of the volume to another: the directory
// entry is relinked, no data is copied. A folder never moves into itself or
// below itself.

#include <string>
#include <vector>

#include "volume/didir.h"

// True when folder `target` is `folder` or lies below it, found by
// following ".." entries up from `target` to the root.
bool IsAtOrBelow(DiskImage& image, uint32_t target, uint32_t folder);

// Moves entry `index` of `source` into `target`. Refuses a name beginning
// with "." (126), a name that exists in the target (119), and reports a
// failed move (127). Neither folder is written.
bool MoveListEntry(DIDir& source, int index, DIDir& target);

// Moves the entries of `source` into the folder whose first cluster is
// `targetCluster`, after the checks that keep the folders a tree (122 for a
// folder moved into itself or below itself, 124 for a target among the
// entries) and the confirmation when `confirm`. Writes both folders.
// Returns the number of entries moved, or -1 when a move failed (127) or the
// volume could not be written; the failure ends the move.
int MoveEntries(DIDir& source, const std::vector<int>& indexes, uint32_t targetCluster, const std::string& targetName,
                bool confirm);

// Moves the folder whose first cluster is `folder` (an entry of the folder
// `parent`) into the folder `target`: the tree-to-tree move. 122 when the
// target is the folder or below it, 123 when the parent has no such entry,
// 109 when the target holds the name. Writes both folders on success.
bool MoveFolder(DiskImage& image, uint32_t parent, uint32_t folder, uint32_t target, const std::string& folderName,
                const std::string& targetName, bool confirm);
