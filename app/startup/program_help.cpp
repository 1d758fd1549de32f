#include "app/startup/program_help.h"

#include "app/startup/startup.h"
#include "i18n/string_table.h"

namespace dorvane {

namespace {

// Width of the option column before the description.
constexpr std::size_t kOptionColumn = 24;

// Qt options that take a value in the next argument (QGuiApplication and
// QApplication): their value must not be taken for a file.
constexpr std::string_view kToolkitOptionsWithValue[] = {"-platform",
                                                         "-platformpluginpath",
                                                         "-platformtheme",
                                                         "-plugin",
                                                         "-qmljsdebugger",
                                                         "-style",
                                                         "-stylesheet",
                                                         "-display",
                                                         "-geometry",
                                                         "-session",
                                                         "-title",
                                                         "-name",
                                                         "-qwindowgeometry",
                                                         "-qwindowicon",
                                                         "-qwindowtitle",
                                                         "-screen",
                                                         "-qwindowcolorspace"};

// Qt switches without a value (QGuiApplication, QApplication, the xcb platform).
constexpr std::string_view kToolkitSwitches[] = {"-reverse", "-nograb",      "-dograb",
                                                 "-sync",    "-widgetcount", "-testability"};

// The program's own options, for the message about an unknown one.
constexpr const char* kOwnOptions =
    "--port, --connect, --book, --snapshot, --out, --size, --tiles, --overlay, --offline, --help, "
    "--version, "
    "-Code_Chi, -Code_Eng";

template <std::size_t N>
bool In(const std::string_view (&list)[N], std::string_view s) {
    for (const auto o : list)
        if (s == o) return true;
    return false;
}

bool TakesValue(std::string_view arg) {
    return In(kToolkitOptionsWithValue, arg);
}

// The toolkit's option as Qt reads it: "--style" is "-style", and
// "-style=fusion" is "-style" with its value.
std::string_view ToolkitName(std::string_view arg) {
    if (arg.starts_with("--")) arg.remove_prefix(1);
    return arg.substr(0, arg.find('='));
}

// What each of our options with a value takes, for the messages.
std::string AllowedFor(const std::string& option) {
    if (option == "--port") return "ttyUSB0, /dev/...";
    if (option == "--size")
        return "WxH, 1-" + std::to_string(kMaxSnapshotSide) + " (" +
               std::to_string(kSnapshotWidth) + "x" + std::to_string(kSnapshotHeight) + ")";
    if (option == "--tiles") return "none, FILE.mbtiles, http(s)://HOST/{z}/{x}/{y}.png";
    if (option == "--overlay") return "http(s)://HOST/{z}/{x}/{y}.png";
    if (option == "--out") return "PICTURE.png";
    if (option == "--snapshot") return "FILE (GPX, KML, ...)";
    return "PATH";
}

// "WxH", each side 1 .. kMaxSnapshotSide pixels.
bool ParseSize(const std::string& s, int& w, int& h) {
    const std::size_t x = s.find('x');
    if (x == std::string::npos) return false;
    auto side = [](const std::string& t, int& out) {
        if (t.empty() || t.size() > 5) return false;
        int v = 0;
        for (char c : t) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        out = v;
        return v >= 1 && v <= kMaxSnapshotSide;
    };
    int width = 0;
    int height = 0;
    if (!side(s.substr(0, x), width) || !side(s.substr(x + 1), height)) return false;
    w = width;
    h = height;
    return true;
}

std::string Line(const char* option, StringId text) {
    std::string out = std::string("  ") + option;
    if (out.size() + 1 > kOptionColumn)
        out += "\n" + std::string(kOptionColumn, ' ');
    else
        out.resize(kOptionColumn, ' ');
    return out + Text(text) + "\n";
}

}  // namespace

bool IsTileTemplateArgument(const std::string& value) {
    const bool url = value.starts_with("http://") || value.starts_with("https://") ||
                     value.starts_with("file://");
    const bool row = value.find("{y}") != std::string::npos || value.find("{-y}") != std::string::npos;
    return url && value.find("{z}") != std::string::npos && value.find("{x}") != std::string::npos && row;
}

bool IsTileSourceArgument(const std::string& value) {
    if (value == "none" || IsTileTemplateArgument(value)) return true;
    // A pack: whether it opens is found when it is drawn (a clear message).
    constexpr std::string_view kPackSuffix = ".mbtiles";
    if (value.size() <= kPackSuffix.size()) return false;
    std::string tail = value.substr(value.size() - kPackSuffix.size());
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == kPackSuffix;
}

DesktopArgs ParseDesktopArgs(int argc, const char* const* argv) {
    DesktopArgs a;
    auto fail = [&a](DesktopArgProblem problem, const std::string& arg,
                     const std::string& value = {}) {
        if (a.problem != DesktopArgProblem::None) return;  // the first one is reported
        a.problem = problem;
        a.bad = arg;
        a.badValue = value;
    };
    bool operandsOnly = false;
    std::string snapshotOnly;  // the first of --out, --size, --tiles, --overlay, --offline
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (operandsOnly || s.empty() || s[0] != '-' || s == "-") {
            if (a.files.empty())
                a.files.push_back(s);
            else
                fail(DesktopArgProblem::ExtraFile, s);
            continue;
        }
        if (s == "--") {
            operandsOnly = true;
            continue;
        }
        // Our options with a value, also as --name=value.
        const std::size_t eq = s.starts_with("--") ? s.find('=') : std::string::npos;
        const std::string name = s.substr(0, eq);
        if (name == "--port" || name == "--book" || name == "--snapshot" || name == "--out" ||
            name == "--size" || name == "--tiles" || name == "--overlay") {
            std::string v;
            if (eq != std::string::npos) {
                v = s.substr(eq + 1);
            } else if (i + 1 < argc && !IsLanguageSwitch(argv[i + 1])) {
                v = argv[++i];
            } else {  // a language switch is never a value: it is read from the whole line
                fail(DesktopArgProblem::MissingValue, name);
                continue;
            }
            bool ok = !v.empty();
            if (name == "--port") {
                a.port = v;
            } else if (name == "--book") {
                a.book = v;
            } else if (name == "--snapshot") {
                a.snapshot = true;
                if (!a.files.empty())
                    fail(DesktopArgProblem::ExtraFile, a.files.front());
                else if (ok)
                    a.files.push_back(v);
            } else if (name == "--out") {
                a.out = v;
            } else if (name == "--size") {
                ok = ParseSize(v, a.width, a.height);
            } else if (name == "--overlay") {
                ok = IsTileTemplateArgument(v);
                if (ok) a.overlay = v;
            } else {
                ok = IsTileSourceArgument(v);
                if (ok) a.tiles.push_back(v);
            }
            if (!ok) fail(DesktopArgProblem::BadValue, name, v);
            if (name == "--out" || name == "--size" || name == "--tiles" || name == "--overlay")
                if (snapshotOnly.empty()) snapshotOnly = name;
            continue;
        }
        if (eq != std::string::npos &&
            (name == "--connect" || name == "--help" || name == "--version" || name == "--offline")) {
            fail(DesktopArgProblem::BadValue, name, s.substr(eq + 1));
        } else if (s == "--offline") {
            a.offline = true;
            if (snapshotOnly.empty()) snapshotOnly = s;
        } else if (s == "--connect") {
            a.connect = true;
        } else if (s == "--help" || s == "-h") {
            a.help = true;
        } else if (s == "--version") {
            a.version = true;
        } else if (s == "-Code_Chi" || s == "-Code_Eng") {
            continue;
        } else if (TakesValue(ToolkitName(s))) {
            if (s.find('=') == std::string::npos) ++i;  // the toolkit's option and its value
        } else if (s.starts_with("--") && !In(kToolkitSwitches, ToolkitName(s))) {
            fail(DesktopArgProblem::UnknownOption, s);
        }
        // any other single-dash option is the toolkit's (-reverse, ...) and left to it
    }
    if (a.snapshot && a.out.empty()) fail(DesktopArgProblem::NeedsOut, "--snapshot");
    if (!a.snapshot && !snapshotOnly.empty()) fail(DesktopArgProblem::SnapshotOnly, snapshotOnly);
    return a;
}

