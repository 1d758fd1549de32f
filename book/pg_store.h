#pragma once
// The PostgreSQL + PostGIS back end of the book: the office book that several
// desktops and laptops share. One database holds
//   jobs (one row per measurement, its shape in `geom`, EPSG:4326) with the
//   views `fields` (POLYGON) and `lines` (MULTILINESTRING) that QGIS shows
//   live; customers, invoices, invoice_lines, payments, payment_allocations,
//   bill_counters (the last number of each year, locked while a bill is
//   issued) and dorvane_book (key/value: schema version, settings).
// Every write is one SERIALIZABLE transaction, retried a bounded number of
// times when the server reports a serialization failure or a deadlock; every
// statement and lock wait has a time limit. Credentials come only through
// libpq (the URI, PGPASSFILE, PGSERVICE, ~/.pgpass); Dorvane keeps none.

#include <memory>
#include <string>

#include "book/store.h"

namespace dorvane::book {

/// Layout version this build writes. 1: the tables, views and guards.
inline constexpr int kPgSchemaVersion = 1;

struct PgOptions {
    /// Longest a single statement may run, and a lock may be waited for (ms):
    /// the same bound as the GeoPackage book's busy timeout.
    int statementTimeoutMs = 10000;
    int lockTimeoutMs = 10000;
    /// How long connecting may take (s); libpq's connect_timeout.
    int connectTimeoutS = 10;
    /// Attempts of one write when the server asks it to be retried.
    int maxAttempts = 40;
};

/// True for a location that names a PostgreSQL book ("postgresql://...",
/// "postgres://...").
bool IsPgLocation(const std::string& location);

/// `location` without any password it carries, fit for messages and logs.
std::string PgLocationForDisplay(const std::string& location);

/// Connects to the office book at `uri`, creating the book's tables on first
/// use (PostGIS must be there or be installable by this role). A newer
/// book is refused unchanged; an older one is upgraded in one transaction.
BookStatus OpenPgBook(const std::string& uri, const PgOptions& options, std::unique_ptr<BookStore>& out);

}  // namespace dorvane::book
