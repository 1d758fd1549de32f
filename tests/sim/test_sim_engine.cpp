// The computer's own engine against the emulator, in memory: whole transfers
// with and without faults, resends on time-out as the worker does them, and
// the determinism of the trace.

#include <gtest/gtest.h>

#include <sstream>

#include "protocol/protocol_stp10.h"
#include "sim_test_util.h"

namespace dorvane::simtest {
namespace {

using namespace wire;

// Plays the transport worker: handshake once, then jobs; a pass that brings
// no frame counts as a time-out and repeats the last frame.
class Computer {
public:
    explicit Computer(CHandheldSim& sim) : sim_(sim) {}

    bool Handshake() {
        std::size_t len = 0;
        eng_.SetState(ProtocolState::kReady);
        eng_.BuildHandshake(buf_, len);
        Write(len);
        while (eng_.GetState() == ProtocolState::kWaiting)
            if (!Wait()) return false;
        return eng_.GetState() == ProtocolState::kReady;
    }

    // Returns the engine's final state.
    ProtocolState Job(std::uint8_t op, const std::string& name, CMemStream& stream) {
        eng_.BeginOperation(op, &stream, name);
        for (int pass = 0; pass < kMaxPasses; ++pass) {
            switch (eng_.GetState()) {
                case ProtocolState::kReady: {
                    std::size_t len = 0;
                    eng_.BuildNextRequest(buf_, len);
                    if (len) Write(len);
                    break;
                }
                case ProtocolState::kWaiting:
                    if (!Wait()) return ProtocolState::kFailed;
                    break;
                case ProtocolState::kComplete:
                    eng_.SetState(ProtocolState::kReady);
                    return ProtocolState::kComplete;
                case ProtocolState::kFailed:
                    return ProtocolState::kFailed;
            }
        }
        return ProtocolState::kFailed;
    }

    void Close() {
        std::size_t len = 0;
        eng_.BuildClosingFrame(buf_, len);
        Write(len);
    }

    std::int16_t Error() const { return eng_.GetDeviceError(); }
    std::uint32_t Version() const { return eng_.GetProtocolVersion(); }
    int timeouts = 0;

private:
    static constexpr int kMaxPasses = 20000;
    static constexpr int kRetries = 30;

    void Write(std::size_t len) {
        last_.assign(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(len));
        sim_.Feed(last_);
    }

    // Takes everything the handheld queued and lets the engine cut it; a
    // pass without any frame is a time-out.
    bool Wait() {
        for (int retry = 0; retry <= kRetries; ++retry) {
            bool any = false;
            SimOutFrame f;
            while (sim_.PopFrame(f)) {
                rx_.insert(rx_.end(), f.bytes.begin(), f.bytes.end());
                std::size_t fill = rx_.size();
                while (eng_.CutFrames(rx_.data(), fill) == CutResult::kFrame) any = true;
                rx_.resize(fill);
            }
            if (any) return true;
            ++timeouts;
            sim_.Feed(last_);
        }
        return false;
    }

    CHandheldSim& sim_;
    CProtocol_STP10 eng_;
    std::array<std::uint8_t, kMaxWireFrame> buf_{};
    Bytes last_;
    Bytes rx_;
};

struct FaultCase {
    const char* what;
    double drop, corrupt, duplicate, garbage;
};

class SimWithEngine : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimWithEngine, FetchListUploadDeleteSurviveFaults) {
    const FaultCase c = GetParam();
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        TempFolder dir;
        Bytes dollars(5000, kDollar);
        const Bytes big = Pattern(60 * 1960 + 17);
        dir.Write("dollars", dollars);
        dir.Write("big", big);
        dir.Write("empty", {});
        SimOptions o;
        o.folder = dir.path();
        o.version = 9;
        o.seed = seed;
        o.drop = c.drop;
        o.corrupt = c.corrupt;
        o.duplicate = c.duplicate;
        o.garbage = c.garbage;
        CHandheldSim sim(o);
        Computer pc(sim);
        ASSERT_TRUE(pc.Handshake());
        EXPECT_EQ(pc.Version(), 9u);

