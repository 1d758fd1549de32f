#pragma once
// The GeoPackage back end of the book: one SQLite file that QGIS and ogrinfo
// open as layers while Dorvane has it open.
//   fields (POLYGON) and lines (MULTILINESTRING: tracks and harvesting work),
//   both EPSG:4326, one job per feature, job ids unique across the two;
//   customers, invoices, invoice_lines, payments, payment_allocations and
//   dorvane_book (key/value: schema version, settings) as attribute tables.
// Geometry and features are written by GDAL/OGR's GPKG driver; transactions,
// locking and the online backup use SQLite on the driver's own connection.
// WAL journal; a write waits at most the busy timeout for another program's.

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

#include "book/store.h"

class GDALDataset;

namespace dorvane::book {

/// Layout version this build writes. 1: the tables; 2: the filter and
/// identity indexes and the guards that keep issued bills unchanged; 3: the
/// area index of the job list.
inline constexpr int kGpkgSchemaVersion = 3;
/// How long a write waits for another program's write by default (ms): long
/// enough for any single change of another program, short enough to say why.
inline constexpr int kDefaultBusyTimeoutMs = 10000;

struct GpkgOptions {
    int busyTimeoutMs = kDefaultBusyTimeoutMs;
    /// Create the book when the file does not exist (its folder must).
    bool create = true;
    /// For tests of the upgrade: create a new book at this older version.
    int createAtVersion = kGpkgSchemaVersion;
};

class GpkgStore;

/// Opens (or creates) the GeoPackage book at `path`. A file that is not a
/// GeoPackage, not a Dorvane book, damaged or from a newer Dorvane is refused
/// and left untouched; an older book is copied to "<name>.v<N>.bak.gpkg"
/// beside it, then upgraded in place in one transaction.
BookStatus OpenGpkgBook(const std::filesystem::path& path, const GpkgOptions& options,
                        std::unique_ptr<BookStore>& out);

}  // namespace dorvane::book
