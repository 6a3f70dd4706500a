#include "device/floppyimage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device/messages.h"

namespace {

uint32_t SectorBytes(const StoredSector& s) { return s.length; }

bool Uniform(const uint8_t* p, uint32_t n) {
    for (uint32_t k = 1; k < n; ++k)
        if (p[k] != p[0]) return false;
    return true;
}

class StoredSource : public FloppyTrackSource {
public:
    StoredSource(DeviceIOIF* file, StoredDisk disk) : file_(file), disk_(std::move(disk)) {}
    const FloppyDiskInfo& Info() const override { return disk_.info; }
    bool ReadTrack(uint32_t c, uint32_t h, FloppyTrack& out) override {
        out = FloppyTrack{};
        out.cylinder = c;
        out.head = h;
        for (const StoredTrack& t : disk_.tracks) {
            if (t.cylinder != c || t.head != h) continue;
            for (const StoredSector& s : t.sectors) {
                FloppySector sector = s.id;
                if (!s.inMemory) {
                    sector.data.assign(SectorBytes(s), s.fill >= 0 ? uint8_t(s.fill) : 0);
                    if (s.fill < 0 && s.at >= 0 && s.length > 0 &&
                        !file_->Read(s.at, sector.data.data(), s.length))
                        return false;
                }
                out.sectors.push_back(std::move(sector));
            }
        }
        return true;
    }

private:
    DeviceIOIF* file_;
    StoredDisk disk_;
};

}  // namespace

int SizeCode(uint32_t bytes) {
    for (int n = 0; n <= 7; ++n)
        if ((128u << n) == bytes) return n;
    return -1;
}

FloppyMedia MediaOf(const ContainerGeometry& g) {
    if (g.sectorSize == 1024 && g.sectors == 8) return FloppyMedia::k2HD;
    if (g.sectorSize == 1024 && g.sectors == 9) return FloppyMedia::k2HS;
    if (g.sectorSize == 512 && g.sectors == 15) return FloppyMedia::k2HC;
    if (g.sectorSize == 512 && g.sectors == 18) return FloppyMedia::k2HQ;
    if (g.cylinders <= 42) return FloppyMedia::k2D;
    return FloppyMedia::k2DD;
}

ContainerDisk LayoutStoredDisk(const StoredDisk& disk) {
    std::vector<SectorRecord> records;
    int64_t index = 0;
    for (const StoredTrack& t : disk.tracks)
        for (const StoredSector& s : t.sectors) {
            SectorRecord r;
            r.c = s.id.c;
            r.h = s.id.h;
            r.r = s.id.r;
            // Only data of the full size the ID claims is a sector of the volume.
            r.size = s.length == (128u << (s.id.n & 7)) ? s.length : 0;
            r.dataOffset = index++;
            records.push_back(r);
        }
    ContainerDisk d = DiskFromRecords(records);
    d.name = disk.info.name;
    d.writeProtected = disk.info.writeProtected;
    return d;
}

DeviceIO_FloppyImage::DeviceIO_FloppyImage(DeviceIOIF* file, std::string kind, StoredDisk disk)
    : DeviceIO_Container(file, std::move(kind), {LayoutStoredDisk(disk)}), disk_(std::move(disk)) {
    std::vector<StoredSector*> flat;
    for (StoredTrack& t : disk_.tracks)
        for (StoredSector& s : t.sectors) flat.push_back(&s);
    for (int64_t k : Disks()[0].sectorData) places_.push_back(k < 0 ? nullptr : flat[std::size_t(k)]);
}

template <class F>
bool DeviceIO_FloppyImage::Walk(int64_t offset, uint32_t length, bool writing, F fn) {
    const ContainerGeometry& g = Disks()[0].geometry;
    if (offset < 0 || uint64_t(offset) + length > g.Bytes()) {
        ShowSystemError(offset < 0 ? EINVAL : EIO);
        return false;
    }
    // Every sector of the range is checked before the first is touched.
    for (int pass = 0; pass < 2; ++pass) {
        uint64_t pos = uint64_t(offset);
        uint32_t done = 0;
        while (done < length) {
            uint64_t sector = pos / g.sectorSize;
            uint32_t within = uint32_t(pos % g.sectorSize);
            uint32_t n = std::min<uint32_t>(length - done, g.sectorSize - within);
            StoredSector* s = places_[sector];
            if (pass == 0) {
                uint32_t c = uint32_t(sector / (uint64_t(g.heads) * g.sectors));
                uint32_t h = uint32_t(sector / g.sectors % g.heads);
                uint32_t r = uint32_t(sector % g.sectors) + 1;
                if (!s) {
                    ShowMessage(1311, c, h, r, Kind());
                    return false;
                }
                if (s->id.crcError) {
                    ShowMessage(2000, c, h, r, Kind());
                    return false;
                }
                if (writing && !s->inMemory && s->fill >= 0 && s->fillAt < 0) {
                    ShowMessage(2001, c, h, r, Kind());
                    return false;
                }
            } else if (!fn(*s, within, done, n, sector)) {
                return false;
            }
            pos += n;
            done += n;
        }
    }
    return true;
}

bool DeviceIO_FloppyImage::Read(int64_t offset, void* buffer, uint32_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    return Walk(offset, length, false, [&](StoredSector& s, uint32_t within, uint32_t done, uint32_t n, uint64_t) {
        if (s.inMemory) {
            std::memcpy(p + done, s.id.data.data() + within, n);
            return true;
        }
        if (s.fill >= 0) {
            std::memset(p + done, s.fill, n);
            return true;
        }
        return File()->Read(s.at + within, p + done, n);
    });
}

