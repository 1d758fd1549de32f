#pragma once
// Program-wide diagnostic log of the link and the protocol. Closed unless a
// caller opens it; nothing in the program opens it by default.

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>

namespace dorvane {

/// Written once, when an open log is closed (by Close or at destruction).
inline constexpr std::string_view kEndLogLine =
    "============================End log=======================\n";

/// File name of the log inside DefaultLogFolder().
inline constexpr const char* kDebugLogFileName = "dorvane-debug.log";

class CDebugLogger {
public:
    /// Sets up a closed stream; creates no file.
    CDebugLogger() = default;
    /// Writes kEndLogLine and closes when open; a failed close is ignored.
    virtual ~CDebugLogger();
    CDebugLogger(const CDebugLogger&) = delete;
    CDebugLogger& operator=(const CDebugLogger&) = delete;

    /// The one program-wide logger (constructed on first use, destroyed at exit).
    static CDebugLogger& Instance();

    /// Where the log goes by default: $XDG_STATE_HOME/dorvane, else
    /// $HOME/.local/state/dorvane, else the system temporary folder; never
    /// beside the executable.
    static std::filesystem::path DefaultLogFolder();

    /// Opens `file` for appending (creating its folder); an open log is closed
    /// first (with its end line). False when the file cannot be opened.
    bool Open(const std::filesystem::path& file = DefaultLogFolder() / kDebugLogFileName);

    /// Writes kEndLogLine and closes; nothing when closed.
    void Close();

    bool IsOpen() const;

    /// Appends `line` and a newline when open; nothing otherwise. Thread-safe.
    void Write(std::string_view line);

private:
    void CloseLocked();

    mutable std::mutex m_lock;
    std::ofstream m_stream;
};

}  // namespace dorvane
