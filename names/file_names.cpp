#include "names/file_names.h"

#include <cstdio>
#include <system_error>

#include "names/encoding.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

constexpr char kSeparator = '/';
constexpr std::size_t kBytesPerUnit = 1024;
/// Units after one, two and three divisions by 1024.
constexpr const char* kSizeUnits[] = {"BYTE", "KB", "MB", "GB"};
constexpr int kLargestUnit = 3;
constexpr std::size_t kDigitGroup = 3;
/// An extension longer than this is treated as part of the name when a
/// too-long name has to be cut.
constexpr std::size_t kMaxKeptExtension = 32;
constexpr char kReplacementChar = '_';

struct Split {
    std::string_view directory;
    std::string_view stem;
    std::string_view extension;  // with its dot
};

Split SplitPath(std::string_view path) {
    Split s;
    const std::size_t slash = path.rfind(kSeparator);
    std::string_view leaf = path;
    if (slash != std::string_view::npos) {
        s.directory = path.substr(0, slash + 1);
        leaf = path.substr(slash + 1);
    }
    const std::size_t dot = leaf.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || leaf == "..") {
        s.stem = leaf;
    } else {
        s.stem = leaf.substr(0, dot);
        s.extension = leaf.substr(dot);
    }
    return s;
}

// Cuts `s` to at most `max` bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view s, std::size_t max) {
    if (s.size() <= max) return s;
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

template <typename Candidate>
std::string FirstFree(const fs::path& folder, Candidate candidate) {
    for (int n = 0; n <= kMaxUniqueVariants; ++n) {
        std::string name = candidate(n);
        if (!EntryExists(folder / name)) return name;
    }
    return {};
}

}  // namespace

std::string PathPart(std::string_view path, int which) {
    const Split s = SplitPath(path);
    switch (static_cast<PathPartKind>(which)) {
        case PathPartKind::kDrive:
            return {};
        case PathPartKind::kDirectory:
            return std::string(s.directory);
        case PathPartKind::kFileName:
            return std::string(s.stem);
        case PathPartKind::kExtension:
            return std::string(s.extension);
    }
    return {};
}

std::string ExtensionWithoutDot(std::string_view path) {
    std::string_view ext = SplitPath(path).extension;
    if (ext.size() > 1) ext.remove_prefix(1);
    return std::string(ext);
}

std::string FileNameWithExtension(std::string_view path) {
    const Split s = SplitPath(path);
    return std::string(s.stem) + std::string(s.extension);
}

std::string DriveOf(std::string_view /*path*/) {
    return {};
}

bool FileExists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    return !ec && fs::exists(st) && !fs::is_directory(st);
}

bool EntryExists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    return !ec && fs::exists(st);
}

std::string UniqueFileName(const fs::path& folder, std::string_view name) {
    if (name.empty()) return {};
    const Split s = SplitPath(name);
    const std::string stem(name.substr(0, name.size() - s.extension.size()));
    const std::string ext(s.extension);
    return FirstFree(folder, [&](int n) {
        if (n == 0) return std::string(name);
        return stem + "(" + std::to_string(n) + ")" + ext;
    });
}

std::string UniqueFolderName(const fs::path& folder, std::string_view base) {
    if (base.empty()) return {};
    return FirstFree(folder, [&](int n) {
        if (n == 0) return std::string(base);
        return std::string(base) + "(" + std::to_string(n) + ")";
    });
}

std::string SizeText(std::uint32_t bytes) {
    char buf[64];
    if (bytes < kBytesPerUnit) {
        std::snprintf(buf, sizeof buf, "%.0f %s", static_cast<double>(bytes), kSizeUnits[0]);
        return buf;
    }
    double value = static_cast<double>(bytes) / kBytesPerUnit;
    std::uint32_t quotient = bytes / kBytesPerUnit;
    int unit = 1;
    while (quotient >= kBytesPerUnit && unit < kLargestUnit) {
        value /= kBytesPerUnit;
        quotient /= kBytesPerUnit;
        ++unit;
    }
    std::snprintf(buf, sizeof buf, "%.2f %s", value, kSizeUnits[unit]);
    return buf;
}

std::string GroupedNumber(std::int32_t value) {
    const std::int64_t wide = value;
    const std::string digits = std::to_string(wide < 0 ? -wide : wide);
    std::string out;
    if (wide < 0) out.push_back('-');
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % kDigitGroup == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

std::string SafeFileName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    std::size_t i = 0;
    while (i < name.size()) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') {
            out.push_back(kReplacementChar);
            ++i;
            continue;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        // Take the longest valid UTF-8 sequence starting here, else one bad byte.
        std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (len > 1 && i + len <= name.size() && IsValidUtf8(name.substr(i, len))) {
            out.append(name.substr(i, len));
            i += len;
        } else {
            out.push_back(kReplacementChar);
            ++i;
        }
    }
    if (out.empty() || out == "." || out == "..") return std::string(1, kReplacementChar);
    // A leading dot would hide the file from the user (and could meet the
    // hidden temporary files of the downloads).
    if (out.front() == '.') out.front() = kReplacementChar;

    const std::size_t limit = kMaxNameBytes - kUniqueSuffixReserve;
    if (out.size() > limit) {
        const Split s = SplitPath(out);
        std::string_view ext = s.extension.size() <= kMaxKeptExtension ? s.extension : "";
        std::string_view stem = std::string_view(out).substr(0, out.size() - ext.size());
        std::string cut(CutUtf8(stem, limit - ext.size()));
        cut.append(ext);
        out = std::move(cut);
    }
    return out;
}

}  // namespace dorvane
