// What opening the serial link does to the line, seen on a real pty pair.
//
// A pty has no modem lines: the kernel refuses TIOCMBIS and TIOCMGET on it,
// so DTR and RTS cannot be read back from the line. This program is linked
// with --wrap=ioctl: every ioctl the link makes passes through the recorder
// below on its way to the kernel, so the request to raise DTR and RTS is seen
// as the link makes it, on the descriptor of the port it opened. The flush of
// both queues is seen from the other end: the master in packet mode gets the
// kernel's TIOCPKT_FLUSHREAD and TIOCPKT_FLUSHWRITE status when the port's
// input and output queues are flushed, and bytes that were waiting in the
// port's input before the open never reach the receive callback. What is not
// checked: the electrical state of the lines of a real adapter.

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/serial.h"

namespace {

struct IoctlCall {
    std::string path;    ///< what the descriptor named at the time of the call
    unsigned long request;
    int lines;           ///< the modem-line bits of TIOCMBIS/TIOCMBIC/TIOCMSET, else 0
    int result;
};

std::mutex g_callsLock;
std::vector<IoctlCall> g_calls;

std::string PathOfFd(int fd) {
    std::array<char, 256> buf{};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

// The linker sends every ioctl of this program here (-Wl,--wrap=ioctl).
extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    const int result = __real_ioctl(fd, request, arg);
    const bool lines = request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET;
    IoctlCall call{PathOfFd(fd), request, lines && arg ? *static_cast<int*>(arg) : 0, result};
    std::lock_guard lock(g_callsLock);
    g_calls.push_back(std::move(call));
    return result;
}

namespace dorvane {
namespace {

constexpr int kBaud = 115200;
constexpr int kWaitMs = 2000;

/// A pty pair: the master with packet mode on, and a descriptor of the
/// slave held open in raw mode (so nothing is echoed and the pair stays up).
class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        const char* name = ::ptsname(master_);
        if (!name) return;
        slavePath_ = name;
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) return;
        termios tio{};
        if (::tcgetattr(slave_, &tio) != 0) return;
        ::cfmakeraw(&tio);
        if (::tcsetattr(slave_, TCSANOW, &tio) != 0) return;
        int on = 1;
        packet_ = ::ioctl(master_, TIOCPKT, &on) == 0;
    }
    ~PtyPair() {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return slave_ >= 0 && packet_; }
    const std::string& SlavePath() const { return slavePath_; }

    /// Bytes into the port's input queue (as if the handheld sent them).
    void FromHandheld(const std::string& s) const {
        ASSERT_EQ(::write(master_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    /// One read of the master in packet mode: the first byte is 0 before
    /// data, or the TIOCPKT status bits alone. Empty when nothing comes.
    std::string ReadPacket(int ms) const {
        pollfd p{master_, POLLIN | POLLPRI, 0};
        if (::poll(&p, 1, ms) <= 0) return {};
        std::array<char, 512> buf{};
        const ssize_t n = ::read(master_, buf.data(), buf.size());
        return n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string();
    }

private:
    int master_ = -1;
    int slave_ = -1;
    bool packet_ = false;
    std::string slavePath_;
};

struct Received {
    std::mutex m;
    std::string bytes;
    static int OnBytes(void* self, const std::uint8_t* b, std::size_t n) {
        auto* r = static_cast<Received*>(self);
        std::lock_guard lock(r->m);
        r->bytes.append(reinterpret_cast<const char*>(b), n);
        return 1;
    }
    std::string Get() {
        std::lock_guard lock(m);
        return bytes;
    }
};

std::vector<IoctlCall> CallsOn(const std::string& path) {
    std::lock_guard lock(g_callsLock);
    std::vector<IoctlCall> out;
    for (const IoctlCall& c : g_calls)
        if (c.path == path) out.push_back(c);
    return out;
}

TEST(SerialLines, OpenRaisesDtrAndRtsOnThePortItOpened) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    {
        std::lock_guard lock(g_callsLock);
        g_calls.clear();
    }
    CSerial serial;
    ASSERT_EQ(serial.Open(pty.SlavePath(), kBaud), 1);
    const std::vector<IoctlCall> calls = CallsOn(pty.SlavePath());
    struct Row {
        const char* what;
        unsigned long request;
        int mustSet;
    };
    const Row rows[] = {
        {"exclusive use taken", TIOCEXCL, 0},
        {"DTR and RTS raised", TIOCMBIS, TIOCM_DTR | TIOCM_RTS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::size_t seen = 0;
        for (const IoctlCall& c : calls) {
            if (c.request != row.request) continue;
            ++seen;
            EXPECT_EQ(c.lines & row.mustSet, row.mustSet);
        }
        EXPECT_EQ(seen, 1u);
    }
    // Nothing lowers a line or replaces the line set.
    for (const IoctlCall& c : calls) {
        EXPECT_NE(c.request, static_cast<unsigned long>(TIOCMBIC));
        EXPECT_NE(c.request, static_cast<unsigned long>(TIOCMSET));
    }
    // The lines are asked for after the exclusive hold, on the open port.
    std::size_t excl = calls.size(), raise = calls.size();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].request == TIOCEXCL && excl == calls.size()) excl = i;
        if (calls[i].request == TIOCMBIS) raise = i;
    }
    EXPECT_LT(excl, raise);
    // The pty refuses the request (it has no modem lines); the open still
    // succeeded, as it must on such a port.
    for (const IoctlCall& c : calls) {
        if (c.request == TIOCMBIS) {
            EXPECT_EQ(c.result, -1) << "a pty has modem lines now?";
        }
    }
}

TEST(SerialLines, OpenFlushesBothQueuesAndStaleInputNeverArrives) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    // Left over from before the open: a reply the handheld sent to nobody.
    // (A pty hands what is written to it on to the master at once, so its
    // output queue never holds anything: that flush shows only as the status.)
    pty.FromHandheld("STALE-IN");

    CSerial serial;
    ASSERT_EQ(serial.Open(pty.SlavePath(), kBaud), 1);
    // The kernel tells the packet-mode master which queues of the port were flushed.
    const std::string status = pty.ReadPacket(kWaitMs);
    ASSERT_EQ(status.size(), 1u);
    struct Row {
        const char* what;
        int bit;
    };
    const Row rows[] = {{"input queue flushed", TIOCPKT_FLUSHREAD},
                        {"output queue flushed", TIOCPKT_FLUSHWRITE}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_NE(status[0] & row.bit, 0) << "status " << int(status[0]);
    }

    // From now on only what the handheld sends after the open arrives.
    Received got;
    serial.SetReceiveCallback(&Received::OnBytes, &got);
    serial.StartReader();
    pty.FromHandheld("FRESH");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (got.Get().size() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    serial.StopReader();
    EXPECT_EQ(got.Get(), "FRESH");
}

}  // namespace
}  // namespace dorvane
