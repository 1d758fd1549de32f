// The book's operations on the GeoPackage back end.
#include <cpl_error.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <map>

#include "book/gpkg_impl.h"
#include "book/job_overlaps.h"
#include "book/money.h"
#include "book/sqlite_statement.h"
#include "geo/figures.h"

namespace dorvane::book {

namespace {

// A job's columns as the list shows them, read from one layer `j` at a time
// (joined to its customer `c` and bill `i`): never the geometry or the
// handheld's bytes, which only drawing and writing a file again need. Both
// layers under one UNION ALL subquery would be materialized before the joins
// and leave every index unused.
constexpr const char* kJobListColumns =
    "j.fid, j.identity, j.label, j.file, j.method, j.start_time, j.end_time, j.job_date, "
    "j.work_width_m, j.wgs84_area_m2, j.wgs84_length_m, j.handheld_area_m2, j.handheld_length_m, "
    "j.customer_id, c.name, j.village, j.work, j.price_fen, j.unit, j.status, i.number, j.notes";
// The id and every column a list sorts by: enough to merge the two layers'
// ids in order without reading whole rows.
constexpr const char* kJobKeyColumns = "j.fid, j.job_date, c.name, j.wgs84_area_m2, j.label, j.village, j.price_fen, j.file";

// Seconds of "YYYY-MM-DDTHH:MM:SSZ", the form the book writes its times in,
// without going through the C library's time conversion for each of 100 000
// rows; anything else goes to the general ISO 8601 reader.
std::optional<std::int64_t> StoredTime(std::string_view t) {
    auto digits = [&](std::size_t at, std::size_t n) -> int {
        int v = 0;
        for (std::size_t k = at; k < at + n; ++k) {
            if (t[k] < '0' || t[k] > '9') return -1;
            v = v * 10 + (t[k] - '0');
        }
        return v;
    };
    constexpr std::size_t kStoredLength = 20;  // "2026-05-01T08:30:00Z"
    if (t.size() == kStoredLength && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' &&
        t[16] == ':' && t[19] == 'Z') {
        const int y = digits(0, 4), mo = digits(5, 2), d = digits(8, 2);
        const int h = digits(11, 2), mi = digits(14, 2), se = digits(17, 2);
        if (y >= 0 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h >= 0 && h < 24 && mi >= 0 && mi < 60 &&
            se >= 0 && se < 60) {
            // Days from 1970-01-01 of the proleptic Gregorian date (H. Hinnant's
            // days_from_civil).
            const int yy = y - (mo <= 2 ? 1 : 0);
            const int era = yy / 400;
            const int yoe = yy - era * 400;
            const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
            const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
            const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
            return days * 86400 + h * 3600 + mi * 60 + se;
        }
    }
    if (t.empty()) return std::nullopt;
    if (auto v = geo::ParseIsoTime(t)) return static_cast<std::int64_t>(*v);
    return std::nullopt;
}

const char* LayerOf(JobShape s) { return s == JobShape::kField ? kFieldsLayer : kLinesLayer; }

std::string IsoOrEmpty(const std::optional<std::int64_t>& t) {
    return t ? geo::IsoUtcText(static_cast<double>(*t)) : std::string();
}

std::unique_ptr<OGRGeometry> GeometryOf(const Measurement& m) {
    if (m.shape == JobShape::kField) {
        auto ring = std::make_unique<OGRLinearRing>();
        for (const geo::GeoPoint& p : m.points) ring->addPoint(p.lon, p.lat);
        ring->closeRings();
        auto poly = std::make_unique<OGRPolygon>();
        poly->addRingDirectly(ring.release());
        for (const auto& hole : m.holes) {
            if (hole.size() < 3) continue;  // no ring to keep; the area ignored it too
            auto inner = std::make_unique<OGRLinearRing>();
            for (const geo::GeoPoint& p : hole) inner->addPoint(p.lon, p.lat);
            inner->closeRings();
            poly->addRingDirectly(inner.release());
        }
        return poly;
    }
    auto multi = std::make_unique<OGRMultiLineString>();
    std::vector<std::size_t> starts = m.segmentStarts;
    if (starts.empty() && !m.points.empty()) starts.push_back(0);
    for (std::size_t s = 0; s < starts.size(); ++s) {
        const std::size_t end = s + 1 < starts.size() ? starts[s + 1] : m.points.size();
        auto line = std::make_unique<OGRLineString>();
        for (std::size_t i = starts[s]; i < end; ++i) line->addPoint(m.points[i].lon, m.points[i].lat);
        multi->addGeometryDirectly(line.release());
    }
    return multi;
}

std::string Join(const std::vector<JobId>& ids) {
    std::string s;
    for (JobId id : ids) s += (s.empty() ? "" : ",") + std::to_string(id);
    return s;
}

std::string PriceColumn(WorkType w) { return "price_" + std::string(Name(w)) + "_fen"; }

}  // namespace

BookStatus GpkgStore::LoadJobs(const JobQuery& q, std::vector<Job>& out) {
    out.clear();
    const std::string dir = q.descending ? " DESC" : "";
    const std::string id = ", j.fid" + dir;
    std::string order;
    switch (q.sort) {
    case JobFilter::Sort::kId: order = "j.fid" + dir; break;
    case JobFilter::Sort::kDate: order = "j.job_date" + dir + id; break;
    case JobFilter::Sort::kCustomer: order = "c.name" + dir + id; break;
    case JobFilter::Sort::kArea: order = "j.wgs84_area_m2" + dir + id; break;
    case JobFilter::Sort::kLabel: order = "j.label" + dir + id; break;
    case JobFilter::Sort::kVillage: order = "j.village" + dir + id; break;
    case JobFilter::Sort::kPrice: order = "(j.price_fen IS NULL)" + dir + ", j.price_fen" + dir + id; break;
    case JobFilter::Sort::kFile: order = "j.file" + dir + id; break;
    }
    // The same order as the SQL above, for merging the two layers' rows; a
    // job without a customer sorts as the empty name (SQLite's NULL first).
    auto before = [&](const Job& a, const Job& b) {
        int c = 0;
        switch (q.sort) {
        case JobFilter::Sort::kId: break;
        case JobFilter::Sort::kDate: c = a.date.compare(b.date); break;
        case JobFilter::Sort::kCustomer: c = a.customer.compare(b.customer); break;
        case JobFilter::Sort::kArea: c = a.wgs84Area_m2 < b.wgs84Area_m2 ? -1 : a.wgs84Area_m2 > b.wgs84Area_m2; break;
        case JobFilter::Sort::kLabel: c = a.label.compare(b.label); break;
        case JobFilter::Sort::kVillage: c = a.village.compare(b.village); break;
        case JobFilter::Sort::kPrice:
            if (a.priceFen.has_value() != b.priceFen.has_value())
                c = a.priceFen ? -1 : 1;
            else if (a.priceFen)
                c = *a.priceFen < *b.priceFen ? -1 : *a.priceFen > *b.priceFen;
            break;
        case JobFilter::Sort::kFile: c = a.file.compare(b.file); break;
        }
        if (c == 0) c = a.id < b.id ? -1 : a.id > b.id;
        return q.descending ? c > 0 : c < 0;
    };
    // A page of the merged list is within the first offset + limit rows of
    // each layer.
    const std::size_t perLayer = q.limit ? q.offset + q.limit : 0;
    std::vector<Job> layers[2];
    for (int l = 0; l < 2; ++l) {
        const JobShape shape = l == 0 ? JobShape::kField : JobShape::kLine;
        const std::string sql = std::string("SELECT ") + (q.keysOnly ? kJobKeyColumns : kJobListColumns) +
                                " FROM " + LayerOf(shape) +
                                " j LEFT JOIN customers c ON c.fid = j.customer_id "
                                "LEFT JOIN invoices i ON i.fid = j.bill_id" +
                                (q.where.empty() ? "" : " WHERE " + q.where) + " ORDER BY " + order +
                                (perLayer ? " LIMIT " + std::to_string(perLayer) : "");
        Statement s(db_, sql);
        if (!s.Prepared()) return Fail(s.PrepareCode(), "reading the jobs");
        for (std::size_t i = 0; i < q.args.size(); ++i) s.Bind(static_cast<int>(i + 1), std::string_view(q.args[i]));
        std::vector<Job>& rows = layers[l];
        if (q.where.empty() && !perLayer) {
            // The whole list: one allocation of its size (counted on the
            // layer's smallest index) rather than a doubling vector of large
            // rows, whose fresh pages cost more than the reading.
            Statement n(db_, std::string("SELECT COUNT(*) FROM ") + LayerOf(shape));
            if (int rc = n.Step(); rc != SQLITE_ROW) return Fail(rc, "counting the jobs");
            rows.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, n.Int(0))));
        }
        int rc = SQLITE_DONE;
        while (q.keysOnly && (rc = s.Step()) == SQLITE_ROW) {
            Job& j = rows.emplace_back();
            j.id = s.Int(0);
            j.date = s.Text(1);
            j.customer = s.Text(2);
            j.wgs84Area_m2 = s.Real(3);
            j.label = s.Text(4);
            j.village = s.Text(5);
            j.priceFen = s.OptInt(6);
            j.file = s.Text(7);
        }
        while (!q.keysOnly && (rc = s.Step()) == SQLITE_ROW) {
            Job& j = rows.emplace_back();
            j.id = s.Int(0);
            j.identity = s.Text(1);
            j.label = s.Text(2);
            j.file = s.Text(3);
            j.shape = shape;
            if (auto m = s.OptInt(4)) j.method = static_cast<std::int16_t>(*m);
            j.startTime = StoredTime(s.View(5));
            j.endTime = StoredTime(s.View(6));
            j.date = s.Text(7);
            j.workWidth_m = s.OptReal(8);
            j.wgs84Area_m2 = s.Real(9);
            j.wgs84Length_m = s.Real(10);
            j.handheldArea_m2 = s.OptReal(11);
            j.handheldLength_m = s.OptReal(12);
            j.customerId = s.OptInt(13);
            j.customer = s.Text(14);
            j.village = s.Text(15);
            j.work = ParseWorkType(s.View(16)).value_or(WorkType::kOther);
            j.priceFen = s.OptInt(17);
            j.unit = ParseBillingUnit(s.View(18)).value_or(BillingUnit::kMu);
            j.status = ParseJobStatus(s.View(19)).value_or(JobStatus::kMeasured);
            if (!s.IsNull(20)) j.bill = s.Text(20);
            j.notes = s.Text(21);
        }
        if (rc != SQLITE_DONE) return Fail(rc, "reading the jobs");
    }
    if (layers[1].empty()) {
        out = std::move(layers[0]);
    } else if (layers[0].empty()) {
        out = std::move(layers[1]);
    } else {
        out.reserve(layers[0].size() + layers[1].size());
        std::merge(std::make_move_iterator(layers[0].begin()), std::make_move_iterator(layers[0].end()),
                   std::make_move_iterator(layers[1].begin()), std::make_move_iterator(layers[1].end()),
                   std::back_inserter(out), before);
    }
    if (q.offset) out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(std::min(q.offset, out.size())));
    if (q.limit && out.size() > q.limit) out.resize(q.limit);
    return {};
}

