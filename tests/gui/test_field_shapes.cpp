// The field view on a file of several fields, as a user picks one: the list
// of "file › name" under the file's name, opened with the mouse and moved
// with the keys; the chosen field's figures (its band, its holes) beside the map.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "gui_rig.h"
#include "ui/field_view.h"

namespace dorvane::test {
namespace {


// Three fields in one GeoJSON: "North" with a pond, "Middle", "South".
constexpr const char* kVillage = R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"name":"North"},"geometry":{"type":"Polygon","coordinates":[[[116,40.002],[116.001,40.002],[116.001,40.003],[116,40.003],[116,40.002]],[[116.0003,40.0023],[116.0006,40.0023],[116.0006,40.0026],[116.0003,40.0026],[116.0003,40.0023]]]}},
{"type":"Feature","properties":{"name":"Middle"},"geometry":{"type":"Polygon","coordinates":[[[116,40.001],[116.001,40.001],[116.001,40.0015],[116,40.0015],[116,40.001]]]}},
{"type":"Feature","properties":{"name":"South"},"geometry":{"type":"Polygon","coordinates":[[[116,40],[116.002,40],[116.002,40.0005],[116,40.0005],[116,40]]]}}]})";

// The same village with a fourth field walked as a bow-tie: its boundary
// crosses itself at (116.0035, 40.0005).
constexpr const char* kWithBowTie = R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"name":"North"},"geometry":{"type":"Polygon","coordinates":[[[116,40.002],[116.001,40.002],[116.001,40.003],[116,40.003],[116,40.002]],[[116.0003,40.0023],[116.0006,40.0023],[116.0006,40.0026],[116.0003,40.0026],[116.0003,40.0023]]]}},
{"type":"Feature","properties":{"name":"Middle"},"geometry":{"type":"Polygon","coordinates":[[[116,40.001],[116.001,40.001],[116.001,40.0015],[116,40.0015],[116,40.001]]]}},
{"type":"Feature","properties":{"name":"Bow"},"geometry":{"type":"Polygon","coordinates":[[[116.003,40],[116.004,40.001],[116.004,40],[116.003,40.001],[116.003,40]]]}}]})";

/// Colours of the map a point may show: the picked field's fill, another
/// field's (dimmed) fill, or the bare map (a hole, or outside every field).
enum class Seen { kPicked, kOther, kBare };

QColor Over(QColor top, QColor under) {
    const double a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + under.redF() * (1 - a), top.greenF() * a + under.greenF() * (1 - a),
                            top.blueF() * a + under.blueF() * (1 - a));
}

/// Whether most pixels of the 9 x 9 box at `at` show `what` (grid lines
/// and edges take the rest).
bool Shows(const QImage& img, QPoint at, Seen what) {
    const QColor want = what == Seen::kPicked  ? Over(kFieldFillColour, kBackgroundColour)
                        : what == Seen::kOther ? Over(kOtherShapeFill, kBackgroundColour)
                                               : kBackgroundColour;
    int near = 0, all = 0;
    for (int y = at.y() - 4; y <= at.y() + 4; ++y)
        for (int x = at.x() - 4; x <= at.x() + 4; ++x) {
            if (!img.rect().contains(x, y)) continue;
            const QColor c = img.pixelColor(x, y);
            ++all;
            near += std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) +
                        std::abs(c.blue() - want.blue()) <
                    24;
        }
    return all > 0 && near * 2 > all;
}

int CrossingPixels(const QImage& img, QPoint at, int reach) {
    int n = 0;
    for (int y = at.y() - reach; y <= at.y() + reach; ++y)
        for (int x = at.x() - reach; x <= at.x() + reach; ++x)
            if (img.rect().contains(x, y)) {
                const QColor c = img.pixelColor(x, y);
                n += std::abs(c.red() - kCrossingColour.red()) + std::abs(c.green() - kCrossingColour.green()) +
                         std::abs(c.blue() - kCrossingColour.blue()) <
                     40;
            }
    return n;
}

QString ValueOf(QTreeWidget* t, const QString& label) {
    for (int i = 0; i < t->topLevelItemCount(); ++i)
        if (t->topLevelItem(i)->text(0) == label) return t->topLevelItem(i)->text(1);
    return {};
}

}  // namespace

