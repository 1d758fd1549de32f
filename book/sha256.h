#pragma once
// SHA-256 of a byte string, through OpenSSL's libcrypto: the identity of a
// handheld file in the book is the digest of its bytes, so a copy under
// another name ("A(1).txt") is known as the same measurement. Thread-safe.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace dorvane::book {

using Sha256Digest = std::array<std::uint8_t, 32>;

/// The digest of `bytes`. libcrypto's SHA-256 fails only when it cannot
/// allocate its context; that is reported as std::bad_alloc, like any other
/// allocation of the caller.
Sha256Digest Sha256(std::span<const std::uint8_t> bytes);

/// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace dorvane::book
