#pragma once
// The document against dorvane-sim: sample files around the block edges and
// a rig that starts the emulator (pty or FIFO folder) and a document on it.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/sim_process.h"
#include "recording_front_end.h"
#include "transfer/dorvane_doc.h"

namespace dorvane::test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline constexpr int kTimeoutMs = 400;
inline const std::string kGbkName = "\xB2\xE2\xCA\xD4.txt";  // 测试.txt
inline const std::string kUtf8Name = "\xE6\xB5\x8B\xE8\xAF\x95.txt";

inline Bytes Random(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng() % 7 == 0 ? 0x24 : rng());
    return b;
}

inline void WriteFile(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The handheld's files for the tests: sizes around the block edges, `$`, GBK.
inline std::map<std::string, Bytes> SampleFiles() {
    std::map<std::string, Bytes> f;
    std::uint32_t seed = 1;
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{1959}, std::size_t{1960},
                          std::size_t{1961}, std::size_t{3921}, std::size_t{70000}})
        f["F" + std::to_string(n) + ".BIN"] = Random(n, seed++);
    f["DOLLARS.BIN"] = Bytes(5000, 0x24);
    f[kGbkName] = Random(100, 99);
    f["N070101.gmt"] = Random(50, 5);
    f["C070101.gmt"] = Random(50, 6);
    return f;
}

struct Rig {
    TempDir dir;
    fs::path device, pc;
    RecordingFrontEnd fe;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CDorvaneDoc> doc;

    explicit Rig(std::vector<std::string> simArgs, bool usb = false,
                 std::map<std::string, Bytes> files = SampleFiles()) {
        device = dir / "handheld";
        pc = dir / "pc";
        fs::create_directories(device);
        fs::create_directories(pc);
        for (const auto& [name, bytes] : files) WriteFile(device / name, bytes);
        if (usb) {
            simArgs.insert(simArgs.begin(), {"--fifo", (dir / "usb").string()});
            fs::create_directories(dir / "usb");
        }
        sim = std::make_unique<SimProcess>(device, simArgs);
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        const std::string port = sim->path();
        o.portList = [port] { return std::vector<std::string>{port}; };
        o.listingTimeoutMs = kTimeoutMs;
        o.listingWaitMs = 20000;
        o.deleteWaitMs = 5000;
        if (usb) {
            UsbConfig u;
            u.fifoFolder = sim->path();
            o.usb = u;
        }
        doc = std::make_unique<CDorvaneDoc>(fe, o);
        doc->SetLinkType(usb ? LinkType::kUsb : LinkType::kSerial);
        doc->Transport().SetTimeout(kTimeoutMs);
        doc->SetComputerFolder(pc.string());
    }

    void SelectAll(bool withGmt = false) {
        doc->ClearSelection();
        for (const auto& e : doc->DeviceFiles())
            if (withGmt || e.name.find(".gmt") == std::string::npos) doc->SelectByName(e.name);
    }
};

}  // namespace dorvane::test
