#include "opening/settings/config.h"

#include "device/programfolder.h"
#include "opening/settings/inifile.h"

#include <algorithm>
#include <map>

namespace {

// Values that could not be written, by section and key (case folded, as
// the file matches them).
std::map<std::string, std::string>& Unsaved() {
    static std::map<std::string, std::string> values;
    return values;
}

std::string UnsavedKey(const std::string& section, const std::string& key) {
    std::string k = section + '\n' + key;
    for (char& c : k)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return k;
}

const std::string* UnsavedValue(const std::string& section, const std::string& key) {
    auto it = Unsaved().find(UnsavedKey(section, key));
    return it == Unsaved().end() ? nullptr : &it->second;
}

}  // namespace

std::string SettingsPath() { return SettingsFolder() + "kestrel.ini"; }

int ReadSettingInt(const std::string& section, const std::string& key) {
    if (const std::string* v = UnsavedValue(section, key)) {
        int value = 0;
        return ParseProfileInt(*v, value) ? value : 0;
    }
    return IniFile::ReadInt(SettingsPath(), section, key, 0);
}

std::string ReadSettingString(const std::string& section, const std::string& key) {
    if (const std::string* v = UnsavedValue(section, key)) return v->substr(0, 259);
    return IniFile::ReadString(SettingsPath(), section, key, "");
}

bool LongNamesSetting() { return IniFile::ReadInt(SettingsPath(), kSettingsSection, "LongNames", 1) != 0; }

bool WriteSettingInt(const std::string& section, const std::string& key, int value) {
    return WriteSettings(section, {{key, std::to_string(value)}});
}

bool WriteSettingString(const std::string& section, const std::string& key, const std::string& value) {
    return WriteSettings(section, {{key, value}});
}

bool WriteSettings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values) {
    MakeFolders(SettingsFolder());
    IniFile file(SettingsPath());
    for (const auto& [key, value] : values) file.Set(section, key, value);
    bool saved = file.Save();
    for (const auto& [key, value] : values) {
        if (saved) Unsaved().erase(UnsavedKey(section, key));
        else Unsaved()[UnsavedKey(section, key)] = value;
    }
    return saved;
}

WindowLayout ReadWindowLayout() {
    WindowLayout l;
    l.left = Setting("WindowLeft");
    l.top = Setting("WindowTop");
    l.width = std::max(0, Setting("WindowWidth"));
    l.height = std::max(0, Setting("WindowHeight"));
    l.maximized = Setting("WindowMaximized") != 0;
    l.treeWidth = std::max(0, Setting("TreeWidth"));
    std::string mode = SettingText("ViewMode");
    int m = 3;
    if (ParseProfileInt(mode, m) && m >= 0 && m <= 3) l.viewMode = m;
    std::string widths = SettingText("ColumnWidths");
    for (std::size_t at = 0; at < widths.size();) {
        std::size_t comma = widths.find(',', at);
        if (comma == std::string::npos) comma = widths.size();
        int w = 0;
        l.columnWidths.push_back(ParseProfileInt(widths.substr(at, comma - at), w) && w > 0 ? w : 0);
        at = comma + 1;
    }
    return l;
}

bool WriteWindowLayout(const WindowLayout& l) {
    std::string widths;
    for (int w : l.columnWidths) widths += (widths.empty() ? "" : ",") + std::to_string(w);
    return WriteSettings(kSettingsSection, {{"WindowLeft", std::to_string(l.left)},
                                            {"WindowTop", std::to_string(l.top)},
                                            {"WindowWidth", std::to_string(l.width)},
                                            {"WindowHeight", std::to_string(l.height)},
                                            {"WindowMaximized", l.maximized ? "1" : "0"},
                                            {"TreeWidth", std::to_string(l.treeWidth)},
                                            {"ViewMode", std::to_string(l.viewMode)},
                                            {"ColumnWidths", widths}});
}
