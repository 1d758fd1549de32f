// dorvane-sim's command line, run as the real program: every bad or missing
// value names the option and the values it takes, an unknown option is
// named, and all of them end with status 2 and nothing started; good values
// start the emulator.

#include <gtest/gtest.h>

#include <string>

#include "common/run_command.h"
#include "sim_test_util.h"

namespace dorvane::simtest {
namespace {

constexpr const char* kProgram = DORVANE_BINARY_DIR "/bin/dorvane-sim";

struct ArgsCase {
    const char* args;  ///< after the program; "DIR" stands for a served folder
    int status;
    const char* says;  ///< a text the output (stdout and stderr) must hold
};

std::string WithFolder(std::string args, const std::string& folder) {
    for (std::size_t at; (at = args.find("DIR")) != std::string::npos;)
        args.replace(at, 3, "'" + folder + "'");
    return args;
}

TEST(SimArgs, EveryBadArgumentIsAUsageErrorNamingItAndTheAllowedValues) {
    TempFolder dir;
    const ArgsCase cases[] = {
        {"--baud 7 DIR", 2, "--baud: 7 is not a rate the link can set (50..4000000)"},
        {"--baud 4000001 DIR", 2, "--baud: 4000001 is not a rate the link can set (50..4000000)"},
        {"--baud fast DIR", 2, "--baud: fast is not a rate the link can set"},
        {"--baud -9600 DIR", 2, "--baud: -9600 is not a rate"},
        {"--baud= DIR", 2, "--baud: \"\" is not a rate"},
        {"DIR --baud", 2, "--baud needs a value (50..4000000)"},
        {"--model 4294967296 DIR", 2,
         "--model: 4294967296 is not a whole number in range (0..4294967295)"},
        {"--model ' 7' DIR", 2, "--model:  7 is not a whole number"},
        {"--seed x DIR", 2, "--seed: x is not a whole number in range (0..4294967295)"},
        {"--protocol-version 1.5 DIR", 2, "--protocol-version: 1.5 is not a whole number"},
        {"--version 99999999999 DIR", 2, "--version: 99999999999 is not a whole number in range"},
        {"--delay-ms -1 DIR", 2, "--delay-ms: -1 is not a whole number in range (0..4294967295)"},
        {"--capacity lots DIR", 2,
         "--capacity: lots is not a whole number in range (0..18446744073709551615)"},
        {"--silent-after 1e3 DIR", 2, "--silent-after: 1e3 is not a whole number"},
        {"--stall-after '' DIR", 2, "--stall-after: \"\" is not a whole number"},
        {"--vanish-after 18446744073709551616 DIR", 2,
         "--vanish-after: 18446744073709551616 is not"},
        {"--drop 1.5 DIR", 2, "--drop: 1.5 is not a probability (0..1)"},
        {"--corrupt -0.1 DIR", 2, "--corrupt: -0.1 is not a probability (0..1)"},
        {"--duplicate nan DIR", 2, "--duplicate: nan is not a probability"},
        {"--garbage 0.5x DIR", 2, "--garbage: 0.5x is not a probability"},
        {"--error-on name DIR", 2,
         "--error-on: name is not a NAME:CODE pair (NAME:CODE, CODE -32768..32767)"},
        {"--error-on a.txt:40000 DIR", 2, "--error-on: a.txt:40000 is not a NAME:CODE pair"},
        {"--error-on :5 DIR", 2, "--error-on: :5 is not a NAME:CODE pair"},
        {"--fifo '' DIR", 2, "--fifo: \"\" is not a path (a path)"},
        {"DIR --trace", 2, "--trace needs a value (a path)"},
        {"DIR --link", 2, "--link needs a value (a path)"},
        {"--hostile=yes DIR", 2, "--hostile takes no value (--hostile=yes)"},
        {"--bogus DIR", 2, "unknown option --bogus; the options are --fifo, --link, --baud"},
        {"-x DIR", 2, "unknown option -x; the options are"},
        {"--baud=x DIR", 2, "--baud: x is not a rate"},
        {"DIR other", 2, "one FOLDER only:"},
        {"--baud 9600", 2, "no FOLDER given"},
        {"", 2, "no FOLDER given"},
        {"'/nonexistent folder'", 2, "/nonexistent folder is not a folder"},
        // Good values start it (and it ends with its closed standard input).
        {"--baud 40000 --exit-on-stdin-eof DIR", 0, "PTY /"},
        {"--baud=50 --drop 0.25 --error-on a.txt:-5 --capacity 0x100 --exit-on-stdin-eof DIR", 0,
         "PTY /"},
        {"--version 3 --seed 0 --exit-on-stdin-eof -- DIR", 0, "PTY /"},
        {"--help", 0, "--baud N"},
        {"--version", 0, "dorvane-sim "},
    };
    for (const ArgsCase& c : cases) {
        const std::string args = WithFolder(c.args, dir.path().string());
        const test::CommandRun r =
            test::RunCommand(std::string("'") + kProgram + "' " + args + " </dev/null 2>&1");
        EXPECT_EQ(r.status, c.status) << args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << args << "\n" << r.out;
        EXPECT_EQ(r.out.find("terminate called"), std::string::npos) << args;
        if (c.status == 2) {
            EXPECT_EQ(r.out.find("PTY"), std::string::npos) << "started anyway: " << args;
            EXPECT_EQ(r.out.rfind("dorvane-sim: ", 0), 0u) << "the reason comes first: " << r.out;
        }
    }
}

}  // namespace
}  // namespace dorvane::simtest
