#include "device/containerformats.h"

#include "device/asciicase.h"
#include "device/convert_floppy.h"
#include "device/floppycontainers.h"
#include "device/harddiskformats.h"

namespace {

template <std::optional<StoredDisk> (*Read)(DeviceIOIF*, uint64_t)>
std::unique_ptr<FloppyTrackSource> OpenStored(DeviceIOIF* file, uint64_t size, std::size_t disk) {
    if (disk != 0) return nullptr;
    std::optional<StoredDisk> stored = Read(file, size);
    if (!stored) return nullptr;
    return StoredTrackSource(file, std::move(*stored));
}

}  // namespace

bool WordListHolds(const char* list, const std::string& word) {
    std::string at;
    for (const char* p = list;; ++p) {
        if (*p == ' ' || *p == '\0') {
            if (!at.empty() && EqualIgnoringAsciiCase(at, word)) return true;
            at.clear();
            if (*p == '\0') return false;
        } else {
            at += *p;
        }
    }
}

uint8_t StatusOfResult(const uint8_t* e) {
    // DE in ST1 is a CRC error, DD in ST2 says it was in the data; MA in ST1
    // no address mark, MD in ST2 no data mark.
    if (e[2] & 0x20) return (e[3] & 0x20) ? 0xB0 : 0xA0;
    if (e[2] & 0x01) return 0xE0;
    if (e[3] & 0x01) return 0xF0;
    return 0;
}

void ResultOfStatus(uint8_t status, uint8_t* e) {
    e[0] = e[1] = e[2] = e[3] = 0;
    if (!status) return;
    e[0] = 0x40;  // abnormal termination
    e[1] = 0x40;
    e[2] = status == 0xE0 ? 0x01 : status == 0xF0 ? 0x00 : 0x20;
    e[3] = status == 0xB0 ? 0x20 : status == 0xF0 ? 0x01 : 0x00;
}

const std::vector<FloppyContainerFormat>& FloppyContainerFormats() {
    static const std::vector<FloppyContainerFormat> formats = {
        {"NFD", ".nfd", OpenNFD0, CreateNFD0},
        {kNFD1Kind, ".nfd", OpenStored<ReadNFD1>, NFD1Sink},
        {"DIM", ".dim", OpenDIMDisk, CreateDIMDisk},
        {"D88", ".d88 .d77 .d68 .d98 .88d", OpenD88Disk, CreateD88Disk},
        {"FDI", ".fdi", OpenFDI, CreateFDI},
        {kIMDKind, ".imd", OpenStored<ReadIMD>, IMDSink},
        {kFDDKind, ".fdd", OpenStored<ReadFDD>, FDDSink},
        {kHFEKind, ".hfe", OpenStored<ReadHFE>, HFESink},
        // No signature: taken only for a file named .dcp or .dcu.
        {kDCPKind, ".dcp .dcu", OpenStored<ReadDCP>, DCPSink},
        // Known by its size alone: tried last.
        {"Plain", ".hdm .xdf .tfd .dup .2hd .img .ima .flp .dsk", OpenPlainFloppy, CreatePlainFloppy},
    };
    return formats;
}

const FloppyContainerFormat* FloppyContainerByExtension(const std::string& extension) {
    for (const FloppyContainerFormat& f : FloppyContainerFormats())
        if (WordListHolds(f.extensions, extension)) return &f;
    return nullptr;
}

bool ContainerNamed(const char* kind, const std::string& word) {
    auto squeeze = [](const std::string& text) {
        std::string out;
        for (char c : text)
            if (c != ' ' && c != '-' && c != '_') out += c;
        return out;
    };
    return !word.empty() && EqualIgnoringAsciiCase(squeeze(kind), squeeze(word));
}

std::string ContainerWord(const char* kind) {
    std::string word;
    for (const char* p = kind; *p; ++p) word += *p == ' ' ? '-' : (*p >= 'A' && *p <= 'Z') ? char(*p - 'A' + 'a') : *p;
    return word;
}

const std::vector<HardDiskContainerFormat>& HardDiskContainerFormats() {
    static const std::vector<HardDiskContainerFormat> formats = {
        {"NHD", ".nhd", ProbeNHD, NHDHeader},
        {"X68000 SCSI", ".hds .hda", ProbeX68000SCSI, NoHeader},
        {"HDI", ".hdi", ProbeHDI, HDIHeader},
        {"X68000 SASI", ".hdf", ProbeX68000SASI, NoHeader},
        {"THD", ".thd", ProbeTHD, THDHeader},
        {"Virtual98 HDD", ".hdd", ProbeVHD, VHDHeader},
        {"SLH", ".slh", ProbeSLH, SLHHeader},
        // Anything else: tried last.
        {"Plain", ".img", ProbePlainHardDisk, NoHeader},
    };
    return formats;
}

const HardDiskContainerFormat* HardDiskContainerByExtension(const std::string& extension) {
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats())
        if (WordListHolds(f.extensions, extension)) return &f;
    return nullptr;
}
