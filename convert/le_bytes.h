#pragma once
// Little-endian loads and stores for the handheld's binary layouts. The
// handheld writes every multi-byte number low byte first, whatever the host.

#include <bit>
#include <cstdint>
#include <cstring>

namespace dorvane::le {

inline std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t U64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}
inline std::int16_t I16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(U16(p));
}
inline std::int32_t I32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(U32(p));
}
inline float F32(const std::uint8_t* p) {
    return std::bit_cast<float>(U32(p));
}
inline double F64(const std::uint8_t* p) {
    return std::bit_cast<double>(U64(p));
}

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
    PutU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void PutI16(std::uint8_t* p, std::int16_t v) {
    PutU16(p, static_cast<std::uint16_t>(v));
}
inline void PutI32(std::uint8_t* p, std::int32_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
}
inline void PutF32(std::uint8_t* p, float v) {
    PutU32(p, std::bit_cast<std::uint32_t>(v));
}
inline void PutF64(std::uint8_t* p, double v) {
    PutU64(p, std::bit_cast<std::uint64_t>(v));
}

}  // namespace dorvane::le
