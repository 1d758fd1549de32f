#pragma once
// `dorvane-cli report FILE|DIR... [-r] [--from DATE] [--to DATE] [--csv OUT]
//  [--pdf OUT] [--tiles URL|none] [--force]`: the field ledger without a
//  display.
//
// Files are taken as named (a file that cannot be read is a row with its
// error); folders give their field files (sub-folders with -r). DATE is
// YYYY-MM-DD in local time, both days included. Without --csv or --pdf the
// table goes to stdout; with them each file written is named on stdout. An
// existing output is kept unless --force. The PDF's map pictures take the
// desktop's tile source unless --tiles names one ("none": the grid only). Left-out files are
// counted on stderr. Exit 0 when every row was read and every output written, 1 when a row has an
// error or an output failed, 2 on a usage error. Runs on the CLI's only thread; blocks on the
// files.

#include <string>
#include <vector>

namespace dorvane {

int RunReportCommand(const std::vector<std::string>& operands);

}  // namespace dorvane
