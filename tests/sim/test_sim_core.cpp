// The emulator's answers, frame by frame, driven in memory with the core's
// frame builder and checked with its cutter and decoder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <sstream>

#include "sim_test_util.h"

namespace dorvane::simtest {
namespace {

using namespace wire;

SimOptions Opts(const TempFolder& dir) {
    SimOptions o;
    o.folder = dir.path();
    return o;
}

TEST(SimHandshake, AnswersWithItsVersionInTheVersionField) {
    TempFolder dir;
    for (std::uint32_t version : {1u, 7u, 0x24242424u}) {
        SimOptions o = Opts(dir);
        o.version = version;
        CHandheldSim sim(o);
        const auto a = Exchange(sim, FixedFrame(cmd::kHandshake));
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(a[0].command, cmd::kAck);
        EXPECT_EQ(a[0].payload, Bytes{cmd::kHandshake});
        EXPECT_EQ(a[0].version, version);
    }
}

TEST(SimListing, ListsNamesSizesAndTimesAsDataBlocks) {
    TempFolder dir;
    dir.Write("b.gpx", Pattern(3));
    dir.Write("a.txt", {});
    const std::string gbk = "\xB2\xE2\xCA\xD4.gpx";  // 测试.gpx in GBK
    dir.Write(gbk, Pattern(1961));
    const struct utimbuf t { 1000, 1234567890 };
    ASSERT_EQ(::utime((dir.path() / "b.gpx").c_str(), &t), 0);

    CHandheldSim sim(Opts(dir));
    const auto a = Exchange(sim, Frame(cmd::kList));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].command, cmd::kListData);
    EXPECT_EQ(a[1].command, cmd::kWindow);
    EXPECT_EQ(a[1].payload, AllPayload(cmd::kListData)) << "one window holds the last block";
    const Bytes& p = a[0].payload;
    ASSERT_GE(p.size(), kBlockHeaderSize);
    const Bytes listing(p.begin() + kBlockHeaderSize, p.end());
    EXPECT_EQ(GetU32(p.data()), listing.size());
    EXPECT_EQ(GetI16(p.data() + kBlockCountOffset), 1);

    // Entries in byte order of the names: "a.txt", "b.gpx", then the GBK name.
    std::size_t at = 0;
    auto entry = [&](const std::string& name, std::uint32_t size) {
        ASSERT_LE(at + name.size() + 9, listing.size());
        EXPECT_EQ(std::string(listing.begin() + at, listing.begin() + at + name.size()), name);
        at += name.size();
        EXPECT_EQ(listing[at++], 0);
        EXPECT_EQ(GetU32(listing.data() + at), size);
        at += 8;
    };
    entry("a.txt", 0);
    entry("b.gpx", 3);
    EXPECT_EQ(GetU32(listing.data() + at - 4), 1234567890u);
    entry(gbk, 1961);
    ASSERT_EQ(at + 1, listing.size());
    EXPECT_EQ(listing[at], 0) << "an empty name ends the list";
}

struct FetchCase {
    const char* what;
    std::size_t size;
    std::uint32_t blocks;
    std::size_t lastBytes;
};

class SimFetchWindows : public ::testing::TestWithParam<FetchCase> {};

