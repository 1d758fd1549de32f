#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <regex>

#include "common/zone_guard.h"
#include "convert/area_measure.h"
#include "convert/kml_writer.h"
#include "convert/xml_text.h"

namespace dorvane {
namespace {

using test::ZoneGuard;

AreaPoint Pt(double lon, double lat, float alt = 0) {
    AreaPoint p;
    p.longitude = static_cast<float>(lon);
    p.latitude = static_cast<float>(lat);
    p.altitude = alt;
    return p;
}

// Degrees of longitude on the equator for `metres` by the distance rule.
double EquatorDegrees(double metres) {
    return metres / Distance(0, 0, 1, 0);
}

AreaFile Field(AreaMethod method, std::vector<AreaPoint> pts) {
    AreaFile a;
    a.header.method = static_cast<std::int16_t>(method);
    a.header.lengthUnitPrice = 2.0f;
    a.header.areaUnitPrice = 0.5f;
    a.header.collectionTime = 0;
    a.header.SetFileName("F01");
    a.points = std::move(pts);
    return a;
}

// The values of the data entries, in document order, as (label, value).
std::vector<std::pair<std::string, std::string>> Entries(const std::string& kml) {
    static const std::regex re("<Data name=\"([^\"]*)\">\r\n\t\t\t\t<value>([^<]*)</value>");
    std::vector<std::pair<std::string, std::string>> out;
    for (auto it = std::sregex_iterator(kml.begin(), kml.end(), re); it != std::sregex_iterator();
         ++it)
        out.emplace_back((*it)[1], (*it)[2]);
    return out;
}

TEST(Distance, GreatCircle) {
    EXPECT_DOUBLE_EQ(Distance(10, 20, 10, 20), 0.0);
    // One minute of arc on a meridian is one nautical mile.
    EXPECT_NEAR(Distance(0, 0, 0, 1.0 / 60), 1852.0, 0.01);
    EXPECT_NEAR(Distance(116.39, 39.9, 121.47, 31.23), 1066000, 5000);  // Beijing-Shanghai
}

TEST(MeasureArea, HundredMetreSquareByTheVertexMethod) {
    const double d = 100.0 / Distance(0, 0, 0, 1);  // 100 m in degrees on the sphere
    const AreaFile a = Field(AreaMethod::kVertex, {Pt(0, 0), Pt(d, 0), Pt(d, d), Pt(0, d)});
    const AreaMeasure m = MeasureArea(a);
    EXPECT_NEAR(m.length, 400.0, 0.5);
    // The area rule scales by the equatorial arc second, slightly longer than the sphere's.
    EXPECT_NEAR(m.area, 10000.0, 60.0);
    const AreaFigures f = ShowFigures(a.header, m);
    EXPECT_TRUE(std::regex_match(f.lengthText, std::regex("(399|400)\\.[0-9]{2} m")))
        << f.lengthText;
    EXPECT_TRUE(std::regex_match(f.areaText, std::regex("100[0-9]{2}\\.[0-9]{3} sq\\.m\\.")))
        << f.areaText;
    EXPECT_EQ(f.lengthTotal, 2.0 * m.length);
    EXPECT_EQ(f.areaTotal, 0.5 * m.area);
}

TEST(ShowFigures, UnitsSwitchAboveOneKilometre) {
    AreaHeader h;
    h.lengthUnitPrice = 10.0f;
    h.areaUnitPrice = 3.0f;
    struct Case {
        double length, area;
        const char* lengthText;
        const char* areaText;
        double lengthTotal, areaTotal;
    };
    const Case cases[] = {
        {0, 0, "0.00 m", "0.000 sq.m.", 0, 0},
        {1000.0, 1000000.0, "1000.00 m", "1000000.000 sq.m.", 10000.0, 3000000.0},
        {1500.0, 2500000.0, "1.500000 km", "2.500000 sq.km.", 15.0, 7.5},
    };
    for (const Case& c : cases) {
        const AreaFigures f = ShowFigures(h, {c.length, c.area});
        EXPECT_EQ(f.lengthText, c.lengthText);
        EXPECT_EQ(f.areaText, c.areaText);
        EXPECT_DOUBLE_EQ(f.lengthTotal, c.lengthTotal);
        EXPECT_DOUBLE_EQ(f.areaTotal, c.areaTotal);
    }
}

TEST(MeasureArea, PerimeterOf1500MetresIsPricedPerKilometre) {
    ZoneGuard zone("UTC");
    const double d = 375.0 / Distance(0, 0, 0, 1);
    AreaFile a = Field(AreaMethod::kTrack, {Pt(0, 0), Pt(d, 0), Pt(d, d), Pt(0, d)});
    a.header.lengthUnitPrice = 40.0f;
    const AreaMeasure m = MeasureArea(a);
    const auto e = Entries(KmlDocument(a, "p.kml", m));
    ASSERT_GE(e.size(), 4u);
    EXPECT_EQ(e[2].first, kml_label::kPerimeter);
    EXPECT_TRUE(std::regex_match(e[2].second, std::regex("1\\.[0-9]{6} km"))) << e[2].second;
    EXPECT_NEAR(std::stod(e[2].second), 1.5, 1e-5);
    EXPECT_EQ(e[3].first, kml_label::kPerimeterTotal);
    EXPECT_NEAR(std::stod(e[3].second), 60.0, 0.1);  // 40 x 1.5, not 40 x 1500
}

TEST(MeasureArea, HarvestingWithWorkRecord) {
    ZoneGuard zone("UTC");
    const double step = EquatorDegrees(200.0);
    AreaFile a = Field(AreaMethod::kHarvesting, {Pt(0, 0), Pt(step, 0), Pt(2 * step, 0)});
    a.work = AreaWorkRecord{2.5f, 0, 86400 + 3600 + 120};
    const AreaMeasure m = MeasureArea(a);
    EXPECT_NEAR(m.length, 400.0, 0.01);
    EXPECT_NEAR(m.area, 1000.0, 0.05);
    const auto e = Entries(KmlDocument(a, "h.kml", m));
    const std::vector<std::string> labels = {
        std::string(kml_label::kFileName),      std::string(kml_label::kLengthUnitPrice),
        std::string(kml_label::kLength),        std::string(kml_label::kLengthTotal),
        std::string(kml_label::kAreaUnitPrice), std::string(kml_label::kArea),
        std::string(kml_label::kAreaTotal),     std::string(kml_label::kStartTime),
        std::string(kml_label::kFinishTime),    std::string(kml_label::kMethod),
        std::string(kml_label::kWidth)};
    ASSERT_EQ(e.size(), labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i) EXPECT_EQ(e[i].first, labels[i]) << i;
    EXPECT_EQ(e[0].second, "F01");
    EXPECT_EQ(e[1].second, "2.00");
    EXPECT_EQ(e[2].second, "400.00 m");
    EXPECT_EQ(e[3].second, "800.0");
    EXPECT_EQ(e[4].second, "0.50");
    EXPECT_EQ(e[5].second, "1000.000 sq.m.");
    EXPECT_EQ(e[6].second, "500.0");
    EXPECT_EQ(e[7].second, "_______");  // start time 0: not recorded
    EXPECT_EQ(e[8].second, "1970-1-2 1:2");
    EXPECT_EQ(e[9].second, "收割作业法");
    EXPECT_EQ(e[10].second, "2.5");
}

TEST(MeasureArea, HarvestingWithoutWorkRecord) {
    ZoneGuard zone("Asia/Shanghai");
    const double step = EquatorDegrees(200.0);
    const AreaFile a = Field(AreaMethod::kHarvesting, {Pt(0, 0), Pt(step, 0), Pt(2 * step, 0)});
    const AreaMeasure m = MeasureArea(a);
    EXPECT_EQ(m.area, 0.0);
    const auto e = Entries(KmlDocument(a, "h.kml", m));
    ASSERT_EQ(e.size(), 9u);
    EXPECT_EQ(e[7].first, kml_label::kCollectionTime);
    EXPECT_EQ(e[7].second, "1970-1-1 8:0");  // collection time 0 is shown, in local time
    EXPECT_EQ(e[8].first, kml_label::kMethod);
}

TEST(MeasureArea, SmallAreasAndExcludedPoints) {
    struct Case {
        const char* what;
        std::vector<AreaPoint> pts;
        AreaMethod method;
        bool work;
        double length, area;
    };
    const double d = EquatorDegrees(100.0);
    const Case cases[] = {
        {"no points", {}, AreaMethod::kVertex, false, 0, 0},
        {"one point", {Pt(1, 1)}, AreaMethod::kVertex, false, 0, 0},
        {"two points", {Pt(0, 0), Pt(d, 0)}, AreaMethod::kVertex, false, 100, 0},
        {"two points harvesting", {Pt(0, 0), Pt(d, 0)}, AreaMethod::kHarvesting, true, 100, 250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AreaFile a = Field(c.method, c.pts);
        if (c.work) a.work = AreaWorkRecord{2.5f, 1, 2};
        const AreaMeasure m = MeasureArea(a);
        EXPECT_NEAR(m.length, c.length, 0.01);
        EXPECT_NEAR(m.area, c.area, 0.01);
    }
    const AreaFile empty = Field(AreaMethod::kVertex, {});
    const auto e = Entries(KmlDocument(empty, "e.kml", MeasureArea(empty)));
    ASSERT_GE(e.size(), 7u);
    EXPECT_EQ(e[2].second, "0.00 m");
    EXPECT_EQ(e[3].second, "0.0");
    EXPECT_EQ(e[5].second, "0.000 sq.m.");
    EXPECT_EQ(e[6].second, "0.0");
}

TEST(KmlDocument, LayoutLineByLine) {
    ZoneGuard zone("UTC");
    AreaFile a = Field(AreaMethod::kVertex,
                       {Pt(116.5, 39.25, 10), Pt(116.75, 39.25, 11), Pt(116.75, 39.5, 12)});
    a.header.collectionTime = 1000000000;  // 2001-09-09 01:46:40 UTC
    const std::string kml = KmlDocument(a, "F01.kml", {100.0, 200.0});
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<kml xmlns=\"http://earth.google.com/kml/2.1\">\r\n"
        "<Document>\r\n"
        "\t<Placemark>\r\n"
        "\t\t<name>F01.kml</name>\r\n"
        "\t\t<styleUrl>#Area-Style-0</styleUrl>\r\n"
        "\t\t<ExtendedData>\r\n"
        "\t\t\t<Data name=\"文件名\">\r\n\t\t\t\t<value>F01</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"长度单价\">\r\n\t\t\t\t<value>2.00</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"周长\">\r\n\t\t\t\t<value>100.00 m</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"周长总价\">\r\n\t\t\t\t<value>200.0</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"面积单价\">\r\n\t\t\t\t<value>0.50</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"面积\">\r\n\t\t\t\t<value>200.000 sq.m.</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"面积总价\">\r\n\t\t\t\t<value>100.0</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"采集时间\">\r\n\t\t\t\t<value>2001-9-9 "
        "1:46</value>\r\n\t\t\t</Data>\r\n"
        "\t\t\t<Data name=\"采集方式\">\r\n\t\t\t\t<value>折点法</value>\r\n\t\t\t</Data>\r\n"
        "\t\t</ExtendedData>\r\n"
        "\t\t<Polygon>\r\n"
        "\t\t\t<outerBoundaryIs>\r\n"
        "\t\t\t\t<LinearRing>\r\n"
        "\t\t\t\t\t<coordinates>116.500000,39.250000,10.000000 116.750000,39.250000,11.000000 "
        "116.750000,39.500000,12.000000 </coordinates>\r\n"
        "\t\t\t\t</LinearRing>\r\n"
        "\t\t\t</outerBoundaryIs>\r\n"
        "\t\t</Polygon>\r\n"
        "\t</Placemark>\r\n"
        "\t<Style id=\"Area-Style-0\">\r\n"
        "\t\t<LineStyle>\r\n"
        "\t\t\t<color>ff00aaff</color>\r\n"
        "\t\t\t<width>3</width>\r\n"
        "\t\t</LineStyle>\r\n"
        "\t\t<PolyStyle>\r\n"
        "\t\t\t<color>7300ff62</color>\r\n"
        "\t\t</PolyStyle>\r\n"
        "\t</Style>\r\n"
        "</Document>\r\n"
        "</kml>\r\n";
    EXPECT_EQ(kml, expected);
}

TEST(KmlDocument, TextsAreEscapedAndConvertedFromGbk) {
    ZoneGuard zone("UTC");
    AreaFile a = Field(AreaMethod::kTrack, {});
    a.header.SetFileName("R&D<\xB5\xD8>\"");  // GBK "地" inside
    a.header.method = 7;
    a.header.collectionTime = -1;
    const auto kml = KmlDocument(a, "R&D<1>.kml", {});
    EXPECT_NE(kml.find("<name>R&amp;D&lt;1&gt;.kml</name>"), std::string::npos);
    const auto e = Entries(kml);
    ASSERT_EQ(e.size(), 9u);
    EXPECT_EQ(e[0].second, "R&amp;D&lt;地&gt;&quot;");
    EXPECT_EQ(e[7].second, "_______");  // negative collection time cannot be converted
    EXPECT_EQ(e[8].second, "7");        // unknown method shows its number
}

TEST(XmlText, EscapingAndControlCharacters) {
    std::string out;
    AppendXmlEscaped(out, std::string("a&b<c>d\"e'\tf\x01g\xFFh", 16));
    EXPECT_EQ(out, "a&amp;b&lt;c&gt;d&quot;e'\tf\xEF\xBF\xBDg\xEF\xBF\xBDh");
}

TEST(XmlText, GpxTimesAreUtc) {
    ZoneGuard zone("Asia/Shanghai");
    struct Case {
        std::int32_t t;
        const char* text;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {1700000000, "2023-11-14T22:13:20Z"},
        {2147483647, "2038-01-19T03:14:07Z"},
    };
    for (const Case& c : cases) EXPECT_EQ(GpxTimeText(c.t).value_or("none"), c.text) << c.t;
    EXPECT_FALSE(GpxTimeText(-1).has_value());
    // Cross-check against the C library on a spread of times.
    for (std::int64_t t = 0; t < 2147483647; t += 7777777) {
        const std::time_t tt = t;
        std::tm tm{};
        gmtime_r(&tt, &tm);
        char buf[32];
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
        EXPECT_EQ(GpxTimeText(static_cast<std::int32_t>(t)).value(), buf);
    }
}

}  // namespace
}  // namespace dorvane
