#include "cli/cli_args.h"

#include <algorithm>
#include <string_view>

#include "app/startup/startup.h"
#include "i18n/string_table.h"
#include "link/serial.h"
#include "transfer/text_format.h"

namespace dorvane::cli {

namespace {

// Options of the link, taken by every command that talks to the handheld.
constexpr std::string_view kLinkOptions[] = {"--port", "--usb",     "--usb-id",
                                             "--baud", "--timeout", "--no-search"};
// Commands that talk to the handheld.
constexpr std::string_view kLinkCommands[] = {"ports", "ls", "get", "mv", "rm", "put"};
// Commands that work on the computer's files only and read their own options.
constexpr std::string_view kFileCommands[] = {"info", "overlaps", "report", "export", "book"};
// Every command, for the message about an unknown one.
constexpr std::string_view kCommands[] = {"ports", "ls",     "get",    "mv",     "rm",
                                          "put",   "convert", "usb-devices", "info",
                                          "overlaps", "report", "export", "book"};

template <std::size_t N>
bool In(const std::string_view (&list)[N], std::string_view s) {
    return std::find(std::begin(list), std::end(list), s) != std::end(list);
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items) out += (out.empty() ? "" : ", ") + s;
    return out;
}

std::optional<long> ParseWhole(const std::string& s) {
    if (s.empty() || s.size() > 10) return std::nullopt;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string RatesText() {
    std::string out;
    for (int rate : SerialLineRates()) out += (out.empty() ? "" : ", ") + std::to_string(rate);
    return out;
}

// What each option with a value allows, for the messages.
std::string AllowedFor(const std::string& option) {
    if (option == "--baud") return RatesText();
    if (option == "--timeout") return "1-" + std::to_string(kMaxTimeoutMs) + " (ms)";
    if (option == "--model") return "0-2147483647";
    if (option == "--usb-id") return "VVVV:PPPP (hex)";
    if (option == "--port") return "ttyUSB0, /dev/...";
    if (option == "--usb" || option == "-C") return "PATH";
    return "";
}

}  // namespace

std::vector<std::string> OptionsOf(const std::string& command) {
    std::vector<std::string> out;
    if (In(kLinkCommands, command)) out.assign(std::begin(kLinkOptions), std::end(kLinkOptions));
    if (command == "ls") out.emplace_back("--json");
    if (command == "get" || command == "mv" || command == "convert") out.emplace_back("-C");
    if (command == "get" || command == "mv") out.emplace_back("--model");
    if (command == "usb-devices") out.emplace_back("--usb-id");
    out.emplace_back("-Code_Chi");
    out.emplace_back("-Code_Eng");
    return out;
}

std::optional<Args> ParseArgs(int argc, const char* const* argv, std::string& error) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (IsLanguageSwitch(s)) continue;
        // The file commands parse their own options (info --json, report -r ...).
        if (In(kFileCommands, a.command)) {
            a.operands.push_back(s);
            continue;
        }
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = FormatText(Text(StringId::RES_CLI_MISSING_VALUE), s, AllowedFor(s));
                return false;
            }
            out = argv[++i];
            if (out.empty()) {
                error = FormatText(Text(StringId::RES_CLI_BAD_VALUE), s, "\"\"", AllowedFor(s));
                return false;
            }
            return true;
        };
        std::string v;
        if (s == "--port" || s == "--usb" || s == "--usb-id" || s == "-C") {
            if (!value(v)) return std::nullopt;
            if (s == "--port")
                a.port = v;
            else if (s == "--usb")
                a.usb = v;
            else if (s == "--usb-id")
                a.usbId = v;
            else
                a.dir = v;
            a.given.push_back(s);
        } else if (s == "--baud" || s == "--timeout" || s == "--model") {
            if (!value(v)) return std::nullopt;
            const std::optional<long> n = ParseWhole(v);
            bool ok = n.has_value();
            if (s == "--baud") {
                const auto rates = SerialLineRates();
                ok = ok && std::find(rates.begin(), rates.end(), *n) != rates.end();
            } else if (s == "--timeout") {
                ok = ok && *n >= 1 && *n <= kMaxTimeoutMs;
            } else {
                ok = ok && *n <= 0x7FFFFFFF;
            }
            if (!ok) {
                error = FormatText(Text(StringId::RES_CLI_BAD_VALUE), s, v, AllowedFor(s));
                return std::nullopt;
            }
            (s == "--baud" ? a.baud : s == "--timeout" ? a.timeoutMs : a.model) = static_cast<int>(*n);
            a.given.push_back(s);
        } else if (s == "--json" || s == "--no-search") {
            (s == "--json" ? a.json : a.noSearch) = true;
            a.given.push_back(s);
        } else if (s == "--help" || s == "-h") {
            a.help = true;
        } else if (s == "--version") {
            a.version = true;
        } else if (s == "--") {
            for (++i; i < argc; ++i) a.operands.push_back(argv[i]);
        } else if (s.size() > 1 && s[0] == '-') {
            std::vector<std::string> allowed =
                a.command.empty() ? std::vector<std::string>{} : OptionsOf(a.command);
            if (a.command.empty())
                for (const auto& o : kLinkOptions) allowed.emplace_back(o);
            allowed.insert(allowed.end(), {"--help", "--version"});
            error = FormatText(Text(StringId::RES_CLI_UNKNOWN_OPTION), s, Join(allowed));
            return std::nullopt;
        } else if (a.command.empty()) {
            a.command = s;
            if (!In(kCommands, s)) {
                std::vector<std::string> all(std::begin(kCommands), std::end(kCommands));
                error = FormatText(Text(StringId::RES_CLI_UNKNOWN_COMMAND), s) + "; " +
                        Join(all);
                return std::nullopt;
            }
        } else {
            a.operands.push_back(s);
        }
    }
    if (a.command.empty() && !a.help && !a.version && !a.usbId) return std::nullopt;
    return a;
}

std::string CheckCommandArgs(const Args& a) {
    if (a.command.empty()) {
        // --usb-id alone: nothing else may come with it.
        for (const auto& o : a.given)
            if (o != "--usb-id")
                return FormatText(Text(StringId::RES_CLI_UNKNOWN_OPTION), o, "--usb-id");
        return {};
    }
    if (In(kFileCommands, a.command)) return {};
    const std::vector<std::string> allowed = OptionsOf(a.command);
    for (const auto& o : a.given)
        if (std::find(allowed.begin(), allowed.end(), o) == allowed.end())
            return FormatText(Text(StringId::RES_CLI_UNKNOWN_OPTION), o, Join(allowed));
    const bool takesNames = a.command == "get" || a.command == "mv" || a.command == "rm";
    if (takesNames && a.operands.empty())
        return FormatText(Text(StringId::RES_CLI_NEEDS_NAMES), a.command);
    if ((a.command == "put" || a.command == "convert") && a.operands.empty())
        return FormatText(Text(StringId::RES_CLI_NEEDS_FILES), a.command);
    if ((a.command == "ls" || a.command == "ports" || a.command == "usb-devices") &&
        !a.operands.empty())
        return FormatText(Text(StringId::RES_CLI_UNEXPECTED), a.command, a.operands.front());
    return {};
}

}  // namespace dorvane::cli
