#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "protocol/fcs16.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t cmd, const Bytes& payload, std::uint32_t version = 0) {
    Bytes out(wire::kMaxWireFrame);
    out.resize(BuildFrame(cmd, payload, out, version));
    return out;
}

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Cuts and decodes everything in `stream`, fed in pieces of the given sizes
// (the rest in one piece). Returns the payloads of the good frames.
struct Received {
    std::vector<std::uint8_t> commands;
    std::vector<Bytes> payloads;
    std::vector<FrameError> rejected;
};

Received FeedAll(const Bytes& stream, std::size_t chunk) {
    Received r;
    std::vector<std::uint8_t> buf(2 * wire::kMaxWireFrame + 64);
    std::size_t fill = 0;
    CFrameDecoder decoder;
    Bytes frame;
    std::size_t pos = 0;
    while (pos < stream.size()) {
        const std::size_t n = std::min(chunk ? chunk : stream.size(), stream.size() - pos);
        std::copy_n(stream.begin() + static_cast<long>(pos), n, buf.begin() + static_cast<long>(fill));
        fill += n;
        pos += n;
        while (CutFrame(buf.data(), fill, frame) == CutResult::kFrame) {
            DecodedFrame f;
            const FrameError e = decoder.Decode(frame, f);
            if (e == FrameError::kNone) {
                r.commands.push_back(f.command);
                r.payloads.emplace_back(f.payload.begin(), f.payload.end());
            } else {
                r.rejected.push_back(e);
            }
        }
    }
    return r;
}

TEST(Frame, HandshakeMatchesTheWorkedExample) {
    const Bytes expected = {0x24, 0x56, 0x49, 0x49, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x13,
                            0x00, 0x00, 0x00, 0xD1, 0xA2, 0x00, 0x00, 0x24, 0x0D};
    EXPECT_EQ(Frame(wire::cmd::kHandshake, {}), expected);
    Bytes fixed(32);
    fixed.resize(BuildFixedFrame(wire::cmd::kHandshake, {}, fixed));
    EXPECT_EQ(fixed, expected);
}

TEST(Frame, DollarsAreDoubledBetweenTheMarkersOnly) {
    const Bytes f = Frame(87, {0x24, 0x24});
    // 19 plain bytes + 2 payload bytes, each `$` sent twice.
    EXPECT_EQ(f.size(), 19u + 4u);
    EXPECT_EQ(f[13], 0x24);
    EXPECT_EQ(f[16], 0x24);
    EXPECT_EQ(wire::GetU32(f.data() + 9), 21u);  // the plain length
}

TEST(Frame, BuilderRejectsOversizedPayloadsAndSmallBuffers) {
    Bytes big(wire::kMaxPayload + 1, 0x41);
    Bytes out(wire::kMaxWireFrame);
    EXPECT_EQ(BuildFrame(87, big, out), 0u);
    big.pop_back();
    EXPECT_GT(BuildFrame(87, big, out), 0u);
    Bytes tiny(10);
    EXPECT_EQ(BuildFrame(87, {}, tiny), 0u);
    EXPECT_EQ(BuildFixedFrame(3, Bytes(5), out), 0u);
}

TEST(Frame, CutterTable) {
    const Bytes good = Frame(1, {255});
    Bytes badCheck = good;
    badCheck[13] ^= 0x01;
    Bytes badLength = Frame(1, {255, 7});
    badLength[9] = 0x30;  // claims 48 bytes
    // Recompute nothing: the length disagrees (and so does the check).
    struct Row {
        const char* what;
        Bytes stream;
        std::size_t frames;
        std::size_t rejected;
    };
    const Row rows[] = {
        {"one frame", good, 1, 0},
        {"garbage before", Cat({Str("xx\r\n$V"), good}), 1, 0},
        {"two frames back to back", Cat({good, good}), 2, 0},
        {"payload holds a start marker", Frame(87, Str("$VII$VII")), 1, 0},
        {"payload holds an end marker", Frame(87, Str("ab$\r$\rcd")), 1, 0},
        {"payload ends in $", Frame(87, Str("abc$")), 1, 0},
        {"payload all $", Frame(87, Bytes(300, 0x24)), 1, 0},
        {"wrong check value", badCheck, 0, 1},
        {"wrong length field", badLength, 0, 1},
        {"bad then good", Cat({badCheck, good}), 1, 1},
        {"no start marker", Str("hello world, no frame here at all"), 0, 0},
        {"truncated frame", Bytes(good.begin(), good.end() - 1), 0, 0},
    };
    for (const auto& row : rows) {
        for (std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
            const Received r = FeedAll(row.stream, chunk);
            EXPECT_EQ(r.payloads.size(), row.frames) << row.what << " chunk " << chunk;
            EXPECT_EQ(r.rejected.size(), row.rejected) << row.what << " chunk " << chunk;
        }
    }
}

