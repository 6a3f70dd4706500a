#pragma once
// fsck.fat -n on an image left by a stop in the middle of a change.

#include <string>

#include "support/images.h"

// What fsck.fat -n says of a FAT16 volume left marked in use.
constexpr const char* kFsckDirtyLine = "Dirty bit is set. Fs was not properly unmounted and some data may be corrupt.";
constexpr const char* kFsckDirtyFix = " Automatically removing dirty bit.";

// True when fsck.fat -n reports nothing but clusters no entry reaches, a
// chain longer than its file's size (a stop between the FAT link and the
// entry's new size), or FAT copies that differ while each is sound (a stop
// between the writes of the two copies). The report goes to `report`.
inline bool FsckCleanButLostOrLong(const std::string& path, std::string* report) {
    for (const std::string& line : FsckFindings(path, report)) {
        bool allowed = line.rfind("Reclaimed ", 0) == 0 || line.rfind("/", 0) == 0 ||
                       line.rfind("  File size is ", 0) == 0 || line.rfind("  Truncating file to ", 0) == 0 ||
                       line == "FATs differ but appear to be intact." || line == "  Using first FAT." ||
                       line == kFsckDirtyLine || line == kFsckDirtyFix;
        if (!allowed) return false;
    }
    return true;
}

#include "support/faulty_device.h"
#include "volume/fsck/checker.h"
#include "volume/fsck/repairer.h"

// The repair of an image left by a stop, as `repair --yes` makes it; the
// check of the volume mounted afresh afterwards.
inline CheckResult RepairAndCheck(const std::string& path, uint32_t fileSystem = 0) {
    CheckResult unmountable;
    unmountable.complete = false;
    {
        Mounted m = MountImageFile(path, 0, fileSystem);
        if (!m) return unmountable;
        static_cast<void>(RepairVolume(*m.image, {}));
        static_cast<void>(m.image->Flush());
    }
    Mounted m = MountImageFile(path, 0, fileSystem);
    if (!m) return unmountable;
    return CheckVolume(*m.image);
}

// The repair itself stopped after each of its writes in turn, then run once
// more: what the check finds then, for every stop ("" when all end clean).
// `stops` receives the number of stop points tried.
inline std::string RepairSurvivesStops(const std::string& path, uint32_t fileSystem, int* stops = nullptr) {
    const std::vector<uint8_t> damaged = ReadHostFile(path);
    int writes = 0;
    {
        FaultyDevice* device = nullptr;
        Mounted m = MountFaulty(path, FaultyDevice::Mode::Count, 0, &device, fileSystem);
        if (!m) return "cannot mount\n";
        static_cast<void>(RepairVolume(*m.image, {}));
        writes = device->writes;
    }
    std::string found;
    for (int n = 1; n <= writes; ++n) {
        WriteHostFile(path, damaged);
        {
            Mounted m = MountFaulty(path, FaultyDevice::Mode::StopAfter, n, nullptr, fileSystem);
            if (!m) return "cannot mount\n";
            static_cast<void>(RepairVolume(*m.image, {}));
        }
        CheckResult r = RepairAndCheck(path, fileSystem);
        if (!r.Clean()) found += "repair stopped after write " + std::to_string(n) + ", then run again:\n" + r.Report();
        if (fileSystem == 0) {
            std::string report;
            if (!FsckClean(path, &report)) found += "fsck.fat after write " + std::to_string(n) + ":\n" + report;
        }
    }
    if (stops) *stops = writes;
    return found;
}
