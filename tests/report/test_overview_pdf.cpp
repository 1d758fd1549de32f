// The map of all fields at the top of the first page of the ledger's and of
// a bill's PDF: its legend read back with pdftotext (above the table it
// heads), its fields counted in the page rasterised by pdftoppm.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <regex>

#include "common/run_command.h"
#include "convert/temp_folder.h"
#include "i18n/string_table.h"
#include "map/overview_map.h"
#include "report/field_samples.h"
#include "report/ledger.h"
#include "report_pdf/bill_pdf.h"
#include "report_pdf/ledger_pdf.h"

namespace dorvane::report {
namespace {

namespace fs = std::filesystem;
using testing::SampleField;

/// Pixels of page 1 (rasterised at a low resolution) in the first category's
/// colour, filled over the grid or as the legend's square: green well above
/// red and above blue, as no other colour of the page is.
int FirstCategoryPixels(const fs::path& pdf, const fs::path& png) {
    const auto run = test::RunCommand("pdftoppm -f 1 -l 1 -r 40 -png -singlefile '" + pdf.string() + "' '" +
                                      (png.parent_path() / png.stem()).string() + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    const QImage img(QString::fromStdString(png.string()));
    EXPECT_FALSE(img.isNull()) << png;
    const QColor want = map::CategoryColour(0);
    EXPECT_GT(want.green(), want.red() + 40);  // the rule below holds for the palette's first colour
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.green() > c.red() + 40 && c.green() > c.blue() + 10) ++n;
        }
    return n;
}

/// The top of the first word `word` on page 1 (pdftotext -bbox), or -1.
double WordTop(const fs::path& pdf, const std::string& word) {
    const std::string out = test::RunCommand("pdftotext -f 1 -l 1 -bbox '" + pdf.string() + "' -").out;
    const std::regex re(R"re(<word xMin="[\d.]+" yMin="([\d.]+)" xMax="[\d.]+" yMax="[\d.]+">([^<]*)</word>)re");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it)
        if ((*it)[2] == word) return std::stod((*it)[1]);
    return -1;
}

std::string PageOne(const fs::path& pdf) {
    return test::RunCommand("pdftotext -layout -f 1 -l 1 '" + pdf.string() + "' -").out;
}

int Pages(const fs::path& pdf) {
    const std::string info = test::RunCommand("pdfinfo '" + pdf.string() + "'").out;
    std::smatch m;
    return std::regex_search(info, m, std::regex(R"(Pages:\s+(\d+))")) ? std::stoi(m[1]) : -1;
}

void WriteFields(const fs::path& dir, int count) {
    for (int i = 0; i < count; ++i) {
        SampleField f{.name = "F" + std::to_string(i)};
        f.shift = 0.01 * i;
        testing::WriteSample(dir / (f.name + ".txt"), f);
    }
}

TEST(OverviewPdf, TheLedgerStartsWithTheMapOfItsFields) {
    struct Case {
        const char* what;
        int fields;        ///< readable area files
        bool garbage;      ///< and a file that reads as nothing
        bool map;          ///< the map and its legend on page 1
        int pages;
    };
    const Case cases[] = {
        {"three fields", 3, false, true, 4},
        {"fields and a bad file", 2, true, true, 3},
        {"nothing readable", 0, true, false, 1},
    };
    const std::string legend = Text(StringId::RES_MAP_LEGEND_COUNTED);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempFolder dir;
        const fs::path in = dir.path() / "in";
        fs::create_directories(in);
        WriteFields(in, c.fields);
        if (c.garbage) std::ofstream(in / "bad.txt") << "not a field at all";
        const Ledger l = BuildLedger({in}, {});
        const fs::path pdf = dir.path() / "ledger.pdf";
        ASSERT_TRUE(WriteLedgerPdf(l, pdf, false).ok());
        EXPECT_EQ(Pages(pdf), c.pages);
        const std::string text = PageOne(pdf);
        EXPECT_EQ(text.find(legend) != std::string::npos, c.map) << text;
        const int green = FirstCategoryPixels(pdf, dir.path() / "page.png");
        if (c.map)
            EXPECT_GT(green, 30);
        else
            EXPECT_EQ(green, 0);
        // The map heads the page: its legend above the table's first field.
        if (c.map) {
            const double legendTop = WordTop(pdf, legend.substr(0, legend.find(' ')));
            const double fieldTop = WordTop(pdf, "F0.txt");
            EXPECT_GE(legendTop, 0);
            EXPECT_LT(legendTop, fieldTop);
        }
    }
}

