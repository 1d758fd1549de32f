#pragma once
// The command line of dorvane-cli's handheld commands: options before or
// after the command, each checked, and the options each command takes.

#include <optional>
#include <string>
#include <vector>

namespace dorvane::cli {

struct Args {
    std::optional<std::string> port;
    std::optional<std::string> usb;
    std::optional<std::string> usbId;
    std::optional<int> baud;
    std::optional<int> timeoutMs;
    std::optional<int> model;
    bool json = false;
    bool noSearch = false;
    bool help = false;
    bool version = false;
    std::string dir;
    std::string command;
    std::vector<std::string> operands;
    /// The options given, as typed (--port, -C, ...), in order.
    std::vector<std::string> given;
};

/// Longest answer wait --timeout takes: ten minutes, far beyond any
/// handheld's slowest answer (the default is 30 s).
inline constexpr int kMaxTimeoutMs = 600000;

/// Reads the command line. Returns the parsed arguments, or sets `error` to
/// the message that names the bad argument and the values it allows (empty
/// when only the usage lines are to be shown) and returns nullopt. The
/// language switches are skipped (they were read already); info, report and
/// export get everything after them as operands, to check themselves.
std::optional<Args> ParseArgs(int argc, const char* const* argv, std::string& error);

/// The options (of those ParseArgs knows) that `command` takes.
std::vector<std::string> OptionsOf(const std::string& command);

/// Checks that every option given belongs to the command and that the
/// command has the operands it needs. Empty when all is well, else the
/// message naming the argument and what is allowed.
std::string CheckCommandArgs(const Args& a);

}  // namespace dorvane::cli
