#include "export/gis_export.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>

#include "geo/figures.h"
#include "names/encoding.h"
#include "report/ledger.h"
#include "report/output_file.h"

namespace dorvane::gis {

namespace fs = std::filesystem;

namespace {

/// WGS84 as GIS programs know it.
constexpr int kEpsgWgs84 = 4326;
constexpr const char* kFieldsLayer = "fields";
constexpr const char* kWorkLayer = "work";
constexpr const char* kTracksLayer = "tracks";
/// The one layer of the single-layer formats.
constexpr const char* kSingleLayer = "dorvane";
constexpr const char* kKindField = "field";
constexpr const char* kKindWork = "work";
constexpr const char* kKindTrack = "track";
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
class QuietGdal {
public:
    QuietGdal() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
    static std::string Last() {
        const char* m = CPLGetLastErrorMsg();
        return m ? m : "";
    }
};

struct DatasetCloser {
    void operator()(GDALDataset* ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

struct FeatureDeleter {
    void operator()(OGRFeature* f) const { OGRFeature::DestroyFeature(f); }
};

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
    {attr::kAreaTotal, OFTReal},   {attr::kDuration, OFTReal},
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
    }
    return "error";
}

ExportResult ExportGis(const std::vector<ExportSource>& sources, GisFormat format,
                       const fs::path& out, bool force) {
    const FormatInfo& info = InfoOf(format);
    std::error_code ec;
    if (!force && report::OutputExists(out)) return Fail(ExportError::kExists, out.string());
    if (sources.empty()) return Fail(ExportError::kNothingToWrite, {});
    RegisterGdal();
    QuietGdal quiet;
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(info.driver);
    if (!driver) return Fail(ExportError::kDriverMissing, info.driver);

    std::vector<Item> items = ItemsOf(sources);
    // Some drivers (KML) write a layer's features together: fields, then
    // work, then tracks, each in input order.
    auto rank = [](const Item& it) {
        return it.kind == kKindField ? 0 : it.kind == kKindWork ? 1 : 2;
    };
    std::stable_sort(items.begin(), items.end(),
                     [&](const Item& a, const Item& b) { return rank(a) < rank(b); });
    const fs::path tmp = report::TemporaryBeside(out, info.extension);
    ExportResult result;
    {
        Dataset ds(driver->Create(tmp.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        if (!ds) return Fail(ExportError::kCreateFailed, QuietGdal::Last());
        OGRSpatialReference wgs84;
        wgs84.importFromEPSG(kEpsgWgs84);
        wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);

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
                char** options = nullptr;
                if (format == GisFormat::kShapefile)
                    options = CSLSetNameValue(options, "ENCODING", "UTF-8");
                if (format == GisFormat::kCsv)
                    options = CSLSetNameValue(options, "GEOMETRY", "AS_WKT");
                slot.layer = ds->CreateLayer(slot.name, &wgs84, slot.type, options);
                CSLDestroy(options);
                if (!slot.layer) return Fail(ExportError::kCreateFailed, QuietGdal::Last());
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
                feature->SetField("Layer", it.kind);
            }
            if (it.geometry) feature->SetGeometry(it.geometry.get());
            if (slot.layer->CreateFeature(feature.get()) != OGRERR_NONE) {
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
            return Fail(ExportError::kWriteFailed, why);
        }
        // Closing writes what the drivers buffered (GDAL 3.6 reports a
        // failure there only through its error state).
        CPLErrorReset();
        ds.reset();
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
