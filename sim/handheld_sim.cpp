#include "sim/handheld_sim.h"

#include <algorithm>
#include <bit>
#include <cctype>

#include "protocol/wire.h"
#include "sim/sim_folder.h"
#include "sim/sim_trace.h"

namespace dorvane {

using namespace wire;

namespace {

// Noise bytes of the garbage fault: 1 .. kMaxGarbage bytes, never `$`, so the
// noise cannot form or hide a marker; it only has to be skipped.
constexpr std::uint32_t kMaxGarbage = 32;
// A receive buffer holding a start marker but no end after this many bytes
// cannot hold a frame any more: the oldest bytes go.
constexpr std::size_t kMaxPendingBytes = 2 * kMaxWireFrame;
// mt19937 yields 32-bit values; probabilities compare against value / 2^32.
constexpr double kDrawScale = 4294967296.0;

void AppendU16(std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}

void AppendU32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

// The name of a name payload: the bytes up to the first zero byte.
std::string NameOf(std::span<const std::uint8_t> p) {
    const auto zero = std::find(p.begin(), p.end(), 0);
    return std::string(p.begin(), zero);
}

// Block numbers listed after the i16 count; only whole entries inside the payload.
std::vector<std::uint32_t> ReadList(std::span<const std::uint8_t> p, std::int16_t count) {
    std::vector<std::uint32_t> out;
    if (count <= 0 || p.size() < kAnswerListOffset) return out;
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(count), (p.size() - kAnswerListOffset) / 4);
    for (std::size_t i = 0; i < n; ++i) out.push_back(GetU32(p.data() + kAnswerListOffset + 4 * i));
    return out;
}

std::vector<std::uint8_t> WindowPayload(std::uint8_t first, std::uint8_t status,
                                        const std::vector<std::uint32_t>* list) {
    std::vector<std::uint8_t> p = {first, status};
    if (!list) {
        AppendU16(p, static_cast<std::uint16_t>(kAllBlocks));
        return p;
    }
    AppendU16(p, static_cast<std::uint16_t>(list->size()));
    for (std::uint32_t b : *list) AppendU32(p, b);
    return p;
}

bool EndsWithGmt(const std::string& name) {
    constexpr std::string_view kGmt = ".gmt";
    if (name.size() < kGmt.size()) return false;
    for (std::size_t i = 0; i < kGmt.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[name.size() - kGmt.size() + i]);
        if (std::tolower(c) != kGmt[i]) return false;
    }
    return true;
}

}  // namespace

CHandheldSim::CHandheldSim(SimOptions options)
    : opt_(std::move(options)), rng_(opt_.seed), vanished_(opt_.vanishAfter == std::uint64_t{0}) {}

void CHandheldSim::Feed(std::span<const std::uint8_t> bytes) {
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    for (;;) {
        std::size_t fill = rx_.size();
        const CutResult r = CutFrame(rx_.data(), fill, cut_);
        rx_.resize(fill);
        if (r == CutResult::kNoEnd && rx_.size() > kMaxPendingBytes)
            rx_.erase(rx_.begin(), rx_.end() - static_cast<std::ptrdiff_t>(kMaxWireFrame));
        if (r != CutResult::kFrame) return;
        DecodedFrame f;
        const FrameError e = decoder_.Decode(cut_, f);
        if (e != FrameError::kNone) {
            ++stats_.framesBad;
            if (trace_)
                *trace_ << "in  bad frame (" << FrameErrorName(e) << ", " << cut_.size()
                        << " bytes)\n";
            continue;
        }
        ++stats_.framesIn;
        Trace("in ", f.command, f.length, f.payload, "");
        HandleFrame(f);
    }
}

bool CHandheldSim::PopFrame(SimOutFrame& out) {
    if (out_.empty()) return false;
    out = std::move(out_.front());
    out_.pop_front();
    return true;
}

