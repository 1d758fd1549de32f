#include "cli/export_command.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "book/bill_settings.h"
#include "cli/cli_output.h"
#include "export/gis_export.h"
#include "geo/figure_lines.h"
#include "i18n/string_table.h"

namespace dorvane {

namespace fs = std::filesystem;

namespace {

using cli::kExitFailed;
using cli::kExitOk;
using cli::kExitUsage;

int Usage() {
    std::fprintf(stderr, "%s\n",
                 "export FILE... --to gpkg|shp|geojson|kml|dxf|csv|txt -o OUT "
                 "[--crs EPSG:N|auto|auto-cm|auto6|auto6-cm|wgs84|cgcs2000] "
                 "[--encoding gbk|utf-8] [--producer TEXT] [--force]");
    return kExitUsage;
}

// Hectares with 4 decimals, as the coordinate text writes them.
std::string Hectares(double m2) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4f", m2 / 10000.0);
    return buf;
}

// The producer a coordinate text names: the seller of the bill settings,
// when there are any.
std::string SellerName() {
    book::BillSettings settings;
    if (!book::LoadBillSettings(book::DefaultBillSettingsPath(), settings).ok()) return {};
    return settings.sellerName;
}

}  // namespace

int RunExportCommand(const std::vector<std::string>& operands) {
    std::vector<fs::path> inputs;
    std::optional<std::string> format;
    std::optional<fs::path> out;
    std::optional<std::string> crsText;
    std::optional<std::string> encoding;
    std::optional<std::string> producer;
    bool force = false;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const std::string& s = operands[i];
        if (s == "--force") {
            force = true;
        } else if (s == "--to" || s == "-o" || s == "--crs" || s == "--encoding" ||
                   s == "--producer") {
            if (i + 1 >= operands.size()) return Usage();
            const std::string& v = operands[++i];
            if (s == "--to")
                format = v;
            else if (s == "-o")
                out = fs::path(v);
            else if (s == "--crs")
                crsText = v;
            else if (s == "--encoding")
                encoding = v;
            else
                producer = v;
        } else if (s.size() > 1 && s[0] == '-') {
            return Usage();
        } else {
            inputs.emplace_back(s);
        }
    }
    if (inputs.empty() || !format || !out) return Usage();
    const auto f = gis::ParseGisFormat(*format);
    if (!f) {
        std::fprintf(stderr, "%s\n",
                     FormatText(StringId::RES_LEDGER_BAD_FORMAT, format->c_str()).c_str());
        return kExitUsage;
    }
    gis::ExportOptions options;
    if (crsText) {
        const auto crs = gis::ParseCrsChoice(*crsText);
        if (!crs) {
            std::fprintf(stderr, "%s\n", FormatText(StringId::RES_LAND_BAD_CRS, crsText->c_str()).c_str());
            return kExitUsage;
        }
        options.crs = *crs;
    } else if (*f == gis::GisFormat::kLandText) {
        options.crs = {gis::CrsMode::kAutoGk3, 0};  // the text is only ever in a zone
    }
    if (encoding) {
        if (*encoding == "utf-8" || *encoding == "utf8" || *encoding == "UTF-8")
            options.encoding = gis::TextEncoding::kUtf8;
        else if (*encoding != "gbk" && *encoding != "GBK")
            return Usage();
    }
    options.producer = producer ? *producer : SellerName();
    bool ok = true;
    std::vector<gis::ExportSource> sources;
    for (const fs::path& p : inputs) {
        std::vector<std::string> leftOut;
        const geo::ReadResult r = gis::ReadExportSources(p, sources, leftOut);
        if (!r.ok()) {
            std::fprintf(stderr, "%s: %s\n", p.c_str(), geo::ReadErrorMessage(r).c_str());
            ok = false;
            continue;
        }
        // The file's other shapes are exported all the same.
        for (const std::string& why : leftOut) std::fprintf(stderr, "%s: %s\n", p.c_str(), why.c_str());
    }
    if (sources.empty()) {
        std::fprintf(stderr, "%s\n", Text(StringId::RES_LEDGER_NOTHING).c_str());
        return kExitFailed;
    }
    const gis::ExportResult r = gis::ExportGis(sources, *f, *out, force, options);
    if (r.error == gis::ExportError::kBadCrs) {
        std::fprintf(stderr, "%s (%s)\n",
                     FormatText(StringId::RES_LAND_BAD_CRS,
                                gis::CrsChoiceText(options.crs).c_str())
                         .c_str(),
                     r.message.c_str());
        return kExitFailed;
    }
    if (r.error == gis::ExportError::kNotGaussKrueger) {
        std::fprintf(stderr, "%s\n", Text(StringId::RES_LAND_NOT_GK).c_str());
        return kExitUsage;
    }
    if (r.error == gis::ExportError::kExists) {
        std::fprintf(stderr, "%s\n", FormatText(StringId::RES_LEDGER_EXISTS, out->c_str()).c_str());
        return kExitFailed;
    }
    if (!r.ok()) {
        std::string why(gis::ExportErrorText(r.error));
        if (!r.message.empty()) why += " (" + r.message + ")";
        std::fprintf(
            stderr, "%s\n",
            FormatText(StringId::RES_LEDGER_WRITE_FAILED, out->c_str(), why.c_str()).c_str());
        return kExitFailed;
    }
    // Fields outside the chosen zone are written there all the same, and named.
    for (const gis::ZoneWarning& w : r.crs.warnings) {
        const int zone = r.crs.zone ? r.crs.zone->zone : 0;
        std::fprintf(stderr, "%s\n",
                     FormatText(StringId::RES_LAND_OUTSIDE_ZONE, w.name.c_str(), zone, w.zone, zone)
                         .c_str());
    }
    std::printf("%s\n", FormatText(StringId::RES_LEDGER_EXPORTED, static_cast<int>(r.fields),
                                   static_cast<int>(r.tracks), out->c_str())
                            .c_str());
    if (r.fields > 0 && r.crs.projected) {
        const std::string system = r.crs.epsg ? "EPSG:" + std::to_string(r.crs.epsg)
                                              : r.crs.zone->ProjDefinition();
        std::printf("%s\n", FormatText(StringId::RES_LAND_AREA_SUMMARY,
                                       Hectares(r.ellipsoidArea_m2).c_str(), system.c_str(),
                                       Hectares(r.planeArea_m2).c_str())
                                .c_str());
    }
    return ok ? kExitOk : kExitFailed;
}

}  // namespace dorvane
