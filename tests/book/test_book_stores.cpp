// The season book's behaviour, one table of cases run against both stores:
// the GeoPackage file and the office book on a real PostgreSQL + PostGIS
// server (started once for this program, see pg_server.h).
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "book/gpkg_store.h"
#include "book/job_overlaps.h"
#include "book/job_shapes.h"
#include "book/job_source.h"
#include "book/money.h"
#include "book/open_book.h"
#include "book_fixture.h"
#include "common/run_command.h"
#include "convert/area_measure.h"
#include "convert/download.h"
#include "convert/kml_writer.h"
#include "geo/figures.h"
#include "pg_environment.h"

namespace dorvane::book {
namespace {

namespace fs = std::filesystem;
using dorvane::testing::PgServer;
using dorvane::testing::SquareField;
using dorvane::testing::TempFolder;
using dorvane::testing::WriteText;

struct Books : ::testing::TestWithParam<StoreKind> {
    TempFolder dir;
    std::unique_ptr<BookStore> book;
    fs::path path;          ///< the GeoPackage book's file
    std::string location;   ///< what --book would name: the file or the office book's URI
    void SetUp() override {
        path = dir / "book.gpkg";
        if (GetParam() == StoreKind::kPg) {
            ASSERT_TRUE(Server()) << ServerError();
            location = Server()->NewBook();
            ASSERT_FALSE(location.empty());
        } else {
            location = path.string();
        }
        const BookStatus st = OpenBook(location, {}, book);
        ASSERT_TRUE(st.ok()) << st.message;
    }
    /// The database name of the office book.
    std::string Database() const { return location.substr(location.find("@/") + 2, location.find('?') - location.find("@/") - 2); }
    Measurement Read(const fs::path& p) {
        Measurement m;
        EXPECT_TRUE(ReadMeasurement(p, m).ok()) << p;
        return m;
    }
    std::vector<AddOutcome> Add(const std::vector<Measurement>& ms, JobTerms t = {}) {
        std::vector<AddOutcome> out;
        const BookStatus st = book->AddJobs(ms, t, out);
        EXPECT_TRUE(st.ok()) << st.message;
        return out;
    }
};

TEST_P(Books, AMeasurementEntersTheBookOnce) {
    const std::string a = WriteArea(SquareField(116.0f, 39.0f, 0.001f));
    WriteText(dir / "A.txt", a);
    WriteText(dir / "A(1).txt", a);
    // A converted download: the KML and the handheld's bytes as NAME.bak.
    const AreaFile b = SquareField(117.0f, 39.0f, 0.002f);
    WriteText(dir / "B.kml", KmlDocument(b, "B", MeasureArea(b)));
    WriteText(dir / "B.bak", WriteArea(b));
    // A KML converted from a handheld file, without its .bak.
    const AreaFile c = SquareField(118.0f, 39.0f, 0.002f);
    WriteText(dir / "C.txt", WriteArea(c));
    WriteText(dir / "C.kml", KmlDocument(c, "C", MeasureArea(c)));
    // Another program's polygon, and the same one again under another name.
    const std::string other =
        "<kml><Placemark><Polygon><outerBoundaryIs><LinearRing><coordinates>1,1 1.01,1 1.01,1.01 1,1"
        "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark></kml>";
    WriteText(dir / "O.kml", other);
    WriteText(dir / "O2.kml", other);
    struct Case {
        const char* file;
        bool added;
        const char* sameAs;  ///< the file of the job it already is
    };
    const Case cases[] = {{"A.txt", true, ""},     {"A(1).txt", false, "A.txt"}, {"B.kml", true, ""},
                          {"B.bak", false, "B.kml"}, {"C.txt", true, ""},       {"C.kml", false, "C.txt"},
                          {"O.kml", true, ""},     {"O2.kml", false, "O.kml"}};
    std::map<std::string, JobId> ids;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        const auto out = Add({Read(dir / k.file)});
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].added, k.added);
        if (k.added) ids[k.file] = out[0].id;
        else EXPECT_EQ(out[0].id, ids[k.sameAs]);
    }
    std::vector<Job> jobs;
    ASSERT_TRUE(book->ListJobs({}, jobs).ok());
    EXPECT_EQ(jobs.size(), 4u);
    // The folder walk reads a KML + .bak pair once.
    std::vector<SourceProblem> problems;
    const fs::path in[] = {dir.path()};
    const auto files = CollectSources(in, false, problems);
    EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const fs::path& p) { return p.filename() == "B.bak"; }), 0);
}