BookStatus GpkgStore::FindCustomer(const std::string& name, Customer& c, bool& found) {
    std::string cols = "fid, name, village, phone, notes";
    for (int w = 0; w < kWorkTypeCount; ++w) cols += ", " + PriceColumn(static_cast<WorkType>(w));
    Statement s(db_, "SELECT " + cols + " FROM customers WHERE name = ?");
    s.Bind(1, std::string_view(name));
    const int rc = s.Step();
    found = rc == SQLITE_ROW;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "reading the customers");
    if (found) {
        c.id = s.Int(0);
        c.name = s.Text(1);
        c.village = s.Text(2);
        c.phone = s.Text(3);
        c.notes = s.Text(4);
        for (int w = 0; w < kWorkTypeCount; ++w) c.defaultPriceFen[w] = s.OptInt(5 + w);
    }
    return {};
}

BookStatus GpkgStore::AddJobs(std::span<const Measurement> jobs, const JobTerms& terms,
                              std::vector<AddOutcome>& outcomes) {
    outcomes.clear();
    QuietGdalScope quiet;
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    Customer customer;
    bool haveCustomer = false;
    if (terms.customer) {
        if (auto st = FindCustomer(*terms.customer, customer, haveCustomer); !st.ok()) return st;
        if (!haveCustomer) return {BookError::kNotFound, "There is no customer named '" + *terms.customer + "'"};
    }
    JobId next = 1;
    {
        Statement s(db_, "SELECT MAX(m) FROM (SELECT MAX(fid) AS m FROM fields UNION ALL SELECT MAX(fid) FROM lines)");
        if (int rc = s.Step(); rc != SQLITE_ROW) return Fail(rc, "numbering the jobs");
        next = s.Int(0) + 1;
    }
    // A handheld file is known by its bytes alone: two different handheld
    // files may carry the same points (the same field measured twice, or a
    // field and its track), and each is a job of its own. Only a file from
    // another program (a KML converted from a handheld file already here)
    // is also looked for by its geometry.
    Statement knownBytes(db_,
                         "SELECT fid, label FROM fields WHERE identity = ?1 "
                         "UNION ALL SELECT fid, label FROM lines WHERE identity = ?1 LIMIT 1");
    Statement knownShape(db_,
                         "SELECT fid, label FROM fields WHERE identity = ?1 OR geometry_key = ?2 "
                         "UNION ALL SELECT fid, label FROM lines WHERE identity = ?1 OR geometry_key = ?2 LIMIT 1");
    const std::string today = Today();
    for (const Measurement& m : jobs) {
        Statement& known = m.sourceIsHandheld ? knownBytes : knownShape;
        known.Reset();
        known.Bind(1, std::string_view(m.identity));
        if (!m.sourceIsHandheld) known.Bind(2, std::string_view(m.geometryKey));
        int rc = known.Step();
        if (rc == SQLITE_ROW) {
            outcomes.push_back({false, known.Int(0), known.Text(1)});
            continue;
        }
        if (rc != SQLITE_DONE) return Fail(rc, "looking the job up");
        OGRLayer* layer = ds_->GetLayerByName(LayerOf(m.shape));
        if (!layer) return {BookError::kDamaged, "The book " + Location() + " lacks its layer " + LayerOf(m.shape)};
        std::unique_ptr<OGRFeature, void (*)(OGRFeature*)> f(OGRFeature::CreateFeature(layer->GetLayerDefn()),
                                                             OGRFeature::DestroyFeature);
        const WorkType work = terms.work.value_or(WorkType::kHarvesting);
        const bool harvesting = m.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
        const BillingUnit unit = terms.unit.value_or(
            m.shape == JobShape::kField || harvesting ? BillingUnit::kMu : BillingUnit::kKilometre);
        std::optional<Fen> price = terms.priceFen;
        if (!price && haveCustomer) price = customer.defaultPriceFen[static_cast<int>(work)];
        f->SetFID(next);
        f->SetField("identity", m.identity.c_str());
        f->SetField("geometry_key", m.geometryKey.c_str());
        f->SetField("label", m.label.c_str());
        f->SetField("file", m.file.c_str());
        f->SetField("format", static_cast<int>(m.format));
        if (m.method) f->SetField("method", static_cast<int>(*m.method));
        if (m.startTime) f->SetField("start_time", IsoOrEmpty(m.startTime).c_str());
        if (m.endTime) f->SetField("end_time", IsoOrEmpty(m.endTime).c_str());
        const std::string date = m.startTime ? LocalDate(*m.startTime) : today;
        f->SetField("job_date", date.empty() ? today.c_str() : date.c_str());
        if (m.workWidth_m) f->SetField("work_width_m", *m.workWidth_m);
        f->SetField("wgs84_area_m2", m.wgs84Area_m2);
        f->SetField("wgs84_length_m", m.wgs84Length_m);
        if (m.handheldArea_m2) f->SetField("handheld_area_m2", *m.handheldArea_m2);
        if (m.handheldLength_m) f->SetField("handheld_length_m", *m.handheldLength_m);
        if (haveCustomer) f->SetField("customer_id", static_cast<GIntBig>(customer.id));
        f->SetField("village", terms.village.value_or(haveCustomer ? customer.village : "").c_str());
        f->SetField("work", std::string(Name(work)).c_str());
        if (price) f->SetField("price_fen", static_cast<GIntBig>(*price));
        f->SetField("unit", std::string(Name(unit)).c_str());
        f->SetField("status", std::string(Name(JobStatus::kMeasured)).c_str());
        f->SetField("notes", terms.notes.value_or("").c_str());
        f->SetField("added", today.c_str());
        f->SetField("source_handheld", m.sourceIsHandheld ? 1 : 0);
        f->SetField(f->GetFieldIndex("source_bytes"), static_cast<int>(m.sourceBytes.size()),
                    m.sourceBytes.data());
        if (!m.points.empty()) f->SetGeometryDirectly(GeometryOf(m).release());
        if (layer->CreateFeature(f.get()) != OGRERR_NONE) {
            BookStatus st = Fail(sqlite3_extended_errcode(db_), "adding " + m.file);
            if (st.error == BookError::kIo) st.message += " (" + QuietGdalScope::Last(kUnknownGdalFailure) + ")";
            return st;
        }
        outcomes.push_back({true, next, m.label});
        ++next;
    }
    return w.Commit();
}

