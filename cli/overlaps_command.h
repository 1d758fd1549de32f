#pragma once
// `dorvane-cli overlaps FILE|DIR... [-r] [--json]`: every pair of fields that
// overlap among the shapes of the files named and of the files in the
// folders named (-r: and their subfolders), with the shared area in m² and
// mu and its share of the smaller field; a pair sharing more than 90 % of
// the smaller field is "measured twice?".
//
// Text form: one line per pair ("a ↔ b: ..."), or a line saying none do.
// JSON form: one array, one object per pair:
//   {"a", "b" (the fields' labels, "file › name"), "overlap_m2", "overlap_mu",
//    "share_of_smaller" (0..1), "measured_twice"}
// Files that cannot be read are named on stderr (in a folder, files that are
// no track or field are passed over). Blocks on reading the files.

#include <string>
#include <vector>

namespace dorvane {

/// Returns 0 when every file named was read, 1 when any failed, 2 without a
/// file or on an unknown option.
int RunOverlapsCommand(const std::vector<std::string>& operands);

}  // namespace dorvane
