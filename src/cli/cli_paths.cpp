#include "cli/cli_paths.h"

#include <algorithm>
#include <cstdio>

#include "device/asciicase.h"
#include "device/messages.h"
#include "explorer/ops/hostnames.h"
#include "shell/listing.h"
#include "volume/didir.h"
#include "volume/longnames.h"

bool HasImagePrefix(const std::string& s) { return s.compare(0, 2, "::") == 0; }

std::string WithoutImagePrefix(const std::string& s) { return HasImagePrefix(s) ? s.substr(2) : s; }

void SplitImagePath(const std::string& path, std::string& folder, std::string& name) {
    std::string p = path;
    while (!p.empty() && (p.back() == '/' || p.back() == '\\')) p.pop_back();
    std::size_t cut = p.find_last_of("/\\");
    folder = cut == std::string::npos ? "" : p.substr(0, cut);
    name = cut == std::string::npos ? p : p.substr(cut + 1);
}

void ReportNotFound(const std::string& path, DiskImage* image) {
    for (std::size_t cut = path.find_first_of("/\\", 1); image && cut != std::string::npos;
         cut = path.find_first_of("/\\", cut + 1)) {
        const std::string upTo = path.substr(0, cut);
        auto loc = ResolveEntry(*image, upTo);
        if (loc && loc->index >= 0 && !ResolveFolder(*image, upTo)) {
            ShowMessage(1293, upTo);
            return;
        }
    }
    ShowMessage(123);
    ShowMessage(1292, path);
}

bool HasWildcard(const std::string& path) {
    std::string folder, name;
    SplitImagePath(WithoutImagePrefix(path), folder, name);
    return name.find_first_of("*?") != std::string::npos;
}

namespace {

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

// Length in bytes of the character at p[i].
std::size_t CharLength(const std::string& s, std::size_t i) {
    return IsSjisLeadByte(uint8_t(s[i])) && i + 1 < s.size() ? 2 : 1;
}

bool SameChar(const std::string& a, std::size_t i, std::size_t n, const std::string& b, std::size_t j, std::size_t m) {
    if (n != m) return false;
    if (n == 1) return AsciiUpper(a[i]) == AsciiUpper(b[j]);
    return a.compare(i, n, b, j, m) == 0;
}

// The classic matcher with one way back: on a mismatch after a "*", the
// star takes one more character of the name. Time grows with the product
// of the lengths at worst, whatever the number of stars.
bool Match(const std::string& p, const std::string& s) {
    std::size_t i = 0, j = 0;
    std::size_t starAt = std::string::npos, resumeAt = 0;
    while (j < s.size()) {
        if (i < p.size() && p[i] == '*') {
            starAt = ++i;
            resumeAt = j;
            continue;
        }
        std::size_t n = i < p.size() ? CharLength(p, i) : 0, m = CharLength(s, j);
        if (i < p.size() && ((p[i] == '?' && n == 1) || SameChar(p, i, n, s, j, m))) {
            i += n;
            j += m;
            continue;
        }
        if (starAt == std::string::npos) return false;
        i = starAt;
        resumeAt += CharLength(s, resumeAt);
        j = resumeAt;
    }
    while (i < p.size() && p[i] == '*') ++i;
    return i == p.size();
}

// The same for long names: UTF-16 text, letters folded beforehand.
bool MatchText(const std::u16string& p, const std::u16string& s) {
    std::size_t i = 0, j = 0;
    std::size_t starAt = std::u16string::npos, resumeAt = 0;
    while (j < s.size()) {
        if (i < p.size() && p[i] == u'*') {
            starAt = ++i;
            resumeAt = j;
            continue;
        }
        if (i < p.size() && (p[i] == u'?' || p[i] == s[j])) {
            ++i;
            ++j;
            continue;
        }
        if (starAt == std::u16string::npos) return false;
        i = starAt;
        j = ++resumeAt;
    }
    while (i < p.size() && p[i] == u'*') ++i;
    return i == p.size();
}

std::string JoinShown(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder == "/") return "/" + name;
    return (folder[0] == '/' ? "" : "/") + folder + "/" + name;
}

}  // namespace

bool MatchesPattern(const std::string& pattern, const std::string& name) {
    if (pattern == "*.*") return true;
    return Match(pattern, name);
}

