#include "opening/newdisk.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/byteorder.h"
#include "device/containerformats.h"
#include "device/containerdevice.h"
#include "device/d88.h"
#include "device/dim.h"
#include "device/floppycontainers.h"
#include "device/messages.h"
#include "device/nfd.h"
#include "device/sjis.h"
#include "device/userinterface.h"
#include "opening/detect.h"
#include "volume/formatter.h"

namespace {

constexpr uint64_t kMiB = 1048576;

// Floppies, each as its system formats it.
struct FloppySpec {
    const char* name;
    uint32_t cylinders, heads, sectors, sectorSize;
    uint32_t sectorsPerCluster, rootEntries;
    uint8_t media;
    bool human68k;
    uint8_t d88Media, anex86Type;  // the D88 media byte; the Anex86 and NFD disk type
};
const FloppySpec kFloppies[] = {
    {"2hd", 77, 2, 8, 1024, 1, 192, 0xFE, false, 0x20, 0x90},
    {"1.44m", 80, 2, 18, 512, 1, 224, 0xF0, false, 0x20, 0x30},
    {"2dd", 80, 2, 9, 512, 2, 112, 0xF9, false, 0x10, 0x10},
    {"640k", 80, 2, 8, 512, 2, 112, 0xFB, false, 0x10, 0x10},
    {"x68k-2hd", 77, 2, 8, 1024, 1, 192, 0xFE, true, 0x20, 0x90},
};

// Containers: the kind `info` names, the extensions, and the formats they
// take ("floppy": every floppy, or the ones named).
struct ContainerSpec {
    const char* kind;
    const char* extensions;
    const char* formats;
};
const ContainerSpec kContainers[] = {
    {"FDI", ".fdi", "floppy"},
    {"D88", ".d88 .d77 .d68 .d98 .88d", "floppy"},
    {"NFD", ".nfd", "floppy"},
    {"NFD r1", ".nfd", "floppy"},
    {"DIM", ".dim", "2hd x68k-2hd 1.44m"},
    {"IMD", ".imd", "floppy"},
    {"FDD", ".fdd", "floppy"},
    {"DCP", ".dcp .dcu", "floppy"},
    {"HFE", ".hfe", "floppy"},
    {"Plain", ".hdm .xdf .tfd .img .ima", "floppy"},
    {"HDI", ".hdi", "pc98-hd at-hd"},
    {"NHD", ".nhd", "pc98-hd"},
    {"THD", ".thd", "pc98-hd"},
    {"Virtual98 HDD", ".hdd", "pc98-hd"},
    {"SLH", ".slh", "pc98-hd"},
    {"PC-9801", ".img", "pc98-hd"},
    {"AT", ".img", "at-hd"},
    {"X68000 SCSI", ".hds .hda .img", "x68k-hd"},
    {"X68000 SASI", ".hdf", "x68k-hd"},
};

// Hard-disk sizes accepted, in bytes.
struct SizeRange {
    const char* format;
    uint64_t min, max;
};
const SizeRange kRanges[] = {
    {"pc98-hd", 5 * kMiB, 2048 * kMiB}, {"at-hd", 8 * kMiB, 2048 * kMiB}, {"x68k-hd", 10 * kMiB, 2048 * kMiB}};
// X68000 SASI drives: 10, 20 and 40 MB, and the bytes each holds.
const struct {
    uint64_t nominal, bytes;
} kSasiDrives[] = {{10 * kMiB, 10441728}, {20 * kMiB, 20748288}, {40 * kMiB, 41496576}};

std::string Msg(unsigned id, const MsgArgs& args) { return ResourceString().LoadMessageV(id, args); }

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

const FloppySpec* FindFloppy(const std::string& name) {
    for (const FloppySpec& f : kFloppies)
        if (name == f.name) return &f;
    return nullptr;
}

bool Fits(const ContainerSpec& c, const std::string& format) {
    return WordListHolds(c.formats, format) || (FindFloppy(format) && WordListHolds(c.formats, "floppy"));
}

std::string Extension(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot));
}

std::string SizeText(uint64_t bytes) {
    if (bytes % (1024 * kMiB) == 0) return std::to_string(bytes / (1024 * kMiB)) + "G";
    return std::to_string(bytes / kMiB) + "M";
}

uint32_t NewSerial() {
    std::time_t now = std::time(nullptr);
    return uint32_t(now) * 2654435761u ^ uint32_t(getpid());
}

void Put(NewImagePlan& plan, uint64_t at, std::vector<uint8_t> bytes) { plan.pieces.emplace_back(at, std::move(bytes)); }

