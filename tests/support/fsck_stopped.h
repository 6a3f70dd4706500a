#pragma once
// fsck.fat -n on an image left by a stop in the middle of a change.

#include <string>

#include "support/images.h"

// True when fsck.fat -n reports nothing but clusters no entry reaches, a
// chain longer than its file's size (a stop between the FAT link and the
// entry's new size), or FAT copies that differ while each is sound (a stop
// between the writes of the two copies). The report goes to `report`.
inline bool FsckCleanButLostOrLong(const std::string& path, std::string* report) {
    for (const std::string& line : FsckFindings(path, report)) {
        bool allowed = line.rfind("Reclaimed ", 0) == 0 || line.rfind("/", 0) == 0 ||
                       line.rfind("  File size is ", 0) == 0 || line.rfind("  Truncating file to ", 0) == 0 ||
                       line == "FATs differ but appear to be intact." || line == "  Using first FAT.";
        if (!allowed) return false;
    }
    return true;
}
