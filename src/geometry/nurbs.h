// NURBS curves and surfaces as the renderer stores them.
//
// Knots follow the scene language: a direction of n control vertices and
// degree d has n + d − 1 knots; the outermost knot at each end of the usual
// n + d + 1 is implied (it repeats its neighbour). Control vertices are
// Cartesian positions with a separate weight (not multiplied by it).
#pragma once

#include <cstdint>
#include <vector>

namespace sky {

struct WeightedPoint {
    double x = 0, y = 0, z = 0;
    double w = 1;
};

enum NurbsForm : std::int32_t {
    NURBS_OPEN = 0,
    NURBS_CLOSED = 2,  // the scene's `uclosed` / `vclosed`
};

struct NurbsCurve {
    std::int32_t degree = 1;
    std::int32_t form = NURBS_OPEN;
    std::vector<double> knots;  // cvs.size() + degree − 1
    std::vector<WeightedPoint> cvs;
};

struct NurbsSurface {
    std::int32_t udegree = 1, vdegree = 1;
    std::int32_t ucount = 0;  // rows of control vertices (along u)
    std::int32_t vcount = 0;  // control vertices per row (along v)
    std::int32_t uform = NURBS_OPEN, vform = NURBS_OPEN;
    std::vector<double> uknots;      // ucount + udegree − 1
    std::vector<double> vknots;      // vcount + vdegree − 1
    std::vector<WeightedPoint> cvs;  // row by row: cvs[u * vcount + v]

    const WeightedPoint& cv(int u, int v) const {
        return cvs[static_cast<std::size_t>(u) * vcount + v];
    }
    WeightedPoint& cv(int u, int v) { return cvs[static_cast<std::size_t>(u) * vcount + v]; }
};

}  // namespace sky
