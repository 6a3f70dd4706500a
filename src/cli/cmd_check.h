#pragma once
// voldex-cli check: the read-only consistency check of a volume.

#include <string>

#include "cli/cli_args.h"

struct CheckResult;

// Opens the volume the way every command does, checks it without writing
// and prints one line per finding and a summary. Exit status: 0 clean,
// 1 findings, 2 the volume could not be checked (not even opened).
int CmdCheck(CliContext& c);

// The result of a check as `check --json` prints it (one object, no line end).
std::string CheckJson(const CheckResult& r);

// voldex-cli repair: the check, the plan (one line per finding and what is
// done about it), a question on a terminal (--yes acts without asking,
// --dry-run only shows the plan), the repair, and the check after it.
// Exit status: 0 clean afterwards, 1 findings remain (each named), 2 the
// volume cannot be repaired (FAT32, read-only, truncated, not checkable).
int CmdRepair(CliContext& c);
