#pragma once
// The handheld's USB vendor:product id as the user set it
// (`dorvane-cli --usb-id VVVV:PPPP`), kept beside the settings file in the
// user's config folder so that the desktop program uses it too. One line of
// text, "vvvv:pppp" in hex; the binary "Dorvane.cfg" keeps its fixed layout.

#include <filesystem>
#include <optional>
#include <string>

#include "link/usb.h"

namespace dorvane {

/// File name of the remembered id, in the folder of the settings file.
inline constexpr const char* kUsbIdFileName = "usb-id";

/// The id file that belongs to `settingsPath` (same folder).
std::filesystem::path UsbIdPathFor(const std::filesystem::path& settingsPath);

/// The remembered id; nullopt when the file is missing, unreadable or does
/// not hold "vvvv:pppp" (a damaged file is ignored, never fatal). Blocking
/// file I/O.
std::optional<UsbConfig> LoadUsbId(const std::filesystem::path& idFile);

/// Writes "vvvv:pppp\n" (creating the folder), through a temporary file and
/// a rename; false when it cannot be written. Blocking file I/O.
bool SaveUsbId(const std::filesystem::path& idFile, std::uint16_t vendorId,
               std::uint16_t productId);

/// "vvvv:pppp" in lower-case hex.
std::string UsbIdText(std::uint16_t vendorId, std::uint16_t productId);

/// The USB configuration of this user: the build's ids, replaced by the
/// remembered ones in `idFile`, replaced by DORVANE_USB_ID; DORVANE_USB_FIFO
/// as the FIFO folder (UsbConfigFromEnvironment).
UsbConfig UserUsbConfig(const std::filesystem::path& idFile);

}  // namespace dorvane
