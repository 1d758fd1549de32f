#pragma once
// Every layer of the map's tiles as one source: the base (fetched or a pack),
// the packs and templates stacked over it, the overlay over all. Fetched
// layers each have their CTileFetcher (two requests at a time each, the disk
// cache, offline); packs answer at once. The window, the snapshot and the
// PDFs all draw through this. GUI thread.

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "map/pack_tiles.h"
#include "ui/tile_fetcher.h"

namespace dorvane::map {

class CMapTiles : public QObject, public ITileSource {
public:
    explicit CMapTiles(const TileSettings& settings, QObject* parent = nullptr);
    ~CMapTiles() override;

    QImage Tile(int z, int x, int y) override;
    /// Every layer's attribution, bottom first.
    QString Attribution() const override;

    /// Called (GUI thread) whenever a fetched tile arrived or failed.
    void SetOnChange(std::function<void()> f);
    /// Asks every fetched layer for the tiles in `keys` it lacks.
    void Request(const std::vector<TileKey>& keys);
    /// No fetched layer has a request waiting or in flight.
    bool Idle() const;
    /// Some fetched layer failed tile `k`.
    bool Failed(const TileKey& k) const;
    /// Nothing to draw at all (no layer, or none that opened).
    bool Empty() const { return stack_.Layers().empty(); }
    const TileSettings& Settings() const { return settings_; }
    /// Packs that could not be opened, in the user's words (file: reason).
    const QStringList& Problems() const { return problems_; }
    const std::vector<CTileFetcher*>& Fetchers() const { return fetchers_; }

private:
    void AddSource(const QString& source, const QString& attribution);

    TileSettings settings_;
    std::vector<CTileFetcher*> fetchers_;  ///< children of this
    std::vector<std::unique_ptr<CPackTileSource>> packs_;
    CTileStack stack_;
    QStringList problems_;
};

}  // namespace dorvane::map
