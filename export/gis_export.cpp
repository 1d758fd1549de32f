#include "export/gis_export.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "geo/figures.h"
#include "geo/gdal_scope.h"
#include "geo/land_survey.h"
#include "geo/ogr_reader.h"
#include "names/encoding.h"
#include "report/ledger.h"
#include "report/output_file.h"

namespace dorvane::gis {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFieldsLayer = "fields";
constexpr const char* kWorkLayer = "work";
constexpr const char* kTracksLayer = "tracks";
/// The one layer of the single-layer formats.
constexpr const char* kSingleLayer = "dorvane";
constexpr const char* kKindField = "field";
constexpr const char* kKindWork = "work";
constexpr const char* kKindTrack = "track";
/// DXF layers of the boundaries, the point numbers and the centre labels.
constexpr const char* kDxfBoundary = "boundary";
constexpr const char* kDxfPointNumbers = "point_numbers";
constexpr const char* kDxfLabels = "field_labels";
/// DXF text height and offset beside its point: in metres on a projected
/// system (a field's corners are metres to hundreds of metres apart), and
/// the same in degrees of latitude (about 111 km a degree) otherwise.
constexpr double kDxfTextMetres = 1.0;
constexpr double kMetresPerDegree = 111000.0;
/// DXF header variables saying the drawing is in metres: $INSUNITS 6
/// (metres) and $MEASUREMENT 1 (metric), group code 70.
constexpr const char* kDxfInsUnits = "$INSUNITS";
constexpr const char* kDxfMetres = "     6";
constexpr const char* kDxfMeasurement = "$MEASUREMENT";
constexpr const char* kDxfMetric = "     1";
/// Every file a Shapefile or CSV layer of ours can leave in an output folder.
constexpr const char* kLayerFileExtensions[] = {".shp", ".shx", ".dbf", ".prj",
                                                ".cpg", ".csv", ".csvt"};

struct FormatInfo {
    GisFormat format;
    const char* name;
    const char* driver;
    const char* extension;  ///< the temporary output keeps it ("" for a folder)
    bool multiLayer;
    bool attributes;
};

constexpr FormatInfo kFormats[] = {
    {GisFormat::kGpkg, "gpkg", "GPKG", ".gpkg", true, true},
    {GisFormat::kShapefile, "shp", "ESRI Shapefile", "", true, true},
    {GisFormat::kGeoJson, "geojson", "GeoJSON", ".geojson", false, true},
    {GisFormat::kKml, "kml", "KML", ".kml", true, true},
    {GisFormat::kDxf, "dxf", "DXF", ".dxf", false, false},
    {GisFormat::kCsv, "csv", "CSV", ".csv", false, true},
    {GisFormat::kLandText, "txt", "", ".txt", false, false},
};

const FormatInfo& InfoOf(GisFormat f) {
    for (const auto& i : kFormats)
        if (i.format == f) return i;
    return kFormats[0];
}

void RegisterGdal() {
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

// GDAL reports through a global handler that prints to stderr: keep it
// quiet for the call and hand its last message back with the result.
using geo::DatasetPtr;
using geo::FeatureDeleter;
using geo::QuietGdal;
using Dataset = DatasetPtr;

ExportResult Fail(ExportError e, std::string message) {
    ExportResult r;
    r.error = e;
    r.message = std::move(message);
    return r;
}

std::string TimeAttr(const std::optional<std::int64_t>& t) {
    return t ? geo::IsoUtcText(static_cast<double>(*t)) : std::string();
}

// One feature to write: its kind, geometry and attributes.
struct Item {
    const char* kind = kKindField;
    std::unique_ptr<OGRGeometry> geometry;  ///< null: no geometry (a field of under 3 points)
    const ExportSource* source = nullptr;
    report::LedgerRow row;                   ///< fields and work
    std::optional<geo::FieldFigures> track;  ///< tracks
};

std::unique_ptr<OGRGeometry> FieldGeometry(const geo::FieldFile& f, bool harvesting) {
    if (harvesting) {
        if (f.points.size() < 2) return nullptr;
        auto line = std::make_unique<OGRLineString>();
        for (const auto& p : f.points) line->addPoint(p.lon, p.lat);
        return line;
    }
    if (f.points.size() < 3) return nullptr;
    auto ring = new OGRLinearRing();
    for (const auto& p : f.points) ring->addPoint(p.lon, p.lat);
    ring->closeRings();
    auto poly = std::make_unique<OGRPolygon>();
    poly->addRingDirectly(ring);
    // A pond or a farmyard inside stays out of the field in the GIS too.
    for (const auto& hole : f.holes) {
        if (hole.size() < 3) continue;
        auto inner = new OGRLinearRing();
        for (const auto& p : hole) inner->addPoint(p.lon, p.lat);
        inner->closeRings();
        poly->addRingDirectly(inner);
    }
    return poly;
}

std::unique_ptr<OGRGeometry> TrackGeometry(const geo::FieldFile& f) {
    auto multi = std::make_unique<OGRMultiLineString>();
    for (std::size_t s = 0; s < f.segmentStarts.size(); ++s) {
        const std::size_t begin = f.segmentStarts[s];
        const std::size_t end =
            s + 1 < f.segmentStarts.size() ? f.segmentStarts[s + 1] : f.points.size();
        if (end <= begin + 1) continue;  // a lone fix draws no line
        auto line = new OGRLineString();
        for (std::size_t i = begin; i < end; ++i) line->addPoint(f.points[i].lon, f.points[i].lat);
        multi->addGeometryDirectly(line);
    }
    if (multi->getNumGeometries() == 0) return nullptr;
    return multi;
}

struct FieldDef {
    const char* name;
    OGRFieldType type;
};

constexpr FieldDef kAttributes[] = {
    {attr::kKind, OFTString},      {attr::kName, OFTString},      {attr::kFile, OFTString},
    {attr::kMethod, OFTInteger},   {attr::kCollected, OFTString}, {attr::kStart, OFTString},
    {attr::kFinish, OFTString},    {attr::kWidth, OFTReal},       {attr::kPoints, OFTInteger},
    {attr::kLength, OFTReal},      {attr::kLengthWgs84, OFTReal}, {attr::kArea, OFTReal},
    {attr::kAreaMu, OFTReal},      {attr::kAreaHa, OFTReal},      {attr::kAreaWgs84, OFTReal},
    {attr::kLengthPrice, OFTReal}, {attr::kLengthTotal, OFTReal}, {attr::kAreaPrice, OFTReal},
    {attr::kAreaTotal, OFTReal},   {attr::kDuration, OFTReal},    {attr::kAreaCgcs2000, OFTReal},
};

void SetAttributes(OGRFeature& f, const Item& it) {
    auto text = [&](const char* n, const std::string& v) {
        if (!v.empty()) f.SetField(n, v.c_str());
    };
    text(attr::kKind, it.kind);
    text(attr::kFile, DecodeUtf8OrGbk(it.source->path.filename().string()));
    text(attr::kName, it.source->field.name);
    if (it.track) {
        const geo::FieldFigures& t = *it.track;
        f.SetField(attr::kPoints, static_cast<int>(t.points));
        f.SetField(attr::kLengthWgs84, t.wgs84.length_m);
        if (t.track && t.track->startTime) text(attr::kStart, geo::IsoUtcText(*t.track->startTime));
        if (t.track && t.track->endTime) text(attr::kFinish, geo::IsoUtcText(*t.track->endTime));
        if (t.track) f.SetField(attr::kDuration, t.track->duration_s);
        return;
    }
    const report::LedgerRow& r = it.row;
    if (r.method) f.SetField(attr::kMethod, *r.method);
    text(attr::kCollected, TimeAttr(r.collectionTime));
    text(attr::kStart, TimeAttr(r.startTime));
    text(attr::kFinish, TimeAttr(r.finishTime));
    if (r.workWidth) f.SetField(attr::kWidth, *r.workWidth);
    f.SetField(attr::kPoints, static_cast<int>(r.points));
    f.SetField(attr::kLength, r.handheld.measure.length);
    f.SetField(attr::kLengthWgs84, r.wgs84.length_m);
    f.SetField(attr::kArea, r.handheld.measure.area);
    f.SetField(attr::kAreaMu, r.handheld.area.mu);
    f.SetField(attr::kAreaHa, r.handheld.area.ha);
    f.SetField(attr::kAreaWgs84, r.wgs84.area_m2);
    f.SetField(attr::kAreaCgcs2000, geo::ComputeCgcs2000(it.source->field).area_m2);
    f.SetField(attr::kLengthPrice, r.lengthUnitPrice);
    f.SetField(attr::kLengthTotal, r.handheld.shown.lengthTotal);
    f.SetField(attr::kAreaPrice, r.areaUnitPrice);
    f.SetField(attr::kAreaTotal, r.handheld.shown.areaTotal);
}

std::vector<Item> ItemsOf(const std::vector<ExportSource>& sources) {
    std::vector<Item> items;
    items.reserve(sources.size());
    for (const ExportSource& s : sources) {
        Item it;
        it.source = &s;
        if (s.field.kind == geo::FieldKind::kTrack) {
            it.kind = kKindTrack;
            it.track = geo::ComputeFigures(s.field);
            it.geometry = TrackGeometry(s.field);
        } else {
            it.row = report::RowOfField(s.path, s.field);
            it.kind = it.row.IsHarvesting() ? kKindWork : kKindField;
            it.geometry = FieldGeometry(s.field, it.row.IsHarvesting());
        }
        items.push_back(std::move(it));
    }
    return items;
}

// Moves the finished output into place: never over an existing entry unless
// `force`; a folder output (Shapefile) replaces only our layer files in an
// existing folder.
ExportResult MoveIntoPlace(const fs::path& tmp, const fs::path& out, bool force, bool folder) {
    std::error_code ec;
    if (folder && force && fs::is_directory(out, ec)) {
        for (const char* layer : {kFieldsLayer, kWorkLayer, kTracksLayer})
            for (const char* ext : kLayerFileExtensions)
                fs::remove(out / (std::string(layer) + ext), ec);
        for (const auto& e : fs::directory_iterator(tmp, ec)) {
            fs::rename(e.path(), out / e.path().filename(), ec);
            if (ec) return Fail(ExportError::kRenameFailed, ec.message());
        }
        fs::remove_all(tmp, ec);
        return {};
    }
    const report::OutputOutcome moved = report::MoveIntoPlace(tmp, out, force);
    if (moved.error == report::OutputError::kExists)
        return Fail(ExportError::kExists, out.string());
    if (!moved.ok()) return Fail(ExportError::kRenameFailed, moved.message);
    return {};
}

}  // namespace

std::optional<GisFormat> ParseGisFormat(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& i : kFormats)
        if (lower == i.name) return i.format;
    return std::nullopt;
}

