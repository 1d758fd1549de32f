#include "protocol/ack_list.h"

#include <bit>

namespace dorvane {

namespace {
constexpr unsigned kBitsPerByte = 8;
constexpr std::uint8_t kFullByte = 0xFF;
}  // namespace

void CACKList::Create(std::uint32_t count) {
    if (created_) return;
    count_ = count;
    bits_.assign(count / kBitsPerByte + 1, 0);
    for (unsigned b = count % kBitsPerByte; b < kBitsPerByte; ++b)
        bits_.back() = static_cast<std::uint8_t>(bits_.back() | (1u << b));
    created_ = true;
}

void CACKList::Release() {
    bits_.clear();
    bits_.shrink_to_fit();
    created_ = false;
    count_ = 0;
}

void CACKList::Set(std::uint32_t n) {
    if (!created_ || n >= count_) return;
    bits_[n / kBitsPerByte] = static_cast<std::uint8_t>(bits_[n / kBitsPerByte] | (1u << (n % kBitsPerByte)));
}

void CACKList::Toggle(std::uint32_t n) {
    if (!created_ || n >= count_) return;
    bits_[n / kBitsPerByte] = static_cast<std::uint8_t>(bits_[n / kBitsPerByte] ^ (1u << (n % kBitsPerByte)));
}

bool CACKList::Test(std::uint32_t n) const {
    if (!created_ || n >= count_) return false;
    return (bits_[n / kBitsPerByte] >> (n % kBitsPerByte)) & 1u;
}

bool CACKList::Complete() const {
    if (!created_) return true;
    for (std::uint8_t b : bits_)
        if (b != kFullByte) return false;
    return true;
}

std::uint32_t CACKList::CountSet() const {
    if (!created_) return 0;
    std::uint32_t total = 0;
    for (std::size_t i = 0; i + 1 < bits_.size(); ++i) total += static_cast<std::uint32_t>(std::popcount(bits_[i]));
    const unsigned tail = count_ % kBitsPerByte;
    const std::uint8_t lastMask = static_cast<std::uint8_t>((1u << tail) - 1);
    total += static_cast<std::uint32_t>(std::popcount(static_cast<std::uint8_t>(bits_.back() & lastMask)));
    return total;
}

bool CACKList::NextClear(std::uint32_t from, std::uint32_t& out, bool inclusive) const {
    if (!created_) return false;
    std::uint64_t n = inclusive ? from : static_cast<std::uint64_t>(from) + 1;
    for (; n < count_; ++n) {
        const std::size_t byte = static_cast<std::size_t>(n / kBitsPerByte);
        if (bits_[byte] == kFullByte) {  // skip whole bytes
            n = (byte + 1) * kBitsPerByte - 1;
            continue;
        }
        if (!Test(static_cast<std::uint32_t>(n))) {
            out = static_cast<std::uint32_t>(n);
            return true;
        }
    }
    return false;
}

bool CACKList::FirstClear(std::uint32_t& out) const { return NextClear(0, out, true); }

}  // namespace dorvane
