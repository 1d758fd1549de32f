#include "ui/folder_scan.h"

#include <QDate>
#include <QDateTime>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

namespace dorvane {

namespace {
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerDay = 86400;
/// Every time zone's offset changes on a quarter hour of UTC time.
constexpr std::int64_t kOffsetStepSeconds = 15 * kSecondsPerMinute;
/// Julian day number of 1970-01-01.
constexpr std::int64_t kJulianDayOfEpoch = 2440588;
/// "yyyy-MM-dd HH:mm" and its terminating zero, with room for a 5-digit year.
constexpr int kTimeTextSize = 24;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
}  // namespace

QString CLocalTimeText::Text(std::int64_t utcSeconds) {
    const std::int64_t quarter = FloorDiv(utcSeconds, kOffsetStepSeconds);
    auto it = offsets_.find(quarter);
    if (it == offsets_.end()) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(quarter * kOffsetStepSeconds);
        it = offsets_.emplace(quarter, local.offsetFromUtc()).first;
    }
    const std::int64_t local = utcSeconds + it->second;
    const std::int64_t minute = FloorDiv(local, kSecondsPerMinute);
    if (haveLast_ && minute == lastMinute_) return lastText_;
    // A folder lists in the file system's own order, not by time: files
    // written over a few minutes come interleaved, so every minute's text is
    // kept, not the last one only.
    if (const auto known = minutes_.find(minute); known != minutes_.end()) {
        lastMinute_ = minute;
        lastText_ = known->second;
        return lastText_;
    }
    const std::int64_t day = FloorDiv(local, kSecondsPerDay);
    const std::int64_t minuteOfDay = (local - day * kSecondsPerDay) / kSecondsPerMinute;
    const QDate date = QDate::fromJulianDay(day + kJulianDayOfEpoch);
    char buf[kTimeTextSize];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", date.year(), date.month(), date.day(),
                  static_cast<int>(minuteOfDay / kSecondsPerMinute), static_cast<int>(minuteOfDay % kSecondsPerMinute));
    lastMinute_ = minute;
    haveLast_ = true;
    lastText_ = QString::fromLatin1(buf);
    minutes_.emplace(minute, lastText_);
    return lastText_;
}

namespace {

/// Below this many entries one thread reads them all: starting threads costs
/// more than the stat calls they would share.
constexpr std::size_t kParallelFrom = 2000;
/// At most this many threads share the stat calls (the calls wait on the
/// kernel's inode cache more than on the disk).
constexpr unsigned kMaxStatThreads = 4;

/// Reads the entries [begin, end) of `names` (offsets into `buffer`) with one
/// stat each; an entry that is gone meanwhile is left unmarked in `found`.
void StatRange(int dirFd, const std::string& buffer, const std::vector<std::size_t>& names, std::size_t begin,
               std::size_t end, std::vector<FolderEntry>& out, std::vector<unsigned char>& found) {
    for (std::size_t i = begin; i < end; ++i) {
        const char* raw = buffer.c_str() + names[i];
        struct stat st {};
        if (::fstatat(dirFd, raw, &st, 0) != 0 && ::fstatat(dirFd, raw, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // gone meanwhile
        FolderEntry& entry = out[i];
        // Qt 6 takes file names on Linux as UTF-8 (QFile::decodeName); the
        // direct decoder spares its stateful converter, a third of a
        // large folder's scan.
        entry.name = QString::fromUtf8(raw, static_cast<qsizetype>(std::strlen(raw)));
        entry.dir = S_ISDIR(st.st_mode);
        entry.size = entry.dir ? 0 : static_cast<std::int64_t>(st.st_size);
        entry.mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec);
        found[i] = 1;
    }
}

}  // namespace

bool ScanFolder(const QString& folder, bool withParent, std::vector<FolderEntry>& out) {
    out.clear();
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return false;
    // fdopendir owns the descriptor from here; closedir closes both.
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(dirFd));
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    // The names first (each ends with its zero in one buffer), then one stat
    // per entry: the stat calls are most of a large folder's listing, and
    // several threads share them.
    std::string buffer;
    std::vector<std::size_t> names;
    while (const dirent* e = ::readdir(dir.get())) {
        const char* raw = e->d_name;
        const bool dotDot = raw[0] == '.' && raw[1] == '.' && raw[2] == '\0';
        // Hidden means a dot file here; "." is left out, ".." leads up.
        if (raw[0] == '.' && !(dotDot && withParent)) continue;
        names.push_back(buffer.size());
        buffer.append(raw, std::strlen(raw) + 1);
    }
    const std::size_t n = names.size();
    out.resize(n);
    std::vector<unsigned char> found(n, 0);
    unsigned threads = 1;
    if (n >= kParallelFrom) threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxStatThreads);
    const std::size_t slice = (n + threads - 1) / threads;
    {
        std::vector<std::jthread> helpers;
        std::size_t begin = slice;  // the calling thread takes the first slice
        try {
            for (unsigned t = 1; t < threads && begin < n; ++t, begin += slice) {
                const std::size_t end = std::min(n, begin + slice);
                helpers.emplace_back(
                    [&, begin, end] { StatRange(dirFd, buffer, names, begin, end, out, found); });
            }
        } catch (const std::system_error&) {
            // No thread to be had: the rest is read here.
        }
        StatRange(dirFd, buffer, names, 0, std::min(n, slice), out, found);
        if (begin < n) StatRange(dirFd, buffer, names, begin, n, out, found);
    }  // the helpers are joined here
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (found[i]) out[kept++] = std::move(out[i]);
    out.resize(kept);
    return true;
}

}  // namespace dorvane
