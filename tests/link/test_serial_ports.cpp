// The port list against fake sysfs trees laid out as the kernel does:
// class/tty/<name> links to a device folder; driver-backed ports have a
// "device" link, serial-core ports a "type" attribute (0 = no UART).

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "link/serial_ports.h"
#include "link_test_util.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

struct FakeTty {
    std::string name;
    bool driverBacked;
    std::optional<int> uartType;
};

// Builds sys/devices/... folders and the class/tty links to them.
fs::path BuildSysfs(const fs::path& root, const std::vector<FakeTty>& ttys) {
    const fs::path sys = root / "sys";
    fs::create_directories(sys / "class" / "tty");
    fs::create_directories(sys / "devices" / "platform" / "serial8250");
    for (const FakeTty& tty : ttys) {
        const fs::path node = sys / "devices" / "tty" / tty.name;
        fs::create_directories(node);
        if (tty.driverBacked) {
            fs::create_directory_symlink(sys / "devices" / "platform" / "serial8250",
                                         node / "device");
        }
        if (tty.uartType) std::ofstream(node / "type") << *tty.uartType << "\n";
        fs::create_directory_symlink(node, sys / "class" / "tty" / tty.name);
    }
    return sys;
}

using Ports = std::deque<std::string>;

TEST(SerialPorts, ListFromFakeTrees) {
    constexpr int k16550A = 4;  // PORT_16550A
    struct Case {
        const char* description;
        std::vector<FakeTty> ttys;
        Ports expected;
    };
    std::vector<FakeTty> stockPc = {{"ttyS0", true, k16550A}, {"tty0", false, {}},
                                    {"console", false, {}},   {"ptmx", false, {}},
                                    {"ttyUSB0", true, {}},    {"ttyACM0", true, {}}};
    for (int i = 1; i < 32; ++i) stockPc.push_back({"ttyS" + std::to_string(i), true, 0});

    const Case cases[] = {
        {"phantom ttyS left out, usb-serial and ACM kept",
         stockPc,
         {"ttyS0", "ttyACM0", "ttyUSB0"}},
        {"two real UARTs and no ttyS0: default in front, shorter names first",
         {{"ttyS10", true, k16550A}, {"ttyS3", true, k16550A}, {"ttyS4", true, 0}},
         {"ttyS0", "ttyS3", "ttyS10"}},
        {"a phantom ttyS0 is still offered as the default",
         {{"ttyS0", true, 0}, {"ttyUSB1", true, {}}},
         {"ttyS0", "ttyUSB1"}},
        {"ttyS without a type attribute and no device node is left out",
         {{"ttyS5", true, {}}, {"ttyUSB0", true, {}}},
         {"ttyS0", "ttyUSB0"}},
        {"another serial-core driver with a known type is kept",
         {{"ttyAMA0", true, 91}, {"ttyAMA1", true, 0}},
         {"ttyS0", "ttyAMA0"}},
        {"virtual terminals only", {{"tty1", false, {}}, {"tty63", false, {}}}, {"ttyS0"}},
        {"numbers sort by length first",
         {{"ttyUSB10", true, {}}, {"ttyUSB2", true, {}}, {"ttyACM9", true, {}}},
         {"ttyS0", "ttyACM9", "ttyUSB2", "ttyUSB10"}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const fs::path sys = BuildSysfs(dir.path(), c.ttys);
        EXPECT_EQ(ListSerialPorts(sys, dir.path() / "dev"), c.expected) << c.description;
    }
}

TEST(SerialPorts, UnreadableTreeGivesDefaultAlone) {
    test::TempDir dir;
    EXPECT_EQ(ListSerialPorts(dir.path() / "missing"), Ports{"ttyS0"});

    fs::create_directories(dir.path() / "sys" / "class");
    std::ofstream(dir.path() / "sys" / "class" / "tty") << "not a folder";
    EXPECT_EQ(ListSerialPorts(dir.path() / "sys"), Ports{"ttyS0"});
}

TEST(SerialPorts, SortIsLengthThenBytes) {
    Ports names = {"ttyUSB10",
                   "ttyS9",
                   "ttyUSB2",
                   "ttyS10",
                   "ttyS1",
                   "tty\xC3"
                   "0"};
    SortPortNames(names);
    // 0xC3 sorts above ASCII letters: the bytes compare unsigned.
    EXPECT_EQ(names, (Ports{"ttyS1", "ttyS9",
                            "tty\xC3"
                            "0",
                            "ttyS10", "ttyUSB2", "ttyUSB10"}));
}

}  // namespace
}  // namespace dorvane
