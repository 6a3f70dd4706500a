#pragma once
// voldex-cli check: the read-only consistency check of a volume.

#include "cli/cli_args.h"

// Opens the volume the way every command does, checks it without writing
// and prints one line per finding and a summary. Exit status: 0 clean,
// 1 findings, 2 the volume could not be checked (not even opened).
int CmdCheck(CliContext& c);
