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

}  // namespace
}  // namespace dorvane::report
