// FIFO folder back end of the USB link: PIPE00 carries the handheld's bytes
// to the computer, PIPE01 the computer's packets to the handheld.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "link/usb_pipes.h"

namespace dorvane {

namespace {

// Pause between attempts to open PIPE01 while waiting for its reader.
constexpr std::chrono::milliseconds kFifoOpenRetry{20};

// Upper bound of bytes thrown away by one purge (a FIFO holds 64 KiB by
// default; the bound keeps a peer that writes without pause from holding us).
constexpr std::size_t kPurgeLimit = 1 << 20;

// A write to a FIFO whose reader has gone raises SIGPIPE, which would end the
// whole program. Block it around the write and swallow the one it raised.
ssize_t WriteWithoutSigpipe(int fd, const std::uint8_t* data, std::size_t size) {
    sigset_t pipeSet;
    sigset_t oldMask;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldMask);
    const ssize_t n = ::write(fd, data, size);
    const int err = errno;
    if (n < 0 && err == EPIPE && !alreadyPending) {
        const timespec noWait{0, 0};
        sigtimedwait(&pipeSet, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    errno = err;
    return n;
}

bool IsFifo(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

class CFifoPipes final : public IUsbPipes {
public:
    explicit CFifoPipes(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    ~CFifoPipes() override { Close(); }

    LinkError Open() override {
        Close();
        const auto readPath = m_folder / kReadPipeName;
        const auto writePath = m_folder / kWritePipeName;
        if (!IsFifo(readPath) || !IsFifo(writePath)) return LinkError::NotFound;
        // Read end: O_NONBLOCK lets it open before the emulator's writer.
        m_read = ::open(readPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_read < 0) return Fail(LinkErrorFromErrno(errno));
        // Write end: a non-blocking open fails with ENXIO until someone reads
        // the FIFO; wait a bounded time for the emulator instead of opening
        // O_RDWR, which would make writes vanish into a FIFO nobody reads.
        const auto deadline = std::chrono::steady_clock::now() + kFifoWriterOpenWait;
        for (;;) {
            m_write = ::open(writePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (m_write >= 0) break;
            if (errno != ENXIO && errno != EINTR) return Fail(LinkErrorFromErrno(errno));
            if (std::chrono::steady_clock::now() >= deadline) return Fail(LinkError::NotFound);
            std::this_thread::sleep_for(kFifoOpenRetry);
        }
        return LinkError::None;
    }

    void Close() override {
        if (m_read >= 0) ::close(m_read);
        if (m_write >= 0) ::close(m_write);
        m_read = m_write = -1;
        m_gone = false;
    }

    bool IsOpen() const override { return m_read >= 0 && m_write >= 0; }

    long Read(std::uint8_t* buffer, std::size_t max, std::chrono::milliseconds wait) override {
        if (m_read < 0) return -1;
        pollfd pfd{m_read, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(wait.count()));
        if (ready <= 0) return 0;
        const ssize_t n = ::read(m_read, buffer, max);
        if (n > 0) return static_cast<long>(n);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        // End of file: the emulator closed its end (it ended, or the cable
        // was "pulled"). Poll reports it only after a writer had the FIFO
        // open, so a FIFO nobody ever wrote to does not count as gone.
        if (n == 0 || IsDeviceGoneErrno(errno)) {
            m_gone = true;
            return kPipeGone;
        }
        return -1;
    }

    bool Gone() const override { return m_gone; }

    bool WritePacket(const std::uint8_t* packet) override {
        if (m_write < 0) return false;
        // kUsbPacketSize is below PIPE_BUF, so the packet goes in whole or not at all.
        auto deadline = std::chrono::steady_clock::now() + kUsbWriteStall;
        for (;;) {
            const ssize_t n = WriteWithoutSigpipe(m_write, packet, kUsbPacketSize);
            if (n == static_cast<ssize_t>(kUsbPacketSize)) return true;
            if (n < 0 && errno == EPIPE) m_gone = true;  // the emulator closed PIPE01
            if (n >= 0 || (errno != EAGAIN && errno != EINTR)) return false;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            pollfd pfd{m_write, POLLOUT, 0};
            ::poll(&pfd, 1, static_cast<int>(kReaderSlice.count()));
        }
    }

    void Purge() override {
        if (m_read < 0) return;
        std::uint8_t scratch[kReadChunk];
        std::size_t dropped = 0;
        while (dropped < kPurgeLimit) {
            const ssize_t n = ::read(m_read, scratch, sizeof scratch);
            if (n <= 0) break;
            dropped += static_cast<std::size_t>(n);
        }
    }

private:
    LinkError Fail(LinkError error) {
        Close();
        return error;
    }

    std::filesystem::path m_folder;
    int m_read = -1;
    int m_write = -1;
    // Set by the reader thread and by the writer under the link's shared
    // lock, so both may set it at once.
    std::atomic<bool> m_gone{false};
};

}  // namespace

std::unique_ptr<IUsbPipes> MakeFifoPipes(const std::filesystem::path& folder) {
    return std::make_unique<CFifoPipes>(folder);
}

}  // namespace dorvane
