// Every command of the desktop program as a person starts it: clicks at the
// widgets' real positions (through the window, so that a right click opens
// the context menu as it does on screen), keys to the focused widget, menus
// and toolbar buttons clicked. Offscreen platform, against dorvane-sim.

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <filesystem>
#include <functional>

#include "gui_rig.h"
#include "i18n/string_table.h"
#include "ui/selectors.h"

namespace fs = std::filesystem;
using namespace dorvane;
using namespace dorvane::test;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
QString T(StringId id) {
    return Q(Text(id));
}

/// A mouse click at `at` of `w`, delivered through its top-level window as
/// the window system delivers it (so a right press also opens the context
/// menu, and the widget under the point is the one that gets it).
void Click(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton,
           Qt::KeyboardModifiers mods = {}) {
    QWidget* top = w->window();
    QTest::mouseClick(top->windowHandle(), button, mods, w->mapTo(top, at));
}

void ClickCentre(QWidget* w) {
    Click(w, w->rect().center());
}

CListRow RowNamed(CSortListCtrl* list, const QString& name) {
    for (int i = 0; i < list->RowCount(); ++i)
        if (list->CellText(i, 0) == name) return list->Row(i);
    return {};
}

/// Clicks the row named `name` (with `mods`, e.g. Ctrl to add it to the selection).
bool ClickRow(CSortListCtrl* list, const QString& name, Qt::MouseButton button = Qt::LeftButton,
              Qt::KeyboardModifiers mods = {}) {
    const CListRow row = RowNamed(list, name);
    if (!row) return false;
    Click(list->viewport(), list->RowRect(row).center(), button, mods);
    return true;
}

/// A point of the list below its last row.
QPoint EmptySpot(CSortListCtrl* list) {
    const int bottom =
        list->RowCount() ? list->RowRect(list->Row(list->RowCount() - 1)).bottom() : 0;
    QPoint p(20, bottom + 20);
    return p.y() < list->viewport()->height() ? p : QPoint(-1, -1);
}

/// Keys go to whatever has the focus, as from the keyboard. When a dialog
/// has just closed, the window manager gives the keyboard back to the main
/// window; the offscreen platform has none, so that is done here.
void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) {
    if (!QApplication::activeWindow()) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMainWindow*>(top) && top->isVisible()) {
                top->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(top));
            }
        }
    }
    QWidget* w = QApplication::focusWidget();
    QVERIFY2(w, "nothing has the keyboard focus");
    QTest::keyClick(w, key, mods);
}

/// Runs `act` once on the widget `find` returns (a popup menu, a modal
/// dialog) as soon as there is one; polls every 20 ms and gives up after
/// kWaitMs. It lives on the stack of the test around the click that opens it.
class CWhenShown {
public:
    CWhenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act)
        : find_(std::move(find)), act_(std::move(act)) {
        clock_.start();
        timer_.setInterval(kPollMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* w = find_();
            if (w && w->isVisible()) {
                timer_.stop();
                done_ = true;
                act_(w);
            } else if (clock_.elapsed() > kWaitMs) {
                timer_.stop();
            }
        });
        timer_.start();
    }
    bool Done() const { return done_; }

private:
    static constexpr int kPollMs = 20;
    std::function<QWidget*()> find_;
    std::function<void(QWidget*)> act_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool done_ = false;
};

QWidget* Popup() {
    return QApplication::activePopupWidget();
}
QWidget* Modal() {
    return QApplication::activeModalWidget();
}

/// One context or menu-bar menu item as the user sees it: "text|on" or
/// "text|off", with "|checked" when it carries a check mark; "-" for a
/// separator.
QStringList Items(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            out << QStringLiteral("-");
            continue;
        }
        QString s = a->text() + (a->isEnabled() ? QStringLiteral("|on") : QStringLiteral("|off"));
        if (a->isChecked()) s += QStringLiteral("|checked");
        out << s;
    }
    return out;
}

QAction* ItemFor(QMenu* menu, int id) {
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->data().isValid() && a->data().toInt() == id) return a;
    return nullptr;
}

/// Clicks the item of command `id` in an open menu.
void ChooseIn(QMenu* menu, int id) {
    QAction* a = ItemFor(menu, id);
    if (!a) {
        QTest::keyClick(menu, Qt::Key_Escape);
        return;
    }
    const QPoint at = menu->actionGeometry(a).center();
    QTest::mouseMove(menu, at);
    QTest::mouseClick(menu, Qt::LeftButton, {}, at);
}

