#pragma once
// The USB link: the same byte service as the serial link over the handheld's
// two bulk pipes. Two back ends serve the pipes:
//  - libusb-1.0: the handheld's first bulk IN endpoint is the read pipe
//    "PIPE00" (handheld -> computer), its first bulk OUT endpoint the write
//    pipe "PIPE01" (computer -> handheld);
//  - a folder holding two FIFOs named PIPE00 (the computer reads it) and
//    PIPE01 (the computer writes it), the handheld emulator's USB stand-in.
// Every write to the write pipe is exactly kUsbPacketSize bytes, zero-padded.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "link/device.h"
#include "link/reader_thread.h"

namespace dorvane {

/// Size of every write to the handheld's write pipe: its driver takes whole
/// 2048-byte packets; the unused tail of the last one is zeros.
inline constexpr std::size_t kUsbPacketSize = 2048;

/// Pipe names: read pipe (handheld -> computer) and write pipe (computer -> handheld).
inline constexpr const char* kReadPipeName = "PIPE00";
inline constexpr const char* kWritePipeName = "PIPE01";

/// Id meaning "no USB id configured".
inline constexpr std::uint16_t kUsbIdUnset = 0;

/// Environment variables read by UsbConfigFromEnvironment:
/// "vvvv:pppp" in hex, and a FIFO folder path.
inline constexpr const char* kUsbIdVariable = "DORVANE_USB_ID";
inline constexpr const char* kUsbFifoVariable = "DORVANE_USB_FIFO";

struct UsbConfig {
    std::uint16_t vendorId = kUsbIdUnset;
    std::uint16_t productId = kUsbIdUnset;
    /// When not empty, the FIFO folder back end is used instead of libusb.
    std::filesystem::path fifoFolder;
};

/// The handheld's ids chosen at build time (DORVANE_USB_VENDOR_ID /
/// DORVANE_USB_PRODUCT_ID, unset by default), overridden by DORVANE_USB_ID, and
/// DORVANE_USB_FIFO as the FIFO folder. A malformed DORVANE_USB_ID is ignored.
UsbConfig UsbConfigFromEnvironment();

/// Parses "vvvv:pppp" (hex); false, leaving `config` unchanged, when malformed.
bool ParseUsbId(const std::string& text, UsbConfig& config);

/// The pipe pair behind CUsb (one implementation per back end). Internal to
/// the link; declared here so CUsb can hold one.
class IUsbPipes;

class CUsb : public CDevice {
public:
    /// Closed until Reopen.
    explicit CUsb(UsbConfig config = UsbConfigFromEnvironment());
    ~CUsb() override;
    CUsb(const CUsb&) = delete;
    CUsb& operator=(const CUsb&) = delete;

    /// Closes the link and takes the new configuration for the next Reopen.
    void Configure(const UsbConfig& config);
    const UsbConfig& Config() const { return m_config; }

    /// Splits the bytes into kUsbPacketSize chunks; each chunk is zero-padded
    /// and written as one whole packet, with a 1 ms pause between packets as
    /// the handheld's driver expects. Nothing is written for count 0. Blocks
    /// until every packet is taken or a packet stalls for kUsbWriteStall.
    /// Returns the payload bytes written (count on success, 0 when closed).
    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override;

    /// As IDevice::StopReader.
    void StopReader() override;
    /// As IDevice::StartReader; purges both pipes (discards stale input)
    /// before the new reader starts.
    void StartReader() override;

    /// Close, then open both pipes and purge them. 1 when both are open, else
    /// 0 with LastError(): NotConfigured (no id, no folder), NotFound (no such
    /// device or folder; for the FIFO back end also when nobody reads PIPE01
    /// within kFifoWriterOpenWait), PermissionDenied, Busy (interface claimed),
    /// IoError. Blocks at most kFifoWriterOpenWait (FIFO) or the USB
    /// enumeration time (libusb).
    int Reopen() override;

    /// Stops the reader, closes both pipes and the device (a kernel driver
    /// detached at open is reattached). Safe when closed.
    void Close() override;

    LinkError LastError() const override { return m_lastError; }
    bool IsOpen() const;

private:
    // One pass of the reader: wait a slice for bytes, deliver them.
    void ReadPass();

    UsbConfig m_config;
    std::unique_ptr<IUsbPipes> m_pipes;
    // Guards the pipes' lifetime: reads and writes shared, open/close exclusive.
    mutable std::shared_mutex m_pipeLock;
    std::atomic<bool> m_closing{false};
    // Serialises StartReader/StopReader: the worker starts the reader while
    // the user-interface thread may stop it (a cancel).
    std::mutex m_readerLock;
    CReaderThread m_reader;
    std::array<std::uint8_t, kReadChunk> m_readBuffer{};
    LinkError m_lastError = LinkError::None;
};

}  // namespace dorvane
