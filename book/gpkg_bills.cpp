// Bills, payments and season figures on the GeoPackage back end.
#include <algorithm>
#include <map>

#include "book/gpkg_impl.h"
#include "book/money.h"
#include "book/sqlite_statement.h"

namespace dorvane::book {

namespace {

std::string Join(const std::vector<JobId>& ids) {
    std::string s;
    for (JobId id : ids) s += (s.empty() ? "" : ",") + std::to_string(id);
    return s;
}

// Paid so far on a bill: the sum of what payments applied to it.
constexpr const char* kPaidOf =
    "(SELECT COALESCE(SUM(a.amount_fen), 0) FROM payment_allocations a WHERE a.invoice_id = i.fid)";

}  // namespace

BookStatus GpkgStore::SetJobsStatusForBill(BillId bill, JobStatus status, bool clearBill) {
    for (const char* layer : {kFieldsLayer, kLinesLayer}) {
        Statement u(db_, std::string("UPDATE ") + layer + " SET status = ?" + (clearBill ? ", bill_id = NULL" : "") +
                             " WHERE bill_id = ?");
        u.Bind(1, Name(status)).Bind(2, std::int64_t{bill});
        if (int rc = u.Step(); rc != SQLITE_DONE) return Fail(rc, "changing the jobs of a bill");
    }
    return {};
}

BookStatus GpkgStore::BillOf(const std::string& whereSql, const std::string& arg, Bill& b, bool& found,
                             bool withLines) {
    Statement s(db_, std::string("SELECT i.fid, i.number, i.customer_id, c.name, i.issued, i.basis, i.status, "
                                 "COALESCE(i.void_date, ''), i.total_fen, ") +
                         kPaidOf + " FROM invoices i JOIN customers c ON c.fid = i.customer_id WHERE " + whereSql);
    s.Bind(1, std::string_view(arg));
    const int rc = s.Step();
    found = rc == SQLITE_ROW;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "reading the bill");
    if (!found) return {};
    b = Bill{};
    b.id = s.Int(0);
    b.number = s.Text(1);
    b.customerId = s.Int(2);
    b.customer = s.Text(3);
    b.date = s.Text(4);
    b.basis = ParseAreaBasis(s.Text(5)).value_or(AreaBasis::kWgs84);
    b.totalFen = s.Int(8);
    b.paidFen = s.Int(9);
    b.status = s.Text(6) == "void" ? BillStatus::kVoid
               : b.paidFen >= b.totalFen ? BillStatus::kPaid
                                         : BillStatus::kIssued;
    b.voidDate = s.Text(7);
    if (!withLines) return {};
    Statement l(db_,
                "SELECT job_id, label, job_date, work, unit, basis, quantity_e4, price_fen, amount_fen "
                "FROM invoice_lines WHERE invoice_id = ? ORDER BY fid");
    l.Bind(1, std::int64_t{b.id});
    int lrc;
    while ((lrc = l.Step()) == SQLITE_ROW) {
        BillLine line;
        line.job = l.Int(0);
        line.label = l.Text(1);
        line.date = l.Text(2);
        line.work = ParseWorkType(l.Text(3)).value_or(WorkType::kOther);
        line.unit = ParseBillingUnit(l.Text(4)).value_or(BillingUnit::kMu);
        line.basis = ParseAreaBasis(l.Text(5)).value_or(AreaBasis::kWgs84);
        line.quantityE4 = l.Int(6);
        line.priceFen = l.Int(7);
        line.amountFen = l.Int(8);
        b.lines.push_back(std::move(line));
    }
    if (lrc != SQLITE_DONE) return Fail(lrc, "reading the bill's lines");
    return {};
}

