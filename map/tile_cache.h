#pragma once
// The disk cache of fetched tiles, kept under its size limit by dropping the
// least recently used tiles first. QNetworkDiskCache on its own drops the
// oldest written, so a tile looked at every day would go before one seen
// once last spring: here a tile read from the cache is written anew (its
// file's time becomes now) and expire() drops files oldest time first.
// Used by the network access manager on its (the GUI) thread.

#include <QNetworkDiskCache>
#include <functional>

namespace dorvane::map {

/// The cache is brought down to this share of its limit when it passes it,
/// so that it is not trimmed again at the next tile.
inline constexpr int kCacheTrimPercent = 90;

class CTileDiskCache : public QNetworkDiskCache {
public:
    explicit CTileDiskCache(QObject* parent = nullptr) : QNetworkDiskCache(parent) {}

    QIODevice* data(const QUrl& url) override;
    /// Stores the item, then trims at once when it took the cache past its
    /// limit (QNetworkDiskCache trims before it writes, so the item that
    /// passes the limit would stay until the next).
    void insert(QIODevice* device) override;

protected:
    qint64 expire() override;

private:
    /// Walks the folder, drops the least recently used files until the
    /// cache is within kCacheTrimPercent of its limit; the bytes left.
    qint64 Trim();

    bool refreshing_ = false;
    /// Bytes in the cache as last counted (-1: not yet): a walk of the
    /// folder only when it may be over the limit.
    qint64 bytes_ = -1;
};

/// Bytes the tiles in `folder` take (the files QNetworkDiskCache writes).
/// Reads the folder: call it off the GUI thread for a big cache.
qint64 TileCacheBytes(const QString& folder);

/// Removes every cached tile under `folder` on a worker thread, then calls
/// `done` (on the thread of `context`) with whether all went.
void ClearTileCacheAsync(const QString& folder, QObject* context, std::function<void(bool)> done);

}  // namespace dorvane::map
