// "Export as..." for a land office, as a user drives it: Ctrl+E on the
// selected field files, the format and the coordinate system picked with
// clicks in the dialog's own lists, the UTF-8 box ticked, and the summary
// that names both areas; the outputs read back by GDAL's tools.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <functional>

#include "book/bill_settings.h"
#include "gui_rig.h"
#include "i18n/string_table.h"
#include "names/encoding.h"

namespace dorvane::test {
namespace {

QString T(StringId id) {
    return QString::fromStdString(Text(id));
}

// A field of about 120 m a side at (lon, lat), as a KML polygon.
void WriteKml(const QString& path, const char* name, double lon, double lat) {
    const double dLon = 120.0 / (111320.0 * std::cos(lat * M_PI / 180));
    const double dLat = 120.0 / 110950.0;
    char coords[512];
    std::snprintf(coords, sizeof coords, "%.9f,%.9f %.9f,%.9f %.9f,%.9f %.9f,%.9f %.9f,%.9f", lon,
                  lat, lon + dLon, lat, lon + dLon, lat + dLat, lon, lat + dLat, lon, lat);
    std::ofstream(path.toStdString(), std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">"
           "<Document><Placemark><name>"
        << name << "</name><Polygon><outerBoundaryIs><LinearRing><coordinates>" << coords
        << "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark></Document></kml>\n";
}

// Picks item `text` of `combo` as a user does: a click opens its list, a
// click on the item's row chooses it.
void ClickItem(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    QTest::mouseClick(combo, Qt::LeftButton, {}, combo->rect().center());
    QAbstractItemView* view = combo->view();
    QTRY_VERIFY_WITH_TIMEOUT(view->isVisible(), kWaitMs);
    const QRect r = view->visualRect(view->model()->index(index, 0));
    QTest::mouseMove(view->viewport(), r.center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    QTRY_VERIFY_WITH_TIMEOUT(!view->isVisible(), kWaitMs);
    QCOMPARE(combo->currentText(), text);
}

struct DialogSteps {
    QString format;    ///< the file type to click
    QString crs;       ///< the coordinate system to click ("" leaves it)
    QString epsg;      ///< typed into the EPSG field
    bool utf8 = false; ///< tick "text in UTF-8"
    QString name;      ///< typed as the file name (the dialog opens in the files' folder)
};

// Drives the next "Export as..." dialog through `steps`; `crsAfterFormat`
// gets the coordinate system shown once the format was chosen.
void DriveExportDialog(const DialogSteps& steps, bool* done, QString* crsAfterFormat) {
    QTimer::singleShot(200, [steps, done, crsAfterFormat] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dlg) return DriveExportDialog(steps, done, crsAfterFormat);
        auto* types = dlg->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        auto* crs = dlg->findChild<QComboBox*>(QStringLiteral("crsCombo"));
        auto* epsg = dlg->findChild<QLineEdit*>(QStringLiteral("epsgEdit"));
        auto* utf8 = dlg->findChild<QCheckBox*>(QStringLiteral("utf8Check"));
        auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        // A failed step closes the dialog, so the test goes on to report it.
        struct CloseOnFailure {
            QFileDialog* d;
            bool* ok;
            ~CloseOnFailure() {
                if (!*ok) d->reject();
            }
        } guard{dlg, done};
        QVERIFY(types && crs && epsg && utf8 && edit);
        QVERIFY(crs->isVisible());
        // The EPSG field beside the long offers shows its example whole.
        QVERIFY2(epsg->width() >= epsg->fontMetrics().horizontalAdvance(epsg->placeholderText()),
                 qPrintable(QString::number(epsg->width())));
        ClickItem(types, steps.format);
        *crsAfterFormat = crs->currentData().toString();
        if (!steps.crs.isEmpty()) ClickItem(crs, steps.crs);
        if (!steps.epsg.isEmpty()) {
            QVERIFY(epsg->isEnabled());
            QTest::mouseClick(epsg, Qt::LeftButton, {}, epsg->rect().center());
            QTest::keyClicks(epsg, steps.epsg);
        }
        QCOMPARE(utf8->isEnabled(), steps.format == T(StringId::RES_LAND_TEXT_FORMAT));
        if (steps.utf8) {
            // On the box's indicator, at the left of the widget.
            QTest::mouseClick(utf8, Qt::LeftButton, {}, QPoint(utf8->height() / 2, utf8->height() / 2));
            QVERIFY(utf8->isChecked());
        }
        edit->clear();
        QTest::keyClicks(edit, steps.name);
        // A completer list the typing opened would take the click for itself.
        if (QWidget* popup = QApplication::activePopupWidget()) QTest::keyClick(popup, Qt::Key_Escape);
        // Save, clicked (the name field's completer may hold Return for itself).
        auto* buttons = dlg->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QVERIFY(buttons);
        QPushButton* save = buttons->button(QDialogButtonBox::Save);
        if (!save) save = buttons->button(QDialogButtonBox::Open);
        QTest::qWait(300);
        QVERIFY2(save && save->isEnabled(), qPrintable(steps.format + QLatin1Char(' ') + edit->text()));
        *done = true;
        QTest::mouseClick(save, Qt::LeftButton, {}, save->rect().center());
    });
}

// Clicks OK on the next message box and hands back its text.
void TakeMessage(QString* text) {
    QTimer::singleShot(100, [text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return TakeMessage(text);
        *text = box->text();
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        QVERIFY(ok);
        QTest::mouseClick(ok, Qt::LeftButton, {}, ok->rect().center());
    });
}

QByteArray Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(kWaitMs)) return {};
    return p.readAllStandardOutput();
}

}  // namespace

