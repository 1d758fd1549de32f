// The book's jobs, customers and settings on the PostgreSQL back end.
#include <algorithm>
#include <charconv>

#include "book/job_overlaps.h"
#include "book/money.h"
#include "book/pg_impl.h"
#include "convert/area_file.h"

namespace dorvane::book {

namespace {

// A job's columns as the list shows them (never the geometry or the
// handheld's bytes), from `j` joined to its customer `c` and bill `i`.
constexpr const char* kJobListSelect =
    "SELECT j.fid, j.identity, j.label, j.file, j.shape, j.method, "
    "extract(epoch FROM j.start_time)::bigint, extract(epoch FROM j.end_time)::bigint, j.job_date, "
    "j.work_width_m, j.wgs84_area_m2, j.wgs84_length_m, j.handheld_area_m2, j.handheld_length_m, "
    "j.customer_id, c.name, j.village, j.work, j.price_fen, j.unit, j.status, i.number, j.notes "
    "FROM jobs j LEFT JOIN customers c ON c.fid = j.customer_id LEFT JOIN invoices i ON i.fid = j.bill_id";

constexpr const char* kCustomerColumns =
    "fid, name, village, phone, notes, price_harvesting_fen, price_ploughing_fen, price_sowing_fen, "
    "price_spraying_fen, price_surveying_fen, price_other_fen";

std::string PriceColumn(WorkType w) { return "price_" + std::string(Name(w)) + "_fen"; }

std::string IdArray(std::span<const JobId> ids) {
    std::string s = "{";
    for (JobId id : ids) s += (s.size() > 1 ? "," : "") + std::to_string(id);
    return s + "}";
}

void AppendCoordinate(std::string& s, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr);
}

// The measurement's shape as WKT for ST_GeomFromText, or "" when it has too
// few points to be one (PostGIS refuses a ring of fewer than four points and
// a line of fewer than two; such a job keeps its figures and no shape).
std::string WktOf(const Measurement& m) {
    auto point = [](std::string& s, const geo::GeoPoint& p) {
        AppendCoordinate(s, p.lon);
        s += ' ';
        AppendCoordinate(s, p.lat);
    };
    if (m.shape == JobShape::kField) {
        if (m.points.size() < 3) return {};
        auto ring = [&](std::string& s, const std::vector<geo::GeoPoint>& pts) {
            s += '(';
            for (const geo::GeoPoint& p : pts) {
                point(s, p);
                s += ',';
            }
            point(s, pts.front());
            s += ')';
        };
        std::string s = "POLYGON(";
        ring(s, m.points);
        for (const auto& hole : m.holes) {
            if (hole.size() < 3) continue;  // no ring to keep; the area ignored it too
            s += ',';
            ring(s, hole);
        }
        return s + ")";
    }
    std::vector<std::size_t> starts = m.segmentStarts;
    if (starts.empty() && !m.points.empty()) starts.push_back(0);
    std::string parts;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : m.points.size();
        if (starts[k] >= end || end - starts[k] < 2 || end > m.points.size()) continue;
        parts += parts.empty() ? "(" : ",(";
        for (std::size_t i = starts[k]; i < end; ++i) {
            if (i > starts[k]) parts += ',';
            point(parts, m.points[i]);
        }
        parts += ')';
    }
    return parts.empty() ? std::string() : "MULTILINESTRING(" + parts + ")";
}

Customer CustomerRow(const PgResult& r, int row) {
    Customer c;
    c.id = r.Int(row, 0);
    c.name = r.Text(row, 1);
    c.village = r.Text(row, 2);
    c.phone = r.Text(row, 3);
    c.notes = r.Text(row, 4);
    for (int w = 0; w < kWorkTypeCount; ++w) c.defaultPriceFen[w] = r.OptInt(row, 5 + w);
    return c;
}

