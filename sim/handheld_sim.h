#pragma once
// CHandheldSim: the handheld's side of the frame protocol, as a byte-in /
// byte-out core without any link I/O, so that tests can drive it in memory
// and the program can put it behind a pty or a FIFO folder.
//
// What the handheld does, exchange by exchange (requests from the computer on
// the left, the handheld's answers on the right; [..] is the payload):
//   255                 -> 1 [255], the protocol version in the frame's version field
//   113 / 144 name      -> the listing as data blocks 114 / 145 (entries: name bytes,
//                          0, u32 size, u32 mtime; an empty name ends it)
//   55 / 149 name       -> the file as data blocks 87; unknown name: 2 [op][0][1 as i16]
//   115 / 147 / 150 name-> 1 [op]; no such file: 2 [op][0][1 as i16]
//   148 blocks          -> kept until the computer's window query (3 [148][0]..),
//                          answered 1 [3][0][-1] (all held), 1 [3][0][n][list]
//                          (listed blocks held), 2 [3][0][n][missing] or the refusal
//                          2 [3][1][code as i16]; the file is stored only when complete
//   128 u32 / 133 u32   -> 129 [mask][support][one u32 per mask bit] / 134 [1|2,0,0,0][text]
//   3 [0xFF]            -> nothing; ends the exchange (queued answers are dropped)
//
// Block payloads on the wire, as both sides must agree:
//   handheld -> computer (87, 114, 145): 16-byte block header, then the data bytes
//   computer -> handheld (148):          name bytes, 0, 16-byte block header, data
//   header: u32 total size, u16 data bytes, i16 block count (= size / 1960 + 1),
//           u32 block number, u32 offset (= number * 1960); little-endian.
//
// Windows the handheld sends hold up to 16 blocks. A window that does not hold
// the file's last block ends with 3 [blockcmd][0][n as i16][n u32 numbers]; the
// window that completes the file ends with 3 [blockcmd][0][-1]. The computer
// answers the list form with 1 [3][0][n][list] or 2 [3][0][m][missing] and the
// -1 form with 2 [3][0][n][missing] (blocks it still lacks, lowest first); it
// never acknowledges the window that completed its file: its next request or
// the closing frame ends the transfer.
//
// Threading: not thread-safe; one thread feeds bytes and pops frames.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "protocol/ack_list.h"
#include "protocol/frame.h"
#include "sim/sim_hostile.h"

namespace dorvane {

/// Error codes the handheld sends (the computer maps them to texts).
enum class SimError : std::int16_t {
    kNoFile = 1,       ///< the file does not exist (or is locked)
    kUnknownFile = 3,  ///< not recognised: a name the handheld cannot store
    kNoSpace = 6,      ///< low disk space
    kRefusedGmt = 48,  ///< this model does not receive ".gmt" files
};

struct SimOptions {
    /// The handheld's flat folder. Names on disk are the handheld's own bytes (GBK).
    std::filesystem::path folder;
    /// Protocol version put into the handshake answer's version field.
    std::uint32_t version = 1;
    /// Model code (701 marks the converting model); answered to 133 with
    /// argument 1 as decimal text and reported as the value of feature bit 0.
    std::uint32_t model = 701;
    /// Serial number text answered to 133 with argument 2.
    std::string serial = "SIM00000001";
    /// Answer 129: reported-feature mask, support bits, one value per mask bit
    /// (lowest bit first). Empty values: the model code for every bit.
    std::uint32_t featureMask = 1;
    std::uint32_t featureSupport = 1;
    std::vector<std::uint32_t> featureValues;
    /// Refuse uploads of ".gmt" files with error 48 (models that take no maps).
    bool refuseGmt = false;
    /// Bytes the folder may hold; an upload that would exceed it is refused with 6.
    std::optional<std::uint64_t> capacity;
    /// Requests naming one of these files are answered with the given error code.
    std::map<std::string, std::int16_t> errorOn;

