// Fillets between a sphere and a plane below it, along a latitude of the
// sphere and a circle on the plane, checked against the two analytic
// surfaces: the fillet's edges lie on them and its tangent planes match
// theirs; three pairs of arcs make one surface of three blends, closed when
// both sequences are.
#include <cmath>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "geometry/fillet_blend.h"
#include "geometry/nurbs_ops.h"

namespace sky {
namespace {

using Vec = Imath::V3d;

constexpr double kSphereY = 1.5;   // the unit sphere's centre is (0, 1.5, 0)
constexpr double kCircle = 2.0;    // the plane's circle around the y axis
constexpr double kLatitude = 0.5;  // the sphere's v of the latitude

// The unit sphere around (0, kSphereY, 0), its pole axis y: u (0..4) around,
// v (0..2) from the bottom pole to the top.
NurbsSurface sphere() {
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
NurbsSurface plane() {
    NurbsSurface s;
    s.ucount = s.vcount = 2;
    s.uknots = {0, 1};
    s.vknots = {0, 1};
    s.cvs = {{-3, 0, -3, 1}, {-3, 0, 3, 1}, {3, 0, -3, 1}, {3, 0, 3, 1}};
    return s;
}

// The plane's circle from angle a0 to a1 (degrees, at most 120 apart) in
// its (u, v): x = cos, z = −sin, as the sphere's u runs.
NurbsCurve plane_arc(double a0, double a1) {
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
NurbsCurve latitude(double u0, double u1) {
    NurbsCurve c;
    c.degree = 1;
    c.knots = {0, 1};
    c.cvs = {{u0, kLatitude, 0, 1}, {u1, kLatitude, 0, 1}};
    return c;
}

double off_sphere(const Vec& p) {
    return std::fabs((p - Vec(0, kSphereY, 0)).length() - 1.0);
}

double degrees(const Vec& a, const Vec& b) {
    const double c = std::fabs(a.dot(b)) / (a.length() * b.length());
    return std::acos(std::min(c, 1.0)) * 180 / M_PI;
}

// Along each edge of the fillet, `per_blend` points per blend: the largest
// distance from the surface it should lie on and the largest angle between
// the tangent planes. Row u = 0 meets the sequence's first surfaces.
struct Fit {
    double plane_distance = 0, sphere_distance = 0, plane_angle = 0, sphere_angle = 0;
};
Fit fit(const NurbsSurface& fillet, int blends, int per_blend, bool plane_first) {
    BuiltSurface built;
    EXPECT_TRUE(build_surface(fillet, built));
    Fit f;
    const int points = blends * per_blend;
    for (int i = 0; i <= points; ++i) {
        const double v = built.vmin() + (built.vmax() - built.vmin()) * i / points;
        for (double u : {built.umin(), built.umax()}) {
            SurfaceEval e;
            evaluate_surface(built, u, v, e);
            const Vec p(e.position[0], e.position[1], e.position[2]);
            const Vec n(e.normal[0], e.normal[1], e.normal[2]);
            const bool on_plane = (u == built.umin()) == plane_first;
            if (on_plane) {
                f.plane_distance = std::max(f.plane_distance, std::fabs(p.y));
                f.plane_angle = std::max(f.plane_angle, degrees(n, Vec(0, 1, 0)));
            } else {
                f.sphere_distance = std::max(f.sphere_distance, off_sphere(p));
                f.sphere_angle = std::max(f.sphere_angle, degrees(n, p - Vec(0, kSphereY, 0)));
            }
        }
    }
    return f;
}

FilletSequences three_pairs(bool closed) {
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

TEST(Fillet, ThreePairsGiveOneSurfaceOfThreeBlendsOnBothSurfaces) {
    int blends = 0;
    std::optional<NurbsSurface> fillet = multi_fillet(three_pairs(false), &blends);
    ASSERT_TRUE(fillet.has_value());
    EXPECT_EQ(blends, 3);
    EXPECT_EQ(fillet->vform, NURBS_OPEN);
    const Fit f = fit(*fillet, 3, 100, true);
    EXPECT_LT(f.plane_distance, kFilletTolerance);
    EXPECT_LT(f.sphere_distance, kFilletTolerance);
    EXPECT_LT(f.plane_angle, 1.0);
    EXPECT_LT(f.sphere_angle, 1.0);
    // The fillet leaves the plane toward the sphere: its middle row lies
    // between the circle and the latitude, above the plane.
    BuiltSurface built;
    ASSERT_TRUE(build_surface(*fillet, built));
    SurfaceEval mid;
    evaluate_surface(built, 0.5, 0.5 * (built.vmin() + built.vmax()), mid);
    EXPECT_GT(mid.position[1], 0.0);
    EXPECT_LT(std::hypot(mid.position[0], mid.position[2]), kCircle);
}

TEST(Fillet, ClosedSequencesGiveAClosedSurface) {
    std::optional<NurbsSurface> fillet = multi_fillet(three_pairs(true));
    ASSERT_TRUE(fillet.has_value());
    EXPECT_EQ(fillet->vform, NURBS_CLOSED);
    const int last = fillet->vcount - 1;
    for (int u = 0; u < fillet->ucount; ++u) {
        const WeightedPoint &a = fillet->cv(u, 0), &b = fillet->cv(u, last);
        EXPECT_NEAR(a.x, b.x, 1e-12);
        EXPECT_NEAR(a.y, b.y, 1e-12);
        EXPECT_NEAR(a.z, b.z, 1e-12);
    }
    // One sequence open: the ends stay apart no more than the curves do,
    // but the surface is open.
    FilletSequences half = three_pairs(true);
    half.open2 = true;
    EXPECT_EQ(multi_fillet(half)->vform, NURBS_OPEN);
}

TEST(Fillet, SequencesThatCannotBeBlendedGiveNothing) {
    FilletSequences q = three_pairs(false);
    q.curves2.pop_back();  // different lengths
    EXPECT_FALSE(multi_fillet(q).has_value());
    EXPECT_FALSE(multi_fillet(FilletSequences{}).has_value());

    // A curve off its surface, or without length: that blend is left out,
    // and with none left there is nothing.
    q = three_pairs(false);
    q.curves2[1] = latitude(1.5, 9.0);
    int blends = 0;
    EXPECT_TRUE(multi_fillet(q, &blends).has_value());
    EXPECT_EQ(blends, 2);
    for (NurbsCurve& c : q.curves1) c = latitude(0.2, 0.2);
    EXPECT_FALSE(multi_fillet(q).has_value());
    EXPECT_FALSE(blend_surface(latitude(0.2, 0.2), plane(), latitude(0, 1), sphere()).has_value());
}

}  // namespace
}  // namespace sky
