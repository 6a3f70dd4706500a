#pragma once
// The program's settings: "kestrel.ini" in the program folder, section
// ProgramSettings. A missing file or key reads as 0 or empty text.

#include <string>

inline constexpr const char* kSettingsSection = "ProgramSettings";

std::string SettingsPath();

int ReadSettingInt(const std::string& section, const std::string& key);
std::string ReadSettingString(const std::string& section, const std::string& key);
bool WriteSettingInt(const std::string& section, const std::string& key, int value);
bool WriteSettingString(const std::string& section, const std::string& key, const std::string& value);

// Shorthands for the program's own section.
inline int Setting(const std::string& key) { return ReadSettingInt(kSettingsSection, key); }
inline std::string SettingText(const std::string& key) { return ReadSettingString(kSettingsSection, key); }
