// The ledger of a folder of generated fields against figures worked out here
// (the handheld's sphere and shoelace by hand, WGS84 through GeographicLib's
// own PolygonArea), the date filter, and the CSV read back by Python's csv.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/run_command.h"
#include "convert/kml_writer.h"
#include "convert/temp_folder.h"
#include "convert/track_file.h"
#include "i18n/string_table.h"
#include "report/field_samples.h"
#include "report/ledger.h"
#include "report/ledger_table.h"

namespace dorvane::report {
namespace {

namespace fs = std::filesystem;
using testing::SampleField;
using testing::TempFolder;

// The handheld's sphere: 3437.74677078 nautical miles of 1852 m per radian.
constexpr double kSphereRadius = 3437.74677078 * 1852.0;
constexpr double kDegree = 3.14159265358979323846 / 180;

double Haversine(double lon1, double lat1, double lon2, double lat2) {
    const double dphi = (lat2 - lat1) * kDegree, dl = (lon2 - lon1) * kDegree;
    const double a =
        std::sin(dphi / 2) * std::sin(dphi / 2) +
        std::cos(lat1 * kDegree) * std::cos(lat2 * kDegree) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2 * kSphereRadius * std::asin(std::sqrt(a));
}

struct Expected {
    double length = 0, area = 0, wgsLength = 0, wgsArea = 0;
    double lengthQ = 0, areaQ = 0, lengthTotal = 0, areaTotal = 0;
};

Expected Work(const SampleField& s) {
    const auto pts = testing::SamplePoints(s);
    Expected e;
    const bool harvest = s.method == AreaMethod::kHarvesting;
    const std::size_t legs = harvest ? pts.size() - 1 : pts.size();
    GeographicLib::PolygonArea poly(GeographicLib::Geodesic::WGS84(), harvest);
    for (std::size_t i = 0; i < legs; ++i) {
        const auto& a = pts[i];
        const auto& b = pts[(i + 1) % pts.size()];
        e.length += Haversine(a.longitude, a.latitude, b.longitude, b.latitude);
    }
    for (const auto& p : pts) poly.AddPoint(p.latitude, p.longitude);
    double perim = 0, area = 0;
    poly.Compute(false, true, perim, area);
    e.wgsLength = perim;
    if (harvest) {
        e.area = s.work ? s.width * e.length : 0;
        e.wgsArea = s.work ? s.width * perim : 0;
    } else {
        // Shoelace over a lon/lat rectangle is dLon x dLat square degrees.
        const double arcSecond = 30.9220807759;
        e.area = std::abs(s.dLon * s.dLat * std::cos(testing::kLat0 * kDegree) * arcSecond *
                          arcSecond * 3600 * 3600);
        e.wgsArea = std::abs(area);
    }
    e.lengthQ = e.length > 1000 ? e.length / 1000 : e.length;
    e.areaQ = e.area > 1e6 ? e.area / 1e6 : e.area;
    e.lengthTotal = double(s.lengthPrice) * e.lengthQ;
    e.areaTotal = double(s.areaPrice) * e.areaQ;
    return e;
}

// Every file of the folder, with what the ledger must make of it.
struct Case {
    std::string file;  ///< on-disk name (GBK bytes for the GBK case)
    SampleField field;
    std::string shownFile;  ///< UTF-8 as the ledger shows it
};

class LedgerFolder : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        SampleField v{.name = "V1", .method = AreaMethod::kVertex};
        SampleField t{.name = "T1",
                      .method = AreaMethod::kTrack,
                      .work = true,
                      .collected = testing::kDay0 + testing::kDaySeconds,
                      .dLon = 1.0 / 128,
                      .dLat = 1.0 / 256,
                      .shift = 0.5};
        SampleField h{.name = "H1",
                      .method = AreaMethod::kHarvesting,
                      .work = true,
                      .collected = testing::kDay0 + 2 * testing::kDaySeconds,
                      .shift = 1};
        SampleField h0{
            .name = "H0", .method = AreaMethod::kHarvesting, .work = false, .shift = 1.5};
        SampleField g{
            .name = "\xB5\xD8\xBF\xE9\xD2\xBB", .method = AreaMethod::kVertex, .shift = 2};
        SampleField q{
            .name = "a,\"b\"", .method = AreaMethod::kVertex, .areaPrice = 0.25f, .shift = 2.5};
        cases = {{"V1.txt", v, "V1.txt"},
                 {"T1.txt", t, "T1.txt"},
                 {"H1.txt", h, "H1.txt"},
                 {"H0.txt", h0, "H0.txt"},
                 {"\xB5\xD8\xBF\xE9\xD2\xBB.txt", g, "地块一.txt"},
                 {"quote.txt", q, "quote.txt"}};
        for (const auto& c : cases) testing::WriteSample(dir.path() / c.file, c.field);
        // A damaged header: one Base64 character of the first line changed.
        std::string bad = WriteArea(testing::SampleArea(v));
        bad[5] = bad[5] == 'A' ? 'B' : 'A';
        dir.Put("damaged.txt", bad);
        // Not fields: other bytes, a track.
        dir.Put("notes.bin", "hello");
        const auto track = WriteTrack("t", {});
        dir.Put("T0601.gpx", std::string(track.begin(), track.end()));
        // A download from the converting model: KML plus its .bak copy.
        const AreaFile kmlArea = testing::SampleArea(SampleField{.name = "K1", .shift = 3});
        dir.Put("K1.kml", KmlDocument(kmlArea, "K1", MeasureArea(kmlArea)));
        dir.Put("K1.bak", WriteArea(kmlArea));
        fs::create_directories(dir.path() / "sub");
        testing::WriteSample(dir.path() / "sub" / "S1.txt", SampleField{.name = "S1", .shift = 4});
    }

