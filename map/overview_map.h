#pragma once
// All of a season's fields on one map: each field filled with the colour of
// its category (its status or its customer, with a legend), its name and mu
// written in it once it is large enough on screen, and, where fields are too
// small to see apart, grouped into a disc per screen cell showing how many
// there are. Selected fields are outlined whatever the zoom. A click is
// answered by HitTest. The fields are projected once; a frame skips what is
// off screen, so panning over 10 000 fields stays within a frame. Qt Gui
// only (the windows and the PDFs share it); no I/O.

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <vector>

#include "ui/field_map.h"

namespace dorvane::map {

struct OverviewField {
    /// The boundary in world units (a track: its path).
    std::vector<WorldPoint> ring;
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
    std::size_t Size() const { return fields_.size(); }
    const std::vector<OverviewField>& Fields() const { return fields_; }

    /// The view that shows every field shown in `size`.
    MapView Fit(QSize size, double marginPx = 24) const;
    /// Draws the fields, the groups, the labels, the outlines and the legend
    /// (transparent elsewhere: over the map's tiles or grid).
    void Draw(QPainter& p, QSize size, const MapView& v, bool legend = true) const;
    /// The legend alone, in the top left corner.
    void DrawLegend(QPainter& p) const;
    /// The field shown under `at` (the smallest when several overlap), or -1.
    /// A group answers with none: it is zoomed into, not picked.
    int HitTest(QPointF at, QSize size, const MapView& v) const;

private:
    std::vector<OverviewField> fields_;
    std::vector<QRectF> bounds_;  ///< world units
    std::vector<bool> shown_;
    std::vector<bool> selected_;
    std::vector<QString> legend_;
    QString muUnit_;
};

/// The overview drawn once into a picture a margin larger than the view on
/// every side; while the view pans within the margin at the same zoom, a
/// repaint only places that picture. Drawn anew when the zoom, the size, the
/// fields, the filter or the selection change (Invalidate).
class COverviewLayer {
public:
    /// How far past each edge the picture reaches (px).
    static constexpr int kMarginPx = 256;

    void Invalidate() { picture_ = QImage(); }
    void Paint(QPainter& p, QSize size, const MapView& v, const COverviewMap& map);

private:
    QImage picture_;
    MapView at_;
    QSize size_;
};

}  // namespace dorvane::map