// Every sample the emulator ships: each readable one is a job of its own (the
// handheld area files share their points but not their bytes), and a copy of
// it, or the KML/GPX a converting download writes with its ".bak", is that job.
TEST_P(Books, EverySampleFileIsAJobOfItsOwnAndItsCopiesAreThatJob) {
    const fs::path samples = fs::path(DORVANE_SOURCE_DIR) / "sim/samples/data";
    struct Case {
        std::string file;
        bool readable;
        bool handheld;
        /// Its name on a converting handheld, whose download is the KML or
        /// GPX plus the bytes as ".bak".
        const char* downloadName;
    };
    const Case cases[] = {
        {"A0601_track.txt", true, true, "A0601.kml"},
        {"A0602_vertex.txt", true, true, "A0602.kml"},
        {"A0603_harvest.txt", true, true, "A0603.kml"},
        {"A0604_flag1.txt", true, true, "A0604.kml"},
        {"A0605_damaged.txt", true, true, "A0605.kml"},
        {"A0606_header_only.txt", true, true, "A0606.kml"},
        {"C070101.gmt", false, false, ""},
        {"N070101.gmt", false, false, ""},
        {"T0601_empty.gpx", true, false, ""},
        {"T0602_few.gpx", true, false, ""},
        {"T0603_negtime.gpx", true, false, ""},
        {"dollars.bin", false, false, ""},
        {"size_0.bin", false, false, ""},
        {"size_1959.bin", false, false, ""},
        {"size_1960.bin", false, false, ""},
        {"size_1961.bin", false, false, ""},
        {"\xb2\xe2\xca\xd4\xb9\xec\xbc\xa3.gpx", true, false, ""},  // a GBK name
    };
    // The table covers the folder: a new sample must be listed here.
    std::set<std::string> listed, present;
    for (const Case& c : cases) listed.insert(c.file);
    for (const auto& e : fs::directory_iterator(samples)) present.insert(e.path().filename().string());
    ASSERT_EQ(listed, present);

    auto addOne = [&](const fs::path& p) {
        Measurement m;
        EXPECT_TRUE(ReadMeasurement(p, m).ok()) << p;
        const auto out = Add({m});
        return out.size() == 1 ? out[0] : AddOutcome{};
    };
    std::map<std::string, JobId> ids;
    std::set<JobId> distinct;
    std::map<JobId, std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>>> times;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Measurement m;
        EXPECT_EQ(ReadMeasurement(samples / c.file, m).ok(), c.readable);
        if (!c.readable) continue;
        const AddOutcome o = addOne(samples / c.file);
        EXPECT_TRUE(o.added) << "already in the book as job " << o.id << " (" << o.existingLabel << ")";
        ids[c.file] = o.id;
        distinct.insert(o.id);
        times[o.id] = {m.startTime, m.endTime};
    }
    EXPECT_EQ(distinct.size(), ids.size());
    for (const Case& c : cases) {
        if (!c.readable) continue;
        SCOPED_TRACE(c.file);
        const fs::path src = samples / c.file;
        const fs::path copy = dir / (src.stem().string() + "(1)" + src.extension().string());
        fs::copy_file(src, copy);
        const AddOutcome again = addOne(copy);
        EXPECT_FALSE(again.added);
        EXPECT_EQ(again.id, ids[c.file]);
        if (!c.handheld) continue;
        // The converting handheld's download: KML or GPX and the bytes as ".bak".
        const fs::path folder = dir / ("download_" + src.stem().string());
        fs::create_directories(folder);
        std::vector<std::uint8_t> bytes;
        std::string message;
        ASSERT_EQ(ReadInputFile(src, bytes, message), ConvertError::kNone) << message;
        const StoreResult stored = StoreDownload(bytes, c.downloadName, folder, kConvertingModelCode);
        ASSERT_TRUE(stored.ok()) << stored.message;
        ASSERT_EQ(stored.conversion, Conversion::kConverted);
        std::vector<SourceProblem> problems;
        const fs::path in[] = {folder};
        const auto files = CollectSources(in, false, problems);
        EXPECT_TRUE(problems.empty());
        ASSERT_EQ(files.size(), 1u);  // the pair is one measurement
        for (const fs::path& f : {files[0], stored.rawPath}) {
            const AddOutcome o = addOne(f);
            EXPECT_FALSE(o.added) << f;
            EXPECT_EQ(o.id, ids[c.file]) << f;
        }
    }
    std::vector<Job> jobs;
    ASSERT_TRUE(book->ListJobs({}, jobs).ok());
    EXPECT_EQ(jobs.size(), ids.size());
    for (const Job& j : jobs) {  // the times as they were read, back from the book's texts
        EXPECT_EQ(j.startTime, times[j.id].first) << j.id;
        EXPECT_EQ(j.endTime, times[j.id].second) << j.id;
    }
}

