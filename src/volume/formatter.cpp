#include "volume/formatter.h"

#include <algorithm>
#include <cstring>

#include "device/byteorder.h"
#include "device/sjis.h"
#include "volume/didir.h"
#include "volume/fatkind.h"

bool FinishLayout(NewVolume& v) {
    // The FAT must number every cluster, and the clusters are what the FAT
    // leaves: a few rounds settle both.
    v.sectorsPerFAT = 1;
    for (int round = 0; round < 8; ++round) {
        if (v.SystemSectors() >= v.totalSectors) return false;
        uint32_t clusters = v.Clusters();
        v.fatType = clusters < kMinFAT16Clusters ? kFAT12 : kFAT16;
        if (v.fatType == kFAT16 && clusters > kMaxFAT16Clusters) {
            // Cut the volume so that the count stays within FAT16.
            v.totalSectors = v.SystemSectors() + kMaxFAT16Clusters * v.sectorsPerCluster;
            clusters = kMaxFAT16Clusters;
        }
        uint64_t fatBytes = v.fatType == kFAT12 ? (uint64_t(clusters) + 2) * 3 / 2 + 1 : (uint64_t(clusters) + 2) * 2;
        uint32_t need = uint32_t((fatBytes + v.bytesPerSector - 1) / v.bytesPerSector);
        if (need == v.sectorsPerFAT) break;
        v.sectorsPerFAT = need;
    }
    return v.SystemSectors() < v.totalSectors && v.Clusters() > 0;
}

NewVolume HardDiskFAT16(uint64_t sectors, uint32_t sectorsPerTrack, uint32_t heads, uint32_t hidden) {
    NewVolume v;
    v.bytesPerSector = 512;
    v.rootEntries = 512;
    v.media = 0xF8;
    v.sectorsPerTrack = sectorsPerTrack;
    v.heads = heads;
    v.hiddenSectors = hidden;
    v.totalSectors = uint32_t(std::min<uint64_t>(sectors, 0xFFFFFFFFu));
    // Sectors per cluster by the partition's size, as DOS chooses them.
    static const struct {
        uint64_t upTo;
        uint32_t spc;
    } kClasses[] = {{32680, 2}, {262144, 4}, {524288, 8}, {1048576, 16}, {2097152, 32}, {UINT64_MAX, 64}};
    for (const auto& c : kClasses)
        if (sectors <= c.upTo) {
            v.sectorsPerCluster = c.spc;
            break;
        }
    FinishLayout(v);
    return v;
}

NewVolume HardDiskHuman68k(uint64_t bytes, bool scsi) {
    NewVolume v;
    v.fileSystem = kFileSystemHuman68k;
    v.bytesPerSector = 1024;
    v.rootEntries = 512;
    v.media = scsi ? 0xF7 : 0xF8;
    v.totalSectors = uint32_t(bytes / 1024);
    for (v.sectorsPerCluster = 1; v.sectorsPerCluster < 32; v.sectorsPerCluster *= 2)
        if (uint64_t(v.totalSectors) / v.sectorsPerCluster <= kMaxFAT16Clusters) break;
    FinishLayout(v);
    return v;
}

namespace {

void PutLabelEntry(uint8_t* e, const std::string& label) {
    std::memcpy(e, label.data(), 11);
    e[11] = kAttrVolume;
    uint16_t date, time;
    PackDosTime(LocalTimeNow(), date, time);
    PutLE16(e + 22, time);
    PutLE16(e + 24, date);
}

}  // namespace

