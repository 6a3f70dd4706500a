#pragma once
// Where the program keeps its own files: settings ("kestrel.ini"), the log
// ("kestrel.log") and disk profiles. In order:
//   1. $VOLDEX_HOME when set and not empty: everything there;
//   2. the executable's folder when it holds a settings or profile file
//      ("*.ini") and can be written: a build folder or a portable copy;
//   3. the places of the XDG base directories: settings in
//      $XDG_CONFIG_HOME/voldex (~/.config/voldex), the log in
//      $XDG_STATE_HOME/voldex (~/.local/state/voldex).
// Profiles are read from the installed data folder (share/voldex) always,
// then from the one folder of cases 1 and 2, else $XDG_CONFIG_HOME/voldex.
// Every folder returned ends with '/'.

#include <string>
#include <vector>

// $VOLDEX_HOME when set and not empty, else the folder of the executable.
std::string ProgramFolder();

// The folder of the running executable.
std::string ExecutableFolder();

// The folder of the settings file. Reading makes nothing: the writer
// makes the folder (MakeFolders) when it first writes.
std::string SettingsFolder();

// The folder of the log file, likewise made only when written to.
std::string LogFolder();

// Makes a folder and the folders above it; true when it exists afterwards.
bool MakeFolders(const std::string& folder);

// The folders profile files are read from, in order.
std::vector<std::string> ProfileFolders();
