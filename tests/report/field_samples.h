#pragma once
// Handheld area files built in the tests, with corners on coordinates that a
// float holds exactly, so that the expected figures can be worked out here
// from the same numbers the files carry.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/area_file.h"

namespace dorvane::testing {

// 2024-05-01 00:00:00 UTC.
inline constexpr std::int32_t kDay0 = 1714521600;
inline constexpr std::int32_t kDaySeconds = 86400;
// Powers of two: exact in a float beside 116.25 and 39.75.
inline constexpr double kLon0 = 116.25;
inline constexpr double kLat0 = 39.75;

struct SampleField {
    std::string name;  ///< header name (GBK bytes)
    AreaMethod method = AreaMethod::kVertex;
    bool work = false;
    float width = 2.5f;
    std::int32_t collected = kDay0;
    float areaPrice = 0.5f;
    float lengthPrice = 2.0f;
    /// Rectangle corners dLon x dLat degrees from (kLon0 + shift, kLat0);
    /// harvesting work: `steps` points eastwards, dLon apart.
    double dLon = 1.0 / 512;
    double dLat = 1.0 / 1024;
    double shift = 0;
    int steps = 5;
};

inline std::vector<AreaPoint> SamplePoints(const SampleField& s) {
    std::vector<AreaPoint> pts;
    auto add = [&](double lon, double lat) {
        AreaPoint p;
        p.longitude = static_cast<float>(lon);
        p.latitude = static_cast<float>(lat);
        p.altitude = 40;
        pts.push_back(p);
    };
    const double lon0 = kLon0 + s.shift;
    if (s.method == AreaMethod::kHarvesting) {
        for (int i = 0; i < s.steps; ++i) add(lon0 + i * s.dLon, kLat0);
    } else {
        add(lon0, kLat0);
        add(lon0 + s.dLon, kLat0);
        add(lon0 + s.dLon, kLat0 + s.dLat);
        add(lon0, kLat0 + s.dLat);
    }
    return pts;
}

inline AreaFile SampleArea(const SampleField& s) {
    AreaFile a;
    a.header.areaUnitPrice = s.areaPrice;
    a.header.lengthUnitPrice = s.lengthPrice;
    a.header.collectionTime = s.collected;
    a.header.SetFileName(s.name);
    a.header.method = static_cast<std::int16_t>(s.method);
    if (s.work) a.work = AreaWorkRecord{s.width, s.collected + 600, s.collected + 4200, 0};
    a.points = SamplePoints(s);
    return a;
}

inline void WriteSample(const std::filesystem::path& file, const SampleField& s) {
    std::ofstream(file, std::ios::binary) << WriteArea(SampleArea(s));
}

/// One field of each method in `folder`: V1.txt (vertex), T1.txt (track,
/// with a work record, a day later, a larger field) and H1.txt (harvesting,
/// with a work record).
inline void WriteFieldOfEachMethod(const std::filesystem::path& folder) {
    WriteSample(folder / "V1.txt", SampleField{.name = "V1"});
    WriteSample(folder / "T1.txt", SampleField{.name = "T1",
                                               .method = AreaMethod::kTrack,
                                               .work = true,
                                               .collected = kDay0 + kDaySeconds,
                                               .dLon = 1.0 / 128,
                                               .dLat = 1.0 / 256,
                                               .shift = 0.5});
    WriteSample(
        folder / "H1.txt",
        SampleField{.name = "H1", .method = AreaMethod::kHarvesting, .work = true, .shift = 1});
}

}  // namespace dorvane::testing
