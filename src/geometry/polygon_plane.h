// The plane of a polygon in space, and the map from the polygon's corners to
// 2-D points of that plane for the triangulator.
//
// The plane's normal is Newell's: the sum of the cross products of the
// corners taken in order, which is the polygon's area vector (twice the area
// long) and stays sensible for polygons that are not quite flat or have
// collinear corners. Its direction follows the winding by the right-hand
// rule, and the 2-D axes are chosen so that a loop wound counter-clockwise
// about the normal is counter-clockwise in the plane: triangles that come
// back counter-clockwise in 2-D face the normal's side in space.
#pragma once

#include <array>
#include <span>

#include "base/vecmath.h"
#include "geometry/triangulate.h"

namespace sky {

using Vec3 = std::array<double, 3>;

// Newell's area vector of the loop of `count` corners `corner(i)`.
template <class CornerFn>
Vec3 newell_normal(std::size_t count, CornerFn corner) {
    Vec3 n{0, 0, 0};
    for (std::size_t i = 0; i < count; ++i) {
        // The wrap by comparison: a remainder is a division, and most
        // polygons are triangles, whose three corners would pay for one each.
        const Vec3& a = corner(i);
        const Vec3& b = corner(i + 1 == count ? 0 : i + 1);
        n[0] += (a[1] - b[1]) * (a[2] + b[2]);
        n[1] += (a[2] - b[2]) * (a[0] + b[0]);
        n[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    return n;
}

// Unit axes u, v of a plane with unit normal n, with u × v = n.
struct PlaneAxes {
    Vec3 u{1, 0, 0};
    Vec3 v{0, 1, 0};
    Vec3 n{0, 0, 1};

    Point2 project(const Vec3& p) const { return {dot(p, u), dot(p, v)}; }
};

// Axes for the plane whose normal is `normal` (any length). False, leaving
// `axes` alone, when the normal is zero or not finite.
bool plane_axes(const Vec3& normal, PlaneAxes& axes);

}  // namespace sky
