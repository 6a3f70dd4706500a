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

namespace {
uint16_t Crc16(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> DecodeHFESide(const std::vector<uint8_t>& f, uint32_t block, uint32_t len, int side);
}  // namespace

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
    } else if (kind == "SLH") {
        if (std::memcmp(p, "HDIM", 4) != 0) throw std::runtime_error("no HDIM");
        auto le = [&](std::size_t o) { return p[o] | p[o + 1] << 8 | p[o + 2] << 16 | uint32_t(p[o + 3]) << 24; };
        d.secLen = le(0x0C), d.heads = le(0x14), d.sectors = le(0x18);
        const uint64_t bytes = le(4) | uint64_t(le(8)) << 32;
        if (bytes != uint64_t(d.secLen) * le(0x10) * d.heads * d.sectors || 512 + bytes != f.size())
            throw std::runtime_error("SL9821 header disagrees with the disk");
        d.bytes.assign(f.begin() + 512, f.end());
    } else if (kind == "Virtual98 HDD") {
        if (std::memcmp(p, "VHD1.00", 7) != 0) throw std::runtime_error("no VHD1.00");
        d.secLen = p[0x8E] | p[0x8F] << 8, d.sectors = p[0x90], d.heads = p[0x91];
        d.bytes.assign(f.begin() + 220, f.end());
    } else if (kind == "NFD r1" || kind == "IMD" || kind == "FDD" || kind == "DCP" || kind == "HFE") {
        // Every sector with its ID, then placed by the largest IDs seen.
        struct Rec { uint32_t c, h, r; std::vector<uint8_t> data; };
        std::vector<Rec> recs;
        auto le = [&](std::size_t o, int n) { uint32_t v = 0; for (int k = n - 1; k >= 0; --k) v = v << 8 | p[o + k]; return v; };
        if (kind == "NFD r1") {
            if (std::memcmp(p, "T98FDDIMAGE.R1", 14) != 0) throw std::runtime_error("no NFD r1 signature");
            std::size_t at = le(0x110, 4);
            for (uint32_t t = 0; t < 164; ++t) {
                std::size_t table = le(0x120 + 4 * t, 4);
                if (!table) continue;
                for (uint32_t k = 0; k < le(table, 2); ++k) {
                    const uint8_t* e = p + table + 16 + 16 * k;
                    recs.push_back({e[0], e[1], e[2], {p + at, p + at + (128u << e[3])}});
                    at += (128u << e[3]) * (e[10] ? e[10] + 1u : 1u);
                }
                for (uint32_t k = 0; k < le(table + 2, 2); ++k) at += le(table + 16 + 16 * (le(table, 2) + k) + 10, 4);
            }
        } else if (kind == "IMD") {
            std::size_t at = std::find(f.begin(), f.end(), 0x1A) - f.begin() + 1;
            while (at < f.size()) {
                const uint8_t* t = p + at;
                const uint32_t n = t[3], len = 128u << t[4];
                const uint8_t* numbers = t + 5;
                const uint8_t* cyls = t[2] & 0x80 ? numbers + n : nullptr;
                const uint8_t* heads = t[2] & 0x40 ? numbers + n * (cyls ? 2 : 1) : nullptr;
                at += 5 + n * (1 + (cyls ? 1 : 0) + (heads ? 1 : 0));
                for (uint32_t k = 0; k < n; ++k) {
                    const uint8_t type = p[at++];
                    Rec r{cyls ? cyls[k] : t[1], heads ? heads[k] : t[2] & 1u, numbers[k], {}};
                    if (type % 2) r.data.assign(p + at, p + at + len), at += len;
                    else if (type) r.data.assign(len, p[at++]);
                    if (type) recs.push_back(r);
                }
            }
        } else if (kind == "FDD") {
            if (std::memcmp(p, "VFD1.00", 7) != 0) throw std::runtime_error("no VFD1.00");
            for (uint32_t k = 0; k < 160 * 26; ++k) {
                const uint8_t* e = p + 0xDC + 12 * k;
                if (e[0] == 0xFF) continue;
                const uint32_t len = 128u << e[3], at = le(0xDC + 12 * k + 8, 4);
                recs.push_back({e[0], e[1], e[2], e[4] != 0xFF ? std::vector<uint8_t>(len, e[4])
                                                                : std::vector<uint8_t>(p + at, p + at + len)});
            }
        } else if (kind == "DCP") {
            const struct { uint8_t code; uint32_t spt, len; } types[] = {{1, 8, 1024}, {2, 15, 512}, {3, 18, 512}, {4, 8, 512}, {5, 9, 512}};
            uint32_t spt = 0, len = 0;
            for (auto t : types)
                if (t.code == p[0]) spt = t.spt, len = t.len;
            std::size_t at = 162;
            for (uint32_t t = 0; t < 160; ++t)
                if (p[1 + t])
                    for (uint32_t r = 1; r <= spt; ++r, at += len) recs.push_back({t / 2, t % 2, r, {p + at, p + at + len}});
        } else {
            if (std::memcmp(p, "HXCPICFE", 8) != 0) throw std::runtime_error("no HFE signature");
            const uint32_t list = le(18, 2) * 512;
            for (uint32_t c = 0; c < p[9]; ++c)
                for (int side = 0; side < p[10]; ++side) {
                    auto cells = DecodeHFESide(f, le(list + 4 * c, 2), le(list + 4 * c + 2, 2), side);
                    auto byteAt = [&](std::size_t at) { uint8_t v = 0; for (int b = 0; b < 8; ++b) v = uint8_t(v << 1 | cells[at + 2 * b + 1]); return v; };
                    std::vector<uint8_t> id;
                    for (std::size_t k = 0; k + 48 + 16 < cells.size(); ++k) {
                        bool sync = true;
                        for (int j = 0; j < 48 && sync; ++j) sync = cells[k + j] == (0x4489 >> (15 - j % 16) & 1);
                        if (!sync) continue;
                        std::size_t at = k + 48;
                        const uint8_t mark = byteAt(at);
                        const std::size_t n = mark == 0xFE ? 4 : id.size() == 4 ? 128u << id[3] : 0;
                        if (!n || at + 16 * (n + 3) > cells.size()) continue;
                        std::vector<uint8_t> field = {0xA1, 0xA1, 0xA1};
                        for (std::size_t b = 0; b < n + 3; ++b) field.push_back(byteAt(at + 16 * b));
                        std::vector<uint8_t> body(field.begin(), field.end() - 2);
                        const bool good = Crc16(body) == (field[field.size() - 2] << 8 | field.back());
                        if (mark == 0xFE) id = good ? std::vector<uint8_t>(field.begin() + 4, field.begin() + 8) : std::vector<uint8_t>{};
                        else if (good) recs.push_back({id[0], id[1], id[2], {field.begin() + 4, field.end() - 2}}), id.clear();
                        k = at + 16 * (n + 3) - 1;
                    }
                }
        }
        for (const Rec& r : recs) {
            d.secLen = std::max<uint32_t>(d.secLen, uint32_t(r.data.size()));
            d.sectors = std::max(d.sectors, r.r);
            d.heads = std::max(d.heads, r.h + 1);
        }
        for (const Rec& r : recs)
            if (r.data.size() == d.secLen) place(r.c, r.h, r.r, r.data.data());
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

namespace {

bool Uniform(const uint8_t* p, std::size_t n) { return std::all_of(p, p + n, [&](uint8_t b) { return b == p[0]; }); }
const uint8_t* SectorOf(const std::vector<uint8_t>& v, uint32_t t, uint32_t r) { return v.data() + (std::size_t(t) * kSpt + r - 1) * kSec; }

uint16_t Crc16(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes)
        for (int k = 7; k >= 0; --k) {
            bool top = ((crc >> 15) & 1) != ((b >> k) & 1);
            crc = uint16_t(crc << 1);
            if (top) crc ^= 0x1021;
        }
    return crc;
}

}  // namespace

