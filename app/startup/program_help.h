#pragma once
// `dorvane --help` and `dorvane --version`: answered before any window or
// display connection exists, so they work on a machine without a display.

#include <string>
#include <vector>

namespace dorvane {

/// What the desktop program was asked on its command line.
struct DesktopArgs {
    std::string port;                ///< --port PATH
    bool connect = false;            ///< --connect
    std::string book;                ///< --book PATH: the season book of this run
    bool help = false;               ///< --help or -h
    bool version = false;            ///< --version
    std::vector<std::string> files;  ///< FILE operands (to open in the field view)
    std::string bad;                 ///< the first argument not understood, empty when all were
};

/// Parses the command line. "-Code_Chi" / "-Code_Eng" (read by
/// ChooseLanguage from the whole line) and every other option, which the
/// toolkit takes (-platform NAME, -style NAME, -reverse, ...), are left alone,
/// the values of the toolkit's options included; any other argument, and
/// every one after "--", is a file; "--port" or "--book" without its value is not understood.
DesktopArgs ParseDesktopArgs(int argc, const char* const* argv);

/// The help in the current language: the synopsis (not translated), what the
/// program is, one line per option. Ends with a newline.
std::string DesktopHelpText();

/// "dorvane VERSION", with a newline.
std::string DesktopVersionText();

}  // namespace dorvane
