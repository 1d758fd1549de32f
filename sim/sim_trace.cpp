#include "sim/sim_trace.h"

#include <algorithm>

#include "protocol/wire.h"

namespace dorvane {

using namespace wire;

namespace {

// Block numbers shown per window line before "...".
constexpr std::size_t kListShown = 20;
// Printable ASCII range shown as is.
constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kLastPrintable = 0x7E;

std::string Hex2(std::uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 0xF]};
}

std::string NameField(std::span<const std::uint8_t> p) {
    const auto zero = std::find(p.begin(), p.end(), 0);
    return "name=\"" + QuoteBytes(std::string(p.begin(), zero)) + "\"";
}

std::string BlockHeader(std::span<const std::uint8_t> h) {
    if (h.size() < kBlockHeaderSize) return "short block (" + std::to_string(h.size()) + " bytes)";
    return "block " + std::to_string(GetU32(h.data() + kBlockNumberOffset)) + "/" +
           std::to_string(GetI16(h.data() + kBlockCountOffset)) +
           " bytes=" + std::to_string(GetU16(h.data() + kBlockBytesOffset)) +
           " total=" + std::to_string(GetU32(h.data() + kBlockTotalOffset)) +
           " offset=" + std::to_string(GetU32(h.data() + kBlockFileOffset));
}

// [first][status][i16 value][u32 list...]
std::string WindowFields(std::span<const std::uint8_t> p) {
    std::string s = "re=" + std::to_string(p[0]);
    if (p.size() < kAnswerListOffset) return s;
    const std::int16_t value = GetI16(p.data() + kAnswerValueOffset);
    s += " status=" + std::to_string(p[kAnswerStatusOffset]) + " value=" + std::to_string(value);
    if (value > 0) {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(value),
                                                    (p.size() - kAnswerListOffset) / 4);
        s += " list=[";
        for (std::size_t i = 0; i < n && i < kListShown; ++i) {
            if (i) s += ',';
            s += std::to_string(GetU32(p.data() + kAnswerListOffset + 4 * i));
        }
        if (n > kListShown) s += ",...";
        s += ']';
    }
    return s;
}

}  // namespace

const char* FrameErrorName(FrameError e) {
    switch (e) {
        case FrameError::kNone:
            return "ok";
        case FrameError::kTooShort:
            return "short";
        case FrameError::kTooLong:
            return "long";
        case FrameError::kLengthMismatch:
            return "length";
        case FrameError::kBadCheck:
            return "check";
    }
    return "?";
}

std::string QuoteBytes(std::string_view bytes) {
    std::string s;
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= kFirstPrintable && b <= kLastPrintable && c != '"' && c != '\\')
            s += c;
        else
            s += "\\x" + Hex2(b);
    }
    return s;
}

std::string DescribePayload(std::uint8_t command, std::span<const std::uint8_t> p) {
    switch (command) {
        case cmd::kHandshake:
            return "handshake";
        case cmd::kAck:
        case cmd::kNak:
            if (p.empty()) return "empty answer";
            return WindowFields(p);
        case cmd::kWindow:
            if (p.empty()) return "empty window";
            if (p[0] == kCloseByte) return "close";
            return "window " + WindowFields(p);
        case cmd::kFetch:
        case cmd::kFetchEx:
            return "fetch " + NameField(p);
        case cmd::kDelete:
        case cmd::kDeleteEx:
        case cmd::kDeleteEx2:
            return "delete " + NameField(p);
        case cmd::kList:
            return "list";
        case cmd::kListEx:
            return "list " + NameField(p);
        case cmd::kData:
        case cmd::kListData:
        case cmd::kListExData:
            return BlockHeader(p);
        case cmd::kUpload: {
            const auto zero = std::find(p.begin(), p.end(), 0);
            if (zero == p.end()) return "upload without name";
            return "upload " + NameField(p) + " " +
                   BlockHeader(p.subspan(static_cast<std::size_t>(zero - p.begin()) + 1));
        }
        case cmd::kFeatures:
        case cmd::kIdentity:
            return p.size() >= 4 ? "arg=" + std::to_string(GetU32(p.data())) : "no argument";
        case cmd::kFeaturesAnswer:
            return "features " + std::to_string(p.size()) + " bytes";
        case cmd::kIdentityAnswer:
            return p.size() >= 4 ? "kind=" + std::to_string(p[0]) + " text=\"" +
                                       QuoteBytes(std::string(p.begin() + 4, p.end())) + "\""
                                 : "short identity";
        default:
            return std::to_string(p.size()) + " bytes";
    }
}

}  // namespace dorvane
