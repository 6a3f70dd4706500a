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

// The command line has no dialog to show: the first question takes the
// preselected disk type (or the one --profile named); a hard-disk image
// whose plain reading failed is tried once more as a partitioned disk;
// after that the answer is Cancel.
bool CliInterface::ShowDiskTypeDialog(const std::string&, const std::vector<std::string>&, int& selected) {
    ++typeQuestions_;
    constexpr int kHardDisk = 1, kPlainImage = 2;
    if (typeQuestions_ == 1) {
        if (wantedItem) selected = *wantedItem;
        else if ((partition || listPartitions) && selected == kPlainImage) selected = kHardDisk;
        lastItem_ = selected;
        return true;
    }
    if (typeQuestions_ == 2 && lastItem_ == kPlainImage && !wantedItem && !listPartitions) {
        selected = lastItem_ = kHardDisk;
        return true;
    }
    return false;
}

int CliInterface::ShowPartitionDialog(THDDPartDialog& dialog, bool) {
    // A table of another format: try them in turn, as a user would with the
    // format list.
    for (int type = 0; dialog.Rows.empty() && type < 3; ++type)
        if (type != dialog.Type) dialog.SetType(type, true);
    if (listPartitions) {
        listed = dialog.Rows;
        return -1;
    }
    int row = partition.value_or(1) - 1;
    if (std::size_t(row) >= dialog.Rows.size()) {
        std::fprintf(stderr, "voldex-cli: partition %d not found (%zu listed)\n", row + 1, dialog.Rows.size());
        return -1;
    }
    return dialog.Choose(row) ? row : -1;
}
