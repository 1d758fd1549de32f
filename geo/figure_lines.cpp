#include "geo/figure_lines.h"

#include <cmath>
#include <ctime>
#include <optional>
#include <utility>

#include "convert/xml_text.h"
#include "geo/land_survey.h"
#include "i18n/string_table.h"

namespace dorvane::geo {
namespace {

constexpr double kMetresPerKm = 1000.0;
constexpr double kKmhPerMps = 3.6;
constexpr int kCoordDecimals = 6;
constexpr int kPriceDecimals = 1;
/// Unit prices: the handheld's two decimals, and up to four where the price has them
/// (a float price read back with more digits than it was set with is rounded there).
constexpr int kUnitPriceMinDecimals = 2;
constexpr int kUnitPriceMaxDecimals = 4;
constexpr double kPercent = 100.0;

const std::string& T(StringId id) {
    return Text(id);
}

// The area in m² on the labelled line, then ha, mu and acres on lines of their own.
void AddArea(std::vector<FigureLine>& out, StringId label, const std::string& first,
             const AreaUnits& u) {
    out.push_back({T(label), first});
    out.push_back({{}, FixedText(u.ha, 4) + " " + T(StringId::RES_FIELD_UNIT_HA)});
    out.push_back({{}, FixedText(u.mu, 3) + " " + T(StringId::RES_FIELD_UNIT_MU)});
    out.push_back({{}, FixedText(u.acre, 4) + " " + T(StringId::RES_FIELD_UNIT_ACRE)});
}

// What a land office computes: the field on the CGCS2000 ellipsoid and on
// the plane of its 3-degree Gauss-Krueger zone (fields only; harvesting work
// is a line times a width, no parcel).
void AddLandOfficeLines(const FieldFile& f, bool harvesting, std::vector<FigureLine>& out) {
    if (harvesting || f.points.size() < 3) return;
    const Cgcs2000Figures c = ComputeCgcs2000(f);
    out.push_back({T(StringId::RES_LAND_FIG_CGCS2000_PERIMETER), LengthText(c.length_m)});
    AddArea(out, StringId::RES_LAND_FIG_CGCS2000, FixedText(c.area_m2, 2) + " m²",
            InUnits(c.area_m2));
    if (const auto gk = ComputeGk3(f))
        out.push_back({FormatText(StringId::RES_LAND_FIG_GK3, gk->zone,
                                  static_cast<int>(gk->centralMeridian)),
                       FixedText(gk->area_m2, 2) + " m²"});
}

std::string MethodText(const std::optional<std::int16_t>& m) {
    if (!m) return T(StringId::RES_FIELD_METHOD_UNKNOWN);
    switch (*m) {
        case 0:
            return T(StringId::RES_FIELD_METHOD_0);
        case 1:
            return T(StringId::RES_FIELD_METHOD_1);
        case 2:
            return T(StringId::RES_FIELD_METHOD_2);
        default:
            return std::to_string(*m);
    }
}

std::string TimeText(double t) {
    return IsoLocalText(t) + " (" + IsoUtcText(t) + ")";
}

// "2024-05-01 08:31" in local time, as the ledger shows a field's times; "" when the
// calendar cannot show it.
std::string FieldTimeText(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (seconds < 0 || !localtime_r(&t, &tm)) return {};
    char buf[32];
    if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm) == 0) return {};
    return buf;
}

struct FieldTimes {
    std::optional<std::int64_t> collected, start, finish;
};

// The times a field file records: the area record's (a start or finish of 0 is
// not recorded), or those a KML written on download shows.
FieldTimes TimesOf(const FieldFile& f) {
    FieldTimes t;
    if (!f.handheld.area) return {f.handheld.collectionTime, f.handheld.startTime,
                                  f.handheld.finishTime};
    const AreaFile& a = *f.handheld.area;
    t.collected = a.header.collectionTime;
    if (a.work && a.work->startTime != 0) t.start = a.work->startTime;
    if (a.work && a.work->finishTime != 0) t.finish = a.work->finishTime;
    return t;
}

// "0.075 per m2"-like text of a unit price and the unit it applies to.
std::string PriceText(double price, bool perKilo, StringId perUnit, StringId perKiloUnit) {
    return FormatText(perKilo ? perKiloUnit : perUnit, UnitPriceText(price).c_str());
}

}  // namespace

std::string UnitPriceText(double price) {
    std::string s = FixedText(price, kUnitPriceMaxDecimals);
    const std::size_t dot = s.find('.');
    if (dot == std::string::npos) return s;
    while (s.size() > dot + 1 + kUnitPriceMinDecimals && s.back() == '0') s.pop_back();
    return s;
}

std::string LengthText(double m) {
    return m < kMetresPerKm ? FixedText(m, 2) + " m" : FixedText(m / kMetresPerKm, 3) + " km";
}

