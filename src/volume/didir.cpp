#include "volume/didir.h"
#include "device/byteorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "device/asciicase.h"
#include "device/messages.h"
#include "volume/deleter.h"
#include "volume/longnames.h"

namespace {


bool IsReplacedByUnderscore(unsigned char c) {
    return (c >= 0x01 && c <= 0x1F) || std::strchr("\\/:;,*?\"<>|", c) != nullptr;
}

// Index just past the full stop of `name` from which the extension is
// taken, or npos when the rest of the name from `from` has no full stop.
// Full stops inside double-byte characters are not full stops.
std::size_t LastDot(const std::string& name, std::size_t from) {
    std::size_t last = std::string::npos;
    for (std::size_t i = from; i < name.size(); ++i) {
        if (IsSjisLeadByte(uint8_t(name[i])) && i + 1 < name.size()) {
            ++i;
            continue;
        }
        if (name[i] == '.') last = i;
    }
    return last;
}

}  // namespace

SystemTime LocalTimeNow() { return LocalTimeOf(std::time(nullptr)); }

SystemTime LocalTimeOf(std::time_t when) {
    std::tm tm{};
    SystemTime t;
    if (!localtime_r(&when, &tm)) {
        // Beyond what the C library can break down: far outside what a
        // directory entry can hold, on the side the sign says.
        t.wYear = when < 0 ? 0 : 0xFFFF;
        t.wMonth = when < 0 ? 1 : 12;
        t.wDay = when < 0 ? 1 : 31;
        return t;
    }
    const long year = long(tm.tm_year) + 1900;
    t.wYear = uint16_t(std::clamp(year, 0L, 0xFFFFL));
    t.wMonth = uint16_t(tm.tm_mon + 1);
    t.wDay = uint16_t(tm.tm_mday);
    t.wHour = uint16_t(tm.tm_hour);
    t.wMinute = uint16_t(tm.tm_min);
    t.wSecond = uint16_t(tm.tm_sec);
    if (year != long(t.wYear)) {
        t.wMonth = year < 0 ? 1 : 12;
        t.wDay = year < 0 ? 1 : 31;
    }
    return t;
}

void PackDosTime(const SystemTime& in, uint16_t& date, uint16_t& time) {
    // An entry holds 1980-01-01 00:00:00 to 2107-12-31 23:59:58; anything
    // outside is stored as the nearest end rather than wrapped.
    SystemTime t = in;
    if (t.wYear < 1980) {
        t = SystemTime{};
        t.wYear = 1980, t.wMonth = 1, t.wDay = 1;
    } else if (t.wYear > 2107) {
        t = SystemTime{};
        t.wYear = 2107, t.wMonth = 12, t.wDay = 31, t.wHour = 23, t.wMinute = 59, t.wSecond = 58;
    }
    date = uint16_t((((t.wYear - 1980) << 9) & 0xFE00) | ((t.wMonth << 5) & 0x1E0) | (t.wDay & 0x1F));
    time = uint16_t(((t.wHour << 11) & 0xF800) | ((t.wMinute << 5) & 0x7E0) | ((t.wSecond >> 1) & 0x1F));
}

SystemTime UnpackDosTime(uint16_t date, uint16_t time) {
    SystemTime t;
    t.wYear = uint16_t((date >> 9) + 1980);
    t.wMonth = uint16_t((date >> 5) & 15);
    t.wDay = uint16_t(date & 31);
    t.wHour = uint16_t(time >> 11);
    t.wMinute = uint16_t((time >> 5) & 63);
    t.wSecond = uint16_t((time & 31) * 2);
    return t;
}

bool DIDir::Load(bool quiet) {
    Clear();
    if (!Image) return false;
    uint32_t count = 0;
    auto entries = Image->ReadDirEntries(FirstCluster, count, quiet);
    if (!entries) return false;
    Entries = std::move(*entries);
    onDisk_ = Entries;
    Count = count;
    loaded_ = true;
    return true;
}

bool DIDir::Write() {
    if (!loaded_) return false;
    // Whatever the entries point at (data, FAT) reaches the disk before them.
    if (!Image->Flush()) return false;
    if (movedFirst_ >= 0) {
        if (!WriteEntriesAhead(uint32_t(movedFirst_), uint32_t(movedLast_))) return false;
        movedFirst_ = movedLast_ = -1;
    }
    if (!Image->WriteDirEntries(Entries, FirstCluster, &onDisk_)) return false;
    onDisk_ = Entries;
    return true;
}

