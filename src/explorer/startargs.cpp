#include "explorer/startargs.h"

#include "device/messages.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

StartArguments ParseStartArguments(const std::vector<std::string>& args) {
    StartArguments out;
    bool optionsEnded = false;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (optionsEnded || a.empty()) {
            if (!a.empty()) out.paths.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
        } else if (a == "/S" || a == "--skip-type-dialog") {
            out.options.skipTypeDialog = true;
        } else if (a.size() >= 4 && StartsWith(a, "/P[") && a.back() == ']') {
            // The first one counts, as for every opening option.
            if (!out.options.profile) out.options.profile = a.substr(3, a.size() - 4);
        } else if (StartsWith(a, "--profile=")) {
            if (!out.options.profile) out.options.profile = a.substr(10);
        } else if (a == "--profile") {
            if (k + 1 >= args.size()) {
                out.error = MessageString(1685, "--profile");
                break;
            }
            ++k;
            if (!out.options.profile) out.options.profile = args[k];
        } else if (a == "--lang" || StartsWith(a, "--lang=")) {
            std::string code;
            if (a != "--lang") {
                code = a.substr(7);
            } else if (k + 1 < args.size()) {
                code = args[++k];
            }
            out.language = LanguageFromCode(code);
            if (!out.language || code.size() != 2) {
                out.error = code.empty() ? MessageString(1695) : MessageString(1696, code);
                break;
            }
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--version") {
            out.version = true;
        } else if (a.size() > 1 && a[0] == '-') {
            out.error = MessageString(1684, a);
            break;
        } else {
            out.paths.push_back(a);
        }
    }
    return out;
}

const char* StartUsage() {
    return "usage: voldex [--lang el|en|ja] [--profile=NAME | /P[NAME]] [--skip-type-dialog | /S] [--] [IMAGE]\n"
           "  IMAGE                  the disk image to open (absolute or relative path)\n"
           "  --lang el|en|ja        the language of the window for this run (Greek, English, Japanese)\n"
           "  --profile=NAME, /P[NAME]\n"
           "                         open it as this disk type: a profile or built-in type, by its\n"
           "                         stored name or its name in any of the three languages\n"
           "  --skip-type-dialog, /S do not show the disk-type dialog for this image\n"
           "  --help, --version      this text; the program's version\n"
           "  --                     every later argument is a path\n";
}