SectorMap WriteNFD1(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o) {
    // Track tables right after the fixed part, each 16 + 8 x 16 bytes (+16 for a special read).
    const uint32_t tableBytes = 16 + kSpt * 16;
    const uint32_t headerSize = 0x3C0 + kTracks * tableBytes + (o.retries ? 16 : 0);
    std::vector<uint8_t> file(headerSize, 0);
    std::memcpy(file.data(), "T98FDDIMAGE.R1", 14);
    std::memcpy(file.data() + 0x10, "r1 by the test", 14);
    L32(file.data() + 0x110, headerSize);
    file[0x115] = 2;
    SectorMap map;
    map.disks.emplace_back(kTracks * kSpt, -1);
    uint32_t table = 0x3C0;
    for (uint32_t t = 0; t < kTracks; ++t) {
        L32(file.data() + 0x120 + 4 * t, table);
        const bool special = o.retries && t == 0;
        L16(file.data() + table, kSpt);
        L16(file.data() + table + 2, special ? 1 : 0);
        auto order = SectorOrder(13, t);
        for (uint32_t k = 0; k < kSpt; ++k) {
            uint8_t* e = file.data() + table + 16 + 16 * k;
            e[0] = uint8_t(t / 2), e[1] = uint8_t(t % 2), e[2] = uint8_t(order[k]), e[3] = 3, e[4] = 1;
            e[10] = special && order[k] == 1 ? 2 : 0;  // two retries: three copies
            e[11] = 0x90;
            std::size_t logical = std::size_t(t) * kSpt + order[k] - 1;
            map.disks[0][logical] = int64_t(file.size());
            for (int copy = 0; copy < 1 + e[10]; ++copy) Append(file, volume.data() + logical * kSec, kSec);
        }
        table += tableBytes;
        if (special) {
            uint8_t* d = file.data() + table;
            d[0] = 0x46, d[3] = 1, d[4] = 3;
            L32(d + 10, 300);  // 300 bytes of a diagnostic read
            table += 16;
            file.resize(file.size() + 300, 0xE5);
        }
    }
    WriteHostFile(path, file);
    return map;
}

