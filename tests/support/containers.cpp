#include "support/containers.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>

namespace {

constexpr uint32_t kCyl = 77, kHeads = 2, kSpt = 8, kSec = 1024;
constexpr uint32_t kTracks = kCyl * kHeads;

void L16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void L32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}
void B16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void B32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (24 - 8 * k));
}
uint32_t RB16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t RB32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

void Append(std::vector<uint8_t>& out, const uint8_t* p, std::size_t n) { out.insert(out.end(), p, p + n); }

// The order in which the sectors 1..spt of a track are stored.
std::vector<uint32_t> SectorOrder(uint32_t seed, uint32_t track) {
    std::vector<uint32_t> order(kSpt);
    std::iota(order.begin(), order.end(), 1u);
    if (seed) {
        std::mt19937 rng(seed * 1000 + track);
        std::shuffle(order.begin(), order.end(), rng);
    }
    return order;
}

std::vector<uint8_t> Mkfs(const std::string& options, unsigned kib, const HostFiles& files) {
    TempDir t;
    std::string vol = t / "vol.img";
    std::string out;
    if (RunShell("mkfs.fat -C " + options + " " + Quote(vol) + " " + std::to_string(kib), &out) != 0)
        throw std::runtime_error("mkfs.fat: " + out);
    for (const auto& [name, data] : files) {
        std::string host = t / name;
        WriteHostFile(host, data);
        if (RunShell("mcopy -i " + Quote(vol) + " " + Quote(host) + " ::", &out) != 0)
            throw std::runtime_error("mcopy: " + out);
    }
    return ReadHostFile(vol);
}

}  // namespace

std::vector<uint8_t> MakeFloppyVolume(const HostFiles& files) {
    return Mkfs("-F 12 -S 1024 -s 1 -f 2 -r 192 -g 2/8", kCyl * kHeads * kSpt, files);
}

std::vector<std::pair<int64_t, int64_t>> SectorMap::DataRanges() const {
    std::vector<std::pair<int64_t, int64_t>> r;
    for (const auto& d : disks)
        for (int64_t at : d)
            if (at >= 0) r.emplace_back(at, at + sectorSize);
    std::sort(r.begin(), r.end());
    return r;
}

std::vector<uint8_t> ExtractVolume(const std::string& path, const SectorMap& map, std::size_t disk) {
    auto file = ReadHostFile(path);
    const auto& sectors = map.disks.at(disk);
    std::vector<uint8_t> vol(sectors.size() * map.sectorSize, 0);
    for (std::size_t s = 0; s < sectors.size(); ++s)
        if (sectors[s] >= 0)
            std::memcpy(vol.data() + s * map.sectorSize, file.data() + sectors[s], map.sectorSize);
    return vol;
}

SectorMap WriteD88(const std::string& path, const std::vector<D88Disk>& disks) {
    SectorMap map;
    std::vector<uint8_t> file;
    for (const D88Disk& disk : disks) {
        const std::size_t base = file.size();
        const uint32_t headerSize = disk.shortTable ? 0x2A0 : 0x2B0;
        std::vector<uint8_t> head(headerSize, 0);
        std::memcpy(head.data(), disk.name.data(), std::min<std::size_t>(16, disk.name.size()));
        head[0x1B] = 0x20;  // 2HD
        std::vector<uint8_t> body;
        std::vector<int64_t> sectors(kTracks * kSpt, -1);
        for (uint32_t t = 0; t < kTracks; ++t) {
            if (disk.absentTracks.count(t)) continue;
            L32(head.data() + 0x20 + 4 * t, uint32_t(headerSize + body.size()));
            uint32_t c = t / kHeads, h = t % kHeads;
            for (uint32_t r : SectorOrder(disk.shuffleSeed, t)) {
                uint8_t rec[16] = {};
                rec[0] = uint8_t(c);
                rec[1] = uint8_t(h);
                rec[2] = uint8_t(r);
                rec[3] = 3;  // 128 << 3 = 1024
                L16(rec + 4, kSpt);
                L16(rec + 14, kSec);
                Append(body, rec, sizeof rec);
                std::size_t logical = std::size_t(t) * kSpt + (r - 1);
                sectors[logical] = int64_t(base + headerSize + body.size());
                Append(body, disk.volume.data() + logical * kSec, kSec);
            }
        }
        L32(head.data() + 0x1C, uint32_t(headerSize + body.size()));
        file.insert(file.end(), head.begin(), head.end());
        file.insert(file.end(), body.begin(), body.end());
        map.disks.push_back(sectors);
    }
    WriteHostFile(path, file);
    return map;
}

