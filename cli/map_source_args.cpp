#include "cli/map_source_args.h"

#include "app/startup/program_help.h"

namespace dorvane::cli {

MapOption TakeMapSourceOption(const std::vector<std::string>& ops, std::size_t& i, MapSourceArgs& a) {
    const std::string& s = ops[i];
    if (s == "--offline") {
        a.offline = true;
        return MapOption::kTaken;
    }
    if (s != "--tiles" && s != "--overlay") return MapOption::kNotOne;
    if (i + 1 >= ops.size()) return MapOption::kMissingValue;
    const std::string& v = ops[++i];
    if (s == "--overlay") {
        if (!IsTileTemplateArgument(v)) return MapOption::kBadValue;
        a.overlay = v;
    } else {
        const std::string t = v.empty() ? "none" : v;
        if (!IsTileSourceArgument(t)) return MapOption::kBadValue;
        if (a.tiles.empty())
            a.tiles = t;
        else
            a.stackedTiles.push_back(t);
    }
    return MapOption::kTaken;
}

const char* MapOptionValues(const std::string& option) {
    return option == "--tiles" ? "none, FILE.mbtiles, http(s)://HOST/{z}/{x}/{y}.png"
                               : "http(s)://HOST/{z}/{x}/{y}.png";
}

}  // namespace dorvane::cli
