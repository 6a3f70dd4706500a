#include "opening/convert.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "device/asciicase.h"
#include "device/deviceio_file.h"
#include "device/sjis.h"
#include "device/userinterface.h"
#include "opening/detect.h"

namespace {

constexpr uint32_t kChunk = 1u << 20;  // hard disks go over a MiB at a time

std::string Msg(unsigned id, const MsgArgs& args) { return ResourceString().LoadMessageV(id, args); }

std::string Extension(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string e = path.substr(dot);
    for (char& c : e)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return e;
}

// The new file beside the target, written through plain pwrite.
class PartialFile : public DeviceIOIF {
public:
    explicit PartialFile(const std::string& target) : path_(target + ".partXXXXXX") {
        fd_ = mkstemp(path_.data());
        if (fd_ < 0) return;
        mode_t mask = umask(0);
        umask(mask);
        if (fchmod(fd_, 0666 & ~mask) != 0) failed_ = true;
    }
    ~PartialFile() override {
        if (fd_ >= 0) ::close(fd_);
        if (!kept_ && fd_ >= 0) std::remove(path_.c_str());
    }
    bool Made() const { return fd_ >= 0; }
    const char* GetName() override { return "partial"; }
    const char* GetPath() override { return path_.c_str(); }
    bool IsReadOnly() override { return false; }
    bool Read(int64_t offset, void* buffer, uint32_t length) override {
        return pread(fd_, buffer, length, offset) == ssize_t(length);
    }
    bool Write(int64_t offset, const void* buffer, uint32_t length) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        while (length > 0) {
            ssize_t w = pwrite(fd_, p, length, offset);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                failed_ = true;
                return false;
            }
            p += w;
            offset += w;
            length -= uint32_t(w);
        }
        return true;
    }
    bool MakeReadOnly() override { return false; }
    void Destroy() override {}
    // Flushes, closes and gives the file the target's name, and the name
    // itself reaches the disk with its folder.
    bool Commit(const std::string& target) {
        bool ok = !failed_ && fsync(fd_) == 0;
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        if (ok && std::rename(path_.c_str(), target.c_str()) != 0) ok = false;
        if (!ok) {
            ShowSystemError();
            std::remove(path_.c_str());
            return false;
        }
        kept_ = true;
        std::size_t slash = target.find_last_of('/');
        std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
        if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
            if (fsync(dir) != 0) ok = false;
            ::close(dir);
        }
        return ok;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool failed_ = false, kept_ = false;
};

std::string TargetWords(const std::string& kind) { return kind == "Plain" ? Msg(1950, {}) : Msg(1951, {kind}); }