/// ORDER BY of `f`'s sort, ties by id in the same direction. Texts by their
/// bytes (COLLATE "C"), as SQLite compares them, so both books page alike.
std::string OrderOf(const JobFilter& f) {
    const std::string dir = f.descending ? " DESC" : "";
    const std::string id = ", j.fid" + dir;
    switch (f.sort) {
    case JobFilter::Sort::kId: return "j.fid" + dir;
    case JobFilter::Sort::kDate: return "j.job_date" + dir + id;
    // No customer sorts as the empty name, first (as in the GeoPackage book).
    case JobFilter::Sort::kCustomer: return "COALESCE(c.name, '') COLLATE \"C\"" + dir + id;
    case JobFilter::Sort::kArea: return "j.wgs84_area_m2" + dir + id;
    case JobFilter::Sort::kLabel: return "j.label COLLATE \"C\"" + dir + id;
    case JobFilter::Sort::kVillage: return "j.village COLLATE \"C\"" + dir + id;
    case JobFilter::Sort::kPrice: return "(j.price_fen IS NULL)" + dir + ", j.price_fen" + dir + id;
    case JobFilter::Sort::kFile: return "j.file COLLATE \"C\"" + dir + id;
    }
    return "j.fid" + dir;
}

std::string PageOf(const JobFilter& f) {
    return (f.limit ? " LIMIT " + std::to_string(f.limit) : std::string()) +
           (f.offset ? " OFFSET " + std::to_string(f.offset) : std::string());
}

/// The WHERE of `f` (without the word), its values added to `p`.
std::string WhereOf(const JobFilter& f, PgParams& p) {
    std::vector<std::string> where;
    int n = 0;
    auto arg = [&]() { return "$" + std::to_string(++n); };
    if (f.customer) {
        if (f.customer->empty()) {
            where.push_back("j.customer_id IS NULL");
        } else {
            where.push_back("j.customer_id = (SELECT fid FROM customers WHERE name = " + arg() + ")");
            p.Add(*f.customer);
        }
    }
    if (f.status) {
        where.push_back("j.status = " + arg());
        p.Add(Name(*f.status));
    }
    if (f.work) {
        where.push_back("j.work = " + arg());
        p.Add(Name(*f.work));
    }
    if (f.from) {
        where.push_back("j.job_date >= " + arg());
        p.Add(*f.from);
    }
    if (f.to) {
        where.push_back("j.job_date <= " + arg());
        p.Add(*f.to);
    }
    if (f.text) {
        const std::string a = arg();
        where.push_back("(strpos(j.label, " + a + ") > 0 OR strpos(j.file, " + a + ") > 0 OR strpos(j.village, " + a +
                        ") > 0 OR strpos(j.notes, " + a + ") > 0)");
        p.Add(*f.text);
    }
    if (f.village) {
        where.push_back("j.village = " + arg());
        p.Add(*f.village);
    }
    if (!f.ids.empty()) {
        where.push_back("j.fid = ANY(" + arg() + "::bigint[])");
        p.Add(IdArray(f.ids));
    }
    std::string w;
    for (const auto& c : where) w += (w.empty() ? "" : " AND ") + c;
    return w;
}

}  // namespace

BookStatus PgStore::FindCustomer(const std::string& name, Customer& c, bool& found) {
    PgResult r;
    if (auto st = Run(std::string("SELECT ") + kCustomerColumns + " FROM customers WHERE name = $1",
                      PgParams().Add(name), r, "reading the customers");
        !st.ok())
        return st;
    found = r.Rows() == 1;
    if (found) c = CustomerRow(r, 0);
    return {};
}

