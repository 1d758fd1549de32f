// CGCS2000 figures against GeographicLib's Planimeter, Gauss-Krueger
// coordinates against pyproj, the numbering of a ring and the choice of a
// coordinate system.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "convert/temp_folder.h"
#include "export/crs_choice.h"
#include "geo/figures.h"
#include "geo/land_survey.h"
#include "land/land_rig.h"

namespace dorvane::landtest {
namespace {

using testing::TempFolder;

// Digits before the decimal point of "%.3f".
std::size_t IntegerDigits(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return std::string(buf).find('.');
}

TEST(GaussKrueger, CoordinatesMatchPyprojToTheMillimetre) {
    struct {
        const char* what;
        double lon, lat;
        int epsg;
        bool prefixed;
    } table[] = {
        {"zone 37, west of 111", 110.2, 35.1, 4525, true},
        {"zone 37 without the zone", 110.2, 35.1, 4546, false},
        {"zone 38, east of 114", 115.3, 30.4, 4526, true},
        {"zone 39, west of 117", 116.1, 40.2, 4527, true},
        {"zone 39, east of 117", 117.9, 40.2, 4548, false},
        {"zone 40, far north", 120.6, 47.9, 4528, true},
        {"zone 40 without the zone", 119.2, 22.9, 4549, false},
        {"zone 39 at its east edge", 118.49999, 38.0, 4527, true},
        {"zone 40 at its west edge", 118.50001, 38.0, 4528, true},
        {"6-degree zone 20 (117)", 118.9, 33.3, 4498, true},
        {"6-degree zone 20 without the zone", 115.1, 33.3, 4509, false},
    };
    TempFolder dir;
    std::string script =
        "import pyproj\n"
        "cases = [\n";
    for (const auto& t : table) {
        char line[128];
        std::snprintf(line, sizeof line, "  (%.17g, %.17g, %d),\n", t.lon, t.lat, t.epsg);
        script += line;
    }
    script +=
        "]\n"
        "for lon, lat, epsg in cases:\n"
        "    tr = pyproj.Transformer.from_crs(4326, epsg, always_xy=True)\n"
        "    e, n = tr.transform(lon, lat)\n"
        "    print('%.6f %.6f' % (n, e))\n";
    const auto run = Python(dir.path().string(), script);
    ASSERT_EQ(run.status, 0) << run.out;
    std::istringstream in(run.out);
    for (const auto& t : table) {
        SCOPED_TRACE(t.what);
        double n = 0, e = 0;
        ASSERT_TRUE(in >> n >> e) << run.out;
        const auto zone = geo::GkZoneOfEpsg(t.epsg);
        ASSERT_TRUE(zone);
        EXPECT_EQ(zone->zoneInEasting, t.prefixed);
        EXPECT_EQ(zone->Epsg(), t.epsg);
        const auto grid = geo::ToGk(*zone, std::vector{At(t.lon, t.lat)});
        ASSERT_TRUE(grid);
        EXPECT_NEAR((*grid)[0].x, n, 1e-3);
        EXPECT_NEAR((*grid)[0].y, e, 1e-3);
        EXPECT_EQ(IntegerDigits((*grid)[0].x), 7u);
        EXPECT_EQ(IntegerDigits((*grid)[0].y), t.prefixed ? 8u : 6u);
        // West of the central meridian the easting is under 500 km.
        const double local = std::fmod((*grid)[0].y, geo::kGkZonePrefixFactor);
        EXPECT_EQ(local < geo::kGkFalseEasting, t.lon < zone->CentralMeridian());
        // And back.
        const auto back = geo::FromGk(*zone, *grid);
        ASSERT_TRUE(back);
        EXPECT_NEAR((*back)[0].lon, t.lon, 1e-9);
        EXPECT_NEAR((*back)[0].lat, t.lat, 1e-9);
    }
}

TEST(GaussKrueger, ZonesAndTheirCodes) {
    struct {
        double lon;
        int zone3, zone6;
        int epsg3, epsg3plain;
    } table[] = {
        {73.6, 25, 13, 4513, 4534},  {110.99, 37, 19, 4525, 4546}, {112.49, 37, 19, 4525, 4546},
        {112.51, 38, 19, 4526, 4546 + 1}, {117.0, 39, 20, 4527, 4548}, {134.9, 45, 23, 4533, 4554},
        {10.0, 3, 2, 0, 0},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.lon);
        EXPECT_EQ(geo::Gk3ZoneOf(t.lon), t.zone3);
        EXPECT_EQ(geo::Gk6ZoneOf(t.lon), t.zone6);
        EXPECT_EQ((geo::GkZone{geo::kGk3Width, t.zone3, true}.Epsg()), t.epsg3);
        EXPECT_EQ((geo::GkZone{geo::kGk3Width, t.zone3, false}.Epsg()), t.epsg3plain);
    }
    EXPECT_FALSE(geo::GkZoneOfEpsg(4326));
    EXPECT_FALSE(geo::GkZoneOfEpsg(4490));
    EXPECT_FALSE(geo::GkZoneOfEpsg(4555));
    // A zone EPSG has no code for still projects, through its PROJ definition.
    const auto far = geo::ToGk(geo::GkZone{geo::kGk3Width, 3, true}, std::vector{At(9.5, 45.0)});
    ASSERT_TRUE(far);
    EXPECT_EQ(static_cast<int>((*far)[0].y / geo::kGkZonePrefixFactor), 3);
}

TEST(Cgcs2000, AreaAndPerimeterMatchPlanimeter) {
    struct {
        const char* what;
        std::vector<geo::GeoPoint> ring;
    } table[] = {
        {"small field west of 117", Field(116.2, 40.1)},
        {"small field east of 117", Field(117.8, 40.1)},
        {"large block", {At(110.0, 30.0), At(110.3, 30.0), At(110.3, 30.2), At(110.0, 30.25)}},
        {"clockwise field", {At(120.0, 45.0), At(120.0, 45.01), At(120.02, 45.01), At(120.02, 45.0)}},
    };
    TempFolder dir;
    for (const auto& t : table) {
        SCOPED_TRACE(t.what);
        std::string input;
        for (const auto& p : t.ring) {
            char line[96];
            std::snprintf(line, sizeof line, "%.15g %.15g\n", p.lat, p.lon);
            input += line;
        }
        const std::string path = WriteFile((dir / "ring.txt").string(), input);
        const auto run = test::RunCommand("Planimeter -e 6378137 1/298.257222101 -p 9 < '" +
                                          path + "'");
        ASSERT_EQ(run.status, 0) << run.out;
        std::istringstream in(run.out);
        double n = 0, perimeter = 0, area = 0;
        ASSERT_TRUE(in >> n >> perimeter >> area) << run.out;
        const geo::Cgcs2000Figures f = geo::Cgcs2000Ring(t.ring);
        EXPECT_NEAR(f.length_m, perimeter, 1e-6);
        EXPECT_NEAR(f.area_m2, std::fabs(area), 1e-6 * std::fabs(area) + 1e-3);
        // The plane area of the zone is close to it (the scale error of a
        // 3-degree zone is under 0.04 % at its edge).
        const auto gk = geo::ComputeGk3(t.ring);
        ASSERT_TRUE(gk);
        EXPECT_NEAR(gk->area_m2, f.area_m2, 4e-4 * f.area_m2);
        EXPECT_EQ(gk->centralMeridian, 3.0 * gk->zone);
    }
}

// A pond in a field is not land: the CGCS2000 and plane areas leave it out as
// the WGS84 area does (a square of 1 000 m with one of 500 m inside: 3/4).
TEST(Cgcs2000, HolesAreTakenOutOfBothAreas) {
    geo::FieldFile f;
    f.kind = geo::FieldKind::kArea;
    const double lon = 117.0, lat = 39.0, d = 0.01, h = 0.0025;
    f.points = {{lon, lat}, {lon + d, lat}, {lon + d, lat + d}, {lon, lat + d}};
    f.holes = {{{lon + h, lat + h}, {lon + h, lat + 3 * h}, {lon + 3 * h, lat + 3 * h}, {lon + 3 * h, lat + h}}};
    const double wgs84 = geo::ComputeFigures(f).wgs84.area.m2;
    const double outer = geo::Cgcs2000Ring(f.points).area_m2;
    ASSERT_GT(outer, 0);
    EXPECT_NEAR(wgs84 / outer, 0.75, 0.001);
    EXPECT_NEAR(geo::ComputeCgcs2000(f).area_m2, wgs84, wgs84 * 1e-6);
    const auto gk = geo::ComputeGk3(f);
    ASSERT_TRUE(gk);
    EXPECT_EQ(gk->zone, 39);
    EXPECT_NEAR(gk->area_m2, wgs84, wgs84 * 1e-3);
}

TEST(Numbering, ClockwiseFromTheNorthWestPointWhicheverWayTheFieldWasWalked) {
    // In metres: X north, Y east. The north-west point is (300, 0).
    const std::vector<geo::GkPoint> ccw = {{0, 0}, {0, 200}, {250, 220}, {330, 100}, {300, 0}};
    std::vector<geo::GkPoint> cw(ccw.rbegin(), ccw.rend());
    std::vector<geo::GkPoint> cwRotated = {cw[2], cw[3], cw[4], cw[0], cw[1]};
    const std::vector<geo::GkPoint> expected = {{300, 0}, {330, 100}, {250, 220}, {0, 200}, {0, 0}};
    struct {
        const char* what;
        std::vector<geo::GkPoint> ring;
        bool clockwise;
    } table[] = {
        {"walked counter-clockwise", ccw, true},
        {"walked clockwise", cw, true},
        {"walked clockwise from elsewhere", cwRotated, true},
        {"a hole, counter-clockwise", cw, false},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.what);
        const auto order = geo::NumberingOrder(t.ring, t.clockwise);
        ASSERT_EQ(order.size(), t.ring.size());
        std::vector<geo::GkPoint> got;
        for (const auto i : order) got.push_back(t.ring[i]);
        EXPECT_EQ(got.front().x, 300);
        EXPECT_EQ(got.front().y, 0);
        EXPECT_EQ(geo::SignedPlaneArea(got) < 0, t.clockwise);
        if (t.clockwise)
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].x, expected[i].x) << i;
                EXPECT_EQ(got[i].y, expected[i].y) << i;
            }
    }
}

