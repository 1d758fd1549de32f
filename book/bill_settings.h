#pragma once
// What every bill states besides its lines: the currency symbol and the
// seller's name, address and phone. Kept per user in a small UTF-8 text file
// that both front ends read, `$XDG_CONFIG_HOME/dorvane/bill.conf`:
//
//   # comment
//   currency=¥
//   seller-name=Zhang Harvesting
//   seller-address=...
//   seller-phone=...
//
// one key=value a line; keys this Dorvane does not know are kept as they are
// when the file is written again. The area basis billed is the book's own
// setting (BookStore::GetAreaBasis), so that every program on one book bills
// alike. Qt-free; blocks on the file system.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "book/store.h"

namespace dorvane::book {

/// The file's name in the user's Dorvane config folder.
inline constexpr const char* kBillSettingsFileName = "bill.conf";
/// The currency symbol until the user sets one: the yuan's, as the book
/// counts fen.
inline constexpr const char* kDefaultCurrency = "\xC2\xA5";  // U+00A5 YEN SIGN
/// Longest value kept (bytes): enough for an address, small enough for a bill's header.
inline constexpr std::size_t kMaxBillSettingBytes = 200;

struct BillSettings {
    std::string currency = kDefaultCurrency;
    std::string sellerName;
    std::string sellerAddress;
    std::string sellerPhone;
    /// Lines with keys this Dorvane does not know, kept for a newer one.
    std::vector<std::pair<std::string, std::string>> others;
};

/// `$XDG_CONFIG_HOME/dorvane/bill.conf` (~/.config when the variable is unset).
std::filesystem::path DefaultBillSettingsPath();

/// A value the file can hold: valid UTF-8, no control characters, at most
/// kMaxBillSettingBytes. Else the reason (English).
std::string BillSettingProblem(std::string_view value);

/// Reads `path`; a missing file gives the defaults. A file that cannot be
/// read, is not UTF-8 or has a line that is no key=value is refused, naming
/// the file (and line), and `out` keeps the defaults.
BookStatus LoadBillSettings(const std::filesystem::path& path, BillSettings& out);

/// The reading of LoadBillSettings on text already in memory; `where` names
/// the file in the messages.
BookStatus ParseBillSettings(std::string_view text, const std::string& where, BillSettings& out);

/// The file's text for `s`; refused (kInvalid, the value and why) when a
/// known value is no BillSettingProblem-free text.
BookStatus FormatBillSettings(const BillSettings& s, std::string& text);

/// Writes `s` to `path` (making its folder) through a temporary file renamed
/// into place, so a failure leaves the previous file.
BookStatus SaveBillSettings(const std::filesystem::path& path, const BillSettings& s);

}  // namespace dorvane::book
