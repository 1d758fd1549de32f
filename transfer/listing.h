#pragma once
// The handheld's file listing (the bytes of a completed listing operation):
// entries of  name bytes, 0 | u32 size | u32 modification time (seconds since
// 1970 UTC), little-endian; an empty name ends the list. There are no folders.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dorvane {

struct DeviceFileEntry {
    std::string name;        ///< the handheld's bytes (GBK), used as they are in requests
    std::uint32_t size = 0;  ///< bytes
    std::int64_t mtime = 0;  ///< seconds since 1970-01-01 UTC
    bool selected = false;   ///< marked for the next command
    std::uint32_t reserved = 0;
    /// The name as shown (UTF-8, visible, unique within its listing; see
    /// ShownDeviceName). Filled by ParseListing.
    std::string shown;
};

/// The name of `e` as lists, messages and scripts show it: `shown`, or for
/// an entry not made by ParseListing its ShownDeviceName.
std::string ShownName(const DeviceFileEntry& e);

/// Parses a listing. Returns nullopt for an absent (empty) payload, which
/// leaves the device list as it was. Only entries that lie wholly inside the
/// bytes are taken; a name running to the end without its zero, or an entry
/// cut short, ends the list. The handheld's folder is flat, so a name listed
/// twice is a lie: only its first entry is kept. Every entry gets a shown
/// name; two names that look alike once made visible are told apart by a
/// " (n)" after the later one.
std::optional<std::vector<DeviceFileEntry>> ParseListing(std::span<const std::uint8_t> bytes);

/// Builds listing bytes (the handheld's side; used by the emulator and tests).
std::vector<std::uint8_t> BuildListing(const std::vector<DeviceFileEntry>& entries);

}  // namespace dorvane
