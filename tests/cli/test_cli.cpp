// dorvane-cli as a user runs it, against dorvane-sim over a pty.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <utime.h>

#include <array>
#include <fstream>

#include "common/run_command.h"
#include "common/sim_process.h"
#include "transfer/settings_file.h"
#include "transfer/usb_setting.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using test::SimProcess;
using test::TempDir;

using CliRun = test::CommandRun;  // out: stdout and stderr together

// Runs the CLI in English (or the locale given), UTC, with its own settings folder.
CliRun Cli(const TempDir& dir, const std::string& args, const std::string& locale = "C") {
    const std::string cmd = "cd '" + dir.path().string() + "' && LANG=" + locale +
                            " LC_ALL=" + locale + " TZ=UTC XDG_CONFIG_HOME='" +
                            (dir / "cfg").string() + "' '" + DORVANE_BINARY_DIR +
                            "/bin/dorvane-cli' " + args + " 2>&1";
    return test::RunCommand(cmd);
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "dev");
        fs::create_directories(dir_ / "out");
        for (const auto& e :
             fs::directory_iterator(fs::path(DORVANE_SOURCE_DIR) / "sim/samples/data"))
            fs::copy_file(e.path(), dir_ / "dev" / e.path().filename());
        std::ofstream(dir_ / "dev" / "note.txt") << "hello\n";
        const struct utimbuf t = {1700000000, 1700000000};  // 2023-11-14 22:13:20 UTC
        ::utime((dir_ / "dev" / "note.txt").c_str(), &t);
        sim_ = std::make_unique<SimProcess>(dir_ / "dev", std::vector<std::string>{});
        ASSERT_TRUE(sim_->ok());
        port_ = "--port " + sim_->path() + " --timeout 1000 ";
    }
    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::string port_;
};

TEST_F(CliTest, LsPrintsNameSizeAndLocalTime) {
    const CliRun r = Cli(dir_, port_ + "ls");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("note.txt\t6\t2023-11-14 22:13\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\xE6\xB5\x8B\xE8\xAF\x95\xE8\xBD\xA8\xE8\xBF\xB9.gpx\t"),
              std::string::npos)
        << "the GBK name in UTF-8: " << r.out;
    EXPECT_NE(r.out.find("N070101.gmt\t"), std::string::npos);
}

TEST_F(CliTest, GetCopiesAndReportsMissingNames) {
    CliRun r = Cli(dir_, port_ + "get note.txt size_1960.bin -C out");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Slurp(dir_ / "out" / "note.txt"), "hello\n");
    EXPECT_EQ(Slurp(dir_ / "out" / "size_1960.bin"), Slurp(dir_ / "dev" / "size_1960.bin"));
    EXPECT_NE(r.out.find("out/note.txt"), std::string::npos) << r.out;
    r = Cli(dir_, port_ + "get nothing.txt -C out");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("nothing.txt"), std::string::npos) << r.out;
}

TEST_F(CliTest, MoveWithConversionWritesGpxAndBakAndDeletes) {
    const CliRun r = Cli(dir_, port_ + "mv T0602_few.gpx -C out --model 701");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "T0602_few.gpx"));
    EXPECT_TRUE(fs::exists(dir_ / "out" / "T0602_few.bak"));
    EXPECT_NE(Slurp(dir_ / "out" / "T0602_few.gpx").find("<gpx"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "dev" / "T0602_few.gpx"));
}

TEST_F(CliTest, RmPutAndTheirFailures) {
    CliRun r = Cli(dir_, port_ + "rm note.txt");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(fs::exists(dir_ / "dev" / "note.txt"));
    std::ofstream(dir_ / "up.txt") << "up";
    r = Cli(dir_, port_ + "put up.txt");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Slurp(dir_ / "dev" / "up.txt"), "up");
    r = Cli(dir_, port_ + "put missing.txt");
    EXPECT_EQ(r.status, 1) << r.out;
    r = Cli(dir_, port_ + "put out");  // a folder
    EXPECT_EQ(r.status, 1) << r.out;
}

TEST_F(CliTest, NoHandheldAndBadUsage) {
    CliRun r = Cli(dir_, "--port /dev/nonexistent-port --timeout 200 ls");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("No"), std::string::npos) << r.out;
    r = Cli(dir_, "frobnicate");
    EXPECT_EQ(r.status, 2);
    r = Cli(dir_, "");
    EXPECT_EQ(r.status, 2);
}

TEST_F(CliTest, ConvertTellsTheKindByContent) {
    fs::copy_file(dir_ / "dev" / "T0602_few.gpx", dir_ / "T0602.bak");
    CliRun r = Cli(dir_, "convert T0602.bak dev/A0602_vertex.txt -C out");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "T0602.gpx"));
    EXPECT_TRUE(fs::exists(dir_ / "out" / "A0602_vertex.kml"));
    r = Cli(dir_, "convert dev/dollars.bin -C out");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_FALSE(fs::exists(dir_ / "out" / "dollars.kml"));
}