    const LedgerRow* Row(const Ledger& l, const std::string& shown) {
        for (const auto& r : l.rows)
            if (r.fileText == shown) return &r;
        return nullptr;
    }

    TempFolder dir;
    std::vector<Case> cases;
};

TEST_F(LedgerFolder, EveryFieldAgainstFiguresWorkedOutHere) {
    const Ledger l = BuildLedger({dir.path()}, {});
    // 6 samples + damaged + K1.kml; the .bak, the .bin and the track left out.
    ASSERT_EQ(l.rows.size(), 8u);
    EXPECT_EQ(l.skippedDuplicate, 1u);
    EXPECT_EQ(l.skippedNotField, 2u);
    Expected sum;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shownFile);
        const LedgerRow* r = Row(l, c.shownFile);
        ASSERT_NE(r, nullptr);
        ASSERT_TRUE(r->ok()) << r->errorDetail;
        const Expected e = Work(c.field);
        EXPECT_NEAR(r->handheld.measure.length, e.length, 1e-6);
        EXPECT_NEAR(r->handheld.measure.area, e.area, 1e-6 * std::max(1.0, e.area));
        EXPECT_NEAR(r->wgs84.length_m, e.wgsLength, 1e-6);
        EXPECT_NEAR(r->wgs84.area_m2, e.wgsArea, 1e-3);
        EXPECT_NEAR(r->handheld.shown.lengthTotal, e.lengthTotal, 1e-6);
        EXPECT_NEAR(r->handheld.shown.areaTotal, e.areaTotal, 1e-6);
        EXPECT_NEAR(r->handheld.area.mu, e.area * 15 / 10000, 1e-9 * std::max(1.0, e.area));
        EXPECT_NEAR(r->handheld.area.ha, e.area / 10000, 1e-9 * std::max(1.0, e.area));
        EXPECT_EQ(r->points, testing::SamplePoints(c.field).size());
        EXPECT_EQ(r->method, static_cast<std::int16_t>(c.field.method));
        EXPECT_EQ(r->collectionTime, c.field.collected);
        if (c.field.work) {
            EXPECT_EQ(r->startTime, c.field.collected + 600);
            EXPECT_EQ(r->finishTime, c.field.collected + 4200);
        } else {
            EXPECT_FALSE(r->startTime);
        }
        EXPECT_EQ(r->workWidth.has_value(),
                  c.field.work && c.field.method == AreaMethod::kHarvesting);
        sum.length += e.length;
        sum.area += e.area;
        sum.lengthTotal += e.lengthTotal;
        sum.areaTotal += e.areaTotal;
    }
    // The big field is priced per kilometre, harvesting without a record has no area.
    const LedgerRow* big = Row(l, "T1.txt");
    EXPECT_EQ(big->handheld.shown.lengthText.substr(big->handheld.shown.lengthText.size() - 2),
              "km");
    EXPECT_EQ(Row(l, "H0.txt")->handheld.measure.area, 0);
    EXPECT_EQ(Row(l, "地块一.txt")->name, "地块一");

    const LedgerRow* damaged = Row(l, "damaged.txt");
    ASSERT_NE(damaged, nullptr);
    EXPECT_EQ(damaged->error, geo::ReadError::kDamaged);
    EXPECT_FALSE(ErrorText(*damaged).empty());

    // The KML and its raw copy are one row, read from the raw bytes.
    const LedgerRow* kml = Row(l, "K1.kml (K1.bak)");
    ASSERT_NE(kml, nullptr);
    ASSERT_TRUE(kml->ok());
    EXPECT_EQ(kml->path.filename(), "K1.bak");
    EXPECT_EQ(kml->document.filename(), "K1.kml");
    const Expected ek = Work(SampleField{.name = "K1", .shift = 3});
    EXPECT_NEAR(kml->handheld.measure.area, ek.area, 1e-6 * ek.area);
    EXPECT_NEAR(kml->handheld.shown.areaTotal, ek.areaTotal, 1e-6);
    sum.length += kml->handheld.measure.length;
    sum.area += kml->handheld.measure.area;
    sum.lengthTotal += kml->handheld.shown.lengthTotal;
    sum.areaTotal += kml->handheld.shown.areaTotal;

    EXPECT_EQ(l.totals.fields, 7u);
    EXPECT_EQ(l.totals.failed, 1u);
    EXPECT_NEAR(l.totals.handheldLength_m, sum.length, 1e-6);
    EXPECT_NEAR(l.totals.handheldArea_m2, sum.area, 1e-5);
    EXPECT_NEAR(l.totals.lengthTotal, sum.lengthTotal, 1e-6);
    EXPECT_NEAR(l.totals.areaTotal, sum.areaTotal, 1e-6);
}