// The Anex86 header (.FDI, .HDI): 32 bytes of a 4096-byte header.
std::vector<uint8_t> Anex86Header(uint32_t type, uint64_t dataBytes, uint32_t secLen, uint32_t sectors,
                                  uint32_t heads, uint32_t cylinders) {
    std::vector<uint8_t> h(32, 0);
    PutLE32(h.data() + 4, type);
    PutLE32(h.data() + 8, 4096);
    PutLE32(h.data() + 12, uint32_t(dataBytes));
    PutLE32(h.data() + 16, secLen);
    PutLE32(h.data() + 20, sectors);
    PutLE32(h.data() + 24, heads);
    PutLE32(h.data() + 28, cylinders);
    return h;
}

bool PlanFloppy(const FloppySpec& f, const ContainerSpec& c, const std::string& label, NewImagePlan& plan) {
    NewVolume v;
    v.fileSystem = f.human68k ? kFileSystemHuman68k : kFileSystemDOS;
    v.x68000Floppy = f.human68k;
    v.bytesPerSector = f.sectorSize;
    v.sectorsPerCluster = f.sectorsPerCluster;
    v.rootEntries = f.rootEntries;
    v.media = f.media;
    v.sectorsPerTrack = f.sectors;
    v.heads = f.heads;
    v.totalSectors = f.cylinders * f.heads * f.sectors;
    v.label = label;
    if (!FinishLayout(v)) return false;
    ContainerGeometry g{f.cylinders, f.heads, f.sectors, f.sectorSize};
    std::vector<uint8_t> plain = VolumeSystemArea(v, NewSerial());
    plain.resize(g.Bytes(), 0);
    const std::string kind = c.kind;
    if (kind == "D88") {
        std::string name = label.empty() ? "" : label.substr(0, label.find_last_not_of(' ') + 1);
        plain = MakeD88(plain, g, f.d88Media, name);
    } else if (kind == "NFD") {
        plain = MakeNFD(plain, g, f.anex86Type);
    } else if (kind == "DIM") {
        plain = MakeDIM(plain, DIMTypeFor(g).value_or(0));
    } else if (kind == "IMD" || kind == "FDD" || kind == "DCP" || kind == "HFE" || kind == kNFD1Kind) {
        // Containers written track by track through their sinks.
        std::optional<std::vector<uint8_t>> made;
        for (const FloppyContainerFormat& format : FloppyContainerFormats())
            if (kind == format.kind) made = MakeFloppyContainer(format, plain, g, MediaOf(g), "");
        if (!made) return false;
        plain = std::move(*made);
    } else if (kind == "FDI") {
        std::vector<uint8_t> head = Anex86Header(f.anex86Type, g.Bytes(), f.sectorSize, f.sectors, f.heads, f.cylinders);
        head.resize(4096, 0);
        plain.insert(plain.begin(), head.begin(), head.end());
    }
    plan.fileBytes = plain.size();
    Put(plan, 0, std::move(plain));
    plan.geometry = GeometryText(g);
    return true;
}

