// Feeds arbitrary bytes to CIni as a language file. The first bytes up to a
// NUL choose a section and key ("section\x01key"); the rest is the file. Every
// lookup must return UTF-8 of at most kMaxValueBytes bytes without reading
// outside the text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "i18n/ini_reader.h"
#include "i18n/string_table.h"
#include "names/encoding.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckValue(const dorvane::CIni& ini, std::string_view section, std::string_view key) {
    const auto v = ini.Find(section, key);
    if (!v) return;
    Check(v->size() <= dorvane::CIni::kMaxValueBytes);
    Check(dorvane::IsValidUtf8(*v));
    Check(v->find_first_of("\r\n]") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    std::string_view query, file = input;
    if (nul != std::string_view::npos) {
        query = input.substr(0, nul);
        file = input.substr(nul + 1);
    }
    const std::size_t sep = query.find('\x01');
    const std::string_view section = query.substr(0, sep);
    const std::string_view key = sep == std::string_view::npos ? "" : query.substr(sep + 1);

    dorvane::CIni ini;
    if (!ini.LoadBytes(file)) return 0;
    CheckValue(ini, section, key);
    // The whole table, as a language switch applies it.
    dorvane::ApplyIni(ini, dorvane::Language::English);
    for (dorvane::StringId id : dorvane::AllStringIds()) {
        const std::string& text = dorvane::Text(id);
        Check(text.size() <= dorvane::CIni::kMaxValueBytes);
        Check(dorvane::IsValidUtf8(text));
    }
    dorvane::ResetToDefaults();
    return 0;
}
