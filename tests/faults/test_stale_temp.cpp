// A run killed half-way leaves its hidden temporary file; the next run that
// writes into that folder removes it, and only it.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "convert/file_output.h"
#include "fault_rig.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    int st = 0;
    ::waitpid(pid, &st, 0);
    return pid;
}

std::string TempName(pid_t pid, int n) {
    return ".dorvane-" + std::to_string(pid) + "-" + std::to_string(n) + ".part";
}

TEST(StaleTempFiles, AWriteRemovesWhatADeadRunLeftAndNothingElse) {
    test::TempDir dir;
    const pid_t dead = DeadPid();
    const pid_t live = ::fork();
    if (live == 0) {
        ::pause();
        ::_exit(0);
    }
    struct Case {
        std::string name;
        bool removed;
    };
    const Case cases[] = {
        {TempName(dead, 0), true},
        {TempName(dead, 17), true},
        {TempName(live, 0), false},        // a run still writing
        {TempName(::getpid(), 5), false},  // this process's own
        {".dorvane-12x-0.part", false},    // not our pattern
        {".dorvane-" + std::to_string(dead) + "-0.partial", false},
        {"dorvane-" + std::to_string(dead) + "-0.part", false},
        {"keep.txt", false},
    };
    for (const Case& c : cases) test::WriteBytes(dir / c.name, {1, 2, 3});
    fs::create_directory(dir / TempName(dead, 99));  // not a file: left alone

    const WriteOutcome o = WriteNewFile(dir.path(), "new.txt", std::span<const std::uint8_t>());
    EXPECT_TRUE(o.ok()) << o.message;
    for (const Case& c : cases) EXPECT_EQ(!fs::exists(dir / c.name), c.removed) << c.name;
    EXPECT_TRUE(fs::is_directory(dir / TempName(dead, 99)));
    EXPECT_TRUE(fs::exists(dir / "new.txt"));
    ::kill(live, SIGKILL);
    int st = 0;
    ::waitpid(live, &st, 0);
}

TEST(StaleTempFiles, TheCommandLineDownloadCleansTheFolderItWritesTo) {
    test::TempDir dir;
    fs::create_directories(dir / "dev");
    fs::create_directories(dir / "out");
    test::WriteBytes(dir / "dev" / "A.TXT", test::RandomBytes(5000, 2));
    const std::string stale = TempName(DeadPid(), 0);
    test::WriteBytes(dir / "out" / stale, test::RandomBytes(3000, 4));
    test::SimProcess sim(dir / "dev", {});
    ASSERT_TRUE(sim.ok());
    const test::CliRun r = test::RunCli(dir.path(), {"--port", sim.path(), "--timeout", "1500",
                                                     "get", "A.TXT", "-C", (dir / "out").string()});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::Entries(dir / "out"), std::vector<std::string>{"A.TXT"});
}

}  // namespace
}  // namespace dorvane
