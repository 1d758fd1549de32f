// dorvane-cli export for a land office, read back by GDAL's own tools:
// the Shapefile's .prj by gdalsrsinfo, the GeoPackage and the DXF by ogrinfo,
// the coordinate text by dorvane-cli info.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>

#include "convert/temp_folder.h"
#include "land/land_rig.h"
#include "names/encoding.h"

namespace dorvane::landtest {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Kml(const std::string& name, const std::vector<geo::GeoPoint>& ring) {
    std::string coords;
    for (const auto& p : ring) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.9f,%.9f ", p.lon, p.lat);
        coords += buf;
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">"
           "<Document><Placemark><name>" + name +
           "</name><Polygon><outerBoundaryIs><LinearRing><coordinates>" + coords +
           "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark></Document></kml>\n";
}

class LandCli : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile((dir / "west.kml").string(), Kml("西地", Field(116.3, 40.1)));
        WriteFile((dir / "east.kml").string(), Kml("东地", Field(117.6, 40.1)));
        WriteFile((dir / "beyond.kml").string(), Kml("远地", Field(119.2, 40.1)));
        fs::create_directories(dir / "cfg" / "dorvane");
        WriteFile((dir / "cfg" / "dorvane" / "bill.conf").string(), "seller-name=张家农机\n");
    }
    test::CommandRun Cli(const std::string& args) {
        return test::RunCommand("cd '" + dir.path().string() + "' && LANG=C LC_ALL=C TZ=UTC " +
                                "XDG_CONFIG_HOME='" + (dir / "cfg").string() + "' '" +
                                DORVANE_BINARY_DIR + "/bin/dorvane-cli' " + args + " 2>&1");
    }
    test::CommandRun Tool(const std::string& cmd) { return test::RunCommand(cmd + " 2>&1"); }
    TempFolder dir;
};

TEST_F(LandCli, ShapefileAndGeoPackageInTheChosenZone) {
    struct {
        const char* crs;
        const char* format;
        const char* out;
        int epsg;
        std::size_t eastingDigits;
    } table[] = {
        {"auto", "shp", "auto_shp", 4527, 8},
        {"auto-cm", "shp", "cm_shp", 4548, 6},
        {"EPSG:4527", "gpkg", "z.gpkg", 4527, 8},
        {"EPSG:4490", "shp", "geo_shp", 4490, 3},
        {"auto6", "gpkg", "six.gpkg", 4498, 8},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.crs);
        const auto r = Cli(std::string("export west.kml east.kml --to ") + t.format + " --crs " +
                           t.crs + " -o " + t.out);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.find("outside zone"), std::string::npos) << r.out;
        const std::string epsg = "EPSG:" + std::to_string(t.epsg);
        std::string layer = (dir / t.out).string();
        if (std::string(t.format) == "shp") {
            EXPECT_EQ(Slurp(dir / t.out / "fields.cpg"), "UTF-8");
            // The ESRI form desktop GIS programs read, identified as the code.
            const std::string prj = Slurp(dir / t.out / "fields.prj");
            EXPECT_EQ(prj.rfind("PROJCS[", 0) == 0 || prj.rfind("GEOGCS[", 0) == 0, true) << prj;
            const auto id = Tool("gdalsrsinfo -e '" + (dir / t.out / "fields.prj").string() + "'");
            EXPECT_NE(id.out.find(epsg + "\n"), std::string::npos) << id.out;
            layer = (dir / t.out / "fields.shp").string();
        } else {
            const auto so = Tool("ogrinfo -so -al '" + layer + "'");
            EXPECT_NE(so.out.find("ID[\"EPSG\"," + std::to_string(t.epsg) + "]"), std::string::npos)
                << so.out;
        }
        // Every easting has the digits of its kind; the west field lies west
        // of the central meridian (117), the east one east of it.
        const auto all = Tool("ogrinfo -al -q '" + layer + "'");
        const std::regex poly(R"(name \(String\) = (\S+)[\s\S]*?POLYGON \(\(([0-9.]+) ([0-9.]+))");
        std::size_t seen = 0;
        for (std::sregex_iterator it(all.out.begin(), all.out.end(), poly), end; it != end; ++it) {
            ++seen;
            const std::string e = (*it)[2];
            EXPECT_EQ(e.find('.'), t.eastingDigits) << e;
            if (t.epsg == 4490) continue;
            const double local = std::fmod(std::stod(e), 1e6);
            EXPECT_EQ(local < 500000, (*it)[1] == "西地") << (*it)[1] << " " << e;
            EXPECT_EQ((*it)[3].str().find('.'), 7u);
        }
        EXPECT_EQ(seen, 2u) << all.out;
    }
}

