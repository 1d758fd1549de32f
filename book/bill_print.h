#pragma once
// Everything a printed bill shows, gathered from the book once: the bill with
// its lines, the customer, the seller's settings, and for each line the
// job's village and its area in mu. The PDF, the printer and the CSV all
// draw from this one value, so they always say the same. Qt-free; the
// loading calls block on the book like any BookStore call.

#include <cstdint>
#include <string>
#include <vector>

#include "book/bill_settings.h"
#include "book/store.h"
#include "geo/field_file.h"

namespace dorvane::book {

struct BillPrintLine {
    BillLine line;
    std::string village;
    /// The job's area in ten-thousandths of a mu on the line's basis (the
    /// line's quantity itself when it is billed per mu).
    std::int64_t areaMuE4 = 0;
};

struct BillPrint {
    Bill bill;  ///< with its lines (also in `lines`, with their jobs' details)
    Customer customer;
    BillSettings seller;
    std::vector<BillPrintLine> lines;
};

/// Bill `number` as printed, with `seller` on it.
BookStatus LoadBillPrint(BookStore& book, const std::string& number, const BillSettings& seller,
                         BillPrint& out);

/// One field's map on the pictures page.
struct BillPicture {
    std::string caption;  ///< "2026-05-01  Field 3"
    std::size_t line = 0;  ///< its line in BillPrint::lines
    geo::FieldFile field;
};

/// The maps of the bill's jobs, read from the bytes the book keeps of each
/// (so a file moved or deleted since still has its map). A job whose bytes
/// no longer read as a field is left out, never an error.
BookStatus LoadBillPictures(BookStore& book, const BillPrint& bill, std::vector<BillPicture>& out);

/// The bill's lines as CSV (UTF-8, LF): a header, one row per line, then
/// the total, paid and outstanding rows. Money in yuan with 2 decimals,
/// quantities with 4.
std::string BillCsv(const BillPrint& bill);

}  // namespace dorvane::book
