#include "transfer/no_device_advice.h"

#include <sys/stat.h>

#include <algorithm>
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

// The device paths of `ports`, each once, in the order tried.
std::string PortsText(const std::vector<std::string>& ports) {
    std::vector<std::string> paths;
    for (const auto& port : ports) {
        if (port.empty()) continue;
        const std::string path = SerialDevicePath(port);
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
    std::string text;
    for (const auto& path : paths) text += (text.empty() ? "" : ", ") + path;
    return text;
}

}  // namespace

std::string NoDeviceChecklist(const std::vector<std::string>& ports, const UsbConfig& usb) {
    const std::string node = FirstExistingNode(ports);
    PermissionAdvice owner;
    owner.group = kUsualSerialGroup;
    if (!node.empty()) owner = DescribePermissionProblem(node);
    std::string text = Text(StringId::RES_DESKTOP_CHECK_TITLE);
    text += '\n';
    const std::string tried = PortsText(ports);
    text += tried.empty() ? Text(StringId::RES_DESKTOP_CHECK_NO_PORTS)
                          : FormatText(StringId::RES_DESKTOP_CHECK_PORTS, tried.c_str());
    text += '\n';
    text += Text(StringId::RES_DESKTOP_CHECK_CABLE);
    text += '\n';
    // A port owned by root's group (a container, a missing udev rule) is no
    // reason to join that group: the rule hands ports to dialout.
    text += owner.joinable ? FormatText(StringId::RES_DESKTOP_CHECK_GROUP, owner.group.c_str(),
                                        owner.group.c_str())
                           : FormatText(StringId::RES_DESKTOP_CHECK_GROUP_ROOT, owner.group.c_str(),
                                        kUsualSerialGroup, kUsualSerialGroup);
    text += '\n';
    text += Text(StringId::RES_DESKTOP_CHECK_MODEMMANAGER);
    text += '\n';
    text += FormatText(StringId::RES_DESKTOP_CHECK_USB_ID, UsbIdText(usb).c_str());
    return text;
}

}  // namespace dorvane
