#include "geo/validity.h"

#include <cpl_error.h>
#include <ogr_geometry.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "geo/figures.h"
#include "geo/gdal_scope.h"
#include "geo/ogr_area.h"

namespace dorvane::geo {
namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
/// Metres per degree of latitude on a sphere of the Earth's mean radius; the
/// local plane below only decides where lines cross, never how long they are.
constexpr double kMetresPerDegree = 6371008.8 * kDegree;

struct Xy {
    double x = 0;
    double y = 0;
};

// Points of a ring on a plane tangent at `origin` (equirectangular): good to
// a fraction of a millimetre over a field, enough to tell crossings.
struct LocalPlane {
    double lon0 = 0;
    double lat0 = 0;
    double cosLat = 1;
    explicit LocalPlane(const GeoPoint& origin)
        : lon0(origin.lon), lat0(origin.lat), cosLat(std::cos(origin.lat * kDegree)) {}
    Xy To(const GeoPoint& p) const {
        double dLon = p.lon - lon0;
        if (dLon > 180) dLon -= 360;
        if (dLon < -180) dLon += 360;
        return {dLon * cosLat * kMetresPerDegree, (p.lat - lat0) * kMetresPerDegree};
    }
    GeoPoint From(const Xy& q) const {
        GeoPoint p;
        p.lat = lat0 + q.y / kMetresPerDegree;
        p.lon = lon0 + (cosLat > 0 ? q.x / (cosLat * kMetresPerDegree) : 0);
        if (p.lon > 180) p.lon -= 360;
        if (p.lon < -180) p.lon += 360;
        return p;
    }
};

bool SamePlace(const GeoPoint& a, const GeoPoint& b) {
    return a.lon == b.lon && a.lat == b.lat;
}

// The ring without points that repeat the one before them (the closing
// point too).
std::vector<GeoPoint> WithoutRepeats(const std::vector<GeoPoint>& ring) {
    std::vector<GeoPoint> out;
    out.reserve(ring.size());
    for (const GeoPoint& p : ring)
        if (out.empty() || !SamePlace(out.back(), p)) out.push_back(p);
    while (out.size() >= 2 && SamePlace(out.front(), out.back())) out.pop_back();
    return out;
}

double Cross(const Xy& o, const Xy& a, const Xy& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

struct Edge {
    Xy a, b;
    double minX = 0, maxX = 0;
    std::size_t ring = 0;   // which ring (0 the boundary, then the holes)
    std::size_t index = 0;  // edge index within its ring
    std::size_t ringEdges = 0;
};

bool Adjacent(const Edge& e, const Edge& f) {
    if (e.ring != f.ring) return false;
    const std::size_t n = e.ringEdges;
    const std::size_t i = e.index, j = f.index;
    return i + 1 == j || j + 1 == i || (i == 0 && j == n - 1) || (j == 0 && i == n - 1);
}

bool OnSegment(const Xy& p, const Xy& a, const Xy& b) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

// Where segments e and f meet (cross, touch or overlap), if they do.
std::optional<Xy> Meet(const Edge& e, const Edge& f) {
    const double d1 = Cross(f.a, f.b, e.a);
    const double d2 = Cross(f.a, f.b, e.b);
    const double d3 = Cross(e.a, e.b, f.a);
    const double d4 = Cross(e.a, e.b, f.b);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) {
        const double t = d1 / (d1 - d2);
        return Xy{e.a.x + t * (e.b.x - e.a.x), e.a.y + t * (e.b.y - e.a.y)};
    }
    if (d1 == 0 && OnSegment(e.a, f.a, f.b)) return e.a;
    if (d2 == 0 && OnSegment(e.b, f.a, f.b)) return e.b;
    if (d3 == 0 && OnSegment(f.a, e.a, e.b)) return f.a;
    if (d4 == 0 && OnSegment(f.b, e.a, e.b)) return f.b;
    return std::nullopt;
}

// Every place where two edges that are not neighbours meet: edges sorted by
// their west end, each compared only with those starting before its east end
// (a field's edges are short against its width, so this is near n log n).
std::vector<Xy> Crossings(std::vector<Edge>& edges) {
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.minX < b.minX; });
    std::vector<Xy> out;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const Edge& e = edges[i];
        const double eMinY = std::min(e.a.y, e.b.y), eMaxY = std::max(e.a.y, e.b.y);
        for (std::size_t j = i + 1; j < edges.size() && edges[j].minX <= e.maxX; ++j) {
            const Edge& f = edges[j];
            if (std::max(f.a.y, f.b.y) < eMinY || std::min(f.a.y, f.b.y) > eMaxY) continue;
            if (Adjacent(e, f)) {
                // Neighbours meet at their shared point; they cross only when
                // one folds back over the other (collinear, overlapping).
                continue;
            }
            if (const auto p = Meet(e, f)) out.push_back(*p);
        }
    }
    return out;
}

void AddEdges(const std::vector<GeoPoint>& ring, std::size_t ringNo, const LocalPlane& plane,
              std::vector<Edge>& edges) {
    const std::size_t n = ring.size();
    if (n < 3) return;
    for (std::size_t i = 0; i < n; ++i) {
        Edge e;
        e.a = plane.To(ring[i]);
        e.b = plane.To(ring[(i + 1) % n]);
        e.minX = std::min(e.a.x, e.b.x);
        e.maxX = std::max(e.a.x, e.b.x);
        e.ring = ringNo;
        e.index = i;
        e.ringEdges = n;
        edges.push_back(e);
    }
}

