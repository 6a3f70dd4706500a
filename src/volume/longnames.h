#pragma once
// Long-name slots of FAT directories: 32-byte entries of attribute 0x0F
// that stand, in reverse order, just before the 8.3 entry they belong to.
// Each holds 13 UTF-16 characters, its sequence number (0x40 marks the
// last, i.e. first stored, slot) and the checksum of the 8.3 name.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kLongNameLastFlag = 0x40;
constexpr unsigned kLongNameCharsPerSlot = 13;
// A long name holds at most 255 UTF-16 units, so a run has at most 20 slots.
constexpr unsigned kLongNameMaxChars = 255;
constexpr unsigned kLongNameMaxSlots = 20;
// Byte 12 of an 8.3 entry: the base or the extension is shown in lower case.
constexpr uint8_t kCaseLowerBase = 0x08;
constexpr uint8_t kCaseLowerExt = 0x10;

// The checksum of an 11-byte 8.3 name as stored in the directory entry,
// which every long-name slot of that entry repeats at byte 13.
inline uint8_t LongNameChecksum(const uint8_t* name11) {
    uint8_t sum = 0;
    for (int k = 0; k < 11; ++k) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + name11[k]);
    return sum;
}

// UTF-8 <-> UTF-16. A byte that does not start a valid UTF-8 sequence
// becomes "_"; a lone surrogate becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);

// Upper-cases the letters that have a simple upper-case form (ASCII, Latin-1,
// Greek, Cyrillic, full-width Latin), for comparing names without regard to case.
std::u16string FoldCase(const std::u16string& s);

// Whether the text of the slots from `firstSlot` (the first stored slot of a
// run) on equals `folded` (a FoldCase result) without regard to case. Only
// the text is compared; FindLongNameRun tells whether the run is sound.
bool LongNameTextMatches(const uint8_t* entries, uint32_t firstSlot, const std::u16string& folded);

// Orders two UTF-8 names without regard to case (as FoldCase), then by
// their bytes: negative, zero or positive.
int CompareNamesIgnoringCase(const std::string& a, const std::string& b);

// The run of slots that belongs to the 8.3 entry at index i of a directory
// held as `count` entries of 32 bytes: `first` is the index of its first
// stored slot (i itself when there is none) and `name` the text. A run is
// taken only when its sequence numbers count down to 1 towards the entry,
// it starts with the last-slot mark, every slot carries the entry's checksum
// and the text is ended where it should be; otherwise the entry has no long name.
struct LongNameRun {
    uint32_t first = 0;
    std::u16string name;
};
std::optional<LongNameRun> FindLongNameRun(const uint8_t* entries, uint32_t count, uint32_t i);

// The first index of the slots just before entry i whose checksum matches
// its 8.3 name, whatever their order: what goes with the entry when it is
// deleted, renamed or moved. i itself when there are none.
uint32_t OwnSlotsStart(const uint8_t* entries, uint32_t i);

// A name as it can be stored as a long name: characters a FAT name cannot
// hold (control characters and \ / : * ? " < > |) become "_", trailing
// spaces and full stops go. Empty when nothing is left, or when more than
// 255 UTF-16 units are (a name is never cut).
std::u16string CleanLongName(const std::string& utf8);

// How a new name is stored: the 8.3 name (11 bytes, Shift-JIS) and, when
// the name is not a plain upper-case 8.3 name, the long name for the slots.
struct StoredName {
    uint8_t shortName[11];
    std::u16string longName;  // empty: no slots
};

// Works out how a (cleaned, non-empty) long name is stored. `taken` tells
// whether an 8.3 name is already used in the folder. A name that is a valid
// upper-case 8.3 name is stored as such (no slots). Any other name gets
// slots and an alias: the name itself in upper case when it fits 8.3 without
// any character lost and is free, else the first valid characters, "~" and
// the lowest free number (up to six characters before "~1", fewer as the
// number grows; a Shift-JIS double-byte character is never split). Nothing
// when no free alias exists, or when a plain 8.3 name is already taken.
std::optional<StoredName> PlanStoredName(const std::u16string& name,
                                         const std::function<bool(const uint8_t* name11)>& taken);

// Number of slots a long name takes.
inline unsigned LongNameSlotCount(const std::u16string& name) {
    return unsigned((name.size() + kLongNameCharsPerSlot - 1) / kLongNameCharsPerSlot);
}

// Fills `out` (LongNameSlotCount × 32 bytes) with the slots of `name` for
// the 8.3 name `name11`, in the order they are stored.
void BuildLongNameSlots(const std::u16string& name, const uint8_t* name11, uint8_t* out);
