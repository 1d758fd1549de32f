#include "ui/field_map.h"

#include <QFontMetrics>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

namespace dorvane {
namespace {

constexpr double kPi = std::numbers::pi;
/// Web Mercator's latitude limit: the square world.
constexpr double kMaxMercatorLat = 85.0511287798066;
/// WGS84 equatorial circumference, the scale of Web Mercator (metres).
constexpr double kEquatorMetres = 2 * kPi * 6378137.0;
/// Each level keeps points about 4 times farther apart than the one before.
constexpr double kLevelFactor = 4.0;
/// The finest simplified level: a quarter pixel at the deepest zoom.
constexpr double kFinestTolerance = 0.25 / (kTileSize * 4194304.0);  // 2^22
/// A level stops being built when it has few points left.
constexpr std::size_t kSmallestLevel = 64;
/// Pixel spacing the grid and the scale bar aim for.
constexpr double kGridTargetPx = 100;
constexpr double kScaleTargetPx = 120;
/// Vertex marks are drawn for fields of no more than this many vertices.
constexpr std::size_t kMaxVertexMarks = 2000;
/// A run is drawn as polylines of at most this many points: the stroker's
/// cost grows faster than the length of one polyline.
constexpr qsizetype kPieceLength = 64;
/// Room beyond the edges for the pen (px): lines just outside still show.
constexpr double kPenMarginPx = 8;
/// The driven path down the middle of a swath (px).
constexpr double kSwathPathPx = 2;

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

// The level `from` simplified with `tol`, segment by segment (each keeps its
// first and last point).
CFieldShape::Level Simplify(const CFieldShape::Level& from, double tol) {
    CFieldShape::Level out;
    out.tolerance = from.tolerance + tol;  // the errors of both steps add up at worst
    const std::size_t n = from.points.size();
    out.points.reserve(n / 2);
    const std::span<const WorldPoint> all(from.points);
    for (std::size_t s = 0; s < from.segmentStarts.size(); ++s) {
        const std::size_t b = from.segmentStarts[s];
        const std::size_t e = s + 1 < from.segmentStarts.size() ? from.segmentStarts[s + 1] : n;
        if (b >= e) continue;
        out.segmentStarts.push_back(out.points.size());
        SimplifyLine(all.subspan(b, e - b), tol, out.points);
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
    // At a whole zoom the tiles are drawn 1:1 on whole pixels: a plain copy,
    // several times cheaper than filtering each tile.
    const bool exact = std::abs(scale - 1.0) < 1e-9;
    p.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
    for (int ty = y0; ty <= y1; ++ty)
        for (int tx = x0; tx <= x1; ++tx) {
            const int wx = ((tx % n) + n) % n;
            const QImage img = tiles.Tile(z, wx, ty);
            if (img.isNull()) continue;
            const QRectF target(originX + tx * tilePx, originY + ty * tilePx, tilePx, tilePx);
            if (exact && img.size() == QSize(kTileSize, kTileSize))
                p.drawImage(QPoint(static_cast<int>(std::lround(target.x())), static_cast<int>(std::lround(target.y()))),
                            img);
            else
                p.drawImage(target, img);
        }
}

// Draws each run as polylines of kPieceLength points, each piece starting
// where the last ended.
void DrawRuns(QPainter& p, const LineRuns& runs) {
    QPolygonF piece;
    piece.reserve(kPieceLength);
    for (std::size_t r = 0; r < runs.starts.size(); ++r) {
        const std::size_t b = runs.starts[r];
        const std::size_t e = r + 1 < runs.starts.size() ? runs.starts[r + 1] : runs.points.size();
        piece.clear();
        for (std::size_t i = b; i < e; ++i) {
            piece << QPointF(runs.points[i].x, runs.points[i].y);
            if (piece.size() == kPieceLength && i + 1 < e) {
                p.drawPolyline(piece);
                piece.clear();
                piece << QPointF(runs.points[i].x, runs.points[i].y);
            }
        }
        if (piece.size() >= 2) p.drawPolyline(piece);
    }
}

void DrawShape(QPainter& p, QSize size, const CFieldShape& shape, const MapView& v) {
    if (shape.Empty()) return;
    const CFieldShape::Level& l = shape.LevelFor(v.zoom);
    const double wpx = WorldPx(v.zoom);
    const double ox = size.width() / 2.0 - v.cx * wpx;
    const double oy = size.height() / 2.0 - v.cy * wpx;
    auto screen = [&](const WorldPoint& w) { return WorldPoint{ox + w.x * wpx, oy + w.y * wpx}; };
    auto qt = [](const WorldPoint& s) { return QPointF(s.x, s.y); };
    p.setRenderHint(QPainter::Antialiasing, true);

    if (shape.Swath()) {
        QPolygonF path;
        path.reserve(static_cast<qsizetype>(l.points.size()));
        for (const WorldPoint& w : l.points) path << qt(screen(w));
        // The width in metres at the map's scale. Wider than the picture
        // twice over looks the same and keeps the stroker's work bounded.
        const double cap = 2.0 * (size.width() + size.height());
        const double widthPx = std::clamp(shape.WorkWidthMetres() / MetresPerPixel(v), kMinSwathPx,
                                          std::max(kMinSwathPx, cap));
        p.setBrush(Qt::NoBrush);
        // One stroke of the whole path: where the machine crossed its own
        // swath the fill is not laid twice. Flat ends: the work starts and
        // stops where the machine did.
        p.setPen(QPen(kFieldFillColour, widthPx, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        if (path.size() >= 2) p.drawPolyline(path);
        p.setPen(QPen(kFieldLineColour, kSwathPathPx, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (path.size() >= 2)
            p.drawPolyline(path);  // open: the last point is not joined to the first
        else
            p.drawPoint(path.front());
        return;
    }

    if (shape.Area()) {
        QPolygonF ring;
        ring.reserve(static_cast<qsizetype>(l.points.size()));
        for (const WorldPoint& w : l.points) ring << qt(screen(w));
        p.setPen(QPen(kFieldLineColour, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(kFieldFillColour);
        p.drawPolygon(ring);  // closed for display
        // Every measured vertex, not only those the level kept.
        const std::vector<WorldPoint>& vertices = shape.Levels().front().points;
        if (shape.MarkVertices() && vertices.size() <= kMaxVertexMarks) {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            for (const WorldPoint& w : vertices) p.drawEllipse(qt(screen(w)), 3.5, 3.5);
        }
        return;
    }

    // Track: only chunks that touch the view (with a margin for the pen),
    // then clipped and simplified in pixels.
    const WorldPoint tl = ScreenToWorld(QPointF(-kPenMarginPx, -kPenMarginPx), v, size);
    const WorldPoint br =
        ScreenToWorld(QPointF(size.width() + kPenMarginPx, size.height() + kPenMarginPx), v, size);
    const QRectF view(QPointF(tl.x, tl.y), QPointF(br.x, br.y));
    const PlaneRect pixels{-kPenMarginPx, -kPenMarginPx, size.width() + kPenMarginPx,
                           size.height() + kPenMarginPx};
    LineRuns runs;
    std::vector<WorldPoint> stretch;  // projected points of one unbroken stretch
    auto flush = [&] {
        DecimateForScreen(stretch, pixels, CFieldShape::kFrameBudgetPx, runs);
        stretch.clear();
    };
    std::size_t seg = 0;
    const std::size_t n = l.points.size();
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
            stretch.push_back(screen(l.points[i]));
        }
        prevVisible = true;
    }
    flush();
    // Bevel joins: at a pixel's length of line a round join looks the same
    // and costs the stroker many times more.
    p.setPen(QPen(kTrackColour, 3, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    p.setBrush(Qt::NoBrush);
    DrawRuns(p, runs);
    // Start (green circle) and end (red square) of the whole track.
    const QPointF start = qt(screen(l.points.front()));
    const QPointF end = qt(screen(l.points.back()));
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
    swath_ = area_ && f.handheld.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
    // The width comes from the handheld's work record or a KML's data: not trusted.
    const double width = f.handheld.workWidth.value_or(0);
    workWidth_ = std::isfinite(width) && width > 0 ? width : 0;
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
        Level next = Simplify(levels_.back(), tol);
        if (next.points.size() == levels_.back().points.size()) continue;  // nothing left out
        ComputeChunks(next);
        levels_.push_back(std::move(next));
    }
}

const CFieldShape::Level& CFieldShape::LevelFor(double zoom) const {
    const double budget = kLevelBudgetPx / WorldPx(zoom);
    const Level* best = &levels_.front();
    for (const Level& l : levels_)
        if (l.tolerance <= budget) best = &l;
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

void DrawMapBackground(QPainter& p, QSize size, const MapView& v, ITileSource* tiles) {
    p.save();
    p.setClipRect(QRect(QPoint(0, 0), size));
    DrawGrid(p, size, v);
    if (tiles) DrawTiles(p, size, v, *tiles);
    p.restore();
}

void DrawMapShape(QPainter& p, QSize size, const CFieldShape& shape, const MapView& v) {
    p.save();
    p.setClipRect(QRect(QPoint(0, 0), size));
    DrawShape(p, size, shape, v);
    p.restore();
}

void DrawMapOverlay(QPainter& p, QSize size, const MapView& v, ITileSource* tiles) {
    p.save();
    p.setClipRect(QRect(QPoint(0, 0), size));
    DrawScaleBar(p, size, v);
    if (tiles) DrawAttribution(p, size, tiles->Attribution());
    p.restore();
}

void DrawFieldMap(QPainter& p, QSize size, const CFieldShape& shape, const MapView& v,
                  ITileSource* tiles) {
    DrawMapBackground(p, size, v, tiles);
    DrawMapShape(p, size, shape, v);
    DrawMapOverlay(p, size, v, tiles);
}

}  // namespace dorvane
