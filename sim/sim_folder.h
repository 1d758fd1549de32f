#pragma once
// The emulated handheld's storage: one flat folder whose file names are the
// handheld's own name bytes (GBK), exactly as they travel on the wire.
// Blocking file-system calls; no state; errors come back as return values.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

/// Prefix of the emulator's half-written uploads; such files are never listed.
inline constexpr std::string_view kSimTempPrefix = ".dorvane-sim-";

/// A name from the wire is usable as a file of the flat folder: not empty, no
/// '/', no NUL, not "." or "..", not the temp prefix, at most 255 bytes.
bool IsSafeDeviceName(std::string_view name);

/// The listing payload: for each regular file (sorted by name bytes) the name,
/// a zero byte, u32 size, u32 mtime (seconds since 1970 UTC); then one zero
/// byte that ends the list. Files over 4 GiB are left out.
std::vector<std::uint8_t> BuildListing(const std::filesystem::path& folder);

/// Reads a file of the folder; nullopt when it is missing, unreadable or not
/// a regular file.
std::optional<std::vector<std::uint8_t>> ReadDeviceFile(const std::filesystem::path& folder,
                                                        const std::string& name);

/// Whether a regular file of that name exists.
bool DeviceFileExists(const std::filesystem::path& folder, const std::string& name);

/// Deletes a file; false when there was no such regular file or it could not go.
bool DeleteDeviceFile(const std::filesystem::path& folder, const std::string& name);

/// Writes a whole file atomically (temp file, then rename over the old one).
bool WriteDeviceFile(const std::filesystem::path& folder, const std::string& name,
                     const std::vector<std::uint8_t>& data);

/// Sum of the sizes of the folder's regular files.
std::uint64_t FolderBytes(const std::filesystem::path& folder);

}  // namespace dorvane
