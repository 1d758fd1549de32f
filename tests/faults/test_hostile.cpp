// A lying handheld (dorvane-sim --hostile): impossible names in the listing,
// blocks that contradict the listing and each other. Nothing may be written
// outside the computer folder, every name shown and stored must be safe,
// visible and unique, memory stays bounded, and a correct file is never
// replaced by a wrong one.

#include <set>

#include "fault_rig.h"
#include "i18n/string_table.h"
#include "names/encoding.h"
#include "names/file_names.h"
#include "protocol/frame.h"
#include "protocol/protocol_stp10.h"
#include "sim/sim_hostile.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

using test::Entries;
using test::FaultRig;
using test::ReadBytes;

bool HasControl(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F)
            return true;
    }
    return false;
}

bool IsLying(const std::string& raw) {
    return HostileLieFor(raw) != BlockLie::kNone;
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteBytes(rig_.device / "REAL.TXT", test::RandomBytes(4000, 5));
        ASSERT_TRUE(rig_.StartSim({"--hostile"}));
        ASSERT_TRUE(rig_.doc->Connect());
    }
    FaultRig rig_{false};
};

TEST_F(Hostile, ListingShowsEveryNameVisibleAndUniqueAndListsANameOnce) {
    const auto files = rig_.doc->DeviceFiles();
    std::set<std::string> raw, shown;
    for (const auto& e : files) {
        EXPECT_TRUE(raw.insert(e.name).second) << "listed twice: " << e.name;
        EXPECT_TRUE(shown.insert(e.shown).second) << "shown twice: " << e.shown;
        EXPECT_FALSE(e.shown.empty());
        EXPECT_FALSE(HasControl(e.shown)) << e.shown;
        EXPECT_TRUE(IsValidUtf8(e.shown)) << e.shown;
    }
    std::set<std::string> hostile;
    for (const auto& n : HostileNames()) hostile.insert(n);
    EXPECT_EQ(files.size(), hostile.size() + 1) << "every distinct name and REAL.TXT";
    for (const auto& e : files) {
        if (e.name == kHugeName) {
            EXPECT_EQ(e.size, kHugeListedSize);
        }
    }
}

TEST_F(Hostile, DownloadsStaySafelyNamedInsideTheFolder) {
    const bool tmpXBefore = fs::exists("/tmp/x");
    rig_.doc->ClearSelection();
    for (const auto& e : rig_.doc->DeviceFiles())
        if (!IsLying(e.name)) rig_.doc->SelectByName(e.name);
    EXPECT_EQ(rig_.doc->CopyFromDevice(false), 1);
    EXPECT_EQ(rig_.doc->LastError(), 0);

    const auto stored = Entries(rig_.pc);
    EXPECT_EQ(stored.size(), rig_.doc->DeviceFiles().size() - 3) << "one file per honest entry";
    for (const auto& name : stored) {
        EXPECT_NE(name.front(), '.') << "hidden: " << name;
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_FALSE(HasControl(name)) << name;
        EXPECT_TRUE(IsValidUtf8(name)) << name;
        EXPECT_LE(name.size(), kMaxNameBytes);
        EXPECT_TRUE(fs::is_regular_file(rig_.pc / name));
    }
    EXPECT_EQ(ReadBytes(rig_.pc / kHugeName), *HostileContent(kHugeName))
        << "the listed size changed nothing";
    EXPECT_EQ(Entries(rig_.dir.path()), (std::vector<std::string>{"handheld", "pc", "tty", "usb"}))
        << "nothing beside the folder";
    EXPECT_EQ(Entries(rig_.pc / ".."), Entries(rig_.dir.path()));
    if (!tmpXBefore) {
        EXPECT_FALSE(fs::exists("/tmp/x"));
    }
}

