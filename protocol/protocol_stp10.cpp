#include "protocol/protocol_stp10.h"

#include <algorithm>

namespace dorvane {

using namespace wire;

std::uint32_t OperationFlags(std::uint8_t op) {
    switch (op) {
        case cmd::kData:
        case cmd::kListData:
        case cmd::kFeaturesAnswer:
        case cmd::kIdentityAnswer:
        case cmd::kListExData:
        case cmd::kUpload:
            return kSendFlag;
        default:
            return 0;
    }
}

namespace {

bool IsDataBlockCommand(std::uint8_t c) {
    return c == cmd::kData || c == cmd::kListData || c == cmd::kListExData || c == cmd::kUpload;
}

void AppendU16(std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}

void AppendU32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

// Block numbers of a window frame's list: the count at kAnswerValueOffset,
// then u32 numbers. Only entries that lie wholly inside the payload are read.
std::vector<std::uint32_t> ReadBlockList(std::span<const std::uint8_t> p, std::int16_t count) {
    std::vector<std::uint32_t> out;
    if (count <= 0) return out;
    const std::size_t available = (p.size() - kAnswerListOffset) / sizeof(std::uint32_t);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), available);
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(GetU32(p.data() + kAnswerListOffset + 4 * i));
    return out;
}

}  // namespace

void CProtocol_STP10::Expect(std::initializer_list<std::uint8_t> cmds) {
    expected_.clear();
    expected_.insert(cmds.begin(), cmds.end());
}

std::size_t CProtocol_STP10::Emit(std::uint8_t command, std::span<const std::uint8_t> payload,
                                  FrameBuffer buf, std::size_t& len) {
    ++requests_;
    len = BuildFrame(command, payload, buf);
    if (len == 0) {
        // Only a request too large for the staging area gets here (an
        // absurdly long name); the handheld could not take it either.
        state_ = ProtocolState::kFailed;
        deviceError_ = kErrorFileTooLarge;
    }
    return len;
}

void CProtocol_STP10::BuildHandshake(FrameBuffer buf, std::size_t& len) {
    state_ = ProtocolState::kWaiting;
    Expect({cmd::kAck});
    len = BuildFixedFrame(cmd::kHandshake, {}, buf);
}

void CProtocol_STP10::BuildCancel(FrameBuffer buf, std::size_t& len) {
    expected_.clear();
    BuildClosingFrame(buf, len);
}

void CProtocol_STP10::BuildClosingFrame(FrameBuffer buf, std::size_t& len) {
    const std::uint8_t payload[] = {kCloseByte};
    len = BuildFixedFrame(cmd::kWindow, payload, buf);
}

void CProtocol_STP10::BuildU32Request(std::uint8_t command, std::uint8_t answer, std::uint32_t arg,
                                      FrameBuffer buf, std::size_t& len) {
    state_ = ProtocolState::kWaiting;
    Expect({answer});
    std::uint8_t payload[4];
    PutU32(payload, arg);
    len = BuildFixedFrame(command, payload, buf);
}

void CProtocol_STP10::BuildRequest128(std::uint32_t arg, FrameBuffer buf, std::size_t& len) {
    BuildU32Request(cmd::kFeatures, cmd::kFeaturesAnswer, arg, buf, len);
}

void CProtocol_STP10::BuildRequest133(std::uint32_t arg, FrameBuffer buf, std::size_t& len) {
    BuildU32Request(cmd::kIdentity, cmd::kIdentityAnswer, arg, buf, len);
}

std::uint32_t CProtocol_STP10::BeginOperation(std::uint8_t op, CMemStream* stream,
                                              const std::string& name) {
    op_ = op;
    flags_ = OperationFlags(op);
    stream_ = stream;
    name_ = name;
    // The request counter starts again with every operation: the sending side
    // sets up its block lists on the operation's first request.
    requests_ = 0;
    deviceError_ = 0;
    sent_.Release();
    acked_.Release();
    received_.Release();
    window_ = 0;
    totalSize_ = 0;
    blockCount_ = 0;
    currentBlock_ = 0;
    ackReady_ = false;
    ackPayload_.clear();
    return flags_;
}

std::vector<std::uint8_t> CProtocol_STP10::NamePayload() const {
    std::vector<std::uint8_t> p(name_.begin(), name_.end());
    p.push_back(0);
    return p;
}

