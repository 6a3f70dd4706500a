#pragma once
// Changes to the entries of one folder: make a folder, rename, delete with
// everything inside, release (unlink without freeing). Each operation
// writes the folder back and tells the user interface what changed.

#include <string>
#include <vector>

#include "explorer/ops/opresult.h"
#include "volume/deleter.h"
#include "volume/didir.h"

// Writes `dir` and flushes the volume, telling nothing: kIoError with
// Io::kFolder or Io::kFlush on failure.
OpResult WriteFolder(DIDir& dir);

// Writes `dir` and flushes the volume: 107 or 1213 on failure.
bool WriteAndFlush(DIDir& dir, const std::string& shownName);

// Whether `utf8` may name a new entry in `dir`: with long names, a name
// that keeps something once cleaned (not "." or ".."); else the 8.3 rules.
bool ValidNewName(const DIDir& dir, const std::string& utf8);

// Why a name cannot be stored exactly as given (see NameProblem).
NameProblem CheckNameAsGiven(const DIDir& dir, const std::string& utf8);

// kBadName with the rule when `utf8` cannot name an entry of `dir` exactly
// as given (the volume would shorten or alter it), else kOk.
OpResult ExactName(const DIDir& dir, const std::string& utf8);

// The name (UTF-8) under which `dir` would store a host name that is not
// taken as given: what the listing will show.
std::string StoredNameOf(const DIDir& dir, const std::string& utf8);

// Reports why `utf8` cannot name an entry of `dir`: one message that names
// the name and the rule it breaks.
void ReportNameProblem(const DIDir& dir, const std::string& utf8, NameProblem problem);

// Whether `dir` can take one more entry: kNoRoom when it has no free slot
// and cannot grow (a full root region, the most entries a folder holds),
// kDiskFull when growing needs a cluster and none is free.
OpResult RoomFor(const DIDir& dir);

// Makes folder `name` (UTF-8, stored as given or as the volume converts
// it) in `dir`, writes `dir` and flushes, telling nothing: kExists,
// kBadName (a name that keeps nothing), kNoRoom, kDiskFull, kReadOnly,
// kIoError. With `exact` a name the volume would alter is refused
// (kBadName with its rule; a taken name is told first). The index of the
// new entry on success.
OpResult MakeFolderIn(DIDir& dir, const std::string& name, bool exact = false);

// Makes an empty file `name` (UTF-8, stored exactly as given) with the
// attributes `attr` in `dir` and writes `dir`, telling nothing: kReadOnly,
// kExists, kBadName with its rule, kNoRoom, kDiskFull, kIoError. The index
// of the new entry on success. The caller flushes when the entry must be on
// the disk (the mount: with the file's close).
OpResult MakeEmptyFileIn(DIDir& dir, const std::string& name, uint8_t attr);

// Makes folder `name` (UTF-8; a long name where the volume uses them) in
// `dir` and writes `dir`.
// Refuses an existing entry of that name (109), a full volume (113) and a
// failed creation (120). Returns the new entry's index, or -1.
int CreateFolder(DIDir& dir, const std::string& name);
// "A folder with this name already exists" or "A file ...", as the entry
// that holds `name` in `dir` is.
void ReportNameTaken(DIDir& dir, const std::string& name);

// Makes a folder with the first free name NEWDIR.0 ... NEWDIR.999 (121
// when all are taken). Returns its index, or -1.
int MakeDefaultFolder(DIDir& dir);

// Renames entry i of `dir` to `text` (UTF-8), writes `dir` and flushes,
// telling nothing: kNotFound, kRefused ("." and ".."), kBadName (a name
// that keeps nothing; with `exact`, one the volume would alter, with its
// rule), kExists (another entry, or several, hold the name), kIoError
// (Io::kOther: no place for the name's slots; kFolder, kFlush: the folder
// on the device is read back). The same name changes nothing. On success
// `index` is the entry's index afterwards (it may move to make room for
// long-name slots) and `stored` receives the name stored, when written.
OpResult RenameIn(DIDir& dir, int i, const std::string& text, bool exact = false, std::string* stored = nullptr);

// Renames entry i to `text` (UTF-8) and writes `dir`. Returns the caption
// to show (UTF-8): the stored name after a rename, the old name when
// nothing changed (an empty text, a name taken by another entry (119), a
// name that cannot be stored (1211), "." and "..", which keep their names
// (1211), or a failed write (107)). `ok` tells whether the entry now holds
// the name asked for. An entry that needs room for its long-name slots may
// move: `i` then holds its new index.
std::string RenameEntry(DIDir& dir, int& i, const std::string& text, bool* ok = nullptr);

// The delete question: how many entries and which (the first few), and
// the ones that stay (the label, "." and ".."), true for Yes; with nothing
// to delete only that is said (false).
bool ConfirmDelete(const std::vector<std::string>& names, const std::vector<std::string>& kept);
// The release question (130): true for Yes.
bool ConfirmRelease();

// Deletes the entries (folders with everything below them) in one batch
// (see DeleteBatch), passing over volume labels and the "." and ".."
// entries; writes `dir`. A batch that stops has told why (111, 128,
// 1213): kReadOnly (told by no one), kLoop, kIoError (Io::kFolder: the
// entries; kFlush; kOther: the folders could not be read, or the FAT).
[[nodiscard]] OpResult DeleteEntries(DIDir& dir, const std::vector<int>& indexes);

// The same for entries of any folders (each loaded once, the one DIDir
// for all its entries); with `release`, as ReleaseEntries.
[[nodiscard]] OpResult DeleteTargets(DiskImage& image, const std::vector<DeleteTarget>& targets, bool release);

// Deletes entry i of `dir`, a file (`folder` false) or an empty folder,
// with the batch delete (entry first, then its chain): kNotFound, kRefused
// (a label, "." and ".."), kReadOnly, kIsFolder / kNotFolder for the other
// kind, kNotEmpty, kIoError (the batch has told it).
[[nodiscard]] OpResult RemoveEntryIn(DIDir& dir, int i, bool folder);

// Releases the entries: marks them deleted and leaves their clusters
// allocated, for damaged entries whose chains cannot be trusted; writes
// `dir` in one batch. The results of DeleteEntries (no kLoop).
[[nodiscard]] OpResult ReleaseEntries(DIDir& dir, const std::vector<int>& indexes);

// Extras → "Check and repair…": checks the volume, shows each finding with
// what the repair does about it (UI().OfferRepair) and repairs on the
// user's yes, then tells the outcome. A volume the repair cannot take
// (FAT32, read-only, truncated) gets its findings shown and the reason.
// True when the volume was written (the views must be read again).
bool CheckAndRepair(DiskImage& image);
