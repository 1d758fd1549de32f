#pragma once
// `dorvane-cli --help` and `--version`.

#include <string>

namespace dorvane {

/// The full help in the current language: what the program does, the
/// commands with their arguments and the options (the command and option
/// names themselves are not translated), the exit codes. Ends with a newline.
std::string CliHelpText();

/// "dorvane-cli VERSION", with a newline.
std::string CliVersionText();

}  // namespace dorvane