BookStatus PgStore::LoadJobs(const std::string& where, const PgParams& params, const JobFilter& f,
                             std::vector<Job>& out) {
    out.clear();
    const std::string order = OrderOf(f);
    // Filtering, ordering and the page's limit all happen in the server: a
    // first page of a large book reads one page of rows.
    const std::string sql = std::string(kJobListSelect) + (where.empty() ? "" : " WHERE " + where) + " ORDER BY " +
                            order + PageOf(f);
    PgResult r;
    if (auto st = Run(sql, params, r, "reading the jobs"); !st.ok()) return st;
    out.reserve(static_cast<std::size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) {
        Job& j = out.emplace_back();
        j.id = r.Int(i, 0);
        j.identity = r.Text(i, 1);
        j.label = r.Text(i, 2);
        j.file = r.Text(i, 3);
        j.shape = r.View(i, 4) == "line" ? JobShape::kLine : JobShape::kField;
        if (auto m = r.OptInt(i, 5)) j.method = static_cast<std::int16_t>(*m);
        j.startTime = r.OptInt(i, 6);
        j.endTime = r.OptInt(i, 7);
        j.date = r.Text(i, 8);
        j.workWidth_m = r.OptReal(i, 9);
        j.wgs84Area_m2 = r.Real(i, 10);
        j.wgs84Length_m = r.Real(i, 11);
        j.handheldArea_m2 = r.OptReal(i, 12);
        j.handheldLength_m = r.OptReal(i, 13);
        j.customerId = r.OptInt(i, 14);
        j.customer = r.Text(i, 15);
        j.village = r.Text(i, 16);
        j.work = ParseWorkType(r.View(i, 17)).value_or(WorkType::kOther);
        j.priceFen = r.OptInt(i, 18);
        j.unit = ParseBillingUnit(r.View(i, 19)).value_or(BillingUnit::kMu);
        j.status = ParseJobStatus(r.View(i, 20)).value_or(JobStatus::kMeasured);
        if (!r.IsNull(i, 21)) j.bill = r.Text(i, 21);
        j.notes = r.Text(i, 22);
    }
    return {};
}

BookStatus PgStore::AddJobs(std::span<const Measurement> jobs, const JobTerms& terms,
                            std::vector<AddOutcome>& outcomes) {
    const std::string today = Today();
    return Transaction("adding jobs", [&]() -> BookStatus {
        outcomes.clear();
        Customer customer;
        bool haveCustomer = false;
        if (terms.customer) {
            if (auto st = FindCustomer(*terms.customer, customer, haveCustomer); !st.ok()) return st;
            if (!haveCustomer) return {BookError::kNotFound, "There is no customer named '" + *terms.customer + "'"};
        }
        for (const Measurement& m : jobs) {
            // A handheld file is known by its bytes alone; another program's
            // file also by its geometry (a KML converted from a handheld file
            // already here).
            PgResult known;
            BookStatus st = m.sourceIsHandheld
                                ? Run("SELECT fid, label FROM jobs WHERE identity = $1", PgParams().Add(m.identity),
                                      known, "looking the job up")
                                : Run("SELECT fid, label FROM jobs WHERE identity = $1 OR geometry_key = $2 "
                                      "ORDER BY fid LIMIT 1",
                                      PgParams().Add(m.identity).Add(m.geometryKey), known, "looking the job up");
            if (!st.ok()) return st;
            if (known.Rows() > 0) {
                outcomes.push_back({false, known.Int(0, 0), known.Text(0, 1)});
                continue;
            }
            const WorkType work = terms.work.value_or(WorkType::kHarvesting);
            const bool harvesting = m.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
            const BillingUnit unit = terms.unit.value_or(
                m.shape == JobShape::kField || harvesting ? BillingUnit::kMu : BillingUnit::kKilometre);
            std::optional<Fen> price = terms.priceFen;
            if (!price && haveCustomer) price = customer.defaultPriceFen[static_cast<int>(work)];
            const std::string date = m.startTime ? LocalDate(*m.startTime) : today;
            const std::string wkt = WktOf(m);
            PgParams p;
            p.Add(m.identity).Add(m.geometryKey).Add(m.shape == JobShape::kField ? "field" : "line");
            p.Add(m.label).Add(m.file).Add(static_cast<int>(m.format));
            p.Add(m.method ? std::optional<std::int64_t>(*m.method) : std::nullopt);
            p.Add(m.startTime).Add(m.endTime).Add(date.empty() ? today : date);
            p.Add(m.workWidth_m).Add(m.wgs84Area_m2).Add(m.wgs84Length_m).Add(m.handheldArea_m2).Add(m.handheldLength_m);
            p.Add(haveCustomer ? std::optional<std::int64_t>(customer.id) : std::nullopt);
            p.Add(terms.village.value_or(haveCustomer ? customer.village : "")).Add(Name(work)).Add(price);
            p.Add(Name(unit)).Add(terms.notes.value_or("")).Add(today).Add(m.sourceIsHandheld).AddBytes(m.sourceBytes);
            p.Add(wkt.empty() ? std::nullopt : std::optional<std::string>(wkt));
            PgResult added;
            // ON CONFLICT: another program added the same measurement since
            // the look-up; SERIALIZABLE turns that into a retry, which then
            // finds its job.
            st = Run("INSERT INTO jobs (identity, geometry_key, shape, label, file, format, method, start_time, end_time, "
                     "job_date, work_width_m, wgs84_area_m2, wgs84_length_m, handheld_area_m2, handheld_length_m, "
                     "customer_id, village, work, price_fen, unit, status, notes, added, source_handheld, source_bytes, "
                     "geom) VALUES ($1, $2, $3, $4, $5, $6, $7, to_timestamp($8), to_timestamp($9), $10, $11, $12, $13, "
                     "$14, $15, $16, $17, $18, $19, $20, 'measured', $21, $22, $23, $24, "
                     "ST_GeomFromText($25, 4326)) ON CONFLICT (identity) DO NOTHING RETURNING fid",
                     p, added, "adding " + m.file);
            if (!st.ok()) return st;
            if (added.Rows() != 1) return {BookError::kBusy, "The office book " + Location() + ": " + m.file +
                                                                 " was added by another program at the same moment; "
                                                                 "add it again"};
            outcomes.push_back({true, added.Int(0, 0), m.label});
        }
        return {};
    });
}

