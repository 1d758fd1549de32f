// Harvesting work (the area is working width x length) drawn as the machine
// drove it: an open path stroked with the working width at the map's scale,
// never a closed, filled ring. Read pixel by pixel in the three places that
// draw a field: `dorvane --snapshot`, the report's picture and the field view.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <fstream>

#include "convert/area_file.h"
#include "geo/field_file.h"
#include "gui_rig.h"
#include "report_pdf/field_picture.h"
#include "ui/field_map.h"
#include "ui/field_view.h"

namespace dorvane::test {
namespace {

// Powers of two near Beijing: a float holds them exactly.
constexpr double kLon0 = 116.25;
constexpr double kLat0 = 39.75;
// Metres per degree at kLat0 (near enough: the probes are placed through the
// coordinates the file holds, not through these).
constexpr double kMetresPerDegLat = 111000.0;
const double kMetresPerDegLon = 111320.0 * std::cos(kLat0 * 3.141592653589793 / 180);

const QSize kPicture(640, 400);

/// A vertex of the driven path, metres east and north of (kLon0, kLat0).
struct Metres {
    double east;
    double north;
};

/// A pixel to look at: `t` of the way from vertex `a` to vertex `b` (the
/// file's own coordinates), moved by `halves` half swath widths and by `px`
/// pixels (x right, y down).
struct Probe {
    const char* what;
    int a;
    int b;
    double t;
    QPointF halves;
    QPointF px;
    bool painted;
};

struct SwathCase {
    const char* name;
    std::vector<Metres> path;
    double width;  ///< metres; 0: no work record
    std::vector<Probe> probes;
};

// A path up, across and back down: the old drawing closed it into a filled
// 80 m x 120 m rectangle.
const SwathCase kThereAndBack{
    "there and back, 8 m",
    {{0, 0}, {0, 120}, {80, 120}, {80, 0}},
    8,
    {
        {"middle of the first leg", 0, 1, 0.5, {0, 0}, {0, 0}, true},
        {"middle of the last leg", 2, 3, 0.5, {0, 0}, {0, 0}, true},
        {"inside the swath, west side", 0, 1, 0.5, {-0.6, 0}, {0, 0}, true},
        {"inside the swath, east side", 0, 1, 0.4, {0.6, 0}, {0, 0}, true},
        {"just beyond the swath's width", 0, 1, 0.5, {-1, 0}, {-3, 0}, false},
        {"inside the old rectangle", 0, 2, 0.5, {0, 0}, {0, 0}, false},
        {"on the old closing side", 3, 0, 0.5, {0, 0}, {0, 0}, false},
    }};

// A zig-zag: the old drawing added the closing diagonal from the last point
// back to the first and filled the bow tie it made.
const SwathCase kZigZag{
    "zig-zag, 2.5 m",
    {{0, 80}, {120, 80}, {0, 0}, {120, 0}},
    2.5,
    {
        {"top leg", 0, 1, 0.5, {0, 0}, {0, 0}, true},
        {"crossing diagonal", 1, 2, 0.3, {0, 0}, {0, 0}, true},
        {"bottom leg", 2, 3, 0.6, {0, 0}, {0, 0}, true},
        {"on the old closing diagonal", 3, 0, 0.25, {0, 0}, {0, 0}, false},
        {"on the old closing diagonal, further", 3, 0, 0.7, {0, 0}, {0, 0}, false},
        {"inside the old bow tie", 0, 1, 0.5, {0, 0}, {0, 30}, false},
    }};

// A 392 m straight strip of 2.5 m: a few pixels wide at this scale, and
// never thinner than the smallest visible swath; without a work record the
// smallest swath is drawn.
const SwathCase kStrip{"392 m strip, 2.5 m",
                       {{0, 0}, {98, 0}, {196, 0}, {294, 0}, {392, 0}},
                       2.5,
                       {
                           {"on the path", 1, 2, 0.5, {0, 0}, {0, 0}, true},
                           {"a pixel off the path", 2, 3, 0.5, {0, 0}, {0, 1}, true},
                           {"well beside the path", 2, 3, 0.5, {0, 0}, {0, 8}, false},
                       }};
const SwathCase kStripNoWidth{"392 m strip, no width", kStrip.path, 0, kStrip.probes};

const SwathCase* const kCases[] = {&kThereAndBack, &kZigZag, &kStrip, &kStripNoWidth};

AreaFile SwathArea(const SwathCase& c) {
    AreaFile a;
    a.header.SetFileName("H1");
    a.header.collectionTime = 1714521600;  // 2024-05-01 00:00:00 UTC
    a.header.method = static_cast<std::int16_t>(AreaMethod::kHarvesting);
    if (c.width > 0) a.work = AreaWorkRecord{static_cast<float>(c.width), 0, 0, 0};
    for (const Metres& m : c.path) {
        AreaPoint p;
        p.longitude = static_cast<float>(kLon0 + m.east / kMetresPerDegLon);
        p.latitude = static_cast<float>(kLat0 + m.north / kMetresPerDegLat);
        a.points.push_back(p);
    }
    return a;
}

/// Neither the neutral background nor a grid line: something is drawn there.
bool Painted(const QImage& img, QPoint at) {
    const QColor p = img.pixelColor(at);
    auto near = [&p](const QColor& c) {
        constexpr int kTolerance = 6;  // antialiased edges of the swath itself are paint
        return std::abs(p.red() - c.red()) <= kTolerance &&
               std::abs(p.green() - c.green()) <= kTolerance &&
               std::abs(p.blue() - c.blue()) <= kTolerance;
    };
    return !near(kBackgroundColour) && !near(kGridColour);
}

/// Checks every probe of `c` in `img`, drawn with `view`.
void CheckProbes(const SwathCase& c, const geo::FieldFile& f, const QImage& img,
                 const MapView& view) {
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    const double widthPx = std::max(kMinSwathPx, c.width / MetresPerPixel(view));
    for (const Probe& probe : c.probes) {
        const auto& pa = f.points.at(static_cast<std::size_t>(probe.a));
        const auto& pb = f.points.at(static_cast<std::size_t>(probe.b));
        const QPointF sa = WorldToScreen(ToWorld(pa.lon, pa.lat), view, img.size());
        const QPointF sb = WorldToScreen(ToWorld(pb.lon, pb.lat), view, img.size());
        const QPointF at = sa + (sb - sa) * probe.t + probe.halves * (widthPx / 2) + probe.px;
        const QPoint pixel = at.toPoint();
        QVERIFY2(img.rect().contains(pixel), probe.what);
        QVERIFY2(Painted(rgb, pixel) == probe.painted,
                 qPrintable(QStringLiteral("%1: %2 at %3,%4 (%5)")
                                .arg(QLatin1String(c.name), QLatin1String(probe.what))
                                .arg(pixel.x())
                                .arg(pixel.y())
                                .arg(rgb.pixelColor(pixel).name())));
    }
}

}  // namespace

class TestFieldSwath : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    void swathIsTheDrivenPath_data() {
        QTest::addColumn<QString>("surface");
        QTest::addColumn<int>("shape");
        for (const char* surface : {"snapshot", "report picture", "field view"})
            for (int i = 0; i < static_cast<int>(std::size(kCases)); ++i)
                QTest::addRow("%s: %s", surface, kCases[i]->name)
                    << QString::fromLatin1(surface) << i;
    }
    void swathIsTheDrivenPath() {
        QFETCH(QString, surface);
        QFETCH(int, shape);
        const SwathCase& c = *kCases[shape];
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("H1.txt"));
        std::ofstream(file.toStdString(), std::ios::binary) << WriteArea(SwathArea(c));
        geo::FieldFile f;
        QVERIFY(geo::ReadFieldFile(file.toStdString(), f).ok());
        QCOMPARE(f.points.size(), c.path.size());

