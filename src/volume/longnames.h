#pragma once
// Long-name slots of FAT directories: 32-byte entries of attribute 0x0F
// that stand, in reverse order, just before the 8.3 entry they belong to.
// Each holds 13 UTF-16 characters, its sequence number (0x40 marks the
// last, i.e. first stored, slot) and the checksum of the 8.3 name.

#include <cstdint>

constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kLongNameLastFlag = 0x40;
constexpr unsigned kLongNameCharsPerSlot = 13;

// The checksum of an 11-byte 8.3 name as stored in the directory entry,
// which every long-name slot of that entry repeats at byte 13.
inline uint8_t LongNameChecksum(const uint8_t* name11) {
    uint8_t sum = 0;
    for (int k = 0; k < 11; ++k) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + name11[k]);
    return sum;
}
