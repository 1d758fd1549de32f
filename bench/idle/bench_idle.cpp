// An idle, connected desktop program: the main window connected to the
// emulator over a pty, then left alone. Prints the share of one core it used
// (all its threads: the GUI, the link's reader) and how its resident memory
// moved between the end of the first tenth and the end of the run.
// Runs on the offscreen platform; prints figures, it is not a test.
//
//   bench_idle [SECONDS]    (default 60)

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/sim_process.h"
#include "menus/commands.h"
#include "ui/main_frame.h"
#include "app/startup/standard_options.h"

using namespace dorvane;

namespace {

constexpr int kDefaultSeconds = 60;
constexpr double kCpuTarget = 1.0;  // percent of one core
constexpr int kDeviceFiles = 200;

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(
            argc, argv, "bench_idle",
            "usage: bench_idle [SECONDS]\n"
            "Connects the desktop program (offscreen) to dorvane-sim, leaves it idle for\n"
            "SECONDS (default 60) and prints its CPU share and resident memory with targets.\n"))
        return *done;
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultSeconds;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TempDir home;
    qputenv("HOME", QByteArray::fromStdString(home.path().string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / "cfg").string()));
    QApplication app(argc, argv);

    test::TempDir dev;
    for (int i = 0; i < kDeviceFiles; ++i)
        std::ofstream(dev / ("T" + std::to_string(100000 + i) + ".gpx")) << i;
    test::SimProcess sim(dev.path(), {});

    CMainFrame::Hooks hooks;
    hooks.messageBox = [](QMessageBox::Icon, const QString&, QMessageBox::StandardButtons) {
        return int(QMessageBox::Ok);
    };
    CDorvaneDoc::Options o;
    o.persistSettings = false;
    o.portList = [] { return std::vector<std::string>{}; };
    CMainFrame frame(o, hooks);
    frame.show();
    frame.Doc().SetPreferredPort(sim.path(), true);
    frame.RunCommand(cmd::kConnect);
    QApplication::processEvents();
    if (!frame.Doc().IsConnected()) {
        std::printf("not connected to the emulator: no figures\n");
        return 1;
    }

    // Settle: the listing run's end and the panes' refresh are not idling.
    QTimer::singleShot(1000, &app, &QApplication::quit);
    app.exec();

    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    long rssEarly = 0;
    QTimer::singleShot(seconds * 100, &app, [&] { rssEarly = ResidentKiB(); });
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    const long rssLate = ResidentKiB();

    const double share = 100.0 * cpu / wall;
    std::printf(
        "idle %.0f s, connected (%zu files listed): CPU %.3f s = %.2f %% of one core (target < "
        "%.0f %%)%s\n",
        wall, frame.Doc().DeviceFiles().size(), cpu, share, kCpuTarget,
        share < kCpuTarget ? "" : "  MISSED");
    std::printf(
        "resident memory: %ld KiB after %.0f s, %ld KiB at the end: %+ld KiB (target: no "
        "growth)%s\n",
        rssEarly, seconds / 10.0, rssLate, rssLate - rssEarly, rssLate <= rssEarly ? "" : "  GREW");
    return 0;
}
