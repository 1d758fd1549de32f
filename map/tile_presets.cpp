#include "map/tile_presets.h"

#include <QUrl>

namespace dorvane::map {
namespace {

const QString kTiandituHostSuffix = QStringLiteral(".tianditu.gov.cn");

// The host of a template, {s} filled in (braces are no part of a host name).
QString HostOf(const QString& urlTemplate) {
    return QUrl(QString(urlTemplate).replace(QLatin1String("{s}"), QLatin1String("a"))).host().toLower();
}

bool IsTianditu(const QString& urlTemplate) {
    return HostOf(urlTemplate).endsWith(kTiandituHostSuffix);
}

}  // namespace

TileSettings PresetSettings(TilePreset preset, const QString& key, const TileSettings& custom) {
    TileSettings t;
    switch (preset) {
        case TilePreset::kOsm:
            t = DefaultTileSettings();
            break;
        case TilePreset::kTianditu: {
            // The key goes into the URL as it is typed, percent-encoded.
            const QString tk = QString::fromLatin1(QUrl::toPercentEncoding(key.trimmed()));
            t.urlTemplate = QString::fromLatin1(kTiandituImagery) + tk;
            t.attribution = QString::fromUtf8(kTiandituAttribution);
            t.overlayTemplate = QString::fromLatin1(kTiandituAnnotation) + tk;
            t.overlayAttribution = QString::fromUtf8(kTiandituAttribution);
            t.subdomains = QString::fromLatin1(kTiandituSubdomains);
            break;
        }
        case TilePreset::kCustom:
            t = custom;
            if (t.subdomains.isEmpty()) t.subdomains = QString::fromLatin1(kDefaultSubdomains);
            break;
        case TilePreset::kNone:
            t.urlTemplate = QString::fromLatin1(kNoTiles);
            break;
    }
    if (preset != TilePreset::kCustom) t.allowsKeeping = false;
    t.stacked = custom.stacked;
    t.offline = custom.offline;
    t.cacheLimitMB = custom.cacheLimitMB;
    return t;
}

TilePreset PresetOf(const TileSettings& s) {
    if (s.BaseOff()) return TilePreset::kNone;
    if (s.urlTemplate == QLatin1String(kOsmTileUrl) && s.overlayTemplate.isEmpty()) return TilePreset::kOsm;
    if (s.urlTemplate.startsWith(QLatin1String(kTiandituImagery))) return TilePreset::kTianditu;
    return TilePreset::kCustom;
}

QString TiandituKeyOf(const TileSettings& s) {
    if (!s.urlTemplate.startsWith(QLatin1String(kTiandituImagery))) return {};
    return QUrl::fromPercentEncoding(s.urlTemplate.mid(static_cast<qsizetype>(qstrlen(kTiandituImagery))).toLatin1());
}

bool IsOsmStandardServer(const QString& urlTemplate) {
    // tile.openstreetmap.org and its old a/b/c sub-domains ({s}.tile...).
    const QString host = HostOf(urlTemplate);
    return host == QLatin1String("tile.openstreetmap.org") ||
           host.endsWith(QLatin1String(".tile.openstreetmap.org"));
}

bool MayKeepOffline(const TileSettings& s) {
    if (s.BaseOff() || IsTilePack(s.urlTemplate)) return false;
    if (IsOsmStandardServer(s.urlTemplate) || IsTianditu(s.urlTemplate)) return false;
    return s.allowsKeeping;
}

}  // namespace dorvane::map
