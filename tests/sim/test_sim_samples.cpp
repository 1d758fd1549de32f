// The committed samples equal a fresh generation, and each sample is what
// its name says.

#include <gtest/gtest.h>

#include <cstdlib>

#include "convert/area_file.h"
#include "convert/track_file.h"
#include "sim_test_util.h"

namespace dorvane::simtest {
namespace {

const fs::path kCommitted = fs::path(DORVANE_SOURCE_DIR) / "sim/samples/data";

TEST(SimSamples, CommittedDataEqualsAFreshGeneration) {
    TempFolder fresh;
    const std::string cmdline = std::string(DORVANE_BINARY_DIR "/bin/dorvane-sim-samples ") + "'" +
                                fresh.path().string() + "'";
    ASSERT_EQ(std::system(cmdline.c_str()), 0);
    std::size_t count = 0;
    for (const auto& e : fs::directory_iterator(fresh.path())) {
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        ++count;
        ASSERT_TRUE(fs::exists(kCommitted / name)) << "not committed";
        std::ifstream a(e.path(), std::ios::binary), b(kCommitted / name, std::ios::binary);
        const std::string x((std::istreambuf_iterator<char>(a)), {});
        const std::string y((std::istreambuf_iterator<char>(b)), {});
        EXPECT_TRUE(x == y) << "differs from a fresh generation";
    }
    EXPECT_EQ(count,
              static_cast<std::size_t>(std::distance(fs::directory_iterator(kCommitted), {})));
}

Bytes ReadFile(const std::string& name) {
    std::ifstream in(kCommitted / name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
}

struct TrackSample {
    std::string name;
    std::size_t points;
    bool negativeTime;
};

TEST(SimSamples, TracksHoldTheirPoints) {
    const TrackSample cases[] = {{"T0601_empty.gpx", 0, false},
                                 {"T0602_few.gpx", 5, false},
                                 {"T0603_negtime.gpx", 4, true},
                                 {"\xB2\xE2\xCA\xD4\xB9\xEC\xBC\xA3.gpx", 12, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TrackPoint> pts;
        ASSERT_TRUE(ReadTrack(ReadFile(c.name), pts).ok());
        EXPECT_EQ(pts.size(), c.points);
        if (c.negativeTime) {
            EXPECT_LT(pts.front().time, 0);
        }
    }
}

struct AreaSample {
    std::string name;
    std::int16_t method;
    bool work;
    std::size_t points;  // kept points
    std::size_t dropped;
    std::size_t damaged;  // of the dropped, those left out for damage (not a flag)
};

TEST(SimSamples, AreasHoldTheirRecords) {
    const AreaSample cases[] = {
        {"A0601_track.txt", 0, true, 4, 0, 0},   {"A0602_vertex.txt", 1, false, 4, 0, 0},
        {"A0603_harvest.txt", 2, true, 5, 0, 0}, {"A0604_flag1.txt", 1, true, 4, 1, 0},
        {"A0605_damaged.txt", 0, true, 4, 1, 1}, {"A0606_header_only.txt", 1, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AreaFile area;
        const Bytes b = ReadFile(c.name);
        const AreaReadResult r = ReadArea(b, area);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(area.header.method, c.method);
        EXPECT_EQ(area.work.has_value(), c.work);
        EXPECT_EQ(area.points.size(), c.points);
        EXPECT_EQ(r.droppedRecords, c.dropped);
        EXPECT_EQ(r.damagedRecords, c.damaged);
    }
}

}  // namespace
}  // namespace dorvane::simtest
