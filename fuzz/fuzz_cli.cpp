// The command-line parsers: voldex-cli's options and the window's argument text.
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_paths.h"
#include "explorer/startargs.h"
#include "fuzz_support.h"
#include "opening/diskopen.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    std::string cur;
    for (char c : text) {
        if (c == '\0' || c == '\n') {
            args.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    args.push_back(cur);
    std::string error;
    ParseCliArgs(args, error);
    // Patterns and the escapes of listed names.
    if (args.size() >= 2) MatchesPattern(args[0], args[1]);
    EscapeField(text);
    JsonString(text);
    // The window's arguments, and the opening options they give.
    StartArguments start = ParseStartArguments(args);
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    PendingOpeningOptions() = start.options;
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    VolumeParams params;
    DetectAndSelect(opener, "/nonexistent/voldex-fuzz.img", params);
    return 0;
}
