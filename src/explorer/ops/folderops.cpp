#include "explorer/ops/folderops.h"

#include <algorithm>
#include <cerrno>

#include "device/asciicase.h"
#include "device/messages.h"
#include "device/userinterface.h"
#include "explorer/ops/hostnames.h"
#include "volume/deleter.h"
#include "volume/longnames.h"
#include "volume/fsck/repairer.h"

OpResult WriteFolder(DIDir& dir) {
    if (!dir.Write()) return OpResult::IoFailure(OpResult::Io::kFolder);
    if (!dir.GetImage()->Flush()) return OpResult::IoFailure(OpResult::Io::kFlush);
    return {};
}

bool WriteAndFlush(DIDir& dir, const std::string& shownName) {
    OpResult r = WriteFolder(dir);
    if (r.Ok()) return true;
    if (r.io == OpResult::Io::kFolder) ShowMessage(107, shownName);
    else ShowMessage(1213, dir.GetImage()->Device()->GetPath());
    return false;
}

bool ValidNewName(const DIDir& dir, const std::string& utf8) {
    if (dir.UsesLongNames()) return utf8 != "." && utf8 != ".." && !CleanLongName(utf8).empty();
    return dir.IsValidNewName(Utf8ToSjis(utf8));
}

OpResult ExactName(const DIDir& dir, const std::string& utf8) {
    OpResult r;
    r.rule = CheckNameAsGiven(dir, utf8);
    if (r.rule != NameProblem::kNone) r.status = OpStatus::kBadName;
    return r;
}

NameProblem CheckNameAsGiven(const DIDir& dir, const std::string& utf8) {
    if (utf8.find_first_not_of(". ") == std::string::npos) return NameProblem::kReserved;
    if (dir.UsesLongNames()) {
        if (Utf8ToUtf16(utf8).size() > kLongNameMaxChars) return NameProblem::kTooLong;
        std::u16string clean = CleanLongName(utf8);
        if (clean.empty()) return NameProblem::kReserved;
        return Utf16ToUtf8(clean) == utf8 ? NameProblem::kNone : NameProblem::kCharacters;
    }
    const std::string sjis = Utf8ToSjis(utf8);
    if (SjisToUtf8(sjis) != utf8) return NameProblem::kNoShiftJis;
    const std::string disk = dir.ToDiskName(sjis);
    if (disk.empty() || disk[0] == '.') return NameProblem::kReserved;
    std::string shown = disk;
    if (!shown.empty() && shown.back() == '.') shown.pop_back();
    if (EqualIgnoringAsciiCase(shown, sjis)) return NameProblem::kNone;
    // Cut, or changed: a full stop at either end or more than one, spaces,
    // characters an 8.3 name cannot hold.
    const bool altered = utf8.front() == '.' || utf8.back() == '.' ||
                         std::count(utf8.begin(), utf8.end(), '.') > 1 ||
                         utf8.find_first_of(" \\/:;,*?\"<>|") != std::string::npos ||
                         std::any_of(utf8.begin(), utf8.end(), [](char c) { return (unsigned char)c < 0x20; });
    return altered ? NameProblem::kCharacters : NameProblem::kTooLong;
}

std::string StoredNameOf(const DIDir& dir, const std::string& utf8) {
    if (dir.UsesLongNames()) return Utf16ToUtf8(CleanLongName(utf8));
    std::string disk = dir.ToDiskName(Utf8ToSjis(utf8));
    if (!disk.empty() && disk.back() == '.') disk.pop_back();
    return SjisToUtf8(disk);
}

void ReportNameProblem(const DIDir& dir, const std::string& utf8, NameProblem problem) {
    const bool longNames = dir.UsesLongNames();
    switch (problem) {
        case NameProblem::kNone: break;
        case NameProblem::kReserved: ShowMessage(1620, utf8); break;
        case NameProblem::kCharacters: ShowMessage(longNames ? 1621 : 1622, utf8); break;
        case NameProblem::kTooLong:
            if (longNames) ShowMessage(1623, utf8, uint64_t(Utf8ToUtf16(utf8).size()));
            else ShowMessage(1624, utf8, uint64_t(dir.GetImage()->FileSystem == kFileSystemHuman68k ? 18 : 8));
            break;
        case NameProblem::kNoShiftJis: ShowMessage(1625, utf8); break;
    }
}

