#pragma once
// Text encodings. Linux names and texts are UTF-8; the handheld and the
// Windows program's files speak GBK (code page 936). Conversion goes through
// glibc's iconv and never throws.

#include <optional>
#include <string>
#include <string_view>

namespace dorvane {

/// True when `s` is well-formed UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view s);

/// GBK bytes to UTF-8. Returns nullopt when the bytes are not valid GBK.
std::optional<std::string> GbkToUtf8(std::string_view gbk);
/// UTF-8 to GBK bytes. Returns nullopt when a character has no GBK form or
/// the input is not valid UTF-8.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

/// GBK bytes to UTF-8 for display and local names: never fails. Pure ASCII
/// passes unchanged; an undecodable byte becomes U+FFFD.
std::string GbkToUtf8Lossy(std::string_view gbk);

/// Decodes a text file's bytes: as UTF-8 when valid (a leading BOM dropped),
/// otherwise as GBK (lossy).
std::string DecodeUtf8OrGbk(std::string_view bytes);

}  // namespace dorvane