namespace {

// Whether entry i of `dir` matches a wildcard pattern (UTF-8): a long name
// matches as it is shown, the 8.3 name matches too.
bool EntryMatches(const DIDir& dir, int i, const std::string& pattern) {
    if (MatchesPattern(Utf8ToSjis(pattern), dir.GetDisplayName(i))) return true;
    return dir.UsesLongNames() && (pattern == "*.*" || MatchText(FoldCase(Utf8ToUtf16(pattern)), FoldCase(Utf8ToUtf16(dir.GetNameUtf8(i)))));
}

bool HasWildcardText(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// The folders that a path's folder part names, wildcards in any of its
// components expanded (in directory order): "/D*/X" gives "/DATA", "/DOCS".
std::vector<std::string> ExpandFolderPart(DiskImage& image, const std::string& folder) {
    std::vector<std::string> found = {""};
    std::size_t at = 0;
    while (at <= folder.size()) {
        std::size_t end = std::min(folder.find_first_of("/\\", at), folder.size());
        const std::string part = folder.substr(at, end - at);
        at = end + 1;
        if (part.empty()) continue;
        std::vector<std::string> next;
        for (const std::string& base : found) {
            if (!HasWildcardText(part)) {
                next.push_back(base + "/" + part);
                continue;
            }
            auto cluster = ResolveFolder(image, base.empty() ? "/" : base);
            if (!cluster) continue;
            DIDir dir(&image, *cluster);
            if (!dir.Load()) continue;
            for (int i : ListedEntries(dir)) {
                const uint8_t attr = dir.GetAttr(i);
                if (!(attr & kAttrDirectory) || (attr & kAttrVolume) || dir.IsDotEntry(i)) continue;
                if (EntryMatches(dir, i, part)) next.push_back(base + "/" + dir.GetNameUtf8(i));
            }
        }
        found = std::move(next);
    }
    return found;
}

// The entries `path` names within one folder part without wildcards.
// Reports what it does not find only when `report` is set.
std::optional<std::vector<NamedEntry>> ExpandInFolder(DiskImage& image, const std::string& path, bool report) {
    std::vector<NamedEntry> out;
    if (!HasWildcard(path)) {
        bool ambiguous = false;
        auto loc = ResolveEntry(image, path, &ambiguous);
        if (!loc) {
            if (!ambiguous && report) ReportNotFound(path, &image);
            return std::nullopt;
        }
        std::string folder, name;
        SplitImagePath(path, folder, name);
        // "FILE/" names a folder that is not there.
        const bool slash = !name.empty() && (path.back() == '/' || path.back() == '\\');
        if (slash && loc->index >= 0 && !ResolveFolder(image, path)) {
            if (report) ShowMessage(1293, path);
            return std::nullopt;
        }
        out.push_back({*loc, name.empty() ? "/" : JoinShown(folder, name)});
        return out;
    }
    std::string folder, pattern;
    SplitImagePath(path, folder, pattern);
    auto cluster = ResolveFolder(image, folder);
    if (!cluster) {
        if (report) ReportNotFound(folder, &image);
        return std::nullopt;
    }
    DIDir dir(&image, *cluster);
    if (!dir.Load()) {
        ShowMessage(106, folder);
        return std::nullopt;
    }
    for (int i : ListedEntries(dir)) {
        if (dir.GetAttr(i) & kAttrVolume) continue;
        if (EntryMatches(dir, i, pattern)) out.push_back({{*cluster, i}, JoinShown(folder, dir.GetNameUtf8(i))});
    }
    if (out.empty()) {
        if (report) ShowMessage(1291, path);
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::optional<std::vector<NamedEntry>> ExpandImagePath(DiskImage& image, const std::string& operand) {
    const std::string path = WithoutImagePrefix(operand);
    std::string folder, last;
    SplitImagePath(path, folder, last);
    if (!HasWildcardText(folder)) return ExpandInFolder(image, path, true);
    // Wildcards in the folder part: every folder they match, and in each
    // what the last component names; nothing at all is a failure.
    std::vector<NamedEntry> out;
    for (const std::string& base : ExpandFolderPart(image, folder))
        if (auto found = ExpandInFolder(image, base + "/" + last, false))
            out.insert(out.end(), found->begin(), found->end());
    if (out.empty()) {
        ShowMessage(1291, path);
        return std::nullopt;
    }
    return out;
}

std::string EscapeField(const std::string& s) {
    std::string out;
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c == 0x7F) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else out += ch;
    }
    return out;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += ch;
    }
    return out + "\"";
}

std::string IsoTime(const DIDir& dir, int i) {
    SystemTime t = dir.GetTime(i);
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = t.wYear % 4 == 0 && (t.wYear % 100 != 0 || t.wYear % 400 == 0);
    const bool valid = t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= kDays[t.wMonth - 1] &&
                       !(t.wMonth == 2 && t.wDay == 29 && !leap) && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59;
    if (!valid) return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return buf;
}
