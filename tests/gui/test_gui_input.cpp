// The desktop program driven as a person drives it: mouse clicks at the
// widgets' real positions, keys to the focused widget, real cell editors,
// menus and the toolbar through their actions. Offscreen platform; the tests
// that need a handheld use the emulator.

#include <sys/stat.h>
#include <utime.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "convert/download.h"
#include "gui_rig.h"
#include "i18n/string_table.h"
#include "ui/profile.h"
#include "ui/selectors.h"

namespace fs = std::filesystem;
using namespace dorvane;
using namespace dorvane::test;

namespace {

QString T(StringId id) {
    return QString::fromStdString(Text(id));
}

/// A left click in the middle of a header section, where the user sees it.
void ClickHeader(CSortListCtrl* list, int column) {
    QHeaderView* h = list->header();
    const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2,
                    h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

/// A double click as the window system delivers it: press, release, then
/// the double-click press and its release.
void DoubleClick(QWidget* w, QPoint at) {
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, at);
}

/// Which way the sort arrow in a header section points, read from the
/// header's pixels near the section's right edge (where the arrow is
/// drawn): +1 up (its narrow end at the top), -1 down, 0 no arrow there.
int ArrowDirection(CSortListCtrl* list, int column) {
    QHeaderView* h = list->header();
    const QImage image = h->viewport()->grab().toImage();
    const int height = h->height();
    const int q = height / 4;
    const int right = h->sectionViewportPosition(column) + h->sectionSize(column);
    const int left = right - 3 * q - 3;
    std::vector<int> widths;
    for (int y = 0; y < height; ++y) {
        const QRgb background = image.pixel(left, y);
        int n = 0;
        for (int x = left + 1; x < right - q / 2; ++x) n += image.pixel(x, y) != background;
        if (n > 0) widths.push_back(n);
    }
    if (widths.size() < 3) return 0;
    return widths.front() < widths.back() ? 1 : widths.front() > widths.back() ? -1 : 0;
}

/// The frame shown and active, as it is on a desktop.
bool ShowActive(QWidget* frame) {
    frame->show();
    frame->activateWindow();
    return QTest::qWaitForWindowActive(frame);
}

/// Answers every real message box that opens, as a person would: a click on
/// its No (else OK) button where the button is. A box that a click cannot
/// close within kStuckMs is closed by force and counted as stuck, so a test
/// of a hang ends.
class CBoxAnswerer : public QObject {
public:
    static constexpr int kStuckMs = 3000;
    QStringList texts;
    QList<QStringList> buttons;
    int stuck = 0;

    CBoxAnswerer() {
        timer_.setInterval(50);
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start();
    }

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        if (box != current_) {
            current_ = box;
            since_.start();
            texts << box->text();
            QStringList names;
            for (QAbstractButton* b : box->buttons()) names << b->text();
            buttons << names;
            QAbstractButton* target = box->button(QMessageBox::No);
            if (!target) target = box->button(QMessageBox::Ok);
            if (!target) target = box->buttons().value(0);
            if (target)
                QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, target->rect().center());
            return;
        }
        if (since_.elapsed() > kStuckMs) {
            ++stuck;
            current_ = nullptr;
            box->done(QMessageBox::Cancel);
        }
    }

    QTimer timer_;
    QPointer<QMessageBox> current_;
    QElapsedTimer since_;
};

/// Counts the paints of a widget and the longest time between two of them,
/// while it asks for one every kAskMs.
class CPaintWatch : public QObject {
public:
    static constexpr int kAskMs = 50;
    explicit CPaintWatch(QWidget* w) : widget_(w) {
        w->installEventFilter(this);
        timer_.setInterval(kAskMs);
        connect(&timer_, &QTimer::timeout, this, [this] { widget_->update(); });
        timer_.start();
        clock_.start();
    }
    qint64 LongestGapMs() const { return std::max(longest_, clock_.elapsed() - last_); }
    int paints = 0;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == widget_ && e->type() == QEvent::Paint) {
            ++paints;
            const qint64 now = clock_.elapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        }
        return false;
    }

private:
    QWidget* widget_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

/// A frame with real message boxes (no test hook), connected to an emulator.
struct BoxRig {
    QTemporaryDir device;
    QTemporaryDir computer;
    std::unique_ptr<CSimProcess> sim;
    std::unique_ptr<CMainFrame> frame;

