#pragma once
// The land-office coordinate exchange text: what Chinese land offices'
// programs read and write for parcels in CGCS2000 Gauss-Krueger metres.
//
//   [属性描述]
//   格式版本号=1.0
//   数据产生单位=...            坐标系=2000国家大地坐标系
//   几度分带=3   投影类型=高斯克吕格   计量单位=米   带号=39   精度=0.001
//   转换参数=,,,,,,
//   [地块坐标]
//   10,0.2933,1,地块一,面,,,,@        (J-lines, area ha, number, name, 面,
//   J1,1,4400123.456,39512345.678      sheet, use, land class, @)
//   ...                               (point name, ring, X northing, Y easting)
//
// Each ring closes by repeating its first point; ring 1 is the boundary, the
// further rings of a parcel are its holes. The easting carries the zone
// number in front (8 integer digits) or not (6). The file is GBK or UTF-8.
//
// Pure; the text is never trusted: a malformed line is an error naming it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "geo/field_file.h"
#include "geo/land_survey.h"

namespace dorvane::geo::land {

inline constexpr std::string_view kAttributeSection = "[属性描述]";
inline constexpr std::string_view kCoordinateSection = "[地块坐标]";
inline constexpr std::string_view kKeyVersion = "格式版本号";
inline constexpr std::string_view kKeyProducer = "数据产生单位";
inline constexpr std::string_view kKeyDate = "数据产生日期";
inline constexpr std::string_view kKeyDatum = "坐标系";
inline constexpr std::string_view kKeyZoneWidth = "几度分带";
inline constexpr std::string_view kKeyProjection = "投影类型";
inline constexpr std::string_view kKeyUnit = "计量单位";
inline constexpr std::string_view kKeyZone = "带号";
inline constexpr std::string_view kKeyPrecision = "精度";
inline constexpr std::string_view kKeyTransform = "转换参数";
inline constexpr std::string_view kDatumCgcs2000 = "2000国家大地坐标系";
inline constexpr std::string_view kProjectionGk = "高斯克吕格";
inline constexpr std::string_view kUnitMetre = "米";
/// The shape kind of a parcel line: a polygon.
inline constexpr std::string_view kShapePolygon = "面";
/// Ends every parcel line.
inline constexpr std::string_view kParcelEnd = "@";
/// Prefix of every point name ("J1", "J2", ...: 界址点, boundary point).
inline constexpr std::string_view kPointPrefix = "J";

struct Parcel {
    std::string number;     ///< 地块编号
    std::string name;       ///< 地块名称 (UTF-8)
    std::string sheet;      ///< 图幅号
    std::string use;        ///< 地块用途
    std::string landClass;  ///< 地类编码
    double area_ha = 0;     ///< as written
    /// Ring 1 first, then the holes; open (the closing repeat dropped).
    std::vector<std::vector<GkPoint>> rings;
    /// Point names in ring order, alongside `rings`.
    std::vector<std::vector<std::string>> names;
};

struct Document {
    std::vector<std::pair<std::string, std::string>> attributes;  ///< in file order, UTF-8
    GkZone zone;  ///< from 几度分带, 带号 and the eastings
    std::vector<Parcel> parcels;
    bool gbk = false;  ///< the bytes were GBK (else UTF-8)
    /// The value of attribute `key`, or "".
    std::string Attribute(std::string_view key) const;
};

struct ParseError {
    std::size_t line = 0;  ///< 1-based, 0 for the whole file
    std::string message;   ///< English
};

/// True when `bytes` start like this text (its coordinate section header in
/// UTF-8 or GBK within the first lines).
bool LooksLikeLandText(std::span<const std::uint8_t> bytes);

/// Parses the text (GBK or UTF-8).
std::optional<Document> Parse(std::span<const std::uint8_t> bytes, ParseError& error);

/// The boundary of the first parcel as a field in degrees (the other parcels
/// counted in shapesIgnored; holes are not taken). For ReadFieldBytes.
ReadResult ReadAsField(std::span<const std::uint8_t> bytes, FieldFile& out);
/// Every parcel of the text as a field in degrees, holes included, in file
/// order (`shape` numbered from 0). For ReadShapes.
ReadResult ReadAllAsFields(std::span<const std::uint8_t> bytes, std::vector<FieldFile>& out);

}  // namespace dorvane::geo::land
