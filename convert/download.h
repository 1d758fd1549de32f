#pragma once
// Storing a file that has arrived from the handheld, and converting files
// already on the computer.
//
// For the converting model (model code 701, chosen by the user: the profile
// setting "convert tracks and areas on download", or `--model CODE` on the
// command line) a name ending in ".gpx" (any case) is read as a track and
// written as GPX, any other name is read as an area and written as KML, each
// under the file's own name; the bytes as received are always kept beside it
// as "<name up to its first dot>.bak". Every other model stores the bytes
// unchanged under the file's name. Every output gets the first free name of
// the unique-name rule, is written completely or not at all, and stays inside
// the destination folder whatever the name from the handheld contains.
//
// Both functions block on file I/O and run on the caller's thread (the
// transport worker's completion callback for downloads); they never throw
// for I/O failures and hold no state between calls.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/file_output.h"

namespace dorvane {

/// Model code of the handheld whose downloads are converted.
inline constexpr int kConvertingModelCode = 701;
/// Extension of the kept copy of the received bytes.
inline constexpr std::string_view kRawCopyExtension = ".bak";
/// Largest input ConvertLocalFile reads (about 6.7 million track points).
inline constexpr std::uintmax_t kMaxConvertInputBytes = 256ull * 1024 * 1024;

/// What happened to the conversion part of a download.
enum class Conversion {
    kNotAttempted,  ///< not the converting model
    kConverted,     ///< GPX or KML written (its path is in `written`)
    kNotReadable,   ///< not a track/area file: only the ".bak" copy was kept
    kWriteFailed,   ///< the document could not be written (the ".bak" copy still was)
};

struct StoreResult {
    /// Error of the raw file (the received bytes as such, or the ".bak" copy).
    /// Anything but kNone means the download is not safely stored.
    WriteError error = WriteError::kNone;
    std::string message;                         ///< English detail when error != kNone
    std::vector<std::filesystem::path> written;  ///< every file written, in order
    std::filesystem::path rawPath;               ///< the raw file written (empty on error)
    Conversion conversion = Conversion::kNotAttempted;
    bool ok() const { return error == WriteError::kNone; }
};

/// The raw-copy name for `name`: the part before its first '.' + ".bak"
/// ("T0601.gpx" -> "T0601.bak", "a.b.c" -> "a.bak"; "README" -> "README.bak";
/// a name starting with '.' keeps itself: ".x" -> ".x.bak").
std::string RawCopyName(std::string_view name);

/// True when the last four characters of `name` are ".gpx", ignoring case.
bool HasGpxSuffix(std::string_view name);

/// Stores a completely received file. `deviceNameUtf8` is the handheld's
/// name converted to UTF-8 (it is sanitized again here: separators, "..",
/// control characters). Writes into `folder` only; see the file comment.
StoreResult StoreDownload(std::span<const std::uint8_t> bytes, std::string_view deviceNameUtf8,
                          const std::filesystem::path& folder, int modelCode);

enum class ConvertError {
    kNone,
    kCannotRead,      ///< the input cannot be opened or read (message has the detail)
    kTooLarge,        ///< the input exceeds kMaxConvertInputBytes
    kNotTrackOrArea,  ///< neither the track magic nor an area header record
    kDamagedHeader,   ///< track magic with a cut-short header, or an area header failing its check
    kFolderMissing,   ///< as WriteError
    kPermissionDenied,
    kDiskFull,
    kNoFreeName,
    kIoError,
};

enum class ConvertedKind { kNone, kGpx, kKml };

struct ConvertResult {
    ConvertError error = ConvertError::kNone;
    std::string message;            ///< English detail when error != kNone
    std::filesystem::path written;  ///< the document written
    ConvertedKind kind = ConvertedKind::kNone;
    std::size_t points = 0;  ///< points written
    bool ok() const { return error == ConvertError::kNone; }
};

/// Reads the whole regular file `in` (at most kMaxConvertInputBytes) into
/// `bytes`. kCannotRead (missing, unreadable, not a regular file) or
/// kTooLarge, with an English detail naming the file in `message`. Blocking.
ConvertError ReadInputFile(const std::filesystem::path& in, std::vector<std::uint8_t>& bytes,
                           std::string& message);

/// Converts a track or area file on the computer (for `dorvane-cli
/// convert`). The kind is told by the content: a file starting with the
/// track magic becomes "<stem>.gpx", anything else is read as an area file
/// and becomes "<stem>.kml" (stem = name without its last extension), made
/// unique in `outDir`. No ".bak" copy is written.
ConvertResult ConvertLocalFile(const std::filesystem::path& in,
                               const std::filesystem::path& outDir);

}  // namespace dorvane
