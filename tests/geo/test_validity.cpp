// Validity against Shapely's (python3-shapely) is_valid and make_valid on a
// table of bow-ties, spikes and repeats; the valid shape's area measured with
// GeographicLib; the tolerance band against a hand-worked square.
#include <gtest/gtest.h>

#include <ogr_geometry.h>

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/run_command.h"
#include "convert/temp_folder.h"
#include "geo/figure_lines.h"
#include "geo/figures.h"
#include "geo/ogr_area.h"
#include "geo/validity.h"

namespace dorvane::geo {
namespace {

using nlohmann::json;

constexpr double kLon = 116.0, kLat = 40.0;
constexpr double kStep = 0.001;  // degrees: about 85 m east, 111 m north

// A ring given in steps of kStep from (kLon, kLat).
std::vector<GeoPoint> Ring(std::initializer_list<std::pair<double, double>> steps) {
    std::vector<GeoPoint> out;
    for (const auto& [x, y] : steps) {
        GeoPoint p;
        p.lon = kLon + x * kStep;
        p.lat = kLat + y * kStep;
        out.push_back(p);
    }
    return out;
}

FieldFile Area(std::vector<GeoPoint> ring, std::vector<std::vector<GeoPoint>> holes = {}) {
    FieldFile f;
    f.kind = FieldKind::kArea;
    f.points = std::move(ring);
    f.holes = std::move(holes);
    return f;
}

json Coordinates(const std::vector<GeoPoint>& ring) {
    json a = json::array();
    for (const GeoPoint& p : ring) a.push_back({p.lon, p.lat});
    if (!ring.empty()) a.push_back({ring[0].lon, ring[0].lat});
    return a;
}

// Shapely's verdict on each field: is_valid, and make_valid's result as WKT.
std::vector<json> ShapelyVerdicts(const std::vector<FieldFile>& fields) {
    testing::TempFolder dir;
    json in = json::array();
    for (const FieldFile& f : fields) {
        json holes = json::array();
        for (const auto& h : f.holes) holes.push_back(Coordinates(h));
        in.push_back({{"shell", Coordinates(f.points)}, {"holes", holes}});
    }
    std::ofstream(dir / "in.json") << in.dump();
    std::ofstream(dir / "check.py") << R"(import json, sys
from shapely.geometry import Polygon
from shapely.validation import make_valid
out = []
for c in json.load(open(sys.argv[1])):
    try:
        p = Polygon(c["shell"], c["holes"])
        out.append({"valid": bool(p.is_valid), "fixed": make_valid(p).wkt})
    except ValueError:
        out.append({"valid": False, "fixed": "POLYGON EMPTY"})
print(json.dumps(out))
)";
    // Debian's Shapely lives with the system's Python.
    const auto run = test::RunCommand("/usr/bin/python3 '" + (dir / "check.py").string() + "' '" +
                                      (dir / "in.json").string() + "'");
    EXPECT_EQ(run.status, 0) << "python3-shapely is needed";
    const json out = json::parse(run.out, nullptr, false);
    return out.is_array() ? std::vector<json>(out.begin(), out.end()) : std::vector<json>{};
}

double AreaOfWkt(const std::string& wkt) {
    OGRGeometry* g = nullptr;
    if (OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &g) != OGRERR_NONE || !g)
        return -1;
    std::unique_ptr<OGRGeometry> owned(g);
    return GeodesicAreaOf(*owned);
}