TEST_F(LedgerFolder, RecursiveTakesSubFoldersAndNamedFilesAlwaysGiveRows) {
    LedgerOptions deep;
    deep.recursive = true;
    EXPECT_EQ(BuildLedger({dir.path()}, deep).rows.size(), 9u);
    // Named explicitly, every file is a row, readable or not.
    const Ledger l = BuildLedger(
        {dir / "notes.bin", dir / "T0601.gpx", dir / "V1.txt", dir / "missing.txt"}, {});
    ASSERT_EQ(l.rows.size(), 4u);
    EXPECT_EQ(l.rows[0].error, geo::ReadError::kNotRecognised);
    EXPECT_TRUE(l.rows[1].isTrack);
    EXPECT_TRUE(l.rows[2].ok());
    EXPECT_EQ(l.rows[3].error, geo::ReadError::kCannotRead);
    EXPECT_EQ(l.totals.failed, 3u);
}

TEST_F(LedgerFolder, DateRangeKeepsErrorRows) {
    struct {
        std::optional<std::string> from, to;
        std::vector<std::string> files;  // the readable rows kept
    } table[] = {
        {"2024-05-02", "2024-05-02", {"T1.txt"}},
        {"2024-05-02", std::nullopt, {"H1.txt", "T1.txt"}},
        {std::nullopt,
         "2024-05-01",
         {"H0.txt", "K1.kml (K1.bak)", "V1.txt", "quote.txt", "地块一.txt"}},
        {"2024-06-01", "2024-06-30", {}},
    };
    for (const auto& row : table) {
        std::string bad;
        const auto range = RangeOfDays(row.from, row.to, bad);
        ASSERT_TRUE(range) << bad;
        LedgerOptions o;
        o.range = *range;
        const Ledger l = BuildLedger({dir.path()}, o);
        std::vector<std::string> kept;
        bool damagedKept = false;
        for (const auto& r : l.rows)
            (r.ok() ? kept.push_back(r.fileText), false : damagedKept = true);
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(kept, row.files) << row.from.value_or("") << ".." << row.to.value_or("");
        EXPECT_TRUE(damagedKept);
    }
}

