#pragma once
// What the field view draws around the shape it measures: the other shapes
// of the same file (a village's fields, dimmed, so the one picked stands
// out), the holes of the picked field (cut out of its fill, outlined), and
// the points where its boundary crosses itself (ringed in red). Projected
// once on the reader's thread; drawn into the view's cached layer. Qt Gui
// only; no I/O.

#include <QColor>
#include <QPainter>
#include <QSize>
#include <vector>

#include "geo/field_file.h"
#include "geo/validity.h"
#include "ui/field_map.h"

namespace dorvane {

/// The file's other shapes: outline and fill.
inline const QColor kOtherShapeLine{0x70, 0x70, 0x70};
inline const QColor kOtherShapeFill{0x70, 0x70, 0x70, 0x40};
/// The ring around a point where the boundary crosses itself.
inline const QColor kCrossingColour{0xE0, 0x00, 0x20};
inline constexpr double kCrossingRadiusPx = 7;
/// More shapes than this in one file: the others are not drawn around the
/// picked one (the ledger's map of all fields shows such a file whole).
inline constexpr std::size_t kMaxOtherShapes = 20000;

struct FieldContext {
    struct Other {
        std::vector<WorldPoint> points;
        bool area = false;  ///< a boundary (filled), else a track's path
    };
    std::vector<Other> others;
    std::vector<std::vector<WorldPoint>> holes;
    std::vector<WorldPoint> crossings;
    bool Empty() const { return others.empty() && holes.empty() && crossings.empty(); }
};

/// The context of shape `pick` of `all` (null: a file of one shape, `picked`
/// alone), with the crossings of `validity` when there is one.
FieldContext ContextOf(const geo::FieldFile& picked, const std::vector<geo::FieldFile>* all, std::size_t pick,
                       const geo::Validity* validity);

/// The other shapes, drawn before (under) the picked one.
void DrawOtherShapes(QPainter& p, QSize size, const MapView& v, const FieldContext& c);
/// The holes cut out of what is drawn (the painter's device must be a layer
/// of its own: the cut leaves it transparent) and outlined, then the
/// crossings ringed, drawn after (over) the picked shape.
void DrawHolesAndCrossings(QPainter& p, QSize size, const MapView& v, const FieldContext& c);

}  // namespace dorvane
