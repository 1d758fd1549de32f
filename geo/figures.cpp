#include "geo/figures.h"

#include <GeographicLib/Constants.hpp>
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <thread>
#include <vector>

namespace dorvane::geo {
namespace {

constexpr double kFullTurn = 360.0;
constexpr double kHalfTurn = 180.0;

const GeographicLib::Geodesic& Wgs84() {
    return GeographicLib::Geodesic::WGS84();
}

/// Legs within this many degrees of latitude and of longitude are measured
/// with the mid-latitude formula below; longer ones by GeographicLib.
constexpr double kShortLegDegrees = 1e-3;  // about 111 m
/// Above this latitude every leg goes to GeographicLib (the meridians close in).
constexpr double kShortLegMaxLatitude = 85.0;
constexpr double kDegree = std::numbers::pi / 180.0;
/// WGS84's semi-major axis (m) and first eccentricity squared, as GeographicLib has them.
const double kWgs84A = GeographicLib::Constants::WGS84_a();
const double kWgs84E2 = GeographicLib::Constants::WGS84_f() * (2 - GeographicLib::Constants::WGS84_f());

}  // namespace

double LegLength(const GeoPoint& a, const GeoPoint& b) {
    // A track's legs are a few metres: GeographicLib's inverse solution costs
    // two microseconds a leg (a million-point track: half a second). For legs
    // this short the ellipsoid is its osculating sphere at the middle latitude
    // (meridian radius M, normal radius N); the formula's error grows with
    // the cube of the length, under 1e-7 m at 111 m (the geo tests hold it to
    // GeographicLib over the whole band and every latitude it serves).
    double dLon = b.lon - a.lon;
    if (dLon > kHalfTurn) dLon -= kFullTurn;
    if (dLon < -kHalfTurn) dLon += kFullTurn;
    const double dLat = b.lat - a.lat;
    if (std::fabs(dLat) <= kShortLegDegrees && std::fabs(dLon) <= kShortLegDegrees &&
        std::fabs(a.lat) <= kShortLegMaxLatitude && std::fabs(b.lat) <= kShortLegMaxLatitude) {
        const double mid = (a.lat + b.lat) / 2 * kDegree;
        const double s = std::sin(mid);
        const double w2 = 1 - kWgs84E2 * s * s;
        const double n = kWgs84A / std::sqrt(w2);   // prime vertical radius
        const double m = n * (1 - kWgs84E2) / w2;   // meridian radius
        return std::hypot(m * dLat * kDegree, n * std::cos(mid) * dLon * kDegree);
    }
    double s12 = 0;
    Wgs84().Inverse(a.lat, a.lon, b.lat, b.lon, s12);
    return s12;
}

namespace {

double Leg(const GeoPoint& a, const GeoPoint& b) { return LegLength(a, b); }

/// From this many legs on, the legs are measured on several threads.
constexpr std::size_t kParallelLegs = 65536;
/// At most this many threads measure legs.
constexpr unsigned kMaxLegThreads = 4;

// legs[i] = the geodesic distance from pts[i] to pts[i + 1]. Long lines are
// split over threads in blocks; each leg is measured alone, so the result is
// the same however many threads there are.
std::vector<double> Legs(std::span<const GeoPoint> pts) {
    std::vector<double> legs(pts.size() < 2 ? 0 : pts.size() - 1);
    auto measure = [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) legs[i] = Leg(pts[i], pts[i + 1]);
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxLegThreads);
    if (legs.size() < kParallelLegs || threads == 1) {
        measure(0, legs.size());
        return legs;
    }
    std::vector<std::jthread> workers;
    const std::size_t block = (legs.size() + threads - 1) / threads;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back(measure, std::min(legs.size(), t * block),
                             std::min(legs.size(), (t + 1) * block));
    measure(0, std::min(legs.size(), block));
    return legs;  // the workers are joined before the vector is handed out
}

// Segment [begin, end) of a track.
struct Span {
    std::size_t begin;
    std::size_t end;
};

std::vector<Span> Segments(const FieldFile& f) {
    std::vector<Span> out;
    if (f.points.empty()) return out;
    if (f.segmentStarts.empty()) return {{0, f.points.size()}};
    for (std::size_t i = 0; i < f.segmentStarts.size(); ++i) {
        const std::size_t b = f.segmentStarts[i];
        const std::size_t e =
            i + 1 < f.segmentStarts.size() ? f.segmentStarts[i + 1] : f.points.size();
        if (b < e && e <= f.points.size()) out.push_back({b, e});
    }
    return out;
}

void TrackFigures(const FieldFile& f, FieldFigures& r) {
    TrackStats st;
    double length = 0;
    double movingDistance = 0;
    const std::vector<double> legs = Legs(f.points);
    for (const Span& s : Segments(f)) {
        for (std::size_t i = s.begin + 1; i < s.end; ++i) {
            const GeoPoint& a = f.points[i - 1];
            const GeoPoint& b = f.points[i];
            const double d = legs[i - 1];
            length += d;
            if (!a.hasTime || !b.hasTime) continue;
            const double dt = b.time - a.time;
            if (dt <= 0) continue;
            const double v = d / dt;
            if (v > kMaxPlausibleSpeed) {
                ++st.jumps;
                continue;
            }
            st.maxSpeed_mps = std::max(st.maxSpeed_mps, v);
            if (v >= kMovingSpeedThreshold) {
                movingDistance += d;
                st.movingTime_s += dt;
            }
        }
    }
    // Start and end are the earliest and the latest time: a track written out of time order
    // (points merged from two logs, a receiver whose clock jumped back) has its first point
    // later than its last, and a duration from those would be negative. Each step back in
    // time is counted so that the user is told.
    const GeoPoint* previous = nullptr;
    for (const GeoPoint& p : f.points) {
        if (!p.hasTime) continue;
        if (!st.startTime || p.time < *st.startTime) st.startTime = p.time;
        if (!st.endTime || p.time > *st.endTime) st.endTime = p.time;
        if (previous && p.time < previous->time) ++st.timeOrderBreaks;
        previous = &p;
    }
    if (st.startTime && st.endTime) st.duration_s = *st.endTime - *st.startTime;
    if (st.movingTime_s > 0) st.movingAverage_mps = movingDistance / st.movingTime_s;
    r.wgs84.length_m = length;
    r.track = st;
}

std::vector<LonLat> LonLats(std::span<const GeoPoint> pts) {
    std::vector<LonLat> out;
    out.reserve(pts.size());
    for (const GeoPoint& p : pts) out.push_back({p.lon, p.lat});
    return out;
}

// Units of the figures the KML writer shows ("%.6f km", "%.3f sq.m." ...).
constexpr std::string_view kKmSuffix = " km";
constexpr std::string_view kMSuffix = " m";
constexpr std::string_view kKm2Suffix = " sq.km.";
constexpr std::string_view kM2Suffix = " sq.m.";
constexpr double kMetresPerKm = 1000.0;
constexpr double kSquareMetresPerKm2 = 1000000.0;

// "1.500000 km" -> 1500 (metres) with `perKilo` = 1000 for `kilo`, 1 for `unit`; nullopt for
// any other text. A comma as the decimal separator (the Windows program's locale) is taken;
// `normalised` gets the text with '.'.
std::optional<double> ShownValue(std::string_view text, std::string_view kilo,
                                 std::string_view unit, double perKilo, double& quantity,
                                 std::string& normalised) {
    double factor = 0;
    std::string_view suffix;
    if (text.ends_with(kilo)) {
        suffix = kilo;
        factor = perKilo;
    } else if (text.ends_with(unit)) {
        suffix = unit;
        factor = 1;
    } else {
        return std::nullopt;
    }
    text.remove_suffix(suffix.size());
    std::string number(text);
    if (number.find('.') == std::string::npos) std::replace(number.begin(), number.end(), ',', '.');
    double v = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
    if (ec != std::errc() || end != number.data() + number.size() || number.empty() ||
        !std::isfinite(v) || v < 0)
        return std::nullopt;
    quantity = v;
    normalised = number + std::string(suffix);
    return v * factor;
}

// A KML written on download shows the handheld's own figures and totals: they
// are the bill. The unit prices beside them are rounded to 0.01, so a total
// recomputed from them can be several per cent off; what the KML does not
// show stays as computed from its coordinates.
void TakeShownFigures(const HandheldRecord& h, HandheldFigures& hf) {
    double q = 0;
    std::string text;
    if (const auto m = ShownValue(h.lengthText, kKmSuffix, kMSuffix, kMetresPerKm, q, text)) {
        hf.measure.length = *m;
        hf.shown.lengthQuantity = q;
        hf.shown.lengthText = text;
    }
    if (const auto m =
            ShownValue(h.areaText, kKm2Suffix, kM2Suffix, kSquareMetresPerKm2, q, text)) {
        hf.measure.area = *m;
        hf.shown.areaQuantity = q;
        hf.shown.areaText = text;
    }
    if (h.lengthTotal) hf.shown.lengthTotal = *h.lengthTotal;
    if (h.areaTotal) hf.shown.areaTotal = *h.areaTotal;
    hf.totalsAsShown = h.lengthTotal || h.areaTotal;
}

void AreaFiguresOf(const FieldFile& f, FieldFigures& r) {
    const HandheldRecord& h = f.handheld;
    r.method = h.method;
    const bool harvesting = h.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);

