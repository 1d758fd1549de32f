#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "i18n/ini_reader.h"
#include "i18n/string_table.h"
#include "names/encoding.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

const fs::path kShippedDir = fs::path(DORVANE_SOURCE_DIR) / "resources" / "Language";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// Every entry of a language file by section, read with a plain parser that is
// independent of CIni: lets the tests check that a key sits in its own section.
// A key met a second time (in any section: the program's table is keyed by
// the key alone) and a section opened twice go to `duplicates`, never over the
// first entry, so a doubled key in a shipped file cannot go unnoticed.
struct StrictIni {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::vector<std::string> duplicates;  ///< "section/key", or "[section]"
};

StrictIni ParseStrict(const std::string& text) {
    StrictIni out;
    std::set<std::string> keys;
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            if (out.sections.count(section)) out.duplicates.push_back("[" + section + "]");
            out.sections[section];
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        if (!keys.insert(key).second) {
            out.duplicates.push_back(section + "/" + key);
            continue;
        }
        out.sections[section][key] = line.substr(eq + 1);
    }
    return out;
}

TEST(StrictIniParser, ReportsDuplicateKeysAndSectionsAndKeepsTheFirstValue) {
    struct Row {
        const char* what;
        std::string text;
        std::vector<std::string> duplicates;
        std::string firstValue;  // value of A/K
    };
    const Row rows[] = {
        {"clean", "[A]\r\nK=1\r\nL=2\r\n", {}, "1"},
        {"key twice in a section", "[A]\r\nK=1\r\nK=2\r\n", {"A/K"}, "1"},
        {"key again in another section", "[A]\r\nK=1\r\n[B]\r\nK=2\r\n", {"B/K"}, "1"},
        {"section opened twice", "[A]\r\nK=1\r\n[A]\r\nL=2\r\n", {"[A]"}, "1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const StrictIni ini = ParseStrict(row.text);
        EXPECT_EQ(ini.duplicates, row.duplicates);
        EXPECT_EQ(ini.sections.at("A").at("K"), row.firstValue);
    }
}

class StringTableTest : public ::testing::Test {
protected:
    void SetUp() override { ResetToDefaults(); }
    void TearDown() override { ResetToDefaults(); }
    // A fresh folder per test: ctest runs the cases of this program in parallel.
    static fs::path TempDir() {
        std::string pattern = (fs::temp_directory_path() / "dorvane-i18n-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        return pattern;
    }
};

TEST_F(StringTableTest, DefaultsAreTheChineseTexts) {
    EXPECT_EQ(Text(StringId::RES_CTRANSWAIT_CANCEL), "取消");
    EXPECT_EQ(Text(StringId::RES_CMAINFRAME_MENU_1_0), "复制(&O)\tCtrl+0");
    EXPECT_EQ(Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_M41X_GMT), "M418不支持下载gmt文件!");
    EXPECT_EQ(SectionName(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_M41X_GMT), "M426UP_GLOBAL");
    EXPECT_EQ(SectionName(StringId::RES_CMAINFRAME_MENU_0), "DORVANE_MENU");
    EXPECT_EQ(ComputerPaneColumns(), "名称,145;类型,50;大小(字节),75;修改时间,110");
    EXPECT_EQ(DevicePaneColumns(), "名称,179;大小(字节),75;修改时间,110");
    EXPECT_EQ(IllegalMapText(), "非法的地图!");
    EXPECT_EQ(CurrentLanguage(), Language::Chinese);
    EXPECT_EQ(CurrentLanguageIndex(), 0);
}

TEST_F(StringTableTest, KeysAreUniqueAndFoundByName) {
    std::set<std::string_view> seen;
    for (StringId id : AllStringIds()) {
        EXPECT_TRUE(seen.insert(KeyName(id)).second) << KeyName(id);
        EXPECT_EQ(FindStringId(KeyName(id)), id);
        EXPECT_FALSE(DefaultText(id).empty()) << KeyName(id);
        EXPECT_TRUE(IsValidUtf8(DefaultText(id))) << KeyName(id);
    }
    EXPECT_EQ(seen.size(), kStringCount);
    EXPECT_EQ(FindStringId("RES_NO_SUCH_KEY"), std::nullopt);
}

TEST_F(StringTableTest, DeviceErrorKeysExist) {
    // The keys the device error texts are looked up by.
    const std::map<std::string, std::string> keys = {
        {"RES_GLOBAL_STRING_RES_ERR_MSG_NULL_1", "没有错误!"},
        {"RES_GLOBAL_STRING_RES_ERR_FILE_NOT_EXIST", "指定的文件不存在,或文件已被锁定!"},
        {"RES_GLOBAL_STRING_RES_ERR_MSG_FILEBUSY", "文件正在使用!"},
        {"RES_GLOBAL_STRING_RES_ERR_MSG_FILEUNKNOW", "文件不可识别!"},
        {"RES_GLOBAL_STRING_RES_ERR_MSG_FILEEXIST", "文件已经存在!请更改文件名再尝试一次。"},
        {"RES_GLOBAL_STRING_RES_ERR_MSG_WPTISFULL", "航点已满!"},
        {"RES_GLOBAL_STRING_RES_ERROR_NOSPACE", "磁盘空间低"},
        {"RES_GLOBAL_STRING_RES_ERR_MSG_TIMEOUT", "连接超时!"},
        {"RES_CMAINFRAME_ERROR_DONT_SUPPORT_DOWNLOAD_GMT", "GPS设备不支持接收GMT文件!"},
        {"RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR", "数据源未连接！"},
        {"RES_GLOBAL_STRING_RES_ERR_OTHER", "其他错误!"},
    };
    for (const auto& [key, text] : keys) {
        const auto id = FindStringId(key);
        ASSERT_TRUE(id.has_value()) << key;
        EXPECT_EQ(Text(*id), text) << key;
    }
}

// Walks the whole table: every key must be in its own section of both shipped
// files, with a non-empty value that the reader returns whole.
TEST_F(StringTableTest, EveryKeyIsInBothShippedFiles) {
    for (const char* name : {"code_ch.ini", "code_en.ini"}) {
        const std::string bytes = ReadFile(kShippedDir / name);
        ASSERT_FALSE(bytes.empty()) << name;
        ASSERT_TRUE(IsValidUtf8(bytes)) << name;
        const StrictIni parsed = ParseStrict(bytes);
        EXPECT_TRUE(parsed.duplicates.empty())
            << name << ": doubled " << ::testing::PrintToString(parsed.duplicates);
        const auto& strict = parsed.sections;
        CIni ini;
        ASSERT_TRUE(ini.LoadBytes(bytes));
        std::set<std::string> known;
        for (StringId id : AllStringIds()) {
            const std::string section(SectionName(id)), key(KeyName(id));
            known.insert(key);
            auto sec = strict.find(section);
            ASSERT_NE(sec, strict.end()) << name << ": no section " << section;
            auto entry = sec->second.find(key);
            ASSERT_NE(entry, sec->second.end()) << name << ": " << key << " not in " << section;
            EXPECT_FALSE(entry->second.empty()) << name << ": " << key;
            // A "]" would cut the value short when the program reads it.
            EXPECT_EQ(ini.Lookup(section, key), entry->second) << name << ": " << key;
            // Same printf arguments, or the program keeps the default instead.
            EXPECT_EQ(PrintfSignature(entry->second), PrintfSignature(DefaultText(id)))
                << name << ": " << key;
            // The English file is English, apart from the name of the
            // Chinese language in the language menu.
            if (std::string_view(name) == "code_en.ini" &&
                id != StringId::RES_CMAINFRAME_MENU_2_7_0) {
                for (unsigned char ch : entry->second) EXPECT_LT(ch, 0x80) << name << ": " << key;
            }
        }
        for (const auto& [section, entries] : strict)
            for (const auto& [key, value] : entries)
                EXPECT_TRUE(known.count(key)) << name << ": unknown key " << key;
    }
}

TEST_F(StringTableTest, ChineseFileHoldsTheDefaults) {
    ASSERT_TRUE(LoadLanguageFile(kShippedDir / "code_ch.ini", Language::Chinese));
    for (StringId id : AllStringIds()) EXPECT_EQ(Text(id), DefaultText(id)) << KeyName(id);
}

TEST_F(StringTableTest, EnglishFileKeepsFormatsShortcutsAndAccelerators) {
    ASSERT_TRUE(LoadLanguageFile(kShippedDir / "code_en.ini", Language::English));
    EXPECT_EQ(CurrentLanguageIndex(), 1);
    for (StringId id : AllStringIds()) {
        const std::string en = Text(id);
        const std::string ch(DefaultText(id));
        // Same arguments in the same order, or printf reads garbage.
        EXPECT_EQ(PrintfSignature(en), PrintfSignature(ch)) << KeyName(id);
        // The tab that separates a menu item from its shortcut.
        EXPECT_EQ(en.find('\t') == std::string::npos, ch.find('\t') == std::string::npos)
            << KeyName(id);
        // The column specifications keep their widths.
        if (KeyName(id).find("MESSAGE01_") != std::string_view::npos) {
            EXPECT_EQ(en.substr(en.find(',')), ch.substr(ch.find(','))) << KeyName(id);
        }
    }
    // Menu items with an accelerator in Chinese have one in English.
    for (StringId id : AllStringIds()) {
        if (SectionName(id) != "DORVANE_MENU") continue;
        if (DefaultText(id).find('&') != std::string_view::npos) {
            EXPECT_NE(Text(id).find('&'), std::string::npos) << KeyName(id);
        }
    }
    EXPECT_EQ(Text(StringId::RES_CTRANSWAIT_CANCEL), "Cancel");
    EXPECT_EQ(ComputerPaneColumns(), "Name,145;Type,50;Size (bytes),75;Modified,110");
    EXPECT_EQ(DevicePaneColumns(), "Name,179;Size (bytes),75;Modified,110");
    EXPECT_EQ(IllegalMapText(), "非法的地图!");  // never replaced
}

TEST_F(StringTableTest, GbkFileAndItsUtf8TwinGiveTheSameTable) {
    const std::string utf8 = ReadFile(kShippedDir / "code_ch.ini");
    const auto gbk = Utf8ToGbk(utf8);
    ASSERT_TRUE(gbk.has_value());
    ASSERT_NE(*gbk, utf8);
    const fs::path dir = TempDir();
    WriteFile(dir / "gbk.ini", *gbk);
    WriteFile(dir / "utf8.ini", utf8);

    ASSERT_TRUE(LoadLanguageFile(dir / "utf8.ini", Language::Chinese));
    std::vector<std::string> from_utf8;
    for (StringId id : AllStringIds()) from_utf8.push_back(Text(id));
    ResetToDefaults();
    ASSERT_TRUE(LoadLanguage(Language::English));  // something else in between
    ASSERT_TRUE(LoadLanguageFile(dir / "gbk.ini", Language::Chinese));
    for (StringId id : AllStringIds())
        EXPECT_EQ(Text(id), from_utf8[static_cast<std::size_t>(id)]) << KeyName(id);
    EXPECT_EQ(Text(StringId::RES_CDORVANEDOC_MESSAGE01), "在 %s 以 %d 波特率搜索GPS设备");
    fs::remove_all(dir);
}

TEST_F(StringTableTest, MissingKeysKeepTheirDefaultAndColumnsAreRebuilt) {
    const fs::path dir = TempDir();
    WriteFile(dir / "part.ini",
              "[DORVANE_CRIGHTFORMVIEW]\r\nRES_CRIGHTFORMVIEW_MESSAGE01_1=N,1\r\n"
              "RES_CRIGHTFORMVIEW_MESSAGE01_3=S,3\r\n"
              "RES_CRIGHTFORMVIEW_MESSAGE04=\r\n"
              "[DORVANE_MENU]\r\nRES_CMAINFRAME_MENU_2_7_1=English  \r\n");
    ASSERT_TRUE(LoadLanguageFile(dir / "part.ini", Language::English));
    struct Row {
        StringId id;
        const char* expected;
    };
    const Row rows[] = {
        {StringId::RES_CTRANSWAIT_CANCEL, "取消"},                               // absent
        {StringId::RES_CRIGHTFORMVIEW_MESSAGE04, "确实要删除%d个选定项目吗？"},  // empty value
        {StringId::RES_CMAINFRAME_MENU_2_7_1, "English  "},                      // loaded as it is
    };
    for (const Row& row : rows) EXPECT_EQ(Text(row.id), row.expected) << KeyName(row.id);
    for (StringId id : AllStringIds()) EXPECT_FALSE(Text(id).empty()) << KeyName(id);
    EXPECT_EQ(ComputerPaneColumns(),
              std::string("N,1;") +
                  std::string(DefaultText(StringId::RES_CRIGHTFORMVIEW_MESSAGE01_2)) + ";S,3;" +
                  std::string(DefaultText(StringId::RES_CRIGHTFORMVIEW_MESSAGE01_4)));
    EXPECT_EQ(CurrentLanguage(), Language::English);
    fs::remove_all(dir);
}

struct SignatureCase {
    const char* format;
    std::optional<std::string> signature;
};

TEST(PrintfSignature, ListsTheArguments) {
    const SignatureCase cases[] = {
        {"no arguments", ""},           {"%s and %d", "sd"},  {"%.2f GB", "f"},
        {"100%% %5s %-3d %ld", "sdld"}, {"%*d %.*s", "*d*s"}, {"ends in %", std::nullopt},
        {"%n", std::nullopt},           {"%y", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(PrintfSignature(c.format), c.signature) << c.format;
}

TEST_F(StringTableTest, TextWithOtherArgumentsKeepsItsDefault) {
    const fs::path dir = TempDir();
    WriteFile(dir / "bad.ini",
              "[DORVANE_CMAINFRAME]\r\nRES_CMAINFRAME_MESSAGE01=%s items %n\r\n"
              "RES_CMAINFRAME_TP_READY=Ready %s\r\n"
              "[DORVANE_CDORVANEDOC]\r\nRES_CDORVANEDOC_MESSAGE01=On %s at %d baud\r\n"
              "[DORVANE_CRIGHTFORMVIEW]\r\nRES_CRIGHTFORMVIEW_MESSAGE03=\r\n");
    ASSERT_TRUE(LoadLanguageFile(dir / "bad.ini", Language::English));
    EXPECT_EQ(Text(StringId::RES_CMAINFRAME_MESSAGE01), "%d个项目已选择");
    EXPECT_EQ(Text(StringId::RES_CMAINFRAME_TP_READY), "就绪");
    EXPECT_EQ(Text(StringId::RES_CDORVANEDOC_MESSAGE01), "On %s at %d baud");
    EXPECT_EQ(Text(StringId::RES_CRIGHTFORMVIEW_MESSAGE03),
              DefaultText(StringId::RES_CRIGHTFORMVIEW_MESSAGE03));  // empty: the default
    EXPECT_EQ(FormatText(StringId::RES_CDORVANEDOC_MESSAGE01, "ttyUSB0", 115200),
              "On ttyUSB0 at 115200 baud");
    EXPECT_EQ(FormatText(StringId::RES_CMAINFRAME_MESSAGE01, 3), "3个项目已选择");
    EXPECT_EQ(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE03, 1.5), "可用磁盘空间为 1.50 GB");
    fs::remove_all(dir);
}

TEST_F(StringTableTest, MissingOrEmptyFileChangesNothing) {
    const fs::path dir = TempDir();
    ASSERT_TRUE(LoadLanguageFile(kShippedDir / "code_en.ini", Language::English));
    WriteFile(dir / "empty.ini", "");
    EXPECT_FALSE(LoadLanguageFile(dir / "empty.ini", Language::Chinese));
    EXPECT_FALSE(LoadLanguageFile(dir / "absent.ini", Language::Chinese));
    EXPECT_EQ(Text(StringId::RES_CTRANSWAIT_CANCEL), "Cancel");
    EXPECT_EQ(CurrentLanguage(), Language::English);
    fs::remove_all(dir);
}

TEST_F(StringTableTest, LanguageFilesAreFoundBesideTheProgram) {
    // The build copies resources/Language into bin/Language, where the test
    // programs also run from.
    const auto candidates = LanguageFileCandidates(Language::English);
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0], *ExecutableDir() / "Language" / "code_en.ini");
    // An install tree under any prefix: <prefix>/bin/../share/dorvane.
    EXPECT_EQ(candidates[1],
              ExecutableDir()->parent_path() / "share" / "dorvane" / "Language" / "code_en.ini");
    EXPECT_EQ(candidates[2], fs::path(DORVANE_DATADIR) / "Language" / "code_en.ini");
    EXPECT_TRUE(LanguageFileAvailable(Language::English));
    ASSERT_TRUE(LoadLanguage(Language::English));
    EXPECT_EQ(Text(StringId::RES_CLI_NO_DEVICE), "No GPS device found.");
    ASSERT_TRUE(LoadLanguage(Language::Chinese));
    EXPECT_EQ(Text(StringId::RES_CLI_NO_DEVICE), "没有找到GPS设备。");
    EXPECT_EQ(CurrentLanguageIndex(), 0);
}

