#pragma once
// Every constant of the handheld's wire protocol, in one place. Values are
// what travels on the serial line or the USB pipes; integers on the wire are
// little-endian.

#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane::wire {

// ---- Frame layout --------------------------------------------------------
/// Start marker "$VII", never doubled.
inline constexpr std::array<std::uint8_t, 4> kStartMarker = {0x24, 0x56, 0x49, 0x49};
/// End marker "$\r", never doubled.
inline constexpr std::array<std::uint8_t, 2> kEndMarker = {0x24, 0x0D};
/// The byte that is doubled between the markers.
inline constexpr std::uint8_t kDollar = 0x24;

inline constexpr std::size_t kVersionOffset = 4;   ///< u32 protocol version
inline constexpr std::size_t kCommandOffset = 8;   ///< u8 command code
inline constexpr std::size_t kLengthOffset = 9;    ///< u32 plain frame length (N + 19)
inline constexpr std::size_t kPayloadOffset = 13;  ///< payload starts here
inline constexpr std::size_t kCheckFieldSize = 4;  ///< CRC low, CRC high, 0, 0
/// Plain (undoubled) frame length minus the payload: markers 6, header 9, check field 4.
inline constexpr std::size_t kFrameOverhead = 19;
/// Bytes covered by the CRC besides the payload: version, command, length.
inline constexpr std::size_t kCheckedHeaderSize = 9;

/// Staging area of an outgoing frame and receive area of an incoming one:
/// twice the block size. Holds version .. check field, before doubling.
inline constexpr std::size_t kFrameAreaSize = 3920;
/// Largest payload that fits the staging area: 3920 - 13.
inline constexpr std::size_t kMaxPayload = kFrameAreaSize - kCheckedHeaderSize - kCheckFieldSize;
/// Largest plain frame: payload plus overhead.
inline constexpr std::size_t kMaxPlainFrame = kMaxPayload + kFrameOverhead;
/// Largest frame on the wire: every byte between the markers doubled.
inline constexpr std::size_t kMaxWireFrame =
    2 * (kMaxPayload + kCheckedHeaderSize + kCheckFieldSize) + kStartMarker.size() + kEndMarker.size();

/// Wire lengths of the fixed (undoubled) frames.
inline constexpr std::size_t kFixedFrameNoPayload = 19;
inline constexpr std::size_t kFixedFrameOneByte = 20;
inline constexpr std::size_t kFixedFrameU32 = 23;

// ---- Command codes -------------------------------------------------------
namespace cmd {
inline constexpr std::uint8_t kAck = 1;        ///< positive answer / window acknowledgement
inline constexpr std::uint8_t kNak = 2;        ///< negative answer / missing-block list
inline constexpr std::uint8_t kWindow = 3;     ///< window end, window query, closing frame
inline constexpr std::uint8_t kFetch = 55;     ///< fetch a file (name payload)
inline constexpr std::uint8_t kData = 87;      ///< data block
inline constexpr std::uint8_t kList = 113;     ///< list the handheld's files
inline constexpr std::uint8_t kListData = 114; ///< data blocks answering 113
inline constexpr std::uint8_t kDelete = 115;   ///< delete a file (name payload)
inline constexpr std::uint8_t kHandshakeOnly = 127;  ///< operation: handshake only
inline constexpr std::uint8_t kFeatures = 128;       ///< feature request (u32 argument)
inline constexpr std::uint8_t kFeaturesAnswer = 129;
inline constexpr std::uint8_t kIdentity = 133;       ///< device identity request (u32 argument)
inline constexpr std::uint8_t kIdentityAnswer = 134;
inline constexpr std::uint8_t kListEx = 144;         ///< name payload, answered with 145 blocks
inline constexpr std::uint8_t kListExData = 145;
inline constexpr std::uint8_t kSendEx = 146;
inline constexpr std::uint8_t kDeleteEx = 147;
inline constexpr std::uint8_t kUpload = 148;         ///< send a file to the handheld / data block
inline constexpr std::uint8_t kFetchEx = 149;
inline constexpr std::uint8_t kDeleteEx2 = 150;
inline constexpr std::uint8_t kHandshake = 255;
}  // namespace cmd

/// Payload byte of the closing / cancel frame (command 3).
inline constexpr std::uint8_t kCloseByte = 0xFF;
/// Signed 16-bit "all blocks" marker of window frames.
inline constexpr std::int16_t kAllBlocks = -1;

// ---- Blocks and windows --------------------------------------------------
/// File bytes per block.
inline constexpr std::size_t kBlockSize = 1960;
/// Blocks per window.
inline constexpr std::size_t kWindowSize = 16;
/// The longest missing-block list the computer sends: one more than a window.
inline constexpr std::size_t kMaxMissingList = kWindowSize + 1;
/// Block header at the start of a block payload (after the name when sent to the handheld).
inline constexpr std::size_t kBlockHeaderSize = 16;
inline constexpr std::size_t kBlockTotalOffset = 0;   ///< u32 total file size
inline constexpr std::size_t kBlockBytesOffset = 4;   ///< u16 data bytes in this block
inline constexpr std::size_t kBlockCountOffset = 6;   ///< i16 block count of the file
inline constexpr std::size_t kBlockNumberOffset = 8;  ///< u32 block number from 0
inline constexpr std::size_t kBlockFileOffset = 12;   ///< u32 byte offset = number * 1960
/// The block count travels as a signed 16-bit value.
inline constexpr std::uint32_t kMaxBlockCount = 32767;
/// Largest file the format can carry: the last of 32767 blocks holds 1959 bytes.
inline constexpr std::uint64_t kMaxFileSize = static_cast<std::uint64_t>(kMaxBlockCount) * kBlockSize - 1;

/// Window answers and error answers: payload byte 0 names the request,
/// byte 1 the status, a signed 16-bit value (count or error code) at offset 2,
/// then u32 block numbers.
inline constexpr std::size_t kAnswerStatusOffset = 1;
inline constexpr std::size_t kAnswerValueOffset = 2;
inline constexpr std::size_t kAnswerListOffset = 4;
/// Window-answer status byte 1 of an answer 2 that reports a failure.
inline constexpr std::uint8_t kStatusFailed = 1;

/// Operation flag of the operations in which the computer sends blocks.
inline constexpr std::uint32_t kSendFlag = 0x10000000;

// ---- Little-endian helpers ----------------------------------------------
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t GetI16(const std::uint8_t* p) { return static_cast<std::int16_t>(GetU16(p)); }
inline std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

/// Block count of a file of `size` bytes: size / 1960 + 1 (so an empty file,
/// and a file of exactly 1960 bytes, end in an empty block).
inline constexpr std::uint64_t BlockCountFor(std::uint64_t size) { return size / kBlockSize + 1; }

}  // namespace dorvane::wire
