#pragma once
// The ledger's PDF report, behind a Qt-free interface so that the
// command-line program can link it without Qt headers. A4 portrait: a title
// with the date range, the summary table with its totals row, then one page
// per field with its map picture (the field view's snapshot), figures and
// prices; Chinese shows through
// an embedded CJK font (WenQuanYi Micro Hei, or Noto CJK, whichever fontconfig
// finds).
//
// Needs a QGuiApplication: when none exists (the command-line program) one
// is made for the call on the offscreen platform. Call on the thread that
// owns (or will own) the application and the string table. Blocks on
// reading the field files again (for their pictures) and on writing.

#include <filesystem>
#include <string>
#include <vector>

#include "report/ledger.h"
#include "report/output_file.h"

namespace dorvane::report {

struct PdfOptions {
    /// Map tiles of the field pictures: an XYZ URL template, "none" for the
    /// grid alone, or empty for the desktop's setting (the user's profile).
    std::string tiles = "none";
    /// Further sources drawn over `tiles` in order (URL templates or
    /// .mbtiles files), an overlay over all, and whether no server is asked.
    std::vector<std::string> stackedTiles;
    std::string overlay;
    bool offline = false;
};

/// Writes the report of `ledger` to `out` (through a temporary file beside
/// it; an existing file is replaced only when `force`).
OutputOutcome WriteLedgerPdf(const Ledger& ledger, const std::filesystem::path& out, bool force,
                             const PdfOptions& options = {});

}  // namespace dorvane::report
