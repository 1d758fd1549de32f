#pragma once
// "Dorvane.cfg": the link settings kept between runs, in the archive format
// of the Windows program (binary, little-endian, no header):
//   port name (string) | baud rate (i32) | computer folder (string) | link type (u8: 1 serial, 2 USB)
// A string is a length prefix and its bytes without terminator: one byte
// when the length is below 255; otherwise 0xFF and a u16 length when it is
// below 0xFFFE; otherwise 0xFF, 0xFFFF and a u32 length.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dorvane {

inline constexpr const char* kSettingsFileName = "Dorvane.cfg";

enum class LinkType : std::uint8_t { kSerial = 1, kUsb = 2 };

struct LinkSettings {
    std::string portName;
    std::int32_t baud = 0;
    std::string computerFolder;
    LinkType linkType = LinkType::kSerial;
    bool operator==(const LinkSettings&) const = default;
};

/// The only baud rate the handheld speaks.
inline constexpr std::int32_t kBaudRates[] = {115200};

/// Encodes / decodes the archive bytes. Decoding fails (nullopt) on a short
/// or damaged file, a length running past the end, or a link type other than 1 or 2.
std::vector<std::uint8_t> EncodeSettings(const LinkSettings& s);
std::optional<LinkSettings> DecodeSettings(const std::vector<std::uint8_t>& bytes);

/// The settings file of this user: $XDG_CONFIG_HOME/dorvane/Dorvane.cfg
/// (~/.config/dorvane/Dorvane.cfg when the variable is unset).
std::filesystem::path DefaultSettingsPath();

/// Reads the file with the start-up rules: a missing, unreadable or damaged
/// file gives port "", baud 0, serial link (the computer folder stays empty);
/// a port not in `ports` becomes the first of `ports`; a baud rate not in
/// kBaudRates becomes 115200. Each value read goes to the diagnostic log.
LinkSettings LoadSettingsFile(const std::filesystem::path& path, const std::vector<std::string>& ports);

/// Writes the file (creating its folder). Written to a temporary file and
/// renamed, so a failure leaves the previous file. Returns false on failure.
bool SaveSettingsFile(const std::filesystem::path& path, const LinkSettings& s);

}  // namespace dorvane
