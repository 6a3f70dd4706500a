#pragma once
// The floppy containers of emulators and floppy emulators besides D88,
// NFD r0 and DIM, and the hard-disk headers of two PC-9801 emulators:
//   NFD r1 (T98-Next): per-track tables of sector IDs, unstable sectors
//     kept as several copies, special reads;
//   IMD (ImageDisk): an ASCII header, then tracks of sector records, a
//     record holding the data, or one byte the sector is filled with, or
//     nothing, with deleted-data and data-error kinds;
//   FDD (Virtual98, "VFD1.00"): a fixed map of sector IDs that point at
//     their data, or name the byte a sector is filled with;
//   DCP/DCU (Disk Copy Pro): a disk type, a map of the tracks present, and
//     the present tracks' data; no signature, so named by extension;
//   HFE (HxC floppy emulators): MFM bit cells of every track, both sides,
//     decoded into sectors by their ID and data marks and CRCs.
// Each reader gives the disk as stored (nothing when the file is not that
// container, or its tables and sizes disagree); each sink writes a new one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/containerformats.h"
#include "device/floppyimage.h"

inline constexpr const char* kIMDKind = "IMD";
inline constexpr const char* kNFD1Kind = "NFD r1";
inline constexpr const char* kFDDKind = "FDD";
inline constexpr const char* kDCPKind = "DCP";
inline constexpr const char* kHFEKind = "HFE";

[[nodiscard]] std::optional<StoredDisk> ReadNFD1(DeviceIOIF* file, uint64_t size);
std::unique_ptr<FloppyTrackSink> NFD1Sink(DeviceIOIF* file);

[[nodiscard]] std::optional<StoredDisk> ReadIMD(DeviceIOIF* file, uint64_t size);
std::unique_ptr<FloppyTrackSink> IMDSink(DeviceIOIF* file);

[[nodiscard]] std::optional<StoredDisk> ReadFDD(DeviceIOIF* file, uint64_t size);
std::unique_ptr<FloppyTrackSink> FDDSink(DeviceIOIF* file);

// `named`: the file's name says DCP/DCU; without it only the sizes speak,
// which is too little to take the file for one.
[[nodiscard]] std::optional<StoredDisk> ReadDCP(DeviceIOIF* file, uint64_t size);
std::unique_ptr<FloppyTrackSink> DCPSink(DeviceIOIF* file);
// Whether `path` ends in .dcp or .dcu (any case).
bool NamedDCP(const std::string& path);

[[nodiscard]] std::optional<StoredDisk> ReadHFE(DeviceIOIF* file, uint64_t size);
std::unique_ptr<FloppyTrackSink> HFESink(DeviceIOIF* file);
// The device over an HFE file: writes re-encode the sector's data field
// and its CRC in the track's bits, leaving every other bit as it was.
// nullptr when `file` is not an HFE file with sectors (then still the caller's).
DeviceIO_FloppyImage* OpenHFEDevice(DeviceIOIF* file, uint64_t size);

// Virtual98 hard disks ("VHD1.00", a 220-byte header) and SL9821 ones (a
// 512-byte header), each followed by the plain disk.
std::optional<HardDiskLayout> ProbeVHD(const uint8_t* head, std::size_t headBytes, uint64_t size);
std::optional<std::vector<uint8_t>> VHDHeader(HardDiskLayout& disk);
std::optional<HardDiskLayout> ProbeSLH(const uint8_t* head, std::size_t headBytes, uint64_t size);
std::optional<std::vector<uint8_t>> SLHHeader(HardDiskLayout& disk);
