#pragma once
// The desktop program's command line, `dorvane --help` and `dorvane
// --version`: read and answered before any window or display connection
// exists, so help, version and usage errors need no display.

#include <optional>
#include <string>
#include <vector>

namespace dorvane {

/// Picture size of a snapshot unless --size says otherwise.
inline constexpr int kSnapshotWidth = 1280;
inline constexpr int kSnapshotHeight = 800;
/// Largest side --size takes: a picture that size already holds 1 GiB of
/// pixels, and the painter's raster has to fit in memory.
inline constexpr int kMaxSnapshotSide = 16384;

/// What was wrong with the command line (DesktopArgs::bad names the argument).
enum class DesktopArgProblem {
    None,
    MissingValue,   ///< an option without its value
    BadValue,       ///< a value the option does not take (DesktopArgs::badValue)
    UnknownOption,  ///< a "--" option that is neither ours nor the toolkit's
    ExtraFile,      ///< a second FILE (or a FILE beside --snapshot's)
    SnapshotOnly,   ///< --out, --size, --tiles, --overlay or --offline without --snapshot
    NeedsOut,       ///< --snapshot without --out
};

/// What the desktop program was asked on its command line.
struct DesktopArgs {
    std::string port;                ///< --port PATH
    bool connect = false;            ///< --connect
    std::string book;                ///< --book PATH: the season book of this run
    bool help = false;               ///< --help or -h
    bool version = false;            ///< --version
    std::vector<std::string> files;  ///< the FILE operand (to open in the field view), at most one
    bool snapshot = false;           ///< --snapshot FILE (the file is in `files`)
    std::string out;                 ///< --out PICTURE.png
    int width = kSnapshotWidth;      ///< --size WxH
    int height = kSnapshotHeight;
    /// --tiles URL|FILE.mbtiles|none, repeatable: the first is the base, the
    /// rest drawn over it in order. Empty: the profile's sources.
    std::vector<std::string> tiles;
    std::string overlay;   ///< --overlay URL: drawn over all of them
    bool offline = false;  ///< --offline: nothing asked of any server
    /// The first argument not understood, empty when all were; `problem`
    /// says what is wrong with it.
    std::string bad;
    DesktopArgProblem problem = DesktopArgProblem::None;
    std::string badValue;  ///< the value refused, for BadValue
};

/// Parses the command line. "-Code_Chi" / "-Code_Eng" (read by
/// ChooseLanguage from the whole line) and the toolkit's options (-platform
/// NAME, -style NAME, -reverse, ..., also spelt with "--") are left alone,
/// the values of the toolkit's options included; any other single-dash
/// option is the toolkit's too. An unknown "--" option, a missing or bad
/// value, a second FILE and the snapshot's options without --snapshot are
/// problems (the first one is kept); every argument after "--" is a file.
/// Our options take "--name=value" as well; a language switch is never an
/// option's value.
DesktopArgs ParseDesktopArgs(int argc, const char* const* argv);

/// The message for the problem of `a` in the current language, naming the
/// argument and what it allows; empty when there is none.
std::string DesktopArgsErrorText(const DesktopArgs& a);

/// True for a value --tiles takes: "none", an .mbtiles file, or an http,
/// https or file URL template holding {z}, {x} and {y} or {-y}.
bool IsTileSourceArgument(const std::string& value);
/// True for a value --overlay takes: a URL template as for --tiles.
bool IsTileTemplateArgument(const std::string& value);

/// The help in the current language: the synopsis (not translated), what the
/// program is, one line per option. Ends with a newline.
std::string DesktopHelpText();

/// "dorvane VERSION", with a newline.
std::string DesktopVersionText();

}  // namespace dorvane
