#include "sim/sim_hostile.h"

#include <algorithm>

#include "protocol/wire.h"
#include "sim/sim_folder.h"

namespace dorvane {

using namespace wire;

namespace {

// Honest content sizes of the hostile files: a few blocks each.
constexpr std::size_t kHostileFileBytes = 3000;
constexpr std::size_t kLyingFileBytes = 5000;
// The offset error of kOffset blocks.
constexpr std::uint32_t kOffsetSkew = 7;
// The other total kCount blocks claim after the first.
constexpr std::uint32_t kOtherTotal = 9000;
// Length of the long name (bytes), below NAME_MAX but long enough to need cutting.
constexpr std::size_t kLongNameBytes = 250;
// A fixed modification time for the hostile entries: 2024-01-01 00:00 UTC.
constexpr std::uint32_t kHostileTime = 1704067200;

bool IsLying(const std::string& name) {
    return name == kLieTotalName || name == kLieOffsetName || name == kLieCountName;
}

void AppendEntry(std::vector<std::uint8_t>& out, const std::string& name, std::uint32_t size) {
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    std::uint8_t tail[8];
    PutU32(tail, size);
    PutU32(tail + 4, kHostileTime);
    out.insert(out.end(), tail, tail + sizeof tail);
}

}  // namespace

std::vector<std::string> HostileNames() {
    std::string longName(kLongNameBytes - 4, 'L');
    longName += ".txt";
    return {
        "..",
        ".",
        "../x",
        "..\\x",
        "/tmp/x",
        "a/b",
        std::string("ctl\x01\x07\x1b[2J\x7f.txt"),
        longName,
        std::string(
            "\x81\x20\xff\xfe.txt"),  // a GBK lead byte before a space, then bytes GBK never uses
        kTwiceName,
        kTwiceName,
        kHugeName,
        kLieTotalName,
        kLieOffsetName,
        kLieCountName,
    };
}

std::vector<std::uint8_t> HostileListing(const std::filesystem::path& folder) {
    std::vector<std::uint8_t> out = BuildListing(folder);
    out.pop_back();  // the zero byte that ends the real list
    for (const std::string& name : HostileNames()) {
        std::uint32_t size = static_cast<std::uint32_t>(HostileContent(name)->size());
        if (name == kHugeName) size = kHugeListedSize;
        AppendEntry(out, name, size);
    }
    out.push_back(0);
    return out;
}

std::optional<std::vector<std::uint8_t>> HostileContent(const std::string& name) {
    const auto names = HostileNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) return std::nullopt;
    // Bytes that tell the files apart: the name repeated, then a counter.
    const std::size_t size = IsLying(name) ? kLyingFileBytes : kHostileFileBytes;
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] =
            static_cast<std::uint8_t>(i < name.size() ? name[i] : (i * 31 + name.size()) & 0xFF);
    return bytes;
}

BlockLie HostileLieFor(const std::string& name) {
    if (name == kLieTotalName) return BlockLie::kTotal;
    if (name == kLieOffsetName) return BlockLie::kOffset;
    if (name == kLieCountName) return BlockLie::kCount;
    return BlockLie::kNone;
}

void ApplyBlockLie(BlockLie lie, std::uint32_t number, std::vector<std::uint8_t>& p) {
    if (p.size() < kBlockHeaderSize) return;
    switch (lie) {
        case BlockLie::kNone:
            return;
        case BlockLie::kTotal: {
            // Consistent in itself: only the listing and the data say otherwise.
            PutU32(p.data() + kBlockTotalOffset, kLieTotalBytes);
            PutU16(p.data() + kBlockCountOffset,
                   static_cast<std::uint16_t>(BlockCountFor(kLieTotalBytes)));
            PutU16(p.data() + kBlockBytesOffset, static_cast<std::uint16_t>(kBlockSize));
            PutU32(p.data() + kBlockNumberOffset, number);
            PutU32(p.data() + kBlockFileOffset, static_cast<std::uint32_t>(number * kBlockSize));
            p.resize(kBlockHeaderSize + kBlockSize, 0);
            return;
        }
        case BlockLie::kOffset:
            if (number > 0)
                PutU32(p.data() + kBlockFileOffset,
                       static_cast<std::uint32_t>(number * kBlockSize + kOffsetSkew));
            return;
        case BlockLie::kCount:
            if (number > 0) {
                PutU32(p.data() + kBlockTotalOffset, kOtherTotal);
                PutU16(p.data() + kBlockCountOffset,
                       static_cast<std::uint16_t>(BlockCountFor(kOtherTotal)));
            }
            return;
    }
}

}  // namespace dorvane
