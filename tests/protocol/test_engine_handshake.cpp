// The handheld's answers to the handshake, and its "2, status 0, -1" window
// answer while the computer sends: each fed to the engine as the bytes of a
// frame arriving on the wire, in the state the engine is in at that moment.

#include <gtest/gtest.h>

#include <functional>

#include "protocol/frame.h"
#include "protocol/protocol_stp10.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace wire;

Bytes Frame(std::uint8_t command, const Bytes& payload, std::uint32_t version = 0) {
    Bytes out(kMaxWireFrame);
    out.resize(BuildFrame(command, payload, out, version));
    return out;
}

void Feed(CProtocol_STP10& e, Bytes frame) {
    std::size_t fill = frame.size();
    e.CutFrames(frame.data(), fill);
}

/// One engine in the middle of a run.
struct Engine {
    CProtocol_STP10 e;
    CMemStream s;
    Bytes buf = Bytes(kMaxWireFrame);
    std::size_t len = 0;

    /// The run's handshake has just gone out (only answer 1 is expected).
    static void AfterHandshake(Engine& x, std::uint8_t op) {
        x.e.BeginOperation(op, &x.s, "F.TXT");
        x.e.SetState(ProtocolState::kReady);
        x.e.BuildHandshake(x.buf, x.len);
    }
    /// A fetch request has gone out (87, 148 and 2 are expected).
    static void AfterFetchRequest(Engine& x) {
        x.e.BeginOperation(cmd::kFetch, &x.s, "F.TXT");
        x.e.SetState(ProtocolState::kReady);
        x.e.BuildNextRequest(x.buf, x.len);
    }
    /// An upload of 40 blocks has sent its first window and its query (1 and 2 expected).
    static void AfterWindowQuery(Engine& x) {
        x.s.Assign(Bytes(39 * kBlockSize + 7, 0x42));
        x.e.BeginOperation(cmd::kUpload, &x.s, "UP.BIN");
        x.e.SetState(ProtocolState::kReady);
        while (x.e.GetState() == ProtocolState::kReady) x.e.BuildNextRequest(x.buf, x.len);
    }
    /// Every frame the engine sends from now until it waits again.
    std::vector<Bytes> SendUntilWaiting() {
        std::vector<Bytes> out;
        while (e.GetState() == ProtocolState::kReady && e.BuildNextRequest(buf, len) > 0)
            out.emplace_back(buf.begin(), buf.begin() + static_cast<long>(len));
        return out;
    }
};

TEST(EngineHandshake, AnswersInTheirState) {
    struct Row {
        const char* what;
        std::function<void(Engine&)> setup;
        Bytes answer;
        ProtocolState state;
        std::uint32_t version;
    };
    const Row rows[] = {
        {"1 to the handshake: ready, the handheld's version taken",
         [](Engine& x) { Engine::AfterHandshake(x, cmd::kFetch); },
         Frame(cmd::kAck, {cmd::kHandshake}, 3), ProtocolState::kReady, 3},
        {"1 to the handshake of the handshake-only operation: complete",
         [](Engine& x) { Engine::AfterHandshake(x, cmd::kHandshakeOnly); },
         Frame(cmd::kAck, {cmd::kHandshake}, 3), ProtocolState::kComplete, 3},
        {"2 to the handshake while only 1 is expected: dropped, still waiting",
         [](Engine& x) { Engine::AfterHandshake(x, cmd::kFetch); },
         Frame(cmd::kNak, {cmd::kHandshake}, 3), ProtocolState::kWaiting, 0},
        {"2 to the handshake while 2 is expected: ready, no version taken",
         Engine::AfterFetchRequest, Frame(cmd::kNak, {cmd::kHandshake}, 3),
         ProtocolState::kReady, 0},
        {"2 with status 0 and -1 while sending: still waiting",
         Engine::AfterWindowQuery, Frame(cmd::kNak, {cmd::kWindow, 0, 0xFF, 0xFF}),
         ProtocolState::kWaiting, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Engine x;
        row.setup(x);
        ASSERT_EQ(x.e.GetState(), ProtocolState::kWaiting);
        Feed(x.e, row.answer);
        EXPECT_EQ(x.e.GetState(), row.state);
        EXPECT_EQ(x.e.GetProtocolVersion(), row.version);
        EXPECT_EQ(x.e.GetDeviceError(), 0);
    }
}

// After "2, status 0, -1" the upload goes on exactly as if it had never come:
// the same blocks go out in the same frames as in a run without it.
TEST(EngineHandshake, NegativeAnswerWithMinusOneChangesNothing) {
    const Bytes goOn = Frame(cmd::kAck, {cmd::kWindow, 0, 0, 0});  // 1, status 0, none listed
    Engine plain;
    Engine::AfterWindowQuery(plain);
    Feed(plain.e, goOn);
    Engine answered;
    Engine::AfterWindowQuery(answered);
    Feed(answered.e, Frame(cmd::kNak, {cmd::kWindow, 0, 0xFF, 0xFF}));
    Feed(answered.e, goOn);
    ASSERT_EQ(plain.e.GetState(), ProtocolState::kReady);
    ASSERT_EQ(answered.e.GetState(), ProtocolState::kReady);
    const std::vector<Bytes> expected = plain.SendUntilWaiting();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(answered.SendUntilWaiting(), expected);
    // A listed block, by contrast, changes what goes out: block 3 is sent again.
    Engine listed;
    Engine::AfterWindowQuery(listed);
    Feed(listed.e, Frame(cmd::kNak, {cmd::kWindow, 0, 1, 0, 3, 0, 0, 0}));
    ASSERT_EQ(listed.e.GetState(), ProtocolState::kReady);
    EXPECT_NE(listed.SendUntilWaiting(), expected);
}

}  // namespace
}  // namespace dorvane
