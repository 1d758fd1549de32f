// Bills as the user gets them: the bill settings file, `dorvane-cli book
// settings`, and the bill's PDF and CSV read back by real readers
// (pdftotext/pdfinfo/pdffonts from poppler-utils, Python's csv module).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "book/bill_settings.h"
#include "book/money.h"
#include "names/encoding.h"
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

// The CLI with its own config folder, in English unless `zh`.
test::CommandRun BookCli(const TempFolder& dir, const std::string& args, bool zh = false) {
    return test::RunCommand("cd '" + dir.path().string() + "' && TZ=UTC LANG=" + (zh ? "zh_CN.UTF-8" : "C") +
                            " LC_ALL=" + (zh ? "zh_CN.UTF-8" : "C") + " XDG_CONFIG_HOME='" + (dir / "cfg").string() +
                            "' '" + DORVANE_BINARY_DIR + "/bin/dorvane-cli' " + (zh ? "" : "-Code_Eng ") +
                            "book --book '" + (dir / "book.gpkg").string() + "' " + args + " 2>&1");
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

TEST(BookCliAdd, JobsKeepTheAbsolutePathOfTheirFile) {
    TempFolder dir;
    fs::create_directories(dir / "in" / "sub");
    const fs::path real = fs::canonical(dir.path());
    struct Case {
        std::string arg;  ///< as typed, from the test's folder (or from in/sub for "../")
        std::string file;  ///< the job's file, under the folder
        float lon;
    };
    const Case cases[] = {{"in/A.txt", "in/A.txt", 100.0f},
                          {"./in/../in/B.txt", "in/B.txt", 101.0f},
                          {"../C.txt", "in/C.txt", 102.0f},
                          {(real / "in" / "D.txt").string(), "in/D.txt", 103.0f}};
    for (const Case& c : cases) {
        WriteText(real / c.file, WriteArea(SquareField(c.lon, 30.0f, 0.001f)));
        const bool fromSub = c.arg.rfind("../", 0) == 0;
        const auto r = test::RunCommand("cd '" + (real / (fromSub ? "in/sub" : "")).string() + "' && '" +
                                        DORVANE_BINARY_DIR + "/bin/dorvane-cli' -Code_Eng book --book '" +
                                        (real / "book.gpkg").string() + "' add '" + c.arg + "' 2>&1");
        EXPECT_EQ(r.status, 0) << c.arg << ": " << r.out;
    }
    const auto list = BookCli(dir, "list --json");
    ASSERT_EQ(list.status, 0) << list.out;
    for (const Case& c : cases)
        EXPECT_NE(list.out.find("\"file\": \"" + (real / c.file).string() + "\""), std::string::npos)
            << c.arg << "\n" << list.out;
}

#ifdef DORVANE_HAVE_PDF

struct Word {
    double x0, y0, x1, y1;
    std::string text;
};

// The words of every page of `pdf` with their boxes (pdftotext -bbox), by page.
std::vector<std::vector<Word>> WordsByPage(const fs::path& pdf) {
    const std::string out = test::RunCommand("pdftotext -bbox '" + pdf.string() + "' -").out;
    std::vector<std::vector<Word>> pages;
    const std::regex re(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it) {
        if ((*it)[1].length() == 0) {
            pages.emplace_back();
            continue;
        }
        if (pages.empty()) pages.emplace_back();
        pages.back().push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4]),
                                (*it)[5]});
    }
    return pages;
}

