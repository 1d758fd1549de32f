// Bills as the user gets them: the bill settings file, `dorvane-cli book
// settings`, and the bill's PDF and CSV read back by real readers
// (pdftotext/pdfinfo/pdffonts from poppler-utils, Python's csv module).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "book/bill_settings.h"
#include "book_fixture.h"
#include "common/run_command.h"

namespace dorvane::book {
namespace {

namespace fs = std::filesystem;
using dorvane::testing::SquareField;
using dorvane::testing::TempFolder;
using dorvane::testing::WriteText;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(BillSettingsFile, ReadsWhatItWritesAndRefusesWhatItCannotRead) {
    struct Case {
        const char* what;
        std::string text;  ///< the file; "-" for no file at all
        bool ok;
        std::string currency, name, phone;
        const char* says;  ///< part of the message when refused
    };
    const Case cases[] = {
        {"no file", "-", true, kDefaultCurrency, "", "", ""},
        {"all keys", "currency=元\nseller-name=张三农机\nseller-phone=139\n", true, "元", "张三农机", "139", ""},
        {"comments, blanks, spaces", "# x\n\n  seller-name = Li Wei \r\n", true, kDefaultCurrency, "Li Wei", "",
         ""},
        {"value with '='", "seller-name=a=b\n", true, kDefaultCurrency, "a=b", "", ""},
        {"unknown key kept", "colour=red\ncurrency=$\n", true, "$", "", "", ""},
        {"no '='", "seller-name\n", false, kDefaultCurrency, "", "", "line 1 is not key=value"},
        {"empty key", "currency=$\n=x\n", false, kDefaultCurrency, "", "", "line 2"},
        {"GBK bytes", "seller-name=\xd5\xc5\xc8\xfd\n", false, kDefaultCurrency, "", "", "not UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder dir;
        const fs::path file = dir / "bill.conf";
        if (c.text != "-") WriteText(file, c.text);
        BillSettings s;
        s.sellerName = "stale";
        const BookStatus st = LoadBillSettings(file, s);
        EXPECT_EQ(st.ok(), c.ok) << st.message;
        EXPECT_EQ(s.currency, c.currency);
        EXPECT_EQ(s.sellerName, c.name);
        EXPECT_EQ(s.sellerPhone, c.phone);
        if (!c.ok) {
            EXPECT_NE(st.message.find(c.says), std::string::npos) << st.message;
            EXPECT_NE(st.message.find(file.string()), std::string::npos) << st.message;
            EXPECT_EQ(Slurp(file), c.text);  // never rewritten
            continue;
        }
        // Written again (making the folder), read back the same, unknown keys kept.
        const fs::path again = dir / "sub" / "bill.conf";
        ASSERT_TRUE(SaveBillSettings(again, s).ok());
        BillSettings back;
        ASSERT_TRUE(LoadBillSettings(again, back).ok());
        EXPECT_EQ(back.currency, s.currency);
        EXPECT_EQ(back.sellerName, s.sellerName);
        EXPECT_EQ(back.sellerPhone, s.sellerPhone);
        EXPECT_EQ(back.others, s.others);
    }
}

TEST(BillSettingsFile, ValuesTheFileCannotHoldAreRefused) {
    struct Case {
        std::string value;
        bool ok;
    };
    const Case cases[] = {{"", true},
                          {"北京市海淀区 1 号", true},
                          {std::string(kMaxBillSettingBytes, 'a'), true},
                          {std::string(kMaxBillSettingBytes + 1, 'a'), false},
                          {"two\nlines", false},
                          {"tab\there", false},
                          {"\xff\xfe", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(BillSettingProblem(c.value).empty(), c.ok) << c.value;
        TempFolder dir;
        BillSettings s;
        s.sellerAddress = c.value;
        EXPECT_EQ(SaveBillSettings(dir / "bill.conf", s).ok(), c.ok) << c.value;
        EXPECT_EQ(fs::exists(dir / "bill.conf"), c.ok);
    }
}

// The CLI in English with its own config folder.
test::CommandRun BookCli(const TempFolder& dir, const std::string& args, const std::string& lang = "-Code_Eng") {
    return test::RunCommand("cd '" + dir.path().string() + "' && TZ=UTC XDG_CONFIG_HOME='" + (dir / "cfg").string() +
                            "' '" + DORVANE_BINARY_DIR + "/bin/dorvane-cli' " + lang + " book --book '" +
                            (dir / "book.gpkg").string() + "' " + args + " 2>&1");
}

TEST(BillSettingsCli, SetsShowsAndKeepsTheSettings) {
    TempFolder dir;
    struct Step {
        std::string args;
        int status;
        std::string out;  ///< the whole output, or part of it when refused
    };
    const Step steps[] = {
        {"settings", 0, "currency=\xC2\xA5\nseller-name=\nseller-address=\nseller-phone=\nbasis=wgs84\n"},
        {"settings --seller-name '张三农机服务' --seller-phone 13900001111", 0,
         "currency=\xC2\xA5\nseller-name=张三农机服务\nseller-address=\nseller-phone=13900001111\nbasis=wgs84\n"},
        {"settings --currency 元 --basis handheld --seller-address 'Xin Village 3'", 0,
         "currency=元\nseller-name=张三农机服务\nseller-address=Xin Village 3\nseller-phone=13900001111\n"
         "basis=handheld\n"},
        {"settings --basis gcj02", 2, "--basis: 'gcj02' is not a valid value"},
        {"settings --seller-name \"$(printf 'a\\nb')\"", 2, "--seller-name"},
        {"settings --basis wgs84", 0,
         "currency=元\nseller-name=张三农机服务\nseller-address=Xin Village 3\nseller-phone=13900001111\n"
         "basis=wgs84\n"},
    };
    for (const Step& s : steps) {
        const auto r = BookCli(dir, s.args);
        EXPECT_EQ(r.status, s.status) << s.args << ": " << r.out;
        if (s.status == 0)
            EXPECT_EQ(r.out, s.out) << s.args;
        else
            EXPECT_NE(r.out.find(s.out), std::string::npos) << s.args << ": " << r.out;
    }
    EXPECT_NE(Slurp(dir / "cfg" / "dorvane" / "bill.conf").find("seller-name=张三农机服务\n"), std::string::npos);
    // A damaged settings file is named and left alone.
    WriteText(dir / "cfg" / "dorvane" / "bill.conf", "garbage\n");
    const auto r = BookCli(dir, "settings --currency $");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("bill.conf: line 1 is not key=value"), std::string::npos) << r.out;
    EXPECT_EQ(Slurp(dir / "cfg" / "dorvane" / "bill.conf"), "garbage\n");
}

}  // namespace
}  // namespace dorvane::book