TEST(CrsChoice, ParsedFromText) {
    struct {
        const char* text;
        bool ok;
        gis::CrsMode mode;
        int epsg;
    } table[] = {
        {"EPSG:4513", true, gis::CrsMode::kEpsg, 4513}, {"epsg:4490", true, gis::CrsMode::kEpsg, 4490},
        {"4326", true, gis::CrsMode::kEpsg, 4326},      {"wgs84", true, gis::CrsMode::kEpsg, 4326},
        {"CGCS2000", true, gis::CrsMode::kEpsg, 4490},  {"auto", true, gis::CrsMode::kAutoGk3, 0},
        {"auto-cm", true, gis::CrsMode::kAutoGk3Plain, 0}, {"AUTO6", true, gis::CrsMode::kAutoGk6, 0},
        {"auto6-cm", true, gis::CrsMode::kAutoGk6Plain, 0}, {"EPSG:", false, {}, 0},
        {"EPSG:-5", false, {}, 0}, {"EPSG:45x", false, {}, 0}, {"utm", false, {}, 0}, {"", false, {}, 0},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.text);
        const auto c = gis::ParseCrsChoice(t.text);
        ASSERT_EQ(c.has_value(), t.ok);
        if (!t.ok) continue;
        EXPECT_EQ(c->mode, t.mode);
        if (t.mode == gis::CrsMode::kEpsg) {
            EXPECT_EQ(c->epsg, t.epsg);
        }
        EXPECT_EQ(gis::ParseCrsChoice(gis::CrsChoiceText(*c))->mode, c->mode);
    }
}

