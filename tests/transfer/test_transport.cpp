// The worker against an in-memory handheld behind a fake link.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "protocol/fake_handheld.h"
#include "protocol/protocol_stp10.h"
#include "transfer/transport.h"

namespace dorvane {
namespace {

using test::Bytes;

// A link whose "device" is a FakeHandheld answering synchronously.
class LoopLink : public CDevice {
public:
    test::FakeHandheld handheld;
    bool silent = false;              ///< swallow everything
    std::size_t garbagePerWrite = 0;  ///< answer every write with this much noise instead
    std::vector<Bytes> written;

    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        Bytes b(bytes, bytes + count);
        Bytes answer;
        {
            std::lock_guard lock(m_);
            written.push_back(b);
            if (silent) return count;
            answer = garbagePerWrite ? Bytes(garbagePerWrite, 0x24) : handheld.Feed(b);
        }
        for (std::size_t pos = 0; pos < answer.size(); pos += kReadChunk)
            Deliver(answer.data() + pos, std::min(kReadChunk, answer.size() - pos));
        return count;
    }
    void StopReader() override { SetReceiveCallback(nullptr, nullptr); }
    void StartReader() override {}
    int Reopen() override { return 1; }
    void Close() override {}
    LinkError LastError() const override { return LinkError::None; }

    std::vector<Bytes> Written() {
        std::lock_guard lock(m_);
        return written;
    }

protected:
    std::mutex m_;
};

Bytes Closing() {
    Bytes b(32);
    const std::uint8_t p[] = {wire::kCloseByte};
    b.resize(BuildFixedFrame(wire::cmd::kWindow, p, b));
    return b;
}

struct Fixture {
    LoopLink link;
    CProtocol_STP10 engine;
    CTransport t;
    std::mutex m;
    std::vector<std::pair<std::string, Bytes>> data;
    std::vector<std::pair<int, std::uint8_t>> stops;
    int dataResult = 0;

    Fixture() {
        t.SetLink(&link);
        t.SetProtocol(&engine);
        t.SetTimeout(200);
        t.SetDataCallback([this](std::vector<std::uint8_t>&& b, const TransferJob& j) {
            std::lock_guard lock(m);
            data.emplace_back(j.deviceName, std::move(b));
            return dataResult;
        });
        t.SetStopCallback([this](int code, const TransferJob& j) {
            std::lock_guard lock(m);
            stops.emplace_back(code, j.code);
        });
    }
};

TEST(Transport, EmptyQueueSendsHandshakeThenClosingAndNoCallback) {
    Fixture f;
    ASSERT_TRUE(f.t.Start());
    ASSERT_TRUE(f.t.Join(5000));
    const auto w = f.link.Written();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0][8], wire::cmd::kHandshake);
    EXPECT_EQ(w[1], Closing());
    EXPECT_TRUE(f.data.empty());
    EXPECT_TRUE(f.stops.empty());
}

TEST(Transport, AddJobDeviceNames) {
    CTransport t;
    t.AddJob(148, "/home/u/a.txt", "a");
    t.AddJob(148, "/home/u/README", "README");
    t.AddJob(55, "T0601.gpx", "");
    EXPECT_EQ(t.Jobs()[0].deviceName, "a.txt");
    EXPECT_EQ(t.Jobs()[1].deviceName, "README");
    EXPECT_EQ(t.Jobs()[2].deviceName, "T0601.gpx");
    t.AddJob(148, "/home/u/README.", "README");
    EXPECT_EQ(t.Jobs()[3].deviceName, "README.") << "one trailing dot, not two";
    EXPECT_EQ(t.Jobs()[0].flags, wire::kSendFlag);
    EXPECT_EQ(t.Jobs()[2].flags, 0u);
}

TEST(Transport, FetchesRunInOrderAndFailureCodeZeroSkipsTheJob) {
    Fixture f;
    f.link.handheld.files["A"] = Bytes(5000, 1);
    f.link.handheld.files["B"] = Bytes(10, 2);
    f.link.handheld.files["C"] = Bytes(3000, 3);
    f.link.handheld.errorOn["B"] = 0;  // the handheld's "no error" failure
    for (const char* n : {"A", "B", "C"}) f.t.AddJob(wire::cmd::kFetch, n, "");
    ASSERT_TRUE(f.t.Start());
    ASSERT_TRUE(f.t.Join(5000));
    ASSERT_EQ(f.data.size(), 2u);
    EXPECT_EQ(f.data[0].first, "A");
    EXPECT_EQ(f.data[0].second, f.link.handheld.files["A"]);
    EXPECT_EQ(f.data[1].first, "C");
    EXPECT_TRUE(f.stops.empty());
    EXPECT_EQ(f.link.Written().back(), Closing());
}

TEST(Transport, HandheldErrorStopsTheRun) {
    Fixture f;
    f.link.handheld.files["A"] = Bytes(10, 1);
    f.t.AddJob(wire::cmd::kFetch, "missing", "");
    f.t.AddJob(wire::cmd::kFetch, "A", "");
    ASSERT_TRUE(f.t.Start());
    ASSERT_TRUE(f.t.Join(5000));
    ASSERT_EQ(f.stops.size(), 1u);
    EXPECT_EQ(f.stops[0], std::make_pair(1, wire::cmd::kFetch));
    EXPECT_TRUE(f.data.empty());
}

