// dorvane: the desktop program.
//
//   dorvane [--port PATH] [--connect] [--book PATH] [-Code_Chi | -Code_Eng] [FILE]
//     --port PATH   try this serial port (a pty, a udev symlink) before the search
//     --connect     connect as soon as the window is shown
//     --book PATH   the season book of this run (not the one in the settings)
//     FILE          a GPX or KML file for the field view (the desktop entry's %f)
//   dorvane --help | --version   print and end, without a display
//   dorvane --snapshot FILE --out PICTURE.png [--size WxH] [--tiles URL|none]
//     the field view's map of FILE, fitted, saved without a window (the
//     offscreen platform when there is no display); exit 0, or 1 with the
//     reason on stderr, 2 for a usage error
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
#include <optional>
#include <regex>
#include <string>

#include "app/startup/program_help.h"
#include "app/startup/startup.h"
#include "geo/figure_lines.h"
#include "i18n/string_table.h"
#include "transfer/text_format.h"
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

/// Picture size of a snapshot unless --size says otherwise.
constexpr int kSnapshotWidth = 1280;
constexpr int kSnapshotHeight = 800;
constexpr int kMaxSnapshotSide = 16384;

struct Args {
    std::string port;
    std::string book;
    bool connect = false;
    bool ok = true;
    std::string file;  ///< shown in the field view (or the snapshot's input)
    bool snapshot = false;
    std::string out;
    int width = kSnapshotWidth;
    int height = kSnapshotHeight;
    std::optional<std::string> tiles;
};

bool ParseSize(const std::string& s, int& w, int& h) {
    std::smatch m;
    if (!std::regex_match(s, m, std::regex(R"((\d{1,5})x(\d{1,5}))"))) return false;
    w = std::stoi(m[1]);
    h = std::stoi(m[2]);
    return w > 0 && h > 0 && w <= kMaxSnapshotSide && h <= kMaxSnapshotSide;
}

Args ParseArgs(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (s == "--port" && i + 1 < argc) a.port = argv[++i];
        else if (s == "--book" && i + 1 < argc) a.book = argv[++i];
        else if (s == "--connect") a.connect = true;
        else if (s == "--snapshot" && i + 1 < argc) a.snapshot = true, a.file = argv[++i];
        else if (s == "--out" && i + 1 < argc) a.out = argv[++i];
        else if (s == "--size" && i + 1 < argc) a.ok = ParseSize(argv[++i], a.width, a.height) && a.ok;
        else if (s == "--tiles" && i + 1 < argc) a.tiles = argv[++i];
        else if (s == "--snapshot" || s == "--out" || s == "--size" || s == "--tiles") a.ok = false;
        else if (s == "-Code_Chi" || s == "-Code_Eng") continue;  // read from the whole command line
        else if (s.rfind("-", 0) == 0 && s != "--port" && s != "--book") continue;  // Qt's own options (-platform, ...)
        else if (a.file.empty()) a.file = s;
        else a.ok = false;
    }
    if (a.snapshot && a.out.empty()) a.ok = false;
    return a;
}

bool WantsSnapshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--snapshot") return true;
    return false;
}

int RunSnapshot(const Args& a) {
    LoadLanguage(ChooseLanguage("", UserLocaleName()));
    geo::FieldFile f;
    const geo::ReadResult r = geo::ReadFieldFile(a.file, f);
    if (!r.ok()) {
        std::fprintf(stderr, "%s\n",
                     FormatText(StringId::RES_FIELD_INFO_FAILED, a.file.c_str(), geo::ReadErrorMessage(r).c_str())
                         .c_str());
        return 1;
    }
    const TileSettings tiles = a.tiles ? TileSettingsFor(QString::fromStdString(*a.tiles)) : LoadTileSettings();
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
    // Answered before QApplication exists: it would connect to the display.
    const DesktopArgs desktopArgs = ParseDesktopArgs(argc, argv);
    if (desktopArgs.help || desktopArgs.version || !desktopArgs.bad.empty()) {
        ApplyUserLocale();
        LoadLanguage(ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName()));
        if (!desktopArgs.bad.empty()) {
            std::fprintf(stderr, "%s\n%s",
                         FormatText(StringId::RES_DESKTOP_BAD_ARGUMENT, desktopArgs.bad.c_str()).c_str(),
                         DesktopHelpText().c_str());
            return 2;
        }
        std::fputs(desktopArgs.help ? DesktopHelpText().c_str() : DesktopVersionText().c_str(), stdout);
        return 0;
    }

    // A snapshot needs no display: the offscreen platform draws as well.
    if (WantsSnapshot(argc, argv) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // A file size limit (ulimit -f) must end a download with EFBIG and its
    // message, not kill the program half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quenmark Plotwise"));
    QCoreApplication::setApplicationName(QStringLiteral("Dorvane"));

    const Args args = ParseArgs(argc, argv);
    if (!args.ok) {
        ApplyUserLocale();
        LoadLanguage(ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName()));
        std::fprintf(stderr, "%s\n%s --snapshot FILE --out PICTURE.png [--size WxH] [--tiles URL|none]\n",
                     FormatText(Text(StringId::RES_CORE2_GUI_USAGE), argv[0]).c_str(), argv[0]);
        return 2;
    }
    ApplyUserLocale();
    if (args.snapshot) return RunSnapshot(args);

    CSingleInstance instance = CSingleInstance::Acquire();
    if (!instance.ShouldRun()) {
        // Another copy runs: leave silently, but first hand it the file a
        // file manager asked to open, which would otherwise go nowhere.
        if (args.file.empty() || HandFileToRunningCopy(instance.HandOffPath(), args.file)) return 0;
        LoadLanguage(ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName()));
        std::fprintf(stderr, "%s\n",
                     FormatText(StringId::RES_DESKTOP_HANDOFF_FAILED, args.file.c_str()).c_str());
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

    if (!args.file.empty()) frame.OpenInFieldView(QString::fromStdString(args.file));
    if (args.connect || !screenshot.isEmpty()) {
        QTimer::singleShot(0, &frame, [&frame, screenshot] {
            frame.RunCommand(32774);
            if (!screenshot.isEmpty())
                QTimer::singleShot(kListSettleMs, &frame, [&frame, screenshot] { TakeScreenshot(frame, screenshot); });
        });
    }
    return app.exec();
}
