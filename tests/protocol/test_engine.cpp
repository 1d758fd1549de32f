#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "fake_handheld.h"
#include "protocol/protocol_stp10.h"

namespace dorvane {
namespace {

using test::Bytes;
using test::FakeHandheld;
using namespace wire;

Bytes Pattern(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng() % 5 == 0 ? 0x24 : rng());
    return b;
}

Bytes Frame(std::uint8_t cmd, const Bytes& payload) {
    Bytes out(kMaxWireFrame);
    out.resize(BuildFrame(cmd, payload, out));
    return out;
}

// A minimal worker: sends requests, feeds the answers back in pieces of at
// most 1024 bytes, and repeats the last frame when nothing comes back (the
// time-out), up to three times.
class Driver {
public:
    Driver(CProtocol_STP10& e, FakeHandheld& h) : e_(e), h_(h) {}

    std::vector<Bytes> sent;  ///< every frame the computer wrote, in order

    ProtocolState Run(std::uint8_t op, CMemStream* s, const std::string& name,
                      bool handshake = true) {
        e_.BeginOperation(op, s, name);
        Bytes buf(kMaxWireFrame);
        std::size_t len = 0;
        if (handshake) {
            e_.SetState(ProtocolState::kReady);
            e_.BuildHandshake(buf, len);
            Write(buf, len);
        }
        int retries = 0;
        for (int pass = 0; pass < 200000; ++pass) {
            Consume();
            switch (e_.GetState()) {
                case ProtocolState::kReady:
                    if (e_.BuildNextRequest(buf, len) > 0) {
                        retries = 0;
                        Write(buf, len);
                    }
                    break;
                case ProtocolState::kWaiting:
                    if (++retries > 3) return ProtocolState::kWaiting;  // would be error 16
                    Write(Bytes(last_), last_.size());
                    break;
                case ProtocolState::kComplete:
                case ProtocolState::kFailed:
                    return e_.GetState();
            }
        }
        return e_.GetState();
    }

    void Write(const Bytes& buf, std::size_t len) {
        last_.assign(buf.begin(), buf.begin() + static_cast<long>(len));
        sent.push_back(last_);
        Bytes answer = h_.Feed(last_);
        pending_.insert(pending_.end(), answer.begin(), answer.end());
    }

    void Consume() {
        constexpr std::size_t kChunk = 1024;
        while (!pending_.empty()) {
            const std::size_t n = std::min(kChunk, pending_.size());
            if (fill_ + n > sizeof rx_) fill_ = 0;
            std::copy_n(pending_.begin(), n, rx_ + fill_);
            fill_ += n;
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(n));
            while (e_.CutFrames(rx_, fill_) == CutResult::kFrame)
                if (e_.GetState() == ProtocolState::kFailed) return;
        }
    }

private:
    CProtocol_STP10& e_;
    FakeHandheld& h_;
    Bytes pending_;
    Bytes last_;
    std::uint8_t rx_[7840];
    std::size_t fill_ = 0;
};

TEST(Engine, DownloadsOfEverySizeWithLostBlocks) {
    struct Row {
        std::size_t size;
        std::set<std::uint32_t> lost;
    };
    const Row rows[] = {
        {0, {}},        {1, {}},     {1959, {0}},  {1960, {1}},
        {1961, {0, 1}}, {3921, {2}}, {200000, {}}, {200000, {1, 5, 15, 16, 17, 40, 102}},
    };
    for (const Row& row : rows) {
        FakeHandheld h;
        h.files["T0601.gpx"] = Pattern(row.size, static_cast<std::uint32_t>(row.size));
        h.loseOutgoingOnce = row.lost;
        CProtocol_STP10 e;
        double lastFraction = 0;
        e.SetProgressCallback([&](const ProgressInfo& p) { lastFraction = p.fraction; });
        CMemStream s;
        Driver d(e, h);
        ASSERT_EQ(d.Run(cmd::kFetch, &s, "T0601.gpx"), ProtocolState::kComplete) << row.size;
        EXPECT_EQ(s.Bytes(), h.files["T0601.gpx"]) << row.size;
        EXPECT_DOUBLE_EQ(lastFraction, 1.0);
        EXPECT_TRUE(h.loseOutgoingOnce.empty()) << "every lost block was asked for again";
        EXPECT_EQ(e.GetProtocolVersion(), h.version);
        const int expectedBlocks = static_cast<int>(BlockCountFor(row.size) + row.lost.size());
        EXPECT_EQ(h.blocksSent, expectedBlocks) << "no block sent twice without need";
    }
}

