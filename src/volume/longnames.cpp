#include "volume/longnames.h"

#include <cstring>
#include <vector>

#include "device/byteorder.h"
#include "device/sjis.h"

namespace {

// Positions of the 13 UTF-16 characters inside a slot.
constexpr int kCharOffsets[kLongNameCharsPerSlot] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

bool IsSlot(const uint8_t* e) { return e[11] == kAttrLongName && e[0] != 0xE5 && e[0] != 0; }

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 character at s[i]; advances i. An invalid byte gives
// "_" and advances by one.
uint32_t NextCodePoint(const std::string& s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return uint8_t(s[k]); };
    uint8_t c = byte(i);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + std::size_t(len) > s.size()) {
        ++i;
        return '_';
    }
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) {
        if ((byte(i + std::size_t(k)) & 0xC0) != 0x80) {
            ++i;
            return '_';
        }
        cp = (cp << 6) | (byte(i + std::size_t(k)) & 0x3F);
    }
    static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return '_';
    }
    i += std::size_t(len);
    return cp;
}

bool IsForbiddenInLongName(char16_t c) { return c < 0x20 || (c < 0x80 && std::strchr("\\/:*?\"<>|", int(c)) != nullptr); }

// Characters a long name may hold but an 8.3 name may not.
bool IsForbiddenInShortName(uint8_t c) {
    return c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|+,;=[] .", c) != nullptr;
}

// One character of an 8.3 name: one or two Shift-JIS bytes.
using ShortChar = std::string;

// The 8.3 form of one character of a long name, upper-cased; `lossy` is
// set when it had to become "_".
ShortChar ShortCharOf(uint32_t cp, bool& lossy) {
    if (cp >= 'a' && cp <= 'z') cp -= 32;
    if (cp < 0x80) {
        if (IsForbiddenInShortName(uint8_t(cp))) {
            lossy = true;
            return "_";
        }
        return std::string(1, char(cp));
    }
    std::string utf8;
    AppendUtf8(utf8, cp);
    std::string sjis = Utf8ToSjis(utf8);
    bool single = sjis.size() == 1 && !IsSjisLeadByte(uint8_t(sjis[0]));
    bool pair = sjis.size() == 2 && IsSjisLeadByte(uint8_t(sjis[0]));
    // One byte that an 8.3 name cannot hold (the yen sign is stored as the
    // backslash's byte), no Shift-JIS form at all, or a double-byte
    // character whose second byte reads as "\\" or "|" (表 is 95 5C), which
    // checkers of the volume take for a bad name: "_" in the alias; the long
    // name keeps the character.
    if ((!single && !pair) || (single && (uint8_t(sjis[0]) < 0x80 || IsForbiddenInShortName(uint8_t(sjis[0])))) ||
        (pair && (sjis[1] == '\\' || sjis[1] == '|'))) {
        lossy = true;
        return "_";
    }
    return sjis;
}

std::size_t ByteLength(const std::vector<ShortChar>& chars) {
    std::size_t n = 0;
    for (const auto& c : chars) n += c.size();
    return n;
}