GpkgStore::JobQuery GpkgStore::QueryOf(const JobFilter& f) {
    std::vector<std::string> where, args;
    if (f.customer) {
        if (f.customer->empty()) {
            where.push_back("j.customer_id IS NULL");
        } else {
            // Through the customer index rather than the name of each job's customer.
            where.push_back("j.customer_id = (SELECT fid FROM customers WHERE name = ?)");
            args.push_back(*f.customer);
        }
    }
    if (f.status) {
        where.push_back("j.status = ?");
        args.push_back(std::string(Name(*f.status)));
    }
    if (f.work) {
        where.push_back("j.work = ?");
        args.push_back(std::string(Name(*f.work)));
    }
    if (f.from) {
        where.push_back("j.job_date >= ?");
        args.push_back(*f.from);
    }
    if (f.to) {
        where.push_back("j.job_date <= ?");
        args.push_back(*f.to);
    }
    if (f.text) {
        where.push_back("(instr(j.label, ?) OR instr(j.file, ?) OR instr(j.village, ?) OR instr(j.notes, ?))");
        for (int i = 0; i < 4; ++i) args.push_back(*f.text);
    }
    if (f.village) {
        where.push_back("j.village = ?");
        args.push_back(*f.village);
    }
    if (!f.ids.empty()) where.push_back("j.fid IN (" + Join(f.ids) + ")");
    JobQuery q;
    for (const auto& c : where) q.where += (q.where.empty() ? "" : " AND ") + c;
    q.args = std::move(args);
    q.sort = f.sort;
    q.descending = f.descending;
    q.offset = f.offset;
    q.limit = f.limit;
    return q;
}

