// Fillets between a sphere and a plane below it, along a latitude of the
// sphere and a circle on the plane, checked against the two analytic
// surfaces: the fillet's edges lie on them and its tangent planes match
// theirs; three pairs of arcs make one surface of three blends, closed when
// both sequences are.
#include <cmath>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "geometry/fillet_blend.h"
#include "geometry/fillet_test_support.h"
#include "geometry/nurbs_ops.h"

namespace sky {
namespace {

using namespace test;

using Vec = Imath::V3d;

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