bool DIDir::WriteEntriesAhead(uint32_t first, uint32_t last) {
    if (Image->IsReadOnly() || std::size_t(last + 1) * 32 > Entries.size()) return false;
    if (Image->IsRootRegion(FirstCluster))
        return Image->Device()->Write(int64_t(Image->DiskStart) + Image->RootDir + int64_t(first) * 32,
                                      Entries.data() + std::size_t(first) * 32, (last - first + 1) * 32);
    auto chain = Image->ReadChain(FirstCluster == 0 ? Image->RootDir : FirstCluster);
    const uint32_t per = Image->ClusterSize / 32;
    if (!chain || chain->size() * per <= last) return false;
    for (uint32_t k = first / per; k <= last / per; ++k)
        if (!Image->WriteCluster((*chain)[k], Entries.data() + std::size_t(k) * Image->ClusterSize)) return false;
    return true;
}

void DIDir::Clear() {
    movedFirst_ = movedLast_ = -1;
    Entries.clear();
    Entries.shrink_to_fit();
    onDisk_.clear();
    onDisk_.shrink_to_fit();
    Count = 0;
    loaded_ = false;
}

const uint8_t* DIDir::RawEntry(int i) const { return IsValidIndex(i) ? Entry(i) : nullptr; }

void DIDir::RestoreEntry(int i, const uint8_t* raw) {
    if (IsValidIndex(i) && raw != Entry(i)) std::memcpy(Entry(i), raw, 32);
}

namespace {

// The volume label (or a long-name slot): no file or folder, so a name
// looked up never means it; a folder may bear the label's name.
bool IsLabelOrSlot(const uint8_t* e) { return (e[11] & kAttrVolume) && !(e[11] & kAttrDirectory); }

}  // namespace

int DIDir::Find(const std::string& name) const {
    if (!loaded_) return -1;
    std::string wanted = (name == "." || name == "..") ? name : ToDiskName(name);
    // A name that begins with a full stop, as other systems store them, is
    // also looked for as it stands.
    std::string_view literal;
    if (name.size() > 2 && name[0] == '.' && name.size() < kMaxDisplayName) literal = name;
    // A wanted name that begins with 0xE5 would also match deleted entries,
    // which show that byte in front; those are passed over for it.
    bool skipDeleted = !wanted.empty() && uint8_t(wanted[0]) == kDeletedMark;
    char buf[kMaxDisplayName];
    int found = -1, matches = 0;
    for (uint32_t i = 0; i < Count; ++i) {
        if (skipDeleted && Entry(int(i))[0] == kDeletedMark) continue;
        if (IsLabelOrSlot(Entry(int(i)))) continue;
        std::size_t n = DisplayNameInto(int(i), buf);
        std::string_view shown(buf, n);
        if ((n == wanted.size() && EqualIgnoringAsciiCase(shown, wanted)) ||
            (!literal.empty() && n == literal.size() && EqualIgnoringAsciiCase(shown, literal))) {
            if (shown == name) return int(i);
            if (matches++ == 0) found = int(i);
        }
    }
    return matches > 1 ? kAmbiguousName : found;
}

bool DIDir::IsFree(int i) const {
    if (!IsValidIndex(i)) return true;
    return Entry(i)[0] == kDeletedMark || Entry(i)[0] == 0;
}

namespace {

// 1 for a "." name field, 2 for "..", else 0.
int DotNameLength(const uint8_t* e) {
    if (e[0] != '.') return 0;
    int n = e[1] == '.' ? 2 : 1;
    for (int k = n; k < 11; ++k)
        if (e[k] != ' ') return 0;
    return n;
}

}  // namespace

bool DIDir::IsDotEntry(int i) const { return IsValidIndex(i) && DotNameLength(Entry(i)) != 0; }

bool DIDir::IsValidNewName(const std::string& host) const {
    if (host.find_first_not_of(". ") == std::string::npos) return false;
    std::string disk = ToDiskName(host);
    return !disk.empty() && disk[0] != '.';
}

std::size_t DIDir::DisplayNameInto(int i, char* out) const {
    const uint8_t* e = Entry(i);
    if (int dots = DotNameLength(e)) {
        out[0] = out[1] = '.';
        return std::size_t(dots);
    }
    if (e[0] == 0) return 0;
    std::size_t n = 0;
    if ((e[11] & kAttrVolume) && e[11] != 0x0F) {
        // A volume label is one name of 11 bytes, spaces and all.
        for (int k = 0; k < 11; ++k) out[n++] = char(e[k]);
        while (n > 0 && out[n - 1] == ' ') --n;
        if (e[0] == kStoredE5) out[0] = char(kDeletedMark);
        return n;
    }
    for (int k = 0; k < 8 && e[k] != ' '; ++k) out[n++] = char(e[k]);
    // A name whose first byte is 0xE5 (a Shift-JIS lead byte) is stored
    // with 0x05 in its place, so that it does not read as deleted.
    if (e[0] == kStoredE5) out[0] = char(kDeletedMark);
    if (IsHuman68k() && e[7] != ' ') {
        // Bytes 12-21 go on with the name, padded with NULs (or, by some
        // writers, spaces).
        const std::size_t from = n;
        for (int k = 12; k < 22 && e[k] != 0; ++k) out[n++] = char(e[k]);
        while (n > from && out[n - 1] == ' ') --n;
    }
    if (e[8] != ' ') {
        out[n++] = '.';
        for (int k = 8; k < 11 && e[k] != ' '; ++k) out[n++] = char(e[k]);
    }
    return n;
}