    // The handheld's own figures: for its area files from the record, through
    // the very call the KML writer makes; for KML from the same formula over
    // the coordinates read back.
    HandheldFigures hf;
    AreaHeader header;
    if (h.area) {
        hf.measure = MeasureArea(*h.area);
        header = h.area->header;
    } else {
        hf.measure = MeasurePoints(LonLats(f.points), harvesting, h.workWidth);
        header.lengthUnitPrice = h.lengthUnitPrice;
        header.areaUnitPrice = h.areaUnitPrice;
    }
    hf.shown = ShowFigures(header, hf.measure);
    if (!h.area) TakeShownFigures(h, hf);
    hf.lengthPerKm = hf.shown.lengthText.ends_with(kKmSuffix);
    hf.areaPerKm2 = hf.shown.areaText.ends_with(kKm2Suffix);
    hf.area = InUnits(hf.measure.area);
    r.handheld = hf;

    // WGS84, measured as the handheld measures: open line for harvesting and
    // for two points, closed ring otherwise.
    const std::size_t n = f.points.size();
    if (n < 2) {
        // nothing to measure
    } else if (harvesting || n == 2) {
        r.wgs84.length_m = GeodesicLength(f.points);
        if (harvesting && h.workWidth) r.wgs84.area_m2 = *h.workWidth * r.wgs84.length_m;
    } else {
        const RingFigures ring = GeodesicRing(f.points);
        r.wgs84.length_m = ring.perimeter_m;
        r.wgs84.area_m2 = ring.area_m2;
        // Holes (a pond, a farmyard inside the boundary) are not field: their area goes.
        for (const auto& hole : f.holes) {
            if (hole.size() < 3) continue;
            r.wgs84.area_m2 -= GeodesicRing(hole).area_m2;
        }
        r.wgs84.area_m2 = std::max(0.0, r.wgs84.area_m2);
    }
}

