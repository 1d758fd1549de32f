#include "export/crs_choice.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "geo/figures.h"

namespace dorvane::gis {
namespace {

constexpr std::string_view kEpsgPrefix = "epsg:";

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct Named {
    const char* text;
    CrsMode mode;
};
constexpr Named kAutoModes[] = {
    {"auto", CrsMode::kAutoGk3},
    {"auto-cm", CrsMode::kAutoGk3Plain},
    {"auto6", CrsMode::kAutoGk6},
    {"auto6-cm", CrsMode::kAutoGk6Plain},
};

// Longitude of the centre of every point's extent (the antimeridian is no
// concern for China's zones, but a box across it keeps its real middle).
std::optional<double> CentreLongitude(std::span<const NamedPoints> fields) {
    std::vector<geo::GeoPoint> all;
    for (const NamedPoints& f : fields) all.insert(all.end(), f.points.begin(), f.points.end());
    if (all.empty()) return std::nullopt;
    const geo::BBox b = geo::BoundingBox(all);
    double c = (b.minLon + b.maxLon) / 2;
    if (b.minLon > b.maxLon) c = std::remainder(c + 180.0, 360.0);
    return c;
}

int ZoneOf(const geo::GkZone& z, double lon) {
    return z.width == geo::kGk3Width ? geo::Gk3ZoneOf(lon) : geo::Gk6ZoneOf(lon);
}

}  // namespace

std::optional<CrsChoice> ParseCrsChoice(std::string_view text) {
    const std::string t = Lower(text);
    if (t == "wgs84") return CrsChoice{CrsMode::kEpsg, kEpsgWgs84};
    if (t == "cgcs2000") return CrsChoice{CrsMode::kEpsg, kEpsgCgcs2000};
    for (const Named& n : kAutoModes)
        if (t == n.text) return CrsChoice{n.mode, 0};
    std::string_view digits = t;
    if (digits.starts_with(kEpsgPrefix)) digits.remove_prefix(kEpsgPrefix.size());
    int code = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || code <= 0)
        return std::nullopt;
    return CrsChoice{CrsMode::kEpsg, code};
}

std::string CrsChoiceText(const CrsChoice& c) {
    for (const Named& n : kAutoModes)
        if (c.mode == n.mode) return n.text;
    return "EPSG:" + std::to_string(c.epsg);
}

std::optional<ResolvedCrs> ResolveCrs(const CrsChoice& choice,
                                      std::span<const NamedPoints> fields, CrsError& error) {
    ResolvedCrs r;
    OGRSpatialReference srs;
    if (choice.mode == CrsMode::kEpsg) {
        r.epsg = choice.epsg;
        r.zone = geo::GkZoneOfEpsg(choice.epsg);
    } else {
        const auto centre = CentreLongitude(fields);
        if (!centre) {
            error.message = "no points to choose a zone by";
            return std::nullopt;
        }
        const bool six = choice.mode == CrsMode::kAutoGk6 || choice.mode == CrsMode::kAutoGk6Plain;
        geo::GkZone z;
        z.width = six ? geo::kGk6Width : geo::kGk3Width;
        z.zone = six ? geo::Gk6ZoneOf(*centre) : geo::Gk3ZoneOf(*centre);
        z.zoneInEasting = choice.mode == CrsMode::kAutoGk3 || choice.mode == CrsMode::kAutoGk6;
        r.zone = z;
        r.epsg = z.Epsg();
    }
    const OGRErr e = r.epsg ? srs.importFromEPSG(r.epsg)
                            : srs.importFromProj4(r.zone->ProjDefinition().c_str());
    if (e != OGRERR_NONE) {
        error.message = r.epsg ? "PROJ does not know EPSG:" + std::to_string(r.epsg)
                               : "PROJ cannot build " + r.zone->ProjDefinition();
        return std::nullopt;
    }
    r.projected = srs.IsProjected();
    char* wkt = nullptr;
    if (srs.exportToWkt(&wkt) == OGRERR_NONE && wkt) r.wkt = wkt;
    CPLFree(wkt);
    if (r.zone) {
        const double cm = r.zone->CentralMeridian();
        const double half = r.zone->width / 2.0;
        for (const NamedPoints& f : fields) {
            const bool outside = std::any_of(f.points.begin(), f.points.end(), [&](const auto& p) {
                return std::fabs(std::remainder(p.lon - cm, 360.0)) > half;
            });
            if (!outside) continue;
            std::vector<geo::GeoPoint> pts(f.points.begin(), f.points.end());
            const geo::BBox b = geo::BoundingBox(pts);
            r.warnings.push_back({f.name, ZoneOf(*r.zone, (b.minLon + b.maxLon) / 2)});
        }
    }
    return r;
}

}  // namespace dorvane::gis
