#pragma once
// Writes the land-office coordinate exchange text (format: geo/land_text.h,
// which also reads it back) for fields in one CGCS2000 Gauss-Krueger zone.
//
// Per field: a parcel line (J-line count, area in hectares to 4 decimals,
// number 1.., name, 面, no sheet, no use, no land class, @), then the
// boundary from its north-west-most point clockwise, its first point
// repeated to close it, then each hole (ring 2, 3 ...) the same way round
// counter-clockwise. The area is the CGCS2000 ellipsoidal area, holes taken
// out, as land surveys compute it. Pure; Qt-free.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geo/field_file.h"
#include "geo/land_survey.h"

namespace dorvane::gis {

/// GBK is what the land offices' programs read; UTF-8 on request.
enum class TextEncoding { kGbk, kUtf8 };

struct LandField {
    std::string name;                                ///< UTF-8
    std::vector<geo::GeoPoint> boundary;             ///< open ring, any direction
    std::vector<std::vector<geo::GeoPoint>> holes;   ///< open rings
};

struct LandTextHeader {
    std::string producer;  ///< 数据产生单位
    std::string date;      ///< 数据产生日期, "YYYY-MM-DD"
};

struct LandText {
    std::string bytes;            ///< the file, in the chosen encoding, CRLF lines
    double ellipsoidArea_m2 = 0;  ///< every field, holes out, on CGCS2000
    double planeArea_m2 = 0;      ///< the same on the zone's plane
};

/// nullopt with `error` (English) when the zone cannot be built or a name
/// has no GBK form.
std::optional<LandText> WriteLandText(std::span<const LandField> fields, const geo::GkZone& zone,
                                      const LandTextHeader& header, TextEncoding encoding,
                                      std::string& error);

}  // namespace dorvane::gis
