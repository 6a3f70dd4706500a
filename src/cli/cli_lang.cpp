#include "cli/cli_lang.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <optional>

#include "device/language.h"
#include "device/messages.h"
#include "opening/settings/config.h"

bool ApplyLanguageOption(std::vector<std::string>& args, std::string& error) {
    std::optional<std::string> code;
    for (std::size_t i = 0; i < args.size() && args[i] != "--";) {
        if (args[i] == "--lang") {
            if (i + 1 >= args.size()) {
                SetLanguage(ChooseLanguage(SettingText("Language")));
                error = MessageString(1695);
                return false;
            }
            code = args[i + 1];
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        } else if (args[i].rfind("--lang=", 0) == 0) {
            code = args[i].substr(7);
            args.erase(args.begin() + long(i));
        } else {
            ++i;
        }
    }
    // Said in the language the environment or the setting chooses.
    SetLanguage(ChooseLanguage(SettingText("Language")));
    if (code && !LanguageFromCode(*code)) {
        error = MessageString(1696, *code);
        return false;
    }
    if (code) SetLanguage(ChooseLanguage(*code));
    // The C library's texts (the "System error" lines) follow the locale
    // where it speaks the chosen language, and stay in English otherwise.
    // They come in the character type's code set, which must be UTF-8 like
    // every other text: under "C" a Japanese or Greek text would arrive as
    // question marks.
    if (std::setlocale(LC_CTYPE, "") == nullptr || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "C");
    if (CurrentLanguage() == LanguageFromEnvironment()) std::setlocale(LC_MESSAGES, "");
    return true;
}