/// Opens menu-bar menu `top` with a click on its title, then clicks command `id` in it.
void ChooseFromMenuBar(CMainFrame& frame, int top, int id) {
    QMenuBar* bar = frame.menuBar();
    QAction* title = bar->actions().at(top);
    CWhenShown choose(Popup, [id](QWidget* w) { ChooseIn(static_cast<QMenu*>(w), id); });
    Click(bar, bar->actionGeometry(title).center());
    QTRY_VERIFY_WITH_TIMEOUT(choose.Done(), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!Popup(), kWaitMs);
}

QToolButton* ToolButton(CMainFrame& frame, int id) {
    return qobject_cast<QToolButton*>(
        frame.findChild<QToolBar*>()->widgetForAction(frame.Action(id)));
}

/// Shows the frame and gives it the keyboard, as a window the user has clicked.
bool Activate(CMainFrame& frame) {
    frame.activateWindow();
    return QTest::qWaitForWindowActive(&frame);
}

/// A click on the empty part of the computer list: that pane gets the
/// keyboard and becomes the active one.
void ClickIntoComputerPane(CMainFrame& frame) {
    CSortListCtrl* list = frame.ComputerPane()->List();
    Click(list->viewport(), EmptySpot(list));
}

/// The frame connected through keys: Ctrl+N with the emulator's port preferred.
bool ConnectByKey(Rig& rig) {
    if (rig.sim->Pty().isEmpty() || !Activate(*rig.frame)) return false;
    rig.frame->Doc().SetPreferredPort(rig.sim->Pty().toStdString(), true);
    ClickIntoComputerPane(*rig.frame);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_N, Qt::ControlModifier);
    return rig.frame->Doc().IsConnected();
}

}  // namespace

class TestGuiCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseScratchHome(); }
    void init() { ResetToDefaults(); }

    // The accelerator table holds exactly these seven keys.
    void acceleratorTable_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("Ctrl+D disconnect")
            << cmd::kDisconnect << QKeySequence(Qt::CTRL | Qt::Key_D);
        QTest::newRow("Ctrl+M move") << cmd::kMove << QKeySequence(Qt::CTRL | Qt::Key_M);
        QTest::newRow("Ctrl+N connect") << cmd::kConnect << QKeySequence(Qt::CTRL | Qt::Key_N);
        QTest::newRow("Ctrl+O copy") << cmd::kCopy << QKeySequence(Qt::CTRL | Qt::Key_O);
        QTest::newRow("Delete") << cmd::kDelete << QKeySequence(Qt::Key_Delete);
        QTest::newRow("F5 refresh") << cmd::kRefresh << QKeySequence(Qt::Key_F5);
        QTest::newRow("Ctrl+X exit") << cmd::kExit << QKeySequence(Qt::CTRL | Qt::Key_X);
    }
    void acceleratorTable() {
        QFETCH(int, id);
        QFETCH(QKeySequence, keys);
        CMainFrame frame;
        QCOMPARE(frame.Action(id)->shortcut(), keys);
        int withKeys = 0;
        for (QAction* a : frame.findChildren<QAction*>())
            if (!a->shortcut().isEmpty()) ++withKeys;
        // The seven of the table, and the field view (Ctrl+G), the ledger
        // (Ctrl+L), Export as (Ctrl+E), Preview (F3) and the book (Ctrl+B).
        QCOMPARE(withKeys, 12);
    }

    // The seven keys, pressed in the order a day's work takes them.
    void acceleratorsDriveTheProgram() {
        Rig rig;
        QVERIFY(ConnectByKey(rig));  // Ctrl+N
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        // Status panes 3 and 4: the port and the baud rate of the serial link.
        QCOMPARE(rig.frame->StatusText(3), rig.sim->Pty());
        QCOMPARE(rig.frame->StatusText(4), QString::number(rig.frame->Doc().Settings().baud));
        QVERIFY(rig.frame->StatusText(4).toInt() > 0);

        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("A.txt")));
        QCOMPARE(rig.frame->ActivePane(), rig.frame->DevicePane());
        Key(Qt::Key_O, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(rig.computer.filePath(QStringLiteral("A.txt"))).size(),
                                  qint64(10), kWaitMs);
        QVERIFY(QFileInfo::exists(rig.device.filePath(QStringLiteral("A.txt"))));
        // Both panes are listed again after a transfer; the user picks the next file in the new
        // list.
        QTRY_VERIFY_WITH_TIMEOUT(RowNamed(rig.ComputerList(), QStringLiteral("A.txt")), kWaitMs);

        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("B.txt")));
        Key(Qt::Key_M, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(rig.device.filePath(QStringLiteral("B.txt"))),
                                 kWaitMs);
        QCOMPARE(QFileInfo(rig.computer.filePath(QStringLiteral("B.txt"))).size(), qint64(2500));
        QTRY_COMPARE_WITH_TIMEOUT(Column(rig.DeviceList(), 0), (QStringList{"A.txt", "C.txt"}),
                                  kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(RowNamed(rig.ComputerList(), QStringLiteral("B.txt")), kWaitMs);

        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("C.txt")));
        Key(Qt::Key_Delete);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(rig.device.filePath(QStringLiteral("C.txt"))),
                                 kWaitMs);
        QCOMPARE(rig.messages,
                 QStringList{Q(FormatText(StringId::RES_CLEFTFORMVIEW_MESSAGE02, 1))});

        // F5 lists the handheld again: a file put there since shows up.
        WriteFile(rig.device.filePath(QStringLiteral("D.txt")), 4);
        QTRY_COMPARE_WITH_TIMEOUT(Column(rig.DeviceList(), 0), QStringList{"A.txt"}, kWaitMs);
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("A.txt")));
        Key(Qt::Key_F5);
        QTRY_COMPARE_WITH_TIMEOUT(Column(rig.DeviceList(), 0), (QStringList{"A.txt", "D.txt"}),
                                  kWaitMs);

        Key(Qt::Key_D, Qt::ControlModifier);
        QVERIFY(!rig.frame->Doc().IsConnected());
        QCOMPARE(rig.frame->StatusText(3), QString());
        QCOMPARE(rig.frame->StatusText(4), QString());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 0, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->DevicePane()->LinkSelector()->isEnabled(), kWaitMs);

        Key(Qt::Key_X, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.frame->isVisible(), kWaitMs);
        QCOMPARE(rig.messages.size(), 1);
    }

    void toolbarOrder() {
        CMainFrame frame;
        frame.resize(1000, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QList<int> want = {cmd::kConnect,     0,
                                 cmd::kCopy,        cmd::kMove,
                                 cmd::kDelete,      0,
                                 cmd::kUp,          cmd::kNewFolder,
                                 cmd::kDiskSpace,   cmd::kStyleList,
                                 cmd::kStyleReport, cmd::kAbout};
        QToolBar* bar = frame.findChild<QToolBar*>();
        QList<int> got;
        int lastX = -1;
        for (QAction* a : bar->actions()) {
            got << (a->isSeparator() ? 0 : a->data().toInt());
            // On screen, left to right in that order.
            QWidget* w = bar->widgetForAction(a);
            QVERIFY(w && w->isVisible());
            QVERIFY(w->x() > lastX);
            lastX = w->x();
        }
        QCOMPARE(got, want);
        QCOMPARE(frame.Action(cmd::kConnect)->toolTip(),
                 T(StringId::RES_CMAINFRAME_TOOLTIP_CONNECT));
        QCOMPARE(frame.Action(cmd::kAbout)->toolTip(), T(StringId::RES_CMAINFRAME_TOOLTIP_ABOUT));
    }

    // Link type 2: "USB" chosen in the link selector with the mouse; the
    // handheld then answers over the FIFO folder and pane 4 says "USB".
    void usbChoiceInLinkSelector() {
        QTemporaryDir device, computer, usb;
        WriteFile(device.filePath(QStringLiteral("U.txt")), 7);
        CSimProcess sim(device.path(), {QStringLiteral("--fifo"), usb.path()});
        QVERIFY(!sim.Pty().isEmpty());
        QStringList messages;
        CMainFrame::Hooks hooks;
        hooks.messageBox = [&](QMessageBox::Icon, const QString& text,
                               QMessageBox::StandardButtons) {
            messages << text;
            return int(QMessageBox::Ok);
        };
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        o.listingTimeoutMs = 2000;
        o.portList = [] { return std::vector<std::string>{}; };
        UsbConfig u;
        u.fifoFolder = usb.path().toStdString();
        o.usb = u;
        CMainFrame frame(o, hooks);
        frame.resize(1000, 600);
        frame.show();
        QVERIFY(Activate(frame));
        frame.ComputerPane()->ListFolder(computer.path());
        QCOMPARE(frame.Doc().GetLinkType(), LinkType::kSerial);

        CIconComboBox* selector = frame.DevicePane()->LinkSelector();
        QCOMPARE(selector->itemText(0), T(StringId::RES_CLEFTFORMVIEW_COM));
        QCOMPARE(selector->itemText(1), QStringLiteral("USB"));
        CWhenShown choose(Popup, [selector](QWidget*) {
            QAbstractItemView* view = selector->view();
            // The box ignores the release of the press that opened it for a double-click time.
            QTest::qWait(QApplication::doubleClickInterval() + 50);
            const QPoint at = view->visualRect(view->model()->index(1, 0)).center();
            QTest::mouseMove(view->viewport(), at);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        });
        ClickCentre(selector);
        QTRY_VERIFY_WITH_TIMEOUT(choose.Done(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(frame.Doc().GetLinkType(), LinkType::kUsb, kWaitMs);
        QCOMPARE(selector->currentText(), QStringLiteral("USB"));

        ClickIntoComputerPane(frame);
        Key(Qt::Key_N, Qt::ControlModifier);
        QVERIFY(frame.Doc().IsConnected());
        QCOMPARE(frame.StatusText(3), QString());
        QCOMPARE(frame.StatusText(4), QStringLiteral("USB"));
        QTRY_COMPARE_WITH_TIMEOUT(Column(frame.DevicePane()->List(), 0), QStringList{"U.txt"},
                                  kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!selector->isEnabled(), kWaitMs);
        Key(Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(frame.StatusText(4), QString());
        QTRY_VERIFY_WITH_TIMEOUT(selector->isEnabled(), kWaitMs);
        QVERIFY(messages.isEmpty());
    }

    // The handheld went away: the copy cannot start (241), the box says so
    // and the program disconnects.
    void error241Disconnects() {
        Rig rig;
        QVERIFY(ConnectByKey(rig));
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        rig.sim.reset();
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("A.txt")));
        Key(Qt::Key_O, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(
            rig.messages, QStringList{Q(DeviceErrorText(doc_error::kStartFailed))}, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.frame->Doc().IsConnected(), kWaitMs);
        QCOMPARE(rig.frame->StatusText(3), QString());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 0, kWaitMs);
        QVERIFY(rig.frame->Action(cmd::kConnect)->isEnabled());
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("A.txt"))));
    }

    // F5 against a handheld that is gone or has stopped answering:
    // "communication device unavailable", then disconnected.
    void refreshFailureThenDisconnect_data() {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<bool>("unplug");
        QTest::newRow("handheld gone") << QStringList{} << true;
        // The first listing takes the emulator's three frames; then it is silent.
        QTest::newRow("handheld silent")
            << QStringList{QStringLiteral("--silent-after"), QStringLiteral("3")} << false;
    }
    void refreshFailureThenDisconnect() {
        QFETCH(QStringList, simOptions);
        QFETCH(bool, unplug);
        Rig rig(simOptions);
        QVERIFY(ConnectByKey(rig));
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        if (unplug) rig.sim.reset();
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("A.txt")));
        Key(Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.messages.isEmpty(), kWaitMs);
        QCOMPARE(rig.messages.first(), T(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_DEV_ERROR));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.frame->Doc().IsConnected(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 0, kWaitMs);
        QCOMPARE(rig.frame->StatusText(4), QString());
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->DevicePane()->LinkSelector()->isEnabled(), kWaitMs);
    }

    void deviceContextMenus() {
        Rig rig;
        QVERIFY(ConnectByKey(rig));
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        CSortListCtrl* list = rig.DeviceList();

        // On a row: copy, move, delete; rename is never offered for the handheld.
        QVERIFY(ClickRow(list, QStringLiteral("C.txt")));
        QStringList items;
        CWhenShown copy(Popup, [&](QWidget* w) {
            items = Items(static_cast<QMenu*>(w));
            ChooseIn(static_cast<QMenu*>(w), cmd::kCopy);
        });
        QVERIFY(ClickRow(list, QStringLiteral("C.txt"), Qt::RightButton));
        QTRY_VERIFY_WITH_TIMEOUT(copy.Done(), kWaitMs);
        QCOMPARE(items, (QStringList{T(StringId::RES_CLEFTFORMVIEW_COPY) + "|on",
                                     T(StringId::RES_CLEFTFORMVIEW_CUT) + "|on", "-",
                                     T(StringId::RES_CLEFTFORMVIEW_DEL) + "|on",
                                     T(StringId::RES_CLEFTFORMVIEW_RENAME) + "|off"}));
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(rig.computer.filePath(QStringLiteral("C.txt"))).size(),
                                  qint64(30), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(RowNamed(rig.ComputerList(), QStringLiteral("C.txt")), kWaitMs);

        // On the empty part: only the views and refresh can be chosen.
        list->clearSelection();
        const QPoint empty = EmptySpot(list);
        QVERIFY(empty.y() > 0);
        CWhenShown listStyle(Popup, [&](QWidget* w) {
            items = Items(static_cast<QMenu*>(w));
            ChooseIn(static_cast<QMenu*>(w), cmd::kStyleList);
        });
        Click(list->viewport(), empty, Qt::RightButton);
        QTRY_VERIFY_WITH_TIMEOUT(listStyle.Done(), kWaitMs);
        const QStringList background = {T(StringId::RES_CLEFTFORMVIEW_NEW_FOLDER) + "|off",
                                        "-",
                                        T(StringId::RES_CLEFTFORMVIEW_LIST) + "|on",
                                        T(StringId::RES_CLEFTFORMVIEW_DETAIL) + "|on|checked",
                                        "-",
                                        T(StringId::RES_CLEFTFORMVIEW_DISK_SPACE) + "|off",
                                        "-",
                                        T(StringId::RES_CLEFTFORMVIEW_REFURBISH) + "|on"};
        QCOMPARE(items, background);
        QTRY_COMPARE_WITH_TIMEOUT(list->ListStyle(), kStyleList, kWaitMs);
        // The check mark follows the style; back to the report view.
        CWhenShown report(Popup, [&](QWidget* w) {
            items = Items(static_cast<QMenu*>(w));
            ChooseIn(static_cast<QMenu*>(w), cmd::kStyleReport);
        });
        Click(list->viewport(), EmptySpot(list), Qt::RightButton);
        QTRY_VERIFY_WITH_TIMEOUT(report.Done(), kWaitMs);
        QCOMPARE(items.at(2), T(StringId::RES_CLEFTFORMVIEW_LIST) + "|on|checked");
        QCOMPARE(items.at(3), T(StringId::RES_CLEFTFORMVIEW_DETAIL) + "|on");
        QTRY_COMPARE_WITH_TIMEOUT(list->ListStyle(), kStyleReport, kWaitMs);
        QVERIFY(rig.messages.isEmpty());

        // Not connected: refresh is greyed.
        Key(Qt::Key_D, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(list->RowCount(), 0, kWaitMs);
        CWhenShown greyed(Popup, [&](QWidget* w) {
            items = Items(static_cast<QMenu*>(w));
            QTest::keyClick(w, Qt::Key_Escape);
        });
        Click(list->viewport(), QPoint(20, 20), Qt::RightButton);
        QTRY_VERIFY_WITH_TIMEOUT(greyed.Done(), kWaitMs);
        QCOMPARE(items.last(), T(StringId::RES_CLEFTFORMVIEW_REFURBISH) + "|off");
    }

    void computerContextMenus() {
        Rig rig;
        QVERIFY(Activate(*rig.frame));
        ClickIntoComputerPane(*rig.frame);
        WriteFile(rig.computer.filePath(QStringLiteral("plot.txt")), 5);
        rig.frame->ComputerPane()->Refresh();
        CSortListCtrl* list = rig.ComputerList();

        QStringList items;
        CWhenShown del(Popup, [&](QWidget* w) {
            items = Items(static_cast<QMenu*>(w));
            ChooseIn(static_cast<QMenu*>(w), cmd::kDelete);
        });
        QVERIFY(ClickRow(list, QStringLiteral("plot.txt")));
        QVERIFY(ClickRow(list, QStringLiteral("plot.txt"), Qt::RightButton));
        QTRY_VERIFY_WITH_TIMEOUT(del.Done(), kWaitMs);
        QCOMPARE(items, (QStringList{T(StringId::RES_CRIGHTFORMVIEW_COPY) + "|off",
                                     T(StringId::RES_CRIGHTFORMVIEW_CUT) + "|off", "-",
                                     T(StringId::RES_CRIGHTFORMVIEW_DEL) + "|on",
                                     T(StringId::RES_CRIGHTFORMVIEW_RENAME) + "|on", "-",
                                     T(StringId::RES_BOOKWIN_MENU_ADD) + "|on"}));
        QTRY_VERIFY_WITH_TIMEOUT(
            !QFileInfo::exists(rig.computer.filePath(QStringLiteral("plot.txt"))), kWaitMs);
        QCOMPARE(rig.messages,
                 QStringList{Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE04, 1))});

        // The background menu: everything can be chosen; New Folder makes one.
        list->clearSelection();
        CWhenShown make(Popup, [&](QWidget* w) {
            items = Items(static_cast<QMenu*>(w));
            ChooseIn(static_cast<QMenu*>(w), cmd::kNewFolder);
        });
        Click(list->viewport(), EmptySpot(list), Qt::RightButton);
        QTRY_VERIFY_WITH_TIMEOUT(make.Done(), kWaitMs);
        QCOMPARE(items, (QStringList{T(StringId::RES_CRIGHTFORMVIEW_NEW_FOLDER) + "|on", "-",
                                     T(StringId::RES_CRIGHTFORMVIEW_LIST) + "|on",
                                     T(StringId::RES_CRIGHTFORMVIEW_DETAIL) + "|on|checked", "-",
                                     T(StringId::RES_CRIGHTFORMVIEW_DISK_SPACE) + "|on", "-",
                                     T(StringId::RES_CRIGHTFORMVIEW_REFURBISH) + "|on"}));
        const QString folder = rig.computer.filePath(T(StringId::RES_GLOBAL_STRING_NEW_FOLDER));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(folder).isDir(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(list->Editing(), kWaitMs);
        Key(Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!list->Editing(), kWaitMs);
        QVERIFY(QFileInfo(folder).isDir());

        // Rename from the row's menu opens the editor on that row.
        WriteFile(rig.computer.filePath(QStringLiteral("old.txt")), 1);
        rig.frame->ComputerPane()->Refresh();
        QVERIFY(ClickRow(list, QStringLiteral("old.txt")));
        CWhenShown rename(Popup,
                          [&](QWidget* w) { ChooseIn(static_cast<QMenu*>(w), cmd::kRename); });
        QVERIFY(ClickRow(list, QStringLiteral("old.txt"), Qt::RightButton));
        QTRY_VERIFY_WITH_TIMEOUT(rename.Done(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(list->Editing(), kWaitMs);
        // Typed into the row's editor itself: on a busy display the window
        // may not be the active one, and then no widget has the focus.
        const auto editor = [&]() -> QLineEdit* {
            for (QLineEdit* e : list->findChildren<QLineEdit*>())
                if (e->isVisible()) return e;
            return nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(editor() != nullptr, kWaitMs);
        QTest::keyClick(editor(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor(), QStringLiteral("new.txt"));
        QTest::keyClick(editor(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(rig.computer.filePath(QStringLiteral("new.txt"))), kWaitMs);
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("old.txt"))));
        QCOMPARE(rig.messages.size(), 1);
    }

    // Two rows chosen with the mouse, Delete: "No" keeps them, "Yes" deletes
    // both, files and folders alike, and the folder is listed again.
    void computerDeleteByKey() {
        Rig rig;
        QVERIFY(Activate(*rig.frame));
        ClickIntoComputerPane(*rig.frame);
        WriteFile(rig.computer.filePath(QStringLiteral("one.txt")), 1);
        WriteFile(rig.computer.filePath(QStringLiteral("two.txt")), 2);
        WriteFile(rig.computer.filePath(QStringLiteral("keep.txt")), 3);
        QVERIFY(QDir(rig.computer.path()).mkpath(QStringLiteral("sub/inner")));
        rig.frame->ComputerPane()->Refresh();
        CSortListCtrl* list = rig.ComputerList();
        QVERIFY(ClickRow(list, QStringLiteral("one.txt")));
        QVERIFY(ClickRow(list, QStringLiteral("sub"), Qt::LeftButton, Qt::ControlModifier));
        QCOMPARE(list->SelectedCount(), 2);
        rig.answer = QMessageBox::No;
        Key(Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 1, kWaitMs);
        QCOMPARE(rig.messages[0], Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE04, 2)));
        QVERIFY(QFileInfo::exists(rig.computer.filePath(QStringLiteral("one.txt"))));
        QVERIFY(QFileInfo::exists(rig.computer.filePath(QStringLiteral("sub/inner"))));
        rig.answer = QMessageBox::Yes;
        Key(Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(Column(list, 0), (QStringList{"..", "keep.txt", "two.txt"}),
                                  kWaitMs);
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("one.txt"))));
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("sub"))));
        QCOMPARE(rig.messages.size(), 2);
        // Nothing selected: no question.
        list->clearSelection();
        Key(Qt::Key_Delete);
        QTest::qWait(100);
        QCOMPARE(rig.messages.size(), 2);
    }

    // New Folder from the toolbar: a free name, the editor open on it.
    void newFolderFromToolbar() {
        Rig rig;
        QVERIFY(Activate(*rig.frame));
        ClickIntoComputerPane(*rig.frame);
        const QString base = T(StringId::RES_GLOBAL_STRING_NEW_FOLDER);
        CSortListCtrl* list = rig.ComputerList();
        ClickCentre(ToolButton(*rig.frame, cmd::kNewFolder));
        QVERIFY(QFileInfo(rig.computer.filePath(base)).isDir());
        QTRY_VERIFY_WITH_TIMEOUT(list->Editing(), kWaitMs);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Field 7"));
        Key(Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo(rig.computer.filePath(QStringLiteral("Field 7"))).isDir(), kWaitMs);
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(base)));
        // The base name is free again; then (1) follows it.
        ClickIntoComputerPane(*rig.frame);
        ClickCentre(ToolButton(*rig.frame, cmd::kNewFolder));
        QTRY_VERIFY_WITH_TIMEOUT(list->Editing(), kWaitMs);
        Key(Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!list->Editing(), kWaitMs);
        ClickCentre(ToolButton(*rig.frame, cmd::kNewFolder));
        QTRY_VERIFY_WITH_TIMEOUT(list->Editing(), kWaitMs);
        Key(Qt::Key_Escape);
        QVERIFY(QFileInfo(rig.computer.filePath(base)).isDir());
        QVERIFY(QFileInfo(rig.computer.filePath(base + QStringLiteral("(1)"))).isDir());
        QTRY_VERIFY_WITH_TIMEOUT(RowNamed(list, base + QStringLiteral("(1)")), kWaitMs);
        QVERIFY(rig.messages.isEmpty());
    }

    void freeSpaceFromToolbar() {
        Rig rig;
        QVERIFY(Activate(*rig.frame));
        ClickIntoComputerPane(*rig.frame);
        QVERIFY(ToolButton(*rig.frame, cmd::kDiskSpace)->isEnabled());
        ClickCentre(ToolButton(*rig.frame, cmd::kDiskSpace));
        QCOMPARE(rig.messages.size(), 1);
        const double gb = static_cast<double>(QStorageInfo(rig.computer.path()).bytesAvailable()) /
                          (1024.0 * 1024 * 1024);
        QCOMPARE(rig.messages[0], Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE03, gb)));
        // Not offered for the handheld.
        ClickCentre(rig.DeviceList()->viewport());
        QCOMPARE(rig.frame->ActivePane(), rig.frame->DevicePane());
        QVERIFY(!ToolButton(*rig.frame, cmd::kDiskSpace)->isEnabled());
    }

    // A volume chosen in the drive selector is listed; one that went away
    // (a card pulled after the list was filled) gives the access error and
    // the selector goes back to the drive shown.
    void driveChangeAndItsFailure() {
        Rig rig;
        QVERIFY(Activate(*rig.frame));
        QTemporaryDir card;
        WriteFile(card.filePath(QStringLiteral("on-card.txt")), 3);
        const QString gone = rig.computer.filePath(QStringLiteral("pulled"));
        CDeviceComboBox* drives = rig.frame->ComputerPane()->DriveSelector();
        drives->AddVolume({QDir::cleanPath(card.path()), QStringLiteral("CARD")});
        drives->AddVolume({gone, QStringLiteral("GONE")});
        auto choose = [&](int index) {
            CWhenShown pick(Popup, [drives, index](QWidget*) {
                QTest::qWait(QApplication::doubleClickInterval() + 50);
                QAbstractItemView* view = drives->view();
                view->scrollTo(view->model()->index(index, 0));
                const QPoint at = view->visualRect(view->model()->index(index, 0)).center();
                QTest::mouseMove(view->viewport(), at);
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            });
            ClickCentre(drives);
            QTRY_VERIFY_WITH_TIMEOUT(pick.Done(), kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(!Popup(), kWaitMs);
        };
        choose(drives->count() - 2);
        QTRY_COMPARE_WITH_TIMEOUT(rig.frame->ComputerPane()->Folder(),
                                  QDir::cleanPath(card.path()) + u'/', kWaitMs);
        QCOMPARE(Column(rig.ComputerList(), 0), (QStringList{"..", "on-card.txt"}));
        QVERIFY(rig.messages.isEmpty());

        choose(drives->count() - 1);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 1, kWaitMs);
        QCOMPARE(rig.messages[0],
                 Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE05, gone.toStdString().c_str())));
        QCOMPARE(drives->currentIndex(), drives->count() - 2);
        QCOMPARE(rig.frame->ComputerPane()->Folder(), QDir::cleanPath(card.path()) + u'/');
    }

    // F2, a name typed, Return: a name that is taken gives the message and
    // changes nothing. This file system tells letter cases apart, so a name
    // that differs only in case is a different name here.
    void renameOntoExistingName_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("another file's name")
            << "B.txt" << true << QStringList{"B.txt", "a.txt", "sub"};
        QTest::newRow("a folder's name") << "sub" << true << QStringList{"B.txt", "a.txt", "sub"};
        QTest::newRow("another file's name in other case")
            << "b.txt" << false << QStringList{"B.txt", "b.txt", "sub"};
        QTest::newRow("own name in other case")
            << "A.TXT" << false << QStringList{"A.TXT", "B.txt", "sub"};
        QTest::newRow("a free name") << "c.txt" << false << QStringList{"B.txt", "c.txt", "sub"};
    }
    void renameOntoExistingName() {
        QFETCH(QString, typed);
        QFETCH(bool, refused);
        QFETCH(QStringList, after);
        Rig rig;
        QVERIFY(Activate(*rig.frame));
        WriteFile(rig.computer.filePath(QStringLiteral("a.txt")), 1);
        WriteFile(rig.computer.filePath(QStringLiteral("B.txt")), 2);
        QVERIFY(QDir(rig.computer.path()).mkdir(QStringLiteral("sub")));
        rig.frame->ComputerPane()->Refresh();
        CSortListCtrl* list = rig.ComputerList();
        QVERIFY(ClickRow(list, QStringLiteral("a.txt")));
        Key(Qt::Key_F2);
        QTRY_VERIFY_WITH_TIMEOUT(list->Editing(), kWaitMs);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), typed);
        Key(Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!list->Editing(), kWaitMs);
        const QStringList want =
            refused ? QStringList{Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE02_1,
                                               typed.toStdString().c_str())) +
                                  u'\n' + T(StringId::RES_CRIGHTFORMVIEW_MESSAGE02_2)}
                    : QStringList{};
        // The rename (or its message) follows once the editor has closed.
        auto onDisk = [&] {
            return QDir(rig.computer.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
        };
        auto shown = [&] {
            QStringList names = Column(list, 0);
            names.removeAll(QStringLiteral(".."));
            std::sort(names.begin(), names.end());
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages, want, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(onDisk(), after, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(shown(), after, kWaitMs);
        QCOMPARE(QFileInfo(rig.computer.filePath(QStringLiteral("B.txt"))).size(), qint64(2));
        // Nothing more turns up later.
        QTest::qWait(100);
        QCOMPARE(rig.messages, want);
    }

    void aboutBox() {
        CMainFrame frame;
        frame.SetEdition(QStringLiteral("Dorvane 1.2.3"));
        frame.resize(1000, 600);
        frame.show();
        QVERIFY(Activate(frame));
        QString title, okText;
        QStringList labels;
        CWhenShown closeIt(Modal, [&](QWidget* w) {
            title = w->windowTitle();
            for (QLabel* l : w->findChildren<QLabel*>())
                if (!l->text().isEmpty()) labels << l->text();
            QPushButton* ok = w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            okText = ok->text();
            Click(ok, ok->rect().center());
        });
        ClickCentre(ToolButton(frame, cmd::kAbout));
        QVERIFY(closeIt.Done());
        QCOMPARE(title, T(StringId::RES_CABOUTDLG_CAPTION));
        QCOMPARE(labels, (QStringList{"Dorvane 1.2.3", T(StringId::RES_CABOUTDLG_COPYRIGHT)}));
        QCOMPARE(okText, T(StringId::RES_CABOUTDLG_BTN_OK));
        QVERIFY(!Modal());
        // The Help menu's item opens the same box.
        CWhenShown again(Modal, [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        ChooseFromMenuBar(frame, 3, cmd::kAbout);
        QVERIFY(again.Done());
    }

    // Help Topics where no program can show a web page (no xdg-open, no
    // desktop): a message names the page, instead of only a warning on stderr.
    void helpWithoutABrowserSaysSo() {
        QTemporaryDir emptyPath;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", emptyPath.path().toLocal8Bit());
        for (const char* v : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                              "GNOME_DESKTOP_SESSION_ID"})
            qunsetenv(v);
        CMainFrame frame;
        frame.resize(1000, 600);
        frame.show();
        QVERIFY(Activate(frame));
        QString text;
        CWhenShown closeIt(Modal, [&](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) text = box->text();
            QTest::keyClick(w, Qt::Key_Escape);
        });
        ChooseFromMenuBar(frame, 3, cmd::kHelp);
        QVERIFY(closeIt.Done());
        qputenv("PATH", path);
        QVERIFY2(text.startsWith(T(StringId::RES_GUI_OPEN_FAILED).section(u'%', 0, 0)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("communication.html")), qPrintable(text));
    }

    void toolbarAndStatusBarToggles() {
        CMainFrame frame;
        frame.resize(1000, 600);
        frame.show();
        QVERIFY(Activate(frame));
        QToolBar* tools = frame.findChild<QToolBar*>();
        QStatusBar* status = frame.statusBar();
        QVERIFY(tools->isVisible() && status->isVisible());
        QVERIFY(frame.Action(cmd::kToolbar)->isChecked() &&
                frame.Action(cmd::kStatusBar)->isChecked());
        ChooseFromMenuBar(frame, 2, cmd::kToolbar);
        QVERIFY(!tools->isVisible());
        QVERIFY(!frame.Action(cmd::kToolbar)->isChecked());
        QVERIFY(status->isVisible());
        ChooseFromMenuBar(frame, 2, cmd::kStatusBar);
        QVERIFY(!status->isVisible());
        QVERIFY(!frame.Action(cmd::kStatusBar)->isChecked());
        ChooseFromMenuBar(frame, 2, cmd::kToolbar);
        QVERIFY(tools->isVisible());
        QVERIFY(frame.Action(cmd::kToolbar)->isChecked());
        ChooseFromMenuBar(frame, 2, cmd::kStatusBar);
        QVERIFY(status->isVisible());
        QVERIFY(frame.Action(cmd::kStatusBar)->isChecked());
    }
};

QTEST_MAIN(TestGuiCommands)
#include "test_gui_commands.moc"
