#include "protocol/ack_list.h"

#include <gtest/gtest.h>

namespace dorvane {
namespace {

TEST(AckList, UncreatedListIsCompleteAndEmpty) {
    CACKList l;
    EXPECT_TRUE(l.Complete());
    EXPECT_EQ(l.Count(), 0u);
    EXPECT_FALSE(l.Test(0));
    std::uint32_t n = 0;
    EXPECT_FALSE(l.FirstClear(n));
}

TEST(AckList, CompletenessOverCounts) {
    for (std::uint32_t count : {1u, 7u, 8u, 9u, 16u, 17u, 32767u}) {
        CACKList l;
        l.Create(count);
        EXPECT_FALSE(l.Complete()) << count;
        for (std::uint32_t i = 0; i + 1 < count; ++i) l.Set(i);
        EXPECT_FALSE(l.Complete()) << count;
        EXPECT_EQ(l.CountSet(), count - 1);
        std::uint32_t first = 0;
        ASSERT_TRUE(l.FirstClear(first));
        EXPECT_EQ(first, count - 1);
        l.Set(count - 1);
        EXPECT_TRUE(l.Complete()) << count;
        EXPECT_EQ(l.CountSet(), count);
        EXPECT_FALSE(l.FirstClear(first));
    }
}

TEST(AckList, ToggleNextClearAndBounds) {
    CACKList l;
    l.Create(20);
    l.Create(3);  // ignored: already created
    EXPECT_EQ(l.Count(), 20u);
    for (std::uint32_t i = 0; i < 20; ++i) l.Set(i);
    l.Toggle(2);
    l.Toggle(9);
    std::uint32_t n = 0;
    ASSERT_TRUE(l.NextClear(2, n, true));
    EXPECT_EQ(n, 2u);
    ASSERT_TRUE(l.NextClear(2, n, false));
    EXPECT_EQ(n, 9u);
    EXPECT_FALSE(l.NextClear(9, n, false));
    l.Set(1000);  // out of range: ignored
    EXPECT_FALSE(l.Test(1000));
    l.Release();
    EXPECT_EQ(l.Count(), 0u);
    EXPECT_TRUE(l.Complete());
}

}  // namespace
}  // namespace dorvane
