#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <regex>

#include "convert/gpx_writer.h"
#include "convert/xml_text.h"

namespace dorvane {
namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\" creator=\"Quenmark "
    "Plotwise\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:schemaLocation=\""
    "http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd "
    "http://www.topografix.com/GPX/gpx_style/0/2 "
    "http://www.topografix.com/GPX/gpx_style/0/2/gpx_style.xsd "
    "http://www.topografix.com/GPX/gpx_overlay/0/2 "
    "http://www.topografix.com/GPX/gpx_overlay/0/2/gpx_overlay.xsd "
    "http://www.topografix.com/GPX/Private/TopoGrafix/0/3 "
    "http://www.topografix.com/GPX/Private/TopoGrafix/0/3/topografix.xsd\">\r\n\r\n";

TEST(Gpx, EmptyTrackHasNoTrackElement) {
    EXPECT_EQ(GpxDocument("T0601.gpx", {}), kHead + "</gpx>\r\n");
}

TEST(Gpx, PointsNumbersAndTimes) {
    ::setenv("TZ", "Asia/Shanghai", 1);  // UTC+8 must not shift the times
    ::tzset();
    const TrackPoint pts[] = {
        {-33.5, 151.25, 0.0, 0, 0, 0},
        {39.9, 116.4, -12.3456789, -1, 0, 0},  // time cannot be converted: no time element
        {1e-7, -0.0000004, 8848.0, 1700000000, 0, 0},
    };
    const std::string doc = GpxDocument("轨迹.gpx", pts);
    ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(doc, kHead +
                       "<trk>\r\n<name>轨迹.gpx</name>\r\n<trkseg>\r\n"
                       "<trkpt lat=\"-33.500000\" lon=\"151.250000\">\r\n<ele>0.000000</ele>\r\n"
                       "<time>1970-01-01T00:00:00Z</time>\r\n</trkpt>\r\n"
                       "<trkpt lat=\"39.900000\" lon=\"116.400000\">\r\n<ele>-12.345679</ele>\r\n"
                       "</trkpt>\r\n"
                       "<trkpt lat=\"0.000000\" lon=\"-0.000000\">\r\n<ele>8848.000000</ele>\r\n"
                       "<time>2023-11-14T22:13:20Z</time>\r\n</trkpt>\r\n"
                       "</trkseg>\r\n</trk>\r\n</gpx>\r\n");
}

TEST(Gpx, NameIsEscaped) {
    const TrackPoint p{1, 2, 3, 4, 0, 0};
    const std::string doc = GpxDocument("R&D<1>\".gpx", std::span(&p, 1));
    EXPECT_NE(doc.find("<name>R&amp;D&lt;1&gt;&quot;.gpx</name>"), std::string::npos);
}

TEST(Gpx, EveryLineEndsInCrLf) {
    std::vector<TrackPoint> pts(5000, TrackPoint{1, 2, 3, 4, 0, 0});
    const std::string doc = GpxDocument("x", pts);  // more than one 64 KiB piece
    std::size_t lf = 0, crlf = 0;
    for (std::size_t i = 0; i < doc.size(); ++i)
        if (doc[i] == '\n') {
            ++lf;
            crlf += (i > 0 && doc[i - 1] == '\r');
        }
    EXPECT_EQ(lf, crlf);
    EXPECT_EQ(lf, 3u + 3 + 4 * 5000 + 3);
}

TEST(Gpx, SinkCanStopTheWriter) {
    std::vector<TrackPoint> pts(10000, TrackPoint{1, 2, 3, 4, 0, 0});
    int calls = 0;
    EXPECT_FALSE(EmitGpx("x", pts, [&](std::string_view) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

// A locale with a decimal comma, compiled on the fly when the system has the
// definition but not the compiled locale.
const char* CommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name)) return name;
    static const std::string dir = ::testing::TempDir() + "dorvane-locales";
    const std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(("mkdir -p " + dir + " && " + cmd).c_str()) != 0) return nullptr;
    ::setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") ? "de_DE.UTF-8" : nullptr;
}

TEST(Gpx, NumbersUseADotInEveryLocale) {
    const char* name = CommaLocale();
    if (!name) GTEST_SKIP() << "no locale with a decimal comma available (localedef failed)";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << name;  // the locale is really active
    const TrackPoint p{52.123456, 13.5, 34.25, 0, 0, 0};
    const std::string doc = GpxDocument("x", std::span(&p, 1));
    const std::string fixed = FixedText(1.5, 2);  // the KML figures' formatter
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(fixed, "1.50");
    ::unsetenv("LOCPATH");
    EXPECT_NE(doc.find("lat=\"52.123456\" lon=\"13.500000\""), std::string::npos);
    EXPECT_NE(doc.find("<ele>34.250000</ele>"), std::string::npos);
}

}  // namespace
}  // namespace dorvane
