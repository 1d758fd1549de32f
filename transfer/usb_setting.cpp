#include "transfer/usb_setting.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace dorvane {

namespace {
/// Largest id file read ("vvvv:pppp" and a line end, with slack for spaces).
constexpr std::size_t kMaxIdLine = 64;
}  // namespace

std::filesystem::path UsbIdPathFor(const std::filesystem::path& settingsPath) {
    return settingsPath.parent_path() / kUsbIdFileName;
}

std::string UsbIdText(std::uint16_t vendorId, std::uint16_t productId) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendorId, productId);
    return text;
}

std::optional<UsbConfig> LoadUsbId(const std::filesystem::path& idFile) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(idFile, ec) ||
        std::filesystem::file_size(idFile, ec) > kMaxIdLine) {
        return std::nullopt;
    }
    std::ifstream in(idFile);
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    UsbConfig config;
    if (!ParseUsbId(line, config)) return std::nullopt;
    return config;
}

bool SaveUsbId(const std::filesystem::path& idFile, std::uint16_t vendorId,
               std::uint16_t productId) {
    std::error_code ec;
    std::filesystem::create_directories(idFile.parent_path(), ec);
    const std::filesystem::path temporary = idFile.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << UsbIdText(vendorId, productId) << '\n';
        out.flush();
        if (!out) {
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::filesystem::rename(temporary, idFile, ec);
    if (ec) std::filesystem::remove(temporary, ec);
    return !ec;
}

UsbConfig UserUsbConfig(const std::filesystem::path& idFile) {
    UsbConfig config = UsbConfigFromEnvironment();
    UsbConfig fromEnvironment;
    const char* variable = std::getenv(kUsbIdVariable);
    const bool environmentSetsId = variable != nullptr && ParseUsbId(variable, fromEnvironment);
    if (!environmentSetsId) {
        if (const std::optional<UsbConfig> remembered = LoadUsbId(idFile)) {
            config.vendorId = remembered->vendorId;
            config.productId = remembered->productId;
        }
    }
    return config;
}

}  // namespace dorvane
