// Creating, checking, upgrading and backing up the GeoPackage book.
#include <fcntl.h>
#include <unistd.h>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "book/gpkg_impl.h"
#include "book/money.h"
#include "book/sqlite_statement.h"

namespace dorvane::book {

namespace fs = std::filesystem;

namespace {

// GeoPackage application ids in the SQLite header: "GPKG" (1.2 and later),
// "GP10" and "GP11" (1.0, 1.1).
constexpr int kGpkgAppIds[] = {0x47504B47, 0x47503130, 0x47503131};
constexpr const char* kMetaTable = "dorvane_book";
constexpr const char* kVersionKey = "schema_version";

void RegisterGdal() {
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

struct FieldSpec {
    const char* name;
    OGRFieldType type;
    bool required;
};

// The job's attributes, the same in both geometry layers.
const std::vector<FieldSpec> kJobFields = {
    {"identity", OFTString, true},        {"geometry_key", OFTString, true},
    {"label", OFTString, true},           {"file", OFTString, true},
    {"format", OFTString, true},          {"method", OFTInteger, false},
    {"start_time", OFTString, false},     {"end_time", OFTString, false},
    {"job_date", OFTString, true},        {"work_width_m", OFTReal, false},
    {"wgs84_area_m2", OFTReal, true},     {"wgs84_length_m", OFTReal, true},
    {"handheld_area_m2", OFTReal, false}, {"handheld_length_m", OFTReal, false},
    {"customer_id", OFTInteger64, false}, {"village", OFTString, true},
    {"work", OFTString, true},            {"price_fen", OFTInteger64, false},
    {"unit", OFTString, true},            {"status", OFTString, true},
    {"bill_id", OFTInteger64, false},     {"notes", OFTString, true},
    {"added", OFTString, true},           {"source_handheld", OFTInteger, true},
    {"source_bytes", OFTBinary, true},
};

struct TableSpec {
    const char* name;
    std::vector<FieldSpec> fields;
};

const std::vector<TableSpec> kTables = {
    {kMetaTable, {{"name", OFTString, true}, {"value", OFTString, true}}},
    {"customers",
     {{"name", OFTString, true},
      {"village", OFTString, true},
      {"phone", OFTString, true},
      {"notes", OFTString, true},
      {"price_harvesting_fen", OFTInteger64, false},
      {"price_ploughing_fen", OFTInteger64, false},
      {"price_sowing_fen", OFTInteger64, false},
      {"price_spraying_fen", OFTInteger64, false},
      {"price_surveying_fen", OFTInteger64, false},
      {"price_other_fen", OFTInteger64, false}}},
    {"invoices",
     {{"number", OFTString, true},
      {"year", OFTInteger, true},
      {"seq", OFTInteger, true},
      {"customer_id", OFTInteger64, true},
      {"issued", OFTString, true},
      {"basis", OFTString, true},
      {"status", OFTString, true},
      {"void_date", OFTString, false},
      {"total_fen", OFTInteger64, true}}},
    {"invoice_lines",
     {{"invoice_id", OFTInteger64, true},
      {"job_id", OFTInteger64, true},
      {"label", OFTString, true},
      {"job_date", OFTString, true},
      {"work", OFTString, true},
      {"unit", OFTString, true},
      {"basis", OFTString, true},
      {"quantity_e4", OFTInteger64, true},
      {"price_fen", OFTInteger64, true},
      {"amount_fen", OFTInteger64, true}}},
    {"payments",
     {{"customer_id", OFTInteger64, true},
      {"paid_on", OFTString, true},
      {"amount_fen", OFTInteger64, true},
      {"invoice_id", OFTInteger64, false},
      {"notes", OFTString, true}}},
    {"payment_allocations",
     {{"payment_id", OFTInteger64, true},
      {"invoice_id", OFTInteger64, true},
      {"amount_fen", OFTInteger64, true}}},
};

// Version 2: indexes for identity, filters and sorts, and guards that keep
// an issued bill and its lines as issued (only issued -> void may change).
const char* const kStepTo2 = R"SQL(
CREATE UNIQUE INDEX fields_identity ON fields(identity);
CREATE UNIQUE INDEX lines_identity ON lines(identity);
CREATE INDEX fields_geometry_key ON fields(geometry_key);
CREATE INDEX lines_geometry_key ON lines(geometry_key);
CREATE INDEX fields_job_date ON fields(job_date);
CREATE INDEX lines_job_date ON lines(job_date);
CREATE INDEX fields_customer ON fields(customer_id);
CREATE INDEX lines_customer ON lines(customer_id);
CREATE INDEX fields_bill ON fields(bill_id);
CREATE INDEX lines_bill ON lines(bill_id);
CREATE UNIQUE INDEX customers_name ON customers(name);
CREATE UNIQUE INDEX invoices_number ON invoices(number);
CREATE UNIQUE INDEX invoices_year_seq ON invoices(year, seq);
CREATE INDEX invoice_lines_invoice ON invoice_lines(invoice_id);
CREATE INDEX payment_allocations_invoice ON payment_allocations(invoice_id);
CREATE TRIGGER invoices_stay_issued BEFORE UPDATE ON invoices
  WHEN NOT (OLD.status = 'issued' AND NEW.status = 'void' AND NEW.number IS OLD.number
            AND NEW.year IS OLD.year AND NEW.seq IS OLD.seq AND NEW.customer_id IS OLD.customer_id
            AND NEW.issued IS OLD.issued AND NEW.basis IS OLD.basis AND NEW.total_fen IS OLD.total_fen)
  BEGIN SELECT RAISE(ABORT, 'an issued bill cannot be changed, only voided'); END;
CREATE TRIGGER invoices_kept BEFORE DELETE ON invoices
  BEGIN SELECT RAISE(ABORT, 'a bill is never deleted'); END;
CREATE TRIGGER invoice_lines_stay BEFORE UPDATE ON invoice_lines
  BEGIN SELECT RAISE(ABORT, 'the lines of an issued bill cannot be changed'); END;
CREATE TRIGGER invoice_lines_kept BEFORE DELETE ON invoice_lines
  BEGIN SELECT RAISE(ABORT, 'the lines of an issued bill are never deleted'); END;
)SQL";

BookStatus CreateLayers(GDALDataset& ds) {
    OGRSpatialReference wgs84;
    if (wgs84.importFromEPSG(4326) != OGRERR_NONE)
        return {BookError::kIo, "EPSG:4326 is unknown to PROJ: " + QuietGdalScope::Last(kUnknownGdalFailure)};
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    auto addFields = [](OGRLayer* layer, const std::vector<FieldSpec>& fields) {
        for (const FieldSpec& f : fields) {
            OGRFieldDefn def(f.name, f.type);
            def.SetNullable(f.required ? FALSE : TRUE);
            if (layer->CreateField(&def) != OGRERR_NONE) return false;
        }
        return true;
    };
    char** geomOptions = nullptr;
    geomOptions = CSLSetNameValue(geomOptions, "FID", "fid");
    geomOptions = CSLSetNameValue(geomOptions, "GEOMETRY_NAME", "geom");
    geomOptions = CSLSetNameValue(geomOptions, "SPATIAL_INDEX", "YES");
    const std::pair<const char*, OGRwkbGeometryType> geometryLayers[] = {
        {kFieldsLayer, wkbPolygon}, {kLinesLayer, wkbMultiLineString}};
    for (const auto& [name, type] : geometryLayers) {
        OGRLayer* layer = ds.CreateLayer(name, &wgs84, type, geomOptions);
        if (!layer || !addFields(layer, kJobFields)) {
            CSLDestroy(geomOptions);
            return {BookError::kIo, std::string("cannot create the layer ") + name + ": " + QuietGdalScope::Last(kUnknownGdalFailure)};
        }
    }
    CSLDestroy(geomOptions);
    char** tableOptions = CSLSetNameValue(nullptr, "FID", "fid");
    for (const TableSpec& t : kTables) {
        OGRLayer* layer = ds.CreateLayer(t.name, nullptr, wkbNone, tableOptions);
        if (!layer || !addFields(layer, t.fields)) {
            CSLDestroy(tableOptions);
            return {BookError::kIo, std::string("cannot create the table ") + t.name + ": " + QuietGdalScope::Last(kUnknownGdalFailure)};
        }
    }
    CSLDestroy(tableOptions);
    return {};
}

BookError ErrorOfCode(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return BookError::kBusy;
    case SQLITE_FULL: return BookError::kDiskFull;
    case SQLITE_READONLY: return BookError::kReadOnly;
    case SQLITE_PERM:
    case SQLITE_CANTOPEN: return BookError::kCannotOpen;
    case SQLITE_CORRUPT: return BookError::kDamaged;
    case SQLITE_NOTADB: return BookError::kNotABook;
    case SQLITE_CONSTRAINT: return BookError::kInvalid;
    default: return BookError::kIo;
    }
}

// Reads what an existing file is without writing to it: its GeoPackage id
// and the book's schema version.
BookStatus Inspect(const fs::path& path, int& version) {
    const std::string name = path.string();
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(name.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    auto fail = [&](int code, const std::string& cause) -> BookStatus {
        BookError e = ErrorOfCode(code);
        std::string text = cause;
        if (e == BookError::kNotABook) text = "it is not a GeoPackage (not an SQLite database)";
        if (e == BookError::kDamaged) text = "it is damaged (" + cause + ")";
        return {e, "The book " + name + " cannot be opened: " + text};
    };
    if (rc != SQLITE_OK) return fail(rc, raw ? sqlite3_errmsg(raw) : "cannot open");
    sqlite3_busy_timeout(raw, kDefaultBusyTimeoutMs);
    int appId = 0;
    {
        Statement s(raw, "PRAGMA application_id");
        if (!s.Prepared()) return fail(s.PrepareCode(), sqlite3_errmsg(raw));
        rc = s.Step();
        if (rc != SQLITE_ROW) return fail(rc, sqlite3_errmsg(raw));
        appId = static_cast<int>(s.Int(0));
    }
    bool gpkg = false;
    for (int id : kGpkgAppIds) gpkg = gpkg || id == appId;
    if (!gpkg) return {BookError::kNotABook, "The book " + name + " cannot be opened: it is not a GeoPackage"};
    Statement s(raw, std::string("SELECT value FROM ") + kMetaTable + " WHERE name = ?");
    if (!s.Prepared())
        return {BookError::kNotABook,
                "The book " + name + " cannot be opened: it is a GeoPackage, but not a Dorvane book"};
    s.Bind(1, std::string_view(kVersionKey));
    rc = s.Step();
    if (rc != SQLITE_ROW) return fail(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, "no schema version");
    version = std::atoi(s.Text(0).c_str());
    if (version < 1) return fail(SQLITE_CORRUPT, "schema version '" + s.Text(0) + "'");
    return {};
}

// Renames `from` to `to` unless `to` exists (never replaces a file).
bool RenameNoReplace(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

// Version 3: the area sort of the job list reads an index, both directions
// (ties follow the id in the same direction).
const char* const kStepTo3 = R"SQL(
CREATE INDEX fields_area ON fields(wgs84_area_m2);
CREATE INDEX lines_area ON lines(wgs84_area_m2);
)SQL";

BookStatus OpenDataset(const fs::path& path, int busyMs, DatasetPtr& ds, sqlite3*& db) {
    QuietGdalScope quiet;
    // The driver's own statements at opening wait for another writer too.
    const std::string pragma = "busy_timeout=" + std::to_string(busyMs);
    CPLSetThreadLocalConfigOption("OGR_SQLITE_PRAGMA", pragma.c_str());
    const char* const drivers[] = {"GPKG", nullptr};
    ds.reset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
    CPLSetThreadLocalConfigOption("OGR_SQLITE_PRAGMA", nullptr);
    if (!ds) return {BookError::kCannotOpen, "The book " + path.string() + " cannot be opened: " + QuietGdalScope::Last(kUnknownGdalFailure)};
    db = static_cast<sqlite3*>(ds->GetInternalHandle("SQLITE_HANDLE"));
    if (!db) return {BookError::kIo, "The book " + path.string() + ": GDAL gives no SQLite connection"};
    sqlite3_busy_timeout(db, busyMs);
    return {};
}

BookStatus Upgrade(GpkgStore& s, int from, int to) {
    GpkgStore::Write w(s);
    if (auto st = w.Begin(); !st.ok()) return st;
    for (int v = from + 1; v <= to; ++v) {
        if (v == 2)
            if (auto st = s.Exec(kStepTo2, "upgrading the book to version 2"); !st.ok()) return st;
        if (v == 3)
            if (auto st = s.Exec(kStepTo3, "upgrading the book to version 3"); !st.ok()) return st;
    }
    Statement u(s.Db(), std::string("UPDATE ") + kMetaTable + " SET value = ? WHERE name = ?");
    u.Bind(1, std::string_view(std::to_string(to))).Bind(2, std::string_view(kVersionKey));
    if (int rc = u.Step(); rc != SQLITE_DONE) return s.Fail(rc, "writing the schema version");
    return w.Commit();
}

BookStatus CreateBook(const fs::path& path, const GpkgOptions& o) {
    std::error_code ec;
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (!fs::is_directory(folder, ec))
        return {BookError::kCannotOpen, "The book " + path.string() + " cannot be created: its folder " +
                                            folder.string() + " does not exist"};
    if (::access(folder.c_str(), W_OK) != 0)
        return {BookError::kReadOnly,
                "The book " + path.string() + " cannot be created: its folder cannot be written"};
    // Built under a temporary name and renamed into place: a kill half-way
    // leaves no half-made book.
    const fs::path tmp = path.string() + ".creating-" + std::to_string(::getpid());
    fs::remove(tmp, ec);
    {
        QuietGdalScope quiet;
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
        if (!driver) return {BookError::kIo, "GDAL lacks its GeoPackage driver"};
        DatasetPtr ds(driver->Create(tmp.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        if (!ds) return {BookError::kIo, "The book " + path.string() + " cannot be created: " + QuietGdalScope::Last(kUnknownGdalFailure)};
        if (auto st = CreateLayers(*ds); !st.ok()) {
            ds.reset();
            fs::remove(tmp, ec);
            return st;
        }
    }
    BookStatus st;
    {
        DatasetPtr ds;
        sqlite3* db = nullptr;
        st = OpenDataset(tmp, o.busyTimeoutMs, ds, db);
        if (st.ok()) {
            GpkgStore s(tmp, std::move(ds), db);
            st = s.Exec("PRAGMA journal_mode=WAL", "switching to WAL");
            if (st.ok())
                st = s.Exec(std::string("INSERT INTO ") + kMetaTable +
                                "(name, value) VALUES ('schema_version', '1'), ('area_basis', 'wgs84')",
                            "writing the schema version");
            if (st.ok() && o.createAtVersion > 1) st = Upgrade(s, 1, o.createAtVersion);
        }
    }
    if (st.ok() && !RenameNoReplace(tmp, path))
        st = {BookError::kIo, "The book " + path.string() + " cannot be created: another file took its name"};
    fs::remove(tmp, ec);
    fs::remove(tmp.string() + "-wal", ec);
    fs::remove(tmp.string() + "-shm", ec);
    return st;
}

}  // namespace

BookStatus GpkgStore::Fail(int rc, const std::string& what) const {
    BookStatus st;
    st.error = ErrorOfCode(rc);
    const std::string cause = sqlite3_errmsg(db_);
    if (st.error == BookError::kBusy)
        st.message = "The book " + Location() + " is busy: another program kept writing to it for more than " +
                     std::to_string(busyTimeoutMs / 1000) + " s (" + what + "); nothing was changed";
    else if (st.error == BookError::kDiskFull)
        st.message = "The book " + Location() + ": the disk is full (" + what + "); nothing was changed";
    else
        st.message = "The book " + Location() + ": " + what + " failed: " + cause;
    return st;
}

BookStatus GpkgStore::Exec(const std::string& sql, const std::string& what) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) return Fail(rc, what);
    return {};
}

GpkgStore::Write::~Write() {
    if (active_) {
        QuietGdalScope quiet;
        s_.Dataset()->RollbackTransaction();
    }
}

BookStatus GpkgStore::Write::Begin() {
    QuietGdalScope quiet;
    if (s_.Dataset()->StartTransaction(FALSE) != OGRERR_NONE)
        return s_.Fail(sqlite3_extended_errcode(s_.Db()), "starting a change");
    active_ = true;
    // The first statement writes, so the write lock is taken now (waiting
    // with the busy timeout) rather than after this change's reads, when a
    // busy lock could only fail at once.
    return s_.Exec(std::string("UPDATE ") + kMetaTable + " SET value = value WHERE name = 'schema_version'",
                   "waiting for the book");
}

BookStatus GpkgStore::Write::Commit() {
    QuietGdalScope quiet;
    active_ = false;
    if (s_.Dataset()->CommitTransaction() != OGRERR_NONE) {
        const int rc = sqlite3_extended_errcode(s_.Db());
        s_.Dataset()->RollbackTransaction();
        return s_.Fail(rc, "saving the change");
    }
    return {};
}

BookStatus GpkgStore::Backup(const fs::path& to) {
    std::error_code ec;
    if (fs::exists(to, ec)) return {BookError::kInvalid, "The backup " + to.string() + " exists already"};
    const fs::path tmp = to.string() + ".part-" + std::to_string(::getpid());
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(tmp.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> dest(raw, sqlite3_close);
    BookStatus st;
    if (rc == SQLITE_OK) {
        // SQLite's online backup copies one consistent state of the book
        // while other programs keep reading and writing it.
        sqlite3_backup* b = sqlite3_backup_init(raw, "main", db_, "main");
        if (!b) {
            rc = sqlite3_errcode(raw);
        } else {
            rc = sqlite3_backup_step(b, -1);
            sqlite3_backup_finish(b);
            rc = rc == SQLITE_DONE ? sqlite3_errcode(raw) : rc;
        }
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(raw, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    dest.reset();
    if (rc != SQLITE_OK) {
        st = {ErrorOfCode(rc), "The backup " + to.string() + " cannot be written: " + sqlite3_errstr(rc)};
    } else if (!RenameNoReplace(tmp, to)) {
        st = {BookError::kIo, "The backup " + to.string() + " cannot be written: " + std::strerror(errno)};
    }
    fs::remove(tmp, ec);
    return st;
}

BookStatus GpkgStore::CheckIntegrity(std::string& report) {
    report.clear();
    Statement s(db_, "PRAGMA integrity_check");
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        if (!report.empty()) report += '\n';
        report += s.Text(0);
    }
    if (rc != SQLITE_DONE) return Fail(rc, "checking the book");
    return {};
}

BookStatus OpenGpkgBook(const fs::path& path, const GpkgOptions& o, std::unique_ptr<BookStore>& out) {
    RegisterGdal();
    std::error_code ec;
    const auto st0 = fs::status(path, ec);
    if (fs::is_directory(st0))
        return {BookError::kCannotOpen, "The book " + path.string() + " cannot be opened: it is a folder"};
    if (!fs::exists(st0)) {
        if (!o.create) return {BookError::kCannotOpen, "The book " + path.string() + " does not exist"};
        if (auto st = CreateBook(path, o); !st.ok()) return st;
    }
    int version = 0;
    if (auto st = Inspect(path, version); !st.ok()) return st;
    if (version > kGpkgSchemaVersion)
        return {BookError::kNewerBook, "The book " + path.string() + " was written by a newer Dorvane (book version " +
                                           std::to_string(version) + ", this one knows up to " +
                                           std::to_string(kGpkgSchemaVersion) + "); it was not changed"};
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (::access(path.c_str(), W_OK) != 0 || ::access(folder.c_str(), W_OK) != 0)
        return {BookError::kReadOnly, "The book " + path.string() +
                                          " cannot be opened for writing: the file or its folder is read-only"};
    DatasetPtr ds;
    sqlite3* db = nullptr;
    if (auto st = OpenDataset(path, o.busyTimeoutMs, ds, db); !st.ok()) return st;
    auto store = std::make_unique<GpkgStore>(path, std::move(ds), db);
    store->busyTimeoutMs = o.busyTimeoutMs;
    if (version < kGpkgSchemaVersion) {
        // A copy of the book as it was comes first; the upgrade is one transaction.
        fs::path backup = path.string() + ".v" + std::to_string(version) + ".bak.gpkg";
        for (int n = 2; fs::exists(backup, ec); ++n)
            backup = path.string() + ".v" + std::to_string(version) + "-" + std::to_string(n) + ".bak.gpkg";
        if (auto st = store->Backup(backup); !st.ok()) return st;
        if (auto st = Upgrade(*store, version, kGpkgSchemaVersion); !st.ok()) return st;
    }
    out = std::move(store);
    return {};
}

}  // namespace dorvane::book
