#pragma once
// From files on the computer to measurements for the book, with their
// identity. A measurement enters the book once:
//   - a handheld file (track or area) is known by the SHA-256 of its bytes
//     and nothing else, so a copy under another name ("A(1).txt") is the
//     same measurement, while two handheld files with the same points are two;
//   - a KML or GPX with the handheld's bytes kept beside it (the ".bak" the
//     converting download writes) is known by those bytes: the pair is one
//     measurement, read from the handheld's bytes;
//   - any other file is known by its geometry and times ("geometry:<hex>",
//     coordinates to 10^-6 degree, times to the second). Every job also
//     carries that geometry key, so a KML converted from a handheld file
//     already in the book (coordinates written to 6 decimals) is found too.
// Reading blocks on the file system; pure otherwise; thread-safe.

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "book/book_types.h"
#include "geo/field_file.h"

namespace dorvane::book {

/// Reads the file at `path` into `out` (figures from geo::ComputeFigures).
geo::ReadResult ReadMeasurement(const std::filesystem::path& path, Measurement& out);

/// The measurement of already-read `bytes`/`field` (the file's path for
/// messages and the job's file column).
Measurement MeasurementOf(const geo::FieldFile& field, std::span<const std::uint8_t> bytes,
                          const std::filesystem::path& path);

/// "geometry:<hex>" of the shape and its times.
std::string GeometryKey(const geo::FieldFile& field);

/// A file that could not be taken, with its cause (English).
struct SourceProblem {
    std::filesystem::path path;
    std::string message;
};

/// The files named by FILE|DIR arguments: a folder gives its regular files
/// (its sub-folders too with `recursive`) in name order, leaving out a
/// ".bak" beside a KML or GPX of the same name (the pair is one measurement,
/// read through the KML or GPX). A missing argument is a problem.
std::vector<std::filesystem::path> CollectSources(std::span<const std::filesystem::path> inputs,
                                                  bool recursive, std::vector<SourceProblem>& problems);

}  // namespace dorvane::book