TEST_F(StringTableTest, EnglishWordingCountsAndCallsItTheGpsDevice) {
    ASSERT_TRUE(LoadLanguageFile(kShippedDir / "code_en.ini", Language::English));
    struct Row {
        const char* what;
        std::string text;
        std::string expected;
    };
    const Row rows[] = {
        // The counted texts take the number for every count, 1 too.
        {"one selected", FormatText(StringId::RES_CMAINFRAME_MESSAGE01, 1), "1 items selected"},
        {"three selected", FormatText(StringId::RES_CMAINFRAME_MESSAGE01, 3), "3 items selected"},
        {"delete one on the device", FormatText(StringId::RES_CLEFTFORMVIEW_MESSAGE02, 1),
         "Are you sure you want to delete the 1 selected items?"},
        {"delete two on the computer", FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE04, 2),
         "Are you sure you want to delete the 2 selected items?"},
        {"not responding", Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_DEV_NORESPONSE),
         "The GPS device is not responding!"},
        {"not connected (error)", Text(StringId::RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR),
         "The GPS device is not connected!"},
        {"not connected (search)", Text(StringId::RES_CDORVANEDOC_MESSAGE02),
         "The GPS device is not connected!"},
        {"port permission names the group",
         FormatText(StringId::RES_CDORVANEDOC_ERR_PORT_PERMISSION, "/dev/ttyUSB0", "dialout"),
         "You do not have permission to open /dev/ttyUSB0. Join the group dialout and log in "
         "again."},
    };
    for (const Row& row : rows) EXPECT_EQ(row.text, row.expected) << row.what;

    // One word for the device throughout, as the Chinese "GPS设备".
    // Only the texts count: key names such as RES_FIELD_AREA_HANDHELD are code.
    std::string english;
    {
        std::istringstream lines(ReadFile(kShippedDir / "code_en.ini"));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos) english += line.substr(eq + 1) + "\n";
        }
    }
    for (char& c : english) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word :
         {"handheld", "data source", "may not", "does not respond", " 1 items"}) {
        EXPECT_EQ(english.find(word), std::string::npos) << word;
    }

    ResetToDefaults();
    EXPECT_EQ(FormatText(StringId::RES_CMAINFRAME_MESSAGE01, 1),
              "1\xE4\xB8\xAA\xE9\xA1\xB9\xE7\x9B\xAE\xE5\xB7\xB2\xE9\x80\x89\xE6\x8B\xA9");
}

}  // namespace
}  // namespace dorvane
