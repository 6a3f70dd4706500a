#pragma once
// A device over a floppy container whose sectors are records stored
// anywhere in the file (D88, NFD, DIM). The volume sees every disk of the
// container as a plain run of sectors in logical order: cylinder by
// cylinder, head by head, sector numbers from 1. Each read or write goes to
// the data of the sector's record, in place; the container's headers are
// never written. A sector the container does not hold can be neither read
// nor written, and the failure names its cylinder, head and sector.
//
// The container file itself is read and written through the device it was
// opened on (normally the file device), which the container device owns.

#include <cstdint>
#include <string>
#include <vector>

#include "device/deviceio.h"

struct ContainerGeometry {
    uint32_t cylinders = 0, heads = 0, sectors = 0, sectorSize = 0;
    uint64_t Bytes() const { return uint64_t(cylinders) * heads * sectors * sectorSize; }
    uint64_t SectorCount() const { return uint64_t(cylinders) * heads * sectors; }
};

// One sector record as the container stores it.
struct SectorRecord {
    uint32_t c = 0, h = 0, r = 0;
    uint32_t size = 0;        // bytes of data the record holds
    int64_t dataOffset = 0;   // where they lie in the container file
};

// One disk of a container: its geometry and, for each logical sector, the
// file offset of its data (-1 when the container lacks the sector).
struct ContainerDisk {
    std::string name;  // the disk's own name, as stored (D88); may be empty
    bool writeProtected = false;  // the container marks the disk write-protected (D88, NFD)
    ContainerGeometry geometry;
    std::vector<int64_t> sectorData;
};

// Lays out records in logical order. The sector size is the one most
// records carry, the sectors per track the count most tracks hold of that
// size; cylinders and heads are the largest among those records. Records
// of another size, with a sector number of 0 or beyond the sectors per
// track, on a cylinder from 100 or a head from 2, or repeating a
// cylinder/head/sector already seen are left out.
ContainerDisk DiskFromRecords(const std::vector<SectorRecord>& records);

// "77/2/8/1024": cylinders, heads, sectors per track, bytes per sector.
std::string GeometryText(const ContainerGeometry& g);

class DeviceIO_Container : public DeviceIOIF {
public:
    // Takes over `file`; `kind` names the container ("D88", ...). The disks
    // follow one another in the device's byte space, each starting where
    // the one before it ends.
    DeviceIO_Container(DeviceIOIF* file, std::string kind, std::vector<ContainerDisk> disks);
    DeviceIO_Container(const DeviceIO_Container&) = delete;
    DeviceIO_Container& operator=(const DeviceIO_Container&) = delete;

    const char* GetName() override { return name_.c_str(); }
    const char* GetPath() override { return file_->GetPath(); }
    // A disk marked write-protected in the container makes the device
    // read-only, as the emulators treat it.
    bool IsReadOnly() override { return protected_ || file_->IsReadOnly(); }
    // Some disk of the container is marked write-protected.
    bool IsWriteProtected() const { return protected_; }
    [[nodiscard]] bool Read(int64_t offset, void* buffer, uint32_t length) override;
    [[nodiscard]] bool Write(int64_t offset, const void* buffer, uint32_t length) override;
    bool MakeReadOnly() override { return file_->MakeReadOnly(); }
    // Writes go to the wrapped file, so its flush is the container's.
    [[nodiscard]] bool Flush() override { return file_->Flush(); }
    void Destroy() override { delete this; }

    const std::string& Kind() const { return kind_; }
    const std::vector<ContainerDisk>& Disks() const { return disks_; }
    // Byte offset at which disk `k` begins on this device.
    uint64_t DiskBase(std::size_t k) const { return bases_[k]; }
    // The disk that holds byte `offset`, or -1.
    int DiskAt(uint64_t offset) const;
    DeviceIOIF* File() const { return file_; }

protected:
    ~DeviceIO_Container() override;

private:
    // Calls fn(fileOffset, bufferOffset, length) for each piece of the range,
    // pieces of adjacent sectors whose data lie back to back in the file
    // joined. Checks the whole range before the first call: false (and the
    // missing sector or the end of the device reported) when any part of it
    // has no data.
    template <class F>
    [[nodiscard]] bool ForEachPiece(int64_t offset, uint32_t length, F fn);

    DeviceIOIF* file_;
    std::string kind_, name_;
    std::vector<ContainerDisk> disks_;
    std::vector<uint64_t> bases_;  // one more than disks: the end
    bool protected_ = false;        // some disk is marked write-protected
};
