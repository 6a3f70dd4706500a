#include "support/images.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/wait.h>

#include "device/deviceio_file.h"
#include "volume/didir.h"
#include "volume/volumeparams.h"

TempDir::TempDir() {
    std::string tmpl = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp")) +
                       "/voldex-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() { RunShell("chmod -R u+w " + Quote(path_) + " && rm -rf " + Quote(path_)); }

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

int RunShell(const std::string& command, std::string* output) {
    std::string full = command + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteHostFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

void MakeFatImage(const std::string& path, unsigned kib, int bits, const std::string& extra) {
    std::string out;
    std::string cmd = "mkfs.fat -C -F " + std::to_string(bits) + " " + extra + " " + Quote(path) + " " +
                      std::to_string(kib);
    if (RunShell(cmd, &out) != 0) throw std::runtime_error("mkfs.fat failed: " + out);
}

bool FsckClean(const std::string& path, std::string* report) {
    std::string out;
    int rc = RunShell("fsck.fat -n " + Quote(path), &out);
    if (report) *report = out;
    return rc == 0;
}

std::vector<std::string> FsckFindings(const std::string& path, std::string* report, int* status) {
    std::string out;
    int rc = RunShell("fsck.fat -n " + Quote(path), &out);
    if (report) *report = out;
    if (status) *status = rc;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        start = end + 1;
        bool frame = line.empty() || line.rfind("fsck.fat ", 0) == 0 || line == "Leaving filesystem unchanged." ||
                     line.find(" files, ") != std::string::npos;
        if (!frame) lines.push_back(line);
    }
    return lines;
}

bool FsckCleanButLost(const std::string& path, std::string* report) {
    for (const std::string& line : FsckFindings(path, report))
        if (line.rfind("Reclaimed ", 0) != 0) return false;
    return true;
}

long MtoolsFreeClusters(const std::string& path, uint32_t clusterSize) {
    std::string out;
    RunShell("mdir -i " + Quote(path) + " :: | grep \"bytes free\"", &out);
    std::string digits;
    for (char c : out.substr(0, out.find("bytes free")))
        if (c >= '0' && c <= '9') digits += c;
    return digits.empty() ? -1 : long(std::stoll(digits) / clusterSize);
}

Mounted MountImageFile(const std::string& path, int32_t diskStart, uint32_t fileSystem) {
    Mounted m;
    auto* dev = new DeviceIO_File;
    if (!dev->Open(path)) {
        dev->Destroy();
        return m;
    }
    VolumeParams p;
    p.Device = dev;
    p.DiskStart = diskStart;
    p.FileSystem = fileSystem;
    if (DecodeBootRecord(p) != BootOk) {
        dev->Destroy();
        return m;
    }
    auto image = std::make_unique<DiskImage>();
    if (!image->Mount(p)) return m;
    m.image = std::move(image);
    return m;
}

bool MemoryDevice::Read(int64_t offset, void* buffer, uint32_t length) {
    ++reads;
    if (offset < 0 || uint64_t(offset) + length > data.size()) return false;
    std::memcpy(buffer, data.data() + offset, length);
    return true;
}

bool MemoryDevice::Write(int64_t offset, const void* buffer, uint32_t length) {
    if (readOnly_) return false;
    ++writes;
    if (offset < 0 || uint64_t(offset) + length > data.size()) return false;
    std::memcpy(data.data() + offset, buffer, length);
    return true;
}

namespace {
void PutBE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void PutBE32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (24 - 8 * k));
}
}  // namespace

