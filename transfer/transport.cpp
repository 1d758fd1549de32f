#include "transfer/transport.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "names/file_names.h"

namespace dorvane {

namespace {
/// Grow step of the stream that receives a file.
constexpr std::size_t kReceiveGrowStep = 65536;
/// Pause between starting the reader and taking its bytes, as the original
/// worker does, so a handheld's stale bytes are not mistaken for an answer.
constexpr auto kReaderSettle = std::chrono::milliseconds(100);
}  // namespace

CTransport::CTransport()
    : rx_(kReceiveAreaSize), stream_(kReceiveGrowStep), frame_(wire::kMaxWireFrame) {}

CTransport::~CTransport() {
    Stop();
}

void CTransport::FinishRun() {
    // A run that has finished its jobs is only sending its closing frame or
    // releasing the link: let it end (at most kFinishWaitMs), else stop it.
    if (thread_.joinable() && !Join(kFinishWaitMs)) Stop();
    if (thread_.joinable()) thread_.join();
    workerId_.store(std::thread::id{});
}

void CTransport::SetLink(IDevice* link) {
    FinishRun();
    link_ = link;
}

void CTransport::ClearJobs() {
    // The queue is the worker's while it runs.
    FinishRun();
    jobIndex_ = 0;
    jobs_.clear();
}

void CTransport::AddJob(std::uint8_t code, const std::string& path, const std::string& name,
                        std::uint64_t receiveLimit) {
    // The extension with its dot, so a name ending in a lone dot gets one dot
    // back, not the dot of the split plus the "extension" ".".
    AddNamedJob(code, path, name.empty() ? path : name + PathPart(path, PathPartKind::kExtension),
                receiveLimit);
}

void CTransport::AddNamedJob(std::uint8_t code, const std::string& path,
                             const std::string& deviceName, std::uint64_t receiveLimit) {
    TransferJob job;
    job.code = code;
    job.receiveLimit = receiveLimit;
    job.flags = OperationFlags(code);
    job.localPath = path;
    job.deviceName = deviceName;
    jobs_.push_back(std::move(job));
}

bool CTransport::IsLastJob() const {
    return stop_ || jobIndex_ + 1 >= jobs_.size();
}

bool CTransport::Start() {
    if (thread_.joinable()) Stop();
    if (!link_ || !engine_ || !link_->Reopen()) return false;
    {
        std::lock_guard lock(m_);
        inbox_.clear();
        inboxReads_.clear();
        onRead_ = onStop_ = onLost_ = false;
    }
    fill_ = 0;
    bytesSinceFrame_ = 0;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] {
        workerId_.store(std::this_thread::get_id());
        Run();
    });
    return true;
}

void CTransport::Stop() {
    stop_ = true;
    if (std::this_thread::get_id() == workerId_.load()) {
        // Called from a callback on the worker itself: it ends after the callback.
        std::lock_guard lock(m_);
        onStop_ = true;
        return;
    }
    if (link_) {
        link_->SetReceiveCallback(nullptr, nullptr);
        link_->StopReader();
    }
    {
        std::lock_guard lock(m_);
        onStop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    workerId_.store(std::thread::id{});
    running_ = false;
    stream_.Clear();
}

bool CTransport::Join(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running_) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (thread_.joinable()) thread_.join();
    workerId_.store(std::thread::id{});
    return true;
}

int CTransport::OnReceive(void* self, const std::uint8_t* bytes, std::size_t count) {
    auto* t = static_cast<CTransport*>(self);
    {
        std::lock_guard lock(t->m_);
        if (t->inbox_.size() + count > kInboxLimit) {
            t->inbox_.clear();
            t->inboxReads_.clear();
        }
        t->inbox_.insert(t->inbox_.end(), bytes, bytes + count);
        t->inboxReads_.push_back(count);
        t->onRead_ = true;
    }
    t->cv_.notify_all();
    return 1;
}

void CTransport::OnLinkLost(void* self) {
    auto* t = static_cast<CTransport*>(self);
    {
        std::lock_guard lock(t->m_);
        t->onLost_ = true;
    }
    t->cv_.notify_all();
}

void CTransport::WriteFrame(const std::uint8_t* bytes, std::size_t len, bool remember) {
    if (remember) lastFrame_.assign(bytes, bytes + len);
    link_->Write(bytes, len);
}

void CTransport::Fail(int code) {
    stop_ = true;
    if (stopCallback_) stopCallback_(code, current_);
}

void CTransport::Run() {
    try {
        RunJobs();
    } catch (...) {
        TransferJob job;
        job.code = wire::cmd::kData;
        stop_ = true;
        if (stopCallback_) stopCallback_(transport_error::kException, job);
    }
    link_->SetReceiveCallback(nullptr, nullptr);
    link_->SetLostCallback(nullptr, nullptr);
    stream_.Clear();
    if (finishedCallback_) finishedCallback_();
    running_ = false;
}

bool CTransport::LoadJobStream(const TransferJob& job) {
    stream_.Clear();
    if (!(job.flags & wire::kSendFlag)) return true;
    std::error_code ec;
    const std::filesystem::path path(job.localPath);
    if (!std::filesystem::exists(path, ec) || std::filesystem::is_directory(path, ec)) return true;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    stream_.Assign(std::move(bytes));
    return true;
}

