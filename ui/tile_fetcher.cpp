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

#include "map/tile_cache.h"
#include "ui/profile.h"

namespace dorvane {
namespace {

const QString kUrlKey = QStringLiteral("FieldView/TileUrl");
const QString kAttributionKey = QStringLiteral("FieldView/TileAttribution");
const QString kOverlayKey = QStringLiteral("FieldView/TileOverlayUrl");
const QString kOverlayAttributionKey = QStringLiteral("FieldView/TileOverlayAttribution");
const QString kSubdomainsKey = QStringLiteral("FieldView/TileSubdomains");
const QString kPacksKey = QStringLiteral("FieldView/TilePacks");
const QString kOfflineKey = QStringLiteral("FieldView/Offline");
const QString kKeepingKey = QStringLiteral("FieldView/TileAllowsKeeping");
const QString kCacheKey = QStringLiteral("FieldView/TileCacheMB");
constexpr qint64 kBytesPerMB = 1024 * 1024;
/// Requests waiting beyond this many are dropped, oldest first: after panning
/// far, the tiles of the old place are no longer wanted.
constexpr std::size_t kMaxPending = 128;
constexpr int kBitsPerCoordinate = 28;

}  // namespace

TileSettings DefaultTileSettings() {
    TileSettings t;
    t.urlTemplate = QString::fromLatin1(kOsmTileUrl);
    t.attribution = QString::fromUtf8(kOsmAttribution);
    return t;
}

TileSettings LoadTileSettings() {
    QSettings s = ProfileSettings();
    TileSettings t = DefaultTileSettings();
    if (s.contains(kUrlKey)) {
        t.urlTemplate = s.value(kUrlKey).toString();
        t.attribution = s.value(kAttributionKey).toString();
    }
    t.overlayTemplate = s.value(kOverlayKey).toString();
    t.overlayAttribution = s.value(kOverlayAttributionKey).toString();
    const QString sub = s.value(kSubdomainsKey).toString();
    if (!sub.isEmpty()) t.subdomains = sub;
    t.stacked = s.value(kPacksKey).toStringList();
    t.offline = s.value(kOfflineKey, false).toBool();
    t.allowsKeeping = s.value(kKeepingKey, false).toBool();
    // The profile is a text file anyone may edit: a limit that is no
    // positive number falls back to the default.
    bool ok = false;
    const int mb = s.value(kCacheKey, kDefaultTileCacheMB).toInt(&ok);
    t.cacheLimitMB = ok && mb > 0 ? mb : kDefaultTileCacheMB;
    return t;
}

void SaveTileSettings(const TileSettings& t) {
    QSettings s = ProfileSettings();
    s.setValue(kUrlKey, t.urlTemplate);
    s.setValue(kAttributionKey, t.attribution);
    s.setValue(kOverlayKey, t.overlayTemplate);
    s.setValue(kOverlayAttributionKey, t.overlayAttribution);
    s.setValue(kSubdomainsKey, t.subdomains);
    s.setValue(kPacksKey, t.stacked);
    s.setValue(kOfflineKey, t.offline);
    s.setValue(kKeepingKey, t.allowsKeeping);
    s.setValue(kCacheKey, t.cacheLimitMB);
}

bool IsTilePack(const QString& source) {
    return !source.contains(QLatin1String("{z}")) &&
           source.endsWith(QLatin1String(".mbtiles"), Qt::CaseInsensitive);
}

QString TileUrl(const QString& urlTemplate, const QString& subdomains, int z, int x, int y) {
    QString url = urlTemplate;
    const int flipped = (1 << z) - 1 - y;
    url.replace(QLatin1String("{z}"), QString::number(z))
        .replace(QLatin1String("{x}"), QString::number(x))
        .replace(QLatin1String("{-y}"), QString::number(flipped))
        .replace(QLatin1String("{y}"), QString::number(y));
    if (!subdomains.isEmpty())
        url.replace(QLatin1String("{s}"), subdomains.at((x + y) % subdomains.size()));
    return url;
}

TileSettings PdfTileSettings(const std::string& tiles, const std::vector<std::string>& stacked,
                             const std::string& overlay, bool offline) {
    QStringList list;
    if (!tiles.empty()) {
        list << QString::fromStdString(tiles);
        for (const std::string& s : stacked) list << QString::fromStdString(s);
    }
    return TileSettingsFor(list, QString::fromStdString(overlay), offline);
}

TileSettings TileSettingsFor(const QStringList& tiles, const QString& overlay, bool offline) {
    TileSettings t = tiles.isEmpty() ? LoadTileSettings() : TileSettingsFor(tiles.front());
    if (!tiles.isEmpty()) {
        // The profile's other layers are not mixed into what the command
        // line names.
        t.stacked.clear();
        t.overlayTemplate.clear();
        t.overlayAttribution.clear();
        for (qsizetype i = 1; i < tiles.size(); ++i)
            if (tiles[i] != QLatin1String(kNoTiles)) t.stacked << tiles[i];
    }
    if (!overlay.isEmpty()) {
        t.overlayTemplate = overlay;
        t.overlayAttribution = QUrl(overlay).host();
    }
    t.offline = t.offline || offline;
    return t;
}

TileSettings TileSettingsFor(const QString& url) {
    const QString u = url.trimmed();
    if (u.isEmpty() || u == QLatin1String(kOsmTileUrl)) return DefaultTileSettings();
    TileSettings t;
    t.urlTemplate = u;
    // "none" has no attribution, a pack names itself (CPackTileSource's).
    if (u != QLatin1String(kNoTiles) && !IsTilePack(u)) t.attribution = QUrl(u).host();
    return t;
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
    if (settings_.BaseOff() || IsTilePack(settings_.urlTemplate)) return;
    nam_ = new QNetworkAccessManager(this);
    auto* cache = new map::CTileDiskCache(nam_);
    cache->setCacheDirectory(TileCacheFolder());
    cache->setMaximumCacheSize(static_cast<qint64>(settings_.cacheLimitMB) * kBytesPerMB);
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
    return settings_.BaseOff() ? QString() : settings_.attribution;
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
        QNetworkRequest req{QUrl(TileUrl(settings_.urlTemplate, settings_.subdomains, z, x, y))};
        req.setHeader(QNetworkRequest::UserAgentHeader, TileUserAgent());
        // A tile the disk cache holds within the server's expiry comes from there without
        // asking; an expired one is asked for again (If-Modified-Since). Failures fall back
        // to the cache, expired or not (Finished).
        // Offline: the cache only, and a tile it lacks fails without a word
        // to the server.
        req.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         settings_.offline ? QNetworkRequest::AlwaysCache : QNetworkRequest::PreferNetwork);
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