TEST_P(SimFetchWindows, FirstWindowHoldsTheRightBlocksAndEnd) {
    const FetchCase c = GetParam();
    TempFolder dir;
    const Bytes content = Pattern(c.size);
    dir.Write("f.bin", content);
    CHandheldSim sim(Opts(dir));
    const auto a = Exchange(sim, Frame(cmd::kFetch, NamePayload("f.bin")));
    const std::size_t inWindow = std::min<std::size_t>(c.blocks, kWindowSize);
    ASSERT_EQ(a.size(), inWindow + 1);
    for (std::size_t i = 0; i < inWindow; ++i) {
        const Bytes& p = a[i].payload;
        EXPECT_EQ(a[i].command, cmd::kData);
        ASSERT_GE(p.size(), kBlockHeaderSize);
        EXPECT_EQ(GetU32(p.data()), c.size);
        EXPECT_EQ(GetI16(p.data() + kBlockCountOffset), static_cast<std::int16_t>(c.blocks));
        EXPECT_EQ(GetU32(p.data() + kBlockNumberOffset), i);
        EXPECT_EQ(GetU32(p.data() + kBlockFileOffset), i * kBlockSize);
        const std::size_t bytes = i + 1 == c.blocks ? c.lastBytes : kBlockSize;
        EXPECT_EQ(GetU16(p.data() + kBlockBytesOffset), bytes);
        ASSERT_EQ(p.size(), kBlockHeaderSize + bytes);
        EXPECT_TRUE(std::equal(p.begin() + kBlockHeaderSize, p.end(),
                               content.begin() + static_cast<std::ptrdiff_t>(i * kBlockSize)));
    }
    const Answer& end = a.back();
    EXPECT_EQ(end.command, cmd::kWindow);
    if (c.blocks <= kWindowSize) {
        EXPECT_EQ(end.payload, AllPayload(cmd::kData));
    } else {
        std::vector<std::uint32_t> first16(kWindowSize);
        for (std::uint32_t i = 0; i < kWindowSize; ++i) first16[i] = i;
        EXPECT_EQ(end.payload, ListPayload(cmd::kData, first16));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SimFetchWindows,
    ::testing::Values(FetchCase{"empty", 0, 1, 0}, FetchCase{"one byte", 1, 1, 1},
                      FetchCase{"1959", 1959, 1, 1959}, FetchCase{"1960", 1960, 2, 0},
                      FetchCase{"1961", 1961, 2, 1}, FetchCase{"16 blocks", 15 * 1960 + 5, 16, 5},
                      FetchCase{"17 blocks", 16 * 1960, 17, 0},
                      FetchCase{"40 blocks", 39 * 1960 + 100, 40, 100}),
    [](const auto& param) {
        std::string s = param.param.what;
        for (char& ch : s)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return s;
    });

TEST(SimFetch, AckMovesOnRepeatedAckResendsWindowEndMissingListResends) {
    TempFolder dir;
    dir.Write("f", Pattern(40 * 1960));  // 41 blocks: windows 0-15, 16-31, 32-40
    CHandheldSim sim(Opts(dir));
    auto a = Exchange(sim, Frame(cmd::kFetch, NamePayload("f")));
    ASSERT_EQ(a.size(), 17u);
    const Bytes ack1 = ListPayload(cmd::kWindow, ListOf(a.back().payload));

    a = Exchange(sim, Frame(cmd::kAck, ack1));
    ASSERT_EQ(a.size(), 17u);
    EXPECT_EQ(GetU32(a[0].payload.data() + kBlockNumberOffset), 16u);
    const Bytes secondEnd = a.back().payload;

    // The same acknowledgement again: only the current window end comes back.
    a = Exchange(sim, Frame(cmd::kAck, ack1));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].command, cmd::kWindow);
    EXPECT_EQ(a[0].payload, secondEnd);

    // Blocks 18 and 20 missing: they come again, then a window end naming them.
    a = Exchange(sim, Frame(cmd::kNak, ListPayload(cmd::kWindow, {18, 20})));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(GetU32(a[0].payload.data() + kBlockNumberOffset), 18u);
    EXPECT_EQ(GetU32(a[1].payload.data() + kBlockNumberOffset), 20u);
    EXPECT_EQ(a[2].payload, ListPayload(cmd::kData, {18, 20}));

    a = Exchange(sim, Frame(cmd::kAck, ListPayload(cmd::kWindow, {18, 20})));
    ASSERT_EQ(a.size(), 10u) << "last window: blocks 32..40 and the -1 end";
    EXPECT_EQ(GetU32(a[0].payload.data() + kBlockNumberOffset), 32u);
    EXPECT_EQ(a.back().payload, AllPayload(cmd::kData));

    // The computer answers the -1 end with the block it still lacks: 40.
    a = Exchange(sim, Frame(cmd::kNak, ListPayload(cmd::kWindow, {40})));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(GetU32(a[0].payload.data() + kBlockNumberOffset), 40u);
    EXPECT_EQ(a[1].payload, AllPayload(cmd::kData));

    // The computer never acknowledges the completing window; the next request ends it.
    a = Exchange(sim, Frame(cmd::kList));
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a[0].command, cmd::kListData);
}

