#include "ui/field_snapshot.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "map/map_tiles.h"

namespace dorvane {
namespace {
/// How often the local loop looks whether all tiles are in (ms).
constexpr int kPollMs = 20;
}  // namespace

QImage RenderFieldSnapshot(const geo::FieldFile& f, QSize size, const TileSettings& tiles,
                           int waitMs, bool* gaveUp) {
    const CFieldShape shape(f);
    const MapView view = FitView(shape, size);
    map::CMapTiles fetcher(tiles);
    if (!fetcher.Fetchers().empty()) {
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
    } else if (gaveUp) {
        *gaveUp = false;
    }
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    // Only what is at hand is drawn: Tile() never waits.
    DrawFieldMap(p, size, shape, view, fetcher.Empty() ? nullptr : &fetcher);
    p.end();
    return img;
}

}  // namespace dorvane