D88Tracks TracksOfVolume(const std::vector<uint8_t>& volume, uint32_t sectors, uint32_t bytes) {
    D88Tracks tracks(volume.size() / (uint64_t(sectors) * bytes));
    uint8_t n = 0;
    while ((128u << n) < bytes) ++n;
    for (std::size_t t = 0; t < tracks.size(); ++t)
        for (uint32_t r = 1; r <= sectors; ++r) {
            D88Record rec;
            rec.c = uint8_t(t / 2), rec.h = uint8_t(t % 2), rec.r = uint8_t(r), rec.n = n;
            auto from = volume.begin() + long((t * sectors + r - 1) * bytes);
            rec.data.assign(from, from + bytes);
            tracks[t].push_back(rec);
        }
    return tracks;
}

void WriteD88Tracks(const std::string& path, const std::string& name, uint8_t media, bool writeProtected,
                    const D88Tracks& tracks) {
    std::vector<uint8_t> file(0x2B0, 0);
    std::memcpy(file.data(), name.data(), std::min<std::size_t>(16, name.size()));
    file[0x1A] = writeProtected ? 0x10 : 0x00;
    file[0x1B] = media;
    for (std::size_t t = 0; t < tracks.size() && t < 164; ++t) {
        if (tracks[t].empty()) continue;
        L32(file.data() + 0x20 + 4 * t, uint32_t(file.size()));
        for (const D88Record& r : tracks[t]) {
            uint8_t rec[16] = {r.c, r.h, r.r, r.n};
            L16(rec + 4, uint32_t(tracks[t].size()));
            rec[6] = r.density;
            rec[7] = r.deleted;
            rec[8] = r.status;
            L16(rec + 14, uint32_t(r.data.size()));
            Append(file, rec, sizeof rec);
            Append(file, r.data.data(), r.data.size());
        }
    }
    L32(file.data() + 0x1C, uint32_t(file.size()));
    WriteHostFile(path, file);
}

SectorMap WriteNFD(const std::string& path, const std::vector<uint8_t>& volume, bool earlierWriter) {
    const uint32_t headerSize = 0x10A10;  // a little beyond the map's end
    std::vector<uint8_t> file(headerSize, 0);
    std::memcpy(file.data(), "T98FDDIMAGE.R0", 14);
    std::memcpy(file.data() + 0x10, "written by the test", 19);
    L32(file.data() + 0x110, headerSize);
    file[0x115] = 2;
    // Slots without a sector: C = 0xFF (all 16 bytes), or all zero as this
    // program's earlier writer left them.
    if (!earlierWriter) std::memset(file.data() + 0x120, 0xFF, 163 * 26 * 16);
    SectorMap map;
    map.disks.emplace_back(kTracks * kSpt, -1);
    for (uint32_t t = 0; t < kTracks; ++t) {
        auto order = SectorOrder(7, t);
        for (uint32_t k = 0; k < kSpt; ++k) {
            uint8_t* e = file.data() + 0x120 + (t * 26 + k) * 16;
            std::memset(e, 0, 16);
            e[0] = uint8_t(t / kHeads);
            e[1] = uint8_t(t % kHeads);
            e[2] = uint8_t(order[k]);
            e[3] = 3;
            e[4] = 1;  // MFM
            e[earlierWriter ? 11 : 10] = 0x90;
        }
        if (!earlierWriter && t == 1) {
            // A record numbered 0 after the track's sectors, as copy
            // protection leaves them: its data take room but it is no sector.
            uint8_t* e = file.data() + 0x120 + (t * 26 + kSpt) * 16;
            std::memset(e, 0, 16);
            e[1] = 1;
            e[3] = 3;
            e[10] = 0x90;
        }
    }
    // The data follow in map order.
    for (uint32_t t = 0; t < kTracks; ++t) {
        for (uint32_t r : SectorOrder(7, t)) {
            std::size_t logical = std::size_t(t) * kSpt + (r - 1);
            map.disks[0][logical] = int64_t(file.size());
            Append(file, volume.data() + logical * kSec, kSec);
        }
        if (!earlierWriter && t == 1) file.resize(file.size() + kSec, 0xA5);
    }
    WriteHostFile(path, file);
    return map;
}

