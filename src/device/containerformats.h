#pragma once
// A floppy disk as its tracks hold it: every sector with the ID field the
// controller reads (C, H, R, N), its marks and its data, track by track.
// Containers that keep sector IDs are read into this form and written from
// it, so that a disk goes from one container to another without losing on
// the way anything the source holds and the target can keep, and whatever
// the target cannot keep is known, sector by sector, before it is lost.
//
// Tracks are numbered cylinder * heads + head. A source hands them out one
// at a time and a sink takes them in that order, so at most a track is held
// in memory at once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "device/containerdevice.h"
#include "device/deviceio.h"

struct FloppySector {
    uint8_t c = 0, h = 0, r = 0, n = 0;  // the ID field as recorded
    bool mfm = true;                     // double density; false: single density (FM)
    bool deleted = false;                // deleted-data address mark
    bool crcError = false;               // the sector was read with an error (status non-zero)
    // The result of reading the sector, as D88 records it (NFD's status
    // bytes are turned into it): 0 normal, 0xA0 CRC error in the ID, 0xB0
    // CRC error in the data, 0xE0 no address mark, 0xF0 no data mark.
    uint8_t status = 0;
    std::vector<uint8_t> data;           // normally 128 << n bytes; a container may hold fewer or more
};

struct FloppyTrack {
    uint32_t cylinder = 0, head = 0;      // where the track lies (the IDs may say otherwise)
    std::vector<FloppySector> sectors;   // in the order the container stores them; empty: no track
};

// The kind of disk, as the containers' header fields name it (D88 media
// byte, NFD/FDI type, DIM type).
enum class FloppyMedia {
    kUnknown,
    k2D,     // 40 cylinders, double density, 5.25" 320/360 KB
    k2DD,    // 80 cylinders, 640/720 KB
    k2HD,    // 77 cylinders × 2 × 8 × 1024: the PC-98 / X68000 1.2 MB disk
    k2HC,    // 80 × 2 × 15 × 512: 1.2 MB, 300 rpm
    k2HQ,    // 80 × 2 × 18 × 512: 1.44 MB
    k2HS,    // 80 × 2 × 9 × 1024
    k1D,     // single-sided, 40 cylinders
    k1DD,    // single-sided, 80 cylinders
};

// What a container says of the whole disk besides its tracks.
struct FloppyDiskInfo {
    std::string name;             // the disk's name or comment as stored (D88 name, NFD comment); may be empty
    bool writeProtected = false;  // the container marks the disk write-protected
    FloppyMedia media = FloppyMedia::kUnknown;
    uint32_t cylinders = 0, heads = 0;  // tracks the disk has room for
    // The layout most of its tracks have (sectors 1..S of one size, IDs
    // matching their place; a sink reports each track that differs), or
    // all zeros when the disk holds no sector at all.
    ContainerGeometry geometry;
};

// One thing a target cannot keep of its source: where it is and what it is.
// The front ends word it through the catalogue.
struct FloppyLoss {
    enum Kind {
        kSectorSize,      // a sector of another size than its track's (detail: its bytes, other: the track's)
        kDeletedMark,     // a deleted-data mark
        kDuplicateId,     // the same C/H/R twice on a track
        kCrcError,        // a sector read with a CRC error
        kMissingSector,   // a sector the regular layout has and the source lacks (r: its number)
        // More sectors than the target's track holds: r 0, detail the track's
        // sectors, other the most it holds; or one sector numbered beyond the
        // layout's (r its number, other the layout's sectors).
        kLongTrack,
        kSingleDensity,   // an FM track where the target keeps only MFM
        kForeignId,       // IDs that differ from the sector's place (C/H/R/N), which the target does not keep
        // A disk shape the target cannot describe (the whole disk): cylinder,
        // head, r and detail carry the layout's cylinders, heads, sectors, bytes.
        kGeometry,
        kHeaderField,     // a header field the target has no place for (name, write-protect)
        kMissingTrack,    // a track the layout has and the source lacks (the target would hold zeros)
        kDataLength,      // data of another length than the ID's N says (detail: bytes, other: 128 << N)
        kTooManyTracks,   // a track beyond the last one the target has room for
    };
    Kind kind;
    uint32_t cylinder = 0, head = 0, r = 0;
    uint64_t detail = 0, other = 0;
};

