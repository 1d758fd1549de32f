#pragma once
// Tiles for the map from MBTiles packs, and several sources drawn one over
// another. A pack answers at once (a SQLite read of a few KB, well under
// the time of one frame), so a pack needs no fetching and no waiting: the
// snapshot and the PDFs draw it as they go. Beyond a pack's deepest level the
// deepest tile above is cut and scaled up; outside its bounds, above its
// shallowest level and where it has no tile it gives nothing, and whatever
// lies under it (another source or the grid) shows. GUI thread (or any one
// thread that owns the objects).

#include <QImage>
#include <QString>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "map/mbtiles_pack.h"
#include "ui/field_map.h"

namespace dorvane::map {

/// Decoded tiles a pack keeps in memory (about 256 KB each).
inline constexpr std::size_t kPackMemoryTiles = 256;

class CPackTileSource : public ITileSource {
public:
    explicit CPackTileSource(std::unique_ptr<CMbtilesPack> pack);

    /// Opens `path`; null with `error` set to words for the user otherwise.
    static std::unique_ptr<CPackTileSource> Open(const QString& path, QString* error);

    QImage Tile(int z, int x, int y) override;
    /// The metadata's attribution, else its name, else the file's name.
    QString Attribution() const override;

    const CMbtilesPack& Pack() const { return *pack_; }
    /// Why the last tile found could not be shown (empty when all were):
    /// a WebP pack on a system without Qt's WebP plugin, a damaged tile.
    const QString& Problem() const { return problem_; }

private:
    /// The tile at (z, x, y) at or below the pack's deepest level, decoded
    /// (cached); null when the pack has none.
    QImage Stored(int z, int x, int y);

    std::unique_ptr<CMbtilesPack> pack_;
    // Least recently used first.
    std::list<quint64> order_;
    std::unordered_map<quint64, std::pair<QImage, std::list<quint64>::iterator>> memory_;
    QString problem_;
};

/// Sources drawn in order, each over the ones before (a county's imagery over
/// a province's, place names over imagery). Does not own the sources.
class CTileStack : public ITileSource {
public:
    CTileStack() = default;
    explicit CTileStack(std::vector<ITileSource*> layers) : layers_(std::move(layers)) {}
    void SetLayers(std::vector<ITileSource*> layers) { layers_ = std::move(layers); }
    const std::vector<ITileSource*>& Layers() const { return layers_; }

    QImage Tile(int z, int x, int y) override;
    /// Every layer's attribution once, bottom first, joined by " | ".
    QString Attribution() const override;

private:
    std::vector<ITileSource*> layers_;
};

}  // namespace dorvane::map