// A PC-9801 disk: sector 0 marked as a disk's first sector, the table in
// sector 1, one FAT16 partition from cylinder 1 to the last.
void PlanPC98(const std::string& kind, uint64_t size, const std::string& label, NewImagePlan& plan) {
    const bool thd = kind == "THD";
    const uint32_t secLen = thd ? 256 : 512, sectors = thd ? 33 : 17, heads = 8;
    const uint64_t cylinderBytes = uint64_t(secLen) * sectors * heads;
    const uint32_t cylinders = uint32_t(size / cylinderBytes);
    const uint64_t diskBytes = cylinders * cylinderBytes;
    const uint64_t base = kind == "HDI" ? 4096 : kind == "NHD" || kind == "SLH" ? 512 : thd ? 256 : kind == "Virtual98 HDD" ? 220 : 0;

    if (kind == "HDI") {
        Put(plan, 0, Anex86Header(0, diskBytes, secLen, sectors, heads, cylinders));
    } else if (kind == "NHD") {
        std::vector<uint8_t> h(512, 0);
        std::memcpy(h.data(), "T98HDDIMAGE.R0", 14);
        PutLE32(h.data() + 0x110, 512);
        PutLE32(h.data() + 0x114, cylinders);
        PutLE16(h.data() + 0x118, uint16_t(heads));
        PutLE16(h.data() + 0x11A, uint16_t(sectors));
        PutLE16(h.data() + 0x11C, uint16_t(secLen));
        Put(plan, 0, std::move(h));
    } else if (kind == "Virtual98 HDD" || kind == "SLH") {
        HardDiskLayout layout;
        layout.sectorSize = secLen, layout.sectors = sectors, layout.heads = heads, layout.cylinders = cylinders;
        layout.dataBytes = diskBytes;
        if (auto h = kind == "SLH" ? SLHHeader(layout) : VHDHeader(layout)) Put(plan, 0, std::move(*h));
    } else if (thd) {
        std::vector<uint8_t> h(256, 0);
        PutLE16(h.data(), uint16_t(cylinders));
        Put(plan, 0, std::move(h));
    }
    std::vector<uint8_t> first(2 * secLen, 0);
    first[secLen - 2] = 0x55;
    first[secLen - 1] = 0xAA;
    uint8_t* e = first.data() + secLen;
    e[0] = 0x20;  // a DOS partition, not bootable
    e[1] = 0xA1;  // FAT16, active
    PutLE16(e + 6, 1);   // first sector: cylinder 1, head 0, sector 0
    PutLE16(e + 10, 1);
    e[12] = uint8_t(sectors - 1);
    e[13] = uint8_t(heads - 1);
    PutLE16(e + 14, uint16_t(cylinders - 1));
    std::string name = label.empty() ? "DATA" : label.substr(0, label.find_last_not_of(' ') + 1);
    std::memcpy(e + 16, name.data(), std::min<std::size_t>(name.size(), 16));
    Put(plan, base, std::move(first));

    const uint64_t partition = cylinderBytes, partBytes = diskBytes - cylinderBytes;
    NewVolume v = HardDiskFAT16(partBytes / 512, sectors, heads, uint32_t(partition / 512));
    v.label = label;
    Put(plan, base + partition, VolumeSystemArea(v, NewSerial()));
    plan.fileBytes = base + diskBytes;
    plan.geometry = ChsText(cylinders, heads, sectors, secLen);
}

// CHS of an LBA sector on 255 heads of 63 sectors, as partition entries store it.
void PutCHS(uint8_t* p, uint64_t lba) {
    uint64_t c = lba / (255 * 63), h = lba / 63 % 255, s = lba % 63 + 1;
    if (c > 1023) {
        c = 1023;
        h = 254;
        s = 63;
    }
    p[0] = uint8_t(h);
    p[1] = uint8_t(s | (c >> 2 & 0xC0));
    p[2] = uint8_t(c);
}

// An AT disk: the master boot record with no boot program and one FAT16
// partition from 1 MiB to the end.
void PlanAT(const std::string& kind, uint64_t size, const std::string& label, NewImagePlan& plan) {
    const uint64_t cylinderBytes = 16 * 63 * 512;
    const uint32_t cylinders = uint32_t(size / cylinderBytes);
    const uint64_t diskBytes = cylinders * cylinderBytes, sectors = diskBytes / 512;
    const uint64_t base = kind == "HDI" ? 4096 : 0;
    if (kind == "HDI") Put(plan, 0, Anex86Header(0, diskBytes, 512, 63, 16, cylinders));
    const uint64_t first = 2048, count = sectors - first;
    std::vector<uint8_t> mbr(512, 0);
    PutLE32(mbr.data() + 440, NewSerial());
    uint8_t* e = mbr.data() + 446;
    PutCHS(e + 1, first);
    e[4] = count * 512 < 32 * kMiB ? 0x04 : 0x06;
    PutCHS(e + 5, first + count - 1);
    PutLE32(e + 8, uint32_t(first));
    PutLE32(e + 12, uint32_t(count));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    Put(plan, base, std::move(mbr));
    NewVolume v = HardDiskFAT16(count, 63, 255, uint32_t(first));
    v.label = label;
    Put(plan, base + first * 512, VolumeSystemArea(v, NewSerial()));
    plan.fileBytes = base + diskBytes;
    plan.geometry = kind == "HDI" ? ChsText(cylinders, 16, 63, 512) : std::to_string(sectors) + "/512";
}

