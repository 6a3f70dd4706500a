#pragma once
// The command line's answer to the user-interface layer: messages go to
// standard error, questions are answered by --yes and --no.

#include "device/userinterface.h"

class CliInterface : public UserInterface {
public:
    CliInterface(bool yes, bool no) : yes_(yes), no_(no) {}

    int ShowBox(const std::string& text, const std::string& caption, int style) override;
    OverwriteAnswer AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                 const std::string& incomingName, const SystemTime& incomingTime) override;

    // True once a conflict stopped an operation for want of --yes or --no.
    bool Unanswered() const { return unanswered_; }

private:
    bool yes_, no_;
    bool unanswered_ = false;
};