SectorMap WriteIMD(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o) {
    std::string head = "IMD 1.18: 09/12/2026 10:00:00\r\nwritten by the test\r\n\x1A";
    std::vector<uint8_t> file(head.begin(), head.end());
    SectorMap map;
    map.disks.emplace_back(kTracks * kSpt, -1);
    for (uint32_t t = 0; t < kTracks; ++t) {
        const uint32_t c = t / 2, h = t % 2;
        auto order = SectorOrder(17, t);
        // Odd tracks carry a cylinder map (all the same cylinder), as some dumps do.
        const uint8_t track[5] = {3, uint8_t(c), uint8_t(h | (t % 2 ? 0x80 : 0)), uint8_t(kSpt), 3};
        Append(file, track, 5);
        for (uint32_t r : order) file.push_back(uint8_t(r));
        if (t % 2)
            for (uint32_t k = 0; k < kSpt; ++k) file.push_back(uint8_t(c));
        for (uint32_t r : order) {
            const std::size_t logical = std::size_t(t) * kSpt + r - 1;
            const uint8_t* data = SectorOf(volume, t, r);
            const bool error = int(logical) == o.errorSector;
            if (o.fillUniform && Uniform(data, kSec)) {
                file.push_back(error ? 6 : 2);
                file.push_back(data[0]);
            } else {
                file.push_back(error ? 5 : 1);
                map.disks[0][logical] = int64_t(file.size());
                Append(file, data, kSec);
            }
        }
    }
    WriteHostFile(path, file);
    return map;
}

