#pragma once
// Helpers for the emulator tests: a scratch folder, frames as the computer
// builds them, and the emulator's answers cut and checked with the core's
// frame cutter and decoder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "protocol/wire.h"
#include "sim/handheld_sim.h"

namespace dorvane::simtest {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

/// A fresh folder under the test's temp dir, removed at the end.
class TempFolder {
public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        path_ =
            fs::temp_directory_path() / ("dorvane-sim-" + name + "-" + std::to_string(::getpid()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    void Write(const std::string& name, const Bytes& data) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
    }
    Bytes Read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

private:
    fs::path path_;
};

/// One decoded answer frame, copied out of the decoder.
struct Answer {
    std::uint8_t command = 0;
    std::uint32_t version = 0;
    Bytes payload;
};

inline Bytes Frame(std::uint8_t command, const Bytes& payload = {}) {
    Bytes out(wire::kMaxWireFrame);
    out.resize(BuildFrame(command, payload, out));
    return out;
}

inline Bytes FixedFrame(std::uint8_t command, const Bytes& payload = {}) {
    Bytes out(wire::kFixedFrameU32);
    out.resize(BuildFixedFrame(command, payload, out));
    return out;
}

inline Bytes NamePayload(const std::string& name) {
    Bytes p(name.begin(), name.end());
    p.push_back(0);
    return p;
}

inline Bytes U16(std::int16_t v) {
    return {static_cast<std::uint8_t>(v),
            static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8)};
}

/// [first][status][i16 count][u32 list...]
inline Bytes ListPayload(std::uint8_t first, const std::vector<std::uint32_t>& list) {
    Bytes p = {first, 0};
    const Bytes n = U16(static_cast<std::int16_t>(list.size()));
    p.insert(p.end(), n.begin(), n.end());
    for (std::uint32_t b : list)
        for (int i = 0; i < 4; ++i) p.push_back(static_cast<std::uint8_t>(b >> (8 * i)));
    return p;
}

inline Bytes AllPayload(std::uint8_t first) {
    return {first, 0, 0xFF, 0xFF};
}

/// Cuts every frame out of `bytes`; each must pass the decoder (length, FCS).
inline std::vector<Answer> CutAll(const Bytes& bytes) {
    std::vector<Answer> out;
    Bytes buf = bytes;
    std::size_t fill = buf.size();
    Bytes frame;
    CFrameDecoder dec;
    while (CutFrame(buf.data(), fill, frame) == CutResult::kFrame) {
        DecodedFrame f;
        const FrameError e = dec.Decode(frame, f);
        EXPECT_EQ(e, FrameError::kNone) << "answer frame fails its check";
        if (e != FrameError::kNone) continue;
        out.push_back({f.command, f.version, Bytes(f.payload.begin(), f.payload.end())});
    }
    return out;
}

/// Feeds one request and returns every answer frame queued for it.
inline std::vector<Answer> Exchange(CHandheldSim& sim, const Bytes& request) {
    sim.Feed(request);
    Bytes all;
    SimOutFrame f;
    while (sim.PopFrame(f)) all.insert(all.end(), f.bytes.begin(), f.bytes.end());
    return CutAll(all);
}

inline std::vector<std::uint32_t> ListOf(const Bytes& p) {
    std::vector<std::uint32_t> v;
    if (p.size() < 4) return v;
    const std::int16_t n = wire::GetI16(p.data() + 2);
    for (int i = 0; i < n && 4 + 4 * static_cast<std::size_t>(i) + 4 <= p.size(); ++i)
        v.push_back(wire::GetU32(p.data() + 4 + 4 * i));
    return v;
}

inline Bytes Pattern(std::size_t n, std::uint32_t seed = 7) {
    Bytes b(n);
    std::uint32_t x = seed;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

}  // namespace dorvane::simtest
