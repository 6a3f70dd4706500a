#include "cli/cli_ui.h"

#include <algorithm>
#include <cstdio>
#include <syslog.h>
#include <unistd.h>

#include "cli/cli_progress.h"
#include "device/byteorder.h"
#include "device/deviceio.h"
#include "device/messages.h"

void CliInterface::Print(const std::string& line) {
    if (opening_) {
        held_.push_back(line);
        return;
    }
    if (toSystemLog) {
        openlog("voldex-cli", LOG_PID, LOG_USER);
        syslog(LOG_ERR, "%s", line.c_str());
        return;
    }
    if (progress) progress->Break();
    std::fprintf(stderr, "%s\n", line.c_str());
}

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
struct sigaction g_before[2];

void NoteStop(int sig) { g_stopSignal = sig; }

}  // namespace

StopOnSignal::StopOnSignal() : old_(g_before) {
    struct sigaction sa {};
    sa.sa_handler = NoteStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // reads and writes go on; the copy looks at the flag between pieces
    for (int k = 0; k < 2; ++k) sigaction(kStopSignals[k], &sa, &old_[k]);
}

StopOnSignal::~StopOnSignal() {
    for (int k = 0; k < 2; ++k) sigaction(kStopSignals[k], &old_[k], nullptr);
}

int StopOnSignal::Caught() { return g_stopSignal; }

bool CliInterface::StopRequested() { return g_stopSignal != 0; }

void CliInterface::BeginOpening() {
    opening_ = true;
    held_.clear();
    passStart_ = 0;
}

void CliInterface::EndOpening(bool succeeded) {
    opening_ = false;
    // On success only what the reading that worked said is kept (a notice
    // such as "opened read-only"); on failure everything, in order.
    for (std::size_t k = succeeded ? passStart_ : 0; k < held_.size(); ++k) Print(held_[k]);
    held_.clear();
}

namespace {

// Plain words for the floppy maker's messages whose catalogue text is "?".
unsigned FloppyPlainLine(const std::string& text, int style) {
    if (text == "?") return style == kBoxStop ? 1289 : 1287;  // 710 drive not openable, 706 done
    if (text == "I/O ?") return 1288;                          // 709
    auto endsWith = [&](const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith("\n?\n?")) return 1286;  // 704: exists, replace?
    if (endsWith("\n?")) return 1290;      // 711: output not creatable
    return 0;
}

}  // namespace

int CliInterface::ShowBox(const std::string& text, const std::string& caption, int style) {
    // "The import was interrupted": the line before it said why, and the
    // status says that it failed.
    if (!importSources.empty() && text == FormatCatalogueMessage(118, {}).value_or("")) return kIdOk;
    if (caption == SystemErrorCaption()) Print(MessageString(kSystemErrorLine, caption, text));
    else Print(text);
    if (floppyMessages) {
        if (unsigned plain = FloppyPlainLine(text, style)) {
            std::string insert = text.substr(0, text.find('\n'));
            if (auto line = FormatCatalogueMessage(plain, {insert})) Print(*line);
        }
    }
    if (style == kBoxYesNoQuestion || style == kBoxYesNoWarning) {
        if (yes_) return kIdYes;
        if (no_) return kIdNo;
        if (auto answer = AskOnTerminal()) return *answer ? kIdYes : kIdNo;
        // AskOnTerminal named the options that answer when nobody can.
        unanswered_ = true;
        return kIdNo;
    }
    return kIdOk;
}

std::optional<bool> CliInterface::AskOnTerminal() {
    if (!isatty(0) || !isatty(2)) {
        Print(MessageString(2141));
        return std::nullopt;
    }
    if (progress) progress->Break();
    for (;;) {
        std::fputs(ResourceString().LoadMessage(2140), stderr);
        std::fflush(stderr);
        char line[64];
        if (!std::fgets(line, sizeof line, stdin)) break;
        switch (line[0] | 0x20) {
            case 'y': return true;
            case 'n': return false;
            default: break;
        }
    }
    std::fputs("\n", stderr);
    return std::nullopt;
}

