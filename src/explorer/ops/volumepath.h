#pragma once
// Paths inside a volume as a user types them: folder names separated by "/"
// or "\", matched case-insensitively like DIDir::FindName (long or 8.3
// names); "" or "/" is the root. The mount walks its paths the same way,
// with its own separator and name rules.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "volume/diskimage.h"

class DIDir;

// The components of a UTF-8 path, split at any of `separators`.
std::vector<std::string> SplitVolumePath(const std::string& utf8Path, const char* separators = "/\\");

struct EntryLocation {
    uint32_t folder = 0;  // first cluster of the folder holding the entry
    int index = -1;       // the entry's index in that folder; -1 for the root itself
};

// How a walk down a path ended.
enum class PathEnd { kFound, kNotFound, kNotFolder, kAmbiguous, kLoop, kUnreadable };

// Walks `parts` down from the root: each component is looked up by `find`
// in the folder reached so far (an index, -1 for none, kAmbiguousName when
// several entries match), and each but the last must be a folder. On
// kFound `loc` is the entry (the root, index -1, for no components) and
// `holder`, when given, receives its folder, loaded. `at`, when given,
// receives the component the walk ended at. With `trail`, which receives
// the folders passed through (the root, 0, first), a folder met twice or a
// folder entry that leads to the root ends the walk in kLoop; without it
// such an entry leads to the root (".." of a first-level folder). `load`,
// when given, reads each folder in place of DIDir::Load (a caller that
// keeps the folders it has read).
using FolderLoader = std::function<bool(uint32_t first, DIDir& dir)>;
PathEnd WalkVolumePath(DiskImage& image, const std::vector<std::string>& parts,
                       const std::function<int(const DIDir&, const std::string&)>& find, EntryLocation& loc,
                       std::size_t* at = nullptr, DIDir* holder = nullptr, std::vector<uint32_t>* trail = nullptr,
                       const FolderLoader* load = nullptr);

// The folder a path names: its first cluster (0 for the root).
std::optional<uint32_t> ResolveFolder(DiskImage& image, const std::string& utf8Path);

// The entry a path names. The root gives index -1. A component that
// several entries match without regard to case, none exactly, names none:
// 1463 is shown and `ambiguous` set.
std::optional<EntryLocation> ResolveEntry(DiskImage& image, const std::string& utf8Path, bool* ambiguous = nullptr);