// Whether the target may be written: not the source, and replaced only when allowed.
bool MayWrite(const std::string& target, DeviceIOIF* source, bool replace, ConvertResult& r) {
    struct stat out, in;
    if (stat(target.c_str(), &out) != 0) return true;
    if (!S_ISREG(out.st_mode) ||
        (stat(source->GetPath(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)) {
        r.status = ConvertStatus::kRefused;
        r.reasons.push_back(Msg(1952, {target}));
        return false;
    }
    if (!replace && AskMessage(1740, kBoxYesNoQuestion, target) != kIdYes) {
        r.status = ConvertStatus::kKept;
        return false;
    }
    return true;
}

ConvertResult ConvertFloppy(std::unique_ptr<FloppyTrackSource> from, const FloppyContainerFormat& to,
                            const std::string& target, bool lossy, const ConvertProgress& progress, uint64_t size) {
    ConvertResult r;
    r.targetKind = to.kind;
    const FloppyDiskInfo& info = from->Info();
    r.geometry = GeometryText(info.geometry);
    PartialFile file(target);
    if (!file.Made()) {
        ShowSystemError();
        ShowMessage(1741, target);
        return r;
    }
    std::vector<FloppyLoss> losses;
    std::unique_ptr<FloppyTrackSink> sink = to.create(&file);
    bool ok = sink->Begin(info, losses);
    const uint64_t tracks = uint64_t(info.cylinders) * info.heads;
    FloppyTrack track;
    for (uint32_t c = 0; ok && c < info.cylinders; ++c)
        for (uint32_t h = 0; ok && h < info.heads; ++h) {
            ok = from->ReadTrack(c, h, track) && sink->WriteTrack(track, losses);
            if (ok && progress && tracks && !progress(size * (uint64_t(c) * info.heads + h + 1) / tracks, size)) {
                ShowMessage(1974, target);
                return r;
            }
        }
    ok = ok && sink->Finish();
    if (!ok) {
        ShowMessage(1741, target);
        return r;
    }
    for (const FloppyLoss& l : losses) r.reasons.push_back(FloppyLossText(l, to.kind));
    r.losses = !losses.empty();
    // A disk the target cannot describe at all leaves nothing to keep.
    const bool shapeless = std::any_of(losses.begin(), losses.end(), [](const FloppyLoss& l) {
        return l.kind == FloppyLoss::kGeometry;
    });
    if (shapeless) r.losses = false;
    if (!losses.empty() && (!lossy || shapeless)) {
        r.status = ConvertStatus::kRefused;
        return r;
    }
    if (!file.Commit(target)) {
        ShowMessage(1741, target);
        return r;
    }
    r.status = ConvertStatus::kDone;
    return r;
}

// The geometry an AT disk's header can give it: the most heads (up to 16)
// and sectors (up to 63) that divide its sectors into whole cylinders.
bool FitATGeometry(HardDiskLayout& d) {
    if (d.dataBytes % 512) return false;
    const uint64_t sectors = d.dataBytes / 512;
    for (uint32_t s = 63; s >= 1; --s)
        for (uint32_t h = 16; h >= 1; --h)
            if (sectors % (uint64_t(s) * h) == 0) {
                d.sectorSize = 512, d.sectors = s, d.heads = h, d.cylinders = uint32_t(sectors / (s * h));
                return true;
            }
    return false;
}

bool IsX68000(const std::string& kind) { return kind.rfind("X68000", 0) == 0; }

ConvertResult ConvertHardDisk(DeviceIOIF* source, uint64_t size, const HardDiskContainerFormat& to, HardDiskLayout disk,
                              const std::string& tableKind, const std::string& target, bool lossy,
                              const ConvertProgress& progress) {
    ConvertResult r;
    r.targetKind = to.kind;
    r.status = ConvertStatus::kRefused;
    const std::string toKind = to.kind;
    // The X68000 tables count records of the disk's own size: a SCSI disk
    // stays a SCSI disk, a SASI disk a SASI disk.
    if (IsX68000(tableKind) != IsX68000(toKind) && toKind != "Plain") {
        r.reasons.push_back(Msg(1955, {tableKind, toKind}));
        return r;
    }
    if (IsX68000(toKind) && toKind != tableKind) {
        r.reasons.push_back(Msg(1956, {tableKind, std::to_string(disk.sectorSize), toKind}));
        return r;
    }
    HardDiskLayout out = disk;
    out.dataOffset = 0;
    if (tableKind == "AT" && !to.header(out)) FitATGeometry(out);
    auto header = to.header(out);
    r.geometry = out.cylinders ? ChsText(out.cylinders, out.heads, out.sectors, out.sectorSize)
                               : std::to_string(disk.dataBytes) + " bytes";
    if (!header && out.sectorSize && out.sectors && out.heads) {
        // Whole cylinders only: the bytes after the last one would be dropped.
        const uint64_t cylinder = uint64_t(out.sectorSize) * out.sectors * out.heads;
        HardDiskLayout cut = out;
        cut.cylinders = uint32_t(disk.dataBytes / cylinder);
        cut.dataBytes = cut.cylinders * cylinder;
        if (auto h = to.header(cut); h && cut.dataBytes < disk.dataBytes) {
            r.reasons.push_back(Msg(1957, {disk.dataBytes - cut.dataBytes, TargetWords(toKind)}));
            r.losses = true;
            if (!lossy) return r;
            out = cut;
            header = h;
        }
    }
    if (!header) {
        r.reasons.push_back(Msg(1958, {r.geometry, disk.dataBytes, TargetWords(toKind)}));
        return r;
    }
    r.status = ConvertStatus::kFailed;
    PartialFile file(target);
    if (!file.Made()) {
        ShowSystemError();
        ShowMessage(1741, target);
        return r;
    }
    bool ok = header->empty() || file.Write(0, header->data(), uint32_t(header->size()));
    std::vector<uint8_t> chunk(kChunk);
    for (uint64_t done = 0; ok && done < out.dataBytes;) {
        uint32_t n = uint32_t(std::min<uint64_t>(kChunk, out.dataBytes - done));
        ok = source->Read(int64_t(disk.dataOffset + done), chunk.data(), n) &&
             file.Write(int64_t(out.dataOffset + done), chunk.data(), n);
        done += n;
        if (ok && progress && !progress(done, out.dataBytes)) {
            ShowMessage(1974, target);
            return r;
        }
    }
    (void)size;
    if (!ok || !file.Commit(target)) {
        ShowMessage(1741, target);
        return r;
    }
    r.status = ConvertStatus::kDone;
    return r;
}

}  // namespace

const FloppyContainerFormat* FloppyTargetFor(const std::string& path, const std::string& container) {
    const std::string ext = Extension(path);
    for (const FloppyContainerFormat& f : FloppyContainerFormats())
        if (WordListHolds(f.extensions, ext) && (container.empty() || ContainerNamed(f.kind, container))) return &f;
    return nullptr;
}

// Only containers the program writes are targets (a row without a header
// is read only).
const HardDiskContainerFormat* HardDiskTargetFor(const std::string& path, const std::string& container) {
    const std::string ext = Extension(path);
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats())
        if (WordListHolds(f.extensions, ext) && (container.empty() || ContainerNamed(f.kind, container)))
            return f.header ? &f : nullptr;
    return nullptr;
}

