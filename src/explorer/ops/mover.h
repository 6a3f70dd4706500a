#pragma once
// Moving entries from one folder of the volume to another: the directory
// entry is relinked, no data is copied. A folder never moves into itself or
// below itself.

#include <string>
#include <vector>

#include "explorer/ops/opresult.h"
#include "volume/didir.h"

// True when folder `target` is `folder` or lies below it, found by
// following ".." entries up from `target` to the root.
bool IsAtOrBelow(DiskImage& image, uint32_t target, uint32_t folder);

// The one move: entry i of `source` into `target`, telling nothing.
//  - `newName` (UTF-8, not empty): the entry arrives under that name, in
//    the same write that puts it into the target;
//  - `replace` >= 0: onto that entry of `target` (which may then be
//    `source` itself), a file onto a file or a folder onto an empty
//    folder; the replaced entry keeps its data until the moved one stands
//    in its place, and its clusters are freed last.
// The target is written first, then a moved folder's "..", then the
// source. kRefused for "." and "..", kExists for a name the target holds,
// kLoop for a folder into itself or below, kNotEmpty, kIsFolder and
// kNotFolder for a replace of the wrong kind, kNoRoom, kDiskFull,
// kReadOnly, kIoError. On success `index` is the entry's index in target.
OpResult MoveEntry(DIDir& source, int i, DIDir& target, const std::string& newName = {}, int replace = -1);

// Moves entry `index` of `source` into `target` (under `newName` when
// given) and tells what went wrong: a name beginning with "." (126), a
// name that exists in the target (119), any other failure (127).
OpResult MoveListEntry(DIDir& source, int index, DIDir& target, const std::string& newName = {});

// Moves entry i of `from` onto the file t of `holder` (the same object
// when both are one folder), which it replaces, and flushes; a failure is
// told as the system's text of its cause and 1340 with `shownTarget`.
bool MoveOntoEntry(DIDir& from, int i, DIDir& holder, int t, const std::string& shownTarget);

// Moves the entries of `source` into the folder whose first cluster is
// `targetCluster`, after the checks that keep the folders a tree (122 for a
// folder moved into itself or below itself, 124 for a target among the
// entries) and the confirmation when `confirm`. Writes both folders.
// Returns the number of entries moved, or -1 when a move failed (127) or the
// volume could not be written; the failure ends the move. An entry refused
// (119, 126) is passed over. With `newName` the one entry takes that name.
int MoveEntries(DIDir& source, const std::vector<int>& indexes, uint32_t targetCluster, const std::string& targetName,
                bool confirm, const std::string& newName = {});

// Moves the folder whose first cluster is `folder` (an entry of the folder
// `parent`) into the folder `target`: the tree-to-tree move. 122 when the
// target is the folder or below it, 123 when the parent has no such entry,
// 109 when the target holds the name. Writes both folders on success.
bool MoveFolder(DiskImage& image, uint32_t parent, uint32_t folder, uint32_t target, const std::string& folderName,
                const std::string& targetName, bool confirm);