TEST_F(Hostile, LyingBlocksFailClearlyAndLeaveACorrectFileAlone) {
    for (const char* name : {kLieTotalName, kLieOffsetName, kLieCountName}) {
        SCOPED_TRACE(name);
        // A correct copy from an earlier day sits in the folder under the same name.
        const test::Bytes correct = test::RandomBytes(5000, 11);
        test::WriteBytes(rig_.pc / name, correct);
        ASSERT_TRUE(rig_.Select(name));
        rig_.fe.closes.clear();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(rig_.doc->CopyFromDevice(true), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - t0,
                  std::chrono::milliseconds(FaultRig::kTimeoutMs))
            << "the lie is seen without waiting out time-outs";
        EXPECT_EQ(rig_.doc->LastError(), kErrorBadBlocks);
        ASSERT_FALSE(rig_.fe.closes.empty());
        EXPECT_EQ(rig_.fe.closes.front().first, kErrorBadBlocks);
        EXPECT_EQ(rig_.doc->ErrorText(kErrorBadBlocks), Text(StringId::RES_FAULTS_BAD_DATA));
        EXPECT_EQ(ReadBytes(rig_.pc / name), correct);
        EXPECT_EQ(Entries(rig_.pc), std::vector<std::string>{name}) << "nothing else written";
        EXPECT_TRUE(rig_.doc->TakeDeletedFiles().empty()) << "a move deletes nothing";
        fs::remove(rig_.pc / name);
    }
}

// ---- The engine's memory against claims -----------------------------------

class Claims : public ::testing::Test {
protected:
    void SetUp() override {
        engine_.BeginOperation(wire::cmd::kFetch, &stream_, "X");
        std::vector<std::uint8_t> buf(wire::kMaxWireFrame);
        std::size_t len = 0;
        engine_.SetState(ProtocolState::kReady);
        engine_.BuildNextRequest(buf, len);
        ASSERT_GT(len, 0u);
    }
    // A data block whose header claims `total`, built honestly otherwise.
    void Feed(std::uint32_t total, std::uint32_t number, std::size_t bytes) {
        std::vector<std::uint8_t> p(wire::kBlockHeaderSize + bytes, 0x5A);
        wire::PutU32(p.data() + wire::kBlockTotalOffset, total);
        wire::PutU16(p.data() + wire::kBlockBytesOffset, static_cast<std::uint16_t>(bytes));
        wire::PutU16(p.data() + wire::kBlockCountOffset,
                     static_cast<std::uint16_t>(wire::BlockCountFor(total)));
        wire::PutU32(p.data() + wire::kBlockNumberOffset, number);
        wire::PutU32(p.data() + wire::kBlockFileOffset,
                     static_cast<std::uint32_t>(number * wire::kBlockSize));
        std::vector<std::uint8_t> frame(wire::kMaxWireFrame);
        frame.resize(BuildFrame(wire::cmd::kData, p, frame));
        engine_.HandleFrame(frame);
    }
    CProtocol_STP10 engine_;
    CMemStream stream_{65536};
};

TEST_F(Claims, AFarBlockOfAHugeClaimCostsItsOwnBytesNotTheGap) {
    Feed(kLieTotalBytes, kLieFarBlock, wire::kBlockSize);  // offset 58.8 MB
    EXPECT_EQ(engine_.GetStats().blocksRejected, 0u) << "the block is consistent in itself";
    EXPECT_EQ(stream_.Size(), 0u);
    EXPECT_LT(stream_.Bytes().capacity(), 1024u * 1024u) << "no allocation for the gap";
    Feed(kLieTotalBytes, 0, wire::kBlockSize);
    EXPECT_EQ(stream_.Size(), wire::kBlockSize);
    EXPECT_LT(stream_.Bytes().capacity(), 1024u * 1024u);
    EXPECT_EQ(engine_.GetState(), ProtocolState::kWaiting);
}

TEST_F(Claims, AClaimAboveTheLimitIsRejectedAndRepeatedLiesFailTheOperation) {
    engine_.SetReceiveLimit(20000);
    for (std::uint32_t i = 0; i <= kMaxRejectedBlocks; ++i) {
        EXPECT_NE(engine_.GetState(), ProtocolState::kFailed) << i;
        Feed(kLieTotalBytes, i, wire::kBlockSize);
    }
    EXPECT_EQ(engine_.GetStats().blocksRejected, kMaxRejectedBlocks + 1);
    EXPECT_EQ(engine_.GetState(), ProtocolState::kFailed);
    EXPECT_EQ(engine_.GetDeviceError(), kErrorBadBlocks);
    EXPECT_EQ(stream_.Size(), 0u);
}

}  // namespace
}  // namespace dorvane
