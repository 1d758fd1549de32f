// The desktop program against the emulator, on the offscreen platform.

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "i18n/string_table.h"
#include "menus/commands.h"
#include "gui_rig.h"
#include "sim_process.h"
#include "transfer/dorvane_doc.h"
#include "ui/left_form_view.h"
#include "ui/main_frame.h"
#include "ui/profile.h"
#include "ui/right_form_view.h"
#include "ui/selectors.h"
#include "ui/sort_list.h"
#include "ui/trans_wait.h"

namespace fs = std::filesystem;
using namespace dorvane;

using namespace dorvane::test;

class TestGui : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    void sortRules_data() {
        QTest::addColumn<int>("kindA");
        QTest::addColumn<QString>("a");
        QTest::addColumn<int>("kindB");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<int>("expected");
        QTest::newRow("shorter number first") << 1 << "9" << 1 << "10" << true << -1;
        QTest::newRow("numbers descending") << 1 << "9" << 1 << "10" << false << 1;
        QTest::newRow("grouped numbers") << 1 << "1,234" << 1 << "999" << true << 1;
        QTest::newRow("folder first ascending") << 0 << "z" << 1 << "a" << true << -1;
        QTest::newRow("folder first descending") << 0 << "a" << 1 << "z" << false << -1;
        QTest::newRow("file after folder descending") << 1 << "a" << 0 << "z" << false << 1;
        QTest::newRow("date by year") << 1 << "31/12/2009" << 1 << "01/01/2010" << true << -1;
        QTest::newRow("date by month") << 1 << "01/02/2010" << 1 << "31/01/2010" << true << 1;
        QTest::newRow("times as text") << 1 << "2010-06-01 12:30" << 1 << "2010-06-02 08:00" << true << -1;
        QTest::newRow("equal") << 1 << "abc" << 1 << "abc" << true << 0;
    }
    void sortRules() {
        QFETCH(int, kindA);
        QFETCH(QString, a);
        QFETCH(int, kindB);
        QFETCH(QString, b);
        QFETCH(bool, ascending);
        QFETCH(int, expected);
        const int r = CompareRows(kindA, a, kindB, b, ascending);
        QCOMPARE((r > 0) - (r < 0), expected);
    }

    void columnSpec() {
        const auto cols = ParseColumnSpec(QStringLiteral("名称,179;大小(字节),75;修改时间,110"));
        QCOMPARE(cols.size(), std::size_t(3));
        QCOMPARE(cols[0].first, QStringLiteral("名称"));
        QCOMPARE(cols[0].second, 179);
        QCOMPARE(cols[2].second, 110);
        QCOMPARE(ParseColumnSpec(QStringLiteral("a,1;broken")).size(), std::size_t(1));
        QCOMPARE(ParseColumnSpec(QStringLiteral("a,x;")).at(0).second, 0);
    }

    void savedWidthsComeBack() {
        // A width record in the header's own layout is applied when its
        // column count matches, and ignored otherwise. (Header clicks are
        // tested as clicks in test_gui_input.)
        CSortListCtrl source(4242);
        source.SetColumns(QStringLiteral("n,77;s,50"));
        QSettings profile = ProfileSettings();
        profile.setValue(QStringLiteral("ListCtrls/4242"), source.Header()->SerializeWidths());
        profile.sync();
        CSortListCtrl other(4242);
        other.SetColumns(QStringLiteral("n,50;s,50"));
        other.RestoreColumnWidths();
        QCOMPARE(other.columnWidth(0), 77);
        CSortListCtrl mismatch(4242);
        mismatch.SetColumns(QStringLiteral("n,50;s,50;t,50"));
        mismatch.RestoreColumnWidths();
        QCOMPARE(mismatch.columnWidth(0), 50);
    }

    void splitRule() {
        QCOMPARE(SplitWidths(1000), std::make_pair(485, 515));
        QCOMPARE(SplitWidths(20), std::make_pair(10, 10));
        QCOMPARE(SplitWidths(0), std::make_pair(10, 10));
        QCOMPARE(SplitWidths(40), std::make_pair(10, 35));
    }

    void selectionSummaryAndDotDot() {
        Rig rig;
        WriteFile(rig.computer.filePath(QStringLiteral("ten")), 10);
        WriteFile(rig.computer.filePath(QStringLiteral("twenty")), 20);
        WriteFile(rig.computer.filePath(QStringLiteral("thirty")), 30);
        WriteFile(rig.computer.filePath(QStringLiteral(".hidden")), 5);
        fs::create_directory(rig.computer.filePath(QStringLiteral("sub")).toStdString());
        rig.frame->ComputerPane()->Refresh();
        CSortListCtrl* list = rig.ComputerList();
        QCOMPARE(Column(list, 0), (QStringList{"..", "sub", "ten", "thirty", "twenty"}));
        SelectNames(list, {"ten", "twenty", "thirty", "sub", ".."});
        QCOMPARE(rig.frame->StatusText(1), QString::fromStdString(FormatText(StringId::RES_CMAINFRAME_MESSAGE01, 4)));
        QCOMPARE(rig.frame->StatusText(2), QStringLiteral("60 BYTE"));
        QVERIFY(!list->Row(0).IsSelected());  // ".."
        SelectNames(list, {"ten", "thirty"});
        QCOMPARE(rig.frame->StatusText(2), QStringLiteral("40 BYTE"));
    }

    void connectListsWithoutGmt() {
        Rig rig;
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        QCOMPARE(Column(rig.DeviceList(), 0), (QStringList{"A.txt", "B.txt", "C.txt"}));
        QVERIFY(!rig.frame->DevicePane()->LinkSelector()->isEnabled());
        QVERIFY(!rig.frame->Action(cmd::kConnect)->isEnabled());
    }

    void copyAndMove() {
        Rig rig;
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        rig.ActivateDevice();
        SelectNames(rig.DeviceList(), {"A.txt", "C.txt"});
        rig.frame->UpdateActions();
        QVERIFY(rig.frame->Action(cmd::kCopy)->isEnabled());
        rig.frame->RunCommand(cmd::kCopy);
        QVERIFY(QFileInfo(rig.computer.filePath(QStringLiteral("A.txt"))).size() == 10);
        QVERIFY(QFileInfo(rig.computer.filePath(QStringLiteral("C.txt"))).size() == 30);
        QTRY_VERIFY_WITH_TIMEOUT(Column(rig.ComputerList(), 0).contains(QStringLiteral("C.txt")), kWaitMs);
        // Move: fetched, then deleted on the handheld.
        SelectNames(rig.DeviceList(), {"B.txt"});
        rig.frame->RunCommand(cmd::kMove);
        QVERIFY(QFileInfo(rig.computer.filePath(QStringLiteral("B.txt"))).size() == 2500);
        QTRY_COMPARE_WITH_TIMEOUT(Column(rig.DeviceList(), 0), (QStringList{"A.txt", "C.txt"}), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(rig.device.filePath(QStringLiteral("B.txt"))), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(Column(rig.ComputerList(), 0).contains(QStringLiteral("B.txt")), kWaitMs);
        QVERIFY(rig.messages.isEmpty());
    }

    void copyIsDisabledWhenDevicePaneInactive() {
        Rig rig;
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        SelectNames(rig.DeviceList(), {"A.txt"});
        rig.frame->SetActivePane(rig.frame->ComputerPane());
        rig.frame->UpdateActions();
        QVERIFY(!rig.frame->Action(cmd::kCopy)->isEnabled());
    }

    void progressDialogAndCancel() {
        // 9600 baud: 960 bytes a second, so a 6000-byte file takes several seconds.
        Rig rig({QStringLiteral("--baud"), QStringLiteral("9600")}, [](const QString& dir) {
            WriteFile(dir + QStringLiteral("/big.bin"), 6000);
        });
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 1, kWaitMs);
        rig.ActivateDevice();
        SelectNames(rig.DeviceList(), {"big.bin"});
        CTransWait& dlg = rig.frame->ProgressDialog();
        QString name, size, percent;
        int bar = -1;
        QTimer poll;
        poll.setInterval(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (dlg.isVisible() && dlg.BarValue() > 0 && bar < 0) {
                name = dlg.NameText();
                size = dlg.SizeText();
                percent = dlg.PercentText();
                bar = dlg.BarValue();
                dlg.CancelButton()->click();
            }
        });
        poll.start();
        rig.frame->RunCommand(cmd::kCopy);
        poll.stop();
        QCOMPARE(name, QStringLiteral("big.bin"));
        QCOMPARE(size, QStringLiteral("5.86 KB"));
        QVERIFY2(percent.endsWith(QStringLiteral(" %")) && bar > 0 && bar < 100, qPrintable(percent));
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("big.bin"))));
        QVERIFY(!dlg.isVisible());
    }

    void deleteAsks() {
        Rig rig;
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        rig.ActivateDevice();
        SelectNames(rig.DeviceList(), {"A.txt", "B.txt"});
        rig.answer = QMessageBox::No;
        rig.frame->RunCommand(cmd::kDelete);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 1, kWaitMs);
        QCOMPARE(rig.messages[0], QString::fromStdString(FormatText(StringId::RES_CLEFTFORMVIEW_MESSAGE02, 2)));
        QVERIFY(QFileInfo::exists(rig.device.filePath(QStringLiteral("A.txt"))));
        rig.answer = QMessageBox::Yes;
        rig.frame->RunCommand(cmd::kDelete);
        QTRY_COMPARE_WITH_TIMEOUT(Column(rig.DeviceList(), 0), QStringList{"C.txt"}, kWaitMs);
        QVERIFY(!QFileInfo::exists(rig.device.filePath(QStringLiteral("A.txt"))));
        // Nothing selected: no question.
        rig.DeviceList()->clearSelection();
        rig.frame->PostToPanes(hint::kDelete);
        QTest::qWait(100);
        QCOMPARE(rig.messages.size(), 2);
    }

    void handheldErrorShowsItsText() {
        Rig rig({QStringLiteral("--error-on"), QStringLiteral("A.txt:4")});
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        rig.ActivateDevice();
        SelectNames(rig.DeviceList(), {"A.txt"});
        rig.frame->RunCommand(cmd::kCopy);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.messages.isEmpty(), kWaitMs);
        QCOMPARE(rig.messages[0], QString::fromStdString(DeviceErrorText(4)));
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("A.txt"))));
    }

    void deviceErrorDisconnectsAfterTimeout() {
        Rig rig;
        QVERIFY(rig.Connect());
        rig.frame->OnDeviceError(240);
        QVERIFY(rig.frame->Doc().IsConnected());
        rig.frame->OnDeviceError(16);
        QVERIFY(!rig.frame->Doc().IsConnected());
        QCOMPARE(rig.messages.size(), 2);
        QCOMPARE(rig.messages[1], QString::fromStdString(DeviceErrorText(16)));
    }

    void languageSwitchChangesEveryText() {
        Rig rig;
        QVERIFY(rig.frame->SwitchLanguage(1));
        QTest::qWait(50);
        auto q = [](StringId id) { return QString::fromStdString(Text(id)); };
        QCOMPARE(rig.frame->menuBar()->actions().at(0)->text(), q(StringId::RES_CMAINFRAME_MENU_0));
        QCOMPARE(rig.frame->Action(cmd::kConnect)->text(), q(StringId::RES_CMAINFRAME_MENU_0_0));
        QCOMPARE(rig.frame->Action(cmd::kConnect)->toolTip(), q(StringId::RES_CMAINFRAME_TOOLTIP_CONNECT));
        QCOMPARE(rig.frame->Action(cmd::kCopy)->statusTip(), q(StringId::RES_CMAINFRAME_TP_APP_COPY));
        QCOMPARE(rig.frame->Action(cmd::kConvert)->text(), q(StringId::RES_GUI_MENU_CONVERT));
        QVERIFY(q(StringId::RES_CMAINFRAME_MENU_0_0).contains(QStringLiteral("nnect")));
        QCOMPARE(rig.ComputerList()->HeadingText(0), ParseColumnSpec(QString::fromStdString(ComputerPaneColumns()))[0].first);
        QCOMPARE(rig.DeviceList()->HeadingText(1), ParseColumnSpec(QString::fromStdString(DevicePaneColumns()))[1].first);
        QVERIFY(rig.frame->Action(cmd::kEnglish)->isChecked());
        QVERIFY(rig.frame->SwitchLanguage(0));
        QTest::qWait(50);
        QCOMPARE(rig.frame->Action(cmd::kConnect)->text(), q(StringId::RES_CMAINFRAME_MENU_0_0));
        QVERIFY(!rig.frame->Action(cmd::kConnect)->text().contains(QStringLiteral("nnect")));
    }

    void missingLanguageFileGreysItsItem() {
        Rig rig;
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        CMainFrame::Hooks hooks = rig.hooks;
        hooks.languageAvailable = [](Language l) { return l == Language::Chinese; };
        hooks.loadLanguage = [](Language l) { return l == Language::Chinese && LoadLanguage(l); };
        CMainFrame frame(o, hooks);
        frame.UpdateActions();
        QVERIFY(!frame.Action(cmd::kEnglish)->isEnabled());
        QVERIFY(frame.Action(cmd::kChinese)->isEnabled());
        const QString before = frame.Action(cmd::kConnect)->text();
        QVERIFY(!frame.SwitchLanguage(1));
        QCOMPARE(frame.Action(cmd::kConnect)->text(), before);
        QCOMPARE(CurrentLanguageIndex(), 0);
    }
};

QTEST_MAIN(TestGui)
#include "test_gui.moc"
