#include "cli/cli_lang.h"

#include <optional>

#include "device/language.h"
#include "explorer/config.h"

bool ApplyLanguageOption(std::vector<std::string>& args, std::string& error) {
    std::optional<std::string> code;
    for (std::size_t i = 0; i < args.size() && args[i] != "--";) {
        if (args[i] == "--lang") {
            if (i + 1 >= args.size()) {
                error = "--lang needs el, en or ja";
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
    if (code && !LanguageFromCode(*code)) {
        error = "--lang needs el, en or ja, not " + *code;
        return false;
    }
    SetLanguage(ChooseLanguage(code ? *code : SettingText("Language")));
    return true;
}
