#include "device/programfolder.h"

#include <cstdlib>
#include <limits.h>
#include <unistd.h>

std::string ProgramFolder() {
    std::string folder;
    if (const char* home = std::getenv("VOLDEX_HOME"); home && *home) {
        folder = home;
    } else {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
        if (n > 0) {
            buf[n] = 0;
            folder = buf;
            folder.erase(folder.find_last_of('/') + 1);
        } else {
            folder = ".";
        }
    }
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}
