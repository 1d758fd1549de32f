#pragma once
// Runs a shell command line for a test and keeps what it printed on standard
// output (add "2>&1" to the line to keep standard error too). Blocks until
// the command ends; the command line is the caller's, quoting included.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace dorvane::test {

struct CommandRun {
    int status = -1;  ///< exit status; -1 when it could not run or was killed
    std::string out;
};

inline CommandRun RunCommand(const std::string& commandLine) {
    CommandRun r;
    FILE* p = ::popen(commandLine.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;)
        r.out.append(buf.data(), n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace dorvane::test
