#include "i18n/ini_reader.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "names/encoding.h"

namespace dorvane {

namespace {

constexpr char kLf = '\n';
constexpr char kSectionOpen = '[';
constexpr char kAssign = '=';
// What ends a section name, a key and a value.
constexpr std::string_view kSectionNameEnd = "]\r\n";
constexpr std::string_view kKeyEnd = "\r;=";
constexpr std::string_view kValueEnd = "\r\n]";

// Blanks and control characters that are trimmed from the end of a key.
bool IsNonPrinting(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Cuts `s` to at most `limit` bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string& s, std::size_t limit) {
    if (s.size() <= limit) return;
    std::size_t end = limit;
    // Step back over continuation bytes (10xxxxxx) to the start of the
    // sequence that would be split.
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    s.resize(end);
}

}  // namespace

bool CIni::Load(const std::filesystem::path& path) {
    Reset();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > kMaxFileBytes) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return LoadBytes(bytes);
}

bool CIni::LoadBytes(std::string_view bytes) {
    Reset();
    if (bytes.empty()) return false;
    text_ = DecodeUtf8OrGbk(bytes);
    if (text_.empty()) return false;  // a lone BOM
    IndexSections();
    return true;
}

void CIni::Reset() {
    text_.clear();
    sections_.clear();
}

void CIni::IndexSections() {
    for (std::size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == kSectionOpen && (i == 0 || text_[i - 1] == kLf)) sections_.push_back(i);
    }
}

std::optional<std::string> CIni::Find(std::string_view section, std::string_view key) const {
    if (key.empty() || key.size() > kMaxKeyBytes) return std::nullopt;
    const std::string_view text(text_);
    const std::size_t n = text.size();

    // 1. The first section with exactly this name.
    std::size_t pos = std::string_view::npos;
    for (std::size_t start : sections_) {
        const std::size_t end = std::min(text.find_first_of(kSectionNameEnd, start + 1), n);
        if (text.substr(start + 1, end - start - 1) == section) {
            pos = start;
            break;
        }
    }
    if (pos == std::string_view::npos) return std::nullopt;

    // 2. From the line after the header, to the end of the text.
    auto next_line = [&](std::size_t p) {
        const std::size_t lf = text.find(kLf, p);
        return lf == std::string_view::npos ? n : lf + 1;
    };
    pos = next_line(pos);
    while (pos < n) {
        const std::size_t end = std::min(text.find_first_of(kKeyEnd, pos), n);
        std::size_t key_end = end;
        while (key_end > pos && IsNonPrinting(text[key_end - 1])) --key_end;
        const std::string_view line_key = text.substr(pos, key_end - pos);
        if (line_key.size() <= kMaxKeyBytes && line_key == key) {
            if (end >= n || text[end] != kAssign) return std::string();  // key without "="
            const std::size_t v = end + 1;
            const std::size_t v_end = std::min(text.find_first_of(kValueEnd, v), n);
            std::string value(text.substr(v, v_end - v));
            CutUtf8(value, kMaxValueBytes);
            return value;
        }
        // The next line begins after the first LF from where the key ended:
        // a key that ran over a LF has used up the line it ran into.
        pos = next_line(end);
    }
    return std::nullopt;
}

std::string CIni::Lookup(std::string_view section, std::string_view key) const {
    return Find(section, key).value_or(std::string());
}

}  // namespace dorvane
