#include "link/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <utility>

namespace dorvane {

namespace {

namespace fs = std::filesystem;

// The lock file holds the PID as ten ASCII digits, right-aligned, and a
// newline (the FHS form, "%10d\n"): 11 bytes.
constexpr int kPidDigits = 10;
// Attempts at creating a lock file: the second follows the removal of a stale one.
constexpr int kTakeAttempts = 2;
constexpr const char* kDevPrefix = "/dev/";

bool ProcessLives(int pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The PID a lock file names, 0 when it names none (empty, garbage, binary).
int ReadLockPid(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char text[32] = {};
    in.read(text, sizeof text - 1);
    std::string_view s(text, static_cast<std::size_t>(in.gcount()));
    while (!s.empty() && (s.front() == ' ')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
    int pid = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), pid);
    if (ec != std::errc{} || end != s.data() + s.size() || pid <= 0) return 0;
    return pid;
}

std::string ProgramOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

PortHolder HolderFromPid(int pid) {
    return PortHolder{pid, ProgramOf(pid)};
}

// The first other process with `device` (a character device) open.
PortHolder ScanOpenFiles(const std::string& devicePath) {
    struct stat dev {};
    if (::stat(devicePath.c_str(), &dev) != 0 || !S_ISCHR(dev.st_mode)) return {};
    const int self = static_cast<int>(::getpid());
    std::error_code ec;
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string name = proc->path().filename().string();
        int pid = 0;
        const auto [p, err] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (err != std::errc{} || p != name.data() + name.size() || pid == self) continue;
        std::error_code fdEc;
        for (fs::directory_iterator fd(proc->path() / "fd", fdEc), fdEnd; !fdEc && fd != fdEnd;
             fd.increment(fdEc)) {
            struct stat st {};
            if (::stat(fd->path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == dev.st_rdev)
                return HolderFromPid(pid);
        }
    }
    return {};
}

}  // namespace

std::string PortLockName(const std::string& devicePath) {
    std::string path = devicePath;
    if (char* real = ::realpath(devicePath.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    if (path.starts_with(kDevPrefix)) path.erase(0, std::char_traits<char>::length(kDevPrefix));
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
    for (char& c : path)
        if (c == '/') c = '_';
    return "LCK.." + path;
}

CPortLockFile::~CPortLockFile() {
    Release();
}

CPortLockFile::CPortLockFile(CPortLockFile&& other) noexcept
    : path_(std::exchange(other.path_, {})), holder_(std::move(other.holder_)) {}

CPortLockFile& CPortLockFile::operator=(CPortLockFile&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::exchange(other.path_, {});
        holder_ = std::move(other.holder_);
    }
    return *this;
}

CPortLockFile::Result CPortLockFile::Take(const fs::path& folder, const std::string& devicePath) {
    Release();
    holder_ = {};
    const fs::path path = folder / PortLockName(devicePath);
    for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[kPidDigits + 2];
            const int n = std::snprintf(text, sizeof text, "%*d\n", kPidDigits,
                                        static_cast<int>(::getpid()));
            const bool written = n > 0 && ::write(fd, text, static_cast<std::size_t>(n)) == n;
            ::close(fd);
            if (!written) {
                // A lock file without our PID would look stale to everyone.
                ::unlink(path.c_str());
                return Result::Unavailable;
            }
            path_ = path;
            return Result::Taken;
        }
        if (errno != EEXIST) return Result::Unavailable;
        const int pid = ReadLockPid(path);
        if (ProcessLives(pid)) {
            holder_ = HolderFromPid(pid);
            return Result::Held;
        }
        // Stale: its process is gone. Replace it.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Result::Unavailable;
    }
    // Another program keeps creating it between our attempts: it is in use.
    return Result::Held;
}

void CPortLockFile::Release() {
    if (path_.empty()) return;
    // Remove only while it still names us: a lock that was judged stale and
    // replaced by another program is theirs.
    if (ReadLockPid(path_) == static_cast<int>(::getpid())) ::unlink(path_.c_str());
    path_.clear();
}

PortHolder FindPortHolder(const fs::path& folder, const std::string& devicePath) {
    const int pid = ReadLockPid(folder / PortLockName(devicePath));
    if (pid != static_cast<int>(::getpid()) && ProcessLives(pid)) return HolderFromPid(pid);
    return ScanOpenFiles(devicePath);
}

}  // namespace dorvane
