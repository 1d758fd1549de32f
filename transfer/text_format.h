#pragma once
// printf-style formatting of texts that come from language files. A language
// file is input, not code: its "%s" and "%d" must never reach printf. This
// formatter takes the conversions %s %d %i %u %x %f (with width and
// precision) and %%, substitutes the arguments in order, converts between
// numbers and strings when a file's conversion does not match the argument,
// and leaves a conversion without an argument empty. Numbers use "." as the
// decimal separator.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dorvane {

using FormatArg = std::variant<std::int64_t, double, std::string>;

std::string FormatTextV(std::string_view format, const std::vector<FormatArg>& args);

namespace detail {
inline FormatArg ToArg(const std::string& s) { return s; }
inline FormatArg ToArg(std::string_view s) { return std::string(s); }
inline FormatArg ToArg(const char* s) { return std::string(s ? s : ""); }
inline FormatArg ToArg(double d) { return d; }
template <typename T>
    requires std::is_integral_v<T>
FormatArg ToArg(T v) {
    return static_cast<std::int64_t>(v);
}
}  // namespace detail

template <typename... Args>
std::string FormatText(std::string_view format, const Args&... args) {
    return FormatTextV(format, {detail::ToArg(args)...});
}

}  // namespace dorvane
