#include "protocol/frame.h"

#include <algorithm>
#include <cstring>

#include "protocol/fcs16.h"

namespace dorvane {
namespace {

using namespace wire;

// Writes version, command, length, payload and check field (plain) into
// `staging`; returns its length (13 + N).
std::size_t Stage(std::uint8_t command, std::span<const std::uint8_t> payload, std::uint32_t version,
                  std::uint8_t* staging) {
    const std::size_t n = payload.size();
    PutU32(staging, version);
    staging[4] = command;
    PutU32(staging + 5, static_cast<std::uint32_t>(n + kFrameOverhead));
    if (n) std::memcpy(staging + kCheckedHeaderSize, payload.data(), n);
    const std::uint16_t fcs = Fcs16({staging, kCheckedHeaderSize + n});
    std::uint8_t* check = staging + kCheckedHeaderSize + n;
    PutU16(check, fcs);
    check[2] = check[3] = 0;
    return kCheckedHeaderSize + n + kCheckFieldSize;
}

// Length of the unbroken run of `$` ending just before `pos`, not reaching
// below `floor`.
std::size_t DollarRunBefore(const std::uint8_t* buf, std::size_t pos, std::size_t floor) {
    std::size_t run = 0;
    while (pos > floor && buf[pos - 1] == kDollar) {
        --pos;
        ++run;
    }
    return run;
}

}  // namespace

std::size_t BuildFrame(std::uint8_t command, std::span<const std::uint8_t> payload,
                       std::span<std::uint8_t> out, std::uint32_t version) {
    if (payload.size() > kMaxPayload) return 0;
    const std::size_t needed = 2 * (payload.size() + kPayloadOffset) + kEndMarker.size() + kStartMarker.size();
    if (out.size() < std::min(needed, kMaxWireFrame)) return 0;
    std::uint8_t staging[kFrameAreaSize];
    const std::size_t staged = Stage(command, payload, version, staging);

    std::uint8_t* o = out.data();
    std::memcpy(o, kStartMarker.data(), kStartMarker.size());
    std::size_t m = kStartMarker.size();
    for (std::size_t i = 0; i < staged; ++i) {
        o[m++] = staging[i];
        if (staging[i] == kDollar) o[m++] = kDollar;
    }
    std::memcpy(o + m, kEndMarker.data(), kEndMarker.size());
    return m + kEndMarker.size();
}

std::size_t BuildFixedFrame(std::uint8_t command, std::span<const std::uint8_t> payload,
                            std::span<std::uint8_t> out) {
    constexpr std::size_t kMaxFixedPayload = 4;
    if (payload.size() > kMaxFixedPayload) return 0;
    const std::size_t len = payload.size() + kFrameOverhead;
    if (out.size() < len) return 0;
    std::uint8_t* o = out.data();
    std::memcpy(o, kStartMarker.data(), kStartMarker.size());
    Stage(command, payload, 0, o + kStartMarker.size());
    std::memcpy(o + len - kEndMarker.size(), kEndMarker.data(), kEndMarker.size());
    return len;
}

CutResult CutFrame(std::uint8_t* buf, std::size_t& fill, std::vector<std::uint8_t>& frame) {
    if (fill < kCutterKeep) return CutResult::kNoStart;

    // Start marker: accepted at 0, or after an even run of `$`.
    std::size_t start = fill;
    for (std::size_t i = 0; i + kCutterKeep <= fill; ++i) {
        if (std::memcmp(buf + i, kStartMarker.data(), kStartMarker.size()) != 0) continue;
        if (i == 0 || DollarRunBefore(buf, i, 0) % 2 == 0) {
            start = i;
            break;
        }
    }
    if (start == fill) {
        std::memmove(buf, buf + fill - kCutterKeep, kCutterKeep);
        fill = kCutterKeep;
        return CutResult::kNoStart;
    }

    // End marker: after an even run of `$` that does not reach back to the start.
    for (std::size_t j = start; j + kEndMarker.size() <= fill; ++j) {
        if (buf[j] != kEndMarker[0] || buf[j + 1] != kEndMarker[1]) continue;
        if (DollarRunBefore(buf, j, start + 1) % 2 != 0) continue;
        const std::size_t end = j + kEndMarker.size();
        frame.assign(buf + start, buf + end);
        std::memmove(buf, buf + end, fill - end);
        fill -= end;
        return CutResult::kFrame;
    }
    return CutResult::kNoEnd;
}

FrameError CFrameDecoder::Decode(std::span<const std::uint8_t> wireBytes, DecodedFrame& out) {
    // Undouble everything between the markers: after a kept `$`, one directly
    // following `$` is skipped. The markers themselves are lone `$`s.
    const std::size_t markers = kStartMarker.size() + kEndMarker.size();
    if (wireBytes.size() < kFixedFrameNoPayload) return FrameError::kTooShort;
    const std::uint8_t* p = wireBytes.data() + kStartMarker.size();
    const std::size_t inner = wireBytes.size() - markers;
    std::size_t u = 0;
    bool afterDollar = false;
    for (std::size_t i = 0; i < inner; ++i) {
        const std::uint8_t b = p[i];
        if (afterDollar && b == kDollar) {
            afterDollar = false;
            continue;
        }
        if (u == sizeof area_) return FrameError::kTooLong;
        area_[u++] = b;
        afterDollar = (b == kDollar);
    }
    length_ = u;
    const std::size_t plain = u + markers;
    if (u < kCheckedHeaderSize + kCheckFieldSize) return FrameError::kTooShort;
    if (GetU32(area_ + 5) != plain) return FrameError::kLengthMismatch;
    // The register over header, payload and the two CRC bytes ends at the good residue.
    const std::size_t checked = u - 2;
    if (FcsUpdate(kFcsInit, {area_, checked}) != kFcsGood) return FrameError::kBadCheck;

    out.version = GetU32(area_);
    out.command = area_[4];
    out.length = static_cast<std::uint32_t>(plain);
    out.payload = {area_ + kCheckedHeaderSize, u - kCheckedHeaderSize - kCheckFieldSize};
    return FrameError::kNone;
}

}  // namespace dorvane
