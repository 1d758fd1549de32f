#pragma once
// Measuring a field from its area record: length or perimeter on a sphere,
// area by the shoelace formula scaled at the first point's latitude, and the
// figures and prices as the KML data entries show them. Pure, thread-safe.

#include <optional>
#include <span>
#include <string>

#include "convert/area_file.h"

namespace dorvane {

struct AreaMeasure {
    double length = 0;  ///< metres: open line for harvesting, closed ring otherwise
    double area = 0;    ///< square metres
};

/// Great-circle distance in metres between two points given in degrees, in
/// the order longitude 1, latitude 1, longitude 2, latitude 2.
double Distance(double lon1, double lat1, double lon2, double lat2);

/// One boundary point in degrees.
struct LonLat {
    double lon = 0;
    double lat = 0;
};

/// The handheld's measurement of a boundary: the one formula behind the KML
/// figures. `harvesting` (method 2) measures the open line and takes
/// `workWidth` x length as area (0 without a width); otherwise the ring is
/// closed. Fewer than 2 points: 0, 0; exactly 2: the distance, area 0 (or
/// width x distance for harvesting).
AreaMeasure MeasurePoints(std::span<const LonLat> points, bool harvesting,
                          std::optional<double> workWidth);

/// MeasurePoints over the kept points of an area record, widened from float
/// to double, with the header's method and the work record's width.
AreaMeasure MeasureArea(const AreaFile& area);

/// Figures as shown and priced.
struct AreaFigures {
    std::string lengthText;     ///< "%.2f m" up to 1000 m, else "%.6f km"
    double lengthQuantity = 0;  ///< the number shown (m or km)
    std::string areaText;       ///< "%.3f sq.m." up to 1e6 m², else "%.6f sq.km."
    double areaQuantity = 0;
    double lengthTotal = 0;  ///< length unit price x lengthQuantity
    double areaTotal = 0;    ///< area unit price x areaQuantity
};

/// Shown figures for `m` with the header's unit prices. Numbers use '.'.
AreaFigures ShowFigures(const AreaHeader& header, const AreaMeasure& m);

}  // namespace dorvane
