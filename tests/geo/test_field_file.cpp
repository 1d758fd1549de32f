// Readers of every kind of file: the handheld's, ours, and GPX and KML as
// other programs (gpsbabel, GDAL's ogr2ogr, a hand-written KML 2.2) write them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>

#include "convert/area_measure.h"
#include "convert/gpx_writer.h"
#include "convert/kml_writer.h"
#include "convert/temp_folder.h"
#include "convert/track_file.h"
#include "geo/figures.h"

namespace dorvane::geo {
namespace {

using dorvane::testing::TempFolder;

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void WriteText(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

int Shell(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}
bool HaveTool(const std::string& t) {
    return Shell("command -v " + t) == 0;
}

std::vector<TrackPoint> SampleTrack(int n = 50) {
    std::mt19937 rng(15);
    std::uniform_real_distribution<double> d(-0.01, 0.01);
    std::vector<TrackPoint> pts;
    for (int i = 0; i < n; ++i)
        pts.push_back({23.1 + i * 1e-4 + d(rng), 113.3 + d(rng), 20 + d(rng) * 100,
                       1700000000 + 2 * i, 0, 0});
    return pts;
}

AreaFile SampleArea(std::int16_t method = 1) {
    AreaFile a;
    a.header.SetFileName("F-01");
    a.header.method = method;
    a.header.lengthUnitPrice = 2.0f;
    a.header.areaUnitPrice = 0.5f;
    const float c[][2] = {
        {113.30f, 23.10f}, {113.302f, 23.10f}, {113.302f, 23.102f}, {113.30f, 23.102f}};
    for (const auto& xy : c) {
        AreaPoint p;
        p.longitude = xy[0];
        p.latitude = xy[1];
        p.altitude = 7;
        a.points.push_back(p);
    }
    return a;
}

// A rectangle of the handheld's floats, `dLon` x `dLat` degrees at 113.3 E 23.1 N.
AreaFile RectangleArea(float dLon, float dLat, float lengthPrice, float areaPrice) {
    AreaFile a = SampleArea(1);
    a.header.lengthUnitPrice = lengthPrice;
    a.header.areaUnitPrice = areaPrice;
    const float c[][2] = {{113.30f, 23.10f},
                          {113.30f + dLon, 23.10f},
                          {113.30f + dLon, 23.10f + dLat},
                          {113.30f, 23.10f + dLat}};
    for (std::size_t i = 0; i < 4; ++i) {
        a.points[i].longitude = c[i][0];
        a.points[i].latitude = c[i][1];
    }
    return a;
}

// "0.5" -> "0,5" inside every <value> (not in "sq.m."): the Windows program
// formatted through a locale with a decimal comma.
std::string WithDecimalCommas(std::string kml) {
    for (std::size_t at = kml.find("<value>"); at != std::string::npos;
         at = kml.find("<value>", at + 1)) {
        const std::size_t end = kml.find("</value>", at);
        for (std::size_t i = at + 8; i + 1 < end; ++i)
            if (kml[i] == '.' && std::isdigit(static_cast<unsigned char>(kml[i - 1])) &&
                std::isdigit(static_cast<unsigned char>(kml[i + 1])))
                kml[i] = ',';
    }
    return kml;
}

TEST(ReadField, OurKmlReadBackShowsTheHandheldsBillNotARecomputation) {
    // The KML shows unit prices with two decimals ("0.08" for 0.075), and a
    // total recomputed from them is 6.6 % off: the totals, figures and times
    // it shows are the ones read back.
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    struct Case {
        const char* what;
        float dLon, dLat, lengthPrice, areaPrice;
        bool commas;
        bool perKm, perKm2;
        bool priceRounded;  ///< the KML's "%.2f" is not the unit price
    } cases[] = {
        {"small field, prices of three decimals", 0.002f, 0.002f, 1.125f, 0.075f, false, false,
         false, true},
        {"above 1 km2 and 1 km: priced per km and km2", 0.011f, 0.01f, 0.9f, 0.09f, false, true,
         true, false},
        {"decimal commas of the Windows program", 0.002f, 0.002f, 1.125f, 0.075f, true, false,
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AreaFile a = RectangleArea(c.dLon, c.dLat, c.lengthPrice, c.areaPrice);
        a.header.collectionTime = 1714523460;  // 2024-05-01 00:31:00 UTC, 08:31 in Beijing
        std::string kml = KmlDocument(a, "A1003.txt", MeasureArea(a));
        if (c.commas) kml = WithDecimalCommas(kml);
        FieldFile fa, fk;
        ASSERT_TRUE(ReadFieldBytes(Bytes(WriteArea(a)), "A1003.bak", fa).ok());
        ASSERT_TRUE(ReadFieldBytes(Bytes(kml), "A1003.txt", fk).ok());
        const HandheldFigures ra = *ComputeFigures(fa).handheld;
        const HandheldFigures rk = *ComputeFigures(fk).handheld;
        // The totals are the KML's own "%.1f" of the handheld's.
        EXPECT_DOUBLE_EQ(rk.shown.areaTotal, std::round(ra.shown.areaTotal * 10) / 10);
        EXPECT_DOUBLE_EQ(rk.shown.lengthTotal, std::round(ra.shown.lengthTotal * 10) / 10);
        EXPECT_TRUE(rk.totalsAsShown);
        EXPECT_FALSE(ra.totalsAsShown);
        // Recomputed from the rounded price the area total would be off by more than 5 %.
        if (c.priceRounded) {
            EXPECT_GT(
                std::fabs(fk.handheld.areaUnitPrice * ra.shown.areaQuantity - ra.shown.areaTotal),
                0.05 * ra.shown.areaTotal);
        }
        EXPECT_EQ(rk.shown.areaText, ra.shown.areaText);
        EXPECT_EQ(rk.shown.lengthText, ra.shown.lengthText);
        EXPECT_NEAR(rk.measure.area, ra.measure.area, c.perKm2 ? 1.0 : 0.001);
        EXPECT_NEAR(rk.measure.length, ra.measure.length, c.perKm ? 0.001 : 0.01);
        EXPECT_EQ(rk.lengthPerKm, c.perKm);
        EXPECT_EQ(ra.lengthPerKm, c.perKm);
        EXPECT_EQ(rk.areaPerKm2, c.perKm2);
        EXPECT_EQ(ra.areaPerKm2, c.perKm2);
        // The collection time, to the minute, and the field's own name.
        EXPECT_EQ(fk.handheld.collectionTime, std::optional<std::int64_t>(1714523460));
        EXPECT_FALSE(fk.handheld.startTime);
        EXPECT_EQ(fk.name, "F-01");
    }
    // Harvesting work shows its start and finish ("_______" when not recorded).
    AreaFile h = SampleArea(2);
    h.work = AreaWorkRecord{2.5f, 1714523460, 0, 0};
    FieldFile fh;
    ASSERT_TRUE(ReadFieldBytes(Bytes(KmlDocument(h, "H.txt", MeasureArea(h))), "H.txt", fh).ok());
    EXPECT_EQ(fh.handheld.startTime, std::optional<std::int64_t>(1714523460));
    EXPECT_FALSE(fh.handheld.finishTime);
    EXPECT_FALSE(fh.handheld.collectionTime);
    EXPECT_EQ(fh.handheld.workWidth, std::optional<double>(2.5));
    unsetenv("TZ");
    tzset();
}

TEST(ReadField, RawCopyBesideAConvertedDocument) {
    TempFolder dir;
    const AreaFile a = SampleArea(1);
    AreaFile other = a;
    other.points[2].latitude += 0.001f;
    const auto track = SampleTrack();
    const std::vector<std::uint8_t> trackBytes = WriteTrack("T1", track);
    WriteText(dir / "A1003.txt", KmlDocument(a, "A1003.txt", MeasureArea(a)));
    WriteText(dir / "A1003.bak", WriteArea(a));
    WriteText(dir / "B.kml", KmlDocument(a, "B.kml", MeasureArea(a)));
    WriteText(dir / "B.bak", WriteArea(other));  // another measurement
    WriteText(dir / "C.kml", KmlDocument(a, "C.kml", MeasureArea(a)));  // no raw copy
    WriteText(dir / "T1.gpx", GpxDocument("T1.gpx", track));
    WriteText(dir / "T1.bak",
              std::string(reinterpret_cast<const char*>(trackBytes.data()), trackBytes.size()));
    WriteText(dir / "D.txt", WriteArea(a));  // not converted: no raw copy asked for
    WriteText(dir / "D.bak", WriteArea(a));
    const struct {
        const char* file;
        const char* raw;  ///< expected raw copy, or "" for none
    } cases[] = {{"A1003.txt", "A1003.bak"}, {"B.kml", ""}, {"C.kml", ""},
                 {"T1.gpx", "T1.bak"},       {"D.txt", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        FieldFile doc, raw;
        ASSERT_TRUE(ReadFieldFile(dir / c.file, doc).ok());
        const auto found = ReadRawCopyBeside(dir / c.file, doc, raw);
        EXPECT_EQ(found.value_or("").filename().string(), c.raw);
        if (found) {
            EXPECT_TRUE(raw.format == FieldFormat::kHandheldArea ||
                        raw.format == FieldFormat::kHandheldTrack);
            EXPECT_TRUE(SameMeasurement(doc, raw));
        } else {
            EXPECT_TRUE(raw.points.empty());
        }
    }
    EXPECT_EQ(RawCopyPathOf(dir / "A1003(1).txt"), dir / "A1003(1).bak");
    EXPECT_EQ(RawCopyPathOf(dir / "a.b.kml"), dir / "a.bak");
}

TEST(ReadField, HandheldTrackAndItsGpx) {
    const auto pts = SampleTrack();
    const std::vector<std::uint8_t> image = WriteTrack("T1", pts);
    const std::string gpx = GpxDocument("T1.gpx", pts);
    const struct {
        const char* what;
        std::span<const std::uint8_t> bytes;
        FieldFormat format;
        const char* name;
    } cases[] = {
        {"track file", image, FieldFormat::kHandheldTrack, "T1"},
        {"our GPX", Bytes(gpx), FieldFormat::kGpx, "T1.gpx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FieldFile f;
        ASSERT_TRUE(ReadFieldBytes(c.bytes, "x", f).ok());
        EXPECT_EQ(f.kind, FieldKind::kTrack);
        EXPECT_EQ(f.format, c.format);
        EXPECT_EQ(f.name, c.name);
        ASSERT_EQ(f.points.size(), pts.size());
        EXPECT_EQ(f.segmentStarts, std::vector<std::size_t>{0});
        for (std::size_t i = 0; i < pts.size(); ++i) {
            EXPECT_NEAR(f.points[i].lat, pts[i].latitude, 1e-6);
            EXPECT_NEAR(f.points[i].lon, pts[i].longitude, 1e-6);
            EXPECT_NEAR(f.points[i].ele, pts[i].elevation, 1e-6);
            EXPECT_TRUE(f.points[i].hasTime);
            EXPECT_EQ(f.points[i].time, pts[i].time);
        }
    }
}

TEST(ReadField, HandheldAreaAndItsKmlGiveTheSameFigures) {
    for (std::int16_t method : {1, 2}) {
        SCOPED_TRACE(method);
        AreaFile a = SampleArea(method);
        if (method == 2) a.work = AreaWorkRecord{2.5f, 1700000000, 1700003600, 0};
        const std::string text = WriteArea(a);
        const std::string kml = KmlDocument(a, "F-01.kml", MeasureArea(a));
        FieldFile fa, fk;
        ASSERT_TRUE(ReadFieldBytes(Bytes(text), "F-01", fa).ok());
        ASSERT_TRUE(ReadFieldBytes(Bytes(kml), "F-01.kml", fk).ok());
        EXPECT_EQ(fa.format, FieldFormat::kHandheldArea);
        EXPECT_EQ(fk.format, FieldFormat::kKml);
        // The placemark is named after the file; the field's own name is its "文件名" entry.
        EXPECT_EQ(fk.name, "F-01");
        EXPECT_EQ(fa.name, "F-01");
        for (const FieldFile* f : {&fa, &fk}) {
            EXPECT_EQ(f->kind, FieldKind::kArea);
            ASSERT_EQ(f->points.size(), a.points.size());
            for (std::size_t i = 0; i < a.points.size(); ++i) {
                EXPECT_NEAR(f->points[i].lon, a.points[i].longitude, 1e-6);
                EXPECT_NEAR(f->points[i].lat, a.points[i].latitude, 1e-6);
            }
            EXPECT_EQ(f->handheld.method, method);
        }
        const FieldFigures ra = ComputeFigures(fa);
        const FieldFigures rk = ComputeFigures(fk);
        // The area file's figures are the KML's, bit for bit.
        const AreaMeasure m = MeasureArea(a);
        EXPECT_EQ(ra.handheld->measure.length, m.length);
        EXPECT_EQ(ra.handheld->measure.area, m.area);
        // The KML keeps 6 decimals of the float coordinates (a few cm).
        EXPECT_NEAR(rk.handheld->measure.area, m.area, m.area * 5e-4);
        EXPECT_NEAR(rk.handheld->shown.areaTotal, ra.handheld->shown.areaTotal,
                    ra.handheld->shown.areaTotal * 5e-4);
        EXPECT_NEAR(rk.handheld->shown.lengthTotal, ra.handheld->shown.lengthTotal,
                    ra.handheld->shown.lengthTotal * 5e-4);
        EXPECT_NEAR(rk.wgs84.area_m2, ra.wgs84.area_m2, ra.wgs84.area_m2 * 5e-4);
        if (method == 2) {
            EXPECT_NEAR(ra.wgs84.area_m2, 2.5 * ra.wgs84.length_m, 1e-6);
        }
    }
}

TEST(ReadField, HarvestingLineKeepsItsRepeatedFirstPoint) {
    for (std::int16_t method : {1, 2}) {
        AreaFile a = SampleArea(method);
        a.work = AreaWorkRecord{2.0f, 0, 0, 0};
        a.points.push_back(a.points.front());
        FieldFile f;
        ASSERT_TRUE(ReadFieldBytes(Bytes(WriteArea(a)), "h", f).ok());
        EXPECT_EQ(f.points.size(), method == 2 ? 5u : 4u);
        const FieldFigures r = ComputeFigures(f);
        // The open line through all five points is the perimeter.
        EXPECT_NEAR(r.wgs84.length_m, r.handheld->measure.length, r.wgs84.length_m * 5e-3);
    }
}

// gpsbabel turns a CSV of points into GPX 1.0 and 1.1 tracks and routes and a
// KML; each is read back point for point.
TEST(ReadField, GpxAndKmlFromGpsbabel) {
    if (!HaveTool("gpsbabel")) GTEST_SKIP() << "gpsbabel not installed (Debian package gpsbabel)";
    TempFolder dir;
    const auto pts = SampleTrack(30);
    {
        std::ofstream csv(dir / "in.csv");
        csv << "lat,lon,alt,utc_d,utc_t\n";
        csv.precision(10);
        for (const auto& p : pts) {
            const std::time_t t = p.time;
            std::tm tm{};
            gmtime_r(&t, &tm);
            char when[32];
            std::strftime(when, sizeof when, "%Y/%m/%d,%H:%M:%S", &tm);
            csv << p.latitude << ',' << p.longitude << ',' << p.elevation << ',' << when << '\n';
        }
    }
    const struct {
        const char* out;
        const char* format;
        const char* transform;
        bool times;
    } cases[] = {
        {"trk11.gpx", "gpx,gpxver=1.1", "trk=wpt", true},
        {"trk10.gpx", "gpx,gpxver=1.0", "trk=wpt", true},
        {"rte11.gpx", "gpx", "rte=wpt", false},
        {"trk.kml", "kml", "trk=wpt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        const std::string cmd = "TZ=UTC gpsbabel -i unicsv,utc=0 -f '" + (dir / "in.csv").string() +
                                "' -x transform," + c.transform + ",del -o " + c.format + " -F '" +
                                (dir / c.out).string() + "'";
        ASSERT_EQ(Shell(cmd), 0) << cmd;
        FieldFile f;
        const ReadResult r = ReadFieldFile(dir / c.out, f);
        ASSERT_TRUE(r.ok()) << r.message;
        EXPECT_EQ(f.kind, FieldKind::kTrack);
        // Each point once, whatever else the writer adds (waypoint folders, a gx:Track beside
        // the LineString): a track read twice would have twice its length.
        ASSERT_EQ(f.points.size(), pts.size());
        for (std::size_t i = 0; i < f.points.size(); ++i) {
            const TrackPoint& p = pts[i % pts.size()];
            EXPECT_NEAR(f.points[i].lat, p.latitude, 1e-6) << i;
            EXPECT_NEAR(f.points[i].lon, p.longitude, 1e-6) << i;
            EXPECT_NEAR(f.points[i].ele, p.elevation, 0.01) << i;
        }
        if (c.times) {
            bool anyTimed = false;
            for (std::size_t i = 0; i < f.points.size(); ++i)
                if (f.points[i].hasTime) {
                    anyTimed = true;
                    EXPECT_EQ(f.points[i].time, pts[i % pts.size()].time) << i;
                }
            EXPECT_TRUE(anyTimed);
        }
    }
}

// A KML 2.2 polygon as mapping programs write it: a Folder, the 2.2 and gx
// namespaces, a closed ring with spaces after commas, an inner ring.
TEST(ReadField, Kml22PolygonFromOtherPrograms) {
    const std::string kml = R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">
<Document><name>Farm</name><Folder><name>Fields</name>
  <Placemark><name>North field</name><Style><PolyStyle><color>7f00ff00</color></PolyStyle></Style>
    <Polygon><tessellate>1</tessellate><outerBoundaryIs><LinearRing><coordinates>
      113.3,23.1,0 113.302, 23.1,0
      113.302,23.102,0 113.3,23.102,0 113.3,23.1,0
    </coordinates></LinearRing></outerBoundaryIs>
    <innerBoundaryIs><LinearRing><coordinates>113.3005,23.1005 113.3006,23.1005 113.3006,23.1006 113.3005,23.1005</coordinates></LinearRing></innerBoundaryIs>
    </Polygon></Placemark>
  <Placemark><name>Road</name><LineString><coordinates>1,2 3,4</coordinates></LineString></Placemark>
</Folder></Document></kml>
)";
    FieldFile f;
    ASSERT_TRUE(ReadFieldBytes(Bytes(kml), "farm.kml", f).ok());
    EXPECT_EQ(f.kind, FieldKind::kArea);
    EXPECT_EQ(f.name, "North field");
    ASSERT_EQ(f.points.size(), 4u);  // closing repeat removed
    const double want[][2] = {{113.3, 23.1}, {113.302, 23.1}, {113.302, 23.102}, {113.3, 23.102}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(f.points[i].lon, want[i][0]);
        EXPECT_DOUBLE_EQ(f.points[i].lat, want[i][1]);
    }
    EXPECT_EQ(f.shapesIgnored, 1u);
    EXPECT_FALSE(f.handheld.method);
}

TEST(ReadField, KmlFromOgr2ogr) {
    if (!HaveTool("ogr2ogr")) GTEST_SKIP() << "ogr2ogr not installed (Debian package gdal-bin)";
    TempFolder dir;
    WriteText(dir / "in.geojson", R"({"type":"FeatureCollection","features":[{"type":"Feature",
      "properties":{"Name":"Plot 7"},"geometry":{"type":"Polygon","coordinates":
      [[[120.1,30.2],[120.103,30.2],[120.103,30.203],[120.1,30.203],[120.1,30.2]]]}}]})");
    ASSERT_EQ(Shell("ogr2ogr -f KML '" + (dir / "out.kml").string() + "' '" +
                    (dir / "in.geojson").string() + "'"),
              0);
    FieldFile f;
    const ReadResult r = ReadFieldFile(dir / "out.kml", f);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(f.kind, FieldKind::kArea);
    EXPECT_EQ(f.name, "Plot 7");
    ASSERT_EQ(f.points.size(), 4u);
    EXPECT_DOUBLE_EQ(f.points[2].lon, 120.103);
    EXPECT_DOUBLE_EQ(f.points[2].lat, 30.203);
}

TEST(ReadField, GxTrackWithTimes) {
    const std::string kml =
        R"(<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">
<Placemark><name>Run</name><gx:Track>
<when>2024-05-01T08:00:00Z</when><when>2024-05-01T08:00:10.5Z</when><when>2024-05-01T16:00:20+08:00</when>
<gx:coord>113.3 23.1 5</gx:coord><gx:coord>113.3 23.1009 6</gx:coord><gx:coord>113.3 23.1018 7</gx:coord>
</gx:Track></Placemark></kml>)";
    FieldFile f;
    ASSERT_TRUE(ReadFieldBytes(Bytes(kml), "run.kml", f).ok());
    EXPECT_EQ(f.kind, FieldKind::kTrack);
    ASSERT_EQ(f.points.size(), 3u);
    EXPECT_EQ(f.points[2].ele, 7);
    EXPECT_EQ(f.points[0].time, 1714550400);
    EXPECT_EQ(f.points[1].time, 1714550410.5);
    EXPECT_EQ(f.points[2].time, 1714550420);
    EXPECT_EQ(ComputeFigures(f).track->duration_s, 20);
}

// One track given twice in a placemark, as a LineString and as a gx:Track, is one track of
// its own length; a second, different line stays a segment of its own.
TEST(ReadField, TrackGivenAsLineStringAndGxTrackCountsOnce) {
    const std::string line = "<LineString><coordinates>113.3,23.1 113.3,23.1009 113.3,23.1018"
                             "</coordinates></LineString>";
    const std::string track = "<gx:Track><gx:coord>113.3 23.1 0</gx:coord>"
                              "<gx:coord>113.3 23.1009 0</gx:coord><gx:coord>113.3 23.1018 0"
                              "</gx:coord></gx:Track>";
    const std::string other = "<LineString><coordinates>113.4,23.1 113.4,23.1009</coordinates>"
                              "</LineString>";
    const auto kml = [](const std::string& body) {
        return R"(<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">)"
               "<Placemark><name>Run</name><MultiGeometry>" +
               body + "</MultiGeometry></Placemark></kml>";
    };
    FieldFile once, twice, two;
    ASSERT_TRUE(ReadFieldBytes(Bytes(kml(line)), "a.kml", once).ok());
    ASSERT_TRUE(ReadFieldBytes(Bytes(kml(line + track)), "b.kml", twice).ok());
    ASSERT_TRUE(ReadFieldBytes(Bytes(kml(line + other)), "c.kml", two).ok());
    EXPECT_EQ(twice.points.size(), 3u);
    EXPECT_EQ(twice.segmentStarts.size(), 1u);
    EXPECT_DOUBLE_EQ(ComputeFigures(twice).wgs84.length_m, ComputeFigures(once).wgs84.length_m);
    EXPECT_EQ(two.points.size(), 5u);
    EXPECT_EQ(two.segmentStarts.size(), 2u);
}

TEST(ReadField, BadInputGivesClearErrors) {
    TempFolder dir;
    std::vector<TrackPoint> nan = SampleTrack(3);
    nan[1].latitude = std::nan("");
    const auto nanImage = WriteTrack("bad", nan);
    const std::string nanTrack(nanImage.begin(), nanImage.end());
    const std::string cut(nanTrack.substr(0, 40));
    const struct {
        const char* what;
        std::string text;
        ReadError error;
        const char* detail;
    } cases[] = {
        {"empty", "", ReadError::kEmpty, ""},
        {"garbage", "hello world\n", ReadError::kNotRecognised, ""},
        {"broken XML", "<gpx>\n<trk>\n</gpx>", ReadError::kXmlError, "line 3"},
        {"other XML", "<html><body/></html>", ReadError::kNotRecognised, "neither GPX nor KML"},
        {"GPX without points", "<gpx version='1.1'><wpt lat='1' lon='2'/></gpx>",
         ReadError::kNoShapes, ""},
        {"KML without shapes",
         "<kml><Placemark><Point><coordinates>1,2</coordinates></Point></Placemark></kml>",
         ReadError::kNoShapes, ""},
        {"latitude 95", "<gpx><trk><trkseg><trkpt lat='95' lon='2'/></trkseg></trk></gpx>",
         ReadError::kBadCoordinates, "point 1"},
        {"lat not a number", "<gpx><trk><trkseg>\n<trkpt lat='x' lon='2'/></trkseg></trk></gpx>",
         ReadError::kBadCoordinates, "line 2"},
        {"coordinates cut",
         "<kml><Polygon><outerBoundaryIs><LinearRing><coordinates>1,2 "
         "3</coordinates></LinearRing></outerBoundaryIs></Polygon></kml>",
         ReadError::kBadCoordinates, "lon,lat"},
        {"NaN in a track file", nanTrack, ReadError::kBadCoordinates, "point 2"},
        {"track header cut", cut, ReadError::kDamaged, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FieldFile f;
        f.points.resize(3);
        const ReadResult r = ReadFieldBytes(Bytes(c.text), "in.gpx", f);
        EXPECT_EQ(r.error, c.error) << r.message;
        EXPECT_NE(r.message.find(c.detail), std::string::npos) << r.message;
        EXPECT_TRUE(f.points.empty());
    }
    FieldFile f;
    EXPECT_EQ(ReadFieldFile(dir / "missing.gpx", f).error, ReadError::kCannotRead);
    EXPECT_EQ(ReadFieldFile(dir.path(), f).error, ReadError::kCannotRead);
}

TEST(ReadField, NoExternalEntityIsLoaded) {
    TempFolder dir;
    WriteText(dir / "secret.txt", "SECRET");
    const std::string gpx = "<?xml version='1.0'?><!DOCTYPE gpx [<!ENTITY x SYSTEM 'file://" +
                            (dir / "secret.txt").string() +
                            "'>]><gpx><trk><name>&x;</name><trkseg><trkpt lat='1' lon='2'/>"
                            "</trkseg></trk></gpx>";
    FieldFile f;
    const ReadResult r = ReadFieldBytes(Bytes(gpx), "x.gpx", f);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(f.name.find("SECRET"), std::string::npos);
}

TEST(ParseIsoTime, Forms) {
    const struct {
        const char* text;
        std::optional<double> want;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0.0},
        {"2024-05-01T08:30:00Z", 1714552200.0},
        {"2024-05-01T08:30:00.25Z", 1714552200.25},
        {"2024-05-01T16:30:00+08:00", 1714552200.0},
        {"2024-05-01T03:30:00-05:00", 1714552200.0},
        {"2024-05-01T08:30:00", 1714552200.0},
        {"2024-13-01T08:30:00Z", std::nullopt},
        {"2024-05-01", std::nullopt},
        {"yesterday", std::nullopt},
        {"2024-05-01T08:30:00Zjunk", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseIsoTime(c.text), c.want) << c.text;
}

}  // namespace
}  // namespace dorvane::geo
