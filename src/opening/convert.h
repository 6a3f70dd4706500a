#pragma once
// Converting an image from one container to another: a floppy track by
// track with its sector IDs and marks, a hard disk as its whole dump under
// another header. The source is known by its content, the target's
// container by its extension. What the target cannot hold is never lost
// silently: the conversion is refused with one reason per thing, unless
// the caller allows losses, and then the reasons list what was dropped.
//
// The target is written under a temporary name beside it, flushed, and
// renamed only once complete; a refusal or a failure leaves no file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/containerformats.h"
#include "device/messages.h"

class DeviceIOIF;

struct ConvertRequest {
    std::string target;
    std::optional<std::size_t> disk;  // 1-based: one disk of a file of several (D88)
    bool lossy = false;               // convert even where the target drops something
    bool replace = false;             // an existing target is replaced without asking
    // The container, where the extension stands for several (.nfd: NFD or
    // NFD r1): a kind as ContainerNamed takes it; empty: the extension's first.
    std::string container;
};

enum class ConvertStatus {
    kDone,     // written (with `reasons` listing what was dropped, when lossy)
    kRefused,  // nothing written; `reasons` say why
    kFailed,   // a read or write failed (reported)
    kKept,     // the target exists and was not to be replaced
};

struct ConvertResult {
    ConvertStatus status = ConvertStatus::kFailed;
    std::string sourceKind, targetKind;  // "D88", "Plain", ...
    std::string geometry;                // the disk's layout, as `info` shows it
    std::vector<std::string> reasons;    // one line each, from the catalogue
    bool losses = false;                 // the reasons are what the target drops (--lossy would go on)
};

// Reports the bytes of the source read so far, of `total`; false stops the
// conversion (nothing is written).
using ConvertProgress = std::function<bool(uint64_t done, uint64_t total)>;

// The container a name's extension asks for: a floppy and a hard-disk
// container may share an extension (.img); `floppy` says which is meant.
// `container`, when given, picks one of the containers of that extension.
const FloppyContainerFormat* FloppyTargetFor(const std::string& path, const std::string& container = "");
const HardDiskContainerFormat* HardDiskTargetFor(const std::string& path, const std::string& container = "");
// The containers an extension stands for, as --container takes them
// ("nfd nfd-r1"); empty when none.
std::string ContainerWordsFor(const std::string& extension);
// Every extension convert takes, as "ext ext ..." text.
std::string ConvertExtensions();

// Converts the image of `size` bytes behind `source` (not taken over) into
// `request.target`. Asks 1740 before replacing an existing target (unless
// `request.replace`).
[[nodiscard]] ConvertResult ConvertImage(DeviceIOIF* source, uint64_t size, const ConvertRequest& request,
                                         const ConvertProgress& progress = {});

// The same, opening `sourcePath` for reading.
[[nodiscard]] ConvertResult ConvertImageFile(const std::string& sourcePath, const ConvertRequest& request,
                                             const ConvertProgress& progress = {});

// A floppy container's source over `file`: the first row of the table that
// knows it; `kind` receives the row's kind.
std::unique_ptr<FloppyTrackSource> OpenFloppySource(DeviceIOIF* file, uint64_t size, std::size_t disk,
                                                    std::string* kind = nullptr);

// The words of one loss for a target of `targetKind`.
std::string FloppyLossText(const FloppyLoss& loss, const std::string& targetKind);

// File > Convert image: asks the front end where to save a copy of the
// open image (`file`, `size` bytes, `disk` the disk shown of a file of
// several) and converts it; what the target cannot hold is shown
// (UserInterface::ConfirmConversionLosses) and dropped only when the user
// says so. The new file's path, or nothing when nothing was written.
std::optional<std::string> RunConvertImage(DeviceIOIF* file, uint64_t size, std::optional<std::size_t> disk);