class TestLandExport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        UseScratchHome();
        // The summary's texts as the English user reads them.
        QVERIFY(LoadLanguageFile(std::filesystem::path(DORVANE_SOURCE_DIR) /
                                     "resources/Language/code_en.ini",
                                 Language::English));
        book::BillSettings seller;
        seller.sellerName = "张家农机";
        QVERIFY(book::SaveBillSettings(book::DefaultBillSettingsPath(), seller).ok());
    }

    void CoordinateSystemAndTextChosenWithClicks() {
        Rig rig;
        const QString dir = QDir(rig.computer.path()).absolutePath();
        WriteKml(dir + "/west.kml", "西地", 116.3, 40.1);
        WriteKml(dir + "/east.kml", "东地", 117.6, 40.1);
        WriteKml(dir + "/beyond.kml", "远地", 119.2, 40.1);
        // A village's file of many fields: both exported, not only the first.
        std::ofstream(QString(dir + "/village.geojson").toStdString(), std::ios::binary)
            << R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"name":"North"},"geometry":{"type":"Polygon","coordinates":[
 [[116.300,40.100],[116.302,40.100],[116.302,40.102],[116.300,40.102],[116.300,40.100]]]}},
{"type":"Feature","properties":{"name":"South"},"geometry":{"type":"Polygon","coordinates":[
 [[116.300,40.090],[116.302,40.090],[116.302,40.092],[116.300,40.092],[116.300,40.090]]]}}]})";
        rig.frame->ComputerPane()->ListFolder(dir);
        QTRY_VERIFY_WITH_TIMEOUT(Column(rig.ComputerList(), 0).contains(QStringLiteral("west.kml")),
                                 kWaitMs);
        auto ctrlE = [&] {
            rig.frame->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
            rig.ComputerList()->setFocus();
            QTest::keyClick(rig.ComputerList(), Qt::Key_E, Qt::ControlModifier);
        };
        struct {
            const char* what;
            QStringList files;
            DialogSteps steps;
            QString crsAfterFormat;  ///< what choosing the format left in the list
            QStringList says;        ///< in the summary box
        } table[] = {
            {"the coordinate text in UTF-8: the automatic zone is taken for it",
             {"west.kml", "east.kml"},
             {T(StringId::RES_LAND_TEXT_FORMAT), {}, {}, true, QStringLiteral("land")},
             QStringLiteral("auto"),
             {QStringLiteral("on the CGCS2000 ellipsoid"), QStringLiteral("EPSG:4527")}},
            {"a GeoPackage without the zone number",
             {"west.kml", "east.kml"},
             {QStringLiteral("GeoPackage (*.gpkg)"), T(StringId::RES_LAND_CRS_AUTO_CM), {}, false,
              QStringLiteral("plain")},
             QStringLiteral("wgs84"),
             {QStringLiteral("EPSG:4548")}},
            {"a Shapefile in the automatic zone (a folder of layer files)",
             {"west.kml", "east.kml"},
             {QStringLiteral("Shapefile (*.shp)"), T(StringId::RES_LAND_CRS_AUTO), {}, false, QStringLiteral("shapes")},
             QStringLiteral("wgs84"),
             {QStringLiteral("EPSG:4527")}},
            {"every field of a GeoJSON of many",
             {"village.geojson"},
             {QStringLiteral("GeoPackage (*.gpkg)"), T(StringId::RES_LAND_CRS_AUTO), {}, false,
              QStringLiteral("village")},
             QStringLiteral("wgs84"),
             {QStringLiteral("EPSG:4527")}},
            {"DXF in a zone typed in, a field outside it named",
             {"west.kml", "beyond.kml"},
             {QStringLiteral("DXF (*.dxf)"), T(StringId::RES_LAND_CRS_EPSG), QStringLiteral("EPSG:4528"),
              false, QStringLiteral("cad.dxf")},
             QStringLiteral("wgs84"),
             {QStringLiteral("西地 lies outside zone 40 (its centre is in zone 39)"),
              QStringLiteral("EPSG:4528")}},
        };
        for (const auto& t : table) {
            SelectNames(rig.ComputerList(), t.files);
            bool done = false;
            QString crsAfter;
            QString summary;
            DriveExportDialog(t.steps, &done, &crsAfter);
            TakeMessage(&summary);
            ctrlE();
            QTRY_VERIFY_WITH_TIMEOUT(done && !summary.isEmpty(), kWaitMs);
            QVERIFY2(crsAfter == t.crsAfterFormat, t.what);
            for (const QString& s : t.says) QVERIFY2(summary.contains(s), qPrintable(summary));
        }

        // The text: UTF-8, the seller as its producer, zone 39 in the eastings.
        QFile text(dir + "/land.txt");
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QByteArray bytes = text.readAll();
        QVERIFY(IsValidUtf8(bytes.toStdString()));
        const QString s = QString::fromUtf8(bytes);
        QVERIFY(s.contains(QStringLiteral("数据产生单位=张家农机\r\n")));
        QVERIFY(s.contains(QStringLiteral("带号=39\r\n")));
        QVERIFY(s.contains(QRegularExpression(QStringLiteral("\nJ1,1,\\d{7}\\.\\d{3},39\\d{6}\\.\\d{3}\r\n"))));
        // The GeoPackage is in the code chosen, eastings without the zone.
        const QByteArray gpkg = Run(QStringLiteral("ogrinfo"), {QStringLiteral("-al"), dir + "/plain.gpkg"});
        QVERIFY2(gpkg.contains("ID[\"EPSG\",4548]"), gpkg.constData());
        QVERIFY(gpkg.contains("POLYGON ((4"));
        const QByteArray village = Run(QStringLiteral("ogrinfo"), {QStringLiteral("-al"), dir + "/village.gpkg"});
        QVERIFY2(village.contains("name (String) = North") && village.contains("name (String) = South"),
                 village.constData());
        // The Shapefile: a folder whose .prj names the zone's code.
        const QByteArray shp = Run(QStringLiteral("gdalsrsinfo"), {QStringLiteral("-e"), dir + "/shapes"});
        QVERIFY2(shp.contains("EPSG:4527"), shp.constData());
        // The DXF: boundaries, numbers and labels in metres of zone 40.
        const QByteArray dxf = Run(QStringLiteral("ogrinfo"), {QStringLiteral("-al"), QStringLiteral("-q"), dir + "/cad.dxf"});
        for (const char* e : {"Layer (String) = boundary", "Layer (String) = point_numbers",
                              "Text (String) = J4", "Layer (String) = field_labels", "POINT (40"})
            QVERIFY2(dxf.contains(e), e);
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestLandExport)
#include "test_land_export.moc"
