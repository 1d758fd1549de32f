#include "report_pdf/overview_picture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetricsF>
#include <QTimer>
#include <cmath>

#include "map/map_tiles.h"
#include "report_pdf/field_picture.h"

namespace dorvane::report {
namespace {

/// How often the local loop looks whether all tiles are in (ms).
constexpr int kPollMs = 20;
/// Pixels of the picture per millimetre of the page: 200 dpi, so the
/// overview's labels (drawn at a fixed pixel size) stay readable in print.
constexpr double kPicturePxPerMm = 200 / 25.4;
/// The legend's swatch, as a share of its row's height.
constexpr double kSwatchOfRow = 0.6;

}  // namespace

QImage OverviewPicture(const map::COverviewMap& m, QSize size, const TileSettings& tiles, int waitMs,
                       bool* gaveUp) {
    const MapView view = m.Fit(size);
    map::CMapTiles fetcher(tiles);
    if (gaveUp) *gaveUp = false;
    if (!fetcher.Fetchers().empty() && m.Size() > 0) {
        fetcher.Request(CoveringTiles(view, size));
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (fetcher.Idle() || clock.elapsed() >= waitMs) loop.quit();
        });
        poll.start(kPollMs);
        loop.exec();
        if (gaveUp) *gaveUp = !fetcher.Idle();
    }
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    ITileSource* source = fetcher.Empty() || m.Size() == 0 ? nullptr : &fetcher;
    DrawMapBackground(p, size, view, source);
    m.Draw(p, size, view, false);
    DrawMapOverlay(p, size, view, source);
    p.end();
    return img;
}

void DrawOverview(QPainter& p, const QRectF& mapRect, const QRectF& legendRect, const map::COverviewMap& m,
                  const std::vector<QString>& legend, TileSettings& tiles) {
    // The device's pixels per millimetre decide the picture's size in pixels.
    const double devicePxPerMm = p.device()->logicalDpiX() / 25.4;
    const QSize px(std::max(1, static_cast<int>(std::lround(mapRect.width() / devicePxPerMm * kPicturePxPerMm))),
                   std::max(1, static_cast<int>(std::lround(mapRect.height() / devicePxPerMm * kPicturePxPerMm))));
    bool gaveUp = false;
    const QImage img = OverviewPicture(m, px, tiles, kPictureTileWaitMs, &gaveUp);
    if (gaveUp) tiles.offline = true;
    p.drawImage(mapRect, img);
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(mapRect);
    const QFontMetricsF fm(p.font(), p.device());
    const double swatch = legendRect.height() * kSwatchOfRow;
    double x = legendRect.left();
    for (std::size_t i = 0; i < legend.size(); ++i) {
        const double w = fm.horizontalAdvance(legend[i]);
        if (x + swatch * 2 + w > legendRect.right()) break;  // no room: the rest left out, never overdrawn
        p.fillRect(QRectF(x, legendRect.center().y() - swatch / 2, swatch, swatch),
                   map::CategoryColour(static_cast<int>(i)));
        x += swatch * 1.5;
        p.setPen(Qt::black);
        p.drawText(QRectF(x, legendRect.top(), w + 1, legendRect.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   legend[i]);
        x += w + swatch * 2;
    }
}

}  // namespace dorvane::report