SectorMap WriteFDD(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o) {
    const uint32_t mapAt = 0xDC, dataAt = 0xC3FC;
    std::vector<uint8_t> file(dataAt, 0);
    std::memcpy(file.data(), "VFD1.00", 7);
    std::memcpy(file.data() + 8, "fdd by the test", 15);
    file[0x8A] = file[0x8B] = 0xFF;
    std::memset(file.data() + mapAt, 0xFF, 160 * 26 * 12);
    SectorMap map;
    map.disks.emplace_back(kTracks * kSpt, -1);
    // The data stored last track first, so that no offset follows from the map's order.
    std::vector<std::pair<std::size_t, uint8_t*>> pending;
    for (uint32_t t = 0; t < kTracks; ++t) {
        auto order = SectorOrder(19, t);
        for (uint32_t k = 0; k < kSpt; ++k) {
            uint8_t* e = file.data() + mapAt + (t * 26 + k) * 12;
            e[0] = uint8_t(t / 2), e[1] = uint8_t(t % 2), e[2] = uint8_t(order[k]), e[3] = 3;
            e[5] = 0, e[6] = 1, e[7] = 1;
            const uint8_t* data = SectorOf(volume, t, order[k]);
            e[4] = o.fillUniform && Uniform(data, kSec) && data[0] != 0xFF ? data[0] : 0xFF;
        }
    }
    for (uint32_t t = kTracks; t-- > 0;)
        for (uint32_t k = 0; k < kSpt; ++k) {
            uint8_t* e = file.data() + mapAt + (t * 26 + k) * 12;
            if (e[4] != 0xFF) continue;
            L32(e + 8, uint32_t(file.size()));
            map.disks[0][std::size_t(t) * kSpt + e[2] - 1] = int64_t(file.size());
            Append(file, SectorOf(volume, t, e[2]), kSec);
        }
    WriteHostFile(path, file);
    return map;
}

SectorMap WriteDCP(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o) {
    std::vector<uint8_t> file(162, 0);
    file[0] = 0x01;  // 2HD, 8 sectors of 1024 bytes
    SectorMap map;
    map.disks.emplace_back(kTracks * kSpt, -1);
    for (uint32_t t = 0; t < kTracks; ++t) {
        if (o.absentTracks.count(t)) continue;
        file[1 + t] = 1;
        for (uint32_t r = 1; r <= kSpt; ++r) {
            map.disks[0][std::size_t(t) * kSpt + r - 1] = int64_t(file.size());
            Append(file, SectorOf(volume, t, r), kSec);
        }
    }
    WriteHostFile(path, file);
    return map;
}

namespace {

// MFM cells of a track side, the first in time first.
struct CellWriter {
    std::vector<uint8_t> cells;
    int last = 0;
    void Byte(uint8_t b, int missingClockBit = -1) {
        for (int k = 7; k >= 0; --k) {
            int bit = b >> k & 1;
            cells.push_back(k == missingClockBit ? 0 : uint8_t(!last && !bit));
            cells.push_back(uint8_t(bit));
            last = bit;
        }
    }
    void Run(uint8_t b, int n) {
        for (int k = 0; k < n; ++k) Byte(b);
    }
    void Field(const std::vector<uint8_t>& bytes, bool goodCrc = true) {
        Run(0x00, 12);
        for (int k = 0; k < 3; ++k) Byte(0xA1, 2);
        std::vector<uint8_t> f = {0xA1, 0xA1, 0xA1};
        f.insert(f.end(), bytes.begin(), bytes.end());
        uint16_t crc = Crc16(f) ^ (goodCrc ? 0 : 0x5555);
        for (uint8_t b : bytes) Byte(b);
        Byte(uint8_t(crc >> 8));
        Byte(uint8_t(crc));
    }
};

std::vector<uint8_t> DecodeHFESide(const std::vector<uint8_t>& f, uint32_t block, uint32_t len, int side) {
    std::vector<uint8_t> cells;
    for (uint32_t j = 0; j < len / 2; ++j)
        for (int k = 0; k < 8; ++k) cells.push_back(f[block * 512 + j / 256 * 512 + side * 256 + j % 256] >> k & 1);
    return cells;
}

}  // namespace