// A village's file of many fields is exported whole: every polygon, every
// part of a multipolygon, a field's hole kept; a feature with nothing to
// measure is named on stderr and the rest still written.
TEST_F(LandCli, EveryShapeOfAFileOfManyFields) {
    WriteFile((dir / "village.geojson").string(), R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"name":"North"},"geometry":{"type":"Polygon","coordinates":[
 [[116.300,39.900],[116.302,39.900],[116.302,39.902],[116.300,39.902],[116.300,39.900]]]}},
{"type":"Feature","properties":{"name":"Pond"},"geometry":{"type":"Polygon","coordinates":[
 [[116.303,39.900],[116.306,39.900],[116.306,39.903],[116.303,39.903],[116.303,39.900]],
 [[116.304,39.901],[116.304,39.902],[116.305,39.902],[116.305,39.901],[116.304,39.901]]]}},
{"type":"Feature","properties":{"name":"Split"},"geometry":{"type":"MultiPolygon","coordinates":[
 [[[116.300,39.904],[116.301,39.904],[116.301,39.905],[116.300,39.905],[116.300,39.904]]],
 [[[116.302,39.904],[116.303,39.904],[116.303,39.905],[116.302,39.905],[116.302,39.904]]]]}},
{"type":"Feature","properties":{"name":"Broken"},"geometry":{"type":"Polygon","coordinates":[
 [[116.300,95.0],[116.301,95.0],[116.301,95.1],[116.300,95.0]]]}}
]})");
    struct {
        const char* format;
        const char* out;
        const char* layer;  // what ogrinfo reads
    } table[] = {
        {"geojson", "v.geojson", "v.geojson"},
        {"gpkg", "v.gpkg", "v.gpkg"},
        {"shp", "v_shp", "v_shp/fields.shp"},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.format);
        const auto r = Cli(std::string("export village.geojson --to ") + t.format + " -o " + t.out);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("village.geojson: feature 4"), std::string::npos) << r.out;
        const auto all = Tool("ogrinfo -al -q '" + (dir / t.layer).string() + "'");
        for (const char* name : {"North", "Pond", "Split [1]", "Split [2]"})
            EXPECT_NE(all.out.find(std::string("= ") + name + "\n"), std::string::npos) << name << "\n" << all.out;
        EXPECT_EQ(all.out.find("Broken"), std::string::npos) << all.out;
        // The pond's field has its hole: a polygon of two rings.
        EXPECT_NE(all.out.find("POLYGON ((116.303 39.9"), std::string::npos) << all.out;
        EXPECT_NE(all.out.find("),(116.304"), std::string::npos) << all.out;
    }
}

TEST_F(LandCli, DxfInMetresWithNumbersAndLabels) {
    const auto r = Cli("export west.kml east.kml --to dxf --crs auto -o f.dxf");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string dxf = Slurp(dir / "f.dxf");
    EXPECT_NE(dxf.find("$INSUNITS\n 70\n     6\n"), std::string::npos);
    const auto all = Tool("ogrinfo -al -q '" + (dir / "f.dxf").string() + "'");
    struct {
        const char* text;
    } expected[] = {{"Layer (String) = boundary"}, {"Layer (String) = point_numbers"},
                    {"Layer (String) = field_labels"}, {"Text (String) = J1\n"},
                    {"Text (String) = J5\n"}, {"Text (String) = 西地 "}, {"Text (String) = 东地 "}};
    for (const auto& e : expected) EXPECT_NE(all.out.find(e.text), std::string::npos) << e.text;
    // Metres: every coordinate is a prefixed easting and a northing.
    const std::regex point(R"(POINT \(([0-9.]+) ([0-9.]+)\))");
    std::size_t points = 0;
    for (std::sregex_iterator it(all.out.begin(), all.out.end(), point), end; it != end; ++it) {
        ++points;
        EXPECT_EQ((*it)[1].str().rfind("39", 0), 0u) << (*it)[1];
        EXPECT_GT(std::stod((*it)[2]), 4.0e6);
    }
    EXPECT_EQ(points, 2u * 5 + 2);  // five numbers and a label each
    // The label says the CGCS2000 area in hectares.
    EXPECT_TRUE(std::regex_search(all.out, std::regex(R"(Text \(String\) = 西地 [0-9]+\.[0-9]{4} ha)")));
}

