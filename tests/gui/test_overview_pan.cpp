// The overview map panned by a mouse drag: the fields are drawn on the
// layer's worker, so while the worker is held back the GUI thread keeps
// running (timers tick, a repaint returns at once and shows the last picture
// moved); once the worker's picture arrives, a field that lay outside the
// old picture shows at its new place. Pixels counted.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSemaphore>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <cmath>

#include "gui_rig.h"
#include "ui/overview_widget.h"

namespace dorvane::test {
namespace {

constexpr QSize kMapSize(800, 500);
/// Side of each test field on screen (px): far above the grouping size.
constexpr double kFieldPx = 80;
/// How long the held worker waits at most before drawing anyway (ms), so a
/// failing test cannot hang.
constexpr int kHoldMs = 10000;
/// A repaint while the worker is held must return within this (ms): it only
/// places a picture (generous for the sanitizer builds).
constexpr qint64 kRepaintMs = 250;

/// A square field `kFieldPx` wide centred on `screen` under view `v`.
map::OverviewField Square(QPointF screen, const MapView& v, int category, const QString& name) {
    map::OverviewField f;
    const double h = kFieldPx / 2;
    for (QPointF d : {QPointF(-h, -h), QPointF(h, -h), QPointF(h, h), QPointF(-h, h)})
        f.ring.push_back(ScreenToWorld(screen + d, v, kMapSize));
    f.name = name;
    f.mu = 1;
    f.category = category;
    return f;
}

/// Pixels in the 41 x 41 box around `at` nearer the category's colour than
/// the plain background sampled at `plain`.
int FieldPixels(const QImage& img, QPoint at, int category, QPoint plain) {
    const QColor bg = img.pixelColor(plain);
    const QColor want = map::CategoryColour(category);
    auto distance = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    };
    int n = 0;
    for (int y = at.y() - 20; y <= at.y() + 20; ++y)
        for (int x = at.x() - 20; x <= at.x() + 20; ++x)
            if (img.rect().contains(x, y) && distance(img.pixelColor(x, y), want) < distance(img.pixelColor(x, y), bg))
                ++n;
    return n;
}

void Drag(QWidget* w, QPoint from, QPoint by) {
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, from);
    constexpr int kSteps = 10;
    for (int i = 1; i <= kSteps; ++i) {
        const QPointF at = QPointF(from) + QPointF(by) * i / kSteps;
        QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    }
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, from + by);
}

}  // namespace

class TestOverviewPan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { UseScratchHome(); }

    void DraggedFieldsShowAtTheirNewPlaceOnceTheWorkerDrewThem() {
        struct Case {
            const char* name;
            QPoint by;  ///< the drag
            QPoint b;   ///< where field B shows after it
        };
        // Each drag brings B in from beyond the old picture's margin, into
        // the band that picture no longer covers.
        const Case cases[] = {{"right", {450, 0}, {100, 250}},
                              {"down", {0, 380}, {150, 60}},
                              {"up and left", {-420, -300}, {720, 250}}};
        for (const Case& c : cases) {
            // Before the map: its worker (which may still hold the hook)
            // is waited for when the map goes.
            QSemaphore gate;
            std::atomic<int> held{0};
            COverviewWidget map;
            map.resize(kMapSize);
            map.show();
            QVERIFY(QTest::qWaitForWindowExposed(&map));
            const QPoint mid(kMapSize.width() / 2, kMapSize.height() / 2);
            const MapView v{0.8, 0.4, 16};
            // A where the drag starts (it ends up where the drag ends); B
            // beyond the margin of the picture drawn for the first view.
            const QPoint aAt = mid - c.by / 2;
            const QPoint bAt = c.b - c.by;
            const int reach = map::COverviewLayer::kMarginPx + static_cast<int>(kFieldPx / 2);
            QVERIFY(bAt.x() < -reach || bAt.x() > kMapSize.width() + reach || bAt.y() < -reach ||
                    bAt.y() > kMapSize.height() + reach);
            map.SetFields({Square(aAt, v, 0, QStringLiteral("A")), Square(bAt, v, 1, QStringLiteral("B"))},
                          {QStringLiteral("a"), QStringLiteral("b")}, false);
            map.SetView(v);
            QTRY_VERIFY_WITH_TIMEOUT(map.PictureReady(), kWaitMs);
            // A plain spot the fields never cover, away from the legend and
            // the scale bar.
            const QPoint plain(kMapSize.width() - 30, 30);
            QVERIFY2(FieldPixels(map.grab().toImage(), aAt, 0, plain) > 1000, c.name);

            // The worker held back: the drag and the repaints go on.
            map.SetBeforeDraw([&] {
                ++held;
                gate.tryAcquire(1, kHoldMs);
            });
            Drag(&map, aAt, c.by);
            QVERIFY2(!map.PictureReady(), c.name);
            int ticks = 0;
            QTimer timer;
            QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
            timer.start(10);
            QElapsedTimer took;
            took.start();
            map.repaint();
            QVERIFY2(took.elapsed() < kRepaintMs, qPrintable(QString::number(took.elapsed())));
            QTRY_VERIFY_WITH_TIMEOUT(held.load() > 0, kWaitMs);
            QTest::qWait(200);
            QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
            const QImage moved = map.grab().toImage();
            // A came along in the old picture, moved with the drag; B is not
            // drawn yet.
            QVERIFY2(FieldPixels(moved, aAt + c.by, 0, plain) > 1000, c.name);
            QVERIFY2(FieldPixels(moved, c.b, 1, plain) < 50, c.name);
            QVERIFY2(!map.PictureReady(), c.name);

            // The worker let go: B appears where the drag put it, A stays.
            gate.release(100);
            QTRY_VERIFY_WITH_TIMEOUT(map.PictureReady(), kWaitMs);
            const QImage drawn = map.grab().toImage();
            QVERIFY2(FieldPixels(drawn, c.b, 1, plain) > 1000, c.name);
            QVERIFY2(FieldPixels(drawn, aAt + c.by, 0, plain) > 1000, c.name);
            QVERIFY2(FieldPixels(drawn, aAt, 0, plain) < 50, c.name);
            map.SetBeforeDraw({});
        }
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestOverviewPan)
#include "test_overview_pan.moc"
