#include "transfer/no_device_advice.h"

#include <sys/stat.h>

#include <cstdio>

#include "i18n/string_table.h"
#include "link/permission.h"
#include "link/serial.h"

namespace dorvane {

namespace {

// The device node whose group the advice names: the first that exists, since
// a port that is gone cannot tell which group owns serial ports here.
std::string FirstExistingNode(const std::vector<std::string>& ports) {
    for (const auto& port : ports) {
        if (port.empty()) continue;
        const std::string path = SerialDevicePath(port);
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) return path;
    }
    return {};
}

std::string UsbIdText(const UsbConfig& usb) {
    if (usb.vendorId == kUsbIdUnset && usb.productId == kUsbIdUnset)
        return Text(StringId::RES_DESKTOP_USB_ID_UNSET);
    char id[16];
    std::snprintf(id, sizeof id, "%04x:%04x", usb.vendorId, usb.productId);
    return id;
}

}  // namespace

std::string NoDeviceChecklist(const std::vector<std::string>& ports, const UsbConfig& usb) {
    const std::string node = FirstExistingNode(ports);
    const std::string group =
        node.empty() ? std::string(kUsualSerialGroup) : DescribePermissionProblem(node).group;
    std::string text = Text(StringId::RES_DESKTOP_CHECK_TITLE);
    text += '\n';
    text += Text(StringId::RES_DESKTOP_CHECK_CABLE);
    text += '\n';
    text += FormatText(StringId::RES_DESKTOP_CHECK_GROUP, group.c_str(), group.c_str());
    text += '\n';
    text += Text(StringId::RES_DESKTOP_CHECK_MODEMMANAGER);
    text += '\n';
    text += FormatText(StringId::RES_DESKTOP_CHECK_USB_ID, UsbIdText(usb).c_str());
    return text;
}

}  // namespace dorvane
