#include "book/open_book.h"

#include <cstdlib>

#include "book/gpkg_store.h"
#include "book/pg_store.h"

namespace dorvane::book {

namespace fs = std::filesystem;

fs::path DefaultBookPath() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : ".") / ".local" / "share";
    }
    return base / "dorvane" / "book.gpkg";
}

BookStatus OpenBook(const std::string& location, const OpenOptions& options, std::unique_ptr<BookStore>& out) {
    if (IsPgLocation(location)) {
        PgOptions o;
        o.statementTimeoutMs = options.busyTimeoutMs;
        o.lockTimeoutMs = options.busyTimeoutMs;
        return OpenPgBook(location, o, out);
    }
    if (location.rfind("PG:", 0) == 0)
        return {BookError::kCannotOpen, "The office book is named by a URI: postgresql://[user@]host[:port]/database "
                                        "(not " + location + ")"};
    fs::path path = location.empty() ? DefaultBookPath() : fs::path(location);
    if (location.empty()) {
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
    }
    GpkgOptions o;
    o.busyTimeoutMs = options.busyTimeoutMs;
    o.create = options.create;
    return OpenGpkgBook(path, o, out);
}

}  // namespace dorvane::book
