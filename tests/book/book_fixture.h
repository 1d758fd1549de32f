#pragma once
// Handheld area files and a fresh folder for the book's tests.

#include <fstream>
#include <string>

#include "convert/area_file.h"
#include "convert/temp_folder.h"

namespace dorvane::testing {

/// A vertex-method field of four corners near (lon0, lat0), `size` degrees wide.
inline AreaFile SquareField(float lon0, float lat0, float size, std::int32_t when = 1777600000) {
    AreaFile a;
    a.header.collectionTime = when;
    a.header.SetFileName("F");
    a.header.method = static_cast<std::int16_t>(AreaMethod::kVertex);
    const float corners[4][2] = {{0, 0}, {size, 0}, {size, size}, {0, size}};
    for (const auto& c : corners) {
        AreaPoint p;
        p.longitude = lon0 + c[0];
        p.latitude = lat0 + c[1];
        a.points.push_back(p);
    }
    return a;
}

inline void WriteText(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

}  // namespace dorvane::testing
