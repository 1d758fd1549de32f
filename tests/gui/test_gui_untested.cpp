// Behaviour of the desktop program that worked without a test, each case
// started as a person starts it: clicks at the widgets' real positions
// (through the window), keys to the focused widget, the handheld played by
// dorvane-sim with its faults. Offscreen platform.

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <optional>

#include "gui_rig.h"
#include "i18n/string_table.h"
#include "ui/selectors.h"
#include "ui/trans_wait.h"

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

/// A mouse click delivered through the top-level window, as the window
/// system delivers it.
void Click(QWidget* w, QPoint at, Qt::KeyboardModifiers mods = {}) {
    QWidget* top = w->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, mods, w->mapTo(top, at));
}

CListRow RowNamed(CSortListCtrl* list, const QString& name) {
    for (int i = 0; i < list->RowCount(); ++i)
        if (list->CellText(i, 0) == name) return list->Row(i);
    return {};
}

bool ClickRow(CSortListCtrl* list, const QString& name, Qt::KeyboardModifiers mods = {}) {
    const CListRow row = RowNamed(list, name);
    if (!row) return false;
    list->ScrollToRow(row);
    Click(list->viewport(), list->RowRect(row).center(), mods);
    return true;
}

bool DoubleClickRow(CSortListCtrl* list, const QString& name) {
    const CListRow row = RowNamed(list, name);
    if (!row) return false;
    const QPoint at = list->RowRect(row).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    return true;
}

QStringList SelectedNames(CSortListCtrl* list) {
    QStringList out;
    for (int i = 0; i < list->RowCount(); ++i)
        if (list->Row(i).IsSelected()) out << list->CellText(i, 0);
    return out;
}

void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) {
    QWidget* w = QApplication::focusWidget();
    QVERIFY2(w, "nothing has the keyboard focus");
    QTest::keyClick(w, key, mods);
}

QToolButton* ToolButton(CMainFrame& frame, int id) {
    return qobject_cast<QToolButton*>(
        frame.findChild<QToolBar*>()->widgetForAction(frame.Action(id)));
}

/// One frame against an emulator serving a fresh folder, with the
/// document's options as a test needs them.
struct UiRig {
    QTemporaryDir device;
    QTemporaryDir computer;
    QStringList messages;
    std::unique_ptr<CSimProcess> sim;
    std::unique_ptr<CMainFrame> frame;

    explicit UiRig(const QStringList& simOptions,
                   const std::function<void(const QString&)>& fill = {},
                   const std::function<void(CDorvaneDoc::Options&)>& adjust = {}) {
        if (fill) {
            fill(device.path());
        } else {
            WriteFile(device.filePath(QStringLiteral("A.txt")), 10);
            WriteFile(device.filePath(QStringLiteral("B.txt")), 2500);
            WriteFile(device.filePath(QStringLiteral("C.txt")), 30);
        }
        sim = std::make_unique<CSimProcess>(device.path(), simOptions);
        CMainFrame::Hooks hooks;
        hooks.messageBox = [this](QMessageBox::Icon, const QString& text,
                                  QMessageBox::StandardButtons buttons) {
            messages << text;
            return buttons.testFlag(QMessageBox::Yes) ? int(QMessageBox::Yes) : int(QMessageBox::Ok);
        };
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        o.listingTimeoutMs = 2000;
        o.portList = [] { return std::vector<std::string>{}; };
        if (adjust) adjust(o);
        frame = std::make_unique<CMainFrame>(o, hooks);
        frame->resize(1000, 600);
        frame->show();
        frame->ComputerPane()->ListFolder(computer.path());
    }

    /// Connected through Ctrl+N, as the user connects.
    bool Connect() {
        if (sim->Pty().isEmpty()) return false;
        frame->activateWindow();
        if (!QTest::qWaitForWindowActive(frame.get())) return false;
        frame->Doc().SetPreferredPort(sim->Pty().toStdString(), true);
        CSortListCtrl* pc = ComputerList();
        Click(pc->viewport(), QPoint(20, pc->viewport()->height() - 10));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_N, Qt::ControlModifier);
        return frame->Doc().IsConnected();
    }
    CSortListCtrl* DeviceList() { return frame->DevicePane()->List(); }
    CSortListCtrl* ComputerList() { return frame->ComputerPane()->List(); }
};

