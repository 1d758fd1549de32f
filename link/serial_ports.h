#pragma once
// The serial ports of the machine, as listed under /sys/class/tty.

#include <deque>
#include <filesystem>
#include <string>

namespace dorvane {

/// The port that is always offered, first UART of a PC (what "COM1" is on
/// Windows); put at the front when the machine does not list it.
inline constexpr const char* kDefaultPortName = "ttyS0";

/// Where the kernel's sysfs and device nodes live on a running system.
inline constexpr const char* kSysfsRoot = "/sys";
inline constexpr const char* kDevRoot = "/dev";

/// Sorts ascending by length, then by byte comparison among names of equal
/// length ("ttyS3" before "ttyS10").
void SortPortNames(std::deque<std::string>& names);

/// The real serial ports under `sysfsRoot`/class/tty, sorted, with
/// kDefaultPortName added when absent. A port counts when its entry has a
/// "device" link (driver-backed: ttyUSB*, ttyACM*, platform UARTs); virtual
/// terminals, ptys and the console have none. A serial-core port (one with a
/// "type" attribute, as every ttyS*) counts only when its UART type is known
/// (non-zero): the 8250 driver registers phantom ttyS ports of type 0
/// (PORT_UNKNOWN) that no hardware answers. A ttyS* entry without a readable
/// "type" is asked with TIOCGSERIAL on `devRoot`/name instead. An unreadable
/// tree gives the default port alone. Never throws; blocks only on sysfs reads.
std::deque<std::string> ListSerialPorts(const std::filesystem::path& sysfsRoot = kSysfsRoot,
                                        const std::filesystem::path& devRoot = kDevRoot);

}  // namespace dorvane
