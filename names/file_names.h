#pragma once
// File-name rules shared by the conversion on download and the computer pane:
// splitting a path into its parts, choosing a name that does not yet exist in
// a folder, and the size and number texts of the lists.
//
// Paths and names are UTF-8 (the Linux file-system encoding). There are no
// drive letters on Linux; a path splits into directory, name and extension.
// All functions are free, reentrant and callable from any thread; the ones
// that look at the file system block for one stat() per candidate name.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dorvane {

/// Which part of a path `PathPart` returns; the values are those the callers
/// have always passed as integers.
enum class PathPartKind : int {
    kDrive = 1,      ///< always empty on Linux
    kDirectory = 2,  ///< everything up to and including the last '/'
    kFileName = 3,   ///< last component without its extension
    kExtension = 4,  ///< extension with its leading dot, or empty
};

/// Splits `path` and returns the part `which` (1..4, see PathPartKind); any
/// other value gives an empty text. The extension starts at the last '.' of
/// the last component, except that a leading dot (".profile") and the names
/// "." and ".." have no extension.
std::string PathPart(std::string_view path, int which);
inline std::string PathPart(std::string_view path, PathPartKind which) {
    return PathPart(path, static_cast<int>(which));
}

/// The extension without its dot ("gpx" for "a/T0601.gpx"); empty when there is none.
std::string ExtensionWithoutDot(std::string_view path);

/// The last component: file name with its extension.
std::string FileNameWithExtension(std::string_view path);

/// The drive part: empty on Linux, where every path hangs below "/".
std::string DriveOf(std::string_view path);

/// True when an entry exists at `path` and it is not a folder (a symbolic
/// link is followed). Never throws; an unreadable entry counts as absent.
bool FileExists(const std::filesystem::path& path);

/// True when any entry (file, folder, dangling link, ...) exists at `path`.
bool EntryExists(const std::filesystem::path& path);

/// Number of "(n)" variants tried before the unique-name rules give up.
inline constexpr int kMaxUniqueVariants = 100000;

/// The first name that no entry in `folder` carries: `name` itself, then
/// "stem(1).ext", "stem(2).ext", ... A name without extension gets
/// "README", "README(1)", ... (no trailing dot). Any existing entry, folder
/// or dangling link included, blocks a name; case rules are the file
/// system's. Returns an empty text when `name` is empty or all
/// kMaxUniqueVariants variants are taken.
std::string UniqueFileName(const std::filesystem::path& folder, std::string_view name);

/// The first of `base`, "base(1)", "base(2)", ... that no entry in `folder`
/// carries. Empty text on an empty base or when every variant is taken.
std::string UniqueFolderName(const std::filesystem::path& folder, std::string_view base);

/// Byte count for display: below 1024 "512 BYTE", otherwise two decimals with
/// KB, MB or GB ("1.50 KB", "4.77 MB"). Formatted through the process locale.
std::string SizeText(std::uint32_t bytes);

/// Decimal digits with a ',' before every group of three from the right:
/// 1234567 gives "1,234,567"; a minus sign stays in front ("-1,000").
std::string GroupedNumber(std::int32_t value);

/// Longest name the Linux file systems take (NAME_MAX), in bytes.
inline constexpr std::size_t kMaxNameBytes = 255;
/// Bytes kept free at the end of a sanitized name for a "(n)" variant.
inline constexpr std::size_t kUniqueSuffixReserve = 16;

/// Turns a name from an untrusted source (the handheld) into one path
/// component that stays inside the folder it is joined to: '/', '\\', NUL
/// and the other control characters become '_', invalid UTF-8 bytes become
/// '_', "" "." and ".." become "_", a leading '.' (a hidden file) becomes
/// '_', and the name is cut (on a character
/// boundary, keeping the extension when it is short) to leave room for a
/// "(n)" variant within kMaxNameBytes.
std::string SafeFileName(std::string_view name);

}  // namespace dorvane
