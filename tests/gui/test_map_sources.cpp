// The map's sources as a user sets them, by clicks and keys on the dialog:
// the presets (Tianditu's key and its terms, a custom template refused until
// it is one), "Keep for offline" enabled only for a source that allows it
// and not offline, a pack kept from a tile server of the test's own and
// listed, "Clear map cache"; the field view drawing an MBTiles pack; and the
// overview map of the ledger and the book answering the field view's keys.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include "gui_rig.h"
#include "ui/field_view.h"
#include "ui/map_sources_dialog.h"
#include "ui/overview_widget.h"

namespace dorvane::test {
namespace {

const QString kMapTests = QStringLiteral(DORVANE_SOURCE_DIR "/tests/map/");
const QString kSamples = QStringLiteral(DORVANE_SOURCE_DIR "/sim/samples/data/");
constexpr const char* kPython = "/usr/bin/python3";

QString Says(StringId id) {
    return QString::fromStdString(Text(id));
}

void Click(QWidget* w) {
    QVERIFY(w->isVisible() && w->isEnabled());
    // A check box answers on its box and its text, not the whole row.
    const QPoint at = qobject_cast<QCheckBox*>(w) ? QPoint(8, w->height() / 2) : w->rect().center();
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

// Picks the preset `index` rows down from the top with the keyboard.
void PickPreset(CMapSourcesDialog& dlg, int index) {
    QComboBox* c = dlg.Preset();
    c->setFocus();
    QTest::keyClick(c, Qt::Key_Home);
    for (int i = 0; i < index; ++i) QTest::keyClick(c, Qt::Key_Down);
    QCOMPARE(c->currentIndex(), index);
}

void TypeInto(QLineEdit* e, const QString& text) {
    Click(e);
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, text);
}

QPushButton* Ok(CMapSourcesDialog& dlg) {
    return dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

// The rows of the preset box.
constexpr int kOsmRow = 0, kTiandituRow = 1, kCustomRow = 2;

}  // namespace

class TestMapSources : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    void tiandituNeedsAKeyAndGoesInEveryTemplate() {
        CMapSourcesDialog dlg(DefaultTileSettings(), QRectF(0.8, 0.3, 0.001, 0.001), 12);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(!dlg.Keep()->isEnabled());  // OpenStreetMap's servers: never
        PickPreset(dlg, kTiandituRow);
        QVERIFY(dlg.Key()->isEnabled());
        QVERIFY(!dlg.Keep()->isEnabled());
        QVERIFY(dlg.findChildren<QLabel*>().size() > 0);
        bool termsShown = false;
        for (QLabel* l : dlg.findChildren<QLabel*>())
            termsShown |= l->isVisible() && l->text() == Says(StringId::RES_MAP_TIANDITU_TERMS);
        QVERIFY(termsShown);
        Click(Ok(dlg));
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.Message()->text(), Says(StringId::RES_MAP_NEED_KEY));
        TypeInto(dlg.Key(), QStringLiteral("0123abcd"));
        Click(Ok(dlg));
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const TileSettings t = dlg.Chosen();
        QVERIFY(t.urlTemplate.contains(QStringLiteral("/img_w/")));
        QVERIFY(t.urlTemplate.endsWith(QStringLiteral("tk=0123abcd")));
        QVERIFY(t.overlayTemplate.contains(QStringLiteral("/cia_w/")));
        QVERIFY(t.overlayTemplate.endsWith(QStringLiteral("tk=0123abcd")));
        QVERIFY(!t.allowsKeeping);
    }

    void aCustomSourceIsKeptOnlyWhenItAllowsItAndOnline() {
        QTemporaryDir dir;
        QProcess server;
        server.start(QString::fromLatin1(kPython),
                     {kMapTests + QStringLiteral("tile_server.py"), dir.path() + QStringLiteral("/log")});
        QVERIFY(server.waitForStarted(10000) && server.waitForReadyRead(10000));
        const int port = server.readLine().trimmed().toInt();
        QVERIFY(port > 0);
        const QString url = QStringLiteral("http://127.0.0.1:%1/base/{z}/{x}/{-y}.png").arg(port);

        const WorldPoint w = ToWorld(15, 45);
        CMapSourcesDialog dlg(DefaultTileSettings(), QRectF(w.x, w.y, 0.0004, 0.0004), 12);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        PickPreset(dlg, kCustomRow);
        TypeInto(dlg.Template(), QStringLiteral("http://127.0.0.1/tile.png"));
        Click(Ok(dlg));
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.Message()->text(), Says(StringId::RES_MAP_BAD_TEMPLATE));
        TypeInto(dlg.Template(), url);
        QVERIFY(!dlg.Keep()->isEnabled());  // not marked as allowing it
        Click(dlg.AllowsKeeping());
        QVERIFY(dlg.Keep()->isEnabled());
        Click(dlg.Offline());
        QVERIFY(!dlg.Keep()->isEnabled());  // keeping asks the server
        Click(dlg.Offline());
        QVERIFY(dlg.Keep()->isEnabled());

