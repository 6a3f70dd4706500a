// voldex-cli: the volume engine from the command line.

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_lang.h"
#include "cli/mount.h"
#include "cli/cli_progress.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "device/deviceio_file.h"
#include "device/messages.h"
#include "volume/diskimage.h"

namespace {

int Run(const CliCommand& command, const CliOptions& options, CliInterface& ui) {
    if (command.checkOperands)
        if (int rc = command.checkOperands(options); rc != kExitOk) return rc;
    CliContext context{options, ui};
    // Commands that change nothing, and a mount asked to be read-only, open
    // the image for reading and share it.
    const bool changes = (command.flags & kCmdChanges) || ((command.flags & kCmdChangesWhenTold) && AsksForChange(options));
    DeviceIO_File::SetOpenForWriting(changes && !HasMountOption(options.mountOptions, "ro"));
    if (!(command.flags & kCmdOpensVolume)) return command.run(context);
    ProgressLine progress((command.flags & kCmdProgress) && isatty(2));
    ui.progress = &progress;
    auto image = OpenCliVolume(options, ui, &progress);
    if (!image) return kExitFailure;
    if (changes && !(command.flags & kCmdServesReadOnly) && image->IsReadOnly()) {
        // FAT32 volumes and images that could only be opened for reading.
        ShowMessage(1204);
        return kExitFailure;
    }
    context.image = image.get();
    int rc = command.run(context);
    // The clean-shutdown mark is set again as the last write, and a failure
    // of it is told like any other.
    if (!image->MarkClosed()) {
        ShowMessage(1841);
        rc = kExitFailure;
    }
    progress.Finish();
    ui.progress = nullptr;
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // --lang may stand before --help and --version as before any command.
    std::string error;
    if (!ApplyLanguageOption(args, error)) {
        std::fprintf(stderr, "voldex-cli: %s\n%s", error.c_str(), CliUsage().c_str());
        return kExitUsage;
    }
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        std::fputs(CliUsage().c_str(), stdout);
        return kExitOk;
    }
    if (args.size() == 1 && (args[0] == "--version" || args[0] == "-V")) {
        std::printf("voldex-cli %s\n", kCliVersion);
        return kExitOk;
    }
    if (args.size() == 2 && args[0] == "help" && FindCliCommand(args[1])) {
        std::fputs(CliCommandHelp(*FindCliCommand(args[1])).c_str(), stdout);
        return kExitOk;
    }
    std::string named;
    auto options = ParseCliArgs(args, error, &named);
    if (!options) {
        std::fprintf(stderr, "voldex-cli: %s\n%s", error.c_str(), UsageAfterError(named).c_str());
        return kExitUsage;
    }
    if (options->version) {
        std::printf("voldex-cli %s\n", kCliVersion);
        return kExitOk;
    }
    const CliCommand& command = *FindCliCommand(options->command);
    if (options->help) {
        std::fputs(CliCommandHelp(command).c_str(), stdout);
        return kExitOk;
    }
    CliInterface ui(options->yes, options->no);
    ui.strictNames = options->strictNames;
    ScopedUserInterface scoped(&ui);
    int rc = Run(command, *options, ui);
    // A question left without --yes or --no is a failure even where the
    // operation itself went on.
    return rc == kExitOk && ui.Unanswered() ? kExitFailure : rc;
}
