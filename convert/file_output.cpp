#include "convert/file_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "names/file_names.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

/// Mode of new files before the umask, as for any file a program creates.
constexpr mode_t kNewFileMode = 0666;
constexpr int kTempNameAttempts = 100;
constexpr std::string_view kTempPrefix = ".dorvane-";
constexpr std::string_view kTempSuffix = ".part";

WriteError Classify(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
            return WriteError::kDiskFull;
        case EFBIG:
            return WriteError::kTooLarge;
        case EACCES:
        case EPERM:
        case EROFS:
            return WriteError::kPermissionDenied;
        case ENOENT:
        case ENOTDIR:
            return WriteError::kFolderMissing;
        default:
            return WriteError::kIoError;
    }
}

WriteOutcome Failure(int err, std::string_view what, const fs::path& where) {
    WriteOutcome o;
    o.error = Classify(err);
    o.message = std::string(what) + " " + where.string() + ": " + std::strerror(err);
    return o;
}

// The temporary file: removed again unless it was given its final name.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    // Creates the file in `folder`; returns 0 or an errno value.
    int Create(const fs::path& folder) {
        static std::atomic<unsigned> counter{0};
        for (int i = 0; i < kTempNameAttempts; ++i) {
            const std::string name = std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                                     std::to_string(counter.fetch_add(1)) +
                                     std::string(kTempSuffix);
            const fs::path p = folder / name;
            const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
            if (fd >= 0) {
                fd_ = fd;
                path_ = p;
                return 0;
            }
            if (errno != EEXIST) return errno;
        }
        return EEXIST;
    }

    // Writes all of `data`; returns 0 or an errno value.
    int Write(std::string_view data) {
        while (!data.empty()) {
            const ssize_t n = ::write(fd_, data.data(), data.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return 0;
    }

    // Flushes to disk and closes; returns 0 or an errno value.
    int Finish() {
        int err = 0;
        if (::fsync(fd_) != 0 && errno != EINVAL) err = errno;
        if (::close(fd_) != 0 && err == 0 && errno != EINTR) err = errno;
        fd_ = -1;
        return err;
    }

    // Gives the file the name `target` unless an entry of that name exists.
    // Returns 0, EEXIST when the name is taken, or another errno value.
    int LinkAs(const fs::path& target) {
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            path_.clear();
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
        // File systems without no-replace rename: a hard link fails on an existing name.
        if (::link(path_.c_str(), target.c_str()) == 0) {
            ::unlink(path_.c_str());
            path_.clear();
            return 0;
        }
        if (errno == EEXIST) return EEXIST;
        if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return errno;
        // Neither (FAT and similar): check, then rename; the window is tiny.
        if (EntryExists(target)) return EEXIST;
        if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
        path_.clear();
        return 0;
    }

private:
    int fd_ = -1;
    fs::path path_;
};

// The process id in a temporary file's name ".dorvane-<pid>-<n>.part", or 0
// when the name is not one of ours.
pid_t TempFileOwner(std::string_view name) {
    if (!name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) return 0;
    name.remove_prefix(kTempPrefix.size());
    name.remove_suffix(kTempSuffix.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos) return 0;
    pid_t pid = 0;
    for (char c : name.substr(0, dash)) {
        if (c < '0' || c > '9' || pid > (1 << 22)) return 0;  // above any pid_max
        pid = pid * 10 + (c - '0');
    }
    for (char c : name.substr(dash + 1))
        if (c < '0' || c > '9') return 0;
    return pid;
}

bool ProcessGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool IsSingleComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

std::size_t RemoveStaleTempFiles(const fs::path& folder) {
    std::size_t removed = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = TempFileOwner(entry->d_name);
        if (owner <= 0 || owner == ::getpid() || !ProcessGone(owner)) continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

WriteOutcome WriteNewFile(const fs::path& folder, std::string_view wantedName,
                          const FileProducer& produce) {
    if (!IsSingleComponent(wantedName)) {
        WriteOutcome o;
        o.error = WriteError::kIoError;
        o.message = "refused file name that is not a single path component";
        return o;
    }
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return Failure(ENOTDIR, "not a folder:", folder);

    // A run that was killed half-way left its temporary file: it is garbage
    // now, and on a nearly full disk it may be what keeps this file out.
    RemoveStaleTempFiles(folder);
    TempFile tmp;
    if (const int err = tmp.Create(folder)) return Failure(err, "cannot create a file in", folder);
    int writeErr = 0;
    const bool produced = produce([&](std::string_view piece) {
        writeErr = tmp.Write(piece);
        return writeErr == 0;
    });
    if (writeErr) return Failure(writeErr, "cannot write into", folder);
    if (!produced) return Failure(EIO, "could not produce the content for", folder / wantedName);
    if (const int err = tmp.Finish()) return Failure(err, "cannot write into", folder);

    // Names taken between the choice and the rename move on to the next variant.
    for (int attempt = 0; attempt <= kMaxUniqueVariants; ++attempt) {
        const std::string name = UniqueFileName(folder, wantedName);
        if (name.empty()) break;
        const fs::path target = folder / name;
        const int err = tmp.LinkAs(target);
        if (err == 0) {
            WriteOutcome o;
            o.path = target;
            return o;
        }
        if (err != EEXIST) return Failure(err, "cannot create", target);
    }
    WriteOutcome o;
    o.error = WriteError::kNoFreeName;
    o.message = "no free name for " + std::string(wantedName) + " in " + folder.string();
    return o;
}

WriteOutcome WriteNewFile(const fs::path& folder, std::string_view wantedName,
                          std::span<const std::uint8_t> bytes) {
    return WriteNewFile(folder, wantedName, [&](const auto& write) {
        return write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    });
}

}  // namespace dorvane