        const QString pack = dir.path() + QStringLiteral("/kept.mbtiles");
        dlg.KeepInto(pack);
        QTRY_COMPARE_WITH_TIMEOUT(dlg.Message()->text(), Says(StringId::RES_MAP_KEEP_DONE), kWaitMs);
        QCOMPARE(dlg.Packs()->count(), 1);
        QCOMPARE(dlg.Packs()->item(0)->text(), pack);
        QVERIFY(QFile::exists(pack));
        Click(Ok(dlg));
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const TileSettings t = dlg.Chosen();
        QCOMPARE(t.urlTemplate, url);
        QVERIFY(t.allowsKeeping);
        QCOMPARE(t.stacked, QStringList{pack});
        server.kill();
        server.waitForFinished();

        // Back in the dialog with OpenStreetMap chosen, keeping is refused
        // even when asked directly.
        CMapSourcesDialog again(t, QRectF(w.x, w.y, 0.0004, 0.0004), 12);
        again.show();
        PickPreset(again, kOsmRow);
        again.KeepInto(dir.path() + QStringLiteral("/osm.mbtiles"));
        QCOMPARE(again.Message()->text(), Says(StringId::RES_MAP_KEEP_NOT_ALLOWED));
        QVERIFY(!QFile::exists(dir.path() + QStringLiteral("/osm.mbtiles")));
    }

    // A first-time user's questions, answered by the dialog itself: why
    // "Keep for offline" is grey, which field an error is about, that an old
    // error goes once its cause is changed, Remove only with a pack picked.
    void theDialogSaysWhyAndWhere() {
        const WorldPoint w = ToWorld(116.3, 39.9);
        const QRectF view(w.x, w.y, 0.0004, 0.0004);
        struct Case {
            const char* name;
            bool inView;
            int preset;
            bool allows;
            bool offline;
            std::optional<StringId> why;  // none: the button can be used
        };
        const Case cases[] = {
            {"nothing in view", false, kCustomRow, true, false, StringId::RES_MAP_KEEP_NO_VIEW},
            {"OpenStreetMap", true, kOsmRow, false, false, StringId::RES_MAP_KEEP_NOT_ALLOWED},
            {"Tianditu", true, kTiandituRow, false, false, StringId::RES_MAP_KEEP_NOT_ALLOWED},
            {"custom, terms unsaid", true, kCustomRow, false, false, StringId::RES_MAP_KEEP_NOT_ALLOWED},
            {"custom, offline", true, kCustomRow, true, true, StringId::RES_MAP_KEEP_OFFLINE},
            {"custom, allowed", true, kCustomRow, true, false, std::nullopt},
        };
        for (const Case& c : cases) {
            CMapSourcesDialog dlg(DefaultTileSettings(), c.inView ? view : QRectF(), 16);
            dlg.show();
            QVERIFY2(QTest::qWaitForWindowExposed(&dlg), c.name);
            PickPreset(dlg, c.preset);
            if (c.preset == kCustomRow) TypeInto(dlg.Template(), QStringLiteral("https://t.example/{z}/{x}/{y}.png"));
            if (c.allows) Click(dlg.AllowsKeeping());
            if (c.offline) Click(dlg.Offline());
            QVERIFY2(dlg.Keep()->isEnabled() == !c.why.has_value(), c.name);
            QVERIFY2(dlg.KeepWhy()->isVisible() == c.why.has_value(), c.name);
            if (c.why) QCOMPARE(dlg.KeepWhy()->text(), Says(*c.why));
        }

        struct Wrong {
            const char* name;
            int preset;
            const char* url;
            const char* overlay;
            StringId says;
            QLineEdit* (CMapSourcesDialog::*field)() const;
        };
        const Wrong wrongs[] = {
            {"no key", kTiandituRow, "", "", StringId::RES_MAP_NEED_KEY, &CMapSourcesDialog::Key},
            {"no template", kCustomRow, "", "", StringId::RES_MAP_BAD_TEMPLATE, &CMapSourcesDialog::Template},
            {"bad overlay", kCustomRow, "https://t.example/{z}/{x}/{y}.png", "https://t.example/{z}.png",
             StringId::RES_MAP_BAD_TEMPLATE, &CMapSourcesDialog::Overlay},
        };
        for (const Wrong& c : wrongs) {
            CMapSourcesDialog dlg(DefaultTileSettings(), view, 16);
            dlg.show();
            QVERIFY2(QTest::qWaitForWindowExposed(&dlg), c.name);
            PickPreset(dlg, c.preset);
            if (*c.url) TypeInto(dlg.Template(), QString::fromLatin1(c.url));
            if (*c.overlay) TypeInto(dlg.Overlay(), QString::fromLatin1(c.overlay));
            Click(Ok(dlg));
            QVERIFY2(dlg.isVisible(), c.name);
            QCOMPARE(dlg.Message()->text(), Says(c.says));
            QVERIFY2((dlg.*c.field)()->hasFocus(), c.name);
            // Another source chosen: the old complaint goes.
            PickPreset(dlg, kOsmRow);
            QVERIFY2(dlg.Message()->text().isEmpty(), c.name);
        }

        {
            // A template is seen whole, in either language's layout.
            CMapSourcesDialog dlg(DefaultTileSettings(), view, 16);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            for (QLineEdit* e : {dlg.Template(), dlg.Overlay()})
                QVERIFY(e->width() >= e->fontMetrics().horizontalAdvance(CMapSourcesDialog::TypicalTemplate()));
        }
        TileSettings withPack = DefaultTileSettings();
        QTemporaryDir dir;
        withPack.stacked = {dir.path() + QStringLiteral("/a.mbtiles")};
        CMapSourcesDialog dlg(withPack, view, 16);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.PackFolder(), dir.path());
        QVERIFY(!dlg.RemovePack()->isEnabled());
        QListWidget* packs = dlg.Packs();
        QTest::mouseClick(packs->viewport(), Qt::LeftButton, {},
                          packs->visualItemRect(packs->item(0)).center());
        QVERIFY(dlg.RemovePack()->isEnabled());
        Click(dlg.RemovePack());
        QCOMPARE(packs->count(), 0);
        QVERIFY(!dlg.RemovePack()->isEnabled());
        QCOMPARE(dlg.PackFolder(), QDir::homePath());
    }

    // A drag and a zoom lose the fields; Home brings every one back, as in
    // the field view, and + and - zoom around the middle.
    void theOverviewAnswersPlusMinusAndHome() {
        COverviewWidget w;
        w.resize(400, 300);
        std::vector<map::OverviewField> fields;
        for (double lon : {116.30, 116.31}) {
            map::OverviewField f;
            for (const auto& [dx, dy] : {std::pair{0.0, 0.0}, {0.002, 0.0}, {0.002, 0.002}, {0.0, 0.002}})
                f.ring.push_back(ToWorld(lon + dx, 39.9 + dy));
            f.name = QStringLiteral("F");
            fields.push_back(std::move(f));
        }
        w.SetFields(std::move(fields), {QStringLiteral("counted")});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const MapView fitted = w.Map().Fit(w.size());
        QCOMPARE(w.View().zoom, fitted.zoom);
        // Click it for the keys, then drag it well aside.
        QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(w.hasFocus());
        QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(200, 150));
        QTest::mouseMove(&w, QPoint(260, 190));
        QTest::mouseMove(&w, QPoint(380, 280));
        QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(380, 280));
        QVERIFY(w.View().cx != fitted.cx);
        struct Step {
            Qt::Key key;
            double zoom;  // after the key, from the fitted zoom
        };
        const Step steps[] = {{Qt::Key_Plus, 1}, {Qt::Key_Plus, 2}, {Qt::Key_Minus, 1}, {Qt::Key_Equal, 2}};
        for (const Step& s : steps) {
            QTest::keyClick(&w, s.key);
            QCOMPARE(w.View().zoom, std::clamp(fitted.zoom + s.zoom, 0.0, kMaxMapZoom));
        }
        QTest::keyClick(&w, Qt::Key_Home);
        QCOMPARE(w.View().zoom, fitted.zoom);
        QCOMPARE(w.View().cx, fitted.cx);
        QCOMPARE(w.View().cy, fitted.cy);
        // Fitted again, it stays fitted when the window is resized.
        w.resize(600, 450);
        QTRY_COMPARE_WITH_TIMEOUT(w.View().zoom, w.Map().Fit(w.size()).zoom, kWaitMs);
    }

    void clearMapCacheEmptiesTheCache() {
        const QString folder = TileCacheFolder() + QStringLiteral("/data8/f");
        QVERIFY(QDir().mkpath(folder));
        WriteFile(folder + QStringLiteral("/tile.d"), 30000);
        CMapSourcesDialog dlg(DefaultTileSettings(), QRectF(), 3);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(!dlg.Keep()->isEnabled());  // nothing in view
        Click(dlg.ClearCache());
        QTRY_COMPARE_WITH_TIMEOUT(dlg.Message()->text(), Says(StringId::RES_MAP_CACHE_CLEARED), kWaitMs);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/tile.d")));
    }

    // `dorvane --snapshot` with a pack, a template over it and an overlay:
    // offline nothing is asked and the pack shows; online the template
    // covers it and the overlay is drawn over that.
    void theSnapshotTakesStackedSourcesAndOffline() {
        QTemporaryDir dir;
        const QString pack = dir.path() + QStringLiteral("/world.mbtiles");
        QProcess make;
        make.start(QString::fromLatin1(kPython),
                   {kMapTests + QStringLiteral("make_pack.py"), pack, QStringLiteral("--zooms"), QStringLiteral("0"),
                    QStringLiteral("2"), QStringLiteral("--bounds=-180,-85,180,85")});
        QVERIFY(make.waitForFinished(30000) && make.exitCode() == 0);
        QProcess server;
        const QString log = dir.path() + QStringLiteral("/log");
        server.start(QString::fromLatin1(kPython), {kMapTests + QStringLiteral("tile_server.py"), log});
        QVERIFY(server.waitForStarted(10000) && server.waitForReadyRead(10000));
        const int port = server.readLine().trimmed().toInt();
        const QString base = QStringLiteral("http://127.0.0.1:%1/base/{z}/{x}/{y}.png").arg(port);
        const QString over = QStringLiteral("http://127.0.0.1:%1/over/{z}/{x}/{y}.png").arg(port);
        const QString picture = dir.path() + QStringLiteral("/p.png");
        auto snapshot = [&](bool offline) {
            QStringList args{QStringLiteral("--snapshot"), kSamples + QStringLiteral("T0602_few.gpx"),
                             QStringLiteral("--out"),      picture,
                             QStringLiteral("--size"),     QStringLiteral("400x300"),
                             QStringLiteral("--tiles"),    pack,
                             QStringLiteral("--tiles"),    base,
                             QStringLiteral("--overlay"),  over};
            if (offline) args << QStringLiteral("--offline");
            QProcess p;
            p.start(QStringLiteral(DORVANE_BINARY_DIR "/bin/dorvane"), args);
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
        };
        auto requests = [&] {
            QFile f(log);
            return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
        };
        snapshot(true);
        QCOMPARE(requests(), 0);
        QImage img(picture);
        QVERIFY(!img.isNull());
        const QColor corner = img.pixelColor(3, 3);
        QCOMPARE(corner.red(), 80);  // the pack's deepest level (40 * 2)
        snapshot(false);
        QVERIFY(requests() > 0);
        img = QImage(picture);
        const QRgb now = img.pixelColor(3, 3).rgb();
        QVERIFY(now == QColor(0x30, 0x60, 0xC0).rgb() || now == QColor(0xE0, 0x20, 0x20).rgb());
        int red = 0;
        for (int y = 0; y < img.height(); y += 4)
            for (int x = 0; x < img.width(); x += 4) red += img.pixelColor(x, y).rgb() == QColor(0xE0, 0x20, 0x20).rgb();
        QVERIFY(red > 50);  // the overlay's squares
        server.kill();
        server.waitForFinished();
    }

    // The field view over a pack of the whole world (zooms 0-2): a corner of
    // the map shows the colour of the pack's tile there, scaled up.
    void theFieldViewDrawsAPack() {
        QTemporaryDir dir;
        const QString pack = dir.path() + QStringLiteral("/world.mbtiles");
        QProcess make;
        make.start(QString::fromLatin1(kPython),
                   {kMapTests + QStringLiteral("make_pack.py"), pack, QStringLiteral("--zooms"), QStringLiteral("0"),
                    QStringLiteral("2"), QStringLiteral("--bounds=-180,-85,180,85")});
        QVERIFY(make.waitForFinished(30000) && make.exitCode() == 0);
        CFieldView view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.Map()->SetTiles(TileSettingsFor({pack}, QString(), true));
        view.ShowFile(kSamples + QStringLiteral("T0602_few.gpx"));
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        QTest::qWait(CFieldMapWidget::kZoomSettleMs * 2);
        CFieldMapWidget* map = view.Map();
        const QImage img = map->grab().toImage();
        const MapView v = map->View();
        for (const QPoint at : {QPoint(5, 5), QPoint(map->width() - 5, 5)}) {
            const WorldPoint w = ScreenToWorld(QPointF(at) + QPointF(0.5, 0.5), v, map->size());
            const int x = static_cast<int>(w.x * 4), y = static_cast<int>(w.y * 4);
            QCOMPARE(img.pixelColor(at).rgb(), QColor(80, (37 * x) % 256, (53 * y) % 256).rgb());
        }
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestMapSources)
#include "test_map_sources.moc"
