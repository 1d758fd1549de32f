// Every shape of a file read through OGR against ogr2ogr's own reading of the
// same file (in a projected system too), holes against Planimeter, hostile
// files, and what a GPX written by other programs measures.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "common/run_command.h"
#include "convert/temp_folder.h"
#include "geo/figures.h"
#include "geo/ogr_reader.h"

namespace dorvane::geo {
namespace {

using nlohmann::json;
using test::RunCommand;

constexpr int kFields = 50;
/// Field 1 of the village file has a pond in it.
constexpr double kFieldSide = 0.001;  // degrees
constexpr double kPondFrom = 0.0003, kPondTo = 0.0006;

std::string Quoted(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

// A village's fields as GeoJSON: 50 squares named F01..F50 in rows of ten,
// F01 with a pond, and a lane (a line) beside them.
void WriteVillage(const std::filesystem::path& path) {
    json features = json::array();
    for (int i = 0; i < kFields; ++i) {
        const double x = 116.0 + (i % 10) * 2 * kFieldSide, y = 40.0 + (i / 10) * 2 * kFieldSide;
        json rings = json::array({json::array({{x, y},
                                               {x + kFieldSide, y},
                                               {x + kFieldSide, y + kFieldSide},
                                               {x, y + kFieldSide},
                                               {x, y}})});
        if (i == 0)
            rings.push_back(json::array({{x + kPondFrom, y + kPondFrom},
                                         {x + kPondFrom, y + kPondTo},
                                         {x + kPondTo, y + kPondTo},
                                         {x + kPondTo, y + kPondFrom},
                                         {x + kPondFrom, y + kPondFrom}}));
        char name[8];
        std::snprintf(name, sizeof name, "F%02d", i + 1);
        features.push_back({{"type", "Feature"},
                            {"properties", {{"name", name}}},
                            {"geometry", {{"type", "Polygon"}, {"coordinates", rings}}}});
    }
    std::ofstream(path) << json{{"type", "FeatureCollection"}, {"features", features}}.dump();
}

// ogr2ogr's reading of `file` as GeoJSON on WGS84 longitude/latitude (a drawing
// declares no system: read as it is).
json OgrReading(const std::filesystem::path& file) {
    const std::string to = file.extension() == ".dxf" ? "" : "-t_srs EPSG:4326 ";
    const auto run = RunCommand("ogr2ogr -f GeoJSON " + to +
                                "-lco COORDINATE_PRECISION=12 /vsistdout/ " + Quoted(file) +
                                " 2>/dev/null");
    EXPECT_EQ(run.status, 0) << file;
    return json::parse(run.out, nullptr, false);
}

// The polygons of ogr2ogr's reading, one per polygon part, as rings of points.
std::vector<std::vector<std::vector<std::array<double, 2>>>> Polygons(const json& fc) {
    std::vector<std::vector<std::vector<std::array<double, 2>>>> out;
    auto take = [&](const json& rings) {
        std::vector<std::vector<std::array<double, 2>>> p;
        for (const json& r : rings) {
            std::vector<std::array<double, 2>> ring;
            for (const json& c : r) ring.push_back({c[0].get<double>(), c[1].get<double>()});
            p.push_back(ring);
        }
        out.push_back(p);
    };
    for (const json& f : fc["features"]) {
        const json& g = f["geometry"];
        if (g.is_null()) continue;
        if (g["type"] == "Polygon") take(g["coordinates"]);
        if (g["type"] == "MultiPolygon")
            for (const json& part : g["coordinates"]) take(part);
    }
    return out;
}

TEST(OgrReader, EveryFormatAgreesWithOgrsOwnReading) {
    testing::TempFolder dir;
    const auto source = dir / "village.geojson";
    WriteVillage(source);
    const struct {
        const char* file;
        const char* driver;
        const char* options;
    } cases[] = {
        {"village.shp", "ESRI Shapefile", ""},
        {"village.gpkg", "GPKG", ""},
        {"village.json", "GeoJSON", ""},
        {"village.kml", "LIBKML", ""},
        {"village.kmz", "LIBKML", ""},
        {"village_simple.kml", "KML", ""},
        {"village.csv", "CSV", "-lco GEOMETRY=AS_WKT"},
        {"village.dxf", "DXF", ""},
        // Projected: UTM zone 50 and the Chinese Gauss-Krueger 3-degree zone 39.
        {"village_utm.shp", "ESRI Shapefile", "-t_srs EPSG:32650"},
        {"village_gk.gpkg", "GPKG", "-t_srs EPSG:4527"},
        {"village_utm.geojson", "GeoJSON", "-t_srs EPSG:32650"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto file = dir / c.file;
        // DXF has no attribute fields and says so; the file is still written.
        RunCommand(std::string("ogr2ogr -f '") + c.driver + "' " + c.options + " " + Quoted(file) +
                   " " + Quoted(source) + " 2>/dev/null");
        ASSERT_TRUE(std::filesystem::exists(file));
        ShapeSet set;
        const ReadResult r = ReadShapes(file, set);
        ASSERT_TRUE(r.ok()) << r.message;
        EXPECT_TRUE(set.problems.empty());
        const auto ogr = Polygons(OgrReading(file));
        ASSERT_EQ(ogr.size(), static_cast<std::size_t>(kFields));
        ASSERT_EQ(set.shapes.size(), ogr.size());
        for (std::size_t i = 0; i < ogr.size(); ++i) {
            const FieldFile& f = set.shapes[i];
            EXPECT_EQ(f.kind, FieldKind::kArea);
            EXPECT_EQ(f.shape, i);
            ASSERT_EQ(f.holes.size() + 1, ogr[i].size()) << "shape " << i;
            // OGR closes its rings; ours are open.
            ASSERT_EQ(f.points.size() + 1, ogr[i][0].size());
            for (std::size_t k = 0; k < f.points.size(); ++k) {
                EXPECT_NEAR(f.points[k].lon, ogr[i][0][k][0], 1e-9);
                EXPECT_NEAR(f.points[k].lat, ogr[i][0][k][1], 1e-9);
            }
            for (std::size_t h = 0; h < f.holes.size(); ++h)
                EXPECT_EQ(f.holes[h].size() + 1, ogr[i][h + 1].size());
        }
        // Labels from the features' names where the format keeps them (DXF has no attributes).
        if (std::string(c.driver) != "DXF") {
            EXPECT_EQ(set.shapes.front().name, "F01");
            EXPECT_EQ(set.shapes.back().name, "F50");
            EXPECT_EQ(ShapeDisplayName("village", set.shapes[1]), "village › F02");
        }
        EXPECT_EQ(set.shapes.front().holes.size(), 1u);
    }
}

// Planimeter (geographiclib-tools) on a ring: its area in m².
double PlanimeterArea(const std::vector<GeoPoint>& ring) {
    testing::TempFolder dir;
    {
        std::ofstream in(dir / "ring.txt");
        in.precision(17);
        for (const GeoPoint& p : ring) in << p.lat << ' ' << p.lon << '\n';
    }
    const auto run = RunCommand("Planimeter -p 12 --input-file " + Quoted(dir / "ring.txt"));
    EXPECT_EQ(run.status, 0) << "Planimeter (geographiclib-tools) is needed";
    std::istringstream s(run.out);
    int n = 0;
    double perimeter = 0, area = 0;
    s >> n >> perimeter >> area;
    return std::fabs(area);
}

TEST(OgrReader, HoleIsSubtractedAsPlanimeterMeasuresBothRings) {
    testing::TempFolder dir;
    WriteVillage(dir / "village.geojson");
    const struct {
        const char* file;
        const char* options;
    } cases[] = {{"village.geojson", nullptr}, {"pond_utm.shp", "-t_srs EPSG:32650"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.options) {
            ASSERT_EQ(RunCommand(std::string("ogr2ogr ") + c.options + " " + Quoted(dir / c.file) +
                                 " " + Quoted(dir / "village.geojson"))
                          .status,
                      0);
        }
        ShapeSet set;
        ASSERT_TRUE(ReadShapes(dir / c.file, set).ok());
        const FieldFile& f = set.shapes.at(0);
        ASSERT_EQ(f.holes.size(), 1u);
        const double expected = PlanimeterArea(f.points) - PlanimeterArea(f.holes[0]);
        const FieldFigures r = ComputeFigures(f);
        EXPECT_NEAR(r.wgs84.area_m2, expected, 1e-6 * expected);
        EXPECT_EQ(r.holes, 1u);
        // The pond is 0.3 x 0.3 of the field's side: 9 % of it.
        EXPECT_NEAR(r.wgs84.area_m2 / PlanimeterArea(f.points), 0.91, 0.001);
    }
}

TEST(OgrReader, HostileFilesGiveClearErrors) {
    testing::TempFolder dir;
    WriteVillage(dir / "village.geojson");
    ASSERT_EQ(RunCommand("ogr2ogr " + Quoted(dir / "short.shp") + " " +
                         Quoted(dir / "village.geojson"))
                  .status,
              0);
    // The .dbf cut after its header and six records.
    std::filesystem::resize_file(dir / "short.dbf", 600);
    std::ofstream(dir / "notzip.kmz") << "<kml>not a zip archive</kml>";
    {
        std::ofstream deep(dir / "deep.geojson");
        deep << "{\"type\":\"FeatureCollection\",\"features\":" << std::string(10000, '[')
             << std::string(10000, ']') << "}";
    }
    ASSERT_EQ(RunCommand("ogr2ogr " + Quoted(dir / "site.shp") + " " +
                         Quoted(dir / "village.geojson"))
                  .status,
              0);
    // A site grid with no tie to the Earth: PROJ has no way to WGS84.
    std::ofstream(dir / "site.prj")
        << "LOCAL_CS[\"site grid\",LOCAL_DATUM[\"site\",0],UNIT[\"metre\",1],"
           "AXIS[\"X\",EAST],AXIS[\"Y\",NORTH]]";
    std::ofstream(dir / "points.gpx")
        << "<gpx version=\"1.1\"><wpt lat=\"40\" lon=\"116\"/><wpt lat=\"40.1\" lon=\"116\"/></gpx>";

    const struct {
        const char* file;
        bool ok;
        ReadError error;
        const char* says;
        std::size_t shapes;
    } cases[] = {
        {"short.shp", true, ReadError::kNone, "features 7 to 50 cannot be read", 6},
        {"notzip.kmz", false, ReadError::kNotRecognised, "zip", 0},
        {"deep.geojson", false, ReadError::kNotRecognised, "GeoJSON", 0},
        {"site.shp", false, ReadError::kBadCrs, "site grid", 0},
        {"points.gpx", false, ReadError::kNoShapes, "no track or field", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ShapeSet set;
        const ReadResult r = ReadShapes(dir / c.file, set);
        EXPECT_EQ(r.ok(), c.ok);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(set.shapes.size(), c.shapes);
        const std::string said = c.ok ? (set.problems.empty() ? "" : set.problems[0].message)
                                      : r.message;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        if (c.ok) {
            ASSERT_FALSE(set.problems.empty());
            EXPECT_EQ(set.problems[0].feature, 7u);
        }
    }
}

TEST(OgrReader, TablesAndDrawingsHoldLinesAndFields) {
    testing::TempFolder dir;
    std::ofstream(dir / "rows.csv") << "name,lon,lat\na,116.0,40.0\nb,116.001,40.0\nc,116.001,40.001\n";
    std::ofstream(dir / "wkt.csv")
        << "WKT,name\n\"POLYGON ((116 40,116.001 40,116.001 40.001,116 40))\",One\n"
           "\"LINESTRING (116 40,116.01 40)\",Lane\n";
    std::ofstream(dir / "lines.geojson")
        << R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"name":"L"},)"
           R"("geometry":{"type":"MultiLineString","coordinates":[[[116,40],[116.001,40]],[[116.002,40],[116.003,40]]]}},)"
           R"({"type":"Feature","properties":{"name":"bad"},"geometry":{"type":"LineString","coordinates":[[500,0],[1,1]]}}]})";
    const struct {
        const char* file;
        std::vector<FieldKind> kinds;
        std::vector<std::size_t> points;
        std::size_t problems;
    } cases[] = {
        {"rows.csv", {FieldKind::kTrack}, {3}, 0},
        {"wkt.csv", {FieldKind::kArea, FieldKind::kTrack}, {3, 2}, 0},
        {"lines.geojson", {FieldKind::kTrack}, {4}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ShapeSet set;
        const ReadResult r = ReadShapes(dir / c.file, set);
        ASSERT_TRUE(r.ok()) << r.message;
        ASSERT_EQ(set.shapes.size(), c.kinds.size());
        for (std::size_t i = 0; i < c.kinds.size(); ++i) {
            EXPECT_EQ(set.shapes[i].kind, c.kinds[i]);
            EXPECT_EQ(set.shapes[i].points.size(), c.points[i]);
        }
        EXPECT_EQ(set.problems.size(), c.problems);
        if (c.problems) {
            EXPECT_EQ(set.problems[0].feature, 2u);
        }
    }
}

std::string Gpx(const std::string& body) {
    return "<?xml version=\"1.0\"?><gpx version=\"1.1\" creator=\"other\" "
           "xmlns=\"http://www.topografix.com/GPX/1/1\">" +
           body + "</gpx>";
}

std::string Pt(const char* tag, double lon, const char* time) {
    std::string s = std::string("<") + tag + " lat=\"40\" lon=\"" + std::to_string(lon) + "\">";
    if (time) s += std::string("<time>") + time + "</time>";
    return s + "</" + tag + ">";
}

TEST(OgrReader, GpxMeasuresTheRecordedTrack) {
    const std::string track = "<trk><name>walked</name><trkseg>" +
                              Pt("trkpt", 116.0, "2024-05-01T08:00:00Z") +
                              Pt("trkpt", 116.001, "2024-05-01T08:00:10Z") + "</trkseg></trk>";
    const std::string route = "<rte><name>planned</name>" + Pt("rtept", 116.0, nullptr) +
                              Pt("rtept", 116.01, nullptr) + "</rte>";
    const std::string backwards = "<trk><trkseg>" + Pt("trkpt", 116.0, "2024-05-01T08:00:10Z") +
                                  Pt("trkpt", 116.001, "2024-05-01T08:00:00Z") +
                                  Pt("trkpt", 116.002, "2024-05-01T08:00:20Z") +
                                  Pt("trkpt", 116.003, "2024-05-01T08:00:15Z") +
                                  "</trkseg></trk>";
    const double leg = LegLength({116.0, 40}, {116.001, 40});
    const struct {
        const char* what;
        std::string body;
        bool ok;
        const char* name;
        double length;
        double duration;
        std::size_t breaks;
    } cases[] = {
        {"route beside the track", route + track, true, "walked", leg, 10, 0},
        {"track before the route", track + route, true, "walked", leg, 10, 0},
        {"route alone", route, true, "planned", LegLength({116.0, 40}, {116.01, 40}), 0, 0},
        {"waypoints alone", "<wpt lat=\"40\" lon=\"116\"/>", false, "", 0, 0, 0},
        {"times out of order", backwards, true, "x.gpx", 3 * leg, 20, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = Gpx(c.body);
        ShapeSet set;
        const ReadResult r = ReadShapesBytes(
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), "x.gpx",
            set);
        ASSERT_EQ(r.ok(), c.ok) << r.message;
        if (!c.ok) {
            EXPECT_EQ(r.error, ReadError::kNoShapes);
            EXPECT_NE(r.message.find("no track or field"), std::string::npos);
            continue;
        }
        ASSERT_EQ(set.shapes.size(), 1u);
        EXPECT_EQ(set.shapes[0].name, c.name);
        const FieldFigures f = ComputeFigures(set.shapes[0]);
        EXPECT_NEAR(f.wgs84.length_m, c.length, 1e-6);
        ASSERT_TRUE(f.track);
        EXPECT_DOUBLE_EQ(f.track->duration_s, c.duration);
        EXPECT_GE(f.track->duration_s, 0);
        EXPECT_EQ(f.track->timeOrderBreaks, c.breaks);
    }
}

// A read is stopped through its flag, looked at before each feature: a
// flag set from the start stops it at once, one set by the progress
// callback part-way stops it there; nothing of the file is kept. Unset, the
// same file reads whole.
TEST(OgrReader, AStopFlagEndsTheRead) {
    testing::TempFolder dir;
    constexpr int kFeatures = 2000;
    json features = json::array();
    for (int i = 0; i < kFeatures; ++i) {
        const double x = 116 + (i % 50) * 0.002, y = 40 + (i / 50) * 0.002;
        features.push_back({{"type", "Feature"},
                            {"properties", {{"name", "F" + std::to_string(i)}}},
                            {"geometry",
                             {{"type", "Polygon"},
                              {"coordinates", json::array({json::array(
                                                  {{x, y}, {x + 0.001, y}, {x + 0.001, y + 0.001},
                                                   {x, y + 0.001}, {x, y}})})}}}});
    }
    const auto path = dir / "many.geojson";
    std::ofstream(path) << json{{"type", "FeatureCollection"}, {"features", features}}.dump();
    const struct {
        const char* what;
        bool setAtStart;
        double stopAt;  ///< share of the file at which the progress callback sets the flag (> 1: never)
        ReadError want;
    } cases[] = {{"never", false, 2.0, ReadError::kNone},
                 {"at once", true, 2.0, ReadError::kCancelled},
                 {"part-way", false, 0.3, ReadError::kCancelled}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> stop{c.setAtStart};
        double last = 0;
        ShapeSet set;
        const ReadResult r = ReadShapes(
            path, set,
            [&](double share) {
                last = share;
                if (share >= c.stopAt) stop = true;
            },
            &stop);
        EXPECT_EQ(r.error, c.want) << r.message;
        if (c.want == ReadError::kNone) {
            EXPECT_EQ(set.shapes.size(), std::size_t{kFeatures});
            EXPECT_EQ(last, 1.0);
        } else {
            EXPECT_TRUE(set.shapes.empty());
            EXPECT_LT(last, 0.5);  // it went no further than where it was told to stop
        }
    }
}

}  // namespace
}  // namespace dorvane::geo
