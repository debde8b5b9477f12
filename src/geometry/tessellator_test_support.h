// Surfaces and mesh checks shared by the tests of both ways a patch becomes
// triangles (classic subdivision and the tessellator).
#pragma once

#include <array>
#include <cmath>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "geometry/nurbs_ops.h"
#include "geometry/nurbs_test_support.h"

namespace sky::test {

inline const double kHalfRoot2 = std::sqrt(0.5);

// A quarter of a unit cylinder, rational quadratic along u, height 2 along v.
inline NurbsSurface quarter_cylinder() {
    std::vector<WeightedPoint> cvs;
    const WeightedPoint arc[3] = {{1, 0, 0, 1}, {1, 1, 0, kHalfRoot2}, {0, 1, 0, 1}};
    for (const WeightedPoint& p : arc) {
        for (double z : {0.0, 2.0}) cvs.push_back({p.x, p.y, z, p.w});
    }
    return surface(2, 1, 3, 2, {0, 0, 1, 1}, {0, 1}, cvs);
}

// Four cubic spans along u: the first two flat, the last two bent hard both ways.
inline NurbsSurface half_flat() {
    std::vector<WeightedPoint> cvs;
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; j < 4; ++j) {
            const double z = i < 5 ? 0 : 2.0 * (i - 4) * (j - 1.5) * (j - 1.5);
            cvs.push_back({double(i), double(j), z, 1});
        }
    }
    return surface(3, 3, 7, 4, {0, 0, 0, 1, 2, 3, 4, 4, 4}, bezier_knots(3), cvs);
}

// A unit sphere of rational quadratics: along u a half circle from the south
// pole to the north pole (two spans, both ends poles), along v a closed full
// circle (four spans) whose clamped ends meet.
inline NurbsSurface unit_sphere() {
    const double h = kHalfRoot2;
    const double meridian[5][3] = {{0, -1, 1}, {1, -1, h}, {1, 0, 1}, {1, 1, h}, {0, 1, 1}};
    const double circle[9][3] = {{1, 0, 1},   {1, 1, h},  {0, 1, 1},  {-1, 1, h}, {-1, 0, 1},
                                 {-1, -1, h}, {0, -1, 1}, {1, -1, h}, {1, 0, 1}};
    std::vector<WeightedPoint> cvs;
    for (const auto& m : meridian) {
        for (const auto& c : circle) cvs.push_back({m[0] * c[0], m[0] * c[1], m[1], m[2] * c[2]});
    }
    NurbsSurface s = surface(2, 2, 5, 9, {0, 0, 1, 1, 2, 2}, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4}, cvs);
    s.vform = NURBS_CLOSED;
    return s;
}

using Vec = std::array<double, 3>;
inline Vec position(const SurfacePoint& p) {
    return {p.position[0], p.position[1], p.position[2]};
}
inline double area(const Triangle& t) {
    Vec n = cross(sub(position(t.b), position(t.a)), sub(position(t.c), position(t.a)));
    return 0.5 * length(n);
}

// Every vertex lies on the surface at its own (u, v), within `tolerance`,
// with the surface's normal; when the cells are fine enough for it, every
// triangle faces the way its normals point.
inline void expect_on_surface(const NurbsSurface& s, const std::vector<Triangle>& triangles,
                              bool check_facing = true, double tolerance = 1e-9) {
    BuiltSurface b;
    ASSERT_TRUE(build_surface(s, b));
    int checked = 0;
    for (const Triangle& t : triangles) {
        for (const SurfacePoint* p : {&t.a, &t.b, &t.c}) {
            SurfaceEval e;
            evaluate_surface(b, p->u, p->v, e);
            for (std::size_t i = 0; i < 3; ++i) {
                ASSERT_NEAR(p->position[i], e.position[i], tolerance);
                ASSERT_NEAR(p->normal[i], e.normal[i], 1e-6);
            }
            ++checked;
        }
        if (!check_facing) continue;
        Vec facing = cross(sub(position(t.b), position(t.a)), sub(position(t.c), position(t.a)));
        Vec normal = {t.a.normal[0] + t.b.normal[0] + t.c.normal[0],
                      t.a.normal[1] + t.b.normal[1] + t.c.normal[1],
                      t.a.normal[2] + t.b.normal[2] + t.c.normal[2]};
        EXPECT_GT(dot(facing, normal), 0);
    }
    EXPECT_GT(checked, 0);
}

// Directed edges by their end positions, each with how often it is used.
using DirectedEdges = std::map<std::tuple<Vec, Vec>, int>;
inline DirectedEdges directed_edges(const std::vector<Triangle>& triangles) {
    DirectedEdges directed;
    for (const Triangle& t : triangles) {
        const SurfacePoint* v[3] = {&t.a, &t.b, &t.c};
        for (int k = 0; k < 3; ++k) ++directed[{position(*v[k]), position(*v[(k + 1) % 3])}];
    }
    return directed;
}

