#include "ui/field_context.h"

#include <QPolygonF>

namespace dorvane {
namespace {

std::vector<WorldPoint> Project(const std::vector<geo::GeoPoint>& points) {
    std::vector<WorldPoint> out;
    out.reserve(points.size());
    for (const geo::GeoPoint& g : points) out.push_back(ToWorld(g.lon, g.lat));
    return out;
}

QPolygonF OnScreen(const std::vector<WorldPoint>& points, const MapView& v, QSize size) {
    QPolygonF poly;
    poly.reserve(static_cast<qsizetype>(points.size()));
    for (const WorldPoint& w : points) poly << WorldToScreen(w, v, size);
    return poly;
}

}  // namespace

FieldContext ContextOf(const geo::FieldFile& picked, const std::vector<geo::FieldFile>* all, std::size_t pick,
                       const geo::Validity* validity) {
    FieldContext c;
    if (all && all->size() <= kMaxOtherShapes) {
        for (std::size_t i = 0; i < all->size(); ++i) {
            if (i == pick) continue;
            const geo::FieldFile& f = (*all)[i];
            c.others.push_back({Project(f.points), f.kind == geo::FieldKind::kArea});
        }
    }
    if (picked.kind == geo::FieldKind::kArea)
        for (const auto& hole : picked.holes)
            if (hole.size() >= 3) c.holes.push_back(Project(hole));
    if (validity)
        for (const geo::GeoPoint& g : validity->crossings) c.crossings.push_back(ToWorld(g.lon, g.lat));
    return c;
}

void DrawOtherShapes(QPainter& p, QSize size, const MapView& v, const FieldContext& c) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const FieldContext::Other& o : c.others) {
        const QPolygonF poly = OnScreen(o.points, v, size);
        p.setPen(QPen(kOtherShapeLine, 1.5));
        if (o.area) {
            p.setBrush(kOtherShapeFill);
            p.drawPolygon(poly);
        } else {
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(poly);
        }
    }
    p.restore();
}

void DrawHolesAndCrossings(QPainter& p, QSize size, const MapView& v, const FieldContext& c) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const auto& hole : c.holes) {
        const QPolygonF poly = OnScreen(hole, v, size);
        // What lies in a hole is not the field: its fill is taken away, so
        // whatever is under the layer (the map) shows through.
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawPolygon(poly);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setPen(QPen(kFieldLineColour, 2));
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(poly);
    }
    p.setPen(QPen(kCrossingColour, 2.5));
    p.setBrush(Qt::NoBrush);
    for (const WorldPoint& w : c.crossings) {
        const QPointF at = WorldToScreen(w, v, size);
        p.drawEllipse(at, kCrossingRadiusPx, kCrossingRadiusPx);
        const double d = kCrossingRadiusPx * 0.6;
        p.drawLine(at + QPointF(-d, -d), at + QPointF(d, d));
        p.drawLine(at + QPointF(-d, d), at + QPointF(d, -d));
    }
    p.restore();
}

}  // namespace dorvane
