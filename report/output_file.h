#pragma once
// Writing a report or export under the name the user gave: the bytes go to a
// hidden temporary file beside it, are flushed, and the finished file is
// then renamed into place: over an existing file only when `force`, else
// with a no-replace rename, so an existing bill is never lost and a failed
// write leaves no partial file. Blocking file I/O on the caller's thread.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace dorvane::report {

enum class OutputError {
    kNone,
    kExists,   ///< the output exists and force was not given
    kIoError,  ///< creating, writing or renaming failed (message says why)
};

struct OutputOutcome {
    OutputError error = OutputError::kNone;
    std::string message;  ///< English detail (system error) when failed
    bool ok() const { return error == OutputError::kNone; }
};

/// A hidden name beside `out`, unique to this process and call, ending in
/// `extension` (some writers go by it).
std::filesystem::path TemporaryBeside(const std::filesystem::path& out, std::string_view extension);

/// Renames the finished `tmp` to `out` (see above); removes `tmp` on failure.
OutputOutcome MoveIntoPlace(const std::filesystem::path& tmp, const std::filesystem::path& out,
                            bool force);

/// Writes `bytes` to `out` through a temporary file.
OutputOutcome WriteOutputFile(const std::filesystem::path& out, std::string_view bytes, bool force);

/// True when something (a file, folder or link) already has the name.
bool OutputExists(const std::filesystem::path& out);

}  // namespace dorvane::report
