#pragma once
// Floppy containers whose sectors are not all plain runs of bytes in the
// file: some are kept as one repeated byte (IMD, Virtual98 FDD), some as
// several copies of an unstable read (NFD r1), some only inside an encoded
// track (HFE), some flagged as read with a CRC error. A reader describes
// the disk as it is stored, track by track; from that description come the
// volume's device (sectors in logical order, as for D88) and the track
// source that conversions read.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/containerdevice.h"
#include "device/containerformats.h"

// One sector as a container keeps it. `id` holds its ID field and marks;
// its data lie in the file at `at` (`copies` times back to back), or are
// `fill` repeated (stored at `fillAt` when the container keeps that byte
// where it can be rewritten), or are held in `id.data` (`inMemory`).
struct StoredSector {
    FloppySector id;
    uint32_t length = 0;  // bytes of data
    int64_t at = -1;
    uint32_t copies = 1;
    int fill = -1;
    int64_t fillAt = -1;
    int reservedFill = -1;  // a byte value the container cannot keep as the fill (FDD: 0xFF)
    bool inMemory = false;
    uint64_t tag = 0;  // the container's own note (HFE: where the data field's bits begin)
};

struct StoredTrack {
    uint32_t cylinder = 0, head = 0;
    std::vector<StoredSector> sectors;
};

struct StoredDisk {
    FloppyDiskInfo info;
    std::vector<StoredTrack> tracks;  // only the tracks the container holds
};

// The volume's device over a stored disk: sectors in logical order,
// cylinder by cylinder, head by head, numbers from 1, laid out as
// DiskFromRecords lays out D88 records. Reading a sector flagged with a
// CRC error fails naming it; so does writing it. A sector kept as one
// repeated byte takes a write only when the new data are one repeated byte
// too and the container stores that byte; any other write to it is refused
// before anything is written.
class DeviceIO_FloppyImage : public DeviceIO_Container {
public:
    DeviceIO_FloppyImage(DeviceIOIF* file, std::string kind, StoredDisk disk);
    [[nodiscard]] bool Read(int64_t offset, void* buffer, uint32_t length) override;
    [[nodiscard]] bool Write(int64_t offset, const void* buffer, uint32_t length) override;
    const StoredDisk& Stored() const { return disk_; }

protected:
    // Writes the data of a sector held in memory back into the file
    // (HFE re-encodes its data field); false when it cannot (reported).
    [[nodiscard]] virtual bool StoreEncoded(StoredSector& sector, const uint8_t* data);

private:
    template <class F>
    [[nodiscard]] bool Walk(int64_t offset, uint32_t length, bool writing, F fn);

    StoredDisk disk_;
    std::vector<StoredSector*> places_;  // per logical sector; nullptr: absent
};

// The logical layout of a stored disk (sector data offsets are indexes
// into the disk's sectors counted track after track).
ContainerDisk LayoutStoredDisk(const StoredDisk& disk);

// A track source over a stored disk in `file` (not owned).
std::unique_ptr<FloppyTrackSource> StoredTrackSource(DeviceIOIF* file, StoredDisk disk);

// A device holding its bytes in memory, for images made whole before
// they are written out.
class DeviceIO_Memory : public DeviceIOIF {
public:
    const char* GetName() override { return "memory"; }
    const char* GetPath() override { return ""; }
    bool IsReadOnly() override { return false; }
    [[nodiscard]] bool Read(int64_t offset, void* buffer, uint32_t length) override;
    [[nodiscard]] bool Write(int64_t offset, const void* buffer, uint32_t length) override;
    bool MakeReadOnly() override { return false; }
    void Destroy() override { delete this; }
    std::vector<uint8_t> bytes;
};

// The tracks of a plain dump of regular layout `g`: sectors 1..S on every
// track, IDs matching their place, all MFM.
FloppyTrack RegularTrack(const std::vector<uint8_t>& plain, const ContainerGeometry& g, uint32_t c, uint32_t h);

// A whole container written by `format`'s sink from a plain dump; nothing
// when the sink fails.
std::optional<std::vector<uint8_t>> MakeFloppyContainer(const FloppyContainerFormat& format,
                                                        const std::vector<uint8_t>& plain, const ContainerGeometry& g,
                                                        FloppyMedia media, const std::string& name);

// The size code N of a sector of `bytes` bytes (128 << N), or -1.
int SizeCode(uint32_t bytes);
// The media kind of a regular geometry.
FloppyMedia MediaOf(const ContainerGeometry& g);

// Writes `n` bytes at `at` of `file`, a reported failure giving false.
[[nodiscard]] bool PutBytes(DeviceIOIF* file, uint64_t at, const void* data, std::size_t n);
