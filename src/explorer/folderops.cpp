#include "explorer/folderops.h"

#include "device/messages.h"
#include "device/userinterface.h"
#include "explorer/hostnames.h"

bool WriteAndFlush(DIDir& dir, const std::string& shownName) {
    if (!dir.Write()) {
        ShowMessage(107, shownName);
        return false;
    }
    if (!dir.GetImage()->Flush()) {
        ShowMessage(1213, dir.GetImage()->Device()->GetPath());
        return false;
    }
    return true;
}

int CreateFolder(DIDir& dir, const std::string& name) {
    DiskImage& image = *dir.GetImage();
    if (!dir.IsValidNewName(name)) {
        ShowMessage(1211, SjisToUtf8(name));
        return -1;
    }
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
    // The folder's cluster and its FAT entry are on the device: the entry
    // that points at them goes last.
    if (!WriteAndFlush(dir, SjisToUtf8(name))) {
        dir.Release(j);
        UI().FreeSpaceChanged();
        return -1;
    }
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

std::string RenameEntry(DIDir& dir, int i, const std::string& text, bool* ok) {
    bool done = false;
    if (ok) *ok = false;
    std::string old = dir.GetDisplayName(i);
    if (!dir.IsValidIndex(i) || dir.IsFree(i) || text.empty()) return old;
    // "." and ".." keep their names: renamed, they would become folders
    // that refer back to themselves or to their parent.
    if (dir.IsDotEntry(i) || !dir.IsValidNewName(text)) {
        ShowMessage(1211, SjisToUtf8(dir.IsDotEntry(i) ? old : text));
        return old;
    }
    int j = dir.Find(text);
    if (j >= 0) {
        if (j != i) {
            ShowMessage(119, SjisToUtf8(dir.GetDisplayName(j)));
            return old;
        }
        // The same entry: a name that differs only in case on FAT.
        if (dir.ToDiskName(text) == old) {
            if (ok) *ok = true;
            return old;
        }
    }
    std::vector<uint8_t> before(dir.RawEntry(i), dir.RawEntry(i) + 32);
    dir.SetName(i, text);
    std::string stored = dir.GetDisplayName(i);
    if (!WriteAndFlush(dir, SjisToUtf8(stored))) {
        dir.RestoreEntry(i, before.data());
        return old;
    }
    done = true;
    if (dir.GetAttr(i) & kAttrDirectory) UI().FolderRenamed(uint32_t(dir.GetStartCluster(i)), stored);
    if (ok) *ok = done;
    return stored;
}

bool ConfirmDelete() { return AskMessage(129, kBoxYesNoQuestion) == kIdYes; }

bool ConfirmRelease() { return AskMessage(130, kBoxYesNoWarning) == kIdYes; }

bool DeleteEntries(DIDir& dir, const std::vector<int>& indexes) {
    bool ok = true;
    for (int i : indexes) {
        if (!dir.IsValidIndex(i) || dir.IsFree(i)) continue;
        if ((dir.GetAttr(i) & kAttrVolume) || dir.IsDotEntry(i)) continue;
        bool folder = dir.GetAttr(i) & kAttrDirectory;
        uint32_t cluster = uint32_t(dir.GetStartCluster(i));
        std::string name = dir.GetDisplayName(i);
        if (!dir.Delete(i)) {
            ShowMessage(111, SjisToUtf8(name));
            ok = false;
            break;
        }
        if (folder) UI().FolderRemoved(cluster);
    }
    ok = WriteAndFlush(dir, "") && ok;
    UI().FreeSpaceChanged();
    return ok;
}

bool ReleaseEntries(DIDir& dir, const std::vector<int>& indexes) {
    for (int i : indexes) dir.Release(i);
    bool written = WriteAndFlush(dir, "");
    UI().FreeSpaceChanged();
    return written;
}
