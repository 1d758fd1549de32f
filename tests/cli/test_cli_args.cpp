// dorvane-cli's command line: every bad argument is a usage error that names
// it and what is allowed; a port held by another program names its holder; a
// port that refuses the line settings is reported, never a crash.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "common/run_command.h"
#include "common/sim_process.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using test::SimProcess;
using test::TempDir;

// Runs the CLI in the locale given, with its own settings folder; `env` goes
// before the program (variables of this run only).
test::CommandRun Cli(const TempDir& dir, const std::string& args, const std::string& locale = "C",
                     const std::string& env = "") {
    const std::string cmd = "cd '" + dir.path().string() + "' && LANG=" + locale +
                            " LC_ALL=" + locale + " TZ=UTC XDG_CONFIG_HOME='" +
                            (dir / "cfg").string() + "' " + env + " '" + DORVANE_BINARY_DIR +
                            "/bin/dorvane-cli' " + args + " 2>&1";
    return test::RunCommand(cmd);
}

struct UsageCase {
    const char* args;
    int status;
    const char* says;  ///< a text the output must hold
};

TEST(CliArgs, EveryBadArgumentIsAUsageErrorNamingItAndTheAllowedValues) {
    TempDir dir;
    fs::create_directories(dir / "empty");
    std::ofstream(dir / "f.txt") << "x";
    const UsageCase cases[] = {
        {"--port /dev/null --baud 7 ls", 2, "Invalid value for --baud: 7; allowed: 50, 75"},
        {"--port /dev/null --baud 0 ls", 2, "Invalid value for --baud: 0; allowed:"},
        {"--port /dev/null --baud 12345 ls", 2, "--baud: 12345; allowed: 50, 75, 110"},
        {"--baud fast ls", 2, "--baud: fast"},
        {"--timeout 0 ls", 2, "Invalid value for --timeout: 0; allowed: 1-600000"},
        {"--timeout -5 ls", 2, "--timeout: -5"},
        {"get f.txt --model x1", 2, "Invalid value for --model: x1"},
        {"ls --port", 2, "--port needs a value"},
        {"get", 2, "get needs at least one name of a file on the GPS device"},
        {"mv", 2, "mv needs at least one name"},
        {"rm", 2, "rm needs at least one name"},
        {"put", 2, "put needs at least one file"},
        {"ls --bogus", 2, "Unknown option: --bogus; allowed here: --port"},
        {"ls -C empty", 2, "Unknown option: -C"},
        {"rm x --json", 2, "Unknown option: --json"},
        {"ls extra", 2, "ls takes no argument: extra"},
        {"frobnicate", 2, "Unknown command: frobnicate; ports, ls"},
        {"report . --from 2024-07-01 --to 2024-06-01", 2,
         "The date range is reversed: --from 2024-07-01 is after --to 2024-06-01"},
        {"report . --from 2024-13-01", 2, "Invalid date: 2024-13-01"},
        {"report . --bogus", 2, "Unknown option: --bogus"},
        {"--port /dev/null get x -C missingdir", 1, "No such folder: "},
        {"--port /dev/null get x -C f.txt", 1, "f.txt is not a folder"},
        {"--port /dev/null put empty", 1, "empty is a folder: only files can be sent"},
        {"--port /dev/null put nothing.txt", 1, "No such file: nothing.txt"},
    };
    for (const UsageCase& c : cases) {
        const test::CommandRun r = Cli(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_EQ(r.out.find("terminate called"), std::string::npos) << c.args;
        EXPECT_EQ(r.out.find("does not exist or is locked"), std::string::npos) << c.args;
    }
}

TEST(CliArgs, HelpNamesEveryCommandAndOption) {
    TempDir dir;
    const test::CommandRun r = Cli(dir, "--help");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* word : {"ports", "ls", "get", "mv", "rm", "put", "convert", "usb-devices",
                             "info", "report", "export", "--port", "--usb PATH", "--usb-id",
                             "--baud", "--timeout", "--no-search", "-C DIR", "--model",
                             "-Code_Chi", "-Code_Eng", "--version"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word << "\n" << r.out;
}

class CliOnEmulator : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "dev");
        std::ofstream(dir_ / "dev" / "note.txt") << "hello\n";
    }
    void Start(std::vector<std::string> simArgs) {
        sim_ = std::make_unique<SimProcess>(dir_ / "dev", std::move(simArgs));
        ASSERT_TRUE(sim_->ok());
    }
    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(CliOnEmulator, RefusedLineSettingsAreReportedNotACrash) {
    Start({});
    const std::string shim = std::string(DORVANE_BINARY_DIR) + "/lib/librefuse_line_settings.so";
    ASSERT_TRUE(fs::exists(shim)) << shim;
    // The sanitizers' runtime wants to come first; the shim only wraps one call.
    const std::string env = "LD_PRELOAD='" + shim +
                            "' ASAN_OPTIONS=verify_asan_link_order=0 DORVANE_REFUSE_TCSETATTR=";
    struct Case {
        const char* errnoValue;
        const char* says;
    };
    for (const Case& c : {Case{"22", "Invalid argument"}, Case{"5", "Input/output error"}}) {
        const test::CommandRun r =
            Cli(dir_, "--port " + sim_->path() + " --timeout 500 ls", "C", env + c.errnoValue);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("The port " + sim_->path() +
                             " refused the line settings (115200 baud): " + c.says),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("terminate called"), std::string::npos) << r.out;
    }
    // The same port, settings accepted: the handheld answers.
    const test::CommandRun ok = Cli(dir_, "--port " + sim_->path() + " --timeout 1000 ls");
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(ok.out.find("note.txt"), std::string::npos) << ok.out;
}

