#include "opening/profiles.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>

#include "device/messages.h"
#include "explorer/inifile.h"

namespace {

bool HasMarker(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::size_t n = std::strlen(kProfileMarker);
    std::string head(n, '\0');
    if (!f.read(head.data(), std::streamsize(n))) return false;
    return head == kProfileMarker;
}

std::vector<std::string> IniFilesIn(const std::string& folder) {
    std::vector<std::string> files;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0) files.push_back(name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

DISKPROFILE ReadProfile(const IniFile& ini, const std::string& name) {
    static const char* const kVolumeKeys[10] = {"DiskStart", "FileSystem", "FATType",  "FAT",         "FATSize",
                                                "FATCount",  "RootDir",    "UserArea", "ClusterSize", "ClustersCount"};
    static const char* const kGeometryKeys[6] = {"HDDType", "DiskStart", "SecLen", "Sectors", "Heads", "Cylinders"};
    DISKPROFILE p;
    p.Name = name;
    p.Extension = ini.GetString(name, "Extension");
    p.FileSize = ini.GetInt(name, "FileSize");
    p.ProfileType = ini.GetInt(name, "ProfileType");
    switch (p.ProfileType) {
        case kProfileBootRecord:
            for (int k = 0; k < 2; ++k) p.Params[k] = ini.GetInt(name, kVolumeKeys[k]);
            break;
        case kProfileFullVolume:
            for (int k = 0; k < 10; ++k) p.Params[k] = ini.GetInt(name, kVolumeKeys[k]);
            break;
        case kProfileHardDisk:
            for (int k = 0; k < 6; ++k) p.Params[k] = ini.GetInt(name, kGeometryKeys[k]);
            break;
        case kProfileAnex86:
        case kProfileT98Next:
            break;
        case kProfileLibrary:
            p.Library = ini.GetString(name, "Library");
            break;
        default:
            ShowMessage(205, name);
            break;
    }
    return p;
}

}  // namespace

std::vector<DISKPROFILE> LoadProfiles(const std::string& folder) {
    std::vector<DISKPROFILE> profiles;
    const std::size_t limit = kProfileSlots - kBuiltInItems;
    std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const std::string& file : IniFilesIn(folder)) {
        if (profiles.size() >= limit) break;
        std::string path = dir + file;
        if (!HasMarker(path)) continue;
        IniFile ini(path);
        for (const std::string& name : ini.SectionNames()) {
            if (profiles.size() >= limit || name.empty()) break;
            profiles.push_back(ReadProfile(ini, name));
        }
    }
    return profiles;
}
