#pragma once
// Painting a bill onto any paged device: the PDF writer and the desktop's
// printer share it. A4 portrait is set on the device. Needs a
// QGuiApplication; call on its thread. Blocks on tiles for the maps.

#include <QPagedPaintDevice>
#include <functional>
#include <vector>

#include "book/bill_print.h"
#include "ui/tile_fetcher.h"

namespace dorvane::report {

enum class BillRender { kDone, kCannotPaint, kCancelled };

/// Paints the bill, its fields' map (the boundaries of `pictures`) on the
/// first page and, after the bill, a page of maps of `pictures` unless not
/// `picturePages` (then the first page's map draws from packs and cached
/// tiles only). `progress` (may be empty) is called before each map with
/// (done, all); false stops the painting (kCancelled).
BillRender RenderBill(const book::BillPrint& bill, const std::vector<book::BillPicture>& pictures,
                      QPagedPaintDevice& device, const TileSettings& tiles,
                      const std::function<bool(int, int)>& progress = {}, bool picturePages = true);

}  // namespace dorvane::report
