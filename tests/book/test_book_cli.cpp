// dorvane-cli book with several programs on one book: two adding and paying
// at once, and a kill in the middle of an add; a file of many fields, and
// fields that overlap.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <map>
#include <random>
#include <thread>

#include "book/gpkg_store.h"
#include "book_fixture.h"
#include "common/run_command.h"

namespace dorvane::book {
namespace {

namespace fs = std::filesystem;
using dorvane::testing::SquareField;
using dorvane::testing::TempFolder;
using dorvane::testing::WriteText;

const std::string kCli = std::string(DORVANE_BINARY_DIR) + "/bin/dorvane-cli -Code_Eng book --book ";

void WriteFields(const fs::path& folder, int count, float lon0) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i)
        WriteText(folder / ("F" + std::to_string(i) + ".txt"),
                  WriteArea(SquareField(lon0 + 0.01f * static_cast<float>(i), 30.0f, 0.001f)));
}

std::string Sql(const fs::path& book, const std::string& sql) {
    return test::RunCommand("sqlite3 " + book.string() + " \"" + sql + "\"").out;
}

TEST(BookCli, TwoProgramsAddingAndPayingAtOnceLoseNothing) {
    TempFolder dir;
    const fs::path book = dir / "book.gpkg";
    const std::string cli = kCli + book.string() + " ";
    ASSERT_EQ(test::RunCommand(cli + "customer add Wang --price-harvesting 80").status, 0);
    WriteFields(dir / "a", 30, 100.0f);
    WriteFields(dir / "b", 30, 110.0f);
    ASSERT_EQ(test::RunCommand(cli + "add " + (dir / "a").string() + " --customer Wang").status, 0);
    const auto bill = test::RunCommand(cli + "bill Wang --date 2026-05-01");
    ASSERT_EQ(bill.status, 0) << bill.out;
    EXPECT_EQ(bill.out, "2026-0001\n");
    int paid = 0, added = 0;
    std::thread payer([&] {
        for (int i = 0; i < 10; ++i) paid += test::RunCommand(cli + "pay Wang 1 --date 2026-05-02 2>&1").status == 0;
    });
    std::thread adder([&] {
        for (int i = 0; i < 3; ++i) added += test::RunCommand(cli + "add " + (dir / "b").string() + " 2>&1").status == 0;
    });
    payer.join();
    adder.join();
    EXPECT_EQ(paid, 10);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(Sql(book, "SELECT COUNT(*) FROM payments"), "10\n");
    EXPECT_EQ(Sql(book, "SELECT SUM(amount_fen) FROM payment_allocations"), "1000\n");
    EXPECT_EQ(Sql(book, "SELECT (SELECT COUNT(*) FROM fields) + (SELECT COUNT(*) FROM lines)"), "60\n");
    const auto season = test::RunCommand(cli + "season --json");
    EXPECT_NE(season.out.find("\"paid_fen\": 1000"), std::string::npos) << season.out;
}

