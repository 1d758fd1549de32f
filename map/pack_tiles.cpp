#include "map/pack_tiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPainter>
#include <cmath>

#include "i18n/string_table.h"

namespace dorvane::map {
namespace {

quint64 Key(int z, int x, int y) {
    // z <= kMaxPackZoom: x and y below 2^24 each.
    return (static_cast<quint64>(z) << 48) | (static_cast<quint64>(x) << 24) | static_cast<quint64>(y);
}

// The user's words for why `path` is no pack.
QString Words(PackError e, const QString& path) {
    StringId id = StringId::RES_MAP_PACK_CANNOT_OPEN;
    if (e == PackError::kNotMbtiles) id = StringId::RES_MAP_PACK_NOT_MBTILES;
    if (e == PackError::kNoTiles) id = StringId::RES_MAP_PACK_NO_TILES;
    if (e == PackError::kVectorTiles) id = StringId::RES_MAP_PACK_VECTOR;
    return QString::fromStdString(FormatText(id, path.toStdString().c_str()));
}

}  // namespace

CPackTileSource::CPackTileSource(std::unique_ptr<CMbtilesPack> pack) : pack_(std::move(pack)) {}

std::unique_ptr<CPackTileSource> CPackTileSource::Open(const QString& path, QString* error) {
    PackError e = PackError::kNone;
    std::string detail;
    if (!QFileInfo(path).isFile()) {
        if (error) *error = Words(PackError::kCannotOpen, path);
        return nullptr;
    }
    std::unique_ptr<CMbtilesPack> pack = CMbtilesPack::Open(path.toStdString(), e, detail);
    if (!pack) {
        if (error) {
            *error = Words(e, path);
            if (!detail.empty()) *error += QStringLiteral(" (%1)").arg(QString::fromStdString(detail));
        }
        return nullptr;
    }
    return std::make_unique<CPackTileSource>(std::move(pack));
}

QString CPackTileSource::Attribution() const {
    const PackMetadata& m = pack_->Metadata();
    if (!m.attribution.empty()) return QString::fromStdString(m.attribution);
    if (!m.name.empty()) return QString::fromStdString(m.name);
    return QFileInfo(QString::fromStdString(pack_->Path())).fileName();
}

QImage CPackTileSource::Stored(int z, int x, int y) {
    const quint64 k = Key(z, x, y);
    if (auto it = memory_.find(k); it != memory_.end()) {
        order_.splice(order_.end(), order_, it->second.second);
        return it->second.first;
    }
    const std::vector<std::uint8_t> bytes = pack_->ReadTile(z, x, y);
    QImage img;
    if (!bytes.empty()) {
        img.loadFromData(bytes.data(), static_cast<int>(bytes.size()));
        if (img.isNull()) {
            problem_ = SniffTileFormat(bytes) == TileFormat::kWebp
                           ? QStringLiteral("WebP tiles cannot be shown: Qt's WebP image plugin is missing")
                           : QStringLiteral("a tile of the pack is damaged (%1/%2/%3)").arg(z).arg(x).arg(y);
        }
        // Kept as decoded (RGB32 from JPEG): the painter draws it as fast
        // as a premultiplied copy, without the copy.
    }
    // Missing tiles are remembered too (a null image): a sparse pack is asked
    // for the same holes every frame.
    order_.push_back(k);
    memory_.emplace(k, std::make_pair(img, std::prev(order_.end())));
    if (memory_.size() > kPackMemoryTiles) {
        memory_.erase(order_.front());
        order_.pop_front();
    }
    return img;
}

QImage CPackTileSource::Tile(int z, int x, int y) {
    const PackMetadata& m = pack_->Metadata();
    if (z < m.minZoom || z < 0 || z > kMaxPackZoom) return {};
    if (!pack_->TouchesBounds(z, x, y)) return {};
    // The tile itself, or the nearest level above that has one (past the
    // deepest level, or a hole in a sparse pack): its part cut and scaled.
    QImage out;
    for (int az = std::min(z, m.maxZoom); az >= m.minZoom && out.isNull(); --az) {
        const int shift = z - az;
        const QImage a = Stored(az, x >> shift, y >> shift);
        if (a.isNull()) continue;
        if (shift == 0) {
            out = a;
            break;
        }
        const int parts = 1 << shift;
        const double w = static_cast<double>(a.width()) / parts;
        const double h = static_cast<double>(a.height()) / parts;
        const QRectF from((x & (parts - 1)) * w, (y & (parts - 1)) * h, w, h);
        out = QImage(kTileSize, kTileSize, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.drawImage(QRectF(0, 0, kTileSize, kTileSize), a, from);
    }
    if (out.isNull() || !m.bounds) return out;
    // Edge tiles hold more than the pack covers (GDAL fills JPEG tiles
    // black beyond its raster): only the part within the bounds is shown,
    // the grid beside it.
    const double n = std::exp2(z);
    const WorldPoint nw = ToWorld(m.bounds->west, m.bounds->north);
    const WorldPoint se = ToWorld(m.bounds->east, m.bounds->south);
    const double scale = out.width();
    const QRectF inside(QPointF((nw.x * n - x) * scale, (nw.y * n - y) * scale),
                        QPointF((se.x * n - x) * scale, (se.y * n - y) * scale));
    const QRectF whole(0, 0, out.width(), out.height());
    if (inside.contains(whole)) return out;
    QImage clipped(out.size(), QImage::Format_ARGB32_Premultiplied);
    clipped.fill(Qt::transparent);
    QPainter p(&clipped);
    p.setClipRect(inside);
    p.drawImage(QPointF(0, 0), out);
    return clipped;
}

QImage CTileStack::Tile(int z, int x, int y) {
    QImage out;
    bool owned = false;  // `out` is our own picture, not a layer's shared one
    for (ITileSource* l : layers_) {
        if (!l) continue;
        const QImage img = l->Tile(z, x, y);
        if (img.isNull()) continue;
        if (out.isNull() || !img.hasAlphaChannel()) {
            // Opaque: nothing beneath shows through (shared, not copied).
            out = img;
            owned = false;
            continue;
        }
        if (!owned) {
            QImage base(kTileSize, kTileSize, QImage::Format_ARGB32_Premultiplied);
            base.fill(Qt::transparent);
            QPainter bp(&base);
            bp.drawImage(QRectF(0, 0, kTileSize, kTileSize), out);
            bp.end();
            out = std::move(base);
            owned = true;
        }
        QPainter p(&out);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.drawImage(QRectF(0, 0, kTileSize, kTileSize), img);
    }
    return out;
}

QString CTileStack::Attribution() const {
    QStringList parts;
    for (ITileSource* l : layers_) {
        if (!l) continue;
        const QString a = l->Attribution();
        if (!a.isEmpty() && !parts.contains(a)) parts << a;
    }
    return parts.join(QStringLiteral(" | "));
}

}  // namespace dorvane::map
