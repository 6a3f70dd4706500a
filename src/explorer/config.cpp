#include "explorer/config.h"

#include "device/programfolder.h"
#include "explorer/inifile.h"

std::string SettingsPath() { return ProgramFolder() + "kestrel.ini"; }

int ReadSettingInt(const std::string& section, const std::string& key) {
    return IniFile::ReadInt(SettingsPath(), section, key, 0);
}

std::string ReadSettingString(const std::string& section, const std::string& key) {
    return IniFile::ReadString(SettingsPath(), section, key, "");
}

bool WriteSettingInt(const std::string& section, const std::string& key, int value) {
    return IniFile::Write(SettingsPath(), section, key, std::to_string(value));
}

bool WriteSettingString(const std::string& section, const std::string& key, const std::string& value) {
    return IniFile::Write(SettingsPath(), section, key, value);
}
