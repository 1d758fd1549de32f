#include "cli/usb_commands.h"

#include <cstdio>

#include "cli/cli_output.h"
#include "i18n/string_table.h"
#include "link/usb.h"
#include "link/usb_devices.h"
#include "transfer/text_format.h"
#include "transfer/usb_setting.h"

namespace dorvane::cli {

namespace {

std::string EndpointText(const std::optional<std::uint8_t>& endpoint) {
    if (!endpoint) return Text(StringId::RES_CORE2_USB_NO_ENDPOINT);
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", *endpoint);
    return text;
}

}  // namespace

int CmdUsbDevices() {
    LinkError error = LinkError::None;
    const std::vector<UsbDeviceInfo> devices = ListUsbDevices(error);
    if (error == LinkError::IoError) {
        Complain(Text(StringId::RES_CORE2_USB_UNAVAILABLE));
        return kExitFailed;
    }
    if (devices.empty()) {
        Say(Text(StringId::RES_CORE2_USB_NONE));
        return kExitOk;
    }
    for (const UsbDeviceInfo& d : devices) {
        Say(FormatText(Text(StringId::RES_CORE2_USB_DEVICE), UsbIdText(d.vendorId, d.productId),
                       d.bus, d.address, EndpointText(d.bulkIn), EndpointText(d.bulkOut)));
    }
    Say(Text(StringId::RES_CORE2_USB_HINT));
    return kExitOk;
}

int RememberUsbId(const std::string& text, const std::filesystem::path& idFile) {
    UsbConfig config;
    if (!ParseUsbId(text, config)) {
        Complain(FormatText(Text(StringId::RES_CORE2_USB_ID_BAD), text));
        return kExitUsage;
    }
    if (!SaveUsbId(idFile, config.vendorId, config.productId)) {
        Complain(FormatText(Text(StringId::RES_CORE2_USB_ID_NOT_SAVED), idFile.string()));
        return kExitFailed;
    }
    Say(FormatText(Text(StringId::RES_CORE2_USB_ID_SAVED),
                   UsbIdText(config.vendorId, config.productId), idFile.string()));
    return kExitOk;
}

}  // namespace dorvane::cli
