#pragma once
// New blank images: a disk FORMAT (a floppy or a hard disk of one system)
// in a container named by the image's extension, with an empty volume.
// Hard disks get their system's partition table with one partition that
// fills the disk. Nothing of a boot program is written.
//
// The image is written under a temporary name beside its path and takes
// that name only once it is complete and on the disk: a stop leaves either
// the old file or the new one, never a part.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/messages.h"

struct NewDiskFormat {
    const char* name;         // "2hd", "pc98-hd", ...
    bool hardDisk;
    const char* description;  // as the window lists it (Greek; see WindowText)
};
// Every format, in the order lists show them.
const std::vector<NewDiskFormat>& NewDiskFormats();

struct NewContainer {
    const char* kind;        // what `info` names it: "D88", "HDI", "Plain", ...
    const char* extensions;  // ".d88 .d77 ..."
};

// The outcome of planning an image; the message ids say why it failed.
enum class NewImageStatus {
    kOk,
    kUnknownFormat,   // 1746: the formats
    kNoContainer,     // 1747: the extensions
    kDoesNotFit,      // 1744: the extensions that fit
    kSizeNeeded,      // 1745
    kSizeNotTaken,    // 1749: floppies have one size
    kSizeOutOfRange,  // 1742 (a range) or 1743 (fixed sizes)
    kBadLabel,        // 1750
};

struct NewImageRequest {
    std::string path, format;
    std::optional<uint64_t> size;  // bytes, hard disks only
    std::string label;             // UTF-8; empty: none
    // One of the containers of the path's extension (.nfd: "nfd" or
    // "nfd-r1"), as ContainerNamed takes it; empty: the extension's first.
    std::string container;
};

struct NewImagePlan {
    NewImageStatus status = NewImageStatus::kOk;
    std::string container;    // kind
    std::string geometry;     // as `info` shows it
    std::string message;      // the reason, from the catalogue, when status is not kOk
    unsigned messageId = 0;   // and its message and inserts
    MsgArgs messageArgs;
    uint64_t fileBytes = 0;
    // What is written; every other byte of the file is zero.
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> pieces;
};

// "40M", "2G", "1440K", "512" (bytes): binary multiples. Nothing for bad text.
std::optional<uint64_t> ParseDiskSize(const std::string& text);

// The containers a format goes in, as "ext ext ..." text.
std::string ExtensionsFor(const std::string& format);
// The formats' names, as "a b c" text.
std::string FormatNames();

// Works out the image: layout, table, volume. Shows nothing.
NewImagePlan PlanNewImage(const NewImageRequest& request);

// Writes a planned image: asks 1740 when the path exists (unless `replace`),
// reports 1741 when it cannot be written. True when the image is complete.
[[nodiscard]] bool WriteNewImage(const std::string& path, const NewImagePlan& plan, bool replace);

// File > New image: asks the front end (UserInterface::AskNewImage) until
// its answers make an image, which is then written; an existing file is
// replaced only when the user says so. The new image's path, or nothing
// when the user cancelled.
std::optional<std::string> RunNewImage();
