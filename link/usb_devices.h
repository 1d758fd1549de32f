#pragma once
// The USB devices attached to the computer, so that a user can find the
// handheld's vendor:product id (dorvane-cli usb-devices).

#include <cstdint>
#include <optional>
#include <vector>

#include "link/device.h"

namespace dorvane {

struct UsbDeviceInfo {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    /// First bulk IN / bulk OUT endpoint address of the active configuration
    /// (what the USB link would use as its read and write pipe); none when the
    /// device has no such endpoint or its configuration could not be read.
    std::optional<std::uint8_t> bulkIn;
    std::optional<std::uint8_t> bulkOut;
};

/// Lists the attached USB devices through libusb, in libusb's order. Reads
/// only descriptors (no device is opened or claimed), so it needs no access
/// rights to the devices. Blocks for the enumeration (milliseconds). On a
/// machine without USB (no usbfs) the list is empty and `error` is NotFound;
/// IoError when the enumeration fails; None otherwise.
std::vector<UsbDeviceInfo> ListUsbDevices(LinkError& error);

}  // namespace dorvane
