#include "report_pdf/field_picture.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace dorvane::report {

namespace {
/// The KML's line colour ff00aaff (aabbggrr) and polygon fill 7300ff62.
const QColor kLine{0xFF, 0xAA, 0x00};
const QColor kFill{0x62, 0xFF, 0x00, 0x73};
const QColor kBackground{0xEC, 0xEC, 0xE4};
constexpr double kMarginFraction = 0.08;
}  // namespace

QImage FieldPicture(const geo::FieldFile& f, QSize size) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(kBackground);
    if (f.points.empty()) return img;
    // Equirectangular at the field's latitude: true shape for a field's size.
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    const double k = std::cos(f.points.front().lat * std::numbers::pi / 180);
    for (const auto& p : f.points) {
        minX = std::min(minX, p.lon * k);
        maxX = std::max(maxX, p.lon * k);
        minY = std::min(minY, p.lat);
        maxY = std::max(maxY, p.lat);
    }
    const double w = std::max(maxX - minX, 1e-9), h = std::max(maxY - minY, 1e-9);
    const double usableW = size.width() * (1 - 2 * kMarginFraction);
    const double usableH = size.height() * (1 - 2 * kMarginFraction);
    const double scale = std::min(usableW / w, usableH / h);
    const double offX = (size.width() - w * scale) / 2, offY = (size.height() - h * scale) / 2;
    QPainterPath path;
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        const QPointF q(offX + (f.points[i].lon * k - minX) * scale,
                        offY + (maxY - f.points[i].lat) * scale);
        if (i == 0)
            path.moveTo(q);
        else
            path.lineTo(q);
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (f.kind == geo::FieldKind::kArea && f.handheld.method != 2) {
        path.closeSubpath();
        p.fillPath(path, kFill);
    }
    p.setPen(QPen(kLine, std::max(2.0, size.width() / 300.0)));
    p.drawPath(path);
    return img;
}

}  // namespace dorvane::report
