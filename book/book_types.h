#pragma once
// What the season book holds: jobs (one measurement each), customers, bills
// (invoices) with their lines, payments, and the figures of a season. Plain
// values shared by every back end and front end. Money is always integer fen
// (the currency's minor unit); areas the money depends on travel as integer
// ten-thousandths of the billing unit (see money.h).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geo/field_file.h"

namespace dorvane::book {

using JobId = std::int64_t;
using CustomerId = std::int64_t;
using BillId = std::int64_t;
using Fen = std::int64_t;

enum class WorkType { kHarvesting, kPloughing, kSowing, kSpraying, kSurveying, kOther };
inline constexpr int kWorkTypeCount = 6;

/// measured -> billed -> paid; a voided bill sends its jobs back to measured.
enum class JobStatus { kMeasured, kBilled, kPaid, kVoid };

/// What a job's price is per.
enum class BillingUnit { kMu, kHectare, kKilometre };

/// Which area a bill charges: the geodesic one on WGS84 or the handheld's own.
enum class AreaBasis { kWgs84, kHandheld };

/// The layer a job's geometry lives in: fields are polygons; tracks and
/// harvesting work (an open line swept by the working width) are lines.
enum class JobShape { kField, kLine };

/// Names as stored in the book and typed on the command line
/// ("harvesting", "measured", "mu", "wgs84", ...).
std::string_view Name(WorkType w);
std::string_view Name(JobStatus s);
std::string_view Name(BillingUnit u);
std::string_view Name(AreaBasis b);
std::optional<WorkType> ParseWorkType(std::string_view s);
std::optional<JobStatus> ParseJobStatus(std::string_view s);
std::optional<BillingUnit> ParseBillingUnit(std::string_view s);
std::optional<AreaBasis> ParseAreaBasis(std::string_view s);

/// A measurement as read from a file, before it enters the book.
struct Measurement {
    /// "sha256:<hex>" of the handheld's bytes, or "geometry:<hex>" for files
    /// from other programs (see job_source.h).
    std::string identity;
    /// "geometry:<hex>" of the shape alone, for every file: a KML converted
    /// from a handheld file already in the book matches it through this.
    std::string geometryKey;
    std::string label;  ///< UTF-8: the name the file gives the field or track
    std::string file;   ///< UTF-8 path it was read from
    geo::FieldFormat format = geo::FieldFormat::kHandheldArea;
    JobShape shape = JobShape::kField;
    std::optional<std::int16_t> method;
    /// Field: the ring, open. Line: the points, segments back to back.
    std::vector<geo::GeoPoint> points;
    std::vector<std::size_t> segmentStarts;  ///< lines: first point of each segment
    /// Field: its inner rings (a pond, a farmyard), each open; the area has
    /// them subtracted and the stored polygon keeps them.
    std::vector<std::vector<geo::GeoPoint>> holes;
    std::optional<std::int64_t> startTime;   ///< s since 1970 UTC
    std::optional<std::int64_t> endTime;
    std::optional<double> workWidth_m;
    double wgs84Area_m2 = 0;
    double wgs84Length_m = 0;
    std::optional<double> handheldArea_m2;  ///< handheld files (and KML with their figures)
    std::optional<double> handheldLength_m;
    /// The handheld's bytes when there are any (the file itself, or the ".bak"
    /// kept beside a converted KML/GPX), else the file's own bytes: enough to
    /// write the KML or GPX again.
    std::vector<std::uint8_t> sourceBytes;
    bool sourceIsHandheld = false;
};

/// The job's own terms; a field left empty is left as it is (on assign) or
/// taken from the customer's defaults (on add).
struct JobTerms {
    std::optional<std::string> customer;  ///< name of an existing customer
    std::optional<std::string> village;
    std::optional<WorkType> work;
    std::optional<Fen> priceFen;  ///< per billing unit
    std::optional<BillingUnit> unit;
    std::optional<std::string> notes;
};

struct Job {
    JobId id = 0;
    std::string identity;
    std::string label;
    std::string file;
    JobShape shape = JobShape::kField;
    std::optional<std::int16_t> method;
    std::optional<std::int64_t> startTime;
    std::optional<std::int64_t> endTime;
    std::string date;  ///< local "YYYY-MM-DD" of the measurement (or of its adding)
    std::optional<double> workWidth_m;
    double wgs84Area_m2 = 0;
    double wgs84Length_m = 0;
    std::optional<double> handheldArea_m2;
    std::optional<double> handheldLength_m;
    std::optional<CustomerId> customerId;
    std::string customer;  ///< name, empty when unassigned
    std::string village;
    WorkType work = WorkType::kHarvesting;
    std::optional<Fen> priceFen;
    BillingUnit unit = BillingUnit::kMu;
    JobStatus status = JobStatus::kMeasured;
    std::optional<std::string> bill;  ///< number of the bill it is on (not void)
    std::string notes;
};

/// Which jobs `ListJobs` returns, in id order unless `sort` says otherwise.
/// `offset` and `limit` cut one page out of that order, in the store: the
/// same filter with offsets 0, n, 2n... and limit n reads every job once.
struct JobFilter {
    std::optional<std::string> customer;  ///< exact name; "" = unassigned
    std::optional<JobStatus> status;
    std::optional<WorkType> work;
    std::optional<std::string> from, to;  ///< inclusive "YYYY-MM-DD" on the job's date
    std::optional<std::string> text;      ///< part of the label, file, village or notes
    std::optional<std::string> village;   ///< exact village of the job
    std::vector<JobId> ids;               ///< only these (empty: any)
    /// Ties are in id order, in the same direction as the sort. Texts sort
    /// by their bytes (UTF-8), a missing customer as the empty name, a
    /// missing price after every price.
    enum class Sort { kId, kDate, kCustomer, kArea, kLabel, kVillage, kPrice, kFile } sort = Sort::kId;
    bool descending = false;
    std::size_t offset = 0;  ///< jobs of that order skipped before the first returned
    std::size_t limit = 0;   ///< 0: all
};

struct Customer {
    CustomerId id = 0;
    std::string name;  ///< required, unique (case as typed)
    std::string village;
    std::string phone;
    std::string notes;
    /// Default price per work type, indexed by WorkType.
    std::vector<std::optional<Fen>> defaultPriceFen = std::vector<std::optional<Fen>>(kWorkTypeCount);
};

/// A change to a customer; fields left empty stay.
struct CustomerChange {
    std::optional<std::string> name;
    std::optional<std::string> village;
    std::optional<std::string> phone;
    std::optional<std::string> notes;
    std::vector<std::pair<WorkType, std::optional<Fen>>> prices;  ///< nullopt clears
};

enum class BillStatus { kIssued, kPaid, kVoid };
std::string_view Name(BillStatus s);

struct BillLine {
    JobId job = 0;
    std::string label;
    std::string date;
    WorkType work = WorkType::kHarvesting;
    BillingUnit unit = BillingUnit::kMu;
    AreaBasis basis = AreaBasis::kWgs84;  ///< the figure actually billed
    std::int64_t quantityE4 = 0;          ///< ten-thousandths of `unit`
    Fen priceFen = 0;
    Fen amountFen = 0;
};

struct Bill {
    BillId id = 0;
    std::string number;  ///< "2026-0001"
    CustomerId customerId = 0;
    std::string customer;
    std::string date;  ///< "YYYY-MM-DD" issued
    AreaBasis basis = AreaBasis::kWgs84;
    BillStatus status = BillStatus::kIssued;
    std::string voidDate;
    Fen totalFen = 0;
    Fen paidFen = 0;
    Fen OutstandingFen() const { return status == BillStatus::kVoid ? 0 : totalFen - paidFen; }
    std::vector<BillLine> lines;
};

struct BillRequest {
    std::string customer;
    std::vector<JobId> jobs;              ///< empty: every unbilled job of the customer
    std::optional<std::string> from, to;  ///< with `jobs` empty: their dates
    std::string date;                     ///< issue date "YYYY-MM-DD"
    std::optional<AreaBasis> basis;       ///< empty: the book's setting
};

/// A payment against a customer (applied to the oldest outstanding bills
/// first) or against one bill (`bill` set). Partial payments are fine; more
/// than is outstanding is refused.
struct PaymentRequest {
    std::optional<std::string> customer;
    std::optional<std::string> bill;
    Fen amountFen = 0;
    std::string date;  ///< "YYYY-MM-DD"
    std::string notes;
};

struct PaymentApplied {
    std::string bill;
    Fen amountFen = 0;
    bool billPaid = false;  ///< the bill's outstanding reached 0
};

struct Payment {
    std::int64_t id = 0;
    std::string customer;
    std::string date;
    Fen amountFen = 0;
    std::vector<PaymentApplied> applied;
};

/// Figures of a season: jobs and area by the job's date; billed, paid and
/// outstanding of the bills (not void) issued in the range, paid counting
/// every payment applied to them whatever its date.
struct Figures {
    std::int64_t jobs = 0;
    std::int64_t areaMuE4 = 0;  ///< ten-thousandths of a mu, on the book's area basis
    Fen billedFen = 0;
    Fen paidFen = 0;
    Fen OutstandingFen() const { return billedFen - paidFen; }
};

struct SeasonFigures {
    Figures overall;
    std::vector<std::pair<std::string, Figures>> customers;  ///< by name; "" = unassigned
};

/// A field's polygon as the book holds it (its boundary, open, and holes).
struct JobOutline {
    JobId id = 0;
    geo::FieldFile outline;
};

struct DateRange {
    std::optional<std::string> from, to;  ///< inclusive "YYYY-MM-DD"
};

}  // namespace dorvane::book