BookStatus GpkgStore::IssueBill(const BillRequest& r, Bill& out) {
    if (!IsDate(r.date)) return Invalid("'" + r.date + "' is not a date (YYYY-MM-DD)");
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    Customer customer;
    bool found = false;
    if (auto st = FindCustomer(r.customer, customer, found); !st.ok()) return st;
    if (!found) return {BookError::kNotFound, "There is no customer named '" + r.customer + "'"};
    std::vector<Job> jobs;
    if (!r.jobs.empty()) {
        JobFilter byId;
        byId.ids = r.jobs;
        if (auto st = ListJobs(byId, jobs); !st.ok()) return st;
        for (JobId id : r.jobs)
            if (std::none_of(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == id; }))
                return {BookError::kNotFound, "There is no job " + std::to_string(id)};
        for (const Job& j : jobs) {
            if (j.customerId != customer.id)
                return Invalid("Job " + std::to_string(j.id) + " is not " + r.customer + "'s");
            if (j.status == JobStatus::kVoid)
                return Invalid("Job " + std::to_string(j.id) + " is void; a void job is never billed");
            if (j.status != JobStatus::kMeasured)
                return Invalid("Job " + std::to_string(j.id) + " is billed already (" + j.bill.value_or("") + ")");
        }
    } else {
        JobFilter f;
        f.customer = r.customer;
        f.status = JobStatus::kMeasured;
        f.from = r.from;
        f.to = r.to;
        f.sort = JobFilter::Sort::kDate;
        if (auto st = ListJobs(f, jobs); !st.ok()) return st;
    }
    if (jobs.empty()) return Invalid("There are no unbilled jobs of " + r.customer + " to bill");
    AreaBasis basis = AreaBasis::kWgs84;
    if (r.basis) {
        basis = *r.basis;
    } else if (auto st = GetAreaBasis(basis); !st.ok()) {
        return st;
    }
    Bill b;
    b.customerId = customer.id;
    b.customer = customer.name;
    b.date = r.date;
    b.basis = basis;
    for (const Job& j : jobs) {
        if (!j.priceFen)
            return Invalid("Job " + std::to_string(j.id) + " (" + j.label + ") has no price; set one with assign --price");
        BillLine line;
        line.job = j.id;
        line.label = j.label;
        line.date = j.date;
        line.work = j.work;
        line.unit = j.unit;
        const auto q = QuantityE4(BilledFigure(j, basis, line.basis), j.unit);
        const auto amount = q ? AmountFen(*q, *j.priceFen) : std::nullopt;
        if (!amount || __builtin_add_overflow(b.totalFen, *amount, &b.totalFen))
            return Invalid("Job " + std::to_string(j.id) + ": the amount is out of range");
        line.quantityE4 = *q;
        line.priceFen = *j.priceFen;
        line.amountFen = *amount;
        b.lines.push_back(std::move(line));
    }
    const int year = std::atoi(r.date.substr(0, 4).c_str());
    int seq = 0;
    {
        Statement s(db_, "SELECT COALESCE(MAX(seq), 0) FROM invoices WHERE year = ?");
        s.Bind(1, std::int64_t{year});
        if (int rc = s.Step(); rc != SQLITE_ROW) return Fail(rc, "numbering the bill");
        seq = static_cast<int>(s.Int(0)) + 1;
    }
    if (seq > kMaxBillsPerYear) return Invalid("The bill numbers of " + std::to_string(year) + " are used up");
    b.number = BillNumber(year, seq);
    Statement ins(db_,
                  "INSERT INTO invoices (number, year, seq, customer_id, issued, basis, status, total_fen) "
                  "VALUES (?, ?, ?, ?, ?, ?, 'issued', ?)");
    ins.Bind(1, std::string_view(b.number)).Bind(2, std::int64_t{year}).Bind(3, std::int64_t{seq});
    ins.Bind(4, std::int64_t{customer.id}).Bind(5, std::string_view(b.date)).Bind(6, Name(basis));
    ins.Bind(7, std::int64_t{b.totalFen});
    if (int rc = ins.Step(); rc != SQLITE_DONE) return Fail(rc, "writing the bill");
    b.id = sqlite3_last_insert_rowid(db_);
    Statement li(db_,
                 "INSERT INTO invoice_lines (invoice_id, job_id, label, job_date, work, unit, basis, quantity_e4, "
                 "price_fen, amount_fen) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    std::vector<JobId> ids;
    for (const BillLine& l : b.lines) {
        li.Reset();
        li.Bind(1, std::int64_t{b.id}).Bind(2, std::int64_t{l.job}).Bind(3, std::string_view(l.label));
        li.Bind(4, std::string_view(l.date)).Bind(5, Name(l.work)).Bind(6, Name(l.unit)).Bind(7, Name(l.basis));
        li.Bind(8, std::int64_t{l.quantityE4}).Bind(9, std::int64_t{l.priceFen}).Bind(10, std::int64_t{l.amountFen});
        if (int rc = li.Step(); rc != SQLITE_DONE) return Fail(rc, "writing the bill's lines");
        ids.push_back(l.job);
    }
    const JobStatus status = b.totalFen == 0 ? JobStatus::kPaid : JobStatus::kBilled;
    for (const char* layer : {kFieldsLayer, kLinesLayer}) {
        Statement u(db_, std::string("UPDATE ") + layer + " SET status = ?, bill_id = ? WHERE fid IN (" + Join(ids) + ")");
        u.Bind(1, Name(status)).Bind(2, std::int64_t{b.id});
        if (int rc = u.Step(); rc != SQLITE_DONE) return Fail(rc, "marking the jobs billed");
    }
    if (auto st = w.Commit(); !st.ok()) return st;
    b.status = b.totalFen == 0 ? BillStatus::kPaid : BillStatus::kIssued;
    out = std::move(b);
    return {};
}

