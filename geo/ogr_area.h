#pragma once
// The geodesic area on WGS84 of an OGR geometry in longitude/latitude: its
// polygons' outer rings less their holes (GeographicLib), lines and points
// nothing. For the GEOS results (MakeValid, intersections) the readers get.

class OGRGeometry;

namespace dorvane::geo {

double GeodesicAreaOf(const OGRGeometry& g);

}  // namespace dorvane::geo
