// Opening the image for a command, and the commands that describe the disk
// and the volume: parts and info.

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "cli/cli_paths.h"
#include "cli/cli_progress.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "device/deviceio_file.h"
#include "device/messages.h"
#include "explorer/config.h"
#include "opening/detect.h"
#include "opening/diskinfo.h"
#include "opening/diskopen.h"

namespace {

// Decodes the volume at the offset given on the command line.
bool DescribeAtOffset(const CliOptions& o, VolumeParams& params) {
    if (!CheckImageOffset(o.operands[0], o.offset.value_or(0))) return false;
    auto* device = new DeviceIO_File;
    if (!device->Open(o.operands[0])) {
        device->Destroy();
        return false;
    }
    params.Device = device;
    params.DiskStart = o.offset.value_or(0);
    params.FileSystem = o.human68k ? kFileSystemHuman68k : kFileSystemDOS;
    BootStatus status = DecodeBootRecord(params);
    if (status != BootOk) {
        ShowMessage(BootStatusMessage(status));
        device->Destroy();
        params.Device = nullptr;
        return false;
    }
    return true;
}

// Finds the disk-type item that --profile names.
bool ResolveProfile(const CliOptions& o, const TDiskOpener& opener, CliInterface& ui) {
    if (!o.profile) return true;
    int match = FindDiskType(opener.Items, *o.profile);
    if (match >= 0) {
        ui.wantedItem = match;
        return true;
    }
    ShowMessage(201, *o.profile);
    return false;
}

// The settings that let the program choose by itself (skip the disk-type
// question, take the first or the only partition) give way to the command
// line, which always answers those questions itself: by --profile and
// --partition when given, else by the same defaults.
void LetCommandLineChoose(TDiskOpener& opener, CliInterface& ui) {
    opener.SkipTypeSelect = false;
    opener.PartDialog.AutoHDDFirst = false;
    opener.PartDialog.AutoHDDSingle = false;
    ui.tableItems.assign(opener.Items.size(), false);
    ui.tableItems[1] = true;  // hard disk of special format
    for (std::size_t i = kBuiltInItems; i < opener.Profiles.size(); ++i) {
        int32_t type = opener.Profiles[i].ProfileType;
        ui.tableItems[i] = type == kProfileHardDisk || type == kProfileAnex86 || type == kProfileT98Next ||
                           type == kProfileLibrary || type == kProfileDetect;
    }
}

}  // namespace

std::optional<uint64_t> HostFileSize(const std::string& path) {
    std::string host = path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
    int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not hold the command
    if (fd < 0) return std::nullopt;
    off_t size = lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (size < 0) return std::nullopt;
    return uint64_t(size);
}

std::unique_ptr<DiskImage> OpenCliVolume(const CliOptions& o, CliInterface& ui, ProgressLine* progress) {
    VolumeParams params;
    if (o.offset || o.human68k) {
        if (!DescribeAtOffset(o, params)) return nullptr;
    } else {
        TDiskOpener opener;
        LetCommandLineChoose(opener, ui);
        ui.partition = o.partition;
        ui.imageSize = HostFileSize(o.operands[0]).value_or(0);
        if (!ResolveProfile(o, opener, ui)) return nullptr;
        ui.BeginOpening();
        bool ok = DetectAndSelect(opener, o.operands[0], params);
        ui.EndOpening(ok);
        if (!ok) return nullptr;
    }
    if (progress && progress->Enabled()) params.Device = new CountingDevice(params.Device, *progress);
    auto image = std::make_unique<DiskImage>();
    if (!image->Mount(params)) return nullptr;
    image->LongNames = !o.shortNames && LongNamesSetting();
    return image;
}

