#include "cli/book_overlaps.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "book/job_overlaps.h"
#include "book/book_error_text.h"
#include "cli/cli_output.h"
#include "geo/figures.h"
#include "i18n/string_table.h"

namespace dorvane {

namespace {

using json = nlohmann::ordered_json;

// Shares are printed in per cent.
constexpr double kPercent = 100.0;

std::string JobText(const book::Job& j) {
    return FormatText(StringId::RES_BOOK_OVERLAP_JOB, static_cast<int>(j.id), j.label.c_str());
}

std::string Figure(const char* format, double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

}  // namespace

int RunBookOverlaps(book::BookStore& store, const book::JobFilter& filter, bool asJson) {
    std::vector<book::JobOverlap> pairs;
    if (auto st = book::FindJobOverlaps(store, filter, pairs); !st.ok()) {
        cli::Complain(book::BookFailureText(st));
        return cli::kExitFailed;
    }
    if (asJson) {
        json all = json::array();
        for (const book::JobOverlap& o : pairs)
            all.push_back({{"job_a", o.a.id},
                           {"label_a", o.a.label},
                           {"job_b", o.b.id},
                           {"label_b", o.b.label},
                           {"overlap_m2", o.overlap_m2},
                           {"overlap_mu", o.overlap_m2 / geo::kSquareMetresPerMu},
                           {"share_of_smaller", o.shareOfSmaller},
                           {"measured_twice", o.measuredTwice}});
        cli::Say(all.dump(2, ' ', false, json::error_handler_t::replace));
        return cli::kExitOk;
    }
    if (pairs.empty()) cli::Say(Text(StringId::RES_FIELD_OVERLAP_NONE));
    for (const book::JobOverlap& o : pairs) {
        std::string line = FormatText(StringId::RES_FIELD_OVERLAP_LINE, JobText(o.a).c_str(), JobText(o.b).c_str(),
                                      Figure("%.2f", o.overlap_m2).c_str(),
                                      Figure("%.3f", o.overlap_m2 / geo::kSquareMetresPerMu).c_str(),
                                      Figure("%.1f %%", o.shareOfSmaller * kPercent).c_str());
        if (o.measuredTwice) line += " - " + Text(StringId::RES_BOOK_OVERLAP_TWICE);
        cli::Say(line);
    }
    return cli::kExitOk;
}

std::optional<int> RefuseMeasuredTwice(book::BookStore& store, const book::BillRequest& request) {
    std::vector<book::JobId> billing = request.jobs;
    if (billing.empty()) {
        // The jobs the bill takes when none are named: the customer's unbilled ones.
        book::JobFilter f;
        f.customer = request.customer;
        f.status = book::JobStatus::kMeasured;
        f.from = request.from;
        f.to = request.to;
        if (auto st = store.ListJobIds(f, billing); !st.ok()) {
            cli::Complain(book::BookFailureText(st));
            return cli::kExitFailed;
        }
    }
    std::vector<book::JobOverlap> twice;
    if (auto st = book::MeasuredTwiceInBill(store, billing, twice); !st.ok()) {
        cli::Complain(book::BookFailureText(st));
        return cli::kExitFailed;
    }
    if (twice.empty()) return std::nullopt;
    for (const book::JobOverlap& o : twice)
        cli::Complain(FormatText(StringId::RES_BOOK_BILL_MEASURED_TWICE, JobText(o.a).c_str(), JobText(o.b).c_str(),
                                 Figure("%.1f %%", o.shareOfSmaller * kPercent).c_str()));
    return cli::kExitFailed;
}

}  // namespace dorvane