void ReportNameTaken(DIDir& dir, const std::string& name) {
    int j = dir.FindName(name);
    ShowMessage(j >= 0 && (dir.GetAttr(j) & kAttrDirectory) ? 109 : 119, j >= 0 ? dir.GetNameUtf8(j) : name);
}

int ErrnoOf(const OpResult& r) {
    switch (r.status) {
        case OpStatus::kOk: return 0;
        case OpStatus::kExists: return EEXIST;
        case OpStatus::kBadName: return r.rule == NameProblem::kTooLong ? ENAMETOOLONG : EINVAL;
        case OpStatus::kNoRoom:
        case OpStatus::kDiskFull: return ENOSPC;
        case OpStatus::kNotEmpty: return ENOTEMPTY;
        case OpStatus::kLoop: return EINVAL;  // what rename(2) says of a folder moved below itself
        case OpStatus::kReadOnly: return EROFS;
        case OpStatus::kCancelled: return ECANCELED;
        case OpStatus::kNotFound: return ENOENT;
        case OpStatus::kNotFolder: return ENOTDIR;
        case OpStatus::kIsFolder: return EISDIR;
        case OpStatus::kRefused: return EBUSY;
        case OpStatus::kIoError: break;
    }
    return EIO;
}

OpResult RoomFor(const DIDir& dir) {
    for (uint32_t i = 0; i < dir.GetCount(); ++i)
        if (dir.IsFree(int(i))) return {};
    const DiskImage& image = *dir.GetImage();
    const uint64_t wanted = uint64_t(dir.GetCount() + 1) * 32;
    if (image.IsRootRegion(dir.GetCluster()))
        return wanted <= uint64_t(uint32_t(image.UserArea) - image.RootDir) ? OpResult() : OpStatus::kNoRoom;
    if (dir.GetCount() + 1 > kMaxDirEntries) return OpStatus::kNoRoom;
    return image.FreeClusters > 0 ? OpResult() : OpStatus::kDiskFull;
}

OpResult MakeFolderIn(DIDir& dir, const std::string& name, bool exact) {
    DiskImage& image = *dir.GetImage();
    if (image.IsReadOnly()) return OpStatus::kReadOnly;
    if (exact) {
        if (dir.FindName(name) != -1) return OpStatus::kExists;
        if (OpResult r = ExactName(dir, name); !r.Ok()) return r;
    } else if (!ValidNewName(dir, name)) {
        OpResult r(OpStatus::kBadName);
        r.rule = NameProblem::kReserved;
        return r;
    }
    if (dir.FindName(name) != -1) return OpStatus::kExists;
    if (OpResult room = RoomFor(dir); !room.Ok()) return room;
    if (image.FreeClusters == 0) return OpStatus::kDiskFull;
    int j = dir.MakeDirNamed(name);
    if (j < 0) return OpStatus::kIoError;
    // The folder's cluster and its FAT entry are on the device: the entry
    // that points at them goes last.
    const bool written = dir.Write();
    if (!written || !image.Flush()) {
        dir.Release(j);
        return OpResult::IoFailure(written ? OpResult::Io::kFlush : OpResult::Io::kFolder);
    }
    OpResult r;
    r.index = j;
    return r;
}

OpResult MakeEmptyFileIn(DIDir& dir, const std::string& name, uint8_t attr) {
    if (dir.GetImage()->IsReadOnly()) return OpStatus::kReadOnly;
    if (dir.FindName(name) != -1) return OpStatus::kExists;
    if (OpResult r = ExactName(dir, name); !r.Ok()) return r;
    if (OpResult room = RoomFor(dir); !room.Ok()) return room;
    const int i = dir.UsesLongNames() ? dir.AddNamed(name) : dir.AddEntry(Utf8ToSjis(name));
    if (i < 0) return OpStatus::kNoRoom;
    dir.SetAttr(i, attr);
    dir.SetTime(i, LocalTimeNow());
    // The folder write flushes what came before it; the flush of the new
    // entry itself is the caller's (the mount's comes with the file's close).
    if (!dir.Write()) return OpResult::IoFailure(OpResult::Io::kFolder);
    OpResult r;
    r.index = i;
    return r;
}

