#pragma once
// Paths inside a volume as a user types them: folder names separated by "/"
// or "\", matched case-insensitively like DIDir::FindName (long or 8.3
// names); "" or "/" is the root.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "volume/diskimage.h"

// The components of a UTF-8 path.
std::vector<std::string> SplitVolumePath(const std::string& utf8Path);

struct EntryLocation {
    uint32_t folder = 0;  // first cluster of the folder holding the entry
    int index = -1;       // the entry's index in that folder; -1 for the root itself
};

// The folder a path names: its first cluster (0 for the root).
std::optional<uint32_t> ResolveFolder(DiskImage& image, const std::string& utf8Path);

// The entry a path names. The root gives index -1. A component that
// several entries match without regard to case, none exactly, names none:
// 1463 is shown and `ambiguous` set.
std::optional<EntryLocation> ResolveEntry(DiskImage& image, const std::string& utf8Path, bool* ambiguous = nullptr);
