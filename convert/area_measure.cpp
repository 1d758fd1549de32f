#include "convert/area_measure.h"

#include <cmath>
#include <vector>

#include "convert/xml_text.h"

namespace dorvane {
namespace {

/// Degrees to radians as the handheld's firmware rounds it.
constexpr double kRadiansPerDegree = 0.01745329252;
/// Nautical miles per radian of arc, and metres per nautical mile.
constexpr double kNauticalMilesPerRadian = 3437.74677078;
constexpr double kMetresPerNauticalMile = 1852.0;
/// Below this both atan2 arguments count as zero (coincident points).
constexpr double kAngleEpsilon = 1e-7;
constexpr double kPi = 3.14159265358979;
constexpr double kDegreesPerHalfTurn = 180.0;
/// Metres per arc second on the equator, and arc seconds per degree.
constexpr double kMetresPerArcSecond = 30.9220807759;
constexpr double kArcSecondsPerDegree = 3600.0;

constexpr double kMetresPerKm = 1000.0;
constexpr double kSquareMetresPerKm2 = 1000000.0;
constexpr int kLengthDecimalsM = 2;
constexpr int kLengthDecimalsKm = 6;
constexpr int kAreaDecimalsM2 = 3;
constexpr int kAreaDecimalsKm2 = 6;

}  // namespace

double Distance(double lon1, double lat1, double lon2, double lat2) {
    const double phi1 = lat1 * kRadiansPerDegree;
    const double phi2 = lat2 * kRadiansPerDegree;
    const double dLambda = (lon2 - lon1) * kRadiansPerDegree;
    const double a = std::cos(phi2) * std::sin(dLambda);
    const double b =
        std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(dLambda);
    const double y = std::sqrt(a * a + b * b);
    const double x =
        std::sin(phi1) * std::sin(phi2) + std::cos(phi1) * std::cos(phi2) * std::cos(dLambda);
    const double angle =
        (std::fabs(y) > kAngleEpsilon || std::fabs(x) > kAngleEpsilon) ? std::atan2(y, x) : 0.0;
    return angle * kNauticalMilesPerRadian * kMetresPerNauticalMile;
}

AreaMeasure MeasurePoints(std::span<const LonLat> pts, bool harvesting,
                          std::optional<double> workWidth) {
    AreaMeasure m;
    const std::size_t n = pts.size();
    auto x = [&](std::size_t i) { return pts[i].lon; };
    auto y = [&](std::size_t i) { return pts[i].lat; };
    auto dist = [&](std::size_t i, std::size_t j) { return Distance(x(i), y(i), x(j), y(j)); };

    if (n < 2) return m;
    if (n == 2) {
        m.length = dist(0, 1);
        if (harvesting && workWidth) m.area = m.length * *workWidth;
        return m;
    }
    double s = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        m.length += dist(i, i + 1);
        s += x(i + 1) * y(i) - y(i + 1) * x(i);
    }
    if (harvesting) {
        m.area = workWidth ? *workWidth * m.length : 0.0;
        return m;
    }
    m.length += dist(0, n - 1);
    const double t = y(n - 1) * x(0) - x(n - 1) * y(0);
    const double scale =
        kMetresPerArcSecond * kMetresPerArcSecond * kArcSecondsPerDegree * kArcSecondsPerDegree;
    m.area = std::fabs(std::cos(y(0) * kPi / kDegreesPerHalfTurn) * 0.5 * (s + t) * scale);
    return m;
}

AreaMeasure MeasureArea(const AreaFile& area) {
    std::vector<LonLat> pts;
    pts.reserve(area.points.size());
    for (const AreaPoint& p : area.points)
        pts.push_back({static_cast<double>(p.longitude), static_cast<double>(p.latitude)});
    const bool harvesting =
        area.header.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
    std::optional<double> width;
    if (area.work) width = static_cast<double>(area.work->width);
    return MeasurePoints(pts, harvesting, width);
}

AreaFigures ShowFigures(const AreaHeader& header, const AreaMeasure& m) {
    AreaFigures f;
    if (m.length > kMetresPerKm) {
        f.lengthQuantity = m.length / kMetresPerKm;
        f.lengthText = FixedText(f.lengthQuantity, kLengthDecimalsKm) + " km";
    } else {
        f.lengthQuantity = m.length;
        f.lengthText = FixedText(f.lengthQuantity, kLengthDecimalsM) + " m";
    }
    if (m.area > kSquareMetresPerKm2) {
        f.areaQuantity = m.area / kSquareMetresPerKm2;
        f.areaText = FixedText(f.areaQuantity, kAreaDecimalsKm2) + " sq.km.";
    } else {
        f.areaQuantity = m.area;
        f.areaText = FixedText(f.areaQuantity, kAreaDecimalsM2) + " sq.m.";
    }
    f.lengthTotal = static_cast<double>(header.lengthUnitPrice) * f.lengthQuantity;
    f.areaTotal = static_cast<double>(header.areaUnitPrice) * f.areaQuantity;
    return f;
}

}  // namespace dorvane
