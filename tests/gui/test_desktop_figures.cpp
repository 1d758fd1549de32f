// The figures a farmer can defend, in the desktop program, as a user gets
// them: the receiver's accuracy set through View > Receiver accuracy...
// (bad entries refused, the field view's band and the ledger's tolerance
// column measured again), a huge file's read with its progress bar and its
// Stop button, the ledger's progress over many files, and "Keep both" on a
// pair of fields measured twice, clicked in the ledger window.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "geo/figures.h"
#include "gui_rig.h"
#include "report/field_samples.h"
#include "report/ledger_table.h"
#include "ui/accuracy_dialog.h"
#include "ui/field_view.h"
#include "ui/ledger_overlaps.h"
#include "ui/ledger_window.h"

namespace dorvane::test {
namespace {

using testing::SampleField;

QString Says(StringId id) {
    return QString::fromStdString(Text(id));
}

void WriteText(const QString& path, const std::string& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
}

// A square field 0.0009 degrees on a side with its south edge on the equator.
// Its boundary, worked by hand on WGS84 (a = 6378137 m, f = 1/298.257223563):
// the equator and the parallel 0.0009 degrees north are a * 0.0009 * pi/180 =
// 100.18748 m each, the meridian sides a(1 - e²) * 0.0009 * pi/180 = 99.51691 m
// each; 399.40878 m in all (GeographicLib's Planimeter: 399.408780).
constexpr const char* kSquare =
    R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"name":"Square"},)"
    R"("geometry":{"type":"Polygon","coordinates":[[[116,0],[116.0009,0],[116.0009,0.0009],)"
    R"([116,0.0009],[116,0]]]}}]})";
// Boundary x 1.25 m = 499.26 m², x 2.5 m = 998.52 m² (in mu: 0.75 and 1.50).
constexpr const char* kBandAtDefault = "9 970 m² ± 499 m²\n14.96 ± 0.75";
constexpr const char* kBandAt2_5 = "9 970 m² ± 999 m²\n14.96 ± 1.50";
constexpr const char* kColumnAtDefault = "499.26";
constexpr const char* kColumnAt2_5 = "998.52";

/// Fields in the big file: a village's worth many times over.
constexpr int kBigFeatures = 50'000;
/// Fields of the file whose read is stopped or left for another: enough to
/// report progress many times (every 256 features) before it would end, and
/// quick to open under the sanitizers.
constexpr int kStoppedFeatures = 10'000;

// `n` small squares on a grid, as one GeoJSON.
std::string ManySquares(int n) {
    std::string s = R"({"type":"FeatureCollection","features":[)";
    constexpr int kPerRow = 250;
    constexpr double kStep = 0.0005, kSide = 0.0004;
    for (int i = 0; i < n; ++i) {
        const double lon = 100 + (i % kPerRow) * kStep, lat = 30 + (i / kPerRow) * kStep;
        char buf[320];
        std::snprintf(buf, sizeof buf,
                      R"(%s{"type":"Feature","properties":{"name":"F%d"},"geometry":{"type":"Polygon",)"
                      R"("coordinates":[[[%.6f,%.6f],[%.6f,%.6f],[%.6f,%.6f],[%.6f,%.6f],[%.6f,%.6f]]]}})",
                      i ? "," : "", i, lon, lat, lon + kSide, lat, lon + kSide, lat + kSide, lon,
                      lat + kSide, lon, lat);
        s += buf;
    }
    return s + "]}";
}

// The band's value and, on the line under it, the same in mu.
QString Band(CFieldView* v) {
    QTreeWidget* t = v->Figures();
    const QString label = Says(StringId::RES_FIELD_AREA_TOLERANCE);
    for (int i = 0; i + 1 < t->topLevelItemCount(); ++i)
        if (t->topLevelItem(i)->text(0) == label)
            return t->topLevelItem(i)->text(1) + QLatin1Char('\n') + t->topLevelItem(i + 1)->text(1);
    return {};
}

QString ToleranceCell(CLedgerWindow* w) {
    const QTableWidgetItem* item =
        w->Table()->item(0, static_cast<int>(report::LedgerColumn::kAreaTolerance));
    return item ? item->text() : QString();
}

