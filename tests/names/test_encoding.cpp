#include <gtest/gtest.h>

#include "names/encoding.h"

namespace dorvane {
namespace {

// "测试" in GBK and in UTF-8.
const std::string kGbk = "\xB2\xE2\xCA\xD4";
const std::string kUtf8 = "\xE6\xB5\x8B\xE8\xAF\x95";

TEST(Encoding, GbkRoundTrip) {
    EXPECT_EQ(GbkToUtf8(kGbk).value(), kUtf8);
    EXPECT_EQ(Utf8ToGbk(kUtf8).value(), kGbk);
    EXPECT_EQ(GbkToUtf8("T0601.gpx").value(), "T0601.gpx");
}

TEST(Encoding, InvalidInputs) {
    EXPECT_FALSE(GbkToUtf8("\xB2").has_value());              // truncated pair
    EXPECT_FALSE(Utf8ToGbk("\xC3\x28").has_value());          // broken UTF-8
    EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80").has_value());  // an emoji: GB18030 only, not GBK
    EXPECT_FALSE(Utf8ToGbk("a\xE2\x82\xAC\xF0\xA0\x80\x80").has_value());  // CJK extension B
    EXPECT_EQ(Utf8ToGbk("\xE2\x82\xAC").value_or(""), "\xA2\xE3");  // the euro sign has a GBK pair
    EXPECT_EQ(GbkToUtf8Lossy("a\xFF"
                             "b"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(Encoding, Utf8Validation) {
    struct Case {
        const char* what;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "abc", true},
        {"chinese", kUtf8, true},
        {"overlong slash", "\xC0\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
        {"truncated", "\xE6\xB5", false},
        {"gbk bytes", kGbk, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.what;
}

TEST(Encoding, DecodeUtf8OrGbk) {
    EXPECT_EQ(DecodeUtf8OrGbk("\xEF\xBB\xBF" + kUtf8), kUtf8);
    EXPECT_EQ(DecodeUtf8OrGbk(kGbk), kUtf8);
}

}  // namespace
}  // namespace dorvane
