#include "book/send_to_office.h"

#include <map>
#include <tuple>

#include "book/job_shapes.h"
#include "book/job_source.h"

namespace dorvane::book {

namespace {

// Jobs with the same terms go to the office in one transaction.
using TermsKey = std::tuple<std::string, std::string, int, std::optional<Fen>, int, std::string>;

bool SameCustomer(const Customer& a, const Customer& b) {
    return a.village == b.village && a.phone == b.phone && a.notes == b.notes && a.defaultPriceFen == b.defaultPriceFen;
}

}  // namespace

BookStatus SendToOffice(BookStore& laptop, BookStore& office, SendReport& report) {
    report = SendReport{};
    std::vector<Customer> mine, theirs;
    if (auto st = laptop.ListCustomers(mine); !st.ok()) return st;
    if (auto st = office.ListCustomers(theirs); !st.ok()) return st;
    std::map<std::string, const Customer*> officeByName;
    for (const Customer& c : theirs) officeByName[c.name] = &c;
    for (const Customer& c : mine) {
        if (officeByName.count(c.name)) continue;
        CustomerId id = 0;
        const BookStatus st = office.AddCustomer(c, id);
        // Another laptop sent the same customer a moment ago: it is there now.
        if (!st.ok() && st.error != BookError::kDuplicate) return st;
        report.customersSent += st.ok() ? 1 : 0;
    }

    std::vector<Job> jobs;
    if (auto st = laptop.ListJobs({}, jobs); !st.ok()) return st;
    std::map<TermsKey, std::vector<Measurement>> groups;
    for (const Job& j : jobs) {
        if (j.status == JobStatus::kVoid) {
            ++report.skipped;
            continue;
        }
        std::vector<std::uint8_t> bytes;
        std::string file;
        if (auto st = laptop.GetJobSource(j.id, bytes, file); !st.ok()) return st;
        geo::FieldFile field;
        const geo::ReadResult r = ReadJobSource(bytes, file, field);
        Measurement m;
        if (r.ok()) m = MeasurementOf(field, bytes, file);
        // The job is sent as the laptop's book knows it: read back from its
        // bytes, it must be the same measurement.
        if (!r.ok() || m.identity != j.identity) {
            report.problems.push_back("job " + std::to_string(j.id) + " (" + j.label +
                                      "): its bytes do not read back to the same measurement");
            continue;
        }
        m.label = j.label;
        m.file = j.file;
        groups[{j.customer, j.village, static_cast<int>(j.work), j.priceFen, static_cast<int>(j.unit), j.notes}]
            .push_back(std::move(m));
    }
    for (auto& [key, ms] : groups) {
        JobTerms t;
        const auto& [customer, village, work, price, unit, notes] = key;
        if (!customer.empty()) t.customer = customer;
        t.village = village;
        t.work = static_cast<WorkType>(work);
        t.priceFen = price;
        t.unit = static_cast<BillingUnit>(unit);
        t.notes = notes;
        std::vector<AddOutcome> out;
        if (auto st = office.AddJobs(ms, t, out); !st.ok()) return st;
        for (const AddOutcome& o : out) (o.added ? report.sent : report.known) += 1;
    }

    // The office's customers and prices come back.
    if (auto st = office.ListCustomers(theirs); !st.ok()) return st;
    std::map<std::string, const Customer*> mineByName;
    for (const Customer& c : mine) mineByName[c.name] = &c;
    for (const Customer& c : theirs) {
        const auto it = mineByName.find(c.name);
        if (it == mineByName.end()) {
            CustomerId id = 0;
            if (auto st = laptop.AddCustomer(c, id); !st.ok()) return st;
            ++report.customersTaken;
            continue;
        }
        if (SameCustomer(*it->second, c)) continue;
        CustomerChange change;
        change.village = c.village;
        change.phone = c.phone;
        change.notes = c.notes;
        for (int w = 0; w < kWorkTypeCount; ++w) change.prices.emplace_back(static_cast<WorkType>(w), c.defaultPriceFen[w]);
        if (auto st = laptop.ChangeCustomer(c.name, change); !st.ok()) return st;
        ++report.customersTaken;
    }
    return {};
}

}  // namespace dorvane::book
