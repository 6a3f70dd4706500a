#include "explorer/ops/properties.h"

#include <cstring>

#include "device/byteorder.h"
#include "device/messages.h"
#include "explorer/ops/folderops.h"
#include "volume/formatter.h"

namespace {

constexpr uint8_t kLongNameAttr = 0x0F;

bool IsLabel(const uint8_t* e) {
    return e[0] != 0 && e[0] != kDeletedMark && (e[11] & kLongNameAttr) != kLongNameAttr && (e[11] & kAttrVolume);
}

}  // namespace

int FindLabelEntry(const DIDir& root) {
    for (uint32_t i = 0; i < root.GetCount(); ++i) {
        const uint8_t* e = root.RawEntry(int(i));
        if (!e || e[0] == 0) break;
        if (IsLabel(e)) return int(i);
    }
    return -1;
}

std::optional<std::string> ReadVolumeLabel(DiskImage& image) {
    DIDir root(&image, 0);
    if (!root.Load()) return std::nullopt;
    int i = FindLabelEntry(root);
    if (i < 0) return std::string();
    return SjisToUtf8(root.GetDisplayName(i));
}

bool WriteVolumeLabel(DiskImage& image, const std::string& text) {
    const bool human = image.FileSystem == kFileSystemHuman68k;
    std::optional<std::string> stored;
    if (!text.empty()) {
        stored = LabelStoredForm(text, human);
        if (!stored) {
            ShowMessage(1750, text);
            ShowMessage(2150);
            return false;
        }
    }
    DIDir root(&image, 0);
    if (!root.Load()) return false;
    int i = FindLabelEntry(root);
    if (!stored && i < 0) return true;
    if (stored && i < 0 && (i = root.AddEntry("LABEL")) < 0) return false;
    uint8_t e[32];
    std::memcpy(e, root.RawEntry(i), 32);
    if (stored) {
        std::memset(e, 0, 32);
        std::memcpy(e, stored->data(), 11);
        e[11] = kAttrVolume;
        uint16_t date, time;
        PackDosTime(LocalTimeNow(), date, time);
        PutLE16(e + 22, time);
        PutLE16(e + 24, date);
    } else {
        e[0] = kDeletedMark;
    }
    root.RestoreEntry(i, e);
    if (!WriteAndFlush(root, "/")) return false;
    if (!human) {
        // The boot sector's copy, where the extended parameter block has one.
        uint8_t boot[512];
        const uint32_t at = image.FATType == kFAT32 ? 71 : 43;
        bool ok = image.Device()->Read(image.DiskStart, boot, sizeof boot);
        if (ok && boot[at - 5] == 0x29) {
            const char* field = stored ? stored->c_str() : "NO NAME    ";
            ok = image.Device()->Write(image.DiskStart + at, field, 11) && image.Flush();
        }
        if (!ok) {
            ShowMessage(1755);
            return false;
        }
    }
    return true;
}

bool ChangeAttributes(DIDir& dir, int i, uint8_t set, uint8_t clear) {
    const uint8_t* e = dir.RawEntry(i);
    if (!e) return false;
    uint8_t attr = e[11];
    if (IsLabel(e)) {
        ShowMessage(1751, dir.GetNameUtf8(i));
        return false;
    }
    attr = uint8_t((attr | (set & kChangeableAttrs)) & ~(clear & kChangeableAttrs));
    return dir.SetAttr(i, attr);
}

std::string AttributeLetters(uint8_t attr) {
    std::string s = "----";
    if (attr & kAttrReadOnly) s[0] = 'R';
    if (attr & kAttrHidden) s[1] = 'H';
    if (attr & kAttrSystem) s[2] = 'S';
    if (attr & kAttrArchive) s[3] = 'A';
    return s;
}

bool RunProperties(DIDir& dir, int i) {
    DiskImage& image = *dir.GetImage();
    EntryProperties p;
    p.readOnly = image.IsReadOnly();
    if (i < 0) {
        if (dir.GetCluster() != 0) return false;
        auto label = ReadVolumeLabel(image);
        if (!label) return false;
        p.root = true;
        p.label = p.name = *label;
    } else {
        const uint8_t* e = dir.RawEntry(i);
        if (!e || IsLabel(e)) return false;
        p.name = dir.GetNameUtf8(i);
        p.attributes = e[11] & kChangeableAttrs;
        p.folder = e[11] & kAttrDirectory;
    }
    const EntryProperties before = p;
    if (!UI().ShowProperties(p) || p.readOnly) return false;
    if (p.root) return p.label != before.label && WriteVolumeLabel(image, p.label);
    if (p.attributes == before.attributes) return false;
    return ChangeAttributes(dir, i, p.attributes, uint8_t(~p.attributes)) && WriteAndFlush(dir, p.name);
}