// An add of 200 files killed at fifty moments (seeded, from before the
// command opens the book to after it ends): each time the book passes
// SQLite's integrity check and holds either none of the 200 jobs or all of
// them. Each round starts again from the same book without jobs.
TEST(BookCli, AKillDuringAnAddLeavesTheWholeChangeOrNone) {
    TempFolder dir;
    const fs::path book = dir / "book.gpkg";
    const fs::path empty = dir / "empty.gpkg";
    constexpr int kFiles = 200;
    WriteFields(dir / "in", kFiles, 80.0f);
    ASSERT_EQ(test::RunCommand(kCli + empty.string() + " customer add Li").status, 0);
    const std::string count = "SELECT (SELECT COUNT(*) FROM fields) + (SELECT COUNT(*) FROM lines)";
    // One whole add first, timed: the kills fall from 0 to 1.5 times its length.
    fs::copy_file(empty, book);
    const auto start = std::chrono::steady_clock::now();
    const auto whole = test::RunCommand(kCli + book.string() + " add " + (dir / "in").string() + " 2>&1");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(whole.status, 0) << whole.out;
    ASSERT_EQ(Sql(book, count), std::to_string(kFiles) + "\n");
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayMs(0, static_cast<int>(took.count() * 3 / 2) + 1);
    int whole_ = 0, none = 0;
    for (int round = 0; round < 50; ++round) {
        const int delay = delayMs(random);
        SCOPED_TRACE(::testing::Message() << "round " << round << ", killed after " << delay << " ms");
        // The book is in WAL mode: its -wal and -shm go with it, or the old
        // log would be replayed into the fresh copy.
        for (const char* side : {"-wal", "-shm"}) fs::remove(book.string() + side);
        fs::copy_file(empty, book, fs::copy_options::overwrite_existing);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string program = std::string(DORVANE_BINARY_DIR) + "/bin/dorvane-cli";
            const std::string in = (dir / "in").string();
            const int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, 1);
            ::dup2(devNull, 2);
            ::execl(program.c_str(), "dorvane-cli", "book", "--book", book.c_str(), "add", in.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
        ASSERT_EQ(Sql(book, "PRAGMA integrity_check"), "ok\n");
        const std::string n = Sql(book, count);
        if (n == "0\n") {
            ++none;
        } else {
            ASSERT_EQ(n, std::to_string(kFiles) + "\n");
            ++whole_;
        }
        // What was there before the add is there after any kill.
        EXPECT_EQ(Sql(book, "SELECT COUNT(*) FROM customers"), "1\n");
    }
    std::printf("%d adds went through, %d kills left none\n", whole_, none);
    EXPECT_GT(none, 0);
    EXPECT_GT(whole_, 0);
    // The book opens and takes the files as usual afterwards.
    const auto again = test::RunCommand(kCli + book.string() + " add " + (dir / "in").string() + " 2>&1");
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(Sql(book, count), std::to_string(kFiles) + "\n");
}

