// The computer pane's Linux habits and listing, the drop of device rows, the
// tooltip length rule. Offscreen platform; the drop test uses the emulator.

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "gui_rig.h"
#include "i18n/string_table.h"
#include "ui/folder_scan.h"

namespace fs = std::filesystem;
using namespace dorvane;
using namespace dorvane::test;

namespace {
void SetMtime(const QString& path, std::int64_t seconds) {
    struct utimbuf t {};
    t.actime = static_cast<time_t>(seconds);
    t.modtime = static_cast<time_t>(seconds);
    ::utime(QFile::encodeName(path).constData(), &t);
}

void PressKey(QWidget* w, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}
}  // namespace

class TestGuiPanes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    // The local time text must read as QDateTime's own "yyyy-MM-dd HH:mm",
    // on both sides of the summer-time changes and before 1970.
    void localTimeText_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<qint64>("seconds");
        const QList<QByteArray> zones = {"UTC", "Europe/Berlin", "Asia/Shanghai", "America/St_Johns",
                                         "Asia/Kathmandu"};
        const qint64 moments[] = {0, 1711846799, 1711846800, 1729990799, 1729990800, 1767225599, -86401,
                                  4102444800, 1000000000};
        for (const QByteArray& z : zones)
            for (qint64 m : moments) QTest::addRow("%s %lld", z.constData(), m) << z << m;
    }
    void localTimeText() {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, seconds);
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", zone);
        ::tzset();
        CLocalTimeText times;
        const QString got = times.Text(seconds);
        const QString want = QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        // The second call of the same minute comes from the shared text.
        const QString again = times.Text(seconds);
        // Another minute between (a folder lists in no order of time), then
        // this one again: from the kept text of each minute.
        constexpr qint64 kNextMinute = 61;
        const QString other = times.Text(seconds + kNextMinute);
        const QString wantOther =
            QDateTime::fromSecsSinceEpoch(seconds + kNextMinute).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        const QString back = times.Text(seconds);
        if (saved.isEmpty()) qunsetenv("TZ");
        else qputenv("TZ", saved);
        ::tzset();
        QCOMPARE(got, want);
        QCOMPARE(again, want);
        QCOMPARE(other, wantOther);
        QCOMPARE(back, want);
    }

    // The size column's text: ',' before every group of three digits.
    void groupedSize_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0");
        QTest::newRow("three digits") << qint64(999) << QStringLiteral("999");
        QTest::newRow("four digits") << qint64(1000) << QStringLiteral("1,000");
        QTest::newRow("seven digits") << qint64(1234567) << QStringLiteral("1,234,567");
        QTest::newRow("six digits") << qint64(123456) << QStringLiteral("123,456");
        QTest::newRow("negative") << qint64(-1234) << QStringLiteral("-1,234");
        QTest::newRow("largest") << std::numeric_limits<qint64>::max()
                                 << QStringLiteral("9,223,372,036,854,775,807");
        QTest::newRow("smallest") << std::numeric_limits<qint64>::min()
                                  << QStringLiteral("-9,223,372,036,854,775,808");
    }
    void groupedSize() {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(GroupedSize(bytes), text);
    }

    // Small folders are read on the calling thread, large ones share their
    // stat calls with helper threads: both give every entry, once, with its
    // own size and kind.
    void scanReadsEveryEntry_data() {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("folders");
        QTest::newRow("small") << 12 << 3;
        QTest::newRow("large") << 2600 << 5;
    }
    void scanReadsEveryEntry() {
        QFETCH(int, files);
        QFETCH(int, folders);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        constexpr int kSizeCycle = 7;
        for (int i = 0; i < files; ++i) {
            std::ofstream(dir.filePath(QStringLiteral("f%1.txt").arg(i)).toStdString())
                << std::string(static_cast<std::size_t>(i % kSizeCycle), 'x');
        }
        for (int i = 0; i < folders; ++i) QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("d%1").arg(i)));
        std::ofstream(dir.filePath(QStringLiteral(".hidden")).toStdString()) << "x";
        std::vector<FolderEntry> entries;
        QVERIFY(ScanFolder(dir.path(), true, entries));
        QCOMPARE(entries.size(), static_cast<std::size_t>(files + folders + 1));  // and ".."
        QSet<QString> seen;
        for (const FolderEntry& e : entries) {
            QVERIFY2(!seen.contains(e.name), qPrintable(e.name));
            seen.insert(e.name);
            if (e.name == QStringLiteral("..")) {
                QVERIFY(e.dir);
            } else if (e.name.startsWith(u'd')) {
                QVERIFY2(e.dir, qPrintable(e.name));
                QCOMPARE(e.size, std::int64_t(0));
            } else {
                QVERIFY2(!e.dir, qPrintable(e.name));
                const int i = e.name.mid(1, e.name.size() - 5).toInt();
                QCOMPARE(e.size, std::int64_t(i % kSizeCycle));
                QVERIFY(e.mtime > 0);
            }
        }
        QVERIFY(!seen.contains(QStringLiteral(".hidden")));
    }

    void listingShowsWhatTheFolderHolds() {
        QTemporaryDir dir;
        WriteFile(dir.filePath(QStringLiteral("b.txt")), 1234567);
        WriteFile(dir.filePath(QStringLiteral("a.gpx")), 5);
        WriteFile(dir.filePath(QStringLiteral(".hidden")), 5);
        WriteFile(dir.filePath(QStringLiteral("航迹.txt")), 2);
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral(".config")));
        fs::create_directory_symlink(dir.filePath(QStringLiteral("sub")).toStdString(),
                                     dir.filePath(QStringLiteral("link")).toStdString());
        fs::create_symlink("nowhere", dir.filePath(QStringLiteral("broken")).toStdString());
        SetMtime(dir.filePath(QStringLiteral("a.gpx")), 1600000000);

        CMainFrame frame;
        CRightFormView* pane = frame.ComputerPane();
        QCOMPARE(pane->ListFolder(dir.path()), 7);
        CSortListCtrl* list = pane->List();
        // Folders (".." first) before files, each group by name.
        QCOMPARE(Column(list, 0), QStringList({"..", "link", "sub", "a.gpx", "b.txt", "broken", "航迹.txt"}));
        QCOMPARE(Column(list, 1), QStringList({"*DIR*", "*DIR*", "*DIR*", "*File*", "*File*", "*File*", "*File*"}));
        QCOMPARE(list->CellText(4, 2), QStringLiteral("1,234,567"));
        QCOMPARE(list->CellText(3, 3), QFileInfo(dir.filePath(QStringLiteral("a.gpx")))
                                           .lastModified()
                                           .toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        QCOMPARE(CSortListCtrl::SizeOf(list->Row(4)), qint64(1234567));
        // At the root there is no way up.
        pane->ListFolder(QStringLiteral("/"));
        QVERIFY(!Column(pane->List(), 0).contains(QStringLiteral("..")));
        // An unreadable folder lists nothing.
        QCOMPARE(pane->ListFolder(dir.filePath(QStringLiteral("missing"))), 0);
    }

    // The sort on precomputed keys must order rows exactly as CompareRows.
    void sortAgreesWithCompareRows_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("ascending");
        for (int c = 0; c < 4; ++c) {
            QTest::addRow("column %d up", c) << c << true;
            QTest::addRow("column %d down", c) << c << false;
        }
    }
    void sortAgreesWithCompareRows() {
        QFETCH(int, column);
        QFETCH(bool, ascending);
        CSortListCtrl list(1009);
        list.SetColumns(QStringLiteral("a,10;b,10;c,10;d,10"));
        const QStringList texts = {"10",      "9",          "1,000", "Zebra", "apple", "Äpfel",  "航迹",
                                   "a10",     "a9",         "",      "31/12/2009", "01/01/2010", "b", "B"};
        for (int i = 0; i < 60; ++i) {
            const QString t = texts[(i * 7 + column) % texts.size()];
            list.AddRow(QIcon(), i % 5 == 0 ? kRowFolder : kRowFile, i,
                        {t, texts[(i * 3) % texts.size()], texts[(i * 11) % texts.size()], QString::number(i)});
        }
        // The reference: the rows in their first order, sorted with
        // CompareRows itself. A column mixing numbers, dates and words is no
        // strict order (only the first text's form picks the rule), so the
        // two must agree pair by pair, which gives the same stable sort.
        std::vector<CListRow> reference;
        for (int i = 0; i < list.RowCount(); ++i) reference.push_back(list.Row(i));
        std::stable_sort(reference.begin(), reference.end(), [&](const CListRow& x, const CListRow& y) {
            return CompareRows(CSortListCtrl::KindOf(x), x.Text(column), CSortListCtrl::KindOf(y), y.Text(column),
                               ascending) < 0;
        });
        list.SortColumn(column, ascending);
        for (int i = 0; i < list.RowCount(); ++i)
            QVERIFY2(list.Row(i) == reference[static_cast<std::size_t>(i)], qPrintable(QString::number(i)));
    }

    // The rows stay where they are stored and are shown through an order: a
    // sort by clicks on a heading keeps the selection, the current row and
    // every row handle on their rows; a refill leaves the old handles naming
    // nothing.
    void sortKeepsSelectionAndRows_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("clicks");  // one click sorts up, a second down
        for (int c = 0; c < 3; ++c) {
            QTest::addRow("column %d up", c) << c << 1;
            QTest::addRow("column %d down", c) << c << 2;
        }
    }
    void sortKeepsSelectionAndRows() {
        QFETCH(int, column);
        QFETCH(int, clicks);
        const bool ascending = clicks == 1;
        CSortListCtrl list(4243);
        list.SetColumns(QStringLiteral("Name,90;Size,60;Rank,60"));
        list.resize(400, 300);
        const QStringList names = {"delta", "alpha", "echo", "bravo", "charlie", "golf", "foxtrot"};
        for (int i = 0; i < names.size(); ++i)
            list.AddRow(QIcon(), kRowFile, i,
                        {names[i], QString::number((i * 37) % 11), QString::number(names.size() - i)});
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const CListRow bravo = list.FindRow(QStringLiteral("bravo"));
        const CListRow echo = list.FindRow(QStringLiteral("echo"));
        QVERIFY(bravo && echo);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.RowRect(bravo).center());
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, list.RowRect(echo).center());
        QCOMPARE(list.SelectedCount(), 2);

        QHeaderView* h = list.header();
        const QPoint heading(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
        for (int k = 0; k < clicks; ++k) QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier, heading);
        QCOMPARE(list.SortedColumn(), column);
        QCOMPARE(list.SortedAscending(), ascending);
        for (int i = 1; i < list.RowCount(); ++i)
            QVERIFY2(CompareRows(kRowFile, list.CellText(i - 1, column), kRowFile, list.CellText(i, column),
                                 ascending) <= 0,
                     qPrintable(QString::number(i)));

        // The handles name their rows at their new places.
        QCOMPARE(list.CellText(bravo.Position(), 0), QStringLiteral("bravo"));
        QCOMPARE(list.CellText(echo.Position(), 0), QStringLiteral("echo"));
        QVERIFY(bravo.IsSelected());
        QVERIFY(echo.IsSelected());
        QCOMPARE(list.SelectedCount(), 2);
        QVERIFY(list.CurrentRow() == echo);
        const std::vector<CListRow> selected = list.SelectedRows();
        QCOMPARE(selected.size(), std::size_t(2));
        QVERIFY(selected[0].Position() < selected[1].Position());  // in list order
        // What the user sees at a row's place is that row.
        QVERIFY(list.RowAt(list.RowRect(bravo).center()) == bravo);

        std::vector<SortListRow> refill;
        refill.push_back(CSortListCtrl::MakeRow(QIcon(), kRowFile, 0, {QStringLiteral("hotel")}));
        list.AddRowsSorted(std::move(refill), 0, true);
        QCOMPARE(list.RowCount(), 1);
        QVERIFY(!bravo);
        QCOMPARE(bravo.Text(0), QString());
        QCOMPARE(bravo.Position(), -1);
        QCOMPARE(list.SelectedCount(), 0);
    }

    void backspaceGoesUp() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("inner")));
        CMainFrame frame;
        CRightFormView* pane = frame.ComputerPane();
        pane->ListFolder(dir.filePath(QStringLiteral("inner")));
        PressKey(pane->List(), Qt::Key_Backspace);
        QCOMPARE(pane->Folder(), QDir::cleanPath(dir.path()) + u'/');
        // At the root Backspace stays.
        pane->ListFolder(QStringLiteral("/"));
        PressKey(pane->List(), Qt::Key_Backspace);
        QCOMPARE(pane->Folder(), QStringLiteral("/"));
    }

    void f2StartsRename() {
        QTemporaryDir dir;
        WriteFile(dir.filePath(QStringLiteral("old.txt")), 3);
        CMainFrame frame;
        frame.resize(1000, 600);
        frame.show();
        CRightFormView* pane = frame.ComputerPane();
        pane->ListFolder(dir.path());
        frame.SetActivePane(pane);
        SelectNames(pane->List(), {"old.txt"});
        QVERIFY(!pane->List()->Editing());
        PressKey(pane->List(), Qt::Key_F2);
        QVERIFY(pane->List()->Editing());
        // Typing a new name and Return renames the file on disk.
        auto* editor = pane->List()->findChild<QLineEdit*>();
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("new.txt"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("new.txt"))));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("old.txt"))));
        QVERIFY(Column(pane->List(), 0).contains(QStringLiteral("new.txt")));
        // ".." is never renamed.
        SelectNames(pane->List(), {".."});
        PressKey(pane->List(), Qt::Key_F2);
        QVERIFY(!pane->List()->Editing());
    }

    void dropOfDeviceRowsCopies() {
        Rig rig;
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        rig.ActivateDevice();
        SelectNames(rig.DeviceList(), {"A.txt", "C.txt"});
        QWidget* target = rig.ComputerList()->viewport();
        const QPointF at(10, 10);

        // Other data (files from a file manager) is not taken.
        QMimeData other;
        other.setText(QStringLiteral("hello"));
        QDragEnterEvent enterOther(at.toPoint(), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enterOther);
        QVERIFY(!enterOther.isAccepted());

        QMimeData mime;
        mime.setData(QString::fromLatin1(kDeviceDragFormat), QByteArray("1"));
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
        // The copy starts once the drop has returned, and runs to its end.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.computer.filePath(QStringLiteral("A.txt"))) &&
                                     QFileInfo::exists(rig.computer.filePath(QStringLiteral("C.txt"))),
                                 kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(Column(rig.ComputerList(), 0).contains(QStringLiteral("C.txt")), kWaitMs);
        QCOMPARE(QFileInfo(rig.computer.filePath(QStringLiteral("C.txt"))).size(), qint64(30));
        // A copy, not a move: the handheld keeps its files.
        QVERIFY(QFileInfo::exists(rig.device.filePath(QStringLiteral("A.txt"))));
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("B.txt"))));
    }

    void tooltipCut_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString a79(79, u'a');
        QTest::newRow("short") << "Connect" << "Connect";
        QTest::newRow("79 ASCII kept") << a79 << a79;
        QTest::newRow("80 ASCII cut") << a79 + u'b' << a79;
        QTest::newRow("39 Chinese kept (78 bytes)") << QString(39, QChar(0x8FDE)) << QString(39, QChar(0x8FDE));
        QTest::newRow("40 Chinese cut to 39, no half character")
            << QString(40, QChar(0x8FDE)) << QString(39, QChar(0x8FDE));
        QTest::newRow("mixed: 77 ASCII + Chinese fits") << QString(77, u'a') + QChar(0x8FDE)
                                                        << QString(77, u'a') + QChar(0x8FDE);
        QTest::newRow("mixed: 78 ASCII + Chinese cut") << QString(78, u'a') + QChar(0x8FDE) << QString(78, u'a');
        QTest::newRow("empty") << "" << "";
    }
    void tooltipCut() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(CutTooltip(text), expected);
    }

    void frameCutsLongTooltipsFromALanguageFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("code_en.ini"));
        const std::string longTip(120, 'x');
        std::ofstream(path.toStdString(), std::ios::binary)
            << "[DORVANE_TOOLTIP]\r\nRES_CMAINFRAME_TOOLTIP_CONNECT=" << longTip << "\r\n";
        CMainFrame frame;
        QVERIFY(LoadLanguageFile(path.toStdString(), Language::English));
        frame.ApplyMenuTexts();
        const QString tip = frame.Action(cmd::kConnect)->toolTip();
        ResetToDefaults();
        QCOMPARE(tip, QString(kMaxTooltipBytes, u'x'));
    }
};

QTEST_MAIN(TestGuiPanes)
#include "test_gui_panes.moc"
