// `dorvane-cli info --json` on a file of many shapes (one object per shape,
// validity, band, holes) and `dorvane-cli overlaps` on a folder, as a user
// runs them.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "common/run_command.h"
#include "common/sim_process.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::TempDir;

test::CommandRun Cli(const TempDir& dir, const std::string& args) {
    return test::RunCommand("cd '" + dir.path().string() + "' && LANG=C LC_ALL=C TZ=UTC '" +
                            DORVANE_BINARY_DIR + "/bin/dorvane-cli' -Code_Eng " + args +
                            " 2>/dev/null");
}

constexpr const char* kFields = R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"name":"Pond field"},"geometry":{"type":"Polygon","coordinates":[[[116.0,40.0],[116.001,40.0],[116.001,40.001],[116.0,40.001],[116.0,40.0]],[[116.0003,40.0003],[116.0006,40.0003],[116.0006,40.0006],[116.0003,40.0006],[116.0003,40.0003]]]}},
{"type":"Feature","properties":{"name":"Bow-tie"},"geometry":{"type":"Polygon","coordinates":[[[116.0005,40.0],[116.0015,40.001],[116.0015,40.0],[116.0005,40.001],[116.0005,40.0]]]}},
{"type":"Feature","properties":{"name":"Lane"},"geometry":{"type":"LineString","coordinates":[[116.0,39.999],[116.002,39.999]]}},
{"type":"Feature","properties":{"name":"Off the globe"},"geometry":{"type":"Point","coordinates":[500,1]}}
]})";

TEST(CliShapes, InfoJsonHasOneObjectPerShape) {
    TempDir dir;
    std::ofstream(dir / "village.geojson") << kFields;
    const auto r = Cli(dir, "info --json village.geojson");
    EXPECT_EQ(r.status, 0) << r.out;
    const json all = json::parse(r.out, nullptr, false);
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 3u) << r.out;
    const struct {
        const char* label;
        const char* kind;
        bool valid;
        std::size_t crossings, holes;
    } cases[] = {{"Pond field", "area", true, 0, 1},
                 {"Bow-tie", "area", false, 1, 0},
                 {"Lane", "track", true, 0, 0}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].label);
        const json& o = all[i];
        EXPECT_EQ(o["shape"], i);
        EXPECT_EQ(o["label"], cases[i].label);
        EXPECT_EQ(o["kind"], cases[i].kind);
        if (o["kind"] == "track") {
            EXPECT_FALSE(o.contains("valid"));
            EXPECT_EQ(o["time_order_breaks"], 0);
            continue;
        }
        EXPECT_EQ(o["valid"], cases[i].valid);
        EXPECT_EQ(o["crossings"].size(), cases[i].crossings);
        EXPECT_EQ(o["holes"], cases[i].holes);
        EXPECT_GT(o["area_tolerance_m2"].get<double>(), 0);
        EXPECT_NEAR(o["area_tolerance_m2"].get<double>(),
                    1.25 * 1.0 * o["wgs84"]["length_m"].get<double>(),
                    0.3 * o["area_tolerance_m2"].get<double>());
        if (!cases[i].valid) {
            EXPECT_GT(o["valid_area_m2"].get<double>(), 0);
            EXPECT_NEAR(o["crossings"][0][0].get<double>(), 116.001, 1e-9);
            EXPECT_NEAR(o["crossings"][0][1].get<double>(), 40.0005, 1e-9);
        }
    }
    // A receiver twice as accurate halves the band.
    const json fine = json::parse(Cli(dir, "info --json --accuracy 0.625 village.geojson").out);
    EXPECT_NEAR(fine[0]["area_tolerance_m2"].get<double>() * 2,
                all[0]["area_tolerance_m2"].get<double>(), 1e-9);
    EXPECT_EQ(Cli(dir, "info --accuracy -1 village.geojson").status, 2);
}

TEST(CliShapes, OverlapsOfAFolder) {
    TempDir dir;
    fs::create_directories(dir / "fields" / "sub");
    std::ofstream(dir / "fields" / "village.geojson") << kFields;
    std::ofstream(dir / "fields" / "notes.txt") << "not a field";
    // The pond field walked again a little later, in a sub-folder.
    std::ofstream(dir / "fields" / "sub" / "again.geojson")
        << R"({"type":"Feature","properties":{"name":"Pond field"},"geometry":{"type":"Polygon",)"
           R"("coordinates":[[[116.00001,40.0],[116.001,40.0],[116.001,40.001],[116.00001,40.001],[116.00001,40.0]]]}})";
    const struct {
        const char* args;
        std::size_t pairs;
    } cases[] = {{"overlaps --json fields", 1}, {"overlaps --json -r fields", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = Cli(dir, c.args);
        EXPECT_EQ(r.status, 0);
        const json all = json::parse(r.out, nullptr, false);
        ASSERT_TRUE(all.is_array()) << r.out;
        ASSERT_EQ(all.size(), c.pairs) << r.out;
        // The pond field and the bow-tie share a corner: a quarter of the
        // bow-tie's valid shape (two triangles) lies in the field.
        bool pondAndBow = false;
        for (const json& o : all) {
            if (o["a"] == "fields/village.geojson › Pond field" &&
                o["b"] == "fields/village.geojson › Bow-tie") {
                pondAndBow = true;
                EXPECT_GT(o["share_of_smaller"].get<double>(), 0.3);
                EXPECT_LT(o["share_of_smaller"].get<double>(), 0.7);
            }
            EXPECT_NEAR(o["overlap_mu"].get<double>(), o["overlap_m2"].get<double>() / (10000.0 / 15),
                        1e-9);
            EXPECT_EQ(o["measured_twice"].get<bool>(), o["share_of_smaller"].get<double>() > 0.9);
        }
        EXPECT_TRUE(pondAndBow);
    }
    const auto twice = json::parse(Cli(dir, "overlaps --json -r fields").out);
    bool found = false;
    for (const json& o : twice)
        found |= o["a"] == "fields/sub/again.geojson › Pond field" &&
                 o["b"] == "fields/village.geojson › Pond field" && o["measured_twice"] == true;
    EXPECT_TRUE(found) << twice.dump();
    const auto text = Cli(dir, "overlaps -r fields");
    EXPECT_NE(text.out.find("measured twice?"), std::string::npos) << text.out;
    EXPECT_EQ(Cli(dir, "overlaps").status, 2);
}

}  // namespace
}  // namespace dorvane