// No word's box meets another's on any page (rows sized by the screen's
// font metrics, or cells wider than their column, would overlap).
void ExpectNoOverlap(const fs::path& pdf) {
    constexpr double kSlackPt = 0.5;  // rounding of the boxes
    const auto pages = WordsByPage(pdf);
    ASSERT_FALSE(pages.empty());
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const auto& words = pages[p];
        for (std::size_t i = 0; i < words.size(); ++i)
            for (std::size_t j = i + 1; j < words.size(); ++j) {
                const Word& a = words[i];
                const Word& b = words[j];
                const bool meet = a.x0 < b.x1 - kSlackPt && b.x0 < a.x1 - kSlackPt && a.y0 < b.y1 - kSlackPt &&
                                  b.y0 < a.y1 - kSlackPt;
                EXPECT_FALSE(meet) << pdf.filename() << " page " << p + 1 << ": '" << a.text << "' and '" << b.text
                                   << "' overlap";
            }
    }
}

int PageCount(const fs::path& pdf) {
    const std::string info = test::RunCommand("pdfinfo '" + pdf.string() + "'").out;
    std::smatch m;
    return std::regex_search(info, m, std::regex(R"(Pages:\s+(\d+))")) ? std::stoi(m[1]) : -1;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The line of `text` holding `needle`, or "".
std::string LineWith(const std::string& text, const std::string& needle) {
    for (const std::string& l : Lines(text))
        if (l.find(needle) != std::string::npos) return l;
    return {};
}

// Words of `line` in order (pdftotext -layout keeps a row on one line).
bool InOrder(const std::string& line, const std::vector<std::string>& words) {
    std::size_t at = 0;
    for (const std::string& w : words) {
        at = line.find(w, at);
        if (at == std::string::npos) return false;
        at += w.size();
    }
    return true;
}

struct BillBook {
    TempFolder dir;
    static constexpr int kFields = 70;  ///< more lines than one page holds
    std::vector<std::string> labels;

    test::CommandRun Cli(const std::string& args, bool zh = false) const { return BookCli(dir, args, zh); }

    BillBook() {
        fs::create_directories(dir / "in");
        for (int i = 0; i < kFields; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "地块%02d", i);
            labels.push_back(name);
            AreaFile a = SquareField(112.0f + 0.01f * static_cast<float>(i), 34.0f,
                                     0.001f + 0.0001f * static_cast<float>(i % 7));
            a.header.SetFileName(*Utf8ToGbk(name));
            WriteText(dir / "in" / ("F" + std::to_string(i) + ".txt"), WriteArea(a));
        }
        Expect(Cli("customer add 王大伟 --village 新村 --phone 13800000000 --price-harvesting 80"));
        Expect(Cli("settings --seller-name 张三农机服务队 --seller-address '河南省周口市新村路 8 号' "
                   "--seller-phone 13900001111"));
        Expect(Cli("add in --customer 王大伟 --village 东头"));
        // Two jobs ploughed and billed by the hectare.
        Expect(Cli("assign 3,4 --work ploughing --unit ha --price 1250.5"));
    }
    static void Expect(const test::CommandRun& r) { ASSERT_EQ(r.status, 0) << r.out; }
};

