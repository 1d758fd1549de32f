#include "report/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace dorvane::report {

namespace fs = std::filesystem;

namespace {
std::string SystemText(int err) {
    return std::error_code(err, std::generic_category()).message();
}
}  // namespace

fs::path TemporaryBeside(const fs::path& out, std::string_view extension) {
    static std::atomic<unsigned> counter{0};
    const fs::path parent = out.has_parent_path() ? out.parent_path() : fs::path(".");
    return parent / ("." + out.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter++) + std::string(extension));
}

bool OutputExists(const fs::path& out) {
    std::error_code ec;
    return fs::symlink_status(out, ec).type() != fs::file_type::not_found;
}

OutputOutcome MoveIntoPlace(const fs::path& tmp, const fs::path& out, bool force) {
    const int rc =
        force ? ::rename(tmp.c_str(), out.c_str())
              : ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, out.c_str(), RENAME_NOREPLACE);
    if (rc == 0) return {};
    const int err = errno;
    std::error_code ec;
    fs::remove_all(tmp, ec);
    if (err == EEXIST || err == ENOTEMPTY) return {OutputError::kExists, out.string()};
    return {OutputError::kIoError, SystemText(err)};
}

OutputOutcome WriteOutputFile(const fs::path& out, std::string_view bytes, bool force) {
    if (!force && OutputExists(out)) return {OutputError::kExists, out.string()};
    const fs::path tmp = TemporaryBeside(out, "");
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return {OutputError::kIoError, SystemText(errno)};
    std::size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        return {OutputError::kIoError, SystemText(err)};
    }
    return MoveIntoPlace(tmp, out, force);
}

}  // namespace dorvane::report
