#include "transfer/settings_file.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "link/debug_logger.h"

namespace dorvane {

namespace {

/// Length prefixes of the archive's strings.
constexpr std::uint8_t kLongString = 0xFF;         ///< a u16 length follows
constexpr std::uint16_t kVeryLongString = 0xFFFF;  ///< a u32 length follows
constexpr std::uint32_t kShortLimit = 255;
constexpr std::uint32_t kMediumLimit = 0xFFFE;
/// Nobody's settings file is larger; anything bigger is not ours.
constexpr std::uintmax_t kMaxSettingsFile = 1 << 20;

void PutString(std::vector<std::uint8_t>& out, const std::string& s) {
    const auto n = static_cast<std::uint32_t>(s.size());
    if (n < kShortLimit) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else if (n < kMediumLimit) {
        out.push_back(kLongString);
        out.push_back(static_cast<std::uint8_t>(n));
        out.push_back(static_cast<std::uint8_t>(n >> 8));
    } else {
        out.push_back(kLongString);
        out.push_back(0xFF);
        out.push_back(0xFF);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    }
    out.insert(out.end(), s.begin(), s.end());
}

class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& b) : b_(b) {}
    bool Bytes(std::size_t n, const std::uint8_t*& p) {
        if (b_.size() - pos_ < n) return false;
        p = b_.data() + pos_;
        pos_ += n;
        return true;
    }
    bool U8(std::uint8_t& v) {
        const std::uint8_t* p;
        if (!Bytes(1, p)) return false;
        v = p[0];
        return true;
    }
    bool U16(std::uint16_t& v) {
        const std::uint8_t* p;
        if (!Bytes(2, p)) return false;
        v = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
        return true;
    }
    bool U32(std::uint32_t& v) {
        const std::uint8_t* p;
        if (!Bytes(4, p)) return false;
        v = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
        return true;
    }
    bool String(std::string& s) {
        std::uint8_t b;
        if (!U8(b)) return false;
        std::uint32_t n = b;
        if (b == kLongString) {
            std::uint16_t w;
            if (!U16(w)) return false;
            n = w;
            if (w == kVeryLongString && !U32(n)) return false;
        }
        const std::uint8_t* p;
        if (!Bytes(n, p)) return false;  // never allocate more than the file holds
        s.assign(reinterpret_cast<const char*>(p), n);
        return true;
    }

private:
    const std::vector<std::uint8_t>& b_;
    std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EncodeSettings(const LinkSettings& s) {
    std::vector<std::uint8_t> out;
    PutString(out, s.portName);
    const auto baud = static_cast<std::uint32_t>(s.baud);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(baud >> (8 * i)));
    PutString(out, s.computerFolder);
    out.push_back(static_cast<std::uint8_t>(s.linkType));
    return out;
}

std::optional<LinkSettings> DecodeSettings(const std::vector<std::uint8_t>& bytes) {
    Reader r(bytes);
    LinkSettings s;
    std::uint32_t baud = 0;
    std::uint8_t link = 0;
    if (!r.String(s.portName) || !r.U32(baud) || !r.String(s.computerFolder) || !r.U8(link))
        return std::nullopt;
    if (link != static_cast<std::uint8_t>(LinkType::kSerial) &&
        link != static_cast<std::uint8_t>(LinkType::kUsb))
        return std::nullopt;
    s.baud = static_cast<std::int32_t>(baud);
    s.linkType = static_cast<LinkType>(link);
    return s;
}

std::filesystem::path DefaultSettingsPath() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = "/tmp";
    }
    return base / "dorvane" / kSettingsFileName;
}

LinkSettings LoadSettingsFile(const std::filesystem::path& path,
                              const std::vector<std::string>& ports) {
    LinkSettings s;
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec) &&
        std::filesystem::file_size(path, ec) <= kMaxSettingsFile) {
        std::ifstream in(path, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        if (auto decoded = DecodeSettings(bytes)) {
            s = *decoded;
            auto& log = CDebugLogger::Instance();
            log.Write("SerialName: " + s.portName);
            log.Write("Baut: " + std::to_string(s.baud));
            log.Write("ActiveDir: " + s.computerFolder);
        }
    }
    if (!ports.empty() && std::find(ports.begin(), ports.end(), s.portName) == ports.end())
        s.portName = ports.front();
    if (std::find(std::begin(kBaudRates), std::end(kBaudRates), s.baud) == std::end(kBaudRates))
        s.baud = kBaudRates[0];
    return s;
}

bool SaveSettingsFile(const std::filesystem::path& path, const LinkSettings& s) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::filesystem::path tmp = path.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        const auto bytes = EncodeSettings(s);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::filesystem::remove(tmp, ec);
            return false;
        }
    }
    std::filesystem::rename(tmp, path, ec);
    if (ec) std::filesystem::remove(tmp, ec);
    return !ec;
}

}  // namespace dorvane
