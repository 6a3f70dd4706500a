#include "device/programfolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VOLDEX_INSTALL_DATADIR
#define VOLDEX_INSTALL_DATADIR "/usr/local/share/voldex"
#endif

namespace {

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (home.empty())
        if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
    return home.empty() ? "/tmp" : home;
}

// An XDG base folder: the variable when it holds an absolute path, else
// the default below the home folder.
std::string XdgFolder(const char* variable, const char* fallback) {
    std::string v = Env(variable);
    if (v.empty() || v[0] != '/') v = HomeFolder() + "/" + fallback;
    return WithSlash(v) + "voldex/";
}

bool HoldsIniFile(const std::string& folder) {
    DIR* d = opendir(folder.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

// The folder that holds everything, when there is one (cases 1 and 2).
std::string OneFolder() {
    std::string home = Env("VOLDEX_HOME");
    if (!home.empty()) return WithSlash(home);
    std::string exe = ExecutableFolder();
    if (HoldsIniFile(exe) && access(exe.c_str(), W_OK) == 0) return exe;
    return "";
}

}  // namespace

bool MakeFolders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/') continue;
        std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

std::string ExecutableFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return "./";
    buf[n] = 0;
    std::string folder = buf;
    folder.erase(folder.find_last_of('/') + 1);
    return folder;
}

std::string ProgramFolder() {
    std::string home = Env("VOLDEX_HOME");
    return home.empty() ? ExecutableFolder() : WithSlash(home);
}

std::string SettingsFolder() {
    std::string one = OneFolder();
    if (!one.empty()) return one;
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::string LogFolder() {
    std::string one = OneFolder();
    if (!one.empty()) return one;
    return XdgFolder("XDG_STATE_HOME", ".local/state");
}

std::vector<std::string> ProfileFolders() {
    std::vector<std::string> folders;
    // The data folder of this installation, found from the executable
    // (bin/../share/voldex, so that a moved prefix still works), then the
    // one the build was configured for: always read.
    std::string exe = ExecutableFolder();
    char real[PATH_MAX];
    std::string installed = exe + "../share/voldex/";
    if (realpath(installed.c_str(), real)) folders.push_back(WithSlash(real));
    std::string configured = WithSlash(VOLDEX_INSTALL_DATADIR);
    if (realpath(configured.c_str(), real) && (folders.empty() || WithSlash(real) != folders[0]))
        folders.push_back(WithSlash(real));
    // Then the user's own: $VOLDEX_HOME or a portable folder, else the
    // settings folder of the XDG places.
    std::string one = OneFolder();
    std::string own = one.empty() ? XdgFolder("XDG_CONFIG_HOME", ".config") : one;
    if (std::find(folders.begin(), folders.end(), own) == folders.end()) folders.push_back(own);
    return folders;
}
