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
        ArgsCase{"AfterDoubleDashAFile", {"--", "--help"}, "", false, false, false, {"--help"}, ""},
        ArgsCase{"SecondFile", {"a.gpx", "b.gpx"}, "", false, false, false, {"a.gpx"}, "b.gpx"},
        ArgsCase{"SecondFileAfterDoubleDash",
                 {"a.gpx", "--", "-odd.gpx"},
                 "",
                 false,
                 false,
                 false,
                 {"a.gpx"},
                 "-odd.gpx"},
        ArgsCase{"UnknownDoubleDashOption", {"--conect"}, "", false, false, false, {}, "--conect"},
        ArgsCase{"ToolkitSwitchDoubleDash", {"--reverse"}, "", false, false, false, {}, ""},
        ArgsCase{"ToolkitValueWithEquals",
                 {"--style=fusion", "f.kml"},
                 "",
                 false,
                 false,
                 false,
                 {"f.kml"},
                 ""},
        ArgsCase{"PortWithEquals", {"--port=/tmp/p"}, "/tmp/p", false, false, false, {}, ""},
        ArgsCase{"EmptyPort", {"--port", ""}, "", false, false, false, {}, "--port"},
        ArgsCase{
            "ConnectTakesNoValue", {"--connect=yes"}, "", false, false, false, {}, "--connect"},
        ArgsCase{"PortWithoutValue", {"--port"}, "", false, false, false, {}, "--port"},
        ArgsCase{"BookWithoutValue", {"--connect", "--book"}, "", true, false, false, {}, "--book"},
        ArgsCase{"Help", {"--connect", "--help"}, "", true, true, false, {}, ""},
        ArgsCase{"ShortHelp", {"-h"}, "", false, true, false, {}, ""},
        ArgsCase{"Version", {"--version"}, "", false, false, true, {}, ""}),
    [](const auto& p) { return std::string(p.param.what); });

struct SnapshotCase {
    const char* what;
    std::vector<const char*> argv;
    DesktopArgProblem problem;
    std::string bad;
    std::string badValue;
    int width;
    int height;
};

class DesktopSnapshotArgs : public ::testing::TestWithParam<SnapshotCase> {};

