// dorvane: the desktop program.
//
//   dorvane [--port PATH] [--connect] [--book PATH] [-Code_Chi | -Code_Eng] [FILE]
//     --port PATH   try this serial port (a pty, a udev symlink) before the search
//     --connect     connect as soon as the window is shown
//     --book PATH   the season book of this run (not the one in the settings)
//     FILE          a GPX or KML file for the field view (the desktop entry's %f)
//   dorvane --help | --version   print and end, without a display
//   dorvane --snapshot FILE --out PICTURE.png [--size WxH] [--tiles URL|FILE.mbtiles|none]...
//                 [--overlay URL] [--offline]
//     the field view's map of FILE, fitted, saved without a window (the
//     offscreen platform when there is no display); exit 0, or 1 with the
//     reason on stderr
//   A bad or missing value, an unknown --option or a second FILE is a usage
//   error: the message names the argument and what it takes, in the user's
//   language, with the help; exit 2, before any window. Qt's own options
//   (-platform NAME, -style NAME, ...) pass to Qt.
//
// DORVANE_SCREENSHOT=file.png (for the documentation): after connecting, the
// program starts copying the largest file, saves a picture of the window with
// the progress dialog once the copy is a fifth done, cancels it and quits.

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <cstdio>
#include <string>

#include "app/startup/program_help.h"
#include "app/startup/startup.h"
#include "geo/figure_lines.h"
#include "i18n/string_table.h"
#include "transfer/text_format.h"
#include "map/map_tiles.h"
#include "ui/field_snapshot.h"
#include "ui/book_service.h"
#include "ui/file_handoff.h"
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
/// Size of the window before it is maximised (kept where nothing maximises it).
constexpr int kStartWidth = 1000;
constexpr int kStartHeight = 660;

int RunSnapshot(const DesktopArgs& a) {
    LoadLanguage(ChooseLanguage("", UserLocaleName()));
    geo::FieldFile f;
    const std::string& file = a.files.front();
    const geo::ReadResult r = geo::ReadFieldFile(file, f);
    if (!r.ok()) {
        std::fprintf(stderr, "%s\n",
                     FormatText(StringId::RES_FIELD_INFO_FAILED, file.c_str(),
                                geo::ReadErrorMessage(r).c_str())
                         .c_str());
        return 1;
    }
    QStringList sources;
    for (const std::string& t : a.tiles) sources << QString::fromStdString(t);
    const TileSettings tiles = TileSettingsFor(sources, QString::fromStdString(a.overlay), a.offline);
    // A pack that does not open is said, and the map drawn without it.
    const map::CMapTiles layers(tiles);  // Problems() is a reference into it
    for (const QString& problem : layers.Problems())
        std::fprintf(stderr, "dorvane: %s\n", problem.toLocal8Bit().constData());
    const QImage img = RenderFieldSnapshot(f, QSize(a.width, a.height), tiles);
    if (!img.save(QString::fromStdString(a.out), "PNG")) {
        std::fprintf(stderr, "dorvane: could not save %s\n", a.out.c_str());
        return 1;
    }
    return 0;
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
    list->Row(largest).SetSelected(true);
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
    // Answered before QApplication exists: it would connect to the display,
    // and a mistyped option must not open a window.
    const DesktopArgs args = ParseDesktopArgs(argc, argv);
    if (args.help || args.version || args.problem != DesktopArgProblem::None) {
        ApplyUserLocale();
        LoadLanguage(ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName()));
        if (args.problem != DesktopArgProblem::None) {
            std::fprintf(stderr, "dorvane: %s\n\n%s", DesktopArgsErrorText(args).c_str(),
                         DesktopHelpText().c_str());
            return 2;
        }
        std::fputs(args.help ? DesktopHelpText().c_str() : DesktopVersionText().c_str(), stdout);
        return 0;
    }
    const std::string file = args.files.empty() ? std::string() : args.files.front();

    // A snapshot needs no display: the offscreen platform draws as well.
    if (args.snapshot && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // A file size limit (ulimit -f) must end a download with EFBIG and its
    // message, not kill the program half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quenmark Plotwise"));
    QCoreApplication::setApplicationName(QStringLiteral("Dorvane"));

    ApplyUserLocale();
    if (args.snapshot) return RunSnapshot(args);

    CSingleInstance instance = CSingleInstance::Acquire();
    if (!instance.ShouldRun()) {
        // Another copy runs: leave silently, but first hand it the file a
        // file manager asked to open, which would otherwise go nowhere.
        if (file.empty() || HandFileToRunningCopy(instance.HandOffPath(), file)) return 0;
        LoadLanguage(ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName()));
        std::fprintf(stderr, "%s\n",
                     FormatText(StringId::RES_DESKTOP_HANDOFF_FAILED, file.c_str()).c_str());
        return 1;
    }

    if (!args.book.empty()) SetBookLocationForRun(QFileInfo(QString::fromStdString(args.book)).absoluteFilePath());
    CMainFrame frame;
    CFileHandOffServer handOff([&frame](const QString& path) {
        frame.OpenInFieldView(path);
        frame.raise();  // the window manager may still leave focus where it is
        frame.activateWindow();
    });
    if (!instance.HandOffPath().empty()) handOff.Listen(instance.HandOffPath());
    if (!args.port.empty()) frame.Doc().SetPreferredPort(args.port, false);
    const QString screenshot = qEnvironmentVariable("DORVANE_SCREENSHOT");
    if (screenshot.isEmpty()) {
        // The size it has where nothing maximises it (no window manager, or
        // one that ignores the request): both lists usable, not 280 x 100.
        frame.resize(kStartWidth, kStartHeight);
        frame.showMaximized();
    } else {  // a fixed size: a bare X server has no window manager to maximise it
        frame.resize(kShotWidth, kShotHeight);
        frame.show();
    }

    frame.SetEdition(QString::fromStdString(ReadProgramEdition().text));
    const Language language = ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName());
    frame.SwitchLanguage(static_cast<int>(language));

    if (!file.empty()) frame.OpenInFieldView(QString::fromStdString(file));
    if (args.connect || !screenshot.isEmpty()) {
        QTimer::singleShot(0, &frame, [&frame, screenshot] {
            frame.RunCommand(32774);
            if (!screenshot.isEmpty())
                QTimer::singleShot(kListSettleMs, &frame, [&frame, screenshot] { TakeScreenshot(frame, screenshot); });
        });
    }
    return app.exec();
}
