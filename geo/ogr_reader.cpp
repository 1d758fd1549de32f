#include "geo/ogr_reader.h"

#include "geo/land_text.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <memory>
#include <mutex>

#include "convert/download.h"
#include "geo/gdal_scope.h"

namespace dorvane::geo {
namespace {

constexpr double kMaxLatitude = 90.0;
constexpr double kMaxLongitude = 180.0;
/// Problems listed one by one; beyond this only counted (a 100 000-row table
/// without geometry would otherwise list every row).
constexpr std::size_t kMaxProblemsListed = 1000;
/// Progress is reported every this many features (cheap enough, often enough
/// for a bar: 100 000 features give 390 reports).
constexpr std::size_t kProgressEvery = 256;
/// A zip archive (KMZ is one) starts with a local file header "PK\3\4".
constexpr std::string_view kZipMagic = "PK\x03\x04";

ReadResult Fail(ReadError e, std::string message) {
    return {e, std::move(message)};
}

void RegisterGdal() {
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

// GDAL reports through a handler that prints to stderr: quiet for the call
// (the handler stack is per thread), its last message handed back instead.
std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ExtensionOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    const std::size_t slash = name.find_last_of("/\\");
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return Lower(name.substr(dot + 1));
}

// Extensions of files only OGR reads: they skip the handheld's readers, whose
// area reader would take some binary headers for a damaged area record.
bool IsOgrExtension(const std::string& ext) {
    static constexpr std::string_view kOgrOnly[] = {
        "shp", "shz", "gpkg", "geojson", "json", "geojsonl", "kmz", "csv", "tsv",
        "dxf", "gml", "fgb", "tab", "mif", "sqlite", "gdb", "zip", "ods", "xlsx"};
    return std::find(std::begin(kOgrOnly), std::end(kOgrOnly), ext) != std::end(kOgrOnly);
}

// Names of the attribute that labels a feature, compared in lower case: the
// usual English ones, KML's <name> (read by OGR as "Name"), and the Chinese
// ones land offices and village committees use.
bool IsLabelField(const std::string& lowerName) {
    static constexpr std::string_view kLabels[] = {
        "name", "label", "title", "fieldname", "field_name", "名称", "地块名称", "地块名", "地块编号"};
    return std::find(std::begin(kLabels), std::end(kLabels), lowerName) != std::end(kLabels);
}

std::string LabelOf(OGRFeature& feature) {
    const int n = feature.GetFieldCount();
    for (int i = 0; i < n; ++i) {
        const OGRFieldDefn* d = feature.GetFieldDefnRef(i);
        if (!d || !IsLabelField(Lower(d->GetNameRef()))) continue;
        if (!feature.IsFieldSetAndNotNull(i)) continue;
        std::string v = feature.GetFieldAsString(i);
        if (!v.empty()) return v;
    }
    return {};
}

struct Reader {
    ShapeSet& out;
    std::string driver;
    std::size_t feature = 0;  // number of the feature being read, from 1
    std::size_t points = 0;   // points taken so far (memory bound)
    std::string problem;      // why the feature being read is left out
    bool tooLarge = false;
    std::vector<GeoPoint> rows;  // a CSV's longitude/latitude rows, in order

    bool Points(const OGRSimpleCurve& line, std::vector<GeoPoint>& pts) {
        const int n = line.getNumPoints();
        if (n < 0) return true;
        if (points + static_cast<std::size_t>(n) > kMaxShapePoints) {
            tooLarge = true;
            return false;
        }
        pts.reserve(static_cast<std::size_t>(n));
        const bool z = line.Is3D();
        for (int i = 0; i < n; ++i) {
            GeoPoint p;
            p.lon = line.getX(i);
            p.lat = line.getY(i);
            if (z) {
                p.ele = line.getZ(i);
                p.hasEle = std::isfinite(p.ele);
            }
            if (!std::isfinite(p.lat) || !std::isfinite(p.lon) ||
                std::fabs(p.lat) > kMaxLatitude || std::fabs(p.lon) > kMaxLongitude) {
                problem = "point " + std::to_string(i + 1) +
                          " lies outside latitude -90..90 / longitude -180..180";
                return false;
            }
            pts.push_back(p);
        }
        points += pts.size();
        return true;
    }