// An X68000 disk: SCSI with its "X68SCSI1" header and 1024-byte records,
// or SASI with 256-byte records; the "X68K" table and one Human68k
// partition.
void PlanX68000(bool scsi, uint64_t size, const std::string& label, NewImagePlan& plan) {
    const uint32_t record = scsi ? 1024 : 256;
    const uint64_t diskBytes = size / record * record;
    const uint32_t records = uint32_t(diskBytes / record);
    const uint32_t start = scsi ? 32 : 64;
    if (scsi) {
        std::vector<uint8_t> h(16, 0);
        std::memcpy(h.data(), "X68SCSI1", 8);
        PutBE16(h.data() + 8, 512);
        PutBE32(h.data() + 10, uint32_t(diskBytes / 512));
        Put(plan, 0, std::move(h));
    }
    std::vector<uint8_t> table(32, 0);
    std::memcpy(table.data(), "X68K", 4);
    PutBE32(table.data() + 4, records);
    PutBE32(table.data() + 8, records);
    PutBE32(table.data() + 12, records);
    std::memcpy(table.data() + 16, "Human68k", 8);
    PutBE32(table.data() + 24, start);
    PutBE32(table.data() + 28, records - start);
    Put(plan, scsi ? 0x800 : 0x400, std::move(table));
    const uint64_t partition = uint64_t(start) * record;
    NewVolume v = HardDiskHuman68k(diskBytes - partition, scsi);
    v.label = label;
    Put(plan, partition, VolumeSystemArea(v, 0));
    plan.fileBytes = diskBytes;
    plan.geometry = std::to_string(scsi ? diskBytes / 512 : records) + "/" + (scsi ? "512" : "256");
}

}  // namespace

const std::vector<NewDiskFormat>& NewDiskFormats() {
    static const std::vector<NewDiskFormat> formats = {
        {"2hd", false, "Δισκέτα PC-9801 1,23 MB (77 x 2 x 8 x 1024), FAT12"},
        {"1.44m", false, "Δισκέτα 1,44 MB (80 x 2 x 18 x 512), FAT12"},
        {"2dd", false, "Δισκέτα 720 KB (80 x 2 x 9 x 512), FAT12"},
        {"640k", false, "Δισκέτα PC-9801 640 KB (80 x 2 x 8 x 512), FAT12"},
        {"x68k-2hd", false, "Δισκέτα X68000 1,23 MB (77 x 2 x 8 x 1024), Human68k"},
        {"pc98-hd", true, "Σκληρός δίσκος PC-9801, ένα διαμέρισμα FAT16"},
        {"at-hd", true, "Σκληρός δίσκος AT, ένα διαμέρισμα FAT16"},
        {"x68k-hd", true, "Σκληρός δίσκος X68000 SCSI ή SASI, ένα διαμέρισμα Human68k"},
    };
    return formats;
}

std::optional<uint64_t> ParseDiskSize(const std::string& text) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0) return std::nullopt;
    std::string unit = Lower(end);
    uint64_t scale = unit.empty() ? 1 : unit == "k" || unit == "kb" ? 1024 : unit == "m" || unit == "mb" ? kMiB
                                   : unit == "g" || unit == "gb"    ? 1024 * kMiB
                                                                    : 0;
    if (scale == 0 || v > UINT64_MAX / scale) return std::nullopt;
    return uint64_t(v) * scale;
}

std::string ExtensionsFor(const std::string& format) {
    std::string out;
    for (const ContainerSpec& c : kContainers)
        if (Fits(c, format)) {
            std::string exts = c.extensions;
            // .img stands in several rows; list it once.
            std::size_t at = 0;
            while (at < exts.size()) {
                std::size_t end = exts.find(' ', at);
                if (end == std::string::npos) end = exts.size();
                std::string ext = exts.substr(at, end - at);
                if (!WordListHolds(out.c_str(), ext)) out += (out.empty() ? "" : " ") + ext;
                at = end + 1;
            }
        }
    return out;
}

std::string FormatNames() {
    std::string out;
    for (const NewDiskFormat& f : NewDiskFormats()) out += (out.empty() ? "" : " ") + std::string(f.name);
    return out;
}

