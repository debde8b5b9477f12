// Triangulation of flat regions: input checks, the loops' clean-up, the fan
// for convex loops, and the bookkeeping of crossing points around the
// constrained Delaunay step.
#include "geometry/triangulate.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/triangulate_cdt.h"

namespace sky {
namespace {

double cross(const Point2& o, const Point2& a, const Point2& b) {
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// The loops after clean-up: corner indices into the flattened input, with
// runs of equal points (the closing repeat included) kept once.
struct CleanLoops {
    std::vector<std::int32_t> corners;
    std::vector<std::size_t> starts;  // one past the last loop's end at the back
    std::vector<cdt::Loop> loops;

    std::span<const std::int32_t> loop(std::size_t l) const {
        return {corners.data() + starts[l], starts[l + 1] - starts[l]};
    }
};

// Twice the signed area of a cleaned loop.
double corner_area2(std::span<const Point2> points, std::span<const std::int32_t> corners) {
    double sum = 0;
    for (std::size_t i = 0, n = corners.size(); i < n; ++i) {
        const Point2& a = points[static_cast<std::size_t>(corners[i])];
        const Point2& b = points[static_cast<std::size_t>(corners[(i + 1) % n])];
        sum += a[0] * b[1] - a[1] * b[0];
    }
    return sum;
}

// A loop with no area at all: fewer than three distinct points, or all on
// one line. Loops that merely have zero signed area (a symmetric bow tie)
// still enclose something.
bool is_flat(std::span<const Point2> points, std::span<const std::int32_t> corners) {
    if (corners.size() < 3) return true;
    const Point2& o = points[static_cast<std::size_t>(corners[0])];
    const Point2& a = points[static_cast<std::size_t>(corners[1])];
    for (std::size_t i = 2; i < corners.size(); ++i) {
        if (cross(o, a, points[static_cast<std::size_t>(corners[i])]) != 0) return false;
    }
    return true;
}

// Strictly convex and simple: every turn the same way and the edge
// directions going round once (a pentagram turns the same way throughout
// but changes the sign of its x steps more than twice). Returns +1 for a
// counter-clockwise convex loop, −1 for a clockwise one, 0 otherwise.
int convex_orientation(std::span<const Point2> points, std::span<const std::int32_t> corners) {
    std::size_t n = corners.size();
    if (n < 3) return 0;
    int turn = 0;
    int x_changes = 0, y_changes = 0;
    int last_dx = 0, last_dy = 0, first_dx = 0, first_dy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point2& a = points[static_cast<std::size_t>(corners[i])];
        const Point2& b = points[static_cast<std::size_t>(corners[(i + 1) % n])];
        const Point2& c = points[static_cast<std::size_t>(corners[(i + 2) % n])];
        double z = cross(a, b, c);
        int sign = z > 0 ? 1 : z < 0 ? -1 : 0;
        if (sign == 0 || (turn != 0 && sign != turn)) return 0;
        turn = sign;
        int dx = b[0] > a[0] ? 1 : b[0] < a[0] ? -1 : 0;
        int dy = b[1] > a[1] ? 1 : b[1] < a[1] ? -1 : 0;
        if (dx != 0) {
            if (last_dx != 0 && dx != last_dx) ++x_changes;
            if (first_dx == 0) first_dx = dx;
            last_dx = dx;
        }
        if (dy != 0) {
            if (last_dy != 0 && dy != last_dy) ++y_changes;
            if (first_dy == 0) first_dy = dy;
            last_dy = dy;
        }
    }
    if (last_dx != first_dx) ++x_changes;  // the wrap from the last edge to the first
    if (last_dy != first_dy) ++y_changes;
    return x_changes <= 2 && y_changes <= 2 ? turn : 0;
}

void fan(std::span<const std::int32_t> corners, int orientation, Triangulation& out) {
    for (std::size_t i = 1; i + 1 < corners.size(); ++i) {
        if (orientation > 0)
            out.triangles.push_back({corners[0], corners[i], corners[i + 1]});
        else
            out.triangles.push_back({corners[0], corners[i + 1], corners[i]});
    }
}

// The input edge a crossing point lies on: the nearest one.
CrossingPoint locate_crossing(const Point2& p, std::span<const Point2> points,
                              const CleanLoops& clean) {
    CrossingPoint best;
    double best_distance = std::numeric_limits<double>::infinity();
    for (std::size_t l = 0; l < clean.loops.size(); ++l) {
        std::span<const std::int32_t> corners = clean.loops[l].corners;
        for (std::size_t i = 0, n = corners.size(); i < n; ++i) {
            std::int32_t from = corners[i], to = corners[(i + 1) % n];
            const Point2& a = points[static_cast<std::size_t>(from)];
            const Point2& b = points[static_cast<std::size_t>(to)];
            double ex = b[0] - a[0], ey = b[1] - a[1];
            double length2 = ex * ex + ey * ey;
            double t = length2 > 0 ? ((p[0] - a[0]) * ex + (p[1] - a[1]) * ey) / length2 : 0;
            t = std::clamp(t, 0.0, 1.0);
            double dx = a[0] + t * ex - p[0], dy = a[1] + t * ey - p[1];
            double distance = dx * dx + dy * dy;
            if (distance < best_distance) {
                best_distance = distance;
                best = {from, to, t};
            }
        }
    }
    return best;
}

}  // namespace

const char* triangulate_status_name(TriangulateStatus status) {
    switch (status) {
        case TriangulateStatus::ok:
            return "ok";
        case TriangulateStatus::repaired:
            return "repaired";
        case TriangulateStatus::empty:
            return "empty";
        case TriangulateStatus::invalid:
            return "invalid";
        case TriangulateStatus::failed:
            return "failed";
    }
    return "unknown";
}

void Triangulation::clear() {
    points.clear();
    input_count = 0;
    crossings.clear();
    triangles.clear();
}

double loop_area2(Loop2 loop) {
    double sum = 0;
    for (std::size_t i = 0, n = loop.size(); i < n; ++i) {
        const Point2& a = loop[i];
        const Point2& b = loop[(i + 1) % n];
        sum += a[0] * b[1] - a[1] * b[0];
    }
    return sum;
}

TriangulateStatus triangulate_region(std::span<const Loop2> loops, Triangulation& out) {
    return triangulate_region(loops, {}, out);
}

TriangulateStatus triangulate_region(std::span<const Loop2> loops, std::span<const Point2> interior,
                                     Triangulation& out) {
    out.clear();
    if (loops.empty()) return TriangulateStatus::empty;
    for (Loop2 loop : loops) {
        for (const Point2& p : loop) {
            if (!std::isfinite(p[0]) || !std::isfinite(p[1])) return TriangulateStatus::invalid;
        }
        if (out.points.size() + loop.size() > static_cast<std::size_t>(INT32_MAX / 2))
            return TriangulateStatus::invalid;
        out.points.insert(out.points.end(), loop.begin(), loop.end());
    }
    const std::size_t loop_points = out.points.size();
    for (const Point2& p : interior) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1])) return TriangulateStatus::invalid;
    }
    if (out.points.size() + interior.size() > static_cast<std::size_t>(INT32_MAX / 2))
        return TriangulateStatus::invalid;
    out.points.insert(out.points.end(), interior.begin(), interior.end());
    out.input_count = static_cast<std::int32_t>(out.points.size());

    // Thread-local so that triangulating many small regions costs no heap
    // calls once the buffers have grown.
    thread_local CleanLoops clean;
    clean.corners.clear();
    clean.starts.clear();
    clean.loops.clear();
    bool repaired = false;
    std::int32_t first = 0;
    for (std::size_t l = 0; l < loops.size(); ++l) {
        std::size_t start = clean.corners.size();
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(loops[l].size()); ++i) {
            std::int32_t index = first + i;
            if (clean.corners.size() > start &&
                out.points[static_cast<std::size_t>(clean.corners.back())] == out.points[index])
                continue;
            clean.corners.push_back(index);
        }
        while (clean.corners.size() > start + 1 &&
               out.points[static_cast<std::size_t>(clean.corners.back())] ==
                   out.points[static_cast<std::size_t>(clean.corners[start])])
            clean.corners.pop_back();
        first += static_cast<std::int32_t>(loops[l].size());

        std::span<const std::int32_t> corners(clean.corners.data() + start,
                                              clean.corners.size() - start);
        if (is_flat(out.points, corners)) {
            // A flat outline leaves nothing to triangulate; a flat hole
            // takes nothing away.
            if (l == 0) return TriangulateStatus::empty;
            clean.corners.resize(start);
            repaired = true;
            continue;
        }
        clean.starts.push_back(start);
        cdt::Loop loop;
        loop.outline = l == 0;
        loop.hole_sign = corner_area2(out.points, corners) >= 0 ? 1 : -1;
        clean.loops.push_back(loop);
    }
    clean.starts.push_back(clean.corners.size());
    for (std::size_t l = 0; l < clean.loops.size(); ++l) clean.loops[l].corners = clean.loop(l);

    if (clean.loops.size() == 1 && interior.empty()) {
        int orientation = convex_orientation(out.points, clean.loops[0].corners);
        if (orientation != 0) {
            fan(clean.loops[0].corners, orientation, out);
            return repaired ? TriangulateStatus::repaired : TriangulateStatus::ok;
        }
    }

    cdt::Outcome outcome = cdt::triangulate(
        std::span<const Point2>(out.points.data(), static_cast<std::size_t>(out.input_count)),
        clean.loops, loop_points, out);
    if (outcome.failed) {
        out.triangles.clear();
        return TriangulateStatus::failed;
    }
    for (std::size_t k = static_cast<std::size_t>(out.input_count); k < out.points.size(); ++k)
        out.crossings.push_back(locate_crossing(out.points[k], out.points, clean));
    if (out.triangles.empty()) return TriangulateStatus::empty;
    if (repaired || outcome.crossed || outcome.overlapped || outcome.hole_outside)
        return TriangulateStatus::repaired;
    return TriangulateStatus::ok;
}

TriangulateStatus triangulate_region(const std::vector<std::vector<Point2>>& loops,
                                     Triangulation& out) {
    thread_local std::vector<Loop2> spans;
    spans.assign(loops.begin(), loops.end());
    return triangulate_region(spans, out);
}

TriangulateStatus triangulate_region(const TrimRegion& region, Triangulation& out) {
    thread_local std::vector<Loop2> spans;
    spans.clear();
    for (const TrimLoop& loop : region.loops) spans.emplace_back(loop.points);
    return triangulate_region(spans, out);
}

TriangulateStatus triangulate_polygon(Loop2 outline, Triangulation& out) {
    return triangulate_region(std::span<const Loop2>(&outline, 1), out);
}

}  // namespace sky