void CHandheldSim::HandleFrame(const DecodedFrame& f) {
    answerStarted_ = false;
    const auto p = f.payload;
    switch (f.command) {
        case cmd::kHandshake: {
            NewRequest();
            send_ = Outgoing{};
            recv_ = Incoming{};
            lastDeleted_.clear();
            const std::uint8_t answer[] = {cmd::kHandshake};
            Send(cmd::kAck, answer, opt_.version);
            return;
        }
        case cmd::kList:
        case cmd::kListEx:
            OnList(f.command);
            return;
        case cmd::kFetch:
        case cmd::kFetchEx:
            OnFetch(f.command, p);
            return;
        case cmd::kDelete:
        case cmd::kDeleteEx:
        case cmd::kDeleteEx2:
            OnDelete(f.command, p);
            return;
        case cmd::kUpload:
            OnUploadBlock(p);
            return;
        case cmd::kFeatures:
        case cmd::kIdentity:
            OnInfoRequest(f.command, p);
            return;
        case cmd::kWindow:
            if (p.empty()) return;
            if (p[0] == kCloseByte) {
                // The closing / cancel frame: the exchange is over. A partial
                // upload is thrown away; nothing is answered.
                NewRequest();
                send_ = Outgoing{};
                recv_ = Incoming{};
                lastDeleted_.clear();
            } else if (p[0] == cmd::kUpload) {
                OnWindowQuery(p);
            }
            return;
        case cmd::kAck:
        case cmd::kNak:
            if (!p.empty() && p[0] == cmd::kWindow) OnWindowAnswer(f.command == cmd::kAck, p);
            return;
        default:
            return;  // not a request this handheld knows: no answer, like a real one
    }
}

// ---- Files and listings going out ----------------------------------------

void CHandheldSim::OnFetch(std::uint8_t op, std::span<const std::uint8_t> p) {
    NewRequest();
    send_ = Outgoing{};
    const std::string name = NameOf(p);
    if (auto it = opt_.errorOn.find(name); it != opt_.errorOn.end()) {
        SendError(op, it->second);
        return;
    }
    if (opt_.hostile) {
        if (auto lying = HostileContent(name)) {
            StartOutgoing(cmd::kData, std::move(*lying), HostileLieFor(name));
            return;
        }
    }
    auto bytes = ReadDeviceFile(opt_.folder, name);
    if (!bytes) {
        SendError(op, static_cast<std::int16_t>(SimError::kNoFile));
        return;
    }
    if (bytes->size() > kMaxFileSize) {
        // The block count would not fit its signed 16-bit field.
        SendError(op, static_cast<std::int16_t>(SimError::kUnknownFile));
        return;
    }
    StartOutgoing(cmd::kData, std::move(*bytes));
}

void CHandheldSim::OnList(std::uint8_t op) {
    NewRequest();
    send_ = Outgoing{};
    std::vector<std::uint8_t> listing =
        opt_.hostile ? HostileListing(opt_.folder) : BuildListing(opt_.folder);
    // A folder too big for one transfer is listed as far as it fits.
    if (listing.size() > kMaxFileSize) {
        listing.resize(kMaxFileSize - 1);
        listing.push_back(0);
    }
    StartOutgoing(op == cmd::kList ? cmd::kListData : cmd::kListExData, std::move(listing));
}

void CHandheldSim::StartOutgoing(std::uint8_t blockCommand, std::vector<std::uint8_t> content,
                                 BlockLie lie) {
    send_ = Outgoing{};
    send_.lie = lie;
    send_.active = true;
    send_.blockCommand = blockCommand;
    send_.content = std::move(content);
    send_.count = static_cast<std::uint32_t>(BlockCountFor(send_.content.size()));
    send_.acked.Create(send_.count);
    SendWindow();
}

