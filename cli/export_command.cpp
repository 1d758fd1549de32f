#include "cli/export_command.h"

#include <cstdio>
#include <filesystem>
#include <optional>

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
                 "export FILE... --to gpkg|shp|geojson|kml|dxf|csv -o OUT [--force]");
    return kExitUsage;
}

}  // namespace

int RunExportCommand(const std::vector<std::string>& operands) {
    std::vector<fs::path> inputs;
    std::optional<std::string> format;
    std::optional<fs::path> out;
    bool force = false;
    for (std::size_t i = 0; i < operands.size(); ++i) {
        const std::string& s = operands[i];
        if (s == "--force") {
            force = true;
        } else if (s == "--to" || s == "-o") {
            if (i + 1 >= operands.size()) return Usage();
            if (s == "--to")
                format = operands[++i];
            else
                out = fs::path(operands[++i]);
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
    bool ok = true;
    std::vector<gis::ExportSource> sources;
    for (const fs::path& p : inputs) {
        gis::ExportSource s;
        s.path = p;
        const geo::ReadResult r = geo::ReadFieldFile(p, s.field);
        if (!r.ok()) {
            std::fprintf(stderr, "%s: %s\n", p.c_str(), geo::ReadErrorMessage(r).c_str());
            ok = false;
            continue;
        }
        sources.push_back(std::move(s));
    }
    if (sources.empty()) {
        std::fprintf(stderr, "%s\n", Text(StringId::RES_LEDGER_NOTHING).c_str());
        return kExitFailed;
    }
    const gis::ExportResult r = gis::ExportGis(sources, *f, *out, force);
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
    std::printf("%s\n", FormatText(StringId::RES_LEDGER_EXPORTED, static_cast<int>(r.fields),
                                   static_cast<int>(r.tracks), out->c_str())
                            .c_str());
    return ok ? kExitOk : kExitFailed;
}

}  // namespace dorvane