book::BillPrint SampleBill(std::vector<book::BillPicture>& pictures, const fs::path& dir) {
    book::BillPrint b;
    b.bill.number = "2026-0001";
    b.bill.customer = b.customer.name = "Zhao";
    b.bill.date = "2026-05-02";
    const book::WorkType works[] = {book::WorkType::kHarvesting, book::WorkType::kPloughing,
                                    book::WorkType::kHarvesting};
    for (std::size_t i = 0; i < std::size(works); ++i) {
        book::BillPrintLine l;
        l.line.job = static_cast<book::JobId>(i + 1);
        l.line.label = "F" + std::to_string(i);
        l.line.date = "2026-05-01";
        l.line.work = works[i];
        l.line.quantityE4 = 20000;
        l.line.priceFen = 6000;
        l.line.amountFen = 12000;
        l.areaMuE4 = 20000;
        b.bill.totalFen += l.line.amountFen;
        b.bill.lines.push_back(l.line);
        b.lines.push_back(l);
        SampleField f{.name = l.line.label};
        f.shift = 0.01 * static_cast<double>(i);
        const fs::path file = dir / (f.name + ".txt");
        testing::WriteSample(file, f);
        book::BillPicture pic;
        pic.caption = l.line.date + "  " + l.line.label;
        pic.line = i;
        EXPECT_TRUE(geo::ReadFieldFile(file, pic.field).ok());
        pictures.push_back(std::move(pic));
    }
    return b;
}

TEST(OverviewPdf, ABillWithItsFieldsStartsWithTheirMap) {
    testing::TempFolder dir;
    std::vector<book::BillPicture> pictures;
    const book::BillPrint b = SampleBill(pictures, dir.path());
    struct Case {
        const char* file;
        bool boundaries;    ///< the fields' boundaries given
        bool picturePages;  ///< a page of maps after the bill
        int pages;
        bool map;  ///< the map of all the fields on page 1
    };
    const Case cases[] = {{"plain.pdf", false, true, 1, false},
                          {"overview.pdf", true, false, 1, true},
                          {"maps.pdf", true, true, 2, true}};
    const std::string column = Text(StringId::RES_BILL_COL_DATE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path pdf = dir.path() / c.file;
        BillPdfOptions options;
        options.picturePages = c.picturePages;
        ASSERT_TRUE(WriteBillPdf(b, c.boundaries ? pictures : std::vector<book::BillPicture>{}, pdf, false, options)
                        .ok());
        EXPECT_EQ(Pages(pdf), c.pages);
        const int green = FirstCategoryPixels(pdf, dir.path() / "page.png");
        if (c.map)
            EXPECT_GT(green, 30);
        else
            EXPECT_EQ(green, 0);
        // The legend names both works, above the table's heading.
        const double headTop = WordTop(pdf, column);
        ASSERT_GE(headTop, 0);
        for (book::WorkType w : {book::WorkType::kHarvesting, book::WorkType::kPloughing}) {
            const std::string work = Text(w == book::WorkType::kHarvesting ? StringId::RES_BILL_WORK_HARVESTING
                                                                          : StringId::RES_BILL_WORK_PLOUGHING);
            const double top = WordTop(pdf, work);  // the first: the legend's, when there is one
            ASSERT_GE(top, 0) << work;
            EXPECT_EQ(top < headTop, c.map) << work;
        }
    }
}

}  // namespace
}  // namespace dorvane::report