std::unique_ptr<OGRLinearRing> OgrRing(const std::vector<GeoPoint>& ring) {
    auto r = std::make_unique<OGRLinearRing>();
    r->setNumPoints(static_cast<int>(ring.size() + 1), FALSE);
    for (std::size_t i = 0; i < ring.size(); ++i)
        r->setPoint(static_cast<int>(i), ring[i].lon, ring[i].lat);
    if (!ring.empty()) r->setPoint(static_cast<int>(ring.size()), ring[0].lon, ring[0].lat);
    return r;
}

std::vector<GeoPoint> RingPoints(const OGRLinearRing& r) {
    std::vector<GeoPoint> pts;
    const int n = r.getNumPoints();
    pts.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i) {
        GeoPoint p;
        p.lon = r.getX(i);
        p.lat = r.getY(i);
        pts.push_back(p);
    }
    return pts;
}

double PolygonArea(const OGRPolygon& poly) {
    const OGRLinearRing* outer = poly.getExteriorRing();
    if (!outer) return 0;
    double a = GeodesicRing(RingPoints(*outer)).area_m2;
    for (int i = 0; i < poly.getNumInteriorRings(); ++i)
        a -= GeodesicRing(RingPoints(*poly.getInteriorRing(i))).area_m2;
    return std::max(0.0, a);
}

}  // namespace

double GeodesicAreaOf(const OGRGeometry& g) {
    switch (wkbFlatten(g.getGeometryType())) {
        case wkbPolygon:
            return PolygonArea(*g.toPolygon());
        case wkbMultiPolygon:
        case wkbGeometryCollection: {
            double a = 0;
            for (const OGRGeometry* part : *g.toGeometryCollection()) a += GeodesicAreaOf(*part);
            return a;
        }
        default:
            return 0;  // lines and points left by MakeValid have no area
    }
}

Validity CheckValidity(const FieldFile& f, std::optional<double> rawArea_m2) {
    Validity v;
    if (f.kind != FieldKind::kArea) return v;
    for (std::size_t i = 1; i < f.points.size(); ++i)
        if (SamePlace(f.points[i], f.points[i - 1])) ++v.repeatedPoints;
    const std::vector<GeoPoint> ring = WithoutRepeats(f.points);
    {
        std::vector<GeoPoint> distinct = ring;
        std::sort(distinct.begin(), distinct.end(), [](const GeoPoint& a, const GeoPoint& b) {
            return a.lon < b.lon || (a.lon == b.lon && a.lat < b.lat);
        });
        distinct.erase(std::unique(distinct.begin(), distinct.end(), SamePlace), distinct.end());
        v.distinctPoints = distinct.size();
    }
    v.tooFewPoints = v.distinctPoints < 3;
    if (v.tooFewPoints) {
        v.valid = false;
        v.validArea_m2 = 0;
        return v;
    }
    const LocalPlane plane(ring.front());
    // Spikes: the angle at a vertex between its two legs, on the local plane.
    {
        std::size_t k = 0;  // index into f.points of ring[i]
        std::vector<std::size_t> where;
        where.reserve(ring.size());
        for (std::size_t i = 0; i < f.points.size() && k < ring.size(); ++i)
            if (SamePlace(f.points[i], ring[k])) where.push_back(i), ++k;
        const double cosLimit = std::cos(kSpikeAngleDegrees * kDegree);
        const std::size_t n = ring.size();
        for (std::size_t i = 0; i < n; ++i) {
            const Xy b = plane.To(ring[i]);
            const Xy a = plane.To(ring[(i + n - 1) % n]);
            const Xy c = plane.To(ring[(i + 1) % n]);
            const double ux = a.x - b.x, uy = a.y - b.y, wx = c.x - b.x, wy = c.y - b.y;
            const double lu = std::hypot(ux, uy), lw = std::hypot(wx, wy);
            if (lu == 0 || lw == 0) continue;
            if ((ux * wx + uy * wy) / (lu * lw) > cosLimit)
                v.spikes.push_back(i < where.size() ? where[i] : i);
        }
    }
    std::vector<Edge> edges;
    AddEdges(ring, 0, plane, edges);
    std::vector<std::vector<GeoPoint>> holes;
    for (const auto& h : f.holes) {
        holes.push_back(WithoutRepeats(h));
        AddEdges(holes.back(), holes.size(), plane, edges);
    }
    for (const Xy& q : Crossings(edges)) v.crossings.push_back(plane.From(q));

    OGRPolygon poly;
    poly.addRingDirectly(OgrRing(ring).release());
    for (const auto& h : holes)
        if (h.size() >= 3) poly.addRingDirectly(OgrRing(h).release());
    const QuietGdal quiet;  // MakeValid and the GEOS operations report through GDAL
    v.valid = poly.IsValid() && v.crossings.empty();
    if (v.valid) {
        v.validArea_m2 = rawArea_m2 ? *rawArea_m2 : PolygonArea(poly);
    } else {
        std::unique_ptr<OGRGeometry> fixed(poly.MakeValid());
        v.validArea_m2 = fixed ? GeodesicAreaOf(*fixed) : 0;
    }
    return v;
}

namespace {
// A closed ring's length, leg by leg (LegLength: GeographicLib's geodesic, or
// within 1e-7 m of it for the short legs of a walked boundary, far faster).
double RingLength(const std::vector<GeoPoint>& ring) {
    if (ring.size() < 2) return 0;
    return GeodesicLength(ring) + LegLength(ring.back(), ring.front());
}
}  // namespace

double BoundaryLength(const FieldFile& f) {
    if (f.kind != FieldKind::kArea || f.points.size() < 2) return 0;
    double s = RingLength(f.points);
    for (const auto& h : f.holes) s += RingLength(h);
    return s;
}

double AreaTolerance(double boundary_m, double accuracy_m) {
    return boundary_m * std::max(0.0, accuracy_m);
}

}  // namespace dorvane::geo
