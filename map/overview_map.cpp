#include "map/overview_map.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <limits>
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
/// A cancelled picture stops within this many fields (well under a
/// millisecond of drawing).
constexpr std::size_t kCancelCheckEvery = 256;

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

// Distance from w to the open path, in world units.
double DistanceToPath(const std::vector<WorldPoint>& path, WorldPoint w) {
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < path.size(); ++i) {
        const WorldPoint& a = path[i];
        const WorldPoint& b = i + 1 < path.size() ? path[i + 1] : a;
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? ((w.x - a.x) * dx + (w.y - a.y) * dy) / len2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(w.x - (a.x + t * dx), w.y - (a.y + t * dy)));
    }
    return best;
}

}  // namespace

QColor CategoryColour(int i) {
    const int n = static_cast<int>(std::size(kPalette));
    return QColor::fromRgb(kPalette[((i % n) + n) % n]);
}

void COverviewMap::SetFields(std::vector<OverviewField> fields) {
    auto bounds = std::make_shared<std::vector<QRectF>>();
    bounds->reserve(fields.size());
    for (const OverviewField& f : fields) {
        if (f.ring.empty()) {
            bounds->emplace_back();
            continue;
        }
        double x0 = f.ring[0].x, x1 = x0, y0 = f.ring[0].y, y1 = y0;
        for (const WorldPoint& w : f.ring) {
            x0 = std::min(x0, w.x);
            x1 = std::max(x1, w.x);
            y0 = std::min(y0, w.y);
            y1 = std::max(y1, w.y);
        }
        bounds->emplace_back(QPointF(x0, y0), QPointF(x1, y1));
    }
    fields_ = std::make_shared<const std::vector<OverviewField>>(std::move(fields));
    boundsOf_ = std::move(bounds);
    shown_.assign(fields_->size(), true);
    selected_.assign(fields_->size(), false);
}

void COverviewMap::SetShown(const std::vector<bool>& shown) {
    shown_.assign(fields_->size(), true);
    for (std::size_t i = 0; i < shown.size() && i < shown_.size(); ++i) shown_[i] = shown[i];
}

void COverviewMap::SetSelected(const std::vector<int>& fields) {
    selected_.assign(fields_->size(), false);
    for (int i : fields)
        if (i >= 0 && static_cast<std::size_t>(i) < selected_.size()) selected_[static_cast<std::size_t>(i)] = true;
}

bool COverviewMap::Selected(int field) const {
    return field >= 0 && static_cast<std::size_t>(field) < selected_.size() && selected_[static_cast<std::size_t>(field)];
}

