#pragma once
// Export: entries of the mounted volume written to a host folder with their
// data, timestamp and read-only mark; folders with everything below them.

#include <string>
#include <vector>

#include "device/userinterface.h"
#include "volume/didir.h"

// Exports entry i of dir into `folder`. `state` is the running answer of the
// whole export: it starts as owYes, takes every answer of the overwrite
// question and becomes owCancel on Cancel or on a failure, which stops the
// export. Free entries, volume labels and the "." and ".." entries are
// passed over. A file whose clusters cannot all be read is not left on the
// host (1218); a file whose chain is shorter or longer than its size keeps
// what the chain holds up to the size and is reported (1212). Either ends
// the export. A folder met twice (a loop or a ladder) ends it with 128.
void ExportEntry(DIDir& dir, int i, const std::string& folder, OverwriteAnswer& state);

// Exports file entry i of dir to the host path `target`, asking before an
// existing file is replaced. The data go to a new file in the target's
// folder, which replaces the target only once it is whole (and, over an
// old file, on the disk): a failure or a signal leaves the old file as it
// was and removes the new one. Messages name `target`.
void ExportFileTo(DIDir& dir, int i, const std::string& target, OverwriteAnswer& state);

// Exports the given entries in order until the state becomes owCancel.
// Returns the number of entries handed to ExportEntry.
int ExportEntries(DIDir& dir, const std::vector<int>& indexes, const std::string& folder, OverwriteAnswer& state);

// True for an entry that a drag, the clipboard or the shell menu takes: in
// use, not a volume label, name not beginning with ".".
bool IsTransferable(const DIDir& dir, int i);

// True for an entry that an export takes: in use, not a volume label, not
// the "." or ".." entry (names that other systems begin with "." are
// exported like any other).
bool IsExportable(const DIDir& dir, int i);

// Host file times: a stored calendar time taken as local time, and back.
bool SetHostFileTime(const std::string& path, const SystemTime& t);
bool GetHostFileTime(const std::string& path, SystemTime& t);

