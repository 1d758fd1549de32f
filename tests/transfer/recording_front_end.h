#pragma once
// A front end for document tests: records what the document reports and
// plays the progress dialog (optionally pressing Cancel part-way).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/event.h"
#include "transfer/front_end.h"

namespace dorvane::test {

class RecordingFrontEnd : public IDocFrontEnd {
public:
    std::vector<std::uint32_t> hints;
    std::vector<int> deviceErrors;
    std::vector<std::string> shownErrors;
    std::vector<std::string> statusMessages;  ///< every text of pane 0, in order
    std::vector<std::pair<int, WaitCloseKind>> closes;
    std::vector<ProgressInfo> progress;
    /// Press Cancel once the progress passes this fraction (> 1: never).
    double cancelAt = 2.0;
    /// Longest time the dialog waits before the test gives up (Cancel).
    int dialogLimitMs = 60000;
    int dialogsRun = 0;
    /// Called on the caller's thread as the dialog starts running (what a
    /// user could do while it shows).
    std::function<void()> whileDialogRuns;

    void RelayToPanes(std::uint32_t h) override {
        std::lock_guard lock(m_);
        hints.push_back(h);
    }
    void PostDeviceError(int code) override {
        std::lock_guard lock(m_);
        deviceErrors.push_back(code);
    }
    void PostWaitClose(int code, WaitCloseKind kind) override {
        {
            std::lock_guard lock(m_);
            closes.emplace_back(code, kind);
            if (!closed_) {
                closed_ = true;
                closeKind_ = kind;
            }
        }
        cv_.notify_all();
    }
    void PostWaitProgress(const ProgressInfo& p) override {
        {
            std::lock_guard lock(m_);
            progress.push_back(p);
        }
        cv_.notify_all();
    }
    bool ProgressVisible() const override { return visible_; }
    void OpenProgressDialog() override {
        std::lock_guard lock(m_);
        closed_ = false;
        visible_ = true;
    }
    void AbortProgressDialog() override { visible_ = false; }
    DialogResult RunProgressDialog() override {
        if (whileDialogRuns) whileDialogRuns();
        std::unique_lock lock(m_);
        ++dialogsRun;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dialogLimitMs);
        bool cancel = false;
        while (!closed_) {
            if (!progress.empty() && progress.back().fraction >= cancelAt) {
                cancel = true;
                break;
            }
            if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
                cancel = true;
                break;
            }
        }
        visible_ = false;
        if (cancel) return DialogResult::kCancel;
        return closeKind_ == WaitCloseKind::kFinished ? DialogResult::kOk : DialogResult::kCancel;
    }
    void ShowError(const std::string& text) override {
        std::lock_guard lock(m_);
        shownErrors.push_back(text);
    }
    void SetStatusPane(int pane, const std::string& text) override {
        std::lock_guard lock(m_);
        if (pane == status_pane::kMessage && !text.empty()) statusMessages.push_back(text);
    }
    bool WaitForEvent(CEvent& event, int ms) override { return event.Wait(ms); }
    void SetBusyCursor(bool) override {}
    void Beep() override {}

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::atomic<bool> visible_{false};
    bool closed_ = false;
    WaitCloseKind closeKind_ = WaitCloseKind::kFinished;
};

}  // namespace dorvane::test
