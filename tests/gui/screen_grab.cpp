// dorvane-screen-grab FILE.png: saves a picture of the whole X screen of
// $DISPLAY, message boxes and menus included, through Qt's own PNG writer.
// scripts/gui-check takes its pictures with it. Exit status 0 when saved.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include "app/startup/standard_options.h"

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(
            argc, argv, "dorvane-screen-grab",
            "usage: dorvane-screen-grab FILE.png\n"
            "Saves the whole X screen ($DISPLAY) as a PNG picture.\n"))
        return *done;
    if (argc != 2) {
        std::fprintf(stderr, "usage: dorvane-screen-grab FILE.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    // Window 0 is the root window: everything on the screen.
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "dorvane-screen-grab: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
