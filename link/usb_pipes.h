#pragma once
// The two back ends of the USB link's pipe pair. Internal to link/.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "link/device.h"
#include "link/usb.h"

namespace dorvane {

/// How long a single packet may wait for room in the write pipe.
inline constexpr std::chrono::milliseconds kUsbWriteStall{2000};

/// The FIFO back end waits this long for a reader of PIPE01 (the emulator)
/// before Reopen fails: a FIFO opened for writing with O_NONBLOCK fails with
/// ENXIO until its other end is open.
inline constexpr std::chrono::milliseconds kFifoWriterOpenWait{1000};

/// Result of IUsbPipes::Read when the device or the peer has gone for good.
inline constexpr long kPipeGone = -2;

/// Threads: Read runs on the link's reader thread while WritePacket and Gone
/// run on the caller's, at the same time; Purge runs while the reader is
/// stopped; Open and Close while nothing else runs (the link holds its lock
/// exclusively for them).
class IUsbPipes {
public:
    virtual ~IUsbPipes() = default;
    /// Opens both pipes; LinkError::None on success. Closes on failure.
    virtual LinkError Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    /// Reads up to `max` bytes, waiting at most `wait`. Returns the count,
    /// 0 when nothing came in time, -1 when the pipe failed, kPipeGone when
    /// the device was unplugged (libusb) or the peer closed its end (FIFO).
    virtual long Read(std::uint8_t* buffer, std::size_t max, std::chrono::milliseconds wait) = 0;
    /// Writes one whole kUsbPacketSize packet; false on failure or stall.
    virtual bool WritePacket(const std::uint8_t* packet) = 0;
    /// Discards input already waiting on the read pipe.
    virtual void Purge() = 0;
    /// True once a read or write found the device or the peer gone.
    virtual bool Gone() const = 0;
};

std::unique_ptr<IUsbPipes> MakeFifoPipes(const std::filesystem::path& folder);
std::unique_ptr<IUsbPipes> MakeLibusbPipes(std::uint16_t vendorId, std::uint16_t productId);

}  // namespace dorvane
