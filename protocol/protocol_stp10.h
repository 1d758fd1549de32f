#pragma once
// CProtocol_STP10: the handheld's frame protocol (requests, answers, blocks
// in windows of 16 with acknowledgement and missing-block lists).

#include <array>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "protocol/ack_list.h"
#include "protocol/protocol.h"

namespace dorvane {

/// Error code the engine reports itself: the file to send has more blocks
/// than the signed 16-bit block count holds (32 767), or a request does not
/// fit a frame. It lies beside the computer's own codes (240...244), outside
/// the handheld's: the handheld's 48 means it refuses a GMT file.
inline constexpr std::int16_t kErrorFileTooLarge = 245;
/// Error code the engine reports itself: the handheld announces a file larger
/// than the receive limit (the size its own listing gave for it).
inline constexpr std::int16_t kErrorLargerThanListed = 246;

class CProtocol_STP10 final : public IProtocol {
public:
    CProtocol_STP10() = default;

    void BuildHandshake(FrameBuffer buf, std::size_t& len) override;
    std::size_t BuildNextRequest(FrameBuffer buf, std::size_t& len) override;
    void BuildCancel(FrameBuffer buf, std::size_t& len) override;
    void BuildRequest128(std::uint32_t arg, FrameBuffer buf, std::size_t& len) override;
    void BuildRequest133(std::uint32_t arg, FrameBuffer buf, std::size_t& len) override;
    void SetAnswerCallback(AnswerCallback cb) override { answer_ = std::move(cb); }
    CutResult CutFrames(std::uint8_t* buf, std::size_t& fill) override;
    void BuildClosingFrame(FrameBuffer buf, std::size_t& len) override;
    ProtocolState GetState() const override { return state_; }
    void SetState(ProtocolState s) override { state_ = s; }
    std::uint32_t BeginOperation(std::uint8_t op, CMemStream* stream,
                                 const std::string& name) override;
    std::int16_t GetDeviceError() const override { return deviceError_; }
    std::uint32_t GetProtocolVersion() const override { return version_; }

    void SetProgressCallback(ProgressCallback cb) { progress_ = std::move(cb); }
    /// No receive limit beyond the protocol's own bound (32 767 blocks).
    static constexpr std::uint64_t kNoReceiveLimit = std::numeric_limits<std::uint64_t>::max();
    /// Largest file the following operations may receive, in bytes. A data
    /// block whose header announces a larger file fails the operation with
    /// kErrorLargerThanListed before a byte of it is stored, so what is
    /// received never takes more memory than the limit. Set it while no
    /// worker runs; it holds until it is set again.
    void SetReceiveLimit(std::uint64_t bytes) { receiveLimit_ = bytes; }

    /// Handles one cut frame (undouble, check, dispatch). Returns false when
    /// the frame was dropped (bad length or check, unexpected command).
    bool HandleFrame(std::span<const std::uint8_t> wireFrame);

    /// Counters for tests and diagnostics.
    struct Stats {
        std::uint32_t framesDropped = 0;   ///< bad length, check or unexpected command
        std::uint32_t blocksRejected = 0;  ///< data blocks failing the sanity checks
        std::uint32_t blocksSent = 0;      ///< data blocks built (resends included)
    };
    const Stats& GetStats() const { return stats_; }
    std::uint32_t RequestCount() const { return requests_; }

private:
    void Expect(std::initializer_list<std::uint8_t> cmds);
    void BuildU32Request(std::uint8_t command, std::uint8_t answer, std::uint32_t arg,
                         FrameBuffer buf, std::size_t& len);
    std::size_t Emit(std::uint8_t cmd, std::span<const std::uint8_t> payload, FrameBuffer buf,
                     std::size_t& len);
    std::size_t BuildSendRequest(FrameBuffer buf, std::size_t& len);
    std::size_t BuildPlainRequest(FrameBuffer buf, std::size_t& len);
    void Dispatch(const DecodedFrame& f);
    void OnAck(std::span<const std::uint8_t> p, std::uint32_t version);
    void OnNak(std::span<const std::uint8_t> p);
    void OnWindowAnswer(bool positive, std::span<const std::uint8_t> p);
    void OnWindowEnd(std::span<const std::uint8_t> p);
    void OnDataBlock(std::uint8_t cmd, std::span<const std::uint8_t> p);
    void ReportProgress(std::uint32_t total, std::uint32_t done, std::uint32_t count);
    std::vector<std::uint8_t> NamePayload() const;

    // Operation
    std::uint8_t op_ = 0;
    std::uint32_t flags_ = 0;
    ProtocolState state_ = ProtocolState::kReady;
    std::int16_t deviceError_ = 0;
    std::set<std::uint8_t> expected_;
    std::string name_;
    CMemStream* stream_ = nullptr;
    std::uint32_t requests_ = 0;
    std::uint64_t receiveLimit_ = kNoReceiveLimit;

    // Block transfer
    CACKList sent_, acked_, received_;
    std::uint32_t window_ = 0;
    std::uint32_t totalSize_ = 0;
    std::uint32_t blockCount_ = 0;
    std::uint32_t currentBlock_ = 0;
    std::uint8_t ackCommand_ = 0;
    std::vector<std::uint8_t> ackPayload_;
    bool ackReady_ = false;

    CFrameDecoder decoder_;
    std::vector<std::uint8_t> cutFrame_;
    ProgressCallback progress_;
    AnswerCallback answer_;
    std::uint32_t version_ = 0;
    Stats stats_;
};

}  // namespace dorvane