TEST(LedgerDamage, ARowMissingDamagedPointsIsBilledOnTheRestAndSaysSo) {
    // Point records that fail their check: each one changed in one Base64
    // character. The row is read and billed, its error cell warns, and the
    // totals still count it as read.
    ASSERT_TRUE(LoadLanguageFile(fs::path(DORVANE_SOURCE_DIR) / "resources/Language/code_en.ini",
                                 Language::English));
    struct DamageCase {
        int damaged;
        const char* warning;
    };
    for (const DamageCase& c :
         {DamageCase{0, ""},
          DamageCase{1, "1 damaged point record left out: the figures miss that point"},
          DamageCase{2, "2 damaged point records left out: the figures miss those points"}}) {
        SCOPED_TRACE(c.damaged);
        TempFolder dir;
        const SampleField field{.name = "D1", .method = AreaMethod::kVertex};
        std::string text = WriteArea(testing::SampleArea(field));
        // Records: header, then the points; damage the last ones.
        std::vector<std::size_t> starts;
        for (std::size_t at = text.find('$'); at != std::string::npos; at = text.find('$', at + 1))
            starts.push_back(at);
        for (int i = 0; i < c.damaged; ++i) {
            const std::size_t at = starts[starts.size() - 1 - static_cast<std::size_t>(i)] + 5;
            text[at] = text[at] == 'A' ? 'B' : 'A';
        }
        dir.Put("D1.txt", text);
        const Ledger l = BuildLedger({dir.path()}, {});
        ASSERT_EQ(l.rows.size(), 1u);
        const LedgerRow& row = l.rows[0];
        EXPECT_TRUE(row.ok());
        EXPECT_EQ(row.points,
                  testing::SamplePoints(field).size() - static_cast<std::size_t>(c.damaged));
        EXPECT_EQ(row.damagedRecords, static_cast<std::size_t>(c.damaged));
        // Without its last points the sample's boundary crosses itself, which
        // the cell says first; the warning about the damage follows.
        const std::string cell = CellOf(row, LedgerColumn::kError).text;
        EXPECT_TRUE(cell.ends_with(c.warning)) << cell;
        if (c.damaged == 0) {
            EXPECT_EQ(cell, "");
        }
        EXPECT_EQ(l.totals.fields, 1u);
        EXPECT_EQ(l.totals.failed, 0u);
    }
}

