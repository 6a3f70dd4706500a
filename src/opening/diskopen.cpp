#include "opening/diskopen.h"
#include "device/byteorder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/deviceio_file.h"
#include "device/dlldevice.h"
#include "device/messages.h"
#include "device/programfolder.h"
#include "device/userinterface.h"
#include "device/windowtexts.h"
#include "opening/settings/config.h"
#include "opening/detect.h"
#include "opening/diskinfo.h"
#include "volume/didir.h"

namespace {

constexpr std::size_t kMaxProfileName = 255;

// Decodes one UTF-8 character at s[i]; advances i.
uint32_t NextCodePoint(const std::string& s, std::size_t& i) {
    unsigned char c = s[i];
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    uint32_t cp = extra ? c & (0x3F >> extra) : c;
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i) cp = cp << 6 | (static_cast<unsigned char>(s[i]) & 0x3F);
    return cp;
}

uint32_t FoldCodePoint(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;       // Latin-1
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;     // Greek
    switch (c) {
        case 0x3C2: return 0x3A3;  // final sigma
        case 0x3AC: return 0x386;
        case 0x3AD: return 0x388;
        case 0x3AE: return 0x389;
        case 0x3AF: return 0x38A;
        case 0x3CC: return 0x38C;
        case 0x3CD: return 0x38E;
        case 0x3CE: return 0x38F;
        default: return c;
    }
}

DeviceIOIF* OpenFileDevice(const std::string& path) {
    auto* d = new DeviceIO_File;
    if (!d->Open(path)) {
        d->Destroy();
        return nullptr;
    }
    return d;
}

// The profile named on the command line, taken away once used.
std::optional<std::string> TakeProfileOption() {
    std::optional<std::string> name;
    name.swap(PendingOpeningOptions().profile);
    if (name && name->size() > kMaxProfileName) name->resize(kMaxProfileName);
    return name;
}

bool TakeSkipOption() {
    bool skip = PendingOpeningOptions().skipTypeDialog;
    PendingOpeningOptions().skipTypeDialog = false;
    return skip;
}

}  // namespace

const char* const TDiskOpener::kBuiltInItemTexts[3] = {"Δισκέτα ειδικής μορφής ...", "Σκληρός δίσκος ειδικής μορφής ...",
                                                       "Απλή εικόνα δίσκου"};

OpeningOptions& PendingOpeningOptions() {
    static OpeningOptions options;
    return options;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (FoldCodePoint(NextCodePoint(a, i)) != FoldCodePoint(NextCodePoint(b, j))) return false;
    return i == a.size() && j == b.size();
}

namespace {

// A disk-type name as typed: no access-key mark ("&F" or "(&F)"), no
// closing dots or spaces.
std::string PlainTypeName(const std::string& text) {
    std::string s = WindowTextKey(text);  // "(&F)" is "(F)" from here
    std::size_t open = s.size() >= 3 ? s.rfind('(') : std::string::npos;
    if (open != std::string::npos && open + 3 == s.size() && s.back() == ')') s.erase(open);
    while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
    std::size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}

}  // namespace

namespace {

// The smallest file that can hold a boot record.
constexpr int64_t kSmallestImage = 512;

// The size of the image file or drive, or -1 after the refusal was shown.
int64_t ReadableImageSize(const std::string& path) {
    const std::string host = path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR) ShowMessage(1563, path);
        else ShowSystemErrorAbout(path, err);
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        ShowMessage(1565, path);
        return -1;
    }
    // Without waiting: a FIFO given as the image must not hold the program.
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        if (err == EACCES || err == EPERM) ShowMessage(1564, path);
        else ShowSystemErrorAbout(path, err);
        return -1;
    }
    off_t end = lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (!S_ISREG(st.st_mode)) return end < 0 ? 0 : int64_t(end);  // drives and the like say for themselves
    if (st.st_size == 0) {
        ShowMessage(1561, path);
        return -1;
    }
    if (st.st_size < kSmallestImage) {
        ShowMessage(1560, path);
        return -1;
    }
    return int64_t(st.st_size);
}

}  // namespace

