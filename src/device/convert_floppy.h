#pragma once
// The floppy containers the program has always read and written, as
// track sources and sinks: plain dumps (known by their size), FDI (the
// Anex86 header before a plain dump), D88 (every disk of the file, every
// record as stored), NFD r0 (a fixed map of sector IDs, then the data) and
// DIM (the X68000 header with a map of present tracks).

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/containerformats.h"

std::unique_ptr<FloppyTrackSource> OpenPlainFloppy(DeviceIOIF* file, uint64_t size, std::size_t disk);
std::unique_ptr<FloppyTrackSink> CreatePlainFloppy(DeviceIOIF* file);
std::unique_ptr<FloppyTrackSource> OpenFDI(DeviceIOIF* file, uint64_t size, std::size_t disk);
std::unique_ptr<FloppyTrackSink> CreateFDI(DeviceIOIF* file);
std::unique_ptr<FloppyTrackSource> OpenD88Disk(DeviceIOIF* file, uint64_t size, std::size_t disk);
std::unique_ptr<FloppyTrackSink> CreateD88Disk(DeviceIOIF* file);
std::unique_ptr<FloppyTrackSource> OpenNFD0(DeviceIOIF* file, uint64_t size, std::size_t disk);
std::unique_ptr<FloppyTrackSink> CreateNFD0(DeviceIOIF* file);
std::unique_ptr<FloppyTrackSource> OpenDIMDisk(DeviceIOIF* file, uint64_t size, std::size_t disk);
std::unique_ptr<FloppyTrackSink> CreateDIMDisk(DeviceIOIF* file);

// The plain floppy dump sizes and their layouts; nullptr for another size.
const ContainerGeometry* PlainFloppyGeometry(uint64_t bytes);

// What a sink that keeps only the regular layout `g` loses of `track`:
// sectors of another size, marks, error statuses, duplicate, missing,
// extra and foreign IDs, single density. `byPlace` set: the sector data
// to write, one per sector number 1..S (nullptr where missing).
void RegularTrackLosses(const FloppyTrack& track, const ContainerGeometry& g, std::vector<FloppyLoss>& losses,
                        std::vector<const FloppySector*>& byPlace);