OverwriteAnswer CliInterface::AskOverwrite(const std::string& existingName, const SystemTime&,
                                           const std::string& incomingName, const SystemTime&) {
    // Importing, the existing entry is in the image and the incoming file
    // may be a private copy; exporting, the existing file is the host's.
    const bool importing = !importSources.empty();
    const std::string existing = importing ? ImportedEntryPath(incomingName, existingName) : existingName;
    if (yes_) return owYes;
    if (no_) {
        Print(MessageString(2149, existing));
        return owNo;
    }
    // On a terminal the question is asked, as the window asks it.
    if (isatty(0) && isatty(2)) {
        if (progress) progress->Break();
        for (;;) {
            std::fputs(ResourceString().LoadMessage(1632, existingName), stderr);
            std::fflush(stderr);
            char line[64];
            if (!std::fgets(line, sizeof line, stdin)) break;
            switch (line[0] | 0x20) {
                case 'y': return owYes;
                case 'n': return owNo;
                case 'a': return owYesToAll;
                case 's': return owNoToAll;
                case 'q': return owCancel;
                default: break;
            }
        }
        std::fputs("\n", stderr);
    }
    // Nobody can answer here: this one entry is passed over and the rest of
    // the operation goes on; the exit status is then 1.
    unanswered_ = true;
    Print(MessageString(2340, existing));
    return owNo;
}

bool CliInterface::AcceptChangedName(const std::string& given, const std::string& stored) {
    if (strictNames) {
        if (auto line = FormatCatalogueMessage(1627, {given, stored})) Print(*line);
        return false;
    }
    if (auto line = FormatCatalogueMessage(1626, {given, stored})) Print(*line);
    return true;
}

std::string CliInterface::ImportedEntryPath(const std::string& hostPath, const std::string& entryName) const {
    auto trimmed = [](std::string p) {
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        return p;
    };
    std::vector<std::string> parts;
    auto add = [&parts](const std::string& p) {
        for (std::size_t at = 0; at <= p.size();) {
            std::size_t end = std::min(p.find('/', at), p.size());
            if (end > at) parts.push_back(p.substr(at, end - at));
            at = end + 1;
        }
    };
    add(importFolder);
    for (const auto& [given, name] : importSources) {
        std::string source = trimmed(given);
        if (hostPath.size() <= source.size() + 1 || hostPath.compare(0, source.size() + 1, source + "/") != 0) continue;
        // A folder source comes in under its name with what lies below it.
        std::string below = hostPath.substr(source.size() + 1);
        std::size_t slash = below.find_last_of('/');
        add(name);
        if (slash != std::string::npos) add(below.substr(0, slash));
        break;
    }
    std::string path = "::";
    for (const std::string& p : parts) path += "/" + p;
    return path + "/" + entryName;
}

void CliInterface::SetStatusText(int panel, const std::string&) {
    if (panel == 1 && progress) progress->NextItem();
}

// The command line has no dialog to show: the first question takes the
// preselected disk type (or the one --profile named); a hard-disk image
// whose plain reading failed is tried once more as a partitioned disk;
// after that the answer is Cancel.
bool CliInterface::ShowDiskTypeDialog(const std::string&, const std::vector<std::string>&, int& selected) {
    ++typeQuestions_;
    passStart_ = held_.size();
    constexpr int kHardDisk = 1, kPlainImage = 2;
    if (typeQuestions_ == 1) {
        if (wantedItem) selected = *wantedItem;
        else if ((partition || listPartitions) &&
                 (selected < 0 || std::size_t(selected) >= tableItems.size() || !tableItems[std::size_t(selected)]))
            selected = kHardDisk;  // a partition was asked for: a disk type with a table
        lastItem_ = selected;
        return true;
    }
    if (typeQuestions_ == 2 && lastItem_ == kPlainImage && !wantedItem && !listPartitions) {
        selected = lastItem_ = kHardDisk;
        return true;
    }
    return false;
}

