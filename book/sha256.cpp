#include "book/sha256.h"

#include <openssl/evp.h>

#include <new>

namespace dorvane::book {

Sha256Digest Sha256(std::span<const std::uint8_t> bytes) {
    static_assert(std::tuple_size_v<Sha256Digest> == 32, "SHA-256 digests are 32 bytes");
    Sha256Digest out{};
    unsigned int size = 0;
    // EVP_Digest is the one-shot form of init/update/final; the low-level
    // SHA256() is deprecated in OpenSSL 3.
    if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != out.size())
        throw std::bad_alloc();
    return out;
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    const Sha256Digest d = Sha256(bytes);
    std::string s;
    s.reserve(2 * d.size());
    for (std::uint8_t b : d) {
        s.push_back(kHex[b >> 4]);
        s.push_back(kHex[b & 15]);
    }
    return s;
}

}  // namespace dorvane::book
