#pragma once
// A file of many shapes as jobs of the book. A village's fields come as one
// KML, Shapefile, GeoPackage or GeoJSON with many polygons: each polygon
// (each part of a multipolygon) is a job of its own, labelled with its
// feature's name, its file column "file › name". Its identity is its
// geometry key (job_source.h); the bytes kept for it are the shape alone, as
// a GeoJSON document in WGS84 (a Shapefile is several files, a GeoPackage
// may be large: neither can be kept whole per job). A handheld file, and a
// KML or GPX of one shape, stay one job as job_source.h reads them.
// Reading blocks on the file system; pure otherwise; thread-safe.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "book/book_types.h"
#include "geo/field_file.h"
#include "geo/ogr_reader.h"

namespace dorvane::book {

/// Every job the file at `path` holds, appended to `out`; features that
/// could not be read are appended to `problems` by their number, the rest
/// are read. Fails (nothing appended) when the file cannot be read at all.
geo::ReadResult ReadJobs(const std::filesystem::path& path, std::vector<Measurement>& out,
                         std::vector<geo::FeatureProblem>& problems);

/// The bytes a job of one shape keeps: a GeoJSON FeatureCollection of that
/// one feature, coordinates exact (read back, it keys as the shape).
std::vector<std::uint8_t> ShapeDocument(const geo::FieldFile& shape);

/// The file on disk a job's file column names: the column itself, or for a
/// shape of a file ("file › name") the file; the column when neither is a
/// file. Blocks on the file system.
std::string SourceFileOf(const std::string& jobFile);

/// Reads the bytes a job keeps (GetJobSource) back into its shape: the
/// handheld's file, a KML or GPX, or a shape document. `file` is the job's
/// file column, for messages.
geo::ReadResult ReadJobSource(std::span<const std::uint8_t> bytes, std::string_view file,
                              geo::FieldFile& out);

}  // namespace dorvane::book