// A download that could not be stored ends the run: the delete of a move never goes out.
TEST(Transport, DataCallbackFailureEndsTheRunBeforeTheDelete) {
    Fixture f;
    f.dataResult = transport_error::kLocalWriteFailed;
    f.link.handheld.files["A"] = Bytes(100, 1);
    f.t.AddJob(wire::cmd::kFetch, "A", "");
    f.t.AddJob(wire::cmd::kDelete, "A", "");
    ASSERT_TRUE(f.t.Start());
    ASSERT_TRUE(f.t.Join(5000));
    ASSERT_EQ(f.stops.size(), 1u);
    EXPECT_EQ(f.stops[0].first, transport_error::kLocalWriteFailed);
    EXPECT_TRUE(f.link.handheld.files.count("A"));
    for (std::uint8_t c : f.link.handheld.commandsSeen) EXPECT_NE(c, wire::cmd::kDelete);
}

TEST(Transport, SilenceEndsWithTimeoutAfterTheRetries) {
    Fixture f;
    f.link.silent = true;
    f.t.SetRetries(3);
    f.t.AddJob(wire::cmd::kFetch, "A", "");
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(f.t.Start());
    ASSERT_TRUE(f.t.Join(5000));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    ASSERT_EQ(f.stops.size(), 1u);
    EXPECT_EQ(f.stops[0].first, transport_error::kTimeout);
    // The unanswered handshake is sent four times: four time-outs.
    EXPECT_EQ(f.link.Written().size(), 4u);
    EXPECT_GE(ms, 4 * 200);
    EXPECT_LT(ms, 4 * 200 + 1500);
}

TEST(Transport, BytesThatNeverFormAFrameEndTheRun) {
    Fixture f;
    f.link.garbagePerWrite = 3 * CTransport::kNoFrameByteLimit;
    f.t.SetTimeout(5000);
    f.t.AddJob(wire::cmd::kFetch, "A", "");
    ASSERT_TRUE(f.t.Start());
    ASSERT_TRUE(f.t.Join(3000)) << "ended by the no-frame rule, long before the time-out";
    ASSERT_EQ(f.stops.size(), 1u);
    EXPECT_EQ(f.stops[0].first, transport_error::kTimeout);
}

TEST(Transport, StopWhileWaitingWritesTheCancelFrame) {
    Fixture f;
    f.link.silent = true;
    f.t.SetTimeout(10000);
    f.t.AddJob(wire::cmd::kFetch, "A", "");
    ASSERT_TRUE(f.t.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto t0 = std::chrono::steady_clock::now();
    f.t.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(600));
    EXPECT_FALSE(f.t.IsRunning());
    EXPECT_EQ(f.link.Written().back(), Closing());
}

// The handheld answers the handshake after a long start of a frame that
// never ends. Everything arrives before the worker wakes (one wake-up), in
// the reads given: the receive area must be emptied before the read that
// would overflow it, whatever reads came together, so the answer survives.
class NoiseFirstLink : public LoopLink {
public:
    std::vector<std::size_t> noiseReads;  ///< sizes of the reads before the answer
    std::size_t answerRead = 1000;        ///< the answer's read, padded with 'B'

    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        if (!first_) return LoopLink::Write(bytes, count);
        first_ = false;
        Bytes noise;
        for (std::size_t n : noiseReads) noise.resize(noise.size() + n, 'A');
        noise[0] = '$';
        noise[1] = 'V';
        noise[2] = 'I';
        noise[3] = 'I';
        Bytes answer = handheld.Feed(Bytes(bytes, bytes + count));
        answer.resize(answerRead, 'B');
        {
            std::lock_guard lock(m_);
            written.emplace_back(bytes, bytes + count);
        }
        std::size_t pos = 0;
        for (std::size_t n : noiseReads) {
            Deliver(noise.data() + pos, n);
            pos += n;
        }
        Deliver(answer.data(), answer.size());
        return count;
    }

private:
    bool first_ = true;
};

TEST(Transport, OverflowingReadEmptiesTheAreaAndKeepsItselfWhateverTheSplit) {
    struct Row {
        const char* what;
        std::vector<std::size_t> noise;
    };
    const Row rows[] = {
        {"7000 in seven reads of 1000", {1000, 1000, 1000, 1000, 1000, 1000, 1000}},
        {"7000 in reads of 1024 and 856", {1024, 1024, 1024, 1024, 1024, 1024, 856}},
        {"7000 in one read", {7000}},
        {"7839 in reads of 1000 and one of 839", {1000, 1000, 1000, 1000, 1000, 1000, 1000, 839}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        NoiseFirstLink link;
        link.noiseReads = row.noise;
        link.handheld.files["A"] = Bytes(100, 7);
        CProtocol_STP10 engine;
        CTransport t;
        t.SetLink(&link);
        t.SetProtocol(&engine);
        t.SetTimeout(300);
        std::vector<Bytes> data;
        t.SetDataCallback([&](std::vector<std::uint8_t>&& b, const TransferJob&) {
            data.push_back(std::move(b));
            return 0;
        });
        t.AddJob(wire::cmd::kFetch, "A", "");
        ASSERT_TRUE(t.Start());
        ASSERT_TRUE(t.Join(5000));
        ASSERT_EQ(data.size(), 1u);
        EXPECT_EQ(data[0], link.handheld.files["A"]);
        std::size_t handshakes = 0;
        for (const Bytes& w : link.Written())
            handshakes += w.size() > 8 && w[8] == wire::cmd::kHandshake;
        EXPECT_EQ(handshakes, 1u)
            << "the answer in the last read was lost and the handshake sent again";
    }
}

}  // namespace
}  // namespace dorvane
