#include "names/shown_name.h"

#include "names/encoding.h"

namespace dorvane {

namespace {
constexpr unsigned char kDel = 0x7F;
constexpr unsigned char kC1Lead = 0xC2;  // UTF-8 lead byte of U+0080..U+00BF
constexpr unsigned char kC1Last = 0x9F;  // second byte of U+009F
}  // namespace

std::string ShownDeviceName(std::string_view raw) {
    const std::string utf8 = GbkToUtf8Lossy(raw);
    std::string out;
    out.reserve(utf8.size());
    bool visible = false;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x20 || c == kDel) {
            out.append(kShownReplacement);
            visible = true;
            continue;
        }
        if (c == kC1Lead && i + 1 < utf8.size() &&
            static_cast<unsigned char>(utf8[i + 1]) <= kC1Last) {
            out.append(kShownReplacement);
            visible = true;
            ++i;
            continue;
        }
        visible = visible || c != ' ';
        out.push_back(static_cast<char>(c));
    }
    if (!visible) return std::string(kShownReplacement);
    return out;
}

}  // namespace dorvane
