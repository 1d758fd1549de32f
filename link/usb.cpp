#include "link/usb.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link/usb_pipes.h"

namespace dorvane {

namespace {

// Pause after each packet: the handheld's driver needs it between packets.
constexpr std::chrono::milliseconds kUsbPacketPause{1};

#ifndef DORVANE_USB_VENDOR_ID
#define DORVANE_USB_VENDOR_ID 0
#endif
#ifndef DORVANE_USB_PRODUCT_ID
#define DORVANE_USB_PRODUCT_ID 0
#endif

constexpr int kHexBase = 16;
constexpr std::size_t kUsbIdDigits = 4;

bool ParseHexId(const std::string& text, std::uint16_t& id) {
    if (text.empty() || text.size() > kUsbIdDigits) return false;
    unsigned value = 0;
    for (char c : text) {
        const char* digits = "0123456789abcdef";
        const char* hit = std::strchr(digits, std::tolower(static_cast<unsigned char>(c)));
        if (c == '\0' || hit == nullptr) return false;
        value = value * kHexBase + static_cast<unsigned>(hit - digits);
    }
    id = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool ParseUsbId(const std::string& text, UsbConfig& config) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    if (!ParseHexId(text.substr(0, colon), vendor) ||
        !ParseHexId(text.substr(colon + 1), product)) {
        return false;
    }
    config.vendorId = vendor;
    config.productId = product;
    return true;
}

UsbConfig UsbConfigFromEnvironment() {
    UsbConfig config;
    config.vendorId = DORVANE_USB_VENDOR_ID;
    config.productId = DORVANE_USB_PRODUCT_ID;
    if (const char* id = std::getenv(kUsbIdVariable)) ParseUsbId(id, config);
    if (const char* folder = std::getenv(kUsbFifoVariable); folder && *folder) {
        config.fifoFolder = folder;
    }
    return config;
}

CUsb::CUsb(UsbConfig config) : m_config(std::move(config)) {}

CUsb::~CUsb() {
    Close();
}

void CUsb::Configure(const UsbConfig& config) {
    Close();
    m_config = config;
}

bool CUsb::IsOpen() const {
    std::shared_lock lock(m_pipeLock);
    return m_pipes && m_pipes->IsOpen();
}

int CUsb::Reopen() {
    Close();
    std::unique_ptr<IUsbPipes> pipes;
    if (!m_config.fifoFolder.empty()) {
        pipes = MakeFifoPipes(m_config.fifoFolder);
    } else if (m_config.vendorId != kUsbIdUnset || m_config.productId != kUsbIdUnset) {
        pipes = MakeLibusbPipes(m_config.vendorId, m_config.productId);
    } else {
        m_lastError = LinkError::NotConfigured;
        return 0;
    }
    m_lastError = pipes->Open();
    if (m_lastError != LinkError::None) return 0;
    pipes->Purge();
    std::unique_lock lock(m_pipeLock);
    m_pipes = std::move(pipes);
    ClearLost();
    return 1;
}

void CUsb::Close() {
    StopReader();
    m_closing.store(true);
    {
        std::unique_lock lock(m_pipeLock);
        m_pipes.reset();  // the back end closes its pipes and device
    }
    m_closing.store(false);
}

std::size_t CUsb::Write(const std::uint8_t* bytes, std::size_t count) {
    std::shared_lock lock(m_pipeLock);
    if (count == 0 || bytes == nullptr || !m_pipes || !m_pipes->IsOpen()) return 0;
    std::size_t done = 0;
    // The packet lives on this call's stack: the lock is shared, so two
    // writers must not fill one buffer.
    std::array<std::uint8_t, kUsbPacketSize> packet{};
    while (done < count && !m_closing.load()) {
        const std::size_t chunk = std::min(kUsbPacketSize, count - done);
        packet.fill(0);
        std::memcpy(packet.data(), bytes + done, chunk);
        if (!m_pipes->WritePacket(packet.data())) {
            if (m_pipes->Gone()) MarkLost();
            break;
        }
        done += chunk;
        std::this_thread::sleep_for(kUsbPacketPause);
    }
    return done;
}

void CUsb::StopReader() {
    SetReceiveCallback(nullptr, nullptr);
    if (m_reader.IsReaderThread()) {
        // From inside the callback: only ask the reader to end.
        m_reader.Stop();
        return;
    }
    std::lock_guard lock(m_readerLock);
    m_reader.Stop();
}

void CUsb::StartReader() {
    if (m_reader.IsReaderThread()) return;
    std::lock_guard lock(m_readerLock);
    if (m_reader.Running()) {
        // A reader still running belongs to an earlier user: its callback goes.
        SetReceiveCallback(nullptr, nullptr);
        m_reader.Stop();
    }
    {
        std::shared_lock pipes(m_pipeLock);
        if (m_pipes) m_pipes->Purge();
    }
    m_reader.Start([this] { ReadPass(); });
}

void CUsb::ReadPass() {
    // Without a receiver the bytes stay in the pipe. A lost device stays
    // gone until the link is opened again.
    if (!HasReceiver() || m_closing.load() || Lost()) {
        m_reader.Nap();
        return;
    }
    long got = -1;
    {
        std::shared_lock lock(m_pipeLock);
        if (m_pipes && m_pipes->IsOpen()) {
            got = m_pipes->Read(m_readBuffer.data(), m_readBuffer.size(), kReaderSlice);
        }
    }
    if (got > 0) {
        Deliver(m_readBuffer.data(), static_cast<std::size_t>(got));
    } else if (got < 0) {
        if (got == kPipeGone) MarkLost();
        m_reader.Nap();
    }
}

}  // namespace dorvane