BookStatus GpkgStore::ListJobs(const JobFilter& f, std::vector<Job>& out) {
    return LoadJobs(QueryOf(f), out);
}

BookStatus GpkgStore::CountJobs(const JobFilter& f, std::int64_t& count) {
    count = 0;
    const JobQuery q = QueryOf(f);
    for (JobShape shape : {JobShape::kField, JobShape::kLine}) {
        Statement s(db_, std::string("SELECT COUNT(*) FROM ") + LayerOf(shape) + " j" +
                             (q.where.empty() ? "" : " WHERE " + q.where));
        if (!s.Prepared()) return Fail(s.PrepareCode(), "counting the jobs");
        for (std::size_t i = 0; i < q.args.size(); ++i) s.Bind(static_cast<int>(i + 1), std::string_view(q.args[i]));
        if (int rc = s.Step(); rc != SQLITE_ROW) return Fail(rc, "counting the jobs");
        count += s.Int(0);
    }
    return {};
}

BookStatus GpkgStore::ListJobIds(const JobFilter& f, std::vector<JobId>& out) {
    out.clear();
    JobQuery q = QueryOf(f);
    q.keysOnly = true;
    std::vector<Job> keys;
    if (auto st = LoadJobs(q, keys); !st.ok()) return st;
    out.reserve(keys.size());
    for (const Job& j : keys) out.push_back(j.id);
    return {};
}

