// Frames built, cut and handled per second for full data blocks: a block of
// ordinary bytes, and the worst case, a block of nothing but `$` (every byte
// doubled on the wire). Prints figures; it is not a test.

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "app/startup/standard_options.h"
#include "protocol/frame.h"
#include "protocol/protocol_stp10.h"

using namespace dorvane;

namespace {

void Run(const char* label, const std::vector<std::uint8_t>& data) {
    // A block payload as the handheld sends it: header then 1960 data bytes.
    std::vector<std::uint8_t> payload(wire::kBlockHeaderSize + data.size());
    std::copy(data.begin(), data.end(), payload.begin() + wire::kBlockHeaderSize);
    std::vector<std::uint8_t> wireBuf(wire::kMaxWireFrame);
    std::vector<std::uint8_t> rx(2 * wire::kMaxWireFrame);
    std::vector<std::uint8_t> frame;
    CFrameDecoder decoder;
    DecodedFrame f;

    constexpr int kFrames = 20000;
    std::size_t wireBytes = 0;
    int good = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
        const std::size_t n = BuildFrame(wire::cmd::kData, payload, wireBuf);
        wireBytes += n;
        std::copy_n(wireBuf.begin(), n, rx.begin());
        std::size_t fill = n;
        if (CutFrame(rx.data(), fill, frame) == CutResult::kFrame && decoder.Decode(frame, f) == FrameError::kNone)
            ++good;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double fileMB = static_cast<double>(data.size()) * kFrames / 1e6;
    std::printf("%-22s %8.0f frames/s  %7.1f MB/s of file data  %7.1f MB/s on the wire  (%d/%d good)\n", label,
                kFrames / s, fileMB / s, static_cast<double>(wireBytes) / 1e6 / s, good, kFrames);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = HandleStandardOptions(
            argc, argv, "bench_frames",
            "usage: bench_frames\n"
            "Prints frames built, cut and handled per second for 1960-byte blocks.\n"))
        return *done;
    std::mt19937 rng(1);
    std::vector<std::uint8_t> ordinary(wire::kBlockSize);
    for (auto& b : ordinary) b = static_cast<std::uint8_t>(rng());
    Run("1960-byte block", ordinary);
    Run("1960 bytes of '$'", std::vector<std::uint8_t>(wire::kBlockSize, wire::kDollar));
    return 0;
}
