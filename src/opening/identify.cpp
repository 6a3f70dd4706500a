#include "opening/identify.h"

#include <cstring>
#include <memory>

#include "device/byteorder.h"
#include "device/convert_floppy.h"
#include "device/deviceio_file.h"
#include "device/sjis.h"
#include "opening/convert.h"
#include "opening/detect.h"
#include "opening/hddpart.h"

namespace {

const char* MediaName(FloppyMedia m) {
    switch (m) {
    case FloppyMedia::k2D: return "2D";
    case FloppyMedia::k2DD: return "2DD";
    case FloppyMedia::k2HD: return "2HD";
    case FloppyMedia::k2HC: return "2HC";
    case FloppyMedia::k2HQ: return "2HQ";
    case FloppyMedia::k2HS: return "2HS";
    case FloppyMedia::k1D: return "1D";
    case FloppyMedia::k1DD: return "1DD";
    case FloppyMedia::kUnknown: break;
    }
    return "";
}

const char* AnomalyName(FloppyLoss::Kind k) {
    switch (k) {
    case FloppyLoss::kSectorSize: return "mixedSizes";
    case FloppyLoss::kDeletedMark: return "deletedMarks";
    case FloppyLoss::kDuplicateId: return "duplicateIds";
    case FloppyLoss::kCrcError: return "errorStatuses";
    case FloppyLoss::kMissingSector: return "missingSectors";
    case FloppyLoss::kLongTrack: return "extraSectors";
    case FloppyLoss::kSingleDensity: return "singleDensity";
    case FloppyLoss::kForeignId: return "foreignIds";
    case FloppyLoss::kDataLength: return "shortOrLongData";
    case FloppyLoss::kMissingTrack: return "missingTracks";
    default: return "other";
    }
}

void DescribeBootSector(const uint8_t* s, std::string& fileSystem, std::string& label);

IdentifiedFloppy DescribeFloppy(FloppyTrackSource& source) {
    IdentifiedFloppy f;
    const FloppyDiskInfo& info = source.Info();
    f.name = info.name;
    f.writeProtected = info.writeProtected;
    f.media = MediaName(info.media);
    f.geometry = GeometryText(info.geometry);
    FloppyTrack track;
    std::vector<FloppyLoss> losses;
    std::vector<const FloppySector*> byPlace;
    for (uint32_t c = 0; c < info.cylinders; ++c)
        for (uint32_t h = 0; h < info.heads; ++h) {
            if (!source.ReadTrack(c, h, track)) return f;
            if (track.sectors.empty()) {
                losses.push_back({FloppyLoss::kMissingTrack, c, h, 0, 0, 0});
                continue;
            }
            ++f.tracks;
            for (const FloppySector& s : track.sectors) {
                ++f.sectorSizes[uint32_t(s.data.size())];
                if (c == 0 && h == 0 && s.r == 1 && s.data.size() >= 512) DescribeBootSector(s.data.data(), f.fileSystem, f.label);
            }
            if (info.geometry.SectorCount()) RegularTrackLosses(track, info.geometry, losses, byPlace);
        }
    for (const FloppyLoss& l : losses) {
        const std::string kind = AnomalyName(l.kind);
        if (f.anomalies[kind]++ == 0)
            f.firstAt[kind] = std::to_string(l.cylinder) + "/" + std::to_string(l.head) + (l.r ? "/" + std::to_string(l.r) : "");
    }
    return f;
}

// Header fields that say other than the file: the Anex86, T98-Next,
// Virtual98, SL9821, D88, NFD and DIM headers, recognised by their marks alone.
void CheckHeader(DeviceIOIF* device, uint64_t size, const uint8_t* h, std::size_t n, IdentifyReport& r) {
    auto note = [&](const std::string& field, uint64_t says, uint64_t holds) {
        r.headerNotes.push_back(field + " " + std::to_string(says) + ", file " + std::to_string(holds));
    };
    if (n >= 32 && LE32(h) == 0 && LE32(h + 8) >= 32 && LE32(h + 8) <= 65536 && LE32(h + 16) >= 128 &&
        LE32(h + 16) <= 4096 && (LE32(h + 16) & (LE32(h + 16) - 1)) == 0) {
        uint64_t header = LE32(h + 8), data = LE32(h + 12);
        uint64_t product = uint64_t(LE32(h + 16)) * LE32(h + 20) * LE32(h + 24) * LE32(h + 28);
        if (header + data != size) note("Anex86 header+data size", header + data, size);
        if (product != data) note("Anex86 geometry bytes", product, data);
    }
    if (n >= 0x11E && std::memcmp(h, "T98HDDIMAGE.R0", 14) == 0) {
        uint64_t header = LE32(h + 0x110);
        uint64_t product = uint64_t(LE16(h + 0x11C)) * LE16(h + 0x11A) * LE16(h + 0x118) * LE32(h + 0x114);
        if (header + product != size) note("NHD header+geometry bytes", header + product, size);
    }
    if (n >= 0x98 && std::memcmp(h, "VHD1.00", 7) == 0) {
        uint64_t data = uint64_t(LE32(h + 0x94)) * LE16(h + 0x8E);
        uint64_t product = uint64_t(LE16(h + 0x8E)) * h[0x90] * h[0x91] * LE16(h + 0x92);
        if (220 + data != size) note("Virtual98 header+sector bytes", 220 + data, size);
        if (product != data) note("Virtual98 geometry bytes", product, data);
    }
    if (n >= 0x1C && std::memcmp(h, "HDIM", 4) == 0) {
        uint64_t data = LE64(h + 4);
        uint64_t product = uint64_t(LE32(h + 0x0C)) * LE32(h + 0x10) * LE32(h + 0x14) * LE32(h + 0x18);
        if (512 + data != size) note("SL9821 header+disk bytes", 512 + data, size);
        if (product != data) note("SL9821 geometry bytes", product, data);
    }
    if (n >= 0x2B0 && (h[0x1A] == 0 || h[0x1A] == 0x10) && LE32(h + 0x1C) >= 0x2A0 &&
        (LE32(h + 0x20) == 0x2A0 || LE32(h + 0x20) == 0x2B0) && LE32(h + 0x1C) != size) {
        // A D88 whose disks do not add up to the file.
        uint64_t at = 0;
        uint8_t head[0x20];
        while (at + 0x20 <= size && device->Read(int64_t(at), head, sizeof head) && LE32(head + 0x1C) >= 0x2A0)
            at += LE32(head + 0x1C);
        if (at != size) note("D88 disk sizes", at, size);
    }
    if (n >= 0x114 && std::memcmp(h, "T98FDDIMAGE.R0", 14) == 0 && size >= 0x120 + 163 * 26 * 16) {
        std::vector<uint8_t> map(163 * 26 * 16);
        uint64_t data = 0;
        if (device->Read(0x120, map.data(), uint32_t(map.size())))
            for (std::size_t k = 0; k < 163 * 26; ++k)
                if (map[16 * k] != 0xFF) data += 128u << (map[16 * k + 3] & 7);
        if (LE32(h + 0x110) + data != size) note("NFD header+sector bytes", LE32(h + 0x110) + data, size);
    }
    if (n >= 256 && std::memcmp(h + 0xAB, "DIFC HEADER", 11) == 0) {
        static const struct {
            uint8_t code;
            uint32_t bytes;
        } kTypes[] = {{0, 8192}, {1, 9216}, {2, 7680}, {3, 9216}, {9, 9216}};
        for (const auto& t : kTypes)
            if (t.code == h[0]) {
                uint64_t present = 0;
                for (int k = 0; k < 170; ++k) present += h[1 + k] ? 1 : 0;
                if (256 + present * t.bytes != size) note("DIM present tracks bytes", 256 + present * t.bytes, size);
            }
        if (std::memcmp(h + 0xAB, "DIFC HEADER  ", 13) != 0) r.headerNotes.push_back("DIM mark without its two spaces");
    }
}

// The file system a volume's first sector `s` (512 bytes) names, and its label field.
void DescribeBootSector(const uint8_t* s, std::string& fileSystem, std::string& label) {
    auto text = [](const uint8_t* b, std::size_t n) {
        std::string t(reinterpret_cast<const char*>(b), n);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
        return SjisToUtf8(t);
    };
    if (std::memcmp(s + 2, "Hudson soft", 11) == 0) {
        fileSystem = "Human68k";
    } else if (std::memcmp(s + 82, "FAT32   ", 8) == 0) {
        fileSystem = "FAT32";
        label = text(s + 71, 11);
    } else if (std::memcmp(s + 54, "FAT1", 4) == 0 && s[38] == 0x29) {
        fileSystem = text(s + 54, 8);
        label = text(s + 43, 11);
    } else if ((s[510] == 0x55 && s[511] == 0xAA) || std::memcmp(s + 3, "X68IPL30", 8) == 0) {
        if (LE16(s + 11) >= 256 && s[13] != 0) fileSystem = "FAT";
    }
    if (label == "NO NAME") label.clear();
}

void DescribePartition(DeviceIOIF* device, uint64_t size, IdentifiedPartition& p) {
    uint8_t s[512];
    if (p.offset + sizeof s > size || !device->Read(int64_t(p.offset), s, sizeof s)) return;
    DescribeBootSector(s, p.fileSystem, p.label);
}

std::string Extension(const std::string& path) {
    std::size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return path.substr(dot);
}

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') out += '\\', out += ch;
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += ch;
    }
    return out + "\"";
}

}  // namespace