std::string_view GisFormatName(GisFormat f) {
    return InfoOf(f).name;
}

geo::ReadResult ReadExportSources(const fs::path& path, std::vector<ExportSource>& out,
                                  std::vector<std::string>& problems) {
    geo::ShapeSet set;
    const geo::ReadResult r = geo::ReadShapes(path, set);
    if (!r.ok()) return r;
    for (geo::FieldFile& shape : set.shapes) out.push_back({path, std::move(shape)});
    for (const geo::FeatureProblem& p : set.problems)
        problems.push_back("feature " + std::to_string(p.feature) + ": " + p.message);
    return r;
}

std::string_view ExportErrorText(ExportError e) {
    switch (e) {
        case ExportError::kNone:
            return "no error";
        case ExportError::kExists:
            return "the output exists";
        case ExportError::kNothingToWrite:
            return "nothing to export";
        case ExportError::kDriverMissing:
            return "GDAL lacks the driver for this format";
        case ExportError::kCreateFailed:
            return "cannot create the output";
        case ExportError::kWriteFailed:
            return "cannot write the output";
        case ExportError::kRenameFailed:
            return "cannot move the output into place";
        case ExportError::kBadCrs:
            return "PROJ cannot build the coordinate system";
        case ExportError::kNotGaussKrueger:
            return "the coordinate text needs a CGCS2000 Gauss-Krueger zone";
        case ExportError::kEncodingFailed:
            return "a name cannot be written in GBK";
    }
    return "error";
}