int CreateFolder(DIDir& dir, const std::string& name) {
    DiskImage& image = *dir.GetImage();
    OpResult r = MakeFolderIn(dir, name);
    switch (r.status) {
        case OpStatus::kOk: break;
        case OpStatus::kBadName: ShowMessage(1211, name); return -1;
        case OpStatus::kExists: ReportNameTaken(dir, name); return -1;
        case OpStatus::kDiskFull: ShowMessage(113, name); return -1;
        case OpStatus::kIoError:
            if (r.io == OpResult::Io::kOther) {
                ShowMessage(120, name);
            } else {
                if (r.io == OpResult::Io::kFolder) ShowMessage(107, name);
                else ShowMessage(1213, image.Device()->GetPath());
                UI().FreeSpaceChanged();
            }
            return -1;
        default:
            ShowMessage(120, name);
            return -1;
    }
    const int j = r.index;
    UI().FolderAdded(dir.GetCluster(), uint32_t(dir.GetStartCluster(j)), dir.GetNameUtf8(j));
    UI().FreeSpaceChanged();
    return j;
}

int MakeDefaultFolder(DIDir& dir) {
    for (int n = 0; n <= 999; ++n) {
        std::string name = "NEWDIR." + std::to_string(n);
        if (dir.FindName(name) == -1) return CreateFolder(dir, name);
    }
    ShowMessage(121);
    return -1;
}

OpResult RenameIn(DIDir& dir, int i, const std::string& text, bool exact, std::string* stored) {
    if (!dir.IsValidIndex(i) || dir.IsFree(i)) return OpStatus::kNotFound;
    // "." and ".." keep their names: renamed, they would become folders
    // that refer back to themselves or to their parent.
    if (dir.IsDotEntry(i)) return OpStatus::kRefused;
    if (exact) {
        if (OpResult r = ExactName(dir, text); !r.Ok()) return r;
    } else if (!ValidNewName(dir, text)) {
        OpResult r(OpStatus::kBadName);
        r.rule = NameProblem::kReserved;
        return r;
    }
    OpResult done;
    done.index = i;
    int j = dir.FindName(text);
    if (j == kAmbiguousName || (j >= 0 && j != i)) return OpStatus::kExists;
    if (j == i) {
        // The same entry: on 8.3 names a change of case only; with long
        // names a change of case is a new name, the same text is not.
        const bool same = dir.UsesLongNames() ? text == dir.GetNameUtf8(i)
                                              : dir.ToDiskName(Utf8ToSjis(text)) == dir.GetDisplayName(i);
        if (same) return done;
    }
    const int k = dir.Rename(i, text);
    if (k < 0) return OpStatus::kIoError;
    if (stored) *stored = dir.GetNameUtf8(k);
    if (OpResult w = WriteFolder(dir); !w.Ok()) {
        // What the device holds is what the folder is.
        static_cast<void>(dir.Load());
        return w;
    }
    done.index = k;
    return done;
}

std::string RenameEntry(DIDir& dir, int& i, const std::string& text, bool* ok) {
    if (ok) *ok = false;
    std::string old = dir.GetNameUtf8(i);
    if (!dir.IsValidIndex(i) || dir.IsFree(i) || text.empty()) return old;
    std::string stored;
    OpResult r = RenameIn(dir, i, text, false, &stored);
    switch (r.status) {
        case OpStatus::kOk: break;
        case OpStatus::kRefused: ShowMessage(1211, old); return old;
        case OpStatus::kBadName: ShowMessage(1211, text); return old;
        case OpStatus::kExists: ReportNameTaken(dir, text); return old;
        default:
            if (r.io == OpResult::Io::kFolder) ShowMessage(107, stored);
            else if (r.io == OpResult::Io::kFlush) ShowMessage(1213, dir.GetImage()->Device()->GetPath());
            else ShowMessage(1340, text);
            return old;
    }
    if (ok) *ok = true;
    if (r.index == i && stored.empty()) return old;  // nothing to change
    i = r.index;
    if (dir.GetAttr(i) & kAttrDirectory) UI().FolderRenamed(uint32_t(dir.GetStartCluster(i)), stored);
    return stored;
}

OpResult DeleteTargets(DiskImage& image, const std::vector<DeleteTarget>& targets, bool release) {
    DeleteStop why = DeleteStop::kNone;
    if (DeleteBatch(image, targets, release, &why)) return {};
    switch (why) {
        case DeleteStop::kReadOnly: return OpStatus::kReadOnly;
        case DeleteStop::kLoop: return OpStatus::kLoop;
        case DeleteStop::kFolderWrite: return OpResult::IoFailure(OpResult::Io::kFolder);
        case DeleteStop::kFlush: return OpResult::IoFailure(OpResult::Io::kFlush);
        case DeleteStop::kNone:
        case DeleteStop::kUnreadable:
        case DeleteStop::kFatWrite: break;
    }
    return OpResult::IoFailure(OpResult::Io::kOther);
}