/// Five fields and four lines over five days, their ids interleaved across
/// the two layers; Wang has 2, 5 and 9, Li 1 and 4.
void AddMixedJobs(Books& fixture) {
    auto* book = fixture.book.get();
    auto& dir = fixture.dir;
    auto Read = [&](const fs::path& p) { return fixture.Read(p); };
    auto Add = [&](const std::vector<Measurement>& ms) { return fixture.Add(ms); };
    Customer wang, li;
    wang.name = "Wang";
    li.name = "Li";
    CustomerId id = 0;
    EXPECT_TRUE(book->AddCustomer(wang, id).ok());
    EXPECT_TRUE(book->AddCustomer(li, id).ok());
    std::vector<Measurement> ms;
    const std::int32_t kDay = 86400;
    const std::int32_t kStart = 1777600000;  // 2026-05-01
    for (int i = 0; i < 5; ++i) {  // fields of three sizes over four days
        const fs::path p = dir / ("F" + std::to_string(i) + ".txt");
        WriteText(p, WriteArea(SquareField(116.0f + static_cast<float>(i), 39.0f, 0.001f * static_cast<float>(1 + i % 3),
                                           kStart + kDay * (i % 4))));
        ms.push_back(Read(p));
    }
    for (int i = 0; i < 4; ++i) {  // tracks from another program: lines of no area
        const fs::path p = dir / ("T" + std::to_string(i) + ".gpx");
        const std::string day = "2026-05-0" + std::to_string(1 + (i * 3) % 5);
        WriteText(p, "<gpx><trk><trkseg><trkpt lat=\"30\" lon=\"" + std::to_string(100 + i) + "\"><time>" + day +
                         "T10:00:00Z</time></trkpt><trkpt lat=\"30.01\" lon=\"" + std::to_string(100 + i) +
                         "\"><time>" + day + "T10:30:00Z</time></trkpt></trkseg></trk></gpx>");
        ms.push_back(Read(p));
    }
    std::swap(ms[1], ms[6]);  // interleave the layers' ids
    std::swap(ms[3], ms[8]);
    Add(ms);
    JobTerms t;
    t.customer = "Wang";
    EXPECT_TRUE(book->AssignJobs(std::vector<JobId>{2, 5, 9}, t).ok());
    t.customer = "Li";
    EXPECT_TRUE(book->AssignJobs(std::vector<JobId>{1, 4}, t).ok());

}

// Fields and lines live in two layers; the list reads each and merges them
// in the filter's order, ties by id in the same direction, cut at the limit.
TEST_P(Books, ListsMergeFieldsAndLinesInEveryOrderAndLimit) {
    AddMixedJobs(*this);
    std::vector<Job> all;
    ASSERT_TRUE(book->ListJobs({}, all).ok());
    ASSERT_EQ(all.size(), 9u);
    int lines = 0;
    for (std::size_t k = 0; k < all.size(); ++k) {
        EXPECT_EQ(all[k].id, static_cast<JobId>(k + 1));
        lines += all[k].shape == JobShape::kLine;
    }
    EXPECT_EQ(lines, 4);
    using Sort = JobFilter::Sort;
    struct Case {
        Sort sort;
        bool descending;
        std::size_t limit;
    };
    const Case cases[] = {{Sort::kId, false, 0},       {Sort::kId, true, 0},        {Sort::kId, true, 3},
                          {Sort::kDate, false, 0},     {Sort::kDate, true, 0},      {Sort::kDate, true, 4},
                          {Sort::kCustomer, false, 0}, {Sort::kCustomer, true, 0},  {Sort::kCustomer, false, 5},
                          {Sort::kArea, false, 0},     {Sort::kArea, true, 0},      {Sort::kArea, true, 2},
                          {Sort::kArea, false, 6},     {Sort::kDate, false, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.sort)) + (c.descending ? " desc " : " asc ") +
                     std::to_string(c.limit));
        std::vector<Job> expected = all;
        std::sort(expected.begin(), expected.end(), [&](const Job& a, const Job& b) {
            auto key = [&](const Job& j) {
                switch (c.sort) {
                case Sort::kId: return std::tuple(std::string(), 0.0, j.id);
                case Sort::kDate: return std::tuple(j.date, 0.0, j.id);
                case Sort::kCustomer: return std::tuple(j.customer, 0.0, j.id);
                case Sort::kArea: return std::tuple(std::string(), j.wgs84Area_m2, j.id);
                default: break;  // the other orders: PagesCutTheWholeListAtAnyOffset
                }
                return std::tuple(std::string(), 0.0, j.id);
            };
            return c.descending ? key(b) < key(a) : key(a) < key(b);
        });
        if (c.limit && expected.size() > c.limit) expected.resize(c.limit);
        JobFilter f;
        f.sort = c.sort;
        f.descending = c.descending;
        f.limit = c.limit;
        std::vector<Job> got;
        ASSERT_TRUE(book->ListJobs(f, got).ok());
        std::vector<JobId> want, have;
        for (const Job& j : expected) want.push_back(j.id);
        for (const Job& j : got) have.push_back(j.id);
        EXPECT_EQ(have, want);
    }
    // Filters reach both layers too.
    JobFilter byCustomer;
    byCustomer.customer = "Wang";
    std::vector<Job> got;
    ASSERT_TRUE(book->ListJobs(byCustomer, got).ok());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].id, 2);
    EXPECT_EQ(got[2].id, 9);
    byCustomer.customer = "";
    ASSERT_TRUE(book->ListJobs(byCustomer, got).ok());
    EXPECT_EQ(got.size(), 4u);
    byCustomer.customer = "Nobody";
    ASSERT_TRUE(book->ListJobs(byCustomer, got).ok());
    EXPECT_TRUE(got.empty());
}

