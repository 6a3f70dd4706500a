#include "device/containerformats.h"

#include "device/asciicase.h"

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
    };
    return formats;
}

const HardDiskContainerFormat* HardDiskContainerByExtension(const std::string& extension) {
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats())
        if (ListHolds(f.extensions, extension)) return &f;
    return nullptr;
}
