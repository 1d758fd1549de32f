#include "ui/map_lod.h"

#include <algorithm>
#include <cmath>

namespace dorvane {
namespace {

double Cross(const WorldPoint& a, const WorldPoint& b) {
    return a.x * b.y - a.y * b.x;
}
double Dot(const WorldPoint& a, const WorldPoint& b) {
    return a.x * b.x + a.y * b.y;
}

// True when direction u lies in the cone swept counter-clockwise from r to
// l, a cone narrower than half a turn.
bool Inside(const WorldPoint& u, const WorldPoint& r, const WorldPoint& l) {
    return Cross(r, u) >= 0 && Cross(u, l) >= 0 && Dot(u, {r.x + l.x, r.y + l.y}) > 0;
}

// The directions from the anchor along which a straight piece passes within
// the tolerance of every point taken since the anchor: the intersection of
// the points' own cones, each narrower than half a turn, so a cone of the
// same kind (unit edge vectors right_ and left_) or nothing.
class CSleeve {
public:
    explicit CSleeve(double tolerance) : tol_(tolerance) {}

    void Reset() {
        cone_ = false;
        empty_ = false;
        far2_ = 0;
    }
    /// True when a piece from the anchor to anchor + v passes within the
    /// tolerance of every point taken since the anchor.
    bool Reaches(const WorldPoint& v) const {
        if (empty_) return false;
        // No point taken may lie farther out than the piece's end, or the
        // end itself would be farther than the tolerance from it.
        if (Dot(v, v) < far2_) return false;
        return !cone_ || Inside(v, right_, left_);
    }
    /// Takes the point at anchor + v.
    void Take(const WorldPoint& v) {
        const double d2 = Dot(v, v);
        far2_ = std::max(far2_, d2);
        if (d2 <= tol_ * tol_) return;  // within reach of the anchor itself
        // Its own cone: v turned both ways by the angle whose sine is tol/d.
        const double inv = 1 / std::sqrt(d2);
        const double s = tol_ * inv;
        const double c = std::sqrt(1 - s * s);
        const WorldPoint u{v.x * inv, v.y * inv};
        const WorldPoint l{u.x * c - u.y * s, u.x * s + u.y * c};
        const WorldPoint r{u.x * c + u.y * s, -u.x * s + u.y * c};
        if (!cone_) {
            right_ = r;
            left_ = l;
            cone_ = true;
            return;
        }
        const bool rIn = Inside(r, right_, left_);
        const bool lIn = Inside(l, right_, left_);
        const bool haveRight = rIn || Inside(right_, r, l);
        const bool haveLeft = lIn || Inside(left_, r, l);
        if (!haveRight || !haveLeft) {
            empty_ = true;
            return;
        }
        if (rIn) right_ = r;
        if (lIn) left_ = l;
    }

private:
    double tol_;
    bool cone_ = false;
    bool empty_ = false;
    double far2_ = 0;
    WorldPoint right_, left_;
};

bool Touches(const WorldPoint& a, const WorldPoint& b, const PlaneRect& r) {
    return std::max(a.x, b.x) >= r.left && std::min(a.x, b.x) <= r.right &&
           std::max(a.y, b.y) >= r.top && std::min(a.y, b.y) <= r.bottom;
}

}  // namespace

void SimplifyLine(std::span<const WorldPoint> in, double tolerance, std::vector<WorldPoint>& out) {
    if (in.empty()) return;
    out.push_back(in[0]);
    if (in.size() == 1) return;
    CSleeve sleeve(tolerance);
    WorldPoint anchor = in[0];
    for (std::size_t j = 1; j < in.size(); ++j) {
        WorldPoint v{in[j].x - anchor.x, in[j].y - anchor.y};
        if (!sleeve.Reaches(v)) {
            // The point before could still end a piece: keep it, start anew.
            anchor = in[j - 1];
            out.push_back(anchor);
            sleeve.Reset();
            v = {in[j].x - anchor.x, in[j].y - anchor.y};
        }
        sleeve.Take(v);
    }
    out.push_back(in.back());
}

void DecimateForScreen(std::span<const WorldPoint> screen, const PlaneRect& view,
                       double tolerancePx, LineRuns& out) {
    std::size_t i = 0;
    while (i + 1 < screen.size()) {
        if (!Touches(screen[i], screen[i + 1], view)) {
            ++i;
            continue;
        }
        std::size_t e = i + 1;  // the run is screen[i..e]
        while (e + 1 < screen.size() && Touches(screen[e], screen[e + 1], view)) ++e;
        out.starts.push_back(out.points.size());
        SimplifyLine(screen.subspan(i, e - i + 1), tolerancePx, out.points);
        i = e;
    }
}

}  // namespace dorvane
