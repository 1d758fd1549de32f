#include "protocol/fcs16.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace dorvane {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(Fcs16, CheckValueOfTheStandardString) {
    // The catalogued check value of CRC-16/X-25 (the PPP FCS) for "123456789".
    EXPECT_EQ(Fcs16(Bytes("123456789")), 0x906E);
}

TEST(Fcs16, DataFollowedByItsCheckLeavesTheGoodResidue) {
    auto data = Bytes("123456789");
    const std::uint16_t fcs = Fcs16(data);
    data.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    data.push_back(static_cast<std::uint8_t>(fcs >> 8));
    EXPECT_EQ(FcsUpdate(kFcsInit, data), kFcsGood);
    data[3] ^= 0x01;
    EXPECT_NE(FcsUpdate(kFcsInit, data), kFcsGood);
}

TEST(Fcs16, UpdateIsIncremental) {
    const auto a = Bytes("12345"), b = Bytes("6789");
    EXPECT_EQ(FcsUpdate(FcsUpdate(kFcsInit, a), b), FcsUpdate(kFcsInit, Bytes("123456789")));
    EXPECT_EQ(Fcs16({}), static_cast<std::uint16_t>(~kFcsInit));
}

}  // namespace
}  // namespace dorvane
