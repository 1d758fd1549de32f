#include "cli/report_command.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/cli_output.h"
#include "cli/map_source_args.h"
#include "i18n/string_table.h"
#include "report/ledger.h"
#include "report/ledger_table.h"
#include "report/output_file.h"
#ifdef DORVANE_HAVE_PDF
#include "report_pdf/ledger_pdf.h"
#endif

namespace dorvane {

namespace fs = std::filesystem;

namespace {

using cli::kExitFailed;
using cli::kExitOk;
using cli::kExitUsage;

struct ReportArgs {
    std::vector<fs::path> inputs;
    report::LedgerOptions options;
    std::optional<std::string> from, to;
    std::optional<fs::path> csv, pdf;
    cli::MapSourceArgs map;  ///< tiles "" = the desktop's setting
    bool force = false;
};

// The usage line of report, shown after a bad argument.
constexpr const char* kReportUsage =
    "report FILE|DIR... [-r] [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--csv OUT] "
    "[--pdf OUT] [--tiles URL|FILE.mbtiles|none]... [--overlay URL] [--offline] [--keep-both] [--force]";
// The options report takes, named by the message about an unknown one.
constexpr const char* kReportOptions =
    "-r, --recursive, --force, --keep-both, --from, --to, --csv, --pdf, --tiles, --overlay, --offline";

// Fills `a`; on a bad argument sets `error` to the message that names it
// (empty when only the usage line is to be shown) and returns false.
bool Parse(const std::vector<std::string>& ops, ReportArgs& a, std::string& error) {
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const std::string& s = ops[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= ops.size()) return std::nullopt;
            return ops[++i];
        };
        if (const cli::MapOption m = cli::TakeMapSourceOption(ops, i, a.map); m != cli::MapOption::kNotOne) {
            if (m == cli::MapOption::kMissingValue) {
                error = FormatText(StringId::RES_CLI_MISSING_VALUE, s.c_str(), cli::MapOptionValues(s));
                return false;
            }
            if (m == cli::MapOption::kBadValue) {
                error = FormatText(StringId::RES_CLI_BAD_VALUE, s.c_str(), ops[i].c_str(), cli::MapOptionValues(s));
                return false;
            }
        } else if (s == "-r" || s == "--recursive") {
            a.options.recursive = true;
        } else if (s == "--force") {
            a.force = true;
        } else if (s == "--keep-both") {
            // Fields that cover the same ground ("measured twice?") both billed.
            a.options.keepMeasuredTwice = true;
        } else if (s == "--from" || s == "--to" || s == "--csv" || s == "--pdf") {
            const auto v = value();
            if (!v) {
                error = FormatText(StringId::RES_CLI_MISSING_VALUE, s.c_str(),
                                   s == "--from" || s == "--to" ? "YYYY-MM-DD" : "OUT");
                return false;
            }
            if (s == "--from") a.from = *v;
            if (s == "--to") a.to = *v;
            if (s == "--csv") a.csv = *v;
            if (s == "--pdf") a.pdf = *v;
        } else if (s.size() > 1 && s[0] == '-') {
            error = FormatText(StringId::RES_CLI_UNKNOWN_OPTION, s.c_str(), kReportOptions);
            return false;
        } else {
            a.inputs.emplace_back(s);
        }
    }
    if (a.inputs.empty()) error = FormatText(StringId::RES_CLI_NEEDS_FILES, "report");
    return !a.inputs.empty();
}

bool Report(const report::OutputOutcome& o, const fs::path& out) {
    if (o.ok()) {
        std::printf("%s\n", FormatText(StringId::RES_LEDGER_WROTE, out.c_str()).c_str());
        return true;
    }
    if (o.error == report::OutputError::kExists)
        std::fprintf(stderr, "%s\n", FormatText(StringId::RES_LEDGER_EXISTS, out.c_str()).c_str());
    else
        std::fprintf(
            stderr, "%s\n",
            FormatText(StringId::RES_LEDGER_WRITE_FAILED, out.c_str(), o.message.c_str()).c_str());
    return false;
}

}  // namespace

int RunReportCommand(const std::vector<std::string>& operands) {
    ReportArgs a;
    std::string error;
    if (!Parse(operands, a, error)) {
        if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
        std::fprintf(stderr, "%s\n", kReportUsage);
        return kExitUsage;
    }
    std::string bad;
    const auto range = report::RangeOfDays(a.from, a.to, bad);
    if (!range) {
        // Two good dates that make no range: the end lies before the start.
        std::string unused;
        const bool eachGood = report::RangeOfDays(a.from, std::nullopt, unused) &&
                              report::RangeOfDays(std::nullopt, a.to, unused);
        if (eachGood && a.from && a.to)
            std::fprintf(stderr, "%s\n",
                         FormatText(StringId::RES_CLI_DATES_REVERSED, a.from->c_str(),
                                    a.to->c_str())
                             .c_str());
        else
            std::fprintf(stderr, "%s\n",
                         FormatText(StringId::RES_LEDGER_BAD_DATE, bad.c_str()).c_str());
        return kExitUsage;
    }
#ifndef DORVANE_HAVE_PDF
    if (a.pdf) {
        std::fprintf(stderr, "%s\n", Text(StringId::RES_LEDGER_NO_PDF).c_str());
        return kExitFailed;
    }
#endif
    a.options.range = *range;
    const report::Ledger ledger = report::BuildLedger(a.inputs, a.options);
    bool ok = ledger.totals.failed == 0;
    if (ledger.skippedNotField + ledger.skippedDuplicate + ledger.skippedOutOfRange > 0)
        std::fprintf(
            stderr, "%s\n",
            FormatText(StringId::RES_LEDGER_SKIPPED, static_cast<int>(ledger.skippedNotField),
                       static_cast<int>(ledger.skippedDuplicate),
                       static_cast<int>(ledger.skippedOutOfRange))
                .c_str());
    if (!a.csv && !a.pdf) {
        std::fputs(report::LedgerTextTable(ledger).c_str(), stdout);
        return ok ? kExitOk : kExitFailed;
    }
    if (a.csv)
        ok &= Report(report::WriteOutputFile(*a.csv, report::LedgerCsv(ledger), a.force), *a.csv);
#ifdef DORVANE_HAVE_PDF
    if (a.pdf) {
        report::PdfOptions po;
        po.tiles = a.map.tiles;
        po.stackedTiles = a.map.stackedTiles;
        po.overlay = a.map.overlay;
        po.offline = a.map.offline;
        ok &= Report(report::WriteLedgerPdf(ledger, *a.pdf, a.force, po), *a.pdf);
    }
#endif
    return ok ? kExitOk : kExitFailed;
}

}  // namespace dorvane