TEST_F(CliOnEmulator, APortHeldByAnotherProgramNamesTheHolderInBothLanguages) {
    // Every answer 2.5 s late: the first listing holds the port for seconds.
    Start({"--delay-ms", "2500"});
    const std::string port = "--port " + sim_->path() + " --timeout 6000 ls";
    struct Case {
        const char* locale;
        const char* inUse;
        const char* noDevice;
    };
    const Case cases[] = {
        {"C", "is in use by another program (PID ", "No GPS device found."},
        {"zh_CN.UTF-8", "\xE6\xAD\xA3\xE8\xA2\xAB\xE5\x8F\xA6\xE4\xB8\x80\xE4\xB8\xAA"
                        "\xE7\xA8\x8B\xE5\xBA\x8F\xE5\x8D\xA0\xE7\x94\xA8\xEF\xBC\x88PID ",
         ""},
    };
    for (const Case& c : cases) {
        const std::string holder = "'" + std::string(DORVANE_BINARY_DIR) + "/bin/dorvane-cli' " +
                                   port + " > holder.txt 2>&1 & sleep 1; ";
        const std::string cmd = "cd '" + dir_.path().string() + "' && export XDG_CONFIG_HOME='" +
                                (dir_ / "cfg").string() + "' LANG=" + c.locale + " LC_ALL=" +
                                c.locale + "; " + holder + "'" + DORVANE_BINARY_DIR +
                                "/bin/dorvane-cli' " + port + " 2>&1; echo \"rc=$?\"; wait";
        const test::CommandRun r = test::RunCommand(cmd);
        EXPECT_NE(r.out.find("rc=1"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(sim_->path()), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.inUse), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("dorvane-cli"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("usermod"), std::string::npos) << "no checklist: " << r.out;
        if (*c.noDevice) {
            EXPECT_NE(r.out.find(c.noDevice), std::string::npos) << r.out;
        }
        // The holder was not disturbed: it listed the handheld.
        std::ifstream in(dir_ / "holder.txt");
        const std::string first((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(first.find("note.txt"), std::string::npos) << first;
    }
}

TEST_F(CliOnEmulator, TheChecklistNamesThePortsTriedAndNeverTheRootGroup) {
    // A port that exists, is no terminal, and belongs to root's group.
    std::ofstream(dir_ / "port") << "";
    if (::chown((dir_ / "port").c_str(), static_cast<uid_t>(-1), 0) != 0)
        GTEST_SKIP() << "cannot give a file to the group root here";
    const std::string port = (dir_ / "port").string();
    const test::CommandRun r = Cli(dir_, "--port '" + port + "' --timeout 200 ls");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("Ports tried: " + port), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"root\", which no account should join"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sudo usermod -aG dialout $USER"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("usermod -aG root"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace dorvane