// A page is a cut of the whole list: the same filter and order, `limit` jobs
// from `offset`, read in the store; the count is the whole list's length and
// the ids are the whole list's (or the page's) without the rows.
TEST_P(Books, PagesCutTheWholeListAtAnyOffset) {
    AddMixedJobs(*this);
    JobTerms east;
    east.village = "East";
    east.priceFen = 8000;
    ASSERT_TRUE(book->AssignJobs(std::vector<JobId>{3, 5, 8}, east).ok());
    JobTerms west;
    west.village = "West";
    west.priceFen = 4550;
    ASSERT_TRUE(book->AssignJobs(std::vector<JobId>{1, 9}, west).ok());
    std::vector<Job> all;
    ASSERT_TRUE(book->ListJobs({}, all).ok());
    ASSERT_EQ(all.size(), 9u);

    using Sort = JobFilter::Sort;
    enum class Only { kAll, kWang, kEast, kUnassigned };
    struct Case {
        Sort sort;
        bool descending;
        Only only;
        std::size_t offset, limit;
    };
    const Case cases[] = {
        {Sort::kId, false, Only::kAll, 0, 4},         {Sort::kId, false, Only::kAll, 4, 4},
        {Sort::kId, false, Only::kAll, 8, 4},         {Sort::kId, true, Only::kAll, 3, 0},
        {Sort::kDate, true, Only::kAll, 2, 3},        {Sort::kCustomer, false, Only::kAll, 5, 2},
        {Sort::kArea, true, Only::kAll, 1, 5},        {Sort::kLabel, false, Only::kAll, 0, 3},
        {Sort::kLabel, true, Only::kAll, 6, 3},       {Sort::kVillage, false, Only::kAll, 2, 4},
        {Sort::kVillage, true, Only::kAll, 0, 0},     {Sort::kPrice, false, Only::kAll, 0, 6},
        {Sort::kPrice, true, Only::kAll, 3, 4},       {Sort::kFile, false, Only::kAll, 1, 7},
        {Sort::kFile, true, Only::kAll, 0, 2},        {Sort::kDate, false, Only::kWang, 1, 1},
        {Sort::kPrice, false, Only::kEast, 1, 5},     {Sort::kArea, false, Only::kUnassigned, 2, 2},
        {Sort::kId, false, Only::kAll, 9, 3},         {Sort::kId, false, Only::kAll, 20, 3},
        {Sort::kCustomer, true, Only::kEast, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.sort)) + (c.descending ? " desc " : " asc ") + "only " +
                     std::to_string(static_cast<int>(c.only)) + " from " + std::to_string(c.offset) + " limit " +
                     std::to_string(c.limit));
        JobFilter f;
        std::vector<Job> expected;
        for (const Job& j : all) {
            switch (c.only) {
            case Only::kAll: expected.push_back(j); break;
            case Only::kWang: if (j.customer == "Wang") expected.push_back(j); break;
            case Only::kEast: if (j.village == "East") expected.push_back(j); break;
            case Only::kUnassigned: if (j.customer.empty()) expected.push_back(j); break;
            }
        }
        if (c.only == Only::kWang) f.customer = "Wang";
        if (c.only == Only::kEast) f.village = "East";
        if (c.only == Only::kUnassigned) f.customer = "";
        auto key = [&](const Job& j) {
            using Key = std::tuple<int, std::string, double, JobId>;
            switch (c.sort) {
            case Sort::kId: return Key(0, "", 0.0, j.id);
            case Sort::kDate: return Key(0, j.date, 0.0, j.id);
            case Sort::kCustomer: return Key(0, j.customer, 0.0, j.id);
            case Sort::kArea: return Key(0, "", j.wgs84Area_m2, j.id);
            case Sort::kLabel: return Key(0, j.label, 0.0, j.id);
            case Sort::kVillage: return Key(0, j.village, 0.0, j.id);
            case Sort::kPrice: return Key(j.priceFen ? 0 : 1, "", static_cast<double>(j.priceFen.value_or(0)), j.id);
            case Sort::kFile: return Key(0, j.file, 0.0, j.id);
            }
            return Key(0, "", 0.0, j.id);
        };
        std::sort(expected.begin(), expected.end(),
                  [&](const Job& a, const Job& b) { return c.descending ? key(b) < key(a) : key(a) < key(b); });
        const std::size_t matching = expected.size();
        expected.erase(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(std::min(c.offset, matching)));
        if (c.limit && expected.size() > c.limit) expected.resize(c.limit);
        std::vector<JobId> want;
        for (const Job& j : expected) want.push_back(j.id);

        f.sort = c.sort;
        f.descending = c.descending;
        f.offset = c.offset;
        f.limit = c.limit;
        std::vector<Job> page;
        ASSERT_TRUE(book->ListJobs(f, page).ok());
        std::vector<JobId> have;
        for (const Job& j : page) have.push_back(j.id);
        EXPECT_EQ(have, want);
        std::vector<JobId> ids;
        ASSERT_TRUE(book->ListJobIds(f, ids).ok());
        EXPECT_EQ(ids, want);
        std::int64_t count = -1;
        ASSERT_TRUE(book->CountJobs(f, count).ok());
        EXPECT_EQ(count, static_cast<std::int64_t>(matching));
    }

    // Pages of two, one after another, read every job once, in order.
    for (Sort sort : {Sort::kId, Sort::kCustomer, Sort::kPrice, Sort::kLabel}) {
        JobFilter f;
        f.sort = sort;
        std::vector<JobId> whole;
        ASSERT_TRUE(book->ListJobIds(f, whole).ok());
        std::vector<JobId> paged;
        f.limit = 2;
        for (f.offset = 0; f.offset < 12; f.offset += f.limit) {
            std::vector<Job> page;
            ASSERT_TRUE(book->ListJobs(f, page).ok());
            for (const Job& j : page) paged.push_back(j.id);
        }
        EXPECT_EQ(paged, whole) << static_cast<int>(sort);
        EXPECT_EQ(std::set<JobId>(paged.begin(), paged.end()).size(), 9u);
    }
}