        QImage img;
        MapView view;
        if (surface == QStringLiteral("snapshot")) {
            const QString png = dir.filePath(QStringLiteral("shot.png"));
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("DISPLAY"));
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(DORVANE_BINARY_DIR "/bin/dorvane"),
                    {QStringLiteral("--snapshot"), file, QStringLiteral("--out"), png,
                     QStringLiteral("--size"), QStringLiteral("640x400"), QStringLiteral("--tiles"),
                     QStringLiteral("none")});
            QVERIFY(p.waitForFinished(kWaitMs));
            QCOMPARE(p.exitCode(), 0);
            img = QImage(png);
            view = FitView(CFieldShape(f), kPicture);
        } else if (surface == QStringLiteral("report picture")) {
            img = report::FieldPicture(f, kPicture, TileSettingsFor(QStringLiteral("none")));
            view = FitView(CFieldShape(f), kPicture);
        } else {
            CFieldView fieldView;
            fieldView.resize(900, 500);
            fieldView.show();
            QVERIFY(QTest::qWaitForWindowExposed(&fieldView));
            fieldView.ShowFile(file);
            QTRY_VERIFY_WITH_TIMEOUT(!fieldView.Busy(), kWaitMs);
            CFieldMapWidget* map = fieldView.Map();
            QTest::qWait(CFieldMapWidget::kZoomSettleMs);
            img = map->grab().toImage();
            view = map->View();
            QCOMPARE(img.size(), map->size());
        }
        QVERIFY(!img.isNull());
        if (qEnvironmentVariableIsSet("DORVANE_SWATH_PICTURES"))
            img.save(qEnvironmentVariable("DORVANE_SWATH_PICTURES") +
                     QStringLiteral("/%1-%2.png").arg(surface).arg(shape));
        CheckProbes(c, f, img, view);
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestFieldSwath)
#include "test_field_swath.moc"
