#pragma once
// The field ledger: one row per field file, with the handheld's figures and
// prices (the very computation behind the KML data entries) beside the WGS84
// figures, a totals row, and a date-range filter. Rows of files that cannot
// be read carry their error and stay in the ledger: a contractor must see
// that a field is missing from the bill, not find out from the farmer.
//
// Building blocks on the file system (one read per file) on the caller's
// thread; no state between calls; failures are returned in the rows, never
// thrown. Texts are UTF-8; numbers are raw doubles (formatting is the
// writers' business).

#include <atomic>
#include <memory>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "geo/field_file.h"
#include "geo/figures.h"
#include "geo/land_survey.h"

namespace dorvane::report {

struct LedgerRow {
    std::filesystem::path path;
    std::string fileText;  ///< the file's name for display (UTF-8; GBK names decoded)
    /// A converted document (KML or GPX, whatever its extension) whose raw
    /// copy `path` is: the pair is one measurement, one row, read from the
    /// raw bytes; `fileText` names both ("A1003.txt (A1003.bak)"). Empty
    /// for every other row.
    std::filesystem::path document;
    geo::ReadError error = geo::ReadError::kNone;
    std::string errorDetail;  ///< English detail of the failure (empty when read)
    bool isTrack = false;     ///< read fine, but a track: no field to bill
    bool ok() const { return error == geo::ReadError::kNone; }

