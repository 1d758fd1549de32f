#pragma once
// `dorvane-cli info FILE... [--json]`: the figures of track and field files.
//
// Text form: per shape its file (and "› label" in a file of several), then one
// "label: value" line per figure (geo::FigureLines), a blank line between
// shapes; failures go to stderr.
// JSON form: one array on stdout, one object per shape in argument order:
//   {"file", "shape" (index in the file, from 0), "label", "name", "format",
//    "driver" (format "ogr"), "kind": "track"|"area", "points",
//    "method", "holes" (areas; method null when the file does not say),
//    "valid", "crossings" ([lon, lat]...), "valid_area_m2",
//    "area_tolerance_m2", "receiver_accuracy_m", "repeated_points", "spikes"
//    (point indexes), "distinct_points" (areas but harvesting lines),
//    "bbox": [min lon, min lat, max lon, max lat] (null without points),
//    "wgs84": {"length_m", "area_m2", "area_ha", "area_mu", "area_acre"},
//    "handheld": {"length_m", "area_m2", "length_text", "area_text",
//                 "length_total", "area_total"} (areas),
//    "start_time", "end_time" (earliest and latest, ISO 8601 UTC or null),
//    "duration_s", "moving_average_mps", "max_speed_mps", "jumps",
//    "time_order_breaks" (tracks)}
// or {"file", "error"} for a file that cannot be read, {"file", "feature",
// "error"} for a feature of it. Numbers are JSON numbers at full precision.
// --accuracy M sets the receiver's accuracy (metres) the band is drawn with.
// Blocks on reading the files; runs on the CLI's only thread.

#include <string>
#include <vector>

namespace dorvane {

/// Runs the command on `operands` (file names, "--json", "--accuracy M").
/// Returns 0 when every file was read, 1 when any failed, 2 without a file or
/// with a bad accuracy.
int RunInfoCommand(const std::vector<std::string>& operands);

}  // namespace dorvane