struct Billing : Books {
    void SetUp() override {
        Books::SetUp();
        Customer c;
        c.name = "Wang";
        c.defaultPriceFen[static_cast<int>(WorkType::kHarvesting)] = 8000;
        CustomerId id;
        ASSERT_TRUE(book->AddCustomer(c, id).ok());
        std::vector<Measurement> ms;
        for (int i = 0; i < 4; ++i) {
            const fs::path p = dir / ("F" + std::to_string(i) + ".txt");
            WriteText(p, WriteArea(SquareField(116.0f + static_cast<float>(i), 39.0f, 0.001f)));
            ms.push_back(Read(p));
        }
        JobTerms t;
        t.customer = "Wang";
        Add(ms, t);
    }
    std::string Issue(std::vector<JobId> jobs, const std::string& date = "2026-05-01") {
        BillRequest r;
        r.customer = "Wang";
        r.jobs = std::move(jobs);
        r.date = date;
        Bill b;
        const BookStatus st = book->IssueBill(r, b);
        EXPECT_TRUE(st.ok()) << st.message;
        return b.number;
    }
};

TEST_P(Billing, NumbersArePerYearWithoutGapsAcrossVoidsAndReopening) {
    EXPECT_EQ(Issue({1}), "2026-0001");
    ASSERT_TRUE(book->VoidBill("2026-0001", "2026-05-02").ok());
    std::vector<Job> jobs;
    ASSERT_TRUE(book->ListJobs({}, jobs).ok());
    EXPECT_EQ(jobs[0].status, JobStatus::kMeasured);
    EXPECT_FALSE(jobs[0].bill);
    EXPECT_EQ(Issue({1, 2}), "2026-0002");  // the voided number stays taken
    book.reset();
    ASSERT_TRUE(OpenBook(location, {}, book).ok());
    EXPECT_EQ(Issue({3}), "2026-0003");
    EXPECT_EQ(Issue({4}, "2027-01-02"), "2027-0001");
    Bill voided;
    ASSERT_TRUE(book->GetBill("2026-0001", voided).ok());
    EXPECT_EQ(voided.status, BillStatus::kVoid);
    EXPECT_EQ(voided.lines.size(), 1u);
    // Billed jobs cannot be billed twice, and an issued bill cannot change.
    BillRequest again{"Wang", {1}, {}, {}, "2026-06-01", {}};
    Bill b;
    EXPECT_EQ(book->IssueBill(again, b).error, BookError::kInvalid);
    const std::string change = "UPDATE invoices SET total_fen = 1 WHERE number = '2026-0002'";
    if (GetParam() == StoreKind::kPg) {
        std::string out;
        EXPECT_FALSE(Server()->Psql(Database(), change, &out));
        EXPECT_NE(out.find("only voided"), std::string::npos) << out;
        return;
    }
    char* err = nullptr;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_NE(sqlite3_exec(db, change.c_str(), nullptr, nullptr, &err), SQLITE_OK);
    sqlite3_free(err);
    sqlite3_close(db);
}

TEST_P(Billing, AVoidJobIsNeverBilledNorCountedInTheSeason) {
    SeasonFigures before;
    ASSERT_TRUE(book->Season({}, before).ok());
    ASSERT_EQ(before.overall.jobs, 4);
    EXPECT_EQ(Issue({4}), "2026-0001");
    struct Case {
        std::vector<JobId> ids;
        BookError error;
    };
    const Case cases[] = {
        {{}, BookError::kInvalid},     // nothing to void
        {{1, 99}, BookError::kNotFound},  // all or nothing: 1 stays measured
        {{4}, BookError::kInvalid},    // billed: its bill is voided first
        {{1}, BookError::kNone},
        {{1}, BookError::kInvalid},    // void already
        {{2, 1}, BookError::kInvalid},  // 2 stays measured with 1 refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ids.size() ? c.ids[0] : 0);
        EXPECT_EQ(book->VoidJobs(c.ids).error, c.error);
    }
    std::vector<Job> jobs;
    ASSERT_TRUE(book->ListJobs({}, jobs).ok());
    const JobStatus expected[] = {JobStatus::kVoid, JobStatus::kMeasured, JobStatus::kMeasured, JobStatus::kBilled};
    ASSERT_EQ(jobs.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(jobs[i].status, expected[i]) << jobs[i].id;
    // Neither named nor taken with the customer's unbilled jobs.
    BillRequest named{"Wang", {1, 2}, {}, {}, "2026-05-02", {}};
    Bill b;
    const BookStatus refused = book->IssueBill(named, b);
    EXPECT_EQ(refused.error, BookError::kInvalid);
    EXPECT_NE(refused.message.find("void"), std::string::npos) << refused.message;
    BillRequest all{"Wang", {}, {}, {}, "2026-05-02", {}};
    ASSERT_TRUE(book->IssueBill(all, b).ok());
    ASSERT_EQ(b.lines.size(), 2u);
    EXPECT_EQ(b.lines[0].job, 2);
    EXPECT_EQ(b.lines[1].job, 3);
    SeasonFigures after;
    ASSERT_TRUE(book->Season({}, after).ok());
    EXPECT_EQ(after.overall.jobs, 3);
    const auto one = QuantityE4(jobs[0].wgs84Area_m2, BillingUnit::kMu);
    ASSERT_TRUE(one);
    EXPECT_EQ(after.overall.areaMuE4, before.overall.areaMuE4 - *one);
    JobFilter voids;
    voids.status = JobStatus::kVoid;
    ASSERT_TRUE(book->ListJobs(voids, jobs).ok());
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].id, 1);
}

