// The main frame's status bar, device-error display and message boxes.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusTipEvent>

#include "menus/commands.h"
#include "ui/main_frame.h"
#include "ui/main_frame_parts.h"

namespace dorvane {

using frame_parts::kStatusPanes;
using frame_parts::Q;

namespace {

/// Selected bytes as the status bar shows them: "%.0f BYTE" below 1024,
/// otherwise "%.2f" with KB, MB or GB.
QString BytesText(qint64 bytes) {
    static const char* const kUnits[] = {"BYTE", "KB", "MB", "GB"};
    constexpr double kStep = 1024.0;
    double v = static_cast<double>(bytes);
    if (v < kStep) return QStringLiteral("%1 %2").arg(v, 0, 'f', 0).arg(QLatin1String(kUnits[0]));
    int unit = 0;
    while (v >= kStep && unit < 3) {
        v /= kStep;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(v, 0, 'f', 2).arg(QLatin1String(kUnits[unit]));
}

}  // namespace

void CMainFrame::OnDeviceError(int code) {
    ShowMessageBox(QMessageBox::Critical, Q(DeviceErrorText(code)), QMessageBox::Ok);
    // A time-out, a pulled cable or a worker that would not start leaves the link unusable.
    if (code == transport_error::kTimeout || code == transport_error::kDisconnected ||
        code == doc_error::kStartFailed)
        doc_->Disconnect();
}

int CMainFrame::ShowMessageBox(QMessageBox::Icon icon, const QString& text,
                               QMessageBox::StandardButtons buttons) {
    if (hooks_.messageBox) return hooks_.messageBox(icon, text, buttons);
    QMessageBox box(icon, QStringLiteral("Dorvane"), text, buttons, this);
    return box.exec();
}

void CMainFrame::ShowSelectionSummary(int count, qint64 bytes) {
    if (!panes_[1]) return;
    panes_[1]->setText(count < 1 ? QString()
                                 : Q(FormatText(StringId::RES_CMAINFRAME_MESSAGE01, count)));
    panes_[2]->setText(bytes == 0 ? QString() : BytesText(bytes));
}

void CMainFrame::SetStatusText(int pane, const QString& text) {
    if (pane >= 0 && pane < kStatusPanes && panes_[pane]) panes_[pane]->setText(text);
}

QString CMainFrame::StatusText(int pane) const {
    return pane >= 0 && pane < kStatusPanes && panes_[pane] ? panes_[pane]->text() : QString();
}

void CMainFrame::SetFrameTitle(const QString& title) {
    setWindowTitle(title);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* e) {
    // Qt tells nothing when the mouse is on a separator or between items of
    // a menu: the prompt is blank there, as on a popup item.
    if (e->type() == QEvent::MouseMove) {
        if (auto* menu = qobject_cast<QMenu*>(watched)) {
            const QAction* a = menu->actionAt(static_cast<QMouseEvent*>(e)->position().toPoint());
            if (!a || a->isSeparator() || a->menu())
                SetStatusText(status_pane::kMessage, QString());
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

bool CMainFrame::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        // An empty tip in an open menu is a popup item: the prompt is blank.
        // Outside menus (toolbar fly-by ended) the prompt is "Ready".
        if (!tip.isEmpty())
            SetStatusText(status_pane::kMessage, tip);
        else if (QApplication::activePopupWidget())
            SetStatusText(status_pane::kMessage, QString());
        else
            SetStatusText(status_pane::kMessage, Q(Text(StringId::RES_CMAINFRAME_TP_READY)));
        return true;
    }
    return QMainWindow::event(e);
}

}  // namespace dorvane
