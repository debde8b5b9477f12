// Triangulation of flat regions: a face's outline with its holes, a polygon
// of more than three corners, a trim region in (u, v).
//
// A region is given as closed loops of 2-D points, the first the outline and
// the others holes; a loop's last point joins its first, and may repeat it.
// The region is what lies inside the outline (odd crossing rule, so a loop
// that crosses itself still has an inside) and outside the holes: each hole
// is turned counter-clockwise, their winding numbers are added, and a point
// with a non-zero sum is out, so overlapping holes cut once. Holes may lie
// partly or wholly outside the outline, touch it or each other, or overlap:
// the rule still decides.
//
// Triangles are index triples into `Triangulation::points`, counter-clockwise
// in the plane of the points. The points begin with every input point, loop
// after loop in input order (duplicates included, so index i is the i-th
// input point), followed by the points made where loops cross, each with the
// input edge it lies on so that callers can interpolate what they keep per
// corner (normals, texture coordinates).
//
// Triangles and strictly convex loops without holes are fanned directly;
// everything else goes to a constrained Delaunay triangulation, first with
// fast arithmetic and, when loops cross, again with exact constructions.
// The output vectors keep their capacity between calls: reuse one
// Triangulation to triangulate many regions without allocating.
//
// A flat region in space (a face) goes through the plane of its outline:
// newell_normal and plane_axes (polygon_plane.h) give axes in which the
// outline winds counter-clockwise about its normal; project every loop with
// PlaneAxes::project, triangulate, and the triangles' indices name the 3-D
// points in the same order (reverse each triangle to face the other way).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/object_geometry.h"

namespace sky {

using Point2 = std::array<double, 2>;
using Loop2 = std::span<const Point2>;

enum class TriangulateStatus {
    ok,        // the loops were simple and the holes inside the outline
    repaired,  // loops crossed, overlapped, were degenerate holes or left the
               // outline; the triangles follow the rule above
    empty,     // the region has no area: fewer than 3 distinct outline
               // points, a collinear outline, holes covering everything
    invalid,   // a coordinate is not finite; nothing was triangulated
    failed,    // the triangulator gave up; nothing was triangulated
};

const char* triangulate_status_name(TriangulateStatus status);

// A point made where two loops (or one loop and itself) cross: it lies on
// the input edge from point `from` to point `to`, at `t` along it (0..1).
struct CrossingPoint {
    std::int32_t from = 0;
    std::int32_t to = 0;
    double t = 0;
};

struct Triangulation {
    std::vector<Point2> points;
    std::int32_t input_count = 0;          // points[0 .. input_count) are the input
    std::vector<CrossingPoint> crossings;  // for points[input_count + k]
    std::vector<std::array<std::int32_t, 3>> triangles;

    void clear();
};

// `loops[0]` is the outline. `out` is cleared first.
TriangulateStatus triangulate_region(std::span<const Loop2> loops, Triangulation& out);
// The same region with free points (a surface's samples): those that fall
// inside become corners of the triangles, the others are left out. In
// `out.points` they follow the loops' points, in the order given, and count
// as input; order them so that neighbours follow each other (row by row,
// cell by cell) and the triangulation finds each point's place quickly.
TriangulateStatus triangulate_region(std::span<const Loop2> loops, std::span<const Point2> interior,
                                     Triangulation& out);
TriangulateStatus triangulate_region(const std::vector<std::vector<Point2>>& loops,
                                     Triangulation& out);
TriangulateStatus triangulate_region(const TrimRegion& region, Triangulation& out);
// One loop without holes.
TriangulateStatus triangulate_polygon(Loop2 outline, Triangulation& out);

// Twice the signed area of a loop: positive when counter-clockwise.
double loop_area2(Loop2 loop);

}  // namespace sky
