#pragma once
// Drawing a track or a field on a Web Mercator map (north up) with QPainter:
// raster tiles or a neutral background with a metric grid, the shape, start
// and end marks, vertex marks, a scale bar and the tile attribution. A field
// measured as harvesting work (width x length) is its driven path, open,
// stroked with the working width at the map's scale. Needs
// only Qt Gui, so the window, the snapshot and the ledger's PDF share it.
// The shape is projected once (CFieldShape) with a pyramid of simplified
// levels; a repaint takes the level that suits the zoom, skips chunks outside
// the view, clips and simplifies the rest in screen pixels (map_lod.h), so
// the line drawn is within half a pixel of every point of the file. GUI
// thread (any thread that owns the QPainter); no I/O.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>
#include <vector>

#include "geo/field_file.h"
#include "ui/map_lod.h"

namespace dorvane {

/// Tiles are 256 x 256 pixels at every zoom level (the XYZ convention).
inline constexpr int kTileSize = 256;
inline constexpr int kMinMapZoom = 0;
/// Deepest tile level of the OpenStreetMap standard tiles.
inline constexpr int kMaxTileZoom = 19;
/// The view may zoom past the deepest tiles (scaled up) to this level.
inline constexpr double kMaxMapZoom = 22.0;

/// Colours of the drawing (tests count their pixels).
inline const QColor kTrackColour{0xD0, 0x10, 0x50};
/// The KML's line colour ff00aaff and polygon colour 7300ff62 (aabbggrr).
inline const QColor kFieldLineColour{0xFF, 0xAA, 0x00};
inline const QColor kFieldFillColour{0x62, 0xFF, 0x00, 0x73};
/// Neutral background where no tile is shown.
inline const QColor kBackgroundColour{0xEC, 0xEC, 0xE4};
inline const QColor kGridColour{0xC8, 0xC8, 0xBE};

/// Web Mercator world coordinates (WorldPoint): x east and y south, the
/// whole world 0..1 at longitude -180..180 and latitude 85.05..-85.05.
WorldPoint ToWorld(double lon, double lat);
double LatitudeOfWorldY(double y);

/// Centre (world units) and zoom (fractional; the world is 256 * 2^zoom px wide).
struct MapView {
    double cx = 0.5;
    double cy = 0.5;
    double zoom = 1;
};

/// The projected shape with its levels of detail.
class CFieldShape {
public:
    CFieldShape() = default;
    explicit CFieldShape(const geo::FieldFile& f);

    bool Empty() const { return levels_.empty() || levels_[0].points.empty(); }
    bool Area() const { return area_; }
    bool MarkVertices() const { return markVertices_; }
    /// Harvesting work (collection method 2): the area is the working width
    /// times the driven length, so the points are a path, not a boundary.
    bool Swath() const { return swath_; }
    /// The working width in metres; 0 when the file names none (or names
    /// nonsense: not a positive finite number).
    double WorkWidthMetres() const { return workWidth_; }
    /// Bounds in world units (longitudes unwrapped across the antimeridian,
    /// so x may pass 1 or 0).
    QRectF Bounds() const { return bounds_; }
    std::size_t PointCount() const { return levels_.empty() ? 0 : levels_[0].points.size(); }

    /// Every point of `lod` (0 = all) that matters in `visibleWorld`, grouped
    /// into runs to draw as polylines; used by Draw and the benchmark.
    struct Level {
        /// World units: no point of the file lies farther from this level's line.
        double tolerance = 0;
        std::vector<WorldPoint> points;
        std::vector<std::size_t> segmentStarts;
        /// Bounds of each chunk of kChunk points, for skipping what is off view.
        std::vector<QRectF> chunkBounds;
    };
    const std::vector<Level>& Levels() const { return levels_; }
    /// The coarsest level within kLevelBudgetPx at `zoom`.
    const Level& LevelFor(double zoom) const;

    /// Of the half pixel a drawn line may stray from a point, the pyramid's
    /// level takes this much and the per-frame simplification the rest.
    static constexpr double kLevelBudgetPx = 0.25;
    static constexpr double kFrameBudgetPx = 0.25;

    static constexpr std::size_t kChunk = 256;

private:
    std::vector<Level> levels_;
    QRectF bounds_;
    bool area_ = false;
    bool markVertices_ = false;
    bool swath_ = false;
    double workWidth_ = 0;
};

/// A swath is never drawn narrower than this (px), so a narrow header seen
/// from far away still shows where the machine went.
inline constexpr double kMinSwathPx = 4;

/// Where tiles come from while drawing. Tile() returns a loaded tile or a
/// null image at once (never blocks) and may start fetching it.
class ITileSource {
public:
    virtual ~ITileSource() = default;
    virtual QImage Tile(int z, int x, int y) = 0;
    /// Attribution text to draw (empty: none).
    virtual QString Attribution() const = 0;
};

/// The view that shows all of `shape` in `size` with `marginPx` around it.
MapView FitView(const CFieldShape& shape, QSize size, double marginPx = 32);

QPointF WorldToScreen(const WorldPoint& w, const MapView& v, QSize size);
WorldPoint ScreenToWorld(const QPointF& p, const MapView& v, QSize size);

/// Draws the whole map into `size` at the painter's origin. `tiles` may be
/// null (grid only). The same as DrawMapBackground, DrawMapShape and
/// DrawMapOverlay one after the other.
void DrawFieldMap(QPainter& p, QSize size, const CFieldShape& shape, const MapView& v,
                  ITileSource* tiles);
/// The grid, then the tiles that are at hand (`tiles` may be null).
void DrawMapBackground(QPainter& p, QSize size, const MapView& v, ITileSource* tiles);
/// The track or field with its marks, over whatever is there (transparent
/// elsewhere: a layer of its own can be cached and reused).
void DrawMapShape(QPainter& p, QSize size, const CFieldShape& shape, const MapView& v);
/// The scale bar and the tiles' attribution.
void DrawMapOverlay(QPainter& p, QSize size, const MapView& v, ITileSource* tiles);

/// The tiles (z, x, y with x already wrapped) that cover the view.
struct TileKey {
    int z = 0;
    int x = 0;
    int y = 0;
    bool operator==(const TileKey&) const = default;
};
std::vector<TileKey> CoveringTiles(const MapView& v, QSize size);

/// Metres per pixel at the view's centre.
double MetresPerPixel(const MapView& v);

}  // namespace dorvane
