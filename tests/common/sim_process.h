#pragma once
// Starts dorvane-sim as a child process for end-to-end tests: it serves a
// folder over a pty (or a FIFO folder) and ends when its stdin closes, so no
// emulator outlives a crashed test.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace dorvane::test {

inline std::string SimProgram() { return std::string(DORVANE_BINARY_DIR) + "/bin/dorvane-sim"; }

class SimProcess {
public:
    /// Starts `dorvane-sim ARGS... FOLDER` and waits for its first line
    /// ("PTY /dev/pts/N" or "FIFO folder"). Check ok() afterwards.
    SimProcess(const std::filesystem::path& folder, std::vector<std::string> args) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        args.insert(args.begin(), "--exit-on-stdin-eof");
        args.insert(args.begin(), SimProgram());
        args.push_back(folder.string());
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = ::fdopen(out[0], "r");
        char line[512];
        if (stdout_ && std::fgets(line, sizeof line, stdout_)) {
            std::string s(line);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
            const auto space = s.find(' ');
            if (space != std::string::npos) path_ = s.substr(space + 1);
        }
    }
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ok() const { return pid_ > 0 && !path_.empty(); }
    /// The pty path or the FIFO folder the emulator printed.
    const std::string& path() const { return path_; }

    void Stop() {
        if (stdin_ >= 0) {
            ::close(stdin_);
            stdin_ = -1;
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        if (stdout_) {
            std::fclose(stdout_);
            stdout_ = nullptr;
        }
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    FILE* stdout_ = nullptr;
    std::string path_;
};

/// A fresh folder under the temp folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("dorvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace dorvane::test
