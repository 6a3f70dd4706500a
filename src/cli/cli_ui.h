#pragma once
// The command line's answer to the user-interface layer: messages go to
// standard error, questions are answered by --yes and --no, the disk-type
// and partition questions by --profile and --partition.

#include "device/userinterface.h"

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "opening/hddpart.h"

class ProgressLine;

class CliInterface : public UserInterface {
public:
    CliInterface(bool yes, bool no) : yes_(yes), no_(no) {}

    // How the disk-type and partition questions are answered.
    std::optional<int> wantedItem;   // the disk type named by --profile
    std::optional<int> partition;    // --partition N (1-based)
    bool listPartitions = false;     // `parts`: collect the rows instead of choosing
    std::vector<PartitionRow> listed;
    uint64_t imageSize = 0;          // bytes of the image, for the table checks (0: unknown)
    std::vector<bool> tableItems;    // disk types that read a partition table (by item)

    bool ShowDiskTypeDialog(const std::string& path, const std::vector<std::string>& items, int& selected) override;
    int ShowPartitionDialog(THDDPartDialog& dialog, bool expanded) override;

    int ShowBox(const std::string& text, const std::string& caption, int style) override;
    OverwriteAnswer AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                 const std::string& incomingName, const SystemTime& incomingTime) override;
    bool AcceptChangedName(const std::string& given, const std::string& stored) override;

    // --strict-names: host names the volume would change are refused.
    bool strictNames = false;
    void SetStatusText(int panel, const std::string& text) override;

    // True once a partition or a disk of the image was chosen (there was a
    // table, or a file of several disks, to choose from).
    bool partitionChosen = false;

    // True once a conflict stopped an operation for want of --yes or --no.
    bool Unanswered() const { return unanswered_; }

    // While an image is being opened, messages are held back: those of a
    // reading that was given up for another (a plain image that turned
    // out to be a partitioned disk) are dropped when the other succeeds.
    void BeginOpening();
    void EndOpening(bool succeeded);

    // Messages go to the system log (as errors, under the program's name)
    // instead of standard error: for a mount gone to the background.
    bool toSystemLog = false;

    // The progress line of the running transfer (may be null).
    ProgressLine* progress = nullptr;

    // put: the image folder the host sources go into, and each source as
    // messages show it with the name it takes there, to name an entry that
    // already exists by its path in the image.
    std::string importFolder;
    std::vector<std::pair<std::string, std::string>> importSources;

    // SIGINT or SIGTERM arrived while a StopOnSignal was alive.
    bool StopRequested() override;
    bool StopAsked() override { return StopRequested(); }

    // mkfdd: messages whose catalogue text is only "?" get a plain line.
    bool floppyMessages = false;

private:
    void Print(const std::string& line);
    // A yes-or-no question read from the terminal; nothing without one
    // (said with a hint at --yes and --no) or at its end.
    std::optional<bool> AskOnTerminal();
    int ChooseDisk(THDDPartDialog& dialog);
    // "::/DIR/NAME" for an entry met while importing host file `hostPath`.
    std::string ImportedEntryPath(const std::string& hostPath, const std::string& entryName) const;

    bool yes_, no_;
    bool unanswered_ = false;
    int typeQuestions_ = 0;
    int lastItem_ = -1;
    bool opening_ = false;
    std::vector<std::string> held_;
    std::size_t passStart_ = 0;  // first held message of the current reading
};

// True when the rows form a partition table that can be believed: at
// least one row, every partition inside the image (when its size is
// known), and no two partitions overlapping or starting at one place.
bool IsSoundTable(const std::vector<PartitionRow>& rows, uint64_t imageSize);

// While it lives, SIGINT and SIGTERM do not end the program: they are noted,
// and the running import stops at the next piece of data, leaving the
// volume consistent. The handlers before it come back when it goes.
class StopOnSignal {
public:
    StopOnSignal();
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;
    // The signal that arrived, 0 for none.
    static int Caught();

private:
    struct sigaction* old_;
};