std::size_t CProtocol_STP10::BuildNextRequest(FrameBuffer buf, std::size_t& len) {
    len = 0;
    if (state_ == ProtocolState::kWaiting) return 0;
    if (op_ == cmd::kHandshakeOnly) {
        state_ = ProtocolState::kComplete;
        return 0;
    }
    if (flags_ & kSendFlag) return BuildSendRequest(buf, len);
    return BuildPlainRequest(buf, len);
}

std::size_t CProtocol_STP10::BuildPlainRequest(FrameBuffer buf, std::size_t& len) {
    state_ = ProtocolState::kWaiting;
    if (ackReady_) {
        ackReady_ = false;
        return Emit(ackCommand_, ackPayload_, buf, len);
    }
    switch (op_) {
        case cmd::kFetch:
        case cmd::kFetchEx:
            Expect({cmd::kData, cmd::kUpload, cmd::kNak});
            return Emit(op_, NamePayload(), buf, len);
        case cmd::kList:
            Expect({cmd::kListData});
            return Emit(op_, {}, buf, len);
        case cmd::kDelete:
        case cmd::kDeleteEx:
        case cmd::kDeleteEx2:
            Expect({cmd::kAck, cmd::kNak});
            return Emit(op_, NamePayload(), buf, len);
        case cmd::kListEx:
            Expect({cmd::kListExData});
            return Emit(op_, NamePayload(), buf, len);
        default:
            return Emit(op_, {}, buf, len);
    }
}

std::size_t CProtocol_STP10::BuildSendRequest(FrameBuffer buf, std::size_t& len) {
    if (requests_ == 0) {
        window_ = 0;
        currentBlock_ = 0;
        const std::uint64_t size = stream_ ? stream_->Size() : 0;
        const std::uint64_t count = BlockCountFor(size);
        if (count > kMaxBlockCount) {
            // The block count travels as signed 16 bits: refuse before sending a byte.
            state_ = ProtocolState::kFailed;
            deviceError_ = kErrorFileTooLarge;
            return 0;
        }
        totalSize_ = static_cast<std::uint32_t>(size);
        blockCount_ = static_cast<std::uint32_t>(count);
        sent_.Create(blockCount_);
        acked_.Create(blockCount_);
    }
    state_ = ProtocolState::kReady;
    Expect({cmd::kNak});

    std::vector<std::uint8_t> payload;
    std::uint8_t command;
    if (window_ == kWindowSize || sent_.Complete()) {
        // Window query: which of the blocks sent so far does the handheld hold?
        state_ = ProtocolState::kWaiting;
        Expect({cmd::kAck, cmd::kNak});
        window_ = 0;
        command = cmd::kWindow;
        payload = {op_, 0};
        if (sent_.Complete()) {
            AppendU16(payload, static_cast<std::uint16_t>(kAllBlocks));
        } else {
            std::vector<std::uint32_t> list;
            std::uint32_t n = 0;
            if (acked_.FirstClear(n)) {
                for (; n < blockCount_ && list.size() < kWindowSize; ++n)
                    if (sent_.Test(n) && !acked_.Test(n)) list.push_back(n);
            }
            AppendU16(payload, static_cast<std::uint16_t>(list.size()));
            for (std::uint32_t b : list) AppendU32(payload, b);
        }
    } else {
        sent_.FirstClear(currentBlock_);
        const std::uint64_t offset = static_cast<std::uint64_t>(currentBlock_) * kBlockSize;
        const std::uint32_t bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            kBlockSize, totalSize_ - std::min<std::uint64_t>(offset, totalSize_)));
        payload = NamePayload();
        const std::size_t header = payload.size();
        payload.resize(header + kBlockHeaderSize + bytes);
        std::uint8_t* h = payload.data() + header;
        PutU32(h + kBlockTotalOffset, totalSize_);
        PutU16(h + kBlockBytesOffset, static_cast<std::uint16_t>(bytes));
        PutU16(h + kBlockCountOffset, static_cast<std::uint16_t>(blockCount_));
        PutU32(h + kBlockNumberOffset, currentBlock_);
        PutU32(h + kBlockFileOffset, static_cast<std::uint32_t>(offset));
        if (bytes) stream_->ReadAt(offset, {h + kBlockHeaderSize, bytes});
        sent_.Set(currentBlock_);
        ++stats_.blocksSent;
        ReportProgress(totalSize_, sent_.CountSet(), blockCount_);
        command = op_;
    }
    ++window_;
    return Emit(command, payload, buf, len);
}