    static void OpenRing(std::vector<GeoPoint>& ring) {
        if (ring.size() >= 2 && ring.front().lon == ring.back().lon &&
            ring.front().lat == ring.back().lat)
            ring.pop_back();
    }

    FieldFile NewShape(FieldKind kind, const std::string& label) const {
        FieldFile f;
        f.kind = kind;
        f.format = FieldFormat::kOgr;
        f.driver = driver;
        f.name = label;
        return f;
    }

    bool Polygon(const OGRPolygon& poly, const std::string& label, std::vector<FieldFile>& shapes) {
        const OGRLinearRing* outer = poly.getExteriorRing();
        if (!outer || outer->getNumPoints() == 0) return true;  // EMPTY: nothing to measure
        FieldFile f = NewShape(FieldKind::kArea, label);
        if (!Points(*outer, f.points)) return false;
        OpenRing(f.points);
        for (int i = 0; i < poly.getNumInteriorRings(); ++i) {
            std::vector<GeoPoint> hole;
            if (!Points(*poly.getInteriorRing(i), hole)) return false;
            OpenRing(hole);
            if (!hole.empty()) f.holes.push_back(std::move(hole));
        }
        shapes.push_back(std::move(f));
        return true;
    }

    bool Line(const OGRSimpleCurve& line, FieldFile& track) {
        std::vector<GeoPoint> pts;
        if (!Points(line, pts)) return false;
        if (pts.empty()) return true;
        track.segmentStarts.push_back(track.points.size());
        track.points.insert(track.points.end(), pts.begin(), pts.end());
        return true;
    }

    // The shapes of one geometry, appended to `shapes`; false with `problem`
    // set when the feature cannot be read.
    bool Geometry(const OGRGeometry& g, const std::string& label, std::vector<FieldFile>& shapes,
                  bool& onlyPoints) {
        switch (wkbFlatten(g.getGeometryType())) {
            case wkbPoint: {
                // A table of longitude/latitude rows is the vertices of one line, in
                // row order; elsewhere a point is a marker with nothing to measure.
                const OGRPoint& p = *g.toPoint();
                if (driver == "CSV" && std::isfinite(p.getX()) && std::isfinite(p.getY()) &&
                    std::fabs(p.getY()) <= kMaxLatitude && std::fabs(p.getX()) <= kMaxLongitude) {
                    GeoPoint q;
                    q.lon = p.getX();
                    q.lat = p.getY();
                    rows.push_back(q);
                }
                return true;
            }
            case wkbMultiPoint:
                return true;
            case wkbPolygon:
                onlyPoints = false;
                return Polygon(*g.toPolygon(), label, shapes);
            case wkbMultiPolygon: {
                onlyPoints = false;
                const OGRMultiPolygon& mp = *g.toMultiPolygon();
                const int n = mp.getNumGeometries();
                for (int i = 0; i < n; ++i) {
                    // Parts of one feature: "name [2]" tells them apart in the ledger.
                    const std::string part =
                        n > 1 ? label + " [" + std::to_string(i + 1) + "]" : label;
                    if (!Polygon(*mp.getGeometryRef(i), part, shapes)) return false;
                }
                return true;
            }
            case wkbLineString:
            case wkbLinearRing: {
                onlyPoints = false;
                const OGRLineString& line = *g.toLineString();
                // CAD has no polygons: a field boundary drawn there is a closed polyline.
                if (driver == "DXF" && line.get_IsClosed() && line.getNumPoints() >= 4) {
                    OGRLinearRing ring;
                    ring.addSubLineString(&line);
                    OGRPolygon poly;
                    poly.addRing(&ring);
                    return Polygon(poly, label, shapes);
                }
                FieldFile t = NewShape(FieldKind::kTrack, label);
                if (!Line(line, t)) return false;
                if (!t.points.empty()) shapes.push_back(std::move(t));
                return true;
            }
            case wkbMultiLineString: {
                onlyPoints = false;
                FieldFile t = NewShape(FieldKind::kTrack, label);
                for (const OGRLineString* l : *g.toMultiLineString())
                    if (!Line(*l, t)) return false;
                if (!t.points.empty()) shapes.push_back(std::move(t));
                return true;
            }
            case wkbGeometryCollection: {
                for (const OGRGeometry* part : *g.toGeometryCollection())
                    if (!Geometry(*part, label, shapes, onlyPoints)) return false;
                return true;
            }
            default:
                onlyPoints = false;
                problem = std::string("a ") + OGRGeometryTypeToName(g.getGeometryType()) +
                          " is neither a field nor a track";
                return false;
        }
    }

