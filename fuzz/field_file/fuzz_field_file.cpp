// libFuzzer target: ReadFieldBytes on any bytes (told apart by content, as
// the field view, `info` and the ledger do), then the figures of what it read.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "geo/field_file.h"
#include "geo/figures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    dorvane::geo::FieldFile f;
    const auto r = dorvane::geo::ReadFieldBytes(std::span(data, size), "fuzz.gpx", f);
    if (!r.ok()) {
        // A failure leaves nothing half-read behind.
        if (!f.points.empty()) __builtin_trap();
        return 0;
    }
    for (const auto& p : f.points) {
        // The reader refuses coordinates that are not on the globe.
        if (!(std::fabs(p.lat) <= 90) || !(std::fabs(p.lon) <= 180)) __builtin_trap();
    }
    for (std::size_t i = 0; i < f.segmentStarts.size(); ++i) {
        if (f.segmentStarts[i] >= f.points.size()) __builtin_trap();
        if (i > 0 && f.segmentStarts[i] <= f.segmentStarts[i - 1]) __builtin_trap();
    }
    const auto figures = dorvane::geo::ComputeFigures(f);
    static_cast<void>(figures);
    return 0;
}
