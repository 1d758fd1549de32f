#include "names/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace dorvane {
namespace {

/// The GBK superset glibc knows; it decodes every GBK byte pair and the euro sign.
constexpr const char* kGbkCharset = "GB18030";
constexpr const char* kUtf8Charset = "UTF-8";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle Open(const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    return IconvHandle(cd);
}

// Converts `in`; with `lossy` an invalid input byte is replaced and skipped,
// otherwise the conversion fails.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in,
                                   bool lossy) {
    IconvHandle cd = Open(to, from);
    if (!cd) return std::nullopt;
    std::string out;
    out.reserve(in.size() * 3 / 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t r = iconv(static_cast<iconv_t>(cd.get()), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            if (!lossy) return std::nullopt;
            // EILSEQ or EINVAL (truncated sequence at the end): skip one byte.
            out.append(kReplacement);
            ++src;
            --srcLeft;
            iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

// GB18030 writes a character outside GBK as four bytes whose second byte is
// a digit (0x30...0x39); a GBK pair's second byte is 0x40...0xFE.
constexpr unsigned char kFourByteSecondFirst = 0x30;
constexpr unsigned char kFourByteSecondLast = 0x39;
constexpr std::size_t kFourByteLength = 4;

// True when GB18030 bytes hold only ASCII and GBK pairs.
bool IsGbkOnly(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (i + 1 >= s.size()) return false;
        const auto second = static_cast<unsigned char>(s[i + 1]);
        if (second >= kFourByteSecondFirst && second <= kFourByteSecondLast) return false;
        i += kFourByteLength / 2;
    }
    return true;
}

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else
            return false;
        if (i + static_cast<size_t>(len) > n) return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += static_cast<size_t>(len);
    }
    return true;
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
    if (IsAscii(gbk)) return std::string(gbk);
    return Convert(kUtf8Charset, kGbkCharset, gbk, false);
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    if (!IsValidUtf8(utf8)) return std::nullopt;
    std::optional<std::string> out = Convert(kGbkCharset, kUtf8Charset, utf8, false);
    // The handheld's code page is GBK: GB18030's four-byte forms (emoji,
    // rare CJK extensions) are not names it can show or keep.
    if (out && !IsGbkOnly(*out)) return std::nullopt;
    return out;
}

std::string GbkToUtf8Lossy(std::string_view gbk) {
    if (IsAscii(gbk)) return std::string(gbk);
    auto r = Convert(kUtf8Charset, kGbkCharset, gbk, true);
    return r ? *r : std::string();
}

std::string DecodeUtf8OrGbk(std::string_view bytes) {
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return GbkToUtf8Lossy(bytes);
}

}  // namespace dorvane