/// Samples something every 20 ms while the program runs its own loops (a
/// modal dialog, a wait on the handheld).
class CSampler {
public:
    explicit CSampler(std::function<void()> sample) : sample_(std::move(sample)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { sample_(); });
        timer_.start(20);
    }

private:
    std::function<void()> sample_;
    QTimer timer_;
};

}  // namespace

class TestGuiUntested : public QObject {
    Q_OBJECT

public slots:
    /// The desktop's handler for file URLs while a test watches what is opened.
    void openFile(const QUrl& url) { opened_ << url; }

private slots:
    void initTestCase() { UseScratchHome(); }
    void init() { ResetToDefaults(); }

    // Every error code as the handheld sends it in answer to a delete: the
    // frame's error box shows the text of its key; after 16, 241 and 247 the
    // program disconnects. Code 0 is no error: no box, and the file stays.
    void errorCodeTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("key");  // StringId, or -1 for no box
        QTest::addColumn<bool>("disconnects");
        const auto row = [](int code, int key, bool disconnects = false) {
            QTest::addRow("%d", code) << code << key << disconnects;
        };
        using S = StringId;
        row(0, -1);
        row(1, int(S::RES_GLOBAL_STRING_RES_ERR_FILE_NOT_EXIST));
        row(2, int(S::RES_GLOBAL_STRING_RES_ERR_MSG_FILEBUSY));
        row(3, int(S::RES_GLOBAL_STRING_RES_ERR_MSG_FILEUNKNOW));
        row(4, int(S::RES_GLOBAL_STRING_RES_ERR_MSG_FILEEXIST));
        row(5, int(S::RES_GLOBAL_STRING_RES_ERR_MSG_WPTISFULL));
        row(6, int(S::RES_GLOBAL_STRING_RES_ERROR_NOSPACE));
        row(16, int(S::RES_GLOBAL_STRING_RES_ERR_MSG_TIMEOUT), true);
        row(48, int(S::RES_CMAINFRAME_ERROR_DONT_SUPPORT_DOWNLOAD_GMT));
        row(240, int(S::RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR));
        row(241, int(S::RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR), true);
        row(242, int(S::RES_GLOBAL_STRING_RES_ERR_FILE_NOT_EXIST));
        row(243, int(S::RES_GLOBAL_STRING_RES_ERR_LOCAL_READ));
        row(244, int(S::RES_GLOBAL_STRING_RES_ERR_LOCAL_WRITE));
        row(245, int(S::RES_CORE2_FILE_TOO_LARGE));
        row(246, int(S::RES_FAULTS_BAD_DATA));
        row(247, int(S::RES_FAULTS_DISCONNECTED), true);
        row(7, int(S::RES_GLOBAL_STRING_RES_ERR_OTHER));
        row(99, int(S::RES_GLOBAL_STRING_RES_ERR_OTHER));
        row(248, int(S::RES_GLOBAL_STRING_RES_ERR_OTHER));
        row(-1, int(S::RES_GLOBAL_STRING_RES_ERR_OTHER));
    }
    void errorCodeTexts() {
        QFETCH(int, code);
        QFETCH(int, key);
        QFETCH(bool, disconnects);
        UiRig rig({QStringLiteral("--error-on"), QStringLiteral("A.txt:%1").arg(code)}, {},
                  [](CDorvaneDoc::Options& o) { o.deleteWaitMs = 1500; });
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("A.txt")));
        Key(Qt::Key_Delete);
        if (key < 0) {
            // Skipped like a job that never was: the wait ends, the list is drawn again.
            QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 1, kWaitMs);  // the question
            QTest::qWait(2000);
            QCOMPARE(rig.messages.size(), 1);
            QVERIFY(rig.frame->Doc().IsConnected());
            QCOMPARE(Column(rig.DeviceList(), 0), (QStringList{"A.txt", "B.txt", "C.txt"}));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 2, kWaitMs);
        QCOMPARE(rig.messages.at(1), T(StringId(key)));
        if (disconnects) {
            QTRY_VERIFY_WITH_TIMEOUT(!rig.frame->Doc().IsConnected(), kWaitMs);
            QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 0, kWaitMs);
            QVERIFY(rig.frame->Action(cmd::kConnect)->isEnabled());
        } else {
            QTest::qWait(100);
            QVERIFY(rig.frame->Doc().IsConnected());
            QTRY_COMPARE_WITH_TIMEOUT(Column(rig.DeviceList(), 0),
                                      (QStringList{"A.txt", "B.txt", "C.txt"}), kWaitMs);
        }
        QVERIFY(QFileInfo::exists(rig.device.filePath(QStringLiteral("A.txt"))));
    }

    // The handheld went away before the delete: the worker cannot start, the
    // box says "not connected" (241) and the program disconnects.
    void deleteWhenTheWorkerCannotStart() {
        UiRig rig({});
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        rig.sim.reset();
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("B.txt")));
        Key(Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 2, kWaitMs);
        QCOMPARE(rig.messages.at(1), T(StringId::RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.frame->Doc().IsConnected(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 0, kWaitMs);
        QCOMPARE(rig.frame->StatusText(status_pane::kPort), QString());
    }

    // The handheld stops answering after the listing; the delete's request
    // is repeated until the time-out: the time-out box, then disconnected.
    void deleteTimesOut() {
        UiRig rig({QStringLiteral("--silent-after"), QStringLiteral("3")});
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        rig.frame->Doc().Transport().SetTimeout(300);  // four tries of 300 ms
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("C.txt")));
        Key(Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 2, kWaitMs);
        QCOMPARE(rig.messages.at(1), T(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_TIMEOUT));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.frame->Doc().IsConnected(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 0, kWaitMs);
        QVERIFY(QFileInfo::exists(rig.device.filePath(QStringLiteral("C.txt"))));
    }

    // No answer at all within the delete's 10 s (the worker's own time-out
    // is 30 s): the wait ends, the list is drawn again unchanged, no box.
    void deleteWithoutAnswerWaitsTenSeconds() {
        UiRig rig({QStringLiteral("--silent-after"), QStringLiteral("3")});
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        const QString waiting = T(StringId::RES_GUI2_WAITING_DEVICE);
        QElapsedTimer clock;
        qint64 firstOn = -1, lastOn = -1, offAfter = -1;
        CSampler sample([&] {
            const bool on = rig.frame->StatusText(status_pane::kMessage) == waiting;
            if (on && firstOn < 0) firstOn = clock.elapsed();
            if (on) lastOn = clock.elapsed();
            if (!on && lastOn >= 0 && offAfter < 0) offAfter = clock.elapsed();
        });
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("A.txt")));
        clock.start();
        Key(Qt::Key_Delete);
        QTRY_VERIFY_WITH_TIMEOUT(offAfter >= 0, 20000);
        QVERIFY2(firstOn >= 0 && firstOn < 1000, qPrintable(QString::number(firstOn)));
        QVERIFY2(lastOn >= 9500 && offAfter < 12000,
                 qPrintable(QStringLiteral("%1 %2").arg(lastOn).arg(offAfter)));
        QCOMPARE(rig.messages.size(), 1);  // the question only
        QVERIFY(rig.frame->Doc().IsConnected());
        QTRY_COMPARE_WITH_TIMEOUT(Column(rig.DeviceList(), 0),
                                  (QStringList{"A.txt", "B.txt", "C.txt"}), kWaitMs);
    }

    // Double click in the computer pane: a file opens in the desktop's
    // program for it, a folder opens in the pane, ".." goes up.
    void doubleClickInTheComputerPane() {
        UiRig rig({});
        fs::create_directory(rig.computer.filePath(QStringLiteral("sub")).toStdString());
        WriteFile(rig.computer.filePath(QStringLiteral("sub/field.kml")), 40);
        rig.frame->ComputerPane()->Refresh();
        const QString top = QDir::cleanPath(QDir(rig.computer.path()).absolutePath()) + u'/';
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openFile");
        opened_.clear();
        struct Step {
            QString row;
            QString folderAfter;
            QString openedFile;
        };
        const Step steps[] = {
            {QStringLiteral("sub"), top + QStringLiteral("sub/"), QString()},
            {QStringLiteral("field.kml"), top + QStringLiteral("sub/"),
             top + QStringLiteral("sub/field.kml")},
            {QStringLiteral(".."), top, QString()},
        };
        for (const Step& s : steps) {
            QVERIFY2(DoubleClickRow(rig.ComputerList(), s.row), qPrintable(s.row));
            QTRY_COMPARE_WITH_TIMEOUT(rig.frame->ComputerPane()->Folder(), s.folderAfter, kWaitMs);
            QCOMPARE(opened_.size(), s.openedFile.isEmpty() ? 0 : 1);
            if (!s.openedFile.isEmpty()) QCOMPARE(opened_.takeFirst().toLocalFile(), s.openedFile);
        }
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QVERIFY(rig.messages.isEmpty());
    }

    // The toolbar's Up button: enabled while the computer pane is active and
    // not at the root; a click goes to the parent folder.
    void toolbarUpButton() {
        UiRig rig({});
        fs::create_directories(rig.computer.filePath(QStringLiteral("a/b")).toStdString());
        const QString top = QDir::cleanPath(QDir(rig.computer.path()).absolutePath()) + u'/';
        rig.frame->ComputerPane()->ListFolder(top + QStringLiteral("a/b"));
        QToolButton* up = ToolButton(*rig.frame, cmd::kUp);
        QVERIFY(up);
        CSortListCtrl* pc = rig.ComputerList();
        const QPoint empty(20, pc->viewport()->height() - 10);
        Click(pc->viewport(), empty);
        QTRY_VERIFY_WITH_TIMEOUT(up->isEnabled(), kWaitMs);
        for (const QString& after : {top + QStringLiteral("a/"), top}) {
            Click(up, up->rect().center());
            QTRY_COMPARE_WITH_TIMEOUT(rig.frame->ComputerPane()->Folder(), after, kWaitMs);
            QVERIFY(up->isEnabled());
        }
        // The device pane active: Up is off there.
        Click(rig.DeviceList()->viewport(), QPoint(20, 20));
        QTRY_VERIFY_WITH_TIMEOUT(!up->isEnabled(), kWaitMs);
        Click(up, up->rect().center());
        QCOMPARE(rig.frame->ComputerPane()->Folder(), top);
        // At the root there is nothing above.
        Click(pc->viewport(), empty);
        QTRY_VERIFY_WITH_TIMEOUT(up->isEnabled(), kWaitMs);
        rig.frame->ComputerPane()->ListFolder(QStringLiteral("/"));
        QTRY_VERIFY_WITH_TIMEOUT(!up->isEnabled(), kWaitMs);
        Click(up, up->rect().center());
        QCOMPARE(rig.frame->ComputerPane()->Folder(), QStringLiteral("/"));
    }

    // A copy of three rows: each row loses its selection as its own file
    // arrives on the computer, in list order, while the dialog still shows.
    void eachDeviceRowDeselectedAsItsFileArrives() {
        UiRig rig({QStringLiteral("--baud"), QStringLiteral("19200")}, [](const QString& dir) {
            for (const char* n : {"A.txt", "B.txt", "C.txt"}) WriteFile(dir + u'/' + QLatin1String(n), 1500);
        });
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("A.txt")));
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("B.txt"), Qt::ControlModifier));
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("C.txt"), Qt::ControlModifier));
        QCOMPARE(SelectedNames(rig.DeviceList()), (QStringList{"A.txt", "B.txt", "C.txt"}));
        // Each change of the selection, with the files on the computer at that moment.
        QStringList seen;
        QString lastSelection = QStringLiteral("-");
        CTransWait& dlg = rig.frame->ProgressDialog();
        CSampler sample([&] {
            if (!dlg.isVisible()) return;
            const QString selection = SelectedNames(rig.DeviceList()).join(u',');
            if (selection == lastSelection) return;
            lastSelection = selection;
            QString arrived;
            for (const char* n : {"A.txt", "B.txt", "C.txt"})
                if (QFileInfo::exists(rig.computer.filePath(QLatin1String(n)))) arrived += QLatin1String(n);
            seen << selection + u'|' + arrived;
        });
        Key(Qt::Key_O, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.computer.filePath(QStringLiteral("C.txt"))), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), kWaitMs);
        const QStringList expected = {
            QStringLiteral("A.txt,B.txt,C.txt|"),
            QStringLiteral("B.txt,C.txt|A.txt"),
            QStringLiteral("C.txt|A.txtB.txt"),
            QStringLiteral("|A.txtB.txtC.txt"),
        };
        // The last row's deselection may come after the dialog has closed.
        QVERIFY2(seen.size() >= 3 && seen == expected.mid(0, seen.size()), qPrintable(seen.join(u' ')));
        QVERIFY(rig.messages.isEmpty());
    }

    // The progress dialog half-way through a file of two blocks: its caption
    // and button in the language's texts, "50.0 %" and the bar at 50; a click
    // on Cancel ends the copy and nothing is written.
    void progressDialogHalfWayAndCancelByClick() {
        UiRig rig({QStringLiteral("--baud"), QStringLiteral("9600")}, [](const QString& dir) {
            WriteFile(dir + QStringLiteral("/two.bin"), 3000);  // blocks of 1960 and 1040 bytes
        });
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 1, kWaitMs);
        QVERIFY(ClickRow(rig.DeviceList(), QStringLiteral("two.bin")));
        CTransWait& dlg = rig.frame->ProgressDialog();
        QString caption, button, percent, name, size;
        int bar = -1;
        bool clicked = false;
        CSampler sample([&] {
            if (clicked || !dlg.isVisible() || dlg.PercentText() != QStringLiteral("50.0 %")) return;
            caption = dlg.windowTitle();
            button = dlg.CancelButton()->text();
            percent = dlg.PercentText();
            name = dlg.NameText();
            size = dlg.SizeText();
            bar = dlg.BarValue();
            clicked = true;
            QTest::mouseClick(dlg.CancelButton(), Qt::LeftButton, {}, dlg.CancelButton()->rect().center());
        });
        QElapsedTimer clock;
        clock.start();
        Key(Qt::Key_O, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(clicked, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), kWaitMs);
        QCOMPARE(caption, T(StringId::RES_CTRANSWAIT_COPYFILE));
        QCOMPARE(button, T(StringId::RES_CTRANSWAIT_CANCEL));
        QCOMPARE(percent, QStringLiteral("50.0 %"));
        QCOMPARE(bar, 50);
        QCOMPARE(name, QStringLiteral("two.bin"));
        QCOMPARE(size, QStringLiteral("2.93 KB"));
        QTest::qWait(1500);  // past the time the second block would have taken
        QVERIFY(!QFileInfo::exists(rig.computer.filePath(QStringLiteral("two.bin"))));
        QVERIFY(rig.messages.isEmpty());  // a cancel is no error
        QVERIFY(rig.frame->Doc().IsConnected());
    }

    // Status pane 2 shows the selected bytes: BYTE below 1024, then KB, MB
    // and GB with two decimals. (The large files are sparse.)
    void selectedBytesInTheStatusBar_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("shown");
        QTest::newRow("1023") << QStringList{"s1023"} << "1023 BYTE";
        QTest::newRow("1024") << QStringList{"s1024"} << "1.00 KB";
        QTest::newRow("1536") << QStringList{"s1536"} << "1.50 KB";
        QTest::newRow("two files") << QStringList{"s1024", "s1536"} << "2.50 KB";
        QTest::newRow("just below 1 MB") << QStringList{"s1048575"} << "1024.00 KB";
        QTest::newRow("1.5 MB") << QStringList{"s1572864"} << "1.50 MB";
        QTest::newRow("1.5 GB") << QStringList{"s1610612736"} << "1.50 GB";
        QTest::newRow("5 GB") << QStringList{"s5368709120"} << "5.00 GB";
        QTest::newRow("2 TB stays in GB") << QStringList{"s2199023255552"} << "2048.00 GB";
    }
    void selectedBytesInTheStatusBar() {
        QFETCH(QStringList, names);
        QFETCH(QString, shown);
        UiRig rig({});
        for (const QString& n : names) {
            const fs::path p = rig.computer.filePath(n).toStdString();
            std::ofstream(p).close();
            std::error_code ec;
            fs::resize_file(p, std::stoull(n.mid(1).toStdString()), ec);
            if (ec) QSKIP("this file system cannot hold a sparse file that large");
        }
        rig.frame->ComputerPane()->Refresh();
        bool first = true;
        for (const QString& n : names) {
            QVERIFY(ClickRow(rig.ComputerList(), n, first ? Qt::NoModifier : Qt::ControlModifier));
            first = false;
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.frame->StatusText(2), shown, kWaitMs);
    }

    // Every resize of the frame puts the divider back: the two columns split
    // the width with the computer side 30 pixels wider, whatever the user
    // dragged it to.
    void frameResizeResetsTheDivider() {
        UiRig rig({});
        QSplitter* splitter = rig.frame->Splitter();
        QVERIFY(QTest::qWaitForWindowExposed(rig.frame.get()));
        const QList<int> rule = splitter->sizes();
        QVERIFY2(rule.at(1) - rule.at(0) >= 28 && rule.at(1) - rule.at(0) <= 31,
                 qPrintable(QStringLiteral("%1 %2").arg(rule.at(0)).arg(rule.at(1))));
        // Drag the handle 200 pixels left with the mouse.
        QSplitterHandle* handle = splitter->handle(1);
        QWidget* top = rig.frame.get();
        const QPoint from = handle->mapTo(top, handle->rect().center());
        const QPoint to = from - QPoint(200, 0);
        QTest::mousePress(top->windowHandle(), Qt::LeftButton, {}, from);
        QTest::mouseMove(top->windowHandle(), from - QPoint(100, 0));
        QTest::mouseMove(top->windowHandle(), to);
        QTest::mouseRelease(top->windowHandle(), Qt::LeftButton, {}, to);
        QTRY_VERIFY_WITH_TIMEOUT(splitter->sizes().at(0) < rule.at(0) - 150, kWaitMs);
        struct Size {
            int w, h;
        };
        for (const Size s : {Size{1000, 640}, Size{1200, 640}, Size{1000, 600}}) {
            rig.frame->resize(s.w, s.h);
            QTRY_COMPARE_WITH_TIMEOUT(rig.frame->width(), s.w, kWaitMs);
            const QList<int> now = splitter->sizes();
            const int diff = now.at(1) - now.at(0);
            QVERIFY2(diff >= 28 && diff <= 31,
                     qPrintable(QStringLiteral("%1: %2 %3").arg(s.w).arg(now.at(0)).arg(now.at(1))));
            if (s.w == 1000) QCOMPARE(now, rule);
        }
    }

    // The device pane's caption strip: "SMC:\" while connected, nothing
    // otherwise; grey with light text while the pane is inactive, the
    // highlight colour with white text while it is active.
    void deviceCaptionStrip() {
        UiRig rig({});
        CLeftFormView* pane = rig.frame->DevicePane();
        const QColor grey(0x80, 0x80, 0x80), light(0xD4, 0xD0, 0xC8), white(Qt::white);
        const QColor highlight = pane->palette().color(QPalette::Active, QPalette::Highlight);
        const int left = pane->LinkSelector()->geometry().right() + 2;
        // The strip's colours from the pane as drawn: the fill at its right
        // end, and the pixels of the text colour along its left part.
        auto look = [&](const QColor& text) {
            const QImage img = pane->grab().toImage();
            const QColor fill = img.pixelColor(pane->width() - 8, 13);
            int textPixels = 0;
            for (int x = left + 2; x < std::min(left + 80, pane->width() - 10); ++x)
                for (int y = 4; y < 24; ++y)
                    if (img.pixelColor(x, y) == text) ++textPixels;
            return std::make_pair(fill, textPixels);
        };
        struct Step {
            const char* what;
            bool connected;
            bool active;
        };
        const Step steps[] = {
            {"not connected, inactive", false, false},
            {"connected, inactive", true, false},
            {"connected, active", true, true},
        };
        for (const Step& s : steps) {
            if (s.connected && !rig.frame->Doc().IsConnected()) {
                QVERIFY(rig.Connect());
                QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
            }
            if (s.active) Click(rig.DeviceList()->viewport(), QPoint(20, rig.DeviceList()->viewport()->height() - 10));
            QTRY_COMPARE_WITH_TIMEOUT(pane->IsActive(), s.active, kWaitMs);
            QCOMPARE(pane->GetCaption(), s.connected ? QStringLiteral("SMC:\\") : QString());
            const QColor textColour = s.active ? white : light;
            const auto [fill, textPixels] = look(textColour);
            QCOMPARE(fill, s.active ? highlight : grey);
            if (s.connected)
                QVERIFY2(textPixels > 20, s.what);
            else
                QVERIFY2(textPixels == 0, s.what);
        }
    }

private:
    QList<QUrl> opened_;
};

QTEST_MAIN(TestGuiUntested)
#include "test_gui_untested.moc"
