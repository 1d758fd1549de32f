// libFuzzer target: the frame cutter, the frame decoder and the protocol
// engine's receive path on any byte stream, delivered in reads of varying
// size as the link's reader thread hands them over.
//
// Input layout (so that the fuzzer reaches the engine with frames whose
// check value is right, not only with noise):
//   byte 0   operation of the engine's job (picked from kOperations)
//   byte 1   seed for the read sizes and the size of a file to send
//   then records, each starting with a tag byte t:
//     t & 0x80   a frame: command byte, u16 payload length (cut to what is
//                left and to the largest payload), payload; built with the
//                general builder; t & 0x40 flips one byte of the result
//     otherwise  t & 0x7F raw bytes taken as they stand (garbage, halves of
//                frames, doubled markers)
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/mem_stream.h"
#include "protocol/protocol_stp10.h"
#include "protocol/wire.h"

namespace {

using namespace dorvane;

// The operations the document starts: fetch, fetch (extended), listing,
// delete, upload, handshake only.
constexpr std::array<std::uint8_t, 6> kOperations = {
    wire::cmd::kFetch, wire::cmd::kFetchEx, wire::cmd::kList,
    wire::cmd::kDelete, wire::cmd::kUpload, wire::cmd::kHandshakeOnly};

// Receive area of the transport worker (two frame areas), refilled from
// empty when a stream never forms a frame.
constexpr std::size_t kReceiveArea = 2 * wire::kFrameAreaSize;
// Largest single read handed over.
constexpr std::size_t kMaxRead = 1024;
// Largest file the upload job sends (bytes).
constexpr std::size_t kMaxUpload = 6 * wire::kBlockSize;
// A received file can never be larger than the block count allows.
constexpr std::uint64_t kMaxReceived =
    static_cast<std::uint64_t>(wire::kMaxBlockCount) * wire::kBlockSize;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// Small deterministic generator for read sizes (xorshift32).
struct Splitter {
    std::uint32_t s;
    std::size_t Next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        // Mostly short reads, now and then a long one.
        return (s & 3) == 0 ? 1 + (s >> 8) % kMaxRead : 1 + (s >> 8) % 16;
    }
};

std::vector<std::uint8_t> AssembleStream(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> frame(wire::kMaxWireFrame);
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t tag = data[pos++];
        if (tag & 0x80) {
            if (size - pos < 3) break;
            const std::uint8_t command = data[pos];
            std::size_t n = static_cast<std::size_t>(data[pos + 1]) | (static_cast<std::size_t>(data[pos + 2]) << 8);
            pos += 3;
            n = std::min({n, size - pos, wire::kMaxPayload});
            const std::size_t len = BuildFrame(command, std::span(data + pos, n), frame);
            pos += n;
            Check(len > 0 && len <= wire::kMaxWireFrame);
            if (tag & 0x40) frame[(tag & 0x3F) % len] ^= 0x5A;
            out.insert(out.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(len));
        } else {
            const std::size_t n = std::min<std::size_t>(tag & 0x7F, size - pos);
            out.insert(out.end(), data + pos, data + pos + n);
            pos += n;
        }
    }
    return out;
}

// The cutter and decoder alone: every frame cut must lie between markers,
// and every decoded frame must agree with its length field.
void CutAndDecode(const std::vector<std::uint8_t>& stream, std::uint32_t seed) {
    std::vector<std::uint8_t> area(kReceiveArea);
    std::size_t fill = 0;
    std::vector<std::uint8_t> frame;
    CFrameDecoder decoder;
    Splitter split{seed | 1};
    std::size_t pos = 0;
    while (pos < stream.size()) {
        const std::size_t n = std::min(split.Next(), stream.size() - pos);
        if (fill + n > kReceiveArea - 1) fill = 0;
        std::memcpy(area.data() + fill, stream.data() + pos, n);
        fill += n;
        pos += n;
        for (;;) {
            const std::size_t before = fill;
            const CutResult r = CutFrame(area.data(), fill, frame);
            Check(fill <= before);
            if (r == CutResult::kNoStart) Check(fill <= kCutterKeep);
            if (r == CutResult::kNoEnd) Check(fill == before);
            if (r != CutResult::kFrame) break;
            Check(frame.size() >= wire::kStartMarker.size() + wire::kEndMarker.size());
            Check(std::equal(wire::kStartMarker.begin(), wire::kStartMarker.end(), frame.begin()));
            Check(std::equal(wire::kEndMarker.begin(), wire::kEndMarker.end(),
                             frame.end() - static_cast<std::ptrdiff_t>(wire::kEndMarker.size())));
            DecodedFrame f;
            if (decoder.Decode(frame, f) == FrameError::kNone) {
                Check(f.length == f.payload.size() + wire::kFrameOverhead);
                Check(f.payload.size() <= wire::kMaxPayload);
            }
        }
    }
}

// The engine running one job after another over the same stream, as the
// worker drives it: cut every whole frame after each read, send the next
// request when the state says ready, start the next job on completion or
// failure.
void RunEngine(const std::vector<std::uint8_t>& stream, std::uint8_t opIndex, std::uint32_t seed) {
    CProtocol_STP10 engine;
    CMemStream file;
    const std::uint8_t op = kOperations[opIndex % kOperations.size()];
    std::vector<std::uint8_t> upload((seed * 2654435761u) % (kMaxUpload + 1));
    for (std::size_t i = 0; i < upload.size(); ++i) upload[i] = static_cast<std::uint8_t>(i * 7 + seed);

    std::vector<std::uint8_t> out(wire::kMaxWireFrame);
    auto startJob = [&] {
        file.Clear();
        if (op == wire::cmd::kUpload) file.Assign(upload);
        engine.BeginOperation(op, &file, "A0601.txt");
        engine.SetState(ProtocolState::kReady);
        std::size_t len = 0;
        engine.BuildHandshake(out, len);
        Check(len > 0 && len <= out.size());
    };
    startJob();

    std::vector<std::uint8_t> area(kReceiveArea);
    std::size_t fill = 0;
    Splitter split{seed * 31u + 7u};
    std::size_t pos = 0;
    int jobs = 0;
    while (pos < stream.size() && jobs < 64) {
        const std::size_t n = std::min(split.Next(), stream.size() - pos);
        if (fill + n > kReceiveArea - 1) fill = 0;
        std::memcpy(area.data() + fill, stream.data() + pos, n);
        fill += n;
        pos += n;
        while (engine.CutFrames(area.data(), fill) == CutResult::kFrame) {
            Check(fill < kReceiveArea);
            if (engine.GetState() == ProtocolState::kFailed) break;
        }
        switch (engine.GetState()) {
            case ProtocolState::kReady: {
                std::size_t len = 0;
                const std::size_t r = engine.BuildNextRequest(out, len);
                Check(r == len && len <= out.size());
                break;
            }
            case ProtocolState::kWaiting:
                break;
            case ProtocolState::kComplete:
                Check(file.Size() <= kMaxReceived);
                if (op == wire::cmd::kUpload) Check(file.Bytes() == upload);
                ++jobs;
                startJob();
                break;
            case ProtocolState::kFailed:
                ++jobs;
                startJob();
                break;
            default:
                Check(false);
        }
    }
    std::size_t len = 0;
    engine.BuildCancel(out, len);
    Check(len > 0 && len <= out.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t opIndex = data[0];
    const std::uint32_t seed = data[1] + 1u;
    const auto stream = AssembleStream(data + 2, size - 2);
    CutAndDecode(stream, seed);
    RunEngine(stream, opIndex, seed);
    return 0;
}