// The language switches choose the language and are no command or operand.
TEST_F(CliTest, LanguageSwitchesAreNeitherCommandNorOperand) {
    struct Row {
        const char* what;
        std::string args;
        int status;
        std::string expected;
        std::string unexpected;
    };
    const Row rows[] = {
        {"alone it is a usage error in English", "-Code_Eng", 2, "Usage: ", "command: -Code_Eng"},
        {"before ls", "-Code_Eng " + port_ + "ls", 0, "note.txt\t6\t", "-Code_Eng"},
        {"after a convert operand", "convert missing.bak -Code_Eng", 1,
         "Could not convert missing.bak: cannot read", "convert -Code_Eng"},
        {"Chinese chosen in an English locale", "-Code_Chi frobnicate", 2,
         "\xE6\x9C\xAA\xE7\x9F\xA5\xE5\x91\xBD\xE4\xBB\xA4\xEF\xBC\x9A"
         "frobnicate",
         "\xEF\xBC\x9A-Code_Chi"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const CliRun r = Cli(dir_, row.args);
        EXPECT_EQ(r.status, row.status) << r.out;
        EXPECT_NE(r.out.find(row.expected), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(row.unexpected), std::string::npos) << r.out;
    }
}

// The reasons of a failed conversion come from the language file.
TEST_F(CliTest, ConvertReasonsInTheUserLanguage) {
    std::ofstream(dir_ / "junk.bak") << "neither track nor area";
    CliRun r = Cli(dir_, "convert missing.bak junk.bak -C out", "zh_CN.UTF-8");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(
        r.out.find("\xE6\x97\xA0\xE6\xB3\x95\xE8\xAF\xBB\xE5\x8F\x96\xE6\x96\x87\xE4\xBB\xB6"),
        std::string::npos)
        << "\"cannot read the file\" in Chinese: " << r.out;
    EXPECT_EQ(r.out.find("cannot read the file"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("not a track or area file"), std::string::npos) << r.out;
}

// Explicit --port/--usb/--baud are for one run; the desktop program keeps
// its settings. Only a port the search found is remembered.
TEST_F(CliTest, ExplicitLinkOptionsDoNotChangeTheRememberedSettings) {
    const fs::path cfg = dir_ / "cfg" / "dorvane" / kSettingsFileName;
    LinkSettings saved;
    saved.portName = "ttyS0";
    saved.baud = 115200;
    saved.computerFolder = "/home/u/fields";
    saved.linkType = LinkType::kUsb;
    struct Row {
        const char* what;
        std::string args;
    };
    const Row rows[] = {
        {"--usb for one listing",
         "--usb " + (dir_ / "no-such-fifo").string() + " --timeout 200 ls"},
        {"--port for one listing", port_ + "ls"},
        {"--port and --baud", port_ + "--baud 9600 ls"},
        {"ports only", "ports"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(SaveSettingsFile(cfg, saved));
        Cli(dir_, row.args);
        const auto bytes = [&] {
            std::ifstream in(cfg, std::ios::binary);
            return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
        }();
        const auto now = DecodeSettings(bytes);
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->linkType, LinkType::kUsb);
        EXPECT_EQ(now->computerFolder, saved.computerFolder);
        EXPECT_EQ(now->baud, saved.baud);
    }
}

TEST_F(CliTest, UsbIdIsRememberedForBothProgramsAndBadIdsAreRefused) {
    const fs::path idFile = dir_ / "cfg" / "dorvane" / kUsbIdFileName;
    CliRun r = Cli(dir_, "--usb-id 1A2b:3c4D");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("1a2b:3c4d"), std::string::npos) << r.out;
    const auto kept = LoadUsbId(idFile);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->vendorId, 0x1a2b);
    EXPECT_EQ(kept->productId, 0x3c4d);
    for (const char* bad : {"12345:1", "1a2b", "xyz:0001", ":"}) {
        SCOPED_TRACE(bad);
        r = Cli(dir_, std::string("--usb-id '") + bad + "'");
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_NE(r.out.find("Invalid USB id"), std::string::npos) << r.out;
        EXPECT_EQ(LoadUsbId(idFile)->vendorId, 0x1a2b) << "a bad id leaves the kept one";
    }
}

TEST_F(CliTest, UsbDevicesListsIdsAndBulkEndpointsOrSaysThereIsNone) {
    const CliRun r = Cli(dir_, "usb-devices");
    EXPECT_EQ(r.status, 0) << r.out;
    const bool none = r.out == "No USB devices found.\n";
    const bool listed =
        r.out.find(" bulk IN ") != std::string::npos && r.out.find("--usb-id") != std::string::npos;
    EXPECT_TRUE(none || listed) << r.out;
}

// The desktop program's usage line comes from the language file too.
TEST(CliDesktop, UsageLineOfTheDesktopProgramIsTranslated) {
    const std::string program = std::string(DORVANE_BINARY_DIR) + "/bin/dorvane";
    if (!fs::exists(program)) GTEST_SKIP() << "this build has no desktop program";
    TempDir dir;
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
    const std::string cmd = "XDG_RUNTIME_DIR='" + (dir / "run").string() +
                            "' QT_QPA_PLATFORM=offscreen LANG=zh_CN.UTF-8 '" + program +
                            "' --out 2>&1";  // --out without its picture
    const auto [status, out] = test::RunCommand(cmd);
    EXPECT_EQ(status, 2) << out;
    // "缺少值" ("has no value"): the error names the option in Chinese.
    EXPECT_NE(out.find("--out \xE7\xBC\xBA\xE5\xB0\x91\xE5\x80\xBC"), std::string::npos)
        << "the missing value in Chinese: " << out;
    EXPECT_EQ(out.find("usage:"), std::string::npos) << out;
}

}  // namespace
}  // namespace dorvane
