#pragma once
// The manual parameter dialog without its window: the volume's layout typed
// in by hand, filled from the boot record, or found by a boot-sector search.

#include <string>

#include "volume/volumeparams.h"

class TManualDiskDialog {
public:
    TManualDiskDialog();

    // The fields as the user sees them.
    std::string editVolumeStart = "0", editFAT = "0", editFATCount = "0", editFATSize = "0", editRoot = "0",
                editUser = "0", editClusterSize = "0", editClusters = "0";
    int cbFileSystem = 0;  // 0 "DOS", 1 "Human68k"
    int cbFATType = -1;    // 0 FAT12, 1 FAT16, 2 FAT32; -1 none selected

    VolumeParams Record;  // the dialog's own copy, device included (not owned)

    // "Read the boot record": decodes the boot record at editVolumeStart
    // with the selected file system and fills the fields; a failed status
    // is reported with its message and leaves them.
    bool ReadIPL();
    // The search dialog's search: from `start` in steps of `step` bytes.
    // On success reports 506 and gives the boot sector's position.
    bool Search(const std::string& start, const std::string& step, std::string& begin);
    // Confirms a found position: puts it into editVolumeStart and reads the boot record there.
    bool UseSearchResult(const std::string& begin);
    // OK: reads every field into Record. Refuses (with a message) a dialog
    // with no FAT type selected.
    bool Confirm();

    static const char* const kFileSystems[2];
    static const char* const kFATTypes[3];
};

// Runs the dialog on `params`: 1 when confirmed (params then holds the
// typed values and the same device), 2 when cancelled (params unchanged).
int RunManualDialog(TManualDiskDialog& dialog, VolumeParams& params);
