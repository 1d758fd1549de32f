#pragma once
// A bill's PDF, behind a Qt-free interface so that the command-line program
// can link it without Qt headers. A4 portrait in the user's language: the
// seller and the customer, the bill's number, date and area basis, one line
// per job (date, village, name, work, quantity in the billing unit, area in
// mu, price, amount), the total, what is paid so far and what is
// outstanding; a void bill says so in its title. Optionally followed by
// pages of the fields' maps. Chinese shows through the embedded CJK font
// the ledger's report uses.
//
// Needs a QGuiApplication: when none exists (the command-line program) one
// is made for the call on the offscreen platform. Call on the thread that
// owns (or will own) the application and the string table. Blocks on
// writing, and on tiles for the maps when a tile source is given.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "book/bill_print.h"
#include "report/output_file.h"

namespace dorvane::report {

struct BillPdfOptions {
    /// Map tiles of the pictures: an XYZ URL template, "none" for the grid
    /// alone, or empty for the desktop's setting (the user's profile).
    std::string tiles = "none";
    /// Further sources drawn over `tiles` in order (URL templates or
    /// .mbtiles files), an overlay over all, and whether no server is asked.
    std::vector<std::string> stackedTiles;
    std::string overlay;
    bool offline = false;
    /// Pages of the fields' maps after the bill; without them the first
    /// page's map of all the fields draws from packs and cached tiles only.
    bool picturePages = true;
    /// Called before each map is drawn with (maps done, maps in all); false
    /// stops the PDF, which is then not written.
    std::function<bool(int, int)> progress;
};

/// The message of the outcome when `progress` stopped the PDF.
inline constexpr const char* kBillPdfCancelled = "cancelled";

/// Writes `bill` to `out` (through a temporary file beside it; an existing
/// file is replaced only when `force`), the map of `pictures`' fields on
/// its first page and pages of their maps (options.picturePages) when there
/// are any.
OutputOutcome WriteBillPdf(const book::BillPrint& bill, const std::vector<book::BillPicture>& pictures,
                           const std::filesystem::path& out, bool force, const BillPdfOptions& options = {});

}  // namespace dorvane::report
