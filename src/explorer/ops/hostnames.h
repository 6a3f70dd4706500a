#pragma once
// Names between the volume (Shift-JIS bytes) and the host (UTF-8).

#include <string>

#include "device/sjis.h"

// A volume entry's display name as one component of a host path: UTF-8,
// with "/", NUL and control characters replaced by "_", and "." or ".."
// (which would leave the target folder) spelt "_" and "__".
std::string HostComponent(const std::string& displayName);
// The same for a name that is UTF-8 already (a long name).
std::string HostComponentUtf8(const std::string& name);

// Joins a host folder and one component.
std::string JoinHostPath(const std::string& folder, const std::string& component);

// The last component of a host path ("/a/b/" gives "b").
std::string HostBaseName(const std::string& path);

// While it lives, messages of an import or an export name the host path
// `hostPath` (and what lies below it) as `shown`: a private copy, link or
// folder made on the way is named by what the user gave.
class HostPathShownAs {
public:
    HostPathShownAs(const std::string& hostPath, const std::string& shown);
    ~HostPathShownAs();
    HostPathShownAs(const HostPathShownAs&) = delete;
    HostPathShownAs& operator=(const HostPathShownAs&) = delete;
};
// `path` as messages show it (see HostPathShownAs).
std::string ShownHostPath(const std::string& path);
