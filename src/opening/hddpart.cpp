#include "opening/hddpart.h"
#include "device/byteorder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "device/deviceio.h"
#include "device/messages.h"
#include "device/userinterface.h"
#include "opening/settings/config.h"
#include "explorer/ops/hostnames.h"

namespace {

constexpr uint32_t kMiB = 1048576;
// Extended AT tables are followed no deeper than this, and never into a
// table already read: a table that refers back would repeat for ever.
constexpr int kMaxATDepth = 32;


std::string Msg(unsigned id, const MsgArgs& args = {}) { return ResourceString().LoadMessageV(id, args); }

unsigned ATTypeText(uint8_t type) {
    switch (type) {
        case 1: return 509;
        case 4: return 510;
        case 6:
        case 14: return 511;
        case 11:
        case 12: return 512;
        default: return 513;
    }
}

// The table type's name as the catalogue's English says it, for scripts.
const char* ATTypeName(uint8_t type) {
    switch (ATTypeText(type)) {
        case 509: return "FAT12";
        case 510: return "FAT16, under 32 MB";
        case 511: return "FAT16, 32 MB or more";
        case 512: return "FAT32";
        default: return "Unknown";
    }
}

// Whole MiB to the nearest, and 1 for anything smaller but not empty: a
// 99.87 MiB partition is shown as 100, not 99.
uint64_t SizeInMiB(uint64_t bytes) {
    if (bytes == 0) return 0;
    return std::max<uint64_t>(1, (bytes + kMiB / 2) / kMiB);
}

struct Geometry {
    int64_t diskStart;
    int32_t secLen, sectors, heads, cylinders;
};

void ReadPC98(DeviceIOIF* dev, const Geometry& g, std::vector<PartitionRow>& rows) {
    uint8_t table[256];
    if (!dev->Read(int64_t(g.diskStart) + g.secLen, table, sizeof table)) {
        ShowMessage(504);
        return;
    }
    for (int k = 0; k < 8; ++k) {
        const uint8_t* e = table + 32 * k;
        if (e[0] == 0) continue;
        PartitionRow r;
        const char* name = reinterpret_cast<const char*>(e + 16);
        std::string stored(name, strnlen(name, 16));
        stored.erase(stored.find_last_not_of(' ') + 1);  // padded with spaces to 16 bytes
        r.name = SjisToUtf8(stored);
        uint32_t startCyl = LE16(e + 10), endCyl = LE16(e + 14);
        r.start = Msg(517, {startCyl});
        r.end = Msg(517, {endCyl});
        uint64_t bytes = (uint64_t(endCyl) - startCyl + 1) * uint64_t(uint32_t(g.secLen)) * uint32_t(g.sectors) *
                         uint32_t(g.heads);
        r.size = Msg(519, {SizeInMiB(bytes)});
        r.first = startCyl;
        r.last = endCyl;
        r.unit = "cylinder";
        r.type = e[1];
        r.plainName = r.name;
        r.bytes = bytes;
        uint64_t iplSector = e[4], iplHead = e[5], iplCyl = LE16(e + 6);
        r.offset = uint64_t(g.diskStart) + uint64_t(uint32_t(g.secLen)) *
                                               (iplSector + uint32_t(g.sectors) * (iplHead + uint64_t(uint32_t(g.heads)) * iplCyl));
        r.offsetText = Msg(520, {r.offset});
        rows.push_back(r);
    }
}

// Reads the AT table at byte `at`. Data partitions count from the table
// that holds them. Links to further extended tables count from the table
// itself in the master boot record, and from the start of the outermost
// extended partition (`extendedBase`) inside it, as DOS and every later
// partitioning tool write them.
void ReadAT(DeviceIOIF* dev, const Geometry& g, uint64_t at, uint64_t extendedBase, int depth,
            std::vector<uint64_t>& seen, std::vector<PartitionRow>& rows) {
    uint8_t mbr[512];
    if (!dev->Read(int64_t(at), mbr, sizeof mbr)) {
        ShowMessage(503);
        return;
    }
    seen.push_back(at);
    const uint64_t secLen = uint32_t(g.secLen);
    for (int k = 0; k < 4; ++k) {
        const uint8_t* e = mbr + 446 + 16 * k;
        uint8_t type = e[4];
        if (type == 0) continue;
        uint32_t first = LE32(e + 8), count = LE32(e + 12);
        if (type == 5 || type == 15) {
            uint64_t base = depth == 0 ? at : extendedBase;
            uint64_t next = base + secLen * first;
            bool known = std::find(seen.begin(), seen.end(), next) != seen.end();
            if (!known && depth < kMaxATDepth && next <= uint64_t(INT64_MAX))
                ReadAT(dev, g, next, depth == 0 ? next : extendedBase, depth + 1, seen, rows);
            continue;
        }
        uint64_t offset = at + secLen * first;
        PartitionRow r;
        r.name = Msg(depth == 0 ? 514 : 515, {Msg(ATTypeText(type))});
        // The last sector is counted in, as the PC-9801 table's last
        // cylinder is (and as fdisk shows it).
        r.start = Msg(516, {first});
        r.end = Msg(516, {uint64_t(first) + count - (count ? 1 : 0)});
        r.size = Msg(519, {SizeInMiB(secLen * count)});
        r.first = first;
        r.last = uint64_t(first) + count - (count ? 1 : 0);
        r.type = type;
        r.plainName = ATTypeName(type);
        r.bytes = secLen * count;
        r.offset = offset;
        r.offsetText = Msg(520, {r.offset});
        rows.push_back(r);
    }
}

void ReadX68000(DeviceIOIF* dev, const Geometry& g, std::vector<PartitionRow>& rows) {
    uint8_t table[128];
    int64_t at = (g.diskStart == 0 && g.secLen != 256) ? 2048 : 1024;
    if (!dev->Read(at, table, sizeof table)) {
        ShowMessage(505);
        return;
    }
    for (int k = 0; k < 8; ++k) {
        const uint8_t* e = table + 16 * k;
        if (std::memcmp(e, "Human68k", 8) != 0) continue;
        uint32_t record = BE32(e + 8), count = BE32(e + 12);
        PartitionRow r;
        r.name = "Human68k";
        r.start = Msg(518, {record});
        r.bytes = uint64_t(count) * uint32_t(g.secLen);
        if (count != 0) r.end = Msg(518, {uint64_t(record) + count - 1});
        r.size = Msg(519, {SizeInMiB(r.bytes)});
        r.first = record;
        r.last = uint64_t(record) + count - (count ? 1 : 0);
        r.unit = "record";
        r.plainName = r.name;
        r.offset = uint64_t(g.diskStart) + uint64_t(record) * uint32_t(g.secLen);
        r.offsetText = Msg(520, {r.offset});
        rows.push_back(r);
    }
}

}  // namespace