TEST(SimFetch, RepeatedRequestStartsTheFileAgain) {
    TempFolder dir;
    dir.Write("f", Pattern(3000));
    CHandheldSim sim(Opts(dir));
    const auto first = Exchange(sim, Frame(cmd::kFetchEx, NamePayload("f")));
    const auto again = Exchange(sim, Frame(cmd::kFetchEx, NamePayload("f")));
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(again.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(first[i].payload, again[i].payload);
}

struct ErrorCase {
    const char* what;
    std::uint8_t op;
    std::string name;
    std::int16_t code;
};

TEST(SimErrors, UnknownNamesAndConfiguredErrorsAreAnsweredWithTheirCode) {
    TempFolder dir;
    dir.Write("locked.txt", Pattern(10));
    SimOptions o = Opts(dir);
    o.errorOn["locked.txt"] = 2;
    const ErrorCase cases[] = {
        {"fetch missing", cmd::kFetch, "nope", 1},
        {"fetch 149 missing", cmd::kFetchEx, "nope", 1},
        {"fetch configured error", cmd::kFetch, "locked.txt", 2},
        {"delete missing", cmd::kDelete, "nope", 1},
        {"delete 147 missing", cmd::kDeleteEx, "nope", 1},
        {"delete 150 configured", cmd::kDeleteEx2, "locked.txt", 2},
        {"fetch path escape", cmd::kFetch, "../etc/passwd", 1},
    };
    CHandheldSim sim(o);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto a = Exchange(sim, Frame(c.op, NamePayload(c.name)));
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(a[0].command, cmd::kNak);
        Bytes expected = {c.op, 0};
        const Bytes code = U16(c.code);
        expected.insert(expected.end(), code.begin(), code.end());
        EXPECT_EQ(a[0].payload, expected);
    }
    EXPECT_TRUE(fs::exists(dir.path() / "locked.txt"));
}

TEST(SimDelete, DeletesAndAnswersARepeatAgain) {
    TempFolder dir;
    dir.Write("a", Pattern(5));
    CHandheldSim sim(Opts(dir));
    for (int i = 0; i < 2; ++i) {
        const auto a = Exchange(sim, Frame(cmd::kDelete, NamePayload("a")));
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(a[0].command, cmd::kAck);
        EXPECT_EQ(a[0].payload, Bytes{cmd::kDelete});
    }
    EXPECT_FALSE(fs::exists(dir.path() / "a"));
    // After the exchange ends, the name is simply missing.
    Exchange(sim, FixedFrame(cmd::kWindow, {kCloseByte}));
    const auto a = Exchange(sim, Frame(cmd::kDelete, NamePayload("a")));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].command, cmd::kNak);
}

TEST(SimQueue, NewRequestAndCloseDropQueuedAnswers) {
    TempFolder dir;
    dir.Write("f", Pattern(10 * 1960));
    CHandheldSim sim(Opts(dir));
    sim.Feed(Frame(cmd::kFetch, NamePayload("f")));
    EXPECT_TRUE(sim.HasOutput());
    const auto a = Exchange(sim, Frame(cmd::kList));
    ASSERT_EQ(a.size(), 2u) << "only the listing is left";
    EXPECT_EQ(a[0].command, cmd::kListData);

    sim.Feed(Frame(cmd::kFetch, NamePayload("f")));
    sim.Feed(FixedFrame(cmd::kWindow, {kCloseByte}));
    EXPECT_FALSE(sim.HasOutput());
}

