#include "book/bill_print.h"

#include <map>

#include "book/job_shapes.h"
#include "book/money.h"

namespace dorvane::book {

namespace {

std::string Csv(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace

BookStatus LoadBillPrint(BookStore& book, const std::string& number, const BillSettings& seller,
                         BillPrint& out) {
    BillPrint p;
    if (auto st = book.GetBill(number, p.bill); !st.ok()) return st;
    std::vector<Customer> customers;
    if (auto st = book.ListCustomers(customers); !st.ok()) return st;
    for (const Customer& c : customers)
        if (c.id == p.bill.customerId) p.customer = c;
    if (p.customer.name.empty()) p.customer.name = p.bill.customer;
    p.seller = seller;
    JobFilter f;
    for (const BillLine& l : p.bill.lines) f.ids.push_back(l.job);
    std::vector<Job> jobs;
    if (!f.ids.empty())
        if (auto st = book.ListJobs(f, jobs); !st.ok()) return st;
    std::map<JobId, const Job*> byId;
    for (const Job& j : jobs) byId[j.id] = &j;
    for (const BillLine& l : p.bill.lines) {
        BillPrintLine pl;
        pl.line = l;
        const auto it = byId.find(l.job);
        if (it != byId.end()) pl.village = it->second->village;
        if (l.unit == BillingUnit::kMu) {
            pl.areaMuE4 = l.quantityE4;
        } else if (it != byId.end()) {
            Job asArea = *it->second;
            asArea.unit = BillingUnit::kMu;
            AreaBasis used = l.basis;
            pl.areaMuE4 = QuantityE4(BilledFigure(asArea, l.basis, used), BillingUnit::kMu).value_or(0);
        }
        p.lines.push_back(std::move(pl));
    }
    out = std::move(p);
    return {};
}

BookStatus LoadBillPictures(BookStore& book, const BillPrint& bill, std::vector<BillPicture>& out) {
    out.clear();
    for (std::size_t n = 0; n < bill.lines.size(); ++n) {
        const BillPrintLine& l = bill.lines[n];
        std::vector<std::uint8_t> bytes;
        std::string file;
        if (auto st = book.GetJobSource(l.line.job, bytes, file); !st.ok()) {
            if (st.error == BookError::kNotFound) continue;
            return st;
        }
        BillPicture pic;
        if (!ReadJobSource(bytes, file, pic.field).ok() || pic.field.points.empty()) continue;
        pic.caption = l.line.date + "  " + l.line.label;
        pic.line = n;
        out.push_back(std::move(pic));
    }
    return {};
}

std::string BillCsv(const BillPrint& p) {
    const Bill& b = p.bill;
    std::string out = "bill,customer,date,basis,job,label,job_date,village,work,quantity,unit,area_mu,price,amount\n";
    for (const BillPrintLine& pl : p.lines) {
        const BillLine& l = pl.line;
        out += b.number + ',' + Csv(b.customer) + ',' + b.date + ',' + std::string(Name(l.basis)) + ',' +
               std::to_string(l.job) + ',' + Csv(l.label) + ',' + l.date + ',' + Csv(pl.village) + ',' +
               std::string(Name(l.work)) + ',' + FormatQuantity(l.quantityE4) + ',' + std::string(Name(l.unit)) +
               ',' + FormatQuantity(pl.areaMuE4) + ',' + FormatMoney(l.priceFen) + ',' + FormatMoney(l.amountFen) +
               '\n';
    }
    const std::pair<const char*, Fen> totals[] = {
        {"total", b.totalFen}, {"paid", b.paidFen}, {"outstanding", b.OutstandingFen()}};
    for (const auto& [what, fen] : totals) out += b.number + ",,,,,,,,,,,," + what + ',' + FormatMoney(fen) + '\n';
    return out;
}

}  // namespace dorvane::book
