// The classic way a patch becomes triangles: the surface cut into its
// Bézier spans, each span divided uniformly or, adaptively, halved until its
// control grid is flat enough. `tessellate_patch` (geometry/tessellate.h)
// runs it for patches on the classic path.
#pragma once

#include "geometry/nurbs_ops.h"

namespace sky {

// Adaptive subdivision runs from level ⌈log2 udivisions⌉ (every span is split
// at least that often in each direction) to ⌈log2 vdivisions⌉, capped at
// kMaxSubdivisionLevel.
inline constexpr int kMaxSubdivisionLevel = 15;
struct SubdivisionLevels {
    int minimum = 0, maximum = 0;
};
SubdivisionLevels adaptive_levels(int udivisions, int vdivisions);

// Which directions of a Bézier control grid (uorder × vorder homogeneous
// points, rows along u) are flat: a direction is flat when, for each of its
// lines, the first and last segments (points divided by their weight) a and
// b satisfy a·b > 0 and (a·b)² > c²·|a|²·|b|², c being the curvature value;
// the diagonals are tested with their first segment at one corner and their
// last at the opposite corner.
struct GridFlatness {
    bool along_u = false;    // every column (fixed v index) is flat
    bool along_v = false;    // every row (fixed u index) is flat
    bool diagonals = false;  // both corner-to-corner diagonals are flat
};
GridFlatness grid_flatness(const Homogeneous* grid, int uorder, int vorder, double curvature);

}  // namespace sky
