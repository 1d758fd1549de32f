// Downloads from the converting model, stored by the very code a download
// runs (StoreDownload with model 701): the KML under the handheld's own name
// and the received bytes as ".bak" beside it. The pair is one measurement:
// one row, read from the raw bytes, whatever the document's extension.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>

#include "convert/download.h"
#include "convert/temp_folder.h"
#include "convert/track_file.h"
#include "convert/xml_text.h"
#include "geo/figures.h"
#include "i18n/string_table.h"
#include "report/field_samples.h"
#include "report/ledger.h"
#include "report/ledger_table.h"

namespace dorvane::report {
namespace {

namespace fs = std::filesystem;
using testing::SampleField;
using testing::TempFolder;

std::vector<std::uint8_t> AreaBytes(const SampleField& s) {
    const std::string text = WriteArea(testing::SampleArea(s));
    return {text.begin(), text.end()};
}

// Stores `s` as the converting model's download named `deviceName` into `folder`.
void Download(const fs::path& folder, const std::string& deviceName, const SampleField& s) {
    const StoreResult r = StoreDownload(AreaBytes(s), deviceName, folder, kConvertingModelCode);
    ASSERT_TRUE(r.ok()) << r.message;
    ASSERT_EQ(r.conversion, Conversion::kConverted);
}

// The handheld's own figures of `s`, as its raw bytes give them.
geo::HandheldFigures FiguresOf(const SampleField& s) {
    geo::FieldFile f;
    const auto bytes = AreaBytes(s);
    EXPECT_TRUE(geo::ReadFieldBytes(bytes, "x", f).ok());
    return *geo::ComputeFigures(f).handheld;
}

class Converted : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Asia/Shanghai", 1);
        tzset();
        ASSERT_TRUE(LoadLanguageFile(
            fs::path(DORVANE_SOURCE_DIR) / "resources/Language/code_en.ini", Language::English));
    }
    void TearDown() override {
        ResetToDefaults();
        unsetenv("TZ");
        tzset();
    }
    // Unit prices of three decimals: the KML shows "0.08" for 0.075.
    const SampleField a{.name = "A1003", .areaPrice = 0.075f, .lengthPrice = 1.125f};
    const SampleField b{.name = "A1004",
                        .collected = testing::kDay0 + testing::kDaySeconds,
                        .areaPrice = 0.075f,
                        .lengthPrice = 1.125f,
                        .shift = 1};
};

