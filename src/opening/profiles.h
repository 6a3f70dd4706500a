#pragma once
// Disk profiles: sections of "*.ini" files in the program folder that begin
// with ";VoldexProfiles". Each names an image format, the files it
// preselects itself for, and how such an image is read.

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kProfileMarker = ";VoldexProfiles";
// The disk-type list holds 50 entries; the first three are built in.
inline constexpr int kProfileSlots = 50;
inline constexpr int kBuiltInItems = 3;

enum ProfileTypeKind : int32_t {
    kProfileBootRecord = 1,
    kProfileFullVolume = 2,
    kProfileHardDisk = 3,
    kProfileAnex86 = 4,
    kProfileT98Next = 5,
    kProfileLibrary = 6,
    kProfileDetect = 7,  // the image's own bytes decide
};

struct DISKPROFILE {
    std::string Name;
    std::string Extension;
    int32_t FileSize = 0;
    int32_t ProfileType = 0;
    // Type 1: DiskStart, FileSystem; type 2: the ten volume parameters;
    // type 3: HDDType, DiskStart, SecLen, Sectors, Heads, Cylinders.
    int32_t Params[10] = {};
    std::string Library;
};

// Loads the profiles of every profile file in `folder`, files in name
// order, sections in file order, at most kProfileSlots - kBuiltInItems of
// them. A section with a ProfileType outside 1..7 is reported (205) and
// kept.
std::vector<DISKPROFILE> LoadProfiles(const std::string& folder);

// The profiles of several folders, in folder order. A file in a later
// folder takes the place of the file of the same name in an earlier one (a
// user's copy of a shipped file), and a profile the place of an earlier
// profile of the same name. Profiles that match every file (no
// extension, no size: detection by content) come after all the others, so
// that they never hide a profile that names its files.
std::vector<DISKPROFILE> LoadProfiles(const std::vector<std::string>& folders);

// The name of detection by content, built in and shipped under this name.
inline constexpr const char* kDetectionProfileName = "Αναγνώριση από το περιεχόμενο";

// The profiles with detection by content last, built in when none of them
// detects: an image opens by its own bytes with no profile file at all.
std::vector<DISKPROFILE> WithDetectionByContent(std::vector<DISKPROFILE> profiles);