TEST(Engine, FetchOfAnUnknownFileFailsWithTheHandheldsCode) {
    FakeHandheld h;
    CProtocol_STP10 e;
    CMemStream s;
    Driver d(e, h);
    EXPECT_EQ(d.Run(cmd::kFetch, &s, "nothing"), ProtocolState::kFailed);
    EXPECT_EQ(e.GetDeviceError(), 1);
}

TEST(Engine, UploadsWithTheWindowQueryAndResends) {
    for (std::size_t size :
         {std::size_t{0}, std::size_t{3}, std::size_t{1961}, std::size_t{70000}}) {
        FakeHandheld h;
        h.loseIncomingOnce = {0, 2, 20, 35};
        CProtocol_STP10 e;
        CMemStream s;
        s.Assign(Pattern(size, 7));
        Driver d(e, h);
        ASSERT_EQ(d.Run(cmd::kUpload, &s, "UP.TXT"), ProtocolState::kComplete) << size;
        EXPECT_EQ(h.files["UP.TXT"], s.Bytes()) << size;
    }
}

// A second upload in the same run must build its block lists again; with the
// request counter running on it would "finish" without sending a byte.
TEST(Engine, SecondUploadInOneRunSendsItsBlocks) {
    FakeHandheld h;
    CProtocol_STP10 e;
    Driver d(e, h);
    CMemStream a, b;
    a.Assign(Pattern(5000, 1));
    b.Assign(Pattern(4000, 2));
    ASSERT_EQ(d.Run(cmd::kUpload, &a, "A.TXT"), ProtocolState::kComplete);
    e.SetState(ProtocolState::kReady);
    ASSERT_EQ(d.Run(cmd::kUpload, &b, "B.TXT", false), ProtocolState::kComplete);
    EXPECT_EQ(h.files["A.TXT"], a.Bytes());
    EXPECT_EQ(h.files["B.TXT"], b.Bytes());
}

TEST(Engine, FileTooLargeForTheBlockCountIsRefusedBeforeSending) {
    FakeHandheld h;
    CProtocol_STP10 e;
    CMemStream s;
    s.SetSize(static_cast<std::uint64_t>(kMaxBlockCount) * kBlockSize);  // 32768 blocks
    Driver d(e, h);
    EXPECT_EQ(d.Run(cmd::kUpload, &s, "BIG.BIN"), ProtocolState::kFailed);
    EXPECT_EQ(e.GetDeviceError(), kErrorFileTooLarge);
    EXPECT_EQ(h.commandsSeen, std::vector<std::uint8_t>{cmd::kHandshake});
}

TEST(Engine, DeleteAnsweredWithOneAndWithTwo) {
    FakeHandheld h;
    h.files["A.TXT"] = {1};
    h.files["B.TXT"] = {1};
    h.errorOn["B.TXT"] = 5;
    CProtocol_STP10 e;
    Driver d(e, h);
    EXPECT_EQ(d.Run(cmd::kDelete, nullptr, "A.TXT"), ProtocolState::kComplete);
    EXPECT_FALSE(h.files.count("A.TXT"));
    e.SetState(ProtocolState::kReady);
    EXPECT_EQ(d.Run(cmd::kDelete, nullptr, "B.TXT", false), ProtocolState::kFailed);
    EXPECT_EQ(e.GetDeviceError(), 5);
}

TEST(Engine, HandshakeOnlyOperationEndsAfterTheAnswer) {
    FakeHandheld h;
    CProtocol_STP10 e;
    Driver d(e, h);
    EXPECT_EQ(d.Run(cmd::kHandshakeOnly, nullptr, ""), ProtocolState::kComplete);
    EXPECT_EQ(h.commandsSeen, std::vector<std::uint8_t>{cmd::kHandshake});
    Bytes buf(kMaxWireFrame);
    std::size_t len = 99;
    e.SetState(ProtocolState::kReady);
    EXPECT_EQ(e.BuildNextRequest(buf, len), 0u);
    EXPECT_EQ(e.GetState(), ProtocolState::kComplete);
}

// The frames the computer writes, byte for byte, for a short session.
TEST(Engine, ReplayedSessionFramesMatchByteForByte) {
    FakeHandheld h;
    h.files["F.TXT"] = {'x', '$', 'y'};
    CProtocol_STP10 e;
    Driver d(e, h);
    ASSERT_EQ(d.Run(cmd::kFetch, nullptr, "F.TXT"), ProtocolState::kComplete);
    CMemStream up;
    up.Assign({'$', 'Z'});
    e.SetState(ProtocolState::kReady);
    ASSERT_EQ(d.Run(cmd::kUpload, &up, "U", false), ProtocolState::kComplete);
    e.SetState(ProtocolState::kReady);
    ASSERT_EQ(d.Run(cmd::kDelete, nullptr, "F.TXT", false), ProtocolState::kComplete);

    Bytes hs(32);
    hs.resize(BuildFixedFrame(cmd::kHandshake, {}, hs));
    const std::vector<Bytes> expected = {
        hs,
        Frame(cmd::kFetch, {'F', '.', 'T', 'X', 'T', 0}),
        // name, zero, header (size 2, 2 bytes, 1 block, block 0, offset 0), data
        Frame(cmd::kUpload, {'U', 0, 2, 0, 0, 0, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, '$', 'Z'}),
        Frame(cmd::kWindow, {cmd::kUpload, 0, 0xFF, 0xFF}),
        Frame(cmd::kDelete, {'F', '.', 'T', 'X', 'T', 0}),
    };
    EXPECT_EQ(d.sent, expected);
}

