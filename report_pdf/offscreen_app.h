#pragma once
// The command line has no application object, but painting a PDF needs a
// QGuiApplication: this makes one on the offscreen platform for the scope
// (and nothing when one exists). Qt's own warnings about the platform (no
// runtime folder and the like) mean nothing to a user of the command line,
// so only critical messages reach stderr while it lives.

#include <QGuiApplication>
#include <memory>

namespace dorvane::report {

class OffscreenApp {
public:
    OffscreenApp();
    ~OffscreenApp();
    OffscreenApp(const OffscreenApp&) = delete;
    OffscreenApp& operator=(const OffscreenApp&) = delete;

private:
    // The application's arguments, its own for its life: QGuiApplication
    // takes the ones it understands ("-platform offscreen") out of them.
    int argc_ = 0;
    char* argv_[4] = {};
    std::unique_ptr<QGuiApplication> app_;
    QtMessageHandler previous_ = nullptr;
};

}  // namespace dorvane::report
