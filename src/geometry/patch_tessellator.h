// The tessellator: the way a patch becomes triangles in scenes of version 9.5
// and later, or with `tessellator = 1;` (the patch's `tessellator_path`).
//
// Unlike classic subdivision, which judges flatness by the control net of
// each Bézier span, the tessellator samples the surface itself. It starts
// from an initial iso-parametric grid whose lines run along the knot span
// borders, refines each grid cell as a quadtree while the surface strays
// from the cell's triangles by more than the flatness tolerance (or, with
// `limit_edge_length`, while an edge is longer than `max_edge_length`), and
// meshes the leaves without cracks. A trimmed patch hands the leaves to the
// trimmed-surface triangulator instead, one trim region (face) at a time.
//
// Settings of the environment, read once per run:
//   QUORL_AG_DEGREE_GRID  set: the initial grid follows the degree, not the spans
//   QUORL_AG_MAXSUBD      the deepest quadtree level, an integer 0..20 (10)
//   QUORL_AG_FTOL         the flatness tolerance in place of every patch's
//                         `surface_smoothness`, relative to the patch's size
//   QUORL_AG_DUMP         set: a trim region that fails is written to files
#pragma once

#include <vector>

#include "geometry/object_geometry.h"
#include "geometry/surface_point.h"

namespace sky {

inline constexpr int kDefaultTessellatorLevel = 10;
inline constexpr int kMaxTessellatorLevel = 20;
// The initial grid never has more cells than this.
inline constexpr int kMaxInitialGridCells = 10000;

struct TessellatorEnvironment {
    bool degree_grid = false;
    int max_level = kDefaultTessellatorLevel;
    double flatness = 0;  // relative to the patch's size; 0: the patch's own
    bool dump = false;
};

// Reads the variables now. A value it cannot use is reported as a warning
// naming the variable and replaced by the default.
TessellatorEnvironment read_tessellator_environment();

// The run's settings: read by whichever thread asks first, then kept.
const TessellatorEnvironment& tessellator_environment();

// How the initial grid was chosen: from the knot spans, or from the degree
// (spans × degree cells, the resolution of the control net).
enum class InitialGridMode : int { span = 1, degree = 3 };

// What the tessellator settled on for one surface.
struct TessellatorSetup {
    InitialGridMode mode = InitialGridMode::span;
    int udegree = 1, vdegree = 1;
    int uspans = 1, vspans = 1;
    std::vector<double> uborders, vborders;  // span borders in (u, v)
    int ucells = 1, vcells = 1;              // the initial grid
    int max_level = kDefaultTessellatorLevel;
    double tolerance = 0;  // object space
    double max_edge = 0;   // object space; 0: edges are not limited
};

// The failures the tessellator reports, by code; the texts are the
// messages' own, newline included.
enum TessellationError : int {
    kTessellationNoGrid = 1,
    kTessellationBadPolygon = 2,
    kTessellationTrimsTooComplex = 3,
    kTessellationSubdivisionFailed = 4,
    kTessellationBoundTooSmall = 5,
};
const char* tessellation_error_text(int code);

// Tessellates one patch with the given settings. Unless the run is quiet,
// prints the surface's degrees, spans and initial grid first. A failure is
// reported as a warning with its text, then "object %s failed to
// tessellate.", and the result is false: the caller discards whatever the
// sink received.
bool tessellate_with_tessellator(const PatchGeometry& patch, const char* name,
                                 const TessellatorEnvironment& environment, TriangleSink& sink);

}  // namespace sky
