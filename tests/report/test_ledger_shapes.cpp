// A file of many fields in the ledger: one row per field ("file › name"), its
// band and holes in the CSV, the overlaps listed after the totals, and a pair
// measured twice left out of the totals until both are kept.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/run_command.h"
#include "convert/temp_folder.h"
#include "convert/xml_text.h"
#include "i18n/string_table.h"
#include "report/ledger.h"
#include "report/ledger_table.h"

namespace dorvane::report {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::TempFolder;

constexpr double kSide = 0.001;  // degrees

json Square(double x, double y, const char* name) {
    return {{"type", "Feature"},
            {"properties", {{"name", name}}},
            {"geometry",
             {{"type", "Polygon"},
              {"coordinates",
               json::array({json::array({{x, y},
                                         {x + kSide, y},
                                         {x + kSide, y + kSide},
                                         {x, y + kSide},
                                         {x, y}})})}}}};
}

// 50 fields in rows of ten, apart from one another.
void WriteVillage(const fs::path& path) {
    json features = json::array();
    for (int i = 0; i < 50; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "F%02d", i + 1);
        features.push_back(Square(116 + (i % 10) * 2 * kSide, 40 + (i / 10) * 2 * kSide, name));
    }
    std::ofstream(path) << json{{"type", "FeatureCollection"}, {"features", features}}.dump();
}

