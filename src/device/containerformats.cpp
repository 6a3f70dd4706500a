#include "device/containerformats.h"

#include "device/asciicase.h"
#include "device/convert_floppy.h"
#include "device/harddiskformats.h"

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

}  // namespace

const std::vector<FloppyContainerFormat>& FloppyContainerFormats() {
    static const std::vector<FloppyContainerFormat> formats = {
        {"NFD", ".nfd", OpenNFD0, CreateNFD0},
        {"DIM", ".dim", OpenDIMDisk, CreateDIMDisk},
        {"D88", ".d88 .d77 .d68 .d98 .88d", OpenD88Disk, CreateD88Disk},
        {"FDI", ".fdi", OpenFDI, CreateFDI},
        // Known by its size alone: tried last.
        {"Plain", ".hdm .xdf .tfd .dup .2hd .img .ima .flp .dsk", OpenPlainFloppy, CreatePlainFloppy},
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
        {"NHD", ".nhd", ProbeNHD, NHDHeader},
        {"X68000 SCSI", ".hds .hda", ProbeX68000SCSI, NoHeader},
        {"HDI", ".hdi", ProbeHDI, HDIHeader},
        {"X68000 SASI", ".hdf", ProbeX68000SASI, NoHeader},
        {"THD", ".thd", ProbeTHD, THDHeader},
        // Anything else: tried last.
        {"Plain", ".img .hdd", ProbePlainHardDisk, NoHeader},
    };
    return formats;
}

const HardDiskContainerFormat* HardDiskContainerByExtension(const std::string& extension) {
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats())
        if (ListHolds(f.extensions, extension)) return &f;
    return nullptr;
}