TEST(BillPdf, EveryLineTheTotalsAndTheChineseTextsReadBack) {
    BillBook b;
    const auto bill = b.Cli("bill 王大伟 --date 2026-05-01 --pdf bill.pdf --csv bill.csv", true);
    ASSERT_EQ(bill.status, 0) << bill.out;
    EXPECT_EQ(bill.out, "2026-0001\n");
    const fs::path pdf = b.dir / "bill.pdf";
    // The CSV of the same lines, through Python's csv module: one row a line
    // and the totals; its figures are what the PDF must show.
    const auto rows = test::RunCommand(
        "python3 -c \"import csv,sys\nfor r in csv.reader(open(sys.argv[1],encoding='utf-8',newline='')): "
        "print('|'.join(r))\" '" + (b.dir / "bill.csv").string() + "'");
    ASSERT_EQ(rows.status, 0) << rows.out;
    const auto csv = Lines(rows.out);
    ASSERT_EQ(csv.size(), BillBook::kFields + 4u) << rows.out;
    const std::string text = test::RunCommand("pdftotext -layout '" + pdf.string() + "' -").out;
    struct Named {
        const char* what;
        std::string text;
    };
    const Named heads[] = {{"title", "账单 2026-0001"},
                           {"seller", "收款方"},
                           {"seller's name", "张三农机服务队"},
                           {"seller's address", "地址：河南省周口市新村路 8 号"},
                           {"seller's phone", "电话：13900001111"},
                           {"customer", "客户"},
                           {"customer's name", "王大伟"},
                           {"customer's village", "村庄：新村"},
                           {"number", "账单号：2026-0001"},
                           {"date", "开票日期：2026-05-01"},
                           {"basis", "计费面积：WGS84 椭球面积"},
                           {"columns", "面积(亩)"},
                           {"continued", "账单 2026-0001（续）"}};
    for (const Named& h : heads) EXPECT_NE(text.find(h.text), std::string::npos) << h.what;
    EXPECT_EQ(text.find("作废"), std::string::npos);
    // Every line: date, village, name, work, quantity with its unit, mu,
    // price and amount, in that order on one row.
    for (std::size_t i = 1; i + 3 < csv.size(); ++i) {
        std::vector<std::string> f;
        std::istringstream in(csv[i]);
        for (std::string cell; std::getline(in, cell, '|');) f.push_back(cell);
        ASSERT_EQ(f.size(), 14u) << csv[i];
        // bill,customer,date,basis,job,label,job_date,village,work,quantity,unit,area_mu,price,amount
        const bool ha = f[10] == "ha";
        const std::string unit = ha ? "公顷" : "亩";
        const std::string row = LineWith(text, " " + f[5] + " ");
        EXPECT_TRUE(InOrder(row, {f[6], f[7], f[5], ha ? "耕地" : "收割", f[9] + " " + unit, f[11],
                                  "¥" + f[12] + "/" + unit, "¥" + f[13]}))
            << csv[i] << "\n" << row;
    }
    const std::string total = csv[csv.size() - 3].substr(csv[csv.size() - 3].rfind('|') + 1);
    EXPECT_TRUE(InOrder(LineWith(text, "合计"), {"合计", "¥" + total}));
    EXPECT_TRUE(InOrder(LineWith(text, "已付"), {"已付", "¥0.00"}));
    EXPECT_TRUE(InOrder(LineWith(text, "尚欠"), {"尚欠", "¥" + total}));
    // The total is the sum of the lines' amounts.
    Fen sum = 0;
    for (std::size_t i = 1; i + 3 < csv.size(); ++i) sum += *ParseMoney(csv[i].substr(csv[i].rfind('|') + 1));
    EXPECT_EQ(FormatMoney(sum), total);
    // More than one page, each saying which of how many it is.
    const int pages = PageCount(pdf);
    EXPECT_GE(pages, 2);
    EXPECT_NE(text.find("第 " + std::to_string(pages) + " 页，共 " + std::to_string(pages) + " 页"), std::string::npos);
    ExpectNoOverlap(pdf);
    const std::string fonts = test::RunCommand("pdffonts '" + pdf.string() + "'").out;
    EXPECT_TRUE(std::regex_search(fonts, std::regex(R"((WenQuanYi|NotoSansCJK)\S*\s+CID TrueType\s+\S+\s+yes)")))
        << fonts;
}

