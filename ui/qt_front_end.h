#pragma once
// CQtFrontEnd: the desktop program's side of IDocFrontEnd. Every call that
// may come from the worker thread records what it must and queues the rest
// into the GUI thread (QMetaObject::invokeMethod, Qt::QueuedConnection), so
// no window is touched off the GUI thread. The progress dialog runs modally
// (QDialog::exec); a close that arrives before it runs is kept and makes the
// run return at once. Waits keep the windows painted and drop user input.

#include <atomic>
#include <mutex>

#include "transfer/front_end.h"

namespace dorvane {

class CMainFrame;
class CTransWait;

class CQtFrontEnd : public IDocFrontEnd {
public:
    /// `frame` owns this object and the dialog; both outlive every call.
    CQtFrontEnd(CMainFrame& frame, CTransWait& dialog);

    void RelayToPanes(std::uint32_t hints) override;
    void PostDeviceError(int code) override;
    void PostWaitClose(int code, WaitCloseKind kind) override;
    void PostWaitProgress(const ProgressInfo& progress) override;
    bool ProgressVisible() const override { return visible_; }

    void OpenProgressDialog() override;
    void AbortProgressDialog() override;
    DialogResult RunProgressDialog() override;
    void ShowError(const std::string& text) override;
    void SetStatusPane(int pane, const std::string& text) override;
    bool WaitForEvent(CEvent& event, int ms) override;
    void SetBusyCursor(bool busy) override;
    void Beep() override;

    bool Waiting() const { return waiting_; }

private:
    CMainFrame& frame_;
    CTransWait& dialog_;
    std::atomic<bool> visible_{false};
    std::mutex m_;
    unsigned run_ = 0;           // counts dialog runs; a queued close acts only on its own run
    bool closed_ = false;        // a close arrived for the current run
    int closeCode_ = 0;
    WaitCloseKind closeKind_ = WaitCloseKind::kFinished;
    bool running_ = false;       // exec() is in progress (GUI thread only)
    int busyDepth_ = 0;          // balanced override cursors (GUI thread only)
    bool waiting_ = false;
};

}  // namespace dorvane
