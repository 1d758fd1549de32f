#pragma once
// How a name from the handheld is shown: its GBK bytes converted to UTF-8,
// with everything that would not be seen, or would act on a terminal, made
// visible. The raw bytes stay what travels back to the handheld; this text
// is for lists, progress and messages only.

#include <string>
#include <string_view>

namespace dorvane {

/// The visible stand-in for a byte or character that cannot be shown (U+FFFD).
inline constexpr std::string_view kShownReplacement = "\xEF\xBF\xBD";

/// GbkToUtf8Lossy(raw) with C0 controls, DEL and C1 controls (U+0080..U+009F)
/// replaced by U+FFFD; invalid GBK bytes already come out as U+FFFD. An empty
/// result, or one of only spaces, becomes U+FFFD, so every name has a visible
/// character. Pure; any thread.
std::string ShownDeviceName(std::string_view raw);

}  // namespace dorvane
