// GPX and KML as other programs read them: the GPX 1.1 schema (xmllint, with
// the schema kept in tests/data/schemas), gpsbabel and GDAL's ogrinfo. A test
// whose tool is not installed skips, saying why; the schema test needs
// xmllint (libxml2-utils, installed by the Makefile) and never skips.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>

#include "common/run_command.h"
#include "convert/area_measure.h"
#include "convert/gpx_writer.h"
#include "convert/kml_writer.h"
#include "convert/temp_folder.h"
#include "convert/xml_text.h"

namespace dorvane {
namespace {

using testing::TempFolder;

const std::string kSchema = DORVANE_SOURCE_DIR "/tests/data/schemas/gpx-1.1.xsd";
const std::string kKmlSchema = DORVANE_SOURCE_DIR "/tests/data/schemas/kml-2.1.xsd";

bool HaveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

using test::RunCommand;

std::string Quote(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

std::vector<TrackPoint> SampleTrack() {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> d(-1, 1);
    std::vector<TrackPoint> pts;
    for (int i = 0; i < 200; ++i)
        pts.push_back({-33.5 + d(rng), 151.25 + d(rng), 100 * d(rng), 1600000000 + 7 * i, 0, 0});
    pts[10].time = -5;  // written without a time element
    return pts;
}

void WriteText(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

TEST(ExternalReaders, GpxValidatesAgainstTheSchema) {
    ASSERT_TRUE(HaveTool("xmllint")) << "xmllint not installed (Debian package libxml2-utils)";
    ASSERT_TRUE(std::filesystem::is_regular_file(kSchema)) << "GPX 1.1 schema missing: " << kSchema;
    TempFolder dir;
    const std::vector<TrackPoint> none;
    const struct {
        const char* file;
        std::string doc;
    } docs[] = {
        {"track.gpx", GpxDocument("R&D<1> 轨迹.gpx", SampleTrack())},
        {"empty.gpx", GpxDocument("empty.gpx", none)},
    };
    for (const auto& d : docs) {
        WriteText(dir / d.file, d.doc);
        const auto [status, out] = RunCommand("xmllint --noout --schema " + Quote(kSchema) + " " +
                                              Quote(dir / d.file) + " 2>&1");
        EXPECT_EQ(status, 0) << d.file << ": " << out;
    }
}

TEST(ExternalReaders, GpsbabelReadsTheGpxBackPointForPoint) {
    if (!HaveTool("gpsbabel")) GTEST_SKIP() << "gpsbabel not installed (Debian package gpsbabel)";
    TempFolder dir;
    const auto pts = SampleTrack();
    WriteText(dir / "t.gpx", GpxDocument("t.gpx", pts));
    const auto [status, csv] = RunCommand("TZ=UTC gpsbabel -t -i gpx -f " + Quote(dir / "t.gpx") +
                                          " -o unicsv,utc=0 -F - 2>&1");
    ASSERT_EQ(status, 0) << csv;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_TRUE(line.starts_with("No,Latitude,Longitude,Altitude,Date,Time")) << line;
    std::size_t i = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ASSERT_LT(i, pts.size());
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string cell; std::getline(ss, cell, ',');) f.push_back(cell);
        if (line.back() == ',') f.push_back("");
        ASSERT_GE(f.size(), 6u) << line;
        EXPECT_NEAR(std::stod(f[1]), pts[i].latitude, 1e-6) << line;
        EXPECT_NEAR(std::stod(f[2]), pts[i].longitude, 1e-6) << line;
        EXPECT_NEAR(std::stod(f[3]), pts[i].elevation, 0.05) << line;
        const auto t = GpxTimeText(pts[i].time);
        if (t) {
            std::string expected = t->substr(0, 10) + "," + t->substr(11, 8);
            expected[4] = expected[7] = '/';
            EXPECT_EQ(f[4] + "," + f[5], expected) << line;
        } else {
            EXPECT_EQ(f[4] + f[5], "") << line;
        }
        ++i;
    }
    EXPECT_EQ(i, pts.size());
}

AreaFile SampleField() {
    AreaFile a;
    a.header.SetFileName("A&B");
    a.header.method = static_cast<std::int16_t>(AreaMethod::kVertex);
    const float corners[][3] = {
        {116.1f, 39.1f, 10}, {116.2f, 39.1f, 11}, {116.2f, 39.2f, 12}, {116.1f, 39.2f, 13}};
    for (const auto& c : corners) {
        AreaPoint p;
        p.longitude = c[0];
        p.latitude = c[1];
        p.altitude = c[2];
        a.points.push_back(p);
    }
    return a;
}

std::string WriteField(const TempFolder& dir) {
    const AreaFile a = SampleField();
    WriteText(dir / "field.kml", KmlDocument(a, "field&1.kml", MeasureArea(a)));
    return (dir / "field.kml").string();
}

// The KML keeps the layout the handheld's users know: the 2.1 namespace with an
// ExtendedData block (a 2.2 element) after the name and the Style after the geometry.
// The schema validator stops checking a placemark at its first unexpected element, so
// those two blocks are taken out and the rest must be valid KML 2.1: a misspelt element
// or a bad coordinate list anywhere else fails.
std::string WithoutKnownDepartures(const std::string& kml) {
    static const std::regex blocks(R"(<(ExtendedData|Style)\b[^>]*>[\s\S]*?</\1>)");
    return std::regex_replace(kml, blocks, "");
}

TEST(ExternalReaders, KmlIsValid21ApartFromItsKnownLayout) {
    ASSERT_TRUE(HaveTool("xmllint")) << "xmllint not installed (Debian package libxml2-utils)";
    ASSERT_TRUE(std::filesystem::is_regular_file(kKmlSchema)) << "KML 2.1 schema missing";
    TempFolder dir;
    AreaFile harvest = SampleField();
    harvest.header.method = static_cast<std::int16_t>(AreaMethod::kHarvesting);
    const std::string vertexKml = KmlDocument(SampleField(), "v.kml", MeasureArea(SampleField()));
    const struct {
        const char* file;
        std::string doc;
        bool valid;
    } docs[] = {
        {"vertex.kml", WithoutKnownDepartures(vertexKml), true},
        {"harvest.kml", WithoutKnownDepartures(KmlDocument(harvest, "h.kml", MeasureArea(harvest))),
         true},
        // The check itself: the writer's layout as it stands, and a misspelt element.
        {"as-written.kml", vertexKml, false},
        {"misspelt.kml",
         std::regex_replace(WithoutKnownDepartures(vertexKml), std::regex("Polygon>"), "Polgon>"),
         false},
    };
    for (const auto& d : docs) {
        ASSERT_NE(d.doc.find("<coordinates>"), std::string::npos) << d.file;
        WriteText(dir / d.file, d.doc);
        const auto [status, out] = RunCommand("xmllint --noout --schema " + Quote(kKmlSchema) +
                                              " " + Quote(dir / d.file) + " 2>&1");
        EXPECT_EQ(status == 0, d.valid) << d.file << ": " << out;
    }
}

TEST(ExternalReaders, GpsbabelReadsTheKmlPolygon) {
    if (!HaveTool("gpsbabel")) GTEST_SKIP() << "gpsbabel not installed (Debian package gpsbabel)";
    TempFolder dir;
    const std::string file = WriteField(dir);
    const auto [status, csv] =
        RunCommand("gpsbabel -t -i kml -f '" + file + "' -o unicsv -F - 2>&1");
    ASSERT_EQ(status, 0) << csv;
    const AreaFile a = SampleField();
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    std::size_t i = 0;
    while (std::getline(in, line)) {
        ASSERT_LT(i, a.points.size());
        double lat, lon, alt;
        int no;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d,%lf,%lf,%lf", &no, &lat, &lon, &alt), 4) << line;
        EXPECT_NEAR(lat, a.points[i].latitude, 1e-6);
        EXPECT_NEAR(lon, a.points[i].longitude, 1e-6);
        EXPECT_NEAR(alt, a.points[i].altitude, 0.05);
        ++i;
    }
    EXPECT_EQ(i, a.points.size());
}

TEST(ExternalReaders, OgrReadsTheKmlPolygon) {
    if (!HaveTool("ogrinfo")) GTEST_SKIP() << "ogrinfo not installed (Debian package gdal-bin)";
    TempFolder dir;
    const std::string file = WriteField(dir);
    const auto [status, out] = RunCommand("ogrinfo -ro -al '" + file + "' 2>&1");
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("field&1.kml"), std::string::npos) << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("POLYGON Z \\(\\(([^)]*)\\)\\)"))) << out;
    // ogr closes the open ring itself; the corners come back in order.
    std::istringstream coords(m[1].str());
    const AreaFile a = SampleField();
    std::string triple;
    std::size_t i = 0;
    while (std::getline(coords, triple, ',')) {
        double lon, lat, alt;
        ASSERT_EQ(std::sscanf(triple.c_str(), "%lf %lf %lf", &lon, &lat, &alt), 3) << triple;
        const AreaPoint& p = a.points[i % a.points.size()];
        EXPECT_NEAR(lon, p.longitude, 1e-6);
        EXPECT_NEAR(lat, p.latitude, 1e-6);
        EXPECT_NEAR(alt, p.altitude, 0.05);
        ++i;
    }
    EXPECT_GE(i, a.points.size());
}

}  // namespace
}  // namespace dorvane
