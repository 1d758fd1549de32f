// dorvane: the desktop program.
//
//   dorvane [--port PATH] [--connect] [-Code_Chi | -Code_Eng]
//     --port PATH   try this serial port (a pty, a udev symlink) before the search
//     --connect     connect as soon as the window is shown
//
// DORVANE_SCREENSHOT=file.png (for the documentation): after connecting, the
// program starts copying the largest file, saves a picture of the window with
// the progress dialog once the copy is a fifth done, cancels it and quits.

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <cstdio>
#include <string>

#include "app/startup/startup.h"
#include "i18n/string_table.h"
#include "ui/left_form_view.h"
#include "ui/main_frame.h"
#include "ui/sort_list.h"
#include "ui/trans_wait.h"

using namespace dorvane;

namespace {

/// The picture is taken once the dialog's bar has passed this percentage, so
/// that the name, the size and a real percentage are on it: the dialog shows
/// nothing until the first block of the file has arrived.
constexpr int kShotMinPercent = 20;
/// How often the dialog's bar is looked at while waiting for that (ms).
constexpr int kShotPollMs = 50;
/// Give up waiting for progress after this long (ms) and take the picture as
/// it is: a stalled emulator must not keep the script waiting for ever.
constexpr int kShotGiveUpMs = 30000;
/// Time for the hints of a connect to reach the panes (two queued hops).
constexpr int kListSettleMs = 300;
/// Size of the window in the documentation's pictures.
constexpr int kShotWidth = 1000;
constexpr int kShotHeight = 660;

struct Args {
    std::string port;
    bool connect = false;
    bool ok = true;
};

Args ParseArgs(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (s == "--port" && i + 1 < argc) a.port = argv[++i];
        else if (s == "--connect") a.connect = true;
        else if (s == "-Code_Chi" || s == "-Code_Eng") continue;  // read from the whole command line
        else if (s.rfind("-", 0) == 0 && s != "--port") continue;  // Qt's own options (-platform, ...)
        else a.ok = false;
    }
    return a;
}

void SaveShot(CMainFrame& frame, const QString& path) {
    QPixmap shot = frame.grab();
    CTransWait& dlg = frame.ProgressDialog();
    if (dlg.isVisible()) {
        QPainter p(&shot);
        const QPixmap d = dlg.grab();
        p.drawPixmap((shot.width() - d.width()) / 2, (shot.height() - d.height()) / 2, d);
    }
    if (!shot.save(path)) std::fprintf(stderr, "dorvane: could not save %s\n", qPrintable(path));
}

void TakeScreenshot(CMainFrame& frame, const QString& path) {
    CLeftFormView* device = frame.DevicePane();
    CSortListCtrl* list = device->List();
    if (!frame.Doc().IsConnected() || list->RowCount() == 0) {
        std::fprintf(stderr, "dorvane: nothing to copy for the screenshot (connected: %d)\n",
                     frame.Doc().IsConnected() ? 1 : 0);
        frame.close();
        return;
    }
    frame.SetActivePane(device);
    list->setFocus();
    // The largest file keeps the dialog up longest.
    int largest = 0;
    for (int i = 1; i < list->RowCount(); ++i)
        if (CSortListCtrl::SizeOf(list->Row(i)) > CSortListCtrl::SizeOf(list->Row(largest))) largest = i;
    list->Row(largest)->setSelected(true);
    // The copy runs the dialog modally inside CopySelection: the timer below
    // fires from the dialog's event loop. Once the picture is saved, Cancel
    // ends the copy so the program does not wait for the rest of the file.
    auto* poll = new QTimer(&frame);
    QElapsedTimer clock;  // copied into the lambda: it keeps the start time
    clock.start();
    QObject::connect(poll, &QTimer::timeout, &frame, [&frame, path, poll, clock] {
        CTransWait& dlg = frame.ProgressDialog();
        const bool ready = dlg.isVisible() && dlg.BarValue() >= kShotMinPercent;
        if (!ready && clock.elapsed() < kShotGiveUpMs) return;
        if (!ready) std::fprintf(stderr, "dorvane: no progress shown yet; taking the picture anyway\n");
        poll->stop();
        SaveShot(frame, path);
        if (dlg.isVisible()) dlg.CancelButton()->click();
    });
    poll->start(kShotPollMs);
    device->CopySelection(false);
    if (poll->isActive()) {  // the copy ended before any picture: take one now
        poll->stop();
        std::fprintf(stderr, "dorvane: the copy ended before the picture\n");
        SaveShot(frame, path);
    }
    poll->deleteLater();
    QTimer::singleShot(0, &frame, [&frame] { frame.close(); });
}

}  // namespace

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) must end a download with EFBIG and its
    // message, not kill the program half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quenmark Plotwise"));
    QCoreApplication::setApplicationName(QStringLiteral("Dorvane"));

    CSingleInstance instance = CSingleInstance::Acquire();
    if (!instance.ShouldRun()) return 0;  // another copy runs: leave silently

    const Args args = ParseArgs(argc, argv);
    if (!args.ok) {
        std::fprintf(stderr, "usage: %s [--port PATH] [--connect] [-Code_Chi | -Code_Eng]\n", argv[0]);
        return 2;
    }

    CMainFrame frame;
    if (!args.port.empty()) frame.Doc().SetPreferredPort(args.port, false);
    const QString screenshot = qEnvironmentVariable("DORVANE_SCREENSHOT");
    if (screenshot.isEmpty()) {
        frame.showMaximized();
    } else {  // a fixed size: a bare X server has no window manager to maximise it
        frame.resize(kShotWidth, kShotHeight);
        frame.show();
    }
    frame.setWindowTitle(QStringLiteral("Dorvane"));

    ApplyUserLocale();
    frame.SetEdition(QString::fromStdString(ReadProgramEdition().text));
    const Language language = ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName());
    frame.SwitchLanguage(static_cast<int>(language));

    if (args.connect || !screenshot.isEmpty()) {
        QTimer::singleShot(0, &frame, [&frame, screenshot] {
            frame.RunCommand(32774);
            if (!screenshot.isEmpty())
                QTimer::singleShot(kListSettleMs, &frame, [&frame, screenshot] { TakeScreenshot(frame, screenshot); });
        });
    }
    return app.exec();
}
