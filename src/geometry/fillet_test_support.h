// A fillet between a sphere and a plane below it for tests and benchmarks:
// the unit sphere, its pole axis y, above the plane y = 0, joined along a
// latitude of the sphere and a circle on the plane cut into three arcs.
#pragma once

#include <cmath>

#include "geometry/fillet_blend.h"

namespace sky::test {

inline constexpr double kSphereY = 1.5;   // the unit sphere's centre is (0, 1.5, 0)
inline constexpr double kCircle = 2.0;    // the plane's circle around the y axis
inline constexpr double kLatitude = 0.5;  // the sphere's v of the latitude

// The unit sphere around (0, kSphereY, 0), its pole axis y: u (0..4) around,
// v (0..2) from the bottom pole to the top.
inline NurbsSurface sphere() {
    const double w = std::sqrt(0.5);
    const double ring[9][3] = {{1, 0, 1},  {1, -1, w}, {0, -1, 1}, {-1, -1, w}, {-1, 0, 1},
                               {-1, 1, w}, {0, 1, 1},  {1, 1, w},  {1, 0, 1}};
    const double arc[5][3] = {{0, -1, 1}, {1, -1, w}, {1, 0, 1}, {1, 1, w}, {0, 1, 1}};
    NurbsSurface s;
    s.udegree = s.vdegree = 2;
    s.ucount = 9;
    s.vcount = 5;
    s.uknots = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
    s.vknots = {0, 0, 1, 1, 2, 2};
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 5; ++j)
            s.cvs.push_back({ring[i][0] * arc[j][0], arc[j][1] + kSphereY, ring[i][1] * arc[j][0],
                             ring[i][2] * arc[j][2]});
    return s;
}

// The plane y = 0 over x, z ∈ [−3, 3]: u along x, v along z.
inline NurbsSurface plane() {
    NurbsSurface s;
    s.ucount = s.vcount = 2;
    s.uknots = {0, 1};
    s.vknots = {0, 1};
    s.cvs = {{-3, 0, -3, 1}, {-3, 0, 3, 1}, {3, 0, -3, 1}, {3, 0, 3, 1}};
    return s;
}

// The plane's circle from angle a0 to a1 (degrees, at most 120 apart) in
// its (u, v): x = cos, z = −sin, as the sphere's u runs.
inline NurbsCurve plane_arc(double a0, double a1) {
    const double r = kCircle / 6.0, half = (a1 - a0) / 2 * M_PI / 180;
    auto at = [&](double a, double scale) {
        a *= M_PI / 180;
        return WeightedPoint{0.5 + scale * r * std::cos(a), 0.5 - scale * r * std::sin(a), 0, 1};
    };
    NurbsCurve c;
    c.degree = 2;
    c.knots = {0, 0, 1, 1};
    c.cvs = {at(a0, 1), at((a0 + a1) / 2, 1 / std::cos(half)), at(a1, 1)};
    c.cvs[1].w = std::cos(half);
    return c;
}

// The sphere's latitude from u0 to u1.
inline NurbsCurve latitude(double u0, double u1) {
    NurbsCurve c;
    c.degree = 1;
    c.knots = {0, 1};
    c.cvs = {{u0, kLatitude, 0, 1}, {u1, kLatitude, 0, 1}};
    return c;
}

// Three pairs of arcs around the whole circle; closed when both sequences
// are.
inline FilletSequences three_pairs(bool closed) {
    FilletSequences q;
    for (int i = 0; i < 3; ++i) {
        q.curves1.push_back(plane_arc(120.0 * i, 120.0 * (i + 1)));
        q.surfaces1.push_back(plane());
        q.curves2.push_back(latitude(4.0 * i / 3, 4.0 * (i + 1) / 3));
        q.surfaces2.push_back(sphere());
    }
    q.open1 = q.open2 = !closed;
    return q;
}

}  // namespace sky::test
