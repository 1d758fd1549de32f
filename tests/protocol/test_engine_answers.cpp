// Rows the other engine tests do not hold: `$` doubling in the length and
// check fields, the window answers with unusual statuses, the positive answer
// to a complete window, and a request asked for while waiting.

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/fcs16.h"
#include "protocol/frame.h"
#include "protocol/protocol_stp10.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace wire;

constexpr std::uint8_t kDollar = 0x24;

Bytes Frame(std::uint8_t command, const Bytes& payload) {
    Bytes out(kMaxWireFrame);
    out.resize(BuildFrame(command, payload, out));
    return out;
}

// Feeds one frame to the engine as if it had just arrived.
void Feed(CProtocol_STP10& e, Bytes frame) {
    std::size_t fill = frame.size();
    e.CutFrames(frame.data(), fill);
}

Bytes BlockList(std::initializer_list<std::uint8_t> head,
                const std::vector<std::uint32_t>& blocks) {
    Bytes p(head);
    for (std::uint32_t b : blocks) {
        p.resize(p.size() + 4);
        PutU32(p.data() + p.size() - 4, b);
    }
    return p;
}

TEST(EngineAnswers, DollarInTheLengthAndCheckFieldsIsDoubled) {
    // A payload whose check value holds a '$' byte (found by search).
    Bytes crcDollar;
    for (unsigned v = 0; v < 0x10000 && crcDollar.empty(); ++v) {
        const Bytes p = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
        Bytes plain = {0, 0, 0, 0, cmd::kData, static_cast<std::uint8_t>(p.size() + kFrameOverhead),
                       0, 0, 0};
        plain.insert(plain.end(), p.begin(), p.end());
        const std::uint16_t fcs = Fcs16(plain);
        if ((fcs & 0xFF) == kDollar || (fcs >> 8) == kDollar) crcDollar = p;
        if (std::count(p.begin(), p.end(), kDollar) != 0) crcDollar.clear();
    }
    ASSERT_FALSE(crcDollar.empty());
    struct Row {
        const char* what;
        Bytes payload;
    };
    const Row rows[] = {
        // 17 payload bytes: the frame length 36 is '$'.
        {"length field", Bytes(kDollar - kFrameOverhead, 0x11)},
        {"check field", crcDollar},
        {"length and payload", Bytes(kDollar - kFrameOverhead, kDollar)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes wire = Frame(cmd::kData, row.payload);
        // Plain frame: header, payload, check field; every '$' among them twice.
        Bytes plain = {0, 0, 0, 0, cmd::kData, 0, 0, 0, 0};
        PutU32(plain.data() + 5, static_cast<std::uint32_t>(row.payload.size() + kFrameOverhead));
        plain.insert(plain.end(), row.payload.begin(), row.payload.end());
        const std::uint16_t fcs = Fcs16(plain);
        plain.insert(plain.end(),
                     {static_cast<std::uint8_t>(fcs), static_cast<std::uint8_t>(fcs >> 8), 0, 0});
        Bytes expected = {'$', 'V', 'I', 'I'};
        for (std::uint8_t b : plain) {
            expected.push_back(b);
            if (b == kDollar) expected.push_back(b);
        }
        expected.insert(expected.end(), {'$', '\r'});
        EXPECT_EQ(wire, expected);
        CFrameDecoder dec;
        DecodedFrame f;
        ASSERT_EQ(dec.Decode(wire, f), FrameError::kNone);
        EXPECT_EQ(f.command, cmd::kData);
        EXPECT_EQ(Bytes(f.payload.begin(), f.payload.end()), row.payload);
    }
}

TEST(EngineAnswers, BuildNextRequestWhileWaitingSendsNothing) {
    CProtocol_STP10 e;
    CMemStream s;
    e.BeginOperation(cmd::kFetch, &s, "F");
    e.SetState(ProtocolState::kReady);
    Bytes buf(kMaxWireFrame);
    std::size_t len = 0;
    ASSERT_GT(e.BuildNextRequest(buf, len), 0u);
    ASSERT_EQ(e.GetState(), ProtocolState::kWaiting);
    const std::uint32_t requests = e.RequestCount();
    EXPECT_EQ(e.BuildNextRequest(buf, len), 0u);
    EXPECT_EQ(e.RequestCount(), requests);
    EXPECT_EQ(e.GetState(), ProtocolState::kWaiting);
}

// An upload of 40 blocks after its first window of 16: the engine waits for
// the handheld's window answer.
struct UploadAfterFirstWindow {
    CProtocol_STP10 e;
    CMemStream s;
    Bytes buf = Bytes(kMaxWireFrame);
    std::size_t len = 0;

    UploadAfterFirstWindow() {
        s.Assign(Bytes(39 * kBlockSize + 7, 0x42));
        e.BeginOperation(cmd::kUpload, &s, "UP.BIN");
        e.SetState(ProtocolState::kReady);
        while (e.GetState() == ProtocolState::kReady) e.BuildNextRequest(buf, len);
    }

    // Sends the next window; returns the block numbers its query lists.
    std::vector<std::uint32_t> NextWindowQuery() {
        while (e.GetState() == ProtocolState::kReady) e.BuildNextRequest(buf, len);
        CFrameDecoder dec;
        DecodedFrame f;
        if (dec.Decode({buf.data(), len}, f) != FrameError::kNone || f.command != cmd::kWindow)
            return {};
        const std::int16_t n = GetI16(f.payload.data() + 2);
        std::vector<std::uint32_t> out;
        for (std::int16_t i = 0; i < n; ++i) out.push_back(GetU32(f.payload.data() + 4 + 4 * i));
        return out;
    }
};

TEST(EngineAnswers, WindowAnswersWhileSending) {
    struct Row {
        const char* what;
        Bytes answer;
        ProtocolState state;
        std::int16_t error;
    };
    const Row rows[] = {
        {"1 with -1 before every block was sent: all sent count as received, still waiting",
         Frame(cmd::kAck, {cmd::kWindow, 0, 0xFF, 0xFF}), ProtocolState::kWaiting, 0},
        {"1 with status 2 is ignored", Frame(cmd::kAck, {cmd::kWindow, 2, 0, 0}),
         ProtocolState::kWaiting, 0},
        {"2 with status 2 is ignored", Frame(cmd::kNak, BlockList({cmd::kWindow, 2, 1, 0}, {3})),
         ProtocolState::kWaiting, 0},
        {"2 with status 1 fails with its code",
         Frame(cmd::kNak, {cmd::kWindow, kStatusFailed, 7, 0}), ProtocolState::kFailed, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        UploadAfterFirstWindow up;
        ASSERT_EQ(up.e.GetState(), ProtocolState::kWaiting);
        Feed(up.e, row.answer);
        EXPECT_EQ(up.e.GetState(), row.state);
        EXPECT_EQ(up.e.GetDeviceError(), row.error);
    }
    // After the early -1 the first window counts as received: the next
    // window's query lists only the blocks of the second window.
    UploadAfterFirstWindow up;
    Feed(up.e, Frame(cmd::kAck, {cmd::kWindow, 0, 0xFF, 0xFF}));
    Feed(up.e, Frame(cmd::kAck, {cmd::kWindow, 0, 0, 0}));
    ASSERT_EQ(up.e.GetState(), ProtocolState::kReady);
    const std::vector<std::uint32_t> listed = up.NextWindowQuery();
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.front(), kWindowSize) << "blocks 0..15 are no longer listed";
    EXPECT_TRUE(std::all_of(listed.begin(), listed.end(),
                            [](std::uint32_t b) { return b >= kWindowSize; }));
}

// Receiving: a 40-block file whose blocks `received` came in, then the
// handheld's window end; returns the frame the engine sends next.
Bytes AnswerToWindowEnd(const std::vector<std::uint32_t>& received, const Bytes& windowEnd) {
    CProtocol_STP10 e;
    CMemStream s;
    const std::uint32_t total = 39 * kBlockSize + 5;
    e.BeginOperation(cmd::kFetch, &s, "F");
    e.SetState(ProtocolState::kReady);
    Bytes buf(kMaxWireFrame);
    std::size_t len = 0;
    e.BuildNextRequest(buf, len);
    for (std::uint32_t n : received) {
        Bytes p(kBlockHeaderSize + kBlockSize, 1);
        PutU32(p.data(), total);
        PutU16(p.data() + 4, kBlockSize);
        PutU16(p.data() + 6, 40);
        PutU32(p.data() + 8, n);
        PutU32(p.data() + 12, n * kBlockSize);
        Feed(e, Frame(cmd::kData, p));
    }
    Feed(e, Frame(cmd::kWindow, windowEnd));
    if (e.GetState() != ProtocolState::kReady) return {};
    if (e.BuildNextRequest(buf, len) == 0) return {};
    return Bytes(buf.begin(), buf.begin() + static_cast<long>(len));
}

TEST(EngineAnswers, WindowEndsWhileReceiving) {
    std::vector<std::uint32_t> window;
    for (std::uint32_t n = 0; n < kWindowSize; ++n) window.push_back(n);
    const Bytes listed =
        BlockList({cmd::kData, 0, static_cast<std::uint8_t>(kWindowSize), 0}, window);
    Bytes failedStatus = listed;
    failedStatus[1] = 1;
    struct Row {
        const char* what;
        std::vector<std::uint32_t> received;
        Bytes windowEnd;
        Bytes expected;
    };
    const Row rows[] = {
        {"every listed block arrived: 1 with the same list", window, listed,
         Frame(cmd::kAck,
               BlockList({cmd::kWindow, 0, static_cast<std::uint8_t>(kWindowSize), 0}, window))},
        {"a non-zero status prepares nothing: the request goes again", window, failedStatus,
         Frame(cmd::kFetch, {'F', 0})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(AnswerToWindowEnd(row.received, row.windowEnd), row.expected);
    }
}

}  // namespace
}  // namespace dorvane