TEST(Frame, CutterBufferRules) {
    Bytes frame;
    // Fewer than 5 bytes: unchanged.
    std::uint8_t four[4] = {'$', 'V', 'I', 'I'};
    std::size_t fill = 4;
    EXPECT_EQ(CutFrame(four, fill, frame), CutResult::kNoStart);
    EXPECT_EQ(fill, 4u);
    // 100 bytes without a start marker shrink to the last 5.
    Bytes junk(100);
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>('a' + i % 26);
    fill = junk.size();
    EXPECT_EQ(CutFrame(junk.data(), fill, frame), CutResult::kNoStart);
    EXPECT_EQ(fill, 5u);
    EXPECT_EQ(junk[0], static_cast<std::uint8_t>('a' + 95 % 26));
    // A start marker without an end: unchanged, result 2.
    Bytes partial = Frame(1, {255});
    partial.resize(partial.size() - 2);
    fill = partial.size();
    EXPECT_EQ(CutFrame(partial.data(), fill, frame), CutResult::kNoEnd);
    EXPECT_EQ(fill, partial.size());
    // Two frames: 1, 1, then 0 or 2.
    Bytes two = Cat({Frame(1, {255}), Frame(2, {55, 0, 1, 0})});
    fill = two.size();
    EXPECT_EQ(CutFrame(two.data(), fill, frame), CutResult::kFrame);
    EXPECT_EQ(CutFrame(two.data(), fill, frame), CutResult::kFrame);
    EXPECT_EQ(fill, 0u);
    EXPECT_EQ(CutFrame(two.data(), fill, frame), CutResult::kNoStart);
}

TEST(Frame, DecoderRejectsFramesThatWouldOverrunTheReceiveArea) {
    // A "frame" of 5000 payload bytes between valid markers.
    Bytes huge = Cat({Bytes(wire::kStartMarker.begin(), wire::kStartMarker.end()), Bytes(5000, 0x41),
                      Bytes(wire::kEndMarker.begin(), wire::kEndMarker.end())});
    CFrameDecoder d;
    DecodedFrame f;
    EXPECT_EQ(d.Decode(huge, f), FrameError::kTooLong);
    EXPECT_EQ(d.Decode(Bytes{0x24, 0x56, 0x49, 0x49, 0x24, 0x0D}, f), FrameError::kTooShort);
}

// Every payload survives building, garbage around it and every split point.
TEST(Frame, RoundTripsAtEveryReadBoundary) {
    std::mt19937 rng(20261208);
    std::vector<Bytes> payloads = {Bytes(64, 0x24), Str("$VII"), Str("$\r"), Str("$$VII$$\r$"), {}};
    Bytes every(256);
    for (int i = 0; i < 256; ++i) every[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    payloads.push_back(every);
    for (std::size_t len : {std::size_t{1}, std::size_t{100}, std::size_t{1976}, wire::kMaxPayload}) {
        Bytes p(len);
        for (auto& b : p) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0x24 : rng());
        payloads.push_back(p);
    }
    const Bytes garbage = Str("\x01\x02junk\r\n");
    for (const Bytes& p : payloads) {
        const Bytes stream = Cat({garbage, Frame(87, p), garbage, Frame(3, p), garbage});
        // Splitting at every boundary of large frames is quadratic; sample them.
        const std::size_t step = stream.size() > 600 ? stream.size() / 97 : 1;
        for (std::size_t split = 1; split < stream.size(); split += step) {
            const Received r = FeedAll(stream, split);
            ASSERT_EQ(r.payloads.size(), 2u) << "payload " << p.size() << " split " << split;
            EXPECT_EQ(r.payloads[0], p);
            EXPECT_EQ(r.payloads[1], p);
            EXPECT_TRUE(r.rejected.empty());
        }
    }
}

TEST(Frame, VersionFieldTravels) {
    const Received r = FeedAll(Frame(1, {255}, 0x01020304), 0);
    ASSERT_EQ(r.payloads.size(), 1u);
    CFrameDecoder d;
    DecodedFrame f;
    ASSERT_EQ(d.Decode(Frame(1, {255}, 0x01020304), f), FrameError::kNone);
    EXPECT_EQ(f.version, 0x01020304u);
    EXPECT_EQ(f.length, 20u);
}

}  // namespace
}  // namespace dorvane
