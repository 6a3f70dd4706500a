#pragma once
// D88 floppy containers (also .D77, .D68, .D98, .88D). Per disk a header of
// 0x2B0 bytes: the disk's name (17 bytes), a write-protect flag at 0x1A,
// the media kind at 0x1B, the disk's whole size at 0x1C and 164 track
// offsets at 0x20 (0: track absent; writers that keep 160 offsets start
// the first track at 0x2A0). A track is a run of sector records, each a
// 16-byte header (C, H, R, N, sectors in the track, density, deleted mark,
// status, 5 reserved bytes, data size) followed by the data, stored in any
// order. Several disks may follow one another in one file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/containerdevice.h"

// The disks of a D88 file of `fileSize` bytes read through `file`, or
// nothing when the file is not a D88 whose headers, disk sizes and track
// records agree with one another and with the file's size.
[[nodiscard]] std::optional<std::vector<ContainerDisk>> ReadD88(DeviceIOIF* file, uint64_t fileSize);

// A new D88 disk of `plain` (sectors in logical order, `g` their layout):
// every track in the table, its records in sector order, `media` in the
// header (0x00 2D, 0x10 2DD, 0x20 2HD). `name` is cut to 16 bytes.
std::vector<uint8_t> MakeD88(const std::vector<uint8_t>& plain, const ContainerGeometry& g, uint8_t media,
                             const std::string& name);
