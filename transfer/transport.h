#pragma once
// CTransport: runs a queue of protocol operations (jobs) against the handheld
// on a worker thread, so that the user interface never blocks on the link.
//
// Threads:
//   - the caller (user-interface thread, or the command line's main thread):
//     ClearJobs, AddJob, Set*, Start, Stop, Join. The queue is only changed
//     while no worker runs.
//   - the worker thread: the job loop and both callbacks.
//   - the link's reader thread: the receive callback, which appends bytes to
//     the receive area under the transport's lock and wakes the worker.
//
// The worker writes a request, waits for bytes at most the time-out, lets the
// engine cut and dispatch frames, and repeats an unanswered request up to the
// retry limit before it reports a time-out (code 16). A link that loses its
// device (IDevice::Lost) ends the run at once with code 247 (transport_error::kDisconnected) instead: no retry
// can reach a pulled cable.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/device.h"
#include "protocol/protocol.h"
#include "protocol/wire.h"

namespace dorvane {

/// One queued protocol operation.
struct TransferJob {
    std::uint8_t code = 0;    ///< operation code (55 fetch, 115 delete, 148 send, 113 list, ...)
    std::uint32_t flags = 0;  ///< wire::kSendFlag for operations that send blocks
    std::string localPath;    ///< computer file (send) or a tag
    std::string deviceName;   ///< the name on the handheld, in the handheld's bytes
    std::uint64_t receiveLimit = 0;  ///< largest total its blocks may claim (0: any)
};

/// Error codes the transport reports itself (the handheld's own codes pass through).
namespace transport_error {
inline constexpr int kException = 2;  ///< an unexpected exception ended the run
inline constexpr int kTimeout =
    16;  ///< no answer after the retries, or bytes that never form a frame
inline constexpr int kLocalReadFailed = 243;   ///< a file to send could not be read
inline constexpr int kLocalWriteFailed = 244;  ///< a received file could not be stored
inline constexpr int kDisconnected = 247;  ///< the link lost its device (cable pulled, device gone)
}  // namespace transport_error

class CTransport {
public:
    /// A job completed: the bytes received (fetch, listing) or sent. Runs on
    /// the worker thread. Returns 0 when the result was taken, or an error
    /// code that ends the run like a failure (the stop callback is then
    /// called with it) — a download that could not be stored must not be
    /// followed by the delete of a move.
    using DataCallback =
        std::function<int(std::vector<std::uint8_t>&& bytes, const TransferJob& job)>;
    /// A job or the run failed with `code`; runs on the worker thread.
    using StopCallback = std::function<void(int code, const TransferJob& job)>;

    /// Receive area of the worker (bytes): room for two of the largest frames.
    static constexpr std::size_t kReceiveAreaSize = 7840;
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr int kDefaultRetries = 3;
    /// Bytes received without a whole frame before the run ends with a
    /// time-out: twice the longest frame, so that no frame of legal size can
    /// trip it, at any line rate.
    static constexpr std::size_t kNoFrameByteLimit = 2 * wire::kMaxWireFrame;
    /// Bytes the reader may deliver ahead of the worker before they are
    /// dropped (a worker that long behind is stuck; the protocol asks again).
    static constexpr std::size_t kInboxLimit = 4 * 1024 * 1024;
    /// Bytes moved into the receive area at a time: one read of the link.
    static constexpr std::size_t kMoveChunk = 1024;
    /// How long ClearJobs waits for a run that is ending by itself.
    static constexpr int kFinishWaitMs = 2000;

    CTransport();
    ~CTransport();
    CTransport(const CTransport&) = delete;
    CTransport& operator=(const CTransport&) = delete;

    void SetDataCallback(DataCallback cb) { dataCallback_ = std::move(cb); }
    void SetStopCallback(StopCallback cb) { stopCallback_ = std::move(cb); }
    /// Called on the worker thread as the last step of every run, however it
    /// ended (a front end closes what is still waiting for the run).
    void SetFinishedCallback(std::function<void()> cb) { finishedCallback_ = std::move(cb); }
    void SetProtocol(IProtocol* engine) { engine_ = engine; }
    /// Sets the link of the next run. A run still ending (sending its closing
    /// frame) is waited for first (at most kFinishWaitMs, then stopped), as in
    /// ClearJobs, so it never writes to a link that was swapped under it.
    /// GUI or caller thread, never the worker.
    void SetLink(IDevice* link);
    IDevice* Link() const { return link_; }

