#include "opening/physicalform.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>

#include "opening/settings/config.h"

std::string InitialDrivePath() {
    std::string last = SettingText("LastPhysical");
    return last.empty() ? "/dev/sdX" : last;
}

namespace {

// The size of a block device in 512-byte sectors, as the kernel states it.
uint64_t SysBlockSectors(const std::string& root, const std::string& name) {
    std::ifstream f(root + "/" + name + "/size");
    uint64_t n = 0;
    f >> n;
    return n;
}

}  // namespace

// Disks that can hold an image's worth of data: whole disks, memory cards,
// USB sticks, and loop devices that are attached to a file. RAM disks and
// compressed swap in memory (ram*, zram*) hold nothing to open; an unused
// loop device has a size of 0 and is left out like any empty drive.
std::vector<std::string> ListDrivePathsIn(const std::string& sysBlock) {
    std::vector<std::string> paths;
    if (DIR* d = opendir(sysBlock.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.empty() || name[0] == '.' || name.rfind("zram", 0) == 0 || name.rfind("ram", 0) == 0) continue;
            if (SysBlockSectors(sysBlock, name) == 0) continue;
            paths.push_back("/dev/" + name);
        }
        closedir(d);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> ListDrivePaths() { return ListDrivePathsIn("/sys/block"); }

bool OpenPhysicalDrive(TDiskOpener& dialog, const std::string& path, VolumeParams& params) {
    if (!DetectAndSelect(dialog, path, params)) return false;
    WriteSettingString(kSettingsSection, "LastPhysical", path);
    return true;
}