void CHandheldSim::SendWindow() {
    send_.window.clear();
    while (send_.window.size() < kWindowSize && send_.nextNew < send_.count)
        send_.window.push_back(send_.nextNew++);
    send_.lastWindow = send_.nextNew == send_.count;
    for (std::uint32_t b : send_.window) SendBlock(b);
    // A total lie also sends a block near the end it claims.
    if (send_.lie == BlockLie::kTotal && send_.lastWindow) SendBlock(kLieFarBlock);
    SendWindowEnd(send_.window);
}

void CHandheldSim::SendBlock(std::uint32_t n) {
    const std::uint64_t size = send_.content.size();
    const std::uint64_t offset =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(n) * kBlockSize, size);
    const auto bytes = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(kBlockSize, size - std::min(offset, size)));
    std::vector<std::uint8_t> p(kBlockHeaderSize + bytes);
    PutU32(p.data() + kBlockTotalOffset, static_cast<std::uint32_t>(size));
    PutU16(p.data() + kBlockBytesOffset, static_cast<std::uint16_t>(bytes));
    PutU16(p.data() + kBlockCountOffset, static_cast<std::uint16_t>(send_.count));
    PutU32(p.data() + kBlockNumberOffset, n);
    PutU32(p.data() + kBlockFileOffset, static_cast<std::uint32_t>(offset));
    std::copy_n(send_.content.begin() + static_cast<std::ptrdiff_t>(offset), bytes,
                p.begin() + kBlockHeaderSize);
    ApplyBlockLie(send_.lie, n, p);
    Send(send_.blockCommand, p);
}

void CHandheldSim::SendWindowEnd(const std::vector<std::uint32_t>& listed) {
    // Only the window holding the file's last block ends with -1: the
    // computer answers -1 with every block it still lacks.
    send_.windowEnd = WindowPayload(send_.blockCommand, 0, send_.lastWindow ? nullptr : &listed);
    Send(cmd::kWindow, send_.windowEnd);
}

void CHandheldSim::OnWindowAnswer(bool positive, std::span<const std::uint8_t> p) {
    if (!send_.active) return;
    if (positive && p.size() < kAnswerListOffset) {
        send_.active = false;  // the short form 1 [3]: everything arrived
        return;
    }
    if (p.size() < kAnswerListOffset || p[kAnswerStatusOffset] != 0) return;
    const std::int16_t value = GetI16(p.data() + kAnswerValueOffset);
    auto unackedWindow = [this] {
        std::vector<std::uint32_t> v;
        for (std::uint32_t b : send_.window)
            if (!send_.acked.Test(b)) v.push_back(b);
        return v;
    };
    if (positive) {
        if (value == kAllBlocks) {
            send_.active = false;
            return;
        }
        const std::vector<std::uint32_t> listed = ReadList(p, value);
        const bool repeated =
            !listed.empty() && std::all_of(listed.begin(), listed.end(), [this](std::uint32_t b) {
                return b >= send_.count || send_.acked.Test(b);
            });
        if (repeated) {
            // A repeated acknowledgement: the computer lost the window that
            // followed it. Its window end makes it name what it lacks.
            Send(cmd::kWindow, send_.windowEnd);
            return;
        }
        for (std::uint32_t b : listed) send_.acked.Set(b);
        const std::vector<std::uint32_t> rest = unackedWindow();
        if (!rest.empty()) {
            SendWindowEnd(rest);
        } else if (send_.nextNew < send_.count) {
            SendWindow();
        } else {
            send_.active = false;
        }
        return;
    }
    if (value < 0) return;
    const std::vector<std::uint32_t> missing = ReadList(p, value);
    if (!send_.lastWindow) {
        // The window's blocks the computer does not name, it holds.
        for (std::uint32_t b : send_.window)
            if (std::find(missing.begin(), missing.end(), b) == missing.end()) send_.acked.Set(b);
    }
    for (std::uint32_t b : missing)
        if (b < send_.count && b < send_.nextNew) SendBlock(b);
    SendWindowEnd(unackedWindow());
}