namespace {

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

bool IsField(const ExportSource& s) {
    return s.field.kind == geo::FieldKind::kArea &&
           s.field.handheld.method != static_cast<std::int16_t>(AreaMethod::kHarvesting) &&
           s.field.points.size() >= 3;
}

// The land-office text: fields only (tracks and harvesting lines are no
// parcels), in the resolved Gauss-Krueger zone.
ExportResult ExportLandText(const std::vector<ExportSource>& sources, const fs::path& out,
                            bool force, const ExportOptions& options, ExportResult result) {
    if (!result.crs.zone)
        return Fail(ExportError::kNotGaussKrueger, CrsChoiceText(options.crs));
    std::vector<LandField> fields;
    for (const ExportSource& s : sources) {
        if (!IsField(s)) continue;
        fields.push_back({s.field.name, s.field.points, {}});
    }
    if (fields.empty()) return Fail(ExportError::kNothingToWrite, {});
    std::string why;
    const LandTextHeader header{options.producer,
                                options.date.empty() ? Today() : options.date};
    const auto text = WriteLandText(fields, *result.crs.zone, header, options.encoding, why);
    if (!text)
        return Fail(why.find("GBK") != std::string::npos ? ExportError::kEncodingFailed
                                                         : ExportError::kBadCrs,
                    why);
    const fs::path tmp = report::TemporaryBeside(out, ".txt");
    {
        std::ofstream o(tmp, std::ios::binary);
        o.write(text->bytes.data(), static_cast<std::streamsize>(text->bytes.size()));
        o.close();
        if (!o) {
            std::error_code ec;
            fs::remove(tmp, ec);
            return Fail(ExportError::kWriteFailed, tmp.string());
        }
    }
    const ExportResult moved = MoveIntoPlace(tmp, out, force, false);
    if (!moved.ok()) return moved;
    result.fields = fields.size();
    result.ellipsoidArea_m2 = text->ellipsoidArea_m2;
    result.planeArea_m2 = text->planeArea_m2;
    return result;
}

// GDAL's DXF header template with the drawing units set to metres, written
// to `path`; false when the template cannot be found or written.
bool WriteMetreHeader(const fs::path& path) {
    const char* found = CPLFindFile("GDAL", "header.dxf");
    if (!found) return false;
    std::ifstream in(found, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    std::istringstream lines(body.str());
    std::string out;
    std::string line;
    int setNext = 0;  // 2: the group code line, 1: the value line to replace
    const char* value = nullptr;
    while (std::getline(lines, line)) {
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr) line.pop_back();
        if (setNext == 1) {
            line = value;
            setNext = 0;
        } else if (setNext == 2) {
            setNext = 1;
        } else if (line == kDxfInsUnits || line == kDxfMeasurement) {
            value = line == kDxfInsUnits ? kDxfMetres : kDxfMetric;
            setNext = 2;
        }
        out += line + (cr ? "\r\n" : "\n");
    }
    std::ofstream o(path, std::ios::binary);
    o << out;
    return static_cast<bool>(o);
}

std::string AreaLabel(const ExportSource& s) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " %.4f ha",
                  geo::ComputeCgcs2000(s.field).area_m2 / geo::kSquareMetresPerHectare);
    return s.field.name + buf;
}

