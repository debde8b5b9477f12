// The constrained Delaunay step of the triangulator, behind a header free of
// CGAL so that only one file of the program pays for compiling it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/triangulate.h"

namespace sky::cdt {

// One cleaned loop: indices into the point list, no two consecutive equal,
// the closing edge implied.
struct Loop {
    std::span<const std::int32_t> corners;
    bool outline = false;
    int hole_sign = 1;  // +1 for a counter-clockwise hole, −1 for a clockwise one
};

struct Outcome {
    bool failed = false;        // nothing usable; `out` holds no triangles
    bool crossed = false;       // loops crossed: new points were made
    bool overlapped = false;    // an edge carries more than one loop
    bool hole_outside = false;  // some hole area lies outside the outline
};

// Triangulates `loops` over `points` (the input points) and appends to
// `out.points` the crossing points it makes and to `out.triangles` the
// triangles inside the region, counter-clockwise. The points from
// `interior_begin` on belong to no loop: they become corners wherever they
// fall.
Outcome triangulate(std::span<const Point2> points, std::span<const Loop> loops,
                    std::size_t interior_begin, Triangulation& out);

}  // namespace sky::cdt
