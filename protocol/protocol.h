#pragma once
// IProtocol: the protocol engine as the transport worker sees it. The engine
// never touches a link: it builds frames into the caller's buffer, consumes
// received bytes through CutFrames, and reports through its state, which the
// worker polls. All calls come from the transport's worker thread (CutFrames
// under the worker's receive lock); the engine holds no lock of its own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "protocol/frame.h"
#include "protocol/mem_stream.h"

namespace dorvane {

/// Protocol state; the values are what the worker polls.
enum class ProtocolState : std::uint32_t {
    kReady = 0,     ///< build and send the next request
    kWaiting = 1,   ///< wait for bytes
    kComplete = 2,  ///< the operation succeeded
    kFailed = 3,    ///< the operation failed; see DeviceError()
};

/// Progress of a block transfer, reported after every block sent or received.
struct ProgressInfo {
    std::uint32_t totalSize = 0;  ///< file size in bytes
    std::uint32_t reserved = 0;   ///< always 0
    std::string name;             ///< the operation's name (handheld bytes)
    double fraction = 0.0;        ///< blocks done / block count
};

using ProgressCallback = std::function<void(const ProgressInfo&)>;
/// Called with the command (129 or 134), the payload and the frame length.
using AnswerCallback =
    std::function<void(std::uint8_t, std::span<const std::uint8_t>, std::uint32_t)>;

/// A buffer a frame is built into; wire::kMaxWireFrame bytes always suffice.
using FrameBuffer = std::span<std::uint8_t>;

class IProtocol {
public:
    virtual ~IProtocol() = default;

    /// Handshake (255, no payload): state := waiting, expected := {1}.
    virtual void BuildHandshake(FrameBuffer buf, std::size_t& len) = 0;
    /// The operation's next request; returns its length, 0 when nothing is to
    /// be sent (state waiting, or the handshake-only operation is done).
    virtual std::size_t BuildNextRequest(FrameBuffer buf, std::size_t& len) = 0;
    /// Cancel (3 [0xFF]): empties the expected set so no late answer is taken.
    virtual void BuildCancel(FrameBuffer buf, std::size_t& len) = 0;
    virtual void BuildRequest128(std::uint32_t arg, FrameBuffer buf, std::size_t& len) = 0;
    virtual void BuildRequest133(std::uint32_t arg, FrameBuffer buf, std::size_t& len) = 0;
    virtual void SetAnswerCallback(AnswerCallback cb) = 0;
    /// Cuts one frame from buf[0, fill) and handles it; see CutResult.
    virtual CutResult CutFrames(std::uint8_t* buf, std::size_t& fill) = 0;
    /// Closing frame: the cancel frame without touching the expected set.
    virtual void BuildClosingFrame(FrameBuffer buf, std::size_t& len) = 0;
    virtual ProtocolState GetState() const = 0;
    virtual void SetState(ProtocolState s) = 0;
    /// Starts an operation on `stream` (the file to send, or the sink for
    /// what is received; must outlive the operation). Clears the block lists
    /// and counters; returns the operation's flags (wire::kSendFlag or 0).
    virtual std::uint32_t BeginOperation(std::uint8_t op, CMemStream* stream,
                                         const std::string& name) = 0;
    /// Error code of the last error answer (signed 16-bit on the wire).
    virtual std::int16_t GetDeviceError() const = 0;
    /// Protocol version from the handshake answer.
    virtual std::uint32_t GetProtocolVersion() const = 0;
    /// Largest total a received block of the current operation may claim
    /// (0: no limit beyond the format's). Blocks claiming more are rejected
    /// like any block failing its checks. BeginOperation resets it to 0;
    /// call it after BeginOperation.
    virtual void SetReceiveLimit(std::uint64_t bytes) = 0;
};

/// Flags of an operation code: wire::kSendFlag for 87, 114, 129, 134, 145, 148.
std::uint32_t OperationFlags(std::uint8_t op);

}  // namespace dorvane
