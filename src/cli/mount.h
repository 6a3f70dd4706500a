#pragma once
// voldex-cli mount: the opened volume shown as a folder through FUSE.

#include "cli/cli_args.h"
#include "volume/diskimage.h"

// Mounts the opened volume at the second operand and serves it until it is
// unmounted (fusermount3 -u) or the program is stopped. Without -f the
// program goes to the background once the folder is mounted; messages from
// then on (a failure at the unmount) go to the system log through `ui`,
// as no terminal hears them. Returns the exit status.
int CmdMount(DiskImage& image, const CliOptions& options, CliInterface* ui = nullptr);
int CmdMount(CliContext& c);
// True when one of the -o option groups (comma-separated) holds `wanted`.
bool HasMountOption(const std::vector<std::string>& given, const std::string& wanted);
