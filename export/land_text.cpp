#include "export/land_text.h"

#include <cstdio>

#include "geo/land_text.h"
#include "names/encoding.h"

namespace dorvane::gis {
namespace {

namespace land = geo::land;

/// The format version written in 格式版本号.
constexpr const char* kFormatVersion = "1.0";
/// Coordinates are written to the millimetre; 精度 says so (m).
constexpr const char* kPrecision = "0.001";
/// 转换参数: seven empty datum parameters (no transformation: the points are
/// CGCS2000 already).
constexpr const char* kNoTransform = ",,,,,,";
/// Land offices' programs are Windows programs: CRLF lines.
constexpr const char* kEol = "\r\n";

std::string Coordinate(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

// A name goes into a comma-separated line: no commas, no line breaks.
std::string Cell(std::string_view s) {
    std::string out;
    for (const char c : s) {
        if (c == ',')
            out += "，";
        else if (c == '\r' || c == '\n')
            out += ' ';
        else
            out += c;
    }
    return out;
}

// Writes one ring's J-lines from the north-west point round, closing it.
void WriteRing(const std::vector<geo::GkPoint>& grid, bool clockwise, int ring, int& next,
               std::string& out) {
    const std::vector<std::size_t> order = geo::NumberingOrder(grid, clockwise);
    const int first = next;
    for (const std::size_t i : order) {
        out += std::string(land::kPointPrefix) + std::to_string(next++) + "," +
               std::to_string(ring) + "," + Coordinate(grid[i].x) + "," + Coordinate(grid[i].y) +
               kEol;
    }
    const geo::GkPoint& p = grid[order.front()];
    out += std::string(land::kPointPrefix) + std::to_string(first) + "," + std::to_string(ring) +
           "," + Coordinate(p.x) + "," + Coordinate(p.y) + kEol;
}

}  // namespace

std::optional<LandText> WriteLandText(std::span<const LandField> fields, const geo::GkZone& zone,
                                      const LandTextHeader& header, TextEncoding encoding,
                                      std::string& error) {
    LandText result;
    std::string text;
    auto attribute = [&](std::string_view k, std::string_view v) {
        text += std::string(k) + "=" + std::string(v) + kEol;
    };
    text += std::string(land::kAttributeSection) + kEol;
    attribute(land::kKeyVersion, kFormatVersion);
    attribute(land::kKeyProducer, Cell(header.producer));
    attribute(land::kKeyDate, header.date);
    attribute(land::kKeyDatum, land::kDatumCgcs2000);
    attribute(land::kKeyZoneWidth, std::to_string(zone.width));
    attribute(land::kKeyProjection, land::kProjectionGk);
    attribute(land::kKeyUnit, land::kUnitMetre);
    attribute(land::kKeyZone, std::to_string(zone.zone));
    attribute(land::kKeyPrecision, kPrecision);
    attribute(land::kKeyTransform, kNoTransform);
    text += std::string(land::kCoordinateSection) + kEol;

    int number = 0;
    for (const LandField& f : fields) {
        ++number;
        std::vector<std::vector<geo::GkPoint>> rings;
        double ellipsoid = 0;
        double plane = 0;
        std::size_t lines = 0;
        for (std::size_t r = 0; r <= f.holes.size(); ++r) {
            const std::vector<geo::GeoPoint>& pts = r == 0 ? f.boundary : f.holes[r - 1];
            auto grid = geo::ToGk(zone, pts);
            if (!grid) {
                error = "PROJ cannot build " + zone.ProjDefinition();
                return std::nullopt;
            }
            const double e = geo::Cgcs2000Ring(pts).area_m2;
            const double p = geo::PlaneArea(*grid);
            ellipsoid += r == 0 ? e : -e;
            plane += r == 0 ? p : -p;
            lines += grid->size() + 1;
            rings.push_back(std::move(*grid));
        }
        char area[64];
        std::snprintf(area, sizeof area, "%.4f", ellipsoid / 10000.0);
        text += std::to_string(lines) + "," + area + "," + std::to_string(number) + "," +
                Cell(f.name) + "," + std::string(land::kShapePolygon) + ",,,," +
                std::string(land::kParcelEnd) + kEol;
        int next = 1;
        for (std::size_t r = 0; r < rings.size(); ++r)
            WriteRing(rings[r], r == 0, static_cast<int>(r) + 1, next, text);
        result.ellipsoidArea_m2 += ellipsoid;
        result.planeArea_m2 += plane;
    }
    if (encoding == TextEncoding::kUtf8) {
        result.bytes = std::move(text);
        return result;
    }
    auto gbk = Utf8ToGbk(text);
    if (!gbk) {
        error = "a name has no GBK form";
        return std::nullopt;
    }
    result.bytes = std::move(*gbk);
    return result;
}

}  // namespace dorvane::gis
