// CSerial over a pseudo-terminal pair: the test holds the master, the link
// opens the slave by its "/dev/pts/N" path.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "link/permission.h"
#include "link/serial.h"
#include "link_test_util.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using test::Collector;
using test::PtyPair;

constexpr int kBaud = 115200;

class SerialPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(pty.slave().empty()) << "no pseudo-terminal"; }
    PtyPair pty;
};

TEST_F(SerialPty, OpensPtyPathWithRawLineSettings) {
    CSerial serial;
    ASSERT_EQ(serial.Open(pty.slave(), kBaud), 1) << LinkErrorName(serial.LastError());
    EXPECT_EQ(serial.LastError(), LinkError::None);
    EXPECT_TRUE(serial.IsOpen());
    EXPECT_EQ(serial.PortName(), pty.slave());

    // Terminal ioctls on the master act on the slave's settings.
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.master(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(SerialPty, RejectedBaudRateRaisesWithErrnoAndPortAndLeavesPortClosed) {
    CSerial serial;
    try {
        serial.Open(pty.slave(), 12345);
        FAIL() << "no exception";
    } catch (const LinkSettingsError& error) {
        EXPECT_EQ(error.Errno(), EINVAL);
        EXPECT_EQ(error.PortName(), pty.slave());
    }
    EXPECT_FALSE(serial.IsOpen());
    EXPECT_EQ(serial.LastError(), LinkError::BadSettings);
    // The exclusive hold went with it: the port opens again.
    EXPECT_EQ(serial.Open(pty.slave(), kBaud), 1);
}

TEST_F(SerialPty, WriteReachesThePeer) {
    CSerial serial;
    ASSERT_EQ(serial.Open(pty.slave(), kBaud), 1);
    const auto bytes = test::Pattern(300);
    EXPECT_EQ(serial.Write(bytes.data(), bytes.size()), bytes.size());
    std::vector<std::uint8_t> got(bytes.size());
    std::size_t done = 0;
    while (done < got.size()) {
        const ssize_t n = ::read(pty.master(), got.data() + done, got.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(got, bytes);
}

TEST_F(SerialPty, BurstArrivesWholeInOrderInChunksOfAtMost1024) {
    CSerial serial;
    ASSERT_EQ(serial.Open(pty.slave(), kBaud), 1);
    Collector collector;
    serial.StartReader();
    serial.SetReceiveCallback(&Collector::Callback, &collector);

    const auto burst = test::Pattern(100 * 1024);
    std::thread writer([&] { pty.WriteAll(burst); });
    const bool complete = collector.WaitFor(burst.size());
    writer.join();
    ASSERT_TRUE(complete) << collector.Bytes().size() << " bytes arrived";
    serial.StopReader();

    EXPECT_EQ(collector.Bytes(), burst);
    EXPECT_LE(collector.Largest(), kReadChunk);
    EXPECT_EQ(collector.EmptyCalls(), 0u);
    EXPECT_GE(collector.Calls(), burst.size() / kReadChunk);
}

TEST_F(SerialPty, StopReaderReturnsPromptlyWhileBytesKeepArrivingAndDeliveryEnds) {
    CSerial serial;
    ASSERT_EQ(serial.Open(pty.slave(), kBaud), 1);
    Collector collector;
    serial.StartReader();
    serial.SetReceiveCallback(&Collector::Callback, &collector);

    std::atomic<bool> stop{false};
    ::fcntl(pty.master(), F_SETFL, ::fcntl(pty.master(), F_GETFL) | O_NONBLOCK);
    std::thread writer([&] {
        const auto chunk = test::Pattern(512);
        while (!stop) {
            if (::write(pty.master(), chunk.data(), chunk.size()) < 0)
                std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(collector.WaitFor(8 * 1024));

    const auto started = std::chrono::steady_clock::now();
    serial.StopReader();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, 600ms);

    const std::size_t callsAtStop = collector.Calls();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(collector.Calls(), callsAtStop) << "callback ran after StopReader returned";
    stop = true;
    writer.join();
}

TEST_F(SerialPty, ReopenAfterCloseDeliversAgain) {
    CSerial serial;
    ASSERT_EQ(serial.Open(pty.slave(), kBaud), 1);
    serial.Close();
    EXPECT_FALSE(serial.IsOpen());
    const std::uint8_t byte = 0x24;
    EXPECT_EQ(serial.Write(&byte, 1), 0u) << "write on a closed port";

    ASSERT_EQ(serial.Reopen(), 1);
    EXPECT_EQ(serial.BaudRate(), kBaud);
    Collector collector;
    serial.StartReader();
    serial.SetReceiveCallback(&Collector::Callback, &collector);
    const auto bytes = test::Pattern(2000, 7);
    pty.WriteAll(bytes);
    ASSERT_TRUE(collector.WaitFor(bytes.size()));
    EXPECT_EQ(collector.Bytes(), bytes);
}

TEST_F(SerialPty, SecondOpenOfSamePortIsRefusedUntilClosed) {
    CSerial first;
    CSerial second;
    ASSERT_EQ(first.Open(pty.slave(), kBaud), 1);
    EXPECT_EQ(second.Open(pty.slave(), kBaud), 0);
    EXPECT_EQ(second.LastError(), LinkError::Busy);
    EXPECT_TRUE(first.IsOpen()) << "the refused open must not disturb the holder";

    first.Close();
    EXPECT_EQ(second.Open(pty.slave(), kBaud), 1);
}

TEST(Serial, OpenFailuresGiveDistinctResults) {
    struct Case {
        const char* description;
        std::string name;
        LinkError expected;
    };
    test::TempDir dir;
    const auto file = dir.path() / "plain-file";
    { std::ofstream(file) << "x"; }
    const Case cases[] = {
        {"missing node", "/dev/dorvane-no-such-port", LinkError::NotFound},
        {"missing name under /dev", "ttyDORVANE99", LinkError::NotFound},
        {"a plain file is not a port", file.string(), LinkError::NotATerminal},
    };
    for (const Case& c : cases) {
        CSerial serial;
        EXPECT_EQ(serial.Open(c.name, kBaud), 0) << c.description;
        EXPECT_EQ(serial.LastError(), c.expected) << c.description;
        EXPECT_FALSE(serial.IsOpen()) << c.description;
    }
}

TEST(Serial, DevicePathOfNames) {
    EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(SerialDevicePath("/dev/serial/by-id/usb-x"), "/dev/serial/by-id/usb-x");
}

TEST_F(SerialPty, PortRefusedForPermissionGivesPermissionDenied) {
    // Root is never refused, so the open runs in a child that gave up root.
    ASSERT_EQ(::chmod(pty.slave().c_str(), 0600), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(2);
        }
        if (::geteuid() != 0 && ::getuid() == ::geteuid()) {
            // Not root from the start: take our own permission away instead.
            ::chmod(pty.slave().c_str(), 0);
        }
        CSerial serial;
        const int opened = serial.Open(pty.slave(), kBaud);
        ::_exit(opened == 0 && serial.LastError() == LinkError::PermissionDenied ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SerialPty, PermissionAdviceNamesOwningGroupAndSaysToLogInAgain) {
    struct stat info {};
    ASSERT_EQ(::stat(pty.slave().c_str(), &info), 0);
    const group* owner = ::getgrgid(info.st_gid);
    const std::string expected = owner ? owner->gr_name : std::to_string(info.st_gid);

    const PermissionAdvice advice = DescribePermissionProblem(pty.slave());
    EXPECT_EQ(advice.group, expected);
    EXPECT_NE(advice.text.find('"' + expected + '"'), std::string::npos) << advice.text;
    EXPECT_NE(advice.text.find(pty.slave()), std::string::npos) << advice.text;
    EXPECT_NE(advice.text.find("log in again"), std::string::npos) << advice.text;

    const PermissionAdvice missing = DescribePermissionProblem("/dev/dorvane-no-such-port");
    EXPECT_EQ(missing.group, kUsualSerialGroup);
}

// A child that has ended and been reaped: its PID names no process.
int DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return static_cast<int>(child);
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(SerialPty, LockFileHoldsOurPidWhileOpenAndStaleOrForeignLocksAreJudgedByTheirPid) {
    test::TempDir locks;
    const std::filesystem::path lockFile = locks.path() / PortLockName(pty.slave());
    EXPECT_EQ(lockFile.filename().string().rfind("LCK..pts_", 0), 0u) << lockFile;
    char ours[16];
    std::snprintf(ours, sizeof ours, "%10d\n", static_cast<int>(::getpid()));

    const pid_t sleeper = ::fork();
    if (sleeper == 0) {
        ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::this_thread::sleep_for(200ms);  // let it become "sleep"
    char live[16];
    std::snprintf(live, sizeof live, "%10d\n", static_cast<int>(sleeper));
    char dead[16];
    std::snprintf(dead, sizeof dead, "%10d\n", DeadPid());

    struct Case {
        const char* what;
        std::string lockBefore;  ///< "" = no lock file
        int opened;
        int holderPid;
        const char* holderProgram;
    };
    const Case cases[] = {
        {"no lock", "", 1, 0, ""},
        {"a dead PID's lock is replaced", dead, 1, 0, ""},
        {"garbage is no PID: replaced", "not a pid\n", 1, 0, ""},
        {"a live PID holds the port", live, 0, static_cast<int>(sleeper), "sleep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(lockFile);
        if (!c.lockBefore.empty()) std::ofstream(lockFile) << c.lockBefore;
        CSerial serial;
        serial.SetLockFolder(locks.path());
        EXPECT_EQ(serial.Open(pty.slave(), kBaud), c.opened);
        if (c.opened) {
            EXPECT_EQ(ReadAll(lockFile), ours);
            serial.Close();
            EXPECT_FALSE(std::filesystem::exists(lockFile)) << "Close removes our lock";
        } else {
            EXPECT_EQ(serial.LastError(), LinkError::Busy);
            EXPECT_EQ(serial.Holder().pid, c.holderPid);
            EXPECT_EQ(serial.Holder().program, c.holderProgram);
            EXPECT_EQ(ReadAll(lockFile), c.lockBefore) << "another's lock stays";
        }
    }
    ::kill(sleeper, SIGTERM);
    ::waitpid(sleeper, nullptr, 0);
}

TEST_F(SerialPty, AnUnwritableLockFolderLeavesFlockAlone) {
    CSerial first;
    first.SetLockFolder("/nonexistent-dorvane-lock-folder");
    ASSERT_EQ(first.Open(pty.slave(), kBaud), 1);
    CSerial second;
    second.SetLockFolder("/nonexistent-dorvane-lock-folder");
    EXPECT_EQ(second.Open(pty.slave(), kBaud), 0);
    EXPECT_EQ(second.LastError(), LinkError::Busy);
    first.Close();
    EXPECT_EQ(second.Open(pty.slave(), kBaud), 1);
}

TEST_F(SerialPty, ReopenReportsRefusedSettingsInsteadOfThrowing) {
    CSerial serial;
    EXPECT_THROW(serial.Open(pty.slave(), 12345), LinkSettingsError);
    int result = -1;
    EXPECT_NO_THROW(result = serial.Reopen());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(serial.LastError(), LinkError::BadSettings);
    EXPECT_FALSE(serial.IsOpen());
}

}  // namespace
}  // namespace dorvane
