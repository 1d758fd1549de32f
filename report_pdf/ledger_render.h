#pragma once
// Painting the ledger report onto any paged device: the PDF writer and the
// desktop's printer share it. A4 portrait is set on the device. Needs a
// QGuiApplication; call on its thread. Blocks on reading the field files
// again for their pictures.

#include <QPagedPaintDevice>

#include "report/ledger.h"
#include "ui/tile_fetcher.h"

namespace dorvane::report {

/// CJK font family the report asks for (embedded by the PDF engine).
QString ReportFontFamily();

/// Paints the whole report; returns false when the device cannot be painted on.
bool RenderLedger(const Ledger& ledger, QPagedPaintDevice& device, const TileSettings& tiles);

}  // namespace dorvane::report
