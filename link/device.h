#pragma once
// The byte link to the handheld. A link moves raw bytes and knows nothing of
// frames; the transport worker drives one link at a time through IDevice.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace dorvane {

/// Why the last open of a link failed. Success is None.
enum class LinkError {
    None,              ///< the link is open (or nothing has been tried yet)
    NotFound,          ///< no such port/device/FIFO folder (ENOENT, ENODEV, ENXIO)
    PermissionDenied,  ///< the user may not open the device (EACCES, EPERM)
    Busy,              ///< another program, or another link object, holds it (EBUSY, lock)
    NotATerminal,      ///< the path opened is not a serial port (a file, a folder)
    BadSettings,       ///< the line settings were refused (also raised as LinkSettingsError)
    NotConfigured,     ///< USB: no vendor/product id and no FIFO folder configured
    IoError,           ///< any other system failure; see the link's LastErrno()
};

/// Stable English name of a code, for logs and test output ("PermissionDenied").
std::string_view LinkErrorName(LinkError error);

/// Maps an errno value of a failed open() to a LinkError.
LinkError LinkErrorFromErrno(int err);

/// True for the errno values of a read or write on an open port whose device
/// has gone: EIO (hang-up, pty master closed), ENXIO, ENODEV, EPIPE.
bool IsDeviceGoneErrno(int err);

/// Receive callback: called as callback(user, bytes, count) on the link's
/// reader thread with 1..kReadChunk bytes. `bytes` points into the link's own
/// read buffer and is valid only during the call. The result is ignored.
/// The callback must return promptly and must not take a lock that the thread
/// calling SetReceiveCallback/StopReader holds while it calls them.
using ReceiveCallback = int (*)(void* user, const std::uint8_t* bytes, std::size_t count);

/// Lost callback: called as callback(user) on the link's reader thread, once,
/// when the link sees that its device has gone (see IDevice::Lost). It must
/// return promptly, under the same rules as the receive callback.
using LostCallback = void (*)(void* user);

/// Largest number of bytes handed to one receive callback (the read buffer size
/// of every link).
inline constexpr std::size_t kReadChunk = 1024;

/// The link interface, operations in their fixed order. Thread use: Write,
/// Reopen, Close, StartReader and StopReader are called by the transport worker
/// or the user-interface thread (one of them at a time per operation); the
/// receive callback runs on the link's own reader thread.
class IDevice {
public:
    /// Sends `count` bytes. Blocks until the bytes are handed to the driver or
    /// the link's write stall time-out passes. Returns the number of bytes
    /// accepted: `count` on success, fewer when the link is closed or failed.
    virtual std::size_t Write(const std::uint8_t* bytes, std::size_t count) = 0;

    /// Stores the callback and its user data; a null callback stops delivery.
    /// When it returns, no call of the previous callback is still running
    /// (unless it was called from inside that callback). Never blocks longer
    /// than one callback call.
    virtual void SetReceiveCallback(ReceiveCallback callback, void* user) = 0;

    /// Clears the callback and user data, stops the reader thread and joins it.
    /// Returns within one reader wait slice (well under 600 ms) plus the time
    /// of a callback already running. Called from inside the callback it only
    /// asks the reader to end. Safe to call when no reader runs, and from any
    /// thread at the same time as StartReader (both run under the link's
    /// reader lock, one after the other).
    virtual void StopReader() = 0;

    /// (Re)starts the reader thread. A callback set before keeps being used
    /// (set it, then start: the order the transport worker may use) unless a
    /// reader was still running: that reader is stopped first and its
    /// callback cleared, as StopReader does, so a stale receiver never gets
    /// the new run's bytes. The reader only takes bytes from the device while
    /// a callback is set, so nothing is read and dropped between StartReader
    /// and SetReceiveCallback. Exceptions thrown by the callback are caught
    /// per read and ignored (those bytes are lost); the reader goes on.
    /// Blocks for the stop of a running reader (one wait slice). Called from
    /// inside the callback it does nothing.
    virtual void StartReader() = 0;

    /// Opens the link again with its stored settings. 1 on success, 0 on
    /// failure (LastError() says why). Stops the reader first.
    virtual int Reopen() = 0;

    /// Stops using the device. Safe when already closed.
    virtual ~IDevice() = default;

    /// Closes the device handle(s); the link can be reopened with Reopen().
    /// Safe when already closed; waits at most one reader wait slice.
    virtual void Close() = 0;

    /// Reason of the last failed Open/Reopen; None after a success.
    virtual LinkError LastError() const = 0;

    /// True once the reader saw the device go away while the link was open: a
    /// serial port whose read fails with EIO/ENXIO/ENODEV or that hung up
    /// (the cable or adapter was pulled, the emulator's pty closed), a USB
    /// device gone (LIBUSB_ERROR_NO_DEVICE), a FIFO folder whose peer closed
    /// its end. Nothing sent or awaited on such a link can arrive; only a new
    /// open helps. Cleared by a successful Open/Reopen. Any thread.
    virtual bool Lost() const = 0;

    /// Stores the function told (on the reader thread) when the link becomes
    /// lost; null stops it. Unlike the receive callback, StartReader and
    /// StopReader leave it in place. When it returns, no call of the previous
    /// callback is still running (unless called from inside it).
    virtual void SetLostCallback(LostCallback callback, void* user) = 0;
};

/// Common base of the links: keeps the receive callback and delivers bytes.
class CDevice : public IDevice {
public:
    void SetReceiveCallback(ReceiveCallback callback, void* user) override;
    bool Lost() const override { return m_lost.load(std::memory_order_acquire); }
    void SetLostCallback(LostCallback callback, void* user) override;

protected:
    /// True while a callback is set (the reader reads only then).
    bool HasReceiver() const;

    /// Calls the callback, if one is set, with the bytes. Reader thread only.
    /// Returns false when no callback was set (the bytes were not delivered).
    bool Deliver(const std::uint8_t* bytes, std::size_t count);

    /// Marks the link lost and tells the lost callback, the first time only.
    /// Reader thread (or a writer that saw the device vanish).
    void MarkLost();
    /// Forgets a loss: called by a successful open.
    void ClearLost() { m_lost.store(false, std::memory_order_release); }

private:
    // Recursive: the callback may itself call SetReceiveCallback/StopReader on
    // the reader thread while Deliver holds the lock.
    mutable std::recursive_mutex m_callbackLock;
    ReceiveCallback m_callback = nullptr;
    void* m_user = nullptr;
    LostCallback m_lostCallback = nullptr;
    void* m_lostUser = nullptr;
    std::atomic<bool> m_lost{false};
};

}  // namespace dorvane