// A bill killed at fifty moments (seeded, from before the command reads the
// book to after it ends): each time the book passes SQLite's integrity check
// and holds either no new bill or the whole bill, every one of its 200 lines
// and every job marked with it; the numbers stay in sequence without a gap.
// A bill that was issued is voided for the next round, so each round bills
// the same 200 jobs again.
TEST(BookCli, AKillDuringABillLeavesTheWholeBillOrNone) {
    TempFolder dir;
    const fs::path book = dir / "book.gpkg";
    const std::string cli = kCli + book.string() + " ";
    constexpr int kJobs = 200;
    WriteFields(dir / "in", kJobs, 90.0f);
    ASSERT_EQ(test::RunCommand(cli + "customer add Li --price-surveying 100").status, 0);
    ASSERT_EQ(test::RunCommand(cli + "add " + (dir / "in").string() + " --customer Li --work surveying").status, 0);
    // One whole bill first, timed: the kills fall from 0 to 1.5 times its length.
    const auto start = std::chrono::steady_clock::now();
    const auto first = test::RunCommand(cli + "bill Li --date 2026-06-01 2>&1");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(first.status, 0) << first.out;
    ASSERT_EQ(first.out, "2026-0001\n");
    ASSERT_EQ(test::RunCommand(cli + "void 2026-0001 --date 2026-06-01 2>&1").status, 0);
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> delayMs(0, static_cast<int>(took.count() * 3 / 2) + 1);
    int issued = 1;  // bills that went through, each voided after
    int landed = 0;  // kills that left no bill: the change was cut off
    for (int round = 0; round < 50; ++round) {
        const int delay = delayMs(random);
        SCOPED_TRACE(::testing::Message() << "round " << round << ", killed after " << delay << " ms");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string program = std::string(DORVANE_BINARY_DIR) + "/bin/dorvane-cli";
            const int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, 1);
            ::dup2(devNull, 2);
            ::execl(program.c_str(), "dorvane-cli", "book", "--book", book.c_str(), "bill", "Li", "--date",
                    "2026-06-01", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
        ASSERT_EQ(Sql(book, "PRAGMA integrity_check"), "ok\n");
        const std::string live = Sql(book, "SELECT COUNT(*) FROM invoices WHERE status != 'void'");
        const std::string all = Sql(book, "SELECT COUNT(*) FROM invoices");
        // Numbers 2026-0001 ... in sequence: as many distinct seqs as bills, the highest their count.
        EXPECT_EQ(Sql(book, "SELECT COUNT(DISTINCT seq) = COUNT(*) AND COALESCE(MAX(seq), 0) = COUNT(*) FROM invoices"),
                  "1\n");
        if (live == "0\n") {
            ++landed;
            EXPECT_EQ(all, std::to_string(issued) + "\n");
            EXPECT_EQ(Sql(book, "SELECT (SELECT COUNT(*) FROM fields WHERE bill_id IS NOT NULL) + "
                                "(SELECT COUNT(*) FROM lines WHERE bill_id IS NOT NULL)"),
                      "0\n");
            continue;
        }
        ASSERT_EQ(live, "1\n");
        ++issued;
        EXPECT_EQ(all, std::to_string(issued) + "\n");
        const std::string number = Sql(book, "SELECT number FROM invoices WHERE status != 'void'");
        EXPECT_EQ(Sql(book, "SELECT COUNT(*) FROM invoice_lines WHERE invoice_id = "
                            "(SELECT fid FROM invoices WHERE status != 'void')"),
                  std::to_string(kJobs) + "\n");
        EXPECT_EQ(Sql(book, "SELECT COUNT(*) FROM fields WHERE bill_id = (SELECT fid FROM invoices WHERE status != 'void')"),
                  std::to_string(kJobs) + "\n");
        EXPECT_EQ(Sql(book, "SELECT total_fen = (SELECT SUM(amount_fen) FROM invoice_lines WHERE invoice_id = "
                            "invoices.fid) FROM invoices WHERE status != 'void'"),
                  "1\n");
        // Void it (the number stays) so the next round bills the jobs again.
        const std::string trimmed = number.substr(0, number.find('\n'));
        ASSERT_EQ(test::RunCommand(cli + "void " + trimmed + " --date 2026-06-01 2>&1").status, 0);
    }
    std::printf("%d bills went through, %d kills left none\n", issued, landed);
    // Both kinds of moment were met: some kills cut a bill off, some came after it.
    EXPECT_GT(landed, 0);
    EXPECT_GT(issued, 0);
}

// The reported loss: three handheld area files with the same points were one
// job. Each is its own; void-job then takes one out of the season.
TEST(BookCli, HandheldAreaFilesAreJobsOfTheirOwnAndAJobIsVoided) {
    TempFolder dir;
    const std::string cli = kCli + (dir / "book.gpkg").string() + " ";
    const std::string data = std::string(DORVANE_SOURCE_DIR) + "/sim/samples/data/";
    const auto add = test::RunCommand(cli + "add " + data + "A0602_vertex.txt " + data + "A0604_flag1.txt " + data +
                                      "A0601_track.txt 2>&1");
    EXPECT_EQ(add.status, 0) << add.out;
    EXPECT_NE(add.out.find("3 added, 0 already in the book, 0 not read"), std::string::npos) << add.out;
    struct Case {
        std::string args;
        int status;
        const char* says;
    };
    const Case cases[] = {{"void-job", 2, "usage"},
                          {"void-job x", 2, "usage"},
                          {"void-job 9", 1, "no job 9"},
                          {"void-job 2", 0, "1 jobs are void"},
                          {"void-job 2 3", 1, "Job 2 is void already"},
                          {"list --status void --csv -", 0, "A0604"},
                          {"season --json", 0, "\"jobs\": 2"}};
    for (const Case& c : cases) {
        const auto r = test::RunCommand(cli + c.args + " 2>&1");
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    }
}

