#pragma once
// The hard-disk containers as headers before a plain dump: HDI (Anex86),
// NHD (T98-Next), THD (T98), the X68000 SCSI and SASI disks (no header of
// their own: their first records are the disk's) and the plain dump.

#include "device/containerformats.h"

std::optional<HardDiskLayout> ProbeHDI(const uint8_t* head, std::size_t headBytes, uint64_t size);
std::optional<std::vector<uint8_t>> HDIHeader(HardDiskLayout& disk);
std::optional<HardDiskLayout> ProbeNHD(const uint8_t* head, std::size_t headBytes, uint64_t size);
std::optional<std::vector<uint8_t>> NHDHeader(HardDiskLayout& disk);
std::optional<HardDiskLayout> ProbeTHD(const uint8_t* head, std::size_t headBytes, uint64_t size);
std::optional<std::vector<uint8_t>> THDHeader(HardDiskLayout& disk);
std::optional<HardDiskLayout> ProbeX68000SCSI(const uint8_t* head, std::size_t headBytes, uint64_t size);
std::optional<HardDiskLayout> ProbeX68000SASI(const uint8_t* head, std::size_t headBytes, uint64_t size);
std::optional<HardDiskLayout> ProbePlainHardDisk(const uint8_t* head, std::size_t headBytes, uint64_t size);
// No header: the dump is the whole file.
std::optional<std::vector<uint8_t>> NoHeader(HardDiskLayout& disk);
