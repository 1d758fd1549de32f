#include "transfer/listing.h"

#include <cstring>
#include <map>
#include <set>

#include "names/shown_name.h"
#include "protocol/wire.h"

namespace dorvane {

namespace {
/// Size and time after each name.
constexpr std::size_t kEntryTail = 8;
}  // namespace

std::optional<std::vector<DeviceFileEntry>> ParseListing(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    std::vector<DeviceFileEntry> out;
    std::set<std::string> names;
    std::set<std::string> shown;
    std::map<std::string, int> nextSuffix;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const auto* start = bytes.data() + pos;
        const auto* zero =
            static_cast<const std::uint8_t*>(std::memchr(start, 0, bytes.size() - pos));
        if (!zero) break;
        const std::size_t nameLen = static_cast<std::size_t>(zero - start);
        if (nameLen == 0) break;  // the empty name ends the list
        const std::size_t tail = pos + nameLen + 1;
        if (bytes.size() - tail < kEntryTail) break;
        DeviceFileEntry e;
        e.name.assign(reinterpret_cast<const char*>(start), nameLen);
        e.size = wire::GetU32(bytes.data() + tail);
        e.mtime = wire::GetU32(bytes.data() + tail + 4);
        pos = tail + kEntryTail;
        if (!names.insert(e.name).second) continue;
        const std::string base = ShownDeviceName(e.name);
        e.shown = base;
        // The next suffix per look-alike name keeps a listing of many
        // look-alikes linear.
        for (int& n = nextSuffix[base]; !shown.insert(e.shown).second;)
            e.shown = base + " (" + std::to_string(++n + 1) + ")";
        out.push_back(std::move(e));
    }
    return out;
}

std::string ShownName(const DeviceFileEntry& e) {
    return e.shown.empty() ? ShownDeviceName(e.name) : e.shown;
}

std::vector<std::uint8_t> BuildListing(const std::vector<DeviceFileEntry>& entries) {
    std::vector<std::uint8_t> out;
    for (const auto& e : entries) {
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(0);
        std::uint8_t tail[kEntryTail];
        wire::PutU32(tail, e.size);
        wire::PutU32(tail + 4, static_cast<std::uint32_t>(e.mtime));
        out.insert(out.end(), tail, tail + kEntryTail);
    }
    out.push_back(0);
    return out;
}

}  // namespace dorvane
