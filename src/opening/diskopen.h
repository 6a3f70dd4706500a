#pragma once
// Disk-type selection: turns a path into a described volume ready to mount,
// through profiles, image headers (Anex86, T98-Next), partition tables,
// manual parameters, plug-in libraries or the volume's own boot record.

#include <optional>
#include <string>
#include <vector>

#include "opening/hddpart.h"
#include "opening/manualdisk.h"
#include "opening/profiles.h"
#include "volume/volumeparams.h"

// The disk-type options of the command line ("/P[name]" or --profile=NAME,
// "/S" or --skip-type-dialog). They act on the first opening only: the
// disk-type selection takes each of them away as it uses it.
struct OpeningOptions {
    std::optional<std::string> profile;
    bool skipTypeDialog = false;
};
OpeningOptions& PendingOpeningOptions();

// The disk-type dialog without its window: the list of disk types (three
// built-in items, then the profiles) and the choice.
class TDiskOpener {
public:
    // Loads the profiles of the program folder and reads SkipTypeSelect.
    TDiskOpener();
    // The same with profiles given (tests, and callers with their own folder).
    explicit TDiskOpener(std::vector<DISKPROFILE> profiles);

    std::vector<std::string> Items;
    std::vector<DISKPROFILE> Profiles;  // index-aligned with Items; the first three are empty
    int Selected = 2;
    bool SkipTypeSelect = false;
    std::string FileNameLabel;
    void* Window = nullptr;  // handed to plug-ins

    THDDPartDialog PartDialog;
    TManualDiskDialog ManualDialog;

    static const char* const kBuiltInItemTexts[3];
};

// The item of `items` that `name` names: its stored name or its name in
// any of the three languages, ignoring case, the access-key mark and a
// closing "..."; -1 when none does.
int FindDiskType(const std::vector<std::string>& items, const std::string& name);

// Refuses, with one message that names the file and the cause, a path
// that cannot be an image: nothing there, no permission to read, a folder,
// an empty file, a file too small for a boot record. Asks nothing. True
// when the file may be opened.
bool CheckImageFile(const std::string& path);
// The same, and a volume said to begin at byte `offset` must begin inside
// the file.
bool CheckImageOffset(const std::string& path, int64_t offset);

// Fills `params` for `path`: true when the record is complete and its
// device open (the device passes to the caller); false when the user
// cancelled or the file could not be opened.
bool DetectAndSelect(TDiskOpener& dialog, const std::string& path, VolumeParams& params);

// The low 32 bits of the size of what `path` names (files and block
// devices alike), or -1 when it cannot be opened.
int32_t GetFileSize32(const std::string& path);
// The whole size in bytes, or -1.
int64_t FileSize64(const std::string& path);

// The extension of a path, its full stop included, in upper case; empty
// when the file name has no full stop.
std::string PathExtension(const std::string& path);

// Case-insensitive comparison of UTF-8 texts (ASCII, Latin and Greek letters).
bool EqualIgnoringCase(const std::string& a, const std::string& b);