TEST(Validity, AgreesWithShapely) {
    const struct {
        const char* what;
        FieldFile field;
        std::size_t crossings;
        std::size_t repeats;
        std::size_t spikes;
        bool tooFew;
    } cases[] = {
        {"square", Area(Ring({{0, 0}, {1, 0}, {1, 1}, {0, 1}})), 0, 0, 0, false},
        {"bow-tie", Area(Ring({{0, 0}, {1, 1}, {1, 0}, {0, 1}})), 1, 0, 0, false},
        {"doubled back (figure of eight)",
         Area(Ring({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, -1}, {0, -1}})), 1, 0, 0, false},
        {"spike out and straight back",
         Area(Ring({{0, 0}, {1, 0}, {1, 1}, {0.5, 1}, {0.5, 2}, {0.5, 1}, {0, 1}})), 3, 0, 1,
         false},
        {"narrow spike (2 degrees)",
         Area(Ring({{0, 0}, {1, 0}, {1, 1}, {0.52, 1}, {0.5, 1.6}, {0.48, 1}, {0, 1}})), 0, 0, 1,
         false},
        {"repeated points", Area(Ring({{0, 0}, {0, 0}, {1, 0}, {1, 1}, {1, 1}, {1, 1}, {0, 1}})), 0,
         3, 0, false},
        {"two distinct points", Area(Ring({{0, 0}, {1, 0}, {0, 0}, {1, 0}})), 0, 0, 0, true},
        {"hole inside", Area(Ring({{0, 0}, {3, 0}, {3, 3}, {0, 3}}),
                             {Ring({{1, 1}, {2, 1}, {2, 2}, {1, 2}})}),
         0, 0, 0, false},
        {"hole across the boundary", Area(Ring({{0, 0}, {3, 0}, {3, 3}, {0, 3}}),
                                          {Ring({{2, 1}, {4, 1}, {4, 2}, {2, 2}})}),
         2, 0, 0, false},
    };
    std::vector<FieldFile> fields;
    for (const auto& c : cases) fields.push_back(c.field);
    const std::vector<json> shapely = ShapelyVerdicts(fields);
    ASSERT_EQ(shapely.size(), fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.what);
        const Validity v = CheckValidity(c.field);
        EXPECT_EQ(v.valid, shapely[i]["valid"].get<bool>());
        EXPECT_EQ(v.crossings.size(), c.crossings);
        EXPECT_EQ(v.repeatedPoints, c.repeats);
        EXPECT_EQ(v.spikes.size(), c.spikes);
        EXPECT_EQ(v.tooFewPoints, c.tooFew);
        const double expected = AreaOfWkt(shapely[i]["fixed"].get<std::string>());
        ASSERT_GE(expected, 0);
        EXPECT_NEAR(v.validArea_m2, expected, 1e-6 * std::max(1.0, expected));
        if (v.valid) {
            EXPECT_NEAR(v.validArea_m2, ComputeFigures(c.field).wgs84.area_m2, 1e-6 * expected);
        }
    }
}

TEST(Validity, CrossingIsWhereTheBoundaryCrosses) {
    // The bow-tie's two sides cross at the middle of the square.
    const Validity v = CheckValidity(Area(Ring({{0, 0}, {1, 1}, {1, 0}, {0, 1}})));
    ASSERT_EQ(v.crossings.size(), 1u);
    EXPECT_NEAR(v.crossings[0].lon, kLon + 0.5 * kStep, 1e-9);
    EXPECT_NEAR(v.crossings[0].lat, kLat + 0.5 * kStep, 1e-9);
}

TEST(Validity, ToleranceOfAHandWorkedSquare) {
    // A 100 m square (geodesic sides): boundary 400 m; at 1.25 m every metre of
    // it may lie 1.25 m in or out: 400 x 1.25 = 500 m²; at 2 m, 800 m².
    const GeographicLib::Geodesic& g = GeographicLib::Geodesic::WGS84();
    GeoPoint a;
    a.lat = 30;
    a.lon = 113;
    auto move = [&](const GeoPoint& from, double azimuth) {
        GeoPoint p;
        g.Direct(from.lat, from.lon, azimuth, 100, p.lat, p.lon);
        return p;
    };
    const GeoPoint b = move(a, 90);
    const FieldFile square = Area({a, b, move(b, 0), move(a, 0)});
    const struct {
        double accuracy;
        double band;
    } cases[] = {{kDefaultReceiverAccuracy_m, 500}, {2.0, 800}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.accuracy);
        const FieldFigures f = ComputeFigures(square, c.accuracy);
        EXPECT_NEAR(f.boundary_m, 400, 0.01);
        EXPECT_NEAR(f.areaTolerance_m2, c.band, 0.02);
    }
    // With a hole the band grows by the hole's boundary too.
    FieldFile holed = square;
    GeoPoint h0 = move(move(a, 90), 0);
    h0 = GeoPoint{(a.lon + h0.lon) / 2, (a.lat + h0.lat) / 2};
    const GeoPoint h1 = move(h0, 90), h2 = move(h1, 0), h3 = move(h0, 0);
    holed.holes.push_back({h0, h3, h2, h1});
    EXPECT_NEAR(ComputeFigures(holed).areaTolerance_m2, 1000, 0.1);
}

TEST(Validity, ToleranceText) {
    const struct {
        double area, band;
        const char* text;
        const char* mu;  ///< without its unit
    } cases[] = {
        {9485, 491, "9 485 m² ± 491 m²", "14.23 ± 0.74 "},
        {123456.4, 1234.6, "123 456 m² ± 1 235 m²", "185.18 ± 1.85 "},
        {12, 0.4, "12 m² ± 0 m²", "0.02 ± 0.00 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToleranceText(c.area, c.band), c.text);
        const std::string mu = ToleranceMuText(c.area, c.band);
        EXPECT_TRUE(mu.starts_with(c.mu)) << mu;
        EXPECT_GT(mu.size(), std::string(c.mu).size()) << "the unit follows: " << mu;
    }
}

}  // namespace
}  // namespace dorvane::geo
