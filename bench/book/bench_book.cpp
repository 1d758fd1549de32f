// bench_book: the season book at a contractor's scale. A book of 100 000 jobs
// and 2 000 customers is made in a scratch folder (not timed), then timed
// once each: opening it and listing every job, filters and sorts, adding
// 1 000 area files, a bill of 200 jobs with its PDF (no map pages), the
// season figures and the overlaps among 5 000 fields. Prints each figure with its target; never a test.
//
//   bench_book [JOBS]     (default 100000; customers are JOBS / 50)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/startup/standard_options.h"
#include "book/bill_print.h"
#include "book/job_overlaps.h"
#include "book/job_pages.h"
#include "book/job_source.h"
#include "book/money.h"
#include "book/open_book.h"
#include "book/book_fixture.h"
#ifdef DORVANE_HAVE_PDF
#include "report_pdf/bill_pdf.h"
#endif

namespace fs = std::filesystem;
using namespace dorvane;
using namespace dorvane::book;

namespace {

constexpr std::size_t kDefaultJobs = 100000;
constexpr std::size_t kJobsPerCustomer = 50;
constexpr std::size_t kAddedFiles = 1000;
constexpr std::size_t kBilledJobs = 200;
/// Jobs written per transaction while the book is made (not timed).
constexpr std::size_t kSetupBatch = 5000;
// Targets of the season book.
constexpr double kOpenListTarget = 0.5;
constexpr double kFilterTarget = 0.1;
constexpr double kAddTarget = 3.0;
constexpr double kBillTarget = 3.0;
constexpr double kSeasonTarget = 0.2;
/// The book's overlaps: 5 000 fields within 2 s (spatial index, not all pairs).
constexpr std::size_t kOverlapJobs = 5000;
constexpr double kOverlapTarget = 2.0;
/// 2026-04-01 00:00 UTC: the season's first day; jobs spread over 180 days.
constexpr std::int64_t kSeasonStart = 1775001600;
constexpr std::int64_t kSeasonSeconds = 180LL * 86400;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int missed = 0;

void Print(const std::string& what, double s, double target) {
    const bool ok = s <= target;
    missed += ok ? 0 : 1;
    std::printf("%-58s %8.3f s  (target: <= %.3g s) %s\n", what.c_str(), s, target, ok ? "ok" : "MISSED");
    std::fflush(stdout);
}

bool Check(const BookStatus& st, const char* what) {
    if (st.ok()) return true;
    std::fprintf(stderr, "bench_book: %s: %s\n", what, st.message.c_str());
    return false;
}

// A field of the made-up season: a square near (lon, lat) with the
// handheld's bytes, as a download would bring it.
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

std::string CustomerName(std::size_t c) { return "Customer " + std::to_string(c); }

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(
            argc, argv, "bench_book",
            "usage: bench_book [JOBS]\n"
            "Makes a season book of JOBS jobs (default 100000) and JOBS/50 customers in a scratch\n"
            "folder, then times opening and listing it, filters and sorts, adding 1000 area files,\n"
            "a bill of 200 jobs with its PDF and the season figures; prints each with its target.\n"))
        return *done;
    const std::size_t jobs = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : kDefaultJobs;
    const std::size_t customers = std::max<std::size_t>(1, jobs / kJobsPerCustomer);
    const fs::path dir = fs::temp_directory_path() / ("dorvane-bench-book-" + std::to_string(::getpid()));
    fs::create_directories(dir / "files");
    const std::string path = (dir / "book.gpkg").string();
    int status = 0;
    {
        // The book, made as a season would leave it: every customer with a
        // price, every job assigned, in batches (not timed).
        auto t0 = Clock::now();
        std::unique_ptr<BookStore> book;
        if (!Check(OpenBook(path, {}, book), "creating the book")) return 1;
        for (std::size_t c = 0; c < customers; ++c) {
            book::Customer cu;
            cu.name = CustomerName(c);
            cu.village = "Village " + std::to_string(c % 40);
            cu.defaultPriceFen[static_cast<int>(WorkType::kHarvesting)] = 8000 + static_cast<Fen>(c % 7) * 100;
            CustomerId id = 0;
            if (!Check(book->AddCustomer(cu, id), "adding a customer")) return 1;
        }
        for (std::size_t from = 0; from < jobs; from += kSetupBatch) {
            std::vector<Measurement> batch;
            for (std::size_t i = from; i < std::min(jobs, from + kSetupBatch); ++i) batch.push_back(SeasonJob(i));
            std::vector<AddOutcome> outcomes;
            if (!Check(book->AddJobs(batch, {}, outcomes), "adding jobs")) return 1;
        }
        for (std::size_t c = 0; c < customers; ++c) {
            std::vector<JobId> ids;
            for (std::size_t i = c; i < jobs; i += customers) ids.push_back(static_cast<JobId>(i + 1));
            JobTerms t;
            t.customer = CustomerName(c);
            t.village = "Village " + std::to_string(c % 40);
            if (!Check(book->AssignJobs(ids, t), "assigning jobs")) return 1;
        }
        std::printf("made a book of %zu jobs and %zu customers in %.1f s (%.1f MB)\n", jobs, customers, Seconds(t0),
                    static_cast<double>(fs::file_size(path)) / 1e6);
    }

    // Open and show the jobs: what the Book window does first (its first
    // page, the list's length and the season's count).
    auto t0 = Clock::now();
    {
        std::unique_ptr<BookStore> window;
        if (!Check(OpenBook(path, {}, window), "opening the book")) return 1;
        JobPage first;
        if (!Check(ReadFirstPage(*window, {}, kJobPageRows, first), "the Book window's first page")) return 1;
        Print("the Book window opens on its " + std::to_string(first.matching) + " jobs (" +
                  std::to_string(first.jobs.size()) + " rows)",
              Seconds(t0), kOpenListTarget);
    }
    // Every job read at once (as the CLI's list does).
    t0 = Clock::now();
    std::unique_ptr<BookStore> book;
    if (!Check(OpenBook(path, {}, book), "opening the book")) return 1;
    std::vector<book::Job> all;
    if (!Check(book->ListJobs({}, all), "listing")) return 1;
    Print("open the book and list its " + std::to_string(all.size()) + " jobs", Seconds(t0), kOpenListTarget);

    struct Query {
        const char* what;
        JobFilter filter;
    };
    std::vector<Query> queries(6);
    queries[0].what = "filter: one customer";
    queries[0].filter.customer = CustomerName(customers / 2);
    queries[1].what = "filter: a week, measured";
    queries[1].filter.from = "2026-06-01";
    queries[1].filter.to = "2026-06-07";
    queries[1].filter.status = JobStatus::kMeasured;
    queries[2].what = "filter: free text in label, file, village, notes";
    queries[2].filter.text = "F4242";
    queries[3].what = "filter: work type ploughing (none)";
    queries[3].filter.work = WorkType::kPloughing;
    queries[4].what = "sort: by area, largest first, first 1000";
    queries[4].filter.sort = JobFilter::Sort::kArea;
    queries[4].filter.descending = true;
    queries[4].filter.limit = 1000;
    queries[5].what = "sort: by date, newest first, first 1000";
    queries[5].filter.sort = JobFilter::Sort::kDate;
    queries[5].filter.descending = true;
    queries[5].filter.limit = 1000;
    for (const Query& q : queries) {
        std::vector<book::Job> out;
        t0 = Clock::now();
        if (!Check(book->ListJobs(q.filter, out), q.what)) return 1;
        Print(std::string(q.what) + " (" + std::to_string(out.size()) + ")", Seconds(t0), kFilterTarget);
    }

    // 1 000 area files from the computer, as `book add DIR` takes them.
    const std::string billed = "Bill customer";
    {
        book::Customer cu;
        cu.name = billed;
        CustomerId id = 0;
        if (!Check(book->AddCustomer(cu, id), "adding the bill's customer")) return 1;
    }
    for (std::size_t i = 0; i < kAddedFiles; ++i) {
        AreaFile a = testing::SquareField(80.0f + 0.002f * static_cast<float>(i % 100),
                                          20.0f + 0.002f * static_cast<float>(i / 100), 0.001f,
                                          static_cast<std::int32_t>(kSeasonStart + 86400 * 200));
        testing::WriteText(dir / "files" / ("A" + std::to_string(i) + ".txt"), WriteArea(a));
    }
    t0 = Clock::now();
    std::vector<SourceProblem> problems;
    const std::vector<fs::path> inputs = {dir / "files"};
    const auto files = CollectSources(inputs, false, problems);
    std::vector<Measurement> ms;
    for (const auto& f : files) {
        Measurement m;
        if (ReadMeasurement(f, m).ok()) ms.push_back(std::move(m));
    }
    JobTerms terms;
    terms.customer = billed;
    terms.priceFen = 8000;
    std::vector<AddOutcome> outcomes;
    if (!Check(book->AddJobs(ms, terms, outcomes), "adding the files")) return 1;
    std::size_t added = 0;
    for (const auto& o : outcomes) added += o.added ? 1 : 0;
    Print("add " + std::to_string(files.size()) + " area files (" + std::to_string(added) + " new)", Seconds(t0),
          kAddTarget);

    // A bill of 200 of them, and its PDF without map pages.
    t0 = Clock::now();
    BillRequest r;
    r.customer = billed;
    r.date = "2026-10-20";
    for (std::size_t i = 0; i < kBilledJobs && i < outcomes.size(); ++i) r.jobs.push_back(outcomes[i].id);
    Bill bill;
    if (!Check(book->IssueBill(r, bill), "issuing the bill")) return 1;
    BillPrint print;
    if (!Check(LoadBillPrint(*book, bill.number, {}, print), "reading the bill")) return 1;
