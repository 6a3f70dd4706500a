#include "device/containerformats.h"

#include "device/asciicase.h"
#include "device/floppycontainers.h"

namespace {

// True when `extension` is one of the words of `list` (".a .b"), any case.
bool ListHolds(const char* list, const std::string& extension) {
    std::string word;
    for (const char* p = list;; ++p) {
        if (*p == ' ' || *p == '\0') {
            if (!word.empty() && EqualIgnoringAsciiCase(word, extension)) return true;
            word.clear();
            if (*p == '\0') return false;
        } else {
            word += *p;
        }
    }
}

template <std::optional<StoredDisk> (*Read)(DeviceIOIF*, uint64_t)>
std::unique_ptr<FloppyTrackSource> OpenStored(DeviceIOIF* file, uint64_t size, std::size_t disk) {
    if (disk != 0) return nullptr;
    std::optional<StoredDisk> stored = Read(file, size);
    if (!stored) return nullptr;
    return StoredTrackSource(file, std::move(*stored));
}

}  // namespace

const std::vector<FloppyContainerFormat>& FloppyContainerFormats() {
    static const std::vector<FloppyContainerFormat> formats = {
        {kNFD1Kind, ".nfd", OpenStored<ReadNFD1>, NFD1Sink},
        {kIMDKind, ".imd", OpenStored<ReadIMD>, IMDSink},
        {kFDDKind, ".fdd", OpenStored<ReadFDD>, FDDSink},
        {kHFEKind, ".hfe", OpenStored<ReadHFE>, HFESink},
        // No signature: taken only for a file named .dcp or .dcu.
        {kDCPKind, ".dcp .dcu", OpenStored<ReadDCP>, DCPSink},
    };
    return formats;
}

const FloppyContainerFormat* FloppyContainerByExtension(const std::string& extension) {
    for (const FloppyContainerFormat& f : FloppyContainerFormats())
        if (ListHolds(f.extensions, extension)) return &f;
    return nullptr;
}

const std::vector<HardDiskContainerFormat>& HardDiskContainerFormats() {
    static const std::vector<HardDiskContainerFormat> formats = {
        {"Virtual98 HDD", ".hdd", ProbeVHD, VHDHeader},
        {"SLH", ".slh", ProbeSLH, nullptr},
    };
    return formats;
}

const HardDiskContainerFormat* HardDiskContainerByExtension(const std::string& extension) {
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats())
        if (ListHolds(f.extensions, extension)) return &f;
    return nullptr;
}