// A backup while another program is in the middle of a change: the copy
// opens, holds every committed job and none of the unfinished change.
TEST(BookCli, ABackupIsWholeWhileAnotherProgramWrites) {
    TempFolder dir;
    const fs::path book = dir / "book.gpkg";
    const std::string cli = kCli + book.string() + " ";
    WriteFields(dir / "a", 12, 100.0f);
    ASSERT_EQ(test::RunCommand(cli + "add " + (dir / "a").string()).status, 0);
    int ready[2], finish[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(finish), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        // The other program: a write transaction left open until told.
        sqlite3* db = nullptr;
        char byte = 1;
        const bool ok = sqlite3_open(book.c_str(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO customers (name, village, phone, notes) "
                                         "VALUES ('Unfinished', '', '', '')",
                                     nullptr, nullptr, nullptr) == SQLITE_OK;
        if (!ok) std::fprintf(stderr, "the other program: %s\n", db ? sqlite3_errmsg(db) : "no connection");
        byte = ok ? 1 : 0;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
        if (::read(finish[0], &byte, 1) != 1) ::_exit(3);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ::_exit(ok ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 1);
    struct Case {
        std::string out;
        int status;
        const char* says;
    };
    const Case cases[] = {{(dir / "copy.gpkg").string(), 0, "backed up to"},
                          {(dir / "copy.gpkg").string(), 1, "exists already"},  // never replaced
                          {(dir / "no" / "copy.gpkg").string(), 1, "cannot be written"}};
    for (const Case& c : cases) {
        const auto r = test::RunCommand(cli + "backup " + c.out + " 2>&1");
        EXPECT_EQ(r.status, c.status) << c.out << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.out << ": " << r.out;
    }
    EXPECT_EQ(test::RunCommand(cli + "backup 2>&1").status, 2);
    byte = 1;
    ASSERT_EQ(::write(finish[1], &byte, 1), 1);
    int status = -1;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (int fd : {ready[0], ready[1], finish[0], finish[1]}) ::close(fd);

    std::unique_ptr<BookStore> copy;
    const BookStatus opened = OpenGpkgBook(dir / "copy.gpkg", {}, copy);
    ASSERT_TRUE(opened.ok()) << opened.message;
    std::vector<Job> jobs;
    ASSERT_TRUE(copy->ListJobs({}, jobs).ok());
    EXPECT_EQ(jobs.size(), 12u);
    std::vector<Customer> customers;
    ASSERT_TRUE(copy->ListCustomers(customers).ok());
    EXPECT_TRUE(customers.empty());
    std::string report;
    ASSERT_TRUE(copy->CheckIntegrity(report).ok());
    EXPECT_EQ(report, "ok");
    EXPECT_FALSE(fs::exists(dir / "no"));
}

// A square of `side` degrees at lon, lat as a GeoJSON feature named `name`.
std::string SquareFeature(const std::string& name, double lon, double lat, double side) {
    char ring[400];
    std::snprintf(ring, sizeof ring, "[[%.7f,%.7f],[%.7f,%.7f],[%.7f,%.7f],[%.7f,%.7f],[%.7f,%.7f]]", lon, lat,
                  lon + side, lat, lon + side, lat + side, lon, lat + side, lon, lat);
    return R"({"type":"Feature","properties":{"name":")" + name +
           R"("},"geometry":{"type":"Polygon","coordinates":[)" + ring + "]}}";
}

