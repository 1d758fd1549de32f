#pragma once
// Fields that overlap: every pair among a ledger's fields whose boundaries
// share ground, with the shared area on the ellipsoid. Two fields billed for
// the same ground are billed twice; a pair that shares most of the smaller
// field is probably one field measured twice.
//
// Candidates come from a sweep over the fields' extents (sorted by their west
// edge), not from all pairs; each candidate pair is intersected by GEOS
// (through OGR) in an azimuthal equidistant projection centred on the pair,
// and the intersection is measured back on WGS84 with GeographicLib.
// Pure; thread-safe. Qt-free.

#include <cstddef>
#include <span>
#include <vector>

#include "geo/field_file.h"

namespace dorvane::geo {

/// Above this share of the smaller field a pair is "measured twice?": a
/// field walked twice overlaps itself by 95 % or more (the receiver's error
/// along the boundary), two neighbours by a few per cent at most.
inline constexpr double kMeasuredTwiceShare = 0.9;

/// Overlaps smaller than this (m²) are not ground billed twice: two
/// neighbours whose common boundary runs through different vertices (one
/// field's corner on the other's side) share a sliver of a few square
/// centimetres from the straight edges of the plane they meet in. One square
/// metre is below what a walked boundary can tell (a 100 m edge at the
/// receiver's 1.25 m is 125 m²).
inline constexpr double kMinOverlap_m2 = 1.0;

struct Overlap {
    std::size_t a = 0;  ///< index of the first field (a < b)
    std::size_t b = 0;
    double overlap_m2 = 0;
    double shareOfSmaller = 0;  ///< overlap / the smaller field's area (0..1)
    bool measuredTwice = false;  ///< shareOfSmaller > kMeasuredTwiceShare
};

/// Every overlapping pair among `fields` (tracks and fields of fewer than
/// three points take no part), ordered by a, then b.
std::vector<Overlap> FindOverlaps(std::span<const FieldFile* const> fields);

}  // namespace dorvane::geo
