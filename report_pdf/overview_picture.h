#pragma once
// The map of all the fields of a report (a ledger, a bill) at the top of its
// first page: the overview's fields over the map's tiles (fetched as for a
// field's picture, within the same wait), framed, with the legend under it
// as text, so the PDF's reader finds its words. Needs a QGuiApplication; GUI
// thread (waits for tiles in a local event loop).

#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>
#include <vector>

#include "map/overview_map.h"
#include "ui/tile_fetcher.h"

namespace dorvane::report {

/// The picture of `m`, every shown field fitted in. `gaveUp`: as for
/// FieldPicture (tiles still outstanding when the wait ran out).
QImage OverviewPicture(const map::COverviewMap& m, QSize size, const TileSettings& tiles, int waitMs,
                       bool* gaveUp = nullptr);

/// Paints the picture into `mapRect` (framed) and, in the row `legendRect`,
/// a square of each category's colour followed by its name. `tiles` goes
/// offline once a wait ran out, like the field pictures after it.
void DrawOverview(QPainter& p, const QRectF& mapRect, const QRectF& legendRect, const map::COverviewMap& m,
                  const std::vector<QString>& legend, TileSettings& tiles);

}  // namespace dorvane::report