std::string DIDir::GetDisplayName(int i) const {
    if (!IsValidIndex(i)) return "";
    char buf[kMaxDisplayName];
    return std::string(buf, DisplayNameInto(i, buf));
}

std::string DIDir::GetAttrText(int i) const {
    if (!IsValidIndex(i)) return "err";
    uint8_t a = Entry(i)[11];
    std::string t;
    if (a & kAttrReadOnly) t += "R";
    if (a & kAttrHidden) t += "H";
    if (a & kAttrSystem) t += "S";
    if (a & kAttrArchive) t += "A";
    if (a & kAttrVolume) t += "<VOL>";
    if (a & kAttrDirectory) t += "<DIR>";
    return t;
}

std::string DIDir::GetTimeText(int i) const {
    if (!IsValidIndex(i)) return "0000/00/00 00:00:00 err";
    SystemTime t = GetTime(i);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return buf;
}

uint8_t DIDir::GetAttr(int i) const { return IsValidIndex(i) ? Entry(i)[11] : 0; }

SystemTime DIDir::GetTime(int i) const {
    if (!IsValidIndex(i)) return SystemTime{};
    return UnpackDosTime(LE16(Entry(i) + 24), LE16(Entry(i) + 22));
}

int64_t DIDir::GetStartCluster(int i) const {
    if (!IsValidIndex(i)) return -1;
    uint32_t low = LE16(Entry(i) + 26);
    if (Image->FATType == kFAT32) return int64_t(uint32_t(LE16(Entry(i) + 20)) << 16 | low);
    return low;
}

uint32_t DIDir::GetSize(int i) const { return IsValidIndex(i) ? LE32(Entry(i) + 28) : 0xFFFFFFFFu; }

std::string DIDir::ToDiskName(const std::string& host) const {
    const std::size_t baseLimit = IsHuman68k() ? 18 : 8;
    const bool upper = !IsHuman68k();
    std::string out;
    bool inExt = false;
    std::size_t n = 0;
    std::size_t i = 0;

    // Moves to the extension: writes "." and continues after the last full
    // stop of the rest of the name. False when there is none.
    auto startExtension = [&](std::size_t from) {
        std::size_t dot = LastDot(host, from);
        if (dot == std::string::npos) return false;
        out += '.';
        inExt = true;
        n = 0;
        i = dot + 1;
        return true;
    };

    // Full stops that open the name carry nothing; the letters after them
    // make the name.
    while (i < host.size() && host[i] == '.') ++i;

    while (i < host.size() && out.size() < 255) {
        uint8_t c = uint8_t(host[i]);
        std::size_t limit = inExt ? 3 : baseLimit;
        if (IsSjisLeadByte(c) && i + 1 < host.size()) {
            if (n + 2 > limit) {
                if (inExt || !startExtension(i + 2)) break;
                continue;
            }
            out += char(c);
            out += host[i + 1];
            n += 2;
            i += 2;
        } else if (c == '.') {
            if (!inExt && LastDot(host, i) == i) {
                out += '.';
                inExt = true;
                n = 0;
                ++i;
                continue;
            }
            out += '_';
            ++n;
            ++i;
        } else if (c == ' ') {
            ++i;
            continue;
        } else {
            if (IsReplacedByUnderscore(c)) c = '_';
            else if (upper && c >= 'a' && c <= 'z') c = uint8_t(c - 32);
            out += char(c);
            ++n;
            ++i;
        }
        if (!inExt && n >= baseLimit) {
            if (!startExtension(i)) break;
        } else if (inExt && n >= 3) {
            break;
        }
    }
    return out;
}

bool DIDir::SetName(int i, const std::string& hostName) {
    if (!IsValidIndex(i)) return false;
    std::string disk = ToDiskName(hostName);
    std::string base = disk, ext;
    if (std::size_t dot = LastDot(disk, 0); dot != std::string::npos) {
        base = disk.substr(0, dot);
        ext = disk.substr(dot + 1);
    }
    uint8_t* e = Entry(i);
    // Long-name slots made for the old name would be orphans.
    if (e[0] != 0 && e[0] != kDeletedMark) DropSlotsBefore(i, true);
    for (int k = 0; k < 8; ++k) e[k] = k < int(base.size()) ? uint8_t(base[k]) : ' ';
    if (e[0] == kDeletedMark) e[0] = kStoredE5;
    if (IsHuman68k())
        for (int k = 0; k < 10; ++k) e[12 + k] = 8 + k < int(base.size()) ? uint8_t(base[8 + k]) : 0;
    for (int k = 0; k < 3; ++k) e[8 + k] = k < int(ext.size()) ? uint8_t(ext[k]) : ' ';
    return true;
}