TEST(SimInfo, FeatureAndIdentityAnswersCarryConfiguredValues) {
    TempFolder dir;
    SimOptions o = Opts(dir);
    o.model = 701;
    o.serial = "SN42";
    o.featureMask = 0x5;
    o.featureSupport = 0x7;
    o.featureValues = {11};
    CHandheldSim sim(o);
    auto a = Exchange(sim, FixedFrame(cmd::kFeatures, {0x24, 0, 0, 0}));  // a lone `$` survives
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].command, cmd::kFeaturesAnswer);
    ASSERT_EQ(a[0].payload.size(), 16u);
    EXPECT_EQ(GetU32(a[0].payload.data()), 5u);
    EXPECT_EQ(GetU32(a[0].payload.data() + 4), 7u);
    EXPECT_EQ(GetU32(a[0].payload.data() + 8), 11u);
    EXPECT_EQ(GetU32(a[0].payload.data() + 12), 701u) << "values not given report the model";

    a = Exchange(sim, FixedFrame(cmd::kIdentity, {1, 0, 0, 0}));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].payload, (Bytes{1, 0, 0, 0, '7', '0', '1'}));
    a = Exchange(sim, FixedFrame(cmd::kIdentity, {2, 0, 0, 0}));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].payload, (Bytes{2, 0, 0, 0, 'S', 'N', '4', '2'}));
}

// Upload blocks as the computer builds them: name, 0, header, data.
Bytes UploadBlock(const std::string& name, const Bytes& content, std::uint32_t n) {
    Bytes p = NamePayload(name);
    const std::size_t size = content.size();
    const std::size_t off = static_cast<std::size_t>(n) * kBlockSize;
    const std::size_t bytes = std::min(kBlockSize, size - std::min(off, size));
    Bytes h(kBlockHeaderSize);
    PutU32(h.data(), static_cast<std::uint32_t>(size));
    PutU16(h.data() + 4, static_cast<std::uint16_t>(bytes));
    PutU16(h.data() + 6, static_cast<std::uint16_t>(BlockCountFor(size)));
    PutU32(h.data() + 8, n);
    PutU32(h.data() + 12, static_cast<std::uint32_t>(off));
    p.insert(p.end(), h.begin(), h.end());
    p.insert(p.end(), content.begin() + static_cast<std::ptrdiff_t>(off),
             content.begin() + static_cast<std::ptrdiff_t>(off + bytes));
    return Frame(cmd::kUpload, p);
}

TEST(SimUpload, AnswersQueriesAndStoresOnlyWhenComplete) {
    TempFolder dir;
    CHandheldSim sim(Opts(dir));
    const Bytes content = Pattern(3 * 1960 + 7);  // 4 blocks
    // No block yet: every queried block is missing.
    auto a = Exchange(sim, Frame(cmd::kWindow, AllPayload(cmd::kUpload)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].payload, ListPayload(cmd::kWindow, {0}));
    EXPECT_EQ(a[0].command, cmd::kNak);

    for (std::uint32_t n : {0u, 1u, 3u})
        EXPECT_TRUE(Exchange(sim, UploadBlock("up.bin", content, n)).empty());
    a = Exchange(sim, Frame(cmd::kWindow, ListPayload(cmd::kUpload, {0, 1})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].command, cmd::kAck);
    EXPECT_EQ(a[0].payload, ListPayload(cmd::kWindow, {0, 1}));
    a = Exchange(sim, Frame(cmd::kWindow, ListPayload(cmd::kUpload, {1, 2, 3})));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].command, cmd::kNak);
    EXPECT_EQ(a[0].payload, ListPayload(cmd::kWindow, {2}));
    a = Exchange(sim, Frame(cmd::kWindow, AllPayload(cmd::kUpload)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].payload, ListPayload(cmd::kWindow, {2}));
    EXPECT_FALSE(fs::exists(dir.path() / "up.bin")) << "not stored before it is complete";

    Exchange(sim, UploadBlock("up.bin", content, 2));
    for (int i = 0; i < 2; ++i) {  // a repeated query is answered the same
        a = Exchange(sim, Frame(cmd::kWindow, AllPayload(cmd::kUpload)));
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(a[0].command, cmd::kAck);
        EXPECT_EQ(a[0].payload, AllPayload(cmd::kWindow));
    }
    EXPECT_EQ(dir.Read("up.bin"), content);
    EXPECT_EQ(sim.GetStats().filesStored, 1u);
}

