// New images, the volume label and entry attributes: new, label, attrib.

#include <csignal>
#include <cstdio>
#include <sys/stat.h>

#include "cli/cli_paths.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "device/messages.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/properties.h"
#include "opening/newdisk.h"
#include "volume/didir.h"

namespace {

const char* const kNewUsage = "voldex-cli new IMAGE FORMAT [--size SIZE] [--label TEXT] [--container KIND] [--yes]";
constexpr unsigned kUsage = 1693, kHint = 1694, kBadSize = 1683, kFormatList = 2050;

}  // namespace

int CmdNew(CliContext& c) {
    const CliOptions& o = c.options;
    NewImageRequest request;
    request.path = o.operands[0];
    request.format = o.operands[1];
    request.label = o.label.value_or("");
    request.container = o.container;
    if (o.sizeText) {
        request.size = ParseDiskSize(*o.sizeText);
        if (!request.size) return UsageError(MessageString(kBadSize, *o.sizeText), MessageString(kHint, "--size 40M, --size 2G"));
    }
    NewImagePlan plan = PlanNewImage(request);
    if (plan.status == NewImageStatus::kBadLabel) return UsageError(plan.message, MessageString(2150));
    if (plan.status != NewImageStatus::kOk)
        return UsageError(plan.message, MessageString(kUsage, kNewUsage) + "\n" + MessageString(kFormatList, FormatNames()));
    // Ctrl-C waits for the few writes: it would leave the partial file behind.
    sigset_t stop, old;
    sigemptyset(&stop);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, sig);
    sigprocmask(SIG_BLOCK, &stop, &old);
    bool made = WriteNewImage(request.path, plan, o.yes);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (!made) return kExitFailure;
    const std::string container = plan.container == "Plain" ? MessageString(2045) : MessageString(2054, plan.container);
    std::printf("%s\n", ResourceString().LoadMessage(1748, request.path, request.format, container, plan.geometry));
    return kExitOk;
}

int CmdLabel(CliContext& c) {
    DiskImage& image = *c.image;
    const CliOptions& o = c.options;
    if (o.clear && o.operands.size() > 1)
        return UsageError(MessageString(2047), MessageString(kUsage, "voldex-cli label IMAGE [TEXT | --clear]"));
    if (!AsksForChange(o)) {
        auto label = ReadVolumeLabel(image);
        if (!label) return kExitFailure;
        if (!label->empty()) std::printf("%s\n", label->c_str());
        return kExitOk;
    }
    return WriteVolumeLabel(image, o.clear ? "" : o.operands[1]) ? kExitOk : kExitFailure;
}

namespace {

struct AttribRun {
    DiskImage& image;
    uint8_t set = 0, clear = 0;
    bool changing = false, recursive = false;
    int rc = kExitOk;

    // Entry i of `dir`, shown as `path`; below it too with -R.
    bool Visit(DIDir& dir, int i, const std::string& path) {
        if (changing) {
            if (!ChangeAttributes(dir, i, set, clear)) rc = kExitFailure;
        } else {
            std::printf("%s\t%s\n", AttributeLetters(dir.GetAttr(i)).c_str(), EscapeField(path).c_str());
        }
        int64_t cluster = dir.GetStartCluster(i);
        if (recursive && (dir.GetAttr(i) & kAttrDirectory) && !(dir.GetAttr(i) & kAttrVolume) && cluster >= 2)
            return Folder(uint32_t(cluster), path);
        return true;
    }
    bool Folder(uint32_t cluster, const std::string& path) {
        DIDir dir(&image, cluster);
        if (!dir.Load()) {
            ShowMessage(106, path);
            return false;
        }
        for (uint32_t k = 0; k < dir.GetCount(); ++k) {
            const uint8_t* e = dir.RawEntry(int(k));
            if (e[0] == 0) break;
            if (dir.IsFree(int(k)) || dir.IsDotEntry(int(k)) || (e[11] & 0x0F) == 0x0F || (e[11] & kAttrVolume)) continue;
            if (!Visit(dir, int(k), path + "/" + dir.GetNameUtf8(int(k)))) return false;
        }
        return !changing || WriteAndFlush(dir, path);
    }
};

}  // namespace

int CheckAttribOperands(const CliOptions& o) {
    // "+x" is a flag mistyped, not a path to look for.
    for (std::size_t k = 1; k < o.operands.size(); ++k) {
        const std::string& a = o.operands[k];
        if (a.size() == 2 && a[0] == '+' && !IsAttribFlag(a))
            return UsageError(MessageString(2145, a), MessageString(1693, std::string("voldex-cli ") + FindCliCommand("attrib")->synopsis));
    }
    return kExitOk;
}

int CmdAttrib(CliContext& c) {
    AttribRun run{*c.image};
    run.recursive = c.options.recursive;
    std::vector<std::string> paths;
    for (const std::string& a : c.Args()) {
        if (!IsAttribFlag(a)) {
            paths.push_back(a);
            continue;
        }
        static const std::string kLetters = "rhsa";
        static const uint8_t kBits[] = {kAttrReadOnly, kAttrHidden, kAttrSystem, kAttrArchive};
        char letter = char(a[1] | 0x20);
        uint8_t bit = kBits[kLetters.find(letter)];
        (a[0] == '+' ? run.set : run.clear) |= bit;
        (a[0] == '+' ? run.clear : run.set) &= uint8_t(~bit);
        run.changing = true;
    }
    if (paths.empty())
        return UsageError(MessageString(2048),
                          MessageString(kUsage, "voldex-cli attrib IMAGE [+r|-r|+h|-h|+s|-s|+a|-a]... ::PATH... [-R]"));
    for (const std::string& operand : paths) {
        auto entries = ExpandImagePath(*c.image, operand);
        if (!entries) {
            run.rc = kExitFailure;
            continue;
        }
        for (const NamedEntry& e : *entries) {
            if (e.where.index < 0) {
                // The root itself: with -R, everything in it.
                if (!run.recursive)
                    return UsageError(MessageString(2049), MessageString(kHint, "voldex-cli attrib IMAGE +r ::/ -R"));
                if (!run.Folder(0, "")) return kExitFailure;
                continue;
            }
            DIDir dir(c.image, e.where.folder);
            if (!dir.Load()) {
                ShowMessage(106, e.path);
                return kExitFailure;
            }
            if (!run.Visit(dir, e.where.index, e.path)) return kExitFailure;
            if (run.changing && !WriteAndFlush(dir, e.path)) return kExitFailure;
        }
    }
    return run.rc;
}
