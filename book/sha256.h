#pragma once
// SHA-256 (FIPS 180-4) of a byte string: the identity of a handheld file in
// the book is the digest of its bytes, so a copy under another name ("A(1).txt")
// is known as the same measurement. Pure, thread-safe.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace dorvane::book {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest Sha256(std::span<const std::uint8_t> bytes);

/// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace dorvane::book
