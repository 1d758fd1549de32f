#pragma once
// Inside the PostgreSQL back end: the store class shared by pg_schema.cpp
// (connecting, creating, checking, the transaction runner), pg_store.cpp
// (jobs, customers, settings) and pg_bills.cpp (bills, payments, season).
// Not for use outside book/.

#include <functional>
#include <string>

#include "book/pg_conn.h"
#include "book/pg_store.h"

namespace dorvane::book {

class PgStore final : public BookStore {
public:
    PgStore(std::string uri, PgOptions options) : uri_(std::move(uri)), options_(options) {}

    std::string Location() const override { return PgLocationForDisplay(uri_); }

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

    /// Connects (again, after a lost connection) and sets the session's limits.
    BookStatus Connect();
    /// Creates the book's tables when the database has none; checks the version.
    BookStatus Prepare();

    /// Runs one statement; a failure comes back as a status naming the book
    /// and `what`, and its SQLSTATE is kept for the transaction runner.
    BookStatus Run(const std::string& sql, const PgParams& params, PgResult& out, const std::string& what);
    BookStatus Run(const std::string& sql, const PgParams& params, const std::string& what) {
        PgResult ignored;
        return Run(sql, params, ignored, what);
    }
    BookStatus Invalid(const std::string& message) const { return {BookError::kInvalid, message}; }

    /// Runs `body` in one SERIALIZABLE transaction (READ ONLY for `readOnly`),
    /// committed when it returns ok, rolled back otherwise; again from the
    /// start when the server reports a serialization failure or deadlock, up
    /// to the options' attempts.
    BookStatus Transaction(const std::string& what, const std::function<BookStatus()>& body, bool readOnly = false);
    /// A Transaction of the money (bills and payments): it first waits its
    /// turn on the book's money lock (at most the lock timeout), so the
    /// office's billing programs queue one after another instead of
    /// colliding on the year's counter and the same bills and retrying.
    BookStatus MoneyTransaction(const std::string& what, const std::function<BookStatus()>& body);

private:
    BookStatus FindCustomer(const std::string& name, Customer& out, bool& found);
    BookStatus LoadJobs(const std::string& where, const PgParams& params, const JobFilter& order,
                        std::vector<Job>& out);
    BookStatus BillOf(const std::string& number, Bill& out, bool& found, bool withLines);
    BookStatus ListBillsIn(const std::string& customer, std::vector<Bill>& out);
    BookStatus AreaBasisIn(AreaBasis& out);

    std::string uri_;
    PgOptions options_;
    PgConnPtr conn_;
    std::string lastState_;  ///< SQLSTATE of the last failed statement
    bool lost_ = false;      ///< the last failure was a lost connection
};

}  // namespace dorvane::book
