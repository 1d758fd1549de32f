#pragma once
// A small event in the manner of the handheld tools' original platform:
// manual-reset (stays set until Reset) or auto-reset (one Wait consumes it).
// Any thread may Set, Reset and Wait.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace dorvane {

class CEvent {
public:
    explicit CEvent(bool manualReset, bool initiallySet = false) : manual_(manualReset), set_(initiallySet) {}
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set() {
        {
            std::lock_guard lock(m_);
            set_ = true;
        }
        cv_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(m_);
        set_ = false;
    }
    bool IsSet() const {
        std::lock_guard lock(m_);
        return set_;
    }
    /// Waits until the event is set or `ms` pass; true when it was set. An
    /// auto-reset event is reset by the successful wait.
    bool Wait(int ms) {
        std::unique_lock lock(m_);
        const bool ok = cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
        if (ok && !manual_) set_ = false;
        return ok;
    }

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    const bool manual_;
    bool set_;
};

}  // namespace dorvane
