#include "ui/field_map.h"

#include <QFontMetrics>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace dorvane {
namespace {

constexpr double kPi = std::numbers::pi;
/// Web Mercator's latitude limit: the square world.
constexpr double kMaxMercatorLat = 85.0511287798066;
/// WGS84 equatorial circumference, the scale of Web Mercator (metres).
constexpr double kEquatorMetres = 2 * kPi * 6378137.0;
/// Each level keeps points about 4 times farther apart than the one before.
constexpr double kLevelFactor = 4.0;
/// The finest decimated level: 1/2 pixel at the deepest zoom.
constexpr double kFinestTolerance = 0.5 / (kTileSize * 4194304.0);  // 2^22
/// A level stops being built when it has few points left.
constexpr std::size_t kSmallestLevel = 64;
/// Pixel spacing the grid and the scale bar aim for.
constexpr double kGridTargetPx = 100;
constexpr double kScaleTargetPx = 120;
/// Vertex marks are drawn when no more than this many are in view.
constexpr std::size_t kMaxVertexMarks = 2000;

double WorldPx(double zoom) {
    return kTileSize * std::exp2(zoom);
}

// 1, 2 or 5 times a power of ten, not above `metres`.
double NiceMetres(double metres) {
    const double p = std::pow(10.0, std::floor(std::log10(std::max(metres, 1e-3))));
    for (double m : {5.0, 2.0, 1.0})
        if (m * p <= metres) return m * p;
    return p;
}

QString DistanceText(double m) {
    return m >= 1000 ? QStringLiteral("%1 km").arg(m / 1000) : QStringLiteral("%1 m").arg(m);
}

// Keeps points at least `tol` apart, and the first and last of each segment.
CFieldShape::Level Decimate(const CFieldShape::Level& from, double tol) {
    CFieldShape::Level out;
    out.tolerance = tol;
    const std::size_t n = from.points.size();
    for (std::size_t s = 0; s < from.segmentStarts.size(); ++s) {
        const std::size_t b = from.segmentStarts[s];
        const std::size_t e = s + 1 < from.segmentStarts.size() ? from.segmentStarts[s + 1] : n;
        if (b >= e) continue;
        out.segmentStarts.push_back(out.points.size());
        out.points.push_back(from.points[b]);
        for (std::size_t i = b + 1; i < e; ++i) {
            const WorldPoint& q = out.points.back();
            const double dx = from.points[i].x - q.x, dy = from.points[i].y - q.y;
            if (i + 1 == e || dx * dx + dy * dy >= tol * tol) out.points.push_back(from.points[i]);
        }
    }
    return out;
}

void ComputeChunks(CFieldShape::Level& l) {
    l.chunkBounds.clear();
    for (std::size_t b = 0; b < l.points.size(); b += CFieldShape::kChunk) {
        const std::size_t e = std::min(l.points.size(), b + CFieldShape::kChunk + 1);
        double x0 = l.points[b].x, x1 = x0, y0 = l.points[b].y, y1 = y0;
        for (std::size_t i = b; i < e; ++i) {
            x0 = std::min(x0, l.points[i].x);
            x1 = std::max(x1, l.points[i].x);
            y0 = std::min(y0, l.points[i].y);
            y1 = std::max(y1, l.points[i].y);
        }
        l.chunkBounds.push_back(QRectF(QPointF(x0, y0), QPointF(x1, y1)));
    }
}

void DrawGrid(QPainter& p, QSize size, const MapView& v) {
    p.fillRect(QRect(QPoint(0, 0), size), kBackgroundColour);
    const double mpp = MetresPerPixel(v);
    const double step = NiceMetres(mpp * kGridTargetPx);
    // Grid lines at whole multiples of `step` true metres from the world's
    // origin, measured at the view's latitude.
    const double stepWorld = step / (kEquatorMetres * std::cos(LatitudeOfWorldY(v.cy) * kPi / 180));
    const WorldPoint tl = ScreenToWorld(QPointF(0, 0), v, size);
    const WorldPoint br = ScreenToWorld(QPointF(size.width(), size.height()), v, size);
    if (!(stepWorld > 0) || (br.x - tl.x) / stepWorld > 1000) return;
    p.setPen(QPen(kGridColour, 1));
    for (double x = std::floor(tl.x / stepWorld) * stepWorld; x <= br.x; x += stepWorld) {
        const double sx = WorldToScreen({x, 0}, v, size).x();
        p.drawLine(QPointF(sx, 0), QPointF(sx, size.height()));
    }
    for (double y = std::floor(tl.y / stepWorld) * stepWorld; y <= br.y; y += stepWorld) {
        const double sy = WorldToScreen({0, y}, v, size).y();
        p.drawLine(QPointF(0, sy), QPointF(size.width(), sy));
    }
}

void DrawTiles(QPainter& p, QSize size, const MapView& v, ITileSource& tiles) {
    const std::vector<TileKey> keys = CoveringTiles(v, size);
    if (keys.empty()) return;
    const int z = keys.front().z;
    const double scale = WorldPx(v.zoom) / WorldPx(z);
    const double tilePx = kTileSize * scale;
    const double originX = size.width() / 2.0 - v.cx * WorldPx(v.zoom);
    const double originY = size.height() / 2.0 - v.cy * WorldPx(v.zoom);
    const int n = 1 << z;
    const int x0 = static_cast<int>(std::floor((-originX) / tilePx));
    const int x1 = static_cast<int>(std::floor((size.width() - originX) / tilePx));
    const int y0 = std::max(0, static_cast<int>(std::floor((-originY) / tilePx)));
    const int y1 =
        std::min(n - 1, static_cast<int>(std::floor((size.height() - originY) / tilePx)));
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (int ty = y0; ty <= y1; ++ty)
        for (int tx = x0; tx <= x1; ++tx) {
            const int wx = ((tx % n) + n) % n;
            const QImage img = tiles.Tile(z, wx, ty);
            if (img.isNull()) continue;
            const QRectF target(originX + tx * tilePx, originY + ty * tilePx, tilePx, tilePx);
            p.drawImage(target, img);
        }
}

void DrawShape(QPainter& p, QSize size, const CFieldShape& shape, const MapView& v) {
    if (shape.Empty()) return;
    const CFieldShape::Level& l = shape.LevelFor(v.zoom);
    const double wpx = WorldPx(v.zoom);
    const double ox = size.width() / 2.0 - v.cx * wpx;
    const double oy = size.height() / 2.0 - v.cy * wpx;
    auto screen = [&](const WorldPoint& w) { return QPointF(ox + w.x * wpx, oy + w.y * wpx); };
    p.setRenderHint(QPainter::Antialiasing, true);

    if (shape.Area()) {
        QPolygonF ring;
        ring.reserve(static_cast<qsizetype>(l.points.size()));
        for (const WorldPoint& w : l.points) ring << screen(w);
        p.setPen(QPen(kFieldLineColour, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(kFieldFillColour);
        p.drawPolygon(ring);  // closed for display
        if (shape.MarkVertices() && l.points.size() <= kMaxVertexMarks) {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            for (const QPointF& s : ring) p.drawEllipse(s, 3.5, 3.5);
        }
        return;
    }

    // Track: only chunks that touch the view (with a margin for the pen).
    const WorldPoint tl = ScreenToWorld(QPointF(-8, -8), v, size);
    const WorldPoint br = ScreenToWorld(QPointF(size.width() + 8, size.height() + 8), v, size);
    const QRectF view(QPointF(tl.x, tl.y), QPointF(br.x, br.y));
    p.setPen(QPen(kTrackColour, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPolygonF run;
    std::size_t seg = 0;
    const std::size_t n = l.points.size();
    QPointF lastPx;
    auto flush = [&] {
        if (run.size() >= 2) p.drawPolyline(run);
        run.clear();
    };
    bool prevVisible = false;
    for (std::size_t c = 0; c < l.chunkBounds.size(); ++c) {
        const std::size_t b = c * CFieldShape::kChunk;
        // A chunk's bounds include the next chunk's first point, so they hold
        // every line drawn from its points.
        const std::size_t e = std::min(n, b + CFieldShape::kChunk + 1);
        const QRectF& cb = l.chunkBounds[c];
        // Closed intervals: a chunk along a meridian has no width.
        if (cb.left() > view.right() || cb.right() < view.left() || cb.top() > view.bottom() ||
            cb.bottom() < view.top()) {
            flush();
            prevVisible = false;
            continue;
        }
        for (std::size_t i = prevVisible ? b + 1 : b; i < e; ++i) {
            while (seg < l.segmentStarts.size() && l.segmentStarts[seg] < i) ++seg;
            if (seg < l.segmentStarts.size() && l.segmentStarts[seg] == i) flush();
            const QPointF s = screen(l.points[i]);
            // Screen-space decimation: points within half a pixel add nothing.
            if (!run.isEmpty() && i + 1 != e && std::abs(s.x() - lastPx.x()) < 0.5 &&
                std::abs(s.y() - lastPx.y()) < 0.5)
                continue;
            run << s;
            lastPx = s;
        }
        prevVisible = true;
    }
    flush();
    // Start (green circle) and end (red square) of the whole track.
    const QPointF start = screen(l.points.front());
    const QPointF end = screen(l.points.back());
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(QColor(0x10, 0xA0, 0x30));
    p.drawEllipse(start, 6, 6);
    p.setBrush(QColor(0xC0, 0x10, 0x10));
    p.drawRect(QRectF(end.x() - 5.5, end.y() - 5.5, 11, 11));
}

void DrawScaleBar(QPainter& p, QSize size, const MapView& v) {
    const double mpp = MetresPerPixel(v);
    const double metres = NiceMetres(mpp * kScaleTargetPx);
    const double px = metres / mpp;
    const QPointF o(12, size.height() - 14);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRectF(o.x() - 4, o.y() - 20, px + 8, 26), QColor(255, 255, 255, 190));
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(o, o + QPointF(px, 0));
    p.drawLine(o, o + QPointF(0, -6));
    p.drawLine(o + QPointF(px, 0), o + QPointF(px, -6));
    p.drawText(QRectF(o.x(), o.y() - 20, px, 14), Qt::AlignCenter, DistanceText(metres));
}

void DrawAttribution(QPainter& p, QSize size, const QString& text) {
    if (text.isEmpty()) return;
    const QFontMetrics fm(p.font());
    const int w = fm.horizontalAdvance(text) + 8;
    const QRect box(size.width() - w, size.height() - fm.height() - 4, w, fm.height() + 4);
    p.fillRect(box, QColor(255, 255, 255, 200));
    p.setPen(QColor(0x20, 0x20, 0x20));
    p.drawText(box, Qt::AlignCenter, text);
}

}  // namespace

WorldPoint ToWorld(double lon, double lat) {
    lat = std::clamp(lat, -kMaxMercatorLat, kMaxMercatorLat);
    const double s = std::sin(lat * kPi / 180);
    return {(lon + 180) / 360, 0.5 - std::log((1 + s) / (1 - s)) / (4 * kPi)};
}

double LatitudeOfWorldY(double y) {
    return std::atan(std::sinh(kPi * (1 - 2 * y))) * 180 / kPi;
}

CFieldShape::CFieldShape(const geo::FieldFile& f) {
    area_ = f.kind == geo::FieldKind::kArea;
    markVertices_ = area_ && f.handheld.method == static_cast<std::int16_t>(AreaMethod::kVertex);
    Level base;
    base.points.reserve(f.points.size());
    // Longitudes unwrapped: a line across the antimeridian stays continuous.
    double prevLon = 0;
    double shift = 0;
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        const double lon = f.points[i].lon;
        if (i > 0) {
            if (lon - prevLon > 180) shift -= 360;
            if (lon - prevLon < -180) shift += 360;
        }
        prevLon = lon;
        base.points.push_back(ToWorld(lon + shift, f.points[i].lat));
    }
    if (base.points.empty()) return;
    base.segmentStarts =
        area_ || f.segmentStarts.empty() ? std::vector<std::size_t>{0} : f.segmentStarts;
    double x0 = base.points[0].x, x1 = x0, y0 = base.points[0].y, y1 = y0;
    for (const WorldPoint& w : base.points) {
        x0 = std::min(x0, w.x);
        x1 = std::max(x1, w.x);
        y0 = std::min(y0, w.y);
        y1 = std::max(y1, w.y);
    }
    bounds_ = QRectF(QPointF(x0, y0), QPointF(x1, y1));
    ComputeChunks(base);
    levels_.push_back(std::move(base));
    for (double tol = kFinestTolerance; levels_.back().points.size() > kSmallestLevel && tol < 1;
         tol *= kLevelFactor) {
        Level next = Decimate(levels_.back(), tol);
        if (next.points.size() == levels_.back().points.size()) {
            levels_.back().tolerance = tol;  // nothing dropped: the same level serves
            continue;
        }
        ComputeChunks(next);
        levels_.push_back(std::move(next));
    }
}

const CFieldShape::Level& CFieldShape::LevelFor(double zoom) const {
    const double halfPixel = 0.5 / WorldPx(zoom);
    const Level* best = &levels_.front();
    for (const Level& l : levels_)
        if (l.tolerance <= halfPixel) best = &l;
    return *best;
}

MapView FitView(const CFieldShape& shape, QSize size, double marginPx) {
    MapView v;
    if (shape.Empty() || size.isEmpty()) return v;
    const QRectF b = shape.Bounds();
    v.cx = b.center().x();
    v.cy = b.center().y();
    const double w = std::max(1.0, size.width() - 2 * marginPx);
    const double h = std::max(1.0, size.height() - 2 * marginPx);
    double zoom = kMaxMapZoom;
    if (b.width() > 0 || b.height() > 0) {
        const double zx = b.width() > 0 ? std::log2(w / (b.width() * kTileSize)) : kMaxMapZoom;
        const double zy = b.height() > 0 ? std::log2(h / (b.height() * kTileSize)) : kMaxMapZoom;
        zoom = std::min(zx, zy);
    }
    v.zoom = std::clamp(std::min(zoom, static_cast<double>(kMaxTileZoom)), 0.0, kMaxMapZoom);
    return v;
}

QPointF WorldToScreen(const WorldPoint& w, const MapView& v, QSize size) {
    const double wpx = WorldPx(v.zoom);
    return {size.width() / 2.0 + (w.x - v.cx) * wpx, size.height() / 2.0 + (w.y - v.cy) * wpx};
}

WorldPoint ScreenToWorld(const QPointF& p, const MapView& v, QSize size) {
    const double wpx = WorldPx(v.zoom);
    return {v.cx + (p.x() - size.width() / 2.0) / wpx, v.cy + (p.y() - size.height() / 2.0) / wpx};
}

double MetresPerPixel(const MapView& v) {
    return kEquatorMetres * std::cos(LatitudeOfWorldY(v.cy) * kPi / 180) / WorldPx(v.zoom);
}

std::vector<TileKey> CoveringTiles(const MapView& v, QSize size) {
    std::vector<TileKey> out;
    const int z = std::clamp(static_cast<int>(std::floor(v.zoom + 0.5)), kMinMapZoom, kMaxTileZoom);
    const int n = 1 << z;
    const WorldPoint tl = ScreenToWorld(QPointF(0, 0), v, size);
    const WorldPoint br = ScreenToWorld(QPointF(size.width(), size.height()), v, size);
    const int x0 = static_cast<int>(std::floor(tl.x * n));
    const int x1 = static_cast<int>(std::floor(br.x * n - 1e-9));
    const int y0 = std::max(0, static_cast<int>(std::floor(tl.y * n)));
    const int y1 = std::min(n - 1, static_cast<int>(std::floor(br.y * n - 1e-9)));
    for (int y = y0; y <= y1; ++y)
        for (int x = std::max(x0, x1 - n + 1); x <= x1; ++x) {
            const TileKey k{z, ((x % n) + n) % n, y};
            if (std::find(out.begin(), out.end(), k) == out.end()) out.push_back(k);
        }
    return out;
}

void DrawFieldMap(QPainter& p, QSize size, const CFieldShape& shape, const MapView& v,
                  ITileSource* tiles) {
    p.save();
    p.setClipRect(QRect(QPoint(0, 0), size));
    DrawGrid(p, size, v);
    if (tiles) DrawTiles(p, size, v, *tiles);
    DrawShape(p, size, shape, v);
    DrawScaleBar(p, size, v);
    if (tiles) DrawAttribution(p, size, tiles->Attribution());
    p.restore();
}

}  // namespace dorvane
