#pragma once
// KML document of one measured field: one placemark with the measurement
// figures as ExtendedData (Chinese labels, part of the file format the
// handheld's users exchange), the boundary as a polygon whose ring is left
// open as the handheld's software always wrote it, and the area style after
// the placemark. Lines end in CR LF; UTF-8 without byte-order mark; numbers
// use '.'; every text is XML-escaped.

#include <string>
#include <string_view>

#include "convert/area_file.h"
#include "convert/area_measure.h"

namespace dorvane {

/// Data entry labels of the KML document, in UTF-8.
namespace kml_label {
inline constexpr std::string_view kFileName = "文件名";
inline constexpr std::string_view kLengthUnitPrice = "长度单价";
inline constexpr std::string_view kLength = "长度";              // harvesting
inline constexpr std::string_view kPerimeter = "周长";           // other methods
inline constexpr std::string_view kLengthTotal = "长度总价";     // harvesting
inline constexpr std::string_view kPerimeterTotal = "周长总价";  // other methods
inline constexpr std::string_view kAreaUnitPrice = "面积单价";
inline constexpr std::string_view kArea = "面积";
inline constexpr std::string_view kAreaTotal = "面积总价";
inline constexpr std::string_view kStartTime = "起始时间";
inline constexpr std::string_view kFinishTime = "完成时间";
inline constexpr std::string_view kCollectionTime = "采集时间";
inline constexpr std::string_view kMethod = "采集方式";
inline constexpr std::string_view kWidth = "作业宽度";
}  // namespace kml_label

/// Labels of the collection methods 0, 1 and 2.
inline constexpr std::string_view kMethodTrack = "轨迹法";
inline constexpr std::string_view kMethodVertex = "折点法";
inline constexpr std::string_view kMethodHarvesting = "收割作业法";

/// Shown for a start or finish time of 0 (not recorded) and for any time
/// the local calendar cannot represent (negative values).
inline constexpr std::string_view kNoTimeText = "_______";

/// Text of the collection-method entry; a method other than 0, 1, 2 shows
/// its number.
std::string MethodLabel(std::int16_t method);

/// The whole document for `area` measured as `m`, under the placemark name
/// `nameUtf8`. Header texts (GBK) are converted to UTF-8 here. Times are
/// shown in the computer's local time zone (reads TZ through localtime_r).
std::string KmlDocument(const AreaFile& area, std::string_view nameUtf8, const AreaMeasure& m);

}  // namespace dorvane
