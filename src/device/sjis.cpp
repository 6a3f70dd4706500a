// Shift-JIS (CP932) <-> UTF-8 through iconv.
#include "device/sjis.h"

#include <cerrno>
#include <iconv.h>

namespace {

// Converts with iconv, replacing every input that cannot be converted with
// "_" and going on after it (one byte of input, or one UTF-8 character).
std::string Convert(const char* to, const char* from, const std::string& in, bool utf8Input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return in;
    std::string out;
    std::string buf(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buf.data();
        std::size_t dstLeft = buf.size();
        std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf.data(), dst);
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: skip the offending character.
        std::size_t skip = 1;
        if (utf8Input) {
            unsigned char c = static_cast<unsigned char>(*src);
            skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (skip > srcLeft) skip = srcLeft;
        }
        out += '_';
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::string SjisToUtf8(const std::string& sjis) { return Convert("UTF-8", "CP932", sjis, false); }

std::string Utf8ToSjis(const std::string& utf8) { return Convert("CP932", "UTF-8", utf8, true); }
