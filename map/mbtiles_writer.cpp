#include "map/mbtiles_writer.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace dorvane::map {
namespace {

const char* FormatName(TileFormat f) {
    switch (f) {
        case TileFormat::kPng: return "png";
        case TileFormat::kJpeg: return "jpg";
        case TileFormat::kWebp: return "webp";
        case TileFormat::kUnknown: break;
    }
    return "png";
}

}  // namespace

CMbtilesWriter::~CMbtilesWriter() {
    sqlite3_finalize(put_);
    sqlite3_close(db_);
    if (!committed_ && !part_.empty()) {
        std::error_code ec;
        std::filesystem::remove(part_, ec);
    }
}

bool CMbtilesWriter::Exec(const char* sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    error_ = msg ? msg : sqlite3_errmsg(db_);
    sqlite3_free(msg);
    return false;
}

std::unique_ptr<CMbtilesWriter> CMbtilesWriter::Create(const std::string& path, std::string& error) {
    std::unique_ptr<CMbtilesWriter> w(new CMbtilesWriter);
    w->path_ = path;
    w->part_ = path + ".part";
    std::error_code ec;
    std::filesystem::remove(w->part_, ec);  // a part file left by a crash
    if (sqlite3_open_v2(w->part_.c_str(), &w->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = w->db_ ? sqlite3_errmsg(w->db_) : "cannot create the file";
        return nullptr;
    }
    if (!w->Exec("CREATE TABLE metadata (name TEXT, value TEXT);"
                 "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER,"
                 " tile_data BLOB);"
                 "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
                 "BEGIN") ||
        sqlite3_prepare_v2(w->db_, "INSERT OR REPLACE INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &w->put_,
                           nullptr) != SQLITE_OK) {
        error = w->error_.empty() ? sqlite3_errmsg(w->db_) : w->error_;
        return nullptr;
    }
    return w;
}

bool CMbtilesWriter::Put(int z, int x, int y, const std::vector<std::uint8_t>& bytes) {
    if (z < 0 || z > kMaxPackZoom || bytes.empty()) return false;
    const std::int64_t n = std::int64_t{1} << z;
    if (x < 0 || y < 0 || x >= n || y >= n) return false;
    sqlite3_reset(put_);
    sqlite3_bind_int(put_, 1, z);
    sqlite3_bind_int64(put_, 2, x);
    sqlite3_bind_int64(put_, 3, n - 1 - y);
    sqlite3_bind_blob(put_, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(put_) != SQLITE_DONE) {
        error_ = sqlite3_errmsg(db_);
        return false;
    }
    ++count_;
    return true;
}

bool CMbtilesWriter::Commit(const PackMetadata& meta) {
    sqlite3_stmt* m = nullptr;
    if (sqlite3_prepare_v2(db_, "INSERT INTO metadata VALUES (?1, ?2)", -1, &m, nullptr) != SQLITE_OK) {
        error_ = sqlite3_errmsg(db_);
        return false;
    }
    std::vector<std::pair<std::string, std::string>> rows{
        {"name", meta.name},
        {"format", FormatName(meta.format)},
        {"type", "baselayer"},
        {"version", "1.1"},
        {"minzoom", std::to_string(meta.minZoom)},
        {"maxzoom", std::to_string(meta.maxZoom)},
    };
    if (!meta.attribution.empty()) rows.emplace_back("attribution", meta.attribution);
    if (meta.bounds) {
        std::ostringstream b;
        b.precision(10);
        b << meta.bounds->west << ',' << meta.bounds->south << ',' << meta.bounds->east << ','
          << meta.bounds->north;
        rows.emplace_back("bounds", b.str());
    }
    bool ok = true;
    for (const auto& [k, v] : rows) {
        sqlite3_reset(m);
        sqlite3_bind_text(m, 1, k.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(m, 2, v.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(m) != SQLITE_DONE) {
            error_ = sqlite3_errmsg(db_);
            ok = false;
            break;
        }
    }
    sqlite3_finalize(m);
    if (!ok || !Exec("COMMIT")) return false;
    sqlite3_finalize(put_);
    put_ = nullptr;
    if (sqlite3_close(db_) != SQLITE_OK) {
        error_ = sqlite3_errmsg(db_);
        return false;
    }
    db_ = nullptr;
    std::error_code ec;
    std::filesystem::rename(part_, path_, ec);
    if (ec) {
        error_ = ec.message();
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace dorvane::map
