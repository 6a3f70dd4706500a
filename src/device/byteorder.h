#pragma once
// Little- and big-endian loads and stores on byte buffers: the one place
// the program spells out byte order (FAT and PC-9801 structures are
// little-endian, Human68k and X68000 ones big-endian).

#include <cstdint>

inline uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
inline uint64_t LE64(const uint8_t* p) { return LE32(p) | uint64_t(LE32(p + 4)) << 32; }
inline uint16_t BE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

inline void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}
inline void PutLE64(uint8_t* p, uint64_t v) {
    for (int k = 0; k < 8; ++k) p[k] = uint8_t(v >> (8 * k));
}
inline void PutBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (24 - 8 * k));
}
