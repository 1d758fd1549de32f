// bench_readers: the readers' figures, each timed over data made here.
//   1. a GeoPackage of 10 000 fields (written through OGR into a scratch
//      folder) read through the front door and every field measured;
//   2. the overlaps among 5 000 of them (every field overlaps its neighbour);
//   3. a 10 000-vertex field's validity and tolerance band.
//
//   bench_readers [FEATURES]     (default 10000; the overlaps take half)

#include <unistd.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>

#include "app/startup/standard_options.h"
#include "geo/figures.h"
#include "geo/ogr_reader.h"
#include "geo/overlaps.h"
#include "geo/validity.h"

namespace fs = std::filesystem;
using namespace dorvane;

namespace {

constexpr std::size_t kDefaultFeatures = 10000;
constexpr std::size_t kBigFieldVertices = 10000;
constexpr int kValidityRuns = 10;
// Targets of the request.
constexpr double kReadTarget = 2.0;
constexpr double kOverlapsTarget = 2.0;
constexpr double kValidityTarget = 0.020;
/// Vertices of each field of the GeoPackage (a walked boundary of a small field).
constexpr int kFieldVertices = 24;
constexpr double kFieldDegrees = 0.001;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Print(const char* what, double s, double target) {
    std::printf("%-52s %8.3f s  (target %.3f s)  %s\n", what, s, target,
                s <= target ? "ok" : "SLOW");
}

// A field: a rough circle of kFieldVertices points, 1.2 fields' widths apart
// along a row so that each overlaps the next by a fifth.
bool WriteGeoPackage(const fs::path& path, std::size_t n) {
    GDALAllRegister();
    GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (!drv) return false;
    std::unique_ptr<GDALDataset> ds(drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) return false;
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    OGRLayer* layer = ds->CreateLayer("fields", &wgs84, wkbPolygon, nullptr);
    OGRFieldDefn name("name", OFTString);
    if (!layer || layer->CreateField(&name) != OGRERR_NONE) return false;
    if (ds->StartTransaction() != OGRERR_NONE) return false;
    for (std::size_t i = 0; i < n; ++i) {
        const double cx = 100 + static_cast<double>(i % 100) * kFieldDegrees * 0.8;
        const double cy = 30 + static_cast<double>(i / 100) * kFieldDegrees * 2;
        OGRLinearRing ring;
        for (int k = 0; k <= kFieldVertices; ++k) {
            const double a = 2 * std::numbers::pi * k / kFieldVertices;
            ring.addPoint(cx + kFieldDegrees / 2 * std::cos(a), cy + kFieldDegrees / 2 * std::sin(a));
        }
        OGRPolygon poly;
        poly.addRing(&ring);
        std::unique_ptr<OGRFeature> f(OGRFeature::CreateFeature(layer->GetLayerDefn()));
        f->SetField("name", ("F" + std::to_string(i + 1)).c_str());
        f->SetGeometry(&poly);
        if (layer->CreateFeature(f.get()) != OGRERR_NONE) return false;
    }
    return ds->CommitTransaction() == OGRERR_NONE;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done = dorvane::HandleStandardOptions(
            argc, argv, "bench_readers",
            "usage: bench_readers [FIELDS]\n"
            "Writes a GeoPackage of FIELDS fields (default 10000) in a scratch folder, then times\n"
            "reading and measuring it, the overlaps among half of them and a 10 000-vertex field's\n"
            "validity check; prints each figure with its target.\n"))
        return *done;
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : kDefaultFeatures;
    const fs::path dir = fs::temp_directory_path() / ("bench_readers_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path gpkg = dir / "village.gpkg";
    if (!WriteGeoPackage(gpkg, n)) {
        std::fprintf(stderr, "cannot write %s\n", gpkg.c_str());
        return 1;
    }

    auto t0 = std::chrono::steady_clock::now();
    geo::ShapeSet set;
    if (!geo::ReadShapes(gpkg, set).ok() || set.shapes.size() != n) {
        std::fprintf(stderr, "the GeoPackage did not read back\n");
        return 1;
    }
    double area = 0;
    for (const geo::FieldFile& f : set.shapes) area += geo::ComputeFigures(f).wgs84.area_m2;
    const double read = Seconds(t0);
    std::printf("%zu fields, %.1f m² in all\n", set.shapes.size(), area);
    Print("GeoPackage read and every field measured", read, kReadTarget);

    std::vector<const geo::FieldFile*> half;
    for (std::size_t i = 0; i < set.shapes.size() / 2; ++i) half.push_back(&set.shapes[i]);
    t0 = std::chrono::steady_clock::now();
    const auto overlaps = geo::FindOverlaps(half);
    const double ov = Seconds(t0);
    std::printf("%zu fields, %zu overlapping pairs\n", half.size(), overlaps.size());
    Print("overlaps found", ov, kOverlapsTarget);

    geo::FieldFile big;
    big.kind = geo::FieldKind::kArea;
    for (std::size_t k = 0; k < kBigFieldVertices; ++k) {
        const double a = 2 * std::numbers::pi * static_cast<double>(k) / kBigFieldVertices;
        // A wobbly boundary, as walked.
        const double r = 0.005 * (1 + 0.01 * std::sin(37 * a));
        geo::GeoPoint p;
        p.lon = 113 + r * std::cos(a);
        p.lat = 23 + r * std::sin(a);
        big.points.push_back(p);
    }
    // The raw area is measured with the other figures; validity takes it.
    const double raw = geo::GeodesicRing(big.points).area_m2;
    t0 = std::chrono::steady_clock::now();
    double band = 0;
    bool valid = true;
    for (int i = 0; i < kValidityRuns; ++i) {
        valid = geo::CheckValidity(big, raw).valid;
        band = geo::AreaTolerance(geo::BoundaryLength(big), geo::kDefaultReceiverAccuracy_m);
    }
    const double each = Seconds(t0) / kValidityRuns;
    std::printf("%zu vertices, valid %s, band %.1f m²\n", big.points.size(), valid ? "yes" : "no",
                band);
    Print("validity and tolerance of one field", each, kValidityTarget);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