void WriteHFE(const std::string& path, const std::vector<uint8_t>& volume, const TrackImageOptions& o) {
    const uint32_t sideBytes = 500000 / 6 * 2 / 8 + 1;  // cells of one turn at 360 rpm, 8 a byte
    const uint32_t blocks = (sideBytes + 255) / 256;
    std::vector<uint8_t> file(1024 + std::size_t(kCyl) * blocks * 512, 0);
    std::memcpy(file.data(), "HXCPICFE", 8);
    file[9] = kCyl, file[10] = 2, file[11] = 0;
    L16(file.data() + 12, 500);
    L16(file.data() + 14, 360);
    file[16] = 1, file[17] = 1;
    L16(file.data() + 18, 1);
    file[20] = 0xFF;
    for (uint32_t c = 0; c < kCyl; ++c) {
        L16(file.data() + 512 + 4 * c, 2 + c * blocks);
        L16(file.data() + 514 + 4 * c, blocks * 512);
        for (uint32_t h = 0; h < 2; ++h) {
            const uint32_t t = c * 2 + h;
            CellWriter w;
            w.Run(0x4E, 60);
            for (uint32_t r : SectorOrder(23, t)) {
                w.Field({0xFE, uint8_t(c), uint8_t(h), uint8_t(r), 3});
                w.Run(0x4E, 22);
                std::vector<uint8_t> data = {0xFB};
                data.insert(data.end(), SectorOf(volume, t, r), SectorOf(volume, t, r) + kSec);
                w.Field(data, int(std::size_t(t) * kSpt + r - 1) != o.errorSector);
                w.Run(0x4E, 54);
            }
            while (w.cells.size() < sideBytes * 8) w.Byte(0x4E);
            for (uint32_t k = 0; k < sideBytes * 8; ++k)
                if (w.cells[k]) file[(2 + c * blocks) * 512 + k / 8 / 256 * 512 + h * 256 + k / 8 % 256] |= uint8_t(1 << (k % 8));
        }
    }
    WriteHostFile(path, file);
}

std::vector<uint64_t> WriteVirtual98Disk(const std::string& path, const PC98Disk& g,
                                         const std::vector<std::pair<uint32_t, uint32_t>>& parts, bool slh) {
    auto offsets = WritePC98Disk(path, g, parts);
    std::vector<uint8_t> disk = ReadHostFile(path);
    std::vector<uint8_t> head(slh ? 512 : 220, 0);
    if (slh) {
        // SL9821: "HDIM", the disk's bytes (u64), then bytes per sector,
        // cylinders, heads, sectors (u32 each), little-endian.
        std::memcpy(head.data(), "HDIM", 4);
        L32(head.data() + 4, uint32_t(disk.size()));
        L32(head.data() + 0x0C, g.secLen);
        L32(head.data() + 0x10, g.cylinders);
        L32(head.data() + 0x14, g.heads);
        L32(head.data() + 0x18, g.sectors);
    } else {
        std::memcpy(head.data(), "VHD1.00", 7);
        L16(head.data() + 0x8C, uint32_t(disk.size() >> 20));
        L16(head.data() + 0x8E, g.secLen);
        head[0x90] = uint8_t(g.sectors);
        head[0x91] = uint8_t(g.heads);
        L16(head.data() + 0x92, g.cylinders);
        L32(head.data() + 0x94, uint32_t(disk.size() / g.secLen));
    }
    head.insert(head.end(), disk.begin(), disk.end());
    WriteHostFile(path, head);
    for (uint64_t& at : offsets) at += slh ? 512 : 220;
    return offsets;
}