bool DeviceIO_FloppyImage::Write(int64_t offset, const void* buffer, uint32_t length) {
    if (IsReadOnly()) return false;
    const auto* p = static_cast<const uint8_t*>(buffer);
    const uint32_t size = Disks()[0].geometry.sectorSize;
    // A sector kept as one byte takes only data of one byte, whole.
    bool fits = true;
    if (!Walk(offset, length, true, [&](StoredSector& s, uint32_t within, uint32_t done, uint32_t n, uint64_t sector) {
        if (s.inMemory || s.fill < 0) return true;
        std::vector<uint8_t> merged(size, uint8_t(s.fill));
        std::memcpy(merged.data() + within, p + done, n);
        if (!Uniform(merged.data(), size) || merged[0] == s.reservedFill) {
            const ContainerGeometry& g = Disks()[0].geometry;
            ShowMessage(2001, uint32_t(sector / (uint64_t(g.heads) * g.sectors)), uint32_t(sector / g.sectors % g.heads),
                        uint32_t(sector % g.sectors) + 1, Kind());
            fits = false;
        }
        return fits;
    }))
        return false;
    return Walk(offset, length, true, [&](StoredSector& s, uint32_t within, uint32_t done, uint32_t n, uint64_t) {
        if (s.inMemory) {
            std::vector<uint8_t> merged = s.id.data;
            std::memcpy(merged.data() + within, p + done, n);
            if (!StoreEncoded(s, merged.data())) return false;
            s.id.data = std::move(merged);
            return true;
        }
        if (s.fill >= 0) {
            const uint8_t b = p[done];
            if (b == s.fill) return true;
            if (!File()->Write(s.fillAt, &b, 1)) return false;
            s.fill = b;
            return true;
        }
        // Every copy of an unstable sector gets the same data.
        for (uint32_t k = 0; k < std::max(1u, s.copies); ++k)
            if (!File()->Write(s.at + int64_t(k) * s.length + within, p + done, n)) return false;
        return true;
    });
}

bool DeviceIO_FloppyImage::StoreEncoded(StoredSector&, const uint8_t*) {
    ShowSystemError(EROFS);
    return false;
}

std::unique_ptr<FloppyTrackSource> StoredTrackSource(DeviceIOIF* file, StoredDisk disk) {
    return std::make_unique<StoredSource>(file, std::move(disk));
}

bool DeviceIO_Memory::Read(int64_t offset, void* buffer, uint32_t length) {
    if (offset < 0 || uint64_t(offset) + length > bytes.size()) return false;
    std::memcpy(buffer, bytes.data() + offset, length);
    return true;
}

bool DeviceIO_Memory::Write(int64_t offset, const void* buffer, uint32_t length) {
    if (offset < 0) return false;
    if (bytes.size() < uint64_t(offset) + length) bytes.resize(std::size_t(offset) + length, 0);
    std::memcpy(bytes.data() + offset, buffer, length);
    return true;
}

FloppyTrack RegularTrack(const std::vector<uint8_t>& plain, const ContainerGeometry& g, uint32_t c, uint32_t h) {
    FloppyTrack t;
    t.cylinder = c;
    t.head = h;
    const int n = SizeCode(g.sectorSize);
    for (uint32_t r = 1; r <= g.sectors; ++r) {
        FloppySector s;
        s.c = uint8_t(c);
        s.h = uint8_t(h);
        s.r = uint8_t(r);
        s.n = uint8_t(n < 0 ? 0 : n);
        const uint64_t at = ((uint64_t(c) * g.heads + h) * g.sectors + (r - 1)) * g.sectorSize;
        s.data.assign(g.sectorSize, 0);
        if (at < plain.size())
            std::memcpy(s.data.data(), plain.data() + at, std::min<uint64_t>(g.sectorSize, plain.size() - at));
        t.sectors.push_back(std::move(s));
    }
    return t;
}

std::optional<std::vector<uint8_t>> MakeFloppyContainer(const FloppyContainerFormat& format,
                                                        const std::vector<uint8_t>& plain, const ContainerGeometry& g,
                                                        FloppyMedia media, const std::string& name) {
    auto* memory = new DeviceIO_Memory;
    std::unique_ptr<DeviceIOIF, DeviceDestroyer> own(memory);
    auto sink = format.create(memory);
    FloppyDiskInfo info;
    info.name = name;
    info.media = media;
    info.cylinders = g.cylinders;
    info.heads = g.heads;
    info.geometry = g;
    std::vector<FloppyLoss> losses;
    if (!sink || !sink->Begin(info, losses)) return std::nullopt;
    for (uint32_t c = 0; c < g.cylinders; ++c)
        for (uint32_t h = 0; h < g.heads; ++h)
            if (!sink->WriteTrack(RegularTrack(plain, g, c, h), losses)) return std::nullopt;
    if (!sink->Finish()) return std::nullopt;
    return memory->bytes;
}

bool PutBytes(DeviceIOIF* file, uint64_t at, const void* data, std::size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        uint32_t piece = uint32_t(std::min<std::size_t>(n, 1u << 24));
        if (!file->Write(int64_t(at), p, piece)) return false;
        at += piece;
        p += piece;
        n -= piece;
    }
    return true;
}
