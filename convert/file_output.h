#pragma once
// Writing a new file into a folder under a name no entry there carries yet,
// without ever leaving a partial file: the bytes go to a hidden temporary
// file in the same folder, are flushed to disk, and the finished file is
// then given its unique name with a no-replace rename. A name taken by
// someone else in the meantime moves on to the next "(n)" variant; an
// existing file is never overwritten. Blocking file I/O on the caller's thread.

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace dorvane {

enum class WriteError {
    kNone,
    kFolderMissing,     ///< the folder does not exist or is not a folder
    kPermissionDenied,  ///< EACCES, EPERM, EROFS
    kDiskFull,          ///< ENOSPC, EDQUOT
    kTooLarge,    ///< EFBIG: the file size limit (RLIMIT_FSIZE, the file system's) was reached
    kNoFreeName,  ///< every "(n)" variant is taken
    kIoError,     ///< any other system error (message has the detail)
};

struct WriteOutcome {
    WriteError error = WriteError::kNone;
    std::string message;         ///< English detail for logs; empty on success
    std::filesystem::path path;  ///< the file written (folder / unique name)
    bool ok() const { return error == WriteError::kNone; }
};

/// Fills the file: called with a function that appends bytes and returns
/// false once a write failed (stop then and return false).
using FileProducer = std::function<bool(const std::function<bool(std::string_view)>& write)>;

/// Writes what `produce` delivers to `folder` / UniqueFileName(folder,
/// `wantedName`). `wantedName` must be a single safe path component (see
/// SafeFileName); anything else is refused as kIoError. On any failure no
/// file is left behind and the outcome says why.
WriteOutcome WriteNewFile(const std::filesystem::path& folder, std::string_view wantedName,
                          const FileProducer& produce);

/// Convenience form for a byte image.
WriteOutcome WriteNewFile(const std::filesystem::path& folder, std::string_view wantedName,
                          std::span<const std::uint8_t> bytes);

/// Removes the hidden temporary files (".dorvane-<pid>-<n>.part") that a
/// process which no longer exists left in `folder` (a run killed half-way).
/// Files of live processes, of this process and anything else stay. Returns
/// the number removed. WriteNewFile calls it before every write.
std::size_t RemoveStaleTempFiles(const std::filesystem::path& folder);

}  // namespace dorvane
