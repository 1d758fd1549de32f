#pragma once
// A jobs list read a page at a time: what a front end (the Book window) asks
// the store for when it opens a list, and for each further page as the user
// scrolls. Filtering, ordering and cutting happen in the store, so opening a
// list of 100 000 jobs reads one page of rows, its length and the season's
// job count. Blocks like every store call: the desktop runs it on the book's
// worker thread.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "book/store.h"

namespace dorvane::book {

/// Rows per page: a few screens of the jobs table, so that scrolling asks
/// the store now and then, not per row.
inline constexpr std::size_t kJobPageRows = 500;

struct JobPage {
    AreaBasis basis = AreaBasis::kWgs84;  ///< the area basis the list's figures use
    std::vector<Job> jobs;                ///< the first page of the list
    std::int64_t matching = 0;            ///< jobs the filter matches (the list's length)
    std::int64_t seasonJobs = 0;          ///< jobs of the whole season (the "of M")
};

/// The first page of `filter`'s list (its offset and limit are overwritten:
/// `limit` 0 reads the whole list), with the figures a list heading shows.
BookStatus ReadFirstPage(BookStore& store, JobFilter filter, std::size_t limit, JobPage& out);

}  // namespace dorvane::book