CutResult CProtocol_STP10::CutFrames(std::uint8_t* buf, std::size_t& fill) {
    const CutResult r = CutFrame(buf, fill, cutFrame_);
    if (r == CutResult::kFrame) HandleFrame(cutFrame_);
    return r;
}

bool CProtocol_STP10::HandleFrame(std::span<const std::uint8_t> wireFrame) {
    DecodedFrame f;
    if (decoder_.Decode(wireFrame, f) != FrameError::kNone || !expected_.count(f.command)) {
        ++stats_.framesDropped;
        return false;
    }
    Dispatch(f);
    return true;
}

void CProtocol_STP10::Dispatch(const DecodedFrame& f) {
    const auto p = f.payload;
    switch (f.command) {
        case cmd::kAck:
            OnAck(p, f.version);
            return;
        case cmd::kNak:
            OnNak(p);
            return;
        case cmd::kWindow:
            if (p.empty()) return;
            if (IsDataBlockCommand(p[0])) {
                OnWindowEnd(p);
            } else if (p[0] == cmd::kHandshake) {
                state_ = ProtocolState::kComplete;
            }
            return;
        case cmd::kFeaturesAnswer:
        case cmd::kIdentityAnswer:
            if (answer_) answer_(f.command, p, f.length);
            state_ = ProtocolState::kComplete;
            return;
        default:
            if (IsDataBlockCommand(f.command)) OnDataBlock(f.command, p);
            return;
    }
}

void CProtocol_STP10::OnAck(std::span<const std::uint8_t> p, std::uint32_t version) {
    if (p.empty()) return;
    switch (p[0]) {
        case cmd::kWindow:
            OnWindowAnswer(true, p);
            return;
        case cmd::kDelete:
        case cmd::kDeleteEx:
        case cmd::kDeleteEx2:
            state_ = ProtocolState::kComplete;
            return;
        case cmd::kHandshake:
            version_ = version;
            expected_.clear();
            state_ = op_ == cmd::kHandshakeOnly ? ProtocolState::kComplete : ProtocolState::kReady;
            return;
        default:
            return;
    }
}

void CProtocol_STP10::OnNak(std::span<const std::uint8_t> p) {
    if (p.empty()) return;
    switch (p[0]) {
        case cmd::kWindow:
            OnWindowAnswer(false, p);
            return;
        case cmd::kFetch:
        case cmd::kData:
        case cmd::kDelete:
        case cmd::kDeleteEx:
        case cmd::kFetchEx:
        case cmd::kDeleteEx2:
            // An error answer without its code cannot be reported: drop it and
            // let the time-out repeat the request.
            if (p.size() < kAnswerListOffset) return;
            state_ = ProtocolState::kFailed;
            deviceError_ = GetI16(p.data() + kAnswerValueOffset);
            return;
        case cmd::kHandshake:
            state_ = ProtocolState::kReady;
            return;
        default:
            return;
    }
}

void CProtocol_STP10::OnWindowAnswer(bool positive, std::span<const std::uint8_t> p) {
    if (p.size() < kAnswerListOffset) return;
    const std::uint8_t status = p[kAnswerStatusOffset];
    const std::int16_t value = GetI16(p.data() + kAnswerValueOffset);
    if (positive) {
        if (status != 0) return;
        if (value == kAllBlocks) {
            if (sent_.IsCreated() && sent_.Complete()) {
                state_ = ProtocolState::kComplete;
                expected_.clear();
            } else {
                for (std::uint32_t b = 0; b < blockCount_; ++b)
                    if (sent_.Test(b)) acked_.Set(b);
            }
            return;
        }
        if (value < 0) return;
        for (std::uint32_t b : ReadBlockList(p, value)) {
            acked_.Set(b);
            sent_.Set(b);
        }
        state_ = ProtocolState::kReady;
        return;
    }
    if (status == kStatusFailed) {
        state_ = ProtocolState::kFailed;
        deviceError_ = value;
        return;
    }
    if (status != 0 || value < 0) return;
    // Blocks the handheld lacks become unsent and go out again. Only a block
    // that was sent is turned back: a repeated list must not mark a block sent
    // that never went out.
    for (std::uint32_t b : ReadBlockList(p, value))
        if (sent_.Test(b)) sent_.Toggle(b);
    state_ = ProtocolState::kReady;
}