namespace {

// "9485" -> "9 485": thousands apart by a space, as farmers and land offices write them.
std::string GroupedWhole(double v) {
    const long long n = std::llround(std::fabs(v));
    std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    return v < 0 && n != 0 ? "-" + out : out;
}

}  // namespace

std::string ToleranceText(double area_m2, double tolerance_m2) {
    return GroupedWhole(area_m2) + " m² ± " + GroupedWhole(tolerance_m2) + " m²";
}

std::string ToleranceMuText(double area_m2, double tolerance_m2) {
    return FixedText(area_m2 / kSquareMetresPerMu, 2) + " ± " + FixedText(tolerance_m2 / kSquareMetresPerMu, 2) + " " +
           T(StringId::RES_FIELD_UNIT_MU);
}

std::string DurationText(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    return buf;
}

std::vector<FigureLine> FigureLines(const FieldFile& f, const FieldFigures& r) {
    std::vector<FigureLine> out;
    auto add = [&](StringId id, std::string value) { out.push_back({T(id), std::move(value)}); };
    const bool area = r.kind == FieldKind::kArea;
    add(StringId::RES_FIELD_KIND,
        T(area ? StringId::RES_FIELD_KIND_AREA : StringId::RES_FIELD_KIND_TRACK));
    add(StringId::RES_FIELD_NAME, f.name);
    add(StringId::RES_FIELD_POINTS, std::to_string(r.points));
    if (f.damagedRecords > 0)
        add(StringId::RES_FIELD_DAMAGED,
            CountText(StringId::RES_FIELD_DAMAGED_VALUE, StringId::RES_FIELD_DAMAGED_VALUE_ONE,
                      static_cast<int>(f.damagedRecords)));
    // The extent's two corners on lines of their own: one line was too wide for
    // the field view's side.
    if (!r.bbox.empty) {
        add(StringId::RES_FIELD_BBOX, FixedText(r.bbox.minLon, kCoordDecimals) + ", " +
                                          FixedText(r.bbox.minLat, kCoordDecimals) + " –");
        out.push_back({{}, FixedText(r.bbox.maxLon, kCoordDecimals) + ", " +
                               FixedText(r.bbox.maxLat, kCoordDecimals)});
    }
    if (!area) {
        add(StringId::RES_FIELD_LENGTH_WGS84, LengthText(r.wgs84.length_m));
        if (r.track) {
            const TrackStats& t = *r.track;
            if (t.startTime) add(StringId::RES_FIELD_START, TimeText(*t.startTime));
            if (t.endTime) add(StringId::RES_FIELD_END, TimeText(*t.endTime));
            if (t.startTime) add(StringId::RES_FIELD_DURATION, DurationText(t.duration_s));
            if (t.startTime) {
                add(StringId::RES_FIELD_MOVING_SPEED,
                    FixedText(t.movingAverage_mps * kKmhPerMps, 2) + " km/h");
                add(StringId::RES_FIELD_MAX_SPEED,
                    FixedText(t.maxSpeed_mps * kKmhPerMps, 2) + " km/h");
            }
            if (t.jumps > 0) add(StringId::RES_FIELD_JUMPS, std::to_string(t.jumps));
            if (t.timeOrderBreaks > 0)
                add(StringId::RES_FIELD_TIME_ORDER, std::to_string(t.timeOrderBreaks));
        }
        return out;
    }
    const bool harvesting = r.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
    add(StringId::RES_FIELD_METHOD, MethodText(r.method));
    const FieldTimes times = TimesOf(f);
    const std::pair<StringId, std::optional<std::int64_t>> timeLines[] = {
        {StringId::RES_FIELD_COLLECTED, times.collected},
        {StringId::RES_FIELD_WORK_START, times.start},
        {StringId::RES_FIELD_WORK_FINISH, times.finish}};
    for (const auto& [label, t] : timeLines)
        if (t && !FieldTimeText(*t).empty()) add(label, FieldTimeText(*t));
    if (harvesting && f.handheld.workWidth)
        add(StringId::RES_FIELD_WIDTH, FixedText(*f.handheld.workWidth, 1) + " m");
    add(harvesting ? StringId::RES_FIELD_LENGTH_WGS84 : StringId::RES_FIELD_PERIMETER_WGS84,
        LengthText(r.wgs84.length_m));
    AddArea(out, StringId::RES_FIELD_AREA_WGS84, FixedText(r.wgs84.area.m2, 2) + " m²",
            r.wgs84.area);
    if (r.holes > 0) add(StringId::RES_FIELD_HOLES, std::to_string(r.holes));
    if (r.validity) {
        const Validity& v = *r.validity;
        // Two lines, as the area's units are: on one the value outgrew the
        // field view's side at its first size.
        add(StringId::RES_FIELD_AREA_TOLERANCE, ToleranceText(r.wgs84.area_m2, r.areaTolerance_m2));
        out.push_back({{}, ToleranceMuText(r.wgs84.area_m2, r.areaTolerance_m2)});
        if (v.tooFewPoints) {
            add(StringId::RES_FIELD_TOO_FEW, std::to_string(v.distinctPoints));
        } else if (!v.valid) {
            add(StringId::RES_FIELD_INVALID, {});
            if (!v.crossings.empty()) {
                add(StringId::RES_FIELD_CROSSINGS, std::to_string(v.crossings.size()));
                out.push_back({{}, FixedText(v.crossings[0].lon, kCoordDecimals) + ", " +
                                       FixedText(v.crossings[0].lat, kCoordDecimals)});
            }
            add(StringId::RES_FIELD_VALID_AREA, FixedText(v.validArea_m2, 2) + " m²");
        }
        if (v.repeatedPoints > 0) add(StringId::RES_FIELD_REPEATS, std::to_string(v.repeatedPoints));
        if (!v.spikes.empty()) add(StringId::RES_FIELD_SPIKES, std::to_string(v.spikes.size()));
    }
    AddLandOfficeLines(f, harvesting, out);
    if (r.handheld) {
        const HandheldFigures& h = *r.handheld;
        add(harvesting ? StringId::RES_FIELD_LENGTH_HANDHELD
                       : StringId::RES_FIELD_PERIMETER_HANDHELD,
            h.shown.lengthText);
        AddArea(out, StringId::RES_FIELD_AREA_HANDHELD, h.shown.areaText, h.area);
        // Unit prices with the unit they apply to, and totals with the price they
        // come from: the handheld prices per km above 1000 m and per km² above 1 km².
        const std::string lengthPrice =
            PriceText(f.handheld.lengthUnitPrice, h.lengthPerKm, StringId::RES_FIELD_PER_M,
                      StringId::RES_FIELD_PER_KM);
        const std::string areaPrice =
            PriceText(f.handheld.areaUnitPrice, h.areaPerKm2, StringId::RES_FIELD_PER_M2,
                      StringId::RES_FIELD_PER_KM2);
        add(harvesting ? StringId::RES_FIELD_LENGTH_UNIT_PRICE
                       : StringId::RES_FIELD_PERIMETER_UNIT_PRICE,
            lengthPrice);
        add(StringId::RES_FIELD_AREA_UNIT_PRICE, areaPrice);
        add(harvesting ? StringId::RES_FIELD_LENGTH_TOTAL : StringId::RES_FIELD_PERIMETER_TOTAL,
            FormatText(StringId::RES_FIELD_TOTAL_AT,
                       FixedText(h.shown.lengthTotal, kPriceDecimals).c_str(),
                       lengthPrice.c_str()));
        add(StringId::RES_FIELD_AREA_TOTAL,
            FormatText(StringId::RES_FIELD_TOTAL_AT,
                       FixedText(h.shown.areaTotal, kPriceDecimals).c_str(), areaPrice.c_str()));
        if (r.wgs84.area_m2 > 0)
            add(StringId::RES_FIELD_DIFFERENCE,
                (h.measure.area >= r.wgs84.area_m2 ? "+" : "") +
                    FixedText((h.measure.area / r.wgs84.area_m2 - 1) * kPercent, 2) + " %");
    }
    return out;
}