TEST(LedgerShapes, AFileOfFiftyFieldsGivesFiftyRows) {
    ASSERT_TRUE(LoadLanguageFile(fs::path(DORVANE_SOURCE_DIR) / "resources/Language/code_en.ini",
                                 Language::English));
    TempFolder dir;
    WriteVillage(dir / "village.geojson");
    const struct {
        const char* file;
        const char* driver;
    } cases[] = {{"village.kml", "KML"}, {"village.shp", "ESRI Shapefile"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(test::RunCommand(std::string("ogr2ogr -f '") + c.driver + "' '" +
                                   (dir / c.file).string() + "' '" +
                                   (dir / "village.geojson").string() + "'")
                      .status,
                  0);
        const Ledger l = BuildLedger({dir / c.file}, {});
        ASSERT_EQ(l.rows.size(), 50u);
        EXPECT_EQ(l.totals.fields, 50u);
        EXPECT_EQ(l.rows[0].fileText, std::string(c.file) + " › F01");
        EXPECT_EQ(l.rows[49].fileText, std::string(c.file) + " › F50");
        EXPECT_EQ(l.rows[49].shape, 49u);
        EXPECT_TRUE(l.overlaps.empty());
        // Each row's band: its boundary (about 390 m) times 1.25 m.
        EXPECT_NEAR(l.rows[0].areaTolerance_m2, l.rows[0].wgs84.length_m * 1.25, 1e-6);
        EXPECT_EQ(CellOf(l.rows[0], LedgerColumn::kAreaTolerance).text,
                  FixedText(l.rows[0].areaTolerance_m2, 2));
    }
}

TEST(LedgerShapes, OverlapsAreListedAndAFieldMeasuredTwiceIsLeftOut) {
    ASSERT_TRUE(LoadLanguageFile(fs::path(DORVANE_SOURCE_DIR) / "resources/Language/code_en.ini",
                                 Language::English));
    TempFolder dir;
    json features = json::array({Square(116, 40, "A"), Square(116 + kSide / 2, 40, "Half"),
                                 Square(116 + kSide / 100, 40, "A again"),
                                 Square(117, 40, "Far")});
    std::ofstream(dir / "f.geojson")
        << json{{"type", "FeatureCollection"}, {"features", features}}.dump();
    const struct {
        bool keep;
        std::size_t billed;
    } cases[] = {{false, 3}, {true, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keep);
        LedgerOptions o;
        o.keepMeasuredTwice = c.keep;
        const Ledger l = BuildLedger({dir / "f.geojson"}, o);
        ASSERT_EQ(l.rows.size(), 4u);
        ASSERT_EQ(l.overlaps.size(), 3u);  // A-Half, A-A again, Half-A again
        EXPECT_EQ(l.totals.fields, c.billed);
        EXPECT_TRUE(l.overlaps[1].measuredTwice);
        EXPECT_NEAR(l.overlaps[0].shareOfSmaller, 0.5, 1e-3);
        EXPECT_EQ(l.rows[2].measuredTwiceWith, c.keep ? "" : "f.geojson › A");
        const std::string csv = LedgerCsv(l);
        EXPECT_NE(csv.find("\r\nFields that overlap\r\n"), std::string::npos);
        EXPECT_NE(csv.find("f.geojson › A,f.geojson › A again,"), std::string::npos);
        EXPECT_NE(csv.find(",99.0,Measured twice?\r\n"), std::string::npos) << csv;
    }
}

// The desktop keeps both fields of one pair at a time: that pair's second
// field counts again, another pair measured twice stays left out; the
// choice is keyed by both rows' file and shape, in either order.
TEST(LedgerShapes, BothKeptPerPair) {
    ASSERT_TRUE(LoadLanguageFile(fs::path(DORVANE_SOURCE_DIR) / "resources/Language/code_en.ini",
                                 Language::English));
    TempFolder dir;
    json features = json::array({Square(116, 40, "A"), Square(116 + kSide / 100, 40, "A again"),
                                 Square(117, 40, "B"), Square(117 + kSide / 100, 40, "B again")});
    std::ofstream(dir / "f.geojson")
        << json{{"type", "FeatureCollection"}, {"features", features}}.dump();
    const Ledger all = BuildLedger({dir / "f.geojson"}, {});
    ASSERT_EQ(all.rows.size(), 4u);
    ASSERT_EQ(all.overlaps.size(), 2u);
    const RowPair a = PairOf(all.rows[0], all.rows[1]);
    EXPECT_EQ(a, PairOf(all.rows[1], all.rows[0]));
    const RowPair b = PairOf(all.rows[2], all.rows[3]);
    const struct {
        KeptPairs kept;
        std::size_t billed;
        bool keptA, keptB;
    } cases[] = {{{}, 2, false, false}, {{a}, 3, true, false}, {{b}, 3, false, true},
                 {{a, b}, 4, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept.size());
        LedgerOptions o;
        o.keptPairs = c.kept;
        const Ledger built = BuildLedger({dir / "f.geojson"}, o);
        EXPECT_EQ(built.totals.fields, c.billed);
        EXPECT_EQ(built.overlaps[0].kept, c.keptA);
        EXPECT_EQ(built.overlaps[1].kept, c.keptB);
        EXPECT_EQ(built.rows[1].measuredTwiceWith.empty(), c.keptA);
        // The same marks from the overlaps already found, as the window re-marks them.
        Ledger again = all;
        MarkMeasuredTwice(again, false, c.kept);
        EXPECT_EQ(again.totals.fields, c.billed);
        EXPECT_EQ(again.rows[3].measuredTwiceWith.empty(), c.keptB);
        const std::string csv = LedgerCsv(again);
        EXPECT_EQ(csv.find("Measured twice? (both kept)") != std::string::npos, c.keptA || c.keptB)
            << csv;
    }
}

// The ledger tells its caller how many files it has read of how many.
TEST(LedgerShapes, ProgressCountsTheFiles) {
    TempFolder dir;
    for (const char* name : {"a", "b", "c"})
        std::ofstream(dir / (std::string(name) + ".geojson"))
            << json{{"type", "FeatureCollection"}, {"features", json::array({Square(116, 40, name)})}}
                   .dump();
    std::vector<std::pair<std::size_t, std::size_t>> seen;
    LedgerOptions o;
    o.progress = [&](std::size_t done, std::size_t total) { seen.emplace_back(done, total); };
    BuildLedger({dir.path(), dir / "a.geojson"}, o);
    const std::vector<std::pair<std::size_t, std::size_t>> want = {{1, 4}, {2, 4}, {3, 4}, {4, 4}};
    EXPECT_EQ(seen, want);
}

}  // namespace
}  // namespace dorvane::report