void Click(QWidget* w) {
    // A check box answers on its box and its text, not the whole row.
    const QPoint at = qobject_cast<QCheckBox*>(w) ? QPoint(8, w->height() / 2) : w->rect().center();
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

void TypeInto(QLineEdit* e, const QString& text) {
    Click(e);
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, text);
}

// Clicks the View menu's title, then its "Receiver accuracy..." item.
void ClickAccuracyCommand(CMainFrame& frame) {
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    QMenuBar* bar = frame.menuBar();
    QAction* item = frame.Action(cmd::kAccuracy);
    QAction* view = nullptr;
    for (QAction* a : bar->actions())
        if (a->menu() && a->menu()->actions().contains(item)) view = a;
    QVERIFY(view);
    QTest::mouseClick(frame.windowHandle(), Qt::LeftButton, {},
                      bar->mapTo(&frame, bar->actionGeometry(view).center()));
    QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMenu*>(QApplication::activePopupWidget()), kWaitMs);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QCOMPARE(menu, view->menu());
    const QPoint at = menu->actionGeometry(item).center();
    QTest::mouseMove(menu, at);
    QTest::mouseClick(menu, Qt::LeftButton, {}, at);
}

// Runs `answer` on the accuracy dialog once it is open (it runs modally).
void WhenAccuracyDialogOpens(std::function<void(CAccuracyDialog*)> answer) {
    QTimer::singleShot(50, [answer] {
        auto* dlg = dynamic_cast<CAccuracyDialog*>(QApplication::activeModalWidget());
        if (!dlg) return WhenAccuracyDialogOpens(answer);
        answer(dlg);
    });
}

// Return in the file dialog's name field, again while it stays open: its
// completer may show a late list that takes the Return for itself.
void PressReturnUntilClosed(QPointer<QFileDialog> dlg, QLineEdit* edit) {
    if (QWidget* popup = QApplication::activePopupWidget()) QTest::keyClick(popup, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_Return);
    QTimer::singleShot(500, [dlg, edit] {
        if (dlg && dlg->isVisible()) PressReturnUntilClosed(dlg, edit);
    });
}

void AnswerFileDialog(const QString& path) {
    QTimer::singleShot(200, [path] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dlg) return AnswerFileDialog(path);
        auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return;
        edit->clear();
        QTest::keyClicks(edit, path);
        PressReturnUntilClosed(dlg, edit);
    });
}

QPushButton* Button(QWidget* w, StringId text) {
    for (auto* b : w->findChildren<QPushButton*>())
        if (b->text() == Says(text)) return b;
    return nullptr;
}

// Every value the bar took, and whether one lay strictly inside its range.
struct BarWatch {
    QList<int> values;
    bool between = false;
    QMetaObject::Connection watching;
    explicit BarWatch(QProgressBar* bar) {
        watching = QObject::connect(bar, &QProgressBar::valueChanged, bar, [this, bar](int v) {
            values << v;
            if (v > bar->minimum() && v < bar->maximum()) between = true;
        });
    }
    ~BarWatch() { QObject::disconnect(watching); }
    BarWatch(const BarWatch&) = delete;
    BarWatch& operator=(const BarWatch&) = delete;
};

}  // namespace