TEST(BillPdf, AnIssuedBillAgainWithPaymentsMapsAndVoid) {
    BillBook b;
    BillBook::Expect(b.Cli("bill 王大伟 --jobs 1,2,3 --date 2026-05-01"));
    BillBook::Expect(b.Cli("bill 王大伟 --jobs 5,6 --date 2026-05-02"));
    BillBook::Expect(b.Cli("pay 2026-0001 100"));
    BillBook::Expect(b.Cli("void 2026-0002"));
    struct Case {
        std::string args;
        int pages;
        std::vector<std::string> says;
        std::vector<std::string> never;
    };
    const Case cases[] = {
        {"pdf 2026-0001 --pdf paid.pdf", 1, {"Paid so far", "$100.00", "Bill 2026-0001"}, {"VOID", "Field maps"}},
        {"pdf 2026-0002 --pdf void.pdf", 1, {"VOID", "Voided on", "Bill 2026-0002", "Outstanding"}, {}},
        {"pdf 2026-0001 --pdf maps.pdf --pictures", 2, {"Field maps", "2026-0001", "地块00", "地块01", "地块10"}, {}},
    };
    BillBook::Expect(b.Cli("settings --currency '$'"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = b.Cli(c.args);
        ASSERT_EQ(r.status, 0) << r.out;
        const fs::path pdf = b.dir / c.args.substr(c.args.find("--pdf ") + 6, c.args.find(".pdf") - c.args.find("--pdf ") - 2);
        EXPECT_NE(r.out.find("Wrote " + pdf.filename().string()), std::string::npos) << r.out;
        EXPECT_EQ(PageCount(pdf), c.pages);
        const std::string text = test::RunCommand("pdftotext -layout '" + pdf.string() + "' -").out;
        for (const std::string& s : c.says) EXPECT_NE(text.find(s), std::string::npos) << s << "\n" << text;
        for (const std::string& s : c.never) EXPECT_EQ(text.find(s), std::string::npos) << s;
        ExpectNoOverlap(pdf);
    }
    // Void bill: nothing outstanding.
    const std::string voidText = test::RunCommand("pdftotext -layout '" + (b.dir / "void.pdf").string() + "' -").out;
    EXPECT_TRUE(InOrder(LineWith(voidText, "Outstanding"), {"Outstanding", "$0.00"})) << voidText;
    // A bill on the GPS device's own figures says so.
    const auto hh = b.Cli("bill 王大伟 --jobs 7 --basis handheld --date 2026-05-03 --pdf hh.pdf");
    ASSERT_EQ(hh.status, 0) << hh.out;
    EXPECT_EQ(hh.out, "2026-0003\n");
    const std::string hhText = test::RunCommand("pdftotext -layout '" + (b.dir / "hh.pdf").string() + "' -").out;
    EXPECT_NE(hhText.find("Area billed: the GPS device's own area"), std::string::npos) << hhText;
}

// Page 1 of `pdf` rasterised (pdftoppm, 40 dpi, binary PPM): how many of
// its pixels lie within 40 of each channel of `rgb`.
int PixelsNear(const fs::path& pdf, const fs::path& stem, int r, int g, int bl) {
    const auto run = test::RunCommand("pdftoppm -f 1 -l 1 -r 40 -singlefile '" + pdf.string() + "' '" +
                                      stem.string() + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    std::ifstream in(stem.string() + ".ppm", std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    EXPECT_EQ(magic, "P6");
    std::vector<unsigned char> px(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    in.read(reinterpret_cast<char*>(px.data()), static_cast<std::streamsize>(px.size()));
    int n = 0;
    for (std::size_t i = 0; i + 2 < px.size(); i += 3)
        if (std::abs(px[i] - r) < 40 && std::abs(px[i + 1] - g) < 40 && std::abs(px[i + 2] - bl) < 40) ++n;
    return n;
}

// A bill without field maps starts with its fields' map all the same, drawn
// from the packs given (stacked: each later --tiles over the ones before);
// its legend is read back.
TEST(BillPdf, TheFieldsMapFromStackedPacksWithoutFieldMaps) {
    BillBook b;
    struct Pack {
        const char* file;
        const char* colour;
        int r, g, bl;
    };
    // The province's pack and the county's, both over the fields.
    const Pack province{"province.mbtiles", "255,0,255,255", 255, 0, 255};
    const Pack county{"county.mbtiles", "0,0,255,255", 0, 0, 255};
    for (const Pack& p : {province, county}) {
        const auto made = test::RunCommand(std::string("python3 '") + DORVANE_SOURCE_DIR + "/tests/map/make_pack.py' '" +
                                           (b.dir / p.file).string() + "' --zooms 4 8 --bounds 111,33,114,35 --colour " +
                                           p.colour + " 2>&1");
        ASSERT_EQ(made.status, 0) << made.out;
    }
    BillBook::Expect(b.Cli("bill 王大伟 --jobs 1,2 --date 2026-05-01"));
    struct Case {
        const char* args;
        const Pack* over;   ///< the pack seen
        const Pack* under;  ///< the pack hidden under it
    };
    const Case cases[] = {
        {"--tiles province.mbtiles --tiles county.mbtiles", &county, &province},
        {"--tiles county.mbtiles --tiles province.mbtiles", &province, &county},
        {"--tiles none --tiles province.mbtiles --offline", &province, &county},
    };
    const std::string work = "harvesting";  // the CLI runs in English
    int k = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string out = "stacked" + std::to_string(k++) + ".pdf";
        const auto r = b.Cli("pdf 2026-0001 --pdf " + out + " " + c.args);
        ASSERT_EQ(r.status, 0) << r.out;
        const fs::path pdf = b.dir / out;
        EXPECT_EQ(test::RunCommand("pdfinfo '" + pdf.string() + "' | grep -c '^Pages: *1$'").out, "1\n");
        // The legend names the work, above the table (its second mention).
        const std::string text = test::RunCommand("pdftotext -f 1 -l 1 '" + pdf.string() + "' -").out;
        const std::size_t first = text.find(work);
        ASSERT_NE(first, std::string::npos) << text;
        EXPECT_NE(text.find(work, first + work.size()), std::string::npos) << text;
        EXPECT_GT(PixelsNear(pdf, b.dir / "page", c.over->r, c.over->g, c.over->bl), 200);
        EXPECT_EQ(PixelsNear(pdf, b.dir / "page", c.under->r, c.under->g, c.under->bl), 0);
    }
    // Values the desktop's --snapshot refuses are refused here too, named;
    // a --tiles without its value gets the usage. Nothing is written.
    struct Bad {
        const char* args;
        const char* named;
    };
    const Bad bad[] = {{"--tiles province.png", "province.png"},
                       {"--tiles county.mbtiles --overlay http://example.invalid/tile.png", "example.invalid"},
                       {"--tiles", "usage"}};
    for (const Bad& c : bad) {
        SCOPED_TRACE(c.args);
        const auto r = b.Cli(std::string("pdf 2026-0001 --pdf bad.pdf ") + c.args);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.out.find(c.named), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(b.dir / "bad.pdf"));
    }
}

TEST(BillPdf, OutputsAreCheckedBeforeABillIsIssued) {
    BillBook b;
    WriteText(b.dir / "old.pdf", "keep me");
    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {"bill 王大伟 --jobs 1 --pdf old.pdf", 1, "old.pdf exists"},
        {"bill 王大伟 --jobs 1 --csv old.pdf", 1, "old.pdf exists"},
        {"pdf 2026-0001 --pdf x.pdf", 1, "There is no bill 2026-0001"},
        {"pdf 2026-0001", 2, "usage"},
        {"bill 王大伟 --jobs 1 --date 2026-13-01 --pdf x.pdf", 2, "--date"},
        // Nothing was issued above: the first bill is 2026-0001.
        {"bill 王大伟 --jobs 1 --date 2026-05-01 --pdf old.pdf --force", 0, "2026-0001\n"},
        {"pdf 2026-0001 --pdf old.pdf", 1, "old.pdf exists"},
    };
    for (const Case& c : cases) {
        const auto r = b.Cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    }
    EXPECT_EQ(PageCount(b.dir / "old.pdf"), 1);
    for (const auto& e : fs::directory_iterator(b.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

#endif  // DORVANE_HAVE_PDF

}  // namespace
}  // namespace dorvane::book
