#include "protocol/mem_stream.h"

#include <gtest/gtest.h>

namespace dorvane {
namespace {

TEST(MemStream, WriteReadSeekAndGaps) {
    CMemStream s(4);
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    s.Write(abc);
    EXPECT_EQ(s.Size(), 3u);
    EXPECT_EQ(s.Position(), 3u);
    s.WriteAt(6, abc);  // past the end: the gap is zero-filled
    ASSERT_EQ(s.Size(), 9u);
    EXPECT_EQ(s.Bytes()[3], 0);
    EXPECT_EQ(s.Bytes()[6], 'a');
    EXPECT_EQ(s.Position(), 3u);  // WriteAt leaves the position alone

    std::uint8_t out[4] = {};
    s.Seek(7);
    EXPECT_EQ(s.Read(out), 2u);  // short read at the end
    EXPECT_EQ(out[0], 'b');
    EXPECT_EQ(s.Read(out), 0u);
    EXPECT_EQ(s.ReadAt(100, out), 0u);
}

TEST(MemStream, SetSizeCutsAndClampsPosition) {
    CMemStream s;
    std::vector<std::uint8_t> big(5000, 7);
    s.Write(big);
    s.SetSize(10);
    EXPECT_EQ(s.Size(), 10u);
    EXPECT_EQ(s.Position(), 10u);
    auto taken = s.TakeBytes();
    EXPECT_EQ(taken.size(), 10u);
    EXPECT_EQ(s.Size(), 0u);
}

}  // namespace
}  // namespace dorvane
