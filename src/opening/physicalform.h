#pragma once
// Whole drives opened through their block-device paths (/dev/sdb, a memory
// card in a reader, /dev/fd0). Such drives are always opened read-only.

#include <string>
#include <vector>

#include "opening/diskopen.h"

// The path the drive dialog starts with: the last drive opened, or a pattern.
std::string InitialDrivePath();

// The block devices of this host that hold data (from /sys/block): disks,
// removable disks and attached loop devices; not RAM disks or zram swap.
std::vector<std::string> ListDrivePaths();
// The same over another folder laid out like /sys/block (tests).
std::vector<std::string> ListDrivePathsIn(const std::string& sysBlock);

// Runs disk-type selection on a drive path; on success remembers it in
// LastPhysical.
bool OpenPhysicalDrive(TDiskOpener& dialog, const std::string& path, VolumeParams& params);
