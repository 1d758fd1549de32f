#pragma once
// The Book window's map of its jobs: their boundaries, read once from the
// bytes the book keeps of each job (so a moved or deleted file still has its
// map), turned into the overview's fields coloured by status or by customer.
// LoadJobRings runs on the book's worker (it blocks on the book); the rest
// is pure and runs on the GUI thread.

#include <QString>
#include <string>
#include <unordered_map>
#include <vector>

#include "book/book_types.h"
#include "book/store.h"
#include "map/overview_map.h"

namespace dorvane {

/// What the overview's colours say.
enum class BookMapColour { kStatus, kCustomer };

/// Boundaries already read, by job id, for one book. Used by the worker
/// thread only (the window keeps it alive, never touches it).
struct BookRingCache {
    std::string location;  ///< the book the ids belong to
    std::unordered_map<book::JobId, std::vector<WorldPoint>> rings;
};

/// The boundary (a track: its path) of each of `jobs`, in world units, in
/// their order; taken from `cache` or read from the book (and kept there).
/// A job whose bytes are gone or no longer read gets an empty ring: it is
/// left off the map, never an error. Only a failing book is an error.
book::BookStatus LoadJobRings(book::BookStore& store, const std::string& location,
                              const std::vector<book::Job>& jobs, BookRingCache& cache,
                              std::vector<std::vector<WorldPoint>>& out);

/// The legend's names and each job's category under `colour`: the four
/// statuses in their order, or the customers by name with the unassigned
/// ("(unassigned)") first when there are any.
struct BookMapCategories {
    std::vector<QString> legend;
    std::vector<int> category;  ///< parallel to the jobs
};
BookMapCategories CategoriesOf(const std::vector<book::Job>& jobs, BookMapColour colour);

}  // namespace dorvane
