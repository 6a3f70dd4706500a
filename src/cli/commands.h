#pragma once
// The commands of voldex-cli, one function each (see the table in
// cli_args.cpp). Each returns the exit status.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "volume/diskimage.h"

class DIDir;
class ProgressLine;

// Opens the image named by the first operand the way the window does
// (profiles, headers, partition tables, boot records), with what the
// command line says (--profile, --partition, --offset, --human68k) taking
// the place of the settings that would choose by themselves. With
// `progress`, the device counts its bytes into it.
std::unique_ptr<DiskImage> OpenCliVolume(const CliOptions& options, CliInterface& ui, ProgressLine* progress);

// Bytes of a host file or block device; nothing when it cannot be opened.
std::optional<uint64_t> HostFileSize(const std::string& path);

// Reading commands.
int CmdInfo(CliContext& c);
int CmdParts(CliContext& c);
int CmdLs(CliContext& c);
int CmdTree(CliContext& c);
int CmdCat(CliContext& c);
int CmdGet(CliContext& c);

// Changing commands.
int CmdPut(CliContext& c);
int CmdMkdir(CliContext& c);
int CmdRm(CliContext& c);
int CmdRelease(CliContext& c);
int CmdRen(CliContext& c);
int CmdMv(CliContext& c);

// Operand checks made before the image is opened (exit 2 on bad usage).
int CheckPutOperands(const CliOptions& o);
int CheckGetOperands(const CliOptions& o);
int CheckRenOperands(const CliOptions& o);
int CheckAttribOperands(const CliOptions& o);

// Whether `name`, given on the command line for a new or renamed entry of
// `dir`, can be stored as it stands; reports the rule it breaks otherwise.
bool AcceptGivenName(const DIDir& dir, const std::string& name);

// New images, the volume label and attributes.
int CmdNew(CliContext& c);
int CmdLabel(CliContext& c);
int CmdAttrib(CliContext& c);

// Conversion between containers, and what an image is.
int CmdConvert(CliContext& c);
int CmdIdentify(CliContext& c);

// The floppy maker.
int CmdMkfdd(CliContext& c);

// A usage error of a command's operands: the reason and a hint, exit 2.
int UsageError(const std::string& reason, const std::string& hint);
