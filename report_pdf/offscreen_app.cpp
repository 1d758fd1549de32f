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
    static int argc = 3;
    static char arg0[] = "dorvane-cli", arg1[] = "-platform", arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    app_ = std::make_unique<QGuiApplication>(argc, argv);
}

OffscreenApp::~OffscreenApp() {
    if (!app_) return;
    app_.reset();
    qInstallMessageHandler(previous_);
}

}  // namespace dorvane::report
