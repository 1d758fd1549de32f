#include "cli/info_command.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/cli_output.h"
#include "geo/figure_lines.h"
#include "geo/figures.h"
#include "geo/ogr_reader.h"
#include "geo/land_survey.h"
#include "i18n/string_table.h"

namespace dorvane {
namespace {

using cli::kExitFailed;
using cli::kExitOk;
using cli::kExitUsage;

using nlohmann::json;
using namespace geo;

const char* FormatName(FieldFormat f) {
    switch (f) {
        case FieldFormat::kHandheldTrack:
            return "handheld-track";
        case FieldFormat::kHandheldArea:
            return "handheld-area";
        case FieldFormat::kGpx:
            return "gpx";
        case FieldFormat::kKml:
            return "kml";
        case FieldFormat::kOgr:
            return "ogr";
        case FieldFormat::kLandText:
            return "land-text";
    }
    return "unknown";
}

// What a land office computes: CGCS2000 geodesic figures, and for a field
// its area on the plane of its 3-degree Gauss-Krueger zone.
void AddLandOfficeFigures(const FieldFile& f, const FieldFigures& r, json& o) {
    const Cgcs2000Figures c = ComputeCgcs2000(f);
    o["cgcs2000"] = {{"length_m", c.length_m}, {"area_m2", c.area_m2}};
    const bool harvesting = r.method == static_cast<std::int16_t>(AreaMethod::kHarvesting);
    const auto gk = r.kind == FieldKind::kArea && !harvesting ? ComputeGk3(f) : std::nullopt;
    o["gk3"] = gk ? json{{"zone", gk->zone},
                         {"central_meridian", gk->centralMeridian},
                         {"area_m2", gk->area_m2}}
                  : json(nullptr);
}

json OptionalTime(const std::optional<double>& t) {
    return t ? json(IsoUtcText(*t)) : json(nullptr);
}

json ToJson(const std::string& file, const FieldFile& f, const FieldFigures& r) {
    json o;
    o["file"] = file;
    o["shape"] = f.shape;
    o["label"] = f.name;
    o["name"] = f.name;
    o["format"] = FormatName(f.format);
    if (f.format == FieldFormat::kOgr) o["driver"] = f.driver;
    o["kind"] = r.kind == FieldKind::kArea ? "area" : "track";
    o["points"] = r.points;
    if (r.kind == FieldKind::kArea) {
        o["method"] = r.method ? json(*r.method) : json(nullptr);
        o["damaged_records"] = f.damagedRecords;  // left out; the figures miss them
        o["holes"] = f.holes.size();
    }
    if (r.validity) {
        const Validity& v = *r.validity;
        o["valid"] = v.valid;
        json crossings = json::array();
        for (const GeoPoint& p : v.crossings) crossings.push_back(json::array({p.lon, p.lat}));
        o["crossings"] = crossings;
        o["valid_area_m2"] = v.validArea_m2;
        o["area_tolerance_m2"] = r.areaTolerance_m2;
        o["receiver_accuracy_m"] = r.receiverAccuracy_m;
        o["repeated_points"] = v.repeatedPoints;
        o["spikes"] = v.spikes;
        o["distinct_points"] = v.distinctPoints;
    }
    o["bbox"] = r.bbox.empty
                    ? json(nullptr)
                    : json::array({r.bbox.minLon, r.bbox.minLat, r.bbox.maxLon, r.bbox.maxLat});
    o["wgs84"] = {{"length_m", r.wgs84.length_m},
                  {"area_m2", r.wgs84.area.m2},
                  {"area_ha", r.wgs84.area.ha},
                  {"area_mu", r.wgs84.area.mu},
                  {"area_acre", r.wgs84.area.acre}};
    AddLandOfficeFigures(f, r, o);
    if (r.handheld) {
        const HandheldFigures& h = *r.handheld;
        o["handheld"] = {{"length_m", h.measure.length},        {"area_m2", h.measure.area},
                         {"length_text", h.shown.lengthText},   {"area_text", h.shown.areaText},
                         {"length_total", h.shown.lengthTotal}, {"area_total", h.shown.areaTotal}};
    }
    if (r.track) {
        o["start_time"] = OptionalTime(r.track->startTime);
        o["end_time"] = OptionalTime(r.track->endTime);
        o["duration_s"] = r.track->duration_s;
        o["moving_average_mps"] = r.track->movingAverage_mps;
        o["max_speed_mps"] = r.track->maxSpeed_mps;
        o["jumps"] = r.track->jumps;
        o["time_order_breaks"] = r.track->timeOrderBreaks;
    }
    return o;
}

}  // namespace

int RunInfoCommand(const std::vector<std::string>& operands) {
    bool asJson = false;
    double accuracy = kDefaultReceiverAccuracy_m;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const std::string& s = operands[i];
        if (s == "--json") {
            asJson = true;
        } else if (s == "--accuracy" || s.starts_with("--accuracy=")) {
            // The receiver's accuracy in metres, for the area's band.
            std::string value;
            if (s == "--accuracy") {
                if (i + 1 >= operands.size()) return kExitUsage;
                value = operands[++i];
            } else {
                value = s.substr(std::string_view("--accuracy=").size());
            }
            char* end = nullptr;
            accuracy = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(accuracy) || accuracy < 0)
                return kExitUsage;
        } else {
            files.push_back(s);
        }
    }
    if (files.empty()) return kExitUsage;

    int status = kExitOk;
    json all = json::array();
    bool first = true;
    for (const auto& file : files) {
        ShapeSet set;
        const ReadResult rr = ReadShapes(file, set);
        if (!rr.ok()) {
            status = kExitFailed;
            const std::string why = ReadErrorMessage(rr);
            if (asJson)
                all.push_back({{"file", file}, {"error", why}});
            else
                std::fprintf(
                    stderr, "%s\n",
                    FormatText(StringId::RES_FIELD_INFO_FAILED, file.c_str(), why.c_str()).c_str());
            continue;
        }
        // Features that could not be read, by their number; the rest are measured.
        for (const FeatureProblem& p : set.problems) {
            const std::string where = file + " #" + std::to_string(p.feature);
            if (asJson)
                all.push_back({{"file", file}, {"feature", p.feature}, {"error", p.message}});
            else
                std::fprintf(stderr, "%s\n",
                             FormatText(StringId::RES_FIELD_INFO_FAILED, where.c_str(),
                                        p.message.c_str())
                                 .c_str());
        }
        for (const FieldFile& f : set.shapes) {
            const FieldFigures r = ComputeFigures(f, accuracy);
            if (asJson) {
                all.push_back(ToJson(file, f, r));
                continue;
            }
            std::printf("%s%s\n", first ? "" : "\n",
                        set.shapes.size() > 1 ? (file + " › " + f.name).c_str() : file.c_str());
            first = false;
            std::size_t indent = 0;
            for (const FigureLine& l : FigureLines(f, r)) {
                if (!l.label.empty()) {
                    std::printf("  %s: %s\n", l.label.c_str(), l.value.c_str());
                    indent = l.label.size() + 2;  // continuation lines under the value
                } else {
                    std::printf("  %*s%s\n", static_cast<int>(indent), "", l.value.c_str());
                }
            }
        }
    }
    if (asJson)
        std::printf("%s\n", all.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    return status;
}

}  // namespace dorvane