void CProtocol_STP10::OnWindowEnd(std::span<const std::uint8_t> p) {
    state_ = ProtocolState::kReady;
    if (p.size() < kAnswerListOffset || p[kAnswerStatusOffset] != 0) return;
    // Before the first block there is nothing to acknowledge; the operation's
    // own request goes out again instead.
    if (!received_.IsCreated()) return;
    const std::int16_t value = GetI16(p.data() + kAnswerValueOffset);
    std::vector<std::uint8_t> payload = {cmd::kWindow};
    if (value == kAllBlocks) {
        if (received_.Complete()) {
            ackCommand_ = cmd::kAck;
        } else {
            ackCommand_ = cmd::kNak;
            std::vector<std::uint32_t> missing;
            std::uint32_t n = 0;
            bool more = received_.FirstClear(n);
            while (more && missing.size() < kMaxMissingList) {
                missing.push_back(n);
                more = received_.NextClear(n, n, false);
            }
            payload.push_back(0);
            AppendU16(payload, static_cast<std::uint16_t>(missing.size()));
            for (std::uint32_t b : missing) AppendU32(payload, b);
        }
    } else if (value >= 0) {
        const std::vector<std::uint32_t> listed = ReadBlockList(p, value);
        std::vector<std::uint32_t> missing;
        for (std::uint32_t b : listed)
            if (!received_.Test(b)) missing.push_back(b);
        const auto& out = missing.empty() ? listed : missing;
        ackCommand_ = missing.empty() ? cmd::kAck : cmd::kNak;
        payload.push_back(0);
        AppendU16(payload, static_cast<std::uint16_t>(out.size()));
        for (std::uint32_t b : out) AppendU32(payload, b);
    } else {
        return;
    }
    ackPayload_ = std::move(payload);
    ackReady_ = true;
}

void CProtocol_STP10::OnDataBlock(std::uint8_t command, std::span<const std::uint8_t> p) {
    if (p.size() < kBlockHeaderSize) {
        ++stats_.blocksRejected;
        return;
    }
    const std::uint8_t* h = p.data();
    const std::uint32_t total = GetU32(h + kBlockTotalOffset);
    const std::uint32_t bytes = GetU16(h + kBlockBytesOffset);
    const std::int16_t count = GetI16(h + kBlockCountOffset);
    const std::uint32_t number = GetU32(h + kBlockNumberOffset);
    const std::uint32_t offset = GetU32(h + kBlockFileOffset);

    // The handheld is not trusted: a block must fit the file its header
    // describes, and that file must not change in the middle of a transfer.
    const bool sane =
        count > 0 && static_cast<std::uint64_t>(count) == BlockCountFor(total) &&
        number < static_cast<std::uint32_t>(count) &&
        static_cast<std::uint64_t>(offset) == static_cast<std::uint64_t>(number) * kBlockSize &&
        bytes ==
            std::min<std::uint64_t>(kBlockSize, total - std::min<std::uint64_t>(offset, total)) &&
        p.size() >= kBlockHeaderSize + bytes &&
        (!received_.IsCreated() ||
         (totalSize_ == total && blockCount_ == static_cast<std::uint32_t>(count)));
    if (!sane) {
        ++stats_.blocksRejected;
        return;
    }
    if (total > receiveLimit_) {
        // More than the listing promised: refuse the whole file at once
        // rather than let the handheld size the buffer.
        deviceError_ = kErrorLargerThanListed;
        state_ = ProtocolState::kFailed;
        expected_.clear();
        return;
    }
    if (!received_.IsCreated()) {
        totalSize_ = total;
        blockCount_ = static_cast<std::uint32_t>(count);
        received_.Create(blockCount_);
    }
    received_.Set(number);
    if (stream_ && bytes) stream_->WriteAt(offset, p.subspan(kBlockHeaderSize, bytes));
    ReportProgress(total, received_.CountSet(), blockCount_);

    if (received_.Complete()) {
        if (stream_) stream_->SetSize(total);
        state_ = ProtocolState::kComplete;
        expected_.clear();
    } else {
        Expect({cmd::kData, cmd::kUpload, cmd::kWindow, command});
    }
}

void CProtocol_STP10::ReportProgress(std::uint32_t total, std::uint32_t done, std::uint32_t count) {
    if (!progress_ || count == 0) return;
    progress_(ProgressInfo{total, 0, name_, static_cast<double>(done) / count});
}

}  // namespace dorvane
