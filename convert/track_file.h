#pragma once
// The handheld's binary track file: a 68-byte header (magic text, track
// name, point count) followed by 40-byte point records, all little-endian.
//
//   header:  0 char[32] magic "e-compass Trace H1.0" + NUL (bytes 21..31 free)
//           32 char[32] track name, NUL-terminated, GBK
//           64 int32    point count N (N <= 0: no points)
//   point:   0 double latitude   8 double longitude  16 double elevation
//           24 int32 fix time (s since 1970)  28 double extra  36 uint32 extra
//
// Reading and writing are pure functions on memory images; thread-safe.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

/// Magic text at offset 0, compared case-sensitively up to its NUL.
inline constexpr std::string_view kTrackMagic = "e-compass Trace H1.0";
inline constexpr std::size_t kTrackMagicField = 32;
inline constexpr std::size_t kTrackNameOffset = 32;
inline constexpr std::size_t kTrackNameField = 32;
inline constexpr std::size_t kTrackCountOffset = 64;
inline constexpr std::size_t kTrackHeaderSize = 68;
inline constexpr std::size_t kTrackPointSize = 40;

/// One fix of a track, in the order of the record's ten 32-bit words.
struct TrackPoint {
    double latitude = 0;          ///< degrees, north positive
    double longitude = 0;         ///< degrees, east positive
    double elevation = 0;         ///< metres
    std::int32_t time = 0;        ///< seconds since 1970-01-01 00:00:00 UTC
    double extra = 0;             ///< recorded by the handheld, written nowhere
    std::uint32_t extraWord = 0;  ///< recorded by the handheld, written nowhere
    bool operator==(const TrackPoint&) const = default;
};

enum class TrackReadError {
    kNone,
    kEmpty,          ///< no bytes at all
    kNotTrack,       ///< the magic text does not match
    kDamagedHeader,  ///< magic matches but the 68-byte header is cut short
};

struct TrackReadResult {
    TrackReadError error = TrackReadError::kNone;
    std::string nameGbk;             ///< track name bytes as recorded (GBK)
    std::int32_t declaredCount = 0;  ///< N from the header
    /// True when N promised more records than the file holds; only the
    /// records lying wholly inside the file were read.
    bool truncated = false;
    bool ok() const { return error == TrackReadError::kNone; }
};

/// True when `bytes` starts with the track magic followed by its NUL.
bool HasTrackMagic(std::span<const std::uint8_t> bytes);

/// Reads a track image. `points` is cleared and filled in file order; on
/// failure it stays empty. Never reads outside `bytes` and never reserves
/// more points than the file can hold, whatever N says.
TrackReadResult ReadTrack(std::span<const std::uint8_t> bytes, std::vector<TrackPoint>& points);

/// Builds a track image in the handheld's layout (for the emulator's sample
/// data and the tests). `nameGbk` is cut to 31 bytes. `declaredCount`
/// overrides N when set (to build damaged files); by default N = points.size().
std::vector<std::uint8_t> WriteTrack(std::string_view nameGbk, std::span<const TrackPoint> points,
                                     const std::int32_t* declaredCount = nullptr);

}  // namespace dorvane
