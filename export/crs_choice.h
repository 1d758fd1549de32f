#pragma once
// The coordinate system an export is written in: WGS84 degrees (what GIS
// programs and the handheld's own software read), CGCS2000 degrees
// (EPSG:4490), a CGCS2000 Gauss-Krueger zone (what a Chinese land office
// takes), or any EPSG code PROJ knows. "Automatic" picks the 3-degree zone of
// the fields' centre; a field with points outside the chosen zone's band is
// named in a warning (it is still written, in the chosen zone, where the
// projection stretches it slightly), never moved silently into another zone.
//
// Qt-free; spatial references through GDAL/PROJ, always with the GIS axis
// order (longitude/easting first) set explicitly.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geo/field_file.h"
#include "geo/land_survey.h"

namespace dorvane::gis {

/// WGS84 geographic, what every export wrote before a choice existed.
inline constexpr int kEpsgWgs84 = 4326;
/// CGCS2000 geographic.
inline constexpr int kEpsgCgcs2000 = 4490;

enum class CrsMode {
    kEpsg,           ///< the code in `epsg`
    kAutoGk3,        ///< 3-degree zone of the centre, zone number in the easting
    kAutoGk3Plain,   ///< the same without the zone number
    kAutoGk6,        ///< 6-degree zone of the centre, zone number in the easting
    kAutoGk6Plain,   ///< the same without the zone number
};

struct CrsChoice {
    CrsMode mode = CrsMode::kEpsg;
    int epsg = kEpsgWgs84;
};

/// "EPSG:4513", "4513", "wgs84", "cgcs2000", "auto" (3-degree with the zone
/// number), "auto-cm" (3-degree, central meridian only), "auto6",
/// "auto6-cm"; any letter case. nullopt for anything else.
std::optional<CrsChoice> ParseCrsChoice(std::string_view text);
/// The text ParseCrsChoice reads back ("EPSG:4513", "auto", ...).
std::string CrsChoiceText(const CrsChoice& c);

/// A field that lies (partly) outside the chosen zone's band.
struct ZoneWarning {
    std::string name;   ///< the field's name (UTF-8)
    int zone = 0;       ///< the zone of the field's centre
};

struct ResolvedCrs {
    int epsg = kEpsgWgs84;              ///< 0 when the zone has no EPSG code
    std::optional<geo::GkZone> zone;    ///< set for Gauss-Krueger choices
    bool projected = false;             ///< metres (any projected code), not degrees
    std::string wkt;                    ///< OGC WKT of the system
    std::vector<ZoneWarning> warnings;  ///< fields outside the zone's band
};

struct CrsError {
    std::string message;  ///< English: why PROJ could not build it
};

/// One input's points, with the name its warning shows.
struct NamedPoints {
    std::string name;
    std::span<const geo::GeoPoint> points;
};

/// Resolves `choice` for these fields; an EPSG code that PROJ does not know
/// is an error. For Gauss-Krueger zones (chosen or automatic), every field
/// with a point outside the zone's band is listed in `warnings`.
std::optional<ResolvedCrs> ResolveCrs(const CrsChoice& choice,
                                      std::span<const NamedPoints> fields, CrsError& error);

}  // namespace dorvane::gis
