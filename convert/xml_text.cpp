#include "convert/xml_text.h"

#include <charconv>
#include <ctime>

#include "names/encoding.h"

namespace dorvane {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerMinute = 60;
constexpr int kTmYearBase = 1900;  // struct tm counts years from 1900
constexpr int kTmMonthBase = 1;    // and months from 0

struct Civil {
    std::int64_t year;
    unsigned month, day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's
// civil_from_days; the 400-year era holds 146097 days).
Civil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

void Put2(char* p, unsigned v) {
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

void AppendXmlEscaped(std::string& out, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\t':
                case '\n':
                case '\r':
                    out.push_back(static_cast<char>(c));
                    break;
                default:
                    if (c < 0x20 || c == 0x7F)
                        out += kReplacement;
                    else
                        out.push_back(static_cast<char>(c));
            }
            ++i;
            continue;
        }
        const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (len > 1 && i + len <= text.size() && IsValidUtf8(text.substr(i, len))) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            out += kReplacement;
            ++i;
        }
    }
}

void AppendFixed(std::string& out, double value, int decimals) {
    char buf[400];  // %.6f of the largest double needs 316 characters
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, r.ec == std::errc() ? static_cast<std::size_t>(r.ptr - buf) : 0);
}

std::string FixedText(double value, int decimals) {
    std::string s;
    AppendFixed(s, value, decimals);
    return s;
}

bool AppendGpxTime(std::string& out, std::int32_t seconds) {
    if (seconds < 0) return false;
    const std::int64_t days = seconds / kSecondsPerDay;
    unsigned rest = static_cast<unsigned>(seconds % kSecondsPerDay);
    const Civil c = CivilFromDays(days);
    char b[20];  // YYYY-MM-DDTHH:MM:SSZ; a 32-bit time ends in 2038
    const unsigned y = static_cast<unsigned>(c.year);
    Put2(b, y / 100);
    Put2(b + 2, y % 100);
    b[4] = '-';
    Put2(b + 5, c.month);
    b[7] = '-';
    Put2(b + 8, c.day);
    b[10] = 'T';
    Put2(b + 11, rest / kSecondsPerHour);
    rest %= kSecondsPerHour;
    b[13] = ':';
    Put2(b + 14, rest / kSecondsPerMinute);
    b[16] = ':';
    Put2(b + 17, rest % kSecondsPerMinute);
    b[19] = 'Z';
    out.append(b, sizeof b);
    return true;
}

std::optional<std::string> GpxTimeText(std::int32_t seconds) {
    std::string s;
    if (!AppendGpxTime(s, seconds)) return std::nullopt;
    return s;
}

std::optional<std::string> KmlTimeText(std::int32_t seconds) {
    if (seconds < 0) return std::nullopt;
    const std::time_t t = seconds;
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::nullopt;
    return std::to_string(tm.tm_year + kTmYearBase) + "-" +
           std::to_string(tm.tm_mon + kTmMonthBase) + "-" + std::to_string(tm.tm_mday) + " " +
           std::to_string(tm.tm_hour) + ":" + std::to_string(tm.tm_min);
}

}  // namespace dorvane
