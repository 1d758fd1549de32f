// Starting and stopping the links' reader threads: callbacks that throw, the
// callback kept across StartReader, and a stop racing a start (run this
// program under the tsan preset too).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

#include "link/serial.h"
#include "link/usb.h"
#include "link_test_util.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using test::Collector;

/// How long a test waits to be sure that nothing arrives.
constexpr auto kQuietWait = 300ms;

// A link with the test playing the handheld's side of it.
class LinkRig {
public:
    virtual ~LinkRig() = default;
    virtual IDevice& Link() = 0;
    virtual bool Ready() const = 0;
    virtual void Send(const std::vector<std::uint8_t>& bytes) = 0;
};

class SerialRig final : public LinkRig {
public:
    SerialRig() {
        if (!pty_.slave().empty()) open_ = serial_.Open(pty_.slave(), 115200) == 1;
    }
    IDevice& Link() override { return serial_; }
    bool Ready() const override { return open_; }
    void Send(const std::vector<std::uint8_t>& bytes) override { pty_.WriteAll(bytes); }

private:
    test::PtyPair pty_;
    CSerial serial_;
    bool open_ = false;
};

class UsbFifoRig final : public LinkRig {
public:
    UsbFifoRig() {
        if (::mkfifo((dir_.path() / kReadPipeName).c_str(), 0600) != 0) return;
        if (::mkfifo((dir_.path() / kWritePipeName).c_str(), 0600) != 0) return;
        fromComputer_ = ::open((dir_.path() / kWritePipeName).c_str(), O_RDONLY | O_NONBLOCK);
        usb_.Configure(UsbConfig{kUsbIdUnset, kUsbIdUnset, dir_.path()});
        if (usb_.Reopen() != 1) return;
        toComputer_ = ::open((dir_.path() / kReadPipeName).c_str(), O_WRONLY | O_NONBLOCK);
    }
    ~UsbFifoRig() override {
        usb_.Close();
        if (fromComputer_ >= 0) ::close(fromComputer_);
        if (toComputer_ >= 0) ::close(toComputer_);
    }
    IDevice& Link() override { return usb_; }
    bool Ready() const override { return fromComputer_ >= 0 && toComputer_ >= 0; }
    void Send(const std::vector<std::uint8_t>& bytes) override {
        std::size_t done = 0;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::write(toComputer_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                std::this_thread::sleep_for(1ms);
        }
    }

private:
    test::TempDir dir_;
    CUsb usb_{UsbConfig{}};
    int fromComputer_ = -1;
    int toComputer_ = -1;
};

struct RigRow {
    const char* name;
    std::function<std::unique_ptr<LinkRig>()> make;
};

const RigRow kRigs[] = {
    {"serial", [] { return std::make_unique<SerialRig>(); }},
    {"usb-fifo", [] { return std::make_unique<UsbFifoRig>(); }},
};

// Throws from its first call, then collects like the transport would.
struct ThrowOnce {
    std::atomic<int> calls{0};
    Collector after;
    static int Callback(void* user, const std::uint8_t* bytes, std::size_t count) {
        auto* self = static_cast<ThrowOnce*>(user);
        if (self->calls++ == 0) throw std::runtime_error("receiver failed");
        return Collector::Callback(&self->after, bytes, count);
    }
};

TEST(ReaderControl, CallbackThatThrowsLosesOnlyItsReadAndTheReaderGoesOn) {
    for (const RigRow& row : kRigs) {
        SCOPED_TRACE(row.name);
        auto rig = row.make();
        ASSERT_TRUE(rig->Ready());
        ThrowOnce receiver;
        rig->Link().StartReader();
        rig->Link().SetReceiveCallback(&ThrowOnce::Callback, &receiver);
        rig->Send(test::Pattern(10, 1));
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (receiver.calls == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(receiver.calls, 1) << "the first read never reached the callback";
        const auto second = test::Pattern(3000, 2);
        rig->Send(second);
        ASSERT_TRUE(receiver.after.WaitFor(second.size(), 5s));
        rig->Link().StopReader();
        EXPECT_EQ(receiver.after.Bytes(), second);
    }
}

TEST(ReaderControl, CallbackSetBeforeStartReaderIsKeptUnlessAReaderWasRunning) {
    struct Row {
        const char* what;
        bool readerAlreadyRunning;
        bool delivered;
    };
    const Row rows[] = {
        {"set, then start: the callback is kept", false, true},
        {"set while a reader runs, then start again: the callback is cleared", true, false},
    };
    for (const RigRow& rig_row : kRigs) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(rig_row.name) + ": " + row.what);
            auto rig = rig_row.make();
            ASSERT_TRUE(rig->Ready());
            Collector collector;
            if (row.readerAlreadyRunning) rig->Link().StartReader();
            rig->Link().SetReceiveCallback(&Collector::Callback, &collector);
            rig->Link().StartReader();
            const auto bytes = test::Pattern(500, 3);
            rig->Send(bytes);
            if (row.delivered) {
                EXPECT_TRUE(collector.WaitFor(bytes.size(), 5s));
                EXPECT_EQ(collector.Bytes(), bytes);
            } else {
                EXPECT_FALSE(collector.WaitFor(1, kQuietWait));
            }
            rig->Link().StopReader();
        }
    }
}

// The worker starts the reader while the user-interface thread cancels
// (Stop -> StopReader). Without the link's reader lock the two threads touch
// one std::thread: a data race under TSan, or std::terminate when a new
// thread is assigned over one that is still joinable.
TEST(ReaderControl, StopLandingDuringStartReaderIsSerialised) {
    constexpr int kIterations = 150;
    CSerial serial;  // closed: the reader idles in its naps
    CUsb usb{UsbConfig{}};
    for (IDevice* link : {static_cast<IDevice*>(&serial), static_cast<IDevice*>(&usb)}) {
        Collector collector;
        for (int i = 0; i < kIterations; ++i) {
            std::atomic<bool> go{false};
            std::thread worker([&] {
                while (!go) std::this_thread::yield();
                link->SetReceiveCallback(&Collector::Callback, &collector);
                link->StartReader();
            });
            std::thread cancel([&] {
                while (!go) std::this_thread::yield();
                if (i % 2) std::this_thread::sleep_for(std::chrono::microseconds(i * 7 % 300));
                link->StopReader();
            });
            go = true;
            worker.join();
            cancel.join();
        }
        const auto started = std::chrono::steady_clock::now();
        link->StopReader();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 600ms);
    }
}

}  // namespace
}  // namespace dorvane
