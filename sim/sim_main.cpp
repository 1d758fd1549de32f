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
// 2 on bad options (one line on standard error naming the option and the
// values it takes); --help and --version print on standard output and end
// with 0.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "names/encoding.h"
#include "protocol/wire.h"
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
    "                        (N from 50 to 4000000; default: no pacing)\n"
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
    "  --version             show the program's version and exit\n"
    "An option's value may also follow it after \"=\" (--baud=9600); every argument\n"
    "after \"--\" is the FOLDER.\n";

// The lowest and highest rates termios can set (B50 .. B4000000): the pacing
// takes any whole rate between them, also the ones no port could set.
constexpr std::uint64_t kMinBaud = 50;
constexpr std::uint64_t kMaxBaud = 4000000;
// The handheld's answer to 133 holds a 4-byte header and then the text in one
// frame's payload.
constexpr std::size_t kIdentityHeaderSize = 4;
constexpr std::size_t kMaxSerialBytes = dorvane::wire::kMaxPayload - kIdentityHeaderSize;

// Whole numbers in decimal (or 0x hex): no sign, no spaces.
std::optional<std::uint64_t> ParseWhole(const std::string& s) {
    if (s.empty() || s[0] < '0' || s[0] > '9') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno || *end) return std::nullopt;
    return v;
}

std::optional<double> ParseProbability(const std::string& s) {
    if (s.empty() || !((s[0] >= '0' && s[0] <= '9') || s[0] == '.')) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (errno || *end || !(v >= 0 && v <= 1)) return std::nullopt;
    return v;
}

