#include "book/job_pages.h"

namespace dorvane::book {

BookStatus ReadFirstPage(BookStore& store, JobFilter filter, std::size_t limit, JobPage& out) {
    out = {};
    filter.offset = 0;
    filter.limit = limit;
    if (auto st = store.GetAreaBasis(out.basis); !st.ok()) return st;
    if (auto st = store.ListJobs(filter, out.jobs); !st.ok()) return st;
    if (limit == 0 || out.jobs.size() < limit) {
        // The page is the whole list: no need to count it again.
        out.matching = static_cast<std::int64_t>(out.jobs.size());
    } else if (auto st = store.CountJobs(filter, out.matching); !st.ok()) {
        return st;
    }
    SeasonFigures season;
    if (auto st = store.Season({}, season); !st.ok()) return st;
    out.seasonJobs = season.overall.jobs;
    return {};
}

}  // namespace dorvane::book
