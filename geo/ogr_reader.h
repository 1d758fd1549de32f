#pragma once
// A file as the collection of shapes it holds. A village's fields come as one
// KML, Shapefile or GeoPackage with many polygons: each polygon (each part of
// a multipolygon) is a field with its holes, each line or track a track,
// labelled with its feature's name.
//
// The front door, ReadShapes, tells files apart by content: the handheld's
// own files and GPX go through the readers of field_file.h (they read times
// and the measurement record), and so does a KML with one shape (its
// ExtendedData is the handheld's bill); everything else through GDAL/OGR in
// any coordinate system the file declares, transformed to WGS84 with PROJ.
//
// A feature that cannot be read (no geometry to measure, points off the
// globe, a transformation that fails) is reported by its number and the rest
// are read. Failures are returned, never thrown. Thread-safe: GDAL's error
// handler is kept per thread for the call.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geo/field_file.h"

namespace dorvane::geo {

/// A feature left out, with its number in the file (from 1, counted over
/// every layer in order) and why, in English.
struct FeatureProblem {
    std::size_t feature = 0;
    std::string message;
};

struct ShapeSet {
    /// In file order; shapes[i].shape == i, shapes[i].name its label.
    std::vector<FieldFile> shapes;
    std::vector<FeatureProblem> problems;
    /// Features that are points only (waypoints, markers): nothing to measure.
    std::size_t pointFeatures = 0;
};

/// Called now and then with the share read so far (0..1), from the reading thread.
using ReadProgress = std::function<void(double)>;

/// Largest number of points of one file read (memory bound: 40 bytes each,
/// so 20 million points stay under 1 GB; the biggest village file seen holds
/// 10 million).
inline constexpr std::size_t kMaxShapePoints = 20'000'000;

/// Reads every shape of the file at `path` (replaced whole; empty on failure).
/// Blocks on the file system. `cancel`, when given, is looked at before each
/// feature OGR reads: once set, the read ends with ReadError::kCancelled
/// (the handheld's own readers, bounded by MaxFieldFileBytes, run to the end).
ReadResult ReadShapes(const std::filesystem::path& path, ShapeSet& out,
                      const ReadProgress& progress = {},
                      const std::atomic<bool>* cancel = nullptr);

/// The same for `bytes` held in memory, named `nameHint` (its extension tells
/// OGR which format to try first, as on disk).
ReadResult ReadShapesBytes(std::span<const std::uint8_t> bytes, std::string_view nameHint,
                           ShapeSet& out);

/// Reads the file at `path` (a file name OGR understands, /vsimem/ too)
/// through GDAL/OGR only.
ReadResult ReadOgrFile(const std::string& path, std::string_view nameHint, ShapeSet& out,
                       const ReadProgress& progress = {},
                       const std::atomic<bool>* cancel = nullptr);

/// "file › label" as the ledger and the field view name one shape of a file;
/// just "file" when the label is the file's name.
std::string ShapeDisplayName(std::string_view fileName, const FieldFile& shape);

}  // namespace dorvane::geo