IdentifyReport IdentifyDevice(DeviceIOIF* device, uint64_t size, const std::string& path) {
    IdentifyReport r;
    r.path = path;
    r.fileBytes = size;
    std::vector<uint8_t> head(std::min<uint64_t>(size, 4096), 0);
    if (!head.empty() && !device->Read(0, head.data(), uint32_t(head.size()))) return r;
    CheckHeader(device, size, head.data(), head.size(), r);

    std::string kind;
    if (auto first = OpenFloppySource(device, size, 0, &kind)) {
        r.isImage = true;
        r.container = kind;
        r.disks.push_back(DescribeFloppy(*first));
        r.geometry = r.disks[0].geometry;
        const FloppyContainerFormat* row = nullptr;
        for (const auto& f : FloppyContainerFormats())
            if (kind == f.kind) row = &f;
        for (std::size_t k = 1; row; ++k) {
            auto d = row->open(device, size, k);
            if (!d) break;
            r.disks.push_back(DescribeFloppy(*d));
        }
    } else {
        DeviceIOIF* probe = device;
        DetectedImage d = DetectImage(probe, size);
        // (A container device made here would own `device`: the floppy
        // sources above take every container it would wrap.)
        r.container = d.container;
        r.geometry = d.geometryText;
        r.isImage = !d.container.empty() && d.road != DetectedImage::kRefused;
        if (d.road == DetectedImage::kPartitions && d.disks.empty()) {
            r.table = d.geometry.HDDType == kTableAT ? "AT" : d.geometry.HDDType == kTableX68000 ? "X68000" : "PC-9801";
            THDDPartDialog dialog;
            dialog.Device = device;
            dialog.SetGeometry(d.geometry);
            if (dialog.Fill())
                for (const PartitionRow& row : dialog.Rows) {
                    IdentifiedPartition p{row.name, row.offset, row.bytes, "", ""};
                    DescribePartition(device, size, p);
                    if (d.geometry.HDDType == kTableX68000) p.fileSystem = "Human68k";
                    r.partitions.push_back(p);
                }
        }
        if (r.container == "Plain" && r.geometry.empty()) r.geometry = std::to_string(size) + " bytes";
    }
    const std::string ext = Extension(path);
    const FloppyContainerFormat* f = FloppyContainerByExtension(ext);
    const HardDiskContainerFormat* hd = HardDiskContainerByExtension(ext);
    // Disks without a header of their own are what a plain name promises.
    auto plainKind = [](const std::string& k) {
        return k == "PC-9801" || k == "AT" || k.rfind("X68000", 0) == 0 ? std::string("Plain") : k;
    };
    if (r.isImage && (f || hd) && !(f && plainKind(r.container) == f->kind) && !(hd && plainKind(r.container) == hd->kind))
        r.nameSuggests = f ? f->kind : hd->kind;
    return r;
}

