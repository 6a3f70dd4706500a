#include "opening/manualdisk.h"

#include "device/messages.h"
#include "device/userinterface.h"
#include "opening/hddpart.h"

const char* const TManualDiskDialog::kFileSystems[2] = {"DOS", "Human68k"};
const char* const TManualDiskDialog::kFATTypes[3] = {"FAT12", "FAT16", "FAT32"};

TManualDiskDialog::TManualDiskDialog() = default;

bool TManualDiskDialog::ReadIPL() {
    VolumeParams p;
    p.Device = Record.Device;
    if (!StrictInt64(editVolumeStart, p.DiskStart)) return false;
    p.FileSystem = uint32_t(cbFileSystem);
    BootStatus status = DecodeBootRecord(p);
    if (status != BootOk) {
        ShowMessage(BootStatusMessage(status));
        return false;
    }
    cbFileSystem = int(p.FileSystem);
    cbFATType = int(p.FATType);
    editFAT = std::to_string(p.FAT);
    editFATSize = std::to_string(p.FATSize);
    editFATCount = std::to_string(p.FATCount);
    editRoot = std::to_string(p.RootDir);
    editUser = std::to_string(p.UserArea);
    editClusterSize = std::to_string(p.ClusterSize);
    editClusters = std::to_string(p.ClustersCount);
    return true;
}

bool TManualDiskDialog::Search(const std::string& start, const std::string& step, std::string& begin) {
    uint8_t sector[512];
    int64_t at = 0;
    if (!SearchBootSector(Record.Device, start, step, at, sector)) return false;
    begin = std::to_string(at);
    return true;
}

bool TManualDiskDialog::UseSearchResult(const std::string& begin) {
    editVolumeStart = begin;
    return ReadIPL();
}

bool TManualDiskDialog::Confirm() {
    if (cbFATType < 0 || cbFATType > 2) {
        ShowMessage(1202);
        return false;
    }
    Record.DiskStart = LenientInt64(editVolumeStart);
    Record.FileSystem = uint32_t(cbFileSystem);
    Record.FATType = uint32_t(cbFATType);
    Record.FAT = LenientInt(editFAT);
    Record.FATSize = LenientInt(editFATSize);
    Record.FATCount = uint32_t(LenientInt(editFATCount));
    Record.RootDir = uint32_t(LenientInt(editRoot));
    Record.UserArea = LenientInt(editUser);
    Record.ClusterSize = uint32_t(LenientInt(editClusterSize));
    Record.ClustersCount = uint32_t(LenientInt(editClusters));
    return true;
}

int RunManualDialog(TManualDiskDialog& dialog, VolumeParams& params) {
    dialog.Record = params;
    dialog.cbFileSystem = 0;
    if (!UI().ShowManualDialog(dialog)) return 2;
    params = dialog.Record;
    return 1;
}
