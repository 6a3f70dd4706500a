#include "cli/cli_ui.h"

#include <cstdio>

#include "device/messages.h"

int CliInterface::ShowBox(const std::string& text, const std::string& caption, int style) {
    if (caption == kSystemErrorCaption) std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    else std::fprintf(stderr, "%s\n", text.c_str());
    if (style == kBoxYesNoQuestion || style == kBoxYesNoWarning) {
        if (yes_) return kIdYes;
        if (!no_) unanswered_ = true;
        return kIdNo;
    }
    return kIdOk;
}

OverwriteAnswer CliInterface::AskOverwrite(const std::string& existingName, const SystemTime&,
                                           const std::string& incomingName, const SystemTime&) {
    if (yes_) return owYes;
    if (no_) return owNo;
    unanswered_ = true;
    std::fprintf(stderr, "%s: exists (incoming %s); use --yes to replace or --no to keep it\n",
                 existingName.c_str(), incomingName.c_str());
    return owCancel;
}