bool DIDir::SetAttr(int i, uint8_t attr) {
    if (!IsValidIndex(i)) return false;
    Entry(i)[11] = attr;
    return true;
}

bool DIDir::SetTime(int i, const SystemTime& t) {
    if (!IsValidIndex(i)) return false;
    uint16_t date, time;
    PackDosTime(t, date, time);
    PutLE16(Entry(i) + 22, time);
    PutLE16(Entry(i) + 24, date);
    return true;
}

bool DIDir::SetStartCluster(int i, uint32_t cluster) {
    if (!IsValidIndex(i)) return false;
    PutLE16(Entry(i) + 26, uint16_t(cluster));
    return true;
}

bool DIDir::SetSize(int i, uint32_t size) {
    if (!IsValidIndex(i)) return false;
    PutLE32(Entry(i) + 28, size);
    return true;
}

void DIDir::DropSlotsBefore(int i, bool matchChecksum) {
    if (IsHuman68k()) return;  // no long names there; bytes 12-21 hold the name
    const uint8_t sum = LongNameChecksum(Entry(i));
    for (int k = i - 1; k >= 0; --k) {
        uint8_t* e = Entry(k);
        if (e[0] == 0 || e[0] == kDeletedMark || (e[11] & 0x3F) != kAttrLongName) break;
        if (matchChecksum && e[13] != sum) break;
        e[0] = kDeletedMark;
    }
}

void DIDir::MarkDeleted(int i) {
    DropSlotsBefore(i, true);
    Entry(i)[0] = kDeletedMark;
}

namespace {

// The parent of a folder, from its ".." entry (0: the root or none).
uint32_t ParentFolder(DiskImage* image, uint32_t folder) {
    DIDir d(image, folder);
    if (!d.Load() || d.GetCount() < 2 || !d.IsDotEntry(1)) return 0;
    int64_t p = d.GetStartCluster(1);
    return p < 2 ? 0 : uint32_t(p);
}

}  // namespace

bool DIDir::CollectTree(uint32_t start, std::vector<TreeEntry>& entries, bool* loop) {
    if (loop) *loop = false;
    // The folders above this one must never be reached from below.
    std::unordered_set<uint32_t> seen{FirstCluster};
    for (uint32_t c = FirstCluster; c >= 2;) {
        c = ParentFolder(Image, c);
        if (!seen.insert(c).second) break;
    }
    std::vector<std::pair<uint32_t, int>> stack{{start, -1}};
    while (!stack.empty()) {
        auto [folder, at] = stack.back();
        stack.pop_back();
        if (folder < 2 || !seen.insert(folder).second) {
            ShowMessage(128);
            if (loop) *loop = true;
            return false;
        }
        DIDir sub(Image, folder);
        // A folder that cannot be read is not deleted: release is the tool
        // for damaged entries.
        if (!sub.Load()) return false;
        for (uint32_t k = 0; k < sub.Count; ++k) {
            const uint8_t* e = sub.Entry(int(k));
            if (e[0] == kDeletedMark || DotNameLength(e) || (e[11] & kAttrVolume) || e[11] == kAttrLongName) continue;
            uint32_t c = uint32_t(sub.GetStartCluster(int(k)));
            bool isDir = e[11] & kAttrDirectory;
            if (isDir) stack.push_back({c, int(entries.size())});
            entries.push_back({folder, int(k), c, sub.GetSize(int(k)), isDir, at});
        }
    }
    return true;
}

bool DIDir::Delete(int i) {
    if (!IsValidIndex(i) || IsFree(i) || IsDotEntry(i) || (GetAttr(i) & kAttrVolume)) return false;
    return DeleteBatch(*Image, {{this, i, GetNameUtf8(i)}});
}

DIDir::Replaced DIDir::ReplaceChain(int i, uint32_t first, uint32_t size) {
    if (!IsValidIndex(i) || IsFree(i)) return Replaced::NotSwitched;
    const uint32_t oldFirst = uint32_t(std::max<int64_t>(0, GetStartCluster(i)));
    const uint32_t oldSize = GetSize(i);
    SetSize(i, size);
    SetStartCluster(i, first);
    if (!Write() || !Image->Flush()) {
        SetSize(i, oldSize);
        SetStartCluster(i, oldFirst);
        return Replaced::NotSwitched;
    }
    // Clusters that another entry still reaches (a damaged volume) stay.
    // An empty file's cluster is its own on Human68k (see the checker).
    if (oldFirst >= 2 && oldFirst != first && (oldSize != 0 || IsHuman68k()) &&
        !FreeReplacedChain(*Image, FirstCluster, i, oldFirst, GetNameUtf8(i)))
        return Replaced::OldKept;
    return Replaced::Done;
}

