#pragma once
// The FHS lock file of a serial port (/run/lock/LCK..ttyUSB0) that minicom,
// picocom, gpsd and the other serial programs honour, and what is known of
// the program that holds a port.

#include <filesystem>
#include <string>

namespace dorvane {

/// Folder of the lock files (Filesystem Hierarchy Standard 3.0, /var/lock
/// being a link to it on every current distribution).
inline constexpr const char* kPortLockFolder = "/run/lock";

/// The program that holds a port: its PID (0 when unknown) and its name as
/// /proc/PID/comm gives it (empty when unknown).
struct PortHolder {
    int pid = 0;
    std::string program;
};

/// Lock file name of a device: "LCK.." and the device's path below /dev
/// (symlinks resolved, so /dev/serial/by-id/... and ttyUSB0 share one lock),
/// a "/" in it made "_" (/dev/pts/3 -> LCK..pts_3).
std::string PortLockName(const std::string& devicePath);

/// The lock file of one port, taken by this process. Move-only; the
/// destructor removes the file it created (never another program's).
class CPortLockFile {
public:
    enum class Result {
        Taken,        ///< the file is ours now
        Held,         ///< a live process holds it: Holder() says which
        Unavailable,  ///< the folder cannot be written: go on with flock alone
    };

    CPortLockFile() = default;
    ~CPortLockFile();
    CPortLockFile(CPortLockFile&& other) noexcept;
    CPortLockFile& operator=(CPortLockFile&& other) noexcept;
    CPortLockFile(const CPortLockFile&) = delete;
    CPortLockFile& operator=(const CPortLockFile&) = delete;

    /// Creates `folder`/PortLockName(devicePath) holding this PID as ten
    /// ASCII digits and a newline, exclusively. A lock of a process that is
    /// gone (or one whose content is no PID) is stale and is replaced. A lock
    /// naming this very process belongs to another open of the port here and
    /// is Held. Never throws except std::bad_alloc.
    Result Take(const std::filesystem::path& folder, const std::string& devicePath);

    /// Removes the file if this object created it.
    void Release();

    bool Owns() const { return !path_.empty(); }
    const PortHolder& Holder() const { return holder_; }

private:
    std::filesystem::path path_;
    PortHolder holder_;
};

/// Who holds `devicePath`: the PID in its lock file under `folder` when that
/// process lives, else the first other process that has the device open
/// (found through /proc/PID/fd, which shows only processes this user may see).
PortHolder FindPortHolder(const std::filesystem::path& folder, const std::string& devicePath);

}  // namespace dorvane
