#pragma once
// Shared by the land-office tests: points, fields and the Python that
// checks them (the system's python3, where pyproj, shapely and GDAL live).
#include <GeographicLib/Geodesic.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "common/run_command.h"
#include "geo/field_file.h"
#include "geo/land_survey.h"

namespace dorvane::landtest {

inline constexpr const char* kPython = "/usr/bin/python3";

inline geo::GeoPoint At(double lon, double lat) {
    geo::GeoPoint p;
    p.lon = lon;
    p.lat = lat;
    return p;
}

// A field of about `side` metres a side with a corner at (lon, lat), walked
// counter-clockwise (east, north, west), with a fifth corner pushed out on
// its north side so that the north-west corner is the one point nearest the
// extent's north-west corner.
inline std::vector<geo::GeoPoint> Field(double lon, double lat, double side = 120) {
    const auto& g = GeographicLib::Geodesic::WGS84();
    auto move = [&](const geo::GeoPoint& a, double az, double s) {
        double la = 0, lo = 0;
        g.Direct(a.lat, a.lon, az, s, la, lo);
        return At(lo, la);
    };
    const geo::GeoPoint a = At(lon, lat);
    const geo::GeoPoint b = move(a, 90, side);
    const geo::GeoPoint c = move(b, 0, side);
    const geo::GeoPoint d = move(a, 0, side * 1.1);
    const geo::GeoPoint e = move(move(a, 0, side * 1.2), 90, side / 2);
    return {a, b, c, e, d};
}

inline std::string WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Runs `script` (Python source) with `args`; stdout and stderr together.
inline test::CommandRun Python(const std::string& dir, const std::string& script,
                               const std::string& args = "") {
    const std::string path = WriteFile(dir + "/check.py", script);
    return test::RunCommand(std::string(kPython) + " '" + path + "' " + args + " 2>&1");
}

}  // namespace dorvane::landtest