bool IsSoundTable(const std::vector<PartitionRow>& rows, uint64_t imageSize) {
    if (rows.empty()) return false;
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (const PartitionRow& r : rows) {
        uint64_t end = r.offset + r.bytes;
        if (end < r.offset) return false;
        if (imageSize && (r.offset >= imageSize || end > imageSize)) return false;
        spans.emplace_back(r.offset, end);
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t k = 1; k < spans.size(); ++k)
        if (spans[k].first == spans[k - 1].first || spans[k].first < spans[k - 1].second) return false;
    return true;
}

namespace {

// The fields of the dialog, kept to go back to them.
struct DialogFields {
    std::string start, sectors, cylinders, secLen, heads;
    int type;
    explicit DialogFields(const THDDPartDialog& d)
        : start(d.DiskStartEdit), sectors(d.SectorEdit), cylinders(d.CylinderEdit), secLen(d.SectorLenEdit),
          heads(d.HeaderEdit), type(d.Type) {}
    void Restore(THDDPartDialog& d) const {
        d.DiskStartEdit = start;
        d.SectorEdit = sectors;
        d.CylinderEdit = cylinders;
        d.SectorLenEdit = secLen;
        d.HeaderEdit = heads;
        d.Type = type;
    }
};

bool HitsOffset(const std::vector<PartitionRow>& rows, int64_t at) {
    for (const PartitionRow& r : rows)
        if (int64_t(r.offset) == at) return true;
    return false;
}

// A PC-9801 table counts its partitions in cylinders, heads and sectors:
// finds the sectors per track and heads that put the first partition's
// boot sector where the search found one. Common geometries are tried first.
bool FitPC98Geometry(THDDPartDialog& d, int64_t boot) {
    const int64_t start = LenientInt64(d.DiskStartEdit);
    const int64_t secLen = LenientInt(d.SectorLenEdit);
    uint8_t t[256];
    if (!d.Device || secLen <= 0 || !d.Device->Read(start + secLen, t, sizeof t)) return false;
    const uint8_t* first = nullptr;
    auto key = [](const uint8_t* e) { return (uint64_t(LE16(e + 6)) << 16) | (uint64_t(e[5]) << 8) | e[4]; };
    for (int k = 0; k < 8; ++k) {
        const uint8_t* e = t + 32 * k;
        if (e[0] != 0 && (!first || key(e) < key(first))) first = e;
    }
    if (!first) return false;
    const int64_t s0 = first[4], h0 = first[5], c0 = LE16(first + 6);
    static const int kHeads[] = {8, 4, 16, 15, 6, 2, 1, 5, 7, 10, 12, 13, 14};
    static const int kSectors[] = {17, 33, 32, 63, 26, 25, 16, 8};
    auto fits = [&](int64_t S, int64_t H) {
        return s0 < S && h0 < H && start + secLen * (s0 + S * (h0 + H * c0)) == boot;
    };
    auto use = [&](int64_t S, int64_t H) {
        d.SectorEdit = std::to_string(S);
        d.HeaderEdit = std::to_string(H);
        return true;
    };
    for (int H : kHeads)
        for (int S : kSectors)
            if (fits(S, H)) return use(S, H);
    for (int64_t H = 1; H < 256; ++H)
        for (int64_t S = 1; S < 256; ++S)
            if (fits(S, H)) return use(S, H);
    return false;
}

// A user who knows nothing of the disk goes through the table formats and
// finds the geometry with the boot-sector search. A table whose partitions
// lie where a boot sector was found is taken before one that only holds
// together; a geometry from an image header is taken as it stands when
// its table holds together.
bool FindSoundTable(THDDPartDialog& dialog, bool guessedGeometry, uint64_t imageSize) {
    const DialogFields given(dialog);
    if (!guessedGeometry && IsSoundTable(dialog.Rows, imageSize)) return true;

    int64_t boot = -1;
    uint8_t sector[512];
    if (int64_t at = 0; SearchBootSector(dialog.Device, dialog.DiskStartEdit, dialog.SectorLenEdit, at, sector))
        boot = at;

    std::optional<DialogFields> fallback;
    auto consider = [&]() {
        if (!IsSoundTable(dialog.Rows, imageSize)) return false;
        if (boot < 0 || HitsOffset(dialog.Rows, boot)) return true;
        if (!fallback) fallback.emplace(dialog);
        return false;
    };
    auto tryTypes = [&](int first) {
        if (first >= 0 && first <= 2) {
            dialog.SetType(first, true);
            if (consider()) return true;
        }
        for (int type = 0; type < 3; ++type) {
            if (type == first) continue;
            dialog.SetType(type, true);
            if (consider()) return true;
        }
        return false;
    };

    if (boot >= 0) {
        if (given.type == kTablePC98 && FitPC98Geometry(dialog, boot)) {
            dialog.SetType(kTablePC98, true);
            if (consider()) return true;
        }
        given.Restore(dialog);
        if (dialog.Search() && tryTypes(given.type)) return true;
        given.Restore(dialog);
    }
    if (tryTypes(given.type)) return true;
    if (fallback) {
        fallback->Restore(dialog);
        dialog.Fill();
        return true;
    }
    given.Restore(dialog);
    dialog.Rows.clear();
    return false;
}

}  // namespace

