#include "volume/didir.h"
#include "device/byteorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "device/asciicase.h"

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
    localtime_r(&when, &tm);
    SystemTime t;
    t.wYear = uint16_t(tm.tm_year + 1900);
    t.wMonth = uint16_t(tm.tm_mon + 1);
    t.wDay = uint16_t(tm.tm_mday);
    t.wHour = uint16_t(tm.tm_hour);
    t.wMinute = uint16_t(tm.tm_min);
    t.wSecond = uint16_t(tm.tm_sec);
    return t;
}

void PackDosTime(const SystemTime& t, uint16_t& date, uint16_t& time) {
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

bool DIDir::Load() {
    Clear();
    if (!Image) return false;
    uint32_t count = 0;
    auto entries = Image->ReadDirEntries(FirstCluster, count);
    if (!entries) return false;
    Entries = std::move(*entries);
    Count = count;
    loaded_ = true;
    return true;
}

bool DIDir::Write() {
    if (!loaded_) return false;
    return Image->WriteDirEntries(Entries, FirstCluster);
}

void DIDir::Clear() {
    Entries.clear();
    Entries.shrink_to_fit();
    Count = 0;
    loaded_ = false;
}

const uint8_t* DIDir::RawEntry(int i) const { return IsValidIndex(i) ? Entry(i) : nullptr; }

int DIDir::Find(const std::string& name) const {
    if (!loaded_) return -1;
    std::string wanted = (name == "." || name == "..") ? name : ToDiskName(name);
    // A wanted name that begins with 0xE5 would also match deleted entries,
    // which show that byte in front; those are passed over for it.
    bool skipDeleted = !wanted.empty() && uint8_t(wanted[0]) == kDeletedMark;
    char buf[kMaxDisplayName];
    for (uint32_t i = 0; i < Count; ++i) {
        if (skipDeleted && Entry(int(i))[0] == kDeletedMark) continue;
        std::size_t n = DisplayNameInto(int(i), buf);
        if (n == wanted.size() && EqualIgnoringAsciiCase(std::string_view(buf, n), wanted)) return int(i);
    }
    return -1;
}

bool DIDir::IsFree(int i) const {
    if (!IsValidIndex(i)) return true;
    return Entry(i)[0] == kDeletedMark || Entry(i)[0] == 0;
}

std::size_t DIDir::DisplayNameInto(int i, char* out) const {
    const uint8_t* e = Entry(i);
    if (e[0] == '.') {
        out[0] = out[1] = '.';
        return e[1] == '.' ? 2 : 1;
    }
    if (e[0] == 0) return 0;
    std::size_t n = 0;
    for (int k = 0; k < 8 && e[k] != ' '; ++k) out[n++] = char(e[k]);
    // A name whose first byte is 0xE5 (a Shift-JIS lead byte) is stored
    // with 0x05 in its place, so that it does not read as deleted.
    if (e[0] == kStoredE5) out[0] = char(kDeletedMark);
    if (IsHuman68k() && e[7] != ' ')
        for (int k = 12; k < 22 && e[k] != 0; ++k) out[n++] = char(e[k]);
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

bool DIDir::Delete(int i) {
    std::vector<uint32_t> open{FirstCluster};
    return DeleteAt(i, open);
}

bool DIDir::DeleteAt(int i, std::vector<uint32_t>& open) {
    if (!IsValidIndex(i)) return false;
    uint8_t* e = Entry(i);
    if (e[0] == 0 || e[0] == kDeletedMark || e[0] == '.' || (e[11] & kAttrVolume)) return false;
    uint32_t start = uint32_t(GetStartCluster(i));
    if (e[11] & kAttrDirectory) {
        // A folder whose first cluster is the root (0) or one of the folders
        // being deleted around it refers back in a loop: its entry goes, but
        // nothing is followed through it.
        bool loops = start < 2 || std::find(open.begin(), open.end(), start) != open.end();
        if (!loops) {
            DIDir sub(Image, start);
            if (sub.Load()) {
                open.push_back(start);
                sub.DeleteAllAt(open);
                open.pop_back();
            }
            Image->FreeChain(start);
        }
    } else if (GetSize(i) != 0 && start != 0) {
        Image->FreeChain(start);
    }
    e[0] = kDeletedMark;
    return true;
}

bool DIDir::DeleteAll() {
    std::vector<uint32_t> open{FirstCluster};
    return DeleteAllAt(open);
}

bool DIDir::DeleteAllAt(std::vector<uint32_t>& open) {
    for (uint32_t i = 0; i < Count; ++i) {
        std::string name = GetDisplayName(int(i));
        if (name.empty()) break;
        if (name[0] == '.' || uint8_t(name[0]) == kDeletedMark) continue;
        if (GetAttr(int(i)) & kAttrVolume) continue;
        DeleteAt(int(i), open);
    }
    return true;
}

bool DIDir::Release(int i) {
    if (!IsValidIndex(i)) return false;
    Entry(i)[0] = kDeletedMark;
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
    }
    std::memset(Entry(slot), 0, 32);
    SetName(slot, name);
    return slot;
}

int DIDir::MakeDir(const std::string& name) {
    int j = AddEntry(name);
    if (j < 0) return -1;
    auto chain = Image->AllocateChain(1);
    if (!chain) {
        Release(j);
        return -1;
    }
    uint32_t cluster = chain->front();
    SystemTime now = LocalTimeNow();
    SetStartCluster(j, cluster);
    SetTime(j, now);
    SetAttr(j, kAttrDirectory);

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
    // A folder whose first cluster could not be written would show what the
    // cluster held before; it is taken back instead.
    if (!Image->WriteCluster(cluster, block.data())) {
        Image->FreeChain(cluster);
        Release(j);
        return -1;
    }
    return j;
}

int DIDir::MoveTo(int i, DIDir& target) {
    if (!IsValidIndex(i)) return -1;
    int j = target.AddEntry("MOVING");
    if (j < 0) return -1;
    std::memcpy(target.Entry(j), Entry(i), 32);
    if (Entry(i)[11] & kAttrDirectory) {
        DIDir moved(Image, uint32_t(GetStartCluster(i)));
        if (!moved.Load() || moved.Count < 2) {
            target.Release(j);
            return -1;
        }
        moved.SetStartCluster(1, target.GetCluster());
        if (!moved.Write()) {
            target.Release(j);
            return -1;
        }
    }
    Entry(i)[0] = kDeletedMark;
    return j;
}
