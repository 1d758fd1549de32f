// A pulled cable: the serial port hangs up (pty master closed), the USB
// stand-in's peer closes its FIFOs, or the handheld stalls with the link
// open. The run must end within one time-out, write nothing, keep the
// handheld's file on a move, show the document disconnected, and Connect
// must work again once the device is back.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fault_rig.h"
#include "i18n/string_table.h"
#include "link/serial.h"
#include "link/usb.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

using namespace std::chrono;
using test::Entries;
using test::FaultRig;
using test::RandomBytes;
using test::ReadBytes;
using test::WriteBytes;

constexpr std::size_t kBigFile = 200000;  // about 100 blocks: several windows
// Frames the emulator sends before it goes: the handshake answer and the
// listing (3) and the first window of the fetch, part-way (16 blocks + end).
constexpr const char* kMidFetch = "12";
// Time a lost link may take to be noticed by a reader waiting in slices.
constexpr auto kNoticeLimit = milliseconds(1000);

long long MsSince(steady_clock::time_point t0) {
    return duration_cast<milliseconds>(steady_clock::now() - t0).count();
}

class LinkLoss : public ::testing::TestWithParam<bool> {};

TEST_P(LinkLoss, PulledCableEndsTheMoveAtOnceKeepsTheFileAndConnectWorksAgain) {
    FaultRig rig(GetParam());
    const test::Bytes big = RandomBytes(kBigFile, 7);
    WriteBytes(rig.device / "BIG.BIN", big);
    ASSERT_TRUE(rig.StartSim({"--vanish-after", kMidFetch}));
    ASSERT_TRUE(rig.doc->Connect());
    ASSERT_TRUE(rig.Select("BIG.BIN"));

    const auto t0 = steady_clock::now();
    EXPECT_EQ(rig.doc->CopyFromDevice(true), 1);
    const long long ms = MsSince(t0);
    EXPECT_LT(ms, FaultRig::kTimeoutMs)
        << "one time-out at most, not the retries against a dead link";
    EXPECT_EQ(rig.doc->LastError(), transport_error::kDisconnected);
    ASSERT_FALSE(rig.fe.closes.empty());
    EXPECT_EQ(rig.fe.closes.front().first, transport_error::kDisconnected);
    EXPECT_EQ(rig.fe.closes.front().second, WaitCloseKind::kFailed);
    EXPECT_EQ(rig.doc->ErrorText(transport_error::kDisconnected),
              Text(StringId::RES_FAULTS_DISCONNECTED));
    EXPECT_FALSE(rig.doc->IsConnected()) << "the document shows the handheld as gone";
    EXPECT_TRUE(rig.doc->DeviceFiles().empty());
    EXPECT_TRUE(Entries(rig.pc).empty()) << "no file and no hidden partial file";
    EXPECT_EQ(ReadBytes(rig.device / "BIG.BIN"), big) << "the move kept the handheld's file";
    EXPECT_TRUE(rig.doc->TakeDeletedFiles().empty());

    // Plugged in again: the same link comes back.
    ASSERT_TRUE(rig.StartSim({}));
    ASSERT_TRUE(rig.doc->Connect());
    ASSERT_TRUE(rig.Select("BIG.BIN"));
    EXPECT_EQ(rig.doc->CopyFromDevice(true), 1);
    EXPECT_EQ(rig.doc->LastError(), 0);
    EXPECT_EQ(ReadBytes(rig.pc / "BIG.BIN"), big);
    EXPECT_FALSE(fs::exists(rig.device / "BIG.BIN"));
    EXPECT_EQ(rig.doc->TakeDeletedFiles(), std::vector<std::string>{"BIG.BIN"});
}

TEST_P(LinkLoss, DeviceGoneDuringTheListingFailsTheConnectAndTheNextConnectWorks) {
    FaultRig rig(GetParam());
    WriteBytes(rig.device / "A.TXT", RandomBytes(100, 1));
    ASSERT_TRUE(rig.StartSim({"--vanish-after", "1"}));  // only the handshake answer
    const auto t0 = steady_clock::now();
    EXPECT_FALSE(rig.doc->Connect());
    EXPECT_LT(MsSince(t0), 2 * FaultRig::kTimeoutMs);
    EXPECT_FALSE(rig.doc->IsConnected());
    ASSERT_TRUE(rig.StartSim({}));
    ASSERT_TRUE(rig.doc->Connect());
    ASSERT_EQ(rig.doc->DeviceFiles().size(), 1u);
}

TEST_P(LinkLoss, DeviceGoneDuringADeleteIsReportedAndDisconnects) {
    FaultRig rig(GetParam());
    WriteBytes(rig.device / "A.TXT", RandomBytes(100, 1));
    // The listing (3 frames) and the delete run's handshake answer; the delete is never answered.
    ASSERT_TRUE(rig.StartSim({"--vanish-after", "4"}));
    ASSERT_TRUE(rig.doc->Connect());
    ASSERT_TRUE(rig.Select("A.TXT"));
    rig.doc->DeleteSelected();
    EXPECT_EQ(rig.doc->LastError(), transport_error::kDisconnected);
    EXPECT_EQ(rig.fe.deviceErrors, std::vector<int>{transport_error::kDisconnected});
    EXPECT_FALSE(rig.doc->IsConnected());
    EXPECT_TRUE(rig.doc->TakeDeletedFiles().empty());
}

