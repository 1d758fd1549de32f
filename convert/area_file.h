#pragma once
// The handheld's area file: text lines "$" + Base64 of one binary record +
// CR LF, each line at most 100 bytes. Every decoded record ends in its
// FCS-16 (RFC 1662, low byte first); the record kind is told by which length
// validates: 40-byte header (first line), optional 16-byte work record
// (second line), then 28-byte points.
//
//   header:  0 u32 (unused)  4 float area unit price  8 float length unit price
//           12 int32 collection time  16 char[20] file name (GBK, NUL-terminated)
//           36 int16 collection method (0 track, 1 vertex, 2 harvesting)  38 FCS
//   work:    0 float working width (m)  4 int32 start  8 int32 finish
//           12 u16 (unused)  14 FCS
//   point:   0 float longitude  4 float latitude  8 float altitude
//           12 12 bytes (unused)  24 int16 flag (1 = left out)  26 FCS
//
// Pure functions on memory images; thread-safe.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

inline constexpr std::size_t kAreaHeaderSize = 40;
inline constexpr std::size_t kAreaWorkSize = 16;
inline constexpr std::size_t kAreaPointSize = 28;
/// Longest record line, from "$" to its CR LF inclusive; longer ones are rejected.
inline constexpr std::size_t kAreaMaxLineBytes = 100;
/// Scratch space the first record is decoded into; a longer decode fails.
inline constexpr std::size_t kAreaScratchBytes = 80;
inline constexpr std::size_t kAreaFileNameField = 20;
inline constexpr char kAreaRecordStart = '$';
/// Point flag value that keeps a point out of the area.
inline constexpr std::int16_t kAreaPointExcluded = 1;

/// Collection methods of the header.
enum class AreaMethod : std::int16_t { kTrack = 0, kVertex = 1, kHarvesting = 2 };

struct AreaHeader {
    std::uint32_t reserved = 0;
    float areaUnitPrice = 0;    ///< per m², or per km² when the area is shown in km²
    float lengthUnitPrice = 0;  ///< per m, or per km when the length is shown in km
    std::int32_t collectionTime = 0;
    std::array<char, kAreaFileNameField> fileName{};  ///< GBK, NUL-terminated
    std::int16_t method = 0;
    /// The file name bytes up to the first NUL (at most 20 bytes).
    std::string FileNameGbk() const;
    void SetFileName(std::string_view gbk);  ///< cut to 19 bytes
};

struct AreaWorkRecord {
    float width = 0;              ///< working width, metres
    std::int32_t startTime = 0;   ///< 0: not recorded
    std::int32_t finishTime = 0;  ///< 0: not recorded
    std::uint16_t reserved = 0;
};

struct AreaPoint {
    float longitude = 0;
    float latitude = 0;
    float altitude = 0;
    std::array<std::uint8_t, 12> reserved{};
    std::int16_t flag = 0;
};

struct AreaFile {
    AreaHeader header;
    std::optional<AreaWorkRecord> work;
    std::vector<AreaPoint> points;  ///< kept points, file order
};

enum class AreaReadError {
    kNone,
    kNoRecord,       ///< no "$ ... CR LF" line at all: not an area file
    kNotArea,        ///< the first line does not decode to a 40-byte record
    kDamagedHeader,  ///< the first line decodes to 40+ bytes but fails its check
};

struct AreaReadResult {
    AreaReadError error = AreaReadError::kNone;
    std::size_t droppedRecords = 0;  ///< damaged, too long or flagged lines left out
    /// Of those, the lines left out because they were damaged or too long (a
    /// flagged point is the handheld's own choice; a damaged one is a loss
    /// the user should hear of).
    std::size_t damagedRecords = 0;
    bool ok() const { return error == AreaReadError::kNone; }
};

/// True when FCS-16 over all of `record` (its check bytes included) leaves
/// the good residue.
bool AreaRecordValid(std::span<const std::uint8_t> record);

/// Decodes standard Base64 into `out` (at most out.size() bytes). Takes
/// characters in groups of four and stops at the first '=' or character
/// outside the alphabet; a last group of 2 or 3 characters gives 1 or 2
/// bytes. Returns the decoded length, or nullopt when it would exceed `out`.
std::optional<std::size_t> Base64Decode(std::string_view text, std::span<std::uint8_t> out);

/// Standard Base64 with '=' padding.
std::string Base64Encode(std::span<const std::uint8_t> bytes);

/// Reads an area image into `area` (points emptied first). Damaged later
/// records are dropped one by one; only the first record decides failure.
/// Linear in the input; never reads outside `bytes`.
AreaReadResult ReadArea(std::span<const std::uint8_t> bytes, AreaFile& area);

/// Record encoders with their FCS (for the emulator's sample data and tests).
std::array<std::uint8_t, kAreaHeaderSize> EncodeAreaHeader(const AreaHeader& h);
std::array<std::uint8_t, kAreaWorkSize> EncodeAreaWork(const AreaWorkRecord& w);
std::array<std::uint8_t, kAreaPointSize> EncodeAreaPoint(const AreaPoint& p);

/// One record line: "$" + Base64(record) + CR LF.
std::string AreaRecordLine(std::span<const std::uint8_t> record);

/// A whole area file in the handheld's layout: header line, the work line
/// when present, one line per point (flags kept as given).
std::string WriteArea(const AreaFile& area);

}  // namespace dorvane
