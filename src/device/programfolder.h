#pragma once
#include <string>

// The folder that holds the program's own files (settings, profiles, log):
// $VOLDEX_HOME when set and not empty, else the folder of the executable.
// Always ends with '/'.
std::string ProgramFolder();