    /// Faults, drawn from std::mt19937(seed): one fixed-length draw sequence per
    /// outgoing frame, so the same input gives the same output and trace.
    std::uint32_t seed = 1;
    double drop = 0;       ///< probability a frame is not sent
    double corrupt = 0;    ///< probability one byte between the markers is changed
    double duplicate = 0;  ///< probability a frame is sent twice
    double garbage = 0;    ///< probability 1..32 noise bytes (never `$`) precede a frame
    /// Every answer (the frames produced by one request) starts this late.
    std::uint32_t delayMs = 0;
    /// After this many outgoing frames the handheld falls silent, its link
    /// still open (a stalled handheld; for time-out tests).
    std::optional<std::uint64_t> silentAfter;
    /// After this many outgoing frames the handheld goes away: nothing more is
    /// queued and Vanished() turns true, on which the link is closed (a pulled
    /// cable).
    std::optional<std::uint64_t> vanishAfter;
    /// Lie in the listing and in some fetches (see sim_hostile.h).
    bool hostile = false;
};

/// One frame ready for the link, with faults applied.
struct SimOutFrame {
    std::vector<std::uint8_t> bytes;
    std::uint32_t delayMs = 0;  ///< wait this long before writing it
};

class CHandheldSim {
public:
    explicit CHandheldSim(SimOptions options);

    /// Every frame in and out, decoded, one line each (nullptr: none). The
    /// stream must outlive the core.
    void SetTrace(std::ostream* trace) { trace_ = trace; }

    /// Bytes from the computer, in any chunking; garbage and padding are
    /// discarded. Every whole frame is answered at once (answers are queued).
    void Feed(std::span<const std::uint8_t> bytes);

    /// Takes the next queued outgoing frame; false when none is queued. The
    /// transport pops one at a time so that a new request can still drop the
    /// rest of an older answer.
    bool PopFrame(SimOutFrame& out);
    bool HasOutput() const { return !out_.empty(); }
    /// True once vanishAfter frames went out: the link should close now.
    bool Vanished() const { return vanished_; }

    /// Counters for tests.
    struct Stats {
        std::uint64_t framesIn = 0;
        std::uint64_t framesBad = 0;  ///< cut but failing length or check
        std::uint64_t framesOut = 0;  ///< built (before faults)
        std::uint64_t filesStored = 0;
    };
    const Stats& GetStats() const { return stats_; }

private:
    // A file (or listing) going out as data blocks.
    struct Outgoing {
        bool active = false;
        std::uint8_t blockCommand = 0;
        std::vector<std::uint8_t> content;
        std::uint32_t count = 0;            // block count
        std::uint32_t nextNew = 0;          // first block never sent
        std::vector<std::uint32_t> window;  // blocks of the current window
        bool lastWindow = false;            // the current window holds the last block
        CACKList acked;
        std::vector<std::uint8_t> windowEnd;  // payload of the last window end
        BlockLie lie = BlockLie::kNone;       // --hostile: how this file's blocks lie
    };
    // A file coming in from the computer (148).
    struct Incoming {
        bool active = false;
        bool stored = false;
        std::string name;
        std::uint32_t total = 0;
        std::uint32_t count = 0;
        std::int16_t refusal = 0;  // nonzero: refuse with this code
        CACKList received;
        std::vector<std::uint8_t> data;
    };

    void HandleFrame(const DecodedFrame& f);
    void OnFetch(std::uint8_t op, std::span<const std::uint8_t> p);
    void OnList(std::uint8_t op);
    void OnDelete(std::uint8_t op, std::span<const std::uint8_t> p);
    void OnUploadBlock(std::span<const std::uint8_t> p);
    void OnWindowQuery(std::span<const std::uint8_t> p);
    void OnWindowAnswer(bool positive, std::span<const std::uint8_t> p);
    void OnInfoRequest(std::uint8_t op, std::span<const std::uint8_t> p);

    void StartOutgoing(std::uint8_t blockCommand, std::vector<std::uint8_t> content,
                       BlockLie lie = BlockLie::kNone);
    void SendWindow();
    void SendBlock(std::uint32_t n);
    void SendWindowEnd(const std::vector<std::uint32_t>& listed);
    void StoreUpload();
    std::int16_t RefusalFor(const std::string& name, std::uint32_t total) const;

    void NewRequest();  // drops queued answers of an older request
    void Send(std::uint8_t command, std::span<const std::uint8_t> payload,
              std::uint32_t version = 0);
    void SendError(std::uint8_t op, std::int16_t code);
    void Trace(const char* dir, std::uint8_t command, std::uint32_t length,
               std::span<const std::uint8_t> payload, const std::string& note);

    SimOptions opt_;
    std::ostream* trace_ = nullptr;
    std::mt19937 rng_;
    CFrameDecoder decoder_;
    std::vector<std::uint8_t> rx_;
    std::vector<std::uint8_t> cut_;
    std::deque<SimOutFrame> out_;
    bool answerStarted_ = false;  // the current answer already carries its delay
    Outgoing send_;
    Incoming recv_;
    std::string lastDeleted_;
    bool vanished_ = false;
    Stats stats_;
};

}  // namespace dorvane