std::vector<uint8_t> VolumeSystemArea(const NewVolume& v, uint32_t serial) {
    std::vector<uint8_t> area(std::size_t(v.SystemSectors()) * v.bytesPerSector, 0);
    uint8_t* b = area.data();
    const bool human = v.fileSystem == kFileSystemHuman68k;
    if (human) {
        // A 68000 branch to itself, where the boot program's branch would stand.
        b[0] = 0x60;
        b[1] = 0xFE;
    }
    if (human && v.x68000Floppy) {
        // Human68k 3.x floppies: their name, then a DOS-style parameter
        // block, little-endian, in the DOS places.
        std::memcpy(b + 3, "X68IPL30", 8);
        PutLE16(b + 11, uint16_t(v.bytesPerSector));
        b[13] = uint8_t(v.sectorsPerCluster);
        PutLE16(b + 14, uint16_t(v.reserved));
        b[16] = uint8_t(v.fats);
        PutLE16(b + 17, uint16_t(v.rootEntries));
        PutLE16(b + 19, uint16_t(v.totalSectors));
        b[21] = v.media;
        PutLE16(b + 22, uint16_t(v.sectorsPerFAT));
        PutLE16(b + 24, uint16_t(v.sectorsPerTrack));
        PutLE16(b + 26, uint16_t(v.heads));
    } else if (human) {
        // Human68k's boot record, big-endian; the name is what marks it.
        std::memcpy(b + 2, "Hudson soft 2.00", 16);
        PutBE16(b + 18, uint16_t(v.bytesPerSector));
        b[20] = uint8_t(v.sectorsPerCluster);
        b[21] = uint8_t(v.fats);
        PutBE16(b + 22, uint16_t(v.reserved));
        PutBE16(b + 24, uint16_t(v.rootEntries));
        if (v.totalSectors <= 0xFFFF) PutBE16(b + 26, uint16_t(v.totalSectors));
        else PutBE32(b + 30, v.totalSectors);
        b[28] = v.media;
        b[29] = uint8_t(v.sectorsPerFAT);
    } else {
        // A jump to itself stands where the boot program's jump would: the
        // mark systems test, and nothing runs if the disk is booted.
        b[0] = 0xEB;
        b[1] = 0xFE;
        b[2] = 0x90;
        std::memcpy(b + 3, "VOLDEX  ", 8);
        PutLE16(b + 11, uint16_t(v.bytesPerSector));
        b[13] = uint8_t(v.sectorsPerCluster);
        PutLE16(b + 14, uint16_t(v.reserved));
        b[16] = uint8_t(v.fats);
        PutLE16(b + 17, uint16_t(v.rootEntries));
        if (v.totalSectors <= 0xFFFF) PutLE16(b + 19, uint16_t(v.totalSectors));
        else PutLE32(b + 32, v.totalSectors);
        b[21] = v.media;
        PutLE16(b + 22, uint16_t(v.sectorsPerFAT));
        PutLE16(b + 24, uint16_t(v.sectorsPerTrack));
        PutLE16(b + 26, uint16_t(v.heads));
        PutLE32(b + 28, v.hiddenSectors);
        b[36] = v.hiddenSectors ? 0x80 : 0x00;  // drive number: hard disk or floppy
        b[38] = 0x29;
        PutLE32(b + 39, serial);
        std::memcpy(b + 43, v.label.empty() ? "NO NAME    " : v.label.c_str(), 11);
        std::memcpy(b + 54, v.fatType == kFAT12 ? "FAT12   " : "FAT16   ", 8);
        b[510] = 0x55;
        b[511] = 0xAA;
    }
    // The two entries before the first cluster: the media byte, then an
    // end-of-chain value (Human68k writes the same bytes), marked closed.
    const FATKindRow& kind = FATKindOf(v.fatType, v.fileSystem);
    for (uint32_t f = 0; f < v.fats; ++f)
        kind.Head(v.media, nullptr, b + std::size_t(v.reserved + f * v.sectorsPerFAT) * v.bytesPerSector);
    if (!v.label.empty()) PutLabelEntry(b + std::size_t(v.reserved + v.fats * v.sectorsPerFAT) * v.bytesPerSector, v.label);
    return area;
}

std::optional<std::string> LabelStoredForm(const std::string& text, bool human68k) {
    std::string sjis = Utf8ToSjis(text);
    if (sjis.empty() || sjis.size() > 11) return std::nullopt;
    static const char kRefused[] = "\"*+,./:;<=>?[\\]|";
    for (std::size_t k = 0; k < sjis.size(); ++k) {
        uint8_t c = uint8_t(sjis[k]);
        if (IsSjisLeadByte(c)) {
            if (k + 1 >= sjis.size()) return std::nullopt;
            ++k;
            continue;
        }
        if (c < 0x20 || c == 0x7F || std::strchr(kRefused, char(c))) return std::nullopt;
        if (!human68k && c >= 'a' && c <= 'z') sjis[k] = char(c - 'a' + 'A');
    }
    if (sjis.find_first_not_of(' ') == std::string::npos) return std::nullopt;
    if (uint8_t(sjis[0]) == kDeletedMark) sjis[0] = char(kStoredE5);
    sjis.resize(11, ' ');
    return sjis;
}
