// bench_report: the ledger of 1 000 area files, the PDF report of 100 fields
// (the map picture without tiles) and the export of 1 000 fields to a
// GeoPackage, each timed once over files written into a scratch folder.
//
//   bench_report [FIELDS]     (default 1000; the PDF takes the first 100)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/startup/standard_options.h"
#include "export/gis_export.h"
#include "report/field_samples.h"
#include "report/ledger.h"
#include "report/ledger_table.h"
#ifdef DORVANE_HAVE_PDF
#include "report_pdf/ledger_pdf.h"
#endif

namespace fs = std::filesystem;
using namespace dorvane;

namespace {

constexpr std::size_t kDefaultFields = 1000;
constexpr std::size_t kPdfFields = 100;
// Targets of the issue.
constexpr double kLedgerTarget = 1.0;
constexpr double kPdfTarget = 10.0;
constexpr double kExportTarget = 2.0;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Print(const char* what, double s, double target) {
    std::printf("%-44s %7.3f s  (target: <= %.0f s) %s\n", what, s, target,
                s <= target ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(
            argc, argv, "bench_report",
            "usage: bench_report [FIELDS]\n"
            "Times the ledger and CSV of FIELDS generated area files (default 1000), the PDF\n"
            "of 100 fields with tiles off and a GeoPackage export of every field; prints\n"
            "each figure with its target.\n"))
        return *done;
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : kDefaultFields;
    const fs::path dir =
        fs::temp_directory_path() / ("dorvane-bench-report-" + std::to_string(::getpid()));
    fs::create_directories(dir / "fields");
    fs::create_directories(dir / "pdf");
    for (std::size_t i = 0; i < n; ++i) {
        testing::SampleField s;
        s.name = "F" + std::to_string(i);
        s.method = static_cast<AreaMethod>(i % 3);
        s.work = i % 2 == 0;
        s.collected = testing::kDay0 + static_cast<std::int32_t>(i) * 600;
        s.shift = 0.01 * static_cast<double>(i % 100);
        const std::string name = "F" + std::to_string(i) + ".txt";
        testing::WriteSample(dir / "fields" / name, s);
        if (i < kPdfFields) testing::WriteSample(dir / "pdf" / name, s);
    }

    auto t0 = std::chrono::steady_clock::now();
    const report::Ledger ledger = report::BuildLedger({dir / "fields"}, {});
    const std::string csv = report::LedgerCsv(ledger);
    const double ledgerS = Seconds(t0);
    char what[96];
    std::snprintf(what, sizeof what, "ledger + CSV of %zu area files", ledger.rows.size());
    Print(what, ledgerS, kLedgerTarget);

#ifdef DORVANE_HAVE_PDF
    const report::Ledger small = report::BuildLedger({dir / "pdf"}, {});
    t0 = std::chrono::steady_clock::now();
    const auto pdf = report::WriteLedgerPdf(small, dir / "report.pdf", true);
    const double pdfS = Seconds(t0);
    std::snprintf(what, sizeof what, "PDF of %zu fields (%s, %.1f MB)", small.rows.size(),
                  pdf.ok() ? "written" : "FAILED",
                  pdf.ok() ? static_cast<double>(fs::file_size(dir / "report.pdf")) / 1e6 : 0.0);
    Print(what, pdfS, kPdfTarget);
#else
    std::printf("PDF: not built (no Qt Gui)\n");
#endif

    std::vector<gis::ExportSource> sources;
    t0 = std::chrono::steady_clock::now();
    for (const auto& row : ledger.rows) {
        gis::ExportSource s;
        s.path = row.path;
        if (geo::ReadFieldFile(row.path, s.field).ok()) sources.push_back(std::move(s));
    }
    const double readS = Seconds(t0);
    t0 = std::chrono::steady_clock::now();
    const auto ex = gis::ExportGis(sources, gis::GisFormat::kGpkg, dir / "fields.gpkg", true);
    const double exportS = Seconds(t0);
    std::snprintf(what, sizeof what, "GeoPackage of %zu fields (%s; reading %.3f s)", ex.fields,
                  ex.ok() ? "written" : "FAILED", readS);
    Print(what, exportS, kExportTarget);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return ex.ok() ? 0 : 1;
}
