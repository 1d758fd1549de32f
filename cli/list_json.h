#pragma once
// `dorvane-cli ls --json`: the handheld's listing for scripts.
//
//   [{"name": "T0601.gpx", "size": 12345, "time": "2023-11-14T22:13:20Z", "seconds": 1700000000},
//   ...]
//
// One object per entry in the handheld's order. "name" is the handheld's
// name in UTF-8 (its GBK bytes converted, an undecodable byte as U+FFFD, so
// the output is always valid JSON), "size" the size in bytes, "time" the
// modification time as ISO 8601 in UTC and "seconds" the same time as
// seconds since 1970-01-01 UTC, as the handheld sent it.

#include <string>
#include <vector>

#include "transfer/listing.h"

namespace dorvane {

/// The listing as a JSON array (indented two spaces, no trailing newline).
/// Pure; never throws except std::bad_alloc.
std::string ListingJson(const std::vector<DeviceFileEntry>& files);

/// `seconds` since 1970-01-01 UTC as "YYYY-MM-DDTHH:MM:SSZ" (proleptic
/// Gregorian calendar, years before 1 or after 9999 still formatted).
std::string IsoUtcTime(std::int64_t seconds);

}  // namespace dorvane
