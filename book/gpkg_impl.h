#pragma once
// Inside the GeoPackage back end: the store class shared by gpkg_schema.cpp
// (creating, checking, upgrading, backing up) and gpkg_store.cpp (the book's
// operations). Not for use outside book/.

#include <cpl_error.h>
#include <gdal_priv.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "book/gpkg_store.h"
#include "geo/gdal_scope.h"

namespace dorvane::book {

inline constexpr const char* kFieldsLayer = "fields";
inline constexpr const char* kLinesLayer = "lines";

using QuietGdalScope = geo::QuietGdal;
/// Said when GDAL fails without a message of its own.
inline constexpr const char* kUnknownGdalFailure = "unknown GDAL failure";
using geo::DatasetCloser;
using geo::DatasetPtr;

class GpkgStore final : public BookStore {
public:
    GpkgStore(std::filesystem::path path, DatasetPtr ds, sqlite3* db)
        : path_(std::move(path)), ds_(std::move(ds)), db_(db) {}

    std::string Location() const override { return path_.string(); }

    BookStatus AddJobs(std::span<const Measurement> jobs, const JobTerms& terms,
                       std::vector<AddOutcome>& outcomes) override;
    BookStatus ListJobs(const JobFilter& filter, std::vector<Job>& out) override;
    BookStatus CountJobs(const JobFilter& filter, std::int64_t& count) override;
    BookStatus ListJobIds(const JobFilter& filter, std::vector<JobId>& out) override;
    BookStatus AssignJobs(std::span<const JobId> ids, const JobTerms& terms) override;
    BookStatus VoidJobs(std::span<const JobId> ids) override;
    BookStatus AddCustomer(const Customer& c, CustomerId& id) override;
    BookStatus ChangeCustomer(const std::string& name, const CustomerChange& change) override;
    BookStatus ListCustomers(std::vector<Customer>& out) override;
    BookStatus IssueBill(const BillRequest& request, Bill& out) override;
    BookStatus VoidBill(const std::string& number, const std::string& date) override;
    BookStatus GetBill(const std::string& number, Bill& out) override;
    BookStatus ListBills(const std::string& customer, std::vector<Bill>& out) override;
    BookStatus Pay(const PaymentRequest& request, Payment& out) override;
    BookStatus GetJobSource(JobId id, std::vector<std::uint8_t>& bytes, std::string& file) override;
    BookStatus GetFieldOutlines(std::span<const JobId> ids, std::vector<JobOutline>& out) override;
    BookStatus Season(const DateRange& range, SeasonFigures& out) override;
    BookStatus GetAreaBasis(AreaBasis& out) override;
    BookStatus SetAreaBasis(AreaBasis basis) override;
    BookStatus Backup(const std::filesystem::path& to) override;
    BookStatus CheckIntegrity(std::string& report) override;

    /// A failure of SQLite code `rc` while doing `what`, as a status naming the book.
    BookStatus Fail(int rc, const std::string& what) const;
    BookStatus Invalid(const std::string& message) const { return {BookError::kInvalid, message}; }
    sqlite3* Db() const { return db_; }
    GDALDataset* Dataset() const { return ds_.get(); }
    int busyTimeoutMs = kDefaultBusyTimeoutMs;

    /// Runs one statement without results.
    BookStatus Exec(const std::string& sql, const std::string& what);

    /// One write transaction: Begin takes the write lock at once (waiting at
    /// most the busy timeout), so no other program's change slips between
    /// this one's reads and writes; destroyed uncommitted, it rolls back.
    class Write {
    public:
        explicit Write(GpkgStore& s) : s_(s) {}
        ~Write();
        Write(const Write&) = delete;
        Write& operator=(const Write&) = delete;
        BookStatus Begin();
        BookStatus Commit();

    private:
        GpkgStore& s_;
        bool active_ = false;
    };

private:
    /// Jobs of both layers matching `where` (over `j`, the layer, and `c`,
    /// its customer), in the filter's order.
    struct JobQuery {
        std::string where;
        std::vector<std::string> args;
        JobFilter::Sort sort = JobFilter::Sort::kId;
        bool descending = false;
        std::size_t offset = 0;
        std::size_t limit = 0;
        bool keysOnly = false;  ///< only the id and the columns jobs sort by
    };
    static JobQuery QueryOf(const JobFilter& f);
    BookStatus LoadJobs(const JobQuery& q, std::vector<Job>& out);
    BookStatus FindCustomer(const std::string& name, Customer& out, bool& found);
    BookStatus BillOf(const std::string& whereSql, const std::string& arg, Bill& out, bool& found,
                      bool withLines);
    BookStatus SetJobsStatusForBill(BillId bill, JobStatus status, bool clearBill);

    std::filesystem::path path_;
    DatasetPtr ds_;
    sqlite3* db_ = nullptr;  ///< the driver's connection (owned by ds_)
};

}  // namespace dorvane::book
