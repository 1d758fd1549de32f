#include "convert/track_file.h"

#include <algorithm>
#include <cstring>

#include "convert/le_bytes.h"

namespace dorvane {
namespace {

// Offsets inside one point record.
constexpr std::size_t kLatOffset = 0;
constexpr std::size_t kLonOffset = 8;
constexpr std::size_t kEleOffset = 16;
constexpr std::size_t kTimeOffset = 24;
constexpr std::size_t kExtraOffset = 28;
constexpr std::size_t kExtraWordOffset = 36;

std::string_view NulTerminated(const std::uint8_t* p, std::size_t field) {
    const char* c = reinterpret_cast<const char*>(p);
    const void* nul = std::memchr(c, 0, field);
    const std::size_t len =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - c) : field;
    return {c, len};
}

}  // namespace

bool HasTrackMagic(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kTrackMagic.size() + 1) return false;
    return std::memcmp(bytes.data(), kTrackMagic.data(), kTrackMagic.size()) == 0 &&
           bytes[kTrackMagic.size()] == 0;
}

TrackReadResult ReadTrack(std::span<const std::uint8_t> bytes, std::vector<TrackPoint>& points) {
    TrackReadResult r;
    points.clear();
    if (bytes.empty()) {
        r.error = TrackReadError::kEmpty;
        return r;
    }
    if (!HasTrackMagic(bytes)) {
        r.error = TrackReadError::kNotTrack;
        return r;
    }
    if (bytes.size() < kTrackHeaderSize) {
        r.error = TrackReadError::kDamagedHeader;
        return r;
    }
    r.nameGbk = std::string(NulTerminated(bytes.data() + kTrackNameOffset, kTrackNameField));
    r.declaredCount = le::I32(bytes.data() + kTrackCountOffset);
    if (r.declaredCount <= 0) return r;

    const std::size_t available = (bytes.size() - kTrackHeaderSize) / kTrackPointSize;
    const std::size_t count = std::min(available, static_cast<std::size_t>(r.declaredCount));
    r.truncated = count < static_cast<std::size_t>(r.declaredCount);
    points.resize(count);
    const std::uint8_t* p = bytes.data() + kTrackHeaderSize;
    for (std::size_t i = 0; i < count; ++i, p += kTrackPointSize) {
        TrackPoint& t = points[i];
        t.latitude = le::F64(p + kLatOffset);
        t.longitude = le::F64(p + kLonOffset);
        t.elevation = le::F64(p + kEleOffset);
        t.time = le::I32(p + kTimeOffset);
        t.extra = le::F64(p + kExtraOffset);
        t.extraWord = le::U32(p + kExtraWordOffset);
    }
    return r;
}

std::vector<std::uint8_t> WriteTrack(std::string_view nameGbk, std::span<const TrackPoint> points,
                                     const std::int32_t* declaredCount) {
    std::vector<std::uint8_t> out(kTrackHeaderSize + kTrackPointSize * points.size(), 0);
    std::memcpy(out.data(), kTrackMagic.data(), kTrackMagic.size());
    const std::size_t nameLen = std::min(nameGbk.size(), kTrackNameField - 1);
    std::memcpy(out.data() + kTrackNameOffset, nameGbk.data(), nameLen);
    le::PutI32(out.data() + kTrackCountOffset,
               declaredCount ? *declaredCount : static_cast<std::int32_t>(points.size()));
    std::uint8_t* p = out.data() + kTrackHeaderSize;
    for (const TrackPoint& t : points) {
        le::PutF64(p + kLatOffset, t.latitude);
        le::PutF64(p + kLonOffset, t.longitude);
        le::PutF64(p + kEleOffset, t.elevation);
        le::PutI32(p + kTimeOffset, t.time);
        le::PutF64(p + kExtraOffset, t.extra);
        le::PutU32(p + kExtraWordOffset, t.extraWord);
        p += kTrackPointSize;
    }
    return out;
}

}  // namespace dorvane