    /// Empties the queue. A worker still running is waited for (at most
    /// kFinishWaitMs) and then stopped, so the queue is never changed under it.
    void ClearJobs();
    /// Appends a job. The device name is `path` when `name` is empty,
    /// otherwise `name` followed by the extension of `path` with its dot
    /// ("a.txt" -> name + ".txt"; just `name` when the path has no
    /// extension; "README." keeps its single trailing dot). `receiveLimit`
    /// bounds the total a received file may claim (see
    /// IProtocol::SetReceiveLimit; 0: any).
    void AddJob(std::uint8_t code, const std::string& path, const std::string& name,
                std::uint64_t receiveLimit = 0);
    /// Appends a job whose device name is `deviceName` exactly as given (the
    /// handheld's bytes, for a name converted to its code page as a whole).
    void AddNamedJob(std::uint8_t code, const std::string& path, const std::string& deviceName,
                     std::uint64_t receiveLimit = 0);
    std::size_t JobCount() const { return jobs_.size(); }
    const std::deque<TransferJob>& Jobs() const { return jobs_; }

    void SetTimeout(int ms) { timeoutMs_ = ms; }
    int GetTimeout() const { return timeoutMs_; }
    void SetRetries(int n) { retries_ = n; }
    int GetRetries() const { return retries_; }

    /// Stops a running worker, reopens the link and starts the job loop.
    /// Returns false (and starts nothing) when the link cannot be reopened.
    bool Start();
    /// Stops the worker: the reader stops delivering, the worker sends the
    /// cancel frame if it was waiting and ends. Returns when the worker
    /// thread has ended (it notices the stop within one wait; the longest
    /// step it cannot interrupt is one link write or one data callback).
    void Stop();
    /// Waits until the worker ends by itself, at most `ms`; true when it ended.
    bool Join(int ms);
    bool IsRunning() const { return running_; }
    /// True when the stop flag is set or the current job is the last one.
    bool IsLastJob() const;

private:
    /// Waits for a run that is still ending, then stops it (see ClearJobs).
    void FinishRun();
    static int OnReceive(void* self, const std::uint8_t* bytes, std::size_t count);
    static void OnLinkLost(void* self);
    void Run();
    void RunJobs();
    bool LoadJobStream(const TransferJob& job);
    enum class WaitOutcome { kContinue, kStopped, kFailed };
    WaitOutcome WaitStep(int& retry);
    bool TakeBytes();
    void WriteFrame(const std::uint8_t* bytes, std::size_t len, bool remember);
    void Fail(int code);

    DataCallback dataCallback_;
    StopCallback stopCallback_;
    std::function<void()> finishedCallback_;
    IProtocol* engine_ = nullptr;
    IDevice* link_ = nullptr;

    std::deque<TransferJob> jobs_;
    TransferJob current_;
    std::atomic<std::size_t> jobIndex_{0};
    // Set by the caller's thread, read by the worker's.
    std::atomic<int> timeoutMs_{kDefaultTimeoutMs};
    std::atomic<int> retries_{kDefaultRetries};

    std::atomic<bool> stop_{true};
    std::atomic<bool> running_{false};
    std::thread thread_;
    // The worker's id, stored by the worker itself first thing: Stop() on the
    // worker must not read thread_ while Start() may still be assigning it.
    std::atomic<std::thread::id> workerId_{};

    // Guarded by m_: the bytes the reader delivered and the worker has not
    // taken yet, and the wake-up flags.
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::uint8_t> inbox_;
    std::vector<std::size_t> inboxReads_;  ///< size of each read in inbox_, in order
    bool onRead_ = false;
    bool onStop_ = false;
    bool onLost_ = false;

    // Worker thread only: the receive area the engine cuts frames from. The
    // worker moves the reader's bytes into it a read at a time and cuts after
    // each, so it drains at the pace bytes arrive and never overflows with
    // frames of legal size.
    std::vector<std::uint8_t> rx_;
    std::size_t fill_ = 0;
    std::size_t bytesSinceFrame_ = 0;
    std::vector<std::uint8_t> taken_;
    std::vector<std::size_t> takenReads_;
    CMemStream stream_;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> lastFrame_;
};

}  // namespace dorvane