// NFD keeps a read's result as the uPD765 gave it: status, ST0, ST1, ST2
// (`result`, 4 bytes). These turn it into FloppySector::status and back.
uint8_t StatusOfResult(const uint8_t* result);
void ResultOfStatus(uint8_t status, uint8_t* result);

class FloppyTrackSource {
public:
    virtual ~FloppyTrackSource() = default;
    virtual const FloppyDiskInfo& Info() const = 0;
    // The track at cylinder c, head h; a track the container lacks comes back
    // with no sectors. False when the container cannot be read (reported).
    [[nodiscard]] virtual bool ReadTrack(uint32_t c, uint32_t h, FloppyTrack& out) = 0;
};

// Writes a new container into `file` (a fresh, empty file, written at any
// offset). Begin, then every track in order, then Finish. A sink adds to
// `losses` what it could not keep of the disk or of a track and writes the
// rest as well as it can; the caller decides whether the file is kept.
class FloppyTrackSink {
public:
    virtual ~FloppyTrackSink() = default;
    [[nodiscard]] virtual bool Begin(const FloppyDiskInfo& info, std::vector<FloppyLoss>& losses) = 0;
    [[nodiscard]] virtual bool WriteTrack(const FloppyTrack& track, std::vector<FloppyLoss>& losses) = 0;
    [[nodiscard]] virtual bool Finish() = 0;
};

// A floppy container the program reads and writes.
struct FloppyContainerFormat {
    const char* kind;        // what `info` names it: "D88", "NFD", "DIM", "FDI", "Plain", ...
    const char* extensions;  // ".d88 .d77 .d68 .d98 .88d": the first is the one `new` and `convert` prefer
    // A track source over `file` (`size` bytes) when the file is this
    // container, else nullptr. For containers of several disks, `disk`
    // (0-based) picks one. The source does not own `file`.
    std::unique_ptr<FloppyTrackSource> (*open)(DeviceIOIF* file, uint64_t size, std::size_t disk);
    // A sink that writes this container into `file`; does not own it.
    std::unique_ptr<FloppyTrackSink> (*create)(DeviceIOIF* file);
};

// True when `word` is one of the space-separated words of `list`, any case.
bool WordListHolds(const char* list, const std::string& word);

// Every floppy container, in the order detection tries them.
const std::vector<FloppyContainerFormat>& FloppyContainerFormats();
// The container whose extensions hold `extension` (".hdm", any case), or nullptr.
const FloppyContainerFormat* FloppyContainerByExtension(const std::string& extension);
// True when `word` names the container `kind`: any case, with spaces and
// dashes left out ("nfd-r1", "NFD r1", "nfdr1").
bool ContainerNamed(const char* kind, const std::string& word);
// A container's kind as --container takes it: "NFD r1" is "nfd-r1".
std::string ContainerWord(const char* kind);

// A hard-disk container: a header (none for a plain dump) before a plain
// dump of the whole disk, sector after sector.
struct HardDiskLayout {
    uint64_t dataOffset = 0;  // where the dump begins: the header's size
    uint64_t dataBytes = 0;   // the dump's length
    uint32_t sectorSize = 0, sectors = 0, heads = 0, cylinders = 0;  // 0 where the container keeps none
};

struct HardDiskContainerFormat {
    const char* kind;        // "HDI", "NHD", "THD", "Plain", ...
    const char* extensions;  // the first is the one `new` and `convert` prefer
    // The layout of a file of `size` bytes whose first bytes are `head`
    // (`headBytes` of them), when it is this container; else nothing.
    std::optional<HardDiskLayout> (*probe)(const uint8_t* head, std::size_t headBytes, uint64_t size);
    // The header for a disk of `disk`'s geometry and length, setting its
    // dataOffset; nothing when this container cannot describe that disk.
    // nullptr: the program reads this container but does not write it.
    std::optional<std::vector<uint8_t>> (*header)(HardDiskLayout& disk);
};

// Every hard-disk container, in the order detection tries them.
const std::vector<HardDiskContainerFormat>& HardDiskContainerFormats();
const HardDiskContainerFormat* HardDiskContainerByExtension(const std::string& extension);
