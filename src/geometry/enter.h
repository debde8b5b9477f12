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

}  // namespace sky
