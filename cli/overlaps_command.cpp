#include "cli/overlaps_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/cli_output.h"
#include "geo/figure_lines.h"
#include "geo/figures.h"
#include "geo/ogr_reader.h"
#include "geo/overlaps.h"
#include "i18n/string_table.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using cli::kExitFailed;
using cli::kExitOk;
using cli::kExitUsage;
using nlohmann::json;

constexpr double kPercent = 100.0;

struct Input {
    fs::path path;
    bool inFolder = false;
};

std::vector<Input> Gather(const std::vector<fs::path>& named, bool recursive) {
    std::vector<Input> out;
    for (const fs::path& p : named) {
        std::error_code ec;
        if (!fs::is_directory(p, ec)) {
            out.push_back({p, false});
            continue;
        }
        std::vector<fs::path> files;
        auto take = [&](const fs::directory_entry& e) {
            std::error_code fe;
            if (e.is_regular_file(fe)) files.push_back(e.path());
        };
        if (recursive) {
            for (fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied,
                                                     ec),
                 end;
                 !ec && it != end; it.increment(ec))
                take(*it);
        } else {
            for (fs::directory_iterator it(p, fs::directory_options::skip_permission_denied, ec),
                 end;
                 !ec && it != end; it.increment(ec))
                take(*it);
        }
        std::sort(files.begin(), files.end());
        for (fs::path& f : files) out.push_back({std::move(f), true});
    }
    return out;
}

}  // namespace

int RunOverlapsCommand(const std::vector<std::string>& operands) {
    bool asJson = false;
    bool recursive = false;
    std::vector<fs::path> named;
    for (const std::string& s : operands) {
        if (s == "--json")
            asJson = true;
        else if (s == "-r" || s == "--recursive")
            recursive = true;
        else if (s.starts_with("-") && s.size() > 1)
            return kExitUsage;
        else
            named.emplace_back(s);
    }
    if (named.empty()) return kExitUsage;

    int status = kExitOk;
    std::vector<geo::FieldFile> fields;
    std::vector<std::string> labels;
    for (const Input& in : Gather(named, recursive)) {
        geo::ShapeSet set;
        const geo::ReadResult r = geo::ReadShapes(in.path, set);
        if (!r.ok()) {
            if (in.inFolder && (r.error == geo::ReadError::kNotRecognised ||
                                r.error == geo::ReadError::kNoShapes))
                continue;
            status = kExitFailed;
            std::fprintf(stderr, "%s\n",
                         FormatText(StringId::RES_FIELD_INFO_FAILED, in.path.string().c_str(),
                                    geo::ReadErrorMessage(r).c_str())
                             .c_str());
            continue;
        }
        for (geo::FieldFile& f : set.shapes) {
            if (f.kind != geo::FieldKind::kArea) continue;
            labels.push_back(geo::ShapeDisplayName(in.path.string(), f));
            fields.push_back(std::move(f));
        }
    }
    std::vector<const geo::FieldFile*> ptrs;
    for (const geo::FieldFile& f : fields) ptrs.push_back(&f);
    const std::vector<geo::Overlap> pairs = geo::FindOverlaps(ptrs);

    if (asJson) {
        json all = json::array();
        for (const geo::Overlap& o : pairs)
            all.push_back({{"a", labels[o.a]},
                           {"b", labels[o.b]},
                           {"overlap_m2", o.overlap_m2},
                           {"overlap_mu", o.overlap_m2 / geo::kSquareMetresPerMu},
                           {"share_of_smaller", o.shareOfSmaller},
                           {"measured_twice", o.measuredTwice}});
        std::printf("%s\n", all.dump(2, ' ', false, json::error_handler_t::replace).c_str());
        return status;
    }
    if (pairs.empty()) std::printf("%s\n", Text(StringId::RES_FIELD_OVERLAP_NONE).c_str());
    for (const geo::Overlap& o : pairs) {
        char m2[32], mu[32], share[32];
        std::snprintf(m2, sizeof m2, "%.2f", o.overlap_m2);
        std::snprintf(mu, sizeof mu, "%.3f", o.overlap_m2 / geo::kSquareMetresPerMu);
        std::snprintf(share, sizeof share, "%.1f %%", o.shareOfSmaller * kPercent);
        std::string line = FormatText(StringId::RES_FIELD_OVERLAP_LINE, labels[o.a].c_str(),
                                      labels[o.b].c_str(), m2, mu, share);
        if (o.measuredTwice) line += " - " + Text(StringId::RES_FIELD_OVERLAP_TWICE);
        std::printf("%s\n", line.c_str());
    }
    return status;
}

}  // namespace dorvane
