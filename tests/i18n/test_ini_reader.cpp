#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "i18n/ini_reader.h"
#include "names/encoding.h"

namespace dorvane {
namespace {

struct LookupCase {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;  // nullopt: not found
};

class IniLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(IniLookup, FindsWhatTheRulesSay) {
    const LookupCase& c = GetParam();
    CIni ini;
    ASSERT_TRUE(ini.LoadBytes(c.file));
    EXPECT_EQ(ini.Find(c.section, c.key), c.expected) << c.what;
    EXPECT_EQ(ini.Lookup(c.section, c.key), c.expected.value_or("")) << c.what;
}

const std::string kLongKey(CIni::kMaxKeyBytes + 1, 'K');
const std::string kMaxKey(CIni::kMaxKeyBytes, 'K');

INSTANTIATE_TEST_SUITE_P(
    Cases, IniLookup,
    ::testing::Values(
        LookupCase{"plain CRLF entry", "[S]\r\nA=one\r\nB=two\r\n", "S", "B", "two"},
        LookupCase{"trailing spaces of a value are kept",
                   "[DORVANE_MENU]\r\nRES_CMAINFRAME_MENU_2_7_1=English   \r\n", "DORVANE_MENU",
                   "RES_CMAINFRAME_MENU_2_7_1", "English   "},
        LookupCase{"leading spaces of a value are kept", "[S]\r\nA=  x\r\n", "S", "A", "  x"},
        LookupCase{"blanks before = are trimmed from the key", "[S]\r\nA \t=v\r\n", "S", "A", "v"},
        LookupCase{"blanks before the key are part of it", "[S]\r\n A=v\r\n", "S", "A",
                   std::nullopt},
        LookupCase{"key found in a later section", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n", "S", "B", "2"},
        LookupCase{"an earlier section is not searched", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n", "T", "A",
                   std::nullopt},
        LookupCase{"the first section of that name wins", "[S]\r\nA=1\r\n[S]\r\nA=2\r\n", "S", "A",
                   "1"},
        LookupCase{"section and key are case-sensitive", "[S]\r\nA=1\r\n", "s", "A", std::nullopt},
        LookupCase{"key case", "[S]\r\nA=1\r\n", "S", "a", std::nullopt},
        LookupCase{"missing section", "[S]\r\nA=1\r\n", "X", "A", std::nullopt},
        LookupCase{"missing key", "[S]\r\nA=1\r\n", "S", "Z", std::nullopt},
        LookupCase{"LF-only file", "[S]\nA=one\nB=two\n[T]\nC=three\n", "T", "C", "three"},
        LookupCase{"LF-only: a line without = swallows the next line's key",
                   "[S]\nA=1\nNOEQUALS\nB=2\nC=3\n", "S", "B", std::nullopt},
        LookupCase{"LF-only: the line after that is read again", "[S]\nA=1\nNOEQUALS\nB=2\nC=3\n",
                   "S", "C", "3"},
        LookupCase{"CRLF: a line without = ends at CR", "[S]\r\nNOEQUALS\r\nB=2\r\n", "S", "B",
                   "2"},
        LookupCase{"a key without = gives an empty value", "[S]\r\nA\r\n", "S", "A", ""},
        LookupCase{"comment lines never match", "[S]\r\n;A=1\r\nA=2\r\n", "S", "A", "2"},
        LookupCase{"an empty key never matches", "[S]\r\n=1\r\n", "S", "", std::nullopt},
        LookupCase{"a value ends at ]", "[S]\r\nA=x]y\r\n", "S", "A", "x"},
        LookupCase{"a value may contain = and ;", "[S]\r\nA=x=y;z\r\n", "S", "A", "x=y;z"},
        LookupCase{"value at end of text", "[S]\r\nA=last", "S", "A", "last"},
        LookupCase{"empty value", "[S]\r\nA=\r\n", "S", "A", ""},
        LookupCase{"section header ends at CR", "[S\r\nA=1\r\n", "S", "A", "1"},
        LookupCase{"[ must start a line", "x[S]\r\nA=1\r\n", "S", "A", std::nullopt},
        LookupCase{"the header line is not an entry", "[S]A=1\r\nB=2\r\n", "S", "A", std::nullopt},
        LookupCase{"a 63-byte key matches", "[S]\r\n" + kMaxKey + "=v\r\n", "S", kMaxKey.c_str(),
                   "v"},
        LookupCase{"a 64-byte key never matches", "[S]\r\n" + kLongKey + "=v\r\n", "S",
                   kLongKey.c_str(), std::nullopt},
        LookupCase{"UTF-8 BOM before the first section", "\xEF\xBB\xBF[S]\r\nA=1\r\n", "S", "A",
                   "1"},
        LookupCase{"GBK value decoded to UTF-8", "[S]\r\nA=\xD6\xD0\xCE\xC4\r\n", "S", "A",
                   "中文"}),
    [](const ::testing::TestParamInfo<LookupCase>& param) {
        return "case" + std::to_string(param.index);
    });

TEST(IniReader, LongValueIsCutAtCharacterBoundary) {
    CIni ini;
    // 341 three-byte characters: byte 1023 falls on a character boundary
    // (341 * 3 = 1023), then one more character that must go entirely.
    std::string value;
    for (int i = 0; i < 342; ++i) value += "中";
    ASSERT_TRUE(ini.LoadBytes("[S]\r\nA=" + value + "\r\n"));
    EXPECT_EQ(ini.Lookup("S", "A").size(), 1023u);

    std::string odd = "x" + value;  // byte 1023 now splits a character
    ASSERT_TRUE(ini.LoadBytes("[S]\r\nA=" + odd + "\r\n"));
    const std::string got = ini.Lookup("S", "A");
    EXPECT_EQ(got.size(), 1021u);
    EXPECT_TRUE(IsValidUtf8(got));
}

TEST(IniReader, PlainLongValueIsCutTo1023Bytes) {
    CIni ini;
    ASSERT_TRUE(ini.LoadBytes("[S]\r\nA=" + std::string(5000, 'v') + "\r\n"));
    EXPECT_EQ(ini.Lookup("S", "A"), std::string(CIni::kMaxValueBytes, 'v'));
}

TEST(IniReader, GbkTrailByteLikeBracketDoesNotEndTheValue) {
    // GBK has characters whose second byte is 0x5D, the byte of "]"
    // (0x81 0x5D is one). Read byte-wise they would end the value; the file is
    // decoded first, so they stay whole.
    const std::string gbk =
        "[S]\r\nA=\x81\x5D"
        "abc\r\n";
    CIni ini;
    ASSERT_TRUE(ini.LoadBytes(gbk));
    const std::string expect = *GbkToUtf8("\x81\x5D") + "abc";
    EXPECT_EQ(ini.Lookup("S", "A"), expect);
}

TEST(IniReader, EmptyOrMissingFileFailsAndStaysEmpty) {
    CIni ini;
    EXPECT_FALSE(ini.LoadBytes(""));
    EXPECT_FALSE(ini.IsLoaded());
    EXPECT_FALSE(ini.Load("/nonexistent/dorvane/code_en.ini"));

    std::string pattern = (std::filesystem::temp_directory_path() / "dorvane-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    const auto empty = dir / "empty.ini";
    std::ofstream(empty).close();
    ASSERT_TRUE(ini.LoadBytes("[S]\r\nA=1\r\n"));
    EXPECT_FALSE(ini.Load(empty));
    EXPECT_FALSE(ini.IsLoaded());  // a failed load leaves nothing of the last file
    EXPECT_EQ(ini.Lookup("S", "A"), "");
    EXPECT_FALSE(ini.Load(dir));  // a folder is not a language file
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dorvane
