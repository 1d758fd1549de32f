// dorvane-cli report and export as a user runs them, read back by real
// readers: pdftotext/pdfinfo/pdffonts (poppler-utils) for the PDF, Python's
// csv module for the CSV, ogrinfo (gdal-bin) for every GIS format.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>

#include "common/run_command.h"
#include "convert/download.h"
#include "convert/temp_folder.h"
#include "convert/track_file.h"
#include "convert/xml_text.h"
#include "report/field_samples.h"
#include "report/ledger.h"
#include "report/ledger_table.h"

namespace dorvane::report {
namespace {

namespace fs = std::filesystem;
using testing::SampleField;
using testing::TempFolder;

using CliRun = dorvane::test::CommandRun;

// stdout and stderr together.
CliRun Shell(const std::string& cmd) {
    return dorvane::test::RunCommand(cmd + " 2>&1");
}

// The CLI in the given language (zh_CN picks Chinese), UTC, own settings.
CliRun Cli(const TempFolder& dir, const std::string& args, const std::string& lang = "C") {
    return Shell("cd '" + dir.path().string() + "' && LANG=" + lang + " LC_ALL=" + lang +
                 " TZ=UTC XDG_CONFIG_HOME='" + (dir / "cfg").string() + "' '" + DORVANE_BINARY_DIR +
                 "/bin/dorvane-cli' " + args);
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// "地块一" in GBK: the handheld's own bytes, for the header and the file name.
const std::string kGbkName = "\xB5\xD8\xBF\xE9\xD2\xBB";

class ReportCli : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        fs::create_directories(dir / "in");
        testing::WriteFieldOfEachMethod(dir / "in");
        testing::WriteSample(dir / "in" / (kGbkName + ".txt"),
                             SampleField{.name = kGbkName, .shift = 2});
        std::string bad = WriteArea(testing::SampleArea(SampleField{.name = "X"}));
        bad[5] = bad[5] == 'A' ? 'B' : 'A';
        std::ofstream(dir / "in" / "damaged.txt", std::ios::binary) << bad;
    }
    TempFolder dir;
};

TEST_F(ReportCli, TerminalTableAndExitStatus) {
    const CliRun r = Cli(dir, "report in");
    EXPECT_EQ(r.status, 1) << r.out;  // the damaged file is a row with its error
    for (const char* s :
         {"V1.txt", "T1.txt", "H1.txt", "地块一.txt", "damaged.txt", "Total", "header is damaged"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
    const CliRun ok = Cli(dir, "report in/V1.txt in/H1.txt");
    EXPECT_EQ(ok.status, 0) << ok.out;
    struct {
        std::string args;
        int status;
    } usage[] = {{"report", 2},
                 {"report in --from 2024-13-01", 2},
                 {"report in --bogus", 2},
                 {"report in --csv", 2}};
    for (const auto& u : usage) EXPECT_EQ(Cli(dir, u.args).status, u.status) << u.args;
}

// -r takes the sub-folders, a plain folder only its own files; --from/--to keep the fields of
// those days (both included) and every row with an error.
TEST_F(ReportCli, SubFoldersAndDateRange) {
    fs::create_directories(dir / "top" / "sub");
    testing::WriteSample(dir / "top" / "sub" / "Deep.txt", SampleField{.name = "Deep"});
    testing::WriteSample(dir / "top" / "Flat.txt", SampleField{.name = "Flat"});
    const struct {
        std::string args;
        std::vector<std::string> shown, hidden;
    } cases[] = {
        {"report top", {"Flat.txt"}, {"Deep.txt"}},
        {"report -r top", {"Flat.txt", "Deep.txt"}, {}},
        {"report --recursive top", {"Flat.txt", "Deep.txt"}, {}},
        {"report in --from 2024-05-02 --to 2024-05-02",
         {"T1.txt", "damaged.txt"},
         {"V1.txt", "H1.txt"}},
        {"report in --from 2024-05-01 --to 2024-05-01",
         {"V1.txt", "H1.txt", "damaged.txt"},
         {"T1.txt"}},
        {"report in --from 2024-05-03", {"damaged.txt"}, {"V1.txt", "H1.txt", "T1.txt"}},
    };
    for (const auto& c : cases) {
        const CliRun r = Cli(dir, c.args);
        EXPECT_NE(r.status, 2) << c.args << "\n" << r.out;
        for (const auto& s : c.shown)
            EXPECT_NE(r.out.find(s), std::string::npos) << c.args << ": " << s << "\n" << r.out;
        for (const auto& s : c.hidden)
            EXPECT_EQ(r.out.find(s), std::string::npos) << c.args << ": " << s << "\n" << r.out;
    }
}

TEST_F(ReportCli, CsvAndPdfReadBackByTheirReaders) {
#ifndef DORVANE_HAVE_PDF
    GTEST_SKIP() << "built without Qt Gui: no PDF";
#endif
    const CliRun r = Cli(dir, "report in --csv out.csv --pdf out.pdf --tiles none", "zh_CN.UTF-8");
    ASSERT_EQ(r.status, 1) << r.out;  // written, with one unreadable row
    ASSERT_TRUE(fs::exists(dir / "out.csv"));
    ASSERT_TRUE(fs::exists(dir / "out.pdf"));
    const Ledger l = BuildLedger({dir / "in"}, {});
    ASSERT_EQ(l.totals.fields, 4u);

    // CSV: BOM, CR LF, and every row and the totals through Python's csv.
    const std::string csv = Slurp(dir / "out.csv");
    EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    const CliRun py = Shell(
        "python3 -c \"import csv,sys; rows=list(csv.reader(open(sys.argv[1],encoding='utf-8-sig',"
        "newline=''))); print(len(rows)); print(rows[-1][0]); "
        "print(sum(1 for r in rows if r[0]=='地块一.txt'))\" '" +
        (dir / "out.csv").string() + "'");
    EXPECT_EQ(py.out, std::to_string(l.rows.size() + 2) + "\n合计\n1\n") << py.out;

    // PDF: the summary page plus one page per readable field.
    const CliRun info = Shell("pdfinfo '" + (dir / "out.pdf").string() + "'");
    EXPECT_NE(info.out.find("Pages:           5"), std::string::npos) << info.out;
    const CliRun text = Shell("pdftotext -layout '" + (dir / "out.pdf").string() + "' -");
    for (const char* s : {"地块台账", "全部日期", "面积(亩)", "面积总价", "地块一", "收割作业法",
                          "合计", "文件头已损坏", "长度/周长(米)"})
        EXPECT_NE(text.out.find(s), std::string::npos) << s;
    for (const auto& row : l.rows) {
        if (!row.ok()) continue;
        for (auto c : {LedgerColumn::kArea, LedgerColumn::kAreaMu, LedgerColumn::kAreaTotal,
                       LedgerColumn::kAreaWgs84})
            EXPECT_NE(text.out.find(CellOf(row, c).text), std::string::npos)
                << row.fileText << " " << CellOf(row, c).text;
    }
    EXPECT_NE(text.out.find(TotalsCell(l.totals, LedgerColumn::kAreaTotal).text),
              std::string::npos);
    // Pages of the PDF split by form feeds: page 2 is a field's own page.
    const auto ff = text.out.find('\f');
    ASSERT_NE(ff, std::string::npos);
    EXPECT_NE(text.out.find("地块数据", ff), std::string::npos);
    // The summary's rows are as tall as their text: no word's box meets
    // another's (rows sized by the screen's font metrics overlapped).
    const CliRun boxes = Shell("pdftotext -f 1 -l 1 -bbox '" + (dir / "out.pdf").string() + "' -");
    struct Box {
        double x0, y0, x1, y1;
        std::string word;
    };
    std::vector<Box> words;
    const std::regex wordRe(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    for (auto it = std::sregex_iterator(boxes.out.begin(), boxes.out.end(), wordRe);
         it != std::sregex_iterator(); ++it)
        words.push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]),
                         std::stod((*it)[4]), (*it)[5]});
    EXPECT_GT(words.size(), 40u) << boxes.out;
    constexpr double kSlackPt = 0.5;  // rounding of the boxes
    for (std::size_t i = 0; i < words.size(); ++i)
        for (std::size_t j = i + 1; j < words.size(); ++j) {
            const Box& a = words[i];
            const Box& b = words[j];
            const bool meet = a.x0 < b.x1 - kSlackPt && b.x0 < a.x1 - kSlackPt &&
                              a.y0 < b.y1 - kSlackPt && b.y0 < a.y1 - kSlackPt;
            EXPECT_FALSE(meet) << "'" << a.word << "' and '" << b.word << "' overlap";
        }
    const CliRun fonts = Shell("pdffonts '" + (dir / "out.pdf").string() + "'");
    const std::regex embedded(R"((WenQuanYi|NotoSansCJK)\S*\s+CID TrueType\s+\S+\s+yes)");
    EXPECT_TRUE(std::regex_search(fonts.out, embedded)) << fonts.out;
}