void CTransport::RunJobs() {
    // Run begin: reader on, a moment to settle, then take bytes.
    link_->SetLostCallback(&CTransport::OnLinkLost, this);
    link_->StartReader();
    std::this_thread::sleep_for(kReaderSettle);
    link_->SetReceiveCallback(&CTransport::OnReceive, this);

    std::size_t len = 0;
    engine_->SetState(ProtocolState::kReady);
    engine_->BuildHandshake(frame_, len);
    WriteFrame(frame_.data(), len, true);
    jobIndex_ = 0;
    if (!jobs_.empty()) current_ = jobs_[0];

    while (!stop_) {
        if (jobIndex_ >= jobs_.size()) {
            engine_->BuildClosingFrame(frame_, len);
            WriteFrame(frame_.data(), len, false);
            break;
        }
        if (!LoadJobStream(current_)) {
            Fail(transport_error::kLocalReadFailed);
            break;
        }
        engine_->BeginOperation(current_.code, &stream_, current_.deviceName);
        engine_->SetReceiveLimit(current_.receiveLimit);

        int retry = 1;
        bool jobDone = false;
        while (!stop_ && !jobDone) {
            if (link_->Lost()) {
                Fail(transport_error::kDisconnected);
                break;
            }
            switch (engine_->GetState()) {
                case ProtocolState::kReady:
                    if (engine_->BuildNextRequest(frame_, len) > 0) {
                        WriteFrame(frame_.data(), len, true);
                        retry = 1;
                    }
                    break;
                case ProtocolState::kWaiting:
                    if (WaitStep(retry) == WaitOutcome::kStopped) jobDone = true;
                    break;
                case ProtocolState::kComplete: {
                    engine_->SetState(ProtocolState::kReady);
                    int result = 0;
                    if (dataCallback_) result = dataCallback_(stream_.TakeBytes(), current_);
                    stream_.Clear();
                    if (result != 0) Fail(result);
                    jobDone = true;
                    break;
                }
                case ProtocolState::kFailed: {
                    const int code = engine_->GetDeviceError();
                    stream_.Clear();
                    engine_->SetState(ProtocolState::kReady);
                    if (code != 0) Fail(code);
                    jobDone = true;
                    break;
                }
            }
        }
        stream_.Clear();
        if (stop_) break;
        ++jobIndex_;
        if (jobIndex_ < jobs_.size()) current_ = jobs_[jobIndex_];
    }
}

bool CTransport::TakeBytes() {
    // Bytes go into the receive area one read of the link at a time (as the
    // reader delivered them, however many reads one wake-up collected), each
    // followed by cutting every whole frame; a read larger than kMoveChunk
    // goes in kMoveChunk pieces. Bytes left over after the state turned
    // failed wait in the area; the next run starts with an empty one.
    struct Clear {
        CTransport& t;
        ~Clear() {
            t.taken_.clear();
            t.takenReads_.clear();
        }
    } clear{*this};
    std::size_t pos = 0;
    for (const std::size_t read : takenReads_) {
        const std::size_t end = std::min(pos + read, taken_.size());
        while (pos < end) {
            const std::size_t n = std::min(kMoveChunk, end - pos);
            // A read that would overflow the area empties it first (only a
            // stream that never forms a frame gets here).
            if (fill_ + n > kReceiveAreaSize - 1) fill_ = 0;
            std::memcpy(rx_.data() + fill_, taken_.data() + pos, n);
            fill_ += n;
            pos += n;
            bytesSinceFrame_ += n;
            while (engine_->CutFrames(rx_.data(), fill_) == CutResult::kFrame) {
                bytesSinceFrame_ = fill_;
                if (engine_->GetState() == ProtocolState::kFailed) return true;
            }
            if (bytesSinceFrame_ > kNoFrameByteLimit) {
                Fail(transport_error::kTimeout);
                return false;
            }
        }
    }
    return true;
}

CTransport::WaitOutcome CTransport::WaitStep(int& retry) {
    std::unique_lock lock(m_);
    const bool woke = cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs_),
                                   [this] { return onRead_ || onStop_ || onLost_; });
    if (onLost_ && !onRead_ && !onStop_) {
        // The device went away: nothing more can come, and a cancel frame
        // has nowhere to go.
        lock.unlock();
        Fail(transport_error::kDisconnected);
        return WaitOutcome::kStopped;
    }
    if (onStop_) {
        onStop_ = false;
        lock.unlock();
        std::size_t len = 0;
        engine_->BuildCancel(frame_, len);
        WriteFrame(frame_.data(), len, false);
        stop_ = true;
        return WaitOutcome::kStopped;
    }
    if (woke) {
        onRead_ = false;
        taken_.swap(inbox_);
        takenReads_.swap(inboxReads_);
        inbox_.clear();
        inboxReads_.clear();
        lock.unlock();
        return TakeBytes() ? WaitOutcome::kContinue : WaitOutcome::kStopped;
    }
    // Time-out: repeat the last frame unchanged, up to the retry limit.
    lock.unlock();
    if (retry > retries_) {
        Fail(transport_error::kTimeout);
        return WaitOutcome::kStopped;
    }
    WriteFrame(lastFrame_.data(), lastFrame_.size(), false);
    ++retry;
    return WaitOutcome::kContinue;
}

}  // namespace dorvane
