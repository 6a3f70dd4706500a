#pragma once
// The program's temporary folder, for the files it hands to the desktop:
// "VX_<process id>_XXXXXX" under the system's temporary path, made at
// start and removed at exit. Folders left by processes that are gone (a
// crash, a kill -9) are removed at the next start.

#include <string>

// $TMPDIR, or /tmp.
std::string SystemTempPath();

// Makes a fresh folder in `root` (default: the system's temporary path);
// empty when it cannot be made.
std::string MakeTempFolder(const std::string& root = SystemTempPath());

// Removes `folder` with everything in it; only a "VX_" folder directly in
// `root` is touched. False when something could not be removed.
bool RemoveTempFolder(const std::string& folder, const std::string& root = SystemTempPath());

// Removes this user's "VX_<pid>_" folders in `root` whose process no longer
// exists. Returns how many were removed.
int CleanStaleTempFolders(const std::string& root = SystemTempPath());

// A host path removed when SIGINT, SIGTERM, SIGHUP or SIGXFSZ ends the
// program while the object lives: a half-written file, a private folder
// (removed when empty). The program then ends by that signal as it would
// have. A signal the program handles itself, or ignores, is left to it.
class RemovedOnSignal {
public:
    explicit RemovedOnSignal(const std::string& path, bool folder = false);
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

private:
    int slot_ = -1;
};
