#pragma once
// Fields of the book that overlap: two jobs billed for the same ground are
// billed twice, and a pair sharing most of the smaller field (more than
// geo::kMeasuredTwiceShare) is probably one field measured twice. The pairs
// come from geo::FindOverlaps (a sweep over the fields' extents, not all
// pairs) on the polygons the store holds. Blocks on the store, as its calls do.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "book/store.h"
#include "geo/field_file.h"

namespace dorvane::book {

struct JobOverlap {
    Job a;  ///< the job listed first (a.id < b.id in id order)
    Job b;
    double overlap_m2 = 0;  ///< on WGS84
    double shareOfSmaller = 0;  ///< 0..1
    bool measuredTwice = false;
};

/// Every overlapping pair among the fields `filter` matches, ordered by the
/// first job, then the second (in the filter's order).
BookStatus FindJobOverlaps(BookStore& store, const JobFilter& filter, std::vector<JobOverlap>& out);

/// The "measured twice?" pairs a bill of `billing` would bill twice: one job
/// of the pair among `billing`, the other among them too or on a bill
/// already (billed or paid).
BookStatus MeasuredTwiceInBill(BookStore& store, std::span<const JobId> billing, std::vector<JobOverlap>& out);

/// A stored polygon as a field (boundary open, holes open); false when it is
/// no polygon. WKB as OGC writes it; a GeoPackage geometry blob (its header,
/// then WKB); hex WKB as PostGIS encodes it.
bool OutlineOfWkb(std::span<const std::uint8_t> wkb, geo::FieldFile& out);
bool OutlineOfGpkgBlob(std::span<const std::uint8_t> blob, geo::FieldFile& out);
bool OutlineOfWkbHex(std::string_view hex, geo::FieldFile& out);

}  // namespace dorvane::book
