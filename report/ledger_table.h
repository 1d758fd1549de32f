#pragma once
// The ledger as a table: its columns, the text and sort key of every cell,
// the totals row, and the CSV file. One column list serves the terminal, the
// CSV, the PDF and the desktop's ledger window, so they always agree.
//
// Header and method texts come from the process-wide string table: call on
// the thread that owns it. Numbers always use '.', never the locale's
// separator. Pure otherwise.

#include <optional>
#include <string>
#include <vector>

#include "report/ledger.h"

namespace dorvane::report {

enum class LedgerColumn {
    kFile,
    kName,
    kMethod,
    kCollected,
    kStart,
    kFinish,
    kWidth,
    kPoints,
    kLength,       ///< handheld's length or perimeter, metres
    kLengthWgs84,  ///< WGS84 length or perimeter, metres
    kArea,         ///< handheld's area, m²
    kAreaMu,
    kAreaHa,
    kAreaWgs84,
    kAreaWgs84Mu,
    kAreaWgs84Ha,
    kLengthCgcs2000,  ///< CGCS2000 length or perimeter, metres (what a land office computes)
    kAreaCgcs2000,    ///< CGCS2000 ellipsoidal area, m²
    kGk3Zone,         ///< the field's 3-degree Gauss-Krueger zone
    kGk3Area,         ///< the field's area on that zone's plane, m²
    kLengthUnitPrice,
    kLengthPriced,  ///< the length as the handheld shows and prices it ("1.500000 km")
    kLengthTotal,
    kAreaUnitPrice,
    kAreaPriced,
    kAreaTotal,
    kHoles,
    kAreaTolerance,  ///< the WGS84 area's band, m² (boundary x receiver accuracy)
    kValidArea,      ///< the valid shape's area, m², for a boundary that crosses itself
    kError,
    kCount
};

inline constexpr int kLedgerColumnCount = static_cast<int>(LedgerColumn::kCount);

/// Every column in table order.
std::vector<LedgerColumn> AllColumns();

/// Column heading in the user's language.
std::string ColumnTitle(LedgerColumn c);

/// True for the columns whose cells are numbers (right-aligned, numeric sort).
bool IsNumericColumn(LedgerColumn c);

struct Cell {
    std::string text;              ///< as shown and written ("" for nothing)
    std::optional<double> number;  ///< the value a numeric column sorts by
};

/// Cell of `row` in column `c`. Error rows show the file, the error and
/// nothing else.
Cell CellOf(const LedgerRow& row, LedgerColumn c);

/// Cell of the totals row (the first column says "Total"; sums where a sum
/// means something, empty elsewhere).
Cell TotalsCell(const LedgerTotals& t, LedgerColumn c);

/// The row's error in the user's language, with the English detail; for a
/// row that was read, the warning about damaged records left out, or "".
std::string ErrorText(const LedgerRow& row);

/// Collection method text in the user's language ("" when unknown, the
/// number for a method the handheld does not define).
std::string MethodText(std::optional<std::int16_t> method);

/// Orders rows by column `c` (numbers numerically, texts bytewise; empty
/// cells last in both directions); stable.
void SortRows(std::vector<LedgerRow>& rows, LedgerColumn c, bool ascending);

/// The CSV file: UTF-8 with a byte-order mark (spreadsheets in a Chinese
/// locale read GBK otherwise), RFC 4180 quoting, CR LF after every record,
/// a header record, one record per row, then the totals record; then, when
/// fields overlap, an empty record, a title record and one record per pair
/// (both fields, the overlap in m² and mu, its share of the smaller field in
/// per cent, "measured twice?").
std::string LedgerCsv(const Ledger& ledger);

/// The "measured twice?" cell of an overlapping pair: the question, with
/// "both kept" when the user kept both; "" for a mere overlap.
std::string OverlapTwiceText(const LedgerOverlap& o);

/// One field of a CSV record, quoted when it holds '"', ',', CR or LF.
std::string CsvField(const std::string& text);

/// A plain-text table for the terminal: columns padded by display width
/// (CJK characters count two), the totals row under a rule. `columns` empty:
/// a compact choice for an 80+ column terminal.
std::string LedgerTextTable(const Ledger& ledger, const std::vector<LedgerColumn>& columns = {});

}  // namespace dorvane::report
