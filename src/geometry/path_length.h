// Points along a curve by arc length, for motion paths: an object that
// travels a path at a steady fraction per frame moves at a steady speed,
// however the curve's parameter is spaced (a rational circle's is not even).
#pragma once

#include <array>

#include "geometry/nurbs_ops.h"

namespace sky {

struct PathPoint {
    std::array<double, 3> position{};
    std::array<double, 3> direction{};  // unit tangent, in the direction of travel
    double length = 0;                  // of the whole curve
};

// The point `fraction` of the way along the curve's length (0 its start,
// 1 its end; clamped into [0, 1]). False when the curve has no length, so
// that no direction of travel can be found at its ends.
bool point_at_length(const BuiltCurve& curve, double fraction, PathPoint& out);

}  // namespace sky