OpResult RemoveEntryIn(DIDir& dir, int i, bool folder) {
    if (!dir.IsValidIndex(i) || dir.IsFree(i)) return OpStatus::kNotFound;
    if (dir.IsDotEntry(i) || (dir.GetAttr(i) & kAttrVolume)) return OpStatus::kRefused;
    DiskImage& image = *dir.GetImage();
    if (image.IsReadOnly()) return OpStatus::kReadOnly;
    const bool isFolder = (dir.GetAttr(i) & kAttrDirectory) != 0;
    if (isFolder != folder) return folder ? OpStatus::kNotFolder : OpStatus::kIsFolder;
    if (folder) {
        const int64_t sub = dir.GetStartCluster(i);
        if (sub < 2) return OpStatus::kIoError;  // a folder entry that points at the root
        DIDir inside(&image, uint32_t(sub));
        if (!inside.Load()) return OpStatus::kIoError;
        for (uint32_t k = 0; k < inside.GetCount(); ++k)
            if (!inside.IsFree(int(k)) && !inside.IsDotEntry(int(k))) return OpStatus::kNotEmpty;
    }
    // The entry is written first, then its clusters are freed; clusters
    // that another entry still reaches stay allocated. The read-only case
    // is taken above; whatever else stops the batch is an I/O error here.
    OpResult r = DeleteTargets(image, {{&dir, i, dir.GetNameUtf8(i)}}, false);
    if (r.status == OpStatus::kLoop) r = OpStatus::kIoError;
    return r;
}

namespace {

// A few names for a question: the first five, then "...".
std::string SomeNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t k = 0; k < names.size() && k < 5; ++k) text += (k ? ", " : "") + names[k];
    if (names.size() > 5) text += ", ...";
    return text;
}

}  // namespace

bool ConfirmDelete(const std::vector<std::string>& names, const std::vector<std::string>& kept) {
    if (names.empty()) {
        ShowMessage(2101, SomeNames(kept));
        return false;
    }
    std::string question = ResourceString().LoadMessage(2100, unsigned(names.size()), SomeNames(names));
    if (!kept.empty()) question += "\n\n" + std::string(ResourceString().LoadMessage(2102, unsigned(kept.size()), SomeNames(kept)));
    return UI().ShowBox(question, "Voldex", kBoxYesNoQuestion) == kIdYes;
}

bool ConfirmRelease() { return AskMessage(130, kBoxYesNoWarning) == kIdYes; }

namespace {

OpResult Batch(DIDir& dir, const std::vector<int>& indexes, bool release) {
    std::vector<DeleteTarget> targets;
    for (int i : indexes)
        if (dir.IsValidIndex(i) && !dir.IsFree(i)) targets.push_back({&dir, i, dir.GetNameUtf8(i)});
    OpResult r = DeleteTargets(*dir.GetImage(), targets, release);
    UI().FreeSpaceChanged();
    return r;
}

}  // namespace

OpResult DeleteEntries(DIDir& dir, const std::vector<int>& indexes) { return Batch(dir, indexes, false); }

OpResult ReleaseEntries(DIDir& dir, const std::vector<int>& indexes) { return Batch(dir, indexes, true); }

bool CheckAndRepair(DiskImage& image) {
    CheckResult r = CheckVolume(image);
    if (r.Clean()) {
        ShowMessage(1513);
        return false;
    }
    RepairOptions options;
    std::vector<std::string> lines;
    for (const RepairStep& s : PlanRepair(r, options))
        lines.push_back(std::string(CheckKindName(s.kind)) + ": " + s.finding + " => " +
                        FormatCatalogueMessage(s.action, {}).value_or("?"));
    unsigned refusal = RepairRefusal(image, r);
    bool yes = UI().OfferRepair(lines, refusal == 0);
    if (refusal != 0) {
        ShowMessage(refusal);
        return false;
    }
    if (!yes) return false;
    RepairOutcome o = RepairVolume(image, options);
    if (o.writeFailed || !image.Flush()) ShowMessage(1515);
    else if (o.after.Clean()) ShowMessage(1525);
    else ShowMessage(1514, unsigned(o.after.findings.size()));
    return !o.done.empty() || o.writeFailed;
}
