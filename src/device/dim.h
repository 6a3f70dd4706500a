#pragma once
// DIM floppy containers (X68000): a 256-byte header with the disk type at
// 0, a presence flag per track at 1..0xAA (track = cylinder * 2 + head),
// "DIFC HEADER  " at 0xAB (13 bytes); then the data of each present track, in track
// order. Absent tracks take no room.

#include <cstdint>
#include <optional>

#include "device/containerdevice.h"

// The disk of a DIM file of `fileSize` bytes, or nothing when the header
// is not a DIM header of a known disk type or the present tracks do not
// fill the file exactly.
[[nodiscard]] std::optional<ContainerDisk> ReadDIM(DeviceIOIF* file, uint64_t fileSize);

// The DIM disk type of a layout (0 2HD, 1 2HS, 2 2HC, 9 2HQ), or nothing.
std::optional<uint8_t> DIMTypeFor(const ContainerGeometry& g);

// A new DIM image of disk type `code` holding `plain`, every track present.
std::vector<uint8_t> MakeDIM(const std::vector<uint8_t>& plain, uint8_t code);