const char* const THDDPartDialog::kTypeNames[3] = {"98", "AT", "X68000"};

bool StrictInt(const std::string& text, int32_t& value) {
    errno = 0;
    char* end = nullptr;
    const char* s = text.c_str();
    while (*s == ' ') ++s;
    long long v = std::strtoll(s, &end, 10);
    while (end && *end == ' ') ++end;
    if (text.empty() || end == s || *end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX) {
        ShowMessage(1203, text);
        return false;
    }
    value = int32_t(v);
    return true;
}

bool StrictInt64(const std::string& text, int64_t& value) {
    errno = 0;
    char* end = nullptr;
    const char* s = text.c_str();
    while (*s == ' ') ++s;
    long long v = std::strtoll(s, &end, 10);
    while (end && *end == ' ') ++end;
    if (text.empty() || end == s || *end != 0 || errno != 0) {
        ShowMessage(1203, text);
        return false;
    }
    value = v;
    return true;
}

int64_t LenientInt64(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > (INT64_MAX - 9) / 10) break;
    }
    return negative ? -v : v;
}

int32_t LenientInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > 0xFFFFFFFFll) v = 0xFFFFFFFFll;
    }
    int32_t r = int32_t(uint32_t(v));
    return negative ? -r : r;
}

THDDPartDialog::THDDPartDialog()
    : AutoHDDFirst(Setting("AutoHDDFirst") != 0), AutoHDDSingle(Setting("AutoHDDSingle") != 0) {}

void THDDPartDialog::SetGeometry(const HDDGeometry& g) {
    DiskStartEdit = std::to_string(g.DiskStart);
    SectorLenEdit = std::to_string(g.SecLen);
    SectorEdit = std::to_string(g.Sectors);
    HeaderEdit = std::to_string(g.Heads);
    CylinderEdit = std::to_string(g.Cylinders);
    SetType(g.HDDType >= 0 && g.HDDType <= 2 ? g.HDDType : -1, false);
}

