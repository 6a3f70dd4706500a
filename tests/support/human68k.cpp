#include "support/human68k.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

#include "support/images.h"

namespace {

uint32_t Le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }
uint32_t Be16(const uint8_t* p) { return p[0] << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }

std::vector<std::string> Parts(const std::string& path) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        if (end > at) out.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string NameOf(const uint8_t* e) {
    std::string base(reinterpret_cast<const char*>(e), 8);
    if (e[7] != ' ')
        for (int k = 12; k < 22 && e[k]; ++k) base += char(e[k]);
    base.erase(base.find_last_not_of(' ') + 1);
    std::string ext(reinterpret_cast<const char*>(e + 8), 3);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

}  // namespace

Human68kReader::Human68kReader(std::vector<uint8_t> volume) : v_(std::move(volume)) {
    const uint8_t* b = v_.data();
    uint32_t reserved, fats, rootEntries, spf, total;
    if (v_.size() >= 64 && std::memcmp(b + 3, "X68IPL30", 8) == 0) {
        little_ = true;
        bps_ = Le16(b + 11), spc_ = b[13], reserved = Le16(b + 14), fats = b[16], rootEntries = Le16(b + 17);
        total = Le16(b + 19) ? Le16(b + 19) : Le32(b + 32);
        spf = Le16(b + 22);
    } else if (v_.size() >= 64 && std::memcmp(b + 2, "Hudson soft", 11) == 0) {
        bps_ = Be16(b + 18), spc_ = b[20], fats = b[21], reserved = Be16(b + 22), rootEntries = Be16(b + 24);
        total = Be16(b + 26) ? Be16(b + 26) : Be32(b + 30);
        spf = b[29];
    } else {
        throw std::runtime_error("no Human68k boot record");
    }
    if (b[0] != 0x60) throw std::runtime_error("no 68000 branch at 0");
    fat_ = reserved * bps_;
    root_ = fat_ + fats * spf * bps_;
    rootBytes_ = rootEntries * 32;
    data_ = root_ + rootBytes_;
    clusters_ = (total - reserved - fats * spf - rootBytes_ / bps_) / spc_;
    fat16_ = clusters_ > 4084;
    if (uint64_t(total) * bps_ > v_.size()) throw std::runtime_error("volume shorter than its boot record says");
}

uint32_t Human68kReader::Next(uint32_t c) const {
    const uint8_t* f = v_.data() + fat_;
    if (fat16_) {
        uint32_t n = Be16(f + 2 * c);
        return n >= 0xFFF8 ? 0xFFFFFFFF : n;
    }
    uint32_t pair = Le16(f + c * 3 / 2);
    uint32_t n = (c & 1) ? pair >> 4 : pair & 0xFFF;
    return n >= 0xFF8 ? 0xFFFFFFFF : n;
}

std::vector<uint32_t> Human68kReader::Chain(uint32_t first) const {
    std::vector<uint32_t> out;
    for (uint32_t c = first; c != 0xFFFFFFFF;) {
        if (c < 2 || c >= clusters_ + 2 || out.size() > clusters_) throw std::runtime_error("broken chain");
        out.push_back(c);
        c = Next(c);
    }
    return out;
}

std::vector<uint8_t> Human68kReader::FolderBytes(uint32_t first) const {
    if (first == 0) return std::vector<uint8_t>(v_.begin() + root_, v_.begin() + data_);
    std::vector<uint8_t> out;
    const uint32_t size = bps_ * spc_;
    for (uint32_t c : Chain(first)) {
        auto at = v_.begin() + data_ + std::ptrdiff_t(c - 2) * size;
        out.insert(out.end(), at, at + size);
    }
    return out;
}

std::vector<Human68kEntry> Human68kReader::ListCluster(uint32_t first) const {
    std::vector<Human68kEntry> out;
    const std::vector<uint8_t> bytes = FolderBytes(first);
    for (std::size_t at = 0; at + 32 <= bytes.size(); at += 32) {
        const uint8_t* e = bytes.data() + at;
        if (e[0] == 0) break;
        if (e[0] == 0xE5 || e[0] == '.') continue;
        out.push_back({NameOf(e), e[11], Le16(e + 26), Le32(e + 28)});
    }
    return out;
}

std::vector<Human68kEntry> Human68kReader::List(const std::string& folder) const {
    uint32_t first = 0;
    for (const std::string& part : Parts(folder)) {
        bool found = false;
        for (const Human68kEntry& x : ListCluster(first))
            if (x.name == part && (x.attr & 0x10)) {
                first = x.cluster;
                found = true;
                break;
            }
        if (!found) throw std::runtime_error("no folder " + part);
    }
    return ListCluster(first);
}

Human68kEntry Human68kReader::Find(const std::string& path) const {
    std::vector<std::string> parts = Parts(path);
    if (parts.empty()) throw std::runtime_error("no name");
    std::string folder;
    for (std::size_t k = 0; k + 1 < parts.size(); ++k) folder += "/" + parts[k];
    for (const Human68kEntry& x : List(folder))
        if (x.name == parts.back()) return x;
    throw std::runtime_error("no entry " + path);
}