bool DIDir::DeleteAll() {
    std::vector<DeleteTarget> all;
    for (uint32_t i = 0; i < Count; ++i) {
        const uint8_t* e = Entry(int(i));
        if (e[0] == 0) break;
        if (e[0] == kDeletedMark || DotNameLength(e) || (e[11] & kAttrVolume) || e[11] == kAttrLongName) continue;
        all.push_back({this, int(i), GetNameUtf8(int(i))});
    }
    return DeleteBatch(*Image, all);
}

bool DIDir::Release(int i) {
    if (!IsValidIndex(i)) return false;
    MarkDeleted(i);
    return true;
}

int DIDir::AddEntry(const std::string& name) {
    if (!loaded_) return -1;
    int slot = -1;
    for (uint32_t i = 0; i < Count; ++i)
        if (Entry(int(i))[0] == kDeletedMark || Entry(int(i))[0] == 0) {
            slot = int(i);
            break;
        }
    if (slot < 0) {
        if (!Image->GrowDirEntries(Entries, FirstCluster, Count, Count + 1)) return -1;
        if (std::size_t(Count + 1) * 32 > Entries.size()) return -1;
        slot = int(Count++);
        // The end-marker slot is taken: the slot after it becomes the end,
        // so that stale entries behind it do not come back.
        if (std::size_t(Count + 1) * 32 <= Entries.size()) Entry(int(Count))[0] = 0;
    }
    // Live long-name slots just before a free slot belonged to an entry
    // that is gone; left there they would lend its long name to this one.
    DropSlotsBefore(slot, false);
    std::memset(Entry(slot), 0, 32);
    SetName(slot, name);
    return slot;
}

int DIDir::MakeDir(const std::string& name) { return MakeDirAt(AddEntry(name)); }

int DIDir::MakeDirNamed(const std::string& name) { return MakeDirAt(AddNamed(name)); }

int DIDir::MakeDirAt(int j) {
    if (j < 0) return -1;
    auto chain = Image->PickClusters(1);
    if (!chain) {
        MarkDeleted(j);
        return -1;
    }
    uint32_t cluster = chain->front();
    SystemTime now = LocalTimeNow();
    std::vector<uint8_t> block(Image->ClusterSize, 0);
    uint16_t date, time;
    PackDosTime(now, date, time);
    auto dotEntry = [&](uint8_t* d, const char* dots, uint32_t first) {
        std::memset(d, ' ', 11);
        std::memcpy(d, dots, std::strlen(dots));
        d[11] = kAttrDirectory;
        PutLE16(d + 22, time);
        PutLE16(d + 24, date);
        PutLE16(d + 26, uint16_t(first));
    };
    dotEntry(block.data(), ".", cluster);
    dotEntry(block.data() + 32, "..", FirstCluster);
    // The cluster with "." and ".." first, then the FAT; the entry that
    // points at them reaches the device with the caller's Write.
    if (!Image->WriteCluster(cluster, block.data()) || !Image->LinkChain(*chain)) {
        MarkDeleted(j);
        return -1;
    }
    SetStartCluster(j, cluster);
    SetTime(j, now);
    SetAttr(j, kAttrDirectory);
    return j;
}

int DIDir::MoveTo(int i, DIDir& target, const std::string& newName) {
    if (!IsValidIndex(i) || IsFree(i)) return -1;
    int j;
    if (!newName.empty()) {
        // Under its new name: the slots (and alias) the name needs, then
        // everything the entry holds besides its name.
        j = target.AddNamed(newName);
        if (j < 0) return -1;
        target.TakeFieldsOf(j, Entry(i));
    } else {
        // Long-name slots travel with their entry; the 8.3 name stays unless
        // the target already holds it, when the entry gets a new alias there.
        std::optional<LongNameRun> run;
        if (!IsHuman68k() && !target.IsHuman68k()) run = FindLongNameRun(Entries.data(), Count, uint32_t(i));
        if (run) {
            uint8_t name11[11];
            std::memcpy(name11, Entry(i), 11);
            auto taken = target.ShortNameInUse(-1);
            if (taken(name11)) {
                auto plan = PlanStoredName(run->name, taken);
                if (!plan || plan->longName.empty()) return -1;
                std::memcpy(name11, plan->shortName, 11);
            }
            j = target.PlaceRun(-1, name11, run->name);
            if (j < 0) return -1;
            std::memcpy(target.Entry(j) + 11, Entry(i) + 11, 21);
        } else {
            j = target.AddEntry("MOVING");
            if (j < 0) return -1;
            std::memcpy(target.Entry(j), Entry(i), 32);
        }
    }
    // The target first: a stop after this write leaves the entry in both
    // folders, never in neither. Entries change places: who owns which
    // cluster is learnt afresh by the next delete.
    Image->ForgetOwners();
    if (!target.Write() || !Image->Flush()) {
        target.MarkDeleted(j);
        return -1;
    }
    auto takeBack = [&] {
        target.MarkDeleted(j);
        static_cast<void>(target.Write());  // on failure it stays in both, which the caller reports
    };
    return FinishMove(i, target, takeBack) ? j : -1;
}

