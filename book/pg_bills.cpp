// Bills, payments and season figures on the PostgreSQL back end.
#include <algorithm>
#include <map>

#include "book/money.h"
#include "book/pg_impl.h"

namespace dorvane::book {

namespace {

// A bill's head with what has been paid on it, from `i` joined to its customer `c`.
constexpr const char* kBillSelect =
    "SELECT i.fid, i.number, i.customer_id, c.name, i.issued, i.basis, i.status, COALESCE(i.void_date, ''), "
    "i.total_fen, (SELECT COALESCE(SUM(a.amount_fen), 0) FROM payment_allocations a WHERE a.invoice_id = i.fid) "
    "FROM invoices i JOIN customers c ON c.fid = i.customer_id";

Bill BillRow(const PgResult& r, int row) {
    Bill b;
    b.id = r.Int(row, 0);
    b.number = r.Text(row, 1);
    b.customerId = r.Int(row, 2);
    b.customer = r.Text(row, 3);
    b.date = r.Text(row, 4);
    b.basis = ParseAreaBasis(r.View(row, 5)).value_or(AreaBasis::kWgs84);
    b.voidDate = r.Text(row, 7);
    b.totalFen = r.Int(row, 8);
    b.paidFen = r.Int(row, 9);
    b.status = r.View(row, 6) == "void" ? BillStatus::kVoid
               : b.paidFen >= b.totalFen ? BillStatus::kPaid
                                         : BillStatus::kIssued;
    return b;
}

std::string IdArray(const std::vector<JobId>& ids) {
    std::string s = "{";
    for (JobId id : ids) s += (s.size() > 1 ? "," : "") + std::to_string(id);
    return s + "}";
}

}  // namespace

BookStatus PgStore::BillOf(const std::string& number, Bill& b, bool& found, bool withLines) {
    PgResult r;
    if (auto st = Run(std::string(kBillSelect) + " WHERE i.number = $1", PgParams().Add(number), r, "reading the bill");
        !st.ok())
        return st;
    found = r.Rows() == 1;
    if (!found) return {};
    b = BillRow(r, 0);
    if (!withLines) return {};
    PgResult l;
    if (auto st = Run("SELECT job_id, label, job_date, work, unit, basis, quantity_e4, price_fen, amount_fen "
                      "FROM invoice_lines WHERE invoice_id = $1 ORDER BY fid",
                      PgParams().Add(std::int64_t{b.id}), l, "reading the bill's lines");
        !st.ok())
        return st;
    for (int i = 0; i < l.Rows(); ++i) {
        BillLine line;
        line.job = l.Int(i, 0);
        line.label = l.Text(i, 1);
        line.date = l.Text(i, 2);
        line.work = ParseWorkType(l.View(i, 3)).value_or(WorkType::kOther);
        line.unit = ParseBillingUnit(l.View(i, 4)).value_or(BillingUnit::kMu);
        line.basis = ParseAreaBasis(l.View(i, 5)).value_or(AreaBasis::kWgs84);
        line.quantityE4 = l.Int(i, 6);
        line.priceFen = l.Int(i, 7);
        line.amountFen = l.Int(i, 8);
        b.lines.push_back(std::move(line));
    }
    return {};
}

BookStatus PgStore::IssueBill(const BillRequest& r, Bill& out) {
    if (!IsDate(r.date)) return Invalid("'" + r.date + "' is not a date (YYYY-MM-DD)");
    Bill b;
    BookStatus st = MoneyTransaction("issuing a bill", [&]() -> BookStatus {
        b = Bill{};
        Customer customer;
        bool found = false;
        if (auto s = FindCustomer(r.customer, customer, found); !s.ok()) return s;
        if (!found) return {BookError::kNotFound, "There is no customer named '" + r.customer + "'"};
        std::vector<Job> jobs;
        if (!r.jobs.empty()) {
            JobFilter byId;
            byId.ids = r.jobs;
            if (auto s = ListJobs(byId, jobs); !s.ok()) return s;
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
            if (auto s = ListJobs(f, jobs); !s.ok()) return s;
        }
        if (jobs.empty()) return Invalid("There are no unbilled jobs of " + r.customer + " to bill");
        AreaBasis basis = AreaBasis::kWgs84;
        if (r.basis) {
            basis = *r.basis;
        } else if (auto s = AreaBasisIn(basis); !s.ok()) {
            return s;
        }
        b.customerId = customer.id;
        b.customer = customer.name;
        b.date = r.date;
        b.basis = basis;
        for (const Job& j : jobs) {
            if (!j.priceFen)
                return Invalid("Job " + std::to_string(j.id) + " (" + j.label +
                               ") has no price; set one with assign --price");
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
        // The year's counter row, locked by this transaction until it ends:
        // whoever bills next waits for it (or retries), and a rolled-back
        // bill gives its number back, so numbers never repeat or skip.
        PgResult counter;
        if (auto s = Run("INSERT INTO bill_counters (year, last_seq) VALUES ($1, 1) ON CONFLICT (year) "
                         "DO UPDATE SET last_seq = bill_counters.last_seq + 1 RETURNING last_seq",
                         PgParams().Add(year), counter, "numbering the bill");
            !s.ok())
            return s;
        const int seq = static_cast<int>(counter.Int(0, 0));
        if (seq > kMaxBillsPerYear) return Invalid("The bill numbers of " + std::to_string(year) + " are used up");
        b.number = BillNumber(year, seq);
        PgResult head;
        PgParams hp;
        hp.Add(b.number).Add(year).Add(seq).Add(std::int64_t{customer.id}).Add(b.date).Add(Name(basis)).Add(b.totalFen);
        if (auto s = Run("INSERT INTO invoices (number, year, seq, customer_id, issued, basis, status, total_fen) "
                         "VALUES ($1, $2, $3, $4, $5, $6, 'issued', $7) RETURNING fid",
                         hp, head, "writing the bill");
            !s.ok())
            return s;
        b.id = head.Int(0, 0);
        // All lines in one statement: a day's two hundred jobs are one round trip.
        std::string values;
        PgParams lp;
        int n = 0;
        std::vector<JobId> ids;
        for (const BillLine& l : b.lines) {
            values += values.empty() ? "(" : ",(";
            for (int k = 0; k < 10; ++k) values += (k ? ",$" : "$") + std::to_string(++n);
            values += ")";
            lp.Add(std::int64_t{b.id}).Add(std::int64_t{l.job}).Add(l.label).Add(l.date).Add(Name(l.work));
            lp.Add(Name(l.unit)).Add(Name(l.basis)).Add(std::int64_t{l.quantityE4}).Add(std::int64_t{l.priceFen});
            lp.Add(std::int64_t{l.amountFen});
            ids.push_back(l.job);
        }
        if (auto s = Run("INSERT INTO invoice_lines (invoice_id, job_id, label, job_date, work, unit, basis, "
                         "quantity_e4, price_fen, amount_fen) SELECT v.a::bigint, v.b::bigint, v.c, v.d, v.e, v.f, v.g, "
                         "v.h::bigint, v.i::bigint, v.j::bigint FROM (VALUES " + values + ") AS v(a, b, c, d, e, f, g, h, i, j)",
                         lp, "writing the bill's lines");
            !s.ok())
            return s;
        const JobStatus status = b.totalFen == 0 ? JobStatus::kPaid : JobStatus::kBilled;
        PgResult marked;
        // Only jobs still measured are taken: a job is never on two live bills.
        if (auto s = Run("UPDATE jobs SET status = $1, bill_id = $2 WHERE fid = ANY($3::bigint[]) AND status = 'measured'",
                         PgParams().Add(Name(status)).Add(std::int64_t{b.id}).Add(IdArray(ids)), marked,
                         "marking the jobs billed");
            !s.ok())
            return s;
        if (marked.Affected() != static_cast<std::int64_t>(ids.size()))
            return Invalid("Some of the jobs were billed by another program at the same moment; nothing was billed");
        return {};
    });
    if (!st.ok()) return st;
    b.status = b.totalFen == 0 ? BillStatus::kPaid : BillStatus::kIssued;
    out = std::move(b);
    return {};
}

BookStatus PgStore::VoidBill(const std::string& number, const std::string& date) {
    if (!IsDate(date)) return Invalid("'" + date + "' is not a date (YYYY-MM-DD)");
    return MoneyTransaction("voiding a bill", [&]() -> BookStatus {
        Bill b;
        bool found = false;
        if (auto st = BillOf(number, b, found, false); !st.ok()) return st;
        if (!found) return {BookError::kNotFound, "There is no bill " + number};
        if (b.status == BillStatus::kVoid) return Invalid("Bill " + number + " is void already");
        if (b.paidFen > 0)
            return Invalid("Bill " + number + " has " + FormatMoney(b.paidFen) + " paid on it; it cannot be voided");
        if (auto st = Run("UPDATE invoices SET status = 'void', void_date = $1 WHERE fid = $2",
                          PgParams().Add(date).Add(std::int64_t{b.id}), "voiding the bill");
            !st.ok())
            return st;
        return Run("UPDATE jobs SET status = 'measured', bill_id = NULL WHERE bill_id = $1",
                   PgParams().Add(std::int64_t{b.id}), "changing the jobs of a bill");
    });
}

BookStatus PgStore::GetBill(const std::string& number, Bill& out) {
    bool found = false;
    if (auto st = Transaction("reading the bill", [&] { return BillOf(number, out, found, true); }, true); !st.ok())
        return st;
    if (!found) return {BookError::kNotFound, "There is no bill " + number};
    return {};
}

BookStatus PgStore::ListBillsIn(const std::string& customer, std::vector<Bill>& out) {
    out.clear();
    PgResult r;
    if (auto st = Run(std::string(kBillSelect) + " WHERE $1 = '' OR c.name = $1 ORDER BY i.issued, i.year, i.seq",
                      PgParams().Add(customer), r, "reading the bills");
        !st.ok())
        return st;
    for (int i = 0; i < r.Rows(); ++i) out.push_back(BillRow(r, i));
    return {};
}

BookStatus PgStore::ListBills(const std::string& customer, std::vector<Bill>& out) {
    return ListBillsIn(customer, out);
}

BookStatus PgStore::Pay(const PaymentRequest& r, Payment& out) {
    if (!IsDate(r.date)) return Invalid("'" + r.date + "' is not a date (YYYY-MM-DD)");
    if (r.amountFen <= 0) return Invalid("A payment must be more than 0");
    Payment pay;
    BookStatus st = MoneyTransaction("writing a payment", [&]() -> BookStatus {
        pay = Payment{};
        std::vector<Bill> bills;
        std::string customerName;
        std::int64_t customerId = 0;
        if (r.bill) {
            Bill b;
            bool found = false;
            if (auto s = BillOf(*r.bill, b, found, false); !s.ok()) return s;
            if (!found) return {BookError::kNotFound, "There is no bill " + *r.bill};
            if (b.status == BillStatus::kVoid) return Invalid("Bill " + *r.bill + " is void");
            customerName = b.customer;
            customerId = b.customerId;
            bills.push_back(b);
        } else {
            Customer c;
            bool found = false;
            if (auto s = FindCustomer(r.customer.value_or(""), c, found); !s.ok()) return s;
            if (!found) return {BookError::kNotFound, "There is no customer named '" + r.customer.value_or("") + "'"};
            customerName = c.name;
            customerId = c.id;
            if (auto s = ListBillsIn(c.name, bills); !s.ok()) return s;  // oldest first
        }
        std::vector<Owing> owing;
        Fen outstanding = 0;
        for (std::size_t i = 0; i < bills.size(); ++i) {
            owing.push_back({i, bills[i].OutstandingFen()});
            outstanding += std::max<Fen>(0, bills[i].OutstandingFen());
        }
        const auto applied = AllocatePayment(owing, r.amountFen);
        if (!applied)
            return Invalid("The payment of " + FormatMoney(r.amountFen) + " is more than the " +
                           FormatMoney(outstanding) + " outstanding" +
                           (r.bill ? " on bill " + *r.bill : " for " + customerName));
        PgResult head;
        PgParams p;
        p.Add(customerId).Add(r.date).Add(r.amountFen);
        p.Add(r.bill ? std::optional<std::int64_t>(bills[0].id) : std::nullopt).Add(r.notes);
        if (auto s = Run("INSERT INTO payments (customer_id, paid_on, amount_fen, invoice_id, notes) "
                         "VALUES ($1, $2, $3, $4, $5) RETURNING fid",
                         p, head, "writing the payment");
            !s.ok())
            return s;
        pay.id = head.Int(0, 0);
        pay.customer = customerName;
        pay.date = r.date;
        pay.amountFen = r.amountFen;
        for (const auto& [index, amount] : *applied) {
            const Bill& b = bills[index];
            if (auto s = Run("INSERT INTO payment_allocations (payment_id, invoice_id, amount_fen) VALUES ($1, $2, $3)",
                             PgParams().Add(pay.id).Add(std::int64_t{b.id}).Add(amount), "applying the payment");
                !s.ok())
                return s;
            const bool paid = amount == b.OutstandingFen();
            if (paid)
                if (auto s = Run("UPDATE jobs SET status = 'paid' WHERE bill_id = $1", PgParams().Add(std::int64_t{b.id}),
                                 "changing the jobs of a bill");
                    !s.ok())
                    return s;
            pay.applied.push_back({b.number, amount, paid});
        }
        return {};
    });
    if (!st.ok()) return st;
    out = std::move(pay);
    return {};
}

BookStatus PgStore::Season(const DateRange& range, SeasonFigures& out) {
    const std::string from = range.from.value_or("0000-00-00"), to = range.to.value_or("9999-99-99");
    // One snapshot for all the sums.
    return Transaction("reading the season", [&]() -> BookStatus {
        out = SeasonFigures{};
        AreaBasis basis = AreaBasis::kWgs84;
        if (auto st = AreaBasisIn(basis); !st.ok()) return st;
        std::map<std::string, Figures> per;
        PgResult jobs;
        // A void job is no work of the season. Each job's area is rounded
        // to the book's quantity as a bill would (money.h), here, not summed
        // in floating point in the server.
        if (auto st = Run("SELECT COALESCE(c.name, ''), j.wgs84_area_m2, j.handheld_area_m2 FROM jobs j "
                          "LEFT JOIN customers c ON c.fid = j.customer_id "
                          "WHERE j.job_date BETWEEN $1 AND $2 AND j.status <> 'void'",
                          PgParams().Add(from).Add(to), jobs, "reading the season");
            !st.ok())
            return st;
        for (int i = 0; i < jobs.Rows(); ++i) {
            Figures& f = per[jobs.Text(i, 0)];
            const double area =
                basis == AreaBasis::kHandheld && !jobs.IsNull(i, 2) ? jobs.Real(i, 2) : jobs.Real(i, 1);
            f.jobs += 1;
            f.areaMuE4 += QuantityE4(area, BillingUnit::kMu).value_or(0);
        }
        PgResult bills;
        if (auto st = Run("SELECT c.name, i.total_fen, (SELECT COALESCE(SUM(a.amount_fen), 0) FROM payment_allocations a "
                          "WHERE a.invoice_id = i.fid) FROM invoices i JOIN customers c ON c.fid = i.customer_id "
                          "WHERE i.status = 'issued' AND i.issued BETWEEN $1 AND $2",
                          PgParams().Add(from).Add(to), bills, "reading the season");
            !st.ok())
            return st;
        for (int i = 0; i < bills.Rows(); ++i) {
            Figures& f = per[bills.Text(i, 0)];
            f.billedFen += bills.Int(i, 1);
            f.paidFen += bills.Int(i, 2);
        }
        for (auto& [name, f] : per) {
            out.overall.jobs += f.jobs;
            out.overall.areaMuE4 += f.areaMuE4;
            out.overall.billedFen += f.billedFen;
            out.overall.paidFen += f.paidFen;
            out.customers.emplace_back(name, f);
        }
        return {};
    }, true);
}

}  // namespace dorvane::book
