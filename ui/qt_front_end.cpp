#include "ui/qt_front_end.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>

#include "transfer/dorvane_doc.h"
#include "transfer/event.h"
#include "ui/main_frame.h"
#include "ui/trans_wait.h"

namespace dorvane {

namespace {
/// How often a wait looks at its event while it keeps the windows painted.
constexpr int kWaitSliceMs = 20;

/// Swallows the main window's user input while a wait runs: the document's
/// command is still working and must not be re-entered. Only the main
/// window's: a box that a queued call opens meanwhile (a device error) is a
/// window of its own and must take its answer, or the program hangs in it.
class CInputEater : public QObject {
public:
    explicit CInputEater(QWidget* window) : window_(window) {}

protected:
    bool eventFilter(QObject* receiver, QEvent* e) override {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::TouchBegin:
        case QEvent::Close: return InMainWindow(receiver);
        default: return false;
        }
    }

private:
    bool InMainWindow(QObject* receiver) const {
        if (receiver->isWidgetType()) return static_cast<QWidget*>(receiver)->window() == window_;
        // The menu and toolbar commands' shortcuts go to their actions.
        if (auto* action = qobject_cast<QAction*>(receiver)) return action->parent() == window_;
        return false;
    }

    QWidget* window_;
};
}  // namespace

CQtFrontEnd::CQtFrontEnd(CMainFrame& frame, CTransWait& dialog) : frame_(frame), dialog_(dialog) {}

void CQtFrontEnd::RelayToPanes(std::uint32_t hints) {
    QMetaObject::invokeMethod(&frame_, [f = &frame_, hints] { f->PostToPanes(hints); }, Qt::QueuedConnection);
}

void CQtFrontEnd::PostDeviceError(int code) {
    QMetaObject::invokeMethod(&frame_, [f = &frame_, code] { f->OnDeviceError(code); }, Qt::QueuedConnection);
}

void CQtFrontEnd::PostWaitClose(int code, WaitCloseKind kind) {
    unsigned run = 0;
    {
        std::lock_guard lock(m_);
        if (closed_) return;  // the first close of a run wins
        closed_ = true;
        closeCode_ = code;
        closeKind_ = kind;
        run = run_;
    }
    QMetaObject::invokeMethod(&dialog_, [this, run] {
        std::lock_guard lock(m_);
        if (run != run_ || !running_) return;  // not running yet: RunProgressDialog sees closed_
        dialog_.CloseWith(closeKind_ == WaitCloseKind::kFinished ? QDialog::Accepted : QDialog::Rejected);
    }, Qt::QueuedConnection);
}

void CQtFrontEnd::PostWaitProgress(const ProgressInfo& progress) {
    dialog_.SetProgress(progress.name, progress.totalSize, progress.fraction);
    QMetaObject::invokeMethod(&dialog_, [d = &dialog_] { d->Refresh(); }, Qt::QueuedConnection);
}

void CQtFrontEnd::OpenProgressDialog() {
    {
        std::lock_guard lock(m_);
        ++run_;
        closed_ = false;
        closeCode_ = 0;
    }
    dialog_.ApplyTexts();
    dialog_.SetProgress({}, 0, 0.0);
    dialog_.Refresh();
    visible_ = true;
}

void CQtFrontEnd::AbortProgressDialog() {
    visible_ = false;
    std::lock_guard lock(m_);
    ++run_;
}

DialogResult CQtFrontEnd::RunProgressDialog() {
    bool closedEarly = false;
    {
        std::lock_guard lock(m_);
        closedEarly = closed_;
        running_ = !closedEarly;
    }
    int result = QDialog::Rejected;
    if (!closedEarly) {
        result = dialog_.exec();
        std::lock_guard lock(m_);
        running_ = false;
    }
    visible_ = false;
    int code = 0;
    WaitCloseKind kind = WaitCloseKind::kFinished;
    bool closed = false;
    {
        std::lock_guard lock(m_);
        closed = closed_;
        code = closeCode_;
        kind = closeKind_;
        closed_ = true;  // a late close of this run is ignored
        ++run_;
    }
    if (closedEarly) result = kind == WaitCloseKind::kFinished ? QDialog::Accepted : QDialog::Rejected;
    // The failure text is shown once the dialog has gone.
    if (closed && kind == WaitCloseKind::kFailed && code != 0)
        frame_.ShowMessageBox(QMessageBox::Critical, QString::fromStdString(frame_.Doc().ErrorText(code)), QMessageBox::Ok);
    return result == QDialog::Accepted ? DialogResult::kOk : DialogResult::kCancel;
}

void CQtFrontEnd::ShowError(const std::string& text) {
    frame_.ShowMessageBox(QMessageBox::Critical, QString::fromStdString(text), QMessageBox::Ok);
}

void CQtFrontEnd::SetStatusPane(int pane, const std::string& text) {
    frame_.SetStatusText(pane, QString::fromStdString(text));
}

bool CQtFrontEnd::WaitForEvent(CEvent& event, int ms) {
    CInputEater eater(&frame_);
    qApp->installEventFilter(&eater);
    waiting_ = true;
    QElapsedTimer clock;
    clock.start();
    bool set = false;
    while (!(set = event.Wait(0)) && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kWaitSliceMs);
        set = event.Wait(kWaitSliceMs);
        if (set) break;
    }
    waiting_ = false;
    qApp->removeEventFilter(&eater);
    return set;
}

void CQtFrontEnd::SetBusyCursor(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

void CQtFrontEnd::Beep() { QApplication::beep(); }

}  // namespace dorvane