TEST_P(Billing, BillTotalsAreSumsOfLinesAndPaymentsSettleOldestFirst) {
    const std::string first = Issue({1, 2}), second = Issue({3}, "2026-05-03");
    Bill b1, b2;
    ASSERT_TRUE(book->GetBill(first, b1).ok());
    ASSERT_TRUE(book->GetBill(second, b2).ok());
    Fen sum = 0;
    for (const BillLine& l : b1.lines) sum += l.amountFen;
    EXPECT_EQ(b1.totalFen, sum);
    ASSERT_GT(b1.totalFen, 0);
    Payment p;
    PaymentRequest r;
    r.customer = "Wang";
    r.date = "2026-06-01";
    r.amountFen = b1.totalFen + 1;  // settles the first, 1 fen on the second
    ASSERT_TRUE(book->Pay(r, p).ok());
    ASSERT_EQ(p.applied.size(), 2u);
    EXPECT_TRUE(p.applied[0].billPaid);
    EXPECT_EQ(p.applied[1].amountFen, 1);
    ASSERT_TRUE(book->GetBill(first, b1).ok());
    EXPECT_EQ(b1.status, BillStatus::kPaid);
    std::vector<Job> jobs;
    ASSERT_TRUE(book->ListJobs({}, jobs).ok());
    EXPECT_EQ(jobs[0].status, JobStatus::kPaid);
    EXPECT_EQ(jobs[2].status, JobStatus::kBilled);
    // More than is outstanding is refused whole; a bill with payments stays.
    r.amountFen = b2.totalFen;
    EXPECT_EQ(book->Pay(r, p).error, BookError::kInvalid);
    EXPECT_EQ(book->VoidBill(second, "2026-06-02").error, BookError::kInvalid);
    PaymentRequest onBill;
    onBill.bill = second;
    onBill.date = "2026-06-02";
    onBill.amountFen = b2.totalFen - 1;
    ASSERT_TRUE(book->Pay(onBill, p).ok());
    SeasonFigures s;
    ASSERT_TRUE(book->Season({}, s).ok());
    EXPECT_EQ(s.overall.jobs, 4);
    EXPECT_EQ(s.overall.billedFen, b1.totalFen + b2.totalFen);
    EXPECT_EQ(s.overall.OutstandingFen(), 0);
}

// What QGIS reads: the GeoPackage's layers, or the office book's views
// through GDAL's PostgreSQL driver.
// A square field of `side` degrees with its south-west corner at lon, lat, as
// a GeoJSON ring (closed).
std::string SquareRing(double lon, double lat, double side) {
    std::ostringstream s;
    s.precision(10);
    s << '[' << '[' << lon << ',' << lat << "],[" << lon + side << ',' << lat << "],[" << lon + side << ','
      << lat + side << "],[" << lon << ',' << lat + side << "],[" << lon << ',' << lat << "]]";
    return s.str();
}

// A village's fields in one GeoJSON: `n` squares in a row named F01, F02 ...
std::string VillageGeoJson(double lon, int n) {
    std::string s = R"({"type":"FeatureCollection","features":[)";
    for (int i = 0; i < n; ++i) {
        const std::string name = (i < 9 ? "F0" : "F") + std::to_string(i + 1);
        s += std::string(i ? "," : "") + R"({"type":"Feature","properties":{"name":")" + name +
             R"("},"geometry":{"type":"Polygon","coordinates":[)" + SquareRing(lon + i * 0.002, 39.0, 0.001) +
             "]}}";
    }
    return s + "]}";
}