DIDir::Replaced DIDir::MoveOnto(int i, DIDir& target, int t) {
    if (!IsValidIndex(i) || IsFree(i) || !target.IsValidIndex(t) || target.IsFree(t)) return Replaced::NotSwitched;
    if (&target == this && t == i) return Replaced::Done;
    uint8_t old[32];
    std::memcpy(old, target.Entry(t), 32);
    const uint32_t oldFirst = uint32_t(std::max<int64_t>(0, target.GetStartCluster(t)));
    const uint32_t newFirst = uint32_t(std::max<int64_t>(0, GetStartCluster(i)));
    const std::string name = target.GetNameUtf8(t);
    // The target's entry becomes the moved one, under the target's name;
    // its old chain stays allocated until the move stands.
    target.TakeFieldsOf(t, Entry(i));
    Image->ForgetOwners();
    if (!target.Write() || !Image->Flush()) {
        target.RestoreEntry(t, old);
        return Replaced::NotSwitched;
    }
    auto takeBack = [&] {
        target.RestoreEntry(t, old);
        static_cast<void>(target.Write());  // on failure it stays in both, which the caller reports
    };
    if (!FinishMove(i, target, takeBack)) return Replaced::NotSwitched;
    // Clusters that another entry still reaches (a damaged volume) stay.
    if (oldFirst >= 2 && oldFirst != newFirst && !FreeReplacedChain(*Image, target.FirstCluster, t, oldFirst, name))
        return Replaced::OldKept;
    return Replaced::Done;
}

void DIDir::TakeFieldsOf(int i, const uint8_t* from) {
    uint8_t* e = Entry(i);
    e[11] = from[11];
    // Human68k keeps the rest of its name in bytes 12..21, FAT the case of
    // its 8.3 name in byte 12: those stay with the name.
    const std::size_t first = IsHuman68k() ? 22 : 13;
    std::memmove(e + first, from + first, 32 - first);
}

bool DIDir::FinishMove(int i, DIDir& target, const std::function<void()>& takeBack) {
    std::unique_ptr<DIDir> moved;
    if (Entry(i)[11] & kAttrDirectory) {
        moved = std::make_unique<DIDir>(Image, uint32_t(GetStartCluster(i)));
        if (!moved->Load()) {
            takeBack();
            return false;
        }
        // Only a real ".." entry is pointed at the new parent.
        if (moved->IsDotEntry(1) && moved->GetDisplayName(1) == "..") {
            moved->SetStartCluster(1, target.GetCluster());
            if (!moved->Write() || !Image->Flush()) {
                takeBack();
                return false;
            }
        } else {
            moved.reset();
        }
    }
    std::vector<uint8_t> before = Entries;
    MarkDeleted(i);
    if (!Write()) {
        // Back the way it came, as far as the device lets it: "..", then
        // the target's copy of the entry.
        Entries.swap(before);
        if (moved) {
            moved->SetStartCluster(1, FirstCluster);
            if (!moved->Write() || !Image->Flush()) return false;
        }
        takeBack();
        return false;
    }
    return true;
}

// --- long names -------------------------------------------------------------

namespace {

bool IsAscii(const std::string& s) {
    for (char c : s)
        if (uint8_t(c) >= 0x80) return false;
    return true;
}

}  // namespace

bool DIDir::UsesLongNames() const { return Image && Image->LongNames && !IsHuman68k(); }

std::string DIDir::GetLongName(int i) const {
    if (!UsesLongNames() || !IsValidIndex(i)) return "";
    auto run = FindLongNameRun(Entries.data(), Count, uint32_t(i));
    return run ? Utf16ToUtf8(run->name) : "";
}

