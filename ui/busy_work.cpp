#include "ui/busy_work.h"

#include <QProgressDialog>
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

}  // namespace dorvane
