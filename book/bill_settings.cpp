#include "book/bill_settings.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "names/encoding.h"

namespace dorvane::book {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCurrencyKey = "currency";
constexpr const char* kSellerNameKey = "seller-name";
constexpr const char* kSellerAddressKey = "seller-address";
constexpr const char* kSellerPhoneKey = "seller-phone";
/// A settings file larger than this is not one we wrote (a few short lines).
constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;

std::string Trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

std::string* Field(BillSettings& s, std::string_view key) {
    if (key == kCurrencyKey) return &s.currency;
    if (key == kSellerNameKey) return &s.sellerName;
    if (key == kSellerAddressKey) return &s.sellerAddress;
    if (key == kSellerPhoneKey) return &s.sellerPhone;
    return nullptr;
}

}  // namespace

fs::path DefaultBillSettingsPath() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : ".") / ".config";
    }
    return base / "dorvane" / kBillSettingsFileName;
}

std::string BillSettingProblem(std::string_view value) {
    if (value.size() > kMaxBillSettingBytes)
        return "longer than " + std::to_string(kMaxBillSettingBytes) + " bytes";
    if (!IsValidUtf8(value)) return "not UTF-8 text";
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F) return "holds a control character (a line break or tab)";
    return {};
}

BookStatus LoadBillSettings(const fs::path& path, BillSettings& out) {
    out = BillSettings{};
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        if (ec) return {BookError::kCannotOpen, path.string() + ": " + ec.message()};
        return BookStatus::Ok();
    }
    if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > kMaxFileBytes)
        return {BookError::kInvalid, path.string() + ": not a bill settings file"};
    std::ifstream in(path, std::ios::binary);
    if (!in) return {BookError::kCannotOpen, path.string() + ": " + std::strerror(errno)};
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    return ParseBillSettings(text, path.string(), out);
}

BookStatus ParseBillSettings(std::string_view text, const std::string& where, BillSettings& out) {
    out = BillSettings{};
    if (!IsValidUtf8(text)) return {BookError::kInvalid, where + ": not UTF-8 text"};
    BillSettings s;
    std::istringstream lines{std::string(text)};
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        const auto eq = t.find('=');
        const std::string key = eq == std::string::npos ? std::string() : Trim(t.substr(0, eq));
        if (key.empty())
            return {BookError::kInvalid, where + ": line " + std::to_string(number) + " is not key=value"};
        const std::string value = Trim(t.substr(eq + 1));
        if (std::string* field = Field(s, key))
            *field = value;
        else
            s.others.emplace_back(key, value);
    }
    out = std::move(s);
    return BookStatus::Ok();
}

BookStatus FormatBillSettings(const BillSettings& s, std::string& text) {
    for (const std::string* v : {&s.currency, &s.sellerName, &s.sellerAddress, &s.sellerPhone})
        if (std::string why = BillSettingProblem(*v); !why.empty())
            return {BookError::kInvalid, "'" + *v + "': " + why};
    text = "# Dorvane: what every bill states besides its lines\n";
    const std::pair<const char*, const std::string*> known[] = {{kCurrencyKey, &s.currency},
                                                                {kSellerNameKey, &s.sellerName},
                                                                {kSellerAddressKey, &s.sellerAddress},
                                                                {kSellerPhoneKey, &s.sellerPhone}};
    for (const auto& [key, value] : known) text += std::string(key) + "=" + *value + "\n";
    for (const auto& [key, value] : s.others) text += key + "=" + value + "\n";
    return BookStatus::Ok();
}

BookStatus SaveBillSettings(const fs::path& path, const BillSettings& s) {
    std::string text;
    if (BookStatus st = FormatBillSettings(s, text); !st.ok()) return st;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) return {BookError::kCannotOpen, path.parent_path().string() + ": " + ec.message()};
    const fs::path tmp = path.string() + ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f << text;
        f.flush();
        if (!f) {
            fs::remove(tmp, ec);
            return {BookError::kIo, tmp.string() + ": cannot be written"};
        }
    }
    fs::rename(tmp, path, ec);
    if (ec) {
        const std::string why = ec.message();
        fs::remove(tmp, ec);
        return {BookError::kIo, path.string() + ": " + why};
    }
    return BookStatus::Ok();
}

}  // namespace dorvane::book
