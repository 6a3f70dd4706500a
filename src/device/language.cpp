#include "device/language.h"

#include <atomic>
#include <cstdlib>

#include "device/asciicase.h"

namespace {

std::atomic<Language> gLanguage{Language::Greek};

}  // namespace

Language CurrentLanguage() { return gLanguage.load(std::memory_order_relaxed); }

void SetLanguage(Language language) { gLanguage.store(language, std::memory_order_relaxed); }

std::optional<Language> LanguageFromCode(const std::string& code) {
    if (EqualIgnoringAsciiCase(code, "el")) return Language::Greek;
    if (EqualIgnoringAsciiCase(code, "en")) return Language::English;
    if (EqualIgnoringAsciiCase(code, "ja")) return Language::Japanese;
    return std::nullopt;
}

const char* LanguageCode(Language language) {
    switch (language) {
        case Language::English: return "en";
        case Language::Japanese: return "ja";
        default: return "el";
    }
}

Language LanguageOfLocale(const std::string& locale) {
    // The language part ends at the territory, the code set or the modifier.
    std::string lang = locale.substr(0, locale.find_first_of("_.@"));
    if (EqualIgnoringAsciiCase(lang, "el")) return Language::Greek;
    if (EqualIgnoringAsciiCase(lang, "ja")) return Language::Japanese;
    return Language::English;
}

Language LanguageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return LanguageOfLocale(value);
    }
    return Language::English;
}

Language ChooseLanguage(const std::string& setting) {
    if (auto chosen = LanguageFromCode(setting)) return *chosen;
    return LanguageFromEnvironment();
}