class TestDesktopFigures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseScratchHome();
        qputenv("TZ", "UTC");
    }

    void accuracySetThroughTheMenuMeasuresAgain() {
        Rig rig;
        const QString dir = QDir(rig.computer.path()).absolutePath();
        WriteText(dir + "/square.geojson", kSquare);
        QCOMPARE(ReceiverAccuracySetting(), geo::kDefaultReceiverAccuracy_m);
        CMainFrame& frame = *rig.frame;
        frame.OpenInFieldView(dir + "/square.geojson");
        CFieldView* view = frame.FieldView();
        QTRY_VERIFY_WITH_TIMEOUT(!view->Busy() && !Band(view).isEmpty(), kWaitMs);
        QVERIFY2(Band(view).startsWith(QString::fromUtf8(kBandAtDefault)), qPrintable(Band(view)));
        // The folder's ledger (nothing selected), with Ctrl+L.
        frame.ComputerPane()->ListFolder(dir);
        frame.SetActivePane(frame.ComputerPane());
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        rig.ComputerList()->setFocus();
        QTest::keyClick(rig.ComputerList(), Qt::Key_L, Qt::ControlModifier);
        CLedgerWindow* ledger = frame.Ledger();
        QVERIFY(ledger);
        QTRY_VERIFY_WITH_TIMEOUT(!ledger->Loading(), kWaitMs);
        QCOMPARE(ToleranceCell(ledger), QString::fromLatin1(kColumnAtDefault));

        // Bad entries are refused with a clear message, the dialog stays and
        // nothing is saved; Escape leaves it all as it was.
        const char* bad[] = {"-1", "abc", "0", "51", "", "1e999"};
        QStringList problems;
        bool refusedAll = true;
        WhenAccuracyDialogOpens([&](CAccuracyDialog* dlg) {
            for (const char* b : bad) {
                TypeInto(dlg->Edit(), QString::fromLatin1(b));
                QTest::keyClick(dlg->Edit(), Qt::Key_Return);
                refusedAll = refusedAll && dlg->isVisible() && dlg->Problem()->isVisible() &&
                             dlg->Problem()->text().contains(QString::fromLatin1(b));
                problems << dlg->Problem()->text();
            }
            QTest::keyClick(dlg->Edit(), Qt::Key_Escape);
        });
        ClickAccuracyCommand(frame);
        QVERIFY2(refusedAll, qPrintable(problems.join(QLatin1Char('|'))));
        QVERIFY(problems.last().contains(QStringLiteral("50")));  // the bound is said
        QCOMPARE(ReceiverAccuracySetting(), geo::kDefaultReceiverAccuracy_m);
        QCOMPARE(ToleranceCell(ledger), QString::fromLatin1(kColumnAtDefault));

        // 2.5 m, typed and taken with Return: both windows measure again.
        WhenAccuracyDialogOpens([](CAccuracyDialog* dlg) {
            TypeInto(dlg->Edit(), QStringLiteral("2.5"));
            QTest::keyClick(dlg->Edit(), Qt::Key_Return);
        });
        ClickAccuracyCommand(frame);
        QCOMPARE(ReceiverAccuracySetting(), 2.5);
        QTRY_VERIFY_WITH_TIMEOUT(Band(view).startsWith(QString::fromUtf8(kBandAt2_5)), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(ToleranceCell(ledger), QString::fromLatin1(kColumnAt2_5), kWaitMs);
        // And the ledger's CSV carries it.
        const QString csv = dir + "/ledger.csv";
        AnswerFileDialog(csv);
        QTest::mouseClick(Button(ledger, StringId::RES_LEDGER_EXPORT_CSV), Qt::LeftButton);
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains(QByteArray(",") + kColumnAt2_5 + ","));
        // A field view made later starts with the setting.
        CFieldView later;
        QCOMPARE(later.ReceiverAccuracy(), 2.5);
        SaveReceiverAccuracySetting(geo::kDefaultReceiverAccuracy_m);
    }

    void accuracyParsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("metres");  // 0: refused
        QTest::newRow("default") << "1.25" << 1.25;
        QTest::newRow("comma") << " 2,5 " << 2.5;
        QTest::newRow("bound") << "50" << 50.0;
        QTest::newRow("over") << "50.01" << 0.0;
        QTest::newRow("zero") << "0" << 0.0;
        QTest::newRow("negative") << "-1" << 0.0;
        QTest::newRow("word") << "abc" << 0.0;
        QTest::newRow("nan") << "nan" << 0.0;
        QTest::newRow("inf") << "inf" << 0.0;
        QTest::newRow("unit") << "2 m" << 0.0;
    }
    void accuracyParsing() {
        QFETCH(QString, text);
        QFETCH(double, metres);
        const auto v = ParseReceiverAccuracy(text);
        QCOMPARE(v.value_or(0.0), metres);
    }

    void aBigFileShowsItsProgressAndCanBeStopped() {
        QTemporaryDir dir;
        const QString big = dir.filePath(QStringLiteral("villages.geojson"));
        WriteText(big, ManySquares(kBigFeatures));
        const QString stopped = dir.filePath(QStringLiteral("stopped.geojson"));
        WriteText(stopped, ManySquares(kStoppedFeatures));
        const QString small = dir.filePath(QStringLiteral("square.geojson"));
        WriteText(small, kSquare);
        CFieldView view;
        view.resize(900, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        // Read to the end: the bar moves, the GUI thread's timer keeps firing.
        {
            BarWatch watch(view.Progress());
            int ticks = 0;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] { ticks += view.Busy() ? 1 : 0; });
            tick.start(20);
            QElapsedTimer clock;
            clock.start();
            view.ShowFile(big);
            QTRY_VERIFY_WITH_TIMEOUT(view.Progress()->isVisible(), kWaitMs);
            QVERIFY(view.Stop()->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), 4 * kWaitMs);
            const qint64 took = clock.elapsed();
            QVERIFY2(watch.between, qPrintable(QString::number(watch.values.size())));
            // A tick for every 20 ms of reading, give or take a busy machine.
            QVERIFY2(ticks >= took / 20 / 4, qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(took)));
            QVERIFY(!view.Progress()->isVisible());
            QVERIFY(!view.Stop()->isVisible());
            QCOMPARE(view.Shapes()->count(), kBigFeatures);
        }

        // Stopped with the button: the read ends, and says so.
        view.ShowFile(stopped);
        QTRY_VERIFY_WITH_TIMEOUT(view.Stop()->isVisible(), kWaitMs);
        Click(view.Stop());
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        QVERIFY2(view.Message()->text().contains(Says(StringId::RES_FIELD_ERR_CANCELLED)),
                 qPrintable(view.Message()->text()));
        QVERIFY(!view.Progress()->isVisible());

        // Another file chosen during a read: that one is shown.
        view.ShowFile(stopped);
        QTRY_VERIFY_WITH_TIMEOUT(view.Progress()->isVisible(), kWaitMs);
        view.ShowFile(small);
        QTRY_VERIFY_WITH_TIMEOUT(!view.Busy(), kWaitMs);
        QCOMPARE(view.Shown(), small);
        QVERIFY(Band(&view).startsWith(QString::fromUtf8(kBandAtDefault)));
        QVERIFY(!view.Progress()->isVisible());
    }

    void theLedgerShowsItsProgressOverManyFiles() {
        QTemporaryDir dir;
        constexpr int kFiles = 120;
        for (int i = 0; i < kFiles; ++i)
            testing::WriteSample(dir.filePath(QStringLiteral("F%1.txt").arg(i)).toStdString(),
                                 SampleField{.name = "F", .shift = i * 0.01});
        CLedgerWindow w;
        w.show();
        BarWatch watch(w.Progress());
        w.Load({dir.path()});
        QTRY_VERIFY_WITH_TIMEOUT(!w.Loading(), 2 * kWaitMs);
        QVERIFY2(watch.between, qPrintable(QString::number(watch.values.size())));
        QCOMPARE(w.Progress()->maximum(), kFiles);
        QVERIFY(!w.Progress()->isVisible());
        QCOMPARE(w.Shown().rows.size(), std::size_t{kFiles});
    }

    // Two fields sharing 95 % of their ground: the second is left out until
    // "Keep both" is clicked for that pair, and the CSV follows.
    void keepBothPutsTheFieldBackIntoTheTotals() {
        QTemporaryDir dir;
        const SampleField a{.name = "A"};
        testing::WriteSample(dir.filePath(QStringLiteral("A.txt")).toStdString(), a);
        testing::WriteSample(dir.filePath(QStringLiteral("B.txt")).toStdString(),
                             SampleField{.name = "B", .shift = a.dLon * 0.05});
        testing::WriteSample(dir.filePath(QStringLiteral("Far.txt")).toStdString(),
                             SampleField{.name = "Far", .shift = 1});
        CLedgerWindow w;
        w.resize(1100, 700);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.Load({dir.path()});
        QTRY_VERIFY_WITH_TIMEOUT(!w.Loading(), kWaitMs);
        CLedgerOverlaps* list = w.Overlaps();
        QVERIFY(list->isVisible());
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->item(0, CLedgerOverlaps::kFieldA)->text(), QStringLiteral("A.txt"));
        QCOMPARE(list->item(0, CLedgerOverlaps::kFieldB)->text(), QStringLiteral("B.txt"));
        // 95 % of the smaller, as far as the handheld's single-precision corners place them.
        QVERIFY(std::abs(list->item(0, CLedgerOverlaps::kShare)->text().toDouble() - 95.0) <= 0.2);
        QCOMPARE(list->item(0, CLedgerOverlaps::kTwice)->text(),
                 Says(StringId::RES_LEDGER_COL_OVERLAP_TWICE));
        const double m2 = list->item(0, CLedgerOverlaps::kOverlapM2)->text().toDouble();
        QCOMPARE(list->item(0, CLedgerOverlaps::kOverlapMu)->text(),
                 QString::number(m2 / geo::kSquareMetresPerMu, 'f', 4));

        auto totalPoints = [&] {
            return w.TotalsTable()->item(0, static_cast<int>(report::LedgerColumn::kPoints))->text().toInt();
        };
        const int onePoints = static_cast<int>(w.Shown().rows[0].points);
        const struct {
            bool keep;
            std::size_t fields;
        } steps[] = {{true, 3}, {false, 2}, {true, 3}};
        QCOMPARE(w.Shown().totals.fields, std::size_t{2});
        QCOMPARE(totalPoints(), 2 * onePoints);
        for (const auto& s : steps) {
            auto* box = qobject_cast<QCheckBox*>(list->KeepBoth(0));
            QVERIFY(box);
            QCOMPARE(box->isChecked(), !s.keep);
            Click(box);
            QTRY_COMPARE_WITH_TIMEOUT(w.Shown().totals.fields, s.fields, kWaitMs);
            QCOMPARE(totalPoints(), static_cast<int>(s.fields) * onePoints);
            QCOMPARE(qobject_cast<QCheckBox*>(list->KeepBoth(0))->isChecked(), s.keep);
        }
        // Sorted by file, last first (two clicks on its heading): the CSV lists
        // the rows so, and its overlaps still name the fields that overlap.
        QHeaderView* head = w.Table()->horizontalHeader();
        const int file = static_cast<int>(report::LedgerColumn::kFile);
        const QPoint at(head->sectionViewportPosition(file) + head->sectionSize(file) / 2,
                        head->height() / 2);
        QTest::mouseClick(head->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseClick(head->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(w.Table()->item(0, file)->text(), QStringLiteral("Far.txt"));
        // The CSV written through the window: both fields counted, the pair kept.
        const QString csv = dir.filePath(QStringLiteral("kept.csv"));
        AnswerFileDialog(csv);
        QTest::mouseClick(Button(&w, StringId::RES_LEDGER_EXPORT_CSV), Qt::LeftButton);
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY2(!text.contains(QString::fromStdString(Text(StringId::RES_FIELD_OVERLAP_TWICE))),
                 qPrintable(text));
        const QString kept = Says(StringId::RES_LEDGER_COL_OVERLAP_TWICE) + QStringLiteral(" (") +
                             Says(StringId::RES_LEDGER_KEPT_BOTH) + QStringLiteral(")");
        QVERIFY2(text.contains(QStringLiteral("A.txt,B.txt,")) && text.contains(kept), qPrintable(text));
        // The totals record counts the points of all three fields.
        const QStringList records = text.split(QStringLiteral("\r\n"));
        const QString totals = Says(StringId::RES_LEDGER_TOTALS);
        bool found = false;
        for (const QString& r : records)
            if (r.startsWith(totals + QLatin1Char(','))) {
                found = true;
                QCOMPARE(r.split(QLatin1Char(','))
                             .at(static_cast<int>(report::LedgerColumn::kPoints))
                             .toInt(),
                         3 * onePoints);
            }
        QVERIFY(found);
        QVERIFY2(text.indexOf(QStringLiteral("\r\nFar.txt,")) < text.indexOf(QStringLiteral("\r\nB.txt,")) &&
                     text.indexOf(QStringLiteral("\r\nB.txt,")) < text.indexOf(QStringLiteral("\r\nA.txt,")),
                 qPrintable(text));
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestDesktopFigures)
#include "test_desktop_figures.moc"
