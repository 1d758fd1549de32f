#include "cli/list_json.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "names/encoding.h"

namespace dorvane {

std::string IsoUtcTime(std::int64_t seconds) {
    // civil-from-days through <chrono>, so no gmtime and no time zone data.
    using namespace std::chrono;
    const sys_seconds t{std::chrono::seconds{seconds}};
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<std::chrono::seconds> hms{t - day};
    char out[48];
    std::snprintf(out, sizeof out, "%04d-%02u-%02uT%02ld:%02ld:%02lldZ",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<long>(hms.hours().count()),
                  static_cast<long>(hms.minutes().count()),
                  static_cast<long long>(hms.seconds().count()));
    return out;
}

std::string ListingJson(const std::vector<DeviceFileEntry>& files) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& e : files) {
        list.push_back({{"name", ShownName(e)},
                        {"size", e.size},
                        {"time", IsoUtcTime(e.mtime)},
                        {"seconds", e.mtime}});
    }
    // replace: a name is never trusted to be valid UTF-8, even after the conversion.
    return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace dorvane
