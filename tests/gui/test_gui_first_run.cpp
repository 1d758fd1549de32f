// A first run without a handheld: a real click on the toolbar's Connect (and
// Ctrl+N) shows the checklist of what to look at, in the interface's language.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "gui_rig.h"

using namespace dorvane;
using namespace dorvane::test;

namespace {

QString GroupOf(const QString& path) {
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0) return {};
    const group* g = ::getgrgid(st.st_gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
}

}  // namespace

class TestGuiFirstRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }

    void noHandheldShowsTheChecklist_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("byKey");
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QStringList>("items");
        const QStringList en = {QStringLiteral("1. The cable is plugged in"),
                                QStringLiteral("2. Your account is a member of the group"),
                                QStringLiteral("3. ModemManager is not holding"),
                                QStringLiteral("4. For the USB link: the USB id setting")};
        const QStringList zh = {QStringLiteral("1. 数据线两端都已插好"),
                                QStringLiteral("2. 您的账户属于拥有串口的用户组"),
                                QStringLiteral("3. ModemManager 没有占用串口"),
                                QStringLiteral("4. 使用USB连接时，USB标识设置")};
        QTest::newRow("English, click")
            << 1 << false << QStringLiteral("Please check, in this order:") << en;
        QTest::newRow("Chinese, click") << 0 << false << QStringLiteral("请依次检查：") << zh;
        QTest::newRow("English, Ctrl+N")
            << 1 << true << QStringLiteral("Please check, in this order:") << en;
        QTest::newRow("Chinese, Ctrl+N") << 0 << true << QStringLiteral("请依次检查：") << zh;
    }
    void noHandheldShowsTheChecklist() {
        QFETCH(int, language);
        QFETCH(bool, byKey);
        QFETCH(QString, heading);
        QFETCH(QStringList, items);
        Rig rig;
        QVERIFY(rig.frame->SwitchLanguage(language));
        // A port that exists but is no terminal: it fails at once, and its
        // owner is the group the checklist must name.
        const QString port = rig.device.filePath(QStringLiteral("port"));
        WriteFile(port, 0);
        // A group an account may join (root's is never advised): dialout
        // where it exists and the file is ours to give.
        if (const group* dialout = ::getgrnam("dialout"))
            (void)!::chown(QFile::encodeName(port).constData(), static_cast<uid_t>(-1), dialout->gr_gid);
        const QString group = GroupOf(port);
        QVERIFY(!group.isEmpty());
        rig.frame->Doc().SetPreferredPort(port.toStdString(), true);

        if (byKey) {
            rig.frame->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
            QTest::keyClick(rig.frame.get(), Qt::Key_N, Qt::ControlModifier);
        } else {
            auto* bar = rig.frame->findChild<QToolBar*>();
            QVERIFY(bar);
            QWidget* button = bar->widgetForAction(rig.frame->Action(cmd::kConnect));
            QVERIFY(button && button->isVisible() && button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!rig.messages.isEmpty(), kWaitMs);
        QVERIFY(!rig.frame->Doc().IsConnected());
        const QString text = rig.messages.last();
        QVERIFY2(text.startsWith(QString::fromStdString(Text(StringId::RES_CDORVANEDOC_MESSAGE02))),
                 qPrintable(text));
        qsizetype at = text.indexOf(heading);
        QVERIFY2(at >= 0, qPrintable(text));
        for (const QString& item : items) {
            const qsizetype next = text.indexOf(item, at);
            QVERIFY2(next > at,
                     qPrintable(item + QStringLiteral(" missing or out of order in\n") + text));
            at = next;
        }
        QVERIFY2(
            text.contains(QStringLiteral("sudo usermod -aG ") + group + QStringLiteral(" $USER")),
            qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("systemctl stop ModemManager")));
    }
};

QTEST_MAIN(TestGuiFirstRun)
#include "test_gui_first_run.moc"
