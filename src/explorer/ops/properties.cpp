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

OpResult SetVolumeLabel(DiskImage& image, const std::string& text) {
    const bool human = image.FileSystem == kFileSystemHuman68k;
    std::optional<std::string> stored;
    if (!text.empty()) {
        stored = LabelStoredForm(text, human);
        if (!stored) {
            OpResult r(OpStatus::kBadName);
            r.rule = NameProblem::kCharacters;
            return r;
        }
    }
    DIDir root(&image, 0);
    if (!root.Load()) return OpStatus::kIoError;
    int i = FindLabelEntry(root);
    if (!stored && i < 0) return {};
    if (stored && i < 0 && (i = root.AddEntry("LABEL")) < 0) return OpStatus::kNoRoom;
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
    if (OpResult w = WriteFolder(root); !w.Ok()) return w;
    if (!human) {
        // The boot sector's copy, where the extended parameter block has one.
        uint8_t boot[512];
        const uint32_t at = image.Kind().bootLabelAt;
        bool ok = image.Device()->Read(image.DiskStart, boot, sizeof boot);
        if (ok && boot[at - 5] == 0x29) {
            const char* field = stored ? stored->c_str() : "NO NAME    ";
            ok = image.Device()->Write(image.DiskStart + at, field, 11) && image.Flush();
        }
        if (!ok) return OpResult::IoFailure(OpResult::Io::kBootSector);
    }
    return {};
}

bool WriteVolumeLabel(DiskImage& image, const std::string& text) {
    OpResult r = SetVolumeLabel(image, text);
    switch (r.status) {
        case OpStatus::kOk: return true;
        case OpStatus::kBadName:
            ShowMessage(1750, text);
            ShowMessage(2150);
            return false;
        case OpStatus::kIoError:
            if (r.io == OpResult::Io::kFolder) ShowMessage(107, "/");
            else if (r.io == OpResult::Io::kFlush) ShowMessage(1213, image.Device()->GetPath());
            else if (r.io == OpResult::Io::kBootSector) ShowMessage(1755);
            return false;
        default: return false;
    }
}

OpResult SetAttributesIn(DIDir& dir, int i, uint8_t set, uint8_t clear) {
    const uint8_t* e = dir.RawEntry(i);
    if (!e) return OpStatus::kNotFound;
    if (IsLabel(e)) return OpStatus::kRefused;
    const uint8_t attr = uint8_t((e[11] | (set & kChangeableAttrs)) & ~(clear & kChangeableAttrs));
    return dir.SetAttr(i, attr) ? OpResult() : OpResult(OpStatus::kNotFound);
}

bool ChangeAttributes(DIDir& dir, int i, uint8_t set, uint8_t clear) {
    OpResult r = SetAttributesIn(dir, i, set, clear);
    if (r.status == OpStatus::kRefused) ShowMessage(1751, dir.GetNameUtf8(i));
    return r.Ok();
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