TEST(CrsChoice, AutomaticZoneAndFieldsOutsideIt) {
    const auto west = Field(116.2, 40.1);   // zone 39
    const auto east = Field(117.9, 40.1);   // zone 39
    const auto beyond = Field(118.7, 40.1); // zone 40
    const auto edge = Field(118.4995, 40.1); // zone 39 into 40
    struct {
        const char* what;
        gis::CrsChoice choice;
        std::vector<std::vector<geo::GeoPoint>> fields;
        int epsg;
        bool projected;
        std::vector<std::string> warned;
    } table[] = {
        {"auto", {gis::CrsMode::kAutoGk3, 0}, {west, east}, 4527, true, {}},
        {"auto-cm", {gis::CrsMode::kAutoGk3Plain, 0}, {west, east}, 4548, true, {}},
        {"auto6", {gis::CrsMode::kAutoGk6, 0}, {west, east}, 4498, true, {}},
        {"auto6-cm", {gis::CrsMode::kAutoGk6Plain, 0}, {west, east}, 4509, true, {}},
        {"auto, one field beyond", {gis::CrsMode::kAutoGk3, 0}, {west, east, beyond}, 4527, true,
         {"f2"}},
        {"auto, one field across the edge", {gis::CrsMode::kAutoGk3, 0}, {west, edge}, 4527, true,
         {"f1"}},
        {"a zone chosen", {gis::CrsMode::kEpsg, 4528}, {west, beyond}, 4528, true, {"f0"}},
        {"CGCS2000 degrees", {gis::CrsMode::kEpsg, 4490}, {west, beyond}, 4490, false, {}},
        {"Web Mercator", {gis::CrsMode::kEpsg, 3857}, {west}, 3857, true, {}},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.what);
        std::vector<gis::NamedPoints> named;
        for (std::size_t i = 0; i < t.fields.size(); ++i)
            named.push_back({"f" + std::to_string(i), t.fields[i]});
        gis::CrsError error;
        const auto r = gis::ResolveCrs(t.choice, named, error);
        ASSERT_TRUE(r) << error.message;
        EXPECT_EQ(r->epsg, t.epsg);
        EXPECT_EQ(r->projected, t.projected);
        std::vector<std::string> warned;
        for (const auto& w : r->warnings) warned.push_back(w.name);
        EXPECT_EQ(warned, t.warned);
        for (const auto& w : r->warnings)
            if (w.name == "f2") {
                EXPECT_EQ(w.zone, 40);
            }
    }
    gis::CrsError error;
    std::vector<gis::NamedPoints> one = {{"f", west}};
    EXPECT_FALSE(gis::ResolveCrs({gis::CrsMode::kEpsg, 999999}, one, error));
    EXPECT_NE(error.message.find("999999"), std::string::npos);
    EXPECT_FALSE(gis::ResolveCrs({gis::CrsMode::kAutoGk3, 0}, {}, error));
}

}  // namespace
}  // namespace dorvane::landtest