SectorMap WriteDIM(const std::string& path, const std::vector<uint8_t>& volume, const std::set<uint32_t>& absent) {
    std::vector<uint8_t> file(256, 0);
    file[0] = 0;  // 2HD
    std::memcpy(file.data() + 0xAB, "DIFC HEADER  ", 13);
    SectorMap map;
    map.disks.emplace_back(kTracks * kSpt, -1);
    for (uint32_t t = 0; t < kTracks; ++t) {
        if (absent.count(t)) continue;
        file[1 + t] = 1;
        for (uint32_t s = 0; s < kSpt; ++s) {
            map.disks[0][t * kSpt + s] = int64_t(file.size());
            Append(file, volume.data() + (std::size_t(t) * kSpt + s) * kSec, kSec);
        }
    }
    WriteHostFile(path, file);
    return map;
}

std::vector<uint8_t> MakeHuman68kVolume(const std::string& text) {
    Human68kLayout l;  // 8 MiB, 1024-byte sectors, FAT16
    std::vector<uint8_t> img = BuildHuman68kImage(l);
    uint32_t root = (l.reserved + l.fats * l.sectorsPerFAT) * l.bytesPerSector;
    uint32_t data = root + l.rootEntries * 32;
    PutHuman68kEntry(img.data() + root, "HUMAN", "TXT", 0x20, 2, uint32_t(text.size()));
    SetHuman68kFAT16(img, l, 2, 0xFFFF);
    std::memcpy(img.data() + data, text.data(), text.size());
    return img;
}

