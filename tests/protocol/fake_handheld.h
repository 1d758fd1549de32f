#pragma once
// A small in-memory handheld for the engine tests: it talks to the engine only
// through wire bytes, and can lose chosen blocks once in either direction.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/wire.h"

namespace dorvane::test {

using Bytes = std::vector<std::uint8_t>;

class FakeHandheld {
public:
    std::map<std::string, Bytes> files;
    std::map<std::string, std::int16_t> errorOn;  ///< name -> error code for fetch/delete
    std::set<std::uint32_t> loseOutgoingOnce;     ///< block numbers dropped on first send
    std::set<std::uint32_t> loseIncomingOnce;     ///< uploaded blocks ignored on first arrival
    std::uint32_t version = 0x0A;
    std::vector<std::uint8_t> commandsSeen;       ///< every command received, in order
    int blocksSent = 0;

    /// Feeds computer bytes; returns the handheld's answer bytes.
    Bytes Feed(const Bytes& in) {
        rx_.insert(rx_.end(), in.begin(), in.end());
        Bytes out;
        Bytes frame;
        std::size_t fill = rx_.size();
        while (CutFrame(rx_.data(), fill, frame) == CutResult::kFrame) {
            DecodedFrame f;
            if (decoder_.Decode(frame, f) != FrameError::kNone) continue;
            commandsSeen.push_back(f.command);
            Handle(f.command, Bytes(f.payload.begin(), f.payload.end()), out);
        }
        rx_.resize(fill);
        return out;
    }

private:
    static void Put16(Bytes& b, std::uint16_t v) { b.push_back(std::uint8_t(v)); b.push_back(std::uint8_t(v >> 8)); }
    static void Put32(Bytes& b, std::uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i))); }

    void Emit(Bytes& out, std::uint8_t cmd, const Bytes& payload, std::uint32_t ver = 0) {
        Bytes f(wire::kMaxWireFrame);
        f.resize(BuildFrame(cmd, payload, f, ver));
        out.insert(out.end(), f.begin(), f.end());
    }

    static std::string NameOf(const Bytes& p) {
        std::string s;
        for (std::uint8_t c : p) {
            if (c == 0) break;
            s.push_back(static_cast<char>(c));
        }
        return s;
    }

    std::uint32_t Count() const { return static_cast<std::uint32_t>(wire::BlockCountFor(sending_.size())); }

    void SendBlock(Bytes& out, std::uint32_t n) {
        const std::uint32_t total = static_cast<std::uint32_t>(sending_.size());
        const std::uint32_t off = n * wire::kBlockSize;
        const std::uint32_t bytes = std::min<std::uint32_t>(wire::kBlockSize, total - std::min(off, total));
        Bytes p;
        Put32(p, total);
        Put16(p, static_cast<std::uint16_t>(bytes));
        Put16(p, static_cast<std::uint16_t>(Count()));
        Put32(p, n);
        Put32(p, off);
        p.insert(p.end(), sending_.begin() + off, sending_.begin() + off + bytes);
        ++blocksSent;
        if (loseOutgoingOnce.erase(n)) return;  // lost on the line
        Emit(out, sendCmd_, p);
    }

    // Sends `blocks` and closes the window: -1 when it holds the last block.
    void SendWindow(Bytes& out, const std::vector<std::uint32_t>& blocks) {
        for (auto n : blocks) SendBlock(out, n);
        Bytes p = {sendCmd_, 0};
        if (!blocks.empty() && blocks.back() == Count() - 1) {
            Put16(p, 0xFFFF);
        } else {
            Put16(p, static_cast<std::uint16_t>(blocks.size()));
            for (auto n : blocks) Put32(p, n);
        }
        Emit(out, wire::cmd::kWindow, p);
    }

    void NextWindow(Bytes& out) {
        std::vector<std::uint32_t> w;
        while (next_ < Count() && w.size() < wire::kWindowSize) w.push_back(next_++);
        if (!w.empty()) SendWindow(out, w);
    }

    static std::vector<std::uint32_t> List(const Bytes& p) {
        std::vector<std::uint32_t> l;
        const std::int16_t n = wire::GetI16(p.data() + 2);
        for (std::int16_t i = 0; i < n && 4 + 4 * std::size_t(i) + 4 <= p.size(); ++i)
            l.push_back(wire::GetU32(p.data() + 4 + 4 * i));
        return l;
    }

    void Handle(std::uint8_t cmd, const Bytes& p, Bytes& out) {
        using namespace wire::cmd;
        switch (cmd) {
            case kHandshake:
                Emit(out, kAck, {kHandshake}, version);
                return;
            case kFetch:
            case kFetchEx:
            case kList: {
                const std::string name = cmd == kList ? "" : NameOf(p);
                if (cmd != kList && (!files.count(name) || errorOn.count(name))) {
                    Bytes a = {cmd, 0};
                    Put16(a, static_cast<std::uint16_t>(errorOn.count(name) ? errorOn[name] : 1));
                    Emit(out, kNak, a);
                    return;
                }
                sending_ = cmd == kList ? files["<listing>"] : files[name];
                sendCmd_ = cmd == kList ? kListData : kData;
                next_ = 0;
                NextWindow(out);
                return;
            }
            case kAck:
                if (p.size() >= 4 && p[0] == kWindow) NextWindow(out);
                return;
            case kNak:
                if (p.size() >= 4 && p[0] == kWindow) SendWindow(out, List(p));
                return;
            case kDelete: {
                const std::string name = NameOf(p);
                if (!files.count(name) || errorOn.count(name)) {
                    Bytes a = {kDelete, 0};
                    Put16(a, static_cast<std::uint16_t>(errorOn.count(name) ? errorOn[name] : 1));
                    Emit(out, kNak, a);
                } else {
                    files.erase(name);
                    Emit(out, kAck, {kDelete});
                }
                return;
            }
            case kUpload: {
                const std::string name = NameOf(p);
                const std::size_t h = name.size() + 1;
                const std::uint32_t total = wire::GetU32(p.data() + h);
                const std::uint16_t bytes = wire::GetU16(p.data() + h + 4);
                const std::uint32_t n = wire::GetU32(p.data() + h + 8);
                if (loseIncomingOnce.erase(n)) return;
                upName_ = name;
                upload_.resize(total);
                std::copy_n(p.begin() + long(h + 16), bytes, upload_.begin() + n * wire::kBlockSize);
                upCount_ = static_cast<std::uint32_t>(wire::BlockCountFor(total));
                upHave_.insert(n);
                return;
            }
            case kWindow: {
                if (p.size() == 1 && p[0] == wire::kCloseByte) return;  // closing frame
                if (p.size() < 4 || p[0] != kUpload) return;
                std::vector<std::uint32_t> asked;
                const bool all = wire::GetI16(p.data() + 2) == -1;
                if (all) {
                    // Nothing arrived yet: the count is unknown, ask for block 0.
                    for (std::uint32_t i = 0; i < std::max<std::uint32_t>(upCount_, 1); ++i) asked.push_back(i);
                } else {
                    asked = List(p);
                }
                std::vector<std::uint32_t> missing;
                for (auto n : asked)
                    if (!upHave_.count(n)) missing.push_back(n);
                Bytes a = {kWindow, 0};
                if (missing.empty()) {
                    if (all) {
                        Put16(a, 0xFFFF);
                        files[upName_] = upload_;
                        upHave_.clear();
                    } else {
                        Put16(a, static_cast<std::uint16_t>(asked.size()));
                        for (auto n : asked) Put32(a, n);
                    }
                    Emit(out, kAck, a);
                } else {
                    Put16(a, static_cast<std::uint16_t>(missing.size()));
                    for (auto n : missing) Put32(a, n);
                    Emit(out, kNak, a);
                }
                return;
            }
            default:
                return;
        }
    }

    Bytes rx_;
    CFrameDecoder decoder_;
    Bytes sending_;
    std::uint8_t sendCmd_ = wire::cmd::kData;
    std::uint32_t next_ = 0;
    std::string upName_;
    Bytes upload_;
    std::uint32_t upCount_ = 0;
    std::set<std::uint32_t> upHave_;
};

}  // namespace dorvane::test