bool CheckImageFile(const std::string& path) { return ReadableImageSize(path) >= 0; }

bool CheckImageOffset(const std::string& path, int64_t offset) {
    int64_t size = ReadableImageSize(path);
    if (size < 0) return false;
    if (size > 0 && offset >= size) {
        ShowMessage(1562, offset, path, GroupDigits(uint64_t(size)));
        return false;
    }
    return true;
}

int FindDiskType(const std::vector<std::string>& items, const std::string& name) {
    const std::string wanted = PlainTypeName(name);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (EqualIgnoringCase(items[i], name) || EqualIgnoringCase(PlainTypeName(items[i]), wanted)) return int(i);
        for (Language l : {Language::Greek, Language::English, Language::Japanese})
            if (const char* shown = WindowTextIn(l, items[i].c_str()))
                if (EqualIgnoringCase(PlainTypeName(shown), wanted)) return int(i);
    }
    return -1;
}

std::string PathExtension(const std::string& path) {
    std::size_t sep = path.find_last_of("/\\:");
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return ext;
}

int64_t FileSize64(const std::string& path) {
    std::string host = path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
    // Without waiting: a FIFO given as the image must not hold the program.
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    off_t size = lseek(fd, 0, SEEK_END);
    ::close(fd);
    return size < 0 ? -1 : int64_t(size);
}

int32_t GetFileSize32(const std::string& path) {
    int64_t size = FileSize64(path);
    return size < 0 ? -1 : int32_t(uint32_t(uint64_t(size)));
}

TDiskOpener::TDiskOpener() : TDiskOpener(WithDetectionByContent(LoadProfiles(ProfileFolders()))) {}

TDiskOpener::TDiskOpener(std::vector<DISKPROFILE> profiles) {
    for (int k = 0; k < kBuiltInItems; ++k) {
        Items.emplace_back(kBuiltInItemTexts[k]);
        Profiles.emplace_back();
    }
    for (auto& p : profiles) {
        if (Items.size() >= std::size_t(kProfileSlots)) break;
        Items.push_back(p.Name);
        Profiles.push_back(std::move(p));
    }
    SkipTypeSelect = Setting("SkipTypeSelect") != 0;
}