IdentifyReport IdentifyImage(const std::string& path) {
    auto* file = new DeviceIO_File;
    std::unique_ptr<DeviceIOIF, DeviceDestroyer> owner(file);
    if (!file->Open(path)) {
        IdentifyReport r;
        r.path = path;
        return r;
    }
    return IdentifyDevice(file, ImageFileSize(path), path);
}

std::string IdentifyText(const IdentifyReport& r) {
    std::string out = "Image: " + r.path + "\n";
    if (!r.isImage) {
        // A header that promises more than the file holds says why.
        out += "Container: none\n";
        for (const std::string& n : r.headerNotes) out += "HeaderDisagrees: " + n + "\n";
        return out;
    }
    out += "Container: " + r.container + "\n";
    if (!r.nameSuggests.empty()) out += "NameSuggests: " + r.nameSuggests + "\n";
    out += "FileBytes: " + std::to_string(r.fileBytes) + "\n";
    for (const std::string& n : r.headerNotes) out += "HeaderDisagrees: " + n + "\n";
    if (!r.geometry.empty()) out += "Geometry: " + r.geometry + "\n";
    for (std::size_t k = 0; k < r.disks.size(); ++k) {
        const IdentifiedFloppy& d = r.disks[k];
        std::string sizes;
        for (auto [bytes, n] : d.sectorSizes) sizes += (sizes.empty() ? "" : ", ") + std::to_string(n) + " x " + std::to_string(bytes);
        out += "Disk " + std::to_string(k + 1) + ": \"" + SjisToUtf8(d.name) + "\" " + d.media + " " + d.geometry + ", " +
               std::to_string(d.tracks) + " tracks, sectors " + sizes + (d.writeProtected ? ", write-protected" : "") +
               (d.fileSystem.empty() ? "" : ", " + d.fileSystem) + (d.label.empty() ? "" : ", label \"" + d.label + "\"") + "\n";
        for (const auto& [kind, n] : d.anomalies)
            out += "  Anomaly: " + kind + " " + std::to_string(n) + " (first at " + d.firstAt.at(kind) + ")\n";
    }
    if (!r.table.empty()) out += "Table: " + r.table + "\n";
    for (std::size_t k = 0; k < r.partitions.size(); ++k) {
        const IdentifiedPartition& p = r.partitions[k];
        out += "Partition " + std::to_string(k + 1) + ": " + p.name + ", offset " + std::to_string(p.offset) + ", " +
               std::to_string(p.bytes) + " bytes, " + (p.fileSystem.empty() ? "unknown" : p.fileSystem) +
               (p.label.empty() ? "" : ", label \"" + p.label + "\"") + "\n";
    }
    return out;
}