std::string ReadErrorMessage(const ReadResult& r) {
    StringId id = StringId::RES_FIELD_ERR_CANNOT_READ;
    switch (r.error) {
        case ReadError::kNone:
        case ReadError::kCannotRead:
            break;
        case ReadError::kTooLarge:
            id = StringId::RES_FIELD_ERR_TOO_LARGE;
            break;
        case ReadError::kEmpty:
            id = StringId::RES_FIELD_ERR_EMPTY;
            break;
        case ReadError::kNotRecognised:
            id = StringId::RES_FIELD_ERR_NOT_RECOGNISED;
            break;
        case ReadError::kDamaged:
            id = StringId::RES_FIELD_ERR_DAMAGED;
            break;
        case ReadError::kXmlError:
            id = StringId::RES_FIELD_ERR_XML;
            break;
        case ReadError::kNoShapes:
            id = StringId::RES_FIELD_ERR_NO_SHAPES;
            break;
        case ReadError::kBadCoordinates:
            id = StringId::RES_FIELD_ERR_BAD_COORDINATES;
            break;
        case ReadError::kBadCrs:
            id = StringId::RES_FIELD_ERR_BAD_CRS;
            break;
        case ReadError::kCancelled:
            id = StringId::RES_FIELD_ERR_CANCELLED;
            break;
    }
    return r.message.empty() ? T(id) : T(id) + " (" + r.message + ")";
}

}  // namespace dorvane::geo
