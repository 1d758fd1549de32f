// The desktop program against a serial driver that refuses the line settings
// (an adapter that cannot set the rate, or one pulled while it opens): the
// tcsetattr linked into this program fails while DORVANE_REFUSE_TCSETATTR is
// set. A click on Connect shows the refusal, naming the port, the rate and
// the driver's reason; a copy whose port is opened again is refused the same
// way. The program goes on each time, and once the driver accepts again a
// click on Connect connects and a copy arrives.

#include <QFileInfo>
#include <QTest>
#include <QToolBar>

#include <cerrno>
#include <cstring>

#include "gui_rig.h"
#include "i18n/string_table.h"
#include "link/serial.h"
#include "menus/commands.h"
#include "transfer/dorvane_doc.h"
#include "transfer/front_end.h"

using namespace dorvane;
using namespace dorvane::test;

namespace {

constexpr const char* kRefuse = "DORVANE_REFUSE_TCSETATTR";
// The rig's handheld serves A.txt, B.txt, C.txt and two maps (.gmt), which
// the list does not show.
constexpr int kListedFiles = 3;

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

// The driver accepts again when the test ends, whatever happened in it.
struct RefusalOff {
    ~RefusalOff() { qunsetenv(kRefuse); }
};

}  // namespace

class TestGuiRefusedLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    void refusedOnConnect_data() {
        QTest::addColumn<int>("error");
        QTest::newRow("rate not supported") << EINVAL;
        QTest::newRow("adapter pulled") << EIO;
        QTest::newRow("no such device") << ENODEV;
    }
    void refusedOnConnect() {
        QFETCH(int, error);
        RefusalOff off;
        Rig rig;
        QVERIFY(!rig.sim->Pty().isEmpty());
        rig.frame->Doc().SetPreferredPort(rig.sim->Pty().toStdString(), true);
        qputenv(kRefuse, QByteArray::number(error));
        Click(*rig.frame, cmd::kConnect);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.messages.isEmpty(), kWaitMs);

        const std::string refusal =
            FormatText(StringId::RES_CDORVANEDOC_ERR_PORT_SETTINGS,
                       SerialDevicePath(rig.sim->Pty().toStdString()).c_str(),
                       rig.frame->Doc().Settings().baud, std::strerror(error));
        QVERIFY2(rig.messages.front().contains(QString::fromStdString(refusal)),
                 qPrintable(rig.messages.front()));
        QVERIFY(rig.messages.front().startsWith(
            QString::fromStdString(Text(StringId::RES_CDORVANEDOC_MESSAGE02))));
        QCOMPARE(rig.frame->StatusText(status_pane::kMessage),
                 QString::fromStdString(Text(StringId::RES_CDORVANEDOC_MESSAGE02)));
        QVERIFY(!rig.frame->Doc().IsConnected());
        QVERIFY(rig.frame->isVisible());

        // The program goes on: with the driver accepting, Connect connects.
        qunsetenv(kRefuse);
        rig.messages.clear();
        Click(*rig.frame, cmd::kConnect);
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->Doc().IsConnected(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), kListedFiles, kWaitMs);
        QVERIFY2(rig.messages.isEmpty(), qPrintable(rig.messages.join(QLatin1Char('\n'))));
    }

    void refusedWhenACopyOpensThePortAgain() {
        RefusalOff off;
        Rig rig;
        QVERIFY(!rig.sim->Pty().isEmpty());
        rig.frame->Doc().SetPreferredPort(rig.sim->Pty().toStdString(), true);
        Click(*rig.frame, cmd::kConnect);
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->Doc().IsConnected(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), kListedFiles, kWaitMs);

        // Every run opens the port again: this one is refused its settings.
        rig.ActivateDevice();
        ClickRow(rig.DeviceList(), QStringLiteral("B.txt"));
        qputenv(kRefuse, QByteArray::number(EINVAL));
        Click(*rig.frame, cmd::kCopy);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.messages.isEmpty(), kWaitMs);
        QCOMPARE(rig.messages.front(),
                 QString::fromStdString(Text(StringId::RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR)));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.frame->Doc().IsConnected(), kWaitMs);
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("B.txt"))));
        QVERIFY(rig.frame->isVisible());

        // The driver accepts again: Connect, then the same copy arrives.
        qunsetenv(kRefuse);
        rig.messages.clear();
        Click(*rig.frame, cmd::kConnect);
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->Doc().IsConnected(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), kListedFiles, kWaitMs);
        rig.ActivateDevice();
        ClickRow(rig.DeviceList(), QStringLiteral("B.txt"));
        Click(*rig.frame, cmd::kCopy);
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(rig.computer.filePath(QStringLiteral("B.txt"))).size(),
                                  qint64(2500), kWaitMs);
        QVERIFY2(rig.messages.isEmpty(), qPrintable(rig.messages.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TestGuiRefusedLine)
#include "test_gui_refused_line.moc"