// ---- Deleting and information ------------------------------------------------

void CHandheldSim::OnDelete(std::uint8_t op, std::span<const std::uint8_t> p) {
    NewRequest();
    const std::string name = NameOf(p);
    if (auto it = opt_.errorOn.find(name); it != opt_.errorOn.end()) {
        SendError(op, it->second);
        return;
    }
    const std::uint8_t ok[] = {op};
    if (DeleteDeviceFile(opt_.folder, name)) {
        lastDeleted_ = name;
        Send(cmd::kAck, ok);
    } else if (!lastDeleted_.empty() && name == lastDeleted_) {
        // The computer repeats a delete whose answer it lost: still done.
        Send(cmd::kAck, ok);
    } else {
        SendError(op, static_cast<std::int16_t>(SimError::kNoFile));
    }
}

void CHandheldSim::OnInfoRequest(std::uint8_t op, std::span<const std::uint8_t> p) {
    NewRequest();
    const std::uint32_t arg = p.size() >= 4 ? GetU32(p.data()) : 0;
    std::vector<std::uint8_t> answer;
    if (op == cmd::kFeatures) {
        AppendU32(answer, opt_.featureMask);
        AppendU32(answer, opt_.featureSupport);
        const int bits = std::popcount(opt_.featureMask);
        for (int i = 0; i < bits; ++i)
            AppendU32(answer, static_cast<std::size_t>(i) < opt_.featureValues.size()
                                  ? opt_.featureValues[static_cast<std::size_t>(i)]
                                  : opt_.model);
        Send(cmd::kFeaturesAnswer, answer);
        return;
    }
    // 133: argument 2 asks for the serial number, anything else for the model.
    constexpr std::uint8_t kModelName = 1;
    constexpr std::uint8_t kSerialNumber = 2;
    const bool serial = arg == kSerialNumber;
    answer = {serial ? kSerialNumber : kModelName, 0, 0, 0};
    const std::string text = serial ? opt_.serial : std::to_string(opt_.model);
    answer.insert(answer.end(), text.begin(), text.end());
    Send(cmd::kIdentityAnswer, answer);
}

// ---- Files coming in -----------------------------------------------------------

std::int16_t CHandheldSim::RefusalFor(const std::string& name, std::uint32_t total) const {
    if (auto it = opt_.errorOn.find(name); it != opt_.errorOn.end()) return it->second;
    if (!IsSafeDeviceName(name)) return static_cast<std::int16_t>(SimError::kUnknownFile);
    if (opt_.refuseGmt && EndsWithGmt(name))
        return static_cast<std::int16_t>(SimError::kRefusedGmt);
    if (opt_.capacity) {
        std::uint64_t used = FolderBytes(opt_.folder);
        if (auto old = ReadDeviceFile(opt_.folder, name))
            used -= std::min<std::uint64_t>(used, old->size());
        if (used + total > *opt_.capacity) return static_cast<std::int16_t>(SimError::kNoSpace);
    }
    return 0;
}

