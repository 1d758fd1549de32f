#include "map/tile_cache.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <memory>
#include <vector>

namespace dorvane::map {
namespace {

/// QNetworkDiskCache names every cached item's file with this ending.
const QString kItemSuffix = QStringLiteral(".d");

struct Item {
    QString path;
    qint64 size = 0;
    qint64 usedMs = 0;
};

std::vector<Item> Items(const QString& folder) {
    std::vector<Item> out;
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.fileName().endsWith(kItemSuffix)) continue;
        out.push_back({info.filePath(), info.size(), info.lastModified().toMSecsSinceEpoch()});
    }
    return out;
}

}  // namespace

QIODevice* CTileDiskCache::data(const QUrl& url) {
    QIODevice* d = QNetworkDiskCache::data(url);
    if (d && !refreshing_) {
        // Written anew: the file's time says when the tile was last used.
        // updateMetaData reads the item through data() itself.
        refreshing_ = true;
        updateMetaData(metaData(url));
        refreshing_ = false;
    }
    return d;
}

void CTileDiskCache::insert(QIODevice* device) {
    QNetworkDiskCache::insert(device);
    // QNetworkDiskCache's own tally, the new item included.
    bytes_ = QNetworkDiskCache::cacheSize();
    if (bytes_ > maximumCacheSize()) bytes_ = Trim();
}

qint64 CTileDiskCache::expire() {
    if (bytes_ >= 0 && bytes_ <= maximumCacheSize()) return bytes_;
    bytes_ = Trim();
    return bytes_;
}

qint64 CTileDiskCache::Trim() {
    std::vector<Item> items = Items(cacheDirectory());
    qint64 total = 0;
    for (const Item& i : items) total += i.size;
    if (total <= maximumCacheSize()) return total;
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.usedMs < b.usedMs; });
    const qint64 goal = maximumCacheSize() * kCacheTrimPercent / 100;
    for (const Item& i : items) {
        if (total <= goal) break;
        if (QFile::remove(i.path)) total -= i.size;
    }
    return total;
}

qint64 TileCacheBytes(const QString& folder) {
    qint64 total = 0;
    for (const Item& i : Items(folder)) total += i.size;
    return total;
}

void ClearTileCacheAsync(const QString& folder, QObject* context, std::function<void(bool)> done) {
    auto ok = std::make_shared<bool>(true);
    QThread* worker = QThread::create([folder, ok] {
        for (const Item& i : Items(folder)) *ok = QFile::remove(i.path) && *ok;
    });
    // Both connections die with `context`: a window closed meanwhile hears nothing.
    QObject::connect(worker, &QThread::finished, context, [ok, done = std::move(done)] {
        if (done) done(*ok);
    });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

}  // namespace dorvane::map