// DXF texts of a field: its corners' numbers beside them (numbered as the
// land-office text numbers them) and its name and area at its centre.
bool WriteDxfTexts(OGRLayer& layer, const Item& it, double textSize) {
    const auto* poly = dynamic_cast<const OGRPolygon*>(it.geometry.get());
    if (!poly || !poly->getExteriorRing()) return true;
    const OGRLinearRing& ring = *poly->getExteriorRing();
    std::vector<geo::GkPoint> plane;
    for (int i = 0; i + 1 < ring.getNumPoints(); ++i)  // the closing repeat left out
        plane.push_back({ring.getY(i), ring.getX(i)});
    auto text = [&](double x, double y, const std::string& t, const char* dxfLayer) {
        std::unique_ptr<OGRFeature, FeatureDeleter> f(
            OGRFeature::CreateFeature(layer.GetLayerDefn()));
        if (f->GetFieldIndex("Layer") >= 0) f->SetField("Layer", dxfLayer);
        std::string quoted;
        for (const char c : t) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
        char style[64];
        std::snprintf(style, sizeof style, ",s:%.9gg)", textSize);
        f->SetStyleString(("LABEL(f:\"Arial\",t:\"" + quoted + "\"" + style).c_str());
        OGRPoint p(x, y);
        f->SetGeometry(&p);
        return layer.CreateFeature(f.get()) == OGRERR_NONE;
    };
    int number = 0;
    for (const std::size_t i : geo::NumberingOrder(plane, true)) {
        // Up and to the right of the corner, clear of the boundary line.
        if (!text(plane[i].y + textSize / 2, plane[i].x + textSize / 2,
                  "J" + std::to_string(++number), kDxfPointNumbers))
            return false;
    }
    OGRPoint centre;
    if (poly->PointOnSurface(&centre) != OGRERR_NONE) poly->Centroid(&centre);
    return text(centre.getX(), centre.getY(), AreaLabel(*it.source), kDxfLabels);
}

}  // namespace

