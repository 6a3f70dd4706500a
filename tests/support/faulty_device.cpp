#include "support/faulty_device.h"

#include <algorithm>
#include <filesystem>

#include "device/deviceio_file.h"
#include "volume/fsck/checker.h"
#include "volume/volumeparams.h"

Mounted MountFaulty(const std::string& path, FaultyDevice::Mode mode, int n, FaultyDevice** device,
                    uint32_t fileSystem) {
    Mounted m;
    auto* file = new DeviceIO_File;
    if (!file->Open(path)) {
        file->Destroy();
        return m;
    }
    VolumeParams p;
    p.Device = file;
    p.FileSystem = fileSystem;
    if (DecodeBootRecord(p) != BootOk) {
        file->Destroy();
        return m;
    }
    auto* faulty = new FaultyDevice(file, mode, n);
    p.Device = faulty;
    if (device) *device = faulty;
    auto image = std::make_unique<DiskImage>();
    if (!image->Mount(p)) return m;
    m.image = std::move(image);
    return m;
}

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// What fsck.fat -n says of a boot sector label that differs from the root's.
bool LabelMismatchLine(const std::string& line) {
    return (StartsWith(line, "Volume label '") && EndsWith(line, "' stored in boot sector and different.")) ||
           (StartsWith(line, "Label in boot sector is '") &&
            EndsWith(line, "', but there is no volume label in root directory.")) ||
           StartsWith(line, "There is no label in boot sector, but there is volume label '") ||
           line == "  Auto-copying volume label from root directory to boot sector." ||
           line == "  Auto-removing label from boot sector.";
}

}  // namespace

std::string FsckDamage(const std::string& path, const std::vector<std::string>& movedNames, bool longChains,
                       bool labels) {
    std::string damage;
    const std::vector<std::string> lines = FsckFindings(path);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        // "/PATH", "  File size is N bytes, cluster chain length is > M
        // bytes.", "  Truncating file to N bytes.": a chain beyond the size.
        if (longChains && StartsWith(line, "/") && k + 2 < lines.size() &&
            StartsWith(lines[k + 1], "  File size is ") &&
            lines[k + 1].find("cluster chain length is > ") != std::string::npos &&
            StartsWith(lines[k + 2], "  Truncating file to ")) {
            k += 2;
            continue;
        }
        // Lost clusters: fsck.fat -n counts them as "Reclaimed"; the FAT
        // copies differ when a stop came between the writes of the copies,
        // the first one (which every system reads) being the newer.
        bool allowed = StartsWith(line, "Reclaimed ") || line == "FATs differ but appear to be intact." ||
                       line == "  Using first FAT." ||
                       StartsWith(line, "Dirty bit is set.") || line == " Automatically removing dirty bit.";
        // The boot sector's label, one write behind the root's.
        allowed = allowed || (labels && LabelMismatchLine(line));
        if (!allowed && !movedNames.empty()) {
            std::string trimmed = line;
            if (EndsWith(trimmed, "  and")) trimmed.resize(trimmed.size() - 5);
            for (const std::string& moved : movedNames)
                if (StartsWith(trimmed, "/") && EndsWith(trimmed, "/" + moved)) allowed = true;
            // fsck.fat cuts the second of the two entries to nothing and
            // then finds its size wrong.
            allowed = allowed || line == "  share clusters." || line == "  Truncating second to 0 bytes." ||
                      line == "  Invalid '..' entry in the second slot. Fixing." ||
                      line == "  Truncating file to 0 bytes." ||
                      (StartsWith(line, "  File size is ") && EndsWith(line, " bytes, cluster chain length is 0 bytes."));
        }
        if (!allowed) damage += line + "\n";
    }
    return damage;
}

std::map<std::string, std::vector<uint8_t>> FilesByMtools(const std::string& image) {
    std::map<std::string, std::vector<uint8_t>> files;
    TempDir out;
    // A stop on FAT16 leaves the "not cleanly closed" mark in the first
    // FAT copy only, which mtools reads only without its checks.
    RunShell("MTOOLS_SKIP_CHECK=1 mcopy -s -n -Q -i " + Quote(image) + " '::/*' " + Quote(out.path() + "/"));
    namespace fs = std::filesystem;
    for (const auto& e : fs::recursive_directory_iterator(out.path())) {
        if (!e.is_regular_file()) continue;
        std::string rel = fs::relative(e.path(), out.path()).string();
        std::transform(rel.begin(), rel.end(), rel.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        files[rel] = ReadHostFile(e.path().string());
    }
    return files;
}

bool OnlyWhatAStopLeaves(const CheckResult& r, bool moved, bool longChains, bool movedInFolder, bool labels) {
    if (!r.complete) return false;
    for (std::size_t k = 0; k < kCheckKinds; ++k) {
        CheckKind kind = CheckKind(k);
        bool allowed = kind == CheckKind::LostClusters || kind == CheckKind::FatCopyBehind ||
                       kind == CheckKind::NotClosed || (labels && kind == CheckKind::LabelsDiffer) ||
                       (moved && !movedInFolder && kind == CheckKind::InTwoFolders) ||
                       (movedInFolder && kind == CheckKind::CrossLink) ||
                       (longChains && kind == CheckKind::SizeMismatch);
        if (r.counts[k] != 0 && !allowed) return false;
    }
    // "size S needs N clusters, the chain has M" (path, S, N, M): only with
    // M above N.
    for (const CheckFinding& f : r.findings) {
        if (f.kind != CheckKind::SizeMismatch) continue;
        if (f.message != 2284 || f.inserts.size() != 4) return false;
        if (f.inserts[3].Number() <= f.inserts[2].Number()) return false;
    }
    return true;
}
