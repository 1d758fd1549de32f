// The desktop program's command line: what it takes for itself, what it
// leaves to the toolkit, and what is a file to open.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/startup/program_help.h"
#include "i18n/string_table.h"

namespace dorvane {
namespace {

struct ArgsCase {
    const char* what;
    std::vector<const char*> argv;
    std::string port;
    bool connect;
    bool help;
    bool version;
    std::vector<std::string> files;
    std::string bad;
};

class DesktopArgsTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(DesktopArgsTest, Parses) {
    const ArgsCase& c = GetParam();
    std::vector<const char*> argv = {"dorvane"};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    const DesktopArgs a = ParseDesktopArgs(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(a.connect, c.connect);
    EXPECT_EQ(a.help, c.help);
    EXPECT_EQ(a.version, c.version);
    EXPECT_EQ(a.files, c.files);
    EXPECT_EQ(a.bad, c.bad);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DesktopArgsTest,
    ::testing::Values(
        ArgsCase{"PortAndConnect",
                 {"--port", "/tmp/pty", "--connect"},
                 "/tmp/pty",
                 true,
                 false,
                 false,
                 {},
                 ""},
        ArgsCase{"ToolkitOptionValueIsNoFile",
                 {"-platform", "offscreen", "field.kml"},
                 "",
                 false,
                 false,
                 false,
                 {"field.kml"},
                 ""},
        ArgsCase{
            "ToolkitDoubleDashSpelling", {"--style", "fusion"}, "", false, false, false, {}, ""},
        ArgsCase{
            "ToolkitSwitch", {"-reverse", "track.gpx"}, "", false, false, false, {"track.gpx"}, ""},
        ArgsCase{"LanguageSwitchAndFile",
                 {"-Code_Eng", "a b.gpx"},
                 "",
                 false,
                 false,
                 false,
                 {"a b.gpx"},
                 ""},
        ArgsCase{"AfterDoubleDashAllFiles",
                 {"--", "-odd.gpx", "--help"},
                 "",
                 false,
                 false,
                 false,
                 {"-odd.gpx", "--help"},
                 ""},
        ArgsCase{"PortWithoutValue", {"--port"}, "", false, false, false, {}, "--port"},
        ArgsCase{"Help", {"--connect", "--help"}, "", true, true, false, {}, ""},
        ArgsCase{"ShortHelp", {"-h"}, "", false, true, false, {}, ""},
        ArgsCase{"Version", {"--version"}, "", false, false, true, {}, ""}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(DesktopHelp, NamesEveryOptionWithItsTextAndTheVersion) {
    ResetToDefaults();
    const std::string help = DesktopHelpText();
    for (const char* option :
         {"--port PATH", "--connect", "-Code_Chi", "-Code_Eng", "FILE", "--snapshot FILE", "--out",
          "--size WxH", "--tiles", "--help", "--version"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (StringId id : {StringId::RES_DESKTOP_APP_ABOUT, StringId::RES_DESKTOP_APP_OPT_PORT,
                        StringId::RES_DESKTOP_APP_OPT_FILE, StringId::RES_DESKTOP_APP_OPT_SNAPSHOT,
                        StringId::RES_DESKTOP_APP_OPT_TILES, StringId::RES_DESKTOP_OPT_VERSION})
        EXPECT_NE(help.find(Text(id)), std::string::npos) << KeyName(id);
    EXPECT_EQ(DesktopVersionText(), std::string("dorvane ") + DORVANE_VERSION + "\n");
}

}  // namespace
}  // namespace dorvane
