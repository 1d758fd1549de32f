#pragma once
// Level of detail for drawing long lines: a one-pass simplification that
// keeps a line within a tolerance of every point it leaves out, and the
// per-frame step that clips a projected line to the viewport and simplifies
// what is left in screen pixels. The figures never see any of this: they are
// computed on every point of the file. Pure functions; any thread; no Qt.

#include <cstddef>
#include <span>
#include <vector>

namespace dorvane {

/// A point of the plane: Web Mercator world units, or screen pixels.
struct WorldPoint {
    double x = 0;
    double y = 0;
    bool operator==(const WorldPoint&) const = default;
};

/// Axis-aligned rectangle (closed), in the units of the points.
struct PlaneRect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};

/// Appends to `out` the points of the open line `in` to keep: the first and
/// the last always, and between them as few as the "sleeve" test allows, so
/// that every point left out lies within `tolerance` of the straight piece
/// drawn between the kept points around it. A straight run of points
/// collapses to its ends; a corner that sticks out more than `tolerance`
/// stays. One pass, O(n), no trigonometry.
void SimplifyLine(std::span<const WorldPoint> in, double tolerance, std::vector<WorldPoint>& out);

/// Polylines to draw, back to back: run r is points[starts[r]] up to the
/// next start (or the end); every run has at least two points.
struct LineRuns {
    std::vector<WorldPoint> points;
    std::vector<std::size_t> starts;
    void Clear() {
        points.clear();
        starts.clear();
    }
};

/// Screen-space decimation of one projected line (pixels) for a frame: the
/// pieces whose bounding box misses `view` are left out (the runs break
/// there), each piece that crosses the border is kept whole with its point
/// outside, and every run is simplified with SimplifyLine(tolerancePx).
/// Appends to `out`. A line of fewer than two points draws nothing.
void DecimateForScreen(std::span<const WorldPoint> screen, const PlaneRect& view,
                       double tolerancePx, LineRuns& out);

}  // namespace dorvane
