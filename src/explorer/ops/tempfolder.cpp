#include "explorer/ops/tempfolder.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kPrefix = "VX_";

std::string WithoutTrailingSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// Folders exported read-only are opened to their owner again first, or
// what they hold could not be removed.
int OpenFolder(const char* path, const struct stat*, int type, struct FTW*) {
    if (type == FTW_D || type == FTW_DNR) chmod(path, S_IRWXU);
    return 0;
}

int RemoveOne(const char* path, const struct stat*, int type, struct FTW*) {
    if (type == FTW_DP || type == FTW_D) return rmdir(path) == 0 || errno == ENOENT ? 0 : -1;
    return unlink(path) == 0 || errno == ENOENT ? 0 : -1;
}

// The process id in "VX_<pid>_XXXXXX", or 0.
pid_t OwnerOf(const std::string& name) {
    if (name.compare(0, 3, kPrefix) != 0) return 0;
    std::size_t end = name.find('_', 3);
    if (end == std::string::npos || end == 3) return 0;
    long pid = 0;
    for (std::size_t k = 3; k < end; ++k) {
        if (name[k] < '0' || name[k] > '9' || pid > 100000000) return 0;
        pid = pid * 10 + (name[k] - '0');
    }
    return pid_t(pid);
}

bool ProcessExists(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// The paths a fatal signal removes, newest last. Only async-signal-safe
// calls touch them in the handler.
struct Removal {
    volatile std::sig_atomic_t used = 0;
    bool folder = false;
    char path[PATH_MAX] = {};
};
constexpr int kRemovals = 8;
Removal g_removals[kRemovals];
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

void RemoveAndDie(int sig) {
    for (int k = kRemovals - 1; k >= 0; --k) {
        if (!g_removals[k].used) continue;
        if (g_removals[k].folder) rmdir(g_removals[k].path);
        else unlink(g_removals[k].path);
    }
    signal(sig, SIG_DFL);
    raise(sig);  // delivered as the handler returns
}

void InstallOnce() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : kFatalSignals) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO)) continue;
        struct sigaction sa {};
        sa.sa_handler = RemoveAndDie;
        sigemptyset(&sa.sa_mask);
        for (int other : kFatalSignals) sigaddset(&sa.sa_mask, other);
        sigaction(sig, &sa, nullptr);
    }
}

}  // namespace

std::string SystemTempPath() {
    const char* t = std::getenv("TMPDIR");
    return WithoutTrailingSlash(t && *t == '/' ? t : "/tmp");
}

std::string MakeTempFolder(const std::string& root) {
    std::string pattern = WithoutTrailingSlash(root) + "/" + kPrefix + std::to_string(getpid()) + "_XXXXXX";
    if (!mkdtemp(pattern.data())) return "";
    return pattern;
}

bool RemoveTempFolder(const std::string& folder, const std::string& root) {
    std::string f = WithoutTrailingSlash(folder), r = WithoutTrailingSlash(root);
    // Only ever a folder of ours directly under the temporary path.
    if (f.size() <= r.size() + 1 + 3 || f.compare(0, r.size() + 1, r + "/") != 0) return false;
    std::string name = f.substr(r.size() + 1);
    if (name.compare(0, 3, kPrefix) != 0 || name.find('/') != std::string::npos || name.find("..") != std::string::npos)
        return false;
    chmod(f.c_str(), S_IRWXU);
    nftw(f.c_str(), OpenFolder, 16, FTW_PHYS);
    return nftw(f.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

int CleanStaleTempFolders(const std::string& root) {
    std::string r = WithoutTrailingSlash(root);
    DIR* d = opendir(r.c_str());
    if (!d) return 0;
    int removed = 0;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        pid_t pid = OwnerOf(name);
        if (pid <= 0 || pid == getpid() || ProcessExists(pid)) continue;
        struct stat st;
        std::string path = r + "/" + name;
        if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) continue;
        if (RemoveTempFolder(path, r)) ++removed;
    }
    closedir(d);
    return removed;
}

RemovedOnSignal::RemovedOnSignal(const std::string& path, bool folder) {
    if (path.empty() || path.size() >= PATH_MAX) return;
    InstallOnce();
    for (int k = 0; k < kRemovals; ++k) {
        if (g_removals[k].used) continue;
        std::memcpy(g_removals[k].path, path.c_str(), path.size() + 1);
        g_removals[k].folder = folder;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        g_removals[k].used = 1;
        slot_ = k;
        return;
    }
}

RemovedOnSignal::~RemovedOnSignal() {
    if (slot_ >= 0) g_removals[slot_].used = 0;
}
