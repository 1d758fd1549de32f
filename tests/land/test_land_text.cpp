// The land-office coordinate exchange text: written, read back by our
// reader (as a field file too) and by a small Python reader of its own with
// pyproj, in GBK and in UTF-8, with a hole; malformed texts refused.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "convert/temp_folder.h"
#include "export/land_text.h"
#include "geo/land_text.h"
#include "land/land_rig.h"
#include "names/encoding.h"

namespace dorvane::landtest {
namespace {

using testing::TempFolder;

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A hole of about 20 m in the middle of Field(lon, lat).
std::vector<geo::GeoPoint> Hole(double lon, double lat) {
    const double dLon = 20.0 / (111320.0 * std::cos(lat * M_PI / 180));
    const double dLat = 20.0 / 110950.0;
    const double lo = lon + 3 * dLon, la = lat + 2 * dLat;
    return {At(lo, la), At(lo + dLon, la), At(lo + dLon, la + dLat), At(lo, la + dLat)};
}

// The independent reader: decodes, takes the zone from 带号 and the
// eastings, turns every J-line back into degrees with pyproj and measures
// each parcel's rings on the plane with shapely.
constexpr const char* kPythonReader = R"PY(
import sys, pyproj
from shapely.geometry import Polygon
raw = open(sys.argv[1], 'rb').read()
text = raw.decode(sys.argv[2])
attrs, parcels, section = {}, [], None
for line in text.splitlines():
    line = line.strip()
    if not line:
        continue
    if line.startswith('['):
        section = line
        continue
    if section == '[属性描述]':
        k, v = line.split('=', 1)
        attrs[k] = v
        continue
    cols = line.split(',')
    if cols[-1] == '@':
        parcels.append({'count': int(cols[0]), 'ha': float(cols[1]), 'name': cols[3], 'rings': {}})
        continue
    ring = parcels[-1]['rings'].setdefault(int(cols[1]), [])
    ring.append((cols[0], float(cols[2]), float(cols[3])))
zone = int(attrs['带号'])
assert attrs['坐标系'] == '2000国家大地坐标系' and attrs['投影类型'] == '高斯克吕格'
for p in parcels:
    lines = sum(len(r) for r in p['rings'].values())
    assert lines == p['count'], (lines, p['count'])
    area = 0.0
    for n, r in sorted(p['rings'].items()):
        assert r[0] == r[-1], 'ring %d not closed' % n
        prefixed = r[0][2] >= 1e6
        x0 = 500000 + (zone * 1e6 if prefixed else 0)
        tr = pyproj.Transformer.from_crs(
            '+proj=tmerc +lat_0=0 +lon_0=%d +k=1 +x_0=%f +y_0=0 +ellps=GRS80 +units=m' % (3 * zone, x0),
            'EPSG:4490', always_xy=True)
        plane = Polygon([(y, x) for _, x, y in r]).area
        area += plane if n == 1 else -plane
        for name, x, y in r[:-1]:
            lon, lat = tr.transform(y, x)
            print('P %s %d %s %.10f %.10f' % (p['name'], n, name, lon, lat))
    print('A %s %.6f %.4f' % (p['name'], area, p['ha']))
)PY";

TEST(LandText, WrittenAndReadBackByBothReaders) {
    const std::vector<gis::LandField> fields = {
        {"地块一", Field(116.6, 40.1), {}},  // west of 117
        {"东边,地块", Field(117.4, 40.1), {Hole(117.4, 40.1)}},  // east, a hole, a comma
    };
    std::vector<geo::GeoPoint> reversed(fields[0].boundary.rbegin(), fields[0].boundary.rend());
    const std::vector<gis::LandField> walkedBack = {{"地块一", reversed, {}}};
    struct {
        const char* what;
        gis::TextEncoding encoding;
        bool prefixed;
    } table[] = {
        {"GBK, zone in the easting", gis::TextEncoding::kGbk, true},
        {"UTF-8, zone in the easting", gis::TextEncoding::kUtf8, true},
        {"GBK, central meridian only", gis::TextEncoding::kGbk, false},
        {"UTF-8, central meridian only", gis::TextEncoding::kUtf8, false},
    };
    TempFolder dir;
    for (const auto& t : table) {
        SCOPED_TRACE(t.what);
        const geo::GkZone zone{geo::kGk3Width, 39, t.prefixed};
        std::string why;
        const auto text = gis::WriteLandText(fields, zone, {"张家农机", "2026-05-01"}, t.encoding, why);
        ASSERT_TRUE(text) << why;
        EXPECT_EQ(IsValidUtf8(text->bytes), t.encoding == gis::TextEncoding::kUtf8);
        const std::string utf8 = DecodeUtf8OrGbk(text->bytes);
        for (const char* s : {"[属性描述]\r\n", "数据产生单位=张家农机\r\n", "数据产生日期=2026-05-01\r\n",
                              "坐标系=2000国家大地坐标系\r\n", "几度分带=3\r\n", "投影类型=高斯克吕格\r\n",
                              "计量单位=米\r\n", "带号=39\r\n", "精度=0.001\r\n", "[地块坐标]\r\n",
                              ",1,地块一,面,,,,@\r\n", ",2,东边，地块,面,,,,@\r\n"})
            EXPECT_NE(utf8.find(s), std::string::npos) << s << "\n" << utf8;

        // Our reader.
        geo::land::ParseError error;
        const auto doc = geo::land::Parse(Bytes(text->bytes), error);
        ASSERT_TRUE(doc) << error.line << ": " << error.message;
        EXPECT_EQ(doc->gbk, t.encoding == gis::TextEncoding::kGbk);
        EXPECT_EQ(doc->zone.zone, 39);
        EXPECT_EQ(doc->zone.zoneInEasting, t.prefixed);
        ASSERT_EQ(doc->parcels.size(), 2u);
        double total = 0;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const auto& parcel = doc->parcels[i];
            ASSERT_EQ(parcel.rings.size(), 1 + fields[i].holes.size());
            double area = 0;
            for (std::size_t r = 0; r < parcel.rings.size(); ++r) {
                const auto& original = r == 0 ? fields[i].boundary : fields[i].holes[r - 1];
                ASSERT_EQ(parcel.rings[r].size(), original.size());
                const auto back = geo::FromGk(doc->zone, parcel.rings[r]);
                ASSERT_TRUE(back);
                // Every point back within a millimetre, wherever its number is.
                const auto grid = *geo::ToGk(zone, original);
                const auto again = geo::ToGk(zone, *back);
                ASSERT_TRUE(again);
                for (const auto& p : *again) {
                    double nearest = 1e9;
                    for (const auto& q : grid) nearest = std::min(nearest, std::hypot(p.x - q.x, p.y - q.y));
                    EXPECT_LT(nearest, 1e-3);
                }
                const double a = geo::Cgcs2000Ring(*back).area_m2;
                area += r == 0 ? a : -a;
                // Boundary clockwise, holes the other way.
                EXPECT_EQ(geo::SignedPlaneArea(parcel.rings[r]) < 0, r == 0);
            }
            // The area written is the ellipsoidal one, holes out, to 1 m².
            EXPECT_NEAR(parcel.area_ha * 10000, area, 1.0);
            total += area;
            // The first point is the north-west one, J1.
            EXPECT_EQ(parcel.names[0][0], "J1");
        }
        EXPECT_NEAR(text->ellipsoidArea_m2, total, 1.0);

        // As a field file: the first parcel's boundary.
        geo::FieldFile f;
        ASSERT_TRUE(geo::ReadFieldBytes(Bytes(text->bytes), "x.txt", f).ok());
        EXPECT_EQ(f.kind, geo::FieldKind::kArea);
        EXPECT_EQ(f.format, geo::FieldFormat::kLandText);
        EXPECT_EQ(f.name, "地块一");
        EXPECT_EQ(f.points.size(), fields[0].boundary.size());
        EXPECT_EQ(f.shapesIgnored, 1u);
        EXPECT_NEAR(geo::Cgcs2000Ring(f.points).area_m2, geo::Cgcs2000Ring(fields[0].boundary).area_m2, 1.0);

        // The independent reader.
        const std::string path = WriteFile((dir / "land.txt").string(), text->bytes);
        const auto py = Python(dir.path().string(), kPythonReader,
                               "'" + path + "' " + (t.encoding == gis::TextEncoding::kGbk ? "gbk" : "utf-8"));
        ASSERT_EQ(py.status, 0) << py.out;
        std::istringstream in(py.out);
        std::string kind, name, point;
        std::size_t points = 0;
        while (in >> kind >> name) {
            if (kind == "P") {
                int ring = 0;
                double lon = 0, lat = 0;
                in >> ring >> point >> lon >> lat;
                const std::size_t i = name == "地块一" ? 0 : 1;
                const auto& original = ring == 1 ? fields[i].boundary : fields[i].holes[ring - 2];
                double nearest = 1e9;
                for (const auto& q : original)
                    nearest = std::min(nearest, std::hypot((q.lon - lon) * 85000, (q.lat - lat) * 111000));
                EXPECT_LT(nearest, 1.5e-3) << point;
                ++points;
            } else {
                double plane = 0, ha = 0;
                in >> plane >> ha;
                const std::size_t i = name == "地块一" ? 0 : 1;
                EXPECT_NEAR(ha * 10000, geo::Cgcs2000Ring(fields[i].boundary).area_m2 -
                                            (fields[i].holes.empty() ? 0 : geo::Cgcs2000Ring(fields[i].holes[0]).area_m2),
                            1.0);
                // The plane and the ellipsoid agree to the zone's scale error.
                EXPECT_NEAR(plane, ha * 10000, 2e-4 * plane + 1);
            }
        }
        EXPECT_EQ(points, fields[0].boundary.size() + fields[1].boundary.size() + fields[1].holes[0].size());
    }