BookStatus PgStore::ListJobs(const JobFilter& f, std::vector<Job>& out) {
    PgParams p;
    const std::string w = WhereOf(f, p);
    return LoadJobs(w, p, f, out);
}

BookStatus PgStore::CountJobs(const JobFilter& f, std::int64_t& count) {
    count = 0;
    PgParams p;
    const std::string w = WhereOf(f, p);
    PgResult r;
    if (auto st = Run("SELECT COUNT(*) FROM jobs j" + (w.empty() ? "" : " WHERE " + w), p, r, "counting the jobs");
        !st.ok())
        return st;
    if (r.Rows() == 1) count = r.Int(0, 0);
    return {};
}

BookStatus PgStore::ListJobIds(const JobFilter& f, std::vector<JobId>& out) {
    out.clear();
    PgParams p;
    const std::string w = WhereOf(f, p);
    PgResult r;
    if (auto st = Run("SELECT j.fid FROM jobs j LEFT JOIN customers c ON c.fid = j.customer_id" +
                          (w.empty() ? "" : " WHERE " + w) + " ORDER BY " + OrderOf(f) + PageOf(f),
                      p, r, "reading the jobs");
        !st.ok())
        return st;
    out.reserve(static_cast<std::size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) out.push_back(r.Int(i, 0));
    return {};
}

