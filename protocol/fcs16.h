#pragma once
// FCS-16 of RFC 1662 (the PPP frame check sequence): reflected polynomial
// 0x8408, register preset 0xFFFF, complemented at the end. The same check
// guards the frames on the wire and every record of the handheld's area files.

#include <cstddef>
#include <cstdint>
#include <span>

namespace dorvane {

/// Register preset of RFC 1662 (PPPINITFCS16).
inline constexpr std::uint16_t kFcsInit = 0xFFFF;
/// Residue left in the register after running it over data followed by its
/// own (complemented, low-byte-first) FCS: RFC 1662 PPPGOODFCS16.
inline constexpr std::uint16_t kFcsGood = 0xF0B8;

/// Runs the FCS register over `data`, starting from `fcs`, without the final
/// complement (RFC 1662 pppfcs16()). Pure, thread-safe.
std::uint16_t FcsUpdate(std::uint16_t fcs, std::span<const std::uint8_t> data);

/// The check value to store: ~FcsUpdate(kFcsInit, data). Stored low byte first.
std::uint16_t Fcs16(std::span<const std::uint8_t> data);

}  // namespace dorvane
