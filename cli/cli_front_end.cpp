#include "cli/cli_front_end.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "transfer/dorvane_doc.h"
#include "transfer/event.h"

namespace dorvane {

namespace {
std::atomic<bool> gCancel{false};
/// How often the waits look at the cancel request (Ctrl+C).
constexpr auto kCancelPoll = std::chrono::milliseconds(50);
/// Width of the progress bar in characters.
constexpr int kBarWidth = 30;
}  // namespace

void CCliFrontEnd::RequestCancel() { gCancel = true; }

CCliFrontEnd::CCliFrontEnd(bool showProgress) : showProgress_(showProgress) {}

void CCliFrontEnd::PostDeviceError(int code) {
    lastError_ = code;
    ClearProgressLine();
    std::fprintf(stderr, "%s\n", DeviceErrorText(code).c_str());
    ++shownErrors_;
}

void CCliFrontEnd::PostWaitClose(int code, WaitCloseKind kind) {
    {
        std::lock_guard lock(m_);
        if (closed_) return;  // the first close wins, as with a dialog already gone
        closed_ = true;
        closeCode_ = code;
        closeKind_ = kind;
    }
    cv_.notify_all();
}

void CCliFrontEnd::PostWaitProgress(const ProgressInfo& p) {
    if (!showProgress_) return;
    std::lock_guard lock(m_);
    const int filled = static_cast<int>(p.fraction * kBarWidth + 0.5);
    std::string bar(static_cast<std::size_t>(std::clamp(filled, 0, kBarWidth)), '#');
    bar.resize(kBarWidth, '-');
    std::fprintf(stderr, "\r%-24.24s [%s] %3d%% %10u", p.name.c_str(), bar.c_str(),
                 static_cast<int>(p.fraction * 100 + 0.5), p.totalSize);
    std::fflush(stderr);
    progressShown_ = true;
}

void CCliFrontEnd::ClearProgressLine() {
    std::lock_guard lock(m_);
    if (progressShown_) {
        std::fprintf(stderr, "\r\033[K");
        progressShown_ = false;
    }
}

void CCliFrontEnd::OpenProgressDialog() {
    std::lock_guard lock(m_);
    closed_ = false;
    closeCode_ = 0;
    gCancel = false;
    visible_ = true;
}

DialogResult CCliFrontEnd::RunProgressDialog() {
    std::unique_lock lock(m_);
    while (!closed_ && !gCancel) cv_.wait_for(lock, kCancelPoll);
    visible_ = false;
    const bool cancelled = !closed_;
    const int code = closeCode_;
    const WaitCloseKind kind = closeKind_;
    lock.unlock();
    ClearProgressLine();
    if (cancelled) return DialogResult::kCancel;
    if (kind == WaitCloseKind::kFailed) {
        // The dialog shows the error text before it closes as cancelled.
        if (code != 0) {
            lastError_ = code;
            std::fprintf(stderr, "%s\n", DeviceErrorText(code).c_str());
            ++shownErrors_;
        }
        return DialogResult::kCancel;
    }
    return DialogResult::kOk;
}

void CCliFrontEnd::ShowError(const std::string& text) {
    if (quiet_) return;
    ClearProgressLine();
    std::fprintf(stderr, "%s\n", text.c_str());
    ++shownErrors_;
}

void CCliFrontEnd::SetStatusPane(int, const std::string&) {}

bool CCliFrontEnd::WaitForEvent(CEvent& event, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (event.Wait(static_cast<int>(kCancelPoll.count()))) return true;
        if (gCancel) return false;
    }
    return event.IsSet();
}

}  // namespace dorvane