#ifdef DORVANE_HAVE_PDF
    const auto pdf = report::WriteBillPdf(print, {}, dir / "bill.pdf", true);
    if (!pdf.ok()) {
        std::fprintf(stderr, "bench_book: the PDF: %s\n", pdf.message.c_str());
        status = 1;
    }
    Print("bill of " + std::to_string(print.lines.size()) + " jobs with its PDF (" +
              std::to_string(fs::exists(dir / "bill.pdf") ? fs::file_size(dir / "bill.pdf") / 1024 : 0) + " KB)",
          Seconds(t0), kBillTarget);
#else
    Print("bill of " + std::to_string(print.lines.size()) + " jobs (no PDF: built without Qt Gui)", Seconds(t0),
          kBillTarget);
#endif

    t0 = Clock::now();
    SeasonFigures season;
    if (!Check(book->Season({}, season), "the season figures")) return 1;
    Print("season figures of " + std::to_string(season.customers.size()) + " customers (" +
              FormatQuantity(season.overall.areaMuE4) + " mu)",
          Seconds(t0), kSeasonTarget);

    // The book's overlaps among a village's worth of fields (the first ones).
    JobFilter village;
    village.limit = kOverlapJobs;
    std::vector<JobOverlap> pairs;
    t0 = Clock::now();
    if (!Check(FindJobOverlaps(*book, village, pairs), "the overlaps")) return 1;
    Print("overlaps among " + std::to_string(kOverlapJobs) + " jobs (" + std::to_string(pairs.size()) + " pairs)",
          Seconds(t0), kOverlapTarget);

    book.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("%s\n", missed ? "some targets MISSED" : "every target met");
    return status;
}
