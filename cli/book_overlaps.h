#pragma once
// `dorvane-cli book overlaps`: the book's fields that overlap, and the check
// `book bill` makes before billing a field measured twice. Blocks on the book.

#include <optional>

#include "book/store.h"

namespace dorvane {

/// Prints every overlapping pair among the jobs `filter` matches (JSON with
/// `json`). Exit status: 0, or 1 when the book fails.
int RunBookOverlaps(book::BookStore& store, const book::JobFilter& filter, bool json);

/// When the bill `request` would bill a "measured twice?" pair twice (both
/// jobs on it, or one on it and the other on a bill already), names the pairs
/// on standard error and returns the exit status; nullopt when it may go on.
std::optional<int> RefuseMeasuredTwice(book::BookStore& store, const book::BillRequest& request);

}  // namespace dorvane
