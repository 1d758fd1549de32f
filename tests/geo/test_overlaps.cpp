// Overlaps against Shapely's intersections (python3-shapely), computed in a
// local projection with pyproj and measured back on WGS84 with GeographicLib.
#include <gtest/gtest.h>

#include <ogr_geometry.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/run_command.h"
#include "convert/temp_folder.h"
#include "geo/ogr_area.h"
#include "geo/overlaps.h"

namespace dorvane::geo {
namespace {

using nlohmann::json;

constexpr double kStep = 0.001;  // degrees

// A rectangle of steps from (lon, lat).
FieldFile Rect(double lon, double lat, double x0, double y0, double x1, double y1) {
    FieldFile f;
    f.kind = FieldKind::kArea;
    const double xs[] = {x0, x1, x1, x0}, ys[] = {y0, y0, y1, y1};
    for (int i = 0; i < 4; ++i) {
        GeoPoint p;
        p.lon = lon + xs[i] * kStep;
        p.lat = lat + ys[i] * kStep;
        f.points.push_back(p);
    }
    return f;
}

// Shapely's intersection of every pair, projected with pyproj into an
// azimuthal equidistant plane at the first field's first point and back.
std::vector<std::string> ShapelyIntersections(const std::vector<FieldFile>& fields,
                                              const std::vector<std::pair<int, int>>& pairs) {
    testing::TempFolder dir;
    json in = {{"fields", json::array()}, {"pairs", pairs}};
    for (const FieldFile& f : fields) {
        json ring = json::array();
        for (const GeoPoint& p : f.points) ring.push_back({p.lon, p.lat});
        json holes = json::array();
        for (const auto& h : f.holes) {
            json r = json::array();
            for (const GeoPoint& p : h) r.push_back({p.lon, p.lat});
            holes.push_back(r);
        }
        in["fields"].push_back({{"shell", ring}, {"holes", holes}});
    }
    std::ofstream(dir / "in.json") << in.dump();
    std::ofstream(dir / "check.py") << R"(import json, sys
from pyproj import Transformer
from shapely.geometry import Polygon
from shapely.ops import transform
c = json.load(open(sys.argv[1]))
out = []
for a, b in c["pairs"]:
    lon0, lat0 = c["fields"][a]["shell"][0]
    aeqd = "+proj=aeqd +lat_0=%.12f +lon_0=%.12f +ellps=WGS84" % (lat0, lon0)
    fwd = Transformer.from_crs("EPSG:4326", aeqd, always_xy=True).transform
    back = Transformer.from_crs(aeqd, "EPSG:4326", always_xy=True).transform
    pa = transform(fwd, Polygon(c["fields"][a]["shell"], c["fields"][a]["holes"]))
    pb = transform(fwd, Polygon(c["fields"][b]["shell"], c["fields"][b]["holes"]))
    out.append(transform(back, pa.intersection(pb)).wkt)
print(json.dumps(out))
)";
    const auto run = test::RunCommand("/usr/bin/python3 '" + (dir / "check.py").string() + "' '" +
                                      (dir / "in.json").string() + "'");
    EXPECT_EQ(run.status, 0) << "python3-shapely and python3-pyproj are needed";
    const json out = json::parse(run.out, nullptr, false);
    return out.is_array() ? out.get<std::vector<std::string>>() : std::vector<std::string>{};
}

double AreaOfWkt(const std::string& wkt) {
    OGRGeometry* g = nullptr;
    if (OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &g) != OGRERR_NONE || !g) return -1;
    std::unique_ptr<OGRGeometry> owned(g);
    return GeodesicAreaOf(*owned);
}

TEST(Overlaps, AgreeWithShapelyMeasuredByGeographicLib) {
    constexpr double kLon = 116.3, kLat = 39.9;
    FieldFile withPond = Rect(kLon, kLat, 10, 0, 14, 4);
    withPond.holes.push_back(Rect(kLon, kLat, 11, 1, 13, 3).points);
    const std::vector<FieldFile> fields = {
        Rect(kLon, kLat, 0, 0, 2, 2),          // 0
        Rect(kLon, kLat, 1, 1, 3, 3),          // 1: a quarter of 0
        Rect(kLon, kLat, 0.01, 0, 2, 2),       // 2: 0 measured twice
        Rect(kLon, kLat, 2, 0, 4, 1),          // 3: shares only edges with 0 and 1
        withPond,                              // 4
        Rect(kLon, kLat, 11.5, 1.5, 12.5, 2.5),  // 5: inside 4's pond
        Rect(kLon, kLat, 13, 3, 16, 6),        // 6: a corner of 4
        Rect(kLon, kLat, 100, 100, 101, 101),  // 7: far away
    };
    struct Expected {
        int a, b;
        bool twice;
    };
    const std::vector<Expected> expected = {{0, 1, false}, {0, 2, true}, {1, 2, false},
                                            {4, 6, false}};
    std::vector<const FieldFile*> ptrs;
    for (const FieldFile& f : fields) ptrs.push_back(&f);
    const std::vector<Overlap> found = FindOverlaps(ptrs);
    std::vector<std::pair<int, int>> pairs;
    for (const Expected& e : expected) pairs.emplace_back(e.a, e.b);
    const std::vector<std::string> shapely = ShapelyIntersections(fields, pairs);
    ASSERT_EQ(shapely.size(), expected.size());
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(std::to_string(expected[i].a) + " and " + std::to_string(expected[i].b));
        EXPECT_EQ(found[i].a, static_cast<std::size_t>(expected[i].a));
        EXPECT_EQ(found[i].b, static_cast<std::size_t>(expected[i].b));
        const double area = AreaOfWkt(shapely[i]);
        ASSERT_GT(area, 0);
        EXPECT_NEAR(found[i].overlap_m2, area, 1e-5 * area);
        EXPECT_EQ(found[i].measuredTwice, expected[i].twice);
        EXPECT_GT(found[i].shareOfSmaller, 0);
        EXPECT_LE(found[i].shareOfSmaller, 1);
    }
    // A quarter of the 2 x 2 square (both the same size).
    EXPECT_NEAR(found[0].shareOfSmaller, 0.25, 1e-3);
}

}  // namespace
}  // namespace dorvane::geo
