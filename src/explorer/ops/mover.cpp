#include "explorer/ops/mover.h"

#include <algorithm>

#include "device/messages.h"
#include "device/userinterface.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/hostnames.h"

namespace {

// The parent of a folder, from its ".." entry; false for the root or a
// folder that cannot be read.
bool ParentOf(DiskImage& image, uint32_t folder, uint32_t& parent) {
    if (folder == 0) return false;
    DIDir d(&image, folder);
    if (!d.Load() || d.GetCount() < 2 || !d.IsDotEntry(1) || d.GetDisplayName(1) != "..") return false;
    int64_t p = d.GetStartCluster(1);
    parent = p < 2 ? 0 : uint32_t(p);
    return true;
}

}  // namespace

bool IsAtOrBelow(DiskImage& image, uint32_t target, uint32_t folder) {
    std::vector<uint32_t> seen;
    uint32_t c = target;
    for (;;) {
        if (c == folder) return true;
        if (c == 0 || std::find(seen.begin(), seen.end(), c) != seen.end()) return false;
        seen.push_back(c);
        uint32_t parent;
        if (!ParentOf(image, c, parent)) return false;
        c = parent;
    }
}

namespace {

bool IsEmptyFolderAt(DiskImage& image, uint32_t first) {
    DIDir d(&image, first);
    if (first == 0 || !d.Load()) return false;
    for (uint32_t k = 0; k < d.GetCount(); ++k)
        if (!d.IsFree(int(k)) && !d.IsDotEntry(int(k))) return false;
    return true;
}

uint32_t FirstOf(const DIDir& d, int i) {
    int64_t c = d.GetStartCluster(i);
    return c < 2 ? 0 : uint32_t(c);
}

}  // namespace

OpResult MoveEntry(DIDir& source, int i, DIDir& target, const std::string& newName, int replace) {
    DiskImage& image = *source.GetImage();
    if (!source.IsValidIndex(i) || source.IsFree(i)) return OpStatus::kNotFound;
    if (source.IsDotEntry(i)) return OpStatus::kRefused;
    if (image.IsReadOnly()) return OpStatus::kReadOnly;
    const bool isDir = (source.GetAttr(i) & kAttrDirectory) != 0;
    if (isDir) {
        const uint32_t folder = FirstOf(source, i);
        if (folder == 0 || target.GetCluster() == folder || IsAtOrBelow(image, target.GetCluster(), folder))
            return OpStatus::kLoop;
    }
    OpResult r;
    if (replace >= 0) {
        if (!target.IsValidIndex(replace) || target.IsFree(replace) || target.IsDotEntry(replace))
            return OpStatus::kNotFound;
        if (&target == &source && replace == i) {
            r.index = i;
            return r;
        }
        const bool targetIsDir = (target.GetAttr(replace) & kAttrDirectory) != 0;
        if (isDir && !targetIsDir) return OpStatus::kNotFolder;
        if (!isDir && targetIsDir) return OpStatus::kIsFolder;
        if (targetIsDir && !IsEmptyFolderAt(image, FirstOf(target, replace))) return OpStatus::kNotEmpty;
        switch (source.MoveOnto(i, target, replace)) {
            case DIDir::Replaced::Done: break;
            case DIDir::Replaced::NotSwitched: return OpStatus::kIoError;
            case DIDir::Replaced::OldKept: return OpStatus::kIoError;
        }
        r.index = replace;
        return r;
    }
    const std::string name = newName.empty() ? source.GetNameUtf8(i) : newName;
    if (!newName.empty() && !ValidNewName(target, newName)) {
        r.status = OpStatus::kBadName;
        r.rule = NameProblem::kReserved;
        return r;
    }
    if (target.FindName(name) != -1) return OpStatus::kExists;
    if (&target == &source || target.GetCluster() == source.GetCluster()) return OpStatus::kExists;
    if (OpResult room = RoomFor(target); !room.Ok()) return room;
    r.index = source.MoveTo(i, target, newName);
    if (r.index < 0) {
        // An 8.3 alias the target cannot be given, or the device failed.
        OpResult room = RoomFor(target);
        return room.Ok() ? OpResult(OpStatus::kIoError) : room;
    }
    return r;
}

