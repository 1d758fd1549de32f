#pragma once
// The document against dorvane-sim for the fault tests: a handheld folder, a
// computer folder, and an emulator that can be started again on the same
// link (the same --link symlink or FIFO folder), as a device plugged back in.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/sim_process.h"
#include "transfer/dorvane_doc.h"
#include "transfer/recording_front_end.h"

namespace dorvane::test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

inline void WriteBytes(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// Every entry of a folder, hidden ones included (names only).
inline std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct CliRun {
    int status = -1;  ///< exit status, -1 when killed by a signal or not run
    int signal = 0;   ///< the signal that ended it, if any
    std::string out;  ///< stdout and stderr together
};

inline std::string CliProgram() {
    return std::string(DORVANE_BINARY_DIR) + "/bin/dorvane-cli";
}

/// Runs `argv` (a program path and its arguments) in `cwd` in English and
/// UTC, with its own settings folder; `fileSizeLimit` > 0 sets RLIMIT_FSIZE
/// for it, with SIGXFSZ at its default action, so only the program's own
/// handling keeps it alive. Killed after `limitMs`.
inline CliRun RunProgram(const fs::path& cwd, std::vector<std::string> argv,
                         rlim_t fileSizeLimit = 0, int limitMs = 60000) {
    CliRun r;
    int out[2];
    if (::pipe(out) != 0) return r;
    const std::string cfg = (cwd / "cfg").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(out[0]);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::setenv("LANG", "C", 1);
        ::setenv("LC_ALL", "C", 1);
        ::setenv("TZ", "UTC", 1);
        ::setenv("XDG_CONFIG_HOME", cfg.c_str(), 1);
        ::signal(SIGXFSZ, SIG_DFL);
        if (fileSizeLimit > 0) {
            const rlimit lim{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        ::execv(cargv[0], cargv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    char buf[4096];
    for (;;) {
        pollfd pfd{out[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 100);
        if (ready > 0) {
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            r.out.append(buf, static_cast<std::size_t>(n));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(out[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
    if (WIFSIGNALED(st)) r.signal = WTERMSIG(st);
    return r;
}

/// dorvane-cli ARGS, as RunProgram.
inline CliRun RunCli(const fs::path& cwd, const std::vector<std::string>& args,
                     rlim_t fileSizeLimit = 0, int limitMs = 60000) {
    std::vector<std::string> argv = {CliProgram()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(cwd, std::move(argv), fileSizeLimit, limitMs);
}

struct FaultRig {
    static constexpr int kTimeoutMs = 1500;

    TempDir dir;
    fs::path device = dir / "handheld";
    fs::path pc = dir / "pc";
    fs::path usbFolder = dir / "usb";
    fs::path ttyLink = dir / "tty";
    bool usb;
    RecordingFrontEnd fe;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CDorvaneDoc> doc;

    explicit FaultRig(bool overUsb) : usb(overUsb) {
        fs::create_directories(device);
        fs::create_directories(pc);
        fs::create_directories(usbFolder);
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        const std::string port = ttyLink.string();
        o.portList = [port] { return std::vector<std::string>{port}; };
        o.listingTimeoutMs = kTimeoutMs;
        o.listingWaitMs = 20000;
        o.deleteWaitMs = 5000;
        UsbConfig u;
        u.fifoFolder = usbFolder;
        o.usb = u;
        doc = std::make_unique<CDorvaneDoc>(fe, o);
        doc->SetLinkType(usb ? LinkType::kUsb : LinkType::kSerial);
        doc->SetPreferredPort(port, true);
        doc->Transport().SetTimeout(kTimeoutMs);
        doc->SetComputerFolder(pc.string());
    }

    /// (Re)starts the emulator with `args` on the rig's link.
    bool StartSim(std::vector<std::string> args) {
        sim.reset();
        if (usb) {
            args.insert(args.begin(), {"--fifo", usbFolder.string()});
        } else {
            args.insert(args.begin(), {"--link", ttyLink.string()});
        }
        sim = std::make_unique<SimProcess>(device, args);
        return sim->ok();
    }

    bool Select(const std::string& name) {
        doc->ClearSelection();
        return doc->SelectByName(name);
    }
};

}  // namespace dorvane::test