// Writes base and extension, each cut to what fits without splitting a
// character, into an 11-byte name padded with spaces.
void Compose(const std::vector<ShortChar>& base, std::size_t baseLimit, const std::string& tail,
             const std::vector<ShortChar>& ext, uint8_t* name11) {
    std::memset(name11, ' ', 11);
    std::size_t n = 0;
    for (const auto& c : base) {
        if (n + c.size() > baseLimit) break;
        std::memcpy(name11 + n, c.data(), c.size());
        n += c.size();
    }
    std::memcpy(name11 + n, tail.data(), tail.size());
    n = 0;
    for (const auto& c : ext) {
        if (n + c.size() > 3) break;
        std::memcpy(name11 + 8 + n, c.data(), c.size());
        n += c.size();
    }
    // A first byte 0xE5 would read as a deleted entry.
    if (name11[0] == 0xE5) name11[0] = 0x05;
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        uint32_t cp = NextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(s[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

namespace {

inline char16_t FoldChar(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
    {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
            (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
            c = char16_t(c - 0x20);
        else if (c == 0x3C2)  // final sigma
            c = 0x3A3;
        else if (c >= 0x450 && c <= 0x45F)
            c = char16_t(c - 0x50);
        else if (c >= 0x3AC && c <= 0x3CE) {
            // Greek letters with tonos: ά έ ή ί ό ύ ώ and the rest of the block.
            static const char16_t map[][2] = {{0x3AC, 0x386}, {0x3AD, 0x388}, {0x3AE, 0x389}, {0x3AF, 0x38A},
                                              {0x3CC, 0x38C}, {0x3CD, 0x38E}, {0x3CE, 0x38F}, {0x3CA, 0x3AA},
                                              {0x3CB, 0x3AB}};
            for (const auto& m : map)
                if (c == m[0]) c = m[1];
        }
    }
    return c;
}

}  // namespace

std::u16string FoldCase(const std::u16string& s) {
    std::u16string out = s;
    for (char16_t& c : out) c = FoldChar(c);
    return out;
}

bool LongNameTextMatches(const uint8_t* entries, uint32_t firstSlot, const std::u16string& folded) {
    const unsigned n = entries[std::size_t(firstSlot) * 32] & ~kLongNameLastFlag;
    for (unsigned seq = 1; seq <= n; ++seq) {
        const uint8_t* s = entries + std::size_t(firstSlot + n - seq) * 32;
        for (unsigned k = 0; k < kLongNameCharsPerSlot; ++k) {
            std::size_t at = std::size_t(seq - 1) * kLongNameCharsPerSlot + k;
            char16_t c = char16_t(LE16(s + kCharOffsets[k]));
            if (at == folded.size()) return c == 0;
            if (at > folded.size() || FoldChar(c) != folded[at]) return false;
        }
    }
    return std::size_t(n) * kLongNameCharsPerSlot == folded.size();
}

int CompareNamesIgnoringCase(const std::string& a, const std::string& b) {
    std::u16string x = FoldCase(Utf8ToUtf16(a)), y = FoldCase(Utf8ToUtf16(b));
    if (x != y) return x < y ? -1 : 1;
    return a < b ? -1 : a > b ? 1 : 0;
}

std::optional<LongNameRun> FindLongNameRun(const uint8_t* entries, uint32_t count, uint32_t i) {
    if (i >= count) return std::nullopt;
    const uint8_t* e = entries + std::size_t(i) * 32;
    if (e[0] == 0 || e[0] == 0xE5 || e[0] == '.' || e[11] == kAttrLongName || (e[11] & 0x08)) return std::nullopt;
    const uint8_t sum = LongNameChecksum(e);
    std::u16string name;
    bool ended = false;
    for (uint32_t k = 1; k <= kLongNameMaxSlots && k <= i; ++k) {
        const uint8_t* s = entries + std::size_t(i - k) * 32;
        if (!IsSlot(s) || (s[0] & ~kLongNameLastFlag) != k || s[13] != sum || s[12] != 0 || LE16(s + 26) != 0)
            return std::nullopt;
        // A slot after the one that ended the text would hold nothing.
        if (ended) return std::nullopt;
        for (int off : kCharOffsets) {
            char16_t c = char16_t(LE16(s + off));
            if (ended) {
                if (c != 0xFFFF && c != 0) return std::nullopt;
                continue;
            }
            if (c == 0) ended = true;
            else name += c;
        }
        if (s[0] & kLongNameLastFlag) {
            if (name.empty() || name.size() > kLongNameMaxChars) return std::nullopt;
            return LongNameRun{i - k, name};
        }
    }
    return std::nullopt;
}

uint32_t OwnSlotsStart(const uint8_t* entries, uint32_t i) {
    const uint8_t* e = entries + std::size_t(i) * 32;
    if (e[11] == kAttrLongName) return i;
    const uint8_t sum = LongNameChecksum(e);
    uint32_t first = i;
    while (first > 0) {
        const uint8_t* s = entries + std::size_t(first - 1) * 32;
        if (!IsSlot(s) || s[13] != sum) break;
        --first;
    }
    return first;
}

std::u16string CleanLongName(const std::string& utf8) {
    std::u16string name = Utf8ToUtf16(utf8);
    for (char16_t& c : name)
        if (IsForbiddenInLongName(c)) c = u'_';
    while (!name.empty() && (name.back() == u' ' || name.back() == u'.')) name.pop_back();
    // A name is never cut: one that does not fit is no name.
    if (name.size() > kLongNameMaxChars) name.clear();
    return name;
}

std::optional<StoredName> PlanStoredName(const std::u16string& name,
                                         const std::function<bool(const uint8_t* name11)>& taken) {
    if (name.empty()) return std::nullopt;
    const std::string utf8 = Utf16ToUtf8(name);
    // Code points of the name, and where the extension starts (after the
    // last full stop that is not leading).
    std::vector<uint32_t> cps;
    for (std::size_t i = 0; i < utf8.size();) cps.push_back(NextCodePoint(utf8, i));
    std::size_t lead = 0;
    while (lead < cps.size() && cps[lead] == '.') ++lead;
    std::size_t dot = cps.size();
    for (std::size_t k = cps.size(); k > lead; --k)
        if (cps[k - 1] == '.') {
            dot = k - 1;
            break;
        }

    bool lossy = false, lower = false, plain = lead == 0;
    int dots = 0;
    std::vector<ShortChar> base, ext;
    for (std::size_t k = lead; k < cps.size(); ++k) {
        uint32_t cp = cps[k];
        if (cp == '.') ++dots;
        if (cp == ' ' || cp == '.') {
            // Spaces and full stops have no place in an 8.3 name; dropping
            // them loses nothing that the alias would need to tell.
            if (cp == ' ') plain = false;
            continue;
        }
        if (cp >= 'a' && cp <= 'z') lower = true;
        bool charLost = false;
        ShortChar c = ShortCharOf(cp, charLost);
        if (charLost) lossy = true;
        (k < dot ? base : ext).push_back(c);
    }
    if (dots > 1) plain = false;
    if (base.empty()) {
        // A name of only an extension (".profile") keeps its letters as the base.
        base.swap(ext);
        plain = false;
    }
    if (base.empty()) return std::nullopt;
    if (ByteLength(base) > 8 || ByteLength(ext) > 3) plain = false;

    StoredName out{};
    if (plain && !lossy) {
        Compose(base, 8, "", ext, out.shortName);
        if (!lower) {
            if (taken(out.shortName)) return std::nullopt;
            return out;
        }
        out.longName = name;
        if (!taken(out.shortName)) return out;
    }
    out.longName = name;
    for (uint32_t n = 1; n <= 999999; ++n) {
        std::string tail = "~" + std::to_string(n);
        Compose(base, 8 - tail.size(), tail, ext, out.shortName);
        if (!taken(out.shortName)) return out;
    }
    return std::nullopt;
}

void BuildLongNameSlots(const std::u16string& name, const uint8_t* name11, uint8_t* out) {
    const unsigned n = LongNameSlotCount(name);
    const uint8_t sum = LongNameChecksum(name11);
    for (unsigned seq = 1; seq <= n; ++seq) {
        uint8_t* s = out + std::size_t(n - seq) * 32;
        std::memset(s, 0, 32);
        s[0] = uint8_t(seq | (seq == n ? kLongNameLastFlag : 0));
        s[11] = kAttrLongName;
        s[13] = sum;
        for (unsigned k = 0; k < kLongNameCharsPerSlot; ++k) {
            std::size_t at = std::size_t(seq - 1) * kLongNameCharsPerSlot + k;
            uint16_t c = at < name.size() ? uint16_t(name[at]) : at == name.size() ? 0 : 0xFFFF;
            PutLE16(s + kCharOffsets[k], c);
        }
    }
}
