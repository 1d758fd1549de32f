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
#include <string>
#include <vector>
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
/// The disk cache's size limit unless the user sets another (MB): about
/// 20 000 tiles of a typical 25 KB.
inline constexpr int kDefaultTileCacheMB = 500;
/// Sub-domains {s} takes when the source names none (a, b, c: the usual
/// spread of XYZ tile servers).
inline constexpr const char* kDefaultSubdomains = "abc";

/// Where the map's tiles come from: a base source, MBTiles packs and further
/// templates stacked over it (later over earlier), an overlay over all of
/// them (place names over imagery). A source is an XYZ URL template with
/// {z} {x} {y} or {-y} (TMS rows) and optionally {s}, or an .mbtiles file.
struct TileSettings {
    QString urlTemplate;  ///< the base source; empty or "none": none
    QString attribution;
    /// Drawn over the base and everything stacked (empty: none).
    QString overlayTemplate;
    QString overlayAttribution;
    /// The values {s} takes, one character each, chosen by the tile.
    QString subdomains = QString::fromLatin1(kDefaultSubdomains);
    /// Further sources over the base, in order: templates or .mbtiles files.
    QStringList stacked;
    /// Nothing is asked of any server: tiles come from the packs and from
    /// what the disk cache holds.
    bool offline = false;
    /// The source's terms allow keeping its tiles for offline use (the user
    /// says so for a custom source; never for OpenStreetMap's servers).
    bool allowsKeeping = false;
    int cacheLimitMB = kDefaultTileCacheMB;

    bool BaseOff() const { return urlTemplate.isEmpty() || urlTemplate == QLatin1String(kNoTiles); }
    bool Off() const { return BaseOff() && overlayTemplate.isEmpty() && stacked.isEmpty(); }
};

/// True for an .mbtiles file (a pack), false for a URL template.
bool IsTilePack(const QString& source);
/// The URL of tile (z, x, y) from `urlTemplate`: {z}, {x}, {y}, {-y} (the
/// row counted from the south) and {s} (one of `subdomains`).
QString TileUrl(const QString& urlTemplate, const QString& subdomains, int z, int x, int y);

/// The OpenStreetMap settings.
TileSettings DefaultTileSettings();
/// The settings from the profile ("FieldView/TileUrl", "FieldView/TileAttribution").
TileSettings LoadTileSettings();
void SaveTileSettings(const TileSettings& s);
/// Settings for a template given on the command line or in the dialog:
/// "none", the default's URL (with its attribution), or another source
/// (attribution: the host name).
TileSettings TileSettingsFor(const QString& urlTemplate);
/// Settings for the command line's `--tiles` (repeatable: the first is the
/// base, the rest stacked over it), `--overlay` and `--offline`.
TileSettings TileSettingsFor(const QStringList& tiles, const QString& overlay, bool offline);
/// The same for a PDF's options: `tiles` empty for the profile's sources.
TileSettings PdfTileSettings(const std::string& tiles, const std::vector<std::string>& stacked,
                             const std::string& overlay, bool offline);
/// $XDG_CACHE_HOME/dorvane/tiles (~/.cache/dorvane/tiles by default).
QString TileCacheFolder();
/// "Dorvane/<version>".
QString TileUserAgent();

/// Fetches the tiles of one URL template (`settings.urlTemplate`; the other
/// layers are CMapTiles' business).
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
