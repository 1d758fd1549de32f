#include "link/serial_ports.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <system_error>

namespace dorvane {

namespace {

// UART type the 8250 driver reports for a port slot with no chip behind it
// (PORT_UNKNOWN in <linux/serial_core.h>).
constexpr int kUartTypeUnknown = 0;

std::optional<int> ReadUartTypeAttribute(const std::filesystem::path& entry) {
    std::ifstream in(entry / "type");
    int type = kUartTypeUnknown;
    if (!in || !(in >> type)) return std::nullopt;
    return type;
}

// Asks the driver itself; the open does not wait for carrier (O_NONBLOCK).
std::optional<int> ProbeUartType(const std::filesystem::path& node) {
    int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    serial_struct info{};
    const int rc = ::ioctl(fd, TIOCGSERIAL, &info);
    ::close(fd);
    if (rc != 0) return std::nullopt;
    return info.type;
}

bool IsRealPort(const std::filesystem::path& entry, const std::string& name,
                const std::filesystem::path& devRoot) {
    std::error_code ec;
    if (!std::filesystem::exists(entry / "device", ec)) return false;
    std::optional<int> type = ReadUartTypeAttribute(entry);
    if (!type && name.starts_with("ttyS")) type = ProbeUartType(devRoot / name);
    if (name.starts_with("ttyS") && !type) return false;
    return !type || *type != kUartTypeUnknown;
}

}  // namespace

void SortPortNames(std::deque<std::string>& names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return a.size() < b.size();
        return a < b;  // std::string compares as unsigned bytes (char_traits)
    });
}

std::deque<std::string> ListSerialPorts(const std::filesystem::path& sysfsRoot,
                                        const std::filesystem::path& devRoot) {
    std::deque<std::string> ports;
    std::error_code ec;
    std::filesystem::directory_iterator it(sysfsRoot / "class" / "tty", ec);
    if (!ec) {
        for (const auto end = std::filesystem::directory_iterator(); it != end; it.increment(ec)) {
            if (ec) break;
            const std::string name = it->path().filename().string();
            if (IsRealPort(it->path(), name, devRoot)) ports.push_back(name);
        }
    }
    if (std::find(ports.begin(), ports.end(), kDefaultPortName) == ports.end()) {
        ports.push_front(kDefaultPortName);
    }
    SortPortNames(ports);
    return ports;
}

}  // namespace dorvane
