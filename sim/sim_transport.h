#pragma once
// Links for the emulator: a pseudo-terminal (the serial stand-in) and a
// folder of two FIFOs (the USB stand-in: PIPE00 carries the handheld's bytes
// to the computer, PIPE01 the computer's bytes to the handheld), and the loop
// that moves bytes between a link and a CHandheldSim.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "sim/handheld_sim.h"

namespace dorvane {

/// File names of the FIFO folder, as the computer's USB stand-in expects them.
inline constexpr const char* kSimPipeToComputer = "PIPE00";
inline constexpr const char* kSimPipeToHandheld = "PIPE01";

/// An open descriptor, closed on destruction.
class CSimFd {
public:
    CSimFd() = default;
    explicit CSimFd(int fd) : fd_(fd) {}
    ~CSimFd();
    CSimFd(CSimFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    CSimFd& operator=(CSimFd&& o) noexcept;
    CSimFd(const CSimFd&) = delete;
    CSimFd& operator=(const CSimFd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

/// A pty pair in raw mode. The master (non-blocking) is the emulator's end;
/// the slave path is what the computer opens. The emulator keeps the slave
/// open itself so that the master never reads EIO while no computer is
/// attached.
class CSimPty {
public:
    /// Returns false with a reason in `error` when no pty could be set up.
    bool Open(std::string& error);
    int Fd() const { return master_.Get(); }
    const std::string& SlavePath() const { return slavePath_; }

private:
    CSimFd master_;
    CSimFd slave_;
    std::string slavePath_;
};

/// The FIFO folder: creates the folder and the two FIFOs when missing and
/// opens both ends read-write and non-blocking (so neither open waits for
/// the computer, and a computer that closes its end causes no EOF storm).
class CSimFifoFolder {
public:
    bool Open(const std::filesystem::path& folder, std::string& error);
    int ReadFd() const { return fromComputer_.Get(); }
    int WriteFd() const { return toComputer_.Get(); }

private:
    CSimFd fromComputer_;
    CSimFd toComputer_;
};

struct SimLinkOptions {
    /// Line rate in baud; both directions are paced to baud / 10 bytes per
    /// second (8N1). 0: as fast as the link takes them.
    std::uint32_t baud = 0;
    /// Also watch standard input and return when it reaches end of file.
    bool exitOnStdinEof = false;
};

/// Moves bytes between the link and the core until `stopRequested` returns
/// true (checked at least every 50 ms), standard input closes (with
/// exitOnStdinEof), or the core has vanished (SimOptions::vanishAfter) and
/// its last frame is written. Blocks the calling thread. Returns false with a
/// reason in `error` when the link fails.
bool RunSimLink(CHandheldSim& sim, int readFd, int writeFd, const SimLinkOptions& options,
                const std::function<bool()>& stopRequested, std::string& error);

}  // namespace dorvane
