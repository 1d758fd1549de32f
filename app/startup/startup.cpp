#include "app/startup/startup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <utility>

#include "names/encoding.h"

namespace dorvane {

namespace {

constexpr std::string_view kLockSuffix = ".lock";
constexpr std::string_view kSocketSuffix = ".socket";
constexpr std::string_view kRuntimeFallbackPrefix = "/tmp/dorvane-";
constexpr mode_t kPrivateDirMode = 0700;
constexpr mode_t kLockFileMode = 0600;
constexpr std::string_view kChineseOption = " -Code_Chi";
constexpr std::string_view kEnglishOption = " -Code_Eng";
// The only locale that chooses Chinese (language and territory).
constexpr std::string_view kChineseLocale = "zh_CN";
constexpr std::string_view kEditionPrefix = "Dorvane ";
// The Windows program read at most 255 characters of the first line; any line
// longer than kMaxEditionChars is refused anyway, so reading a little more
// than that is enough to tell.
constexpr std::size_t kEditionReadBytes = 4096;

// True when `dir` is a folder (not a symlink) owned by this user.
bool IsOwnPrivateDir(const std::filesystem::path& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

std::size_t CountUtf8Chars(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

// ---- single instance ----

std::filesystem::path RuntimeDir() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    return std::string(kRuntimeFallbackPrefix) + std::to_string(::geteuid());
}

CSingleInstance CSingleInstance::Acquire() {
    const std::filesystem::path dir = RuntimeDir();
    // The /tmp fallback is shared by all users: create it private, and refuse
    // it when someone else made it (or planted a symlink).
    if (::mkdir(dir.c_str(), kPrivateDirMode) != 0 && errno != EEXIST) {
        CSingleInstance r;
        r.error_ = errno;
        r.path_ = dir;
        return r;
    }
    if (!IsOwnPrivateDir(dir)) {
        CSingleInstance r;
        r.error_ = EPERM;
        r.path_ = dir;
        return r;
    }
    return AcquireIn(dir);
}

CSingleInstance CSingleInstance::AcquireIn(const std::filesystem::path& dir) {
    CSingleInstance r;
    r.path_ = dir / (std::string(kInstanceId) + std::string(kLockSuffix));
    r.fd_ = ::open(r.path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLockFileMode);
    if (r.fd_ < 0) {
        r.error_ = errno;
        return r;
    }
    int rc;
    do {
        rc = ::flock(r.fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        r.status_ = Status::Acquired;
        return r;
    }
    const int err = errno;
    r.Release();
    if (err == EWOULDBLOCK) {
        r.status_ = Status::AlreadyRunning;
    } else {
        r.error_ = err;
    }
    return r;
}

CSingleInstance::CSingleInstance(CSingleInstance&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      status_(other.status_),
      error_(other.error_),
      path_(std::move(other.path_)) {}

CSingleInstance& CSingleInstance::operator=(CSingleInstance&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        status_ = other.status_;
        error_ = other.error_;
        path_ = std::move(other.path_);
    }
    return *this;
}

std::filesystem::path CSingleInstance::HandOffPath() const {
    if (status_ == Status::Error) return {};
    return path_.parent_path() / (std::string(kInstanceId) + std::string(kSocketSuffix));
}

CSingleInstance::~CSingleInstance() {
    Release();
}

void CSingleInstance::Release() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing the only descriptor drops the flock
        fd_ = -1;
    }
}

// ---- edition text ----

Edition ReadEdition(const std::filesystem::path& dir) {
    Edition e;
    const std::filesystem::path file = dir / kEditionFileName;
    std::error_code ec;
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(file, ec));
    if (exists) {
        std::ifstream in(file, std::ios::binary);
        std::string head(kEditionReadBytes, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(in.gcount()));
        const std::size_t eol = head.find('\n');
        std::string line = head.substr(0, eol);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A line cut by the read limit is longer than any usable line.
        const bool complete = eol != std::string::npos || head.size() < kEditionReadBytes;
        const std::string text = DecodeUtf8OrGbk(line);
        const std::size_t chars = CountUtf8Chars(text);
        if (complete && chars > 0 && chars <= kMaxEditionChars) {
            e.text = std::string(kEditionPrefix) + text;
            e.from_file = true;
            return e;
        }
    }
    e.text = std::string(kDefaultEdition);
    if (exists && std::filesystem::is_regular_file(std::filesystem::symlink_status(file, ec)) &&
        IsOwnPrivateDir(dir) && ::access(dir.c_str(), W_OK) == 0) {
        e.deleted = std::filesystem::remove(file, ec) && !ec;
    }
    return e;
}

Edition ReadProgramEdition() {
    if (auto dir = ExecutableDir()) return ReadEdition(*dir);
    return Edition{std::string(kDefaultEdition), false, false};
}

// ---- language ----

std::string JoinCommandLine(int argc, const char* const* argv) {
    std::string out;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) break;
        if (i > 0) out += ' ';
        out += argv[i];
    }
    return out;
}

Language ChooseLanguage(std::string_view command_line, std::string_view locale_name) {
    if (command_line.find(kChineseOption) != std::string_view::npos) return Language::Chinese;
    if (command_line.find(kEnglishOption) != std::string_view::npos) return Language::English;
    // "zh_CN.UTF-8@modifier" -> "zh_CN"
    const std::string_view base = locale_name.substr(0, locale_name.find_first_of(".@"));
    return base == kChineseLocale ? Language::Chinese : Language::English;
}

bool IsLanguageSwitch(std::string_view argument) {
    // The options are matched with their leading space in the joined line.
    return argument == kChineseOption.substr(1) || argument == kEnglishOption.substr(1);
}

std::string UserLocaleName() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && v[0] != '\0') return v;
    }
    return "C";
}

bool ApplyUserLocale() {
    const bool ok = std::setlocale(LC_ALL, "") != nullptr;
    std::setlocale(LC_NUMERIC, "C");
    return ok;
}

}  // namespace dorvane