// A file of many shapes is a job per shape, labelled by its feature and
// known by its geometry: the file again adds nothing, a hole's area is not
// billed and the kept polygon has the hole, and a feature that cannot be
// read is named by its number while the others enter the book.
TEST_P(Books, EveryShapeOfAFileIsAJobOfItsOwn) {
    // The same village in every format the office is handed, each at its
    // own place (the same fields twice would be the same jobs).
    WriteText(dir / "village.geojson", VillageGeoJson(100.0, 50));
    WriteText(dir / "fields_shp.geojson", VillageGeoJson(101.0, 50));
    WriteText(dir / "fields_gpkg.geojson", VillageGeoJson(102.0, 50));
    WriteText(dir / "fields_kml.geojson", VillageGeoJson(103.0, 50));
    for (const auto& [from, to, driver] : {std::tuple{"shp", "village_shp", "ESRI Shapefile"},
                                           std::tuple{"gpkg", "village.gpkg", "GPKG"},
                                           std::tuple{"kml", "village.kml", "KML"}}) {
        const auto run = test::RunCommand("ogr2ogr -f '" + std::string(driver) + "' '" + (dir / to).string() +
                                          "' '" + (dir / ("fields_" + std::string(from) + ".geojson")).string() + "' 2>&1");
        ASSERT_EQ(run.status, 0) << run.out;
    }
    // The Shapefile's folder is one file to read: its .dbf, .shx and .prj are parts of it.
    std::vector<SourceProblem> notFound;
    const fs::path shpFolder[] = {dir / "village_shp"};
    const auto shpFiles = CollectSources(shpFolder, false, notFound);
    ASSERT_EQ(shpFiles.size(), 1u);
    const fs::path shp = shpFiles[0];
    EXPECT_EQ(shp.extension(), ".shp");
    // A field with a pond (a hole of a quarter of its side: 1/16 of its
    // area), and a file whose second feature lies off the globe.
    WriteText(dir / "pond.geojson",
              R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"name":"Pond"},)"
              R"("geometry":{"type":"Polygon","coordinates":[)" +
                  SquareRing(104.0, 39.0, 0.004) + "," + SquareRing(104.0015, 39.0015, 0.001) + "]}}]}");
    WriteText(dir / "bad.geojson",
              R"({"type":"FeatureCollection","features":[)"
              R"({"type":"Feature","properties":{"name":"G1"},"geometry":{"type":"Polygon","coordinates":[)" +
                  SquareRing(105.0, 39.0, 0.001) +
                  R"(]}},{"type":"Feature","properties":{"name":"G2"},"geometry":{"type":"Polygon","coordinates":[)" +
                  SquareRing(205.0, 95.0, 0.001) +
                  R"(]}},{"type":"Feature","properties":{"name":"G3"},"geometry":{"type":"Polygon","coordinates":[)" +
                  SquareRing(105.01, 39.0, 0.001) + "]}}]}");
    struct Case {
        fs::path file;
        std::size_t jobs;
        std::vector<std::size_t> badFeatures;
        const char* secondLabel;  ///< the second job's label
    };
    const Case cases[] = {
        {dir / "village.geojson", 50, {}, "F02"}, {shp, 50, {}, "F02"},
        {dir / "village.gpkg", 50, {}, "F02"},    {dir / "village.kml", 50, {}, "F02"},
        {dir / "pond.geojson", 1, {}, ""},        {dir / "bad.geojson", 2, {2}, "G3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.string());
        // The formats differ in reading alone: the office book (slow to
        // start a store on) takes the GeoJSON's fields and the odd files.
        if (GetParam() == StoreKind::kPg && c.jobs == 50 && c.file.extension() != ".geojson") continue;
        for (const bool again : {false, true}) {
            std::vector<Measurement> ms;
            std::vector<geo::FeatureProblem> problems;
            ASSERT_TRUE(ReadJobs(c.file, ms, problems).ok());
            ASSERT_EQ(ms.size(), c.jobs);
            std::vector<std::size_t> bad;
            for (const auto& p : problems) bad.push_back(p.feature);
            EXPECT_EQ(bad, c.badFeatures);
            const auto out = Add(ms);
            ASSERT_EQ(out.size(), c.jobs);
            EXPECT_EQ(std::count_if(out.begin(), out.end(), [](const AddOutcome& o) { return o.added; }),
                      again ? 0 : static_cast<std::ptrdiff_t>(c.jobs));
            if (again || c.jobs < 2) continue;
            std::vector<Job> jobs;
            JobFilter f;
            f.ids = {out[1].id};
            ASSERT_TRUE(book->ListJobs(f, jobs).ok());
            ASSERT_EQ(jobs.size(), 1u);
            EXPECT_EQ(jobs[0].label, c.secondLabel);
            EXPECT_EQ(jobs[0].file, c.file.string() + " › " + c.secondLabel);
            EXPECT_EQ(SourceFileOf(jobs[0].file), c.file.string());  // what the field view opens
        }
    }
    // The pond's area is the field's less the pond's, and the job keeps the hole.
    std::vector<Measurement> pond;
    std::vector<geo::FeatureProblem> none;
    ASSERT_TRUE(ReadJobs(dir / "pond.geojson", pond, none).ok());
    ASSERT_EQ(pond.size(), 1u);
    const auto ring = [](double lon, double lat, double side) {
        return std::vector<geo::GeoPoint>{
            {lon, lat}, {lon + side, lat}, {lon + side, lat + side}, {lon, lat + side}};
    };
    const double field = geo::GeodesicRing(ring(104.0, 39.0, 0.004)).area_m2;
    const double hole = geo::GeodesicRing(ring(104.0015, 39.0015, 0.001)).area_m2;
    EXPECT_NEAR(pond[0].wgs84Area_m2, field - hole, 0.01);
    EXPECT_GT(hole, field / 17);
    const auto known = Add(pond);
    ASSERT_EQ(known.size(), 1u);
    std::vector<std::uint8_t> bytes;
    std::string file;
    ASSERT_TRUE(book->GetJobSource(known[0].id, bytes, file).ok());
    geo::FieldFile back;
    ASSERT_TRUE(ReadJobSource(bytes, file, back).ok());
    EXPECT_EQ(back.holes.size(), 1u);
    EXPECT_EQ(GeometryKey(back), pond[0].geometryKey);
    const std::string source = GetParam() == StoreKind::kPg
                                   ? "'PG:dbname=" + Database() + " host=" + Server()->SocketDir() + " port=" +
                                         std::to_string(PgServer::kPort) + " user=" + PgServer::kSuperuser + "'"
                                   : path.string();
    const auto info = test::RunCommand("ogrinfo -ro -q " + source + " fields -where \"label = 'Pond'\" 2>&1");
    EXPECT_EQ(info.status, 0) << info.out;
    EXPECT_NE(info.out.find("POLYGON (("), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("),("), std::string::npos) << "the stored polygon lost its hole: " << info.out;
}