void THDDPartDialog::SetType(int type, bool refill) {
    Type = type;
    if (refill) Fill();
    SectorLenLabel = Msg(type == kTableX68000 ? 521 : 522);
}

bool THDDPartDialog::Fill() {
    Geometry g;
    if (!StrictInt64(DiskStartEdit, g.diskStart) || !StrictInt(SectorEdit, g.sectors) ||
        !StrictInt(CylinderEdit, g.cylinders) || !StrictInt(SectorLenEdit, g.secLen) ||
        !StrictInt(HeaderEdit, g.heads))
        return false;
    std::string path = Device ? Device->GetPath() : "";
    std::size_t slash = path.find_last_of("/\\");
    Caption = Msg(508, {slash == std::string::npos ? path : path.substr(slash + 1)});
    Rows.clear();
    if (!Device) return false;
    if (!FixedRows.empty()) {
        Rows = FixedRows;
        return true;
    }
    switch (Type) {
        case kTablePC98: ReadPC98(Device, g, Rows); break;
        case kTableAT: {
            std::vector<uint64_t> seen;
            ReadAT(Device, g, uint64_t(g.diskStart), 0, 0, seen, Rows);
            break;
        }
        case kTableX68000: ReadX68000(Device, g, Rows); break;
        default: ShowMessage(502); return false;
    }
    return true;
}

bool SearchBootSector(DeviceIOIF* device, const std::string& start, const std::string& step, int64_t& at,
                      uint8_t* sector) {
    int64_t s = LenientInt64(start);
    int32_t k = LenientInt(step);
    if (k <= 0) {
        ShowMessage(1201);
        return false;
    }
    uint32_t found = 0;
    if (!device || !FindFATBootSector(device, s, k, found, sector)) {
        ShowMessage(507);
        return false;
    }
    ShowMessage(506);
    at = int64_t(s) + found;
    return true;
}

bool THDDPartDialog::Search() {
    uint8_t sector[512];
    int64_t at = 0;
    if (!SearchBootSector(Device, DiskStartEdit, SectorLenEdit, at, sector)) return false;
    // A boot sector that a listed partition already begins at, or a table
    // that the found geometry cannot read: the list stays as it was.
    for (const PartitionRow& r : Rows)
        if (int64_t(r.offset) == at) return true;
    const std::string start = DiskStartEdit, sectors = SectorEdit, heads = HeaderEdit;
    const std::vector<PartitionRow> rows = Rows;
    int32_t secLen = LenientInt(SectorLenEdit);
    int64_t hidden = LE32(sector + 28);
    DiskStartEdit = std::to_string(at - int64_t(secLen) * hidden);
    SectorEdit = std::to_string(LE16(sector + 24));
    HeaderEdit = std::to_string(LE16(sector + 26));
    if ((!Fill() || Rows.empty()) && !rows.empty()) {
        DiskStartEdit = start;
        SectorEdit = sectors;
        HeaderEdit = heads;
        Rows = rows;
    }
    return true;
}

bool THDDPartDialog::Choose(int row) {
    if (row < 0 || std::size_t(row) >= Rows.size()) {
        ShowMessage(501);
        return false;
    }
    return true;
}

int RunPartitionDialog(THDDPartDialog& dialog, VolumeParams& params, const HDDGeometry& geometry, bool force) {
    dialog.Device = params.Device;
    dialog.SetGeometry(geometry);
    dialog.Fill();
    int chosen = -1;
    if (UI().IsShiftHeld() || force) {
        chosen = UI().ShowPartitionDialog(dialog, true);
    } else if (dialog.AutoHDDFirst && !dialog.Rows.empty()) {
        chosen = 0;
    } else if (!dialog.AutoHDDFirst && dialog.AutoHDDSingle && dialog.Rows.size() == 1) {
        chosen = 0;
    } else {
        chosen = UI().ShowPartitionDialog(dialog, false);
    }
    if (chosen < 0 || std::size_t(chosen) >= dialog.Rows.size()) return 2;
    params.DiskStart = int64_t(dialog.Rows[std::size_t(chosen)].offset);
    params.FileSystem = dialog.Type == kTableX68000 ? kFileSystemHuman68k : kFileSystemDOS;
    return 1;
}