TEST(LedgerCopies, ASecondDownloadOfTheSameFieldIsListedButNotBilledTwice) {
    // Copying a file that is already there makes "name(1).txt": the same
    // bytes, the same measurement. Only a true copy is marked: a file that
    // differs in one byte (another collection time) is a field of its own.
    ASSERT_TRUE(LoadLanguageFile(fs::path(DORVANE_SOURCE_DIR) / "resources/Language/code_en.ini",
                                 Language::English));
    TempFolder dir;
    const std::string a = WriteArea(testing::SampleArea(SampleField{.name = "A"}));
    const std::string b = WriteArea(testing::SampleArea(SampleField{.name = "B", .shift = 1}));
    const std::string a2 =
        WriteArea(testing::SampleArea(SampleField{.name = "A", .collected = testing::kDay0 + 60}));
    dir.Put("A.txt", a);
    dir.Put("A(1).txt", a);
    dir.Put("A(2).txt", a);
    dir.Put("B.txt", b);
    dir.Put("A again.txt", a2);
    fs::create_directories(dir.path() / "sub");
    dir.Put("sub/A.txt", a);

    LedgerOptions recursive;
    recursive.recursive = true;
    const Ledger l = BuildLedger({dir.path()}, recursive);
    std::map<std::string, std::string> sameAs;
    for (const auto& r : l.rows) sameAs[r.path.lexically_relative(dir.path()).string()] = r.sameAs;
    const std::map<std::string, std::string> want = {{"A(1).txt", "A.txt"}, {"A(2).txt", "A.txt"},
                                                     {"A again.txt", ""},   {"A.txt", ""},
                                                     {"B.txt", ""},         {"sub/A.txt", "A.txt"}};
    // "A(1).txt" sorts before "A.txt", yet A.txt is the one kept.
    EXPECT_EQ(sameAs, want);

    // Totals: A and B once each; "A again" covers the very ground of A, so it
    // is "measured twice?" and left out until the user keeps both.
    const Ledger single = BuildLedger({dir / "A.txt", dir / "A again.txt", dir / "B.txt"}, {});
    EXPECT_EQ(l.totals.fields, 2u);
    LedgerOptions keepBoth = recursive;
    keepBoth.keepMeasuredTwice = true;
    EXPECT_EQ(BuildLedger({dir.path()}, keepBoth).totals.fields, 3u);
    // The later of the two in the ledger's order is the one left out.
    std::map<std::string, std::string> twice;
    for (const auto& r : l.rows)
        if (!r.measuredTwiceWith.empty()) twice[r.path.filename().string()] = r.measuredTwiceWith;
    EXPECT_EQ(twice, (std::map<std::string, std::string>{{"A.txt", "A again.txt"}}));
    EXPECT_EQ(l.totals.failed, 0u);
    EXPECT_DOUBLE_EQ(l.totals.areaTotal, single.totals.areaTotal);
    EXPECT_DOUBLE_EQ(l.totals.wgs84Area_m2, single.totals.wgs84Area_m2);
    for (const auto& r : l.rows) {
        if (r.sameAs.empty()) continue;
        EXPECT_EQ(
            CellOf(r, LedgerColumn::kError).text,
            "The same measurement as " + r.sameAs + " (the same file): left out of the totals");
        EXPECT_FALSE(CellOf(r, LedgerColumn::kArea).text.empty()) << "its figures stay visible";
    }
}

TEST(LedgerDates, BadDatesAreRefused) {
    setenv("TZ", "UTC", 1);
    tzset();
    for (const char* s :
         {"2024-02-30", "2024-13-01", "24-05-01", "2024/05/01", "2024-05-01x", ""}) {
        std::string bad;
        EXPECT_FALSE(RangeOfDays(std::string(s), std::nullopt, bad)) << s;
        EXPECT_EQ(bad, s);
    }
    std::string bad;
    EXPECT_FALSE(RangeOfDays(std::string("2024-05-02"), std::string("2024-05-01"), bad));
    const auto r = RangeOfDays(std::string("2024-05-01"), std::string("2024-05-01"), bad);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r->from, testing::kDay0);
    EXPECT_EQ(*r->to, testing::kDay0 + testing::kDaySeconds);
}

TEST_F(LedgerFolder, SortByEveryColumnPutsEmptyCellsLast) {
    for (auto c : AllColumns()) {
        for (bool asc : {true, false}) {
            Ledger l = BuildLedger({dir.path()}, {});
            SortRows(l.rows, c, asc);
            bool seenEmpty = false;
            for (std::size_t i = 0; i < l.rows.size(); ++i) {
                const Cell cell = CellOf(l.rows[i], c);
                const bool empty = IsNumericColumn(c) ? !cell.number : cell.text.empty();
                if (empty) seenEmpty = true;
                EXPECT_FALSE(seenEmpty && !empty) << ColumnTitle(c);
                if (i == 0 || empty) continue;
                const Cell prev = CellOf(l.rows[i - 1], c);
                if (IsNumericColumn(c))
                    EXPECT_TRUE(asc ? *prev.number <= *cell.number : *prev.number >= *cell.number)
                        << ColumnTitle(c);
                else
                    EXPECT_TRUE(asc ? prev.text <= cell.text : prev.text >= cell.text)
                        << ColumnTitle(c);
            }
        }
    }
}