std::string FormatTime(double seconds, bool local) {
    const std::time_t t = static_cast<std::time_t>(std::floor(seconds));
    std::tm tm{};
    if (local ? !localtime_r(&t, &tm) : !gmtime_r(&t, &tm)) return {};
    char buf[64];
    if (std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm) == 0) return {};
    std::string out = buf;
    if (!local) return out + "Z";
    const long off = tm.tm_gmtoff;
    const int a = static_cast<int>((off < 0 ? -off : off) % 86400);
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", off < 0 ? '-' : '+', a / 3600, (a / 60) % 60);
    return out + zone;
}

}  // namespace

AreaUnits InUnits(double m2) {
    return {m2, m2 / kSquareMetresPerHectare, m2 / kSquareMetresPerMu, m2 / kSquareMetresPerAcre};
}

double GeodesicLength(std::span<const GeoPoint> pts) {
    double s = 0;
    for (const double d : Legs(pts)) s += d;
    return s;
}

RingFigures GeodesicRing(std::span<const GeoPoint> pts) {
    GeographicLib::PolygonArea poly(Wgs84());
    for (const GeoPoint& p : pts) poly.AddPoint(p.lat, p.lon);
    double perimeter = 0;
    double area = 0;
    // Signed area (counter-clockwise positive) keeps small clockwise fields
    // small instead of "the rest of the Earth"; its magnitude is the area.
    poly.Compute(false, true, perimeter, area);
    return {perimeter, std::fabs(area)};
}

BBox BoundingBox(std::span<const GeoPoint> pts) {
    BBox b;
    if (pts.empty()) return b;
    double minLon = pts[0].lon, maxLon = pts[0].lon;
    // The same longitudes on 0..360, where a line across the antimeridian is
    // continuous.
    auto wrap = [](double lon) { return lon < 0 ? lon + kFullTurn : lon; };
    double minW = wrap(pts[0].lon), maxW = minW;
    b.minLat = b.maxLat = pts[0].lat;
    for (const GeoPoint& p : pts) {
        minLon = std::min(minLon, p.lon);
        maxLon = std::max(maxLon, p.lon);
        const double w = wrap(p.lon);
        minW = std::min(minW, w);
        maxW = std::max(maxW, w);
        b.minLat = std::min(b.minLat, p.lat);
        b.maxLat = std::max(b.maxLat, p.lat);
    }
    if (maxW - minW < maxLon - minLon) {
        auto unwrap = [](double w) { return w > kHalfTurn ? w - kFullTurn : w; };
        b.minLon = unwrap(minW);
        b.maxLon = unwrap(maxW);
    } else {
        b.minLon = minLon;
        b.maxLon = maxLon;
    }
    b.empty = false;
    return b;
}

FieldFigures ComputeFigures(const FieldFile& f, double receiverAccuracy_m) {
    FieldFigures r;
    r.receiverAccuracy_m = receiverAccuracy_m;
    r.kind = f.kind;
    r.points = f.points.size();
    r.bbox = BoundingBox(f.points);
    if (f.kind == FieldKind::kTrack)
        TrackFigures(f, r);
    else
        AreaFiguresOf(f, r);
    if (f.kind == FieldKind::kArea &&
        f.handheld.method != static_cast<std::int16_t>(AreaMethod::kHarvesting)) {
        r.holes = f.holes.size();
        r.validity = CheckValidity(f, r.wgs84.area_m2);
        r.boundary_m = BoundaryLength(f);
        r.areaTolerance_m2 = AreaTolerance(r.boundary_m, receiverAccuracy_m);
    }
    r.wgs84.area = InUnits(r.wgs84.area_m2);
    return r;
}

std::string IsoUtcText(double seconds) {
    return FormatTime(seconds, false);
}
std::string IsoLocalText(double seconds) {
    return FormatTime(seconds, true);
}

}  // namespace dorvane::geo