std::string ContainerWordsFor(const std::string& extension) {
    std::string out;
    auto add = [&](const char* kind) { out += (out.empty() ? "" : " ") + ContainerWord(kind); };
    for (const FloppyContainerFormat& f : FloppyContainerFormats())
        if (WordListHolds(f.extensions, extension)) add(f.kind);
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats())
        if (f.header && WordListHolds(f.extensions, extension)) add(f.kind);
    return out;
}

std::string ConvertExtensions() {
    std::string out;
    auto add = [&](const char* list) {
        std::string word;
        for (const char* p = list;; ++p) {
            if (*p == ' ' || *p == '\0') {
                if (!word.empty() && !WordListHolds(out.c_str(), word))
                    out += (out.empty() ? "" : " ") + word;
                word.clear();
                if (!*p) break;
            } else {
                word += *p;
            }
        }
    };
    for (const auto& f : FloppyContainerFormats()) add(f.extensions);
    for (const auto& f : HardDiskContainerFormats())
        if (f.header) add(f.extensions);
    return out;
}

std::unique_ptr<FloppyTrackSource> OpenFloppySource(DeviceIOIF* file, uint64_t size, std::size_t disk, std::string* kind) {
    for (const FloppyContainerFormat& f : FloppyContainerFormats())
        if (auto s = f.open(file, size, disk)) {
            if (kind) *kind = f.kind;
            return s;
        }
    return nullptr;
}