    void Problem(std::string message) {
        if (out.problems.size() < kMaxProblemsListed)
            out.problems.push_back({feature, std::move(message)});
    }
};

using Transform = std::unique_ptr<OGRCoordinateTransformation, TransformDeleter>;

// The transformation of a layer's coordinates to WGS84 longitude/latitude;
// null when they are that already or the layer declares no system (read as
// WGS84, which is what KML, GPX and GeoJSON mean without one).
ReadResult LayerTransform(OGRLayer& layer, Transform& ct) {
    ct.reset();
    const OGRSpatialReference* declared = layer.GetSpatialRef();
    if (!declared) return {};
    OGRSpatialReference src(*declared);
    src.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (src.IsSame(&wgs84)) return {};
    ct.reset(OGRCreateCoordinateTransformation(&src, &wgs84));
    if (!ct) {
        const char* name = src.GetName();
        return Fail(ReadError::kBadCrs, std::string("layer \"") + layer.GetName() + "\" in " +
                                            (name ? name : "an unnamed system") + ": " +
                                            QuietGdal::Last());
    }
    return {};
}

}  // namespace

ReadResult ReadOgrFile(const std::string& path, std::string_view nameHint, ShapeSet& out,
                       const ReadProgress& progress, const std::atomic<bool>* cancel) {
    out = ShapeSet{};
    RegisterGdal();
    QuietGdal quiet;
    // A CSV names its geometry in a WKT column or in longitude/latitude columns;
    // these are the names OGR is told to look for (wildcards, any case).
    CPLStringList options;
    const std::string ext = ExtensionOf(nameHint.empty() ? path : nameHint);
    if (ext == "csv" || ext == "tsv") {
        options.AddString("GEOM_POSSIBLE_NAMES=wkt,geometry,geom,the_geom,shape");
        options.AddString("X_POSSIBLE_NAMES=lon,long,longitude,lng,x,经度");
        options.AddString("Y_POSSIBLE_NAMES=lat,latitude,y,纬度");
        // KEEP_GEOM_COLUMNS=NO is not asked for: GDAL 3.6's CSV reader
        // crashes with it on a header whose names it cannot take apart
        // (found by fuzzing); the columns kept are harmless attributes.
    }
    std::unique_ptr<GDALDataset, DatasetCloser> ds(GDALDataset::Open(
        path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, options.List(), nullptr));
    if (!ds) {
        const std::string why = QuietGdal::Last();
        return Fail(ReadError::kNotRecognised, why.empty() ? "no reader for this file" : why);
    }
    Reader rd{out, ds->GetDriver() ? ds->GetDriverName() : "", 0, 0, {}, false, {}};
    ShapeSet& set = out;
    std::size_t total = 0;
    for (OGRLayer* layer : ds->GetLayers()) {
        const GIntBig n = layer ? layer->GetFeatureCount(FALSE) : -1;
        if (n > 0) total += static_cast<std::size_t>(n);
    }
    std::size_t transformFailures = 0;
    std::size_t featuresWithShapes = 0;
    ReadResult crsError;
    for (OGRLayer* layer : ds->GetLayers()) {
        if (!layer) continue;
        Transform ct;
        if (ReadResult r = LayerTransform(*layer, ct); !r.ok()) {
            // Nothing of this layer can be placed on the globe; other layers may.
            crsError = r;
            continue;
        }
        layer->ResetReading();
        const GIntBig expected = layer->GetFeatureCount(FALSE);
        std::size_t readInLayer = 0;
        for (;;) {
            // One relaxed load per feature: nothing beside what a feature costs.
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                out = ShapeSet{};
                return Fail(ReadError::kCancelled, {});
            }
            CPLErrorReset();
            std::unique_ptr<OGRFeature, FeatureDeleter> feature(layer->GetNextFeature());
            if (!feature) {
                // The end, or a file cut short (a Shapefile's .dbf shorter than its
                // .shp): what the file promised and did not hold is reported.
                const bool failed = CPLGetLastErrorType() >= CE_Failure;
                if (failed || (expected > 0 && readInLayer < static_cast<std::size_t>(expected))) {
                    ++rd.feature;
                    std::string why = "this feature and the ones after it cannot be read";
                    if (expected > 0)
                        why = "features " + std::to_string(rd.feature) + " to " +
                              std::to_string(rd.feature - 1 + (static_cast<std::size_t>(expected) -
                                                               readInLayer)) +
                              " cannot be read";
                    if (failed) why += ": " + QuietGdal::Last();
                    rd.Problem(why);
                    rd.feature += static_cast<std::size_t>(std::max<GIntBig>(
                                      0, expected - static_cast<GIntBig>(readInLayer))) -
                                  (expected > static_cast<GIntBig>(readInLayer) ? 1 : 0);
                }
                break;
            }
            ++readInLayer;
            ++rd.feature;
            if (progress && total > 0 && rd.feature % kProgressEvery == 0)
                progress(std::min(1.0, static_cast<double>(rd.feature) / total));
            const OGRGeometry* geom = feature->GetGeometryRef();
            if (!geom || geom->IsEmpty()) {
                rd.Problem("no geometry");
                continue;
            }
            std::unique_ptr<OGRGeometry> linear;
            if (geom->hasCurveGeometry()) {
                linear.reset(geom->getLinearGeometry());
            } else {
                linear.reset(geom->clone());
            }
            if (!linear) {
                rd.Problem("its curves cannot be turned into lines");
                continue;
            }
            if (ct && linear->transform(ct.get()) != OGRERR_NONE) {
                ++transformFailures;
                rd.Problem("its coordinates cannot be transformed to WGS84: " +
                           QuietGdal::Last());
                continue;
            }
            std::string label = LabelOf(*feature);
            if (label.empty()) label = "#" + std::to_string(rd.feature);
            std::vector<FieldFile> shapes;
            bool onlyPoints = true;
            rd.problem.clear();
            if (!rd.Geometry(*linear, label, shapes, onlyPoints)) {
                if (rd.tooLarge)
                    return Fail(ReadError::kTooLarge,
                                "more than " + std::to_string(kMaxShapePoints) + " points");
                // A file that declares no system but holds projected metres.
                if (!ct && !layer->GetSpatialRef() && rd.problem.starts_with("point "))
                    rd.problem += " (the file declares no coordinate system)";
                rd.Problem(rd.problem);
                continue;
            }
            if (onlyPoints) {
                ++set.pointFeatures;
                continue;
            }
            if (!shapes.empty()) ++featuresWithShapes;
            for (FieldFile& s : shapes) {
                s.shape = set.shapes.size();
                set.shapes.push_back(std::move(s));
            }
        }
    }
    if (progress) progress(1.0);
    if (set.shapes.empty() && rd.rows.size() >= 2) {
        FieldFile t = rd.NewShape(FieldKind::kTrack, std::string(nameHint));
        t.points = std::move(rd.rows);
        t.segmentStarts.push_back(0);
        set.shapes.push_back(std::move(t));
        set.pointFeatures = 0;
    }
    if (set.shapes.empty()) {
        ReadResult r;
        if (!crsError.ok())
            r = crsError;
        else if (transformFailures > 0)
            r = Fail(ReadError::kBadCrs, set.problems.front().message);
        else if (!set.problems.empty())
            r = Fail(set.problems.front().message.starts_with("point ") ? ReadError::kBadCoordinates
                                                                        : ReadError::kCannotRead,
                     "feature " + std::to_string(set.problems.front().feature) + ": " +
                         set.problems.front().message);
        else
            r = Fail(ReadError::kNoShapes,
                     set.pointFeatures > 0
                         ? "no track or field (" + std::to_string(set.pointFeatures) +
                               " features are points only)"
                         : "no track or field");
        out = ShapeSet{};
        return r;
    }
    // A file of one feature is named by the file when the feature has no name.
    if (featuresWithShapes == 1 && set.shapes.size() == 1 && set.shapes[0].name.starts_with("#"))
        set.shapes[0].name = std::string(nameHint);
    return {};
}

