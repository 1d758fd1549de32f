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
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestFieldShapes)
#include "test_field_shapes.moc"
