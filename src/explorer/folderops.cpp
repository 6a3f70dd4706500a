#include "explorer/folderops.h"

#include "device/messages.h"
#include "device/userinterface.h"
#include "explorer/hostnames.h"

int CreateFolder(DIDir& dir, const std::string& name) {
    DiskImage& image = *dir.GetImage();
    if (dir.Find(name) >= 0) {
        ShowMessage(109, SjisToUtf8(name));
        return -1;
    }
    if (image.FreeClusters == 0) {
        ShowMessage(113, SjisToUtf8(name));
        return -1;
    }
    int j = dir.MakeDir(name);
    if (j < 0) {
        ShowMessage(120, SjisToUtf8(name));
        return -1;
    }
    dir.Write();
    UI().FolderAdded(dir.GetCluster(), uint32_t(dir.GetStartCluster(j)), dir.GetDisplayName(j));
    UI().FreeSpaceChanged();
    return j;
}

int MakeDefaultFolder(DIDir& dir) {
    for (int n = 0; n <= 999; ++n) {
        std::string name = "NEWDIR." + std::to_string(n);
        if (dir.Find(name) < 0) return CreateFolder(dir, name);
    }
    ShowMessage(121);
    return -1;
}

std::string RenameEntry(DIDir& dir, int i, const std::string& text) {
    std::string old = dir.GetDisplayName(i);
    // "." and ".." keep their names: renamed, they would become folders
    // that refer back to themselves or to their parent.
    if (text.empty() || old == "." || old == "..") return old;
    int j = dir.Find(text);
    if (j >= 0) {
        if (j != i) ShowMessage(119, SjisToUtf8(dir.GetDisplayName(j)));
        return old;
    }
    dir.SetName(i, text);
    std::string stored = dir.GetDisplayName(i);
    if (dir.GetAttr(i) & kAttrDirectory) UI().FolderRenamed(uint32_t(dir.GetStartCluster(i)), stored);
    dir.Write();
    return stored;
}

bool ConfirmDelete() { return AskMessage(129, kBoxYesNoQuestion) == kIdYes; }

bool ConfirmRelease() { return AskMessage(130, kBoxYesNoWarning) == kIdYes; }

bool DeleteEntries(DIDir& dir, const std::vector<int>& indexes) {
    for (int i : indexes) {
        if (!dir.IsValidIndex(i) || dir.IsFree(i)) continue;
        std::string name = dir.GetDisplayName(i);
        if ((dir.GetAttr(i) & kAttrVolume) || name.empty() || name[0] == '.') continue;
        bool folder = dir.GetAttr(i) & kAttrDirectory;
        uint32_t cluster = uint32_t(dir.GetStartCluster(i));
        if (dir.Delete(i) && folder) UI().FolderRemoved(cluster);
    }
    bool written = dir.Write();
    UI().FreeSpaceChanged();
    return written;
}

bool ReleaseEntries(DIDir& dir, const std::vector<int>& indexes) {
    for (int i : indexes) dir.Release(i);
    bool written = dir.Write();
    UI().FreeSpaceChanged();
    return written;
}
