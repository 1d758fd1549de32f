#pragma once
// The command line's front end of the document core: the progress dialog is
// a wait on the main thread with a progress bar on stderr (when stderr is a
// terminal); message boxes are lines on stderr; Ctrl+C cancels a transfer.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "transfer/front_end.h"

namespace dorvane {

class CCliFrontEnd final : public IDocFrontEnd {
public:
    explicit CCliFrontEnd(bool showProgress);

    void RelayToPanes(std::uint32_t) override {}
    void PostDeviceError(int code) override;
    void PostWaitClose(int code, WaitCloseKind kind) override;
    void PostWaitProgress(const ProgressInfo& progress) override;
    bool ProgressVisible() const override { return visible_; }
    void OpenProgressDialog() override;
    void AbortProgressDialog() override { visible_ = false; }
    DialogResult RunProgressDialog() override;
    void ShowError(const std::string& text) override;
    void SetStatusPane(int pane, const std::string& text) override;
    bool WaitForEvent(CEvent& event, int ms) override;
    void SetBusyCursor(bool) override {}
    void Beep() override {}

    /// The last code of a device error or a failed close, 0 when none.
    int LastErrorCode() const { return lastError_; }
    void ResetErrors() { lastError_ = 0; shownErrors_ = 0; }
    /// Number of error texts already printed (so the caller does not repeat them).
    int ShownErrors() const { return shownErrors_; }
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    /// Installed as the SIGINT handler's target while a transfer runs.
    static void RequestCancel();

private:
    void ClearProgressLine();

    const bool showProgress_;
    std::atomic<bool> visible_{false};
    std::atomic<int> lastError_{0};
    std::atomic<int> shownErrors_{0};
    bool quiet_ = false;

    std::mutex m_;
    std::condition_variable cv_;
    bool closed_ = false;
    int closeCode_ = 0;
    WaitCloseKind closeKind_ = WaitCloseKind::kFinished;
    bool progressShown_ = false;
};

}  // namespace dorvane
