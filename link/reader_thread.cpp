#include "link/reader_thread.h"

#include <utility>

namespace dorvane {

void CReaderThread::Start(std::function<void()> pass) {
    Stop();
    if (m_thread.joinable()) {
        // Only reachable when Start runs on the reader thread itself: a thread
        // cannot join itself, so it keeps running its old body until it ends.
        return;
    }
    m_stop.store(false, std::memory_order_release);
    m_thread = std::thread([this, work = std::move(pass)] {
        m_id.store(std::this_thread::get_id());
        while (!StopRequested()) {
            try {
                work();
            } catch (...) {
                // One failed pass must not end the program (std::terminate)
                // nor the reader: its bytes are lost, the protocol asks again.
                Nap(kReaderFaultPause);
            }
        }
    });
    m_id.store(m_thread.get_id());
}

void CReaderThread::Stop() {
    {
        std::lock_guard lock(m_napLock);
        m_stop.store(true, std::memory_order_release);
    }
    m_napWake.notify_all();
    // On the reader itself, m_thread is not read: Start() on the starting
    // thread may still be assigning it.
    if (IsReaderThread() || !m_thread.joinable()) return;
    m_thread.join();
    m_id.store(std::thread::id{});
}

void CReaderThread::Nap(std::chrono::milliseconds slice) {
    std::unique_lock lock(m_napLock);
    m_napWake.wait_for(lock, slice, [this] { return StopRequested(); });
}

}  // namespace dorvane
