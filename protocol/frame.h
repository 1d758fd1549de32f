#pragma once
// Frame codec: building frames (with `$` doubling and the FCS-16 check),
// cutting frames out of a receive buffer that may hold garbage and partial
// frames, and undoubling and checking one frame. No state besides the
// caller's buffers; safe to use from any thread on distinct buffers.
//
// A plain frame of N payload bytes:
//   "$VII" | u32 version | u8 command | u32 length N+19 | payload | CRC lo hi 0 0 | "$\r"
// On the wire every `$` between the markers is sent twice (general builder),
// the fixed builders write the plain frame as it is.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/wire.h"

namespace dorvane {

/// Builds a frame with the general builder into `out`.
/// Returns the wire length, or 0 when the payload is longer than
/// wire::kMaxPayload or `out` is too small (it must hold 2 * (N + 13) + 6 bytes;
/// wire::kMaxWireFrame always suffices). `version` is 0 on frames from the
/// computer; the handheld puts its protocol version into its handshake answer.
std::size_t BuildFrame(std::uint8_t command, std::span<const std::uint8_t> payload,
                       std::span<std::uint8_t> out, std::uint32_t version = 0);

/// Builds a fixed frame without the doubling step: used for the handshake
/// (no payload, 19 bytes), the cancel / closing frame (one byte, 20 bytes)
/// and the two requests with one u32 argument (23 bytes).
/// Returns the length written, or 0 when `out` is too small or the payload
/// exceeds four bytes.
std::size_t BuildFixedFrame(std::uint8_t command, std::span<const std::uint8_t> payload,
                            std::span<std::uint8_t> out);

/// Result codes of CutFrame (the values are the cutter's integer results).
enum class CutResult : int {
    kNoStart = 0,  ///< no start marker: the buffer keeps at most its last 5 bytes
    kFrame = 1,    ///< one frame was cut out and removed from the buffer
    kNoEnd = 2,    ///< a start marker but no end marker yet: buffer unchanged
};

/// Number of bytes the cutter keeps when it finds no start marker, so that a
/// marker split across two reads is still found.
inline constexpr std::size_t kCutterKeep = 5;

/// Looks for the next whole frame in buf[0, fill). On kFrame the wire bytes
/// from the start marker through the end marker are copied into `frame` and
/// everything up to the end marker is removed from the buffer (`fill` is
/// lowered). A `$VII` or `$\r` preceded by an odd run of `$` is doubled data,
/// not a marker.
CutResult CutFrame(std::uint8_t* buf, std::size_t& fill, std::vector<std::uint8_t>& frame);

/// Why a cut frame was rejected by DecodeFrame.
enum class FrameError {
    kNone,
    kTooShort,        ///< fewer bytes than the smallest frame
    kTooLong,         ///< undoubled, it would overrun the 3920-byte receive area
    kLengthMismatch,  ///< the length field differs from the undoubled length
    kBadCheck,        ///< the FCS residue is not 0xF0B8
};

/// One checked, undoubled frame.
struct DecodedFrame {
    std::uint32_t version = 0;
    std::uint8_t command = 0;
    std::uint32_t length = 0;                ///< plain frame length (N + 19)
    std::span<const std::uint8_t> payload;   ///< points into the decoder's area
};

/// Undoubles and checks one frame. Holds the 3920-byte receive area; a
/// decoded payload stays valid until the next Decode.
class CFrameDecoder {
public:
    FrameError Decode(std::span<const std::uint8_t> wire, DecodedFrame& out);

private:
    // Undoubled frame without its start and end markers: version .. check field.
    std::uint8_t area_[wire::kFrameAreaSize] = {};
    std::size_t length_ = 0;
};

}  // namespace dorvane
