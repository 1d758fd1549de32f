#include "sim/sim_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>

#include "protocol/wire.h"

namespace dorvane {
namespace fs = std::filesystem;

namespace {

// Longest file name of the usual Linux file systems (NAME_MAX).
constexpr std::size_t kMaxNameBytes = 255;

void AppendU32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

}  // namespace

bool IsSafeDeviceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameBytes || name == "." || name == "..") return false;
    if (name.starts_with(kSimTempPrefix)) return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::vector<std::uint8_t> BuildListing(const fs::path& folder) {
    struct Entry {
        std::string name;
        std::uint32_t size;
        std::uint32_t mtime;
    };
    std::vector<Entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsSafeDeviceName(name)) continue;
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (static_cast<std::uint64_t>(st.st_size) > std::numeric_limits<std::uint32_t>::max())
            continue;
        // The listing's time is u32 seconds since 1970; earlier times show as 0.
        const std::int64_t t = std::max<std::int64_t>(0, st.st_mtime);
        entries.push_back({name, static_cast<std::uint32_t>(st.st_size),
                           static_cast<std::uint32_t>(std::min<std::int64_t>(
                               t, std::numeric_limits<std::uint32_t>::max()))});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    std::vector<std::uint8_t> out;
    for (const Entry& e : entries) {
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.push_back(0);
        AppendU32(out, e.size);
        AppendU32(out, e.mtime);
    }
    out.push_back(0);  // the empty name that ends the list
    return out;
}

bool DeviceFileExists(const fs::path& folder, const std::string& name) {
    if (!IsSafeDeviceName(name)) return false;
    struct stat st {};
    return ::stat((folder / name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::vector<std::uint8_t>> ReadDeviceFile(const fs::path& folder,
                                                        const std::string& name) {
    if (!DeviceFileExists(folder, name)) return std::nullopt;
    std::ifstream in(folder / name, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

bool DeleteDeviceFile(const fs::path& folder, const std::string& name) {
    if (!DeviceFileExists(folder, name)) return false;
    return ::unlink((folder / name).c_str()) == 0;
}

bool WriteDeviceFile(const fs::path& folder, const std::string& name,
                     const std::vector<std::uint8_t>& data) {
    if (!IsSafeDeviceName(name)) return false;
    const fs::path temp = folder / (std::string(kSimTempPrefix) + std::to_string(::getpid()));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            return false;
        }
    }
    std::error_code renameError;
    fs::rename(temp, folder / name, renameError);
    if (renameError) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

std::uint64_t FolderBytes(const fs::path& folder) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::stat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
            total += static_cast<std::uint64_t>(st.st_size);
    }
    return total;
}

}  // namespace dorvane