TEST(Engine, LateAnswerAfterCancelIsIgnored) {
    CProtocol_STP10 e;
    Bytes buf(kMaxWireFrame);
    std::size_t len = 0;
    e.BeginOperation(cmd::kDelete, nullptr, "A.TXT");
    e.SetState(ProtocolState::kReady);
    ASSERT_GT(e.BuildNextRequest(buf, len), 0u);
    e.BuildCancel(buf, len);
    EXPECT_EQ(len, kFixedFrameOneByte);
    Bytes late = Frame(cmd::kAck, {cmd::kDelete});
    std::size_t fill = late.size();
    EXPECT_EQ(e.CutFrames(late.data(), fill), CutResult::kFrame);
    EXPECT_EQ(e.GetState(), ProtocolState::kWaiting);
    EXPECT_EQ(e.GetStats().framesDropped, 1u);
}

TEST(Engine, AnswerCallbackOnlyForExpectedAnswers) {
    CProtocol_STP10 e;
    int calls = 0;
    e.SetAnswerCallback([&](std::uint8_t c, std::span<const std::uint8_t> p, std::uint32_t len) {
        ++calls;
        EXPECT_EQ(c, cmd::kFeaturesAnswer);
        EXPECT_EQ(p.size(), 8u);
        EXPECT_EQ(len, 27u);
    });
    Bytes answer = Frame(cmd::kFeaturesAnswer, Bytes(8, 1));
    Bytes copy = answer;
    std::size_t fill = copy.size();
    e.CutFrames(copy.data(), fill);  // not expected yet
    EXPECT_EQ(calls, 0);
    Bytes buf(kMaxWireFrame);
    std::size_t len = 0;
    e.BuildRequest128(7, buf, len);
    EXPECT_EQ(len, kFixedFrameU32);
    fill = answer.size();
    e.CutFrames(answer.data(), fill);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(e.GetState(), ProtocolState::kComplete);
}

// Sending side: a missing-block list makes the named block the next one sent.
TEST(Engine, MissingBlockListMakesThatBlockNextAndWindowQueryFollows) {
    CProtocol_STP10 e;
    CMemStream s;
    s.Assign(Pattern(5 * kBlockSize, 3));
    e.BeginOperation(cmd::kUpload, &s, "X");
    e.SetState(ProtocolState::kReady);
    Bytes buf(kMaxWireFrame);
    std::size_t len = 0;
    CFrameDecoder dec;
    DecodedFrame f;
    std::vector<std::uint8_t> cmds;
    while (e.GetState() == ProtocolState::kReady) {
        ASSERT_GT(e.BuildNextRequest(buf, len), 0u);
        ASSERT_EQ(dec.Decode({buf.data(), len}, f), FrameError::kNone);
        cmds.push_back(f.command);
    }
    // Six blocks (the last one empty), then the query with -1.
    EXPECT_EQ(cmds, (std::vector<std::uint8_t>{148, 148, 148, 148, 148, 148, 3}));
    EXPECT_EQ(GetI16(f.payload.data() + 2), kAllBlocks);
    Bytes nak = Frame(cmd::kNak, {cmd::kWindow, 0, 1, 0, 2, 0, 0, 0});
    std::size_t fill = nak.size();
    e.CutFrames(nak.data(), fill);
    ASSERT_EQ(e.GetState(), ProtocolState::kReady);
    ASSERT_GT(e.BuildNextRequest(buf, len), 0u);
    ASSERT_EQ(dec.Decode({buf.data(), len}, f), FrameError::kNone);
    EXPECT_EQ(f.command, cmd::kUpload);
    EXPECT_EQ(GetU32(f.payload.data() + 2 + kBlockNumberOffset), 2u);
}

