#pragma once
// dorvane-cli convert: track and area files on the computer to GPX and KML.

#include <string>
#include <vector>

namespace dorvane::cli {

/// Converts each file into `dir` (beside the file when empty); prints one
/// line per file in the user's language. Exit status 0 when every file was
/// converted, 1 otherwise, 2 without files.
int CmdConvert(const std::vector<std::string>& files, const std::string& dir);

}  // namespace dorvane::cli
