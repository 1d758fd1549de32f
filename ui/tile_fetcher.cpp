#include "ui/tile_fetcher.h"

#include <QDateTime>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <memory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QUrl>

#include "ui/profile.h"

namespace dorvane {
namespace {

const QString kUrlKey = QStringLiteral("FieldView/TileUrl");
const QString kAttributionKey = QStringLiteral("FieldView/TileAttribution");
/// Disk cache size (bytes): about 20 000 tiles of a typical 25 KB.
constexpr qint64 kDiskCacheBytes = 500LL * 1024 * 1024;
/// Requests waiting beyond this many are dropped, oldest first: after panning
/// far, the tiles of the old place are no longer wanted.
constexpr std::size_t kMaxPending = 128;
constexpr int kBitsPerCoordinate = 28;

}  // namespace

TileSettings DefaultTileSettings() {
    return {QString::fromLatin1(kOsmTileUrl), QString::fromUtf8(kOsmAttribution)};
}

TileSettings LoadTileSettings() {
    QSettings s = ProfileSettings();
    if (!s.contains(kUrlKey)) return DefaultTileSettings();
    return {s.value(kUrlKey).toString(), s.value(kAttributionKey).toString()};
}

void SaveTileSettings(const TileSettings& t) {
    QSettings s = ProfileSettings();
    s.setValue(kUrlKey, t.urlTemplate);
    s.setValue(kAttributionKey, t.attribution);
}

TileSettings TileSettingsFor(const QString& url) {
    const QString u = url.trimmed();
    if (u.isEmpty() || u == QLatin1String(kOsmTileUrl)) return DefaultTileSettings();
    if (u == QLatin1String(kNoTiles)) return {QString::fromLatin1(kNoTiles), QString()};
    return {u, QUrl(u).host()};
}

QString TileCacheFolder() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/dorvane/tiles");
}

QString TileUserAgent() {
    return QStringLiteral("Dorvane/" DORVANE_VERSION);
}

CTileFetcher::CTileFetcher(TileSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    if (settings_.Off()) return;
    nam_ = new QNetworkAccessManager(this);
    auto* cache = new QNetworkDiskCache(nam_);
    cache->setCacheDirectory(TileCacheFolder());
    cache->setMaximumCacheSize(kDiskCacheBytes);
    nam_->setCache(cache);
}

CTileFetcher::~CTileFetcher() {
    onChange_ = nullptr;  // replies aborted below must not call back
    if (nam_)
        for (QNetworkReply* r : nam_->findChildren<QNetworkReply*>()) r->abort();
}

quint64 CTileFetcher::Key(int z, int x, int y) {
    return (static_cast<quint64>(z) << (2 * kBitsPerCoordinate)) |
           (static_cast<quint64>(x) << kBitsPerCoordinate) | static_cast<quint64>(y);
}

QString CTileFetcher::Attribution() const {
    return settings_.Off() ? QString() : settings_.attribution;
}

bool CTileFetcher::Failed(const TileKey& k) const {
    return failedAt_.count(Key(k.z, k.x, k.y)) != 0;
}

QImage CTileFetcher::Tile(int z, int x, int y) {
    if (!nam_) return {};
    const quint64 k = Key(z, x, y);
    if (auto it = memory_.find(k); it != memory_.end()) return it->second;
    if (!queued_.count(k)) {
        auto f = failedAt_.find(k);
        if (f == failedAt_.end() ||
            QDateTime::currentMSecsSinceEpoch() - f->second > kTileRetryMs) {
            queued_.insert(k);
            pending_.push_back(k);
            while (pending_.size() > kMaxPending) {
                queued_.erase(pending_.front());
                pending_.pop_front();
            }
            // Started after the paint that asked, never inside it.
            QMetaObject::invokeMethod(
                this, [this] { Pump(); }, Qt::QueuedConnection);
        }
    }
    return {};
}

void CTileFetcher::Request(const std::vector<TileKey>& keys) {
    for (const TileKey& k : keys) Tile(k.z, k.x, k.y);
}

void CTileFetcher::Pump() {
    while (inFlight_ < kMaxTileRequests && !pending_.empty()) {
        // The newest wish first: it belongs to what is on screen now.
        const quint64 k = pending_.back();
        pending_.pop_back();
        const int z = static_cast<int>(k >> (2 * kBitsPerCoordinate));
        const int x =
            static_cast<int>((k >> kBitsPerCoordinate) & ((1u << kBitsPerCoordinate) - 1));
        const int y = static_cast<int>(k & ((1u << kBitsPerCoordinate) - 1));
        QString url = settings_.urlTemplate;
        url.replace(QLatin1String("{z}"), QString::number(z))
            .replace(QLatin1String("{x}"), QString::number(x))
            .replace(QLatin1String("{y}"), QString::number(y));
        QNetworkRequest req{QUrl(url)};
        req.setHeader(QNetworkRequest::UserAgentHeader, TileUserAgent());
        // A tile the disk cache holds within the server's expiry comes from there without
        // asking; an expired one is asked for again (If-Modified-Since). Failures fall back
        // to the cache, expired or not (Finished).
        req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);
        req.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        req.setTransferTimeout(kTileTimeoutMs);
        QNetworkReply* reply = nam_->get(req);
        ++inFlight_;
        connect(reply, &QNetworkReply::finished, this, [this, reply, k] { Finished(reply, k); });
    }
}

void CTileFetcher::Finished(QNetworkReply* reply, quint64 k) {
    reply->deleteLater();
    --inFlight_;
    queued_.erase(k);
    QImage img;
    if (reply->error() == QNetworkReply::NoError) img.loadFromData(reply->readAll());
    if (img.isNull()) {
        // Offline, refused or silent: a tile the cache holds, even past its expiry, is
        // better than the bare grid in the field.
        if (QAbstractNetworkCache* cache = nam_->cache())
            if (const std::unique_ptr<QIODevice> d{cache->data(reply->url())}) img.loadFromData(d->readAll());
    }
    if (img.isNull()) {
        failedAt_[k] = QDateTime::currentMSecsSinceEpoch();
    } else {
        failedAt_.erase(k);
        if (memory_.size() >= kMemoryTiles) memory_.clear();
        memory_[k] = img;
    }
    if (onChange_) onChange_();
    Pump();
}

}  // namespace dorvane
