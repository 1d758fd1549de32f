#include "convert/download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "convert/area_file.h"
#include "convert/area_measure.h"
#include "convert/gpx_writer.h"
#include "convert/kml_writer.h"
#include "convert/track_file.h"
#include "names/file_names.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kGpxSuffix = ".gpx";
constexpr std::string_view kKmlSuffix = ".kml";

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

FileProducer TextProducer(const std::string& text) {
    return [&text](const auto& write) { return write(text); };
}

// Writes the converted document for `name`; the conversion fields of `r`
// record the outcome.
void ConvertForDownload(std::span<const std::uint8_t> bytes, const std::string& name,
                        const fs::path& folder, StoreResult& r) {
    WriteOutcome out;
    if (HasGpxSuffix(name)) {
        std::vector<TrackPoint> points;
        if (!ReadTrack(bytes, points).ok()) {
            r.conversion = Conversion::kNotReadable;
            return;
        }
        out = WriteNewFile(folder, name, [&](const auto& write) {
            return EmitGpx(name, points, [&](std::string_view piece) { return write(piece); });
        });
    } else {
        AreaFile area;
        if (!ReadArea(bytes, area).ok()) {
            r.conversion = Conversion::kNotReadable;
            return;
        }
        const std::string doc = KmlDocument(area, name, MeasureArea(area));
        out = WriteNewFile(folder, name, TextProducer(doc));
    }
    if (out.ok()) {
        r.conversion = Conversion::kConverted;
        r.written.push_back(out.path);
    } else {
        r.conversion = Conversion::kWriteFailed;
    }
}

ConvertError FromWrite(WriteError e) {
    switch (e) {
        case WriteError::kNone:
            return ConvertError::kNone;
        case WriteError::kFolderMissing:
            return ConvertError::kFolderMissing;
        case WriteError::kPermissionDenied:
            return ConvertError::kPermissionDenied;
        case WriteError::kDiskFull:
            return ConvertError::kDiskFull;
        case WriteError::kTooLarge:
            return ConvertError::kTooLarge;
        case WriteError::kNoFreeName:
            return ConvertError::kNoFreeName;
        case WriteError::kIoError:
            return ConvertError::kIoError;
    }
    return ConvertError::kIoError;
}

ConvertResult Fail(ConvertError e, std::string message) {
    ConvertResult r;
    r.error = e;
    r.message = std::move(message);
    return r;
}

}  // namespace

ConvertError ReadInputFile(const fs::path& in, std::vector<std::uint8_t>& bytes,
                           std::string& message) {
    const int fd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        message = in.string() + ": " + std::strerror(errno);
        return ConvertError::kCannotRead;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        message = in.string() + ": not a regular file";
        return ConvertError::kCannotRead;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxConvertInputBytes) {
        message = in.string() + ": larger than " + std::to_string(kMaxConvertInputBytes) + " bytes";
        return ConvertError::kTooLarge;
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            message = in.string() + ": " + std::strerror(errno);
            return ConvertError::kCannotRead;
        }
        if (n == 0) break;  // shrank while reading: take what is there
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return ConvertError::kNone;
}

std::string RawCopyName(std::string_view name) {
    const std::size_t dot = name.find('.');
    const std::string_view base =
        (dot == std::string_view::npos || dot == 0) ? name : name.substr(0, dot);
    return std::string(base) + std::string(kRawCopyExtension);
}

bool HasGpxSuffix(std::string_view name) {
    if (name.size() < kGpxSuffix.size()) return false;
    const std::string_view tail = name.substr(name.size() - kGpxSuffix.size());
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (Lower(tail[i]) != kGpxSuffix[i]) return false;
    return true;
}

StoreResult StoreDownload(std::span<const std::uint8_t> bytes, std::string_view deviceNameUtf8,
                          const fs::path& folder, int modelCode) {
    StoreResult r;
    const std::string name = SafeFileName(deviceNameUtf8);
    std::string rawName = name;
    if (modelCode == kConvertingModelCode) {
        ConvertForDownload(bytes, name, folder, r);
        rawName = SafeFileName(RawCopyName(name));
    }
    const WriteOutcome raw = WriteNewFile(folder, rawName, bytes);
    if (!raw.ok()) {
        r.error = raw.error;
        r.message = raw.message;
        return r;
    }
    r.rawPath = raw.path;
    r.written.push_back(raw.path);
    return r;
}

ConvertResult ConvertLocalFile(const fs::path& in, const fs::path& outDir) {
    std::vector<std::uint8_t> bytes;
    std::string message;
    if (const ConvertError e = ReadInputFile(in, bytes, message); e != ConvertError::kNone)
        return Fail(e, message);

    const std::string stem = SafeFileName(in.stem().string());
    ConvertResult r;
    WriteOutcome out;
    if (HasTrackMagic(bytes)) {
        std::vector<TrackPoint> points;
        const TrackReadResult t = ReadTrack(bytes, points);
        if (!t.ok())
            return Fail(ConvertError::kDamagedHeader, in.string() + ": track header cut short");
        const std::string name = stem + std::string(kGpxSuffix);
        out = WriteNewFile(outDir, name, [&](const auto& write) {
            return EmitGpx(name, points, [&](std::string_view piece) { return write(piece); });
        });
        r.kind = ConvertedKind::kGpx;
        r.points = points.size();
    } else {
        AreaFile area;
        const AreaReadResult a = ReadArea(bytes, area);
        if (a.error == AreaReadError::kDamagedHeader)
            return Fail(ConvertError::kDamagedHeader,
                        in.string() + ": area header record fails its check");
        if (!a.ok())
            return Fail(ConvertError::kNotTrackOrArea, in.string() + ": not a track or area file");
        const std::string name = stem + std::string(kKmlSuffix);
        out = WriteNewFile(outDir, name, TextProducer(KmlDocument(area, name, MeasureArea(area))));
        r.kind = ConvertedKind::kKml;
        r.points = area.points.size();
    }
    if (!out.ok()) return Fail(FromWrite(out.error), out.message);
    r.written = out.path;
    return r;
}

}  // namespace dorvane
