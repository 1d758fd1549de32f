// The field view as a user drives it, against a tile server of the test's own
// on 127.0.0.1: the tiles asked for, the disk cache, the User-Agent, the grid
// when the server is gone or silent, the attribution; wheel, drag, keys; the
// menu toggle and a file chosen in the computer pane; `dorvane --snapshot`.
#include <QBuffer>
#include <QDir>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>
#include <set>

#include "convert/download.h"
#include "gui_rig.h"
#include "ui/field_snapshot.h"
#include "ui/field_view.h"

namespace dorvane::test {
namespace {

const QString kSamples = QStringLiteral(DORVANE_SOURCE_DIR "/sim/samples/data/");
const QColor kTileColour(0x30, 0x60, 0xC0);

// A tiny HTTP/1.1 tile server: every GET of /z/x/y.png answers a 256 x 256 PNG
// of kTileColour, cacheable for a day. Records each request's path and
// User-Agent and the most connections open at once. `silent` accepts and
// never answers.
class TileServer : public QObject {
public:
    explicit TileServer(bool silent = false) : silent_(silent) {
        QImage tile(kTileSize, kTileSize, QImage::Format_RGB32);
        tile.fill(kTileColour);
        QBuffer b(&png_);
        b.open(QIODevice::WriteOnly);
        tile.save(&b, "PNG");
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { Accept(); });
        server_.listen(QHostAddress::LocalHost, 0);
    }
    quint16 Port() const { return server_.serverPort(); }
    QString Template() const {
        return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(Port());
    }
    void Stop() { server_.close(); }
    QStringList paths;
    QStringList agents;
    /// What every answer says of its expiry.
    QByteArray cacheControl = "public, max-age=86400";
    int open = 0;
    int maxOpen = 0;

private:
    void Accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            maxOpen = std::max(maxOpen, ++open);
            QObject::connect(s, &QTcpSocket::disconnected, this, [this, s] {
                --open;
                s->deleteLater();
            });
            QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { Read(s); });
        }
    }
    void Read(QTcpSocket* s) {
        QByteArray& buf = buffers_[s];
        buf += s->readAll();
        for (qsizetype end; (end = buf.indexOf("\r\n\r\n")) >= 0;) {
            const QList<QByteArray> lines = buf.left(end).split('\n');
            buf.remove(0, end + 4);
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            paths << QString::fromLatin1(first.value(1));
            for (const QByteArray& l : lines)
                if (l.toLower().startsWith("user-agent:"))
                    agents << QString::fromLatin1(l.mid(11).trimmed());
            if (silent_) continue;
            QByteArray reply =
                "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                "Cache-Control: " + cacheControl + "\r\n"
                "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
                "Date: " +
                QDateTime::currentDateTimeUtc()
                    .toString(QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                    .toLatin1() +
                "\r\nContent-Length: " + QByteArray::number(png_.size()) + "\r\n\r\n";
            s->write(reply + png_);
        }
    }
    bool silent_;
    QTcpServer server_;
    QByteArray png_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

std::set<QString> Paths(const std::vector<TileKey>& keys) {
    std::set<QString> out;
    for (const TileKey& k : keys)
        out.insert(QStringLiteral("/%1/%2/%3.png").arg(k.z).arg(k.x).arg(k.y));
    return out;
}

int CountColour(const QImage& img, const QColor& c, int tolerance = 2) {
    int n = 0;
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) {
            const QColor p = rgb.pixelColor(x, y);
            if (std::abs(p.red() - c.red()) <= tolerance &&
                std::abs(p.green() - c.green()) <= tolerance &&
                std::abs(p.blue() - c.blue()) <= tolerance)
                ++n;
        }
    return n;
}

// The field's fill as it shows over the neutral background.
QColor FillOverBackground() {
    const double a = kFieldFillColour.alphaF();
    auto mix = [a](int f, int b) { return static_cast<int>(std::lround(f * a + b * (1 - a))); };
    return QColor(mix(kFieldFillColour.red(), kBackgroundColour.red()),
                  mix(kFieldFillColour.green(), kBackgroundColour.green()),
                  mix(kFieldFillColour.blue(), kBackgroundColour.blue()));
}

