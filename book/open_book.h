#pragma once
// Choosing and opening a book: the one place that knows the back ends. A
// location "postgresql://..." or "postgres://..." (libpq's connection URI)
// is an office book on a PostgreSQL + PostGIS server; any other location is
// a GeoPackage file. Blocks on the file system or the network.

#include <filesystem>
#include <memory>
#include <string>

#include "book/store.h"

namespace dorvane::book {

/// `$XDG_DATA_HOME/dorvane/book.gpkg` ($HOME/.local/share when unset).
std::filesystem::path DefaultBookPath();

struct OpenOptions {
    int busyTimeoutMs = 10000;  ///< how long a write waits for another program's (an office
                                ///< book: a statement or a lock)
    bool create = true;         ///< create a missing GeoPackage book
};

/// Opens the book at `location` (empty: the default book, its folder made
/// when missing).
BookStatus OpenBook(const std::string& location, const OpenOptions& options, std::unique_ptr<BookStore>& out);

}  // namespace dorvane::book