BookStatus GpkgStore::VoidBill(const std::string& number, const std::string& date) {
    if (!IsDate(date)) return Invalid("'" + date + "' is not a date (YYYY-MM-DD)");
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    Bill b;
    bool found = false;
    if (auto st = BillOf("i.number = ?", number, b, found, false); !st.ok()) return st;
    if (!found) return {BookError::kNotFound, "There is no bill " + number};
    if (b.status == BillStatus::kVoid) return Invalid("Bill " + number + " is void already");
    if (b.paidFen > 0)
        return Invalid("Bill " + number + " has " + FormatMoney(b.paidFen) + " paid on it; it cannot be voided");
    Statement u(db_, "UPDATE invoices SET status = 'void', void_date = ? WHERE fid = ?");
    u.Bind(1, std::string_view(date)).Bind(2, std::int64_t{b.id});
    if (int rc = u.Step(); rc != SQLITE_DONE) return Fail(rc, "voiding the bill");
    if (auto st = SetJobsStatusForBill(b.id, JobStatus::kMeasured, true); !st.ok()) return st;
    return w.Commit();
}

BookStatus GpkgStore::GetBill(const std::string& number, Bill& out) {
    bool found = false;
    if (auto st = BillOf("i.number = ?", number, out, found, true); !st.ok()) return st;
    if (!found) return {BookError::kNotFound, "There is no bill " + number};
    return {};
}

BookStatus GpkgStore::ListBills(const std::string& customer, std::vector<Bill>& out) {
    out.clear();
    Statement s(db_, "SELECT i.number FROM invoices i JOIN customers c ON c.fid = i.customer_id "
                     "WHERE ?1 = '' OR c.name = ?1 ORDER BY i.issued, i.year, i.seq");
    s.Bind(1, std::string_view(customer));
    std::vector<std::string> numbers;
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) numbers.push_back(s.Text(0));
    if (rc != SQLITE_DONE) return Fail(rc, "reading the bills");
    for (const std::string& n : numbers) {
        Bill b;
        bool found = false;
        if (auto st = BillOf("i.number = ?", n, b, found, false); !st.ok()) return st;
        out.push_back(std::move(b));
    }
    return {};
}

