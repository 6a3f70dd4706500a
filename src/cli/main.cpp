// voldex-cli: the volume engine from the command line.

#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "device/deviceio_file.h"
#include "device/messages.h"
#include "explorer/exporter.h"
#include "explorer/hostnames.h"
#include "explorer/volumepath.h"
#include "floppy/makefdd.h"
#include "opening/diskinfo.h"
#include "opening/diskopen.h"
#include "shell/listing.h"
#include "volume/diskimage.h"

namespace {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// Decodes the volume at the offset given on the command line.
bool DescribeAtOffset(const CliOptions& o, VolumeParams& params) {
    auto* device = new DeviceIO_File;
    if (!device->Open(o.operands[0])) {
        device->Destroy();
        return false;
    }
    params.Device = device;
    params.DiskStart = static_cast<int32_t>(o.offset.value_or(0));
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
    for (std::size_t i = 0; i < opener.Items.size(); ++i)
        if (EqualIgnoringCase(opener.Items[i], *o.profile)) {
            ui.wantedItem = int(i);
            return true;
        }
    ShowMessage(201, *o.profile);
    return false;
}

// Works out where the volume lies the way the window does (profiles,
// headers, partition tables, the boot record) and mounts it.
std::unique_ptr<DiskImage> OpenVolume(const CliOptions& o, CliInterface& ui) {
    VolumeParams params;
    if (o.offset || o.human68k) {
        if (!DescribeAtOffset(o, params)) return nullptr;
    } else {
        TDiskOpener opener;
        ui.partition = o.partition;
        if (!ResolveProfile(o, opener, ui) || !DetectAndSelect(opener, o.operands[0], params)) return nullptr;
    }
    auto image = std::make_unique<DiskImage>();
    if (!image->Mount(params)) return nullptr;
    return image;
}

int CmdParts(const CliOptions& o, CliInterface& ui) {
    TDiskOpener opener;
    ui.listPartitions = true;
    if (!ResolveProfile(o, opener, ui)) return kExitFailure;
    VolumeParams params;
    if (DetectAndSelect(opener, o.operands[0], params) && params.Device) params.Device->Destroy();
    if (ui.listed.empty()) {
        std::fprintf(stderr, "voldex-cli: no partition table found\n");
        return kExitFailure;
    }
    for (const PartitionRow& r : ui.listed)
        std::printf("%s\t%s\t%s\t%s\t%s\n", r.name.c_str(), r.start.c_str(), r.end.c_str(), r.size.c_str(),
                    r.offsetText.c_str());
    return kExitOk;
}

int CmdInfo(DiskImage& image) {
    const VolumeLayout& l = image.Layout();
    std::printf("DiskStart: %d\n", l.DiskStart);
    std::printf("FileSystem: %u\n", l.FileSystem);
    std::printf("FATType: %u\n", l.FATType);
    std::printf("FAT: %d\n", l.FAT);
    std::printf("FATSize: %d\n", l.FATSize);
    std::printf("FATCount: %u\n", l.FATCount);
    std::printf("RootDir: %u\n", l.RootDir);
    std::printf("UserArea: %d\n", l.UserArea);
    std::printf("ClusterSize: %u\n", l.ClusterSize);
    std::printf("ClustersCount: %u\n", l.ClustersCount);
    std::printf("FreeClusters: %u\n", image.FreeClusters);
    DiskInfoTexts t = MakeDiskInfo(image);
    std::printf("Capacity: %s\n", t.TotalSize.c_str());
    std::printf("Used: %s\n", t.UsedSize.c_str());
    std::printf("Free: %s\n", t.FreeSize.c_str());
    std::printf("MaxEntries: %s\n", t.MaxEntries.c_str());
    return kExitOk;
}

int CmdLs(DiskImage& image, const std::string& path) {
    auto folder = ResolveFolder(image, path);
    DIDir dir(&image, folder.value_or(0));
    if (!folder || !dir.Load()) {
        ShowMessage(106, path);
        return kExitFailure;
    }
    std::string text = MakeListingText(dir, ListedEntries(dir), "\n", true);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitOk;
}

int CmdGet(DiskImage& image, const std::vector<std::string>& sources, const std::string& dest) {
    struct stat st;
    if (stat(dest.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        ShowSystemError(stat(dest.c_str(), &st) != 0 ? 0 : ENOTDIR);
        ShowMessage(110, dest);
        return kExitFailure;
    }
    OverwriteAnswer state = owYes;
    for (const std::string& src : sources) {
        auto loc = ResolveEntry(image, src);
        if (!loc) {
            ShowMessage(123);
            std::fprintf(stderr, "%s\n", src.c_str());
            return kExitFailure;
        }
        DIDir dir(&image, loc->folder);
        if (!dir.Load()) {
            ShowMessage(106, src);
            return kExitFailure;
        }
        if (loc->index < 0) {
            // The root itself: everything in it.
            std::vector<int> all;
            for (uint32_t i = 0; i < dir.GetCount(); ++i)
                if (IsTransferable(dir, int(i))) all.push_back(int(i));
            ExportEntries(dir, all, dest, state);
        } else {
            ExportEntry(dir, loc->index, dest, state);
        }
        if (state == owCancel) {
            ShowMessage(131);
            return kExitFailure;
        }
    }
    return kExitOk;
}

int Run(const CliOptions& options, CliInterface& ui) {
    auto image = OpenVolume(options, ui);
    if (!image) return kExitFailure;
    const auto& ops = options.operands;
    const std::string& cmd = options.command;
    if (IsChangingCommand(cmd) && image->IsReadOnly()) {
        // FAT32 volumes and images that could only be opened for reading.
        ShowMessage(1204);
        return kExitFailure;
    }
    if (cmd == "put") return CmdPut(*image, ops);
    if (cmd == "mkdir") return CmdMkdir(*image, ops[1], options.defaultName);
    if (cmd == "rm" || cmd == "release")
        return CmdRm(*image, std::vector<std::string>(ops.begin() + 1, ops.end()), cmd == "release");
    if (cmd == "ren") return CmdRen(*image, ops[1], ops[2]);
    if (cmd == "mv") return CmdMv(*image, std::vector<std::string>(ops.begin() + 1, ops.end() - 1), ops.back());
    if (cmd == "info") return CmdInfo(*image);
    if (cmd == "ls") return CmdLs(*image, ops.size() > 1 ? ops[1] : "");
    if (cmd == "get")
        return CmdGet(*image, std::vector<std::string>(ops.begin() + 1, ops.end() - 1), ops.back());
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kCliUsage, stdout);
        return kExitOk;
    }
    std::string error;
    auto options = ParseCliArgs(args, error);
    if (!options) {
        std::fprintf(stderr, "voldex-cli: %s\n%s", error.c_str(), kCliUsage);
        return kExitUsage;
    }
    CliInterface ui(options->yes, options->no);
    ScopedUserInterface scoped(&ui);

    if (options->command == "parts") return CmdParts(*options, ui);
    if (options->command == "mkfdd") {
        int format = options->size ? FloppyFormatBySize(uint32_t(*options->size)) : -1;
        bool ok = MakeFloppyImage(options->operands[0], ImageFileName(options->operands[1]), format);
        return ok ? kExitOk : kExitFailure;
    }
    int rc = Run(*options, ui);
    // A question left without --yes or --no is a failure even where the
    // operation itself went on.
    return rc == kExitOk && ui.Unanswered() ? kExitFailure : rc;
}