void CHandheldSim::OnUploadBlock(std::span<const std::uint8_t> p) {
    const auto zero = std::find(p.begin(), p.end(), 0);
    if (zero == p.end()) return;
    const std::string name(p.begin(), zero);
    const auto rest = p.subspan(static_cast<std::size_t>(zero - p.begin()) + 1);
    if (rest.size() < kBlockHeaderSize) return;
    const std::uint8_t* h = rest.data();
    const std::uint32_t total = GetU32(h + kBlockTotalOffset);
    const std::uint32_t bytes = GetU16(h + kBlockBytesOffset);
    const std::int16_t count = GetI16(h + kBlockCountOffset);
    const std::uint32_t number = GetU32(h + kBlockNumberOffset);
    const std::uint32_t offset = GetU32(h + kBlockFileOffset);
    // The computer is not trusted either: the block must fit the file its
    // header describes before any memory is sized from it.
    const bool sane =
        count > 0 && static_cast<std::uint64_t>(count) == BlockCountFor(total) &&
        number < static_cast<std::uint32_t>(count) &&
        static_cast<std::uint64_t>(offset) == static_cast<std::uint64_t>(number) * kBlockSize &&
        bytes == std::min<std::uint64_t>(kBlockSize, total - std::min(offset, total)) &&
        rest.size() >= kBlockHeaderSize + bytes;
    if (!sane) return;
    if (!recv_.active || recv_.stored || recv_.name != name || recv_.total != total) {
        NewRequest();
        send_ = Outgoing{};
        recv_ = Incoming{};
        recv_.active = true;
        recv_.name = name;
        recv_.total = total;
        recv_.count = static_cast<std::uint32_t>(count);
        recv_.refusal = RefusalFor(name, total);
        recv_.received.Create(recv_.count);
        if (recv_.refusal == 0) recv_.data.assign(total, 0);
    }
    if (recv_.refusal != 0) return;
    recv_.received.Set(number);
    std::copy_n(rest.begin() + kBlockHeaderSize, bytes,
                recv_.data.begin() + static_cast<std::ptrdiff_t>(offset));
}

void CHandheldSim::StoreUpload() {
    if (recv_.stored) return;
    if (WriteDeviceFile(opt_.folder, recv_.name, recv_.data)) {
        recv_.stored = true;
        ++stats_.filesStored;
        recv_.data.clear();
        recv_.data.shrink_to_fit();
    } else {
        recv_.refusal = static_cast<std::int16_t>(SimError::kNoSpace);
    }
}

void CHandheldSim::OnWindowQuery(std::span<const std::uint8_t> p) {
    if (p.size() < kAnswerListOffset) return;
    const std::int16_t value = GetI16(p.data() + kAnswerValueOffset);
    const std::vector<std::uint32_t> listed = ReadList(p, value);
    if (!recv_.active) {
        // No block of this upload arrived: every block asked about is missing
        // (block 0 for the -1 form, so the computer starts again).
        const std::vector<std::uint32_t> first = {0};
        const auto& missing = value == kAllBlocks ? first : listed;
        Send(missing.empty() ? cmd::kAck : cmd::kNak, WindowPayload(cmd::kWindow, 0, &missing));
        return;
    }
    if (recv_.refusal == 0 && value == kAllBlocks && recv_.received.Complete()) StoreUpload();
    if (recv_.refusal != 0) {
        std::vector<std::uint8_t> refusal = {cmd::kWindow, kStatusFailed};
        AppendU16(refusal, static_cast<std::uint16_t>(recv_.refusal));
        Send(cmd::kNak, refusal);
        return;
    }
    if (value == kAllBlocks) {
        if (recv_.stored) {
            Send(cmd::kAck, WindowPayload(cmd::kWindow, 0, nullptr));
            return;
        }
        std::vector<std::uint32_t> missing;
        std::uint32_t n = 0;
        for (bool more = recv_.received.FirstClear(n); more && missing.size() < kWindowSize;
             more = recv_.received.NextClear(n, n, false))
            missing.push_back(n);
        Send(cmd::kNak, WindowPayload(cmd::kWindow, 0, &missing));
        return;
    }
    std::vector<std::uint32_t> missing;
    for (std::uint32_t b : listed)
        if (b < recv_.count && !recv_.received.Test(b)) missing.push_back(b);
    if (missing.empty())
        Send(cmd::kAck, WindowPayload(cmd::kWindow, 0, &listed));
    else
        Send(cmd::kNak, WindowPayload(cmd::kWindow, 0, &missing));
}

// ---- Output with faults -----------------------------------------------------

void CHandheldSim::NewRequest() {
    out_.clear();
}

void CHandheldSim::SendError(std::uint8_t op, std::int16_t code) {
    std::vector<std::uint8_t> p = {op, 0};
    AppendU16(p, static_cast<std::uint16_t>(code));
    Send(cmd::kNak, p);
}

