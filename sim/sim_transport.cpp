#include "sim/sim_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace dorvane {
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Bits per byte on an 8N1 line: start, 8 data, stop.
constexpr double kBitsPerByte = 10.0;
// Longest wait of one loop pass, so stop requests are seen promptly.
constexpr int kPollSliceMs = 50;
// Bytes read from the link per call.
constexpr std::size_t kReadChunk = 4096;
// The pacing allows bursts of this share of a second.
constexpr double kBurstSeconds = 0.02;

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Bytes a direction may move now; refilled from the elapsed time.
struct Pacer {
    double rate = 0;  // bytes per second, 0 = unpaced
    double credit = 0;
    Clock::time_point last = Clock::now();

    void Refill(Clock::time_point now) {
        if (rate <= 0) return;
        const double cap = std::max(1.0, rate * kBurstSeconds);
        credit = std::min(cap, credit + std::chrono::duration<double>(now - last).count() * rate);
        last = now;
    }
    std::size_t Allowed(std::size_t want) const {
        if (rate <= 0) return want;
        return std::min(want, static_cast<std::size_t>(credit));
    }
    void Spend(std::size_t n) {
        if (rate > 0) credit -= static_cast<double>(n);
    }
    // Milliseconds until one byte may move (0 when it may now).
    int WaitMs() const {
        if (rate <= 0 || credit >= 1) return 0;
        return std::max(1, static_cast<int>((1 - credit) / rate * 1000) + 1);
    }
};

}  // namespace

CSimFd::~CSimFd() {
    if (fd_ >= 0) ::close(fd_);
}

CSimFd& CSimFd::operator=(CSimFd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

bool CSimPty::Open(std::string& error) {
    master_ = CSimFd(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master_.Valid()) return error = Errno("posix_openpt"), false;
    if (::grantpt(master_.Get()) != 0) return error = Errno("grantpt"), false;
    if (::unlockpt(master_.Get()) != 0) return error = Errno("unlockpt"), false;
    char name[128] = {};
    if (::ptsname_r(master_.Get(), name, sizeof name) != 0) return error = Errno("ptsname"), false;
    slavePath_ = name;
    slave_ = CSimFd(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!slave_.Valid()) return error = Errno("open pty slave"), false;
    // Raw 8N1 without echo or line editing: the line carries binary frames.
    termios t{};
    if (::tcgetattr(slave_.Get(), &t) != 0) return error = Errno("tcgetattr"), false;
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    if (::tcsetattr(slave_.Get(), TCSANOW, &t) != 0) return error = Errno("tcsetattr"), false;
    if (!SetNonBlocking(master_.Get())) return error = Errno("fcntl"), false;
    return true;
}

bool CSimFifoFolder::Open(const fs::path& folder, std::string& error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return error = "cannot create " + folder.string() + ": " + ec.message(), false;
    auto openFifo = [&](const char* name, CSimFd& fd) {
        const fs::path p = folder / name;
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) {
            if (!S_ISFIFO(st.st_mode))
                return error = p.string() + " exists and is not a FIFO", false;
        } else if (::mkfifo(p.c_str(), 0600) != 0 && errno != EEXIST) {
            return error = Errno(("mkfifo " + p.string()).c_str()), false;
        }
        // Read-write: the open never waits for the other side, and never sees EOF.
        fd = CSimFd(::open(p.c_str(), O_RDWR | O_NONBLOCK));
        if (!fd.Valid()) return error = Errno(("open " + p.string()).c_str()), false;
        return true;
    };
    return openFifo(kSimPipeToHandheld, fromComputer_) && openFifo(kSimPipeToComputer, toComputer_);
}

bool RunSimLink(CHandheldSim& sim, int readFd, int writeFd, const SimLinkOptions& options,
                const std::function<bool()>& stopRequested, std::string& error) {
    const double rate = options.baud ? options.baud / kBitsPerByte : 0;
    Pacer in{rate};
    Pacer out{rate};
    std::vector<std::uint8_t> pending;
    std::size_t sent = 0;
    Clock::time_point notBefore{};
    std::uint8_t buf[kReadChunk];

    while (!stopRequested()) {
        const Clock::time_point now = Clock::now();
        in.Refill(now);
        out.Refill(now);
        if (sent == pending.size()) {
            pending.clear();
            sent = 0;
            SimOutFrame f;
            if (sim.PopFrame(f)) {
                pending = std::move(f.bytes);
                notBefore = now + std::chrono::milliseconds(f.delayMs);
            } else if (sim.Vanished()) {
                return true;  // the last frame is out: the caller closes the link
            }
        }
        const bool haveOutput = sent < pending.size();
        const bool delayed = haveOutput && now < notBefore;
        const bool wantRead = in.WaitMs() == 0;
        const bool wantWrite = haveOutput && !delayed && out.WaitMs() == 0;

        int timeout = kPollSliceMs;
        if (!wantRead) timeout = std::min(timeout, in.WaitMs());
        if (haveOutput && !wantWrite) {
            const int untilDue =
                delayed ? static_cast<int>(
                              std::chrono::ceil<std::chrono::milliseconds>(notBefore - now).count())
                        : out.WaitMs();
            timeout = std::min(timeout, std::max(1, untilDue));
        }

        pollfd fds[3] = {};
        nfds_t n = 0;
        const nfds_t readIdx = n++;
        fds[readIdx] = {readFd, static_cast<short>(wantRead ? POLLIN : 0), 0};
        nfds_t writeIdx = readIdx;
        if (writeFd != readFd) writeIdx = n++;
        fds[writeIdx].fd = writeFd;
        if (wantWrite) fds[writeIdx].events |= POLLOUT;
        nfds_t stdinIdx = 0;
        if (options.exitOnStdinEof) {
            stdinIdx = n++;
            fds[stdinIdx] = {STDIN_FILENO, POLLIN, 0};
        }
        const int r = ::poll(fds, n, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            return error = Errno("poll"), false;
        }
        if (options.exitOnStdinEof && (fds[stdinIdx].revents & (POLLIN | POLLHUP | POLLERR))) {
            std::uint8_t junk[256];
            const ssize_t got = ::read(STDIN_FILENO, junk, sizeof junk);
            if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR))) return true;
        }
        if (fds[readIdx].revents & POLLIN) {
            const std::size_t want = in.Allowed(sizeof buf);
            const ssize_t got = ::read(readFd, buf, want);
            if (got > 0) {
                in.Spend(static_cast<std::size_t>(got));
                sim.Feed({buf, static_cast<std::size_t>(got)});
            } else if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                return error = Errno("read"), false;
            }
        }
        if (fds[writeIdx].revents & POLLOUT) {
            const std::size_t want = out.Allowed(pending.size() - sent);
            const ssize_t put = ::write(writeFd, pending.data() + sent, want);
            if (put > 0) {
                out.Spend(static_cast<std::size_t>(put));
                sent += static_cast<std::size_t>(put);
            } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
                return error = Errno("write"), false;
            }
        }
    }
    return true;
}

}  // namespace dorvane
