#include "link/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <utility>

#include "link/serial_ports.h"

namespace dorvane {

namespace {

// A write gives up when the driver takes no byte for this long (a port whose
// peer stopped reading, or flow-controlled by a cable fault).
constexpr std::chrono::milliseconds kSerialWriteStall{2000};

struct BaudEntry {
    int rate;
    speed_t speed;
};

// The rates termios can set; any other rate is refused as a bad setting.
constexpr BaudEntry kBaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> SpeedFor(int baud) {
    for (const BaudEntry& entry : kBaudTable) {
        if (entry.rate == baud) return entry.speed;
    }
    return std::nullopt;
}

// Closes a port descriptor that is not (yet) owned by a CSerial, dropping the
// exclusive hold first so a pty slave does not stay marked exclusive.
class PortFd {
public:
    explicit PortFd(int fd) : m_fd(fd) {}
    ~PortFd() {
        if (m_fd >= 0) {
            ::ioctl(m_fd, TIOCNXCL);
            ::close(m_fd);
        }
    }
    PortFd(const PortFd&) = delete;
    PortFd& operator=(const PortFd&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Raw 8N1, no flow control of either kind, reads that return at once.
void ApplyLineSettings(int fd, int baud, const std::string& portName) {
    const std::optional<speed_t> speed = SpeedFor(baud);
    if (!speed) throw LinkSettingsError(EINVAL, portName);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) throw LinkSettingsError(errno, portName);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0) {
        throw LinkSettingsError(errno, portName);
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) throw LinkSettingsError(errno, portName);
}

}  // namespace

LinkSettingsError::LinkSettingsError(int err, const std::string& portName)
    : std::system_error(err, std::generic_category(),
                        "serial port " + portName + ": line settings refused"),
      m_portName(portName) {}

std::vector<int> SerialLineRates() {
    std::vector<int> rates;
    for (const BaudEntry& entry : kBaudTable) rates.push_back(entry.rate);
    return rates;
}

std::string SerialDevicePath(const std::string& portName) {
    if (portName.starts_with('/')) return portName;
    return std::string(kDevRoot) + "/" + portName;
}

CSerial::CSerial() : m_portName(kDefaultPortName), m_portList(ListSerialPorts()) {}

CSerial::~CSerial() {
    StopReader();
    Close();
}

int CSerial::Open(const std::string& portName, int baud) {
    StopReader();
    Close();
    m_portName = portName;
    m_baud = baud;

    const std::string path = SerialDevicePath(portName);
    m_holder = {};
    PortFd port(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    auto fail = [this](LinkError error, int err) {
        m_lastError = error;
        m_lastErrno = err;
        return 0;
    };
    auto busy = [&](int err) {
        m_holder = FindPortHolder(m_lockFolder, path);
        return fail(LinkError::Busy, err);
    };
    if (port.get() < 0) {
        const int err = errno;
        // Another program's TIOCEXCL refuses the open itself.
        if (err == EBUSY) return busy(err);
        return fail(LinkErrorFromErrno(err), err);
    }
    if (!::isatty(port.get())) return fail(LinkError::NotATerminal, ENOTTY);
    // The lock file first: serial programs that do not flock honour it.
    CPortLockFile lockFile;
    if (lockFile.Take(m_lockFolder, path) == CPortLockFile::Result::Held) {
        ::close(port.release());  // the holder's TIOCEXCL stays
        m_holder = lockFile.Holder();
        if (m_holder.pid == 0) m_holder = FindPortHolder(m_lockFolder, path);
        return fail(LinkError::Busy, EBUSY);
    }
    // flock next: it also refuses root and a second CSerial in this process.
    if (::flock(port.get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        // Do not let the PortFd destructor clear the other holder's TIOCEXCL.
        ::close(port.release());
        if (err == EWOULDBLOCK) return busy(err);
        return fail(LinkErrorFromErrno(err), err);
    }
    if (::ioctl(port.get(), TIOCEXCL) != 0) return fail(LinkErrorFromErrno(errno), errno);

    try {
        ApplyLineSettings(port.get(), baud, portName);
    } catch (const LinkSettingsError& error) {
        m_lastError = LinkError::BadSettings;
        m_lastErrno = error.Errno();
        throw;
    }
    // DTR and RTS on: adapters power the handheld's level shifter from them.
    // A pty has no modem lines; its refusal is not an error.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(port.get(), TIOCMBIS, &lines);
    ::tcflush(port.get(), TCIOFLUSH);

    std::unique_lock lock(m_portLock);
    m_fd = port.release();
    m_lockFile = std::move(lockFile);
    ClearLost();
    m_lastError = LinkError::None;
    m_lastErrno = 0;
    return 1;
}

int CSerial::Reopen() {
    try {
        return Open(m_portName, m_baud);
    } catch (const LinkSettingsError&) {
        return 0;  // Open recorded BadSettings and closed the port
    }
}

void CSerial::Close() {
    m_closing.store(true);
    {
        std::unique_lock lock(m_portLock);
        if (m_fd >= 0) {
            ::ioctl(m_fd, TIOCNXCL);
            ::close(m_fd);  // also drops the flock
            m_fd = -1;
        }
        m_lockFile.Release();
    }
    m_closing.store(false);
}

bool CSerial::IsOpen() const {
    std::shared_lock lock(m_portLock);
    return m_fd >= 0;
}

std::size_t CSerial::Write(const std::uint8_t* bytes, std::size_t count) {
    std::shared_lock lock(m_portLock);
    if (m_fd < 0 || bytes == nullptr) return 0;
    using Clock = std::chrono::steady_clock;
    std::size_t done = 0;
    auto deadline = Clock::now() + kSerialWriteStall;
    while (done < count && !m_closing.load()) {
        const ssize_t n = ::write(m_fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            deadline = Clock::now() + kSerialWriteStall;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            if (IsDeviceGoneErrno(errno)) MarkLost();
            break;
        }
        if (Clock::now() >= deadline) break;
        pollfd pfd{m_fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(kReaderSlice.count()));
    }
    return done;
}

void CSerial::StopReader() {
    SetReceiveCallback(nullptr, nullptr);
    if (m_reader.IsReaderThread()) {
        // From inside the callback: only ask the reader to end (it cannot
        // join itself, and the caller of StartReader may hold m_readerLock).
        m_reader.Stop();
        return;
    }
    std::lock_guard lock(m_readerLock);
    m_reader.Stop();
}

void CSerial::StartReader() {
    if (m_reader.IsReaderThread()) return;
    std::lock_guard lock(m_readerLock);
    if (m_reader.Running()) {
        // A reader still running belongs to an earlier user: its callback goes.
        SetReceiveCallback(nullptr, nullptr);
        m_reader.Stop();
    }
    m_reader.Start([this] { ReadPass(); });
}

void CSerial::ReadPass() {
    // Without a receiver the bytes stay queued in the driver. A lost port
    // stays hung up: nothing more can come until it is opened again.
    if (!HasReceiver() || m_closing.load() || Lost()) {
        m_reader.Nap();
        return;
    }
    ssize_t got = 0;
    bool idle = false;
    bool gone = false;
    {
        std::shared_lock lock(m_portLock);
        if (m_fd < 0) {
            idle = true;
        } else {
            pollfd pfd{m_fd, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(kReaderSlice.count()));
            if (ready > 0 && (pfd.revents & POLLIN)) {
                got = ::read(m_fd, m_readBuffer.data(), m_readBuffer.size());
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
                    got = 0;  // a spurious wake-up
                } else if (got < 0) {
                    // EIO: the adapter was pulled, or the emulator's pty
                    // master closed; the port never comes back as it was.
                    gone = IsDeviceGoneErrno(errno);
                    idle = true;
                } else if (got == 0 && (pfd.revents & POLLHUP)) {
                    gone = true;  // hung up, and nothing left to read
                }
            } else if (ready > 0) {
                // POLLHUP/POLLNVAL without data: the line hung up.
                gone = (pfd.revents & (POLLHUP | POLLNVAL)) != 0;
                idle = true;
            }
        }
    }
    if (gone) MarkLost();
    if (got > 0) {
        Deliver(m_readBuffer.data(), static_cast<std::size_t>(got));
    } else if (idle) {
        m_reader.Nap();
    }
}

std::deque<std::string> CSerial::PortList() const {
    std::lock_guard lock(m_listLock);
    return m_portList;
}

void CSerial::RefreshPortList(const std::filesystem::path& sysfsRoot,
                              const std::filesystem::path& devRoot) {
    std::deque<std::string> ports = ListSerialPorts(sysfsRoot, devRoot);
    std::lock_guard lock(m_listLock);
    m_portList = std::move(ports);
}

}  // namespace dorvane
