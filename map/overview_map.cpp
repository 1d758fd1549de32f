#include "map/overview_map.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace dorvane::map {
namespace {

/// Colours told apart on screen and in grey print alike (ColorBrewer's
/// "Dark2" and "Set1", mixed).
constexpr QRgb kPalette[] = {0x1B9E77, 0xD95F02, 0x7570B3, 0xE7298A, 0x66A61E,
                             0xE6AB02, 0xA6761D, 0x377EB8, 0xE41A1C, 0x984EA3};
/// Fill opacity of a field: the imagery under it still shows.
constexpr int kFillAlpha = 150;
/// Labels, counts and the legend (px): small enough for a field of
/// kLabelAbovePx to hold its name.
constexpr int kTextPx = 11;
/// Fields wider than this on screen (px) are drawn antialiased.
constexpr double kSmoothAbovePx = 24;
/// Legend squares and padding (px).
constexpr int kLegendSwatchPx = 12;
constexpr int kLegendPadPx = 6;

double WorldPx(double zoom) {
    return kTileSize * std::exp2(zoom);
}

bool Inside(const std::vector<WorldPoint>& ring, WorldPoint w) {
    // Even-odd crossings: the way QPainter fills it.
    bool in = false;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const WorldPoint& a = ring[i];
        const WorldPoint& b = ring[j];
        if ((a.y > w.y) != (b.y > w.y) && w.x < (b.x - a.x) * (w.y - a.y) / (b.y - a.y) + a.x) in = !in;
    }
    return in;
}

}  // namespace

QColor CategoryColour(int i) {
    const int n = static_cast<int>(std::size(kPalette));
    return QColor::fromRgb(kPalette[((i % n) + n) % n]);
}

void COverviewMap::SetFields(std::vector<OverviewField> fields) {
    fields_ = std::move(fields);
    bounds_.clear();
    bounds_.reserve(fields_.size());
    for (const OverviewField& f : fields_) {
        if (f.ring.empty()) {
            bounds_.emplace_back();
            continue;
        }
        double x0 = f.ring[0].x, x1 = x0, y0 = f.ring[0].y, y1 = y0;
        for (const WorldPoint& w : f.ring) {
            x0 = std::min(x0, w.x);
            x1 = std::max(x1, w.x);
            y0 = std::min(y0, w.y);
            y1 = std::max(y1, w.y);
        }
        bounds_.emplace_back(QPointF(x0, y0), QPointF(x1, y1));
    }
    shown_.assign(fields_.size(), true);
    selected_.assign(fields_.size(), false);
}

void COverviewMap::SetShown(const std::vector<bool>& shown) {
    shown_.assign(fields_.size(), true);
    for (std::size_t i = 0; i < shown.size() && i < shown_.size(); ++i) shown_[i] = shown[i];
}

void COverviewMap::SetSelected(const std::vector<int>& fields) {
    selected_.assign(fields_.size(), false);
    for (int i : fields)
        if (i >= 0 && static_cast<std::size_t>(i) < selected_.size()) selected_[static_cast<std::size_t>(i)] = true;
}

bool COverviewMap::Selected(int field) const {
    return field >= 0 && static_cast<std::size_t>(field) < selected_.size() && selected_[static_cast<std::size_t>(field)];
}

MapView COverviewMap::Fit(QSize size, double marginPx) const {
    QRectF all;
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (shown_[i] && !fields_[i].ring.empty()) all = all.isNull() ? bounds_[i] : all.united(bounds_[i]);
    MapView v;
    if (all.isNull() || size.isEmpty()) return v;
    v.cx = all.center().x();
    v.cy = all.center().y();
    const double w = std::max(1.0, size.width() - 2 * marginPx);
    const double h = std::max(1.0, size.height() - 2 * marginPx);
    const double zx = all.width() > 0 ? std::log2(w / (all.width() * kTileSize)) : kMaxMapZoom;
    const double zy = all.height() > 0 ? std::log2(h / (all.height() * kTileSize)) : kMaxMapZoom;
    v.zoom = std::clamp(std::min({zx, zy, static_cast<double>(kMaxTileZoom)}), 0.0, kMaxMapZoom);
    return v;
}

