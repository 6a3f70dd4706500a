#pragma once
// The tab-separated listing of directory entries handed out as text.

#include <string>
#include <vector>

#include "volume/didir.h"

// Header line, then one line per index: name, size, attributes, time, first
// cluster, TAB-separated. Sizes and clusters print as signed 32-bit numbers.
// Names are converted to UTF-8 when `utf8Names` is set, else left as stored.
std::string MakeListingText(const DIDir& dir, const std::vector<int>& indexes, const char* lineEnd = "\r\n",
                            bool utf8Names = false);

// The entries a listing of the whole folder shows: every index in order but
// free entries, long-name slots (attribute 0x0F), "." and "..".
std::vector<int> ListedEntries(const DIDir& dir);