// Every edge inside the surface is shared by exactly two triangles, once in
// each direction; an edge used once lies on the border of the range. A
// border collapsed to a pole is one point that lies on both neighbouring
// borders too.
inline void expect_watertight(const NurbsSurface& s, const std::vector<Triangle>& triangles) {
    BuiltSurface b;
    ASSERT_TRUE(build_surface(s, b));
    std::map<Vec, unsigned> borders;  // bits: u = umin, umax, v = vmin, vmax
    std::map<unsigned, std::map<Vec, int>> on_line;
    for (const Triangle& t : triangles) {
        for (const SurfacePoint* v : {&t.a, &t.b, &t.c}) {
            const unsigned lines = (v->u == b.umin()) | (v->u == b.umax()) << 1 |
                                   (v->v == b.vmin()) << 2 | (v->v == b.vmax()) << 3;
            borders[position(*v)] |= lines;
            for (unsigned line = 0; line < 4; ++line) {
                if (lines & (1u << line)) on_line[line][position(*v)] = 1;
            }
        }
    }
    for (const auto& [line, points] : on_line) {
        if (points.size() == 1) borders[points.begin()->first] |= line < 2 ? 12u : 3u;
    }
    const DirectedEdges directed = directed_edges(triangles);
    int interior = 0;
    for (const auto& [edge, count] : directed) {
        ASSERT_EQ(count, 1) << "an edge repeats in the same direction";
        const auto& [from, to] = edge;
        if (directed.count({to, from})) {
            ++interior;
        } else {
            EXPECT_NE(borders[from] & borders[to], 0u)
                << "crack at (" << from[0] << ", " << from[1] << ", " << from[2] << ")";
        }
    }
    EXPECT_GT(interior, 0);
}

// A closed surface: every edge is used exactly once in each direction.
inline void expect_closed(const std::vector<Triangle>& triangles) {
    const DirectedEdges directed = directed_edges(triangles);
    int open = 0;
    for (const auto& [edge, count] : directed) {
        ASSERT_EQ(count, 1) << "an edge repeats in the same direction";
        const auto& [from, to] = edge;
        open += directed.count({to, from}) == 0;
    }
    EXPECT_EQ(open, 0);
    EXPECT_GT(directed.size(), 0u);
}

// Scene data of every shape, good and bad: degrees out of range, counts and
// knot lists that do not match, knots out of order, weights of zero or not a
// number, repeated control vertices (poles).
class RandomSurfaces {
public:
    explicit RandomSurfaces(unsigned seed) : random_(seed) {}

    int pick(int low, int high) { return std::uniform_int_distribution(low, high)(random_); }
    double real(double low, double high) {
        return std::uniform_real_distribution(low, high)(random_);
    }

    NurbsSurface next() {
        NurbsSurface s;
        s.udegree = pick(0, 12) == 0 ? pick(-1, 40) : pick(1, 4);
        s.vdegree = pick(1, 3);
        s.ucount = pick(0, 10) == 0 ? pick(0, 7) : std::max(s.udegree, 0) + 1 + pick(0, 3);
        s.vcount = s.vdegree + 1 + pick(0, 3);
        s.uform = pick(0, 1) * NURBS_CLOSED;
        s.vform = pick(0, 1) * NURBS_CLOSED;
        for (auto [knots, count, degree] : {std::tuple{&s.uknots, s.ucount, s.udegree},
                                            std::tuple{&s.vknots, s.vcount, s.vdegree}}) {
            const int n = std::max(0, count + degree - 1 + (pick(0, 10) == 0 ? pick(-1, 1) : 0));
            double k = real(-2, 2);
            for (int i = 0; i < n; ++i) {
                knots->push_back(k);
                k += pick(0, 3) == 0 ? 0 : real(pick(0, 80) == 0 ? -1 : 0, 1);
            }
        }
        const int cvs = s.ucount * s.vcount + (pick(0, 20) == 0 ? 1 : 0);
        for (int i = 0; i < cvs; ++i) {
            WeightedPoint p{real(-5, 5), real(-5, 5), real(-5, 5), real(0.001, 10)};
            if (pick(0, 50) == 0) p.w = pick(0, 1) ? 0.0 : NAN;
            if (pick(0, 8) == 0 && i > 0) p = s.cvs.back();  // repeated CVs, poles
            s.cvs.push_back(p);
        }
        return s;
    }

private:
    std::mt19937 random_;
};

inline void expect_finite(const std::vector<Triangle>& triangles) {
    for (const Triangle& t : triangles) {
        for (const SurfacePoint* v : {&t.a, &t.b, &t.c}) {
            for (double x : v->position) ASSERT_TRUE(std::isfinite(x));
            for (double x : v->normal) ASSERT_TRUE(std::isfinite(x));
        }
    }
}

}  // namespace sky::test