std::string RunPython(const std::string& script, const fs::path& arg) {
    const fs::path py = arg.parent_path() / "read.py";
    std::ofstream(py) << script;
    return dorvane::test::RunCommand("python3 '" + py.string() + "' '" + arg.string() + "'").out;
}

TEST_F(LedgerFolder, CsvReadBackByPython) {
    ASSERT_TRUE(LoadLanguageFile(fs::path(DORVANE_SOURCE_DIR) / "resources/Language/code_en.ini",
                                 Language::English));
    const Ledger l = BuildLedger({dir.path()}, {});
    TempFolder out;
    const fs::path csvPath = out / "ledger.csv";
    std::ofstream(csvPath, std::ios::binary) << LedgerCsv(l);
    const std::string json = RunPython(R"(
import csv, json, sys
raw = open(sys.argv[1], 'rb').read()
lines = raw[3:].split(b'\r\n')
print(json.dumps({
  'bom': raw[:3] == b'\xef\xbb\xbf',
  'crlf': raw.endswith(b'\r\n') and b'\n' not in raw.replace(b'\r\n', b''),
  'rows': list(csv.reader(open(sys.argv[1], encoding='utf-8-sig', newline='')))}))
)",
                                       csvPath);
    const auto j = nlohmann::json::parse(json);
    EXPECT_TRUE(j["bom"].get<bool>());
    EXPECT_TRUE(j["crlf"].get<bool>());
    const auto rows = j["rows"].get<std::vector<std::vector<std::string>>>();
    ASSERT_EQ(rows.size(), l.rows.size() + 2);
    const auto cols = AllColumns();
    auto col = [&](LedgerColumn c) { return static_cast<std::size_t>(c); };
    EXPECT_EQ(rows[0][col(LedgerColumn::kArea)], "Area (m2)");
    for (std::size_t i = 0; i < l.rows.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), cols.size());
        for (auto c : cols) EXPECT_EQ(rows[i + 1][col(c)], CellOf(l.rows[i], c).text);
    }
    // Every area and price cell is a plain number with '.', equal to the figure.
    for (const auto& c : cases) {
        const Expected e = Work(c.field);
        bool found = false;
        for (const auto& r : rows)
            if (r[col(LedgerColumn::kFile)] == c.shownFile) {
                found = true;
                EXPECT_NEAR(std::stod(r[col(LedgerColumn::kArea)]), e.area, 0.006) << c.shownFile;
                EXPECT_NEAR(std::stod(r[col(LedgerColumn::kAreaTotal)]), e.areaTotal, 0.051)
                    << c.shownFile;
                EXPECT_NEAR(std::stod(r[col(LedgerColumn::kLength)]), e.length, 0.006)
                    << c.shownFile;
            }
        EXPECT_TRUE(found) << c.shownFile;
    }
    const auto& tot = rows.back();
    EXPECT_EQ(tot[col(LedgerColumn::kFile)], "Total");
    EXPECT_NEAR(std::stod(tot[col(LedgerColumn::kArea)]), l.totals.handheldArea_m2, 0.006);
    EXPECT_NEAR(std::stod(tot[col(LedgerColumn::kAreaTotal)]), l.totals.areaTotal, 0.051);
    EXPECT_NEAR(std::stod(tot[col(LedgerColumn::kLengthTotal)]), l.totals.lengthTotal, 0.051);
    EXPECT_EQ(tot[col(LedgerColumn::kError)], "1 file could not be read");
    // The quoted name survives the round trip.
    bool quoted = false;
    for (const auto& r : rows) quoted |= r[col(LedgerColumn::kName)] == "a,\"b\"";
    EXPECT_TRUE(quoted);
    ResetToDefaults();
}

TEST(LedgerCsvField, Rfc4180Quoting) {
    struct {
        std::string in, out;
    } table[] = {{"plain", "plain"},
                 {"a,b", "\"a,b\""},
                 {"say \"x\"", "\"say \"\"x\"\"\""},
                 {"two\r\nlines", "\"two\r\nlines\""},
                 {"", ""},
                 {"地块", "地块"}};
    for (const auto& t : table) EXPECT_EQ(CsvField(t.in), t.out);
}

}  // namespace
}  // namespace dorvane::report
