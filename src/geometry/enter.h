// From a tessellator's triangle to set-up screen triangles: culling against
// the window, the minimum area, the guard-band split and the set-up of the
// triangle record the samplers read.
#pragma once

#include "geometry/geometry_view.h"
#include "geometry/screen_geometry.h"

namespace sky {

// Culls, splits or sets up one triangle of `storage` from its three
// corners (screen values filled from the eye values); `split_depth` is how
// many more times it may be halved. True when anything was entered.
bool enter_triangle(ObjectTriangles& storage, const CornerValues& v0, const CornerValues& v1,
                    const CornerValues& v2, int split_depth);

// The same for a caller that has the corners' screen positions in double
// as bucket entry projects them (project_to_screen of each corner's eye
// position, x then y): a corner shared by several triangles is then
// projected once. `known`, when given, holds for each corner what
// store_vertex takes as `known`: the vertex stored for an identical corner.
bool enter_triangle(ObjectTriangles& storage, const CornerValues& v0, const CornerValues& v1,
                    const CornerValues& v2, int split_depth, const double (*screen)[2],
                    ScreenVertex** const* known = nullptr);

// Fills the corner's screen x, y and depth from its eye position.
void project_corner(const GeometryView& view, CornerValues& corner);

// A still corner of a depth-only object whose vertices are not counted: its
// eye and screen positions, and what its triangles' culling, rows and cell
// box take from it alone. Each of those is a least or greatest of its
// corners' values (trunc and the outward roundings keep the order of
// values), so a corner shared by several triangles works them out once.
struct DepthCorner {
    float eye[3];
    float screen[3];  // x, y, depth
    // The row (trunc of y) of the corner's screen position in double, as
    // bucket entry projects it; with `boxed` (x and y in [0, 1e9)), its
    // column rounded down and up as a cell box rounds its extremes.
    std::int32_t row, column_low, column_high;
    bool boxed;
    // In front of the near plane and within the guard band: a triangle of
    // three such corners is entered as it is, uncut and unsplit.
    bool whole;
    bool beyond_far;
};

// The corner's screen position and the rest from its eye position.
void make_depth_corner(const GeometryView& view, DepthCorner& corner);

// enter_triangle for a triangle of a depth-only object whose corners are
// all whole: the same culling and set-up, with the corners' own values.
// True when it was entered.
bool enter_depth_triangle(ObjectTriangles& storage, const GeometryView& view, const DepthCorner& v0,
                          const DepthCorner& v1, const DepthCorner& v2);

}  // namespace sky