// Overlaps are found in the polygons the store holds, holes and all: a field
// in another's pond shares no ground with it, a field walked twice does.
TEST_P(Books, OverlapsComeFromTheStoredPolygons) {
    auto feature = [](const char* name, const std::string& rings) {
        return R"({"type":"Feature","properties":{"name":")" + std::string(name) +
               R"("},"geometry":{"type":"Polygon","coordinates":[)" + rings + "]}}";
    };
    WriteText(dir / "overlaps.geojson",
              R"({"type":"FeatureCollection","features":[)" +
                  feature("Big", SquareRing(106.0, 39.0, 0.004) + "," + SquareRing(106.0015, 39.0015, 0.001)) + "," +
                  feature("Island", SquareRing(106.0016, 39.0016, 0.0008)) + "," +
                  feature("P1", SquareRing(107.0, 39.0, 0.001)) + "," +
                  feature("P2", SquareRing(107.00005, 39.0, 0.001)) + "]}");
    std::vector<Measurement> ms;
    std::vector<geo::FeatureProblem> problems;
    ASSERT_TRUE(ReadJobs(dir / "overlaps.geojson", ms, problems).ok());
    const auto out = Add(ms);
    ASSERT_EQ(out.size(), 4u);
    std::vector<JobOverlap> pairs;
    ASSERT_TRUE(FindJobOverlaps(*book, {}, pairs).ok());
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0].a.label, "P1");
    EXPECT_EQ(pairs[0].b.label, "P2");
    EXPECT_NEAR(pairs[0].shareOfSmaller, 0.95, 0.005);
    EXPECT_TRUE(pairs[0].measuredTwice);
    struct Case {
        std::vector<JobId> billing;
        std::size_t pairs;
    };
    const Case cases[] = {{{out[2].id}, 0}, {{out[2].id, out[3].id}, 1}, {{out[0].id, out[1].id}, 0}};
    for (const Case& c : cases) {
        std::vector<JobOverlap> twice;
        ASSERT_TRUE(MeasuredTwiceInBill(*book, c.billing, twice).ok());
        EXPECT_EQ(twice.size(), c.pairs);
    }
}

TEST_P(Books, GdalReadsTheBookAndItsValidatorPassesIt) {
    WriteText(dir / "A.txt", WriteArea(SquareField(116.0f, 39.0f, 0.001f)));
    Add({Read(dir / "A.txt")});
    if (GetParam() == StoreKind::kPg) {
        const std::string pg = "PG:dbname=" + Database() + " host=" + Server()->SocketDir() + " port=" +
                               std::to_string(PgServer::kPort) + " user=" + PgServer::kSuperuser;
        const auto info = test::RunCommand("ogrinfo -ro -so '" + pg + "' fields 2>&1");
        EXPECT_EQ(info.status, 0) << info.out;
        EXPECT_NE(info.out.find("Feature Count: 1"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("Polygon"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("4326"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("wgs84_area_m2: Real"), std::string::npos) << info.out;
        return;
    }
    const auto info = test::RunCommand("ogrinfo -ro -al -so " + path.string() + " fields 2>&1");
    EXPECT_EQ(info.status, 0) << info.out;
    EXPECT_NE(info.out.find("Feature Count: 1"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("4326"), std::string::npos);
    EXPECT_NE(info.out.find("wgs84_area_m2: Real"), std::string::npos);
    const auto where = test::RunCommand("dpkg -L python3-gdal | grep '/validate_gpkg.py$' | head -1");
    ASSERT_FALSE(where.out.empty()) << "python3-gdal's validate_gpkg.py is missing";
    std::string script = where.out.substr(0, where.out.find('\n'));
    book.reset();  // the validator reads the file as closed
    const auto v = test::RunCommand("python3 " + script + " " + path.string() + " 2>&1");
    EXPECT_EQ(v.status, 0) << v.out;
}

INSTANTIATE_TEST_SUITE_P(Stores, Books, ::testing::Values(StoreKind::kGpkg, StoreKind::kPg), StoreName);
INSTANTIATE_TEST_SUITE_P(Stores, Billing, ::testing::Values(StoreKind::kGpkg, StoreKind::kPg), StoreName);

}  // namespace
}  // namespace dorvane::book