std::string DesktopArgsErrorText(const DesktopArgs& a) {
    const std::string allowed = AllowedFor(a.bad);
    const std::string value = a.badValue.empty() ? std::string("\"\"") : a.badValue;
    switch (a.problem) {
        case DesktopArgProblem::None:
            return {};
        case DesktopArgProblem::MissingValue:
            return FormatText(StringId::RES_CLI_MISSING_VALUE, a.bad.c_str(), allowed.c_str());
        case DesktopArgProblem::BadValue:
            return FormatText(StringId::RES_CLI_BAD_VALUE, a.bad.c_str(), value.c_str(),
                              allowed.c_str());
        case DesktopArgProblem::UnknownOption:
            return FormatText(StringId::RES_CLI_UNKNOWN_OPTION, a.bad.c_str(), kOwnOptions);
        case DesktopArgProblem::ExtraFile:
            return FormatText(StringId::RES_DESKTOP_ONE_FILE, a.bad.c_str());
        case DesktopArgProblem::SnapshotOnly:
            return FormatText(StringId::RES_DESKTOP_SNAPSHOT_ONLY, a.bad.c_str());
        case DesktopArgProblem::NeedsOut:
            return Text(StringId::RES_DESKTOP_SNAPSHOT_NEEDS_OUT);
    }
    return {};
}

std::string DesktopHelpText() {
    std::string out = "dorvane [--port PATH] [--connect] [--book PATH] [-Code_Chi | -Code_Eng] [FILE]\n"
                      "dorvane --snapshot FILE --out PICTURE.png [--size WxH] [--tiles URL|FILE.mbtiles|none]...\n"
                      "        [--overlay URL] [--offline]\n";
    out += Text(StringId::RES_DESKTOP_APP_ABOUT) + "\n\n";
    out += Line("--port PATH", StringId::RES_DESKTOP_APP_OPT_PORT);
    out += Line("--connect", StringId::RES_DESKTOP_APP_OPT_CONNECT);
    out += Line("--book PATH", StringId::RES_BOOKWIN_OPT_BOOK);
    out += Line("-Code_Chi, -Code_Eng", StringId::RES_DESKTOP_APP_OPT_LANGUAGE);
    out += Line("FILE", StringId::RES_DESKTOP_APP_OPT_FILE);
    out += Line("--snapshot FILE", StringId::RES_DESKTOP_APP_OPT_SNAPSHOT);
    out += Line("--out PICTURE.png", StringId::RES_DESKTOP_APP_OPT_OUT);
    out += Line("--size WxH", StringId::RES_DESKTOP_APP_OPT_SIZE);
    out += Line("--tiles URL|FILE.mbtiles|none", StringId::RES_DESKTOP_APP_OPT_TILES);
    out += Line("--overlay URL", StringId::RES_DESKTOP_APP_OPT_OVERLAY);
    out += Line("--offline", StringId::RES_DESKTOP_APP_OPT_OFFLINE);
    out += Line("--help", StringId::RES_DESKTOP_OPT_HELP);
    out += Line("--version", StringId::RES_DESKTOP_OPT_VERSION);
    return out;
}

std::string DesktopVersionText() {
    return std::string("dorvane ") + DORVANE_VERSION + "\n";
}

}  // namespace dorvane
