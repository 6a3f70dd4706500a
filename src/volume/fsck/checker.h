#pragma once
// A read-only consistency check of a mounted FAT12/16/32 or Human68k
// volume: the FAT copies, every cluster chain, every folder and every name
// reachable from the root. It never writes and never shows a message; what
// it finds comes back as a list of findings: a kind, the places the repair
// needs, and a catalogue message with its inserts, shown in the user's
// language.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "device/language.h"
#include "device/messages.h"
#include "volume/diskimage.h"

enum class CheckKind {
    FatCopies,      // a FAT copy differs from the first
    FatCopyBehind,  // a FAT copy differs on chains in use, but each copy
                    // alone describes a sound volume (a write stopped
                    // between the copies)
    ChainLoop,      // a chain comes back to one of its own clusters
    ChainFree,      // a chain runs into a free entry
    ChainBad,       // a chain runs into a cluster marked bad
    ChainReserved,  // a chain runs into a reserved value
    ChainBeyond,    // a chain (or a first cluster) points outside the volume
    CrossLink,      // a cluster claimed by two chains
    InTwoFolders,   // one entry (same first cluster) in two folders
    SizeMismatch,   // a chain whose length does not fit the entry's size
    DotEntries,     // a folder without correct "." and ".." entries
    DuplicateName,  // two entries of one folder with the same name
    InvalidName,    // blank, lower case on FAT, bytes a name cannot hold
    OrphanLongName, // long-name slots that belong to no following entry
    LostClusters,   // allocated clusters that no entry reaches
    Unreadable,     // storage the device could not read
    Truncated,      // the volume reaches beyond the end of its image or device
    MediaByte,      // the first two FAT entries are not the media byte and end marks
    NotClosed,      // FAT16/32: the volume is marked not cleanly closed
    LabelsDiffer,   // the root folder's label and the boot sector's differ
    LabelEntry,     // an entry with the volume bit that is no label: outside
                    // the root, with a size or a chain, or a second one
    LongNameSlot,   // a long-name slot with a first cluster or a type byte
    AfterEnd,       // entries after a folder's end mark
};
constexpr std::size_t kCheckKinds = 23;
constexpr uint32_t kNoSlot = UINT32_MAX;

// The kind's short name as the command line prints it ("cross-link", ...).
const char* CheckKindName(CheckKind kind);

struct CheckFinding {
    CheckKind kind;
    unsigned message = 0;  // the catalogue message that tells the finding
    MsgArgs inserts;       // its inserts (paths in UTF-8)
    std::string text;      // the message in the current language, one line
    // Where, for the repair. The entry: the first cluster of the folder that
    // holds it (0 for the root) and its slot there (kNoSlot: no entry). For
    // chains, `cluster` is the cluster whose FAT entry ends or relinks the
    // chain (0: the entry's own first cluster) and `at` the cluster the
    // fault starts at. A second entry (in-two-folders, cross-link) in
    // `folder2`/`slot2`.
    uint32_t folder = 0, slot = kNoSlot, cluster = 0, at = 0;
    uint32_t folder2 = 0, slot2 = kNoSlot;
    bool isFolder = false;  // the entry is a folder
    bool longName = false;  // a name finding about the entry's long name
    bool fromCopies = false;  // lost clusters found by comparing the FAT copies
};

struct CheckResult {
    // False when the volume could not be checked as a whole (its FAT or its
    // root folder could not be read).
    bool complete = true;
    // The findings in the order found. A badly damaged volume can give one
    // per entry: only the first few thousand are kept, `counts` counts all.
    std::vector<CheckFinding> findings;
    uint32_t counts[kCheckKinds] = {};
    uint32_t lostClusters = 0;
    uint32_t lostChains = 0;
    uint32_t folders = 0;
    uint32_t files = 0;
    // The lost clusters themselves (allocated, reached by no entry).
    std::vector<uint32_t> lost;

    bool Clean() const { return OnlyKinds({}); }
    // Complete, and nothing found but lost clusters.
    bool OnlyLostClusters() const { return OnlyKinds({CheckKind::LostClusters}); }
    // Complete, and nothing found but what a write stopped at any point may
    // leave: lost clusters, FAT copies a step apart and the mark of a
    // volume in use.
    bool OnlyInterrupted() const {
        return OnlyKinds({CheckKind::LostClusters, CheckKind::FatCopyBehind, CheckKind::NotClosed});
    }
    // Complete, and every finding of one of the given kinds.
    bool OnlyKinds(std::initializer_list<CheckKind> kinds) const;
    std::size_t Count(CheckKind kind) const;
    // Every finding as "kind: text", one a line.
    std::string Report() const;
};

CheckResult CheckVolume(DiskImage& image);

// A finding's text in one language (the command line's JSON keeps English).
std::string FindingText(const CheckFinding& finding, Language language);
// A catalogue message in one language; "?" when it cannot be formatted.
std::string MessageIn(Language language, unsigned id, const MsgArgs& args);

// An 8.3 (or Human68k) entry's name as stored: base, "." and extension.
std::string EntryStoredName(const uint8_t* entry, bool human68k);
// The name as two entries of one folder are compared (ASCII case folded).
std::string EntryNameKey(const uint8_t* entry, bool human68k);
// Why the entry's name cannot stand: a catalogue message whose second
// insert is `byte` (its first the entry's path), or 0 when it can.
unsigned EntryNameFault(const uint8_t* entry, bool human68k, std::string* byte = nullptr);
// The media byte the boot record gives, when it describes the volume's
// layout; -1 otherwise.
int VolumeMediaByte(DiskImage& image);
// The check of the chains and folders as FAT copy `table` describes them
// (the copies are not compared).
CheckResult CheckVolumeWithFat(DiskImage& image, const std::vector<uint8_t>& table);