namespace {

// The handheld's readers for what they read best; OGR for the rest, and for a
// KML of several shapes.
ReadResult ReadShapesFrom(std::span<const std::uint8_t> bytes, std::string_view nameHint,
                          const std::string& ogrPath, ShapeSet& out,
                          const ReadProgress& progress, const std::atomic<bool>* cancel) {
    out = ShapeSet{};
    if (bytes.empty()) return Fail(ReadError::kEmpty, {});
    const std::string ext = ExtensionOf(nameHint);
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                                std::min<std::size_t>(bytes.size(), kZipMagic.size()));
    if (ext == "kmz" && head != kZipMagic)
        return Fail(ReadError::kNotRecognised, "a KMZ file is a zip archive, and this one is not");
    // The land office's coordinate text: every parcel, with its holes.
    if (land::LooksLikeLandText(bytes)) {
        std::vector<FieldFile> fields;
        const ReadResult r = land::ReadAllAsFields(bytes, fields);
        if (!r.ok()) return r;
        for (FieldFile& f : fields) {
            if (f.name.empty()) f.name = std::string(nameHint);
            out.shapes.push_back(std::move(f));
        }
        return {};
    }
    if (!IsOgrExtension(ext)) {
        FieldFile f;
        const ReadResult r = ReadFieldBytes(bytes, nameHint, f);
        if (r.ok() && f.shapesIgnored == 0) {
            out.shapes.push_back(std::move(f));
            return {};
        }
        if (!r.ok() && r.error != ReadError::kNotRecognised && r.error != ReadError::kDamaged)
            return r;
        if (!r.ok()) {
            // Not the handheld's and not GPX/KML: perhaps something OGR reads.
            ShapeSet ogr;
            if (const ReadResult o = ReadOgrFile(ogrPath, nameHint, ogr, progress, cancel);
                o.ok() || o.error == ReadError::kCancelled) {
                if (!o.ok()) return o;
                out = std::move(ogr);
                return {};
            }
            return r;
        }
        // A KML of several shapes: every one of them, through OGR.
    }
    return ReadOgrFile(ogrPath, nameHint, out, progress, cancel);
}

}  // namespace