std::vector<uint8_t> BuildHuman68kImage(const Human68kLayout& l) {
    std::vector<uint8_t> img(std::size_t(l.totalSectors) * l.bytesPerSector, 0);
    uint8_t* b = img.data();
    b[0] = 0x60;  // a branch, as on real disks
    b[1] = 0x3C;
    std::memcpy(b + 2, "Hudson soft 2.00", 16);
    PutBE16(b + 18, l.bytesPerSector);
    b[20] = uint8_t(l.sectorsPerCluster);
    b[21] = uint8_t(l.fats);
    PutBE16(b + 22, l.reserved);
    PutBE16(b + 24, l.rootEntries);
    if (l.totalSectors <= 0xFFFF) PutBE16(b + 26, l.totalSectors);
    else PutBE32(b + 30, l.totalSectors);
    b[28] = 0xF8;
    b[29] = uint8_t(l.sectorsPerFAT);
    // Media byte and the two reserved entries at the head of each FAT copy:
    // three bytes on FAT12, four on FAT16.
    uint32_t system = l.reserved + l.fats * l.sectorsPerFAT + l.rootEntries * 32 / l.bytesPerSector;
    bool fat16 = (l.totalSectors - system) / l.sectorsPerCluster > 4084;
    for (uint32_t f = 0; f < l.fats; ++f) {
        uint8_t* fat = b + (l.reserved + f * l.sectorsPerFAT) * l.bytesPerSector;
        fat[0] = 0xF8;
        fat[1] = 0xFF;
        fat[2] = 0xFF;
        if (fat16) fat[3] = 0xFF;
    }
    return img;
}

void SetHuman68kFAT16(std::vector<uint8_t>& img, const Human68kLayout& l, uint32_t cluster, uint16_t value) {
    for (uint32_t f = 0; f < l.fats; ++f)
        PutBE16(img.data() + (l.reserved + f * l.sectorsPerFAT) * l.bytesPerSector + cluster * 2, value);
}

void PutHuman68kEntry(uint8_t* e, const std::string& base, const std::string& ext, uint8_t attr, uint16_t cluster,
                      uint32_t size) {
    std::memset(e, 0, 32);
    for (int k = 0; k < 8; ++k) e[k] = k < int(base.size()) ? uint8_t(base[k]) : ' ';
    for (int k = 0; k < 10; ++k) e[12 + k] = 8 + k < int(base.size()) ? uint8_t(base[8 + k]) : 0;
    for (int k = 0; k < 3; ++k) e[8 + k] = k < int(ext.size()) ? uint8_t(ext[k]) : ' ';
    e[11] = attr;
    e[22] = 0x00;  // 12:00:00
    e[23] = 0x60;
    e[24] = 0x21;  // 2002/01/01
    e[25] = 0x2C;
    e[26] = uint8_t(cluster);
    e[27] = uint8_t(cluster >> 8);
    for (int k = 0; k < 4; ++k) e[28 + k] = uint8_t(size >> (8 * k));
}

// Builds a chain of `depth` folders, each holding the next as "D" (and, for
// a ladder, as "E" too), the first as "D" of the root. False when it
// could not be written.
bool BuildFolderChain(const std::string& image, int depth, bool ladder) {
    Mounted m = MountImageFile(image);
    if (!m) return false;
    DiskImage& img = *m.image;
    auto clusters = img.AllocateChain(uint32_t(depth) * img.ClusterSize);
    if (!clusters) return false;
    std::vector<uint8_t> block(img.ClusterSize);
    auto entry = [](uint8_t* e, const char* name, uint32_t cluster) {
        std::memset(e, ' ', 11);
        std::memcpy(e, name, std::strlen(name));
        e[11] = kAttrDirectory;
        e[26] = uint8_t(cluster);
        e[27] = uint8_t(cluster >> 8);
    };
    // One chain was allocated; every cluster becomes a folder of its own.
    DiskImage::FATBatch batch(img);
    for (int k = 0; k < depth; ++k) {
        uint32_t c = (*clusters)[std::size_t(k)];
        if (!img.SetFATEntry(c, EndOfChain)) return false;
        std::fill(block.begin(), block.end(), 0);
        entry(block.data(), ".", c);
        entry(block.data() + 32, "..", k == 0 ? 0 : (*clusters)[std::size_t(k) - 1]);
        if (k + 1 < depth) {
            entry(block.data() + 64, "D", (*clusters)[std::size_t(k) + 1]);
            if (ladder) entry(block.data() + 96, "E", (*clusters)[std::size_t(k) + 1]);
        }
        if (!img.WriteCluster(c, block.data())) return false;
    }
    if (!batch.Commit()) return false;
    DIDir root(&img, 0);
    if (!root.Load()) return false;
    int i = root.AddEntry("D");
    root.SetAttr(i, kAttrDirectory);
    root.SetStartCluster(i, clusters->front());
    return root.Write();
}
