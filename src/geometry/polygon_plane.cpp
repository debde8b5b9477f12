// Axes of a polygon's plane.
#include "geometry/polygon_plane.h"

#include <cmath>

namespace sky {

double length(const Vec3& v) {
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

bool plane_axes(const Vec3& normal, PlaneAxes& axes) {
    double size = length(normal);
    if (!(size > 0) || !std::isfinite(size)) return false;
    Vec3 n{normal[0] / size, normal[1] / size, normal[2] / size};
    // Start u from the world axis least aligned with n, so that it is far
    // from parallel to n and the cross products stay well conditioned.
    Vec3 seed{0, 0, 0};
    double ax = std::fabs(n[0]), ay = std::fabs(n[1]), az = std::fabs(n[2]);
    seed[ax <= ay && ax <= az ? 0 : ay <= az ? 1 : 2] = 1;
    // u = seed × n, normalised; v = n × u.
    Vec3 u{seed[1] * n[2] - seed[2] * n[1], seed[2] * n[0] - seed[0] * n[2],
           seed[0] * n[1] - seed[1] * n[0]};
    double u_size = length(u);
    u = {u[0] / u_size, u[1] / u_size, u[2] / u_size};
    Vec3 v{n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2], n[0] * u[1] - n[1] * u[0]};
    axes = {u, v, n};
    return true;
}

}  // namespace sky