std::vector<uint8_t> Human68kReader::Read(const std::string& path) const {
    const Human68kEntry e = Find(path);
    std::vector<uint8_t> out;
    if (e.size == 0) return out;
    const uint32_t size = bps_ * spc_;
    for (uint32_t c : Chain(e.cluster)) {
        auto at = v_.begin() + data_ + std::ptrdiff_t(c - 2) * size;
        out.insert(out.end(), at, at + size);
    }
    if (out.size() < e.size) throw std::runtime_error("chain shorter than the size of " + path);
    out.resize(e.size);
    return out;
}

uint32_t Human68kReader::LostClusters() const {
    std::set<uint32_t> reached;
    std::vector<uint32_t> folders{0};
    while (!folders.empty()) {
        uint32_t f = folders.back();
        folders.pop_back();
        if (f != 0)
            for (uint32_t c : Chain(f)) reached.insert(c);
        for (const Human68kEntry& e : ListCluster(f)) {
            if (e.cluster < 2 || (e.attr & 0x08)) continue;
            if (e.attr & 0x10) {
                if (!reached.count(e.cluster)) folders.push_back(e.cluster);
            } else {
                for (uint32_t c : Chain(e.cluster)) reached.insert(c);
            }
        }
    }
    uint32_t lost = 0;
    for (uint32_t c = 2; c < clusters_ + 2; ++c)
        if (Next(c) != 0 && !reached.count(c)) ++lost;
    return lost;
}

std::vector<uint8_t> BuildHuman68kFloppy(const std::vector<Human68kFile>& files) {
    constexpr uint32_t kSector = 1024, kTotal = 1232, kRoot = 192, kSpf = 2;
    constexpr uint32_t kFat = kSector, kRootAt = kFat + 2 * kSpf * kSector, kData = kRootAt + kRoot * 32;
    std::vector<uint8_t> v(std::size_t(kTotal) * kSector, 0);
    uint8_t* b = v.data();
    b[0] = 0x60;
    b[1] = 0x1C;  // over the parameter block, to a boot program this disk does not carry
    std::memcpy(b + 3, "X68IPL30", 8);
    const uint8_t block[] = {0x00, 0x04, 1, 1, 0, 2, kRoot, 0, 0xD0, 0x04, 0xFE, kSpf, 0, 8, 0, 2, 0};
    std::memcpy(b + 11, block, sizeof block);
    auto setFat = [&](uint32_t c, uint32_t value) {
        for (uint32_t copy = 0; copy < 2; ++copy) {
            uint8_t* f = b + kFat + copy * kSpf * kSector + c * 3 / 2;
            uint32_t pair = f[0] | f[1] << 8;
            pair = (c & 1) ? (pair & 0x000F) | value << 4 : (pair & 0xF000) | value;
            f[0] = uint8_t(pair);
            f[1] = uint8_t(pair >> 8);
        }
    };
    setFat(0, 0xFFE);
    setFat(1, 0xFFF);
    uint32_t next = 2;
    std::map<std::string, uint32_t> folderCluster{{"", 0}};
    std::map<uint32_t, uint32_t> used{{0, 0}};  // entries taken in each folder
    auto slot = [&](uint32_t folder) -> uint8_t* {
        uint32_t k = used[folder]++;
        return folder == 0 ? b + kRootAt + 32 * k : b + kData + (folder - 2) * kSector + 32 * k;
    };
    for (const Human68kFile& f : files) {
        std::size_t cut = f.path.find_last_of('/');
        const std::string parent = cut == std::string::npos ? "" : f.path.substr(0, cut);
        const std::string name = cut == std::string::npos ? f.path : f.path.substr(cut + 1);
        std::size_t dot = name.find_last_of('.');
        const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
        const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
        const uint32_t in = folderCluster.at(parent);
        uint32_t count = f.folder || f.oneCluster ? 1 : uint32_t((f.data.size() + kSector - 1) / kSector);
        uint32_t first = count ? next : 0;
        for (uint32_t k = 0; k < count; ++k) setFat(first + k, k + 1 < count ? first + k + 1 : 0xFFF);
        next += count;
        PutHuman68kEntry(slot(in), base, ext, f.folder ? 0x10 : 0x20, uint16_t(first),
                         f.folder ? 0 : uint32_t(f.data.size()));
        if (f.folder) {
            folderCluster[f.path] = first;
            used[first] = 0;
            PutHuman68kEntry(slot(first), ".", "", 0x10, uint16_t(first), 0);
            PutHuman68kEntry(slot(first), "..", "", 0x10, uint16_t(in), 0);
        } else if (!f.data.empty()) {
            std::memcpy(b + kData + (first - 2) * kSector, f.data.data(), f.data.size());
        }
    }
    return v;
}
