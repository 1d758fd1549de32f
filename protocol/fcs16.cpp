#include "protocol/fcs16.h"

#include <array>

namespace dorvane {
namespace {

/// Reflected generator polynomial of RFC 1662 (x^16 + x^12 + x^5 + 1).
constexpr std::uint16_t kFcsPolynomial = 0x8408;

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        std::uint16_t v = static_cast<std::uint16_t>(b);
        for (int i = 0; i < 8; ++i) {
            v = (v & 1) ? static_cast<std::uint16_t>((v >> 1) ^ kFcsPolynomial)
                        : static_cast<std::uint16_t>(v >> 1);
        }
        table[b] = v;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kFcsTable = MakeTable();

}  // namespace

std::uint16_t FcsUpdate(std::uint16_t fcs, std::span<const std::uint8_t> data) {
    for (std::uint8_t byte : data) {
        fcs = static_cast<std::uint16_t>((fcs >> 8) ^ kFcsTable[(fcs ^ byte) & 0xFF]);
    }
    return fcs;
}

std::uint16_t Fcs16(std::span<const std::uint8_t> data) {
    return static_cast<std::uint16_t>(~FcsUpdate(kFcsInit, data));
}

}  // namespace dorvane
