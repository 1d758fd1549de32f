// Figures on WGS84 against GeographicLib's own Planimeter and hand-worked
// cases, the handheld's figures against the KML writer, track statistics.
#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>

#include "convert/kml_writer.h"
#include "convert/temp_folder.h"
#include "geo/figures.h"

namespace dorvane::geo {
namespace {

using GeographicLib::Geodesic;

GeoPoint At(double lat, double lon) {
    GeoPoint p;
    p.lat = lat;
    p.lon = lon;
    return p;
}

GeoPoint Move(const GeoPoint& from, double azimuth, double metres) {
    double lat = 0, lon = 0;
    Geodesic::WGS84().Direct(from.lat, from.lon, azimuth, metres, lat, lon);
    return At(lat, lon);
}

// A 100 m "square" on the ellipsoid: 100 m east along the first side, then
// 100 m north from both lower corners (counter-clockwise).
std::vector<GeoPoint> Square(double lat, double side = 100) {
    const GeoPoint a = At(lat, 113.0);
    const GeoPoint b = Move(a, 90, side);
    return {a, b, Move(b, 0, side), Move(a, 0, side)};
}

FieldFile Field(std::vector<GeoPoint> pts, std::optional<std::int16_t> method = 1) {
    FieldFile f;
    f.kind = FieldKind::kArea;
    f.format = FieldFormat::kKml;
    f.points = std::move(pts);
    f.handheld.method = method;
    return f;
}

FieldFile Track(std::vector<GeoPoint> pts) {
    FieldFile f;
    f.kind = FieldKind::kTrack;
    f.points = std::move(pts);
    if (!f.points.empty()) f.segmentStarts = {0};
    return f;
}

struct Planimetered {
    int points = 0;
    double perimeter = 0;
    double area = 0;
};

// Runs Planimeter (Debian geographiclib-tools) over the ring.
std::optional<Planimetered> Planimeter(const std::vector<GeoPoint>& pts, bool line = false) {
    if (std::system("command -v Planimeter >/dev/null 2>&1") != 0) return std::nullopt;
    testing::TempFolder dir;
    {
        std::ofstream in(dir / "ring.txt");
        in.precision(17);
        for (const GeoPoint& p : pts) in << p.lat << ' ' << p.lon << '\n';
    }
    const std::string cmd = std::string("Planimeter -p 12 ") + (line ? "-l " : "") +
                            "--input-file '" + (dir / "ring.txt").string() + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return std::nullopt;
    char buf[256] = {};
    const bool got = std::fgets(buf, sizeof buf, p) != nullptr;
    ::pclose(p);
    if (!got) return std::nullopt;
    std::istringstream s(buf);
    Planimetered r;
    s >> r.points >> r.perimeter;
    if (!line) s >> r.area;
    return r;
}

TEST(Figures, HundredMetreSquaresAgainstPlanimeterAndTheHandheld) {
    // The handheld's sphere with the cosine of the first latitude overstates
    // the area against WGS84 by these fractions (worked out from the radii).
    const struct {
        double lat;
        double overstatement;
    } cases[] = {{0, 0.0067}, {23, 0.0047}, {45, 0.0001}, {-45, 0.0001}};
    for (const auto& c : cases) {
        SCOPED_TRACE("latitude " + std::to_string(c.lat));
        const FieldFigures f = ComputeFigures(Field(Square(c.lat)));
        EXPECT_NEAR(f.wgs84.length_m, 400.0, 0.01);
        EXPECT_NEAR(f.wgs84.area_m2, 10000.0, 1.0);
        EXPECT_NEAR(f.wgs84.area.ha, 1.0, 1e-4);
        EXPECT_NEAR(f.wgs84.area.mu, 15.0, 2e-3);
        EXPECT_NEAR(f.wgs84.area.acre, 2.4710538, 3e-4);
        ASSERT_TRUE(f.handheld);
        EXPECT_NEAR(f.handheld->measure.area / f.wgs84.area_m2 - 1, c.overstatement, 0.0003);
        if (const auto ref = Planimeter(Square(c.lat))) {
            EXPECT_EQ(ref->points, 4);
            EXPECT_NEAR(f.wgs84.length_m, ref->perimeter, 1e-6);
            EXPECT_NEAR(f.wgs84.area_m2, std::fabs(ref->area), 1e-4);
        } else {
            ADD_FAILURE() << "Planimeter not installed (Debian package geographiclib-tools)";
        }
    }
}

TEST(Figures, ClockwiseRepeatedAndTwoPointFields) {
    std::vector<GeoPoint> ccw = Square(23);
    std::vector<GeoPoint> cw(ccw.rbegin(), ccw.rend());
    std::vector<GeoPoint> repeated = ccw;
    repeated.push_back(ccw.front());
    const FieldFigures a = ComputeFigures(Field(ccw));
    for (const auto& pts : {cw, repeated}) {
        const FieldFigures b = ComputeFigures(Field(pts));
        EXPECT_NEAR(b.wgs84.area_m2, a.wgs84.area_m2, 1e-6);
        EXPECT_NEAR(b.wgs84.length_m, a.wgs84.length_m, 1e-6);
    }
    // Two points: the distance, no area, as the handheld measures them.
    const std::vector<GeoPoint> two = {At(23, 113), Move(At(23, 113), 30, 250)};
    const FieldFigures t = ComputeFigures(Field(two));
    EXPECT_NEAR(t.wgs84.length_m, 250.0, 1e-6);
    EXPECT_EQ(t.wgs84.area_m2, 0.0);
    EXPECT_EQ(t.handheld->measure.area, 0.0);
    EXPECT_NEAR(t.handheld->measure.length, 250.0, 2.0);
    // Harvesting: width x open length on both sides.
    FieldFile h = Field(two, 2);
    h.handheld.workWidth = 2.5;
    const FieldFigures hf = ComputeFigures(h);
    EXPECT_NEAR(hf.wgs84.area_m2, 625.0, 1e-6);
    EXPECT_NEAR(hf.handheld->measure.area, 2.5 * hf.handheld->measure.length, 1e-9);
    // One point and none: nothing at all.
    for (const auto& pts : {std::vector<GeoPoint>{}, std::vector<GeoPoint>{At(1, 1)}}) {
        const FieldFigures z = ComputeFigures(Field(pts));
        EXPECT_EQ(z.wgs84.length_m, 0.0);
        EXPECT_EQ(z.wgs84.area_m2, 0.0);
        EXPECT_EQ(z.handheld->shown.areaText, "0.000 sq.m.");
    }
}

TEST(Figures, HarvestingOpenLineNotClosed) {
    std::vector<GeoPoint> line = {At(30, 120)};
    for (int i = 0; i < 4; ++i) line.push_back(Move(line.back(), 90, 100));
    FieldFile f = Field(line, 2);
    f.handheld.workWidth = 3;
    const FieldFigures r = ComputeFigures(f);
    EXPECT_NEAR(r.wgs84.length_m, 400, 1e-6);
    EXPECT_NEAR(r.wgs84.area_m2, 1200, 1e-5);
    EXPECT_NEAR(r.handheld->measure.length, 400, 3);  // the sphere, not closed
    EXPECT_NEAR(r.handheld->measure.area, 3 * r.handheld->measure.length, 1e-9);
    f.handheld.workWidth.reset();
    EXPECT_EQ(ComputeFigures(f).wgs84.area_m2, 0.0);
}

TEST(Figures, TenThousandVertexFieldAgainstPlanimeter) {
    // A circle of radius 1 km sampled at 10 000 vertices.
    std::vector<GeoPoint> ring;
    const GeoPoint centre = At(23.1, 113.3);
    for (int i = 0; i < 10000; ++i) ring.push_back(Move(centre, -i * 0.036, 1000));
    const FieldFigures f = ComputeFigures(Field(ring));
    EXPECT_NEAR(f.wgs84.area_m2, std::numbers::pi * 1e6, 1.0);
    EXPECT_NEAR(f.wgs84.length_m, 2 * std::numbers::pi * 1000, 0.01);
    const auto ref = Planimeter(ring);
    ASSERT_TRUE(ref) << "Planimeter not installed (Debian package geographiclib-tools)";
    EXPECT_EQ(ref->points, 10000);
    EXPECT_NEAR(f.wgs84.length_m, ref->perimeter, 1e-5);
    EXPECT_NEAR(f.wgs84.area_m2, std::fabs(ref->area), 1e-3);
}

TEST(Figures, HandheldFiguresAreTheKmlWritersOwn) {
    // An area record measured here and written by the KML writer shows the
    // same length and area texts and totals.
    AreaFile a;
    a.header.method = 1;
    a.header.lengthUnitPrice = 1.5f;
    a.header.areaUnitPrice = 0.25f;
    for (const GeoPoint& p : Square(23, 700)) {
        AreaPoint ap;
        ap.longitude = static_cast<float>(p.lon);
        ap.latitude = static_cast<float>(p.lat);
        a.points.push_back(ap);
    }
    FieldFile f = Field({});
    for (const AreaPoint& p : a.points) f.points.push_back(At(p.latitude, p.longitude));
    f.format = FieldFormat::kHandheldArea;
    f.handheld.area = a;
    const FieldFigures r = ComputeFigures(f);
    const std::string kml = KmlDocument(a, "x.kml", MeasureArea(a));
    EXPECT_NE(kml.find("<value>" + r.handheld->shown.lengthText + "</value>"), std::string::npos);
    EXPECT_NE(kml.find("<value>" + r.handheld->shown.areaText + "</value>"), std::string::npos);
    EXPECT_EQ(r.handheld->shown.lengthText.substr(r.handheld->shown.lengthText.size() - 2), "km");
    EXPECT_DOUBLE_EQ(r.handheld->shown.lengthTotal, 1.5 * r.handheld->shown.lengthQuantity);
}

TEST(Figures, TrackAcrossTheAntimeridian) {
    std::vector<GeoPoint> pts;
    for (int i = 0; i < 5; ++i) pts.push_back(At(-16.5, 179.998 + i * 0.001));
    for (GeoPoint& p : pts)
        if (p.lon > 180) p.lon -= 360;
    const FieldFigures f = ComputeFigures(Track(pts));
    // 4 legs of 0.001 degree of longitude at -16.5 degrees: about 106.8 m each.
    EXPECT_NEAR(f.wgs84.length_m, 427.0, 1.0);
    EXPECT_GT(f.bbox.minLon, f.bbox.maxLon);
    EXPECT_NEAR(f.bbox.minLon, 179.998, 1e-7);
    EXPECT_NEAR(f.bbox.maxLon, -179.998, 1e-7);
    const auto ref = Planimeter(pts, true);
    ASSERT_TRUE(ref);
    EXPECT_NEAR(f.wgs84.length_m, ref->perimeter, 1e-6);
}

TEST(Figures, TrackSpeedsTimesAndJumps) {
    // 10 m/s for 60 s, standing still for 30 s, a 5 km jump in 1 s, 60 s more.
    std::vector<GeoPoint> pts;
    GeoPoint p = At(23, 113);
    double t = 1700000000;
    auto add = [&] {
        p.time = t;
        p.hasTime = true;
        pts.push_back(p);
    };
    add();
    for (int i = 0; i < 60; ++i) p = Move(p, 0, 10), t += 1, add();
    for (int i = 0; i < 30; ++i) t += 1, add();
    p = Move(p, 0, 5000), t += 1, add();
    for (int i = 0; i < 60; ++i) p = Move(p, 0, 10), t += 1, add();
    const FieldFigures f = ComputeFigures(Track(pts));
    ASSERT_TRUE(f.track);
    EXPECT_EQ(f.points, pts.size());
    EXPECT_EQ(f.track->jumps, 1u);
    EXPECT_NEAR(f.track->maxSpeed_mps, 10.0, 1e-6);
    EXPECT_NEAR(f.track->movingAverage_mps, 10.0, 1e-6);
    EXPECT_NEAR(f.track->movingTime_s, 120.0, 1e-9);
    EXPECT_NEAR(f.track->duration_s, 151.0, 1e-9);
    EXPECT_EQ(IsoUtcText(*f.track->startTime), "2023-11-14T22:13:20Z");
    EXPECT_NEAR(f.wgs84.length_m, 6200.0, 1e-6);
    EXPECT_FALSE(f.handheld);
}

TEST(Figures, SegmentsAreNotJoined) {
    FieldFile f = Track({At(0, 0), At(0, 0.001), At(10, 10), At(10, 10.001)});
    f.segmentStarts = {0, 2};
    const double leg0 = GeodesicLength(std::span(f.points).subspan(0, 2));
    const double leg1 = GeodesicLength(std::span(f.points).subspan(2, 2));
    EXPECT_NEAR(ComputeFigures(f).wgs84.length_m, leg0 + leg1, 1e-9);
}

// Long tracks have their legs measured on several threads: the length is
// the sum of every leg taken in order, bit for bit, on either side of the
// size where the threads start, with a segment break kept out.
TEST(Figures, LongTrackLengthIsEveryLegInOrder) {
    for (std::size_t legs : {65535u, 65536u, 200001u}) {
        FieldFile f;
        f.kind = FieldKind::kTrack;
        f.segmentStarts = {0, legs / 3};
        GeoPoint p = At(23.1, 113.3);
        for (std::size_t i = 0; i <= legs; ++i) {
            f.points.push_back(p);
            p = Move(p, static_cast<double>(i % 360), 1.0 + static_cast<double>(i % 7));
        }
        double expected = 0;
        double geodesic = 0;  // GeographicLib's own, leg by leg
        for (std::size_t i = 1; i < f.points.size(); ++i) {
            if (i == legs / 3) continue;  // no line between segments
            expected += LegLength(f.points[i - 1], f.points[i]);
            double s12 = 0;
            Geodesic::WGS84().Inverse(f.points[i - 1].lat, f.points[i - 1].lon, f.points[i].lat,
                                      f.points[i].lon, s12);
            geodesic += s12;
        }
        EXPECT_EQ(ComputeFigures(f).wgs84.length_m, expected) << legs;
        EXPECT_NEAR(expected, geodesic, 1e-7 * static_cast<double>(legs)) << legs;
        // An open line of the same points: no break.
        double all = 0;
        for (std::size_t i = 1; i < f.points.size(); ++i) all += LegLength(f.points[i - 1], f.points[i]);
        EXPECT_EQ(GeodesicLength(f.points), all) << legs;
    }
}

// Short legs are measured by a mid-latitude formula: within 1e-7 m of
// GeographicLib's geodesic for every length up to the band's edge, every
// azimuth, from the equator to the latitude where the formula stops, across
// the antimeridian, and just outside the band (where GeographicLib itself
// answers, to the bit).
TEST(Figures, ShortLegsAgreeWithTheGeodesic) {
    struct Case {
        double lat;
        double lon;
    };
    const Case starts[] = {{0, 0}, {23.1, 113.3}, {-45.5, -70}, {60, 10}, {84.9, 30}, {89.5, 0}, {10, 179.9995}};
    for (const Case& c : starts) {
        for (double metres : {0.0, 0.01, 1.0, 2.5, 30.0, 80.0, 110.0, 111.0, 115.0, 500.0}) {
            for (int azimuth = 0; azimuth < 360; azimuth += 15) {
                const GeoPoint a = At(c.lat, c.lon);
                const GeoPoint b = Move(a, azimuth, metres);
                double s12 = 0;
                Geodesic::WGS84().Inverse(a.lat, a.lon, b.lat, b.lon, s12);
                EXPECT_NEAR(LegLength(a, b), s12, 1e-7)
                    << c.lat << " " << c.lon << " " << metres << " m at " << azimuth;
                EXPECT_NEAR(LegLength(a, b), LegLength(b, a), 1e-9) << c.lat << " " << metres << " " << azimuth;
            }
        }
    }
}

TEST(Figures, LocalTimeText) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "Asia/Shanghai", 1);
    ::tzset();
    EXPECT_EQ(IsoLocalText(0), "1970-01-01T08:00:00+08:00");
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    EXPECT_EQ(IsoLocalText(0), "1969-12-31T19:00:00-05:00");
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace dorvane::geo
