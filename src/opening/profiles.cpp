#include "opening/profiles.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

#include "device/messages.h"
#include "opening/settings/inifile.h"

namespace {

// The marker opens the file; editors that write a UTF-8 byte-order mark
// put it before the marker, where it is passed over.
bool HasMarker(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::size_t n = std::strlen(kProfileMarker);
    std::string head(n + 3, '\0');
    f.read(head.data(), std::streamsize(head.size()));
    head.resize(std::size_t(f.gcount()));
    if (head.compare(0, 3, "\xEF\xBB\xBF") == 0) head.erase(0, 3);
    return head.compare(0, n, kProfileMarker) == 0;
}

bool HasIniExtension(const std::string& name) {
    if (name.size() <= 4 || name[name.size() - 4] != '.') return false;
    std::string ext = name.substr(name.size() - 3);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == "ini";
}

std::vector<std::string> IniFilesIn(const std::string& folder) {
    std::vector<std::string> files;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (HasIniExtension(name)) files.push_back(name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// True when a DiskStart value, read the way integer keys are read, lies
// between 0 and 2^31 - 1.
bool FitsDiskStart(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return true;  // no digits: reads as 0
    bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') ++i;
    int base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    unsigned long long v = 0;
    bool digits = false;
    for (; i < text.size(); ++i) {
        int d = std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0'
                : base == 16 && std::isxdigit(static_cast<unsigned char>(text[i])) ? (text[i] | 0x20) - 'a' + 10
                : -1;
        if (d < 0) break;
        digits = true;
        v = v * unsigned(base) + unsigned(d);
        if (v > 0x7FFFFFFFull) return false;
    }
    return !digits || !negative || v == 0;
}

DISKPROFILE ReadProfile(const IniFile& ini, const std::string& name, const std::string& folder) {
    static const char* const kVolumeKeys[10] = {"DiskStart", "FileSystem", "FATType",  "FAT",         "FATSize",
                                                "FATCount",  "RootDir",    "UserArea", "ClusterSize", "ClustersCount"};
    static const char* const kGeometryKeys[6] = {"HDDType", "DiskStart", "SecLen", "Sectors", "Heads", "Cylinders"};
    DISKPROFILE p;
    p.Name = name;
    p.Extension = ini.GetString(name, "Extension");
    p.FileSize = ini.GetInt(name, "FileSize");
    p.ProfileType = ini.GetInt(name, "ProfileType");
    // DiskStart is kept in 32 bits: a value that does not fit (or is
    // negative) would wrap to another place on the disk, so the profile is
    // refused rather than pointed elsewhere.
    if (p.ProfileType >= kProfileBootRecord && p.ProfileType <= kProfileHardDisk &&
        ini.HasKey(name, "DiskStart")) {
        std::string text = ini.GetString(name, "DiskStart");
        if (!FitsDiskStart(text)) {
            ShowMessage(1280, text, name);
            p.ProfileType = 0;
            return p;
        }
    }
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
        case kProfileDetect:
            break;
        case kProfileLibrary:
            p.Library = ini.GetString(name, "Library");
            // A relative path names a library beside the profile file (the
            // program folder), whatever the current folder; a bare name
            // not found there is left to the library search.
            if (!p.Library.empty() && p.Library[0] != '/') {
                std::string beside = folder + p.Library;
                if (p.Library.find('/') != std::string::npos || access(beside.c_str(), F_OK) == 0) p.Library = beside;
            }
            break;
        default:
            ShowMessage(205, name);
            break;
    }
    return p;
}

}  // namespace

std::vector<DISKPROFILE> WithDetectionByContent(std::vector<DISKPROFILE> profiles) {
    bool detects = std::any_of(profiles.begin(), profiles.end(),
                               [](const DISKPROFILE& p) { return p.ProfileType == kProfileDetect; });
    if (!detects && profiles.size() < std::size_t(kProfileSlots - kBuiltInItems)) {
        DISKPROFILE p;
        p.Name = kDetectionProfileName;
        p.ProfileType = kProfileDetect;
        profiles.push_back(p);
    }
    return profiles;
}

std::vector<DISKPROFILE> LoadProfiles(const std::string& folder) {
    return LoadProfiles(std::vector<std::string>{folder});
}

std::vector<DISKPROFILE> LoadProfiles(const std::vector<std::string>& folders) {
    // Profile files by name; a later folder's file replaces an earlier one.
    struct File {
        std::string name, folder;
    };
    std::vector<File> files;
    for (const std::string& folder : folders) {
        std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
        for (const std::string& file : IniFilesIn(folder)) {
            if (!HasMarker(dir + file)) continue;
            auto same = std::find_if(files.begin(), files.end(), [&](const File& f) { return f.name == file; });
            if (same != files.end()) same->folder = dir;
            else files.push_back({file, dir});
        }
    }
    std::vector<DISKPROFILE> profiles;
    std::vector<std::string> from;  // the folder of each profile
    const std::size_t limit = kProfileSlots - kBuiltInItems;
    for (const File& f : files) {
        IniFile ini(f.folder + f.name);
        for (const std::string& name : ini.SectionNames()) {
            if (name.empty()) break;
            // A profile of a name read from another (earlier) folder gives
            // way to this one.
            std::size_t same = 0;
            while (same < profiles.size() && !(profiles[same].Name == name && from[same] != f.folder)) ++same;
            if (same < profiles.size()) {
                profiles[same] = ReadProfile(ini, name, f.folder);
                from[same] = f.folder;
            } else if (profiles.size() < limit) {
                profiles.push_back(ReadProfile(ini, name, f.folder));
                from.push_back(f.folder);
            } else {
                break;
            }
        }
    }
    std::stable_partition(profiles.begin(), profiles.end(),
                          [](const DISKPROFILE& p) { return !p.Extension.empty() || p.FileSize != 0; });
    return profiles;
}
