// Fetch throughput through dorvane-sim: a 1 MB file over a pty throttled to
// 115200 baud (efficiency = file bytes per second / 11520, the line's byte
// rate), and unthrottled over a pty and over the FIFO folder (MB/s and the
// blocks the handheld had to send twice). Prints figures; it is not a test.

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "../../tests/transfer/recording_front_end.h"
#include "app/startup/standard_options.h"
#include "common/sim_process.h"
#include "transfer/dorvane_doc.h"

using namespace dorvane;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileSize = 1000000;
constexpr double kLineBytesPerSecond = 11520.0;  // 115200 baud, 10 bits a byte (8N1)

struct Result {
    double seconds = 0;
    bool identical = false;
    std::uint32_t blocksSent = 0;
};

Result Fetch(const std::vector<std::string>& simArgs, bool usb) {
    test::TempDir dir;
    fs::create_directories(dir / "dev");
    fs::create_directories(dir / "pc");
    std::vector<char> data(kFileSize);
    std::mt19937 rng(5);
    for (auto& c : data) c = static_cast<char>(rng());
    std::ofstream(dir / "dev" / "BIG.BIN", std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    std::vector<std::string> args = simArgs;
    args.insert(args.end(), {"--trace", (dir / "trace.txt").string()});
    if (usb) args.insert(args.begin(), {"--fifo", (dir / "usb").string()});
    test::SimProcess sim(dir / "dev", args);
    test::RecordingFrontEnd fe;
    fe.dialogLimitMs = 10 * 60 * 1000;  // a 1 MB file at 115200 baud takes about 90 s
    CDorvaneDoc::Options o;
    o.persistSettings = false;
    const std::string port = sim.path();
    o.portList = [port] { return std::vector<std::string>{port}; };
    if (usb) o.usb = UsbConfig{0, 0, sim.path()};
    CDorvaneDoc doc(fe, o);
    doc.SetLinkType(usb ? LinkType::kUsb : LinkType::kSerial);
    doc.SetComputerFolder((dir / "pc").string());
    Result r;
    if (!doc.Connect()) return r;
    doc.ClearSelection();
    doc.SelectByName("BIG.BIN");
    const auto t0 = std::chrono::steady_clock::now();
    doc.CopyFromDevice(false);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::ifstream in(dir / "pc" / "BIG.BIN", std::ios::binary);
    std::vector<char> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    r.identical = back == data;
    sim.Stop();
    std::ifstream trace(dir / "trace.txt");
    for (std::string line; std::getline(trace, line);)
        if (line.rfind("out cmd=87 ", 0) == 0) ++r.blocksSent;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done =
            dorvane::HandleStandardOptions(argc, argv, "bench_transfer",
                                           "usage: bench_transfer\n"
                                           "Prints the throughput of a 1 MB fetch through "
                                           "dorvane-sim (115200 baud and unthrottled).\n"))
        return *done;
    const std::uint32_t blocks = static_cast<std::uint32_t>(wire::BlockCountFor(kFileSize));
    const Result line = Fetch({"--baud", "115200"}, false);
    std::printf("1 MB at 115200 baud over a pty: %.2f s, %.0f B/s, efficiency %.1f %% of the line rate%s\n", line.seconds,
                kFileSize / line.seconds, 100.0 * kFileSize / line.seconds / kLineBytesPerSecond,
                line.identical ? "" : "  (FILE DIFFERS)");
    for (bool usb : {false, true}) {
        const Result r = Fetch({}, usb);
        std::printf("1 MB unthrottled over %s: %.3f s, %.2f MB/s, blocks sent twice: %d%s\n", usb ? "the FIFO folder" : "a pty",
                    r.seconds, kFileSize / r.seconds / 1e6, static_cast<int>(r.blocksSent) - static_cast<int>(blocks),
                    r.identical ? "" : "  (FILE DIFFERS)");
    }
    return 0;
}
