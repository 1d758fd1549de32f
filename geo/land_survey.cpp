#include "geo/land_survey.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "geo/figures.h"

namespace dorvane::geo {
namespace {

/// CGCS2000 geographic (longitude/latitude on its ellipsoid).
constexpr int kEpsgCgcs2000 = 4490;
// EPSG's CGCS2000 Gauss-Krueger codes, in runs of consecutive zones:
/// 6-degree zones 13..23 with the zone in the easting (4491..4501), then the
/// same zones without it (4502..4512).
constexpr int kEpsgGk6Prefixed = 4491;
constexpr int kEpsgGk6Plain = 4502;
constexpr int kGk6FirstZone = 13;
constexpr int kGk6LastZone = 23;
/// 3-degree zones 25..45 with the zone in the easting (4513..4533), then the
/// same zones without it (4534..4554).
constexpr int kEpsgGk3Prefixed = 4513;
constexpr int kEpsgGk3Plain = 4534;
constexpr int kGk3FirstZone = 25;
constexpr int kGk3LastZone = 45;

const GeographicLib::Geodesic& Cgcs2000() {
    static const GeographicLib::Geodesic g(kCgcs2000A, 1 / kCgcs2000InverseF);
    return g;
}

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* t) const {
        OGRCoordinateTransformation::DestroyCT(t);
    }
};
using Transform = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

bool BuildZone(const GkZone& zone, OGRSpatialReference& srs) {
    const int epsg = zone.Epsg();
    const OGRErr e = epsg ? srs.importFromEPSG(epsg)
                          : srs.importFromProj4(zone.ProjDefinition().c_str());
    if (e != OGRERR_NONE) return false;
    // Easting first, as GIS programs and our points (longitude first) have it.
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return true;
}

bool BuildGeographic(OGRSpatialReference& srs) {
    if (srs.importFromEPSG(kEpsgCgcs2000) != OGRERR_NONE) return false;
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return true;
}

}  // namespace

Cgcs2000Figures Cgcs2000Ring(std::span<const GeoPoint> points) {
    GeographicLib::PolygonArea poly(Cgcs2000());
    for (const GeoPoint& p : points) poly.AddPoint(p.lat, p.lon);
    double perimeter = 0;
    double area = 0;
    // Signed (counter-clockwise positive): a small clockwise field stays small.
    poly.Compute(false, true, perimeter, area);
    return {perimeter, std::fabs(area)};
}

double Cgcs2000Length(std::span<const GeoPoint> points) {
    double s = 0;
    for (std::size_t i = 1; i < points.size(); ++i) {
        double s12 = 0;
        Cgcs2000().Inverse(points[i - 1].lat, points[i - 1].lon, points[i].lat, points[i].lon, s12);
        s += s12;
    }
    return s;
}

Cgcs2000Figures ComputeCgcs2000(const FieldFile& f) {
    Cgcs2000Figures r;
    if (f.kind == FieldKind::kTrack) {
        const std::size_t n = f.points.size();
        for (std::size_t s = 0; s < f.segmentStarts.size(); ++s) {
            const std::size_t b = f.segmentStarts[s];
            const std::size_t e = s + 1 < f.segmentStarts.size() ? f.segmentStarts[s + 1] : n;
            if (b < e && e <= n) r.length_m += Cgcs2000Length(std::span(f.points).subspan(b, e - b));
        }
        if (f.segmentStarts.empty()) r.length_m = Cgcs2000Length(f.points);
        return r;
    }
    const bool harvesting =
        f.handheld.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
    if (f.points.size() < 2) return r;
    if (harvesting || f.points.size() == 2) {
        r.length_m = Cgcs2000Length(f.points);
        if (harvesting && f.handheld.workWidth) r.area_m2 = *f.handheld.workWidth * r.length_m;
        return r;
    }
    // Holes are not land: taken out as from the WGS84 area.
    Cgcs2000Figures whole = Cgcs2000Ring(f.points);
    for (const std::vector<GeoPoint>& hole : f.holes) whole.area_m2 -= Cgcs2000Ring(hole).area_m2;
    return whole;
}

int Gk3ZoneOf(double lon) {
    return static_cast<int>(std::floor((lon + kGk3Width / 2.0) / kGk3Width));
}

int Gk6ZoneOf(double lon) {
    return static_cast<int>(std::floor(lon / kGk6Width)) + 1;
}

int GkZone::Epsg() const {
    if (width == kGk3Width && zone >= kGk3FirstZone && zone <= kGk3LastZone)
        return (zoneInEasting ? kEpsgGk3Prefixed : kEpsgGk3Plain) + zone - kGk3FirstZone;
    if (width == kGk6Width && zone >= kGk6FirstZone && zone <= kGk6LastZone)
        return (zoneInEasting ? kEpsgGk6Prefixed : kEpsgGk6Plain) + zone - kGk6FirstZone;
    return 0;
}

std::string GkZone::ProjDefinition() const {
    const double falseEasting =
        kGkFalseEasting + (zoneInEasting ? zone * kGkZonePrefixFactor : 0.0);
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "+proj=tmerc +lat_0=0 +lon_0=%.17g +k=1 +x_0=%.17g +y_0=0 +a=%.17g "
                  "+rf=%.17g +units=m +no_defs +type=crs",
                  CentralMeridian(), falseEasting, kCgcs2000A, kCgcs2000InverseF);
    return buf;
}

