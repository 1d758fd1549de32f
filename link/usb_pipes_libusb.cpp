// libusb-1.0 back end of the USB link: the handheld's first bulk IN endpoint
// is the read pipe, its first bulk OUT endpoint the write pipe.

#include <libusb.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "link/usb_devices.h"
#include "link/usb_pipes.h"

namespace dorvane {

namespace {

// Time given to each read of a purge, and the most reads one purge makes.
constexpr unsigned kPurgeReadTimeoutMs = 1;
constexpr int kPurgeMaxReads = 64;

LinkError FromLibusb(int rc) {
    switch (rc) {
        case LIBUSB_SUCCESS:
            return LinkError::None;
        case LIBUSB_ERROR_ACCESS:
            return LinkError::PermissionDenied;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return LinkError::NotFound;
        case LIBUSB_ERROR_BUSY:
            return LinkError::Busy;
        default:
            return LinkError::IoError;
    }
}

struct BulkEndpoints {
    int inInterface = -1;
    unsigned char inAddress = 0;
    int outInterface = -1;
    unsigned char outAddress = 0;
};

// First bulk IN and first bulk OUT endpoint of the active configuration
// (alternate setting 0 of each interface, in interface order).
BulkEndpoints FindBulkEndpoints(libusb_device* device) {
    BulkEndpoints found;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) return found;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& iface = config->interface[i];
        if (iface.num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = iface.altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
                continue;
            }
            const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
            if (in && found.inInterface < 0) {
                found.inInterface = alt.bInterfaceNumber;
                found.inAddress = ep.bEndpointAddress;
            } else if (!in && found.outInterface < 0) {
                found.outInterface = alt.bInterfaceNumber;
                found.outAddress = ep.bEndpointAddress;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

class CLibusbPipes final : public IUsbPipes {
public:
    CLibusbPipes(std::uint16_t vendorId, std::uint16_t productId)
        : m_vendorId(vendorId), m_productId(productId) {}
    ~CLibusbPipes() override { Close(); }

    LinkError Open() override {
        Close();
        int rc = libusb_init(&m_context);
        if (rc != LIBUSB_SUCCESS) {
            m_context = nullptr;
            // No USB on this machine (no usbfs): the handheld is not there.
            return LinkError::NotFound;
        }
        rc = OpenDevice();
        if (rc != LIBUSB_SUCCESS) return Fail(FromLibusb(rc));
        m_endpoints = FindBulkEndpoints(libusb_get_device(m_handle));
        if (m_endpoints.inInterface < 0 || m_endpoints.outInterface < 0) {
            return Fail(LinkError::NotFound);
        }
        for (int iface : {m_endpoints.inInterface, m_endpoints.outInterface}) {
            rc = Claim(iface);
            if (rc != LIBUSB_SUCCESS) return Fail(FromLibusb(rc));
        }
        return LinkError::None;
    }

    void Close() override {
        if (m_handle) {
            for (const Claimed& claimed : m_claimed) {
                libusb_release_interface(m_handle, claimed.number);
                if (claimed.driverDetached) libusb_attach_kernel_driver(m_handle, claimed.number);
            }
            libusb_close(m_handle);
        }
        m_claimed.clear();
        m_handle = nullptr;
        if (m_context) libusb_exit(m_context);
        m_context = nullptr;
    }

    bool IsOpen() const override { return m_handle != nullptr; }

    long Read(std::uint8_t* buffer, std::size_t max, std::chrono::milliseconds wait) override {
        if (!m_handle) return -1;
        int transferred = 0;
        const int rc =
            libusb_bulk_transfer(m_handle, m_endpoints.inAddress, buffer, static_cast<int>(max),
                                 &transferred, static_cast<unsigned>(wait.count()));
        if (transferred > 0) return transferred;
        if (rc == LIBUSB_SUCCESS || rc == LIBUSB_ERROR_TIMEOUT || rc == LIBUSB_ERROR_INTERRUPTED) {
            return 0;
        }
        if (rc == LIBUSB_ERROR_NO_DEVICE) {
            m_gone = true;  // unplugged: the handle stays dead until reopened
            return kPipeGone;
        }
        return -1;
    }

    bool Gone() const override { return m_gone; }

    bool WritePacket(const std::uint8_t* packet) override {
        if (!m_handle) return false;
        int transferred = 0;
        // libusb takes a non-const buffer but does not change an OUT buffer.
        const int rc = libusb_bulk_transfer(m_handle, m_endpoints.outAddress,
                                            const_cast<std::uint8_t*>(packet),
                                            static_cast<int>(kUsbPacketSize), &transferred,
                                            static_cast<unsigned>(kUsbWriteStall.count()));
        if (rc == LIBUSB_ERROR_NO_DEVICE) m_gone = true;
        return rc == LIBUSB_SUCCESS && transferred == static_cast<int>(kUsbPacketSize);
    }

    void Purge() override {
        if (!m_handle) return;
        std::uint8_t scratch[kReadChunk];
        for (int i = 0; i < kPurgeMaxReads; ++i) {
            int transferred = 0;
            const int rc = libusb_bulk_transfer(m_handle, m_endpoints.inAddress, scratch,
                                                sizeof scratch, &transferred, kPurgeReadTimeoutMs);
            if (rc != LIBUSB_SUCCESS || transferred == 0) break;
        }
    }

private:
    struct Claimed {
        int number;
        bool driverDetached;
    };

    int OpenDevice() {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(m_context, &list);
        if (count < 0) return static_cast<int>(count);
        int rc = LIBUSB_ERROR_NOT_FOUND;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(list[i], &desc) != LIBUSB_SUCCESS) continue;
            if (desc.idVendor != m_vendorId || desc.idProduct != m_productId) continue;
            rc = libusb_open(list[i], &m_handle);
            if (rc == LIBUSB_SUCCESS) break;
            m_handle = nullptr;
        }
        libusb_free_device_list(list, 1);
        return rc;
    }

