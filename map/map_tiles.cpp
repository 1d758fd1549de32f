#include "map/map_tiles.h"

#include <QUrl>
#include <algorithm>

namespace dorvane::map {

CMapTiles::CMapTiles(const TileSettings& settings, QObject* parent)
    : QObject(parent), settings_(settings) {
    if (!settings_.BaseOff()) AddSource(settings_.urlTemplate, settings_.attribution);
    for (const QString& s : settings_.stacked)
        if (!s.isEmpty() && s != QLatin1String(kNoTiles)) AddSource(s, QString());
    if (!settings_.overlayTemplate.isEmpty() && settings_.overlayTemplate != QLatin1String(kNoTiles))
        AddSource(settings_.overlayTemplate, settings_.overlayAttribution);
}

CMapTiles::~CMapTiles() {
    // The fetchers (children) go with QObject's destructor; no callback of
    // theirs may reach a half-destroyed map.
    for (CTileFetcher* f : fetchers_) f->SetOnChange(nullptr);
}

void CMapTiles::AddSource(const QString& source, const QString& attribution) {
    if (IsTilePack(source)) {
        QString error;
        std::unique_ptr<CPackTileSource> pack = CPackTileSource::Open(source, &error);
        if (!pack) {
            problems_ << error;
            return;
        }
        stack_.SetLayers([&] {
            auto l = stack_.Layers();
            l.push_back(pack.get());
            return l;
        }());
        packs_.push_back(std::move(pack));
        return;
    }
    TileSettings one = settings_;
    one.urlTemplate = source;
    one.attribution = attribution.isEmpty() ? QUrl(source).host() : attribution;
    auto* f = new CTileFetcher(one, this);
    fetchers_.push_back(f);
    auto layers = stack_.Layers();
    layers.push_back(f);
    stack_.SetLayers(std::move(layers));
}

QImage CMapTiles::Tile(int z, int x, int y) {
    return stack_.Tile(z, x, y);
}

QString CMapTiles::Attribution() const {
    return stack_.Attribution();
}

void CMapTiles::SetOnChange(std::function<void()> f) {
    for (CTileFetcher* fe : fetchers_) fe->SetOnChange(f);
}

void CMapTiles::Request(const std::vector<TileKey>& keys) {
    for (CTileFetcher* f : fetchers_) f->Request(keys);
}

bool CMapTiles::Idle() const {
    return std::all_of(fetchers_.begin(), fetchers_.end(), [](const CTileFetcher* f) { return f->Idle(); });
}

bool CMapTiles::Failed(const TileKey& k) const {
    return std::any_of(fetchers_.begin(), fetchers_.end(),
                       [&k](const CTileFetcher* f) { return f->Failed(k); });
}

}  // namespace dorvane::map
