// dorvane-sim: plays the handheld over a pseudo-terminal or a FIFO folder.
//
//   dorvane-sim [options] FOLDER
//   dorvane-sim --help | --version
//
// On start it prints one line on standard output and flushes it:
//   "PTY <slave path>"   (pty mode; the computer opens that path, or --link's)
//   "FIFO <folder>"      (--fifo mode)
// and runs until SIGTERM / SIGINT (or the end of standard input with
// --exit-on-stdin-eof). Exit status 0 on a clean end, 1 on a link failure,
// 2 on bad options; --help and --version print on standard output and end with 0.

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "names/encoding.h"
#include "sim/sim_transport.h"

namespace {

using dorvane::SimOptions;

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

constexpr const char* kUsage =
    "usage: dorvane-sim [options] FOLDER\n"
    "       dorvane-sim --help | --version\n"
    "Plays the handheld serving the files of FOLDER (names are the handheld's GBK bytes).\n"
    "  --fifo DIR            serve over the FIFO folder DIR (PIPE00 out, PIPE01 in)\n"
    "                        instead of a pseudo-terminal\n"
    "  --link PATH           symlink PATH to the pty (replaced when it is a symlink)\n"
    "  --baud N              pace both directions to N/10 bytes per second\n"
    "  --model CODE          model code (default 701)\n"
    "  --protocol-version N  protocol version of the handshake answer (default 1;\n"
    "                        --version N is the older spelling)\n"
    "  --serial TEXT         serial number answered to 133\n"
    "  --refuse-gmt          refuse uploads of .gmt files (error 48)\n"
    "  --capacity BYTES      refuse uploads that would exceed BYTES (error 6)\n"
    "  --error-on NAME:CODE  answer requests naming NAME with error CODE (repeatable)\n"
    "  --seed S              seed of the fault draws (default 1)\n"
    "  --drop P --corrupt P --duplicate P --garbage P   fault probabilities per frame\n"
    "  --delay-ms MS         start every answer MS late\n"
    "  --silent-after N      send nothing after N frames\n"
    "  --stall-after N       the same: go silent after N frames, the link stays open\n"
    "  --vanish-after N      close the link and end after N frames (a pulled cable)\n"
    "  --hostile             lie: impossible names in the listing, blocks that\n"
    "                        contradict the listing and each other\n"
    "  --trace FILE          write every frame in and out, decoded, one line each\n"
    "  --exit-on-stdin-eof   end when standard input closes\n"
    "  --help                show this help and exit\n"
    "  --version             show the program's version and exit\n";

bool ParseU64(const std::string& s, std::uint64_t& out) {
    if (s.empty() || s[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno || *end) return false;
    out = v;
    return true;
}

bool ParseU32(const std::string& s, std::uint32_t& out) {
    std::uint64_t v = 0;
    if (!ParseU64(s, v) || v > UINT32_MAX) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

bool ParseProbability(const std::string& s, double& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return !s.empty() && !errno && !*end && out >= 0 && out <= 1;
}

// NAME:CODE; the name is matched as bytes, and a UTF-8 name is also entered
// in its GBK form, the way the handheld stores it.
bool ParseErrorOn(const std::string& s, SimOptions& opt) {
    const auto colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    char* end = nullptr;
    const long code = std::strtol(s.c_str() + colon + 1, &end, 0);
    if (*end || end == s.c_str() + colon + 1 || code < INT16_MIN || code > INT16_MAX) return false;
    const std::string name = s.substr(0, colon);
    opt.errorOn[name] = static_cast<std::int16_t>(code);
    if (auto gbk = dorvane::Utf8ToGbk(name)) opt.errorOn[*gbk] = static_cast<std::int16_t>(code);
    return true;
}

struct Args {
    bool help = false;
    bool showVersion = false;
    SimOptions sim;
    dorvane::SimLinkOptions link;
    std::string fifo;
    std::string linkPath;
    std::string trace;
};

bool ParseArgs(int argc, char** argv, Args& a) {
    bool haveFolder = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        std::uint64_t u64 = 0;
        bool ok = true;
        if (arg == "--fifo")
            ok = value(a.fifo);
        else if (arg == "--link")
            ok = value(a.linkPath);
        else if (arg == "--trace")
            ok = value(a.trace);
        else if (arg == "--serial")
            ok = value(a.sim.serial);
        else if (arg == "--baud")
            ok = value(v) && ParseU32(v, a.link.baud);
        else if (arg == "--model")
            ok = value(v) && ParseU32(v, a.sim.model);
        else if (arg == "--protocol-version")
            ok = value(v) && ParseU32(v, a.sim.version);
        else if (arg == "--version" && i + 1 < argc && ParseU32(argv[i + 1], a.sim.version))
            ++i;  // the older spelling of --protocol-version N
        else if (arg == "--version") {
            a.showVersion = true;
            return true;
        } else if (arg == "--seed")
            ok = value(v) && ParseU32(v, a.sim.seed);
        else if (arg == "--drop")
            ok = value(v) && ParseProbability(v, a.sim.drop);
        else if (arg == "--corrupt")
            ok = value(v) && ParseProbability(v, a.sim.corrupt);
        else if (arg == "--duplicate")
            ok = value(v) && ParseProbability(v, a.sim.duplicate);
        else if (arg == "--garbage")
            ok = value(v) && ParseProbability(v, a.sim.garbage);
        else if (arg == "--delay-ms")
            ok = value(v) && ParseU32(v, a.sim.delayMs);
        else if (arg == "--silent-after" || arg == "--stall-after")
            ok = value(v) && ParseU64(v, u64) && (a.sim.silentAfter = u64, true);
        else if (arg == "--vanish-after")
            ok = value(v) && ParseU64(v, u64) && (a.sim.vanishAfter = u64, true);
        else if (arg == "--hostile")
            a.sim.hostile = true;
        else if (arg == "--capacity")
            ok = value(v) && ParseU64(v, u64) && (a.sim.capacity = u64, true);
        else if (arg == "--error-on")
            ok = value(v) && ParseErrorOn(v, a.sim);
        else if (arg == "--refuse-gmt")
            a.sim.refuseGmt = true;
        else if (arg == "--exit-on-stdin-eof")
            a.link.exitOnStdinEof = true;
        else if (arg == "--help" || arg == "-h") {
            a.help = true;
            return true;
        } else if (!arg.starts_with("--") && !haveFolder) {
            a.sim.folder = arg;
            haveFolder = true;
        } else {
            ok = false;
        }
        if (!ok) {
            std::cerr << "dorvane-sim: bad or incomplete option " << arg << "\n";
            return false;
        }
    }
    if (!haveFolder) std::cerr << "dorvane-sim: no folder given\n";
    return haveFolder;
}

// Points `linkPath` at `target`; an existing symlink is replaced, any other
// file is left alone (and refused).
bool MakeLink(const std::string& linkPath, const std::string& target) {
    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::cerr << "dorvane-sim: " << linkPath << " exists and is not a symlink\n";
            return false;
        }
        ::unlink(linkPath.c_str());
    }
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        std::perror(("dorvane-sim: symlink " + linkPath).c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (!ParseArgs(argc, argv, a)) {
        std::cerr << kUsage;
        return 2;
    }
    if (a.help) {
        std::cout << kUsage;
        return 0;
    }
    if (a.showVersion) {
        std::cout << "dorvane-sim " << DORVANE_VERSION << "\n";
        return 0;
    }
    struct stat st {};
    if (::stat(a.sim.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::cerr << "dorvane-sim: " << a.sim.folder << " is not a folder\n";
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::ofstream traceFile;
    dorvane::CHandheldSim sim(a.sim);
    if (!a.trace.empty()) {
        traceFile.open(a.trace, std::ios::trunc);
        if (!traceFile) {
            std::cerr << "dorvane-sim: cannot write " << a.trace << "\n";
            return 2;
        }
        traceFile << std::unitbuf;
        sim.SetTrace(&traceFile);
    }

    std::string error;
    dorvane::CSimPty pty;
    dorvane::CSimFifoFolder fifo;
    int readFd = -1;
    int writeFd = -1;
    if (!a.fifo.empty()) {
        if (!fifo.Open(a.fifo, error)) {
            std::cerr << "dorvane-sim: " << error << "\n";
            return 1;
        }
        readFd = fifo.ReadFd();
        writeFd = fifo.WriteFd();
        std::cout << "FIFO " << a.fifo << std::endl;
    } else {
        if (!pty.Open(error)) {
            std::cerr << "dorvane-sim: " << error << "\n";
            return 1;
        }
        readFd = writeFd = pty.Fd();
        if (!a.linkPath.empty() && !MakeLink(a.linkPath, pty.SlavePath())) return 1;
        std::cout << "PTY " << pty.SlavePath() << std::endl;
    }
    std::cerr << "dorvane-sim: serving " << a.sim.folder << " (model " << a.sim.model
              << ", version " << a.sim.version << ")\n";

    const bool ok = dorvane::RunSimLink(
        sim, readFd, writeFd, a.link, [] { return g_stop != 0; }, error);
    if (!a.linkPath.empty() && a.fifo.empty()) {
        char target[256] = {};
        const ssize_t n = ::readlink(a.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && pty.SlavePath() == std::string(target, static_cast<std::size_t>(n)))
            ::unlink(a.linkPath.c_str());
    }
    if (!ok) {
        std::cerr << "dorvane-sim: " << error << "\n";
        return 1;
    }
    if (sim.Vanished())
        std::cerr << "dorvane-sim: vanished after " << sim.GetStats().framesOut << " frames\n";
    return 0;
}
