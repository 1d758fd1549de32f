#include "geo/land_text.h"

#include <charconv>
#include <cmath>

#include "names/encoding.h"

namespace dorvane::geo::land {
namespace {

/// The section header is looked for within this many leading bytes.
constexpr std::size_t kSniffBytes = 4096;
/// Eastings at or above this carry the zone number in front (a zone's own
/// eastings stay well under 1 000 000 m: 500 000 m +- a half zone's width).
constexpr double kPrefixedEastingFloor = kGkZonePrefixFactor;
/// The widest zone number either zone system has (3-degree zones run to 120).
constexpr int kMaxZone = 120;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Split(std::string_view line, char sep) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i)
        if (i == line.size() || line[i] == sep) {
            out.push_back(Trim(line.substr(start, i - start)));
            start = i + 1;
        }
    return out;
}

template <typename T>
std::optional<T> Number(std::string_view s) {
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if constexpr (std::is_floating_point_v<T>)
        if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<Document> Fail(ParseError& e, std::size_t line, std::string message) {
    e.line = line;
    e.message = std::move(message);
    return std::nullopt;
}

}  // namespace

std::string Document::Attribute(std::string_view key) const {
    for (const auto& [k, v] : attributes)
        if (k == key) return v;
    return {};
}

bool LooksLikeLandText(std::span<const std::uint8_t> bytes) {
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                                std::min(bytes.size(), kSniffBytes));
    if (head.find(kCoordinateSection) != std::string_view::npos) return true;
    static const std::string gbk = Utf8ToGbk(kCoordinateSection).value_or(std::string());
    return !gbk.empty() && head.find(gbk) != std::string_view::npos;
}

std::optional<Document> Parse(std::span<const std::uint8_t> bytes, ParseError& error) {
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Document doc;
    doc.gbk = !IsValidUtf8(raw);
    const std::string text = DecodeUtf8OrGbk(raw);
    enum class Section { kNone, kAttributes, kCoordinates } section = Section::kNone;
    Parcel* parcel = nullptr;
    std::size_t expected = 0;  // J-lines the parcel line announced
    std::size_t seen = 0;
    int ring = 0;
    bool ringOpen = false;  // the current ring has not come back to its first point
    auto finishParcel = [&](std::size_t line) -> bool {
        if (!parcel) return true;
        if (seen != expected) {
            error = {line, "parcel " + parcel->number + " announces " + std::to_string(expected) +
                               " points and has " + std::to_string(seen)};
            return false;
        }
        if (ringOpen) {
            error = {line, "parcel " + parcel->number + ": a ring does not close"};
            return false;
        }
        if (parcel->rings.empty() || parcel->rings[0].size() < 3) {
            error = {line, "parcel " + parcel->number + " has fewer than 3 boundary points"};
            return false;
        }
        return true;
    };
    std::size_t lineNo = 0;
    std::size_t lastLine = 0;  // the last line that held something: a parcel ends there
    std::size_t start = 0;
    std::optional<bool> prefixed;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = Trim(std::string_view(text).substr(start, end - start));
        start = end + 1;
        ++lineNo;
        if (line.empty()) continue;
        const std::size_t previous = lastLine;
        lastLine = lineNo;
        if (line == kAttributeSection) {
            section = Section::kAttributes;
            continue;
        }
        if (line == kCoordinateSection) {
            section = Section::kCoordinates;
            continue;
        }
        if (section == Section::kNone) return Fail(error, lineNo, "text before any section");
        if (section == Section::kAttributes) {
            const std::size_t eq = line.find('=');
            if (eq == std::string_view::npos) return Fail(error, lineNo, "not key=value");
            doc.attributes.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
            continue;
        }
        const std::vector<std::string_view> cols = Split(line, ',');
        if (cols.back() == kParcelEnd) {
            if (!finishParcel(previous)) return std::nullopt;
            if (cols.size() < 9) return Fail(error, lineNo, "a parcel line needs 9 columns");
            const auto count = Number<std::size_t>(cols[0]);
            const auto area = Number<double>(cols[1]);
            if (!count || !area || *area < 0)
                return Fail(error, lineNo, "bad point count or area in the parcel line");
            doc.parcels.emplace_back();
            parcel = &doc.parcels.back();
            parcel->area_ha = *area;
            parcel->number = cols[2];
            parcel->name = cols[3];
            parcel->sheet = cols[5];
            parcel->use = cols[6];
            parcel->landClass = cols[7];
            expected = *count;
            seen = 0;
            ring = 0;
            ringOpen = false;
            continue;
        }
        if (!parcel) return Fail(error, lineNo, "a point before any parcel line");
        if (cols.size() != 4 || !cols[0].starts_with(kPointPrefix))
            return Fail(error, lineNo, "a point line is J<n>,<ring>,<X>,<Y>");
        const auto r = Number<int>(cols[1]);
        const auto x = Number<double>(cols[2]);
        const auto y = Number<double>(cols[3]);
        if (!r || *r < 1 || !x || !y) return Fail(error, lineNo, "bad ring number or coordinate");
        const bool thisPrefixed = *y >= kPrefixedEastingFloor;
        if (prefixed && *prefixed != thisPrefixed)
            return Fail(error, lineNo, "eastings with and without the zone number mixed");
        prefixed = thisPrefixed;
        ++seen;
        const GkPoint p{*x, *y};
        if (*r != ring) {
            if (ringOpen) return Fail(error, lineNo, "a ring does not close");
            if (*r != ring + 1) return Fail(error, lineNo, "rings out of order");
            ring = *r;
            parcel->rings.emplace_back();
            parcel->names.emplace_back();
            parcel->rings.back().push_back(p);
            parcel->names.back().emplace_back(cols[0]);
            ringOpen = true;
            continue;
        }
        if (!ringOpen) return Fail(error, lineNo, "a point after its ring closed");
        const GkPoint& first = parcel->rings.back().front();
        if (p.x == first.x && p.y == first.y) {
            ringOpen = false;  // the closing repeat
            continue;
        }
        parcel->rings.back().push_back(p);
        parcel->names.back().emplace_back(cols[0]);
    }
    if (!finishParcel(lastLine)) return std::nullopt;
    if (doc.parcels.empty()) return Fail(error, 0, "no parcel in the coordinate section");

    // The zone: 几度分带 (3 unless said), 带号, and the eastings' prefix,
    // which must agree with 带号 when both are there.
    const std::string width = doc.Attribute(kKeyZoneWidth);
    doc.zone.width = width.empty() ? kGk3Width : Number<int>(width).value_or(0);
    if (doc.zone.width != kGk3Width && doc.zone.width != kGk6Width)
        return Fail(error, 0, "几度分带 is neither 3 nor 6");
    const std::string zoneText = doc.Attribute(kKeyZone);
    const std::optional<int> zone = zoneText.empty() ? std::nullopt : Number<int>(zoneText);
    if (!zoneText.empty() && (!zone || *zone < 1 || *zone > kMaxZone))
        return Fail(error, 0, "bad 带号: " + zoneText);
    doc.zone.zoneInEasting = prefixed.value_or(false);
    if (doc.zone.zoneInEasting) {
        const GkPoint& any = doc.parcels[0].rings[0][0];
        const int fromEasting = static_cast<int>(any.y / kGkZonePrefixFactor);
        if (zone && *zone != fromEasting)
            return Fail(error, 0, "带号 " + zoneText + " disagrees with the eastings' zone " +
                                      std::to_string(fromEasting));
        doc.zone.zone = fromEasting;
        for (const Parcel& pc : doc.parcels)
            for (const auto& rg : pc.rings)
                for (const GkPoint& p : rg)
                    if (static_cast<int>(p.y / kGkZonePrefixFactor) != fromEasting)
                        return Fail(error, 0, "eastings in more than one zone");
    } else {
        if (!zone) return Fail(error, 0, "no 带号 and no zone number in the eastings");
        doc.zone.zone = *zone;
    }
    return doc;
}

