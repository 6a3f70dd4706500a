#pragma once
// Initialisation files: "[Section]" headers, "key=value" lines and ";"
// comments. Reading and writing behave like the classic private-profile
// functions: section and key names match without regard to case, a missing
// key gives the default, and a write keeps every other line of the file.

#include <string>
#include <vector>

class IniFile {
public:
    // Loads the file; a missing or unreadable file reads as empty.
    explicit IniFile(std::string path);

    const std::string& Path() const { return path_; }
    bool HasKey(const std::string& section, const std::string& key) const;
    // Integer parse of the value: optional blanks and sign, then decimal
    // digits (or 0x and hex digits); anything after is ignored. Missing or
    // without digits: `def`.
    int GetInt(const std::string& section, const std::string& key, int def = 0) const;
    // The value, blanks around it and one pair of enclosing quotes removed,
    // cut to `maxLength` characters. Missing: `def`.
    std::string GetString(const std::string& section, const std::string& key, const std::string& def = "",
                          std::size_t maxLength = 259) const;
    // Section names in file order.
    std::vector<std::string> SectionNames() const;

    // Sets a value in memory; Save writes the file.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // Writes the whole file through a temporary file and a rename, so that
    // a crash never leaves it half written.
    bool Save() const;

    // Reads one key, writes one key: the private-profile calls.
    static int ReadInt(const std::string& path, const std::string& section, const std::string& key, int def = 0);
    static std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                                  const std::string& def = "");
    static bool Write(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value);

private:
    // Index of the line holding the key's value in the section, or -1.
    int FindKey(const std::string& section, const std::string& key) const;
    int FindSection(const std::string& section) const;

    std::string path_;
    std::vector<std::string> lines_;
};

// The integer rule of GetInt, on a text of its own; false without digits.
bool ParseProfileInt(const std::string& text, int& value);
