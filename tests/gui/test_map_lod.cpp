// The map's level of detail: the one-pass simplification and the per-frame
// clipping to the viewport, against lines whose right answer is plain.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "geo/field_file.h"
#include "ui/field_map.h"
#include "ui/map_lod.h"

namespace dorvane {
namespace {

using Line = std::vector<WorldPoint>;

// Distance from p to the segment a-b.
double ToSegment(const WorldPoint& p, const WorldPoint& a, const WorldPoint& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// `kept` must be a subsequence of `in` from its first point to its last;
// returns how far a point of `in` lies at worst from the kept piece that
// spans it, or -1 when `kept` is not such a subsequence.
double WorstSpan(const Line& in, const Line& kept) {
    if (in.empty() || kept.empty() || !(kept.front() == in.front()) || !(kept.back() == in.back()))
        return -1;
    std::size_t k = 0;
    double worst = 0;
    for (const WorldPoint& p : in) {
        if (k + 1 < kept.size() && p == kept[k + 1]) {
            ++k;
            continue;
        }
        if (p == kept[k]) continue;
        if (k + 1 >= kept.size()) return -1;
        worst = std::max(worst, ToSegment(p, kept[k], kept[k + 1]));
    }
    return k + 1 == kept.size() ? worst : -1;
}

Line Simplified(const Line& in, double tol) {
    Line out;
    SimplifyLine(in, tol, out);
    return out;
}

TEST(MapLod, SimplifyLineTable) {
    Line straight;
    for (int i = 0; i <= 100; ++i) straight.push_back({i * 3.0, i * 1.5});
    Line zigzag;  // corners 2 px out of line, 10 px apart
    for (int i = 0; i <= 20; ++i) zigzag.push_back({i * 10.0, i % 2 ? 2.0 : 0.0});
    Line flat;  // the same zig-zag within a third of a pixel
    for (int i = 0; i <= 20; ++i) flat.push_back({i * 10.0, i % 2 ? 0.3 : 0.0});
    Line back;  // out and back along one line: the far end must stay
    for (int i = 0; i <= 10; ++i) back.push_back({i * 5.0, 0});
    for (int i = 9; i >= 0; --i) back.push_back({i * 5.0, 0.1});
    Line still(50, WorldPoint{7, 7});  // a receiver standing still
    struct Row {
        const char* what;
        Line in;
        Line expected;
    };
    const Row rows[] = {
        {"empty", {}, {}},
        {"one point", {{1, 2}}, {{1, 2}}},
        {"two points", {{1, 2}, {5, 6}}, {{1, 2}, {5, 6}}},
        {"straight line collapses to its ends", straight, {straight.front(), straight.back()}},
        {"zig-zag wider than the tolerance keeps every corner", zigzag, zigzag},
        {"zig-zag within the tolerance collapses", flat, {flat.front(), flat.back()}},
        {"out and back keeps the turn", back, {back.front(), {50, 0}, back.back()}},
        {"standing still", still, {still.front(), still.back()}},
    };
    for (const Row& row : rows) EXPECT_EQ(Simplified(row.in, 0.5), row.expected) << row.what;
}

// A random walk (fixed seed): every point left out lies within the
// tolerance of the line kept, and much is left out.
TEST(MapLod, RandomWalkStaysWithinTheTolerance) {
    std::mt19937 rng(15);
    std::normal_distribution<double> step(0, 0.4);
    Line walk{{0, 0}};
    for (int i = 0; i < 20000; ++i)
        walk.push_back({walk.back().x + 0.3 + step(rng), walk.back().y + step(rng)});
    // Tolerance, and the share of points kept at most.
    for (auto [tol, share] : {std::pair{0.25, 0.75}, {0.5, 0.5}, {2.0, 0.3}}) {
        const Line kept = Simplified(walk, tol);
        ASSERT_GE(kept.size(), 2u);
        EXPECT_LT(static_cast<double>(kept.size()), share * static_cast<double>(walk.size()))
            << tol;
        // Each kept point is a point of the walk, in order; every point
        // between two kept ones lies within tol of the piece between them.
        const double worst = WorstSpan(walk, kept);
        EXPECT_GE(worst, 0) << tol;
        EXPECT_LE(worst, tol + 1e-9) << tol;
    }
}

TEST(MapLod, DecimateForScreenClipsToTheView) {
    const PlaneRect view{0, 0, 100, 100};
    struct Row {
        const char* what;
        Line in;
        std::vector<Line> runs;
    };
    const Row rows[] = {
        {"empty", {}, {}},
        {"one point", {{50, 50}}, {}},
        {"all outside", {{200, 0}, {300, 0}, {400, 50}}, {}},
        {"inside, straight", {{10, 10}, {20, 20}, {30, 30}, {40, 40}}, {{{10, 10}, {40, 40}}}},
        // Leaves at the right edge: the piece crossing it is kept with its
        // outside point, what lies beyond is left out.
        {"crosses the edge",
         {{50, 50}, {90, 50}, {130, 60}, {300, 10}, {500, 90}},
         {{{50, 50}, {90, 50}, {130, 60}}}},
        // Out through the top and back in: two runs, each with its crossing pieces.
        {"out and back in",
         {{20, 50}, {20, -30}, {20, -200}, {60, -200}, {60, -30}, {60, 50}},
         {{{20, 50}, {20, -30}}, {{60, -30}, {60, 50}}}},
        {"a piece across the whole view", {{-50, 50}, {150, 50}}, {{{-50, 50}, {150, 50}}}},
    };
    for (const Row& row : rows) {
        LineRuns out;
        DecimateForScreen(row.in, view, 0.5, out);
        std::vector<Line> runs;
        for (std::size_t r = 0; r < out.starts.size(); ++r) {
            const std::size_t e = r + 1 < out.starts.size() ? out.starts[r + 1] : out.points.size();
            runs.emplace_back(out.points.begin() + static_cast<long>(out.starts[r]),
                              out.points.begin() + static_cast<long>(e));
        }
        EXPECT_EQ(runs, row.runs) << row.what;
    }
}

// The pyramid: the level chosen for a zoom is within its budget of every
// point of the track, and coarser levels hold fewer points.
TEST(MapLod, LevelsStayWithinTheirBudget) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 0.000003);
    geo::FieldFile f;
    f.kind = geo::FieldKind::kTrack;
    for (int i = 0; i < 50000; ++i) {
        geo::GeoPoint p;
        p.lon = 113.3 + (i % 1000) * 0.00001 + noise(rng);
        p.lat = 23.1 + (i / 1000) * 0.00002 + noise(rng);
        f.points.push_back(p);
    }
    f.segmentStarts = {0};
    const CFieldShape shape(f);
    ASSERT_GT(shape.Levels().size(), 2u);
    for (std::size_t i = 1; i < shape.Levels().size(); ++i)
        EXPECT_LT(shape.Levels()[i].points.size(), shape.Levels()[i - 1].points.size());
    const Line& base = shape.Levels().front().points;
    for (double zoom : {10.0, 14.0, 17.0, 20.0}) {
        const CFieldShape::Level& l = shape.LevelFor(zoom);
        const double px = kTileSize * std::exp2(zoom);
        EXPECT_LE(l.tolerance * px, CFieldShape::kLevelBudgetPx) << zoom;
        // Every point of the track within the level's tolerance of its line.
        const double worst = WorstSpan(base, l.points);
        EXPECT_GE(worst, 0) << zoom;
        EXPECT_LE(worst, l.tolerance * 1.000001) << zoom;
    }
}

}  // namespace
}  // namespace dorvane