std::optional<GkZone> GkZoneOfEpsg(int epsg) {
    auto run = [&](int first, int width, int firstZone, int lastZone,
                   bool prefixed) -> std::optional<GkZone> {
        if (epsg < first || epsg > first + lastZone - firstZone) return std::nullopt;
        return GkZone{width, firstZone + epsg - first, prefixed};
    };
    if (auto z = run(kEpsgGk6Prefixed, kGk6Width, kGk6FirstZone, kGk6LastZone, true)) return z;
    if (auto z = run(kEpsgGk6Plain, kGk6Width, kGk6FirstZone, kGk6LastZone, false)) return z;
    if (auto z = run(kEpsgGk3Prefixed, kGk3Width, kGk3FirstZone, kGk3LastZone, true)) return z;
    return run(kEpsgGk3Plain, kGk3Width, kGk3FirstZone, kGk3LastZone, false);
}

std::optional<std::vector<GkPoint>> ToGk(const GkZone& zone, std::span<const GeoPoint> points) {
    OGRSpatialReference geo;
    OGRSpatialReference grid;
    if (!BuildGeographic(geo) || !BuildZone(zone, grid)) return std::nullopt;
    Transform t(OGRCreateCoordinateTransformation(&geo, &grid));
    if (!t) return std::nullopt;
    std::vector<double> xs;
    std::vector<double> ys;
    xs.reserve(points.size());
    ys.reserve(points.size());
    for (const GeoPoint& p : points) {
        xs.push_back(p.lon);
        ys.push_back(p.lat);
    }
    if (!points.empty() && !t->Transform(static_cast<int>(xs.size()), xs.data(), ys.data()))
        return std::nullopt;
    std::vector<GkPoint> out;
    out.reserve(points.size());
    for (std::size_t i = 0; i < xs.size(); ++i) out.push_back({ys[i], xs[i]});
    return out;
}

std::optional<std::vector<GeoPoint>> FromGk(const GkZone& zone, std::span<const GkPoint> points) {
    OGRSpatialReference geo;
    OGRSpatialReference grid;
    if (!BuildGeographic(geo) || !BuildZone(zone, grid)) return std::nullopt;
    Transform t(OGRCreateCoordinateTransformation(&grid, &geo));
    if (!t) return std::nullopt;
    std::vector<double> xs;
    std::vector<double> ys;
    for (const GkPoint& p : points) {
        xs.push_back(p.y);
        ys.push_back(p.x);
    }
    if (!points.empty() && !t->Transform(static_cast<int>(xs.size()), xs.data(), ys.data()))
        return std::nullopt;
    std::vector<GeoPoint> out(points.size());
    for (std::size_t i = 0; i < xs.size(); ++i) {
        out[i].lon = xs[i];
        out[i].lat = ys[i];
    }
    return out;
}

double PlaneArea(std::span<const GkPoint> ring) {
    return std::fabs(SignedPlaneArea(ring));
}

std::vector<std::size_t> NumberingOrder(std::span<const GkPoint> ring, bool clockwise) {
    const std::size_t n = ring.size();
    std::vector<std::size_t> order;
    if (n == 0) return order;
    double north = ring[0].x;
    double west = ring[0].y;
    for (const GkPoint& p : ring) {
        north = std::max(north, p.x);
        west = std::min(west, p.y);
    }
    std::size_t start = 0;
    double best = std::hypot(ring[0].x - north, ring[0].y - west);
    for (std::size_t i = 1; i < n; ++i) {
        const double d = std::hypot(ring[i].x - north, ring[i].y - west);
        if (d < best) {
            best = d;
            start = i;
        }
    }
    const bool isClockwise = SignedPlaneArea(ring) < 0;
    const bool forward = isClockwise == clockwise;
    order.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
        order.push_back(forward ? (start + k) % n : (start + n - k) % n);
    return order;
}

double SignedPlaneArea(std::span<const GkPoint> ring) {
    if (ring.size() < 3) return 0;
    // Shoelace about the first point: eastings of 39 500 000 m would lose
    // millimetres to cancellation if taken whole.
    const GkPoint o = ring[0];
    double twice = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const GkPoint& a = ring[i];
        const GkPoint& b = ring[(i + 1) % ring.size()];
        // East (y) across, north (x) up.
        twice += (a.y - o.y) * (b.x - o.x) - (b.y - o.y) * (a.x - o.x);
    }
    return twice / 2;
}

std::optional<Gk3Figures> ComputeGk3(std::span<const GeoPoint> ring) {
    if (ring.size() < 3) return std::nullopt;
    const BBox box = BoundingBox(ring);
    double centre = (box.minLon + box.maxLon) / 2;
    if (box.minLon > box.maxLon) centre = std::remainder(centre + 180.0, 360.0);
    GkZone zone{kGk3Width, Gk3ZoneOf(centre), false};
    const auto grid = ToGk(zone, ring);
    if (!grid) return std::nullopt;
    return Gk3Figures{zone.zone, zone.CentralMeridian(), PlaneArea(*grid)};
}

std::optional<Gk3Figures> ComputeGk3(const FieldFile& f) {
    auto figures = ComputeGk3(std::span<const GeoPoint>(f.points));
    if (!figures) return figures;
    const GkZone zone{kGk3Width, figures->zone, false};
    for (const std::vector<GeoPoint>& hole : f.holes)
        if (const auto grid = ToGk(zone, hole)) figures->area_m2 -= PlaneArea(*grid);
    return figures;
}

}  // namespace dorvane::geo
