#pragma once
// Chooses the program's language at start and makes Qt's own buttons and
// dialogs speak it too.

class QCoreApplication;

// Sets the language from the setting `Language` (or the environment) and
// installs Qt's translations for it; call once the application object
// exists. Returns whether a translation of Qt's own texts is in place.
bool InstallLanguage(QCoreApplication& app);

// The same for a language already chosen (tests, the settings dialog).
bool InstallQtTranslation(QCoreApplication& app);
