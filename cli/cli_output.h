#pragma once
// Output helpers and exit codes shared by the command line's commands.

#include <cstdio>
#include <string>

namespace dorvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

/// A line on standard output.
inline void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
}
/// A line on standard error.
inline void Complain(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace dorvane::cli