std::string IdentifyJson(const IdentifyReport& r) {
    std::string out = "{\"path\": " + Json(r.path) + ", \"image\": " + (r.isImage ? "true" : "false") +
                      ", \"container\": " + (r.isImage ? Json(r.container) : "null") +
                      ", \"nameSuggests\": " + (r.nameSuggests.empty() ? "null" : Json(r.nameSuggests)) +
                      ", \"fileBytes\": " + std::to_string(r.fileBytes) + ", \"headerDisagrees\": [";
    for (std::size_t k = 0; k < r.headerNotes.size(); ++k) out += (k ? ", " : "") + Json(r.headerNotes[k]);
    out += "], \"geometry\": " + Json(r.geometry) + ", \"disks\": [";
    for (std::size_t k = 0; k < r.disks.size(); ++k) {
        const IdentifiedFloppy& d = r.disks[k];
        out += std::string(k ? ", " : "") + "{\"name\": " + Json(SjisToUtf8(d.name)) + ", \"media\": " + Json(d.media) +
               ", \"writeProtected\": " + (d.writeProtected ? "true" : "false") + ", \"geometry\": " + Json(d.geometry) +
               ", \"tracks\": " + std::to_string(d.tracks) +
               ", \"fileSystem\": " + (d.fileSystem.empty() ? "null" : Json(d.fileSystem)) + ", \"label\": " + Json(d.label) +
               ", \"sectorSizes\": {";
        bool first = true;
        for (auto [bytes, n] : d.sectorSizes) {
            out += std::string(first ? "" : ", ") + "\"" + std::to_string(bytes) + "\": " + std::to_string(n);
            first = false;
        }
        out += "}, \"anomalies\": {";
        first = true;
        for (const auto& [kind, n] : d.anomalies) {
            out += std::string(first ? "" : ", ") + "\"" + kind + "\": {\"count\": " + std::to_string(n) +
                   ", \"first\": " + Json(d.firstAt.at(kind)) + "}";
            first = false;
        }
        out += "}}";
    }
    out += "], \"table\": " + (r.table.empty() ? std::string("null") : Json(r.table)) + ", \"partitions\": [";
    for (std::size_t k = 0; k < r.partitions.size(); ++k) {
        const IdentifiedPartition& p = r.partitions[k];
        out += std::string(k ? ", " : "") + "{\"name\": " + Json(p.name) + ", \"offset\": " + std::to_string(p.offset) +
               ", \"bytes\": " + std::to_string(p.bytes) + ", \"fileSystem\": " +
               (p.fileSystem.empty() ? "null" : Json(p.fileSystem)) + ", \"label\": " + Json(p.label) + "}";
    }
    return out + "]}";
}
