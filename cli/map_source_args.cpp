#include "cli/map_source_args.h"

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
        a.overlay = v;
    } else {
        const std::string t = v.empty() ? "none" : v;
        if (a.tiles.empty())
            a.tiles = t;
        else
            a.stackedTiles.push_back(t);
    }
    return MapOption::kTaken;
}

const char* MapOptionValues(const std::string& option) {
    return option == "--tiles" ? "URL, FILE.mbtiles, none" : "URL";
}

}  // namespace dorvane::cli
