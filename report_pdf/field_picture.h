#pragma once
// The map picture of one field on its report page: the field view's
// snapshot (tiles when the source answers within the wait, the metric grid
// otherwise). The one place the report takes its pictures from.
// Needs a QGuiApplication; GUI thread (runs a local event loop while tiles
// arrive, so call it only where no window waits on the thread).

#include <QImage>
#include <QSize>

#include "geo/field_file.h"
#include "ui/tile_fetcher.h"

namespace dorvane::report {

/// Longest wait for one picture's tiles (ms): a report of many fields must
/// not hang on a slow tile server; missing tiles leave the grid.
inline constexpr int kPictureTileWaitMs = 5000;

/// `gaveUp`: set to whether the wait ran out with tiles still outstanding (a
/// server that accepts and never answers); the report then draws the rest of
/// its pictures on the grid instead of waiting again for every field.
QImage FieldPicture(const geo::FieldFile& f, QSize size, const TileSettings& tiles,
                    bool* gaveUp = nullptr);

}  // namespace dorvane::report
