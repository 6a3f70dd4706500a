#include "opening/physicalform.h"

#include <algorithm>
#include <dirent.h>

#include "explorer/config.h"

std::string InitialDrivePath() {
    std::string last = SettingText("LastPhysical");
    return last.empty() ? "/dev/sdX" : last;
}

std::vector<std::string> ListDrivePaths() {
    std::vector<std::string> paths;
    if (DIR* d = opendir("/sys/block")) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.empty() || name[0] == '.' || name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0) continue;
            paths.push_back("/dev/" + name);
        }
        closedir(d);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool OpenPhysicalDrive(TDiskOpener& dialog, const std::string& path, VolumeParams& params) {
    if (!DetectAndSelect(dialog, path, params)) return false;
    WriteSettingString(kSettingsSection, "LastPhysical", path);
    return true;
}
