#include "transfer/text_format.h"

#include <charconv>
#include <cstdio>

namespace dorvane {

namespace {

/// Widest field or precision honoured; larger values are clamped.
constexpr int kMaxWidth = 64;

std::string Pad(std::string s, int width, bool left) {
    if (static_cast<int>(s.size()) >= width) return s;
    const std::string fill(static_cast<std::size_t>(width) - s.size(), ' ');
    return left ? s + fill : fill + s;
}

std::string FormatNumber(char conv, const FormatArg& a, int precision) {
    double d = 0;
    std::int64_t i = 0;
    if (const auto* pi = std::get_if<std::int64_t>(&a)) {
        i = *pi;
        d = static_cast<double>(*pi);
    } else if (const auto* pd = std::get_if<double>(&a)) {
        d = *pd;
        i = static_cast<std::int64_t>(*pd);
    } else {
        return std::get<std::string>(a);
    }
    char buf[128];
    std::to_chars_result r{};
    switch (conv) {
        case 'f':
            r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, precision < 0 ? 6 : precision);
            break;
        case 'x':
            r = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(i), 16);
            break;
        case 'u':
            r = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(i));
            break;
        default:
            r = std::to_chars(buf, buf + sizeof buf, i);
            break;
    }
    return std::string(buf, r.ptr);
}

}  // namespace

std::string FormatTextV(std::string_view f, const std::vector<FormatArg>& args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%') {
            out.push_back(f[i]);
            continue;
        }
        std::size_t j = i + 1;
        if (j < f.size() && f[j] == '%') {
            out.push_back('%');
            i = j;
            continue;
        }
        bool left = false;
        while (j < f.size() && (f[j] == '-' || f[j] == '+' || f[j] == ' ' || f[j] == '0' || f[j] == '#')) {
            left = left || f[j] == '-';
            ++j;
        }
        int width = 0;
        while (j < f.size() && f[j] >= '0' && f[j] <= '9') width = std::min(kMaxWidth, width * 10 + (f[j++] - '0'));
        int precision = -1;
        if (j < f.size() && f[j] == '.') {
            precision = 0;
            ++j;
            while (j < f.size() && f[j] >= '0' && f[j] <= '9')
                precision = std::min(kMaxWidth, precision * 10 + (f[j++] - '0'));
        }
        while (j < f.size() && (f[j] == 'l' || f[j] == 'h' || f[j] == 'I' || f[j] == '6' || f[j] == '4')) ++j;
        if (j >= f.size()) {  // a lone '%' at the end stays as it is
            out.append(f.substr(i));
            break;
        }
        const char conv = f[j];
        std::string piece;
        if (conv == 's' || conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' || conv == 'f') {
            if (next < args.size()) {
                const FormatArg& a = args[next++];
                piece = conv == 's' && std::holds_alternative<std::string>(a) ? std::get<std::string>(a)
                                                                               : FormatNumber(conv, a, precision);
            }
            out += Pad(std::move(piece), width, left);
        } else {
            out.append(f.substr(i, j - i + 1));  // unknown conversion: kept as text
        }
        i = j;
    }
    return out;
}

}  // namespace dorvane
