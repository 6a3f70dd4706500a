#pragma once
// How each kind of FAT stores its entries, in one row per kind: FAT12
// (pairs of entries packed in three bytes, also on X68000 floppies), FAT16,
// Human68k's FAT16 (the same entries, big-endian) and FAT32 (28-bit values
// in 32-bit words, the top four bits reserved). The engine, the check, the
// repair and the formatter read and write entries only through these rows.
//
// Entry functions take `at`, the table's bytes from the entry's first byte
// (Offset(c)) on, so that a caller holding only a part of the table can use
// them too; the entry's number c tells a FAT12 entry which half of its two
// bytes it has. (Their byte loads are spelled out here rather than taken
// from device/byteorder.h, which the engine's header does not pull in.)

#include <cstddef>
#include <cstdint>

#include "volume/volumeparams.h"

enum class FATCoding : uint8_t { kPacked12, kLittle16, kBig16, kLittle32 };

struct FATKindRow {
    FATCoding coding;
    uint32_t bits;      // bits an entry takes in the table: 12, 16 or 32
    uint32_t mask;      // the bits of an entry's value (FAT32: the low 28)
    uint32_t reserved;  // the first reserved value; cluster numbers stop below it
    uint32_t bad;       // the bad-cluster mark; values above it end a chain
    // Bytes at the head of the table that hold the media byte and then
    // 0xFF (FAT32: the first entry's three, the fourth's top half-byte
    // being reserved).
    uint32_t headBytes;
    // The bits of the second entry that say the volume was closed cleanly
    // and met no hard error (0: the kind keeps none), and the byte of the
    // table that holds the closed bit, with its mask.
    uint32_t markBits;
    uint32_t closedAt;
    uint8_t closedMask;
    // Where the boot sector's extended parameter block holds the label (0:
    // the kind's boot record has none).
    uint32_t bootLabelAt;

    // The first byte of entry c, and the byte after its last one.
    uint64_t Offset(uint32_t c) const {
        switch (coding) {
            case FATCoding::kPacked12: return uint64_t(c) * 3 / 2;
            case FATCoding::kLittle16:
            case FATCoding::kBig16: return uint64_t(c) * 2;
            default: return uint64_t(c) * 4;
        }
    }
    uint64_t End(uint32_t c) const { return Offset(c) + (coding == FATCoding::kLittle32 ? 4 : 2); }

    // The entry's bits as stored, FAT32's reserved top bits included.
    uint32_t Stored(const uint8_t* at, uint32_t c) const {
        switch (coding) {
            case FATCoding::kPacked12: return Load12(at, c);
            case FATCoding::kLittle16: return Load16(at);
            case FATCoding::kBig16: return Load16BE(at);
            default: return Load32(at);
        }
    }
    // The same for entry c of a whole table, in one step (the engine's
    // inner loops).
    uint32_t StoredIn(const uint8_t* table, uint32_t c) const {
        switch (coding) {
            case FATCoding::kPacked12: return Load12(table + std::size_t(c) * 3 / 2, c);
            case FATCoding::kLittle16: return Load16(table + std::size_t(c) * 2);
            case FATCoding::kBig16: return Load16BE(table + std::size_t(c) * 2);
            default: return Load32(table + std::size_t(c) * 4);
        }
    }
    // The entry's value.
    uint32_t Value(const uint8_t* at, uint32_t c) const { return Stored(at, c) & mask; }
    // Stores the value's masked bits; the bits of the bytes that are not
    // the entry's (a FAT12 neighbour's half, FAT32's top four) stay.
    void Put(uint8_t* at, uint32_t c, uint32_t value) const {
        value &= mask;
        switch (coding) {
            case FATCoding::kPacked12: {
                uint32_t pair = at[0] | at[1] << 8;
                pair = (c & 1) ? (pair & 0x000F) | value << 4 : (pair & 0xF000) | value;
                at[0] = uint8_t(pair);
                at[1] = uint8_t(pair >> 8);
                break;
            }
            case FATCoding::kLittle16:
                at[0] = uint8_t(value);
                at[1] = uint8_t(value >> 8);
                break;
            case FATCoding::kBig16:
                at[0] = uint8_t(value >> 8);
                at[1] = uint8_t(value);
                break;
            default:
                value |= Load32(at) & ~mask;
                for (int k = 0; k < 4; ++k) at[k] = uint8_t(value >> (8 * k));
                break;
        }
    }
    // Whether the bytes that hold an entry hold bits of something else too.
    bool SharesBytes() const { return coding == FATCoding::kPacked12 || coding == FATCoding::kLittle32; }

    // Entry c of a whole table.
    uint32_t Get(const uint8_t* table, uint32_t c) const { return StoredIn(table, c) & mask; }

    // For a value as stored: ends a chain, marks a bad cluster.
    bool IsEnd(uint32_t stored) const { return stored > bad; }
    bool IsBad(uint32_t stored) const { return stored == bad; }
    // The end mark written.
    uint32_t EndMark() const { return mask; }

    // The head of a sound table (headBytes bytes into `out`): the media
    // byte, then 0xFF, the closed and hard-error bits taken from `now`
    // where the kind keeps them in the head (all set without `now`).
    void Head(uint8_t media, const uint8_t* now, uint8_t* out) const;

private:
    static uint32_t Load12(const uint8_t* at, uint32_t c) {
        uint32_t pair = at[0] | at[1] << 8;
        return (c & 1) ? pair >> 4 : pair & 0xFFF;
    }
    static uint32_t Load16(const uint8_t* at) { return uint32_t(at[0] | at[1] << 8); }
    static uint32_t Load16BE(const uint8_t* at) { return uint32_t(at[0] << 8 | at[1]); }
    static uint32_t Load32(const uint8_t* at) { return at[0] | at[1] << 8 | at[2] << 16 | uint32_t(at[3]) << 24; }
};

// The row for a FAT kind on a file system (Human68k's FAT16 is the
// big-endian one); an unknown kind gets FAT32's.
const FATKindRow& FATKindOf(uint32_t fatType, uint32_t fileSystem);
inline const FATKindRow& FATKindOf(const VolumeLayout& layout) {
    return FATKindOf(layout.FATType, layout.FileSystem);
}
