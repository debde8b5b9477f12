// Axes of a polygon's plane.
#include "geometry/polygon_plane.h"

#include <cmath>

namespace sky {

bool plane_axes(const Vec3& normal, PlaneAxes& axes) {
    double size = 0;
    const Vec3 n = normalise(normal, &size);
    if (!(size > 0) || !std::isfinite(size)) return false;
    // Start u from the world axis least aligned with n, so that it is far
    // from parallel to n and the cross products stay well conditioned.
    Vec3 seed{0, 0, 0};
    double ax = std::fabs(n[0]), ay = std::fabs(n[1]), az = std::fabs(n[2]);
    seed[ax <= ay && ax <= az ? 0 : ay <= az ? 1 : 2] = 1;
    const Vec3 u = normalise(cross(seed, n));
    axes = {u, cross(n, u), n};
    return true;
}

}  // namespace sky
