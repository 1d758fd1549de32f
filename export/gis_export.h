#pragma once
// GIS exports of fields and tracks through GDAL/OGR, on WGS84 (EPSG:4326,
// longitude first) unless another coordinate system is chosen (see
// crs_choice.h: CGCS2000, its Gauss-Krueger zones, any EPSG code): fields as polygons, harvesting work as lines (the
// handheld measures it as an open line times the working width), tracks as
// (multi)lines, each with its figures as attributes.
//
// Layers: "fields", "work", "tracks" (only those that have features).
// GeoPackage and KML hold them in one file; Shapefile writes a folder with
// one .shp per layer (every attribute name within the format's 10
// characters, a .cpg saying UTF-8 so that Chinese names survive); GeoJSON,
// DXF and CSV (geometry as WKT) take a single layer, "dorvane", whose "kind"
// attribute says field, work or track. DXF keeps no attributes beyond its
// entity layer: "boundary" for fields, "work" and "tracks" for the others,
// beside "point_numbers" (J1, J2 ... beside each corner, numbered as the
// land-office text numbers them) and "field_labels" (name and CGCS2000 area
// at the field's centre). In a projected system its header says metres.
//
// The land-office coordinate exchange text (txt) is written by land_text.h
// through the same call.
//
// An existing output is never overwritten unless `force`: the output is
// built under a temporary name beside it and then renamed into place, so a
// failed export leaves no partial file and an old one intact.
//
// Blocking file I/O on the caller's thread; GDAL is registered once per
// process (thread-safe). Errors are returned, never thrown.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/crs_choice.h"
#include "export/land_text.h"
#include "geo/field_file.h"

namespace dorvane::gis {

enum class GisFormat { kGpkg, kShapefile, kGeoJson, kKml, kDxf, kCsv, kLandText };

/// "gpkg", "shp", "geojson", "kml", "dxf", "csv", "txt" (any letter case).
std::optional<GisFormat> ParseGisFormat(std::string_view name);
std::string_view GisFormatName(GisFormat f);

/// One input: a file already read (see geo::ReadFieldFile), or one shape of it.
struct ExportSource {
    std::filesystem::path path;
    geo::FieldFile field;
};

/// Reads `path` as sources, appended to `out`: a handheld or GPX file is one,
/// a file of many fields (a village KML, GeoJSON, Shapefile, GeoPackage) one
/// per shape, labelled with its feature's name. A feature left out adds
/// "feature N: why" to `problems`. Blocks on the file system.
geo::ReadResult ReadExportSources(const std::filesystem::path& path, std::vector<ExportSource>& out,
                                  std::vector<std::string>& problems);

enum class ExportError {
    kNone,
    kExists,          ///< the output exists and force was not given
    kNothingToWrite,  ///< no source
    kDriverMissing,   ///< GDAL lacks the format's driver
    kCreateFailed,    ///< GDAL could not create the output (message has GDAL's text)
    kWriteFailed,     ///< a layer, field or feature could not be written
    kRenameFailed,    ///< the finished output could not be moved into place
    kBadCrs,          ///< PROJ cannot build the chosen system (message says why)
    kNotGaussKrueger, ///< the land-office text needs a CGCS2000 Gauss-Krueger zone
    kEncodingFailed,  ///< a name cannot be written in GBK
};

struct ExportOptions {
    CrsChoice crs;  ///< WGS84 unless chosen
    TextEncoding encoding = TextEncoding::kGbk;
    /// The land-office text's 数据产生单位 (the seller of the bill settings).
    std::string producer;
    /// The land-office text's 数据产生日期, "YYYY-MM-DD"; empty: today.
    std::string date;
};

struct ExportResult {
    ExportError error = ExportError::kNone;
    std::string message;     ///< English detail (GDAL's last error) when failed
    std::size_t fields = 0;  ///< features in "fields" and "work"
    std::size_t tracks = 0;
    ResolvedCrs crs;  ///< the system written in, and fields outside its zone
    /// Fields' areas (holes taken out): on the CGCS2000 ellipsoid, and on the
    /// chosen projection's plane (0 when it is not projected).
    double ellipsoidArea_m2 = 0;
    double planeArea_m2 = 0;
    bool ok() const { return error == ExportError::kNone; }
};

/// Attribute names, the same in every format (Shapefile's 10-character
/// limit decides them).
namespace attr {
inline constexpr const char* kKind = "kind";
inline constexpr const char* kName = "name";
inline constexpr const char* kFile = "file";
inline constexpr const char* kMethod = "method";
inline constexpr const char* kCollected = "collected";
inline constexpr const char* kStart = "start";
inline constexpr const char* kFinish = "finish";
inline constexpr const char* kWidth = "width_m";
inline constexpr const char* kPoints = "points";
inline constexpr const char* kLength = "len_m";         ///< handheld's length/perimeter
inline constexpr const char* kLengthWgs84 = "len_wgs";  ///< WGS84 length/perimeter
inline constexpr const char* kArea = "area_m2";         ///< handheld's area
inline constexpr const char* kAreaMu = "area_mu";
inline constexpr const char* kAreaHa = "area_ha";
inline constexpr const char* kAreaWgs84 = "area_wgs";
inline constexpr const char* kAreaCgcs2000 = "area_cgcs";  ///< CGCS2000 ellipsoidal area
inline constexpr const char* kLengthPrice = "len_price";
inline constexpr const char* kLengthTotal = "len_total";
inline constexpr const char* kAreaPrice = "area_price";
inline constexpr const char* kAreaTotal = "area_total";
inline constexpr const char* kDuration = "duration_s";
}  // namespace attr

/// Writes `sources` to `out` in `format`, in `options.crs`.
ExportResult ExportGis(const std::vector<ExportSource>& sources, GisFormat format,
                       const std::filesystem::path& out, bool force,
                       const ExportOptions& options = {});

std::string_view ExportErrorText(ExportError e);

}  // namespace dorvane::gis
