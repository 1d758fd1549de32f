// bench_book_pg: the office book on a loopback PostgreSQL + PostGIS server.
// Starts its own server in a scratch folder (as the tests do; under root as
// the user dorvane-pgtest), or uses the office book named on the command line
// (it must be an empty database with PostGIS), then times:
//   - 10 000 measurements sent by two clients at once (a day's 200 fields per
//     send, 1 000 of them sent by both), every one a job exactly once;
//   - opening a 100 000-job office book and its first page of jobs the way
//     the Book window does (book::ReadFirstPage: a page, the list's length
//     and the season's count, filtering, sorting and paging in the server),
//     a page far down the list as scrolling asks for it, and other first
//     pages by filter and order;
//   - sending a day's 200 fields.
// Prints each figure with its target; never a test.
//
//   bench_book_pg [postgresql://...]

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/startup/standard_options.h"
#include "book/job_pages.h"
#include "book/job_source.h"
#include "book/open_book.h"
#include "book_fixture.h"
#include "pg_server.h"

using namespace dorvane;
using namespace dorvane::book;

namespace {

constexpr std::size_t kSent = 10000;
constexpr std::size_t kSentByBoth = 1000;
constexpr std::size_t kDayFields = 200;
constexpr std::size_t kBigBook = 100000;
// Targets of the office book.
constexpr double kSendTwoClientsTarget = 30.0;
constexpr double kFirstPageTarget = 1.0;
constexpr double kSendDayTarget = 2.0;
/// 2026-04-01 00:00 UTC: the season's first day; jobs spread over 180 days.
constexpr std::int64_t kSeasonStart = 1775001600;
constexpr std::int64_t kSeasonSeconds = 180LL * 86400;

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }
int missed = 0;

void Print(const std::string& what, double s, double target) {
    const bool ok = s <= target;
    missed += ok ? 0 : 1;
    std::printf("%-62s %8.3f s  (target: <= %.3g s) %s\n", what.c_str(), s, target, ok ? "ok" : "MISSED");
    std::fflush(stdout);
}

/// A figure without a target of its own, printed for comparison.
void PrintFigure(const std::string& what, double s) {
    std::printf("%-62s %8.3f s  (for comparison)\n", what.c_str(), s);
    std::fflush(stdout);
}

bool Check(const BookStatus& st, const char* what) {
    if (st.ok()) return true;
    std::fprintf(stderr, "bench_book_pg: %s: %s\n", what, st.message.c_str());
    return false;
}

// Field `i` of the made-up season, with the handheld's bytes.
Measurement SeasonJob(std::size_t i) {
    const float lon = 100.0f + 0.002f * static_cast<float>(i % 10000);
    const float lat = 30.0f + 0.002f * static_cast<float>(i / 10000);
    const std::int64_t when = kSeasonStart + static_cast<std::int64_t>(i * 7919 % kSeasonSeconds);
    AreaFile a = testing::SquareField(lon, lat, 0.0008f + 0.0001f * static_cast<float>(i % 5),
                                      static_cast<std::int32_t>(when));
    const std::string bytes = WriteArea(a);
    geo::FieldFile f;
    const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    geo::ReadFieldBytes(raw, "F.txt", f);
    Measurement m = MeasurementOf(f, raw, "/season/F" + std::to_string(i) + ".txt");
    m.label = "F" + std::to_string(i);
    return m;
}

