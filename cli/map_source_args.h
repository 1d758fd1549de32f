#pragma once
// The map-source options of the commands that draw maps into a PDF (report,
// book bill and book pdf), read the one way for all of them:
//   --tiles URL|FILE.mbtiles|none   repeatable: each later one drawn over the
//                                   ones before (a county's pack over a
//                                   province's)
//   --overlay URL                   drawn over all of them
//   --offline                       no server asked: packs and cached tiles

#include <cstddef>
#include <string>
#include <vector>

namespace dorvane::cli {

struct MapSourceArgs {
    std::string tiles;                      ///< the first --tiles ("" when none was given)
    std::vector<std::string> stackedTiles;  ///< a second --tiles and on, over the first
    std::string overlay;
    bool offline = false;
};

enum class MapOption { kNotOne, kTaken, kMissingValue, kBadValue };

/// When ops[i] is one of the options above, takes it into `a` (with its
/// value: `i` then points at the value) and says kTaken; kMissingValue when
/// its value is missing, kBadValue when the desktop's --snapshot would
/// refuse it too (IsTileSourceArgument, IsTileTemplateArgument); kNotOne
/// for any other word (`i` unchanged). An empty --tiles value means "none".
MapOption TakeMapSourceOption(const std::vector<std::string>& ops, std::size_t& i, MapSourceArgs& a);

/// What the value of map option `option` may be, for the message about a
/// missing or bad one.
const char* MapOptionValues(const std::string& option);

}  // namespace dorvane::cli
