// The season book's library: money rules, identity, bills, payments, the
// schema version, and the file as GDAL's own tools read it.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "book/gpkg_store.h"
#include "book/job_source.h"
#include "book/money.h"
#include "book/sha256.h"
#include "book_fixture.h"
#include "common/run_command.h"
#include "convert/kml_writer.h"
#include "convert/area_measure.h"
#include "convert/download.h"

namespace dorvane::book {
namespace {

namespace fs = std::filesystem;
using dorvane::testing::SquareField;
using dorvane::testing::TempFolder;
using dorvane::testing::WriteText;

TEST(BookMoney, QuantitiesAndAmountsFollowTheRoundingRules) {
    struct Case {
        double value;
        BillingUnit unit;
        std::int64_t quantityE4;
        Fen price;
        Fen amount;
    };
    const Case cases[] = {
        {10000.0 / 15.0, BillingUnit::kMu, 10000, 8000, 8000},     // exactly 1 mu
        {666.67, BillingUnit::kMu, 10000, 8000, 8000},             // 1.000005 mu -> 1.0000
        {666.7, BillingUnit::kMu, 10001, 8000, 8001},              // 1.00005 mu rounds up to 1.0001
        {6666.6666, BillingUnit::kMu, 100000, 12345, 123450},
        {0.1, BillingUnit::kMu, 2, 5000, 1},                       // 0.00015 mu -> 0.0002 (half up); 1 fen
        {0.0, BillingUnit::kMu, 0, 8000, 0},
        {15000.0, BillingUnit::kHectare, 15000, 100000, 150000},
        {12345.0, BillingUnit::kKilometre, 123450, 3000, 37035},
        {250.0, BillingUnit::kMu, 3750, 3, 1},                     // 0.375 x 3 = 1.125 fen -> 1
        {500.0, BillingUnit::kMu, 7500, 2, 2},                     // 0.75 x 2 = 1.5 fen -> 2 (half up)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const auto q = QuantityE4(c.value, c.unit);
        ASSERT_TRUE(q);
        EXPECT_EQ(*q, c.quantityE4);
        EXPECT_EQ(AmountFen(*q, c.price), c.amount);
    }
    EXPECT_FALSE(QuantityE4(-1, BillingUnit::kMu));
    EXPECT_FALSE(QuantityE4(std::nan(""), BillingUnit::kMu));
    EXPECT_FALSE(AmountFen(INT64_MAX / 2, 1000));
}

TEST(BookMoney, MoneyTextsAndBillNumbers) {
    const std::pair<const char*, std::optional<Fen>> texts[] = {
        {"80", 8000}, {"80.5", 8050}, {"80.05", 8005}, {"0.01", 1}, {"80.505", std::nullopt},
        {"-1", std::nullopt}, {"1,200", std::nullopt}, {"", std::nullopt}, {".5", std::nullopt}, {"5.", std::nullopt}};
    for (const auto& [text, fen] : texts) EXPECT_EQ(ParseMoney(text), fen) << text;
    EXPECT_EQ(FormatMoney(130006), "1300.06");
    EXPECT_EQ(FormatMoney(-305), "-3.05");
    EXPECT_EQ(FormatQuantity(160435), "16.0435");
    EXPECT_EQ(BillNumber(2026, 1), "2026-0001");
    EXPECT_EQ(ParseBillNumber("2026-0042"), (std::pair{2026, 42}));
    EXPECT_FALSE(ParseBillNumber("2026-0000"));
    EXPECT_FALSE(ParseBillNumber("26-1"));
}

TEST(BookMoney, PaymentsReachTheOldestBillsFirst) {
    const Owing owing[] = {{0, 1000}, {1, 0}, {2, 2500}, {3, 400}};
    struct Case {
        Fen amount;
        std::vector<std::pair<std::size_t, Fen>> applied;
    };
    const Case cases[] = {{300, {{0, 300}}}, {1000, {{0, 1000}}}, {1200, {{0, 1000}, {2, 200}}},
                          {3900, {{0, 1000}, {2, 2500}, {3, 400}}}};
    for (const Case& c : cases) EXPECT_EQ(AllocatePayment(owing, c.amount), c.applied) << c.amount;
    EXPECT_FALSE(AllocatePayment(owing, 3901));
    EXPECT_FALSE(AllocatePayment(owing, 0));
}

TEST(BookIdentity, Sha256KnownDigests) {
    auto hex = [](std::string_view s) {
        return Sha256Hex({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
    };
    // FIPS 180-4 example messages, and one million 'a' (two blocks of padding,
    // many blocks of data).
    struct Case {
        std::string message;
        std::string digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) EXPECT_EQ(hex(c.message), c.digest) << c.message.size();
}

TEST(BookSchema, NewerBooksAreRefusedUnchangedOlderOnesUpgradedAfterACopy) {
    TempFolder dir;
    const fs::path path = dir / "book.gpkg";
    std::unique_ptr<BookStore> book;
    GpkgOptions old;
    old.createAtVersion = 1;
    ASSERT_TRUE(OpenGpkgBook(path, old, book).ok());  // creates at 1, upgrades to the current version
    EXPECT_TRUE(fs::exists(path.string() + ".v1.bak.gpkg"));
    book.reset();
    ASSERT_EQ(test::RunCommand("sqlite3 " + path.string() +
                               " \"UPDATE dorvane_book SET value = '99' WHERE name = 'schema_version'\"")
                  .status,
              0);
    const auto before = test::RunCommand("sha256sum < " + path.string()).out;
    const BookStatus st = OpenGpkgBook(path, {}, book);
    EXPECT_EQ(st.error, BookError::kNewerBook);
    EXPECT_NE(st.message.find(path.string()), std::string::npos);
    EXPECT_EQ(test::RunCommand("sha256sum < " + path.string()).out, before);
    struct Case {
        const char* name;
        std::string content;
        BookError error;
    };
    const Case cases[] = {{"text.gpkg", "not a database at all, just some text", BookError::kNotABook},
                          {"empty.gpkg", "", BookError::kNotABook}};
    for (const Case& c : cases) {
        WriteText(dir / c.name, c.content);
        EXPECT_EQ(OpenGpkgBook(dir / c.name, {}, book).error, c.error) << c.name;
        EXPECT_EQ(fs::file_size(dir / c.name), c.content.size());
    }
    EXPECT_EQ(OpenGpkgBook(dir / "missing" / "book.gpkg", {}, book).error, BookError::kCannotOpen);
}

}  // namespace
}  // namespace dorvane::book