// Receiving side, table-driven: blocks a damaged or hostile handheld might
// send are dropped, never written.
TEST(Engine, HostileBlocksAreDropped) {
    auto block = [](std::uint32_t total, std::uint16_t bytes, std::int16_t count,
                    std::uint32_t number, std::uint32_t offset, std::size_t dataLen) {
        Bytes p(kBlockHeaderSize + dataLen, 0x55);
        PutU32(p.data(), total);
        PutU16(p.data() + 4, bytes);
        PutU16(p.data() + 6, static_cast<std::uint16_t>(count));
        PutU32(p.data() + 8, number);
        PutU32(p.data() + 12, offset);
        return Frame(cmd::kData, p);
    };
    struct Row {
        const char* what;
        Bytes frame;
    };
    const Row rows[] = {
        {"number not below the count", block(3000, 1040, 2, 2, 3920, 1040)},
        {"offset not number x 1960", block(3000, 1040, 2, 1, 1000, 1040)},
        {"more than 1960 data bytes", block(5000, 2000, 3, 0, 0, 2000)},
        {"data past the total size", block(100, 200, 1, 0, 0, 200)},
        {"gigabyte total with a small count", block(0xFFFFFFF0u, 1960, 2, 1, 1960, 1960)},
        {"negative block count", block(1000, 1000, -5, 0, 0, 1000)},
        {"payload shorter than its data", block(1000, 1000, 1, 0, 0, 10)},
        {"total changes mid-transfer", block(4000, 1960, 3, 1, 1960, 1960)},
        {"header cut short", Frame(cmd::kData, Bytes(10, 0))},
    };
    for (const Row& row : rows) {
        CProtocol_STP10 e;
        CMemStream s;
        e.BeginOperation(cmd::kFetch, &s, "F");
        e.SetState(ProtocolState::kReady);
        Bytes buf(kMaxWireFrame);
        std::size_t len = 0;
        e.BuildNextRequest(buf, len);
        // A good first block of a 5000-byte file fixes size and count.
        Bytes first = block(5000, 1960, 3, 0, 0, 1960);
        std::size_t fill = first.size();
        e.CutFrames(first.data(), fill);
        ASSERT_EQ(e.GetStats().blocksRejected, 0u);
        Bytes bad = row.frame;
        fill = bad.size();
        e.CutFrames(bad.data(), fill);
        EXPECT_EQ(e.GetStats().blocksRejected, 1u) << row.what;
        EXPECT_EQ(s.Size(), 1960u) << row.what;
        EXPECT_EQ(e.GetState(), ProtocolState::kWaiting) << row.what;
    }
}

TEST(Engine, WindowEndAnswers) {
    // Blocks 0..15 of a 40-block file all received: answered 1 with the same list.
    CProtocol_STP10 e;
    CMemStream s;
    const std::uint32_t total = 39 * kBlockSize + 5;
    e.BeginOperation(cmd::kFetch, &s, "F");
    e.SetState(ProtocolState::kReady);
    Bytes buf(kMaxWireFrame);
    std::size_t len = 0;
    e.BuildNextRequest(buf, len);
    Bytes end = {cmd::kData, 0, 16, 0};
    for (std::uint32_t n = 0; n < 16; ++n) {
        if (n != 9) {
            Bytes p(kBlockHeaderSize + kBlockSize, 1);
            PutU32(p.data(), total);
            PutU16(p.data() + 4, kBlockSize);
            PutU16(p.data() + 6, 40);
            PutU32(p.data() + 8, n);
            PutU32(p.data() + 12, n * kBlockSize);
            Bytes f = Frame(cmd::kData, p);
            std::size_t fill = f.size();
            e.CutFrames(f.data(), fill);
        }
        end.resize(end.size() + 4);
        PutU32(end.data() + end.size() - 4, n);
    }
    Bytes f = Frame(cmd::kWindow, end);
    std::size_t fill = f.size();
    e.CutFrames(f.data(), fill);
    ASSERT_EQ(e.GetState(), ProtocolState::kReady);
    ASSERT_GT(e.BuildNextRequest(buf, len), 0u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + static_cast<long>(len)),
              Frame(cmd::kNak, {cmd::kWindow, 0, 1, 0, 9, 0, 0, 0}));
    // -1 with blocks missing: every block still lacking, future ones included, at most 17.
    Bytes endAll = {cmd::kData, 0, 0xFF, 0xFF};
    f = Frame(cmd::kWindow, endAll);
    fill = f.size();
    e.CutFrames(f.data(), fill);
    ASSERT_GT(e.BuildNextRequest(buf, len), 0u);
    CFrameDecoder dec;
    DecodedFrame df;
    ASSERT_EQ(dec.Decode({buf.data(), len}, df), FrameError::kNone);
    EXPECT_EQ(df.command, cmd::kNak);
    ASSERT_EQ(GetI16(df.payload.data() + 2), static_cast<std::int16_t>(kMaxMissingList));
    EXPECT_EQ(GetU32(df.payload.data() + 4), 9u);
    EXPECT_EQ(GetU32(df.payload.data() + 8), 16u);
}

}  // namespace
}  // namespace dorvane
