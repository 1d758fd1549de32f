#pragma once
// The start-up decisions of the program, free of any window system so that
// the desktop program and the command-line program share them and tests can
// run them: one running copy per user, the edition text of the about box, and
// the user-interface language. All functions run once on the main thread
// before the event loop; none of them throws or exits.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "i18n/string_table.h"

namespace dorvane {

/// Name of the single-instance lock (the identifier the Windows program's
/// named mutex used), with ".lock" appended for the lock file.
inline constexpr std::string_view kInstanceId = "47A166DA-BF64-4D9B-A14D-43647637E4A0";

/// The one-copy-per-user lock. It holds an flock() on
/// "<runtime dir>/47A166DA-BF64-4D9B-A14D-43647637E4A0.lock" for its whole
/// life; the kernel drops the lock when the process ends in any way, so a lock
/// file left behind by a crash never keeps the program from starting. The file
/// itself is left in place (removing it would race with a starting copy).
/// Move-only; the destructor releases the lock.
class CSingleInstance {
public:
    enum class Status {
        Acquired,        ///< this is the only running copy
        AlreadyRunning,  ///< another copy holds the lock: exit silently
        Error,           ///< no lock could be taken (folder or file unusable)
    };

    /// Takes the lock in RuntimeDir(). Never blocks.
    static CSingleInstance Acquire();
    /// Takes the lock in `dir` (tests). Never blocks.
    static CSingleInstance AcquireIn(const std::filesystem::path& dir);

    CSingleInstance(CSingleInstance&& other) noexcept;
    CSingleInstance& operator=(CSingleInstance&& other) noexcept;
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;
    ~CSingleInstance();

    Status status() const { return status_; }
    /// False only for AlreadyRunning: on Error the program should still start,
    /// since a missing lock must not lock the user out of the program.
    bool ShouldRun() const { return status_ != Status::AlreadyRunning; }
    /// errno of the failure when status() is Error, else 0.
    int error() const { return error_; }
    /// The lock file's path.
    const std::filesystem::path& path() const { return path_; }
    /// The socket beside the lock through which a second copy hands its file
    /// to the running one ("<id>.socket"); empty on Error, when the folder
    /// may not be the user's own.
    std::filesystem::path HandOffPath() const;

private:
    CSingleInstance() = default;
    void Release();

    int fd_ = -1;
    Status status_ = Status::Error;
    int error_ = 0;
    std::filesystem::path path_;
};

/// The user's runtime folder: $XDG_RUNTIME_DIR when it is set and absolute,
/// otherwise /tmp/dorvane-<uid>, which CSingleInstance::Acquire creates with
/// mode 0700 and uses only when it is a real folder owned by the user.
std::filesystem::path RuntimeDir();

/// The edition text and what happened to "Edition.ini".
struct Edition {
    std::string text;        ///< "Dorvane <first line>" or "Dorvane 1.0.0.0"
    bool from_file = false;  ///< the text came from Edition.ini
    bool deleted = false;    ///< an unusable Edition.ini was deleted
};

/// Name of the edition file, looked for in the program's folder.
inline constexpr std::string_view kEditionFileName = "Edition.ini";
/// The edition text when Edition.ini gives none.
inline constexpr std::string_view kDefaultEdition = "Dorvane 1.0.0.0";
/// Longest first line that is used, in characters.
inline constexpr std::size_t kMaxEditionChars = 128;

/// Reads "<dir>/Edition.ini": a first line of 1 to 128 characters (UTF-8 or
/// GBK, CR LF or LF) gives "Dorvane <line>". Otherwise the text is "Dorvane
/// 1.0.0.0" and the file, when it exists, is deleted — but only when it is a
/// regular file in a folder that the user owns and may write; a file in a
/// system folder is left alone. Blocking file I/O.
Edition ReadEdition(const std::filesystem::path& dir);

/// ReadEdition in the folder of the running program; "Dorvane 1.0.0.0" when
/// that folder is unknown.
Edition ReadProgramEdition();

/// The whole command line as one text: the arguments (program name first)
/// joined by single spaces, the form in which the language options are
/// matched.
std::string JoinCommandLine(int argc, const char* const* argv);

/// The language to start in: " -Code_Chi" anywhere in `command_line` (with its
/// leading space, case-sensitive) chooses Chinese; else " -Code_Eng" chooses
/// English; else the locale decides: "zh_CN" (with any codeset or modifier,
/// e.g. "zh_CN.UTF-8") chooses Chinese, every other locale English.
Language ChooseLanguage(std::string_view command_line, std::string_view locale_name);

/// True for an argument that is one of the language switches ("-Code_Chi",
/// "-Code_Eng"). ChooseLanguage reads them from the whole command line; the
/// front ends drop them before they read their own arguments, so a switch is
/// never taken for a command or a file name.
bool IsLanguageSwitch(std::string_view argument);

/// The user's locale name for messages as POSIX defines it: the first
/// non-empty of LC_ALL, LC_MESSAGES, LANG; "C" when none is set.
std::string UserLocaleName();

/// Makes the user's locale the process locale (setlocale(LC_ALL, "")), but
/// keeps LC_NUMERIC at "C": GPX, KML and the settings file need a decimal
/// point whatever the user's language. Returns false when the user's locale
/// is not installed (the "C" locale stays in force).
bool ApplyUserLocale();

}  // namespace dorvane
