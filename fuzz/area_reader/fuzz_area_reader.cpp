// libFuzzer target: the area reader, the measurement and the KML writer on
// any file image.
#include <cstddef>
#include <cstdint>
#include <span>

#include "convert/area_file.h"
#include "convert/area_measure.h"
#include "convert/kml_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    dorvane::AreaFile area;
    const auto r = dorvane::ReadArea(std::span(data, size), area);
    // Every kept point needs a line of at least 41 bytes.
    if (area.points.size() > size / 41) __builtin_trap();
    if (r.ok()) {
        const auto kml = dorvane::KmlDocument(area, "fuzz.kml", dorvane::MeasureArea(area));
        if (kml.empty()) __builtin_trap();
    }
    return 0;
}