// Shows the vertex sample in `view` at 900 x 500 and waits until it is read.
void ShowSample(CFieldView& view) {
    view.resize(900, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowFile(kSamples + QStringLiteral("A0602_vertex.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
}

}  // namespace

class TestFieldView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseScratchHome();
        qputenv("XDG_CACHE_HOME", (cache_.path()).toUtf8());
    }

    void asksForTheCoveringTilesOnceThenUsesTheCache() {
        QDir(TileCacheFolder()).removeRecursively();
        TileServer server;
        SaveTileSettings(TileSettingsFor(server.Template()));
        std::set<QString> covering;
        {
            CFieldView view;
            ShowSample(view);
            if (QTest::currentTestFailed()) return;
            CFieldMapWidget* map = view.Map();
            covering = Paths(CoveringTiles(map->View(), map->size()));
            QVERIFY(!covering.empty());
            QTRY_VERIFY_WITH_TIMEOUT(map->Tiles()->Idle() && !server.paths.isEmpty(), kWaitMs);
            const std::set<QString> asked(server.paths.begin(), server.paths.end());
            QVERIFY2(asked == covering, qPrintable(server.paths.join(QLatin1Char(' '))));
            QCOMPARE(server.paths.size(), static_cast<qsizetype>(covering.size()));  // each once
            QVERIFY2(server.maxOpen <= kMaxTileRequests,
                     qPrintable(QString::number(server.maxOpen)));
            for (const QString& a : server.agents)
                QCOMPARE(a, QStringLiteral("Dorvane/" DORVANE_VERSION));
            QCOMPARE(server.agents.size(), server.paths.size());
            // The tiles are on screen.
            QTRY_VERIFY_WITH_TIMEOUT(CountColour(map->grab().toImage(), kTileColour) > 1000,
                                     kWaitMs);
            QCOMPARE(view.Figures()->topLevelItemCount() > 5, true);
        }
        // A second window (no tiles in memory) takes them from the disk cache.
        const qsizetype before = server.paths.size();
        CFieldView again;
        ShowSample(again);
        if (QTest::currentTestFailed()) return;
        QTRY_VERIFY_WITH_TIMEOUT(CountColour(again.Map()->grab().toImage(), kTileColour) > 1000,
                                 kWaitMs);
        QCOMPARE(server.paths.size(), before);
    }

    // Tiles the server said expire after a second are asked for again by a window
    // opened later (the cache is first only while its tiles are fresh); once the
    // server is gone, the expired tiles of the cache are shown rather than the grid.
    void expiredTilesAreAskedForAgain() {
        QDir(TileCacheFolder()).removeRecursively();
        TileServer server;
        server.cacheControl = "public, max-age=1";
        SaveTileSettings(TileSettingsFor(server.Template()));
        qsizetype first = 0;
        for (int round = 0; round < 2; ++round) {
            CFieldView view;
            ShowSample(view);
            if (QTest::currentTestFailed()) return;
            QTRY_VERIFY_WITH_TIMEOUT(
                view.Map()->Tiles()->Idle() && server.paths.size() > first, kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(CountColour(view.Map()->grab().toImage(), kTileColour) > 1000,
                                     kWaitMs);
            if (round == 0) {
                first = server.paths.size();
                QTest::qWait(2100);  // past the tiles' expiry
            }
        }
        QCOMPARE(server.paths.size(), 2 * first);
        QTest::qWait(2100);
        server.Stop();
        CFieldView offline;
        ShowSample(offline);
        if (QTest::currentTestFailed()) return;
        QTRY_VERIFY_WITH_TIMEOUT(
            CountColour(offline.Map()->grab().toImage(), kTileColour) > 1000, kWaitMs);
    }

    void stoppedOrSilentServerGivesTheGridWithinThreeSeconds_data() {
        QTest::addColumn<bool>("silent");
        QTest::newRow("stopped") << false;
        QTest::newRow("silent") << true;
    }
    void stoppedOrSilentServerGivesTheGridWithinThreeSeconds() {
        QFETCH(bool, silent);
        QDir(TileCacheFolder()).removeRecursively();
        TileServer server(silent);
        if (!silent) server.Stop();
        SaveTileSettings(TileSettingsFor(server.Template()));
        CFieldView view;
        view.resize(800, 450);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QElapsedTimer clock;
        clock.start();
        view.ShowFile(kSamples + QStringLiteral("T0602_few.gpx"));
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        // The grid is there at once, and the window answers while waiting.
        const QImage first = view.Map()->grab().toImage();
        QVERIFY(CountColour(first, kBackgroundColour) > first.width() * first.height() / 2);
        QVERIFY(CountColour(first, kGridColour) > 200);
        const std::vector<TileKey> keys = CoveringTiles(view.Map()->View(), view.Map()->size());
        auto allFailed = [&] {
            for (const TileKey& k : keys)
                if (!view.Map()->Tiles()->Failed(k)) return false;
            return true;
        };
        // Two at a time, each given 3 s: the first pair has failed by then.
        auto failed = [&] {
            std::size_t n = 0;
            for (const TileKey& k : keys) n += view.Map()->Tiles()->Failed(k) ? 1 : 0;
            return n;
        };
        QTRY_VERIFY_WITH_TIMEOUT(failed() >= std::min<std::size_t>(2, keys.size()) || allFailed(),
                                 3500);
        QVERIFY(clock.elapsed() < 3600);
        QCOMPARE(CountColour(view.Map()->grab().toImage(), kTileColour), 0);
    }

    void attributionIsDrawn() {
        TileServer server;
        geo::FieldFile f;
        QVERIFY(geo::ReadFieldFile((kSamples + QStringLiteral("A0602_vertex.txt")).toStdString(), f)
                    .ok());
        const QSize size(640, 400);
        TileSettings with = TileSettingsFor(server.Template());
        with.attribution = QString::fromUtf8(kOsmAttribution);
        const QImage a = RenderFieldSnapshot(f, size, with);
        const QImage b = RenderFieldSnapshot(f, size, TileSettingsFor(QStringLiteral("none")));
        // Dark text pixels in the bottom-right corner, only with the attribution.
        auto dark = [](const QImage& img) {
            int n = 0;
            for (int y = img.height() - 20; y < img.height(); ++y)
                for (int x = img.width() - 200; x < img.width(); ++x)
                    if (qGray(img.pixel(x, y)) < 90) ++n;
            return n;
        };
        QVERIFY2(dark(a) > 40, qPrintable(QString::number(dark(a))));
        QCOMPARE(dark(b), 0);
        QVERIFY(CountColour(a, kTileColour) > 1000);
    }

    void wheelDragAndKeys() {
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
        CFieldView view;
        ShowSample(view);
        if (QTest::currentTestFailed()) return;
        CFieldMapWidget* map = view.Map();
        const MapView fitted = map->View();
        const int fillBefore = CountColour(map->grab().toImage(), FillOverBackground());
        QVERIFY(fillBefore > 5000);

        // Wheel up two notches at the centre: half a level each.
        const QPointF centre(map->width() / 2.0, map->height() / 2.0);
        for (int i = 0; i < 2; ++i) {
            QWheelEvent wheel(centre, map->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(map, &wheel);
        }
        QCOMPARE(map->View().zoom, fitted.zoom + 1.0);
        QVERIFY(CountColour(map->grab().toImage(), FillOverBackground()) > fillBefore);

        // Drag 100 px right: the map's centre moves west by 100 px.
        const MapView beforeDrag = map->View();
        const QPoint from = centre.toPoint();
        QTest::mousePress(map, Qt::LeftButton, Qt::NoModifier, from);
        for (int dx = 10; dx <= 100; dx += 10) {
            QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(dx, 0)),
                             map->mapToGlobal(QPointF(from + QPoint(dx, 0))), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(map, &move);
        }
        QTest::mouseRelease(map, Qt::LeftButton, Qt::NoModifier, from + QPoint(100, 0));
        const double px = kTileSize * std::exp2(map->View().zoom);
        QVERIFY(std::abs((beforeDrag.cx - map->View().cx) * px - 100) < 0.5);
        QCOMPARE(map->View().cy, beforeDrag.cy);

        // - zooms out one level, + in, Home fits again.
        map->setFocus();
        const double z = map->View().zoom;
        QTest::keyClick(map, Qt::Key_Minus);
        QCOMPARE(map->View().zoom, z - 1);
        QTest::keyClick(map, Qt::Key_Plus);
        QCOMPARE(map->View().zoom, z);
        QTest::keyClick(map, Qt::Key_Home);
        QCOMPARE(map->View().zoom, fitted.zoom);
        QCOMPARE(map->View().cx, fitted.cx);
        QCOMPARE(map->View().cy, fitted.cy);
    }

    // A document converted on download ("A0602.txt" holding KML) with its raw copy beside
    // it: the figures come from the raw copy and say so, the collection time shows, and
    // every value (the extent's corners, the totals with their unit prices) shows whole.
    void convertedDocumentShowsItsTimeAndWholeValues() {
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
        QTemporaryDir dir;
        QFile sample(kSamples + QStringLiteral("A0602_vertex.txt"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const QByteArray bytes = sample.readAll();
        const StoreResult stored =
            StoreDownload({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           static_cast<std::size_t>(bytes.size())},
                          "A0602.txt", dir.path().toStdString(), kConvertingModelCode);
        QVERIFY(stored.ok());
        QCOMPARE(stored.conversion, Conversion::kConverted);
        CFieldView view;
        view.resize(900, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.ShowFile(dir.filePath(QStringLiteral("A0602.txt")));
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        QTreeWidget* figures = view.Figures();
        QStringList labels;
        QString rawValue, collected, areaTotal;
        for (int i = 0; i < figures->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = figures->topLevelItem(i);
            labels << item->text(0);
            if (item->text(0) == QString::fromStdString(Text(StringId::RES_FIELD_RAW_COPY)))
                rawValue = item->text(1);
            if (item->text(0) == QString::fromStdString(Text(StringId::RES_FIELD_COLLECTED)))
                collected = item->text(1);
            if (item->text(0) == QString::fromStdString(Text(StringId::RES_FIELD_AREA_TOTAL)))
                areaTotal = item->text(1);
        }
        QVERIFY2(rawValue.contains(QStringLiteral("A0602.bak")), qPrintable(labels.join(u'|')));
        QVERIFY2(!collected.isEmpty(), qPrintable(labels.join(u'|')));
        QVERIFY2(areaTotal.contains(
                     QString::fromStdString(FormatText(StringId::RES_FIELD_PER_M2, ""))),
                 qPrintable(areaTotal));
        // Each value column shows whole in the list's viewport.
        const int right = figures->header()->sectionViewportPosition(1) + figures->columnWidth(1);
        QVERIFY2(right <= figures->viewport()->width(),
                 qPrintable(QStringLiteral("%1 > %2").arg(right).arg(figures->viewport()->width())));
        QFontMetrics fm(figures->font());
        for (int i = 0; i < figures->topLevelItemCount(); ++i) {
            const QString v = figures->topLevelItem(i)->text(1);
            QVERIFY2(fm.horizontalAdvance(v) <= figures->columnWidth(1), qPrintable(v));
        }
    }

    void menuToggleShowsTheFileChosenInTheComputerPane() {
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
        Rig rig;
        CMainFrame& frame = *rig.frame;
        QVERIFY(QFile::copy(kSamples + QStringLiteral("A0603_harvest.txt"),
                            rig.computer.filePath(QStringLiteral("A0603_harvest.txt"))));
        CRightFormView* pane = frame.ComputerPane();
        pane->ListFolder(rig.computer.path());
        QVERIFY(!frame.FieldDock()->isVisible());
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        pane->List()->setFocus();
        QTest::keyClick(pane->List(), Qt::Key_G, Qt::ControlModifier);
        QTRY_VERIFY(frame.FieldDock()->isVisible());
        QVERIFY(frame.Action(cmd::kFieldView)->isChecked());
        // Click the file's row in the computer pane.
        CSortListCtrl* list = pane->List();
        CListRow row;
        for (int i = 0; i < list->RowCount(); ++i)
            if (list->CellText(i, 0) == QStringLiteral("A0603_harvest.txt")) row = list->Row(i);
        QVERIFY(row);
        list->ScrollToRow(row);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->RowRect(row).center());
        CFieldView* view = frame.FieldView();
        QTRY_VERIFY_WITH_TIMEOUT(
            view->Shown().endsWith(QStringLiteral("A0603_harvest.txt")) && !view->Busy(), kWaitMs);
        QStringList labels;
        for (int i = 0; i < view->Figures()->topLevelItemCount(); ++i)
            labels << view->Figures()->topLevelItem(i)->text(0);
        QVERIFY2(labels.contains(QString::fromStdString(Text(StringId::RES_FIELD_AREA_HANDHELD))),
                 qPrintable(labels.join(QLatin1Char('|'))));
        QVERIFY(labels.contains(QString::fromStdString(Text(StringId::RES_FIELD_WIDTH))));
        QTest::keyClick(list, Qt::Key_G, Qt::ControlModifier);
        QTRY_VERIFY(!frame.FieldDock()->isVisible());
    }

    // Preview, from the key and from the Edit menu: the handheld's file is
    // shown and nothing lands in the computer folder. A lying handheld, whose
    // blocks claim a file of 60 MB, is refused with the reason, nothing shown.
    void previewFetchesIntoMemoryOnly_data() {
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<bool>("lies");
        QTest::newRow("F3") << false << false;
        QTest::newRow("Edit menu") << true << false;
        QTest::newRow("blocks claim far more than listed") << false << true;
    }
    void previewFetchesIntoMemoryOnly() {
        QFETCH(bool, byMenu);
        QFETCH(bool, lies);
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
        // LIE_TOTAL.BIN: the hostile emulator's file whose blocks claim 60 MB.
        const QString name = lies ? QStringLiteral("LIE_TOTAL.BIN") : QStringLiteral("A0602.txt");
        Rig rig(lies ? QStringList{QStringLiteral("--hostile")} : QStringList{},
                [](const QString& dir) {
                    QFile::copy(kSamples + QStringLiteral("A0602_vertex.txt"),
                                dir + QStringLiteral("/A0602.txt"));
                    WriteFile(dir + QStringLiteral("/B.txt"), 10);
                });
        QVERIFY(rig.Connect());
        CMainFrame& frame = *rig.frame;
        CSortListCtrl* list = rig.DeviceList();
        QTRY_VERIFY_WITH_TIMEOUT(Column(list, 0).contains(name), kWaitMs);
        const QStringList before =
            QDir(rig.computer.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        const CListRow row = list->Row(static_cast<int>(Column(list, 0).indexOf(name)));
        // The hostile listing is longer than the pane, and its 250-byte name
        // makes the first column wider than the pane: click near the name's start.
        list->ScrollToRow(row);
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(20, list->RowRect(row).center().y()));
        QTRY_VERIFY(frame.ActivePane() == frame.DevicePane());
        if (byMenu) {
            // Click the Edit menu's title, then its Preview item.
            QMenuBar* bar = frame.menuBar();
            QAction* edit = bar->actions().at(1);
            QTest::mouseClick(frame.windowHandle(), Qt::LeftButton, {},
                              bar->mapTo(&frame, bar->actionGeometry(edit).center()));
            QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMenu*>(QApplication::activePopupWidget()),
                                     kWaitMs);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QAction* item = frame.Action(cmd::kPreview);
            QVERIFY(menu->actions().contains(item));
            QVERIFY(item->isEnabled());
            const QPoint at = menu->actionGeometry(item).center();
            QTest::mouseMove(menu, at);
            QTest::mouseClick(menu, Qt::LeftButton, {}, at);
        } else {
            QTest::keyClick(list, Qt::Key_F3);
        }
        CFieldView* view = frame.FieldView();
        if (lies) {
            QTRY_VERIFY_WITH_TIMEOUT(!rig.messages.isEmpty(), kWaitMs);
            QVERIFY2(rig.messages.join(QLatin1Char('\n'))
                         .contains(QString::fromStdString(Text(StringId::RES_FAULTS_BAD_DATA))),
                     qPrintable(rig.messages.join(QLatin1Char('|'))));
            QVERIFY(view->Shown().isEmpty());
            QVERIFY(frame.Doc().IsConnected());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(view->Shown() == QStringLiteral("A0602.txt") && !view->Busy(),
                                     kWaitMs);
            QVERIFY(frame.FieldDock()->isVisible());
            QVERIFY(view->Figures()->topLevelItemCount() > 5);
            QVERIFY(rig.messages.isEmpty());
        }
        QCOMPARE(
            QDir(rig.computer.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
            before);
    }

    void snapshotHasTheSizeAndShowsTheShape_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("field") << "A0602_vertex.txt"
                               << "640x360" << 640 << 360;
        QTest::newRow("track") << "T0602_few.gpx"
                               << "300x500" << 300 << 500;
    }
    void snapshotHasTheSizeAndShowsTheShape() {
        QFETCH(QString, file);
        QFETCH(QString, size);
        QFETCH(int, width);
        QFETCH(int, height);
        QTemporaryDir out;
        const QString png = out.filePath(QStringLiteral("shot.png"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.start(
            QStringLiteral(DORVANE_BINARY_DIR "/bin/dorvane"),
            {QStringLiteral("--snapshot"), kSamples + file, QStringLiteral("--out"), png,
             QStringLiteral("--size"), size, QStringLiteral("--tiles"), QStringLiteral("none")});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 0);
        const QImage img(png);
        QCOMPARE(img.size(), QSize(width, height));
        const bool field = file.startsWith(QLatin1Char('A'));
        const int shape =
            field ? CountColour(img, FillOverBackground()) : CountColour(img, kTrackColour, 0);
        QVERIFY2(shape > (field ? width * height / 4 : 200), qPrintable(QString::number(shape)));

        // A file that cannot be read: exit 1 and the reason, no picture.
        QFile::remove(png);
        p.start(QStringLiteral(DORVANE_BINARY_DIR "/bin/dorvane"),
                {QStringLiteral("--snapshot"), kSamples + QStringLiteral("size_1959.bin"),
                 QStringLiteral("--out"), png});
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(!QFile::exists(png));
        QVERIFY(!p.readAllStandardError().isEmpty());
    }

private:
    QTemporaryDir cache_;
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestFieldView)
#include "test_field_view.moc"