    // Everything below is meaningful only when ok().
    geo::FieldFormat format = geo::FieldFormat::kHandheldArea;
    std::string name;                            ///< the field's own name (UTF-8)
    std::optional<std::int16_t> method;          ///< 0 track, 1 vertex, 2 harvesting
    std::optional<std::int64_t> collectionTime;  ///< s since 1970 UTC
    std::optional<std::int64_t> startTime;       ///< work record; absent when 0
    std::optional<std::int64_t> finishTime;      ///< work record; absent when 0
    std::optional<double> workWidth;             ///< metres
    std::size_t points = 0;
    /// Point records of the file left out as damaged: the row is billed on
    /// the rest, and its error cell says so.
    std::size_t damagedRecords = 0;
    /// The file shown for an earlier row whose file is byte for byte the same
    /// (the same measurement saved twice, as "name(1).txt"); such a row is
    /// listed but left out of the totals. Empty for every other row.
    std::string sameAs;
    /// Index of the shape in its file: a file of many fields (a village's
    /// Shapefile or KML) gives one row per field, named "file › field".
    std::size_t shape = 0;
    /// The other field of a pair that overlaps by more than 90 % of the
    /// smaller ("measured twice?"): this row is left out of the totals until
    /// the user keeps both (LedgerOptions::keepMeasuredTwice). Empty else.
    std::string measuredTwiceWith;
    /// Read and counted in the totals.
    bool Billed() const { return ok() && sameAs.empty() && measuredTwiceWith.empty(); }
    double lengthUnitPrice = 0;
    double areaUnitPrice = 0;
    geo::HandheldFigures handheld;  ///< length/area/texts/prices as the KML shows them
    geo::Wgs84Figures wgs84;
    std::size_t holes = 0;       ///< holes subtracted from the WGS84 area
    bool valid = true;           ///< false when the boundary crosses itself
    std::size_t crossings = 0;   ///< where it does
    double validArea_m2 = 0;     ///< the area of the valid shape (MakeValid)
    double areaTolerance_m2 = 0; ///< the band of the WGS84 area (boundary x accuracy)
    /// The boundary and holes (nothing else), kept for finding overlaps.
    std::shared_ptr<const geo::FieldFile> outline;
    geo::Cgcs2000Figures cgcs2000;
    std::optional<geo::Gk3Figures> gk3;  ///< fields of 3 points or more (not harvesting work)
    /// Harvesting work measures an open line; every other method a perimeter.
    bool IsHarvesting() const { return method == 2; }
    /// The time that places the row in a date range: the start of the work
    /// when recorded, else the collection time.
    std::optional<std::int64_t> When() const;
};

struct LedgerTotals {
    std::size_t fields = 0;  ///< rows read and counted (copies of an earlier file are not)
    std::size_t failed = 0;  ///< rows with an error
    std::size_t points = 0;
    double handheldLength_m = 0;
    double handheldArea_m2 = 0;
    double wgs84Length_m = 0;
    double wgs84Area_m2 = 0;
    double cgcs2000Length_m = 0;
    double cgcs2000Area_m2 = 0;
    double lengthTotal = 0;  ///< sum of the rows' length/perimeter total prices
    double areaTotal = 0;    ///< sum of the rows' area total prices
};

/// Half-open range [from, to) in seconds since 1970 UTC; either end may be open.
struct DateRange {
    std::optional<std::int64_t> from;
    std::optional<std::int64_t> to;
    bool Empty() const { return !from && !to; }
    bool Contains(std::int64_t t) const { return (!from || t >= *from) && (!to || t < *to); }
};

/// Two rows whose fields share ground (indexes into Ledger::rows, a < b).
struct LedgerOverlap {
    std::size_t a = 0;
    std::size_t b = 0;
    double overlap_m2 = 0;
    double shareOfSmaller = 0;
    bool measuredTwice = false;
    /// A "measured twice?" pair the user keeps both fields of (KeptPairs):
    /// neither is left out of the totals.
    bool kept = false;
};

/// A row as the user knows it across loads: its file and its shape there.
struct RowKey {
    std::string path;
    std::size_t shape = 0;
    auto operator<=>(const RowKey&) const = default;
};
RowKey KeyOf(const LedgerRow& row);
/// A pair of rows, in either order the same (the smaller key first).
using RowPair = std::pair<RowKey, RowKey>;
RowPair PairOf(const LedgerRow& a, const LedgerRow& b);
/// The "measured twice?" pairs whose both fields count in the totals.
using KeptPairs = std::set<RowPair>;

struct Ledger {
    std::vector<LedgerRow> rows;
    /// Every pair of billed rows that overlap (geo::FindOverlaps).
    std::vector<LedgerOverlap> overlaps;  ///< in the order collected (folders sorted by name)
    LedgerTotals totals;          ///< over `rows` (errors counted in `failed`)
    DateRange range;              ///< the filter that was applied
    /// Files seen and left out, with the reason: not a field file in a
    /// folder (other files, tracks), the second half of a converted document
    /// and its ".bak" raw copy (one measurement, one row), or outside the
    /// date range / without a date while a range is set.
    std::size_t skippedNotField = 0;
    std::size_t skippedDuplicate = 0;
    std::size_t skippedOutOfRange = 0;
};

struct LedgerOptions {
    bool recursive = false;  ///< folders: descend into sub-folders
    DateRange range;
    /// Checked before each file: once set, the ledger ends with the rows so
    /// far (the desktop's worker stops through it). May be null.
    const std::atomic<bool>* cancel = nullptr;
    /// The receiver's accuracy (m) the areas' bands are drawn with.
    double receiverAccuracy_m = geo::kDefaultReceiverAccuracy_m;
    /// Keep both fields of every "measured twice?" pair in the totals.
    bool keepMeasuredTwice = false;
    /// Keep both fields of these pairs only (the desktop's choice per pair).
    KeptPairs keptPairs;
    /// Called after each file with the files read so far and the files in
    /// all, on the building thread. May be empty.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

/// Marks each row whose file is byte for byte the same as an earlier row's
/// (LedgerRow::sameAs). Reads the files again; a file that cannot be read is
/// left unmarked.
void MarkCopies(std::vector<LedgerRow>& rows);

/// The row of one file: read, measured, or its error. A track file gives an
/// error row (kNoShapes with the detail "a track, not a field").
LedgerRow RowOfFile(const std::filesystem::path& path);

/// The row of a field already read (used by RowOfFile and the desktop).
LedgerRow RowOfField(const std::filesystem::path& path, const geo::FieldFile& f,
                     double receiverAccuracy_m = geo::kDefaultReceiverAccuracy_m);

/// The ledger of `inputs`: files are taken as named (every failure is a row);
/// folders contribute their field files (sorted by name; sub-folders when
/// recursive), leaving out what is not a field, counted in the skipped
/// figures. A document converted on download and its ".bak" raw copy (both
/// in one folder, or both named) are one row from the raw bytes; a named
/// document takes the raw copy beside it when it is there. Damaged field files
/// in folders are rows with their error. Then the date range applies: rows
/// with a date outside it, or without a date while it is set, are left out
/// (counted); error rows always stay.
Ledger BuildLedger(const std::vector<std::filesystem::path>& inputs, const LedgerOptions& options);

/// `all` with `range` applied as BuildLedger applies it (rows without a
/// date, or outside the range, left out and counted; error rows kept).
Ledger FilterLedger(const Ledger& all, const DateRange& range, bool keepMeasuredTwice = false,
                    const KeptPairs& kept = {});

/// Finds the overlaps among the billed rows of `l` (replacing l.overlaps),
/// marks the second field of each "measured twice?" pair (unless
/// `keepMeasuredTwice`, or the pair is in `kept`) and recomputes the totals.
void MarkOverlaps(Ledger& l, bool keepMeasuredTwice, const KeptPairs& kept = {});

/// Marks again which field of each "measured twice?" pair of l.overlaps is
/// left out, as MarkOverlaps does, without looking for overlaps anew (the
/// user kept or let go one pair), and recomputes the totals.
void MarkMeasuredTwice(Ledger& l, bool keepMeasuredTwice, const KeptPairs& kept);

/// Totals over `rows`.
LedgerTotals TotalsOf(const std::vector<LedgerRow>& rows);

/// Parses "YYYY-MM-DD" as the local day's start (seconds since 1970 UTC,
/// through mktime and TZ). nullopt for anything else or an impossible date.
std::optional<std::int64_t> ParseLocalDate(const std::string& text);

/// The range from --from A --to B: A's start up to the end of B (both days
/// included). nullopt (with `bad` set to the offending text) when a date
/// does not parse or B lies before A.
std::optional<DateRange> RangeOfDays(const std::optional<std::string>& from,
                                     const std::optional<std::string>& to, std::string& bad);

/// "2024-05-01 08:30" in local time; "" when the calendar cannot show it.
std::string LocalTimeText(std::int64_t seconds);
/// "2024-05-01" in local time.
std::string LocalDayText(std::int64_t seconds);

}  // namespace dorvane::report
