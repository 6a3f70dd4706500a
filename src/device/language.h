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

// The language of a locale name such as "ja_JP.UTF-8" or "en": English for
// "en…", Japanese for "ja…", the Greek catalogue for anything else ("C",
// "POSIX", "el_GR", "de_DE", empty).
Language LanguageOfLocale(const std::string& locale);

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty
// decides, as for any program's messages.
Language LanguageFromEnvironment();

// The setting's value (el, en, ja) wins; an empty or unknown value leaves
// the choice to the environment.
Language ChooseLanguage(const std::string& setting);
