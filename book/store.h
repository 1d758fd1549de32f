#pragma once
// The season book's store contract. Every back end (the GeoPackage file, the
// default; later a PostgreSQL + PostGIS office book) implements this one
// interface, as GDAL drivers sit behind one dataset interface; front ends
// (the CLI, the desktop's Book window) hold a BookStore and never know which.
//
// Threads and blocking: every call blocks on disk (or the network) and may
// wait up to the busy timeout for another program's write to finish, so the
// desktop calls it from a worker thread, never the GUI thread. One BookStore
// is used by one thread at a time; two threads open two stores. Any number of
// programs may open the same book at once.
//
// Transactions: every write call is one transaction. It commits whole or
// changes nothing: a failure (returned), a kill, a full disk or a vanished
// disk in the middle leaves the book as it was. Reads see one consistent
// state of the book.
//
// Failures are returned as a BookStatus, never thrown, never an exit; the
// message names the book and the cause in English. A call that fails changes
// nothing. Money rules (money.h) are the same for every back end.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "book/book_types.h"

namespace dorvane::book {

enum class BookError {
    kNone,
    kCannotOpen,  ///< missing folder, no permission, not a file
    kNotABook,    ///< not a GeoPackage, or a GeoPackage that is no Dorvane book
    kNewerBook,   ///< written by a newer Dorvane: refused, left unchanged
    kDamaged,     ///< the database reports corruption
    kReadOnly,    ///< the book (or its folder) cannot be written
    kBusy,        ///< another program held the book longer than the busy timeout
    kDiskFull,
    kIo,          ///< any other failure of the storage underneath
    kNotFound,    ///< no such customer, job or bill
    kDuplicate,   ///< a customer name that exists already
    kInvalid,     ///< a request the book's rules refuse (its message says which rule)
};

struct BookStatus {
    BookError error = BookError::kNone;
    std::string message;  ///< English; names the book file for storage failures
    bool ok() const { return error == BookError::kNone; }
    static BookStatus Ok() { return {}; }
};

/// What became of one measurement handed to AddJobs.
struct AddOutcome {
    bool added = false;
    JobId id = 0;  ///< the new job, or the job it already is in the book
    std::string existingLabel;  ///< when not added: that job's label
};

class BookStore {
public:
    virtual ~BookStore() = default;
    BookStore() = default;
    BookStore(const BookStore&) = delete;
    BookStore& operator=(const BookStore&) = delete;

    /// Where the book is, for messages ("/home/u/.local/share/dorvane/book.gpkg").
    virtual std::string Location() const = 0;

    /// Adds the measurements with `terms` (a customer's default price fills a
    /// missing price). One already in the book is not added: its outcome
    /// names the job it is. A handheld file is the same job only when its
    /// bytes are; another program's file also when its geometry and times
    /// match a job's. All or nothing.
    virtual BookStatus AddJobs(std::span<const Measurement> jobs, const JobTerms& terms,
                               std::vector<AddOutcome>& outcomes) = 0;
    virtual BookStatus ListJobs(const JobFilter& filter, std::vector<Job>& out) = 0;
    /// How many jobs `filter` matches, its offset and limit aside: the length
    /// of the whole list a front end pages through.
    virtual BookStatus CountJobs(const JobFilter& filter, std::int64_t& count) = 0;
    /// The ids of the jobs `filter` matches, in its order (its offset and
    /// limit apply): "every matching job" without reading their rows.
    virtual BookStatus ListJobIds(const JobFilter& filter, std::vector<JobId>& out) = 0;
    /// Sets the given terms on every job in `ids` (all must exist and be
    /// unbilled). Assigning a customer without a price takes the customer's
    /// default for the job's work type when the job has no price yet.
    virtual BookStatus AssignJobs(std::span<const JobId> ids, const JobTerms& terms) = 0;
    /// Marks every job in `ids` void: a measurement that is not work to be
    /// paid for (a test, a wrong field). It stays in the book, so its file
    /// is still known, but no bill takes it and the season leaves it out.
    /// All must exist and be unbilled; a billed job needs its bill voided first.
    virtual BookStatus VoidJobs(std::span<const JobId> ids) = 0;

    virtual BookStatus AddCustomer(const Customer& c, CustomerId& id) = 0;
    virtual BookStatus ChangeCustomer(const std::string& name, const CustomerChange& change) = 0;
    virtual BookStatus ListCustomers(std::vector<Customer>& out) = 0;

    /// Issues a bill numbered next in its year ("2026-0001"), gap-free. Every
    /// job must belong to the customer, be unbilled and have a price.
    virtual BookStatus IssueBill(const BillRequest& request, Bill& out) = 0;
    /// Marks the bill void (its number stays taken); its jobs go back to
    /// measured. A bill with payments applied is refused.
    virtual BookStatus VoidBill(const std::string& number, const std::string& date) = 0;
    virtual BookStatus GetBill(const std::string& number, Bill& out) = 0;
    /// Bills of `customer` ("" = all), oldest first, without their lines.
    virtual BookStatus ListBills(const std::string& customer, std::vector<Bill>& out) = 0;

    virtual BookStatus Pay(const PaymentRequest& request, Payment& out) = 0;

    /// The bytes job `id` was read from (the handheld's when there were any)
    /// and the file it came from: enough to draw its map or write its file again.
    virtual BookStatus GetJobSource(JobId id, std::vector<std::uint8_t>& bytes, std::string& file) = 0;

    /// The stored polygons of those of `ids` that are fields (lines and
    /// unknown ids are left out), in id order: what overlaps are found in.
    virtual BookStatus GetFieldOutlines(std::span<const JobId> ids, std::vector<JobOutline>& out) = 0;

    virtual BookStatus Season(const DateRange& range, SeasonFigures& out) = 0;

    /// The area basis bills use unless told otherwise (default WGS84).
    virtual BookStatus GetAreaBasis(AreaBasis& out) = 0;
    virtual BookStatus SetAreaBasis(AreaBasis basis) = 0;

    /// A consistent copy of the open book at `to` (which must not exist),
    /// while other programs keep using it.
    virtual BookStatus Backup(const std::filesystem::path& to) = 0;
    /// The store's own consistency check ("ok", or the first problems).
    virtual BookStatus CheckIntegrity(std::string& report) = 0;
};

}  // namespace dorvane::book
