#include "opening/settings/inifile.h"

#include "device/asciicase.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

std::string Trim(const std::string& s) {
    std::size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    std::size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

// The section name of a "[name]" line, or false.
bool SectionOf(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t[0] != '[') return false;
    std::size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// Key and value of a "key=value" line, or false for comments and others.
bool KeyOf(const std::string& line, std::string& key, std::string* value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '[') return false;
    std::size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    if (value) *value = Trim(t.substr(eq + 1));
    return true;
}

}  // namespace

bool ParseProfileInt(const std::string& text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long v = 0;
    bool digits = false;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        for (i += 2; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
            digits = true;
            char c = text[i];
            v = (v << 4) | (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
            v &= 0xFFFFFFFFll;
        }
        if (!digits) {
            value = 0;  // "0x" alone is the digit 0
            return true;
        }
        value = static_cast<int>(static_cast<uint32_t>(v));
        if (negative) value = -value;
        return true;
    }
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        v = v * 10 + (text[i] - '0');
        if (v > 0xFFFFFFFFll) v = 0xFFFFFFFFll;
    }
    if (!digits) return false;
    value = static_cast<int>(static_cast<uint32_t>(v));
    if (negative) value = -value;
    return true;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    std::ifstream f(path_, std::ios::binary);
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A UTF-8 byte-order mark written by an editor is not part of the text.
        if (lines_.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        lines_.push_back(line);
    }
}

int IniFile::FindSection(const std::string& section) const {
    std::string name;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (SectionOf(lines_[i], name) && EqualIgnoringAsciiCase(name, section)) return int(i);
    return -1;
}

int IniFile::FindKey(const std::string& section, const std::string& key) const {
    int s = FindSection(section);
    if (s < 0) return -1;
    std::string name;
    for (std::size_t i = std::size_t(s) + 1; i < lines_.size(); ++i) {
        if (SectionOf(lines_[i], name)) break;
        if (KeyOf(lines_[i], name, nullptr) && EqualIgnoringAsciiCase(name, key)) return int(i);
    }
    return -1;
}

bool IniFile::HasKey(const std::string& section, const std::string& key) const {
    return FindKey(section, key) >= 0;
}

int IniFile::GetInt(const std::string& section, const std::string& key, int def) const {
    if (!HasKey(section, key)) return def;
    int v;
    return ParseProfileInt(GetString(section, key), v) ? v : def;
}

std::string IniFile::GetString(const std::string& section, const std::string& key, const std::string& def,
                               std::size_t maxLength) const {
    int i = FindKey(section, key);
    if (i < 0) return def.substr(0, maxLength);
    std::string k, v;
    KeyOf(lines_[std::size_t(i)], k, &v);
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    return v.substr(0, maxLength);
}

std::vector<std::string> IniFile::SectionNames() const {
    std::vector<std::string> names;
    std::string name;
    for (const auto& l : lines_)
        if (SectionOf(l, name)) names.push_back(name);
    return names;
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    std::string line = key + "=" + value;
    int i = FindKey(section, key);
    if (i >= 0) {
        lines_[std::size_t(i)] = line;
        return;
    }
    int s = FindSection(section);
    if (s < 0) {
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
        return;
    }
    // After the section's last key (before blank lines that end it).
    std::size_t at = std::size_t(s) + 1;
    std::string name;
    for (std::size_t k = at; k < lines_.size() && !SectionOf(lines_[k], name); ++k)
        if (!Trim(lines_[k]).empty()) at = k + 1;
    lines_.insert(lines_.begin() + long(at), line);
}

bool IniFile::Save() const {
    std::string tmp = path_ + ".tmp" + std::to_string(getpid());
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        for (const auto& l : lines_) f << l << "\r\n";
        f.flush();
        if (!f) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

int IniFile::ReadInt(const std::string& path, const std::string& section, const std::string& key, int def) {
    return IniFile(path).GetInt(section, key, def);
}

std::string IniFile::ReadString(const std::string& path, const std::string& section, const std::string& key,
                                const std::string& def) {
    return IniFile(path).GetString(section, key, def);
}

bool IniFile::Write(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    IniFile f(path);
    f.Set(section, key, value);
    return f.Save();
}