ReadResult ReadAllAsFields(std::span<const std::uint8_t> bytes, std::vector<FieldFile>& out) {
    out.clear();
    ParseError e;
    const auto doc = Parse(bytes, e);
    if (!doc) {
        ReadResult r;
        r.error = ReadError::kBadCoordinates;
        r.message = (e.line ? "line " + std::to_string(e.line) + ": " : std::string()) + e.message;
        return r;
    }
    std::vector<FieldFile> fields;
    for (const Parcel& parcel : doc->parcels) {
        FieldFile f;
        f.kind = FieldKind::kArea;
        f.format = FieldFormat::kLandText;
        f.name = parcel.name.empty() ? parcel.number : parcel.name;
        f.shape = fields.size();
        for (std::size_t ring = 0; ring < parcel.rings.size(); ++ring) {
            auto points = FromGk(doc->zone, parcel.rings[ring]);
            if (!points) {
                ReadResult r;
                r.error = ReadError::kBadCoordinates;
                r.message = "PROJ cannot build the text's zone";
                return r;
            }
            if (ring == 0)
                f.points = std::move(*points);
            else
                f.holes.push_back(std::move(*points));
        }
        fields.push_back(std::move(f));
    }
    out = std::move(fields);
    return {};
}

ReadResult ReadAsField(std::span<const std::uint8_t> bytes, FieldFile& out) {
    ParseError e;
    const auto doc = Parse(bytes, e);
    if (!doc) {
        ReadResult r;
        r.error = ReadError::kBadCoordinates;
        r.message = (e.line ? "line " + std::to_string(e.line) + ": " : std::string()) + e.message;
        return r;
    }
    const Parcel& first = doc->parcels[0];
    auto points = FromGk(doc->zone, first.rings[0]);
    if (!points) {
        ReadResult r;
        r.error = ReadError::kBadCoordinates;
        r.message = "PROJ cannot build the text's zone";
        return r;
    }
    out.kind = FieldKind::kArea;
    out.format = FieldFormat::kLandText;
    out.name = first.name;
    out.points = std::move(*points);
    out.shapesIgnored = doc->parcels.size() - 1;
    return {};
}

}  // namespace dorvane::geo::land
