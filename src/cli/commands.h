#pragma once
// The commands of voldex-cli that change a volume.

#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "volume/diskimage.h"

int CmdPut(DiskImage& image, const std::vector<std::string>& operands);
int CmdMkdir(DiskImage& image, const std::string& path, bool defaultName);
int CmdRm(DiskImage& image, const std::vector<std::string>& paths, bool release);
int CmdRen(DiskImage& image, const std::string& path, const std::string& newName);
int CmdMv(DiskImage& image, const std::vector<std::string>& paths, const std::string& dest);

// True for the commands above.
bool IsChangingCommand(const std::string& command);
