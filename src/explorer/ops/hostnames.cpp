#include "explorer/ops/hostnames.h"

std::string HostComponent(const std::string& displayName) { return HostComponentUtf8(SjisToUtf8(displayName)); }

std::string HostComponentUtf8(const std::string& utf8) {
    std::string name = utf8;
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    if (name.empty() || name == ".") return "_";
    if (name == "..") return "__";
    return name;
}

std::string JoinHostPath(const std::string& folder, const std::string& component) {
    if (folder.empty()) return component;
    if (folder.back() == '/') return folder + component;
    return folder + "/" + component;
}

std::string HostBaseName(const std::string& path) {
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return path.empty() ? "" : "/";
    std::size_t start = path.find_last_of('/', end);
    return path.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

namespace {
thread_local std::string g_hiddenPath, g_shownPath;
}  // namespace

HostPathShownAs::HostPathShownAs(const std::string& hostPath, const std::string& shown) {
    g_hiddenPath = hostPath;
    g_shownPath = shown;
}

HostPathShownAs::~HostPathShownAs() {
    g_hiddenPath.clear();
    g_shownPath.clear();
}

std::string ShownHostPath(const std::string& path) {
    if (g_hiddenPath.empty() || path.compare(0, g_hiddenPath.size(), g_hiddenPath) != 0) return path;
    if (path.size() == g_hiddenPath.size()) return g_shownPath;
    if (path[g_hiddenPath.size()] != '/') return path;
    return g_shownPath + path.substr(g_hiddenPath.size());
}
