#pragma once
// The volume label and the attributes of entries: what the Properties
// window and the label and attrib commands show and change.
//
// The label stands in the root folder as an entry of attribute 0x08 (the
// one DOS and other systems show) and, on FAT, in the boot sector's label
// field; a change writes the entry first, then the field.

#include <cstdint>
#include <optional>
#include <string>

#include "explorer/ops/opresult.h"
#include "volume/didir.h"

// The index of the root folder's label entry, or -1.
int FindLabelEntry(const DIDir& root);

// The label as the root entry holds it (UTF-8, trailing spaces cut), ""
// when there is none; nothing when the root cannot be read.
std::optional<std::string> ReadVolumeLabel(DiskImage& image);

// Sets the label to `text`, or removes it when `text` is empty, telling
// nothing: the root entry first, then the boot sector's field. kBadName
// for a text the label's rules refuse, kNoRoom (a full root),
// kIoError (Io::kOther: the root could not be read; kFolder, kFlush: the
// entry; kBootSector: the boot sector's field).
[[nodiscard]] OpResult SetVolumeLabel(DiskImage& image, const std::string& text);

// Sets the label to `text` (the entry's name rules: 11 bytes, upper case on
// FAT, Shift-JIS allowed; 1750 when it breaks them), or removes it when
// `text` is empty.
[[nodiscard]] bool WriteVolumeLabel(DiskImage& image, const std::string& text);

// The read-only, hidden, system and archive bits an attribute change may
// set or clear.
constexpr uint8_t kChangeableAttrs = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;

// Sets the bits of `set` and clears those of `clear` on entry i (in memory;
// the caller writes the folder), telling nothing: kNotFound, kRefused for
// the label. A folder keeps its folder bit.
OpResult SetAttributesIn(DIDir& dir, int i, uint8_t set, uint8_t clear);

// SetAttributesIn, telling a refused label (1751).
bool ChangeAttributes(DIDir& dir, int i, uint8_t set, uint8_t clear);

// "RHSA" letters of the bits set, "-" for the others: "R--A".
std::string AttributeLetters(uint8_t attr);

// Edit > Properties: entry i of `dir`, or the volume label when i is -1
// and `dir` is the root, shown through UserInterface::ShowProperties; the
// changes the user makes are written. True when something was written.
bool RunProperties(DIDir& dir, int i);
