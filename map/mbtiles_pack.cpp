#include "map/mbtiles_pack.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <sstream>

namespace dorvane::map {
namespace {

/// A pack open elsewhere for writing (another Dorvane keeping tiles) holds
/// its lock briefly; a read waits this long (ms) rather than fail.
constexpr int kBusyTimeoutMs = 2000;
/// Web Mercator's latitude limit.
constexpr double kMaxMercatorLat = 85.0511287798066;

// The signatures of the formats MBTiles 1.x allows for raster tiles.
constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::array<std::uint8_t, 3> kJpegSignature{0xFF, 0xD8, 0xFF};

class Query {
public:
    Query(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Query() { sqlite3_finalize(stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    bool Ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

std::string ColumnText(sqlite3_stmt* s, int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// A whole integer in [0, kMaxPackZoom], or nothing.
std::optional<int> ParseZoom(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty() || t.size() > 3) return std::nullopt;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v > kMaxPackZoom) return std::nullopt;
    return v;
}

// "west,south,east,north" in degrees; nothing when it is not four finite
// numbers that make a box on the Earth.
std::optional<LonLatBounds> ParseBounds(const std::string& text) {
    std::array<double, 4> v{};
    std::istringstream in(text);
    std::string part;
    std::size_t n = 0;
    while (std::getline(in, part, ',')) {
        if (n == v.size()) return std::nullopt;
        const std::string t = Trim(part);
        if (t.empty()) return std::nullopt;
        char* end = nullptr;
        v[n] = std::strtod(t.c_str(), &end);
        if (end != t.c_str() + t.size() || !std::isfinite(v[n])) return std::nullopt;
        ++n;
    }
    if (n != v.size()) return std::nullopt;
    LonLatBounds b{v[0], v[1], v[2], v[3]};
    if (b.west < -180 || b.east > 180 || b.south < -90 || b.north > 90) return std::nullopt;
    if (!(b.west < b.east) || !(b.south < b.north)) return std::nullopt;
    return b;
}

double TileLon(int x, int n) {
    return static_cast<double>(x) / n * 360.0 - 180.0;
}

double TileLat(int y, int n) {
    const double m = std::numbers::pi * (1 - 2.0 * y / n);
    return std::atan(std::sinh(m)) * 180 / std::numbers::pi;
}

}  // namespace

TileFormat SniffTileFormat(const std::vector<std::uint8_t>& b) {
    if (b.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), b.begin()))
        return TileFormat::kPng;
    if (b.size() >= kJpegSignature.size() &&
        std::equal(kJpegSignature.begin(), kJpegSignature.end(), b.begin()))
        return TileFormat::kJpeg;
    // RIFF <size> WEBP
    if (b.size() >= 12 && b[0] == 'R' && b[1] == 'I' && b[2] == 'F' && b[3] == 'F' && b[8] == 'W' &&
        b[9] == 'E' && b[10] == 'B' && b[11] == 'P')
        return TileFormat::kWebp;
    return TileFormat::kUnknown;
}

TileFormat TileFormatNamed(const std::string& name) {
    const std::string n = Lower(Trim(name));
    if (n == "png") return TileFormat::kPng;
    if (n == "jpg" || n == "jpeg") return TileFormat::kJpeg;
    if (n == "webp") return TileFormat::kWebp;
    return TileFormat::kUnknown;
}

const char* PackErrorText(PackError e) {
    switch (e) {
        case PackError::kNone: return "";
        case PackError::kCannotOpen: return "the file cannot be opened";
        case PackError::kNotMbtiles: return "the file is not an MBTiles pack (no tiles table)";
        case PackError::kNoTiles: return "the pack holds no tiles";
        case PackError::kVectorTiles: return "the pack holds vector tiles; only raster packs (PNG, JPEG, WebP) can be shown";
    }
    return "";
}

CMbtilesPack::~CMbtilesPack() {
    sqlite3_finalize(tileQuery_);
    sqlite3_close(db_);
}

std::unique_ptr<CMbtilesPack> CMbtilesPack::Open(const std::string& path, PackError& error,
                                                 std::string& detail) {
    error = PackError::kNone;
    detail.clear();
    std::unique_ptr<CMbtilesPack> pack(new CMbtilesPack);
    pack->path_ = path;
    const int rc = sqlite3_open_v2(path.c_str(), &pack->db_, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) {
        error = PackError::kCannotOpen;
        detail = pack->db_ ? sqlite3_errmsg(pack->db_) : sqlite3_errstr(rc);
        return nullptr;
    }
    sqlite3_busy_timeout(pack->db_, kBusyTimeoutMs);
    if (!pack->ReadMetadata(error, detail)) return nullptr;
    if (sqlite3_prepare_v2(pack->db_,
                           "SELECT tile_data FROM tiles WHERE zoom_level=?1 AND tile_column=?2 "
                           "AND tile_row=?3",
                           -1, &pack->tileQuery_, nullptr) != SQLITE_OK) {
        error = PackError::kNotMbtiles;
        detail = sqlite3_errmsg(pack->db_);
        return nullptr;
    }
    return pack;
}

bool CMbtilesPack::ReadMetadata(PackError& error, std::string& detail) {
    // The tiles table (or view) first: a file that is not SQLite at all
    // fails here ("file is not a database").
    std::optional<int> tilesMin, tilesMax;
    {
        // MIN and MAX are answered from the (zoom_level, ...) index of a
        // pack; COUNT(*) would read every page of a pack of gigabytes.
        Query q(db_,
                "SELECT MIN(zoom_level), MAX(zoom_level), EXISTS (SELECT 1 FROM tiles) FROM tiles");
        if (!q.Ok()) {
            error = PackError::kNotMbtiles;
            detail = sqlite3_errmsg(db_);
            return false;
        }
        const int rc = sqlite3_step(q.get());
        if (rc != SQLITE_ROW) {
            error = PackError::kNotMbtiles;
            detail = sqlite3_errmsg(db_);
            return false;
        }
        if (sqlite3_column_int64(q.get(), 2) == 0) {
            error = PackError::kNoTiles;
            return false;
        }
        tilesMin = std::clamp(sqlite3_column_int(q.get(), 0), 0, kMaxPackZoom);
        tilesMax = std::clamp(sqlite3_column_int(q.get(), 1), 0, kMaxPackZoom);
    }
    std::optional<int> metaMin, metaMax;
    std::string formatName;
    bool hasFormat = false;
    {
        // The metadata table is optional in practice (some tools leave it
        // out); without it the tiles speak for themselves.
        Query q(db_, "SELECT name, value FROM metadata");
        while (q.Ok() && sqlite3_step(q.get()) == SQLITE_ROW) {
            const std::string key = Lower(Trim(ColumnText(q.get(), 0)));
            const std::string value = ColumnText(q.get(), 1);
            if (key == "name") meta_.name = value;
            else if (key == "attribution") meta_.attribution = value;
            else if (key == "minzoom") metaMin = ParseZoom(value);
            else if (key == "maxzoom") metaMax = ParseZoom(value);
            else if (key == "bounds") meta_.bounds = ParseBounds(value);
            else if (key == "format") {
                formatName = Lower(Trim(value));
                hasFormat = true;
            }
        }
    }
    if (hasFormat && (formatName == "pbf" || formatName == "mvt")) {
        error = PackError::kVectorTiles;
        return false;
    }
    meta_.format = TileFormatNamed(formatName);
    {
        // The first tile's bytes tell, over what the metadata names: GDAL
        // 3.6 asked for TILE_FORMAT=WEBP writes WebP tiles (with a warning)
        // under format "png". The metadata stands when the bytes say nothing.
        Query q(db_, "SELECT tile_data FROM tiles LIMIT 1");
        if (q.Ok() && sqlite3_step(q.get()) == SQLITE_ROW) {
            const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(q.get(), 0));
            const int n = sqlite3_column_bytes(q.get(), 0);
            const TileFormat sniffed =
                SniffTileFormat(p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>());
            if (sniffed != TileFormat::kUnknown) meta_.format = sniffed;
        }
    }
    // The metadata's zooms where they agree with each other; what the tiles
    // hold otherwise (a pack that claims levels it lacks would draw nothing).
    meta_.minZoom = metaMin.value_or(*tilesMin);
    meta_.maxZoom = metaMax.value_or(*tilesMax);
    if (meta_.minZoom > meta_.maxZoom) {
        meta_.minZoom = *tilesMin;
        meta_.maxZoom = *tilesMax;
    }
    meta_.maxZoom = std::min(meta_.maxZoom, *tilesMax);
    meta_.minZoom = std::min(std::max(meta_.minZoom, *tilesMin), meta_.maxZoom);
    return true;
}

std::vector<std::uint8_t> CMbtilesPack::ReadTile(int z, int x, int y) {
    if (z < 0 || z > kMaxPackZoom) return {};
    const std::int64_t n = std::int64_t{1} << z;
    if (x < 0 || y < 0 || x >= n || y >= n) return {};
    sqlite3_reset(tileQuery_);
    sqlite3_bind_int(tileQuery_, 1, z);
    sqlite3_bind_int64(tileQuery_, 2, x);
    sqlite3_bind_int64(tileQuery_, 3, n - 1 - y);  // TMS rows count from the south
    std::vector<std::uint8_t> out;
    if (sqlite3_step(tileQuery_) == SQLITE_ROW) {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(tileQuery_, 0));
        const int len = sqlite3_column_bytes(tileQuery_, 0);
        if (p && len > 0) out.assign(p, p + len);
    }
    sqlite3_reset(tileQuery_);
    return out;
}

bool CMbtilesPack::TouchesBounds(int z, int x, int y) const {
    if (!meta_.bounds) return true;
    const int n = 1 << std::clamp(z, 0, kMaxPackZoom);
    const LonLatBounds& b = *meta_.bounds;
    const double west = TileLon(x, n), east = TileLon(x + 1, n);
    const double north = TileLat(y, n), south = TileLat(y + 1, n);
    const double bn = std::min(b.north, kMaxMercatorLat), bs = std::max(b.south, -kMaxMercatorLat);
    return west < b.east && east > b.west && south < bn && north > bs;
}

}  // namespace dorvane::map
