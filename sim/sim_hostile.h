#pragma once
// The emulator's --hostile mode: a handheld that lies. Its listing holds,
// besides the folder's real files, names no real flat folder could hold
// ("..", ".", "../x", "..\x", "/tmp/x", "a/b", control characters, a
// 250-byte name, invalid GBK, one name listed twice, a size of 0x7FFFFFFF),
// and three of its files come back as blocks that contradict the listing or
// each other. The computer must write nothing outside its folder, show and
// store every name safely, keep its memory bounded, and say so clearly.
//
// Pure functions; no state.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dorvane {

/// How a hostile file's blocks lie.
enum class BlockLie {
    kNone,
    kTotal,   ///< every block claims a total of kLieTotalBytes (far above the listed
              ///< size), and a block near that far end is sent too
    kOffset,  ///< blocks after the first carry an offset that does not match their number
    kCount,   ///< blocks after the first claim another total and block count
};

/// The total that kTotal blocks claim: close to the largest file the format carries.
inline constexpr std::uint32_t kLieTotalBytes = 60000000;
/// The far block kTotal sends besides the real ones (offset about 58.8 MB).
inline constexpr std::uint32_t kLieFarBlock = 30000;

/// Names of the lying files (listed with their true sizes).
inline constexpr const char* kLieTotalName = "LIE_TOTAL.BIN";
inline constexpr const char* kLieOffsetName = "LIE_OFFSET.BIN";
inline constexpr const char* kLieCountName = "LIE_COUNT.BIN";
/// Listed with the size 0x7FFFFFFF; its content is small and honest.
inline constexpr const char* kHugeName = "HUGE.BIN";
inline constexpr std::uint32_t kHugeListedSize = 0x7FFFFFFF;
/// Listed twice.
inline constexpr const char* kTwiceName = "TWICE.TXT";

/// The hostile names, in listing order (TWICE.TXT appears twice).
std::vector<std::string> HostileNames();

/// The listing of `folder`'s real files followed by the hostile entries.
std::vector<std::uint8_t> HostileListing(const std::filesystem::path& folder);

/// The content served for a hostile name; nullopt for any other name (which
/// is then served from the folder as usual).
std::optional<std::vector<std::uint8_t>> HostileContent(const std::string& name);

/// How the blocks of `name` lie (kNone for honest files).
BlockLie HostileLieFor(const std::string& name);

/// Changes a block payload built honestly (16-byte header, then the data) of
/// block `number` so that it tells `lie`; the data is padded where the lie
/// claims more bytes than the block holds.
void ApplyBlockLie(BlockLie lie, std::uint32_t number, std::vector<std::uint8_t>& payload);

}  // namespace dorvane
