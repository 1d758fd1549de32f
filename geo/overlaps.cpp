#include "geo/overlaps.h"

#include <cpl_error.h>
#include <ogr_geometry.h>

#include <GeographicLib/AzimuthalEquidistant.hpp>
#include <GeographicLib/Geodesic.hpp>
#include <algorithm>
#include <cmath>
#include <memory>

#include "geo/figures.h"
#include "geo/gdal_scope.h"

namespace dorvane::geo {
namespace {

struct Candidate {
    std::size_t index = 0;
    BBox box;
};

// Extents that cross the antimeridian (minLon > maxLon) are taken whole in
// longitude: rare enough for fields that a few extra candidates cost nothing.
BBox Normalised(BBox b) {
    if (b.minLon > b.maxLon) {
        b.minLon = -180;
        b.maxLon = 180;
    }
    return b;
}

class PairPlane {
public:
    PairPlane(double lat0, double lon0)
        : proj_(GeographicLib::Geodesic::WGS84()), lat0_(lat0), lon0_(lon0) {}

    std::unique_ptr<OGRGeometry> Polygon(const FieldFile& f) const {
        auto poly = std::make_unique<OGRPolygon>();
        poly->addRingDirectly(Ring(f.points).release());
        for (const auto& h : f.holes)
            if (h.size() >= 3) poly->addRingDirectly(Ring(h).release());
        if (poly->IsValid()) return poly;
        // A boundary that crosses itself: its valid shape is what can overlap.
        std::unique_ptr<OGRGeometry> fixed(poly->MakeValid());
        return fixed;
    }

    // The geodesic area of a geometry of this plane: its rings' points back on
    // longitude/latitude, measured by GeographicLib.
    double GeodesicArea(const OGRGeometry& g) const {
        switch (wkbFlatten(g.getGeometryType())) {
            case wkbPolygon: {
                const OGRPolygon& p = *g.toPolygon();
                if (!p.getExteriorRing()) return 0;
                double area = GeodesicRing(Back(*p.getExteriorRing())).area_m2;
                for (int i = 0; i < p.getNumInteriorRings(); ++i)
                    area -= GeodesicRing(Back(*p.getInteriorRing(i))).area_m2;
                return std::max(0.0, area);
            }
            case wkbMultiPolygon:
            case wkbGeometryCollection: {
                double area = 0;
                for (const OGRGeometry* part : *g.toGeometryCollection())
                    area += GeodesicArea(*part);
                return area;
            }
            default:
                return 0;  // a shared edge or corner: no ground
        }
    }

private:
    std::vector<GeoPoint> Back(const OGRLinearRing& r) const {
        std::vector<GeoPoint> pts(static_cast<std::size_t>(std::max(0, r.getNumPoints())));
        for (std::size_t i = 0; i < pts.size(); ++i)
            proj_.Reverse(lat0_, lon0_, r.getX(static_cast<int>(i)), r.getY(static_cast<int>(i)),
                          pts[i].lat, pts[i].lon);
        return pts;
    }

    std::unique_ptr<OGRLinearRing> Ring(const std::vector<GeoPoint>& pts) const {
        auto r = std::make_unique<OGRLinearRing>();
        r->setNumPoints(static_cast<int>(pts.size() + 1), FALSE);
        for (std::size_t i = 0; i <= pts.size(); ++i) {
            const GeoPoint& p = pts[i % pts.size()];
            double x = 0, y = 0;
            proj_.Forward(lat0_, lon0_, p.lat, p.lon, x, y);
            r->setPoint(static_cast<int>(i), x, y);
        }
        return r;
    }

    GeographicLib::AzimuthalEquidistant proj_;
    double lat0_;
    double lon0_;
};

struct Shared {
    double overlap_m2 = 0;
    double smaller_m2 = 0;  ///< the smaller field's area (of its valid shape)
};

// The geodesic area both fields cover, and the smaller field's: a boundary
// that crosses itself is taken as its valid shape (its raw area means nothing).
Shared SharedArea(const FieldFile& a, const FieldFile& b, const BBox& ba, const BBox& bb) {
    // Centred on the middle of the two extents' common part.
    const double lat0 = (std::max(ba.minLat, bb.minLat) + std::min(ba.maxLat, bb.maxLat)) / 2;
    const double lon0 = (std::max(ba.minLon, bb.minLon) + std::min(ba.maxLon, bb.maxLon)) / 2;
    const PairPlane plane(lat0, lon0);
    const auto pa = plane.Polygon(a);
    const auto pb = plane.Polygon(b);
    if (!pa || !pb || !pa->Intersects(pb.get())) return {};
    std::unique_ptr<OGRGeometry> shared(pa->Intersection(pb.get()));
    if (!shared || shared->IsEmpty()) return {};
    Shared s;
    s.overlap_m2 = plane.GeodesicArea(*shared);
    if (s.overlap_m2 >= kMinOverlap_m2)
        s.smaller_m2 = std::min(plane.GeodesicArea(*pa), plane.GeodesicArea(*pb));
    return s;
}

}  // namespace

std::vector<Overlap> FindOverlaps(std::span<const FieldFile* const> fields) {
    std::vector<Candidate> cs;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldFile* f = fields[i];
        if (!f || f->kind != FieldKind::kArea || f->points.size() < 3) continue;
        if (f->handheld.method == static_cast<std::int16_t>(AreaMethod::kHarvesting)) continue;
        Candidate c;
        c.index = i;
        c.box = Normalised(BoundingBox(f->points));
        cs.push_back(c);
    }
    std::sort(cs.begin(), cs.end(),
              [](const Candidate& x, const Candidate& y) { return x.box.minLon < y.box.minLon; });
    std::vector<Overlap> out;
    const QuietGdal quiet;  // MakeValid and the GEOS operations report through GDAL
    for (std::size_t i = 0; i < cs.size(); ++i) {
        for (std::size_t j = i + 1; j < cs.size() && cs[j].box.minLon <= cs[i].box.maxLon; ++j) {
            const BBox& bi = cs[i].box;
            const BBox& bj = cs[j].box;
            if (bj.maxLat < bi.minLat || bj.minLat > bi.maxLat) continue;
            const Shared shared = SharedArea(*fields[cs[i].index], *fields[cs[j].index], bi, bj);
            if (shared.overlap_m2 < kMinOverlap_m2) continue;
            Overlap o;
            o.a = std::min(cs[i].index, cs[j].index);
            o.b = std::max(cs[i].index, cs[j].index);
            o.overlap_m2 = shared.overlap_m2;
            o.shareOfSmaller =
                shared.smaller_m2 > 0 ? std::min(1.0, shared.overlap_m2 / shared.smaller_m2) : 0;
            o.measuredTwice = o.shareOfSmaller > kMeasuredTwiceShare;
            out.push_back(o);
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Overlap& x, const Overlap& y) { return x.a < y.a || (x.a == y.a && x.b < y.b); });
    return out;
}

}  // namespace dorvane::geo