std::string FloppyLossText(const FloppyLoss& l, const std::string& targetKind) {
    const std::string t = TargetWords(targetKind);
    const MsgArg c = l.cylinder, h = l.head, r = l.r;
    switch (l.kind) {
    case FloppyLoss::kSectorSize: return Msg(1940, {c, h, r, l.detail, l.other, t});
    case FloppyLoss::kDeletedMark: return Msg(1941, {c, h, r, t});
    case FloppyLoss::kDuplicateId: return Msg(1942, {c, h, r, t});
    case FloppyLoss::kCrcError: return Msg(1943, {c, h, r, l.detail, t});
    case FloppyLoss::kMissingSector: return Msg(1944, {c, h, r, t});
    case FloppyLoss::kLongTrack:
        return l.r ? Msg(1945, {c, h, r, l.other, t}) : Msg(1946, {c, h, l.detail, t, l.other});
    case FloppyLoss::kSingleDensity: return Msg(1947, {c, h, r, t});
    case FloppyLoss::kForeignId:
        return Msg(1948, {c, h, r, l.detail >> 24 & 0xFF, l.detail >> 16 & 0xFF, l.detail >> 8 & 0xFF, l.detail & 0xFF, t});
    case FloppyLoss::kGeometry:
        return Msg(1949, {l.cylinder ? GeometryText({l.cylinder, l.head, l.r, uint32_t(l.detail)}) : std::string("-"), t});
    case FloppyLoss::kHeaderField: return Msg(1953, {t});
    case FloppyLoss::kMissingTrack: return Msg(1954, {c, h, t});
    case FloppyLoss::kDataLength: return Msg(1959, {c, h, r, l.detail, l.other, t});
    case FloppyLoss::kTooManyTracks: return Msg(1960, {c, h, t});
    }
    return {};
}

ConvertResult ConvertImage(DeviceIOIF* source, uint64_t size, const ConvertRequest& q, const ConvertProgress& progress) {
    ConvertResult r;
    r.status = ConvertStatus::kRefused;
    const FloppyContainerFormat* floppyTarget = FloppyTargetFor(q.target, q.container);
    const HardDiskContainerFormat* diskTarget = HardDiskTargetFor(q.target, q.container);
    if (!floppyTarget && !diskTarget && !q.container.empty()) {
        const std::string words = ContainerWordsFor(Extension(q.target));
        if (!words.empty()) {
            r.reasons.push_back(Msg(2300, {q.container, Extension(q.target), words}));
            return r;
        }
    }
    if (!floppyTarget && !diskTarget) {
        r.reasons.push_back(Msg(1961, {Extension(q.target).empty() ? q.target : Extension(q.target), ConvertExtensions()}));
        return r;
    }

    // A floppy container, one disk of it.
    std::string kind;
    if (auto first = OpenFloppySource(source, size, 0, &kind)) {
        r.sourceKind = kind;
        std::vector<std::unique_ptr<FloppyTrackSource>> disks;
        disks.push_back(std::move(first));
        const FloppyContainerFormat* row = nullptr;
        for (const auto& f : FloppyContainerFormats())
            if (kind == f.kind) row = &f;
        for (std::size_t k = 1;; ++k) {
            auto d = row->open(source, size, k);
            if (!d) break;
            disks.push_back(std::move(d));
        }
        if (!floppyTarget) {
            r.reasons.push_back(Msg(1962, {std::string(diskTarget->kind)}));
            return r;
        }
        std::size_t pick = 0;
        if (q.disk) {
            if (*q.disk < 1 || *q.disk > disks.size()) {
                r.reasons.push_back(Msg(1963, {uint64_t(*q.disk), disks.size()}));
                return r;
            }
            pick = *q.disk - 1;
        } else if (disks.size() > 1) {
            r.reasons.push_back(Msg(1964, {disks.size()}));
            for (std::size_t k = 0; k < disks.size(); ++k)
                r.reasons.push_back(Msg(1965, {uint64_t(k + 1), SjisToUtf8(disks[k]->Info().name), GeometryText(disks[k]->Info().geometry)}));
            return r;
        }
        if (!MayWrite(q.target, source, q.replace, r)) return r;
        ConvertResult done = ConvertFloppy(std::move(disks[pick]), *floppyTarget, q.target, q.lossy, progress, size);
        done.sourceKind = kind;
        return done;
    }

    // A hard disk: its header (if any) and the table it holds.
    std::vector<uint8_t> head(std::min<uint64_t>(size, 4096), 0);
    if (!head.empty() && !source->Read(0, head.data(), uint32_t(head.size()))) {
        r.status = ConvertStatus::kFailed;
        return r;
    }
    std::optional<HardDiskLayout> layout;
    for (const auto& f : HardDiskContainerFormats()) {
        if (std::string(f.kind) == "Plain") continue;
        if ((layout = f.probe(head.data(), head.size(), size))) {
            kind = f.kind;
            break;
        }
    }
    std::string tableKind = kind;
    if (!layout || kind == "HDI" || kind == "NHD" || kind == "THD" || kind == "Virtual98 HDD" || kind == "SLH") {
        DeviceIOIF* probe = source;
        DetectedImage d = DetectImage(probe, size);
        if (probe != source) {
            // A floppy container the tables above did not take.
            r.reasons.push_back(Msg(1966, {source->GetPath()}));
            return r;
        }
        if (!layout) {
            // Nothing known, a format known but not read, or a floppy the
            // sources above did not take: nothing to convert.
            if (d.container.empty() || d.road == DetectedImage::kRefused ||
                (d.road == DetectedImage::kVolume && d.container != "Plain")) {
                r.reasons.push_back(Msg(1966, {source->GetPath()}));
                return r;
            }
            kind = "Plain";
            tableKind = d.container;
            layout = HardDiskLayout{0, size, 0, 0, 0, 0};
            // A PC-9801 disk without a header: the geometry its table was found with.
            if (d.container == "PC-9801") {
                layout->sectorSize = uint32_t(d.geometry.SecLen);
                layout->sectors = uint32_t(d.geometry.Sectors);
                layout->heads = uint32_t(d.geometry.Heads);
                layout->cylinders = uint32_t(d.geometry.Cylinders);
            }
        } else {
            tableKind = d.geometry.HDDType == kTableAT ? "AT" : "PC-9801";
        }
    }
    r.sourceKind = kind;
    if (!diskTarget) {
        r.reasons.push_back(Msg(1967, {std::string(floppyTarget->kind)}));
        return r;
    }
    if (q.disk) {
        r.reasons.push_back(Msg(1963, {uint64_t(*q.disk), 1}));
        return r;
    }
    if (!MayWrite(q.target, source, q.replace, r)) return r;
    ConvertResult done = ConvertHardDisk(source, size, *diskTarget, *layout, tableKind, q.target, q.lossy, progress);
    done.sourceKind = kind;
    return done;
}

