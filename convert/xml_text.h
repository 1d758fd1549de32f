#pragma once
// Text pieces of the GPX and KML writers: XML escaping, numbers with '.'
// whatever the process locale, and the time texts. Pure and thread-safe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dorvane {

/// Appends `text` (UTF-8) with &, <, > and " escaped. Characters XML 1.0
/// does not allow (C0 controls other than TAB, LF, CR) and invalid UTF-8
/// bytes become U+FFFD, so the document always parses.
void AppendXmlEscaped(std::string& out, std::string_view text);

/// Appends `value` as printf "%.<decimals>f" would in the "C" locale ('.'
/// separator, leading '-' for negatives), independent of the process locale.
void AppendFixed(std::string& out, double value, int decimals);
std::string FixedText(double value, int decimals);

/// "YYYY-MM-DDTHH:MM:SSZ" in UTC for GPX. A negative value counts as one
/// that cannot be converted: nullopt.
std::optional<std::string> GpxTimeText(std::int32_t seconds);
/// Appends the 20-character GPX time text to `out`; returns false for
/// negative values (nothing appended). Used on the hot path of the writer.
bool AppendGpxTime(std::string& out, std::int32_t seconds);

/// "%d-%d-%d %d:%d" (year, month, day, hour, minute, no leading zeros) in
/// the computer's local time zone, as the KML data entries show times.
/// nullopt for negative values or when local time cannot represent it.
std::optional<std::string> KmlTimeText(std::int32_t seconds);

}  // namespace dorvane
