#pragma once
// The program's settings: "kestrel.ini" in the program folder, section
// ProgramSettings. A missing file or key reads as 0 or empty text.

#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kSettingsSection = "ProgramSettings";

std::string SettingsPath();

int ReadSettingInt(const std::string& section, const std::string& key);
std::string ReadSettingString(const std::string& section, const std::string& key);
bool WriteSettingInt(const std::string& section, const std::string& key, int value);
bool WriteSettingString(const std::string& section, const std::string& key, const std::string& value);
// Several keys of one section in one write of the file.
bool WriteSettings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values);
// A value whose write failed still holds for the rest of the run: the
// reads above give it until a later write of the same key succeeds.

// LongNames: FAT volumes show and write long names; on (1) unless set to 0.
bool LongNamesSetting();

// Shorthands for the program's own section.
inline int Setting(const std::string& key) { return ReadSettingInt(kSettingsSection, key); }
inline std::string SettingText(const std::string& key) { return ReadSettingString(kSettingsSection, key); }

// The main window's remembered layout: keys WindowLeft, WindowTop,
// WindowWidth, WindowHeight, WindowMaximized, TreeWidth, ViewMode (0 large
// icons, 1 small icons, 2 list, 3 details) and ColumnWidths ("160,80,...").
// A width or height of 0 means none was kept.
struct WindowLayout {
    int left = 0, top = 0, width = 0, height = 0;
    bool maximized = false;
    int treeWidth = 0;
    int viewMode = 3;
    std::vector<int> columnWidths;
};
WindowLayout ReadWindowLayout();
bool WriteWindowLayout(const WindowLayout& layout);