    // Walked the other way round: the same lines.
    const geo::GkZone zone{geo::kGk3Width, 39, true};
    std::string why;
    const auto forward = gis::WriteLandText({fields.begin(), 1}, zone, {"", "2026-05-01"},
                                            gis::TextEncoding::kUtf8, why);
    const auto backward = gis::WriteLandText(walkedBack, zone, {"", "2026-05-01"},
                                             gis::TextEncoding::kUtf8, why);
    ASSERT_TRUE(forward && backward);
    EXPECT_EQ(forward->bytes, backward->bytes);
    // J1 is the north-west corner: the pushed-out north corner is not it.
    EXPECT_NE(forward->bytes.find("6,"), std::string::npos);
}

TEST(LandText, MalformedTextsAreRefusedNamingTheLine) {
    const std::string head =
        "[属性描述]\n几度分带=3\n带号=39\n[地块坐标]\n";
    const std::string ring =
        "J1,1,4440000.000,39500000.000\nJ2,1,4440000.000,39500100.000\n"
        "J3,1,4439900.000,39500100.000\nJ1,1,4440000.000,39500000.000\n";
    struct {
        const char* what;
        std::string text;
        std::size_t line;
        const char* says;
    } table[] = {
        {"count differs", head + "5,1.0,1,a,面,,,,@\n" + ring, 9, "announces 5"},
        {"ring not closed", head + "3,1.0,1,a,面,,,,@\n" + ring.substr(0, ring.rfind("J1")), 8, "close"},
        {"bad number", head + "4,1.0,1,a,面,,,,@\nJ1,1,44x,39500000\n", 6, "coordinate"},
        {"point first", head + ring, 5, "before any parcel"},
        {"text before sections", "hello\n" + head, 1, "before any section"},
        {"short parcel line", head + "4,1.0,1,@\n" + ring, 5, "9 columns"},
        {"no zone anywhere",
         "[属性描述]\n[地块坐标]\n4,1.0,1,a,面,,,,@\nJ1,1,4440000,500000\nJ2,1,4440000,500100\n"
         "J3,1,4439900,500100\nJ1,1,4440000,500000\n",
         0, "带号"},
        {"zone disagrees", "[属性描述]\n带号=38\n[地块坐标]\n4,1.0,1,a,面,,,,@\n" + ring, 0, "disagrees"},
        {"two points", head + "3,1.0,1,a,面,,,,@\nJ1,1,4440000,39500000\nJ2,1,4440000,39500100\n"
                              "J1,1,4440000,39500000\n", 8, "fewer than 3"},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.what);
        geo::land::ParseError e;
        EXPECT_FALSE(geo::land::Parse(Bytes(t.text), e));
        EXPECT_EQ(e.line, t.line) << e.message;
        EXPECT_NE(e.message.find(t.says), std::string::npos) << e.message;
        geo::FieldFile f;
        if (geo::land::LooksLikeLandText(Bytes(t.text))) {
            const auto r = geo::ReadFieldBytes(Bytes(t.text), "x.txt", f);
            EXPECT_FALSE(r.ok());
        }
    }
}

}  // namespace
}  // namespace dorvane::landtest