std::vector<uint8_t> Human68kAsFat(const std::vector<uint8_t>& h) {
    std::vector<uint8_t> v = h;
    if (std::memcmp(h.data() + 3, "X68IPL30", 8) == 0) {
        // Already a DOS parameter block and FAT12: a PC's jump, and the
        // extended block with the root folder's label, as DOS keeps it.
        uint8_t* b = v.data();
        const uint32_t bps = h[11] | h[12] << 8, reserved = h[14] | h[15] << 8, spf = h[22] | h[23] << 8;
        const uint32_t rootEntries = h[17] | h[18] << 8;
        std::memset(b + 28, 0, 512 - 28);
        b[0] = 0xEB;
        b[1] = 0x3C;
        b[2] = 0x90;
        b[38] = 0x29;
        std::memcpy(b + 43, "NO NAME    ", 11);
        const uint8_t* root = h.data() + (reserved + h[16] * spf) * bps;
        for (uint32_t k = 0; k < rootEntries && root[32 * k]; ++k)
            if (root[32 * k] != 0xE5 && (root[32 * k + 11] & 0x1F) == 0x08) std::memcpy(b + 43, root + 32 * k, 11);
        std::memcpy(b + 54, "FAT12   ", 8);
        b[510] = 0x55;
        b[511] = 0xAA;
        return v;
    }
    uint32_t bps = RB16(h.data() + 18), spc = h[20], fats = h[21], reserved = RB16(h.data() + 22);
    uint32_t rootEntries = RB16(h.data() + 24), spf = h[29];
    uint32_t total = RB16(h.data() + 26) ? RB16(h.data() + 26) : RB32(h.data() + 30);
    const uint8_t media = h[28];
    const bool fat16 = (total - reserved - fats * spf - rootEntries * 32 / bps) / spc > 4084;
    uint8_t* b = v.data();
    std::memset(b, 0, 512);
    b[0] = 0xEB;
    b[1] = 0x3C;
    b[2] = 0x90;
    std::memcpy(b + 3, "HUMAN68K", 8);
    L16(b + 11, bps);
    b[13] = uint8_t(spc);
    L16(b + 14, reserved);
    b[16] = uint8_t(fats);
    L16(b + 17, rootEntries);
    if (total <= 0xFFFF) L16(b + 19, total);
    else L32(b + 32, total);
    b[21] = media;
    L16(b + 22, spf);
    L16(b + 24, 8);
    L16(b + 26, 2);
    b[38] = 0x29;
    std::memcpy(b + 43, "NO NAME    ", 11);
    // A label entry in the root is copied to the boot sector, as DOS keeps it.
    const uint8_t* root = h.data() + (reserved + fats * spf) * bps;
    for (uint32_t k = 0; k < rootEntries && root[32 * k]; ++k)
        if (root[32 * k] != 0xE5 && (root[32 * k + 11] & 0x1F) == 0x08) std::memcpy(b + 43, root + 32 * k, 11);
    std::memcpy(b + 54, fat16 ? "FAT16   " : "FAT12   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    for (uint32_t f = 0; fat16 && f < fats; ++f) {
        uint8_t* fat = b + (reserved + f * spf) * bps;
        for (uint32_t k = 0; k < spf * bps; k += 2) std::swap(fat[k], fat[k + 1]);
        // The two reserved entries hold the media byte the DOS way.
        const uint8_t head[4] = {media, 0xFF, 0xFF, 0xFF};
        std::memcpy(fat, head, 4);
    }
    return v;
}

