// Trimmed surfaces: what is left of a surface's (u, v) domain inside its trim
// regions, made into triangles.
//
// Both ways a patch becomes triangles decide first how finely the surface
// must be sampled, as a set of rectangular cells covering the domain (the
// leaves of their subdivision). A trimmed surface then does not cut those
// cells one by one: every cell corner that lies in a region becomes a point
// of one constrained Delaunay triangulation of the region, whose constraints
// are the trim loops, themselves split into pieces no longer than the cells
// they cross. So triangles never leave the region, a hole's inside is never
// covered, and the density follows the subdivision's. Every point is then
// evaluated once on the surface.
//
// Trim loops are given in the surface's parameter space (the range of its
// knots); a loop reaching outside the range is cut to it, since there is no
// surface there.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "geometry/nurbs_ops.h"
#include "geometry/object_geometry.h"
#include "geometry/surface_point.h"

namespace sky {

// A leaf of a subdivision of the domain: [u0, u1] × [v0, v1].
struct UvCell {
    double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
};

// Evaluates the surface at (u, v): position, unit normal and the parameters.
class SurfaceEvaluator {
public:
    virtual ~SurfaceEvaluator() = default;
    virtual void point(double u, double v, SurfacePoint& out) const = 0;
};

// A built surface evaluated directly (evaluate_surface: the normal of a
// nearby point at poles).
class BuiltSurfaceEvaluator : public SurfaceEvaluator {
public:
    explicit BuiltSurfaceEvaluator(const BuiltSurface& surface) : surface_(surface) {}
    void point(double u, double v, SurfacePoint& out) const override;
    // {umin, vmin, umax, vmax}
    void domain(double out[4]) const;

private:
    const BuiltSurface& surface_;
};

// Why a region made no triangles.
enum class TrimFailure {
    none,
    degenerate,  // its outline has no area after cleaning
    invalid,     // a trim point is not finite
    failed,      // the triangulation gave up
};

struct TrimmedResult {
    int regions_done = 0;
    int triangles = 0;
    // One entry per region that made nothing, with its index.
    std::vector<std::pair<int, TrimFailure>> failures;
};

// Cleans the loops the way every path reads them: a loop of one point is
// dropped with "Ignoring a trim curve with only one point.", successive
// duplicates (and a last point repeating the first) are removed, and a
// loop that collapses to a single point is dropped with "Error: trim curve
// reduced to a single point with duplicates removed.\n". A region whose
// outline goes is dropped with its holes.
std::vector<TrimRegion> clean_trim_regions(std::span<const TrimRegion> regions);

// Triangulates every region of `regions` (already cleaned) over the sample
// cells and hands the triangles, counter-clockwise in (u, v), to `sink`.
// `domain` is {umin, vmin, umax, vmax}. Prints nothing.
TrimmedResult tessellate_trimmed(const SurfaceEvaluator& surface, const double domain[4],
                                 std::span<const TrimRegion> regions, std::span<const UvCell> cells,
                                 TriangleSink& sink);

}  // namespace sky