void CHandheldSim::Send(std::uint8_t command, std::span<const std::uint8_t> payload,
                        std::uint32_t version) {
    std::vector<std::uint8_t> frame(kMaxWireFrame);
    const std::size_t len = BuildFrame(command, payload, frame, version);
    frame.resize(len);
    const auto plainLength = static_cast<std::uint32_t>(payload.size() + kFrameOverhead);
    if (len == 0) {
        Trace("out", command, plainLength, payload, "[too long, not sent]");
        return;
    }
    if (opt_.silentAfter && stats_.framesOut >= *opt_.silentAfter) {
        Trace("out", command, plainLength, payload, "[silent]");
        return;
    }
    if (vanished_) {
        Trace("out", command, plainLength, payload, "[vanished]");
        return;
    }
    ++stats_.framesOut;
    // The frame that reaches the count still goes out; the link closes after it.
    if (opt_.vanishAfter && stats_.framesOut >= *opt_.vanishAfter) vanished_ = true;

    // The same number of draws for every frame keeps the sequence independent
    // of which faults struck before.
    const double uDrop = rng_() / kDrawScale;
    const double uCorrupt = rng_() / kDrawScale;
    const double uDuplicate = rng_() / kDrawScale;
    const double uGarbage = rng_() / kDrawScale;
    const std::uint32_t corruptPos = rng_();
    const std::uint32_t corruptXor = rng_();
    const std::uint32_t garbageSeed = rng_();

    std::string note;
    if (uDrop < opt_.drop) {
        Trace("out", command, plainLength, payload, "[drop]");
        return;
    }
    if (uCorrupt < opt_.corrupt) {
        // Change one byte between the markers that is not a `$` into another
        // byte that is not a `$`: the frame stays a frame but fails its check.
        const std::size_t inner = len - kStartMarker.size() - kEndMarker.size();
        std::size_t pos = kStartMarker.size() + corruptPos % inner;
        while (frame[pos] == kDollar)
            pos = kStartMarker.size() + (pos - kStartMarker.size() + 1) % inner;
        auto x = static_cast<std::uint8_t>(1 + corruptXor % 255);
        if ((frame[pos] ^ x) == kDollar) x ^= 0x80;
        frame[pos] ^= x;
        note += "[corrupt@" + std::to_string(pos) + "]";
    }
    SimOutFrame out;
    if (!answerStarted_) {
        out.delayMs = opt_.delayMs;
        answerStarted_ = true;
    }
    if (uGarbage < opt_.garbage) {
        std::mt19937 noise(garbageSeed);
        const std::uint32_t n = 1 + noise() % kMaxGarbage;
        for (std::uint32_t i = 0; i < n; ++i) {
            auto b = static_cast<std::uint8_t>(noise());
            out.bytes.push_back(b == kDollar ? static_cast<std::uint8_t>(b + 1) : b);
        }
        note += "[garbage+" + std::to_string(n) + "]";
    }
    out.bytes.insert(out.bytes.end(), frame.begin(), frame.end());
    const bool dup = uDuplicate < opt_.duplicate;
    if (dup) note += "[duplicate]";
    Trace("out", command, plainLength, payload, note);
    if (dup) {
        SimOutFrame copy;
        copy.bytes = frame;
        out_.push_back(std::move(out));
        out_.push_back(std::move(copy));
    } else {
        out_.push_back(std::move(out));
    }
}

void CHandheldSim::Trace(const char* dir, std::uint8_t command, std::uint32_t length,
                         std::span<const std::uint8_t> payload, const std::string& note) {
    if (!trace_) return;
    *trace_ << dir << " cmd=" << static_cast<unsigned>(command) << " len=" << length << ' '
            << DescribePayload(command, payload);
    if (!note.empty()) *trace_ << ' ' << note;
    *trace_ << '\n';
}

}  // namespace dorvane