bool DetectAndSelect(TDiskOpener& dlg, const std::string& path, VolumeParams& params) {
    params = VolumeParams{};
    LastOpenedFormat() = {};
    SetLogImage(path);
    if (!CheckImageFile(path)) {
        PendingOpeningOptions() = {};
        return false;
    }
    dlg.FileNameLabel = path;
    const std::string ext = PathExtension(path);
    // The whole size: a file of 4 GiB and more must not pass for a floppy
    // whose size equals its low 32 bits. A profile's FileSize is read as
    // unsigned, so sizes between 2 and 4 GiB can be given.
    const int64_t size = FileSize64(path);

    // Preselection: the plain image, unless a profile matches.
    dlg.Selected = 2;
    for (std::size_t i = kBuiltInItems; i < dlg.Profiles.size(); ++i) {
        const DISKPROFILE& p = dlg.Profiles[i];
        bool sizeMatches = p.FileSize == 0 || (size >= 0 && uint64_t(size) == uint64_t(uint32_t(p.FileSize)));
        if (sizeMatches && (p.Extension.empty() || p.Extension == ext)) {
            dlg.Selected = int(i);
            break;
        }
    }

    if (auto name = TakeProfileOption()) {
        int match = FindDiskType(dlg.Items, *name);
        if (match >= 0) {
            dlg.Selected = match;
        } else {
            ShowMessage(201, *name);
            dlg.Selected = 0;
            if (!UI().ShowDiskTypeDialog(path, dlg.Items, dlg.Selected)) return false;
        }
    }

    bool show;
    if (UI().IsShiftHeld()) show = true;
    else if (TakeSkipOption()) show = false;
    else show = !dlg.SkipTypeSelect;

    auto checkBoot = [&]() {
        BootStatus status = DecodeBootRecord(params);
        if (status == BootOk) return true;
        ShowMessage(BootStatusMessage(status));
        return false;
    };
    auto partition = [&](const HDDGeometry& g, bool force) {
        return RunPartitionDialog(dlg.PartDialog, params, g, force) == 1 && checkBoot();
    };
    // A parameter block whose DiskStart names no place (negative) is refused.
    auto copyBlock = [&](const int32_t* block) {
        if (SetLayoutFromBlock(params, block)) return true;
        ShowMessage(1281, block[0]);
        return false;
    };
    auto geometryOf = [](const int32_t* b) {
        HDDGeometry g;
        g.HDDType = b[0];
        g.DiskStart = b[1];
        g.SecLen = b[2];
        g.Sectors = b[3];
        g.Heads = b[4];
        g.Cylinders = b[5];
        return g;
    };

    for (;;) {
        if (params.Device) {
            params.Device->Destroy();
            params.Device = nullptr;
        }
        if (show && !UI().ShowDiskTypeDialog(path, dlg.Items, dlg.Selected)) return false;
        show = true;
        if (dlg.Selected < 0 || std::size_t(dlg.Selected) >= dlg.Items.size()) continue;
        const int sel = dlg.Selected;
        const DISKPROFILE& profile = dlg.Profiles[std::size_t(sel)];

        const int32_t type = sel < kBuiltInItems ? 0 : profile.ProfileType;
        if (sel >= kBuiltInItems && (type < kProfileBootRecord || type > kProfileDetect))
            continue;  // a profile whose type was invalid at load: just the dialog again
        if (sel == 2) {
            params.DiskStart = 0;
            params.FileSystem = kFileSystemDOS;
        } else if ((type == kProfileBootRecord || type == kProfileFullVolume) && !copyBlock(profile.Params)) {
            continue;
        }
        // Every choice but the plug-in reads the path through the file device.
        if (type != kProfileLibrary) {
            params.Device = OpenFileDevice(path);
            if (!params.Device) return false;
        }

        if (sel == 0) {
            if (RunManualDialog(dlg.ManualDialog, params) == 1) return true;
            continue;
        }
        if (sel == 1) {
            HDDGeometry g;  // PC-9801, 512-byte sectors, 32 sectors, 4 heads
            if (partition(g, true)) return true;
            continue;
        }
        if (sel == 2) {
            if (checkBoot()) return true;
            continue;
        }
        switch (type) {
            case kProfileBootRecord:
                if (checkBoot()) return true;
                break;
            case kProfileFullVolume:
                return true;
            case kProfileHardDisk:
                if (partition(geometryOf(profile.Params), false)) return true;
                break;
            case kProfileAnex86: {
                uint8_t h[32] = {};
                bool read = params.Device->Read(0, h, sizeof h);
                if (!read || LE32(h) != 0) {
                    ShowMessage(202, path);
                    break;
                }
                uint32_t code = LE32(h + 4);
                uint32_t headerSize = LE32(h + 8);
                if (code == 0x10 || code == 0x30 || code == 0x90) {
                    params.DiskStart = headerSize;
                    params.FileSystem = kFileSystemDOS;
                    LastOpenedFormat() = {"FDI", ChsText(LE32(h + 28), LE32(h + 24), LE32(h + 20), LE32(h + 16))};
                    if (checkBoot()) return true;
                    break;
                }
                LastOpenedFormat() = {"HDI", ChsText(LE32(h + 28), LE32(h + 24), LE32(h + 20), LE32(h + 16))};
                HDDGeometry g;
                // Most hold a PC-9801 disk; an AT disk carries its master boot record.
                uint8_t mbr[512];
                g.HDDType = LE32(h + 16) == 512 && params.Device->Read(headerSize, mbr, sizeof mbr) &&
                                    IsATTable(mbr, LE32(h + 12) / 512)
                                ? kTableAT
                                : kTablePC98;
                g.DiskStart = int32_t(headerSize);
                g.SecLen = int32_t(LE32(h + 16));
                g.Sectors = int32_t(LE32(h + 20));
                g.Heads = int32_t(LE32(h + 24));
                g.Cylinders = int32_t(LE32(h + 28));
                if (partition(g, false)) return true;
                break;
            }
            case kProfileT98Next: {
                uint8_t h[512] = {};
                bool read = params.Device->Read(0, h, sizeof h);
                if (!read || std::memcmp(h, "T98HDDIMAGE.R0", 14) != 0) {
                    ShowMessage(203, path);
                    break;
                }
                HDDGeometry g;
                g.HDDType = kTablePC98;
                g.DiskStart = int32_t(LE32(h + 0x110));
                g.Cylinders = int32_t(LE32(h + 0x114));
                g.Heads = LE16(h + 0x118);
                g.Sectors = LE16(h + 0x11A);
                g.SecLen = LE16(h + 0x11C);
                LastOpenedFormat() = {"NHD", ChsText(uint32_t(g.Cylinders), uint32_t(g.Heads), uint32_t(g.Sectors), uint32_t(g.SecLen))};
                if (partition(g, false)) return true;
                break;
            }
            case kProfileDetect: {
                // A container's device takes the file device over.
                DetectedImage d = DetectImage(params.Device, ImageFileSize(path));
                if (d.road == DetectedImage::kRefused) break;
                // Nothing known and no sound boot record at byte 0: a sector
                // that looks like a boot sector gets the boot record's own
                // complaint, anything else one message that it is no image.
                if (d.road == DetectedImage::kPlain && d.container.empty()) {
                    BootStatus status = DecodeBootRecord(params);
                    if (status != BootOk) {
                        uint8_t s[512] = {};
                        bool bootLike = params.Device->Read(params.DiskStart, s, sizeof s) &&
                                        (s[0] == 0xEB || s[0] == 0xE9 || s[0] == 0x60 || (s[510] == 0x55 && s[511] == 0xAA) ||
                                         std::memcmp(s + 2, "Hudson soft", 11) == 0);
                        if (bootLike) ShowMessage(BootStatusMessage(status));
                        else ShowMessage(1560, path);
                        break;
                    }
                }
                bool done;
                if (d.road == DetectedImage::kPartitions) {
                    dlg.PartDialog.FixedRows = d.disks;
                    done = partition(d.geometry, false);
                    dlg.PartDialog.FixedRows.clear();
                } else {
                    params.DiskStart = d.diskStart;
                    params.FileSystem = kFileSystemDOS;
                    done = checkBoot();
                }
                if (!done) break;
                NoteOpenedFormat(d, params.DiskStart);
                return true;
            }
            case kProfileLibrary: {
                OpenDeviceRequest request{1, dlg.Window, path.c_str()};
                OpenDeviceResult result;
                std::memset(&result, 0, sizeof result);
                auto* dev = new CDLLDevice;
                if (!dev->Open(profile.Library, request, result)) {
                    dev->Destroy();
                    break;
                }
                params.Device = dev;
                switch (result.kind) {
                    case VOLDEX_ANSWER_DECODE_BOOT:
                        if (!copyBlock(result.u.params)) break;
                        if (checkBoot()) return true;
                        break;
                    case VOLDEX_ANSWER_FINAL:
                        if (!copyBlock(result.u.params)) break;
                        return true;
                    case VOLDEX_ANSWER_MANUAL:
                        if (!copyBlock(result.u.params)) break;
                        if (RunManualDialog(dlg.ManualDialog, params) == 1) return true;
                        break;
                    case VOLDEX_ANSWER_PARTITION:
                    case VOLDEX_ANSWER_PARTITION_ASK:
                        if (partition(geometryOf(result.u.geometry), result.kind == VOLDEX_ANSWER_PARTITION_ASK))
                            return true;
                        break;
                    default:
                        ShowMessage(204, profile.Library, path);
                        break;
                }
                break;
            }
            default:
                break;
        }
    }
}