// NAME:CODE; the name is matched as bytes, and a UTF-8 name is also entered
// in its GBK form, the way the handheld stores it.
bool ParseErrorOn(const std::string& s, SimOptions& opt) {
    const auto colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string codeText = s.substr(colon + 1);
    const bool negative = codeText.starts_with('-');
    const std::optional<std::uint64_t> magnitude =
        ParseWhole(negative ? codeText.substr(1) : codeText);
    if (!magnitude || *magnitude > (negative ? 32768u : 32767u)) return false;
    const auto code = static_cast<std::int16_t>(negative ? -static_cast<std::int64_t>(*magnitude)
                                                         : static_cast<std::int64_t>(*magnitude));
    const std::string name = s.substr(0, colon);
    opt.errorOn[name] = code;
    if (auto gbk = dorvane::Utf8ToGbk(name)) opt.errorOn[*gbk] = code;
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

// What an option's value must be.
enum class ValueKind {
    None,         // a switch
    Path,         // a non-empty path
    Serial,       // text of at most kMaxSerialBytes bytes
    Baud,         // kMinBaud .. kMaxBaud
    U32,          // 0 .. 4294967295
    U64,          // 0 .. 18446744073709551615
    Probability,  // 0 .. 1
    ErrorOn,      // NAME:CODE
};

struct OptionSpec {
    const char* name;
    ValueKind kind;
};

constexpr OptionSpec kOptions[] = {
    {"--fifo", ValueKind::Path},
    {"--link", ValueKind::Path},
    {"--baud", ValueKind::Baud},
    {"--model", ValueKind::U32},
    {"--protocol-version", ValueKind::U32},
    {"--serial", ValueKind::Serial},
    {"--refuse-gmt", ValueKind::None},
    {"--capacity", ValueKind::U64},
    {"--error-on", ValueKind::ErrorOn},
    {"--seed", ValueKind::U32},
    {"--drop", ValueKind::Probability},
    {"--corrupt", ValueKind::Probability},
    {"--duplicate", ValueKind::Probability},
    {"--garbage", ValueKind::Probability},
    {"--delay-ms", ValueKind::U32},
    {"--silent-after", ValueKind::U64},
    {"--stall-after", ValueKind::U64},
    {"--vanish-after", ValueKind::U64},
    {"--hostile", ValueKind::None},
    {"--trace", ValueKind::Path},
    {"--exit-on-stdin-eof", ValueKind::None},
    {"--help", ValueKind::None},
    {"--version", ValueKind::None},
};

std::string AllowedText(ValueKind kind) {
    switch (kind) {
        case ValueKind::None:
            return "no value";
        case ValueKind::Path:
            return "a path";
        case ValueKind::Serial:
            return "text of at most " + std::to_string(kMaxSerialBytes) + " bytes";
        case ValueKind::Baud:
            return std::to_string(kMinBaud) + ".." + std::to_string(kMaxBaud);
        case ValueKind::U32:
            return "0..4294967295";
        case ValueKind::U64:
            return "0..18446744073709551615";
        case ValueKind::Probability:
            return "0..1";
        case ValueKind::ErrorOn:
            return "NAME:CODE, CODE -32768..32767";
    }
    return {};
}

// The message for a value the option does not take.
std::string BadValueText(const std::string& option, ValueKind kind, const std::string& value) {
    const std::string shown = value.empty() ? "\"\"" : value;
    if (kind == ValueKind::Baud)
        return option + ": " + shown + " is not a rate the link can set (" + AllowedText(kind) +
               ")";
    return option + ": " + shown + " is not " +
           (kind == ValueKind::Probability ? "a probability"
            : kind == ValueKind::ErrorOn   ? "a NAME:CODE pair"
            : kind == ValueKind::Path      ? "a path"
            : kind == ValueKind::Serial    ? "a serial number the handheld can answer"
                                           : "a whole number in range") +
           " (" + AllowedText(kind) + ")";
}

std::string OptionNames() {
    std::string out;
    for (const OptionSpec& o : kOptions) out += (out.empty() ? "" : ", ") + std::string(o.name);
    return out;
}

// Stores a checked value; false when the option does not take it.
bool Store(const std::string& option, ValueKind kind, const std::string& v, Args& a) {
    switch (kind) {
        case ValueKind::None:
            return false;
        case ValueKind::Path:
            if (v.empty()) return false;
            (option == "--fifo" ? a.fifo : option == "--link" ? a.linkPath : a.trace) = v;
            return true;
        case ValueKind::Serial:
            if (v.size() > kMaxSerialBytes) return false;
            a.sim.serial = v;
            return true;
        case ValueKind::Probability: {
            const std::optional<double> p = ParseProbability(v);
            if (!p) return false;
            (option == "--drop"        ? a.sim.drop
             : option == "--corrupt"   ? a.sim.corrupt
             : option == "--duplicate" ? a.sim.duplicate
                                       : a.sim.garbage) = *p;
            return true;
        }
        case ValueKind::ErrorOn:
            return ParseErrorOn(v, a.sim);
        case ValueKind::Baud:
        case ValueKind::U32:
        case ValueKind::U64:
            break;
    }
    const std::optional<std::uint64_t> n = ParseWhole(v);
    if (!n) return false;
    if (kind == ValueKind::Baud) {
        if (*n < kMinBaud || *n > kMaxBaud) return false;
        a.link.baud = static_cast<std::uint32_t>(*n);
        return true;
    }
    if (kind == ValueKind::U32) {
        if (*n > UINT32_MAX) return false;
        const auto u = static_cast<std::uint32_t>(*n);
        (option == "--model"      ? a.sim.model
         : option == "--seed"     ? a.sim.seed
         : option == "--delay-ms" ? a.sim.delayMs
                                  : a.sim.version) = u;
        return true;
    }
    if (option == "--capacity")
        a.sim.capacity = *n;
    else if (option == "--vanish-after")
        a.sim.vanishAfter = *n;
    else
        a.sim.silentAfter = *n;
    return true;
}

// Reads the command line into `a`; on a bad one sets `error` to a message
// naming the argument and what it allows, and returns false.
bool ParseArgs(int argc, char** argv, Args& a, std::string& error) {
    bool haveFolder = false;
    bool operandsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (operandsOnly || arg == "-" || !arg.starts_with('-')) {
            if (haveFolder) {
                error = "one FOLDER only: " + a.sim.folder.string() + " and " + arg + " were given";
                return false;
            }
            a.sim.folder = arg;
            haveFolder = true;
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        if (arg == "-h") {
            a.help = true;
            return true;
        }
        // --name=value is the same as --name value.
        const std::size_t eq = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& o : kOptions)
            if (name == o.name) spec = &o;
        if (!spec) {
            error = "unknown option " + name + "; the options are " + OptionNames();
            return false;
        }
        if (name == "--version" && eq == std::string::npos) {
            // "--version N" is the older spelling of --protocol-version N.
            if (i + 1 < argc && ParseWhole(argv[i + 1])) {
                if (!Store("--protocol-version", ValueKind::U32, argv[++i], a)) {
                    error = BadValueText(name, ValueKind::U32, argv[i]);
                    return false;
                }
                continue;
            }
            a.showVersion = true;
            return true;
        }
        if (name == "--help" && eq == std::string::npos) {
            a.help = true;
            return true;
        }
        if (spec->kind == ValueKind::None) {
            if (eq != std::string::npos) {
                error = name + " takes no value (" + arg + ")";
                return false;
            }
            if (name == "--hostile")
                a.sim.hostile = true;
            else if (name == "--refuse-gmt")
                a.sim.refuseGmt = true;
            else
                a.link.exitOnStdinEof = true;
            continue;
        }
        std::string v;
        if (eq != std::string::npos) {
            v = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
            v = argv[++i];
        } else {
            error = name + " needs a value (" + AllowedText(spec->kind) + ")";
            return false;
        }
        if (!Store(name, spec->kind, v, a)) {
            error = BadValueText(name, spec->kind, v);
            return false;
        }
    }
    if (!haveFolder) {
        error = "no FOLDER given: the folder of files the handheld serves";
        return false;
    }
    return true;
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

int Run(int argc, char** argv) {
    Args a;
    std::string argError;
    if (!ParseArgs(argc, argv, a, argError)) {
        std::cerr << "dorvane-sim: " << argError << "\n"
                  << "usage: dorvane-sim [options] FOLDER (dorvane-sim --help lists the options)\n";
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
        std::cerr << "dorvane-sim: " << a.sim.folder.string() << " is not a folder\n";
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
    std::cerr << "dorvane-sim: serving " << a.sim.folder.string() << " (model " << a.sim.model
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

}  // namespace

int main(int argc, char** argv) {
    // Nothing the emulator meets may end it with an uncaught exception: a test
    // reads its exit status and standard error.
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "dorvane-sim: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "dorvane-sim: unexpected failure\n";
    }
    return 1;
}