struct RefusalCase {
    const char* what;
    std::string name;
    std::size_t size;
    std::int16_t code;
};

TEST(SimUpload, RefusesWithTheHandheldsCodes) {
    TempFolder dir;
    dir.Write("old", Pattern(1000));
    SimOptions o = Opts(dir);
    o.refuseGmt = true;
    o.capacity = 2500;
    o.errorOn["busy.txt"] = 2;
    const RefusalCase cases[] = {
        {"gmt refused by this model", "N070101.GMT", 10, 48},
        {"over capacity", "big.bin", 1501, 6},
        {"configured error", "busy.txt", 10, 2},
        {"name with a slash", "../x", 10, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CHandheldSim sim(o);
        EXPECT_TRUE(Exchange(sim, UploadBlock(c.name, Pattern(c.size), 0)).empty());
        const auto a = Exchange(sim, Frame(cmd::kWindow, AllPayload(cmd::kUpload)));
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(a[0].command, cmd::kNak);
        Bytes expected = {cmd::kWindow, kStatusFailed};
        const Bytes code = U16(c.code);
        expected.insert(expected.end(), code.begin(), code.end());
        EXPECT_EQ(a[0].payload, expected);
    }
    // Exactly at capacity is fine.
    CHandheldSim sim(o);
    Exchange(sim, UploadBlock("fits.bin", Pattern(1500), 0));
    const auto a = Exchange(sim, Frame(cmd::kWindow, AllPayload(cmd::kUpload)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].command, cmd::kAck);
    EXPECT_TRUE(fs::exists(dir.path() / "fits.bin"));
    EXPECT_EQ(fs::directory_iterator(dir.path())->path().filename().string().rfind(".dorvane", 0),
              std::string::npos);
}

TEST(SimUpload, BlocksThatDoNotFitTheirHeaderAreIgnored) {
    TempFolder dir;
    CHandheldSim sim(Opts(dir));
    Bytes bad = UploadBlock("x", Pattern(100), 0);
    // Claim a total of 4 GiB - 1 with one block: the count no longer matches.
    Bytes p = NamePayload("x");
    Bytes h(kBlockHeaderSize);
    PutU32(h.data(), 0xFFFFFFFFu);
    PutU16(h.data() + 6, 1);
    p.insert(p.end(), h.begin(), h.end());
    sim.Feed(Frame(cmd::kUpload, p));
    const auto a = Exchange(sim, Frame(cmd::kWindow, AllPayload(cmd::kUpload)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].payload, ListPayload(cmd::kWindow, {0})) << "no upload was started";
}

TEST(SimInput, GarbagePaddingAndSplitFramesAreCut) {
    TempFolder dir;
    CHandheldSim sim(Opts(dir));
    Bytes in(2048, 0);  // the USB stand-in pads every write
    const Bytes hs = FixedFrame(cmd::kHandshake);
    std::copy(hs.begin(), hs.end(), in.begin());
    Bytes second(hs.begin(), hs.begin() + 7);
    Bytes third(hs.begin() + 7, hs.end());
    third.resize(2048 - 7, 0);
    sim.Feed(in);
    sim.Feed(Bytes{0x41, 0x24, 0x24});  // noise between writes (an even run of `$`)
    sim.Feed(second);
    sim.Feed(third);
    EXPECT_EQ(sim.GetStats().framesIn, 2u);
}

}  // namespace
}  // namespace dorvane::simtest