int CmdParts(CliContext& c) {
    const CliOptions& o = c.options;
    TDiskOpener opener;
    LetCommandLineChoose(opener, c.ui);
    c.ui.listPartitions = true;
    c.ui.imageSize = HostFileSize(o.operands[0]).value_or(0);
    if (!ResolveProfile(o, opener, c.ui)) return kExitFailure;
    VolumeParams params;
    c.ui.BeginOpening();
    if (DetectAndSelect(opener, o.operands[0], params) && params.Device) params.Device->Destroy();
    c.ui.EndOpening(true);
    if (c.ui.listed.empty()) {
        std::fprintf(stderr, "voldex-cli: no partition table found\n");
        return kExitFailure;
    }
    if (o.json) {
        std::string out = "{\"partitions\": [";
        for (std::size_t k = 0; k < c.ui.listed.size(); ++k) {
            const PartitionRow& r = c.ui.listed[k];
            out += k ? ",\n  " : "\n  ";
            out += "{\"number\": " + std::to_string(k + 1) + ", \"name\": " + JsonString(r.name) +
                   ", \"start\": " + JsonString(r.start) + ", \"end\": " + JsonString(r.end) +
                   ", \"size\": " + JsonString(r.size) + ", \"offset\": " + std::to_string(r.offset) +
                   ", \"bytes\": " + std::to_string(r.bytes) + "}";
        }
        out += "\n]}\n";
        std::fputs(out.c_str(), stdout);
        return kExitOk;
    }
    for (const PartitionRow& r : c.ui.listed)
        std::printf("%s\t%s\t%s\t%s\t%s\n", EscapeField(r.name).c_str(), r.start.c_str(), r.end.c_str(),
                    r.size.c_str(), r.offsetText.c_str());
    return kExitOk;
}

int CmdInfo(CliContext& c) {
    DiskImage& image = *c.image;
    const VolumeLayout& l = image.Layout();
    const uint64_t cluster = l.ClusterSize, total = uint64_t(l.ClustersCount) * cluster,
                   free = uint64_t(image.FreeClusters) * cluster;
    if (c.options.json) {
        std::printf(
            "{\"DiskStart\": %lld, \"FileSystem\": %u, \"FATType\": %u, \"FAT\": %d, \"FATSize\": %d, "
            "\"FATCount\": %u, \"RootDir\": %u, \"UserArea\": %d, \"ClusterSize\": %u, \"ClustersCount\": %u, "
            "\"FreeClusters\": %u, \"ClusterBytes\": %llu, \"TotalBytes\": %llu, \"UsedBytes\": %llu, "
            "\"FreeBytes\": %llu, \"ReadOnly\": %s",
            static_cast<long long>(l.DiskStart), l.FileSystem, l.FATType, l.FAT, l.FATSize, l.FATCount, l.RootDir,
            l.UserArea, l.ClusterSize, l.ClustersCount, image.FreeClusters, static_cast<unsigned long long>(cluster),
            static_cast<unsigned long long>(total), static_cast<unsigned long long>(total - free),
            static_cast<unsigned long long>(free), image.IsReadOnly() ? "true" : "false");
        if (image.ClustersLimited()) std::printf(", \"UsableClusters\": %u", image.ClusterLimit() - 2);
        if (const OpenedFormat& f = LastOpenedFormat(); !f.container.empty())
            std::printf(", \"Container\": %s, \"Geometry\": %s", JsonString(f.container).c_str(),
                        JsonString(f.geometry).c_str());
        std::printf("}\n");
        return kExitOk;
    }
    std::printf("DiskStart: %lld\n", static_cast<long long>(l.DiskStart));
    std::printf("FileSystem: %u\n", l.FileSystem);
    std::printf("FATType: %u\n", l.FATType);
    std::printf("FAT: %d\n", l.FAT);
    std::printf("FATSize: %d\n", l.FATSize);
    std::printf("FATCount: %u\n", l.FATCount);
    std::printf("RootDir: %u\n", l.RootDir);
    std::printf("UserArea: %d\n", l.UserArea);
    std::printf("ClusterSize: %u\n", l.ClusterSize);
    std::printf("ClustersCount: %u\n", l.ClustersCount);
    // A label that claims more clusters than its FAT kind can number.
    if (image.ClustersLimited()) std::printf("UsableClusters: %u\n", image.ClusterLimit() - 2);
    std::printf("FreeClusters: %u\n", image.FreeClusters);
    DiskInfoTexts t = MakeDiskInfo(image);
    std::printf("Capacity: %s\n", t.TotalSize.c_str());
    std::printf("Used: %s\n", t.UsedSize.c_str());
    std::printf("Free: %s\n", t.FreeSize.c_str());
    std::printf("MaxEntries: %s\n", t.MaxEntries.c_str());
    if (const OpenedFormat& f = LastOpenedFormat(); !f.container.empty())
        std::printf("Container: %s\nGeometry: %s\n", f.container.c_str(), f.geometry.c_str());
    return kExitOk;
}