// The book's fields that overlap: P2 is P1 walked again 5 % of a side to the
// east (95 % of it shared: measured twice?), Q2 overlaps Q1 by 30 % (two
// neighbours drawn carelessly). A bill that would take both of a measured-
// twice pair, or one whose other is billed already, is refused with the pair
// named, until the user keeps both; the 30 % pair is billed as any fields.
TEST(BookCli, OverlapsAreListedAndAFieldMeasuredTwiceIsBilledOnlyWhenBothAreKept) {
    TempFolder dir;
    const fs::path book = dir / "book.gpkg";
    const std::string cli = kCli + book.string() + " ";
    constexpr double kSide = 0.001;
    WriteText(dir / "village.geojson",
              R"({"type":"FeatureCollection","features":[)" + SquareFeature("P1", 100.0, 30.0, kSide) + "," +
                  SquareFeature("P2", 100.0 + 0.05 * kSide, 30.0, kSide) + "," +
                  SquareFeature("Q1", 100.01, 30.0, kSide) + "," +
                  SquareFeature("Q2", 100.01 + 0.7 * kSide, 30.0, kSide) + "," +
                  SquareFeature("R", 100.02, 30.0, kSide) + "]}");
    ASSERT_EQ(test::RunCommand(cli + "customer add Wang --price-harvesting 80").status, 0);
    const auto add = test::RunCommand(cli + "add " + (dir / "village.geojson").string() + " --customer Wang 2>&1");
    ASSERT_EQ(add.status, 0) << add.out;
    EXPECT_NE(add.out.find("5 added"), std::string::npos) << add.out;

    const auto listed = test::RunCommand(cli + "overlaps --json");
    ASSERT_EQ(listed.status, 0) << listed.out;
    const auto pairs = nlohmann::json::parse(listed.out, nullptr, false);
    ASSERT_TRUE(pairs.is_array()) << listed.out;
    ASSERT_EQ(pairs.size(), 2u) << listed.out;
    struct Pair {
        const char* a;
        const char* b;
        double share;
        bool twice;
    };
    const Pair expected[] = {{"P1", "P2", 0.95, true}, {"Q1", "Q2", 0.30, false}};
    std::map<std::string, std::int64_t> id;
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& o = pairs[i];
        const Pair& e = expected[i];
        SCOPED_TRACE(e.a);
        for (const char* key : {"job_a", "label_a", "job_b", "label_b", "overlap_m2", "overlap_mu",
                                "share_of_smaller", "measured_twice"})
            EXPECT_TRUE(o.contains(key)) << key;
        EXPECT_EQ(o.value("label_a", ""), e.a);
        EXPECT_EQ(o.value("label_b", ""), e.b);
        EXPECT_NEAR(o.value("share_of_smaller", 0.0), e.share, 0.005);
        EXPECT_EQ(o.value("measured_twice", !e.twice), e.twice);
        EXPECT_NEAR(o.value("overlap_mu", 0.0), o.value("overlap_m2", 0.0) * 15.0 / 10000.0, 1e-9);
        id[e.a] = o.value("job_a", std::int64_t{0});
        id[e.b] = o.value("job_b", std::int64_t{0});
    }
    auto jobs = [&](std::initializer_list<const char*> names) {
        std::string s;
        for (const char* n : names) s += (s.empty() ? "" : ",") + std::to_string(id[n]);
        return s;
    };
    struct Bill {
        std::string args;
        int status;
        const char* says;  ///< on standard output or error
    };
    const std::string p1 = "job " + std::to_string(id["P1"]) + " (P1)";
    const std::string p2 = "job " + std::to_string(id["P2"]) + " (P2)";
    const Bill bills[] = {
        // Every unbilled job of Wang: P1 and P2 both.
        {"bill Wang --date 2026-05-01", 1, "measured twice"},
        {"bill Wang --jobs " + jobs({"P1", "P2"}) + " --date 2026-05-01", 1, "--keep-both"},
        {"bill Wang --jobs " + jobs({"Q1", "Q2"}) + " --date 2026-05-01", 0, "2026-0001"},
        {"bill Wang --jobs " + jobs({"P1"}) + " --date 2026-05-01", 0, "2026-0002"},
        // P1 is on a bill now: P2 alone would bill the field twice.
        {"bill Wang --jobs " + jobs({"P2"}) + " --date 2026-05-01", 1, "measured twice"},
        {"bill Wang --jobs " + jobs({"P2"}) + " --date 2026-05-01 --keep-both", 0, "2026-0003"},
    };
    for (const Bill& b : bills) {
        SCOPED_TRACE(b.args);
        const auto r = test::RunCommand(cli + b.args + " 2>&1");
        EXPECT_EQ(r.status, b.status) << r.out;
        EXPECT_NE(r.out.find(b.says), std::string::npos) << r.out;
        if (b.status != 0) {
            EXPECT_NE(r.out.find(p1), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(p2), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(Sql(book, "SELECT COUNT(*) FROM invoices"), "3\n");
    EXPECT_EQ(Sql(book, "SELECT COUNT(*) FROM fields WHERE bill_id IS NOT NULL"), "4\n");
    // The filters of list narrow the pairs: Q1 and Q2 alone overlap each other only.
    const auto narrowed = test::RunCommand(cli + "overlaps --text '› Q' --json");
    const auto q = nlohmann::json::parse(narrowed.out, nullptr, false);
    ASSERT_TRUE(q.is_array()) << narrowed.out;
    EXPECT_EQ(q.size(), 1u) << narrowed.out;
}

TEST(BookCli, BadInputIsRefusedWithUsageOrAClearMessage) {
    TempFolder dir;
    const std::string cli = kCli + (dir / "book.gpkg").string() + " ";
    struct Case {
        std::string args;
        int status;
        const char* says;
    };
    const Case cases[] = {{"add", 2, "usage"},
                          {"add x --price 1.234", 2, "--price"},
                          {"bill Nobody", 1, "no customer named 'Nobody'"},
                          {"pay Nobody 12", 1, "no customer"},
                          {"void 2026-0009", 1, "no bill 2026-0009"},
                          {"list --from 2026-02-30", 2, "--from"}};
    for (const Case& c : cases) {
        const auto r = test::RunCommand(cli + c.args + " 2>&1");
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    }
    WriteText(dir / "not.gpkg", "plain text");
    const auto r = test::RunCommand(kCli + (dir / "not.gpkg").string() + " list 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("not a GeoPackage"), std::string::npos) << r.out;
}

// In Chinese the kind of failure is said in Chinese, the store's detail
// (which names the customer or bill) beside it; in English the detail alone.
TEST(BookCli, AFailureSaysItsKindInTheUsersLanguage) {
    TempFolder dir;
    const std::string book = (dir / "book.gpkg").string();
    const std::string chinese = std::string(DORVANE_BINARY_DIR) + "/bin/dorvane-cli -Code_Chi book --book " + book + " ";
    ASSERT_EQ(test::RunCommand(kCli + book + " customer add Wang 2>&1").status, 0);
    struct Case {
        std::string args;
        const char* kind;    ///< Chinese
        const char* detail;  ///< the store's English
    };
    const Case cases[] = {{"bill Nobody", "账本中没有这一项", "no customer named 'Nobody'"},
                          {"customer add Wang", "同名客户已存在", "Wang"},
                          {"void 2026-0009", "账本中没有这一项", "no bill 2026-0009"}};
    for (const Case& c : cases) {
        const auto zh = test::RunCommand(chinese + c.args + " 2>&1");
        EXPECT_EQ(zh.status, 1) << c.args << ": " << zh.out;
        EXPECT_NE(zh.out.find(c.kind), std::string::npos) << c.args << ": " << zh.out;
        EXPECT_NE(zh.out.find(c.detail), std::string::npos) << c.args << ": " << zh.out;
        const auto en = test::RunCommand(kCli + book + " " + c.args + " 2>&1");
        EXPECT_EQ(en.out.find(c.kind), std::string::npos) << c.args << ": " << en.out;
        EXPECT_NE(en.out.find(c.detail), std::string::npos) << c.args << ": " << en.out;
    }
}

}  // namespace
}  // namespace dorvane::book
