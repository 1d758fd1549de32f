#pragma once
// All of a season's fields on one map: each field filled with the colour of
// its category (its status or its customer, with a legend), its name and mu
// written in it once it is large enough on screen, and, where fields are too
// small to see apart, grouped into a disc per screen cell showing how many
// there are. Selected fields are outlined whatever the zoom. A click is
// answered by HitTest. The fields are projected once; a frame skips what is
// off screen; a window's layer draws them on a worker thread. Qt Gui only
// (the windows and the PDFs share it); no I/O.

#include <QColor>
#include <QObject>
#include <QPainter>
#include <QThreadPool>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <QRectF>
#include <QString>
#include <vector>

#include "ui/field_map.h"

namespace dorvane::map {

struct OverviewField {
    /// The boundary in world units (a track: its path).
    std::vector<WorldPoint> ring;
    /// A track or harvesting work: `ring` is an open path, drawn as a line
    /// and never filled (its closed outline would show an area it never had).
    bool line = false;
    QString name;
    double mu = 0;
    /// Index of its legend entry (status or customer).
    int category = 0;
};

/// A field narrower than this on screen (px) joins its cell's group.
inline constexpr double kGroupBelowPx = 8;
/// The side of a group's screen cell (px).
inline constexpr int kGroupCellPx = 48;
/// A field wider than this on screen (px) has its name and mu written in it.
inline constexpr double kLabelAbovePx = 90;
/// The outline of a selected field.
inline const QColor kSelectedOutline{0x00, 0xD8, 0xFF};
inline constexpr double kSelectedOutlinePx = 3;
/// The width of a line's stroke (px), and how near a click must come to it.
inline constexpr double kLinePx = 2.5;
inline constexpr double kLineHitPx = 6;

/// The colour of category `i` (a fixed palette, told apart in print too).
QColor CategoryColour(int i);

class COverviewMap {
public:
    void SetFields(std::vector<OverviewField> fields);
    /// The legend's names, one per category.
    void SetLegend(std::vector<QString> names) { legend_ = std::move(names); }
    /// The unit written after the mu figure ("亩", "mu").
    void SetMuUnit(QString unit) { muUnit_ = std::move(unit); }
    /// Which fields the filter lets through (all when never set).
    void SetShown(const std::vector<bool>& shown);
    void SetSelected(const std::vector<int>& fields);
    bool Selected(int field) const;
    std::size_t Size() const { return fields_->size(); }
    const std::vector<OverviewField>& Fields() const { return *fields_; }

    /// The view that shows every field shown in `size`.
    MapView Fit(QSize size, double marginPx = 24) const;
    /// Draws the fields, the groups, the labels, the outlines and the legend
    /// (transparent elsewhere: over the map's tiles or grid).
    /// `cancel`, when given and set, stops the drawing early (a worker's
    /// picture no longer wanted).
    void Draw(QPainter& p, QSize size, const MapView& v, bool legend = true,
              const std::atomic<bool>* cancel = nullptr) const;
    /// The legend alone, in the top left corner.
    void DrawLegend(QPainter& p) const;
    /// The field shown under `at` (the smallest when several overlap), or -1.
    /// A group answers with none: it is zoomed into, not picked.
    int HitTest(QPointF at, QSize size, const MapView& v) const;

private:
    // Shared between copies (never changed in place, only replaced): the
    // worker's copy of the map costs the flags alone.
    std::shared_ptr<const std::vector<OverviewField>> fields_ = std::make_shared<std::vector<OverviewField>>();
    std::shared_ptr<const std::vector<QRectF>> boundsOf_ = std::make_shared<std::vector<QRectF>>();  ///< world units
    std::vector<bool> shown_;
    std::vector<bool> selected_;
    std::vector<QString> legend_;
    QString muUnit_;
};

/// The overview drawn into a picture a margin larger than the view on every
/// side, on a worker thread: a repaint only places the last picture (moved,
/// or scaled after a zoom), so no frame waits for 10 000 fields to be drawn.
/// Once the view has moved half the margin from the picture's centre, or the
/// zoom, the size, the fields, the filter or the selection changed
/// (Invalidate), the next picture is asked for; until it arrives the band the
/// old one does not cover shows the map under it. A picture arrives through
/// the event loop of the thread that owns the layer (OnPicture then asks for
/// a repaint); one for fields since changed is dropped (a generation count),
/// and one no longer wanted is cancelled while drawn (an atomic flag).
class COverviewLayer {
public:
    /// How far past each edge the picture reaches (px).
    static constexpr int kMarginPx = 256;
    /// The next picture is asked for when the view has moved this far from
    /// the last one's centre: at a fast drag (~1000 px/s) the other half of
    /// the margin lasts about as long as a picture of 10 000 fields takes.
    static constexpr int kRedrawAfterPx = kMarginPx / 2;

    COverviewLayer();
    /// Cancels the picture being drawn and waits for its thread.
    ~COverviewLayer();
    COverviewLayer(const COverviewLayer&) = delete;
    COverviewLayer& operator=(const COverviewLayer&) = delete;

    /// Called (on the owner's thread) when a new picture has arrived.
    void SetOnPicture(std::function<void()> f) { onPicture_ = std::move(f); }
    /// Runs on the worker before each picture is drawn (tests hold it back).
    void SetBeforeDraw(std::function<void()> f) { beforeDraw_ = std::move(f); }
    /// The fields, filter or selection changed: the pictures drawn so far
    /// still show until the new one arrives.
    void Invalidate();
    void Paint(QPainter& p, QSize size, const MapView& v, const COverviewMap& map);
    /// The picture shown at `v` is of the current fields, at this zoom and
    /// size, and covers the whole view.
    bool Current(QSize size, const MapView& v) const;
    /// A picture is being drawn.
    bool Drawing() const { return running_ != nullptr; }

private:
    struct Job {
        std::atomic<bool> cancel{false};
        std::uint64_t generation = 0;
        MapView at;
        QSize size;
    };
    void Request(QSize size, const MapView& v, const COverviewMap& map);
    void Arrived(const std::shared_ptr<Job>& job, QImage picture);

    QImage picture_;
    MapView at_;
    QSize size_;
    std::uint64_t pictureGeneration_ = 0;
    std::uint64_t generation_ = 1;
    /// The fields as of generation_, shared with the worker (read only).
    std::shared_ptr<const COverviewMap> snapshot_;
    std::shared_ptr<Job> running_;
    std::function<void()> onPicture_;
    std::function<void()> beforeDraw_;
    /// Receives the worker's pictures on the owner's thread; declared before
    /// the pool, so the pool (and its thread) is gone first.
    QObject receiver_;
    QThreadPool pool_;
};

}  // namespace dorvane::map