    int Claim(int number) {
        for (const Claimed& claimed : m_claimed) {
            if (claimed.number == number) return LIBUSB_SUCCESS;
        }
        bool detached = false;
        if (libusb_kernel_driver_active(m_handle, number) == 1) {
            const int rc = libusb_detach_kernel_driver(m_handle, number);
            if (rc != LIBUSB_SUCCESS) return rc;
            detached = true;
        }
        const int rc = libusb_claim_interface(m_handle, number);
        if (rc != LIBUSB_SUCCESS) {
            if (detached) libusb_attach_kernel_driver(m_handle, number);
            return rc;
        }
        m_claimed.push_back({number, detached});
        return LIBUSB_SUCCESS;
    }

    LinkError Fail(LinkError error) {
        Close();
        return error;
    }

    std::uint16_t m_vendorId;
    std::uint16_t m_productId;
    libusb_context* m_context = nullptr;
    libusb_device_handle* m_handle = nullptr;
    BulkEndpoints m_endpoints;
    std::vector<Claimed> m_claimed;
    // Set by the reader thread and by the writer under the link's shared
    // lock, so both may set it at once.
    std::atomic<bool> m_gone{false};
};

}  // namespace

std::unique_ptr<IUsbPipes> MakeLibusbPipes(std::uint16_t vendorId, std::uint16_t productId) {
    return std::make_unique<CLibusbPipes>(vendorId, productId);
}

std::vector<UsbDeviceInfo> ListUsbDevices(LinkError& error) {
    std::vector<UsbDeviceInfo> devices;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
        error = LinkError::NotFound;  // no USB on this machine
        return devices;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    error = count < 0 ? LinkError::IoError : LinkError::None;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != LIBUSB_SUCCESS) continue;
        UsbDeviceInfo info;
        info.vendorId = desc.idVendor;
        info.productId = desc.idProduct;
        info.bus = libusb_get_bus_number(list[i]);
        info.address = libusb_get_device_address(list[i]);
        const BulkEndpoints endpoints = FindBulkEndpoints(list[i]);
        if (endpoints.inInterface >= 0) info.bulkIn = endpoints.inAddress;
        if (endpoints.outInterface >= 0) info.bulkOut = endpoints.outAddress;
        devices.push_back(info);
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    libusb_exit(context);
    return devices;
}

}  // namespace dorvane