BookStatus GpkgStore::AssignJobs(std::span<const JobId> ids, const JobTerms& terms) {
    if (ids.empty()) return Invalid("No jobs given");
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    Customer customer;
    bool haveCustomer = false;
    if (terms.customer && !terms.customer->empty()) {
        if (auto st = FindCustomer(*terms.customer, customer, haveCustomer); !st.ok()) return st;
        if (!haveCustomer) return {BookError::kNotFound, "There is no customer named '" + *terms.customer + "'"};
    }
    std::vector<Job> jobs;
    const std::vector<JobId> idList(ids.begin(), ids.end());
    JobQuery q;
    q.where = "j.fid IN (" + Join(idList) + ")";
    if (auto st = LoadJobs(q, jobs); !st.ok()) return st;
    for (JobId id : idList)
        if (std::none_of(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == id; }))
            return {BookError::kNotFound, "There is no job " + std::to_string(id)};
    for (const Job& j : jobs) {
        if (j.status != JobStatus::kMeasured)
            return Invalid("Job " + std::to_string(j.id) + " is " + std::string(Name(j.status)) +
                           " (on bill " + j.bill.value_or("-") + "); void the bill to change it");
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
        Statement u(db_, std::string("UPDATE ") + LayerOf(j.shape) +
                             " SET customer_id = ?, village = ?, work = ?, price_fen = ?, unit = ?, notes = ? WHERE fid = ?");
        u.Bind(1, customerId)
            .Bind(2, std::string_view(village))
            .Bind(3, Name(work))
            .Bind(4, price)
            .Bind(5, Name(terms.unit.value_or(j.unit)))
            .Bind(6, std::string_view(terms.notes.value_or(j.notes)))
            .Bind(7, std::int64_t{j.id});
        if (int rc = u.Step(); rc != SQLITE_DONE) return Fail(rc, "assigning job " + std::to_string(j.id));
    }
    return w.Commit();
}