ExportResult ExportGis(const std::vector<ExportSource>& sources, GisFormat format,
                       const fs::path& out, bool force, const ExportOptions& options) {
    const FormatInfo& info = InfoOf(format);
    std::error_code ec;
    if (!force && report::OutputExists(out)) return Fail(ExportError::kExists, out.string());
    if (sources.empty()) return Fail(ExportError::kNothingToWrite, {});
    RegisterGdal();
    QuietGdal quiet;

    ExportResult result;
    std::vector<NamedPoints> named;
    for (const ExportSource& s : sources) named.push_back({s.field.name, s.field.points});
    CrsError crsError;
    const auto resolved = ResolveCrs(options.crs, named, crsError);
    if (!resolved) return Fail(ExportError::kBadCrs, crsError.message);
    result.crs = *resolved;
    if (format == GisFormat::kLandText)
        return ExportLandText(sources, out, force, options, std::move(result));

    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(info.driver);
    if (!driver) return Fail(ExportError::kDriverMissing, info.driver);
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(kEpsgWgs84);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRSpatialReference target;
    if ((result.crs.epsg ? target.importFromEPSG(result.crs.epsg)
                         : target.importFromProj4(result.crs.zone->ProjDefinition().c_str())) !=
        OGRERR_NONE)
        return Fail(ExportError::kBadCrs, QuietGdal::Last());
    // Longitude/easting first whatever the system's official axis order.
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation, void (*)(OGRCoordinateTransformation*)> toTarget(
        nullptr, OGRCoordinateTransformation::DestroyCT);
    if (result.crs.epsg != kEpsgWgs84) {
        toTarget.reset(OGRCreateCoordinateTransformation(&wgs84, &target));
        if (!toTarget) return Fail(ExportError::kBadCrs, QuietGdal::Last());
    }
    const bool metres = target.IsProjected() && target.GetLinearUnits() == 1.0;

    std::vector<Item> items = ItemsOf(sources);
    for (Item& it : items) {
        if (it.geometry && toTarget && it.geometry->transform(toTarget.get()) != OGRERR_NONE)
            return Fail(ExportError::kBadCrs, QuietGdal::Last());
        if (it.kind != kKindField || !it.geometry) continue;
        result.ellipsoidArea_m2 += geo::ComputeCgcs2000(it.source->field).area_m2;
        if (target.IsProjected())
            result.planeArea_m2 += dynamic_cast<const OGRPolygon&>(*it.geometry).get_Area();
    }
    // Some drivers (KML) write a layer's features together: fields, then
    // work, then tracks, each in input order.
    auto rank = [](const Item& it) {
        return it.kind == kKindField ? 0 : it.kind == kKindWork ? 1 : 2;
    };
    std::stable_sort(items.begin(), items.end(),
                     [&](const Item& a, const Item& b) { return rank(a) < rank(b); });
    const fs::path tmp = report::TemporaryBeside(out, info.extension);
    const fs::path dxfHeader = tmp.string() + ".header.dxf";
    char** createOptions = nullptr;
    if (format == GisFormat::kDxf && metres && WriteMetreHeader(dxfHeader))
        createOptions = CSLSetNameValue(createOptions, "HEADER", dxfHeader.c_str());
    const double textSize = metres ? kDxfTextMetres : kDxfTextMetres / kMetresPerDegree;
    {
        Dataset ds(driver->Create(tmp.c_str(), 0, 0, 0, GDT_Unknown, createOptions));
        CSLDestroy(createOptions);
        if (!ds) {
            fs::remove(dxfHeader, ec);
            return Fail(ExportError::kCreateFailed, QuietGdal::Last());
        }

        // Layers in a fixed order, created when first needed.
        struct LayerSlot {
            const char* name;
            OGRwkbGeometryType type;
            OGRLayer* layer = nullptr;
        };
        std::vector<LayerSlot> slots;
        if (info.multiLayer)
            slots = {{kFieldsLayer, wkbPolygon},
                     {kWorkLayer, wkbLineString},
                     {kTracksLayer, wkbMultiLineString}};
        else
            slots = {{kSingleLayer, wkbUnknown}};
        auto slotOf = [&](const Item& it) -> LayerSlot& {
            if (!info.multiLayer) return slots[0];
            return it.kind == kKindField ? slots[0] : it.kind == kKindWork ? slots[1] : slots[2];
        };
        const bool transaction = ds->StartTransaction(FALSE) == OGRERR_NONE;
        bool failed = false;
        for (const Item& it : items) {
            LayerSlot& slot = slotOf(it);
            if (!slot.layer) {
                char** layerOptions = nullptr;
                if (format == GisFormat::kShapefile)
                    layerOptions = CSLSetNameValue(layerOptions, "ENCODING", "UTF-8");
                if (format == GisFormat::kCsv)
                    layerOptions = CSLSetNameValue(layerOptions, "GEOMETRY", "AS_WKT");
                slot.layer = ds->CreateLayer(slot.name, &target, slot.type, layerOptions);
                CSLDestroy(layerOptions);
                if (!slot.layer) {
                    fs::remove(dxfHeader, ec);
                    return Fail(ExportError::kCreateFailed, QuietGdal::Last());
                }
                if (info.attributes) {
                    for (const FieldDef& d : kAttributes) {
                        OGRFieldDefn def(d.name, d.type);
                        if (slot.layer->CreateField(&def) != OGRERR_NONE) {
                            failed = true;
                            break;
                        }
                    }
                }
            }
            if (failed) break;
            // DXF entities need a geometry; elsewhere a field of under three
            // points keeps its figures without one.
            if (format == GisFormat::kDxf && !it.geometry) continue;
            std::unique_ptr<OGRFeature, FeatureDeleter> feature(
                OGRFeature::CreateFeature(slot.layer->GetLayerDefn()));
            if (info.attributes) {
                SetAttributes(*feature, it);
            } else if (feature->GetFieldIndex("Layer") >= 0) {
                feature->SetField("Layer", it.kind == kKindField   ? kDxfBoundary
                                           : it.kind == kKindWork ? kWorkLayer
                                                                  : kTracksLayer);
            }
            if (format == GisFormat::kDxf && it.kind == kKindField) {
                // GDAL draws a polygon as a solid hatch, which buries the
                // texts in a CAD program: the boundary goes as a closed
                // polyline.
                const auto* poly = dynamic_cast<const OGRPolygon*>(it.geometry.get());
                if (poly && poly->getExteriorRing()) {
                    OGRLineString line(*poly->getExteriorRing());
                    feature->SetGeometry(&line);
                }
            } else if (it.geometry) {
                feature->SetGeometry(it.geometry.get());
            }
            if (slot.layer->CreateFeature(feature.get()) != OGRERR_NONE ||
                (format == GisFormat::kDxf && it.kind == kKindField &&
                 !WriteDxfTexts(*slot.layer, it, textSize))) {
                failed = true;
                break;
            }
            (it.kind == kKindTrack ? result.tracks : result.fields) += 1;
        }
        if (!failed && transaction && ds->CommitTransaction() != OGRERR_NONE) failed = true;
        if (failed) {
            const std::string why = QuietGdal::Last();
            ds.reset();
            fs::remove_all(tmp, ec);
            fs::remove(dxfHeader, ec);
            return Fail(ExportError::kWriteFailed, why);
        }
        // Closing writes what the drivers buffered (GDAL 3.6 reports a
        // failure there only through its error state).
        CPLErrorReset();
        ds.reset();
        fs::remove(dxfHeader, ec);
        if (CPLGetLastErrorType() >= CE_Failure) {
            const std::string why = QuietGdal::Last();
            fs::remove_all(tmp, ec);
            return Fail(ExportError::kWriteFailed, why);
        }
    }
    const ExportResult moved = MoveIntoPlace(tmp, out, force, format == GisFormat::kShapefile);
    if (!moved.ok()) return moved;
    return result;
}

}  // namespace dorvane::gis