// One client sending fields [from, to) a day (kDayFields) at a time.
bool Send(const std::string& uri, std::size_t from, std::size_t to, std::size_t& added) {
    std::unique_ptr<BookStore> book;
    if (!Check(OpenBook(uri, {}, book), "opening the office book")) return false;
    JobTerms t;
    t.customer = "Wang";
    for (std::size_t day = from; day < to; day += kDayFields) {
        std::vector<Measurement> ms;
        for (std::size_t i = day; i < std::min(to, day + kDayFields); ++i) ms.push_back(SeasonJob(i));
        std::vector<AddOutcome> out;
        if (!Check(book->AddJobs(ms, t, out), "sending fields")) return false;
        for (const AddOutcome& o : out) added += o.added ? 1 : 0;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(
            argc, argv, "bench_book_pg",
            "usage: bench_book_pg [postgresql://...]\n"
            "Times the office book on a loopback PostgreSQL + PostGIS server (its own, in a scratch\n"
            "folder, unless an empty database with PostGIS is named): 10000 measurements sent by two\n"
            "clients at once, the first page of a 100000-job book, a day's 200 fields sent.\n"))
        return *done;
    testing::PgServer server;
    std::string uri;
    std::string db;
    if (argc > 1) {
        uri = argv[1];
    } else {
        std::string error;
        auto t0 = Clock::now();
        if (!server.Start(error)) {
            std::fprintf(stderr, "bench_book_pg: the server did not start: %s\n", error.c_str());
            return 1;
        }
        uri = server.NewBook();
        db = uri.substr(uri.find("@/") + 2, uri.find('?') - uri.find("@/") - 2);
        std::printf("started a loopback PostgreSQL + PostGIS in %.1f s\n", Seconds(t0));
    }
    {
        std::unique_ptr<BookStore> book;
        if (!Check(OpenBook(uri, {}, book), "creating the office book")) return 1;
        book::Customer c;
        c.name = "Wang";
        c.defaultPriceFen[static_cast<int>(WorkType::kHarvesting)] = 8000;
        CustomerId id = 0;
        if (!Check(book->AddCustomer(c, id), "adding a customer")) return 1;
    }

    // Two clients at once, their sends overlapping by kSentByBoth fields.
    std::size_t addedA = 0, addedB = 0;
    bool okA = false, okB = false;
    const std::size_t half = (kSent + kSentByBoth) / 2;
    auto t0 = Clock::now();
    std::thread a([&] { okA = Send(uri, 0, half, addedA); });
    std::thread b([&] { okB = Send(uri, kSent - half, kSent, addedB); });
    a.join();
    b.join();
    if (!okA || !okB) return 1;
    Print("10000 measurements sent by two clients at once (" + std::to_string(addedA + addedB) + " new jobs)",
          Seconds(t0), kSendTwoClientsTarget);
    if (addedA + addedB != kSent) {
        std::fprintf(stderr, "bench_book_pg: %zu jobs made of %zu measurements\n", addedA + addedB, kSent);
        return 1;
    }

    // Grown to 100 000 jobs in the server (not timed): copies of the sent
    // jobs under new identities, spread over the season's days.
    if (!db.empty()) {
        t0 = Clock::now();
        const std::size_t copies = kBigBook / kSent - 1;
        std::string out;
        if (!server.Psql(db,
                         "INSERT INTO jobs (identity, geometry_key, shape, label, file, format, method, start_time, "
                         "end_time, job_date, wgs84_area_m2, wgs84_length_m, handheld_area_m2, handheld_length_m, "
                         "customer_id, village, work, price_fen, unit, status, notes, added, source_handheld, "
                         "source_bytes, geom) SELECT identity || '-' || g, geometry_key || '-' || g, shape, label || '/' || g, "
                         "file, format, method, start_time, end_time, job_date, wgs84_area_m2 + g, wgs84_length_m, "
                         "handheld_area_m2, handheld_length_m, customer_id, 'Village ' || (fid % 40), work, price_fen, "
                         "unit, status, notes, added, source_handheld, source_bytes, geom "
                         "FROM jobs, generate_series(1, " + std::to_string(copies) + ") g; ANALYZE",
                         &out)) {
            std::fprintf(stderr, "bench_book_pg: growing the book: %s\n", out.c_str());
            return 1;
        }
        std::printf("grew the office book to %s jobs in %.1f s\n", server.Query(db, "SELECT COUNT(*) FROM jobs").c_str(),
                    Seconds(t0));
    }

    {
        // The Book window's own path: a fresh connection (the window's
        // worker opens the book), then its first page in id order with the
        // count of the list and the season's job count.
        t0 = Clock::now();
        std::unique_ptr<BookStore> window;
        if (!Check(OpenBook(uri, {}, window), "opening the office book")) return 1;
        JobPage first;
        if (!Check(ReadFirstPage(*window, {}, kJobPageRows, first), "the Book window's first page")) return 1;
        Print("the Book window on a " + std::to_string(first.matching) + "-job office book opens (" +
                  std::to_string(first.jobs.size()) + " rows)",
              Seconds(t0), kFirstPageTarget);
        // Scrolling half way down: one further page, as the model fetches it.
        JobFilter deep;
        deep.offset = static_cast<std::size_t>(first.matching / 2);
        deep.limit = kJobPageRows;
        t0 = Clock::now();
        std::vector<book::Job> page;
        if (!Check(window->ListJobs(deep, page), "a page half way down")) return 1;
        Print("a further page half way down the list (" + std::to_string(page.size()) + " rows)", Seconds(t0),
              kFirstPageTarget);
        // Ctrl+A and assign: every matching job's id in one call.
        t0 = Clock::now();
        std::vector<JobId> ids;
        if (!Check(window->ListJobIds({}, ids), "every job's id")) return 1;
        Print("the ids of all " + std::to_string(ids.size()) + " jobs (select all)", Seconds(t0), kFirstPageTarget);
    }

    struct Page {
        const char* what;
        JobFilter filter;
    };
    std::vector<Page> pages(5);
    pages[0].what = "open the office book and its first page, by date, newest first";
    pages[0].filter.sort = JobFilter::Sort::kDate;
    pages[0].filter.descending = true;
    pages[1].what = "first page by customer";
    pages[1].filter.sort = JobFilter::Sort::kCustomer;
    pages[2].what = "first page of a village's jobs (free text)";
    pages[2].filter.text = "Village 7";
    pages[3].what = "first page of a week, measured, by area";
    pages[3].filter.from = "2026-06-01";
    pages[3].filter.to = "2026-06-07";
    pages[3].filter.status = JobStatus::kMeasured;
    pages[3].filter.sort = JobFilter::Sort::kArea;
    pages[4].what = "first page by label, last first";
    pages[4].filter.sort = JobFilter::Sort::kLabel;
    pages[4].filter.descending = true;
    for (Page& p : pages) {
        p.filter.limit = kJobPageRows;
        t0 = Clock::now();
        std::unique_ptr<BookStore> book;
        if (!Check(OpenBook(uri, {}, book), "opening the office book")) return 1;
        std::vector<book::Job> out;
        if (!Check(book->ListJobs(p.filter, out), p.what)) return 1;
        Print(std::string(p.what) + " (" + std::to_string(out.size()) + ")", Seconds(t0), kFirstPageTarget);
    }

    {
        // The whole list, as the Book window read it before it paged: for
        // comparison with the GeoPackage book's figure (bench_book).
        t0 = Clock::now();
        std::unique_ptr<BookStore> whole;
        if (!Check(OpenBook(uri, {}, whole), "opening the office book")) return 1;
        std::vector<book::Job> all;
        if (!Check(whole->ListJobs({}, all), "listing every job")) return 1;
        PrintFigure("open the office book and list all its " + std::to_string(all.size()) + " jobs", Seconds(t0));
    }

    // A day's fields from a laptop.
    std::unique_ptr<BookStore> book;
    if (!Check(OpenBook(uri, {}, book), "opening the office book")) return 1;
    std::vector<Measurement> day;
    for (std::size_t i = 0; i < kDayFields; ++i) day.push_back(SeasonJob(kBigBook + i));
    JobTerms t;
    t.customer = "Wang";
    t.work = WorkType::kHarvesting;
    t0 = Clock::now();
    std::vector<AddOutcome> out;
    if (!Check(book->AddJobs(day, t, out), "sending a day")) return 1;
    Print("send a day's " + std::to_string(kDayFields) + " fields", Seconds(t0), kSendDayTarget);
    std::printf("%s\n", missed ? "some targets MISSED" : "every target met");
    return 0;
}
