#pragma once
// `dorvane-cli book ...`: the season book from the command line (add, list,
// customer, assign, bill, void, pay, season). Blocks on the book file;
// prints results on standard output and failures on standard error.

#include <string>
#include <vector>

namespace dorvane {

/// Runs the book command with the words after "book". Exit status: 0 done,
/// 1 any failure (the book unchanged by a failed write), 2 bad usage.
int RunBookCommand(const std::vector<std::string>& operands);

}  // namespace dorvane
