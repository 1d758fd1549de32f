#include "book/job_shapes.h"

#include <charconv>

#include "book/job_source.h"
#include "names/encoding.h"

namespace dorvane::book {

namespace fs = std::filesystem;

namespace {

// The shape document is read back under this name: its extension sends it
// straight to OGR's GeoJSON driver.
constexpr std::string_view kShapeDocumentName = "shape.geojson";

void AppendNumber(std::string& s, double v) {
    char buf[32];
    // Shortest text that reads back to the same double: the shape keys the same.
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr);
}

void AppendJsonString(std::string& s, std::string_view text) {
    s += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            s += buf;
        } else {
            s += c;
        }
    }
    s += '"';
}

void AppendPositions(std::string& s, std::span<const geo::GeoPoint> pts, bool closeRing) {
    s += '[';
    auto one = [&](const geo::GeoPoint& p) {
        s += '[';
        AppendNumber(s, p.lon);
        s += ',';
        AppendNumber(s, p.lat);
        s += ']';
    };
    for (std::size_t i = 0; i < pts.size(); ++i) {
        if (i > 0) s += ',';
        one(pts[i]);
    }
    if (closeRing && !pts.empty()) {
        s += ',';
        one(pts.front());
    }
    s += ']';
}

std::string GeometryJson(const geo::FieldFile& f) {
    std::string s;
    if (f.kind == geo::FieldKind::kArea) {
        s = R"({"type":"Polygon","coordinates":[)";
        AppendPositions(s, f.points, true);
        for (const auto& hole : f.holes) {
            s += ',';
            AppendPositions(s, hole, true);
        }
        return s + "]}";
    }
    std::vector<std::size_t> starts = f.segmentStarts;
    if (starts.empty() && !f.points.empty()) starts.push_back(0);
    s = R"({"type":"MultiLineString","coordinates":[)";
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : f.points.size();
        if (k > 0) s += ',';
        if (starts[k] > end || end > f.points.size()) {
            s += "[]";
            continue;
        }
        AppendPositions(s, std::span(f.points).subspan(starts[k], end - starts[k]), false);
    }
    return s + "]}";
}

bool IsHandheld(geo::FieldFormat f) {
    return f == geo::FieldFormat::kHandheldArea || f == geo::FieldFormat::kHandheldTrack;
}

}  // namespace

std::vector<std::uint8_t> ShapeDocument(const geo::FieldFile& shape) {
    std::string s = R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"name":)";
    AppendJsonString(s, shape.name);
    s += R"(},"geometry":)";
    s += GeometryJson(shape);
    s += "}]}\n";
    return {s.begin(), s.end()};
}

std::string SourceFileOf(const std::string& jobFile) {
    static constexpr std::string_view kShapeMark = " › ";
    std::error_code ec;
    if (fs::is_regular_file(fs::path(jobFile), ec)) return jobFile;
    // The file's own name may hold the mark too: the first prefix that is a file.
    for (std::size_t at = jobFile.find(kShapeMark); at != std::string::npos;
         at = jobFile.find(kShapeMark, at + 1)) {
        const std::string file = jobFile.substr(0, at);
        if (fs::is_regular_file(fs::path(file), ec)) return file;
    }
    return jobFile;
}

geo::ReadResult ReadJobSource(std::span<const std::uint8_t> bytes, std::string_view file,
                              geo::FieldFile& out) {
    const std::string name = fs::path(std::string(file)).filename().string();
    const geo::ReadResult r = geo::ReadFieldBytes(bytes, name, out);
    if (r.ok() || bytes.empty() || bytes.front() != '{') return r;
    geo::ShapeSet set;
    const geo::ReadResult shape = geo::ReadShapesBytes(bytes, kShapeDocumentName, set);
    if (!shape.ok()) return shape;
    if (set.shapes.size() != 1)
        return {geo::ReadError::kNotRecognised, "the job's shape document holds " +
                                                     std::to_string(set.shapes.size()) + " shapes"};
    out = std::move(set.shapes.front());
    return {};
}

geo::ReadResult ReadJobs(const fs::path& path, std::vector<Measurement>& out,
                         std::vector<geo::FeatureProblem>& problems) {
    geo::ShapeSet set;
    const geo::ReadResult r = geo::ReadShapes(path, set);
    if (!r.ok()) return r;
    const bool many = set.shapes.size() > 1 || !set.problems.empty();
    if (!many && !set.shapes.empty() && set.shapes.front().format != geo::FieldFormat::kOgr) {
        // The handheld's file, or a KML or GPX of one shape (perhaps with the
        // handheld's bytes beside it): one job, known as it always was.
        Measurement m;
        const geo::ReadResult one = ReadMeasurement(path, m);
        if (!one.ok()) return one;
        out.push_back(std::move(m));
        return {};
    }
    const std::string fileText = DecodeUtf8OrGbk(path.string());
    for (geo::FieldFile& shape : set.shapes) {
        if (IsHandheld(shape.format)) continue;  // never inside a collection; its bytes would be the file's
        const std::vector<std::uint8_t> doc = ShapeDocument(shape);
        Measurement m = MeasurementOf(shape, doc, path);
        if (!shape.name.empty()) m.label = shape.name;
        // One file, many jobs: each names its shape, so that the list and the
        // bills tell them apart (a file of one shape is named by the file).
        m.file = many ? fileText + " › " + m.label : fileText;
        out.push_back(std::move(m));
    }
    problems.insert(problems.end(), set.problems.begin(), set.problems.end());
    return {};
}

}  // namespace dorvane::book