ReadResult ReadShapes(const std::filesystem::path& path, ShapeSet& out,
                      const ReadProgress& progress, const std::atomic<bool>* cancel) {
    out = ShapeSet{};
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return Fail(ReadError::kCannotRead, path.string() + ": a folder");
    const std::string name = path.filename().string();
    // A GeoPackage may be larger than any handheld file: OGR reads it in place.
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > MaxFieldFileBytes() && IsOgrExtension(ExtensionOf(name)))
        return ReadOgrFile(path.string(), name, out, progress, cancel);
    std::vector<std::uint8_t> bytes;
    std::string message;
    switch (ReadInputFile(path, bytes, message)) {
        case ConvertError::kNone:
            break;
        case ConvertError::kTooLarge:
            return Fail(ReadError::kTooLarge, message);
        default:
            return Fail(ReadError::kCannotRead, message);
    }
    return ReadShapesFrom(bytes, name, path.string(), out, progress, cancel);
}

ReadResult ReadShapesBytes(std::span<const std::uint8_t> bytes, std::string_view nameHint,
                           ShapeSet& out) {
    RegisterGdal();
    // A file of its own in GDAL's memory file system, in a folder of its own
    // so that calls on several threads never meet.
    static std::atomic<unsigned long> counter{0};
    std::string base(nameHint);
    std::replace(base.begin(), base.end(), '/', '_');
    if (base.empty()) base = "shapes";
    const std::string dir = "/vsimem/dorvane_shapes_" + std::to_string(++counter);
    const std::string path = dir + "/" + base;
    VSILFILE* fp = VSIFileFromMemBuffer(path.c_str(), const_cast<GByte*>(bytes.data()),
                                        static_cast<vsi_l_offset>(bytes.size()), FALSE);
    if (!fp) return Fail(ReadError::kCannotRead, "no room in memory for the file");
    VSIFCloseL(fp);
    ReadResult r = ReadShapesFrom(bytes, base, path, out, {}, nullptr);
    VSIUnlink(path.c_str());
    VSIRmdirRecursive(dir.c_str());
    return r;
}

std::string ShapeDisplayName(std::string_view fileName, const FieldFile& shape) {
    if (shape.name.empty() || shape.name == fileName) return std::string(fileName);
    return std::string(fileName) + " › " + shape.name;
}

}  // namespace dorvane::geo
