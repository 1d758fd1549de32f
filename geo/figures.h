#pragma once
// Figures of a track or field: geodesic length, perimeter and area on the
// WGS84 ellipsoid (GeographicLib), and beside them the handheld's own figures
// (sphere, shoelace scaled at the first point's latitude) computed by the very
// function the KML writer uses, with its texts and prices. Pure, thread-safe.

#include <cstdint>
#include <optional>
#include <string>

#include "convert/area_measure.h"
#include "geo/field_file.h"
#include "geo/validity.h"

namespace dorvane::geo {

/// 1 mu = 10000/15 m² (the Chinese land unit contractors bill in).
inline constexpr double kSquareMetresPerMu = 10000.0 / 15.0;
inline constexpr double kSquareMetresPerHectare = 10000.0;
/// International acre: 4046.8564224 m² exactly (66 ft x 660 ft).
inline constexpr double kSquareMetresPerAcre = 4046.8564224;
/// Legs faster than this are GPS jumps: left out of the speeds (m/s).
inline constexpr double kMaxPlausibleSpeed = 100.0;
/// Legs slower than this count as standing still for the moving average
/// (m/s; 0.5 m/s = 1.8 km/h, below walking pace and above a standing
/// receiver's drift).
inline constexpr double kMovingSpeedThreshold = 0.5;

struct AreaUnits {
    double m2 = 0;
    double ha = 0;
    double mu = 0;
    double acre = 0;
};
AreaUnits InUnits(double squareMetres);

/// Bounding box in degrees. A box that crosses the antimeridian has
/// minLon > maxLon (west edge east of the east edge, as in GeoJSON).
struct BBox {
    double minLon = 0;
    double minLat = 0;
    double maxLon = 0;
    double maxLat = 0;
    bool empty = true;
};

struct Wgs84Figures {
    /// Track: geodesic length of its segments. Area: perimeter of the closed
    /// ring, or the open line for harvesting work (method 2) and for a field
    /// of exactly two points, as the handheld measures them.
    double length_m = 0;
    /// Area: geodesic area of the ring (absolute), or working width x length
    /// for harvesting work (0 without a width). Track: 0.
    double area_m2 = 0;
    AreaUnits area;  ///< area_m2 in every unit
};

/// The handheld's figures exactly as its KML shows them.
struct HandheldFigures {
    AreaMeasure measure;  ///< length and area on the handheld's sphere
    AreaFigures shown;    ///< texts, shown quantities and total prices
    AreaUnits area;       ///< measure.area in every unit
    /// The handheld prices per unit shown: the length unit price is per km
    /// above 1000 m (else per m), the area unit price per km² above 1 km²
    /// (else per m²).
    bool lengthPerKm = false;
    bool areaPerKm2 = false;
    /// The totals are the ones a KML showed (its unit prices are rounded to
    /// two decimals, so a total recomputed from them would not be the bill).
    bool totalsAsShown = false;
};

struct TrackStats {
    std::optional<double> startTime;  ///< earliest timed point, s since 1970 UTC
    std::optional<double> endTime;    ///< latest timed point
    double duration_s = 0;            ///< endTime - startTime (0 without times; never negative)
    /// Timed points whose time is earlier than the timed point before them
    /// ("times out of order: N"); 0 for a track in time order.
    std::size_t timeOrderBreaks = 0;
    /// Distance over time of the legs moving at kMovingSpeedThreshold or
    /// faster (jumps left out); 0 when no leg moved.
    double movingAverage_mps = 0;
    double movingTime_s = 0;
    double maxSpeed_mps = 0;  ///< fastest plausible leg
    std::size_t jumps = 0;    ///< legs faster than kMaxPlausibleSpeed, left out
};

struct FieldFigures {
    FieldKind kind = FieldKind::kTrack;
    std::size_t points = 0;
    std::optional<std::int16_t> method;  ///< areas: the collection method, when known
    BBox bbox;
    Wgs84Figures wgs84;
    std::optional<HandheldFigures> handheld;  ///< areas only
    std::optional<TrackStats> track;          ///< tracks only
    /// Areas: holes subtracted from wgs84.area_m2.
    std::size_t holes = 0;
    /// Areas (not harvesting lines): whether the boundary can be measured.
    std::optional<Validity> validity;
    /// Areas: the whole boundary (ring and holes) on WGS84, and the band of the
    /// area for the receiver accuracy the figures were computed with.
    double boundary_m = 0;
    double areaTolerance_m2 = 0;
    double receiverAccuracy_m = kDefaultReceiverAccuracy_m;
};

/// Every figure of `f`. Linear in the number of points (one geodesic inverse
/// problem per leg); a track of 65 536 legs or more has its legs measured
/// on up to 4 threads (the caller waits for them; the figures are the same
/// on any number of threads). 1 000 000 points take well under a second.
/// `receiverAccuracy_m` draws the area's band (AreaTolerance).
FieldFigures ComputeFigures(const FieldFile& f,
                            double receiverAccuracy_m = kDefaultReceiverAccuracy_m);

/// Geodesic length of an open line on WGS84 (metres).
/// The length of one leg on WGS84 (m): GeographicLib's geodesic, or for legs
/// within about 111 m away from the poles a mid-latitude formula within
/// 1e-7 m of it. Every length of a line is a sum of these.
double LegLength(const GeoPoint& a, const GeoPoint& b);
double GeodesicLength(std::span<const GeoPoint> points);

/// Geodesic perimeter and absolute area of the closed ring through `points`
/// on WGS84 (GeographicLib::PolygonArea); a repeated closing point changes
/// nothing.
struct RingFigures {
    double perimeter_m = 0;
    double area_m2 = 0;
};
RingFigures GeodesicRing(std::span<const GeoPoint> points);

BBox BoundingBox(std::span<const GeoPoint> points);

/// "2024-05-01T08:30:00Z" (UTC), whole seconds.
std::string IsoUtcText(double seconds);
/// "2024-05-01T16:30:00+08:00" in the computer's local time zone (TZ).
std::string IsoLocalText(double seconds);

}  // namespace dorvane::geo
