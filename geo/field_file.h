#pragma once
// Reading every kind of track or field file a user holds into one shape:
//   - the handheld's binary track file and its Base64 area file, told apart by
//     content as `dorvane-cli convert` does (track magic first, else area);
//   - GPX 1.0 and 1.1 (ours and other programs': trk/trkseg/trkpt, rte/rtept);
//   - KML 2.1 and 2.2 (ours and other programs': Polygon, LineString,
//     gx:Track, inside Placemarks, Folders and MultiGeometry).
// XML is parsed with libxml2 without network access and without entity
// substitution. Elements are matched by local name, so every namespace
// version of GPX and KML reads the same.
//
// Pure functions of their input (the file variant blocks on reading the file);
// thread-safe; no state between calls. Failures are returned, never thrown.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/area_file.h"

namespace dorvane::geo {

/// A track is an open line (or several segments); an area is one field boundary.
enum class FieldKind { kTrack, kArea };

enum class FieldFormat {
    kHandheldTrack,  ///< the handheld's binary track file
    kHandheldArea,   ///< the handheld's Base64 area file
    kGpx,
    kKml,
    kOgr,  ///< any vector file GDAL/OGR reads (Shapefile, GeoPackage, GeoJSON, KMZ, CSV, DXF ...)
    kLandText,  ///< the land office's coordinate exchange text (land_text.h)
};

/// One point in degrees on WGS84.
struct GeoPoint {
    double lon = 0;
    double lat = 0;
    double ele = 0;   ///< metres; meaningful when hasEle
    double time = 0;  ///< seconds since 1970-01-01 00:00:00 UTC; meaningful when hasTime
    bool hasEle = false;
    bool hasTime = false;
};

/// What a field file says about the handheld's measurement, where it says it:
/// the area record itself for the handheld's files, the ExtendedData entries
/// of a KML written by Dorvane (or the handheld's own software) for KML.
struct HandheldRecord {
    /// Collection method 0 track, 1 vertex, 2 harvesting; nullopt when the
    /// file does not say (other programs' polygons).
    std::optional<std::int16_t> method;
    float lengthUnitPrice = 0;
    float areaUnitPrice = 0;
    std::optional<double> workWidth;  ///< metres, from the work record / "作业宽度"
    /// The area record as read, for the handheld's area files only; its
    /// figures are computed from it exactly as the KML writer does.
    std::optional<AreaFile> area;

    // What a KML written on download shows beside its polygon. Its unit
    // prices are rounded to two decimals ("0.08" for the handheld's 0.075):
    // the totals and figures it shows are the bill, not a recomputation.
    std::optional<double> lengthTotal;  ///< "周长总价" / "长度总价"
    std::optional<double> areaTotal;    ///< "面积总价"
    std::string lengthText;             ///< "周长" / "长度" as shown ("1.500000 km"), or ""
    std::string areaText;               ///< "面积" as shown ("812.500 sq.m."), or ""
    /// Times shown in the KML (local time of the computer that wrote it, to the
    /// minute), as seconds since 1970 UTC; absent when not shown or "_______".
    std::optional<std::int64_t> collectionTime;
    std::optional<std::int64_t> startTime;
    std::optional<std::int64_t> finishTime;
};

struct FieldFile {
    FieldKind kind = FieldKind::kTrack;
    FieldFormat format = FieldFormat::kGpx;
    std::string name;  ///< UTF-8: track/placemark name, or the area record's file name
    /// Track: every point in file order, segments back to back. Area: the
    /// boundary ring, open (a closing repeat of the first point is removed).
    std::vector<GeoPoint> points;
    /// Track: index of the first point of each segment (empty when no points;
    /// else starts with 0). No line is drawn or measured between segments.
    std::vector<std::size_t> segmentStarts;
    HandheldRecord handheld;  ///< areas only
    /// Areas: the inner rings (holes) of the boundary, each open like `points`;
    /// their area is subtracted from the field's.
    std::vector<std::vector<GeoPoint>> holes;
    /// Index of this shape among the shapes of its file (from 0).
    std::size_t shape = 0;
    /// OGR's name of the driver that read it ("ESRI Shapefile", "GPKG" ...), for kOgr.
    std::string driver;
    /// Further shapes in the file that were not taken by ReadFieldFile, which
    /// reads one shape (ReadShapes in geo/ogr_reader.h reads them all).
    std::size_t shapesIgnored = 0;
    /// Handheld area file: point records left out because they were damaged
    /// (the figures miss those points; the user is told).
    std::size_t damagedRecords = 0;
};

enum class ReadError {
    kNone,
    kCannotRead,      ///< the file cannot be opened or read
    kTooLarge,        ///< larger than kMaxFieldFileBytes
    kEmpty,           ///< no bytes at all
    kNotRecognised,   ///< neither a track, an area, a GPX nor a KML file
    kDamaged,         ///< a handheld track/area file whose header is damaged
    kXmlError,        ///< XML that does not parse (message has line and cause)
    kNoShapes,        ///< GPX/KML without any track, route, line or polygon
    kBadCoordinates,  ///< a point outside -90..90 / -180..180 or not a number
    kBadCrs,          ///< a coordinate system PROJ cannot convert to WGS84
    kCancelled,       ///< the caller's stop flag was set while reading
};

struct ReadResult {
    ReadError error = ReadError::kNone;
    /// English detail (line, point, parser's cause; the path for file
    /// errors) when there is one; the caller names the file.
    std::string message;
    bool ok() const { return error == ReadError::kNone; }
};

/// Largest file read (the same bound as `convert`: 256 MiB).
std::uintmax_t MaxFieldFileBytes();

/// Reads `bytes` into `out` (replaced whole; left default on failure).
/// `nameHint` is the file's name (UTF-8), used for messages and as the name
/// of a file that names nothing itself.
ReadResult ReadFieldBytes(std::span<const std::uint8_t> bytes, std::string_view nameHint,
                          FieldFile& out);

/// Reads the file at `path`; blocks on the file system.
ReadResult ReadFieldFile(const std::filesystem::path& path, FieldFile& out);

/// The raw copy a download from the converting model keeps beside its
/// converted document: "<name up to its first dot>.bak" in the same folder
/// ("A1003.txt" holding KML -> "A1003.bak").
std::filesystem::path RawCopyPathOf(const std::filesystem::path& document);

/// True when `converted` (a GPX or KML document) was written from the
/// handheld file `raw`: the same kind, the same number of points, each within
/// the six decimals the writers keep. (Times are not compared: the KML shows
/// them in the writing computer's time zone.)
bool SameMeasurement(const FieldFile& converted, const FieldFile& raw);

/// For a GPX or KML document at `document` (whatever its extension), reads
/// the raw copy beside it (RawCopyPathOf) into `raw` and returns its path
/// when it holds the same measurement; nullopt (and `raw` untouched) when
/// there is none, it cannot be read, or it holds something else. Blocks on
/// reading the file.
std::optional<std::filesystem::path> ReadRawCopyBeside(const std::filesystem::path& document,
                                                       const FieldFile& converted, FieldFile& raw);

/// Short English description of `e` ("not a track or field file", ...).
std::string_view ReadErrorText(ReadError e);

/// Parses an ISO 8601 / XML Schema dateTime ("2024-05-01T08:30:00Z",
/// fractional seconds, "+08:00" offsets; no zone counts as UTC) into seconds
/// since 1970 UTC. nullopt when it is not such a time.
std::optional<double> ParseIsoTime(std::string_view text);

}  // namespace dorvane::geo