NewImagePlan PlanNewImage(const NewImageRequest& r) {
    NewImagePlan plan;
    auto fail = [&](NewImageStatus s, unsigned id, const MsgArgs& args) {
        plan.status = s;
        plan.message = Msg(id, args);
        plan.messageId = id;
        plan.messageArgs = args;
        return plan;
    };
    const NewDiskFormat* format = nullptr;
    for (const NewDiskFormat& f : NewDiskFormats())
        if (Lower(r.format) == f.name) format = &f;
    if (!format) return fail(NewImageStatus::kUnknownFormat, 1746, {r.format, FormatNames()});
    const std::string name = format->name, ext = Extension(r.path);
    const ContainerSpec* container = nullptr;
    bool known = false;
    std::string named;  // the containers of the extension, as --container names them
    for (const ContainerSpec& c : kContainers)
        if (WordListHolds(c.extensions, ext)) {
            known = true;
            if (!r.container.empty() && !ContainerNamed(c.kind, r.container)) {
                if (Fits(c, name)) named += (named.empty() ? "" : " ") + ContainerWord(c.kind);
                continue;
            }
            if (!container && Fits(c, name)) container = &c;
        }
    if (!known) return fail(NewImageStatus::kNoContainer, 1747, {ext.empty() ? r.path : ext, name, ExtensionsFor(name)});
    if (!container && !r.container.empty() && !named.empty())
        return fail(NewImageStatus::kNoContainer, 2300, {r.container, ext, named});
    if (!container) return fail(NewImageStatus::kDoesNotFit, 1744, {name, ext, ExtensionsFor(name)});
    plan.container = container->kind;

    std::string label;
    if (!r.label.empty()) {
        auto stored = LabelStoredForm(r.label, name == "x68k-2hd" || name == "x68k-hd");
        if (!stored) return fail(NewImageStatus::kBadLabel, 1750, {r.label});
        label = *stored;
    }
    if (const FloppySpec* f = FindFloppy(name)) {
        if (r.size) return fail(NewImageStatus::kSizeNotTaken, 1749, {name});
        PlanFloppy(*f, *container, label, plan);
        return plan;
    }
    if (!r.size) return fail(NewImageStatus::kSizeNeeded, 1745, {name});
    const uint64_t size = *r.size;
    if (plan.container == "X68000 SASI") {
        for (const auto& d : kSasiDrives)
            if (d.nominal == size) {
                PlanX68000(false, d.bytes, label, plan);
                return plan;
            }
        return fail(NewImageStatus::kSizeOutOfRange, 1743, {name + " (.hdf)", std::string("10M 20M 40M")});
    }
    for (const SizeRange& s : kRanges)
        if (name == s.format && (size < s.min || size > s.max))
            return fail(NewImageStatus::kSizeOutOfRange, 1742, {name, SizeText(s.min), SizeText(s.max)});
    if (name == "pc98-hd") PlanPC98(plan.container, size, label, plan);
    else if (name == "at-hd") PlanAT(plan.container, size, label, plan);
    else PlanX68000(true, size, label, plan);
    return plan;
}

bool WriteNewImage(const std::string& path, const NewImagePlan& plan, bool replace) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            ShowMessage(1741, path);
            return false;
        }
        if (!replace && AskMessage(1740, kBoxYesNoQuestion, path) != kIdYes) return false;
    }
    std::string partial = path + ".partXXXXXX";
    int fd = mkstemp(partial.data());
    if (fd < 0) {
        ShowSystemError();
        ShowMessage(1741, path);
        return false;
    }
    mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0 && ftruncate(fd, off_t(plan.fileBytes)) == 0;
    for (const auto& piece : plan.pieces) {
        std::size_t done = 0;
        while (ok && done < piece.second.size()) {
            ssize_t w = pwrite(fd, piece.second.data() + done, piece.second.size() - done, off_t(piece.first + done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) ok = false;
            else done += std::size_t(w);
        }
    }
    ok = ok && fsync(fd) == 0;
    if (!ok) ShowSystemError();
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(partial.c_str(), path.c_str()) != 0) {
        ShowSystemError();
        ok = false;
    }
    if (!ok) {
        std::remove(partial.c_str());
        ShowMessage(1741, path);
        return false;
    }
    // The new name itself reaches the disk with its folder.
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        fsync(dir);
        ::close(dir);
    }
    return true;
}

std::optional<std::string> RunNewImage() {
    NewImageAnswers answers;
    answers.format = NewDiskFormats().front().name;
    for (;;) {
        if (!UI().AskNewImage(answers)) return std::nullopt;
        NewImageRequest request{answers.path, answers.format, std::nullopt, answers.label, answers.container};
        if (!answers.size.empty() && !(request.size = ParseDiskSize(answers.size))) {
            ShowMessage(1753, answers.size);
            continue;
        }
        if (answers.path.empty()) {
            ShowMessage(1754);
            continue;
        }
        NewImagePlan plan = PlanNewImage(request);
        if (plan.status != NewImageStatus::kOk) {
            ShowMessageV(plan.messageId, plan.messageArgs);
            continue;
        }
        if (WriteNewImage(answers.path, plan, false)) return answers.path;
        struct stat st;
        // A refused replacement goes back to the form; a failed write ends here.
        if (stat(answers.path.c_str(), &st) != 0) return std::nullopt;
    }
}
