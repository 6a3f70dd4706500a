#include "support/disks.h"

#include <cstring>
#include <stdexcept>

#include "support/images.h"

namespace {

void PutLE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLE32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}

void Splice(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f) throw std::runtime_error("cannot open " + path);
    std::fseek(f, long(offset), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

void PutVolumeAt(const std::string& path, uint64_t offset, unsigned kib, int number) {
    TempDir t;
    std::string vol = t / "vol.img";
    MakeFatImage(vol, kib, 16);
    std::string text = t / ("PART" + std::to_string(number) + ".TXT");
    std::string body = "partition " + std::to_string(number) + "\n";
    WriteHostFile(text, std::vector<uint8_t>(body.begin(), body.end()));
    if (RunShell("mcopy -i " + Quote(vol) + " " + Quote(text) + " ::") != 0) throw std::runtime_error("mcopy");
    Splice(path, offset, ReadHostFile(vol));
}

std::vector<uint32_t> MakePC98Disk(const std::string& path, PC98Header header, const PC98Geometry& g,
                                   const std::vector<PC98Partition>& parts) {
    uint32_t headerSize = header == PC98Header::Anex86 ? 4096 : header == PC98Header::T98Next ? 512 : 0;
    uint64_t cylBytes = uint64_t(g.secLen) * g.sectors * g.heads;
    uint64_t diskBytes = cylBytes * g.cylinders;
    WriteHostFile(path, std::vector<uint8_t>(headerSize + diskBytes, 0));

    std::vector<uint8_t> head(headerSize ? headerSize : 1, 0);
    if (header == PC98Header::Anex86) {
        PutLE32(head.data() + 4, 0x80);  // a hard disk
        PutLE32(head.data() + 8, headerSize);
        PutLE32(head.data() + 12, uint32_t(diskBytes));
        PutLE32(head.data() + 16, g.secLen);
        PutLE32(head.data() + 20, g.sectors);
        PutLE32(head.data() + 24, g.heads);
        PutLE32(head.data() + 28, g.cylinders);
    } else if (header == PC98Header::T98Next) {
        std::memcpy(head.data(), "T98HDDIMAGE.R0", 14);
        PutLE32(head.data() + 0x110, headerSize);
        PutLE32(head.data() + 0x114, g.cylinders);
        PutLE16(head.data() + 0x118, g.heads);
        PutLE16(head.data() + 0x11A, g.sectors);
        PutLE16(head.data() + 0x11C, g.secLen);
    }
    if (headerSize) Splice(path, 0, head);

    std::vector<uint8_t> table(256, 0);
    std::vector<uint32_t> offsets;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        uint8_t* e = table.data() + 32 * k;
        e[0] = 0xA0;  // in use, DOS
        e[1] = 0xA1;
        e[4] = 0;     // IPL at sector 0, head 0 of the start cylinder
        e[5] = 0;
        PutLE16(e + 6, parts[k].startCyl);
        PutLE16(e + 10, parts[k].startCyl);
        PutLE16(e + 14, parts[k].endCyl);
        std::memcpy(e + 16, parts[k].name.data(), std::min<std::size_t>(16, parts[k].name.size()));
        uint64_t offset = headerSize + cylBytes * parts[k].startCyl;
        offsets.push_back(uint32_t(offset));
        unsigned kib = unsigned(cylBytes * (parts[k].endCyl - parts[k].startCyl + 1) / 1024);
        PutVolumeAt(path, offset, kib, int(k + 1));
    }
    Splice(path, headerSize + g.secLen, table);
    return offsets;
}

void MakeAnex86Floppy(const std::string& path) {
    TempDir t;
    std::string vol = t / "fd.img";
    if (RunShell("mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 " + Quote(vol) + " 1232") != 0)
        throw std::runtime_error("mkfs.fat");
    std::string text = t / "FLOPPY.TXT";
    WriteHostFile(text, {'f', 'd', '\n'});
    RunShell("mcopy -i " + Quote(vol) + " " + Quote(text) + " ::");
    std::vector<uint8_t> head(4096, 0);
    PutLE32(head.data() + 4, 0x90);
    PutLE32(head.data() + 8, 4096);
    PutLE32(head.data() + 12, 1232 * 1024);
    PutLE32(head.data() + 16, 1024);
    PutLE32(head.data() + 20, 8);
    PutLE32(head.data() + 24, 2);
    PutLE32(head.data() + 28, 77);
    auto body = ReadHostFile(vol);
    head.insert(head.end(), body.begin(), body.end());
    WriteHostFile(path, head);
}
