#pragma once
// The command line of voldex-cli, parsed into options and operands.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CliOptions {
    std::string command;
    std::vector<std::string> operands;  // the image first, then the command's own
    std::optional<int64_t> offset;      // --offset BYTES
    bool human68k = false;              // --human68k
    bool yes = false;                   // --yes: replace existing items
    bool no = false;                    // --no: keep existing items
    std::optional<std::string> profile; // --profile NAME: the disk type to use
    std::optional<int> partition;       // --partition N: the N-th partition listed (1-based)
    bool defaultName = false;           // mkdir --default-name: the next NEWDIR.n
    std::optional<int> size;            // mkfdd --size KB
};

// Parses argv (without the program name). On bad usage returns nothing and
// puts the reason in `error`.
std::optional<CliOptions> ParseCliArgs(const std::vector<std::string>& args, std::string& error);

// Operands each command needs: minimum and maximum (-1: no limit), image included.
bool CheckOperandCount(const CliOptions& options, std::string& error);

extern const char* const kCliUsage;