TEST_F(Converted, APairIsOneRowFromTheRawBytesWhateverTheDocumentsExtension) {
    const geo::HandheldFigures fa = FiguresOf(a);
    const geo::HandheldFigures fb = FiguresOf(b);
    struct Case {
        const char* what;
        std::string nameA, nameB;  ///< the names on the handheld
        std::string rowA, rowB;    ///< the rows' file texts
    } cases[] = {
        {"the handheld's .txt names, holding KML", "A1003.txt", "A1004.txt",
         "A1003.txt (A1003.bak)", "A1004.txt (A1004.bak)"},
        {".kml names", "A1003.kml", "A1004.kml", "A1003.kml (A1003.bak)",
         "A1004.kml (A1004.bak)"},
        {"names of several dots", "A1003.f.txt", "A1004.x.y", "A1003.f.txt (A1003.bak)",
         "A1004.x.y (A1004.bak)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        Download(dir.path(), c.nameA, a);
        Download(dir.path(), c.nameB, b);
        ASSERT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
        const Ledger l = BuildLedger({dir.path()}, {});
        ASSERT_EQ(l.rows.size(), 2u);
        EXPECT_EQ(l.skippedDuplicate, 2u);
        EXPECT_EQ(l.skippedNotField, 0u);
        EXPECT_EQ(l.rows[0].fileText, c.rowA);
        EXPECT_EQ(l.rows[1].fileText, c.rowB);
        // The exact unit prices and figures of the raw bytes, the time and the name.
        EXPECT_EQ(l.rows[0].areaUnitPrice, 0.075f);
        EXPECT_EQ(l.rows[0].lengthUnitPrice, 1.125f);
        EXPECT_EQ(l.rows[0].collectionTime, std::optional<std::int64_t>(a.collected));
        EXPECT_EQ(l.rows[0].name, "A1003");
        EXPECT_EQ(l.totals.fields, 2u);
        EXPECT_DOUBLE_EQ(l.totals.handheldArea_m2, fa.measure.area + fb.measure.area);
        EXPECT_DOUBLE_EQ(l.totals.areaTotal, fa.shown.areaTotal + fb.shown.areaTotal);
        EXPECT_DOUBLE_EQ(l.totals.lengthTotal, fa.shown.lengthTotal + fb.shown.lengthTotal);
        EXPECT_EQ(CellOf(l.rows[0], LedgerColumn::kAreaUnitPrice).text, "0.075 per m2");
    }
}

TEST_F(Converted, NamesTheUniqueRuleTookApartAndDownloadsTwice) {
    // A plain download of A1003.txt was already there: the converted one is
    // A1003(1).txt beside A1003.bak. Then the same field is downloaded once
    // more: A1003(2).txt beside A1003(1).bak, the same bytes.
    TempFolder dir;
    const auto raw = AreaBytes(a);
    ASSERT_TRUE(StoreDownload(raw, "A1003.txt", dir.path(), 0).ok());
    Download(dir.path(), "A1003.txt", a);
    Download(dir.path(), "A1003.txt", a);
    Download(dir.path(), "A1004.txt", b);
    const Ledger l = BuildLedger({dir.path()}, {});
    std::map<std::string, std::string> rows;  // file text -> same as
    for (const auto& r : l.rows) rows[r.fileText] = r.sameAs;
    // A1003(1).txt takes the copy of its own name (the same bytes as A1003.bak).
    const std::map<std::string, std::string> want = {
        {"A1003(1).txt (A1003(1).bak)", "A1003.txt"},
        {"A1003(2).txt (A1003.bak)", "A1003.txt"},
        {"A1003.txt", ""},
        {"A1004.txt (A1004.bak)", ""}};
    EXPECT_EQ(rows, want);
    EXPECT_EQ(l.totals.fields, 2u);
    const geo::HandheldFigures fa = FiguresOf(a);
    const geo::HandheldFigures fb = FiguresOf(b);
    EXPECT_DOUBLE_EQ(l.totals.handheldArea_m2, fa.measure.area + fb.measure.area);
}

TEST_F(Converted, NamedDocumentTakesItsRawCopyAndBothNamedAreOneRow) {
    TempFolder dir;
    Download(dir.path(), "A1003.txt", a);
    const geo::HandheldFigures fa = FiguresOf(a);
    const struct {
        const char* what;
        std::vector<fs::path> named;
    } cases[] = {
        {"the document alone", {dir / "A1003.txt"}},
        {"the document and its raw copy", {dir / "A1003.txt", dir / "A1003.bak"}},
        {"the raw copy first", {dir / "A1003.bak", dir / "A1003.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Ledger l = BuildLedger(c.named, {});
        ASSERT_EQ(l.rows.size(), 1u);
        EXPECT_EQ(l.rows[0].fileText, "A1003.txt (A1003.bak)");
        EXPECT_DOUBLE_EQ(l.totals.areaTotal, fa.shown.areaTotal);
        EXPECT_EQ(l.rows[0].areaUnitPrice, 0.075f);
    }
    // Without its raw copy the KML's own totals stand, never one recomputed
    // from its rounded "0.08", and its collection time is read.
    fs::remove(dir / "A1003.bak");
    const Ledger alone = BuildLedger({dir / "A1003.txt"}, {});
    ASSERT_EQ(alone.rows.size(), 1u);
    const LedgerRow& r = alone.rows[0];
    EXPECT_EQ(r.fileText, "A1003.txt");
    EXPECT_EQ(r.name, "A1003");
    EXPECT_NEAR(r.handheld.shown.areaTotal, fa.shown.areaTotal, 0.05);
    EXPECT_NEAR(r.handheld.measure.area, fa.measure.area, 0.001);
    EXPECT_EQ(r.collectionTime, std::optional<std::int64_t>(a.collected));
    EXPECT_EQ(CellOf(r, LedgerColumn::kCollected).text, "2024-05-01 08:00");
}

TEST_F(Converted, DateFilterCountsConvertedFields) {
    TempFolder dir;
    Download(dir.path(), "A1003.txt", a);
    Download(dir.path(), "A1004.txt", b);
    fs::remove(dir / "A1004.bak");  // a KML alone still has its date
    struct {
        const char* from;
        const char* to;
        std::vector<std::string> rows;
    } cases[] = {
        {"2024-05-01", "2024-05-01", {"A1003.txt (A1003.bak)"}},
        {"2024-05-02", "2024-05-02", {"A1004.txt"}},
        {"2024-05-01", "2024-05-02", {"A1003.txt (A1003.bak)", "A1004.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        std::string bad;
        LedgerOptions o;
        o.range = *RangeOfDays(std::string(c.from), std::string(c.to), bad);
        const Ledger l = BuildLedger({dir.path()}, o);
        std::vector<std::string> rows;
        for (const auto& r : l.rows) rows.push_back(r.fileText);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(l.skippedOutOfRange, 2u - c.rows.size());
    }
}

TEST_F(Converted, TrackPairsAreNoFieldsAndCountedOnce) {
    TempFolder dir;
    const std::vector<TrackPoint> points = {{39.75, 116.25, 40, testing::kDay0, 0, 0},
                                            {39.751, 116.251, 40, testing::kDay0 + 60, 0, 0}};
    const std::vector<std::uint8_t> track = WriteTrack("T", points);
    ASSERT_TRUE(StoreDownload(track, "T0601.gpx", dir.path(), kConvertingModelCode).ok());
    Download(dir.path(), "A1003.txt", a);
    const Ledger l = BuildLedger({dir.path()}, {});
    ASSERT_EQ(l.rows.size(), 1u);
    EXPECT_EQ(l.skippedNotField, 1u);
    EXPECT_EQ(l.skippedDuplicate, 2u);
}

TEST_F(Converted, PricesAndTotalsSayTheUnitTheyApplyTo) {
    // 1 000 828 m² at 0.09 bills 0.1 (per km²) beside 89 883.5 for 998 705 m²
    // (per m²): each price and total says which.
    struct {
        SampleField field;
        const char* lengthPrice;
        const char* lengthTotalUnit;
        const char* areaPrice;
    } cases[] = {
        {SampleField{.name = "S", .areaPrice = 0.09f, .lengthPrice = 2.0f}, "2.00 per m",
         " (at 2.00 per m)", "0.09 per m2"},
        {SampleField{.name = "L",
                     .areaPrice = 0.09f,
                     .lengthPrice = 2.0f,
                     .dLon = 1.0 / 64,
                     .dLat = 1.0 / 128},
         "2.00 per km", " (at 2.00 per km)", "0.09 per km2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field.name);
        TempFolder dir;
        testing::WriteSample(dir / "F.txt", c.field);
        const Ledger l = BuildLedger({dir.path()}, {});
        ASSERT_EQ(l.rows.size(), 1u);
        const LedgerRow& r = l.rows[0];
        EXPECT_EQ(CellOf(r, LedgerColumn::kLengthUnitPrice).text, c.lengthPrice);
        EXPECT_EQ(CellOf(r, LedgerColumn::kAreaUnitPrice).text, c.areaPrice);
        const std::string total = CellOf(r, LedgerColumn::kLengthTotal).text;
        EXPECT_TRUE(total.ends_with(c.lengthTotalUnit)) << total;
        EXPECT_EQ(CellOf(r, LedgerColumn::kAreaTotal).text,
                  FixedText(r.handheld.shown.areaTotal, 1) + " (at " + c.areaPrice + ")");
        // Sorting still goes by the number.
        EXPECT_EQ(CellOf(r, LedgerColumn::kAreaTotal).number, r.handheld.shown.areaTotal);
    }
}

}  // namespace
}  // namespace dorvane::report