BookStatus GpkgStore::VoidJobs(std::span<const JobId> ids) {
    if (ids.empty()) return Invalid("No jobs given");
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    std::vector<Job> jobs;
    const std::vector<JobId> idList(ids.begin(), ids.end());
    JobQuery q;
    q.where = "j.fid IN (" + Join(idList) + ")";
    if (auto st = LoadJobs(q, jobs); !st.ok()) return st;
    for (JobId id : idList)
        if (std::none_of(jobs.begin(), jobs.end(), [&](const Job& j) { return j.id == id; }))
            return {BookError::kNotFound, "There is no job " + std::to_string(id)};
    for (const Job& j : jobs) {
        if (j.status == JobStatus::kVoid) return Invalid("Job " + std::to_string(j.id) + " is void already");
        if (j.status != JobStatus::kMeasured)
            return Invalid("Job " + std::to_string(j.id) + " is " + std::string(Name(j.status)) + " (on bill " +
                           j.bill.value_or("-") + "); void the bill first");
        Statement u(db_, std::string("UPDATE ") + LayerOf(j.shape) + " SET status = ? WHERE fid = ?");
        u.Bind(1, Name(JobStatus::kVoid)).Bind(2, std::int64_t{j.id});
        if (int rc = u.Step(); rc != SQLITE_DONE) return Fail(rc, "voiding job " + std::to_string(j.id));
    }
    return w.Commit();
}

BookStatus GpkgStore::AddCustomer(const Customer& c, CustomerId& id) {
    if (c.name.empty()) return Invalid("A customer needs a name");
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    Customer existing;
    bool found = false;
    if (auto st = FindCustomer(c.name, existing, found); !st.ok()) return st;
    if (found) return {BookError::kDuplicate, "There is a customer named '" + c.name + "' already"};
    std::string cols = "name, village, phone, notes", marks = "?, ?, ?, ?";
    for (int k = 0; k < kWorkTypeCount; ++k) {
        cols += ", " + PriceColumn(static_cast<WorkType>(k));
        marks += ", ?";
    }
    Statement s(db_, "INSERT INTO customers (" + cols + ") VALUES (" + marks + ")");
    s.Bind(1, std::string_view(c.name)).Bind(2, std::string_view(c.village));
    s.Bind(3, std::string_view(c.phone)).Bind(4, std::string_view(c.notes));
    for (int k = 0; k < kWorkTypeCount; ++k)
        s.Bind(5 + k, k < static_cast<int>(c.defaultPriceFen.size()) ? c.defaultPriceFen[k] : std::nullopt);
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc, "adding the customer " + c.name);
    id = sqlite3_last_insert_rowid(db_);
    return w.Commit();
}

