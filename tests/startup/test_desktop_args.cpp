// The desktop program's command line, run as the real program: a bad value,
// a missing one, an unknown --option or a second file is a usage error in the
// user's language that names the argument and what it takes, with status 2,
// before the toolkit starts; the toolkit's own options still reach it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/run_command.h"
#include "common/sim_process.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr const char* kSamples = DORVANE_SOURCE_DIR "/sim/samples/data/";

// Runs the program in `locale` with its own settings. No display, and the
// xcb platform asked for: had the toolkit started, it would have ended the
// program for want of a display instead of giving the usage error.
test::CommandRun Desktop(const TempDir& dir, const std::string& args, const std::string& locale,
                         const std::string& platform = "xcb") {
    const std::string cmd =
        "cd '" + dir.path().string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY LANG=" + locale +
        " LC_ALL=" + locale + " QT_QPA_PLATFORM=" + platform + " XDG_CONFIG_HOME='" +
        (dir / "cfg").string() + "' XDG_RUNTIME_DIR='" + dir.path().string() + "' '" +
        DORVANE_BINARY_DIR + "/bin/dorvane' " + args + " </dev/null 2>&1";
    return test::RunCommand(cmd);
}

struct UsageCase {
    const char* args;
    const char* english;  ///< a text the English output must hold
    const char* chinese;  ///< the same in Chinese
};

TEST(DesktopArgs, EveryBadArgumentIsAUsageErrorInTheUsersLanguage) {
    TempDir dir;
    const UsageCase cases[] = {
        {"--snapshot f.kml --out p.png --size 0x10",
         "Invalid value for --size: 0x10; allowed: WxH, 1-16384 (1280x800)",
         "--size 的值 0x10 无效；允许的值：WxH, 1-16384 (1280x800)"},
        {"--snapshot f.kml --out p.png --size big", "Invalid value for --size: big",
         "--size 的值 big 无效"},
        {"--snapshot f.kml --out p.png --size 20000x20000", "Invalid value for --size: 20000x20000",
         "--size 的值 20000x20000 无效"},
        {"--snapshot f.kml --out p.png --tiles off",
         "Invalid value for --tiles: off; allowed: none, FILE.mbtiles, http(s)://HOST/{z}/{x}/{y}.png",
         "--tiles 的值 off 无效；允许的值：none, FILE.mbtiles, http(s)://HOST/{z}/{x}/{y}.png"},
        {"--snapshot f.kml --out p.png --overlay none",
         "Invalid value for --overlay: none; allowed: http(s)://HOST/{z}/{x}/{y}.png",
         "--overlay 的值 none 无效"},
        {"f.kml --offline", "--offline goes only with --snapshot FILE",
         "--offline 只能与 --snapshot 文件 一起使用"},
        {"--snapshot f.kml --out p.png --tiles https://tiles.example/map.png",
         "Invalid value for --tiles: https://tiles.example/map.png",
         "--tiles 的值 https://tiles.example/map.png 无效"},
        {"--snapshot f.kml --out p.png --tiles", "--tiles needs a value; allowed: none, FILE.mbtiles, http(s)://",
         "--tiles 缺少值；允许的值：none"},
        {"--snapshot f.kml --out", "--out needs a value; allowed: PICTURE.png", "--out 缺少值"},
        {"--snapshot", "--snapshot needs a value", "--snapshot 缺少值"},
        {"--port", "--port needs a value; allowed: ttyUSB0, /dev/...", "--port 缺少值"},
        {"--connect --book", "--book needs a value; allowed: PATH", "--book 缺少值"},
        {"--port ''", "Invalid value for --port: \"\"", "--port 的值 \"\" 无效"},
        {"--conect",
         "Unknown option: --conect; allowed here: --port, --connect, --book, --snapshot",
         "未知选项：--conect；此处允许：--port, --connect"},
        {"-platform offscreen --verbose", "Unknown option: --verbose", "未知选项：--verbose"},
        {"a.gpx b.gpx", "Only one FILE is opened at a time; also given: b.gpx",
         "一次只能打开一个文件；多给了：b.gpx"},
        {"--snapshot f.kml", "--snapshot needs --out PICTURE.png",
         "--snapshot 需要 --out 图片.png"},
        {"f.kml --tiles none", "--tiles goes only with --snapshot FILE",
         "--tiles 只能与 --snapshot 文件 一起使用"},
    };
    for (const UsageCase& c : cases) {
        for (const auto& [locale, says] :
             {std::pair{"C", c.english}, std::pair{"zh_CN.UTF-8", c.chinese}}) {
            const test::CommandRun r = Desktop(dir, c.args, locale);
            EXPECT_EQ(r.status, 2) << locale << " " << c.args << "\n" << r.out;
            EXPECT_NE(r.out.find(says), std::string::npos) << locale << " " << c.args << "\n"
                                                           << r.out;
            EXPECT_EQ(r.out.rfind("dorvane: ", 0), 0u) << "the reason comes first\n" << r.out;
            EXPECT_NE(r.out.find("--snapshot FILE --out PICTURE.png"), std::string::npos)
                << "the help follows\n"
                << r.out;
            EXPECT_EQ(r.out.find("display"), std::string::npos) << "the toolkit started\n" << r.out;
        }
        // The language switch wins over the locale.
        const test::CommandRun zh = Desktop(dir, std::string(c.args) + " -Code_Chi", "C");
        EXPECT_NE(zh.out.find(c.chinese), std::string::npos) << c.args << "\n" << zh.out;
    }
    EXPECT_FALSE(fs::exists(dir / "cfg" / "dorvane"))
        << "a usage error must not touch the settings";
}

TEST(DesktopArgs, ToolkitOptionsStillReachTheToolkit) {
    TempDir dir;
    // -platform offscreen makes the toolkit draw without a display (under the
    // xcb platform the environment asks for, it could not start); -style and
    // -reverse are the toolkit's too.
    const std::string picture = (dir / "p.png").string();
    const test::CommandRun r =
        Desktop(dir,
                std::string("-platform offscreen --style fusion -reverse --snapshot '") + kSamples +
                    "T0602_few.gpx' --out '" + picture + "' --size 64x48 --tiles none",
                "C");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(picture)) << r.out;
    // An unknown single-dash option is left to the toolkit as well.
    const test::CommandRun h = Desktop(dir, "-nosuchtoolkitoption --help", "C");
    EXPECT_EQ(h.status, 0) << h.out;
}

}  // namespace
}  // namespace dorvane
