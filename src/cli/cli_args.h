#pragma once
// The command line of voldex-cli: the commands it knows (one table), the
// options, and the parse of argv into options and operands.
//
// A new command is one row of the table in cli_args.cpp and one function
// `int Cmd...(CliContext&)`; a new option is one row of the option table.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CliOptions {
    std::string command;
    std::vector<std::string> operands;  // the image first (for commands on an image), then the command's own
    std::optional<int64_t> offset;      // --offset BYTES
    bool human68k = false;              // --human68k
    bool yes = false;                   // --yes: replace existing items
    bool no = false;                    // --no: keep existing items
    std::optional<std::string> profile; // --profile NAME: the disk type to use
    std::optional<int> partition;       // --partition N: the N-th partition listed (1-based)
    bool defaultName = false;           // mkdir --default-name: the next NEWDIR.n
    bool shortNames = false;            // --short-names: 8.3 names only, whatever LongNames says
    bool strictNames = false;           // --strict-names: refuse host names the volume would change
    std::optional<int> size;            // mkfdd --size KB
    std::optional<std::string> sizeText;  // --size as given (new: 40M, 2G)
    std::optional<std::string> label;   // new --label TEXT
    bool clear = false;                 // label --clear
    bool json = false;                  // --json: machine-readable output
    bool recursive = false;             // ls -R
    bool help = false;                  // --help after a command: that command's help
    bool version = false;               // --version: the version, whatever else is given
    std::vector<std::string> mountOptions;  // mount -o OPTIONS (comma-separated, as given)
    bool foreground = false;            // mount -f: stay in the foreground
    bool dryRun = false;                // repair --dry-run: the plan only
    bool save = false;                  // repair --save: lost chains become FILEnnnn.CHK
    bool lossy = false;                 // convert --lossy: drop what the target cannot hold
    std::optional<std::string> to;      // convert --to EXT: many sources into a folder
    std::string container;              // new, convert --container KIND: one of the extension's containers
};

class CliInterface;
class DiskImage;

// What a command works with.
struct CliContext {
    const CliOptions& options;
    CliInterface& ui;
    DiskImage* image = nullptr;  // the mounted volume, for commands on an image
    // The operands after the image.
    std::vector<std::string> Args() const {
        return options.operands.size() > 1 ? std::vector<std::string>(options.operands.begin() + 1, options.operands.end())
                                           : std::vector<std::string>{};
    }
};

enum CliCommandFlags : unsigned {
    kCmdOpensVolume = 1,  // the first operand is an image, mounted before the command runs
    kCmdChanges = 2,      // writes to the volume: refused on read-only volumes
    kCmdJson = 4,         // takes --json
    kCmdRecursive = 8,    // takes -R
    kCmdProgress = 16,    // long transfers: a progress line on a terminal
    kCmdServesReadOnly = 32,  // with kCmdChanges: a read-only volume is served read-only, not refused
    kCmdChangesWhenTold = 64, // writes only when its operands say so (label TEXT, attrib +r); else reads
    kCmdImagePaths = 128,     // takes image paths: its help ends with the note on them
    kCmdImageNames = 256,     // names entries of the image: its help ends with the note on names
};

// True when a command of flag kCmdChangesWhenTold is asked to change the volume.
bool AsksForChange(const CliOptions& options);
// "+r", "-h", ...: an attribute flag of attrib (not an option).
bool IsAttribFlag(const std::string& arg);

struct CliCommand {
    const char* name;
    int minOperands, maxOperands;  // image included; -1: no limit
    unsigned flags;
    const char* synopsis;  // "put IMAGE HOSTPATH... [::DEST]"
    const char* help;      // the command's own help text
    int (*run)(CliContext&);
    // Optional: checks the operands before the image is opened; a usage
    // error (exit 2) stops the command before anything is touched.
    int (*checkOperands)(const CliOptions&) = nullptr;
};

// One option of the command line. The usage, each command's help, the
// manual page and the shell completion list what this table holds (a test
// holds them to it).
struct CliOption {
    const char* name;     // "--offset"
    const char* alias;    // "-y", or nullptr
    bool takesValue;
    const char* value;    // what the value is, for the usage ("BYTES"); nullptr without one
    // Which commands take it: those named (space-separated), those with
    // `takenByFlag`, or every command when both are empty (a general option).
    const char* takenBy;
    unsigned takenByFlag;
    const char* help;     // one line for the usage
    // Stores the option; false with `error` set for a bad value.
    bool (*apply)(CliOptions& o, const std::string& value, std::string& error);

    bool General() const { return !takenBy && !takenByFlag; }
};

struct CliCommand;

// Every option, general ones and those of single commands.
const CliOption* CliOptionTable(std::size_t& count);
// The options a command takes of its own (the general ones aside), in the
// table's order.
std::vector<const CliOption*> CommandOptions(const CliCommand& command);
bool TakesOption(const CliCommand& command, const CliOption& option);

// Every command, in the order the usage lists them.
const std::vector<CliCommand>& CliCommands();
const CliCommand* FindCliCommand(const std::string& name);

// Parses argv (without the program name). On bad usage returns nothing and
// puts the reason in `error`.
// `command`, when given, receives the command named before the error (empty
// when none was).
std::optional<CliOptions> ParseCliArgs(const std::vector<std::string>& args, std::string& error,
                                       std::string* command = nullptr);

// What follows a usage error: the command's own usage line when a command
// was named, else a suggestion for a near command name or the general usage.
std::string UsageAfterError(const std::string& command);

// The known command nearest to a mistyped name (a letter or two off, or
// its beginning); empty when none is near.
std::string NearestCommand(const std::string& name);

// Operands each command needs: minimum and maximum (-1: no limit), image included.
bool CheckOperandCount(const CliOptions& options, std::string& error);

// The general usage text, and one command's help.
std::string CliUsage();
std::string CliCommandHelp(const CliCommand& command);

extern const char* const kCliVersion;

enum CliExit { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };
