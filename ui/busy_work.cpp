#include "ui/busy_work.h"

#include <QProgressDialog>
#include <QPushButton>
#include <atomic>
#include <exception>
#include <thread>

namespace dorvane {

void RunWhileBusy(QWidget* parent, const QString& text, const std::function<void()>& work) {
    QProgressDialog box(text, QString(), 0, 0, parent);
    box.setObjectName(QStringLiteral("busyBox"));
    box.setWindowModality(Qt::WindowModal);
    box.setCancelButton(nullptr);
    box.setMinimumDuration(0);
    box.setAutoClose(false);
    box.setAutoReset(false);
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        // Queued: delivered by the box's own loop, which runs until then.
        QMetaObject::invokeMethod(
            &box, [&box] { box.done(QDialog::Accepted); }, Qt::QueuedConnection);
    });
    box.exec();
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

bool RunWithProgress(QWidget* parent, const QString& text, const std::function<void(const ProgressStep& step)>& work) {
    QProgressDialog box(text, QString(), 0, 0, parent);
    box.setObjectName(QStringLiteral("progressBox"));
    box.setWindowModality(Qt::WindowModal);
    box.setMinimumDuration(0);
    box.setAutoClose(false);
    box.setAutoReset(false);
    // The default button text, in the program's language, is Qt's "Cancel";
    // a button made here keeps an object name tests and AT-SPI find.
    auto* cancel = new QPushButton(QProgressDialog::tr("Cancel"), &box);
    cancel->setObjectName(QStringLiteral("progressCancel"));
    box.setCancelButton(cancel);
    std::atomic<bool> cancelled{false};
    QObject::connect(&box, &QProgressDialog::canceled, &box, [&cancelled] { cancelled = true; });
    const ProgressStep step = [&box, &cancelled](int done, int all) {
        QMetaObject::invokeMethod(
            &box,
            [&box, done, all] {
                box.setMaximum(all);
                box.setValue(done);
            },
            Qt::QueuedConnection);
        return !cancelled.load();
    };
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work(step);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            &box, [&box] { box.done(QDialog::Accepted); }, Qt::QueuedConnection);
    });
    // Cancel hides the box and ends exec before the work has stopped; the
    // box comes back until the worker's own done() came, as what the work
    // writes is still in use.
    while (box.exec() != QDialog::Accepted) box.show();
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return cancelled.load();
}

}  // namespace dorvane
