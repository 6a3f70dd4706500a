#pragma once
// The language the program speaks: the Greek catalogue of the system, or its
// English and Japanese counterparts. Chosen once at start (the setting
// `Language`, else the environment) and read by the catalogue and the
// window texts.

#include <optional>
#include <string>

enum class Language { Greek, English, Japanese };

Language CurrentLanguage();
void SetLanguage(Language language);

// "el", "en" or "ja" (any case); nothing for anything else.
std::optional<Language> LanguageFromCode(const std::string& code);
const char* LanguageCode(Language language);

// The language of a locale name such as "ja_JP.UTF-8" or "el": Greek for
// "el…", Japanese for "ja…", English for anything else ("C", "POSIX",
// "C.UTF-8", "en_US", "de_DE", empty): a language without a catalogue of its
// own, and the plain locale of cron, containers and build machines.
Language LanguageOfLocale(const std::string& locale);

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty
// decides, as for any program's messages; none set means English.
Language LanguageFromEnvironment();

// The setting's value (el, en, ja) wins; an empty or unknown value leaves
// the choice to the environment.
Language ChooseLanguage(const std::string& setting);
