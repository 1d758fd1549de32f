#include "report_pdf/offscreen_app.h"

#include <cstdio>

namespace dorvane::report {

namespace {

void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
}

}  // namespace

OffscreenApp::OffscreenApp() {
    if (QGuiApplication::instance()) return;
    previous_ = qInstallMessageHandler(QuietQt);
    // Fresh for every application: a second PDF in the same process (a
    // test program) would otherwise start without "-platform offscreen".
    static char arg0[] = "dorvane-cli", arg1[] = "-platform", arg2[] = "offscreen";
    argc_ = 3;
    argv_[0] = arg0;
    argv_[1] = arg1;
    argv_[2] = arg2;
    argv_[3] = nullptr;
    app_ = std::make_unique<QGuiApplication>(argc_, argv_);
}

OffscreenApp::~OffscreenApp() {
    if (!app_) return;
    app_.reset();
    qInstallMessageHandler(previous_);
}

}  // namespace dorvane::report
