#pragma once
// Whether a field's boundary can be measured at all, and how sure its area is.
//
// A walked boundary that crosses itself (the walker doubled back, a bow-tie)
// gives an area that means nothing: its lobes cancel. Such a field is flagged
// where it crosses, and the area of the valid shape (GEOS's MakeValid through
// OGR, measured on the ellipsoid) stands beside the raw figure. Repeated
// points, spikes and fields of fewer than three distinct points are named.
//
// The tolerance band of an area is the boundary's length times the
// receiver's accuracy: every metre of boundary can lie that far in or out.
//
// Pure functions of their input; thread-safe. Qt-free.

#include <cstddef>
#include <optional>
#include <vector>

#include "geo/field_file.h"

namespace dorvane::geo {

/// The receiver accuracy the area's band is drawn with unless the user sets
/// another (metres): the 1.25 m buffer that the EU's checks of declared
/// parcel areas allow for a boundary measured with GNSS.
inline constexpr double kDefaultReceiverAccuracy_m = 1.25;

/// The spike rule: a vertex whose two legs leave it within this angle of one
/// another (degrees) - the boundary goes out to it and comes straight back.
/// A field corner is never this sharp; a GPS jump or a walker's detour to a
/// marker post is.
inline constexpr double kSpikeAngleDegrees = 5.0;

struct Validity {
    /// GEOS's verdict on the polygon (with its holes), and false as well for
    /// fewer than three distinct points.
    bool valid = true;
    /// Where the boundary (or a hole) crosses or touches itself, in degrees.
    std::vector<GeoPoint> crossings;
    /// Geodesic area of the valid shape (m²): the raw area when valid, else
    /// the area of what MakeValid makes of it (a bow-tie's two triangles).
    double validArea_m2 = 0;
    /// Points that repeat the point before them (the receiver standing still).
    std::size_t repeatedPoints = 0;
    /// Indexes (into FieldFile::points) of the spike vertices.
    std::vector<std::size_t> spikes;
    std::size_t distinctPoints = 0;
    bool tooFewPoints = false;  ///< fewer than 3 distinct points
};

/// The validity of an area `f` (its ring and holes). A track is always valid.
/// `rawArea_m2`, when the caller has measured it already, is the valid
/// shape's area of a valid field (measuring it again is most of the cost).
Validity CheckValidity(const FieldFile& f, std::optional<double> rawArea_m2 = std::nullopt);

/// The whole boundary's geodesic length (the ring and every hole), in metres.
double BoundaryLength(const FieldFile& f);

/// The area's band (m²): boundary length x receiver accuracy.
double AreaTolerance(double boundary_m, double accuracy_m);

}  // namespace dorvane::geo
