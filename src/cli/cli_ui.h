#pragma once
// The command line's answer to the user-interface layer: messages go to
// standard error, questions are answered by --yes and --no.

#include "device/userinterface.h"

#include <optional>
#include <string>
#include <vector>

#include "opening/hddpart.h"
#include <cstdio>

class CliInterface : public UserInterface {
public:
    CliInterface(bool yes, bool no) : yes_(yes), no_(no) {}

    // How the disk-type and partition questions are answered.
    std::optional<int> wantedItem;   // the disk type named by --profile
    std::optional<int> partition;    // --partition N (1-based)
    bool listPartitions = false;     // `parts`: collect the rows instead of choosing
    std::vector<PartitionRow> listed;

    bool ShowDiskTypeDialog(const std::string& path, const std::vector<std::string>& items, int& selected) override;
    int ShowPartitionDialog(THDDPartDialog& dialog, bool expanded) override;

    int ShowBox(const std::string& text, const std::string& caption, int style) override;
    OverwriteAnswer AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                 const std::string& incomingName, const SystemTime& incomingTime) override;

    // True once a conflict stopped an operation for want of --yes or --no.
    bool Unanswered() const { return unanswered_; }

private:
    bool yes_, no_;
    bool unanswered_ = false;
    int typeQuestions_ = 0;
    int lastItem_ = -1;
};
