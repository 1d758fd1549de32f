// libFuzzer target: ReadShapesBytes on any bytes, under a name whose
// extension the first byte chooses (the extension decides which readers are
// tried first, as on disk), then every shape's figures and the overlaps
// among them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "geo/figures.h"
#include "geo/ogr_reader.h"
#include "geo/overlaps.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kNames[] = {"f.geojson", "f.csv", "f.kml", "f.gpx", "f.dxf",
                                         "f.kmz",     "f.gml", "f.txt", "f.json"};
    constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];
    if (size == 0) return 0;
    const char* name = kNames[data[0] % kNameCount];
    dorvane::geo::ShapeSet set;
    const auto r = dorvane::geo::ReadShapesBytes(std::span(data + 1, size - 1), name, set);
    if (!r.ok()) {
        // A failure leaves nothing half-read behind.
        if (!set.shapes.empty()) __builtin_trap();
        return 0;
    }
    if (set.shapes.empty()) __builtin_trap();
    std::vector<const dorvane::geo::FieldFile*> fields;
    for (std::size_t i = 0; i < set.shapes.size(); ++i) {
        const auto& f = set.shapes[i];
        if (f.shape != i) __builtin_trap();
        for (const auto& p : f.points)
            if (!(std::fabs(p.lat) <= 90) || !(std::fabs(p.lon) <= 180)) __builtin_trap();
        const auto figures = dorvane::geo::ComputeFigures(f);
        // A band is never negative, nor the area of the valid shape.
        if (figures.areaTolerance_m2 < 0) __builtin_trap();
        if (figures.validity && figures.validity->validArea_m2 < 0) __builtin_trap();
        fields.push_back(&f);
    }
    for (const auto& o : dorvane::geo::FindOverlaps(fields))
        if (o.a >= o.b || o.b >= fields.size() || o.overlap_m2 < 0) __builtin_trap();
    return 0;
}