TEST_P(DesktopSnapshotArgs, Parses) {
    const SnapshotCase& c = GetParam();
    std::vector<const char*> argv = {"dorvane"};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    const DesktopArgs a = ParseDesktopArgs(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(a.problem, c.problem);
    EXPECT_EQ(a.bad, c.bad);
    EXPECT_EQ(a.badValue, c.badValue);
    EXPECT_EQ(a.width, c.width);
    EXPECT_EQ(a.height, c.height);
    EXPECT_EQ(DesktopArgsErrorText(a).empty(), c.problem == DesktopArgProblem::None);
}

using P = DesktopArgProblem;
INSTANTIATE_TEST_SUITE_P(
    Table, DesktopSnapshotArgs,
    ::testing::Values(
        SnapshotCase{
            "Defaults", {"--snapshot", "f.kml", "--out", "p.png"}, P::None, "", "", 1280, 800},
        SnapshotCase{"Size",
                     {"--snapshot", "f.kml", "--out", "p.png", "--size", "640x16384"},
                     P::None,
                     "",
                     "",
                     640,
                     16384},
        SnapshotCase{"SizeWithEquals",
                     {"--size=1x2", "--snapshot=f.kml", "--out=p.png"},
                     P::None,
                     "",
                     "",
                     1,
                     2},
        SnapshotCase{"SizeZero",
                     {"--snapshot", "f.kml", "--out", "p.png", "--size", "0x10"},
                     P::BadValue,
                     "--size",
                     "0x10",
                     1280,
                     800},
        SnapshotCase{"SizeTooLarge",
                     {"--snapshot", "f.kml", "--out", "p.png", "--size", "16385x10"},
                     P::BadValue,
                     "--size",
                     "16385x10",
                     1280,
                     800},
        SnapshotCase{"SizeWords",
                     {"--snapshot", "f.kml", "--out", "p.png", "--size", "big"},
                     P::BadValue,
                     "--size",
                     "big",
                     1280,
                     800},
        SnapshotCase{"SizeHalf",
                     {"--snapshot", "f.kml", "--out", "p.png", "--size", "640x"},
                     P::BadValue,
                     "--size",
                     "640x",
                     1280,
                     800},
        SnapshotCase{"SizeSigned",
                     {"--snapshot", "f.kml", "--out", "p.png", "--size", "+640x-1"},
                     P::BadValue,
                     "--size",
                     "+640x-1",
                     1280,
                     800},
        SnapshotCase{"TilesNone",
                     {"--snapshot", "f.kml", "--out", "p.png", "--tiles", "none"},
                     P::None,
                     "",
                     "",
                     1280,
                     800},
        SnapshotCase{"TilesTemplate",
                     {"--snapshot", "f.kml", "--out", "p.png", "--tiles",
                      "https://t.example/{z}/{x}/{y}.png"},
                     P::None,
                     "",
                     "",
                     1280,
                     800},
        SnapshotCase{
            "TilesNoPlaceholders",
            {"--snapshot", "f.kml", "--out", "p.png", "--tiles", "https://t.example/tile.png"},
            P::BadValue,
            "--tiles",
            "https://t.example/tile.png",
            1280,
            800},
        SnapshotCase{"TilesWord",
                     {"--snapshot", "f.kml", "--out", "p.png", "--tiles", "off"},
                     P::BadValue,
                     "--tiles",
                     "off",
                     1280,
                     800},
        SnapshotCase{"TilesEmpty",
                     {"--snapshot", "f.kml", "--out", "p.png", "--tiles="},
                     P::BadValue,
                     "--tiles",
                     "",
                     1280,
                     800},
        SnapshotCase{"OutMissing",
                     {"--snapshot", "f.kml", "--out"},
                     P::MissingValue,
                     "--out",
                     "",
                     1280,
                     800},
        SnapshotCase{"NoOut", {"--snapshot", "f.kml"}, P::NeedsOut, "--snapshot", "", 1280, 800},
        SnapshotCase{"SizeWithoutSnapshot",
                     {"f.kml", "--size", "10x10"},
                     P::SnapshotOnly,
                     "--size",
                     "",
                     10,
                     10},
        SnapshotCase{"FileBesideSnapshot",
                     {"--snapshot", "f.kml", "--out", "p.png", "g.kml"},
                     P::ExtraFile,
                     "g.kml",
                     "",
                     1280,
                     800},
        SnapshotCase{
            "UnknownFirst", {"--bogus", "--size", "x"}, P::UnknownOption, "--bogus", "", 1280, 800},
        SnapshotCase{"ToolkitOptionsPass",
                     {"-platform", "offscreen", "--style", "fusion", "-reverse", "--snapshot",
                      "f.kml", "--out", "p.png"},
                     P::None,
                     "",
                     "",
                     1280,
                     800}),
    [](const auto& p) { return std::string(p.param.what); });

// The map's sources for a snapshot: --tiles repeated (the first the base,
// the rest over it), packs by their file name, --overlay, --offline.
TEST(DesktopTileArgs, SourcesInTheirOrder) {
    const struct {
        std::vector<const char*> args;
        std::vector<std::string> tiles;
        std::string overlay;
        bool offline;
        DesktopArgProblem problem;
        std::string bad;
    } cases[] = {
        {{"--tiles", "none"}, {"none"}, "", false, P::None, ""},
        {{"--tiles", "a.mbtiles", "--tiles", "/data/County.MBTILES"},
         {"a.mbtiles", "/data/County.MBTILES"}, "", false, P::None, ""},
        {{"--tiles", "https://t.example/{z}/{x}/{-y}.png", "--tiles=b.mbtiles", "--overlay",
          "https://{s}.t.example/{z}/{x}/{y}.png", "--offline"},
         {"https://t.example/{z}/{x}/{-y}.png", "b.mbtiles"},
         "https://{s}.t.example/{z}/{x}/{y}.png",
         true,
         P::None,
         ""},
        {{"--tiles", ".mbtiles"}, {}, "", false, P::BadValue, "--tiles"},
        {{"--tiles", "pack.sqlite"}, {}, "", false, P::BadValue, "--tiles"},
        {{"--overlay", "a.mbtiles"}, {}, "", false, P::BadValue, "--overlay"},
        {{"--overlay"}, {}, "", false, P::MissingValue, "--overlay"},
        {{"--offline=yes"}, {}, "", false, P::BadValue, "--offline"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"dorvane", "--snapshot", "f.kml", "--out", "p.png"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const DesktopArgs a = ParseDesktopArgs(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(a.problem, c.problem) << c.args.front();
        EXPECT_EQ(a.bad, c.bad) << c.args.front();
        EXPECT_EQ(a.tiles, c.tiles) << c.args.front();
        EXPECT_EQ(a.overlay, c.overlay) << c.args.front();
        EXPECT_EQ(a.offline, c.offline) << c.args.front();
    }
}

TEST(DesktopHelp, NamesEveryOptionWithItsTextAndTheVersion) {
    ResetToDefaults();
    const std::string help = DesktopHelpText();
    for (const char* option :
         {"--port PATH", "--connect", "-Code_Chi", "-Code_Eng", "FILE", "--snapshot FILE", "--out",
          "--size WxH", "--tiles", "FILE.mbtiles", "--overlay URL", "--offline", "--help", "--version"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (StringId id : {StringId::RES_DESKTOP_APP_ABOUT, StringId::RES_DESKTOP_APP_OPT_PORT,
                        StringId::RES_DESKTOP_APP_OPT_FILE, StringId::RES_DESKTOP_APP_OPT_SNAPSHOT,
                        StringId::RES_DESKTOP_APP_OPT_TILES, StringId::RES_DESKTOP_APP_OPT_OVERLAY,
                        StringId::RES_DESKTOP_APP_OPT_OFFLINE, StringId::RES_DESKTOP_OPT_VERSION})
        EXPECT_NE(help.find(Text(id)), std::string::npos) << KeyName(id);
    EXPECT_EQ(DesktopVersionText(), std::string("dorvane ") + DORVANE_VERSION + "\n");
}

}  // namespace
}  // namespace dorvane
