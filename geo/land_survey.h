#pragma once
// Figures a Chinese land office works with: geodesic length and area on the
// CGCS2000 ellipsoid, and the plane area on the Gauss-Krueger projection of
// the field's 3-degree zone. They stand beside the WGS84 and the handheld's
// figures, never in their place.
//
// CGCS2000 and WGS84 agree to centimetres at a field's scale; PROJ has no
// shift between them and treats one as the other, as the land offices' own
// programs do. Pure, thread-safe (each call builds its own projection).

#include <optional>
#include <span>
#include <string>

#include "geo/field_file.h"

namespace dorvane::geo {

/// CGCS2000's ellipsoid (GB/T 18522 / EPSG:1024): a = 6378137 m,
/// f = 1/298.257222101 (the GRS80 flattening, not WGS84's 1/298.257223563).
inline constexpr double kCgcs2000A = 6378137.0;
inline constexpr double kCgcs2000InverseF = 298.257222101;

/// Width of the Gauss-Krueger zones land surveys use (degrees); the 3-degree
/// zone n has its central meridian at 3n degrees east.
inline constexpr int kGk3Width = 3;
/// The 6-degree zone n has its central meridian at 6n - 3 degrees east.
inline constexpr int kGk6Width = 6;
/// False easting of every Gauss-Krueger zone (m), before the zone prefix.
inline constexpr double kGkFalseEasting = 500000.0;
/// The zone number written in front of the easting multiplies it by this (m).
inline constexpr double kGkZonePrefixFactor = 1000000.0;

struct Cgcs2000Figures {
    double length_m = 0;  ///< track length, or a field's perimeter (open line for work)
    double area_m2 = 0;   ///< ring area (absolute); 0 for tracks and lines
};

/// Perimeter and absolute area of the closed ring `points` on CGCS2000.
Cgcs2000Figures Cgcs2000Ring(std::span<const GeoPoint> points);
/// Geodesic length of an open line on CGCS2000.
double Cgcs2000Length(std::span<const GeoPoint> points);
/// A file's figures on CGCS2000: a field's ring (or open line for harvesting
/// work and two-point fields, as the handheld measures them), a track's
/// segments.
Cgcs2000Figures ComputeCgcs2000(const FieldFile& f);

/// The 3-degree zone whose band [3n - 1.5, 3n + 1.5) holds `lon`.
int Gk3ZoneOf(double lon);
/// The 6-degree zone whose band [6n - 6, 6n) holds `lon` (east of 0).
int Gk6ZoneOf(double lon);

/// A Gauss-Krueger projection on CGCS2000: its central meridian and whether
/// the zone number is written in front of the easting.
struct GkZone {
    int width = kGk3Width;  ///< kGk3Width or kGk6Width
    int zone = 0;
    bool zoneInEasting = false;
    double CentralMeridian() const {
        return width == kGk3Width ? kGk3Width * zone : kGk6Width * zone - kGk3Width;
    }
    /// The EPSG code of this zone, 0 when EPSG has none (China's zones only:
    /// 3-degree 25..45, 6-degree 13..23).
    int Epsg() const;
    /// The PROJ definition (tmerc on the CGCS2000 ellipsoid), for any zone.
    std::string ProjDefinition() const;
};

/// The projection of an EPSG code when it is one of CGCS2000's
/// Gauss-Krueger zones (4491..4554), else nullopt.
std::optional<GkZone> GkZoneOfEpsg(int epsg);

struct GkPoint {
    double x = 0;  ///< northing (m)
    double y = 0;  ///< easting (m), with the zone prefix when the zone says so
};

/// Projects `points` onto `zone` (PROJ through GDAL's spatial references,
/// longitude first). nullopt when PROJ cannot build the projection.
std::optional<std::vector<GkPoint>> ToGk(const GkZone& zone, std::span<const GeoPoint> points);
/// The inverse: grid coordinates back to degrees (lon/lat only).
std::optional<std::vector<GeoPoint>> FromGk(const GkZone& zone, std::span<const GkPoint> points);

/// Plane area of the ring `points` projected onto the 3-degree zone of its
/// centre, without the zone prefix.
struct Gk3Figures {
    int zone = 0;
    double centralMeridian = 0;
    double area_m2 = 0;
};
std::optional<Gk3Figures> ComputeGk3(std::span<const GeoPoint> ring);
/// The field's plane area in the zone of its boundary, its holes taken out.
std::optional<Gk3Figures> ComputeGk3(const FieldFile& f);

/// Absolute shoelace area of a plane ring (m²).
double PlaneArea(std::span<const GkPoint> ring);
/// Signed shoelace area as seen on a north-up map (east right): positive
/// counter-clockwise, negative clockwise.
double SignedPlaneArea(std::span<const GkPoint> ring);

/// The order land surveys number a ring (open, no repeated point) in: from
/// its north-west-most point (the one nearest the north-west corner of its
/// extent), clockwise on a north-up map for a boundary, counter-clockwise
/// for a hole. Indices into `ring`.
std::vector<std::size_t> NumberingOrder(std::span<const GkPoint> ring, bool clockwise);

}  // namespace dorvane::geo
