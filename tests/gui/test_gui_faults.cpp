// The desktop program when the cable is pulled mid-move: a click on Move, the
// handheld vanishes, the message says so, the window shows the handheld as
// gone, nothing is written and the handheld keeps its file; a click on
// Connect once it is back connects again.

#include <QFileInfo>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "gui_rig.h"
#include "i18n/string_table.h"
#include "menus/commands.h"
#include "sim_process.h"

using namespace dorvane;
using namespace dorvane::test;

namespace {

void Click(CMainFrame& frame, int command) {
    frame.UpdateActions();
    QWidget* button = frame.findChild<QToolBar*>()->widgetForAction(frame.Action(command));
    QVERIFY(button != nullptr);
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

void ClickRow(CSortListCtrl* list, const QString& name) {
    for (int i = 0; i < list->RowCount(); ++i) {
        if (list->CellText(i, 0) != name) continue;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->RowRect(list->Row(i)).center());
        return;
    }
    QFAIL(qPrintable(QStringLiteral("no row ") + name));
}

}  // namespace

class TestGuiFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    void pulledCableDuringAMove() {
        // The listing (3 frames), the move run's handshake answer and five
        // blocks of the 30 000-byte file; then the handheld is gone.
        Rig rig({QStringLiteral("--vanish-after"), QStringLiteral("9")},
                [](const QString& dir) { WriteFile(dir + QStringLiteral("/big.bin"), 30000); });
        rig.frame->Doc().Transport().SetTimeout(2000);
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 1, kWaitMs);
        rig.ActivateDevice();
        ClickRow(rig.DeviceList(), QStringLiteral("big.bin"));
        QElapsedTimer clock;
        clock.start();
        Click(*rig.frame, cmd::kMove);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.messages.isEmpty(), kWaitMs);
        QVERIFY2(clock.elapsed() < 2000, "within one time-out");
        QCOMPARE(rig.messages.front(),
                 QString::fromStdString(Text(StringId::RES_FAULTS_DISCONNECTED)));
        QVERIFY(!rig.frame->Doc().IsConnected());
        rig.frame->UpdateActions();
        QVERIFY(rig.frame->Action(cmd::kConnect)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 0, kWaitMs);
        QVERIFY(QDir(rig.computer.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QCOMPARE(QFileInfo(rig.device.filePath(QStringLiteral("big.bin"))).size(), 30000);

        // Plugged in again: Connect works.
        rig.sim = std::make_unique<CSimProcess>(rig.device.path());
        QVERIFY(!rig.sim->Pty().isEmpty());
        rig.frame->Doc().SetPreferredPort(rig.sim->Pty().toStdString(), true);
        Click(*rig.frame, cmd::kConnect);
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->Doc().IsConnected(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 1, kWaitMs);
    }
};

QTEST_MAIN(TestGuiFaults)
#include "test_gui_faults.moc"