TEST_F(LandCli, CoordinateTextInGbkAndUtf8ReadBackByInfo) {
    struct {
        const char* args;
        bool gbk;
    } table[] = {{"--to txt -o gbk.txt", true}, {"--to txt --encoding utf-8 -o utf8.txt", false}};
    for (const auto& t : table) {
        SCOPED_TRACE(t.args);
        const auto r = Cli(std::string("export west.kml east.kml ") + t.args);
        ASSERT_EQ(r.status, 0) << r.out;
        // The summary: the ellipsoidal area beside the plane area.
        EXPECT_NE(r.out.find("on the CGCS2000 ellipsoid"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("EPSG:4527"), std::string::npos) << r.out;
        const std::string out = std::string(t.args).substr(std::string(t.args).rfind(' ') + 1);
        const std::string bytes = Slurp(dir / out);
        EXPECT_EQ(IsValidUtf8(bytes), !t.gbk);
        const std::string text = DecodeUtf8OrGbk(bytes);
        EXPECT_NE(text.find("数据产生单位=张家农机\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find("带号=39\r\n"), std::string::npos);
        EXPECT_NE(text.find(",1,西地,面,,,,@"), std::string::npos);
        EXPECT_TRUE(std::regex_search(text, std::regex(R"(\nJ1,1,[0-9]{7}\.[0-9]{3},39[0-9]{6}\.[0-9]{3}\r\n)")));
        const auto info = Cli("info --json " + out);
        EXPECT_EQ(info.status, 0) << info.out;
        EXPECT_NE(info.out.find("\"format\": \"land-text\""), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("\"name\": \"西地\""), std::string::npos) << info.out;
    }
}

TEST_F(LandCli, FieldsOutsideTheZoneAndBadChoices) {
    const auto r = Cli("export west.kml beyond.kml --to shp --crs EPSG:4527 -o w_shp");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("远地 lies outside zone 39 (its centre is in zone 40)"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("西地 lies outside"), std::string::npos) << r.out;
    struct {
        const char* args;
        int status;
        const char* says;
    } table[] = {
        {"export west.kml --to shp --crs utm -o a_shp", 2, "Unknown coordinate system: utm"},
        {"export west.kml --to shp --crs EPSG:999999 -o b_shp", 1, "EPSG:999999"},
        {"export west.kml --to txt --crs wgs84 -o c.txt", 2, "Gauss-Krueger zone"},
        {"export west.kml --to txt --encoding latin1 -o d.txt", 2, "--encoding"},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.args);
        const auto bad = Cli(t.args);
        EXPECT_EQ(bad.status, t.status) << bad.out;
        EXPECT_NE(bad.out.find(t.says), std::string::npos) << bad.out;
    }
    for (const char* left : {"a_shp", "b_shp", "c.txt", "d.txt"}) EXPECT_FALSE(fs::exists(dir / left)) << left;
}

// The CGCS2000 figures beside WGS84's, wherever a field's figures are shown:
// info --json, the figure lines (info and the field view), the ledger CSV.
TEST_F(LandCli, Cgcs2000FiguresInInfoFieldLinesAndLedger) {
    const auto ring = Field(117.6, 40.1);
    std::string input;
    for (const auto& p : ring) input += std::to_string(p.lat) + " " + std::to_string(p.lon) + "\n";
    // The KML keeps 9 decimals; Planimeter gets the same points.
    input.clear();
    for (const auto& p : ring) {
        char line[96];
        std::snprintf(line, sizeof line, "%.9f %.9f\n", p.lat, p.lon);
        input += line;
    }
    const std::string path = WriteFile((dir / "ring.txt").string(), input);
    const auto pl = Tool("Planimeter -e 6378137 1/298.257222101 -p 9 < '" + path + "'");
    double n = 0, perimeter = 0, area = 0;
    ASSERT_EQ(std::sscanf(pl.out.c_str(), "%lf %lf %lf", &n, &perimeter, &area), 3) << pl.out;
    area = std::fabs(area);

    const auto info = Cli("info --json east.kml");
    ASSERT_EQ(info.status, 0) << info.out;
    const std::regex number(R"("cgcs2000": \{\s*"area_m2": ([0-9.e+-]+),\s*"length_m": ([0-9.e+-]+))");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(info.out, m, number)) << info.out;
    EXPECT_NEAR(std::stod(m[1]), area, 1e-3);
    EXPECT_NEAR(std::stod(m[2]), perimeter, 1e-3);
    const std::regex gk(R"("gk3": \{\s*"area_m2": ([0-9.e+-]+),\s*"central_meridian": 117(\.0)?,\s*"zone": 39)");
    ASSERT_TRUE(std::regex_search(info.out, m, gk)) << info.out;
    EXPECT_NEAR(std::stod(m[1]), area, 4e-4 * area);
    EXPECT_NE(std::stod(m[1]), area);  // a plane is not the ellipsoid

    struct {
        const char* lang;
        const char* label;
    } labels[] = {{"C", "Area on CGCS2000 (for land offices): "},
                  {"C", "Gauss-Krueger 3-degree zone 39 plane area (central meridian 117 E): "},
                  {"zh_CN.UTF-8", "CGCS2000 面积（土地调查用）: "}};
    for (const auto& l : labels) {
        SCOPED_TRACE(l.label);
        const auto text = test::RunCommand("cd '" + dir.path().string() + "' && LANG=" + l.lang +
                                           " LC_ALL=" + l.lang + " '" + DORVANE_BINARY_DIR +
                                           "/bin/dorvane-cli' info east.kml 2>&1");
        EXPECT_NE(text.out.find(l.label), std::string::npos) << text.out;
    }

    const auto report = Cli("report west.kml east.kml --csv l.csv");
    ASSERT_EQ(report.status, 0) << report.out;
    const std::string csv = Slurp(dir / "l.csv");
    for (const char* head : {"CGCS2000 perimeter (m)", "CGCS2000 area (sq.m.)", "3-degree zone",
                             "Gauss-Krueger plane area (sq.m.)"})
        EXPECT_NE(csv.find(head), std::string::npos) << head;
    char cell[64];
    std::snprintf(cell, sizeof cell, ",%.2f,", area);
    EXPECT_NE(csv.find(cell), std::string::npos) << cell << "\n" << csv;
    EXPECT_NE(csv.find(",39,"), std::string::npos) << csv;
}

}  // namespace
}  // namespace dorvane::landtest
