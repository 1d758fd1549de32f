// CUsb through the FIFO folder back end (the test plays the handheld) and the
// libusb back end with no device present.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "link/usb.h"
#include "link_test_util.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using test::Collector;

// The handheld's side of a FIFO folder: reads PIPE01, writes PIPE00.
class FifoHandheld : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkfifo((dir.path() / kReadPipeName).c_str(), 0600), 0);
        ASSERT_EQ(::mkfifo((dir.path() / kWritePipeName).c_str(), 0600), 0);
        fromComputer = ::open((dir.path() / kWritePipeName).c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fromComputer, 0);
        usb.Configure(UsbConfig{kUsbIdUnset, kUsbIdUnset, dir.path()});
        ASSERT_EQ(usb.Reopen(), 1) << LinkErrorName(usb.LastError());
        toComputer = ::open((dir.path() / kReadPipeName).c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(toComputer, 0);
    }
    void TearDown() override {
        usb.Close();
        if (fromComputer >= 0) ::close(fromComputer);
        if (toComputer >= 0) ::close(toComputer);
    }

    // Everything the computer has written so far.
    std::vector<std::uint8_t> Drain() {
        std::vector<std::uint8_t> all;
        std::uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fromComputer, buffer, sizeof buffer);
            if (n <= 0) break;
            all.insert(all.end(), buffer, buffer + n);
        }
        return all;
    }

    test::TempDir dir;
    CUsb usb{UsbConfig{}};
    int fromComputer = -1;
    int toComputer = -1;
};

TEST_F(FifoHandheld, WritesArePaddedWholePackets) {
    struct Case {
        const char* description;
        std::size_t size;
        std::size_t packets;
    };
    const Case cases[] = {
        {"19-byte frame: one packet, 2029 zero bytes after it", 19, 1},
        {"exactly one packet", kUsbPacketSize, 1},
        {"one byte over a packet", kUsbPacketSize + 1, 2},
        {"5000 bytes: three packets, the last carrying 904", 5000, 3},
    };
    for (const Case& c : cases) {
        const auto data = test::Pattern(c.size, static_cast<std::uint32_t>(c.size));
        EXPECT_EQ(usb.Write(data.data(), data.size()), c.size) << c.description;
        const auto written = Drain();
        ASSERT_EQ(written.size(), c.packets * kUsbPacketSize) << c.description;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), written.begin())) << c.description;
        EXPECT_TRUE(std::all_of(written.begin() + static_cast<std::ptrdiff_t>(c.size),
                                written.end(), [](std::uint8_t b) { return b == 0; }))
            << c.description;
    }
    EXPECT_EQ(usb.Write(nullptr, 0), 0u);
    EXPECT_TRUE(Drain().empty()) << "a zero-length write sends nothing";
}

TEST_F(FifoHandheld, HandheldBytesArriveThroughCallbackInOrder) {
    // Bytes waiting before the reader starts are stale and purged.
    const std::uint8_t stale[] = {1, 2, 3};
    ASSERT_EQ(::write(toComputer, stale, sizeof stale), 3);

    Collector collector;
    usb.StartReader();
    usb.SetReceiveCallback(&Collector::Callback, &collector);
    const auto data = test::Pattern(20000, 99);
    std::thread handheld([&] {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(toComputer, data.data() + done, data.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                std::this_thread::sleep_for(1ms);
        }
    });
    const bool complete = collector.WaitFor(data.size());
    handheld.join();
    ASSERT_TRUE(complete);
    usb.StopReader();
    EXPECT_EQ(collector.Bytes(), data);
    EXPECT_LE(collector.Largest(), kReadChunk);
}

TEST_F(FifoHandheld, HandheldGoingAwayNeitherKillsNorHangsTheLink) {
    Collector collector;
    usb.StartReader();
    usb.SetReceiveCallback(&Collector::Callback, &collector);
    ::close(toComputer);
    toComputer = -1;
    ::close(fromComputer);
    fromComputer = -1;

    // Writing to a FIFO nobody reads raises SIGPIPE; the link must survive it.
    const auto data = test::Pattern(100);
    EXPECT_EQ(usb.Write(data.data(), data.size()), 0u);

    const auto started = std::chrono::steady_clock::now();
    usb.StopReader();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 600ms);
    EXPECT_EQ(collector.Calls(), 0u);
}

TEST(Usb, FifoFolderWithoutHandheldFails) {
    test::TempDir dir;
    CUsb usb{UsbConfig{kUsbIdUnset, kUsbIdUnset, dir.path() / "absent"}};
    EXPECT_EQ(usb.Reopen(), 0);
    EXPECT_EQ(usb.LastError(), LinkError::NotFound);

    // FIFOs present but nobody reads PIPE01: give up after a bounded wait.
    ASSERT_EQ(::mkfifo((dir.path() / kReadPipeName).c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir.path() / kWritePipeName).c_str(), 0600), 0);
    usb.Configure(UsbConfig{kUsbIdUnset, kUsbIdUnset, dir.path()});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(usb.Reopen(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(usb.LastError(), LinkError::NotFound);
    EXPECT_FALSE(usb.IsOpen());
}

TEST(Usb, LibusbWithoutDeviceReopensToZeroCleanly) {
    // 0xFFFE is not an assigned vendor id, so no machine has this device.
    CUsb usb{UsbConfig{0xFFFE, 0xFFFE, {}}};
    EXPECT_EQ(usb.Reopen(), 0);
    EXPECT_NE(usb.LastError(), LinkError::None);
    EXPECT_FALSE(usb.IsOpen());
    const std::uint8_t byte = 0x24;
    EXPECT_EQ(usb.Write(&byte, 1), 0u);
    usb.StartReader();
    usb.StopReader();
    usb.Close();
    EXPECT_EQ(usb.Reopen(), 0);
}

TEST(Usb, NothingConfiguredIsReported) {
    CUsb usb{UsbConfig{}};
    EXPECT_EQ(usb.Reopen(), 0);
    EXPECT_EQ(usb.LastError(), LinkError::NotConfigured);
}

TEST(Usb, ParseUsbId) {
    struct Case {
        const char* text;
        bool ok;
        std::uint16_t vendor;
        std::uint16_t product;
    };
    const Case cases[] = {
        {"1a86:7523", true, 0x1a86, 0x7523},
        {"0403:6001", true, 0x0403, 0x6001},
        {"ABCD:ef01", true, 0xabcd, 0xef01},
        {"1:2", true, 1, 2},
        {"12345:1", false, 0, 0},
        {"1a86", false, 0, 0},
        {":", false, 0, 0},
        {"xyz:0001", false, 0, 0},
        {"0001:00 1", false, 0, 0},
    };
    for (const Case& c : cases) {
        UsbConfig config;
        EXPECT_EQ(ParseUsbId(c.text, config), c.ok) << c.text;
        EXPECT_EQ(config.vendorId, c.vendor) << c.text;
        EXPECT_EQ(config.productId, c.product) << c.text;
    }
}

}  // namespace
}  // namespace dorvane
