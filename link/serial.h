#pragma once
// The serial-port link: a termios port (a USB-serial adapter, an ACM device,
// an 8250 UART, or a pseudo-terminal of the handheld emulator) with its reader
// thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <system_error>
#include <vector>

#include "link/device.h"
#include "link/port_lock.h"
#include "link/reader_thread.h"

namespace dorvane {

/// Raised by CSerial::Open when the port refuses the line settings (an
/// unsupported baud rate, a tcsetattr failure). Carries errno and the port.
class LinkSettingsError : public std::system_error {
public:
    LinkSettingsError(int err, const std::string& portName);
    const std::string& PortName() const { return m_portName; }
    int Errno() const { return code().value(); }

private:
    std::string m_portName;
};

/// The line rates the serial link can set (termios's table), ascending; Open
/// refuses any other rate with LinkSettingsError.
std::vector<int> SerialLineRates();

/// Device path of a port name: "/dev/" + name, or the name itself when it
/// starts with "/" (a pty slave, a udev symlink).
std::string SerialDevicePath(const std::string& portName);

/// Serial link. Bytes go out with Write and come in through the receive
/// callback on the reader thread. Exclusive: while one CSerial has a port open,
/// a second open of it (this process or another that also locks) gives
/// LinkError::Busy. The refusal rests on three locks because TIOCEXCL alone
/// does not stop root and other serial programs know only the lock file:
/// TIOCEXCL (released at Close), flock(LOCK_EX) on the port, and the FHS lock
/// file (/run/lock/LCK..ttyUSB0 with our PID; skipped where the folder cannot
/// be written).
class CSerial : public CDevice {
public:
    /// Fills the port list from the machine's sysfs (see serial_ports.h).
    /// The port stays closed until Open.
    CSerial();
    /// Stops the reader and closes the port.
    ~CSerial() override;
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    /// Stores name and baud rate, stops the reader, closes, and opens the port:
    /// raw 8N1 at `baud`, no hardware or software flow control, DTR and RTS
    /// raised (ignored where the device has no modem lines, as a pty), both
    /// queues flushed, non-blocking reads. Blocks only for the open itself.
    /// Returns 1 on success; 0 when the port cannot be opened (LastError():
    /// NotFound, PermissionDenied, Busy, NotATerminal, IoError; after Busy,
    /// Holder() names the holder as far as it is known).
    /// Throws LinkSettingsError when the line settings are refused; the port is
    /// closed again before the throw.
    int Open(const std::string& portName, int baud);

    /// Open with the stored name and baud rate. Unlike Open it never throws:
    /// refused line settings give 0 with LastError() BadSettings, as the
    /// device interface promises the transport.
    int Reopen() override;

    /// Releases the exclusive hold and closes the port. The reader keeps
    /// running idle. Waits at most one reader slice for a read in progress.
    void Close() override;

    /// One synchronous write of all bytes; waits for room in the driver queue
    /// in slices, giving up when no byte could be written for
    /// kSerialWriteStall or when the port is being closed. Returns the bytes
    /// written (0 when closed).
    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override;

    /// As IDevice::StopReader / StartReader.
    void StopReader() override;
    void StartReader() override;

    LinkError LastError() const override { return m_lastError; }
    /// errno of the last failed open (0 after a success).
    int LastErrno() const { return m_lastErrno; }
    /// The program that held the port at the last Busy (pid 0 when unknown).
    const PortHolder& Holder() const { return m_holder; }

    /// Folder of the FHS lock files (kPortLockFolder unless a test moves it).
    void SetLockFolder(const std::filesystem::path& folder) { m_lockFolder = folder; }

    bool IsOpen() const;
    const std::string& PortName() const { return m_portName; }
    int BaudRate() const { return m_baud; }

    /// Snapshot of the port list (sorted, default port included).
    std::deque<std::string> PortList() const;
    /// Lists the ports again from `sysfsRoot` (for tests and a refresh).
    void RefreshPortList(const std::filesystem::path& sysfsRoot,
                         const std::filesystem::path& devRoot);

private:
    // One pass of the reader: wait a slice for bytes, deliver them.
    void ReadPass();

    int m_fd = -1;
    std::string m_portName;
    // Guards the descriptor's lifetime: reads and writes hold it shared, open
    // and close exclusive.
    mutable std::shared_mutex m_portLock;
    mutable std::mutex m_listLock;
    int m_baud = 0;
    // Serialises StartReader/StopReader: the worker starts the reader while
    // the user-interface thread may stop it (a cancel).
    std::mutex m_readerLock;
    CReaderThread m_reader;
    std::atomic<bool> m_closing{false};
    std::array<std::uint8_t, kReadChunk> m_readBuffer{};
    std::deque<std::string> m_portList;
    LinkError m_lastError = LinkError::None;
    int m_lastErrno = 0;
    std::filesystem::path m_lockFolder = kPortLockFolder;
    // The lock file while the port is open (and owned), released at Close.
    CPortLockFile m_lockFile;
    PortHolder m_holder;
};

}  // namespace dorvane
