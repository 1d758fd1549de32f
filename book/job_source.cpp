#include "book/job_source.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

#include "book/sha256.h"
#include "convert/download.h"
#include "geo/field_shape.h"
#include "geo/figures.h"
#include "names/encoding.h"

namespace dorvane::book {

namespace fs = std::filesystem;

namespace {

// Coordinates of the geometry key are fixed to 10^-6 degree (about 0.1 m),
// the precision the KML writer prints, so a converted KML keys as its source.
constexpr double kKeyDegreeScale = 1e6;

// The files a Shapefile is made of beside its .shp (ESRI's attribute table,
// index, projection, code page, and the spatial indexes of ArcGIS and MapServer).
constexpr std::string_view kShapefileParts[] = {".dbf", ".shx", ".prj", ".cpg", ".sbn", ".sbx", ".qix"};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsHandheld(geo::FieldFormat f) {
    return f == geo::FieldFormat::kHandheldArea || f == geo::FieldFormat::kHandheldTrack;
}

bool ReadBytes(const fs::path& p, std::vector<std::uint8_t>& out) {
    std::error_code ec;
    const auto size = fs::file_size(p, ec);
    if (ec || size > geo::MaxFieldFileBytes()) return false;
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::optional<std::int64_t> NonZero(std::int32_t t) {
    if (t == 0) return std::nullopt;
    return t;
}

}  // namespace

std::string GeometryKey(const geo::FieldFile& f) {
    std::string canon = f.kind == geo::FieldKind::kArea ? "A" : "T";
    std::size_t seg = 0;
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        if (seg < f.segmentStarts.size() && f.segmentStarts[seg] == i) {
            canon += '|';
            ++seg;
        }
        const geo::GeoPoint& p = f.points[i];
        canon += std::to_string(std::llround(p.lon * kKeyDegreeScale));
        canon += ',';
        canon += std::to_string(std::llround(p.lat * kKeyDegreeScale));
        if (p.hasTime) {
            canon += '@';
            canon += std::to_string(std::llround(p.time));
        }
        canon += ';';
    }
    // Holes after the boundary, so that a field without any keys as it
    // always did (books hold those keys).
    for (const auto& hole : f.holes) {
        canon += "|h";
        for (const geo::GeoPoint& p : hole) {
            canon += std::to_string(std::llround(p.lon * kKeyDegreeScale));
            canon += ',';
            canon += std::to_string(std::llround(p.lat * kKeyDegreeScale));
            canon += ';';
        }
    }
    return "geometry:" +
           Sha256Hex({reinterpret_cast<const std::uint8_t*>(canon.data()), canon.size()});
}

Measurement MeasurementOf(const geo::FieldFile& f, std::span<const std::uint8_t> bytes,
                          const fs::path& path) {
    Measurement m;
    const geo::FieldFigures fig = geo::ComputeFigures(f);
    m.geometryKey = GeometryKey(f);
    m.sourceIsHandheld = IsHandheld(f.format);
    m.identity = m.sourceIsHandheld ? "sha256:" + Sha256Hex(bytes) : m.geometryKey;
    m.label = f.name.empty() ? DecodeUtf8OrGbk(path.stem().string()) : f.name;
    m.file = DecodeUtf8OrGbk(path.string());
    m.format = f.format;
    m.method = f.handheld.method;
    m.points = f.points;
    m.segmentStarts = f.segmentStarts;
    if (f.kind == geo::FieldKind::kArea) m.holes = f.holes;
    m.shape = geo::IsLine(f) ? JobShape::kLine : JobShape::kField;
    m.wgs84Area_m2 = fig.wgs84.area_m2;
    m.wgs84Length_m = fig.wgs84.length_m;
    if (fig.handheld) {
        m.handheldArea_m2 = fig.handheld->measure.area;
        m.handheldLength_m = fig.handheld->measure.length;
    }
    m.workWidth_m = f.handheld.workWidth;
    if (f.handheld.area) {
        const AreaFile& a = *f.handheld.area;
        m.startTime = NonZero(a.header.collectionTime);
        if (a.work) {
            if (auto s = NonZero(a.work->startTime)) m.startTime = s;
            m.endTime = NonZero(a.work->finishTime);
            if (f.handheld.method == static_cast<std::int16_t>(AreaMethod::kHarvesting))
                m.workWidth_m = a.work->width;
        }
    } else if (fig.track) {
        if (fig.track->startTime) m.startTime = static_cast<std::int64_t>(*fig.track->startTime);
        if (fig.track->endTime) m.endTime = static_cast<std::int64_t>(*fig.track->endTime);
    } else {
        for (const geo::GeoPoint& p : f.points)
            if (p.hasTime) {
                if (!m.startTime) m.startTime = static_cast<std::int64_t>(p.time);
                m.endTime = static_cast<std::int64_t>(p.time);
            }
    }
    m.sourceBytes.assign(bytes.begin(), bytes.end());
    return m;
}

geo::ReadResult ReadMeasurement(const fs::path& path, Measurement& out) {
    std::vector<std::uint8_t> bytes;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return {geo::ReadError::kCannotRead, "not a file: " + path.string()};
    if (fs::file_size(path, ec) > geo::MaxFieldFileBytes())
        return {geo::ReadError::kTooLarge, path.string()};
    if (!ReadBytes(path, bytes)) return {geo::ReadError::kCannotRead, path.string()};
    geo::FieldFile f;
    const geo::ReadResult r = geo::ReadFieldBytes(bytes, DecodeUtf8OrGbk(path.filename().string()), f);
    if (!r.ok()) return r;
    if (!IsHandheld(f.format)) {
        // The converting download keeps the handheld's bytes beside its KML or
        // GPX: the pair is one measurement, known and measured by those bytes.
        const fs::path bak = path.parent_path() / RawCopyName(path.filename().string());
        std::vector<std::uint8_t> raw;
        geo::FieldFile rawField;
        if (bak != path && fs::is_regular_file(bak, ec) && ReadBytes(bak, raw) &&
            geo::ReadFieldBytes(raw, DecodeUtf8OrGbk(bak.filename().string()), rawField).ok() &&
            IsHandheld(rawField.format) && rawField.kind == f.kind) {
            out = MeasurementOf(rawField, raw, path);
            out.format = f.format;
            return {};
        }
    }
    out = MeasurementOf(f, bytes, path);
    return {};
}

std::vector<fs::path> CollectSources(std::span<const fs::path> inputs, bool recursive,
                                     std::vector<SourceProblem>& problems) {
    std::vector<fs::path> files;
    auto walk = [&](auto& self, const fs::path& dir) -> void {
        std::vector<fs::path> here, subs;
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code ec2;
            const auto st = it->status(ec2);
            if (fs::is_directory(st)) {
                if (recursive) subs.push_back(it->path());
            } else if (fs::is_regular_file(st)) {
                here.push_back(it->path());
            }
        }
        if (ec) problems.push_back({dir, ec.message()});
        std::sort(here.begin(), here.end());
        std::sort(subs.begin(), subs.end());
        std::set<std::string> lower;
        for (const auto& p : here) lower.insert(Lower(p.filename().string()));
        for (const auto& p : here) {
            const std::string ext = Lower(p.extension().string());
            const std::string stem = Lower(p.stem().string());
            if (ext == kRawCopyExtension) {
                if (lower.count(stem + ".kml") || lower.count(stem + ".gpx")) continue;
            }
            // A Shapefile is read through its .shp; the files beside it are its parts.
            if (lower.count(stem + ".shp") &&
                std::find(std::begin(kShapefileParts), std::end(kShapefileParts), ext) != std::end(kShapefileParts))
                continue;
            files.push_back(p);
        }
        for (const auto& s : subs) self(self, s);
    };
    for (const fs::path& in : inputs) {
        std::error_code ec;
        const auto st = fs::status(in, ec);
        if (fs::is_directory(st))
            walk(walk, in);
        else if (fs::exists(st))
            files.push_back(in);
        else
            problems.push_back({in, ec ? ec.message() : "no such file or folder"});
    }
    return files;
}

}  // namespace dorvane::book
