// libFuzzer target: the parser of the handheld's file listing. Every entry
// taken must lie inside the bytes, carry a non-empty name without a zero
// byte, survive a rebuild unchanged, be listed once, be shown under a
// visible name no other entry shows, and give a local file name that stays
// one path component and is not hidden.
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "names/encoding.h"
#include "names/file_names.h"
#include "transfer/listing.h"

namespace {

// Name terminator and the two u32 fields after every name.
constexpr std::size_t kEntryOverhead = 1 + 2 * sizeof(std::uint32_t);

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = dorvane::ParseListing(std::span(data, size));
    if (size == 0) {
        Check(!parsed.has_value());
        return 0;
    }
    Check(parsed.has_value());
    std::size_t used = 0;
    std::set<std::string> names;
    std::set<std::string> shown;
    for (const auto& e : *parsed) {
        Check(names.insert(e.name).second);
        Check(shown.insert(e.shown).second);
        Check(!e.shown.empty() && dorvane::IsValidUtf8(e.shown));
        for (unsigned char c : e.shown) Check(c >= 0x20 && c != 0x7F);
        Check(!e.name.empty());
        Check(e.name.find('\0') == std::string::npos);
        Check(e.mtime >= 0 && e.mtime <= static_cast<std::int64_t>(UINT32_MAX));
        Check(!e.selected);
        used += e.name.size() + kEntryOverhead;
        const std::string local = dorvane::SafeFileName(e.name);
        Check(!local.empty() && local != "." && local != "..");
        Check(local.find('/') == std::string::npos);
        Check(local.size() <= dorvane::kMaxNameBytes);
        Check(local.front() != '.');
    }
    Check(used <= size);

    const auto rebuilt = dorvane::BuildListing(*parsed);
    const auto again = dorvane::ParseListing(rebuilt);
    Check(again.has_value() && again->size() == parsed->size());
    for (std::size_t i = 0; i < parsed->size(); ++i) {
        Check((*again)[i].name == (*parsed)[i].name);
        Check((*again)[i].size == (*parsed)[i].size);
        Check((*again)[i].mtime == (*parsed)[i].mtime);
    }
    return 0;
}