BookStatus PgStore::AssignJobs(std::span<const JobId> ids, const JobTerms& terms) {
    if (ids.empty()) return Invalid("No jobs given");
    return Transaction("assigning jobs", [&]() -> BookStatus {
        Customer customer;
        bool haveCustomer = false;
        if (terms.customer && !terms.customer->empty()) {
            if (auto st = FindCustomer(*terms.customer, customer, haveCustomer); !st.ok()) return st;
            if (!haveCustomer) return {BookError::kNotFound, "There is no customer named '" + *terms.customer + "'"};
        }
        std::vector<Job> jobs;
        JobFilter byId;
        if (auto st = LoadJobs("j.fid = ANY($1::bigint[])", PgParams().Add(IdArray(ids)), byId, jobs); !st.ok())
            return st;
        for (JobId id : ids)
            if (std::none_of(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == id; }))
                return {BookError::kNotFound, "There is no job " + std::to_string(id)};
        for (const Job& j : jobs) {
            if (j.status != JobStatus::kMeasured)
                return Invalid("Job " + std::to_string(j.id) + " is " + std::string(Name(j.status)) + " (on bill " +
                               j.bill.value_or("-") + "); void the bill to change it");
            const WorkType work = terms.work.value_or(j.work);
            std::optional<Fen> price = terms.priceFen ? terms.priceFen : j.priceFen;
            if (!terms.priceFen && haveCustomer && customer.defaultPriceFen[static_cast<int>(work)])
                price = j.priceFen ? j.priceFen : customer.defaultPriceFen[static_cast<int>(work)];
            std::optional<std::int64_t> customerId = j.customerId;
            std::string village = terms.village.value_or(j.village);
            if (terms.customer) {
                customerId = haveCustomer ? std::optional<std::int64_t>(customer.id) : std::nullopt;
                if (!terms.village && haveCustomer && village.empty()) village = customer.village;
            }
            PgParams p;
            p.Add(customerId).Add(village).Add(Name(work)).Add(price).Add(Name(terms.unit.value_or(j.unit)));
            p.Add(terms.notes.value_or(j.notes)).Add(std::int64_t{j.id});
            if (auto st = Run("UPDATE jobs SET customer_id = $1, village = $2, work = $3, price_fen = $4, unit = $5, "
                              "notes = $6 WHERE fid = $7 AND status = 'measured'",
                              p, "assigning job " + std::to_string(j.id));
                !st.ok())
                return st;
        }
        return {};
    });
}

BookStatus PgStore::VoidJobs(std::span<const JobId> ids) {
    if (ids.empty()) return Invalid("No jobs given");
    return Transaction("voiding jobs", [&]() -> BookStatus {
        std::vector<Job> jobs;
        JobFilter byId;
        if (auto st = LoadJobs("j.fid = ANY($1::bigint[])", PgParams().Add(IdArray(ids)), byId, jobs); !st.ok())
            return st;
        for (JobId id : ids)
            if (std::none_of(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == id; }))
                return {BookError::kNotFound, "There is no job " + std::to_string(id)};
        for (const Job& j : jobs) {
            if (j.status == JobStatus::kVoid) return Invalid("Job " + std::to_string(j.id) + " is void already");
            if (j.status != JobStatus::kMeasured)
                return Invalid("Job " + std::to_string(j.id) + " is " + std::string(Name(j.status)) + " (on bill " +
                               j.bill.value_or("-") + "); void the bill first");
        }
        return Run("UPDATE jobs SET status = 'void' WHERE fid = ANY($1::bigint[])", PgParams().Add(IdArray(ids)),
                   "voiding jobs");
    });
}

BookStatus PgStore::AddCustomer(const Customer& c, CustomerId& id) {
    if (c.name.empty()) return Invalid("A customer needs a name");
    return Transaction("adding a customer", [&]() -> BookStatus {
        Customer existing;
        bool found = false;
        if (auto st = FindCustomer(c.name, existing, found); !st.ok()) return st;
        if (found) return {BookError::kDuplicate, "There is a customer named '" + c.name + "' already"};
        PgParams p;
        p.Add(c.name).Add(c.village).Add(c.phone).Add(c.notes);
        for (int k = 0; k < kWorkTypeCount; ++k)
            p.Add(k < static_cast<int>(c.defaultPriceFen.size()) ? c.defaultPriceFen[k] : std::nullopt);
        PgResult r;
        if (auto st = Run("INSERT INTO customers (name, village, phone, notes, price_harvesting_fen, "
                          "price_ploughing_fen, price_sowing_fen, price_spraying_fen, price_surveying_fen, "
                          "price_other_fen) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10) RETURNING fid",
                          p, r, "adding the customer " + c.name);
            !st.ok())
            return st;
        id = r.Int(0, 0);
        return {};
    });
}

