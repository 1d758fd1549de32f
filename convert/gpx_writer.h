#pragma once
// GPX 1.1 document of one track: one trk with one trkseg, lines ending in
// CR LF, UTF-8 without byte-order mark. Times are written in UTC with "Z";
// a point whose time cannot be converted (negative) has no time element.
// Numbers always use '.' as the decimal separator.

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "convert/track_file.h"

namespace dorvane {

/// Receives the document in pieces, in order; returns false to stop early
/// (a write error), after which no further piece is delivered.
using TextSink = std::function<bool(std::string_view)>;

/// Emits the document for `points` under the track name `nameUtf8` (escaped
/// here) to `sink` in pieces of about 64 KiB. Returns false when the sink
/// stopped. Runs on the caller's thread; no allocation grows with the track.
bool EmitGpx(std::string_view nameUtf8, std::span<const TrackPoint> points, const TextSink& sink);

/// The whole document as one string (tests, small tracks).
std::string GpxDocument(std::string_view nameUtf8, std::span<const TrackPoint> points);

}  // namespace dorvane