TEST_F(ReportCli, ASeasonOfConvertedDownloadsIsCountedOnce) {
    // Two folders of downloads from the converting model: each field as the KML under
    // the handheld's name and its .bak. `report -r` counts every field once, from the
    // raw bytes, and the CSV and PDF say the same.
    const SampleField fields[] = {
        {.name = "A1003", .areaPrice = 0.075f},
        {.name = "A1004", .collected = testing::kDay0 + testing::kDaySeconds, .shift = 1},
        {.name = "A1005", .areaPrice = 0.09f, .dLon = 1.0 / 64, .dLat = 1.0 / 128, .shift = 2}};
    double area = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const fs::path folder = dir / "season" / (i < 2 ? "may" : "june");
        fs::create_directories(folder);
        const std::string text = WriteArea(testing::SampleArea(fields[i]));
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        ASSERT_TRUE(
            StoreDownload(bytes, fields[i].name + ".txt", folder, kConvertingModelCode).ok());
        area += BuildLedger({folder / (fields[i].name + ".bak")}, {}).totals.handheldArea_m2;
    }
    const CliRun r = Cli(dir, "report -r season");
    EXPECT_EQ(r.status, 0) << r.out;
    LedgerOptions deep;
    deep.recursive = true;
    const Ledger l = BuildLedger({dir / "season"}, deep);
    ASSERT_EQ(l.rows.size(), 3u);
    EXPECT_DOUBLE_EQ(l.totals.handheldArea_m2, area);
    EXPECT_NE(r.out.find("converted files counted once with their .bak raw copy: 3"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(TotalsCell(l.totals, LedgerColumn::kArea).text), std::string::npos)
        << r.out;
    for (const char* s : {"A1003.txt (A1003.bak)", "A1004.txt (A1004.bak)", "(at 0.075 per m2)",
                          "(at 0.09 per km2)"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
#ifdef DORVANE_HAVE_PDF
    const CliRun w = Cli(dir, "report -r season --csv s.csv --pdf s.pdf --tiles none");
    ASSERT_EQ(w.status, 0) << w.out;
    const CliRun py = Shell(
        "python3 -c \"import csv,sys; rows=list(csv.reader(open(sys.argv[1],encoding='utf-8-sig',"
        "newline=''))); print(len(rows)); print(rows[-1][10])\" '" + (dir / "s.csv").string() +
        "'");
    EXPECT_EQ(py.out, "5\n" + TotalsCell(l.totals, LedgerColumn::kArea).text + "\n");
    // The PDF's summary names the fields beside their files, and each price its unit.
    const CliRun text = Shell("pdftotext -layout -f 1 -l 1 '" + (dir / "s.pdf").string() + "' -");
    for (const char* s : {"A1003.txt", "A1005", "per m2", "per km2"})
        EXPECT_NE(text.out.find(s), std::string::npos) << s << "\n" << text.out;
    std::size_t names = 0;
    for (const char* s : {"A1003 ", "A1004 ", "A1005 "}) names += text.out.find(s) != std::string::npos;
    EXPECT_EQ(names, 3u) << text.out;
#endif
}

TEST_F(ReportCli, ExistingOutputsNeedForce) {
    std::ofstream(dir / "old.csv") << "keep me";
    std::ofstream(dir / "old.pdf") << "keep me";
    std::vector<std::string> runs = {"report in/V1.txt --csv old.csv",
                                     "export in/V1.txt --to gpkg -o old.csv"};
#ifdef DORVANE_HAVE_PDF
    runs.push_back("report in/V1.txt --pdf old.pdf --tiles none");
#endif
    for (const std::string& args : runs) {
        const CliRun r = Cli(dir, args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.out.find("exists"), std::string::npos) << r.out;
    }
    EXPECT_EQ(Slurp(dir / "old.csv"), "keep me");
    EXPECT_EQ(Slurp(dir / "old.pdf"), "keep me");
    EXPECT_EQ(Cli(dir, "report in/V1.txt --csv old.csv --force").status, 0);
    EXPECT_NE(Slurp(dir / "old.csv"), "keep me");
    // No temporary file is left behind.
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

// Points of the first geometry in ogrinfo's WKT of `layer`.
std::size_t FirstGeometryPoints(const std::string& ogr) {
    const std::regex wkt(R"(\n  (POLYGON|LINESTRING|MULTILINESTRING) \(+([^)]*)\))");
    std::smatch m;
    if (!std::regex_search(ogr, m, wkt)) return 0;
    const std::string coords = m[2];
    return static_cast<std::size_t>(std::count(coords.begin(), coords.end(), ',')) + 1;
}

TEST_F(ReportCli, EveryExportFormatReadBackByOgrinfo) {
    const std::vector<TrackPoint> fixes = {{39.75, 116.25, 10, testing::kDay0, 0, 0},
                                           {39.751, 116.25, 11, testing::kDay0 + 60, 0, 0},
                                           {39.752, 116.251, 12, testing::kDay0 + 120, 0, 0}};
    const auto track = WriteTrack("t", fixes);
    std::ofstream(dir / "in" / "track.gpx", std::ios::binary)
        .write(reinterpret_cast<const char*>(track.data()),
               static_cast<std::streamsize>(track.size()));
    const std::string inputs = "in/V1.txt in/H1.txt in/" + kGbkName + ".txt in/track.gpx";
    const Ledger l = BuildLedger({dir / "in" / "V1.txt"}, {});
    // Cut (not rounded) to 3 decimals: a prefix of every printed precision.
    const std::string v1Area =
        FixedText(std::floor(l.rows[0].handheld.measure.area * 1000) / 1000, 3);

    struct {
        std::string format, out;
        std::string fieldsLayer;  // where the polygons are
        std::string geometry;     // ogrinfo's geometry type of that layer
        bool attributes, crs;
    } table[] = {
        {"gpkg", "o.gpkg", "fields", "Polygon", true, true},
        {"shp", "o_shp", "fields", "Polygon", true, true},
        {"geojson", "o.geojson", "dorvane", "Unknown (any)", true, true},
        {"kml", "o.kml", "fields", "", true, true},
        {"dxf", "o.dxf", "entities", "", false, false},
        {"csv", "o.csv", "o", "", true, false},
    };
    for (const auto& t : table) {
        SCOPED_TRACE(t.format);
        const CliRun r = Cli(dir, "export " + inputs + " --to " + t.format + " -o " + t.out);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("3 fields and 1 tracks"), std::string::npos) << r.out;
        const std::string path = (dir / t.out).string();
        const CliRun so = Shell("ogrinfo -so -al '" + path + "'");
        if (!t.geometry.empty()) {
            EXPECT_NE(so.out.find("Geometry: " + t.geometry), std::string::npos) << so.out;
        }
        if (t.crs) {
            EXPECT_NE(so.out.find("ID[\"EPSG\",4326]"), std::string::npos) << so.out;
        }
        const CliRun all = Shell("ogrinfo -al -q '" + path + "'");
        // DXF draws a field's boundary as a closed polyline (a polygon would be a solid hatch).
        EXPECT_NE(all.out.find(t.format == "dxf" ? "LINESTRING (" : "POLYGON ("), std::string::npos);
        EXPECT_NE(all.out.find("LINESTRING ("), std::string::npos);
        if (t.attributes) {
            for (const char* a : {"area_m2", "area_mu", "len_total", "area_total", "len_wgs"})
                EXPECT_NE(all.out.find(a), std::string::npos) << a;
            // The handheld's area of V1, at GDAL's printed precision.
            EXPECT_NE(all.out.find(v1Area), std::string::npos) << v1Area;
            EXPECT_NE(all.out.find("地块一"), std::string::npos);
        }
        const CliRun fields = Shell("ogrinfo -al -q '" + path + "' " + t.fieldsLayer);
        // V1's ring: four corners, closed.
        if (t.format != "csv") {
            EXPECT_EQ(FirstGeometryPoints(fields.out), 5u) << fields.out.substr(0, 2000);
        }
    }
    // Shapefile: attribute names within 10 characters, UTF-8 declared.
    EXPECT_EQ(Slurp(dir / "o_shp" / "fields.cpg"), "UTF-8");
    const CliRun dbf =
        Shell("ogrinfo -so '" + (dir / "o_shp" / "fields.shp").string() + "' fields");
    const std::regex attr(R"(\n(\w+): (String|Integer|Real))");
    std::size_t names = 0;
    for (std::sregex_iterator it(dbf.out.begin(), dbf.out.end(), attr), end; it != end;
         ++it, ++names)
        EXPECT_LE((*it)[1].str().size(), 10u) << (*it)[1];
    EXPECT_GE(names, 15u);
    EXPECT_EQ(
        Shell("ogrinfo -so '" + (dir / "o_shp").string() + "'").out.find("work (Line String)") !=
            std::string::npos,
        true);
    // Again without --force: refused, the old output kept.
    const auto before = fs::last_write_time(dir / "o.gpkg");
    EXPECT_EQ(Cli(dir, "export " + inputs + " --to gpkg -o o.gpkg").status, 1);
    EXPECT_EQ(fs::last_write_time(dir / "o.gpkg"), before);
    EXPECT_EQ(Cli(dir, "export " + inputs + " --to gpkg -o o.gpkg --force").status, 0);
    EXPECT_EQ(Cli(dir, "export " + inputs + " --to shp -o o_shp --force").status, 0);
    // An unreadable input is named and fails the run; the others are exported.
    const CliRun partial = Cli(dir, "export in/V1.txt in/damaged.txt --to geojson -o p.geojson");
    EXPECT_EQ(partial.status, 1);
    EXPECT_NE(partial.out.find("damaged.txt"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "p.geojson"));
    EXPECT_EQ(Cli(dir, "export in/V1.txt --to pdf -o x.pdf").status, 2);
}

#ifdef DORVANE_HAVE_PDF
TEST(ReportShapes, PdfAndCsvListTheFieldsThatOverlap) {
    // Three fields of one GeoJSON: "Half" covers half of "A"; "A again" is A
    // walked twice.
    TempFolder dir;
    std::ofstream(dir / "f.geojson")
        << R"({"type":"FeatureCollection","features":[)"
           R"({"type":"Feature","properties":{"name":"A"},"geometry":{"type":"Polygon","coordinates":[[[116,40],[116.001,40],[116.001,40.001],[116,40.001],[116,40]]]}},)"
           R"({"type":"Feature","properties":{"name":"Half"},"geometry":{"type":"Polygon","coordinates":[[[116.0005,40],[116.0015,40],[116.0015,40.001],[116.0005,40.001],[116.0005,40]]]}},)"
           R"({"type":"Feature","properties":{"name":"A again"},"geometry":{"type":"Polygon","coordinates":[[[116.00001,40],[116.001,40],[116.001,40.001],[116.00001,40.001],[116.00001,40]]]}}]})";
    const CliRun r = Cli(dir, "report f.geojson --csv out.csv --pdf out.pdf --tiles none");
    ASSERT_EQ(r.status, 0) << r.out;
    const CliRun text = Shell("pdftotext '" + (dir / "out.pdf").string() + "' -");
    const struct {
        const char* line;
    } cases[] = {
        {"Fields that overlap"},
        {"f.geojson › A and f.geojson › Half: "},
        {"50.0 % of the smaller field"},
        {"f.geojson › A and f.geojson › A again: "},
        {"measured twice?"},
        {"Area tolerance (m2)"},
    };
    for (const auto& c : cases) EXPECT_NE(text.out.find(c.line), std::string::npos) << c.line;
    std::ifstream csv(dir / "out.csv");
    const std::string all((std::istreambuf_iterator<char>(csv)), {});
    EXPECT_NE(all.find("Fields that overlap"), std::string::npos);
    EXPECT_NE(all.find("f.geojson › A,f.geojson › A again,"), std::string::npos);
    // The terminal's totals row counts the points of the fields billed (4 each):
    // "A again" left out, then billed with --keep-both.
    const struct {
        const char* args;
        const char* points;
    } totals[] = {{"report f.geojson", " 8 "}, {"report f.geojson --keep-both", " 12 "}};
    for (const auto& c : totals) {
        const CliRun t = Cli(dir, c.args);
        EXPECT_EQ(t.status, 0) << c.args;
        const std::size_t total = t.out.rfind("\nTotal ");
        ASSERT_NE(total, std::string::npos) << t.out;
        const std::string row = t.out.substr(total, t.out.find('\n', total + 1) - total);
        EXPECT_NE(row.find(c.points), std::string::npos) << c.args << ": " << row;
    }
}

// Fields with long names: each pair's whole line is in the PDF (wrapped onto
// a second row, not cut in its middle), and "Page n of m" counts the pages
// the wrapped rows take.
TEST(ReportShapes, LongOverlapLinesWrapWholeAndThePagesAreCounted) {
    const std::string a = "Field beside the old irrigation canal north of the village road";
    const std::string b = "The same field beside the canal walked again after the rain stopped";
    // 60 pairs of such fields, apart from one another: more than one page of wrapped lines.
    std::string features;
    for (int i = 0; i < 60; ++i) {
        const double x = 116 + i * 0.01;
        char f[640];
        std::snprintf(f, sizeof f,
                      R"(%s{"type":"Feature","properties":{"name":"%s %d"},"geometry":{"type":"Polygon","coordinates":[[[%.5f,40],[%.5f,40],[%.5f,40.001],[%.5f,40.001],[%.5f,40]]]}},)"
                      R"({"type":"Feature","properties":{"name":"%s %d"},"geometry":{"type":"Polygon","coordinates":[[[%.5f,40],[%.5f,40],[%.5f,40.001],[%.5f,40.001],[%.5f,40]]]}})",
                      i ? "," : "", a.c_str(), i, x, x + 0.001, x + 0.001, x, x, b.c_str(), i, x + 0.0005,
                      x + 0.0015, x + 0.0015, x + 0.0005, x + 0.0005);
        features += f;
    }
    TempFolder dir;
    std::ofstream(dir / "long.geojson") << R"({"type":"FeatureCollection","features":[)" + features + "]}";
    const CliRun r = Cli(dir, "report long.geojson --pdf out.pdf --tiles none");
    ASSERT_EQ(r.status, 0) << r.out;
    const CliRun text = Shell("pdftotext '" + (dir / "out.pdf").string() + "' -");
    // Rows wrap where the page ends them: compare with the breaks as spaces.
    std::string joined = text.out;
    std::replace(joined.begin(), joined.end(), '\n', ' ');
    for (int i : {0, 31, 59}) {
        const std::string line = "long.geojson › " + a + " " + std::to_string(i) + " and long.geojson › " + b + " " +
                                 std::to_string(i) + ": ";
        EXPECT_NE(joined.find(line), std::string::npos) << line;
    }
    // The overlap pages run from their heading to the first field's page.
    const std::size_t from = text.out.find("Fields that overlap");
    ASSERT_NE(from, std::string::npos);
    const std::size_t to = text.out.find("long.geojson › " + a + " 0\n", from + 1);
    const std::string overlaps = text.out.substr(from, to == std::string::npos ? std::string::npos : to - from);
    EXPECT_EQ(overlaps.find("…"), std::string::npos) << "no line cut in its middle";
    const CliRun info = Shell("pdfinfo '" + (dir / "out.pdf").string() + "'");
    const std::size_t at = info.out.find("Pages:");
    ASSERT_NE(at, std::string::npos) << info.out;
    const int pages = std::atoi(info.out.c_str() + at + 6);
    EXPECT_NE(text.out.find("Page " + std::to_string(pages) + " of " + std::to_string(pages)), std::string::npos);
    EXPECT_EQ(text.out.find("Page " + std::to_string(pages + 1) + " of"), std::string::npos);
    EXPECT_EQ(text.out.find(" of " + std::to_string(pages + 1)), std::string::npos);
}
#endif

}  // namespace
}  // namespace dorvane::report
