// libFuzzer target: the track reader and the GPX writer on any file image.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "convert/gpx_writer.h"
#include "convert/track_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<dorvane::TrackPoint> points;
    const auto r = dorvane::ReadTrack(std::span(data, size), points);
    if (points.size() > size / dorvane::kTrackPointSize) __builtin_trap();
    if (r.ok() && points.size() < 64) {
        std::size_t total = 0;
        dorvane::EmitGpx(r.nameGbk, points, [&](std::string_view piece) {
            total += piece.size();
            return true;
        });
    }
    return 0;
}
