#pragma once
// The reader thread shared by the links: a std::thread with a cooperative stop
// flag. The body waits in short slices and checks the flag between them, so a
// stop never needs to terminate a thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace dorvane {

/// Longest single wait of a reader (poll slice, idle nap). It bounds how long
/// StopReader and Close wait for the reader to notice them.
inline constexpr std::chrono::milliseconds kReaderSlice{50};

class CReaderThread {
public:
    CReaderThread() = default;
    ~CReaderThread() { Stop(); }
    CReaderThread(const CReaderThread&) = delete;
    CReaderThread& operator=(const CReaderThread&) = delete;

    /// Stops a running body, then runs `body` on a new thread. The body must
    /// return soon after StopRequested() becomes true.
    void Start(std::function<void()> body);

    /// Asks the body to end and joins the thread. Called on the reader thread
    /// itself (from a receive callback) it only sets the flag; the thread is
    /// joined by the next Start/Stop or the destructor.
    void Stop();

    bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }

    /// Sleeps up to `slice`, waking early when a stop is asked. Reader thread.
    void Nap(std::chrono::milliseconds slice = kReaderSlice);

    bool IsReaderThread() const { return std::this_thread::get_id() == m_id.load(); }

private:
    std::thread m_thread;
    std::atomic<std::thread::id> m_id{};
    std::atomic<bool> m_stop{false};
    std::mutex m_napLock;
    std::condition_variable m_napWake;
};

}  // namespace dorvane