// A file of several disks opened without --partition: the first disk that
// holds a volume, said on a line of its own; where none does, the list.
int CliInterface::ChooseDisk(THDDPartDialog& dialog) {
    const std::size_t n = dialog.Rows.size();
    auto line = [&](std::size_t k) {
        std::string name = dialog.Rows[k].name;
        std::string number = std::to_string(k + 1) + ": ";
        if (name.compare(0, number.size(), number) == 0) name.erase(0, number.size());
        return FormatCatalogueMessage(1630, {uint64_t(k + 1), uint64_t(n), name}).value_or("");
    };
    for (std::size_t k = 0; k < n; ++k) {
        for (uint32_t fs : {kFileSystemDOS, kFileSystemHuman68k}) {
            VolumeParams p;
            p.Device = dialog.Device;
            p.DiskStart = int64_t(dialog.Rows[k].offset);
            p.FileSystem = fs;
            if (DecodeBootRecord(p) != BootOk) continue;
            Print(line(k));
            return dialog.Choose(int(k)) ? int(k) : -1;
        }
    }
    Print(FormatCatalogueMessage(1631, {std::string(dialog.Device ? dialog.Device->GetPath() : "")}).value_or(""));
    for (std::size_t k = 0; k < n; ++k) Print("  " + line(k));
    return -1;
}

int CliInterface::ShowPartitionDialog(THDDPartDialog& dialog, bool expanded) {
    // The search and the table reads report what they find as they go;
    // here that is a step of the command's own, not news for the user.
    bool wasOpening = opening_;
    std::size_t before = held_.size();
    opening_ = true;
    bool sound = FindSoundTable(dialog, expanded, imageSize);
    held_.resize(before);
    opening_ = wasOpening;
    if (listPartitions) {
        listed = sound ? dialog.Rows : std::vector<PartitionRow>{};
        return -1;
    }
    if (!sound) {
        Print("voldex-cli: " + MessageString(1697));
        return -1;
    }
    partitionChosen = true;
    if (!partition && !dialog.FixedRows.empty()) return ChooseDisk(dialog);
    int row = partition.value_or(1) - 1;
    if (std::size_t(row) >= dialog.Rows.size()) {
        Print("voldex-cli: " + MessageString(1698, row + 1, dialog.Rows.size()));
        return -1;
    }
    return dialog.Choose(row) ? row : -1;
}
