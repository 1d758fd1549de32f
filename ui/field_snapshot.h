#pragma once
// A picture of a track or field on its map, fitted, without a window: for
// `dorvane --snapshot` and for reports. Needs a Q(Gui)Application; runs its
// event loop while the tiles arrive.

#include <QImage>
#include <QSize>

#include "geo/field_file.h"
#include "ui/tile_fetcher.h"

namespace dorvane {

/// Longest wait for the tiles of a snapshot (ms); tiles not there by then
/// are left to the grid.
inline constexpr int kSnapshotTileWaitMs = 10000;

/// Renders `f` fitted into `size` over the tiles of `tiles` (or the grid when
/// they are off or do not come). Blocks the calling (GUI) thread for at most
/// `waitMs` while it runs a local event loop; call it only where no window
/// waits on that thread (the command line, a report being written).
/// `gaveUp` (when given) is set to whether the wait ran out before every tile
/// had come or failed.
QImage RenderFieldSnapshot(const geo::FieldFile& f, QSize size, const TileSettings& tiles,
                           int waitMs = kSnapshotTileWaitMs, bool* gaveUp = nullptr);

}  // namespace dorvane