TEST_P(LinkLoss, StalledHandheldEndsInATimeOutWithNothingWritten) {
    FaultRig rig(GetParam());
    const test::Bytes big = RandomBytes(kBigFile, 8);
    WriteBytes(rig.device / "BIG.BIN", big);
    ASSERT_TRUE(rig.StartSim({"--stall-after", kMidFetch}));
    ASSERT_TRUE(rig.doc->Connect());
    ASSERT_TRUE(rig.Select("BIG.BIN"));
    rig.doc->Transport().SetRetries(1);
    const auto t0 = steady_clock::now();
    EXPECT_EQ(rig.doc->CopyFromDevice(true), 1);
    EXPECT_LT(MsSince(t0), 4 * FaultRig::kTimeoutMs);
    EXPECT_EQ(rig.doc->LastError(), transport_error::kTimeout);
    EXPECT_TRUE(Entries(rig.pc).empty());
    EXPECT_EQ(ReadBytes(rig.device / "BIG.BIN"), big);
}

INSTANTIATE_TEST_SUITE_P(PtyAndFifo, LinkLoss, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Fifo" : "Pty"; });

class CliLinkLoss : public ::testing::TestWithParam<bool> {};

TEST_P(CliLinkLoss, MvOfAVanishingDeviceSaysDisconnectedAndDeletesNothing) {
    FaultRig rig(GetParam());
    const test::Bytes big = RandomBytes(kBigFile, 9);
    WriteBytes(rig.device / "BIG.BIN", big);
    ASSERT_TRUE(rig.StartSim({"--vanish-after", kMidFetch}));
    const std::vector<std::string> link =
        GetParam() ? std::vector<std::string>{"--usb", rig.usbFolder.string()}
                   : std::vector<std::string>{"--port", rig.ttyLink.string()};
    std::vector<std::string> args = link;
    args.insert(args.end(), {"--timeout", std::to_string(FaultRig::kTimeoutMs), "mv", "BIG.BIN",
                             "-C", rig.pc.string()});
    const auto t0 = steady_clock::now();
    const test::CliRun r = test::RunCli(rig.dir.path(), args);
    EXPECT_LT(MsSince(t0), 2 * FaultRig::kTimeoutMs);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("disconnected"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Deleted"), std::string::npos) << r.out;
    EXPECT_TRUE(Entries(rig.pc).empty());
    EXPECT_EQ(ReadBytes(rig.device / "BIG.BIN"), big);
}

INSTANTIATE_TEST_SUITE_P(PtyAndFifo, CliLinkLoss, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Fifo" : "Pty"; });

// ---- The links themselves --------------------------------------------------

struct LostProbe {
    std::atomic<int> calls{0};
    static void OnLost(void* self) { ++static_cast<LostProbe*>(self)->calls; }
    static int OnBytes(void*, const std::uint8_t*, std::size_t) { return 1; }
};

bool WaitLost(const IDevice& link) {
    const auto deadline = steady_clock::now() + kNoticeLimit;
    while (!link.Lost() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    return link.Lost();
}

TEST(SerialLoss, HangUpOfThePortMarksTheLinkLostOnceAndAReopenClearsIt) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    CSerial serial;
    ASSERT_EQ(serial.Open(slave, 115200), 1);
    LostProbe probe;
    serial.SetLostCallback(&LostProbe::OnLost, &probe);
    serial.StartReader();
    serial.SetReceiveCallback(&LostProbe::OnBytes, &probe);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_FALSE(serial.Lost());
    ::close(master);  // the adapter is pulled
    EXPECT_TRUE(WaitLost(serial));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(probe.calls.load(), 1);
    const std::uint8_t byte = 0x24;
    EXPECT_EQ(serial.Write(&byte, 1), 0u) << "nothing goes out on a hung-up port";
    serial.StopReader();

    int master2 = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master2, 0);
    ASSERT_EQ(::grantpt(master2), 0);
    ASSERT_EQ(::unlockpt(master2), 0);
    ASSERT_EQ(serial.Open(::ptsname(master2), 115200), 1);
    EXPECT_FALSE(serial.Lost());
    serial.Close();
    ::close(master2);
}

TEST(UsbLoss, PeerClosingTheFifosMarksTheLinkLost) {
    test::TempDir dir;
    for (const char* name : {kReadPipeName, kWritePipeName})
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
    // The emulator's ends: read-write, so neither open waits.
    int toComputer = ::open((dir / kReadPipeName).c_str(), O_RDWR | O_NONBLOCK);
    int fromComputer = ::open((dir / kWritePipeName).c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(toComputer, 0);
    ASSERT_GE(fromComputer, 0);
    UsbConfig config;
    config.fifoFolder = dir.path();
    CUsb usb(config);
    ASSERT_EQ(usb.Reopen(), 1);
    LostProbe probe;
    usb.SetLostCallback(&LostProbe::OnLost, &probe);
    usb.StartReader();
    usb.SetReceiveCallback(&LostProbe::OnBytes, &probe);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_FALSE(usb.Lost());
    ::close(toComputer);
    ::close(fromComputer);
    EXPECT_TRUE(WaitLost(usb));
    EXPECT_EQ(probe.calls.load(), 1);
    usb.Close();
}

}  // namespace
}  // namespace dorvane
