#include "app/startup/program_help.h"

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

bool TakesValue(std::string_view arg) {
    for (const auto o : kToolkitOptionsWithValue)
        if (arg == o) return true;
    return false;
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

DesktopArgs ParseDesktopArgs(int argc, const char* const* argv) {
    DesktopArgs a;
    bool operandsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (operandsOnly || s.empty() || s[0] != '-' || s == "-") {
            a.files.push_back(s);
        } else if (s == "--") {
            operandsOnly = true;
        } else if (s == "--port") {
            if (i + 1 < argc)
                a.port = argv[++i];
            else if (a.bad.empty())
                a.bad = s;
        } else if (s == "--book") {
            if (i + 1 < argc)
                a.book = argv[++i];
            else if (a.bad.empty())
                a.bad = s;
        } else if (s == "--connect") {
            a.connect = true;
        } else if (s == "--help" || s == "-h") {
            a.help = true;
        } else if (s == "--version") {
            a.version = true;
        } else if (s == "-Code_Chi" || s == "-Code_Eng") {
            continue;
        } else if (TakesValue(s.rfind("--", 0) == 0 ? std::string_view(s).substr(1)
                                                    : std::string_view(s))) {
            ++i;  // the toolkit's option (it takes "--style" as "-style") and its value
        }
        // any other option is the toolkit's (-reverse, ...) and left to it
    }
    return a;
}

std::string DesktopHelpText() {
    std::string out = "dorvane [--port PATH] [--connect] [--book PATH] [-Code_Chi | -Code_Eng] [FILE]\n"
                      "dorvane --snapshot FILE --out PICTURE.png [--size WxH] [--tiles URL|none]\n";
    out += Text(StringId::RES_DESKTOP_APP_ABOUT) + "\n\n";
    out += Line("--port PATH", StringId::RES_DESKTOP_APP_OPT_PORT);
    out += Line("--connect", StringId::RES_DESKTOP_APP_OPT_CONNECT);
    out += Line("--book PATH", StringId::RES_BOOKWIN_OPT_BOOK);
    out += Line("-Code_Chi, -Code_Eng", StringId::RES_DESKTOP_APP_OPT_LANGUAGE);
    out += Line("FILE", StringId::RES_DESKTOP_APP_OPT_FILE);
    out += Line("--snapshot FILE", StringId::RES_DESKTOP_APP_OPT_SNAPSHOT);
    out += Line("--out PICTURE.png", StringId::RES_DESKTOP_APP_OPT_OUT);
    out += Line("--size WxH", StringId::RES_DESKTOP_APP_OPT_SIZE);
    out += Line("--tiles URL|none", StringId::RES_DESKTOP_APP_OPT_TILES);
    out += Line("--help", StringId::RES_DESKTOP_OPT_HELP);
    out += Line("--version", StringId::RES_DESKTOP_OPT_VERSION);
    return out;
}

std::string DesktopVersionText() {
    return std::string("dorvane ") + DORVANE_VERSION + "\n";
}

}  // namespace dorvane
