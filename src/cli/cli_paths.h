#pragma once
// Image-side paths on the command line: the "::" prefix, wildcards in any
// component, and the escaping of names in line-oriented output.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "explorer/ops/volumepath.h"

class DIDir;

// "::/GAMES/A.TXT" and "::A.TXT" are image paths; the prefix is dropped.
bool HasImagePrefix(const std::string& operand);
std::string WithoutImagePrefix(const std::string& operand);

// True when the last component holds "*" or "?".
bool HasWildcard(const std::string& path);

// Matches a name against a pattern ("*" any run, "?" one character),
// both Shift-JIS as stored, letters compared without regard to case like
// DIDir::Find; a double-byte character counts as one. "*.*" matches every
// name, with or without an extension.
bool MatchesPattern(const std::string& pattern, const std::string& name);

// One entry a path names.
struct NamedEntry {
    EntryLocation where;  // index -1: the root itself
    std::string path;     // the path as shown (UTF-8, "/" between folders)
};

// The entries a path names: one for a plain path, every listed entry of
// the folder that matches for a wildcard (in directory order; wildcards in
// folder components match folders, "::/D*/*.TXT"). Reports
// (1292 not found, 1291 no match, 106 unreadable folder) and gives nothing
// on failure.
std::optional<std::vector<NamedEntry>> ExpandImagePath(DiskImage& image, const std::string& operand);

// "The source was not found", with the path on a line of its own.
// With the image, a path that goes through a file says that file is not a
// folder instead.
void ReportNotFound(const std::string& path, DiskImage* image = nullptr);

// The folder part and the last component of an image path.
void SplitImagePath(const std::string& path, std::string& folder, std::string& name);

// A name for one field of tab-separated output: backslash, tab, line feed
// and every other control byte are written \\, \t, \n and \xHH.
std::string EscapeField(const std::string& utf8);

// A JSON string literal (quotes included) of UTF-8 text.
std::string JsonString(const std::string& utf8);

// "YYYY-MM-DDTHH:MM:SS" of an entry's stored time; empty when the stored
// fields are no valid date and time (month 0, 30 February, hour 26, ...).
std::string IsoTime(const DIDir& dir, int i);
