#pragma once
// Shift-JIS helpers shared by the whole program. Names on disk are
// Shift-JIS (code page 932); a lead byte forms one character with the byte
// after it wherever names and paths are scanned.

#include <cstdint>
#include <string>

// True for a Shift-JIS lead byte: it forms one character with the next byte.
inline bool IsSjisLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF); }

// Shift-JIS (CP932) bytes to UTF-8, and UTF-8 to Shift-JIS. A sequence or
// character with no counterpart becomes "_".
std::string SjisToUtf8(const std::string& sjis);
std::string Utf8ToSjis(const std::string& utf8);