ConvertResult ConvertImageFile(const std::string& sourcePath, const ConvertRequest& q, const ConvertProgress& progress) {
    ConvertResult r;
    auto* file = new DeviceIO_File;
    std::unique_ptr<DeviceIOIF, DeviceDestroyer> owner(file);
    if (!file->Open(sourcePath)) return r;
    return ConvertImage(file, ImageFileSize(sourcePath), q, progress);
}

std::optional<std::string> RunConvertImage(DeviceIOIF* file, uint64_t size, std::optional<std::size_t> disk) {
    std::string target, container;
    while (UI().AskConvertTarget(file->GetPath(), target, container)) {
        ConvertRequest q;
        q.target = target;
        q.container = container;
        q.disk = disk;
        ConvertResult r = ConvertImage(file, size, q);
        if (r.status == ConvertStatus::kRefused) {
            if (!r.losses) {
                UI().ConfirmConversionLosses(r.reasons, false);
                continue;
            }
            if (!UI().ConfirmConversionLosses(r.reasons, true)) continue;
            // The replacement, if any, was agreed to the first time.
            q.lossy = q.replace = true;
            r = ConvertImage(file, size, q);
        }
        if (r.status == ConvertStatus::kKept) continue;
        if (r.status != ConvertStatus::kDone) return std::nullopt;
        ShowMessage(1973, target);
        return target;
    }
    return std::nullopt;
}
