#pragma once
// A book failure as the user reads it. The stores' messages are English and
// name what failed (the book file, the customer, the rule); a Chinese user
// gets the kind of failure in Chinese ahead of that detail, so the cause is
// clear without reading English. Qt-free; reads the active string table.

#include <string>

#include "book/store.h"

namespace dorvane::book {

/// The kind of failure in the active language ("同名客户已存在"); empty for kNone.
std::string BookErrorText(BookError error);

/// What to show for a failed call: in English the store's message alone (it
/// says all the kind would), in Chinese "kind（message）". A status without a
/// message shows its kind alone.
std::string BookFailureText(const BookStatus& status);

}  // namespace dorvane::book
