#pragma once
// Chooses the program's language at start and makes Qt's own buttons and
// dialogs speak it too.

#include <optional>

#include "device/language.h"

class QCoreApplication;

// Sets the language (`chosen` on the command line, else the setting
// `Language`, else the environment) and installs Qt's translations for it;
// call once the application object exists. Returns whether a translation
// of Qt's own texts is in place.
bool InstallLanguage(QCoreApplication& app, std::optional<Language> chosen = std::nullopt);

// The same for a language already chosen (tests, the settings dialog).
bool InstallQtTranslation(QCoreApplication& app);
