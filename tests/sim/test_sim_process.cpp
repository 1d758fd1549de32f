// dorvane-sim as a child process, over a real pty and a real FIFO folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "sim_test_util.h"

namespace dorvane::simtest {
namespace {

using namespace wire;

constexpr const char* kProgram = DORVANE_BINARY_DIR "/bin/dorvane-sim";
constexpr int kAnswerTimeoutMs = 5000;

// The child with its stdin (closing it ends the child) and first stdout line.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        int in[2], out[2];
        EXPECT_EQ(::pipe(in), 0);
        EXPECT_EQ(::pipe(out), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> argv = {const_cast<char*>(kProgram)};
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(const_cast<char*>("--exit-on-stdin-eof"));
            argv.push_back(nullptr);
            ::execv(kProgram, argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        // First line: "PTY /dev/pts/N" or "FIFO dir".
        char c = 0;
        pollfd p{out[0], POLLIN, 0};
        while (::poll(&p, 1, kAnswerTimeoutMs) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line_ += c;
        ::close(out[0]);
    }
    ~SimProcess() {
        ::close(stdin_);
        int status = 0;
        for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::usleep(10000);
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ADD_FAILURE() << "dorvane-sim did not end when its stdin closed";
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    const std::string& Line() const { return line_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    std::string line_;
};

// Reads until `count` frames have been cut or the time-out passes.
std::vector<Answer> ReadFrames(int fd, std::size_t count) {
    Bytes all;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    std::vector<Answer> got;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        std::uint8_t buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) all.insert(all.end(), buf, buf + n);
        got = CutAll(all);
    }
    return got;
}

void WriteAll(int fd, const Bytes& b) {
    std::size_t done = 0;
    while (done < b.size()) {
        const ssize_t n = ::write(fd, b.data() + done, b.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN)
            return;
    }
}

struct LinkCase {
    const char* what;
    bool fifo;
    bool padded;  // the USB stand-in pads every write to 2048 bytes
};

class SimOverLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(SimOverLink, HandshakeFetchAndDelete) {
    const LinkCase c = GetParam();
    TempFolder dir;
    const Bytes content = Pattern(2500);
    dir.Write("t.gpx", content);
    const fs::path pipes = dir.path().parent_path() / (dir.path().filename().string() + "-pipes");
    // The FIFO cases use the older spelling of the option, "--version N".
    std::vector<std::string> args = {dir.path().string(), c.fifo ? "--version" : "--protocol-version",
                                     "3", "--baud", "1000000"};
    if (c.fifo) {
        args.push_back("--fifo");
        args.push_back(pipes.string());
    }
    SimProcess sim(args);
    int rfd = -1, wfd = -1;
    if (c.fifo) {
        ASSERT_EQ(sim.Line(), "FIFO " + pipes.string());
        rfd = ::open((pipes / "PIPE00").c_str(), O_RDONLY | O_NONBLOCK);
        wfd = ::open((pipes / "PIPE01").c_str(), O_WRONLY);
    } else {
        ASSERT_EQ(sim.Line().rfind("PTY /dev/", 0), 0u) << sim.Line();
        rfd = wfd = ::open(sim.Line().substr(4).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(rfd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(rfd, TCSANOW, &t);
    }
    ASSERT_GE(rfd, 0);
    ASSERT_GE(wfd, 0);
    auto send = [&](Bytes frame) {
        if (c.padded) frame.resize(2048, 0);
        WriteAll(wfd, frame);
    };

    send(FixedFrame(cmd::kHandshake));
    auto a = ReadFrames(rfd, 1);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].command, cmd::kAck);
    EXPECT_EQ(a[0].payload, Bytes{cmd::kHandshake});
    EXPECT_EQ(a[0].version, 3u);

    send(Frame(cmd::kFetch, NamePayload("t.gpx")));
    a = ReadFrames(rfd, 3);
    ASSERT_EQ(a.size(), 3u);
    Bytes got;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(a[i].command, cmd::kData);
        got.insert(got.end(), a[i].payload.begin() + kBlockHeaderSize, a[i].payload.end());
    }
    EXPECT_EQ(got, content);
    EXPECT_EQ(a[2].payload, AllPayload(cmd::kData));

    send(Frame(cmd::kDelete, NamePayload("t.gpx")));
    a = ReadFrames(rfd, 1);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].payload, Bytes{cmd::kDelete});
    EXPECT_FALSE(fs::exists(dir.path() / "t.gpx"));
    send(FixedFrame(cmd::kWindow, {kCloseByte}));
    ::close(rfd);
    if (wfd != rfd) ::close(wfd);
    std::error_code ec;
    fs::remove_all(pipes, ec);
}

INSTANTIATE_TEST_SUITE_P(Links, SimOverLink,
                         ::testing::Values(LinkCase{"pty", false, false},
                                           LinkCase{"fifo", true, false},
                                           LinkCase{"fifo_padded", true, true}),
                         [](const auto& param) { return std::string(param.param.what); });

TEST(SimProcessLife, EndsOnSigterm) {
    TempFolder dir;
    SimProcess sim({dir.path().string()});
    ASSERT_EQ(sim.Line().rfind("PTY ", 0), 0u);
    ::kill(sim.Pid(), SIGTERM);
    int status = 0;
    pid_t r = 0;
    for (int i = 0; i < 200 && (r = ::waitpid(sim.Pid(), &status, WNOHANG)) == 0; ++i)
        ::usleep(10000);
    ASSERT_EQ(r, sim.Pid());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SimThrottle, PacesTheLineRate) {
    TempFolder dir;
    dir.Write("f", Pattern(4000));
    SimProcess sim({dir.path().string(), "--baud", "40000"});  // 4000 bytes per second
    const int fd = ::open(sim.Line().substr(4).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    const auto start = std::chrono::steady_clock::now();
    WriteAll(fd, Frame(cmd::kFetch, NamePayload("f")));
    const auto a = ReadFrames(fd, 4);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(a.size(), 4u);
    // About 4100 bytes at 4000 bytes per second.
    EXPECT_GT(seconds, 0.8);
    ::close(fd);
}

}  // namespace
}  // namespace dorvane::simtest
