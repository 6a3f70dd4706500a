#pragma once
// What a file operation came to. The operations tell nothing themselves:
// the command line and the window say it through the catalogue, the mount
// as an errno.

// Why a name cannot be stored exactly as given (letters aside, which FAT
// 8.3 names hold in upper case):
//  - kReserved: empty, "." or "..", or only spaces and full stops;
//  - kCharacters: characters the volume cannot hold (control characters,
//    \ / : * ? " < > | everywhere; on 8.3 names also spaces, ; , and a
//    second full stop), or, for a long name, a space or full stop at the end;
//  - kTooLong: more than 255 UTF-16 units for a long name, more than 8
//    (Human68k 18) bytes before the full stop or 3 after it otherwise;
//  - kNoShiftJis: an 8.3 name with a character Shift-JIS cannot spell.
enum class NameProblem { kNone, kReserved, kCharacters, kTooLong, kNoShiftJis };

enum class OpStatus {
    kOk,
    kExists,     // the name is taken in the target folder
    kBadName,    // the name breaks a rule of the volume (OpResult::rule)
    kNoRoom,     // the folder has no free slot and cannot grow
    kDiskFull,   // no free cluster
    kNotEmpty,   // a folder that still holds entries
    kLoop,       // a folder into itself or below itself
    kReadOnly,   // the volume takes no changes
    kIoError,    // the device failed
    kCancelled,  // the user said no
    kNotFound,
    kNotFolder,  // a folder was wanted
    kIsFolder,   // a file was wanted
    kRefused,    // the "." and ".." entries, which keep their places
};

struct OpResult {
    OpStatus status = OpStatus::kOk;
    NameProblem rule = NameProblem::kNone;  // with kBadName
    // With kIoError: whether a folder could not be written (kFolder), the
    // written data could not be made durable (kFlush) or the boot sector's
    // label field could not be written (kBootSector), each of which the
    // catalogue names; kOther for any other write.
    enum class Io { kOther, kFolder, kFlush, kBootSector } io = Io::kOther;
    int index = -1;                         // on success: the entry's index afterwards

    OpResult() = default;
    OpResult(OpStatus s) : status(s) {}
    static OpResult IoFailure(Io io) {
        OpResult r(OpStatus::kIoError);
        r.io = io;
        return r;
    }
    bool Ok() const { return status == OpStatus::kOk; }
    // A refusal of one entry (its name is taken, it keeps its place): a
    // batch goes on with the next entry; every other failure ends it.
    bool Skipped() const { return status == OpStatus::kExists || status == OpStatus::kRefused; }
};

// The errno value (positive) that tells the result to a file-system
// bridge; 0 for kOk.
int ErrnoOf(const OpResult& r);
