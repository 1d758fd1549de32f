#pragma once
// --help and --version for the small helper programs (sample generator,
// benchmarks, replays), which have no string table: their texts are English.
// Header-only so that a program linking only one core area can use it.

#include <cstdio>
#include <optional>
#include <string_view>

namespace dorvane {

/// When any argument is "--help" or "-h", prints `usage` (ending in a
/// newline) on standard output and returns 0; when one is "--version",
/// prints "<program> <version>" and returns 0; otherwise returns nullopt and
/// the program goes on. An argument after "--" is an operand, not an option.
inline std::optional<int> HandleStandardOptions(int argc, char** argv, std::string_view program,
                                                std::string_view usage) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            std::fwrite(usage.data(), 1, usage.size(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%.*s %s\n", static_cast<int>(program.size()), program.data(),
                        DORVANE_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace dorvane
