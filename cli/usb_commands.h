#pragma once
// dorvane-cli's USB set-up: `usb-devices` lists the attached USB devices so
// the user can find the handheld; `--usb-id VVVV:PPPP` remembers its id for
// this program and the desktop program.

#include <filesystem>
#include <string>

namespace dorvane::cli {

/// Prints one line per attached USB device (id, bus, device, bulk
/// endpoints) and a hint, or the text that there is none. Exit status:
/// 0, or 1 when USB cannot be listed.
int CmdUsbDevices();

/// Parses and remembers the id in `idFile`. Prints what was kept, or why
/// not. Exit status 0, 1 when the file cannot be written, 2 for an id that
/// is not VVVV:PPPP.
int RememberUsbId(const std::string& text, const std::filesystem::path& idFile);

}  // namespace dorvane::cli
