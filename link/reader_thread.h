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

/// Pause after a pass that ended in an exception, so a pass that keeps
/// throwing does not spin the processor (the serial reader's 5 ms nap).
inline constexpr std::chrono::milliseconds kReaderFaultPause{5};

/// Not thread-safe by itself: Start and Stop touch one std::thread, so the
/// owning link serialises them under its own lock (see CSerial/CUsb).
class CReaderThread {
public:
    CReaderThread() = default;
    ~CReaderThread() { Stop(); }
    CReaderThread(const CReaderThread&) = delete;
    CReaderThread& operator=(const CReaderThread&) = delete;

    /// Stops a running reader, then runs `pass` on a new thread again and
    /// again until a stop is asked. An exception thrown by one pass (a
    /// receive callback that throws) is caught and ignored; the next pass
    /// follows after kReaderFaultPause. A pass must return within about one
    /// kReaderSlice once StopRequested() is true.
    void Start(std::function<void()> pass);

    /// Asks the reader to end and joins the thread. Called on the reader thread
    /// itself (from a receive callback) it only sets the flag; the thread is
    /// joined by the next Start/Stop or the destructor.
    void Stop();

    /// True while a thread exists that has not been joined (it may be ending).
    bool Running() const { return m_thread.joinable(); }

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