BookStatus GpkgStore::ChangeCustomer(const std::string& name, const CustomerChange& ch) {
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
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
    std::string sets = "name = ?, village = ?, phone = ?, notes = ?";
    for (int k = 0; k < kWorkTypeCount; ++k) sets += ", " + PriceColumn(static_cast<WorkType>(k)) + " = ?";
    Statement s(db_, "UPDATE customers SET " + sets + " WHERE fid = ?");
    s.Bind(1, std::string_view(ch.name.value_or(c.name)))
        .Bind(2, std::string_view(ch.village.value_or(c.village)))
        .Bind(3, std::string_view(ch.phone.value_or(c.phone)))
        .Bind(4, std::string_view(ch.notes.value_or(c.notes)));
    for (int k = 0; k < kWorkTypeCount; ++k) s.Bind(5 + k, c.defaultPriceFen[k]);
    s.Bind(5 + kWorkTypeCount, std::int64_t{c.id});
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc, "changing the customer " + name);
    return w.Commit();
}

BookStatus GpkgStore::ListCustomers(std::vector<Customer>& out) {
    out.clear();
    std::string cols = "fid, name, village, phone, notes";
    for (int w = 0; w < kWorkTypeCount; ++w) cols += ", " + PriceColumn(static_cast<WorkType>(w));
    Statement s(db_, "SELECT " + cols + " FROM customers ORDER BY name");
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        Customer c;
        c.id = s.Int(0);
        c.name = s.Text(1);
        c.village = s.Text(2);
        c.phone = s.Text(3);
        c.notes = s.Text(4);
        for (int w = 0; w < kWorkTypeCount; ++w) c.defaultPriceFen[w] = s.OptInt(5 + w);
        out.push_back(std::move(c));
    }
    if (rc != SQLITE_DONE) return Fail(rc, "reading the customers");
    return {};
}

BookStatus GpkgStore::GetJobSource(JobId id, std::vector<std::uint8_t>& bytes, std::string& file) {
    bytes.clear();
    file.clear();
    Statement s(db_, "SELECT source_bytes, file FROM fields WHERE fid = ?1 UNION ALL "
                     "SELECT source_bytes, file FROM lines WHERE fid = ?1");
    s.Bind(1, static_cast<std::int64_t>(id));
    const int rc = s.Step();
    if (rc == SQLITE_DONE) return {BookError::kNotFound, "There is no job " + std::to_string(id)};
    if (rc != SQLITE_ROW) return Fail(rc, "reading a job's source");
    bytes = s.Blob(0);
    file = s.Text(1);
    return {};
}

BookStatus GpkgStore::GetFieldOutlines(std::span<const JobId> ids, std::vector<JobOutline>& out) {
    out.clear();
    if (ids.empty()) return {};
    // Ids are integers: the list is written into the statement.
    Statement s(db_, "SELECT fid, geom FROM fields WHERE geom IS NOT NULL AND fid IN (" +
                         Join(std::vector<JobId>(ids.begin(), ids.end())) + ") ORDER BY fid");
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        const JobId id = s.Int(0);
        JobOutline o;
        o.id = id;
        if (OutlineOfGpkgBlob(s.Blob(1), o.outline)) out.push_back(std::move(o));
    }
    if (rc != SQLITE_DONE) return Fail(rc, "reading the fields' outlines");
    return {};
}

BookStatus GpkgStore::GetAreaBasis(AreaBasis& out) {
    Statement s(db_, "SELECT value FROM dorvane_book WHERE name = 'area_basis'");
    const int rc = s.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "reading the settings");
    out = rc == SQLITE_ROW ? ParseAreaBasis(s.Text(0)).value_or(AreaBasis::kWgs84) : AreaBasis::kWgs84;
    return {};
}

BookStatus GpkgStore::SetAreaBasis(AreaBasis basis) {
    Write w(*this);
    if (auto st = w.Begin(); !st.ok()) return st;
    if (auto st = Exec("DELETE FROM dorvane_book WHERE name = 'area_basis'", "writing the settings"); !st.ok())
        return st;
    Statement s(db_, "INSERT INTO dorvane_book (name, value) VALUES ('area_basis', ?)");
    s.Bind(1, Name(basis));
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc, "writing the settings");
    return w.Commit();
}

}  // namespace dorvane::book