class TestFieldShapes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    void pickingAFieldOfAVillageFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("village.geojson"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kVillage);
        }
        CFieldView view;
        view.resize(900, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.ShowFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        QComboBox* shapes = view.Shapes();
        QVERIFY(shapes->isVisible());
        QCOMPARE(shapes->count(), 3);
        QCOMPARE(shapes->currentText(), QStringLiteral("village.geojson › North"));
        // The first field's figures: its name, its hole, its area with the band.
        const QString name = QString::fromStdString(Text(StringId::RES_FIELD_NAME));
        QCOMPARE(ValueOf(view.Figures(), name), QStringLiteral("North"));
        QCOMPARE(ValueOf(view.Figures(), QString::fromStdString(Text(StringId::RES_FIELD_HOLES))),
                 QStringLiteral("1"));
        QVERIFY(ValueOf(view.Figures(),
                        QString::fromStdString(Text(StringId::RES_FIELD_AREA_TOLERANCE)))
                    .contains(QStringLiteral(" ± ")));

        const struct {
            int downs;
            const char* name;
        } cases[] = {{2, "South"}, {-1, "Middle"}};
        for (const auto& c : cases) {
            // Open the list with the mouse where it is, move with the keys, take with Return.
            QTest::mouseClick(shapes, Qt::LeftButton, {}, shapes->rect().center());
            QTRY_VERIFY_WITH_TIMEOUT(shapes->view()->isVisible(), kWaitMs);
            const Qt::Key key = c.downs > 0 ? Qt::Key_Down : Qt::Key_Up;
            for (int i = 0; i < std::abs(c.downs); ++i) QTest::keyClick(shapes->view(), key);
            QTest::keyClick(shapes->view(), Qt::Key_Return);
            QTRY_VERIFY_WITH_TIMEOUT(!shapes->view()->isVisible(), kWaitMs);
            QTRY_COMPARE_WITH_TIMEOUT(ValueOf(view.Figures(), name), QString::fromUtf8(c.name),
                                      kWaitMs);
            QCOMPARE(shapes->currentText(), QStringLiteral("village.geojson › ") + c.name);
            QVERIFY(!view.Busy());
            // No hole in these two.
            QVERIFY(ValueOf(view.Figures(), QString::fromStdString(Text(StringId::RES_FIELD_HOLES)))
                        .isEmpty());
        }

        // A file of one field hides the list again.
        view.ShowFile(QStringLiteral(DORVANE_SOURCE_DIR "/sim/samples/data/A0602_vertex.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        QVERIFY(!shapes->isVisible());
    }

    // Every field of the file on the map, the picked one in the field's
    // colours, the others dimmed; a pond is cut out of its field; a
    // bow-tie's crossing is ringed.
    void everyShapeDrawnHolesCutCrossingsRinged() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("village.geojson"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kWithBowTie);
        }
        CFieldView view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.ShowFile(path);
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        CFieldMapWidget* map = view.Map();
        QVERIFY(map->HasShape());
        // Out with the keys until the whole village is in view.
        map->setFocus();
        for (int i = 0; i < 3; ++i) QTest::keyClick(map, Qt::Key_Minus);
        QTest::qWait(CFieldMapWidget::kZoomSettleMs * 2);
        auto at = [&](double lon, double lat) {
            return WorldToScreen(ToWorld(lon, lat), map->View(), map->size()).toPoint();
        };
        struct Case {
            const char* where;
            double lon, lat;
            Seen seen;
        };
        const Case northPicked[] = {
            {"North, beside its pond", 116.0008, 40.0028, Seen::kPicked},
            {"North's pond", 116.00045, 40.00245, Seen::kBare},
            {"Middle", 116.0005, 40.00125, Seen::kOther},
            {"Bow's left lobe", 116.0032, 40.0005, Seen::kOther},
            {"Bow's right lobe", 116.0038, 40.0005, Seen::kOther},
            {"between the fields", 116.0005, 40.00175, Seen::kBare},
        };
        QImage img = map->grab().toImage();
        for (const Case& c : northPicked) {
            QVERIFY2(map->rect().contains(at(c.lon, c.lat)), c.where);
            QVERIFY2(Shows(img, at(c.lon, c.lat), c.seen), c.where);
        }
        // North crosses nowhere: no ring anywhere.
        QCOMPARE(CrossingPixels(img, map->rect().center(), std::max(map->width(), map->height())), 0);

        // The bow-tie picked with the keys: the others dimmed, the crossing ringed.
        QComboBox* shapes = view.Shapes();
        shapes->setFocus();
        QTest::keyClick(shapes, Qt::Key_End);
        QTRY_COMPARE_WITH_TIMEOUT(shapes->currentText(), QStringLiteral("village.geojson › Bow"), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        QTest::qWait(CFieldMapWidget::kZoomSettleMs * 2);
        img = map->grab().toImage();
        const QPoint crossing = at(116.0035, 40.0005);
        QVERIFY(map->rect().contains(crossing));
        QVERIFY(CrossingPixels(img, crossing, static_cast<int>(kCrossingRadiusPx) + 3) > 20);
        QVERIFY(Shows(img, at(116.0032, 40.0005), Seen::kPicked));
        QVERIFY(Shows(img, at(116.0038, 40.0005), Seen::kPicked));
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestFieldShapes)
#include "test_field_shapes.moc"