    explicit BoxRig(const QStringList& simOptions = {}) {
        for (const char* n : {"A.txt", "B.txt", "C.txt"})
            WriteFile(device.filePath(QString::fromLatin1(n)), 10);
        sim = std::make_unique<CSimProcess>(device.path(), simOptions);
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        o.listingTimeoutMs = 1000;
        o.portList = [] { return std::vector<std::string>{}; };
        frame = std::make_unique<CMainFrame>(o);
        frame->resize(1000, 600);
        frame->ComputerPane()->ListFolder(computer.path());
    }
    bool Connect() {
        if (sim->Pty().isEmpty() || !ShowActive(frame.get())) return false;
        frame->Doc().SetPreferredPort(sim->Pty().toStdString(), true);
        frame->Action(cmd::kConnect)->trigger();
        return frame->Doc().IsConnected();
    }
};

}  // namespace

class TestGuiInput : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseScratchHome();
        // A small icon theme of our own, so that file-type icons can be told
        // apart on any machine: set before any icon is asked for.
        QVERIFY(theme_.isValid());
        const QString root = theme_.filePath(QStringLiteral("dorvane-test"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/16x16")));
        std::ofstream(QString(root + QStringLiteral("/index.theme")).toStdString())
            << "[Icon "
               "Theme]\nName=dorvane-test\nDirectories=16x16\n\n[16x16]\nSize=16\nType=Fixed\n";
        for (const char* name : {"text-plain", "image-png", "text-x-generic"}) {
            QPixmap pixmap(16, 16);
            pixmap.fill(Qt::red);
            QVERIFY(pixmap.save(root + QStringLiteral("/16x16/") + QLatin1String(name) +
                                QStringLiteral(".png")));
        }
        QIcon::setThemeSearchPaths({theme_.path()});
        QIcon::setThemeName(QStringLiteral("dorvane-test"));
    }

    void headerClickSortsTheComputerPane() {
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        WriteFile(rig.computer.filePath(QStringLiteral("b")), 9);
        WriteFile(rig.computer.filePath(QStringLiteral("a")), 10);
        WriteFile(rig.computer.filePath(QStringLiteral("c")), 1000);
        fs::create_directory(rig.computer.filePath(QStringLiteral("z")).toStdString());
        rig.frame->ComputerPane()->Refresh();
        CSortListCtrl* list = rig.ComputerList();
        QCOMPARE(Column(list, 0), (QStringList{"..", "z", "a", "b", "c"}));
        // Column 0 is sorted ascending after a listing: a click turns it round.
        ClickHeader(list, 0);
        QCOMPARE(Column(list, 0).mid(2), (QStringList{"c", "b", "a"}));
        QVERIFY(!list->SortedAscending());
        // Another column sorts ascending, numbers by value; folders stay on top.
        ClickHeader(list, 2);
        QCOMPARE(Column(list, 0).mid(2), (QStringList{"b", "a", "c"}));
        QVERIFY(list->SortedAscending());
        QCOMPARE(list->SortedColumn(), 2);
        ClickHeader(list, 2);
        QCOMPARE(Column(list, 0).mid(2), (QStringList{"c", "a", "b"}));
    }

    void headerClickSortsTheDevicePane() {
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        CSortListCtrl* list = rig.DeviceList();
        ClickHeader(list, 1);  // size: A 10, C 30, B 2500
        QCOMPARE(Column(list, 0), (QStringList{"A.txt", "C.txt", "B.txt"}));
        ClickHeader(list, 1);
        QCOMPARE(Column(list, 0), (QStringList{"B.txt", "C.txt", "A.txt"}));
        ClickHeader(list, 0);
        QCOMPARE(Column(list, 0), (QStringList{"A.txt", "B.txt", "C.txt"}));
    }

    void columnWidthsAreNotStoredOnExit() {
        QSettings profile = ProfileSettings();
        profile.remove(QStringLiteral("ListCtrls"));
        profile.sync();
        {
            CMainFrame frame;
            QVERIFY(ShowActive(&frame));
            frame.ComputerPane()->List()->setColumnWidth(0, 333);
            frame.DevicePane()->List()->setColumnWidth(0, 222);
            QVERIFY(frame.close());
        }
        QSettings after = ProfileSettings();
        after.sync();
        QVERIFY(!after.contains(QStringLiteral("ListCtrls/1001")));
        QVERIFY(!after.contains(QStringLiteral("ListCtrls/1009")));
    }
    // After an edit that changes nothing (Escape, the same text, a new
    // folder's default name) Delete and double click work at once.
    void deleteAndDoubleClickWorkAfterAnEditThatChangedNothing() {
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        WriteFile(rig.computer.filePath(QStringLiteral("file.txt")), 3);
        fs::create_directory(rig.computer.filePath(QStringLiteral("sub")).toStdString());
        CRightFormView* pane = rig.frame->ComputerPane();
        pane->Refresh();
        CSortListCtrl* list = rig.ComputerList();
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());
        rig.answer = QMessageBox::No;
        const QString question =
            QString::fromStdString(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE04, 1));

        SelectNames(list, {"file.txt"});
        QTest::keyClick(list, Qt::Key_F2);
        QVERIFY(list->Editing());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!list->Editing());
        QTest::keyClick(list, Qt::Key_Delete);
        QTRY_COMPARE(rig.messages, QStringList{question});

        QTest::keyClick(list, Qt::Key_F2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);  // the same name
        QTest::keyClick(list, Qt::Key_Delete);
        QTRY_COMPARE(rig.messages.size(), 2);
        QVERIFY(QFileInfo::exists(rig.computer.filePath(QStringLiteral("file.txt"))));

        // New Folder from the menu, its default name accepted with Return.
        rig.frame->Action(cmd::kNewFolder)->trigger();
        QVERIFY(list->Editing());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        const QString folderName = T(StringId::RES_GLOBAL_STRING_NEW_FOLDER);
        QVERIFY(QFileInfo(rig.computer.filePath(folderName)).isDir());
        QTest::keyClick(list, Qt::Key_Delete);
        QTRY_COMPARE(rig.messages.size(), 3);

        // A double click on a folder goes into it.
        const CListRow sub = list->FindRow(QStringLiteral("sub"));
        QVERIFY(sub);
        DoubleClick(list->viewport(), list->RowRect(sub).center());
        QTRY_COMPARE(pane->Folder(),
                     QDir::cleanPath(rig.computer.filePath(QStringLiteral("sub"))) + u'/');
    }

    // A rename keeps the computer pane active with the focus in its list, so
    // the next Delete asks about the computer's files, not the handheld's.
    void renameKeepsTheComputerPaneActive() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("closeEditor")));
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        SelectNames(rig.DeviceList(), {"A.txt"});
        WriteFile(rig.computer.filePath(QStringLiteral("old.txt")), 3);
        WriteFile(rig.computer.filePath(QStringLiteral("zzz.txt")), 3);
        rig.frame->ComputerPane()->Refresh();
        CSortListCtrl* list = rig.ComputerList();
        list->setFocus();
        QTRY_COMPARE(rig.frame->ActivePane(),
                     static_cast<CListFormView*>(rig.frame->ComputerPane()));
        SelectNames(list, {"old.txt"});
        QTest::keyClick(list, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, QStringLiteral("new.txt"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(QFileInfo::exists(rig.computer.filePath(QStringLiteral("new.txt"))));
        QTest::qWait(50);
        QCOMPARE(Column(list, 0), (QStringList{"..", "new.txt", "zzz.txt"}));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list));
        QCOMPARE(rig.frame->ActivePane(), static_cast<CListFormView*>(rig.frame->ComputerPane()));
        QCOMPARE(rig.frame->windowTitle(), QStringLiteral("Dorvane -> PC"));
        rig.answer = QMessageBox::No;
        QTest::keyClick(list, Qt::Key_Delete);
        QTRY_COMPARE(rig.messages.size(), 1);
        QCOMPARE(rig.messages[0],
                 QString::fromStdString(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE04, 1)));
    }

    // F2, a name no file can have, Return: the old name stays and a message
    // says why (it used to come back without a word).
    void renameThatCannotHappenIsSaid_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("a slash") << "field/2.txt";
        QTest::newRow("the parent folder") << "..";
        QTest::newRow("the folder itself") << ".";
    }
    void renameThatCannotHappenIsSaid() {
        QFETCH(QString, typed);
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        WriteFile(rig.computer.filePath(QStringLiteral("old.txt")), 3);
        rig.frame->ComputerPane()->Refresh();
        CSortListCtrl* list = rig.ComputerList();
        list->setFocus();
        SelectNames(list, {"old.txt"});
        QTest::keyClick(list, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.size(), 1, kWaitMs);
        QCOMPARE(rig.messages[0],
                 QString::fromStdString(FormatText(
                     StringId::RES_FAULTS_RENAME_FAILED, "old.txt", typed.toStdString().c_str(),
                     Text(StringId::RES_FAULTS_CAUSE_BAD_NAME).c_str())));
        QVERIFY(QFileInfo::exists(rig.computer.filePath(QStringLiteral("old.txt"))));
        QCOMPARE(Column(list, 0), (QStringList{"..", "old.txt"}));
    }

    void startsWithTheComputerPaneActive() {
        CMainFrame frame;
        QVERIFY(ShowActive(&frame));
        QTest::qWait(20);
        QCOMPARE(frame.ActivePane(), static_cast<CListFormView*>(frame.ComputerPane()));
        QCOMPARE(frame.windowTitle(), QStringLiteral("Dorvane -> PC"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(frame.ComputerPane()->List()));
    }
    void pseudoMounts_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<bool>("pseudo");
        QTest::newRow("root") << "/" << QByteArray("ext4") << false;
        QTest::newRow("root on overlay") << "/" << QByteArray("overlay") << false;
        QTest::newRow("home") << "/home" << QByteArray("ext4") << false;
        QTest::newRow("udisks2 under /media") << "/media/ann/CARD" << QByteArray("vfat") << false;
        QTest::newRow("udisks2 under /run/media")
            << "/run/media/ann/CARD" << QByteArray("vfat") << false;
        QTest::newRow("udisks2 exfat stick")
            << "/run/media/ann/STICK 2" << QByteArray("exfat") << false;
        QTest::newRow("run") << "/run" << QByteArray("tmpfs") << true;
        QTest::newRow("run user") << "/run/user/1000" << QByteArray("tmpfs") << true;
        QTest::newRow("run lock") << "/run/lock" << QByteArray("tmpfs") << true;
        QTest::newRow("run media itself") << "/run/media" << QByteArray("tmpfs") << true;
        QTest::newRow("run mediaX") << "/run/mediafoo" << QByteArray("ext4") << true;
        QTest::newRow("proc") << "/proc" << QByteArray("proc") << true;
        QTest::newRow("snap") << "/snap/core/1" << QByteArray("squashfs") << true;
        QTest::newRow("tmp") << "/tmp" << QByteArray("tmpfs") << true;
    }
    void pseudoMounts() {
        QFETCH(QString, root);
        QFETCH(QByteArray, type);
        QFETCH(bool, pseudo);
        QCOMPARE(IsPseudoMount(root, type), pseudo);
    }
    // When a selector's list closes, the focus moves on to the pane's list.
    void selectorCloseUpMovesTheFocusOn() {
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        o.portList = [] { return std::vector<std::string>{}; };
        CMainFrame frame(o);
        frame.resize(1000, 600);
        QVERIFY(ShowActive(&frame));
        CDeviceComboBox* drives = frame.ComputerPane()->DriveSelector();
        QTest::mouseClick(drives, Qt::LeftButton, Qt::NoModifier, drives->rect().center());
        QTRY_VERIFY(drives->view()->isVisible());
        QTest::keyClick(drives->view(), Qt::Key_Escape);
        QTRY_VERIFY(!drives->view()->isVisible());
        QVERIFY(ShowActive(&frame));  // the window system gives the focus back to the window
        QTRY_COMPARE(QApplication::focusWidget(),
                     static_cast<QWidget*>(frame.ComputerPane()->List()));

        CIconComboBox* link = frame.DevicePane()->LinkSelector();
        QCOMPARE(frame.Doc().GetLinkType(), LinkType::kSerial);
        QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, link->rect().center());
        QTRY_VERIFY(link->view()->isVisible());
        QTest::keyClick(link->view(), Qt::Key_Down);
        QTest::keyClick(link->view(), Qt::Key_Return);
        QTRY_VERIFY(!link->view()->isVisible());
        QVERIFY(ShowActive(&frame));
        QTRY_COMPARE(QApplication::focusWidget(),
                     static_cast<QWidget*>(frame.DevicePane()->List()));
        QCOMPARE(frame.Doc().GetLinkType(), LinkType::kUsb);
        QCOMPARE(frame.ActivePane(), static_cast<CListFormView*>(frame.DevicePane()));
    }
    // A box that a queued call opens while a command waits for the handheld
    // can be answered: the wait keeps only the main window from input.
    void boxOpenedDuringAWaitCanBeAnswered() {
        BoxRig rig({QStringLiteral("--silent-after"), QStringLiteral("3")});
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.frame->DevicePane()->List()->RowCount(), 3, kWaitMs);
        CSortListCtrl* list = rig.frame->DevicePane()->List();
        list->setFocus();
        QTRY_COMPARE(rig.frame->ActivePane(), static_cast<CListFormView*>(rig.frame->DevicePane()));
        CBoxAnswerer answerer;
        // What a worker's report does: a queued call into the window while the
        // refresh waits for the silent handheld.
        CMainFrame* frame = rig.frame.get();
        QTimer::singleShot(300, frame, [frame] { frame->OnDeviceError(doc_error::kNotConnected); });
        QTest::keyClick(list, Qt::Key_F5);
        QTRY_COMPARE_WITH_TIMEOUT(answerer.texts.size(), 2, kWaitMs);
        QCOMPARE(answerer.texts[0],
                 QString::fromStdString(DeviceErrorText(doc_error::kNotConnected)));
        QCOMPARE(answerer.texts[1], T(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_DEV_ERROR));
        QCOMPARE(answerer.stuck, 0);
        QVERIFY(!rig.frame->Doc().IsConnected());
    }
    // A refresh against a handheld that stopped answering keeps the window
    // painting, shows the wait cursor and says what it waits for.
    void refreshOfASilentHandheldSaysItWaits() {
        BoxRig rig({QStringLiteral("--silent-after"), QStringLiteral("3")});
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.frame->DevicePane()->List()->RowCount(), 3, kWaitMs);
        CSortListCtrl* list = rig.frame->DevicePane()->List();
        list->setFocus();
        QTRY_COMPARE(rig.frame->ActivePane(), static_cast<CListFormView*>(rig.frame->DevicePane()));
        CBoxAnswerer answerer;
        QString status;
        bool waitCursor = false;
        int paintsBefore = -1;
        int paintsDuring = -1;
        CPaintWatch watch(rig.frame->statusBar());
        CMainFrame* frame = rig.frame.get();
        QTimer::singleShot(400, frame, [&] {
            status = frame->StatusText(status_pane::kMessage);
            waitCursor = QApplication::overrideCursor() &&
                         QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            paintsBefore = watch.paints;
        });
        QTimer::singleShot(800, frame, [&] { paintsDuring = watch.paints - paintsBefore; });
        QTest::keyClick(list, Qt::Key_F5);
        QCOMPARE(status, T(StringId::RES_GUI2_WAITING_DEVICE));
        QVERIFY(waitCursor);
        QVERIFY2(paintsDuring > 2, qPrintable(QString::number(paintsDuring)));
        QTRY_COMPARE_WITH_TIMEOUT(answerer.texts,
                                  QStringList{T(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_DEV_ERROR)},
                                  kWaitMs);
        QVERIFY(!rig.frame->Doc().IsConnected());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(rig.frame->StatusText(status_pane::kMessage) !=
                T(StringId::RES_GUI2_WAITING_DEVICE));
    }
    // A command that finds an earlier run still ending waits for it with the
    // window painting, instead of blocking for up to two seconds.
    void waitingForAnEarlierRunKeepsPainting() {
        BoxRig rig({QStringLiteral("--silent-after"), QStringLiteral("3")});
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.frame->DevicePane()->List()->RowCount(), 3, kWaitMs);
        CSortListCtrl* list = rig.frame->DevicePane()->List();
        list->setFocus();
        QTRY_COMPARE(rig.frame->ActivePane(), static_cast<CListFormView*>(rig.frame->DevicePane()));
        CBoxAnswerer answerer;
        // An earlier run that the silent handheld keeps from ending.
        CTransport& transport = rig.frame->Doc().Transport();
        transport.ClearJobs();
        transport.AddJob(wire::cmd::kList, "CONNECT", "");
        QVERIFY(transport.Start());
        CPaintWatch watch(rig.frame->statusBar());
        QTest::keyClick(list, Qt::Key_F5);
        QVERIFY2(watch.LongestGapMs() < CTransport::kFinishWaitMs / 2,
                 qPrintable(QString::number(watch.LongestGapMs())));
        QTRY_COMPARE_WITH_TIMEOUT(answerer.texts.size(), 1, kWaitMs);
    }
    // Message-box buttons speak the interface's language, and switch with it.
    void boxButtonsFollowTheLanguage() {
        QTemporaryDir dir;
        WriteFile(dir.filePath(QStringLiteral("keep.txt")), 3);
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        o.portList = [] { return std::vector<std::string>{}; };
        CMainFrame frame(o);
        frame.resize(1000, 600);
        QVERIFY(ShowActive(&frame));
        frame.ComputerPane()->ListFolder(dir.path());
        CSortListCtrl* list = frame.ComputerPane()->List();
        list->setFocus();
        QTRY_COMPARE(frame.ActivePane(), static_cast<CListFormView*>(frame.ComputerPane()));
        CBoxAnswerer answerer;
        auto askDelete = [&] {
            QTest::qWait(100);            // the panes rebuild after a language switch
            QVERIFY(ShowActive(&frame));  // the window system gives the focus back after a box
            SelectNames(list, {"keep.txt"});
            QTest::keyClick(list, Qt::Key_Delete);
            QTRY_COMPARE(answerer.buttons.size(), answerer.texts.size());
        };
        frame.Action(cmd::kEnglish)->trigger();
        frame.Action(cmd::kChinese)->trigger();
        askDelete();
        QTRY_COMPARE(answerer.buttons.size(), 1);
        QVERIFY2(answerer.buttons[0].contains(QStringLiteral("是(&Y)")),
                 qPrintable(answerer.buttons[0].join(u' ')));
        QVERIFY(answerer.buttons[0].contains(QStringLiteral("否(&N)")));
        frame.Action(cmd::kEnglish)->trigger();
        askDelete();
        QTRY_COMPARE(answerer.buttons.size(), 2);
        QVERIFY2(answerer.buttons[1].contains(QStringLiteral("&Yes")),
                 qPrintable(answerer.buttons[1].join(u' ')));
        QCOMPARE(answerer.stuck, 0);
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("keep.txt"))));  // No was clicked
        frame.Action(cmd::kChinese)->trigger();
    }
    // An entry dated before 2000 gets the time of the fill, on screen and in
    // the document's entry, so a refill shows the same time.
    void oldDeviceTimeIsKeptInTheDocument() {
        Rig rig({}, [](const QString& dir) {
            WriteFile(dir + QStringLiteral("/old.txt"), 5);
            WriteFile(dir + QStringLiteral("/new.txt"), 5);
            struct utimbuf t {};
            t.actime = t.modtime = 915148800;  // 1999-01-01
            ::utime(QFile::encodeName(dir + QStringLiteral("/old.txt")).constData(), &t);
        });
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 2, kWaitMs);
        constexpr std::int64_t kYear2000 = 946684800;
        std::int64_t stored = 0;
        for (const DeviceFileEntry& e : rig.frame->Doc().DeviceFiles())
            if (e.name == "old.txt") stored = e.mtime;
        QVERIFY2(stored >= kYear2000, qPrintable(QString::number(stored)));
        const QString shown =
            QDateTime::fromSecsSinceEpoch(stored).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        CSortListCtrl* list = rig.DeviceList();
        QCOMPARE(list->CellText(1, 0), QStringLiteral("old.txt"));
        QCOMPARE(list->CellText(1, 2), shown);
        // A refill from the document (the language switch rebuilds the list).
        rig.frame->Action(cmd::kEnglish)->trigger();
        QTRY_COMPARE(list->HeadingText(0),
                     ParseColumnSpec(QString::fromStdString(DevicePaneColumns()))[0].first);
        rig.frame->Action(cmd::kChinese)->trigger();
        QTRY_COMPARE(list->HeadingText(0),
                     ParseColumnSpec(QString::fromStdString(DevicePaneColumns()))[0].first);
        QTRY_COMPARE(list->RowCount(), 2);
        QCOMPARE(list->CellText(1, 2), shown);
    }
    // Device rows show the icon of the file's type, as the computer pane does.
    void deviceRowsShowTheirFileTypeIcon() {
        Rig rig({}, [](const QString& dir) {
            WriteFile(dir + QStringLiteral("/notes.txt"), 5);
            WriteFile(dir + QStringLiteral("/field.png"), 5);
        });
        WriteFile(rig.computer.filePath(QStringLiteral("notes.txt")), 5);
        WriteFile(rig.computer.filePath(QStringLiteral("field.png")), 5);
        rig.frame->ComputerPane()->Refresh();
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 2, kWaitMs);
        auto iconName = [](CSortListCtrl* list, const QString& name) {
            const CListRow found = list->FindRow(name);
            return found ? found.Icon().name() : QStringLiteral("(no row)");
        };
        QCOMPARE(iconName(rig.DeviceList(), QStringLiteral("notes.txt")),
                 QStringLiteral("text-plain"));
        QCOMPARE(iconName(rig.DeviceList(), QStringLiteral("field.png")),
                 QStringLiteral("image-png"));
        QCOMPARE(iconName(rig.ComputerList(), QStringLiteral("field.png")),
                 QStringLiteral("image-png"));
    }

    // The View menu's conversion item, clicked, makes a download of a track
    // arrive as GPX beside the bytes as received.
    void convertMenuItemConvertsADownload() {
        Rig rig({}, [](const QString& dir) {
            QFile::copy(QStringLiteral(DORVANE_SOURCE_DIR "/sim/samples/data/T0602_few.gpx"),
                        dir + QStringLiteral("/T0602_few.gpx"));
        });
        QVERIFY(ShowActive(rig.frame.get()));
        rig.frame->SetConvertOnDownload(false);
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 1, kWaitMs);
        QMenuBar* bar = rig.frame->menuBar();
        QAction* viewMenu = bar->actions().at(2);
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                          bar->actionGeometry(viewMenu).center());
        QMenu* menu = viewMenu->menu();
        QTRY_VERIFY(menu->isVisible());
        QAction* convert = rig.frame->Action(cmd::kConvert);
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                          menu->actionGeometry(convert).center());
        QTRY_VERIFY(convert->isChecked());
        QCOMPARE(rig.frame->Doc().ModelCode(), kConvertingModelCode);
        QVERIFY(ShowActive(rig.frame.get()));
        rig.DeviceList()->setFocus();
        QTRY_COMPARE(rig.frame->ActivePane(), static_cast<CListFormView*>(rig.frame->DevicePane()));
        SelectNames(rig.DeviceList(), {"T0602_few.gpx"});
        QTest::keyClick(rig.DeviceList(), Qt::Key_O, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(rig.computer.filePath(QStringLiteral("T0602_few.bak"))), kWaitMs);
        QFile gpx(rig.computer.filePath(QStringLiteral("T0602_few.gpx")));
        QVERIFY(gpx.open(QIODevice::ReadOnly));
        QVERIFY(gpx.readAll().contains("<gpx"));
        rig.frame->SetConvertOnDownload(false);
    }

    // After their first fill, both lists show every text and header whole.
    void columnsWidenToTheirTexts() {
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        WriteFile(rig.computer.filePath(QStringLiteral("a file with a rather long name.txt")),
                  1234567);
        rig.frame->ComputerPane()->Refresh();
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 3, kWaitMs);
        for (CSortListCtrl* list : {rig.DeviceList(), rig.ComputerList()}) {
            const auto spec = ParseColumnSpec(QString::fromStdString(
                list == rig.DeviceList() ? DevicePaneColumns() : ComputerPaneColumns()));
            for (int c = 0; c < list->ColumnCount(); ++c) {
                const QString where =
                    QStringLiteral("list %1 column %2").arg(list == rig.DeviceList()).arg(c);
                // The text, its cell margins, and in column 0 the icon.
                const QFontMetrics fm(list->font());
                // A cell's text margins on both sides, as the item delegate draws them.
                const int kCellMargins =
                    2 *
                    (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
                const int extra =
                    kCellMargins + (c == 0 ? list->iconSize().width() + kCellMargins : 0);
                for (int r = 0; r < list->RowCount(); ++r)
                    QVERIFY2(
                        list->columnWidth(c) >= fm.horizontalAdvance(list->CellText(r, c)) + extra,
                        qPrintable(where + u' ' + list->CellText(r, c)));
                QVERIFY2(list->columnWidth(c) >= list->header()->sectionSizeHint(c),
                         qPrintable(where));
                QVERIFY2(list->columnWidth(c) >= spec[static_cast<std::size_t>(c)].second,
                         qPrintable(where));
            }
        }
    }

    // The ascending arrow points up, the descending one down.
    void sortArrowPointsUpWhenAscending() {
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        CSortListCtrl* list = rig.ComputerList();
        list->setColumnWidth(1, 120);
        ClickHeader(list, 1);
        QVERIFY(list->SortedAscending());
        QCOMPARE(ArrowDirection(list, 1), 1);
        ClickHeader(list, 1);
        QVERIFY(!list->SortedAscending());
        QCOMPARE(ArrowDirection(list, 1), -1);
    }

    // Status prompt: a command's text on its item, blank on a popup or a
    // separator, "Ready" once the menu has closed.
    void menuPromptsBlankOnPopupsAndSeparators() {
        Rig rig;
        QVERIFY(ShowActive(rig.frame.get()));
        QMenuBar* bar = rig.frame->menuBar();
        QAction* viewMenu = bar->actions().at(2);
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                          bar->actionGeometry(viewMenu).center());
        QMenu* menu = viewMenu->menu();
        QTRY_VERIFY(menu->isVisible());
        auto hover = [&](QAction* a) {
            QTest::mouseMove(menu, menu->actionGeometry(a).center());
            QTest::qWait(50);
            return rig.frame->StatusText(status_pane::kMessage);
        };
        QCOMPARE(hover(rig.frame->Action(cmd::kToolbar)),
                 T(StringId::RES_CMAINFRAME_TP_VIEW_TOOLBAR));
        QAction* separator = nullptr;
        QAction* popup = nullptr;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator() && !separator) separator = a;
            if (a->menu()) popup = a;
        }
        QVERIFY(separator && popup);
        QCOMPARE(hover(separator), QString());
        QCOMPARE(hover(rig.frame->Action(cmd::kRefresh)), T(StringId::RES_CMAINFRAME_TP_APP_REFER));
        QCOMPARE(hover(popup), QString());
        QTest::keyClick(menu, Qt::Key_Escape);
        if (menu->isVisible()) QTest::keyClick(menu, Qt::Key_Escape);
        QTRY_VERIFY(!menu->isVisible());
        QTRY_COMPARE(rig.frame->StatusText(status_pane::kMessage),
                     T(StringId::RES_CMAINFRAME_TP_READY));
    }

    // "Split" lets the divider follow the arrow keys or the mouse until
    // Return or a click keeps it, or Escape puts it back.
    void splitMovesTheDividerWithKeysAndMouse() {
        CMainFrame frame;
        frame.resize(1000, 600);
        QVERIFY(ShowActive(&frame));
        QSplitter* splitter = frame.Splitter();
        const int start = splitter->sizes().at(0);
        auto keyToFocus = [](Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus);
            QTest::keyClick(focus, key, mods);
        };
        frame.Action(cmd::kSplit)->trigger();
        for (int i = 0; i < 3; ++i) keyToFocus(Qt::Key_Right);
        keyToFocus(Qt::Key_Left, Qt::ControlModifier);
        keyToFocus(Qt::Key_Return);
        QCOMPARE(splitter->sizes().at(0), start + 3 * 16 - 1);
        frame.Action(cmd::kSplit)->trigger();
        keyToFocus(Qt::Key_Left);
        QCOMPARE(splitter->sizes().at(0), start + 3 * 16 - 1 - 16);
        keyToFocus(Qt::Key_Escape);
        QCOMPARE(splitter->sizes().at(0), start + 3 * 16 - 1);
        // The mouse: the divider follows it and a click leaves it there.
        frame.Action(cmd::kSplit)->trigger();
        QWidget* cover = QApplication::focusWidget();
        QVERIFY(cover && cover != frame.ComputerPane()->List());
        QTest::mouseMove(cover, QPoint(300, 100));
        QTest::mouseClick(cover, Qt::LeftButton, Qt::NoModifier, QPoint(300, 100));
        QCOMPARE(splitter->sizes().at(0), 300);
        QVERIFY(!cover->isVisible());
    }

private:
    QTemporaryDir theme_;
};

QTEST_MAIN(TestGuiInput)
#include "test_gui_input.moc"