void COverviewMap::Draw(QPainter& p, QSize size, const MapView& v, bool legend) const {
    p.save();
    p.setClipRect(QRect(QPoint(0, 0), size));
    const double wpx = WorldPx(v.zoom);
    const double ox = size.width() / 2.0 - v.cx * wpx;
    const double oy = size.height() / 2.0 - v.cy * wpx;
    const QRectF screen(-kGroupCellPx, -kGroupCellPx, size.width() + 2.0 * kGroupCellPx,
                        size.height() + 2.0 * kGroupCellPx);
    auto toScreen = [&](const QRectF& b) {
        return QRectF(ox + b.left() * wpx, oy + b.top() * wpx, b.width() * wpx, b.height() * wpx);
    };
    struct Group {
        int count = 0;
        std::unordered_map<int, int> byCategory;
        QPointF sum;
    };
    std::unordered_map<long long, Group> groups;
    std::vector<std::size_t> drawn, outlined, labelled;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (!shown_[i] || fields_[i].ring.empty()) continue;
        const QRectF s = toScreen(bounds_[i]);
        if (!s.intersects(screen)) continue;
        if (selected_[i]) outlined.push_back(i);
        if (std::max(s.width(), s.height()) < kGroupBelowPx) {
            const QPointF c = s.center();
            const long long key = (static_cast<long long>(std::floor(c.x() / kGroupCellPx)) << 32) ^
                                  static_cast<long long>(std::floor(c.y() / kGroupCellPx) + (1LL << 31));
            Group& g = groups[key];
            ++g.count;
            ++g.byCategory[fields_[i].category];
            g.sum += c;
            continue;
        }
        drawn.push_back(i);
        if (s.width() > kLabelAbovePx) labelled.push_back(i);
    }
    QPolygonF poly;
    for (std::size_t i : drawn) {
        // Small fields look the same without antialiasing, at a fraction
        // of the cost; thousands of them are on screen at a county's zoom.
        const QRectF s = toScreen(bounds_[i]);
        p.setRenderHint(QPainter::Antialiasing, std::max(s.width(), s.height()) > kSmoothAbovePx);
        poly.clear();
        for (const WorldPoint& w : fields_[i].ring) poly << QPointF(ox + w.x * wpx, oy + w.y * wpx);
        QColor fill = CategoryColour(fields_[i].category);
        p.setPen(QPen(fill.darker(140), 1));
        fill.setAlpha(kFillAlpha);
        p.setBrush(fill);
        p.drawPolygon(poly);
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    // Groups: a disc at the mean of its fields, in its commonest category's
    // colour, sized by how many it holds.
    QFont small = p.font();
    small.setPixelSize(kTextPx);
    p.setFont(small);
    for (const auto& [key, g] : groups) {
        int best = 0, bestCount = -1;
        for (const auto& [cat, n] : g.byCategory)
            if (n > bestCount || (n == bestCount && cat < best)) {
                best = cat;
                bestCount = n;
            }
        const QPointF c = g.sum / g.count;
        const double r = g.count == 1 ? 4.0 : std::min(22.0, 7.0 + 3.0 * std::log2(g.count));
        p.setPen(QPen(Qt::white, 1.5));
        p.setBrush(CategoryColour(best));
        p.drawEllipse(c, r, r);
        if (g.count > 1) {
            p.setPen(Qt::white);
            p.drawText(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, QString::number(g.count));
        }
    }
    // The selection over everything, never hidden in a group.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kSelectedOutline, kSelectedOutlinePx, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (std::size_t i : outlined) {
        const QRectF s = toScreen(bounds_[i]);
        if (std::max(s.width(), s.height()) < kGroupBelowPx) {
            p.drawEllipse(s.center(), kGroupBelowPx, kGroupBelowPx);
            continue;
        }
        poly.clear();
        for (const WorldPoint& w : fields_[i].ring) poly << QPointF(ox + w.x * wpx, oy + w.y * wpx);
        p.drawPolygon(poly);
    }
    // Name and mu in the middle of fields large enough to hold them.
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics fm(p.font());
    for (std::size_t i : labelled) {
        const OverviewField& f = fields_[i];
        const QString text = QStringLiteral("%1\n%2 %3").arg(f.name).arg(f.mu, 0, 'f', 2).arg(muUnit_);
        const QRectF s = toScreen(bounds_[i]);
        const QRectF box(s.center().x() - kLabelAbovePx / 2, s.center().y() - fm.height(), kLabelAbovePx,
                         2.0 * fm.height());
        p.setPen(QColor(0x10, 0x10, 0x10));
        p.drawText(box, Qt::AlignCenter, text);
    }
    if (legend) DrawLegend(p);
    p.restore();
}

