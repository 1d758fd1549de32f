#pragma once
// Map tiles from an XYZ URL template ("https://host/{z}/{x}/{y}.png") over
// QNetworkAccessManager, as tile servers' usage policies ask: a User-Agent
// naming Dorvane and its version, at most two requests (so two connections)
// at a time, and a disk cache under $XDG_CACHE_HOME/dorvane/tiles that is
// asked first and honours the server's expiry (QNetworkDiskCache with
// PreferCache). A tile that does not arrive within kTileTimeoutMs (offline,
// refused, slow) counts as failed and is retried only after
// kTileRetryMs; the map shows its grid there meanwhile. Everything runs on
// the GUI thread's event loop; nothing here ever blocks.

#include <QImage>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "ui/field_map.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace dorvane {

/// The OpenStreetMap standard tiles and the attribution their licence asks for.
inline constexpr const char* kOsmTileUrl = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
inline constexpr const char* kOsmAttribution = "© OpenStreetMap contributors";
/// The setting's value that turns tiles off.
inline constexpr const char* kNoTiles = "none";
/// A tile must answer within this time (ms).
inline constexpr int kTileTimeoutMs = 3000;
/// A failed tile is asked for again after this time (ms).
inline constexpr int kTileRetryMs = 30000;
/// Requests in flight at once (the OpenStreetMap policy's connection limit).
inline constexpr int kMaxTileRequests = 2;
/// Tiles kept decoded in memory.
inline constexpr std::size_t kMemoryTiles = 512;

struct TileSettings {
    QString urlTemplate;  ///< empty or "none": no tiles
    QString attribution;
    bool Off() const { return urlTemplate.isEmpty() || urlTemplate == QLatin1String(kNoTiles); }
};

/// The OpenStreetMap settings.
TileSettings DefaultTileSettings();
/// The settings from the profile ("FieldView/TileUrl", "FieldView/TileAttribution").
TileSettings LoadTileSettings();
void SaveTileSettings(const TileSettings& s);
/// Settings for a template given on the command line or in the dialog:
/// "none", the default's URL (with its attribution), or another source
/// (attribution: the host name).
TileSettings TileSettingsFor(const QString& urlTemplate);
/// $XDG_CACHE_HOME/dorvane/tiles (~/.cache/dorvane/tiles by default).
QString TileCacheFolder();
/// "Dorvane/<version>".
QString TileUserAgent();

class CTileFetcher : public QObject, public ITileSource {
public:
    explicit CTileFetcher(TileSettings settings, QObject* parent = nullptr);
    ~CTileFetcher() override;

    /// Called (GUI thread) whenever a tile arrived or failed.
    void SetOnChange(std::function<void()> f) { onChange_ = std::move(f); }

    QImage Tile(int z, int x, int y) override;
    QString Attribution() const override;

    /// Asks for every tile in `keys` that is not at hand.
    void Request(const std::vector<TileKey>& keys);
    /// No request waiting or in flight.
    bool Idle() const { return pending_.empty() && inFlight_ == 0; }
    bool Failed(const TileKey& k) const;
    const TileSettings& Settings() const { return settings_; }

private:
    static quint64 Key(int z, int x, int y);
    void Pump();
    void Finished(QNetworkReply* reply, quint64 key);

    TileSettings settings_;
    QNetworkAccessManager* nam_ = nullptr;
    std::unordered_map<quint64, QImage> memory_;
    std::unordered_map<quint64, qint64> failedAt_;  ///< key -> ms since epoch
    std::unordered_set<quint64> queued_;            ///< waiting or in flight
    std::deque<quint64> pending_;
    int inFlight_ = 0;
    std::function<void()> onChange_;
};

}  // namespace dorvane