        for (const auto& [name, content] :
             {std::pair{"dollars", dollars}, {"big", big}, {"empty", Bytes{}}}) {
            CMemStream s;
            ASSERT_EQ(pc.Job(cmd::kFetch, name, s), ProtocolState::kComplete) << name;
            EXPECT_EQ(s.Bytes(), content) << name;
        }
        CMemStream listing;
        ASSERT_EQ(pc.Job(cmd::kList, "", listing), ProtocolState::kComplete);
        EXPECT_EQ(listing.Bytes().size(), 3 * 9 + std::string("bigdollarsempty").size() + 1);

        CMemStream up;
        const Bytes upload = Pattern(40 * 1960 + 3, seed);
        up.Assign(upload);
        ASSERT_EQ(pc.Job(cmd::kUpload, "new.bin", up), ProtocolState::kComplete);
        EXPECT_EQ(dir.Read("new.bin"), upload);

        CMemStream none;
        ASSERT_EQ(pc.Job(cmd::kDelete, "big", none), ProtocolState::kComplete);
        EXPECT_FALSE(fs::exists(dir.path() / "big"));
        ASSERT_EQ(pc.Job(cmd::kFetch, "big", none), ProtocolState::kFailed);
        EXPECT_EQ(pc.Error(), 1);
        pc.Close();
        if (c.drop == 0 && c.corrupt == 0) {
            EXPECT_EQ(pc.timeouts, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimWithEngine,
    ::testing::Values(FaultCase{"none", 0, 0, 0, 0}, FaultCase{"drop", 0.1, 0, 0, 0},
                      FaultCase{"corrupt", 0, 0.1, 0, 0}, FaultCase{"duplicate", 0, 0, 0.2, 0},
                      FaultCase{"garbage", 0, 0, 0, 0.3}, FaultCase{"all", 0.05, 0.05, 0.05, 0.1}),
    [](const auto& param) { return std::string(param.param.what); });

TEST(SimWithEngine, RefusedUploadFailsWithTheHandheldsCode) {
    TempFolder dir;
    SimOptions o;
    o.folder = dir.path();
    o.refuseGmt = true;
    CHandheldSim sim(o);
    Computer pc(sim);
    ASSERT_TRUE(pc.Handshake());
    CMemStream s;
    s.Assign(Pattern(20 * 1960));
    EXPECT_EQ(pc.Job(cmd::kUpload, "C070101.gmt", s), ProtocolState::kFailed);
    EXPECT_EQ(pc.Error(), 48);
    EXPECT_FALSE(fs::exists(dir.path() / "C070101.gmt"));
}

TEST(SimWithEngine, SilentHandheldLeavesTheComputerTimingOut) {
    TempFolder dir;
    dir.Write("f", Pattern(50 * 1960));
    SimOptions o;
    o.folder = dir.path();
    o.silentAfter = 5;  // handshake answer and four blocks
    CHandheldSim sim(o);
    Computer pc(sim);
    ASSERT_TRUE(pc.Handshake());
    CMemStream s;
    EXPECT_EQ(pc.Job(cmd::kFetch, "f", s), ProtocolState::kFailed);
    EXPECT_EQ(sim.GetStats().framesOut, 5u);
}

std::string RunTraced(std::uint32_t seed) {
    TempFolder dir;
    dir.Write("f", Pattern(30 * 1960));
    SimOptions o;
    o.folder = dir.path();
    o.seed = seed;
    o.drop = o.corrupt = o.duplicate = o.garbage = 0.1;
    std::ostringstream trace;
    CHandheldSim sim(o);
    sim.SetTrace(&trace);
    Computer pc(sim);
    EXPECT_TRUE(pc.Handshake());
    CMemStream s;
    EXPECT_EQ(pc.Job(cmd::kFetch, "f", s), ProtocolState::kComplete);
    pc.Close();
    return trace.str();
}

TEST(SimDeterminism, SameSeedSameTraceOtherSeedOtherTrace) {
    const std::string a = RunTraced(42);
    const std::string b = RunTraced(42);
    const std::string c = RunTraced(43);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a.find("in  cmd=55 len=21 fetch name=\"f\""), std::string::npos) << a.substr(0, 400);
    EXPECT_NE(a.find("[drop]"), std::string::npos);
    EXPECT_NE(a.find("out cmd=87"), std::string::npos);
}

}  // namespace
}  // namespace dorvane::simtest