std::string DIDir::GetNameUtf8(int i) const {
    if (!IsValidIndex(i)) return "";
    std::string name = GetLongName(i);
    if (!name.empty()) return name;
    char buf[kMaxDisplayName];
    std::size_t n = DisplayNameInto(i, buf);
    const uint8_t* e = Entry(i);
    // Case bits, as other systems write them for names that are all lower
    // case in their base or extension.
    if (UsesLongNames() && e[0] != '.' && (e[12] & (kCaseLowerBase | kCaseLowerExt))) {
        bool inExt = false;
        for (std::size_t k = 0; k < n; ++k) {
            uint8_t c = uint8_t(buf[k]);
            if (IsSjisLeadByte(c)) {
                ++k;
                continue;
            }
            if (c == '.') inExt = true;
            bool lower = e[12] & (inExt ? kCaseLowerExt : kCaseLowerBase);
            if (lower && c >= 'A' && c <= 'Z') buf[k] = char(c + 32);
        }
    }
    name.assign(buf, n);
    return IsAscii(name) ? name : SjisToUtf8(name);
}

int DIDir::FindName(const std::string& name) const {
    if (name == "." || name == "..") return Find(name);
    if (!UsesLongNames()) return Find(Utf8ToSjis(name));
    if (!loaded_) return -1;
    std::u16string clean = CleanLongName(name);
    if (clean.empty()) return -1;
    const std::u16string wanted = FoldCase(clean);
    const uint32_t slots = LongNameSlotCount(wanted);
    // The wanted name as a stored 8.3 name, when it can be one: a Shift-JIS
    // form, a base of 1 to 8 bytes and an extension of up to 3, no spaces
    // and no other full stops. `exact` marks the bytes of double-byte
    // characters, which are compared without folding.
    const std::string cleanUtf8 = Utf16ToUtf8(clean);
    const std::string sjis = IsAscii(cleanUtf8) ? cleanUtf8 : Utf8ToSjis(cleanUtf8);
    bool shortPossible = IsAscii(cleanUtf8) || SjisToUtf8(sjis) == cleanUtf8;
    uint8_t stored[11];
    bool exact[11] = {};
    std::memset(stored, ' ', 11);
    if (shortPossible) {
        std::size_t dot = LastDot(sjis, 0);
        std::string base = sjis.substr(0, dot), ext = dot == std::string::npos ? "" : sjis.substr(dot + 1);
        shortPossible = !base.empty() && base.size() <= 8 && ext.size() <= 3;
        for (int part = 0; part < 2 && shortPossible; ++part) {
            const std::string& s = part ? ext : base;
            for (std::size_t k = 0; k < s.size(); ++k) {
                uint8_t c = uint8_t(s[k]);
                std::size_t at = (part ? 8 : 0) + k;
                if (IsSjisLeadByte(c) && k + 1 < s.size()) {
                    stored[at] = c;
                    stored[at + 1] = uint8_t(s[k + 1]);
                    exact[at] = exact[at + 1] = true;
                    ++k;
                    continue;
                }
                if (c == ' ' || c == '.') shortPossible = false;
                stored[at] = (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : c;
            }
        }
    }
    // Every entry that matches without regard to case; one that bears the
    // name exactly (its long name, its name as shown, or its 8.3 name) wins.
    std::vector<int> matches;
    for (uint32_t i = 0; i < Count; ++i) {
        const uint8_t* e = Entry(int(i));
        if (e[0] == 0 || e[0] == kDeletedMark) continue;
        if (e[11] == kAttrLongName) {
            // The first stored slot of a run as long as the wanted name's.
            if ((e[0] & kLongNameLastFlag) && uint32_t(e[0] & ~kLongNameLastFlag) == slots && i + slots < Count) {
                if (!LongNameTextMatches(Entries.data(), i, wanted)) continue;
                auto run = FindLongNameRun(Entries.data(), Count, i + slots);
                if (run && run->first == i) matches.push_back(int(i + slots));
            }
            continue;
        }
        if (!shortPossible || e[0] == '.' || IsLabelOrSlot(e)) continue;
        bool same = true;
        for (int k = 0; k < 11 && same; ++k) {
            uint8_t c = (k == 0 && e[0] == kStoredE5) ? kDeletedMark : e[k];
            if (!exact[k] && c >= 'a' && c <= 'z') c = uint8_t(c - 32);
            same = c == stored[k];
        }
        if (same && std::find(matches.begin(), matches.end(), int(i)) == matches.end()) matches.push_back(int(i));
    }
    if (matches.size() == 1) return matches.front();
    for (int i : matches)
        if (GetLongName(i) == cleanUtf8 || GetNameUtf8(i) == cleanUtf8 || SjisToUtf8(GetDisplayName(i)) == cleanUtf8)
            return i;
    if (!matches.empty()) return kAmbiguousName;
    // A name that begins with a full stop, as other systems store them.
    if (name.size() > 1 && name[0] == '.') return Find(Utf8ToSjis(name));
    return -1;
}

int DIDir::AddNamed(const std::string& name) {
    if (!loaded_) return -1;
    if (!UsesLongNames()) return AddEntry(Utf8ToSjis(name));
    auto plan = PlanStoredName(CleanLongName(name), ShortNameInUse(-1));
    if (!plan) return -1;
    return PlaceRun(-1, plan->shortName, plan->longName);
}

int DIDir::Rename(int i, const std::string& name) {
    if (!IsValidIndex(i) || IsFree(i) || Entry(i)[11] == kAttrLongName) return -1;
    if (!UsesLongNames()) {
        DropSlotsBefore(i, true);
        SetName(i, Utf8ToSjis(name));
        if (!IsHuman68k()) Entry(i)[12] = 0;
        return i;
    }
    auto plan = PlanStoredName(CleanLongName(name), ShortNameInUse(i));
    if (!plan) return -1;
    return PlaceRun(i, plan->shortName, plan->longName);
}

std::function<bool(const uint8_t*)> DIDir::ShortNameInUse(int except) const {
    struct State {
        bool walked = false;
        std::unordered_set<std::string> names;
    };
    auto state = std::make_shared<State>();
    return [this, except, state](const uint8_t* name11) {
        auto counts = [&](uint32_t i) {
            const uint8_t* e = Entry(int(i));
            return int(i) != except && e[0] != 0 && e[0] != kDeletedMark && !IsLabelOrSlot(e);
        };
        if (!state->walked) {
            state->walked = true;
            for (uint32_t i = 0; i < Count; ++i)
                if (counts(i) && std::memcmp(Entry(int(i)), name11, 11) == 0) return true;
            return false;
        }
        if (state->names.empty())
            for (uint32_t i = 0; i < Count; ++i)
                if (counts(i)) state->names.emplace(reinterpret_cast<const char*>(Entry(int(i))), 11);
        return state->names.count(std::string(reinterpret_cast<const char*>(name11), 11)) > 0;
    };
}

int DIDir::PlaceRun(int i, const uint8_t* name11, const std::u16string& longName) {
    if (!loaded_) return -1;
    const uint32_t n = LongNameSlotCount(longName);
    // Entry i's own slots count as free room: they go with its old name.
    const uint32_t own = i >= 0 ? OwnSlotsStart(Entries.data(), uint32_t(i)) : 0;
    auto roomAt = [&](uint32_t k) {
        if (i >= 0 && k >= own && k < uint32_t(i)) return true;
        uint8_t b = Entry(int(k))[0];
        return int(k) != i && (b == kDeletedMark || b == 0);
    };
    int at = -1;
    // In place: the room just before the entry holds the slots.
    if (i >= 0 && uint32_t(i) >= n) {
        bool fits = true;
        for (uint32_t k = uint32_t(i) - n; k < uint32_t(i) && fits; ++k) fits = roomAt(k);
        if (fits) at = i;
    }
    // Else the first gap of n + 1 free entries.
    for (uint32_t k = 0, gap = 0; at < 0 && k < Count; ++k) {
        gap = roomAt(k) ? gap + 1 : 0;
        if (gap == n + 1) at = int(k);
    }
    // Else after the last entry in use; the folder grows when needed.
    uint32_t newCount = Count;
    if (at < 0) {
        uint32_t start = Count;
        while (start > 0 && roomAt(start - 1)) --start;
        newCount = std::max(Count, start + n + 1);
        if (newCount > Count) {
            if (!Image->GrowDirEntries(Entries, FirstCluster, Count, newCount)) return -1;
            if (std::size_t(newCount) * 32 > Entries.size()) return -1;
        }
        at = int(start + n);
    }

    if (i >= 0)
        for (uint32_t k = own; k < uint32_t(i); ++k) Entry(int(k))[0] = kDeletedMark;
    if (newCount > Count) {
        // The run goes past the old end marker: whatever stood there is not
        // an entry, and the slot after the run becomes the end marker, so
        // that nothing stale behind it comes back.
        std::memset(Entry(int(Count)), 0, std::size_t(newCount - Count) * 32);
        Count = newCount;
        if (std::size_t(Count + 1) * 32 <= Entries.size()) std::memset(Entry(int(Count)), 0, 32);
    }
    if (i < 0) std::memset(Entry(at), 0, 32);
    else if (at != i) {
        std::memcpy(Entry(at), Entry(i), 32);
        Entry(i)[0] = kDeletedMark;
        Image->ForgetOwners();
        movedFirst_ = int64_t(at) - n;
        movedLast_ = at;
    }
    if (n > 0) BuildLongNameSlots(longName, name11, Entry(at - int(n)));
    std::memcpy(Entry(at), name11, 11);
    Entry(at)[12] = 0;
    return at;
}
