#pragma once
// The figures of a file as label/value lines in the user's language, as
// `dorvane-cli info` prints them and the field view lists them beside the
// map. Reads the process-wide string table: call on the thread that owns it
// (the GUI thread, or the CLI's only thread).

#include <string>
#include <vector>

#include "geo/field_file.h"
#include "geo/figures.h"

namespace dorvane::geo {

struct FigureLine {
    std::string label;  ///< empty: the value continues the line above (another unit)
    std::string value;
};

/// Every figure of `f`: kind, name, points, extent; for a track its length,
/// times, duration and speeds; for a field its method, the WGS84 and the
/// handheld's length and area (in m², ha, mu, acres), prices and the
/// difference between both. Numbers use '.'.
std::vector<FigureLine> FigureLines(const FieldFile& f, const FieldFigures& r);

/// The user-language text of a read failure, with its English detail.
std::string ReadErrorMessage(const ReadResult& r);

/// A unit price with the decimals it has, at least two and at most four
/// ("0.09", "0.075", "1.125"): the handheld's "%.2f" would show 0.075 as 0.08.
std::string UnitPriceText(double price);

/// "%.2f m" below 1 km, "%.3f km" from there.
std::string LengthText(double metres);
/// "9 485 m² ± 491 m²": an area with its band, whole square metres grouped
/// by thousands.
std::string ToleranceText(double area_m2, double tolerance_m2);
/// "14.23 ± 0.74 mu": the same in mu to two decimals (unit in the user's
/// language), the line under it, as the area's other units are.
std::string ToleranceMuText(double area_m2, double tolerance_m2);

/// "h:mm:ss".
std::string DurationText(double seconds);

}  // namespace dorvane::geo