PlainDisk UnwrapContainer(const std::string& path, const std::string& kind) {
    const std::vector<uint8_t> f = ReadHostFile(path);
    const uint8_t* p = f.data();
    PlainDisk d;
    auto place = [&](uint32_t c, uint32_t h, uint32_t r, const uint8_t* data) {
        uint64_t at = ((uint64_t(c) * d.heads + h) * d.sectors + r - 1) * d.secLen;
        if (d.bytes.size() < at + d.secLen) d.bytes.resize(at + d.secLen, 0);
        std::memcpy(d.bytes.data() + at, data, d.secLen);
    };
    if (kind == "D88") {
        // Records anywhere in their track: the geometry first, then the data.
        struct Rec { uint32_t c, h, r; const uint8_t* data; };
        std::vector<Rec> recs;
        for (uint32_t t = 0; t < 164; ++t) {
            uint32_t at = p[0x20 + 4 * t] | p[0x21 + 4 * t] << 8 | p[0x22 + 4 * t] << 16 | uint32_t(p[0x23 + 4 * t]) << 24;
            if (at == 0) continue;
            uint32_t count = p[at + 4] | p[at + 5] << 8;
            for (uint32_t s = 0; s < count; ++s) {
                const uint8_t* r = p + at;
                recs.push_back({r[0], r[1], r[2], r + 16});
                d.secLen = 128u << r[3];
                d.sectors = std::max<uint32_t>(d.sectors, r[2]);
                d.heads = std::max<uint32_t>(d.heads, r[1] + 1u);
                at += 16 + (r[14] | r[15] << 8);
            }
        }
        for (const Rec& r : recs) place(r.c, r.h, r.r, r.data);
    } else if (kind == "NFD") {
        // Every slot whose cylinder is not 0xFF holds a record; numbers 0
        // are no sectors but take their room.
        uint32_t at = p[0x110] | p[0x111] << 8 | p[0x112] << 16 | uint32_t(p[0x113]) << 24;
        d.heads = p[0x115];
        for (uint32_t k = 0; k < 163 * 26; ++k) {
            const uint8_t* e = p + 0x120 + 16 * k;
            if (e[0] == 0xFF || e[2] == 0) continue;
            d.secLen = 128u << e[3];
            d.sectors = std::max<uint32_t>(d.sectors, e[2]);
        }
        for (uint32_t k = 0; k < 163 * 26; ++k) {
            const uint8_t* e = p + 0x120 + 16 * k;
            if (e[0] == 0xFF) continue;
            // The disk type at byte 10, the five bytes after it reserved.
            if ((e[10] != 0x90 && e[10] != 0x30 && e[10] != 0x10) || std::any_of(e + 11, e + 16, [](uint8_t b) { return b; }))
                throw std::runtime_error("NFD slot " + std::to_string(k) + " without its disk type at byte 10");
            if (uint64_t(at) + (128u << e[3]) > f.size()) throw std::runtime_error("NFD map beyond its data");
            if (e[2] != 0) place(e[0], e[1], e[2], p + at);
            at += 128u << e[3];
        }
        if (at != f.size()) throw std::runtime_error("NFD data do not fill the file");
    } else if (kind == "DIM") {
        if (std::memcmp(p + 0xAB, "DIFC HEADER  ", 13) != 0) throw std::runtime_error("no DIM mark");
        static const struct { uint8_t type; uint32_t secLen, sectors; } kTypes[] = {
            {0, 1024, 8}, {1, 1024, 9}, {2, 512, 15}, {3, 1024, 9}, {9, 512, 18}};
        for (const auto& t : kTypes)
            if (t.type == p[0]) d.secLen = t.secLen, d.sectors = t.sectors, d.heads = 2;
        if (!d.secLen) throw std::runtime_error("unknown DIM type");
        const uint32_t track = d.secLen * d.sectors;
        uint32_t at = 256;
        for (uint32_t t = 0; t < 170; ++t)
            if (p[1 + t]) {
                d.bytes.resize(uint64_t(t + 1) * track, 0);
                std::memcpy(d.bytes.data() + uint64_t(t) * track, p + at, track);
                at += track;
            }
        if (at != f.size()) throw std::runtime_error("DIM tracks do not fill the file");
    } else if (kind == "FDI" || kind == "HDI") {
        auto le = [&](uint32_t o) { return p[o] | p[o + 1] << 8 | p[o + 2] << 16 | uint32_t(p[o + 3]) << 24; };
        d.secLen = le(16), d.sectors = le(20), d.heads = le(24);
        d.bytes.assign(f.begin() + le(8), f.begin() + le(8) + le(12));
    } else if (kind == "NHD") {
        uint32_t header = p[0x110] | p[0x111] << 8 | p[0x112] << 16 | uint32_t(p[0x113]) << 24;
        d.heads = p[0x118] | p[0x119] << 8, d.sectors = p[0x11A] | p[0x11B] << 8, d.secLen = p[0x11C] | p[0x11D] << 8;
        d.bytes.assign(f.begin() + header, f.end());
    } else if (kind == "THD") {
        d.secLen = 256, d.sectors = 33, d.heads = 8;
        d.bytes.assign(f.begin() + 256, f.end());
    } else {
        d.bytes = f;
    }
    return d;
}

