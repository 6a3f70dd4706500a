#include "volume/fatkind.h"

#include <cstring>

namespace {

// coding, bits, mask, reserved, bad, head bytes, closed and hard-error
// bits, closed byte and mask, boot label.
constexpr FATKindRow kFAT12Row{FATCoding::kPacked12, 12, 0xFFF, 0xFF0, 0xFF7, 3, 0, 0, 0, 43};
constexpr FATKindRow kFAT16Row{FATCoding::kLittle16, 16, 0xFFFF, 0xFFF0, 0xFFF7, 4, 0xC000, 3, 0x80, 43};
// Human68k keeps no marks in the FAT and no label in its boot record.
constexpr FATKindRow kHuman68kFAT16Row{FATCoding::kBig16, 16, 0xFFFF, 0xFFF0, 0xFFF7, 4, 0, 0, 0, 0};
constexpr FATKindRow kFAT32Row{FATCoding::kLittle32, 32, 0x0FFFFFFF, 0x0FFFFFF0, 0x0FFFFFF7, 3, 0x0C000000, 7, 0x08, 71};

}  // namespace

const FATKindRow& FATKindOf(uint32_t fatType, uint32_t fileSystem) {
    switch (fatType) {
        case kFAT12: return kFAT12Row;
        case kFAT16: return fileSystem == kFileSystemHuman68k ? kHuman68kFAT16Row : kFAT16Row;
        default: return kFAT32Row;
    }
}

void FATKindRow::Head(uint8_t media, const uint8_t* now, uint8_t* out) const {
    std::memset(out, 0xFF, headBytes);
    out[0] = media;
    if (now && markBits != 0 && End(1) <= headBytes) {
        uint8_t* second = out + Offset(1);
        Put(second, 1, (Value(second, 1) & ~markBits) | (Get(now, 1) & markBits));
    }
}