OpResult MoveListEntry(DIDir& source, int index, DIDir& target, const std::string& newName) {
    std::string name = source.GetNameUtf8(index);
    OpResult r = MoveEntry(source, index, target, newName);
    switch (r.status) {
        case OpStatus::kOk: break;
        case OpStatus::kRefused: ShowMessage(126, name); return r;
        case OpStatus::kExists: ReportNameTaken(target, newName.empty() ? name : newName); return r;
        default: ShowMessage(127, name); return r;
    }
    if (target.GetAttr(r.index) & kAttrDirectory)
        UI().FolderMoved(uint32_t(target.GetStartCluster(r.index)), target.GetCluster());
    return r;
}

bool MoveOntoEntry(DIDir& from, int i, DIDir& holder, int t, const std::string& shownTarget) {
    OpResult r = MoveEntry(from, i, holder, {}, t);
    if (r.Ok() && !from.GetImage()->Flush()) r = OpResult::IoFailure(OpResult::Io::kFlush);
    if (r.Ok()) return true;
    ShowSystemError(ErrnoOf(r));
    ShowMessage(1340, shownTarget);
    return false;
}

int MoveEntries(DIDir& source, const std::vector<int>& indexes, uint32_t targetCluster, const std::string& targetName,
                bool confirm, const std::string& newName) {
    DiskImage& image = *source.GetImage();
    std::vector<std::string> names;
    for (int i : indexes) {
        names.push_back(source.GetNameUtf8(i));
        if (!(source.GetAttr(i) & kAttrDirectory) || source.IsDotEntry(i)) continue;
        uint32_t folder = uint32_t(source.GetStartCluster(i));
        if (folder == targetCluster) {
            ShowMessage(124);
            return 0;
        }
        if (IsAtOrBelow(image, targetCluster, folder)) {
            ShowMessage(122);
            return 0;
        }
    }
    if (confirm && !UI().ConfirmMove(names, targetName)) return 0;
    DIDir target(&image, targetCluster);
    if (!target.Load()) {
        ShowMessage(106, targetName);
        return 0;
    }
    // Each move writes the target and then the source; a failed one ends
    // the whole move, a refused one is passed over.
    int moved = 0;
    for (int i : indexes) {
        OpResult r = MoveListEntry(source, i, target, newName);
        if (r.Ok()) ++moved;
        else if (!r.Skipped()) return -1;
    }
    if (!WriteAndFlush(target, targetName) || !WriteAndFlush(source, "")) return -1;
    return moved;
}

bool MoveFolder(DiskImage& image, uint32_t parent, uint32_t folder, uint32_t target, const std::string& folderName,
                const std::string& targetName, bool confirm) {
    if (folder == 0 || IsAtOrBelow(image, target, folder)) {
        ShowMessage(122);
        return false;
    }
    if (confirm && !UI().ConfirmMove({folderName}, targetName)) return false;
    DIDir p(&image, parent);
    if (!p.Load()) {
        ShowMessage(123);
        return false;
    }
    int entry = -1;
    for (uint32_t i = 0; i < p.GetCount() && entry < 0; ++i) {
        if (p.IsFree(int(i)) || p.IsDotEntry(int(i))) continue;
        if (uint32_t(p.GetStartCluster(int(i))) == folder) entry = int(i);
    }
    if (entry < 0) {
        ShowMessage(123);
        return false;
    }
    DIDir d(&image, target);
    if (!d.Load()) return false;
    std::string name = p.GetNameUtf8(entry);
    if (d.FindName(name) != -1) {
        ReportNameTaken(d, name);
        return false;
    }
    int j = p.MoveTo(entry, d);
    if (j < 0) {
        ShowMessage(127, name);
        return false;
    }
    if (!WriteAndFlush(d, targetName) || !WriteAndFlush(p, "")) return false;
    UI().FolderMoved(folder, target);
    return true;
}
