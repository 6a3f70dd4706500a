// Opening the image for a command, and the commands that describe the disk
// and the volume: parts and info.

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "cli/cli_paths.h"
#include "cli/cli_progress.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "device/containerdevice.h"
#include "device/deviceio_file.h"
#include "device/messages.h"
#include "opening/settings/config.h"
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
        // A disk without a partition table is one partition: 1, the whole disk.
        if (o.partition && *o.partition != 1 && !ui.partitionChosen) {
            ShowMessage(1629, o.operands[0], uint64_t(*o.partition));
            if (params.Device) params.Device->Destroy();
            return nullptr;
        }
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
        // Scripts that asked for JSON get it here too: no partitions.
        if (o.json) std::fputs("{\"partitions\": []}\n", stdout);
        std::fprintf(stderr, "voldex-cli: %s\n", MessageString(1697).c_str());
        return kExitFailure;
    }
    if (o.json) {
        std::string out = "{\"partitions\": [";
        for (std::size_t k = 0; k < c.ui.listed.size(); ++k) {
            const PartitionRow& r = c.ui.listed[k];
            out += k ? ",\n  " : "\n  ";
            // "offset" is a place in the file (what --offset takes); a disk
            // of a container whose data are not in one piece has none.
            const bool inFile = !r.inContainer || r.fileOffset >= 0;
            const uint64_t fileOffset = r.inContainer ? uint64_t(r.fileOffset) : r.offset;
            out += "{\"number\": " + std::to_string(k + 1) + ", \"name\": " + JsonString(r.name) +
                   ", \"plainName\": " + JsonString(r.plainName) +
                   ", \"type\": " + (r.type < 0 ? std::string("null") : std::to_string(r.type)) +
                   ", \"start\": " + std::to_string(r.first) + ", \"end\": " + std::to_string(r.last) +
                   ", \"unit\": \"" + r.unit + "\", \"size\": " + JsonString(r.size) +
                   ", \"offset\": " + (inFile ? std::to_string(fileOffset) : std::string("null")) +
                   ", \"logicalOffset\": " + std::to_string(r.offset) + ", \"bytes\": " + std::to_string(r.bytes) + "}";
        }
        out += "\n]}\n";
        std::fputs(out.c_str(), stdout);
        return kExitOk;
    }
    for (const PartitionRow& r : c.ui.listed) {
        std::string offset = !r.inContainer ? r.offsetText : r.fileOffset >= 0 ? std::to_string(r.fileOffset) : "-";
        std::printf("%s\t%s\t%s\t%s\t%s\n", EscapeField(r.name).c_str(), r.start.c_str(), r.end.c_str(),
                    r.size.c_str(), offset.c_str());
    }
    return kExitOk;
}

namespace {

constexpr unsigned kInfoLine = 2044;    // "key: value"
constexpr unsigned kPlainImage = 2045;  // the container of a bare image

// Whether a changing command could change the volume: the image file can be
// written, the volume is not FAT32 and the disk is not write-protected.
// (`info` itself opens the image for reading only.)
bool VolumeWritable(const std::string& path, DiskImage& image) {
    if (image.FATType == kFAT32 || ::access(path.c_str(), W_OK) != 0) return false;
    auto* container = dynamic_cast<DeviceIO_Container*>(image.Device());
    return !(container && container->IsWriteProtected());
}

}  // namespace

int CmdInfo(CliContext& c) {
    DiskImage& image = *c.image;
    const bool writable = VolumeWritable(c.options.operands[0], image);
    const VolumeLayout& l = image.Layout();
    const uint64_t cluster = l.ClusterSize, total = uint64_t(l.ClustersCount) * cluster,
                   free = uint64_t(image.FreeCount()) * cluster;
    if (c.options.json) {
        std::printf(
            "{\"DiskStart\": %lld, \"FileSystem\": %u, \"FATType\": %u, \"FAT\": %d, \"FATSize\": %d, "
            "\"FATCount\": %u, \"RootDir\": %u, \"UserArea\": %d, \"ClusterSize\": %u, \"ClustersCount\": %u, "
            "\"FreeClusters\": %u, \"ClusterBytes\": %llu, \"TotalBytes\": %llu, \"UsedBytes\": %llu, "
            "\"FreeBytes\": %llu, \"ReadOnly\": %s, \"Writable\": %s",
            static_cast<long long>(l.DiskStart), l.FileSystem, l.FATType, l.FAT, l.FATSize, l.FATCount, l.RootDir,
            l.UserArea, l.ClusterSize, l.ClustersCount, image.FreeCount(), static_cast<unsigned long long>(cluster),
            static_cast<unsigned long long>(total), static_cast<unsigned long long>(total - free),
            static_cast<unsigned long long>(free), writable ? "false" : "true", writable ? "true" : "false");
        if (image.ClustersLimited()) std::printf(", \"UsableClusters\": %u", image.ClusterLimit() - 2);
        if (const OpenedFormat& f = LastOpenedFormat(); !f.container.empty())
            std::printf(", \"Container\": %s, \"Geometry\": %s", JsonString(f.container).c_str(),
                        JsonString(f.geometry).c_str());
        std::printf("}\n");
        return kExitOk;
    }
    // The text form speaks the user's language, keys and values alike, and
    // names what --json gives as codes; --json keeps its keys and codes.
    DiskInfoTexts t = MakeDiskInfo(image);
    auto line = [](unsigned key, const std::string& value) {
        std::fputs(MessageString(kInfoLine, MessageString(key), value).c_str(), stdout);
        std::fputc('\n', stdout);
    };
    line(1712, std::to_string(l.DiskStart));
    line(1713, t.FileSystem);
    line(1714, t.FATType);
    line(1715, std::to_string(l.FAT));
    line(1716, std::to_string(l.FATSize));
    line(1717, std::to_string(l.FATCount));
    line(1718, std::to_string(l.RootDir));
    line(1719, std::to_string(l.UserArea));
    line(1720, std::to_string(l.ClusterSize));
    line(1721, std::to_string(l.ClustersCount));
    // A label that claims more clusters than its FAT kind can number.
    if (image.ClustersLimited()) line(1722, std::to_string(image.ClusterLimit() - 2));
    line(1723, std::to_string(image.FreeCount()));
    line(1724, t.TotalSize);
    line(1725, t.UsedSize);
    line(1726, t.FreeSize);
    line(1727, t.MaxEntries);
    if (const OpenedFormat& f = LastOpenedFormat(); !f.container.empty()) {
        line(1728, f.container == "Plain" ? MessageString(kPlainImage) : f.container);
        line(1729, f.geometry);
    }
    return kExitOk;
}