void COverviewMap::DrawLegend(QPainter& p) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont small = p.font();
    small.setPixelSize(kTextPx);
    p.setFont(small);
    const QFontMetrics fm(p.font());
    if (!legend_.empty()) {
        int w = 0;
        for (const QString& n : legend_) w = std::max(w, fm.horizontalAdvance(n));
        const int rowH = std::max(fm.height(), kLegendSwatchPx) + 2;
        const QRect box(kLegendPadPx, kLegendPadPx, w + kLegendSwatchPx + 3 * kLegendPadPx,
                        static_cast<int>(legend_.size()) * rowH + kLegendPadPx);
        p.fillRect(box, QColor(255, 255, 255, 220));
        for (std::size_t i = 0; i < legend_.size(); ++i) {
            const int y = box.top() + kLegendPadPx / 2 + static_cast<int>(i) * rowH;
            p.fillRect(QRect(box.left() + kLegendPadPx, y + (rowH - kLegendSwatchPx) / 2, kLegendSwatchPx,
                             kLegendSwatchPx),
                       CategoryColour(static_cast<int>(i)));
            p.setPen(Qt::black);
            p.drawText(QRect(box.left() + 2 * kLegendPadPx + kLegendSwatchPx, y, w + kLegendPadPx, rowH),
                       Qt::AlignVCenter | Qt::AlignLeft, legend_[i]);
        }
    }
    p.restore();
}

void COverviewLayer::Paint(QPainter& p, QSize size, const MapView& v, const COverviewMap& map) {
    const double wpx = WorldPx(v.zoom);
    double dx = (at_.cx - v.cx) * wpx;
    double dy = (at_.cy - v.cy) * wpx;
    if (picture_.isNull() || at_.zoom != v.zoom || size_ != size || std::abs(dx) > kMarginPx ||
        std::abs(dy) > kMarginPx) {
        const QSize room = size + QSize(2 * kMarginPx, 2 * kMarginPx);
        picture_ = QImage(room, QImage::Format_ARGB32_Premultiplied);
        picture_.fill(Qt::transparent);
        at_ = v;
        size_ = size;
        QPainter lp(&picture_);
        map.Draw(lp, room, v, false);
        dx = dy = 0;
    }
    p.drawImage(QPointF(std::round(dx) - kMarginPx, std::round(dy) - kMarginPx), picture_);
    map.DrawLegend(p);  // fixed to the view, not to the map
}

int COverviewMap::HitTest(QPointF at, QSize size, const MapView& v) const {
    const WorldPoint w = ScreenToWorld(at, v, size);
    const double wpx = WorldPx(v.zoom);
    int best = -1;
    double bestArea = 0;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (!shown_[i] || fields_[i].ring.size() < 3) continue;
        const QRectF& b = bounds_[i];
        if (std::max(b.width(), b.height()) * wpx < kGroupBelowPx) continue;  // in a group
        if (w.x < b.left() || w.x > b.right() || w.y < b.top() || w.y > b.bottom()) continue;
        if (!Inside(fields_[i].ring, w)) continue;
        const double area = b.width() * b.height();
        if (best < 0 || area < bestArea) {
            best = static_cast<int>(i);
            bestArea = area;
        }
    }
    return best;
}

}  // namespace dorvane::map