BookStatus PgStore::ChangeCustomer(const std::string& name, const CustomerChange& ch) {
    return Transaction("changing a customer", [&]() -> BookStatus {
        Customer c;
        bool found = false;
        if (auto st = FindCustomer(name, c, found); !st.ok()) return st;
        if (!found) return {BookError::kNotFound, "There is no customer named '" + name + "'"};
        if (ch.name && *ch.name != name) {
            if (ch.name->empty()) return Invalid("A customer needs a name");
            Customer other;
            bool taken = false;
            if (auto st = FindCustomer(*ch.name, other, taken); !st.ok()) return st;
            if (taken) return {BookError::kDuplicate, "There is a customer named '" + *ch.name + "' already"};
        }
        for (const auto& [work, price] : ch.prices) c.defaultPriceFen[static_cast<int>(work)] = price;
        PgParams p;
        p.Add(ch.name.value_or(c.name)).Add(ch.village.value_or(c.village)).Add(ch.phone.value_or(c.phone));
        p.Add(ch.notes.value_or(c.notes));
        std::string sets = "name = $1, village = $2, phone = $3, notes = $4";
        for (int k = 0; k < kWorkTypeCount; ++k) {
            sets += ", " + PriceColumn(static_cast<WorkType>(k)) + " = $" + std::to_string(5 + k);
            p.Add(c.defaultPriceFen[k]);
        }
        p.Add(std::int64_t{c.id});
        return Run("UPDATE customers SET " + sets + " WHERE fid = $" + std::to_string(5 + kWorkTypeCount), p,
                   "changing the customer " + name);
    });
}

BookStatus PgStore::ListCustomers(std::vector<Customer>& out) {
    out.clear();
    PgResult r;
    if (auto st = Run(std::string("SELECT ") + kCustomerColumns + " FROM customers ORDER BY name", {}, r,
                      "reading the customers");
        !st.ok())
        return st;
    for (int i = 0; i < r.Rows(); ++i) out.push_back(CustomerRow(r, i));
    return {};
}

BookStatus PgStore::GetJobSource(JobId id, std::vector<std::uint8_t>& bytes, std::string& file) {
    bytes.clear();
    file.clear();
    PgResult r;
    if (auto st = Run("SELECT source_bytes, file FROM jobs WHERE fid = $1", PgParams().Add(std::int64_t{id}), r,
                      "reading a job's source");
        !st.ok())
        return st;
    if (r.Rows() == 0) return {BookError::kNotFound, "There is no job " + std::to_string(id)};
    bytes = r.Bytes(0, 0);
    file = r.Text(0, 1);
    return {};
}

BookStatus PgStore::GetFieldOutlines(std::span<const JobId> ids, std::vector<JobOutline>& out) {
    out.clear();
    PgResult r;
    // Hex WKB: every coordinate as stored (ST_AsText would round to 15 digits).
    if (auto st = Run("SELECT fid, encode(ST_AsBinary(geom), 'hex') FROM jobs WHERE shape = 'field' "
                      "AND geom IS NOT NULL AND fid = ANY($1::bigint[]) ORDER BY fid",
                      PgParams().Add(IdArray(ids)), r, "reading the fields' outlines");
        !st.ok())
        return st;
    for (int i = 0; i < r.Rows(); ++i) {
        JobOutline o;
        o.id = r.Int(i, 0);
        if (OutlineOfWkbHex(r.View(i, 1), o.outline)) out.push_back(std::move(o));
    }
    return {};
}

BookStatus PgStore::AreaBasisIn(AreaBasis& out) {
    PgResult r;
    if (auto st = Run("SELECT value FROM dorvane_book WHERE name = 'area_basis'", {}, r, "reading the settings");
        !st.ok())
        return st;
    out = r.Rows() ? ParseAreaBasis(r.Text(0, 0)).value_or(AreaBasis::kWgs84) : AreaBasis::kWgs84;
    return {};
}

BookStatus PgStore::GetAreaBasis(AreaBasis& out) { return AreaBasisIn(out); }

BookStatus PgStore::SetAreaBasis(AreaBasis basis) {
    return Transaction("writing the settings", [&]() -> BookStatus {
        return Run("INSERT INTO dorvane_book (name, value) VALUES ('area_basis', $1) "
                   "ON CONFLICT (name) DO UPDATE SET value = EXCLUDED.value",
                   PgParams().Add(Name(basis)), "writing the settings");
    });
}

}  // namespace dorvane::book