uint64_t WriteX68000Disk(const std::string& path, bool scsi, const std::vector<uint8_t>& volume) {
    const uint32_t record = scsi ? 1024 : 256;
    const uint32_t start = scsi ? 32 : 64;
    const uint64_t offset = uint64_t(start) * record;
    const uint32_t length = uint32_t(volume.size() / record);
    std::vector<uint8_t> file(offset, 0);
    if (scsi) {
        std::memcpy(file.data(), "X68SCSI1", 8);
        B16(file.data() + 8, 512);
        B32(file.data() + 10, uint32_t((offset + volume.size()) / 512));
        std::memcpy(file.data() + 0x400, "\x60\x00\x00\xCA", 4);  // the IPL's first branch
    }
    uint8_t* table = file.data() + (scsi ? 0x800 : 0x400);
    std::memcpy(table, "X68K", 4);
    B32(table + 4, start + length);  // records in use
    B32(table + 8, start + length);
    std::memcpy(table + 16, "Human68k", 8);
    B32(table + 24, start);
    B32(table + 28, length);
    file.insert(file.end(), volume.begin(), volume.end());
    WriteHostFile(path, file);
    return offset;
}

std::vector<uint64_t> WritePC98Disk(const std::string& path, const PC98Disk& g,
                                    const std::vector<std::pair<uint32_t, uint32_t>>& parts) {
    const uint32_t header = g.thd ? 256 : 0;
    const uint64_t cylBytes = uint64_t(g.secLen) * g.sectors * g.heads;
    std::vector<uint8_t> file(header + cylBytes * g.cylinders, 0);
    if (g.thd) L16(file.data(), g.cylinders);
    uint8_t* disk = file.data() + header;
    // A stand-in IPL: a branch and the usual mark.
    disk[0] = 0xEB;
    disk[1] = 0x0A;
    std::memcpy(disk + 4, "IPL1", 4);
    std::vector<uint64_t> offsets;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        auto [first, last] = parts[k];
        uint8_t* e = disk + g.secLen + 32 * k;
        e[0] = 0xA0;  // bootable, DOS
        e[1] = 0xA1;
        L16(e + 6, first);   // IPL at sector 0, head 0 of the first cylinder
        L16(e + 10, first);  // data from there
        e[12] = uint8_t(g.sectors - 1);
        e[13] = uint8_t(g.heads - 1);
        L16(e + 14, last);
        std::string name = "PART" + std::to_string(k + 1);
        std::memset(e + 16, ' ', 16);  // padded with spaces, as the system's own tools write it
        std::memcpy(e + 16, name.data(), name.size());
        uint64_t at = cylBytes * first;
        uint64_t bytes = cylBytes * (last - first + 1);
        std::string number = std::to_string(k + 1);
        std::string body = "partition " + number + "\n";
        // The volume's own sectors are 512 bytes; its hidden sectors count them.
        auto vol = Mkfs("-F 16 -s 1 -g " + std::to_string(g.heads) + "/" + std::to_string(g.sectors) + " -h " +
                            std::to_string(at / 512),
                        unsigned(bytes / 1024), {{"PART" + number + ".TXT", {body.begin(), body.end()}}});
        std::memcpy(disk + at, vol.data(), std::min<std::size_t>(vol.size(), bytes));
        offsets.push_back(header + at);
    }
    WriteHostFile(path, file);
    return offsets;
}

uint64_t WriteATDisk(const std::string& path, unsigned mib) {
    WriteHostFile(path, std::vector<uint8_t>(std::size_t(mib) << 20, 0));
    std::string out;
    if (RunShell("echo 'start=2048, type=6' | sfdisk -q " + Quote(path), &out) != 0)
        throw std::runtime_error("sfdisk: " + out);
    uint64_t at = 2048 * 512;
    auto vol = Mkfs("-F 16 -s 1 -h 2048", unsigned(((uint64_t(mib) << 20) - at) / 1024),
                    {{"PART1.TXT", {'a', 't', '\n'}}});
    WriteRange(path, at, vol);
    return at;
}

std::vector<uint8_t> ReadRange(const std::string& path, uint64_t offset, uint64_t length) {
    auto all = ReadHostFile(path);
    return std::vector<uint8_t>(all.begin() + long(offset), all.begin() + long(offset + length));
}

void WriteRange(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
