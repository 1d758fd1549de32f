#include "ui/book_adding.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "book/job_shapes.h"
#include "convert/download.h"
#include "geo/figure_lines.h"
#include "ui/book_service.h"

namespace dorvane {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

BookAddSummary AddFilesToBook(BookAccess& access, const std::vector<fs::path>& inputs) {
    BookAddSummary out;
    if (!access.store) {
        out.status = access.opened;
        return out;
    }
    const std::vector<fs::path> files = book::CollectSources(inputs, true, out.notRead);
    const int total = static_cast<int>(files.size());
    std::vector<book::Measurement> batch;
    std::vector<fs::path> batchFiles;
    auto flush = [&]() -> bool {
        if (batch.empty()) return true;
        std::vector<book::AddOutcome> outcomes;
        const book::BookStatus st = access.store->AddJobs(batch, {}, outcomes);
        if (!st.ok()) {
            out.status = st;
            return false;
        }
        for (std::size_t i = 0; i < outcomes.size() && i < batchFiles.size(); ++i) {
            if (outcomes[i].added)
                ++out.added;
            else
                out.already.push_back({batchFiles[i], outcomes[i].id, outcomes[i].existingLabel});
        }
        batch.clear();
        batchFiles.clear();
        return true;
    };
    for (int i = 0; i < total; ++i) {
        if (access.Cancelled()) {
            out.cancelled = true;
            break;
        }
        access.progress(i, total);
        // A file of many shapes gives a job per shape; a feature that cannot
        // be read is named by its number and the rest are added.
        std::vector<geo::FeatureProblem> bad;
        const std::size_t before = batch.size();
        const geo::ReadResult r = book::ReadJobs(files[i], batch, bad);
        if (!r.ok()) {
            out.notRead.push_back({files[i], geo::ReadErrorMessage(r)});
            continue;
        }
        for (const geo::FeatureProblem& p : bad)
            out.notRead.push_back({files[i].string() + " #" + std::to_string(p.feature), p.message});
        for (std::size_t k = before; k < batch.size(); ++k) batchFiles.push_back(fs::path(batch[k].file));
        if (batch.size() >= kAddBatch && !flush()) return out;
    }
    // A cancel keeps the files read so far: they are whole measurements.
    flush();
    access.progress(total, total);
    return out;
}

std::vector<fs::path> DownloadSources(const std::vector<std::string>& written) {
    std::set<std::string> raw;  // the raw copy each converted document was written beside
    for (const std::string& w : written) {
        const fs::path p(w);
        if (Lower(p.extension().string()) != kRawCopyExtension)
            raw.insert(Lower((p.parent_path() / RawCopyName(p.filename().string())).string()));
    }
    std::vector<fs::path> out;
    for (const std::string& w : written) {
        const fs::path p(w);
        if (Lower(p.extension().string()) == kRawCopyExtension && raw.count(Lower(p.string()))) continue;
        out.push_back(p);
    }
    return out;
}

}  // namespace dorvane
