#pragma once
// What kind of shape a field file holds, as the map and the book see it.

#include <cstdint>

#include "convert/area_file.h"
#include "geo/field_file.h"

namespace dorvane::geo {

/// Whether the shape is a line: a track, harvesting work (an open line swept
/// by the working width) or an area of fewer than three points. Lines are
/// drawn as their path, never filled, and stored as lines in the book.
inline bool IsLine(const FieldFile& f) {
    return f.kind != FieldKind::kArea ||
           f.handheld.method == static_cast<std::int16_t>(AreaMethod::kHarvesting) || f.points.size() < 3;
}

}  // namespace dorvane::geo