BookStatus GpkgStore::Pay(const PaymentRequest& r, Payment& out) {
    if (!IsDate(r.date)) return Invalid("'" + r.date + "' is not a date (YYYY-MM-DD)");
    if (r.amountFen <= 0) return Invalid("A payment must be more than 0");
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    std::vector<Bill> bills;
    std::string customerName;
    std::int64_t customerId = 0;
    if (r.bill) {
        Bill b;
        bool found = false;
        if (auto st = BillOf("i.number = ?", *r.bill, b, found, false); !st.ok()) return st;
        if (!found) return {BookError::kNotFound, "There is no bill " + *r.bill};
        if (b.status == BillStatus::kVoid) return Invalid("Bill " + *r.bill + " is void");
        customerName = b.customer;
        customerId = b.customerId;
        bills.push_back(b);
    } else {
        Customer c;
        bool found = false;
        if (auto st = FindCustomer(r.customer.value_or(""), c, found); !st.ok()) return st;
        if (!found) return {BookError::kNotFound, "There is no customer named '" + r.customer.value_or("") + "'"};
        customerName = c.name;
        customerId = c.id;
        if (auto st = ListBills(c.name, bills); !st.ok()) return st;  // oldest first
    }
    std::vector<Owing> owing;
    Fen outstanding = 0;
    for (std::size_t i = 0; i < bills.size(); ++i) {
        owing.push_back({i, bills[i].OutstandingFen()});
        outstanding += std::max<Fen>(0, bills[i].OutstandingFen());
    }
    const auto applied = AllocatePayment(owing, r.amountFen);
    if (!applied)
        return Invalid("The payment of " + FormatMoney(r.amountFen) + " is more than the " + FormatMoney(outstanding) +
                       " outstanding" + (r.bill ? " on bill " + *r.bill : " for " + customerName));
    Statement p(db_, "INSERT INTO payments (customer_id, paid_on, amount_fen, invoice_id, notes) VALUES (?, ?, ?, ?, ?)");
    p.Bind(1, std::int64_t{customerId}).Bind(2, std::string_view(r.date)).Bind(3, std::int64_t{r.amountFen});
    p.Bind(4, r.bill ? std::optional<std::int64_t>(bills[0].id) : std::nullopt).Bind(5, std::string_view(r.notes));
    if (int rc = p.Step(); rc != SQLITE_DONE) return Fail(rc, "writing the payment");
    Payment pay;
    pay.id = sqlite3_last_insert_rowid(db_);
    pay.customer = customerName;
    pay.date = r.date;
    pay.amountFen = r.amountFen;
    Statement a(db_, "INSERT INTO payment_allocations (payment_id, invoice_id, amount_fen) VALUES (?, ?, ?)");
    for (const auto& [index, amount] : *applied) {
        const Bill& b = bills[index];
        a.Reset();
        a.Bind(1, std::int64_t{pay.id}).Bind(2, std::int64_t{b.id}).Bind(3, std::int64_t{amount});
        if (int rc = a.Step(); rc != SQLITE_DONE) return Fail(rc, "applying the payment");
        const bool paid = amount == b.OutstandingFen();
        if (paid)
            if (auto st = SetJobsStatusForBill(b.id, JobStatus::kPaid, false); !st.ok()) return st;
        pay.applied.push_back({b.number, amount, paid});
    }
    if (auto st = w.Commit(); !st.ok()) return st;
    out = std::move(pay);
    return {};
}

BookStatus GpkgStore::Season(const DateRange& range, SeasonFigures& out) {
    out = SeasonFigures{};
    AreaBasis basis = AreaBasis::kWgs84;
    if (auto st = GetAreaBasis(basis); !st.ok()) return st;
    // One consistent state for all the sums.
    if (auto st = Exec("BEGIN", "reading the season"); !st.ok()) return st;
    struct EndRead {
        GpkgStore& s;
        ~EndRead() { sqlite3_exec(s.Db(), "COMMIT", nullptr, nullptr, nullptr); }
    } endRead{*this};
    std::map<std::string, Figures> per;
    const std::string from = range.from.value_or("0000-00-00"), to = range.to.value_or("9999-99-99");
    {
        // A void job is no work of the season.
        Statement s(db_, "SELECT COALESCE(c.name, ''), j.wgs84_area_m2, j.handheld_area_m2 FROM "
                         "(SELECT customer_id, wgs84_area_m2, handheld_area_m2, job_date, status FROM fields UNION ALL "
                         " SELECT customer_id, wgs84_area_m2, handheld_area_m2, job_date, status FROM lines) j "
                         "LEFT JOIN customers c ON c.fid = j.customer_id "
                         "WHERE j.job_date BETWEEN ? AND ? AND j.status <> 'void'");
        s.Bind(1, std::string_view(from)).Bind(2, std::string_view(to));
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            Figures& f = per[s.Text(0)];
            const double area = basis == AreaBasis::kHandheld && !s.IsNull(2) ? s.Real(2) : s.Real(1);
            f.jobs += 1;
            f.areaMuE4 += QuantityE4(area, BillingUnit::kMu).value_or(0);
        }
        if (rc != SQLITE_DONE) return Fail(rc, "reading the season");
    }
    {
        Statement s(db_, std::string("SELECT c.name, i.total_fen, ") + kPaidOf +
                             " FROM invoices i JOIN customers c ON c.fid = i.customer_id "
                             "WHERE i.status = 'issued' AND i.issued BETWEEN ? AND ?");
        s.Bind(1, std::string_view(from)).Bind(2, std::string_view(to));
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            Figures& f = per[s.Text(0)];
            f.billedFen += s.Int(1);
            f.paidFen += s.Int(2);
        }
        if (rc != SQLITE_DONE) return Fail(rc, "reading the season");
    }
    for (auto& [name, f] : per) {
        out.overall.jobs += f.jobs;
        out.overall.areaMuE4 += f.areaMuE4;
        out.overall.billedFen += f.billedFen;
        out.overall.paidFen += f.paidFen;
        out.customers.emplace_back(name, f);
    }
    return {};
}

}  // namespace dorvane::book
