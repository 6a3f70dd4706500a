#pragma once
// T98-Next floppy containers (NFD), revision 0: "T98FDDIMAGE.R0" at 0, the
// header size at 0x110, the write-protect flag at 0x114, then from 0x120 a
// sector map of 163 tracks of 26 slots of 16 bytes (C, H, R, N, flags, the
// disk type at byte 10); a slot whose C is 0xFF holds no sector. The data
// of the other slots follows the header in map order, 128 << N bytes each.
// Revision 1 keeps its sector maps another way (per-track tables): see
// floppycontainers.h.

#include <cstdint>
#include <optional>

#include "device/containerdevice.h"

inline constexpr const char* kNFDSignature0 = "T98FDDIMAGE.R0";
inline constexpr const char* kNFDSignature1 = "T98FDDIMAGE.R1";

// The disk of an NFD r0 file of `fileSize` bytes, or nothing when the
// signature, the map or the sizes do not agree with the file.
[[nodiscard]] std::optional<ContainerDisk> ReadNFD(DeviceIOIF* file, uint64_t fileSize);

// A new NFD r0 image of `plain` (sectors in logical order, `g` their
// layout): every sector in the map, track by track, the other slots all
// 0xFF; `pda` is the disk type the emulators keep per sector (0x90 2HD,
// 0x30 1.44 MB, 0x10 2DD).
std::vector<uint8_t> MakeNFD(const std::vector<uint8_t>& plain, const ContainerGeometry& g, uint8_t pda);