MapView COverviewMap::Fit(QSize size, double marginPx) const {
    QRectF all;
    for (std::size_t i = 0; i < fields_->size(); ++i)
        if (shown_[i] && !(*fields_)[i].ring.empty()) all = all.isNull() ? (*boundsOf_)[i] : all.united((*boundsOf_)[i]);
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

void COverviewMap::Draw(QPainter& p, QSize size, const MapView& v, bool legend,
                        const std::atomic<bool>* cancel) const {
    auto cancelled = [cancel](std::size_t i) {
        return cancel && i % kCancelCheckEvery == 0 && cancel->load(std::memory_order_relaxed);
    };
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
    for (std::size_t i = 0; i < fields_->size(); ++i) {
        if (cancelled(i)) {
            p.restore();
            return;
        }
        if (!shown_[i] || (*fields_)[i].ring.empty()) continue;
        const QRectF s = toScreen((*boundsOf_)[i]);
        if (!s.intersects(screen)) continue;
        if (selected_[i]) outlined.push_back(i);
        if (std::max(s.width(), s.height()) < kGroupBelowPx) {
            const QPointF c = s.center();
            const long long key = (static_cast<long long>(std::floor(c.x() / kGroupCellPx)) << 32) ^
                                  static_cast<long long>(std::floor(c.y() / kGroupCellPx) + (1LL << 31));
            Group& g = groups[key];
            ++g.count;
            ++g.byCategory[(*fields_)[i].category];
            g.sum += c;
            continue;
        }
        drawn.push_back(i);
        if (s.width() > kLabelAbovePx) labelled.push_back(i);
    }
    // Larger first: a small field measured inside a large one (a field
    // walked again, a plot in a block) is painted over it, not under its fill.
    auto areaOf = [&](std::size_t i) { return (*boundsOf_)[i].width() * (*boundsOf_)[i].height(); };
    auto largerFirst = [&](std::size_t a, std::size_t b) { return areaOf(a) > areaOf(b); };
    std::stable_sort(drawn.begin(), drawn.end(), largerFirst);
    std::stable_sort(labelled.begin(), labelled.end(), largerFirst);
    QPolygonF poly;
    for (std::size_t k = 0; k < drawn.size(); ++k) {
        if (cancelled(k)) {
            p.restore();
            return;
        }
        const std::size_t i = drawn[k];
        // Small fields look the same without antialiasing, at a fraction
        // of the cost; thousands of them are on screen at a county's zoom.
        const QRectF s = toScreen((*boundsOf_)[i]);
        p.setRenderHint(QPainter::Antialiasing, std::max(s.width(), s.height()) > kSmoothAbovePx);
        poly.clear();
        for (const WorldPoint& w : (*fields_)[i].ring) poly << QPointF(ox + w.x * wpx, oy + w.y * wpx);
        QColor fill = CategoryColour((*fields_)[i].category);
        if ((*fields_)[i].line) {
            p.setPen(QPen(fill, kLinePx, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(poly);
            continue;
        }
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
        const QRectF s = toScreen((*boundsOf_)[i]);
        if (std::max(s.width(), s.height()) < kGroupBelowPx) {
            p.drawEllipse(s.center(), kGroupBelowPx, kGroupBelowPx);
            continue;
        }
        poly.clear();
        for (const WorldPoint& w : (*fields_)[i].ring) poly << QPointF(ox + w.x * wpx, oy + w.y * wpx);
        if ((*fields_)[i].line)
            p.drawPolyline(poly);
        else
            p.drawPolygon(poly);
    }
    // Name and mu in the middle of fields large enough to hold them.
    p.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics fm(p.font());
    // A label that would cover one already written is left out (fields that
    // overlap have their middles close): two names printed over each other
    // are neither readable. The larger field keeps its label.
    std::vector<QRectF> written;
    for (std::size_t i : labelled) {
        const OverviewField& f = (*fields_)[i];
        const QString text = QStringLiteral("%1\n%2 %3").arg(f.name).arg(f.mu, 0, 'f', 2).arg(muUnit_);
        const QRectF s = toScreen((*boundsOf_)[i]);
        const QRectF box(s.center().x() - kLabelAbovePx / 2, s.center().y() - fm.height(), kLabelAbovePx,
                         2.0 * fm.height());
        if (std::any_of(written.begin(), written.end(), [&](const QRectF& w) { return w.intersects(box); })) continue;
        written.push_back(box);
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

COverviewLayer::COverviewLayer() {
    pool_.setMaxThreadCount(1);
}

COverviewLayer::~COverviewLayer() {
    if (running_) running_->cancel = true;
    pool_.waitForDone();
}

void COverviewLayer::Invalidate() {
    ++generation_;
    snapshot_.reset();
}

bool COverviewLayer::Current(QSize size, const MapView& v) const {
    if (picture_.isNull() || pictureGeneration_ != generation_ || at_.zoom != v.zoom || size_ != size) return false;
    const double wpx = WorldPx(v.zoom);
    return std::abs((at_.cx - v.cx) * wpx) <= kMarginPx && std::abs((at_.cy - v.cy) * wpx) <= kMarginPx;
}

void COverviewLayer::Paint(QPainter& p, QSize size, const MapView& v, const COverviewMap& map) {
    const double wpx = WorldPx(v.zoom);
    auto near = [&](const MapView& at, QSize atSize, std::uint64_t generation) {
        return generation == generation_ && at.zoom == v.zoom && atSize == size &&
               std::abs((at.cx - v.cx) * wpx) <= kRedrawAfterPx && std::abs((at.cy - v.cy) * wpx) <= kRedrawAfterPx;
    };
    if (!(!picture_.isNull() && near(at_, size_, pictureGeneration_))) {
        if (!running_) {
            Request(size, v, map);
        } else if (running_->generation != generation_ || running_->at.zoom != v.zoom || running_->size != size) {
            // Of no more use: drawn again for what is shown now.
            running_->cancel = true;
            Request(size, v, map);
        }
        // Otherwise the picture on its way is of this zoom: placed when it
        // lands, and the next asked for then if the view has moved on.
    }
    if (!picture_.isNull()) {
        // The picture's centre is at_; scaled by the zoom since drawn.
        const double scale = std::exp2(v.zoom - at_.zoom);
        const double left = size.width() / 2.0 + (at_.cx - v.cx) * wpx - (kMarginPx + size_.width() / 2.0) * scale;
        const double top = size.height() / 2.0 + (at_.cy - v.cy) * wpx - (kMarginPx + size_.height() / 2.0) * scale;
        if (scale == 1.0) {
            p.drawImage(QPointF(std::round(left), std::round(top)), picture_);
        } else {
            // Only the part on screen is scaled (nearest pixel: a stand-in
            // for the few frames until the picture of this zoom lands).
            const QRectF target(left, top, picture_.width() * scale, picture_.height() * scale);
            const QRectF shown = target.intersected(QRectF(QPointF(0, 0), QSizeF(size)));
            if (!shown.isEmpty()) {
                const QRectF source((shown.left() - left) / scale, (shown.top() - top) / scale,
                                    shown.width() / scale, shown.height() / scale);
                p.drawImage(shown, picture_, source);
            }
        }
    }
    map.DrawLegend(p);  // fixed to the view, not to the map
}

void COverviewLayer::Request(QSize size, const MapView& v, const COverviewMap& map) {
    if (!snapshot_) snapshot_ = std::make_shared<const COverviewMap>(map);
    auto job = std::make_shared<Job>();
    job->generation = generation_;
    job->at = v;
    job->size = size;
    running_ = job;
    pool_.start([this, job, snapshot = snapshot_, before = beforeDraw_] {
        // On the worker: only the job, the snapshot and the receiver (which
        // outlives the pool) are touched here.
        if (before) before();
        if (job->cancel) return;
        const QSize room = job->size + QSize(2 * kMarginPx, 2 * kMarginPx);
        QImage picture(room, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        {
            QPainter lp(&picture);
            snapshot->Draw(lp, room, job->at, false, &job->cancel);
        }
        if (job->cancel) return;
        QMetaObject::invokeMethod(
            &receiver_, [this, job, picture = std::move(picture)]() mutable { Arrived(job, std::move(picture)); },
            Qt::QueuedConnection);
    });
}

void COverviewLayer::Arrived(const std::shared_ptr<Job>& job, QImage picture) {
    if (job == running_) running_.reset();
    if (job->cancel || job->generation != generation_) return;
    picture_ = std::move(picture);
    at_ = job->at;
    size_ = job->size;
    pictureGeneration_ = job->generation;
    if (onPicture_) onPicture_();
}

int COverviewMap::HitTest(QPointF at, QSize size, const MapView& v) const {
    const WorldPoint w = ScreenToWorld(at, v, size);
    const double wpx = WorldPx(v.zoom);
    int best = -1;
    double bestArea = 0;
    for (std::size_t i = 0; i < fields_->size(); ++i) {
        const OverviewField& f = (*fields_)[i];
        if (!shown_[i] || f.ring.size() < (f.line ? 2u : 3u)) continue;
        const QRectF& b = (*boundsOf_)[i];
        if (std::max(b.width(), b.height()) * wpx < kGroupBelowPx) continue;  // in a group
        // A line is hit near its stroke; a field anywhere inside.
        const double reach = f.line ? kLineHitPx / wpx : 0;
        if (w.x < b.left() - reach || w.x > b.right() + reach || w.y < b.top() - reach || w.y > b.bottom() + reach)
            continue;
        if (f.line ? DistanceToPath(f.ring, w) > reach : !Inside(f.ring, w)) continue;
        const double area = b.width() * b.height();
        if (best < 0 || area < bestArea) {
            best = static_cast<int>(i);
            bestArea = area;
        }
    }
    return best;
}

}  // namespace dorvane::map
