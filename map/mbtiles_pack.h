#pragma once
// An MBTiles 1.x pack (a SQLite file of raster tiles) read directly with
// SQLite, read-only: the `metadata` table's format, bounds, zooms, name and
// attribution, and the `tiles` table's blobs. MBTiles numbers rows the TMS
// way (row 0 at the south); callers speak XYZ (row 0 at the north) and the
// flip happens here. A pack comes from anywhere (a download, a colleague's
// USB stick): nothing in it is trusted, metadata that makes no sense is
// ignored rather than believed. Qt-free; one connection per object, used
// from one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace dorvane::map {

/// Deepest zoom level a pack may hold: about a centimetre a pixel, deeper
/// than any imagery; a tile's key (z, x, y) then fits 64 bits.
inline constexpr int kMaxPackZoom = 24;

enum class TileFormat { kUnknown, kPng, kJpeg, kWebp };

/// The image format of a tile's bytes by their signature; kUnknown for
/// anything else (vector tiles, garbage).
TileFormat SniffTileFormat(const std::vector<std::uint8_t>& bytes);
/// The format named by the metadata's `format` value ("png", "jpg", "jpeg",
/// "webp"); kUnknown otherwise.
TileFormat TileFormatNamed(const std::string& name);

/// Longitude/latitude bounds (WGS84 degrees), west < east, south < north.
struct LonLatBounds {
    double west = -180;
    double south = -85.0511287798066;
    double east = 180;
    double north = 85.0511287798066;
};

struct PackMetadata {
    std::string name;
    std::string attribution;
    TileFormat format = TileFormat::kUnknown;
    /// From the metadata, or (when absent or unreadable) from the tiles present.
    int minZoom = 0;
    int maxZoom = 0;
    /// Empty when the metadata names none (or nonsense): the whole world.
    std::optional<LonLatBounds> bounds;
};

/// Why a pack could not be opened.
enum class PackError { kNone, kCannotOpen, kNotMbtiles, kNoTiles, kVectorTiles };

class CMbtilesPack {
public:
    ~CMbtilesPack();
    CMbtilesPack(const CMbtilesPack&) = delete;
    CMbtilesPack& operator=(const CMbtilesPack&) = delete;

    /// Opens `path` read-only. Null with `error` (and `detail`, SQLite's own
    /// words where it gave some) set when it is not a readable raster pack.
    static std::unique_ptr<CMbtilesPack> Open(const std::string& path, PackError& error,
                                              std::string& detail);

    const PackMetadata& Metadata() const { return meta_; }
    const std::string& Path() const { return path_; }

    /// The bytes of tile (z, x, y) in XYZ numbering; empty when the pack has
    /// no such tile (or the read failed).
    std::vector<std::uint8_t> ReadTile(int z, int x, int y);
    /// Whether tile (z, x, y) (XYZ) touches the pack's bounds.
    bool TouchesBounds(int z, int x, int y) const;

private:
    CMbtilesPack() = default;
    bool ReadMetadata(PackError& error, std::string& detail);

    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* tileQuery_ = nullptr;
    PackMetadata meta_;
};

/// English words for `e` (the GUI translates through its own keys).
const char* PackErrorText(PackError e);

}  // namespace dorvane::map
