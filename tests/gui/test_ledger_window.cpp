// The ledger window and "Export as..." as a user drives them: Ctrl+L on the
// computer pane, clicks on the column headings, the date filter typed into
// its fields, the CSV/PDF buttons through the real file dialog, Ctrl+E.
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QPointer>
#include <QFile>
#include <QtTest>
#include <functional>

#include <QScreen>
#include <QScrollBar>

#include "convert/download.h"
#include "gui_rig.h"
#include "ui/overview_widget.h"
#include "report/field_samples.h"
#include "report/ledger_table.h"
#include "report_pdf/field_picture.h"
#include "ui/field_map.h"
#include "ui/ledger_window.h"
#include "ui/tile_fetcher.h"

namespace dorvane::test {
namespace {

using testing::SampleField;

// Return in the dialog's name field, again while the dialog stays open: the
// field's completer fills its list from a thread of its own, and a list that
// shows up late (a busy machine) takes the Return for itself.
void PressReturnUntilClosed(QPointer<QFileDialog> dlg, QLineEdit* edit) {
    if (QWidget* popup = QApplication::activePopupWidget()) QTest::keyClick(popup, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_Return);
    QTimer::singleShot(500, [dlg, edit] {
        if (dlg && dlg->isVisible()) PressReturnUntilClosed(dlg, edit);
    });
}

// Answers the next modal file dialog with `path` typed into its name field.
void AnswerFileDialog(const QString& path, bool* seen) {
    QTimer::singleShot(200, [path, seen] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dlg) return AnswerFileDialog(path, seen);  // not open yet: look again
        *seen = true;
        auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        edit->clear();
        QTest::keyClicks(edit, path);
        PressReturnUntilClosed(dlg, edit);
    });
}

// Accepts the next modal file dialog as it is offered (Return in its name
// field); `offered` gets the folder and name it offered.
void AcceptFileDialog(QString* offered) {
    QTimer::singleShot(200, [offered] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dlg) return AcceptFileDialog(offered);  // not open yet: look again
        auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        *offered = dlg->directory().filePath(edit->text());
        PressReturnUntilClosed(dlg, edit);
    });
}

// Ctrl+`key` typed into the computer list of the active main window.
void CtrlKeyToComputerList(Rig& rig, Qt::Key key) {
    rig.frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
    rig.ComputerList()->setFocus();
    QTest::keyClick(rig.ComputerList(), key, Qt::ControlModifier);
}

// Lists `dir` in the computer pane and opens its ledger with Ctrl+L (nothing selected:
// the folder's ledger); the window once its rows are read, or null.
CLedgerWindow* LedgerOfFolder(Rig& rig, const QString& dir) {
    rig.frame->ComputerPane()->ListFolder(dir);
    rig.frame->SetActivePane(rig.frame->ComputerPane());
    CtrlKeyToComputerList(rig, Qt::Key_L);
    CLedgerWindow* w = rig.frame->Ledger();
    if (w && !QTest::qWaitFor([w] { return !w->Loading(); }, kWaitMs)) return nullptr;
    return w;
}

QPushButton* Button(QWidget* w, StringId text) {
    for (auto* b : w->findChildren<QPushButton*>())
        if (b->text() == QString::fromStdString(Text(text))) return b;
    return nullptr;
}

int ColumnOf(report::LedgerColumn c) {
    return static_cast<int>(c);
}

QStringList ColumnTexts(QTableWidget* t, int col) {
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r) out << t->item(r, col)->text();
    return out;
}

}  // namespace

class TestLedgerWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        UseScratchHome();
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));  // no network in tests
        qputenv("TZ", "UTC");
    }

    // The CSV and "Export as..." are offered beside the files under a name the
    // user can take as it is, and what is written shows in the computer pane
    // that lists that folder (it used to start in the program's own folder
    // with no name, and the new file appeared only after F5).
    void OutputsAreOfferedBesideTheFilesAndListedThere() {
        Rig rig;
        const QString dir = QDir(rig.computer.path()).absolutePath();
        testing::WriteSample((dir + "/V1.txt").toStdString(), SampleField{.name = "V1"});
        CLedgerWindow* w = LedgerOfFolder(rig, dir);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QString offered;
        AcceptFileDialog(&offered);
        QTest::mouseClick(Button(w, StringId::RES_LEDGER_EXPORT_CSV), Qt::LeftButton);
        const QString csv =
            QStringLiteral("ledger-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate));
        QCOMPARE(offered, dir + "/" + csv);
        QVERIFY(QFileInfo::exists(dir + "/" + csv));
        QTRY_VERIFY_WITH_TIMEOUT(Column(rig.ComputerList(), 0).contains(csv), kWaitMs);
        QTest::mouseClick(Button(w, StringId::RES_LEDGER_CLOSE), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), kWaitMs);

        SelectNames(rig.ComputerList(), {"V1.txt"});
        AcceptFileDialog(&offered);
        CtrlKeyToComputerList(rig, Qt::Key_E);
        QCOMPARE(offered, dir + "/V1");  // the dialog adds .gpkg, the format first offered
        QVERIFY(QFileInfo::exists(dir + "/V1.gpkg"));
        QTRY_VERIFY_WITH_TIMEOUT(Column(rig.ComputerList(), 0).contains(QStringLiteral("V1.gpkg")),
                                 kWaitMs);
        // Listed again, the pane keeps what the user had selected.
        QCOMPARE(rig.frame->ComputerPane()->SelectedPaths(), QStringList{dir + "/V1.txt"});
    }

    // A PDF whose map picture waits for a tile server that never answers: the
    // writing runs behind the busy box, and the GUI thread keeps running
    // (its timers fire, the test's own server on it accepts the requests).
    // Three fields: the server that did not answer for the first picture is
    // not waited for again, so the PDF takes one wait, not three.
    void PdfWaitingForTilesKeepsTheWindowsAlive() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QList<QTcpSocket*> silent;  // accepted, never answered
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* s = server.nextPendingConnection()) silent << s;
        });
        SaveTileSettings(TileSettingsFor(
            QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(server.serverPort())));
        Rig rig;
        const QString dir = rig.computer.path();
        // Three fields apart (the same ground three times would be "measured twice?" and
        // left out of the bill).
        double shift = 0;
        for (const char* name : {"V1", "V2", "V3"})
            testing::WriteSample((dir + "/" + name + ".txt").toStdString(),
                                 SampleField{.name = name, .shift = shift++});
        CLedgerWindow* w = LedgerOfFolder(rig, dir);
        QVERIFY(w);

        int ticks = 0;
        bool busySeen = false;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            ++ticks;
            QWidget* m = QApplication::activeModalWidget();
            if (m && m->objectName() == QStringLiteral("busyBox")) busySeen = true;
        });
        tick.start(100);
        bool seen = false;
        const QString pdf = dir + "/bill.pdf";
        AnswerFileDialog(pdf, &seen);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(Button(w, StringId::RES_LEDGER_EXPORT_PDF), Qt::LeftButton);
        const qint64 took = clock.elapsed();
        tick.stop();
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
        QVERIFY(seen);
        QVERIFY2(!silent.isEmpty(), "the picture asked the test's tile server");
        QVERIFY2(took >= 2000, qPrintable(QString::number(took)));  // it did wait for tiles
        QVERIFY2(took < 2 * report::kPictureTileWaitMs, qPrintable(QString::number(took)));  // once
        QVERIFY(busySeen);
        // While it waited, the GUI thread ran its timers all along.
        QVERIFY2(ticks >= took / 100 / 2,
                 qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(took)));
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.waitForFinished(kWaitMs));
        QVERIFY(info.readAllStandardOutput().contains("Pages:           4"));
        qDeleteAll(silent);
    }

    // Downloads from the converting model (the KML under the handheld's name and the
    // received bytes as .bak) are one row each; the window opens as wide as its columns
    // (within the screen) and, opened again after the user scrolled right, starts at
    // File and Name.
    // The map of the ledger's fields: a click on a field selects its row; a
    // row selected in the table is outlined on the map (pixels counted).
    void TheOverviewMapAndTheTableSelectEachOther() {
        Rig rig;
        const QString dir = rig.computer.path();
        const SampleField fields[] = {{.name = "A1003"}, {.name = "A1004", .shift = 1}};
        for (const SampleField& f : fields) {
            const std::string text = WriteArea(testing::SampleArea(f));
            const std::vector<std::uint8_t> bytes(text.begin(), text.end());
            QVERIFY(StoreDownload(bytes, f.name + ".txt", dir.toStdString(), kConvertingModelCode).ok());
        }
        CLedgerWindow* w = LedgerOfFolder(rig, dir);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTRY_VERIFY_WITH_TIMEOUT(!w->Loading(), kWaitMs);
        COverviewWidget* map = w->Overview();
        QTableWidget* t = w->Table();
        QCOMPARE(map->Map().Size(), std::size_t{2});
        auto centreOf = [&](int field) {
            const auto& ring = map->Map().Fields()[static_cast<std::size_t>(field)].ring;
            WorldPoint c{0, 0};
            for (const WorldPoint& p : ring) c = {c.x + p.x / ring.size(), c.y + p.y / ring.size()};
            return WorldToScreen(c, map->View(), map->size()).toPoint();
        };
        auto selectedFile = [&] {
            const QModelIndexList rows = t->selectionModel()->selectedRows();
            return rows.size() == 1 ? t->item(rows.front().row(), ColumnOf(report::LedgerColumn::kFile))->text()
                                    : QString();
        };
        auto outlinePixels = [&](QPoint around) {
            // The fields are drawn on a worker: read once its picture is in.
            if (!QTest::qWaitFor([map] { return map->PictureReady(); }, kWaitMs)) return -1;
            const QImage img = map->grab().toImage();
            int n = 0;
            for (int y = around.y() - 60; y <= around.y() + 60; ++y)
                for (int x = around.x() - 60; x <= around.x() + 60; ++x)
                    if (img.rect().contains(x, y) && img.pixelColor(x, y).rgb() == map::kSelectedOutline.rgb()) ++n;
            return n;
        };
        // The fields lie a degree apart: each is a dot from afar. The view
        // goes close to one field (about 150 px wide), as the wheel would.
        auto closeTo = [&](int field) {
            const auto& ring = map->Map().Fields()[static_cast<std::size_t>(field)].ring;
            double x0 = 1, x1 = 0, y = 0, x = 0;
            for (const WorldPoint& p : ring) {
                x0 = std::min(x0, p.x);
                x1 = std::max(x1, p.x);
                x += p.x / ring.size();
                y += p.y / ring.size();
            }
            map->SetView({x, y, std::log2(150.0 / ((x1 - x0) * kTileSize))});
        };
        for (int field : {1, 0}) {
            closeTo(field);
            const QPoint at = centreOf(field);
            QVERIFY(map->rect().contains(at));
            QTest::mouseClick(map, Qt::LeftButton, {}, at);
            QCOMPARE(selectedFile(), QString::fromStdString(w->Shown().rows[static_cast<std::size_t>(field)].fileText));
            QVERIFY(outlinePixels(at) > 20);
        }
        // A row clicked in the table: its field is outlined, the other not.
        for (int r = 0; r < t->rowCount(); ++r) {
            const QTableWidgetItem* item = t->item(r, ColumnOf(report::LedgerColumn::kFile));
            const QRect cell = t->visualItemRect(item);
            QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, cell.center());
            const int field = item->text() == QString::fromStdString(w->Shown().rows[0].fileText) ? 0 : 1;
            closeTo(field);
            QTRY_VERIFY_WITH_TIMEOUT(outlinePixels(centreOf(field)) > 20, kWaitMs);
            closeTo(1 - field);
            QCOMPARE(outlinePixels(centreOf(1 - field)), 0);
        }
    }

    // A village's fields in one GeoJSON: each row is drawn with its own
    // shape, not the file's first one over and over.
    void EveryShapeOfAFileIsDrawnAsItsOwnField() {
        Rig rig;
        const QString dir = rig.computer.path();
        struct Square {
            const char* name;
            double lon, lat, side;
        };
        const Square squares[] = {{"North", 116.30, 39.95, 0.002}, {"Middle", 116.40, 39.90, 0.003},
                                  {"South", 116.50, 39.85, 0.004}};
        QString json = QStringLiteral("{\"type\":\"FeatureCollection\",\"features\":[");
        for (const Square& q : squares) {
            if (&q != squares) json += QLatin1Char(',');
            const double x0 = q.lon, y0 = q.lat, x1 = q.lon + q.side, y1 = q.lat + q.side;
            json += QStringLiteral("{\"type\":\"Feature\",\"properties\":{\"name\":\"%1\"},\"geometry\":"
                                   "{\"type\":\"Polygon\",\"coordinates\":[[[%2,%3],[%4,%3],[%4,%5],[%2,%5],[%2,%3]]]}}")
                        .arg(QLatin1String(q.name))
                        .arg(x0, 0, 'f', 6)
                        .arg(y0, 0, 'f', 6)
                        .arg(x1, 0, 'f', 6)
                        .arg(y1, 0, 'f', 6);
        }
        json += QStringLiteral("]}");
        QFile file(dir + QStringLiteral("/village.geojson"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json.toUtf8());
        file.close();
        CLedgerWindow* w = LedgerOfFolder(rig, dir);
        QVERIFY(w);
        QTRY_VERIFY_WITH_TIMEOUT(!w->Loading(), kWaitMs);
        const auto& drawn = w->Overview()->Map().Fields();
        QCOMPARE(drawn.size(), std::size(squares));
        QCOMPARE(w->Shown().rows.size(), std::size(squares));
        for (std::size_t i = 0; i < std::size(squares); ++i) {
            const report::LedgerRow& row = w->Shown().rows[i];
            const Square* q = nullptr;
            for (const Square& s : squares)
                if (row.name == s.name) q = &s;
            QVERIFY2(q, row.name.c_str());
            double x0 = 1, x1 = 0;
            for (const WorldPoint& p : drawn[i].ring) {
                x0 = std::min(x0, p.x);
                x1 = std::max(x1, p.x);
            }
            QVERIFY2(!drawn[i].ring.empty(), row.name.c_str());
            QVERIFY2(std::abs(x0 - ToWorld(q->lon, q->lat).x) < 1e-9, row.name.c_str());
            QVERIFY2(std::abs(x1 - ToWorld(q->lon + q->side, q->lat).x) < 1e-9, row.name.c_str());
        }
        // Widened to its columns after a load, the window stays on the screen
        // (its Print and Close buttons sit at the right edge), wherever it was.
        const QRect screen = w->screen()->availableGeometry();
        w->move(screen.left() + screen.width() / 8, screen.top() + screen.height() / 8);
        w->SetReceiverAccuracy(2.0);
        QTRY_VERIFY_WITH_TIMEOUT(!w->Loading(), kWaitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(screen.contains(w->frameGeometry()),
                                  qPrintable(QStringLiteral("window %1,%2 %3x%4 on screen %5,%6 %7x%8")
                                                 .arg(w->frameGeometry().x()).arg(w->frameGeometry().y())
                                                 .arg(w->frameGeometry().width()).arg(w->frameGeometry().height())
                                                 .arg(screen.x()).arg(screen.y())
                                                 .arg(screen.width()).arg(screen.height())),
                                  kWaitMs);
    }

    void ConvertedPairsAreOneRowAndTheWindowStartsAtItsFirstColumns() {
        Rig rig;
        const QString dir = rig.computer.path();
        const SampleField fields[] = {{.name = "A1003", .areaPrice = 0.075f},
                                      {.name = "A1004", .shift = 1}};
        for (const SampleField& f : fields) {
            const std::string text = WriteArea(testing::SampleArea(f));
            const std::vector<std::uint8_t> bytes(text.begin(), text.end());
            QVERIFY(StoreDownload(bytes, f.name + ".txt", dir.toStdString(), kConvertingModelCode)
                        .ok());
        }
        CLedgerWindow* w = LedgerOfFolder(rig, dir);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTableWidget* t = w->Table();
        QCOMPARE(t->rowCount(), 2);
        QStringList files = ColumnTexts(t, ColumnOf(report::LedgerColumn::kFile));
        files.sort();
        QCOMPARE(files, (QStringList{"A1003.txt (A1003.bak)", "A1004.txt (A1004.bak)"}));
        const report::Ledger raw = report::BuildLedger(
            {(dir + "/A1003.bak").toStdString(), (dir + "/A1004.bak").toStdString()}, {});
        QCOMPARE(w->Shown().totals.areaTotal, raw.totals.areaTotal);
        // Every price says its unit (" per m2", "/平方米").
        const QString perM2 = QString::fromStdString(FormatText(StringId::RES_FIELD_PER_M2, ""));
        for (const QString& s : ColumnTexts(t, ColumnOf(report::LedgerColumn::kAreaUnitPrice)))
            QVERIFY2(s.endsWith(perM2), qPrintable(s));
        QVERIFY(ColumnTexts(t, ColumnOf(report::LedgerColumn::kAreaUnitPrice))
                    .contains(QStringLiteral("0.075") + perM2));

        int columns = 0;
        for (int c = 0; c < t->columnCount(); ++c) columns += t->columnWidth(c);
        const int screenWidth = w->screen()->availableGeometry().width();
        QVERIFY2(w->width() >= std::min(columns, screenWidth - 40),
                 qPrintable(QStringLiteral("%1 for %2 of columns").arg(w->width()).arg(columns)));

        // The user scrolls to the totals with the scroll bar's arrow, closes, opens again.
        QScrollBar* bar = t->horizontalScrollBar();
        if (bar->maximum() > 0) {
            bar->setFocus();
            QTest::keyClick(bar, Qt::Key_End);
            QVERIFY(bar->value() > 0);
        }
        QTest::mouseClick(Button(w, StringId::RES_LEDGER_CLOSE), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), kWaitMs);
        w = LedgerOfFolder(rig, dir);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->Table()->horizontalScrollBar()->value(), 0);
        QCOMPARE(w->Table()->columnViewportPosition(ColumnOf(report::LedgerColumn::kFile)), 0);
        QVERIFY(w->Table()->columnViewportPosition(ColumnOf(report::LedgerColumn::kName)) <
                w->Table()->viewport()->width());
    }

    void LedgerFromKeysClicksAndExports() {
        Rig rig;
        const QString dir = rig.computer.path();
        testing::WriteFieldOfEachMethod(dir.toStdString());
        WriteFile(dir + "/broken.txt", 0);

        // Ctrl+L with nothing selected: the ledger of the pane's folder.
        CLedgerWindow* w = LedgerOfFolder(rig, dir);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTableWidget* t = w->Table();
        QCOMPARE(t->rowCount(), 4);  // three fields and the empty file with its error
        const int area = ColumnOf(report::LedgerColumn::kArea);
        const report::Ledger& l = w->Shown();
        QCOMPARE(
            w->TotalsTable()->item(0, area)->text(),
            QString::fromStdString(report::TotalsCell(l.totals, report::LedgerColumn::kArea).text));

        // A click on the area heading sorts by area, a second click reverses it.
        QHeaderView* head = t->horizontalHeader();
        const QPoint at(head->sectionViewportPosition(area) + head->sectionSize(area) / 2,
                        head->height() / 2);
        QTest::mouseClick(head->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        auto numbers = [&] {
            std::vector<double> v;
            for (const QString& s : ColumnTexts(t, area))
                if (!s.isEmpty()) v.push_back(s.toDouble());
            return v;
        };
        auto v = numbers();
        QCOMPARE(v.size(), std::size_t(3));
        QVERIFY(std::is_sorted(v.begin(), v.end()));
        QTest::mouseClick(head->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        v = numbers();
        QVERIFY(std::is_sorted(v.rbegin(), v.rend()));

        // The date filter: only 2024-05-02 (T1), the error row stays.
        auto* filter = w->findChildren<QCheckBox*>()[1];
        QCOMPARE(filter->text(), QString::fromStdString(Text(StringId::RES_LEDGER_FILTER)));
        QTest::mouseClick(filter, Qt::LeftButton, Qt::NoModifier, QPoint(8, filter->height() / 2));
        const auto dates = w->findChildren<QDateEdit*>();
        QCOMPARE(dates.size(), 2);
        for (QDateEdit* d : dates) {
            d->setFocus();
            // Each section selected, then typed over.
            d->setSelectedSection(QDateTimeEdit::DaySection);
            QTest::keyClicks(d, QStringLiteral("02"));
            d->setSelectedSection(QDateTimeEdit::MonthSection);
            QTest::keyClicks(d, QStringLiteral("05"));
            d->setSelectedSection(QDateTimeEdit::YearSection);
            QTest::keyClicks(d, QStringLiteral("2024"));
            QTest::keyClick(d, Qt::Key_Tab);
        }
        QCOMPARE(dates[0]->date(), QDate(2024, 5, 2));
        QTRY_COMPARE_WITH_TIMEOUT(t->rowCount(), 2, kWaitMs);
        QStringList files = ColumnTexts(t, ColumnOf(report::LedgerColumn::kFile));
        files.sort();
        QCOMPARE(files, (QStringList{"T1.txt", "broken.txt"}));

        // Export CSV through the file dialog.
        bool seen = false;
        const QString csv = dir + "/bill.csv";
        AnswerFileDialog(csv, &seen);
        QTest::mouseClick(Button(w, StringId::RES_LEDGER_EXPORT_CSV), Qt::LeftButton);
        QVERIFY(seen);
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(bytes.contains("T1.txt"));
        QVERIFY(!bytes.contains("V1.txt"));  // filtered out
        // The rows in the order the table shows them (sorted by area, largest first).
        const QStringList onScreen = ColumnTexts(t, ColumnOf(report::LedgerColumn::kFile));
        QCOMPARE(onScreen.size(), 2);
        QVERIFY2(bytes.indexOf(onScreen[0].toUtf8()) < bytes.indexOf(onScreen[1].toUtf8()),
                 qPrintable(onScreen.join(u' ')));
        QVERIFY(bytes.contains("\r\n"));

        // Export PDF: the summary and T1's own page.
        seen = false;
        const QString pdf = dir + "/bill.pdf";
        AnswerFileDialog(pdf, &seen);
        QTest::mouseClick(Button(w, StringId::RES_LEDGER_EXPORT_PDF), Qt::LeftButton);
        QVERIFY(seen);
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.waitForFinished(kWaitMs));
        QVERIFY2(info.readAllStandardOutput().contains("Pages:           2"),
                 "summary + one field");

        // The print dialog opens on its button and closes on Escape.
        bool printSeen = false;
        QTimer::singleShot(300, [&] {
            QWidget* m = QApplication::activeModalWidget();
            printSeen = m && m != w && m->inherits("QPrintDialog");
            if (m) QTest::keyClick(m, Qt::Key_Escape);
        });
        QTest::mouseClick(Button(w, StringId::RES_LEDGER_PRINT), Qt::LeftButton);
        QVERIFY(printSeen);

        QTest::mouseClick(Button(w, StringId::RES_LEDGER_CLOSE), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), kWaitMs);

        // Export as...: the selected files through Ctrl+E to a GeoPackage.
        SelectNames(rig.ComputerList(), {"V1.txt", "H1.txt"});
        seen = false;
        const QString gpkg = dir + "/fields.gpkg";
        AnswerFileDialog(gpkg, &seen);
        CtrlKeyToComputerList(rig, Qt::Key_E);
        QVERIFY(seen);
        QProcess ogr;
        ogr.start(QStringLiteral("ogrinfo"), {QStringLiteral("-so"), gpkg});
        QVERIFY(ogr.waitForFinished(kWaitMs));
        const QByteArray layers = ogr.readAllStandardOutput();
        QVERIFY2(layers.contains("fields (Polygon)") && layers.contains("work (Line String)"),
                 layers.constData());

        // Export as... once more, the name typed without its suffix: the dialog asks before
        // replacing fields.gpkg, and No leaves it as it was.
        QFile existing(gpkg);
        QVERIFY(existing.open(QIODevice::ReadOnly));
        const QByteArray before = existing.readAll();
        existing.close();
        bool asked = false;
        seen = false;
        AnswerFileDialog(dir + "/fields", &seen);
        std::function<void()> answerNo = [&] {
            QWidget* m = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(m);
            if (!box) return void(QTimer::singleShot(100, answerNo));
            asked = box->text().contains(QStringLiteral("fields.gpkg"));
            QAbstractButton* no = box->button(QMessageBox::No);
            QVERIFY(no);
            QTest::mouseClick(no, Qt::LeftButton);
            // The dialog stays open after No: close it.
            QTimer::singleShot(100, [] {
                if (QWidget* d = QApplication::activeModalWidget())
                    QTest::keyClick(d, Qt::Key_Escape);
            });
        };
        QTimer::singleShot(400, answerNo);
        CtrlKeyToComputerList(rig, Qt::Key_E);
        QVERIFY(seen);
        QVERIFY2(asked, "no question before replacing fields.gpkg");
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), before);
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestLedgerWindow)
#include "test_ledger_window.moc"
