#pragma once
// `dorvane-cli info FILE... [--json]`: the figures of track and field files.
//
// Text form: per file its name, then one "label: value" line per figure
// (geo::FigureLines), a blank line between files; failures go to stderr.
// JSON form: one array on stdout, one object per file in argument order:
//   {"file", "name", "format", "kind": "track"|"area", "points",
//    "method" (areas; null when the file does not say),
//    "bbox": [min lon, min lat, max lon, max lat] (null without points),
//    "wgs84": {"length_m", "area_m2", "area_ha", "area_mu", "area_acre"},
//    "handheld": {"length_m", "area_m2", "length_text", "area_text",
//                 "length_total", "area_total"} (areas),
//    "start_time", "end_time" (ISO 8601 UTC or null), "duration_s",
//    "moving_average_mps", "max_speed_mps", "jumps" (tracks)}
// or {"file", "error"} for a file that cannot be read. Numbers are JSON
// numbers at full double precision.
// Blocks on reading the files; runs on the CLI's only thread.

#include <string>
#include <vector>

namespace dorvane {

/// Runs the command on `operands` (file names and "--json"). Returns 0 when
/// every file was read, 1 when any failed, 2 without a file.
int RunInfoCommand(const std::vector<std::string>& operands);

}  // namespace dorvane
