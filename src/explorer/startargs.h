#pragma once
// The window's command line, as Linux hands it over: a list of arguments.
// An argument is an option only when it is one of these, whole:
//   /S  or  --skip-type-dialog          skip the disk-type dialog
//   /P[name]  or  --profile=NAME  or  --profile NAME   choose a disk type
//   --lang=el|en|ja  or  --lang el|en|ja                 the language of this run
//   --help, --version
//   --                                  every later argument is a path
// Any other argument that begins with "-" is refused, never taken for a
// path. Every other argument is a path, absolute or relative, spaces and
// all; "/P" or "/S" inside a path is part of the path.

#include <optional>
#include <string>
#include <vector>

#include "device/language.h"
#include "opening/diskopen.h"

struct StartArguments {
    std::vector<std::string> paths;  // in order; the first is opened
    OpeningOptions options;
    std::optional<Language> language;  // --lang
    bool help = false;
    bool version = false;
    std::string error;  // an option not known, or a value missing or wrong
};

StartArguments ParseStartArguments(const std::vector<std::string>& args);

// The usage text of the window program.
const char* StartUsage();
