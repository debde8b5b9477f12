#include "geometry/nurbs_ops.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "geometry/nurbs_test_support.h"
#include "platform/report.h"

namespace sky {
namespace {

using test::bezier_knots;
using test::surface;
using test::wavy_surface;

const double kHalfRoot2 = std::sqrt(0.5);

void expect_near3(const std::array<double, 3>& got, std::array<double, 3> want, double tolerance) {
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], want[i], tolerance) << "component " << i;
}

BuiltSurface built(const NurbsSurface& s) {
    BuiltSurface b;
    EXPECT_TRUE(build_surface(s, b));
    return b;
}

// A quarter of a unit cylinder: a rational quadratic arc along u, z from 0 to
// 2 along v.
NurbsSurface quarter_cylinder() {
    std::vector<WeightedPoint> cvs;
    const WeightedPoint arc[3] = {{1, 0, 0, 1}, {1, 1, 0, kHalfRoot2}, {0, 1, 0, 1}};
    for (const WeightedPoint& p : arc) {
        for (double z : {0.0, 2.0}) cvs.push_back({p.x, p.y, z, p.w});
    }
    return surface(2, 1, 3, 2, {0, 0, 1, 1}, {0, 1}, cvs);
}

TEST(NurbsEvaluation, BilinearPatchByHand) {
    // Corners (0,0,0), (2,0,0), (0,1,0), (2,1,1); u runs over [2, 4].
    NurbsSurface s = surface(1, 1, 2, 2, {2, 4}, {0, 1},
                             {{0, 0, 0, 1}, {0, 1, 0, 1}, {2, 0, 0, 1}, {2, 1, 1, 1}});
    SurfaceEval e;
    evaluate_surface(built(s), 2.5, 0.5, e);
    expect_near3(e.position, {0.5, 0.5, 0.125}, 1e-12);
    expect_near3(e.du, {1, 0, 0.25}, 1e-12);  // per unit of u, whose range is 2
    expect_near3(e.dv, {0, 1, 0.25}, 1e-12);
    const double n = std::sqrt(0.25 * 0.25 + 0.25 * 0.25 + 1);
    expect_near3(e.normal, {-0.25 / n, -0.25 / n, 1 / n}, 1e-12);
}

TEST(NurbsEvaluation, RationalQuarterCircle) {
    NurbsCurve arc;
    arc.degree = 2;
    arc.knots = {0, 0, 1, 1};
    arc.cvs = {{1, 0, 0, 1}, {1, 1, 0, kHalfRoot2}, {0, 1, 0, 1}};
    BuiltCurve c;
    ASSERT_TRUE(build_curve(arc, c));
    CurveEval e;
    evaluate_curve(c, 0.5, e);
    expect_near3(e.position, {kHalfRoot2, kHalfRoot2, 0}, 1e-12);
    evaluate_curve(c, 0, e);
    expect_near3(e.tangent, {0, 2 * kHalfRoot2, 0}, 1e-12);
    for (double t = 0; t <= 1; t += 0.125) {
        evaluate_curve(c, t, e);
        EXPECT_NEAR(std::hypot(e.position[0], e.position[1]), 1, 1e-12) << t;
    }
    // The surface swept from it is a cylinder whose normals point outwards.
    BuiltSurface cylinder = built(quarter_cylinder());
    SurfaceEval s;
    for (double u = 0; u <= 1; u += 0.25) {
        evaluate_surface(cylinder, u, 0.3, s);
        EXPECT_NEAR(std::hypot(s.position[0], s.position[1]), 1, 1e-12);
        EXPECT_NEAR(s.position[2], 0.6, 1e-12);
        expect_near3(s.normal, {s.position[0], s.position[1], 0}, 1e-12);
    }
}

TEST(NurbsEvaluation, BicubicBezierPatchByHand) {
    // CVs (i, j, i·j) make x = 3u, y = 3v, z = 9uv.
    std::vector<WeightedPoint> cvs;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) cvs.push_back({double(i), double(j), double(i * j), 1});
    }
    BuiltSurface s = built(surface(3, 3, 4, 4, bezier_knots(3), bezier_knots(3), cvs));
    SurfaceEval e;
    evaluate_surface(s, 0.5, 0.25, e);
    expect_near3(e.position, {1.5, 0.75, 1.125}, 1e-12);
    expect_near3(e.du, {3, 0, 2.25}, 1e-12);
    expect_near3(e.dv, {0, 3, 4.5}, 1e-12);
    // Outside the range the parameters are clamped.
    evaluate_surface(s, 7, -1, e);
    expect_near3(e.position, {3, 0, 0}, 1e-12);
}

TEST(NurbsEvaluation, NormalsAtPolesComeFromNearby) {
    // A quarter disk: linear along u from the centre to a rational arc.
    std::vector<WeightedPoint> cvs = {{0, 0, 0, 1}, {0, 0, 0, 1},          {0, 0, 0, 1},
                                      {1, 0, 0, 1}, {1, 1, 0, kHalfRoot2}, {0, 1, 0, 1}};
    BuiltSurface s = built(surface(1, 2, 2, 3, {0, 1}, {0, 0, 1, 1}, cvs));
    EXPECT_TRUE(s.upole[0]);
    EXPECT_FALSE(s.upole[1]);
    EXPECT_FALSE(s.vpole[0]);
    EXPECT_FALSE(s.vpole[1]);
    SurfaceEval e;
    evaluate_surface(s, 0, 0.5, e);
    expect_near3(e.position, {0, 0, 0}, 1e-15);
    expect_near3(e.normal, {0, 0, 1}, 1e-9);
    // A surface collapsed to a line has no normal anywhere.
    BuiltSurface line = built(surface(1, 1, 2, 2, {0, 1}, {0, 1},
                                      {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, {1, 0, 0, 1}}));
    evaluate_surface(line, 0.5, 0.5, e);
    expect_near3(e.normal, {0, 0, 0}, 0);
}

TEST(NurbsBuilding, BadDataIsRefused) {
    BuiltSurface out;
    NurbsSurface good = wavy_surface();
    EXPECT_TRUE(build_surface(good, out));
    auto refused = [&](auto change) {
        NurbsSurface s = good;
        change(s);
        return !build_surface(s, out);
    };
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.uknots.pop_back(); }));
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.vknots[4] = -5; }));  // decreasing
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.cvs.pop_back(); }));
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.cvs[3].w = 0; }));
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.cvs[3].x = NAN; }));
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.uknots[1] = INFINITY; }));
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.udegree = 0; }));
    EXPECT_TRUE(refused([](NurbsSurface& s) {
        s.udegree = 40;
        s.uknots.resize(static_cast<std::size_t>(s.ucount + 39));
    }));
    EXPECT_TRUE(refused([](NurbsSurface& s) { s.uknots.assign(s.uknots.size(), 3.0); }));
}

TEST(NurbsBuilding, ClosedDirections) {
    // A periodic layout (three repeated CVs of degree 3) already closes: kept.
    NurbsCurve ring;
    ring.degree = 3;
    ring.form = NURBS_CLOSED;
    const double corners[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int i = 0; i < 7; ++i) ring.cvs.push_back({corners[i % 4][0], corners[i % 4][1], 0, 1});
    for (int i = 0; i < 9; ++i) ring.knots.push_back(i);
    BuiltCurve c;
    ASSERT_TRUE(build_curve(ring, c));
    EXPECT_EQ(c.count, 7);
    CurveEval start, end;
    evaluate_curve(c, c.tmin(), start);
    evaluate_curve(c, c.tmax(), end);
    expect_near3(end.position, start.position, 1e-12);
    expect_near3(end.tangent, start.tangent, 1e-12);

    // The four distinct CVs alone are wrapped into the same periodic curve.
    NurbsCurve bare = ring;
    bare.cvs.resize(4);
    bare.knots.resize(6);
    BuiltCurve w;
    ASSERT_TRUE(build_curve(bare, w));
    EXPECT_EQ(w.count, 7);
    EXPECT_EQ(w.tmin(), c.tmin());
    for (double t = w.tmin(); t <= w.tmax(); t += 0.25) {
        CurveEval a, b;
        evaluate_curve(w, t, a);
        evaluate_curve(c, t, b);
        expect_near3(a.position, b.position, 1e-12);
    }

    // Clamped knots with open ends: the wrapped surface still closes, in v.
    NurbsSurface s = wavy_surface();
    s.vform = NURBS_CLOSED;
    BuiltSurface closed = built(s);
    EXPECT_EQ(closed.vcount, s.vcount + s.vdegree);
    for (double u : {0.0, 0.3, 0.7, 1.0}) {
        SurfaceEval a, b;
        evaluate_surface(closed, u, closed.vmin(), a);
        evaluate_surface(closed, u, closed.vmax(), b);
        expect_near3(a.position, b.position, 1e-12);
    }
}

TEST(NurbsBuilding, BoundCopyAndCompare) {
    BuiltSurface s = built(quarter_cylinder());
    double bound[6];
    surface_bound(s, bound);
    EXPECT_EQ(std::vector<double>(bound, bound + 6), (std::vector<double>{0, 1, 0, 1, 0, 2}));
    BuiltSurface copy = s;
    EXPECT_TRUE(surfaces_equal(s, copy));
    copy.cvs[2].w *= 1.5;
    EXPECT_FALSE(surfaces_equal(s, copy));
    EXPECT_FALSE(surfaces_equal(s, built(wavy_surface())));
}

TEST(NurbsBezier, ExtractedSpansReproduceTheSurface) {
    BuiltSurface s = built(wavy_surface());
    BezierPatches b;
    ASSERT_TRUE(surface_to_bezier(s, b));
    EXPECT_EQ(b.uspans, 2);  // the double knot splits u once
    EXPECT_EQ(b.vspans, 2);
    EXPECT_EQ(b.ubreaks, (std::vector<double>{0, 0.4, 1}));
    EXPECT_EQ(b.vbreaks, (std::vector<double>{-1, 0.5, 2}));
    BezierPatches raised = b;
    raise_to_cubic(raised);
    EXPECT_EQ(raised.uorder, 4);
    EXPECT_EQ(raised.vorder, 4);
    for (int su = 0; su < b.uspans; ++su) {
        for (int sv = 0; sv < b.vspans; ++sv) {
            for (double a : {0.0, 0.3, 0.5, 1.0}) {
                for (double t : {0.0, 0.6, 1.0}) {
                    const double u = b.ubreaks[su] + a * (b.ubreaks[su + 1] - b.ubreaks[su]);
                    const double v = b.vbreaks[sv] + t * (b.vbreaks[sv + 1] - b.vbreaks[sv]);
                    SurfaceEval direct, span, cubic;
                    evaluate_surface(s, u, v, direct);
                    evaluate_bezier_patch(b.patch(su, sv), b.uorder, b.vorder, a, t, span,
                                          s.extent);
                    evaluate_bezier_patch(raised.patch(su, sv), 4, 4, a, t, cubic, s.extent);
                    expect_near3(span.position, direct.position, 1e-9);
                    // The double knot leaves a crease: normals differ across it.
                    if (a > 0 && a < 1) expect_near3(span.normal, direct.normal, 1e-9);
                    expect_near3(cubic.position, direct.position, 1e-9);
                }
            }
        }
    }
}

TEST(NurbsBezier, CurvesAndRefinement) {
    NurbsCurve wave;
    wave.degree = 2;
    wave.knots = {0, 0, 1, 2, 2.5, 4, 4};
    for (int i = 0; i < 6; ++i)
        wave.cvs.push_back({double(i), (i % 2) * 2.0, 0, 1.0 + 0.5 * (i % 3)});
    BuiltCurve c;
    ASSERT_TRUE(build_curve(wave, c));
    BezierCurves b;
    ASSERT_TRUE(curve_to_bezier(c, b));
    EXPECT_EQ(b.spans, 4);
    raise_to_cubic(b);
    EXPECT_EQ(b.order, 4);

    // Every span stepped 8 times: the points are the curve's at those steps.
    std::vector<std::array<double, 3>> points;
    ASSERT_TRUE(refine_curve(wave, 8, points));
    ASSERT_EQ(points.size(), 1u + 4 * 8);
    for (int s = 0; s < 4; ++s) {
        for (int k = 0; k <= 8; ++k) {
            const double t = b.breaks[s] + k / 8.0 * (b.breaks[s + 1] - b.breaks[s]);
            CurveEval e;
            evaluate_curve(c, t, e);
            expect_near3(points[static_cast<std::size_t>(s * 8 + k)], e.position, 1e-9);
        }
    }
    // A closed outline does not repeat its start; points are appended.
    NurbsCurve square;
    square.degree = 1;
    square.knots = {0, 1, 2, 3, 4};
    square.cvs = {{0, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 0, 1}, {0, 1, 0, 1}, {0, 0, 0, 1}};
    std::vector<std::array<double, 3>> outline = {{9, 9, 9}};
    ASSERT_TRUE(refine_curve(square, 2, outline));
    ASSERT_EQ(outline.size(), 1u + 8);
    expect_near3(outline[3], {1, 0, 0}, 1e-12);
    expect_near3(outline[8], {0, 0.5, 0}, 1e-12);
    EXPECT_FALSE(refine_curve(NurbsCurve{}, 2, outline));
    EXPECT_EQ(outline.size(), 9u);
}

std::string errors;
void capture_error(const char* text) {
    errors += text;
}

TEST(KnotHelpers, MultiplicitiesLargestSeparateJoin) {
    KnotNodes k;
    make_knot_nodes({0, 0, 0, 1, 2, 2}, k);
    EXPECT_EQ(k.values, (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(k.nodes, (std::vector<std::int32_t>{0, 0, 0, 1, 2, 2}));
    EXPECT_EQ(k.full(0), 0);
    EXPECT_EQ(k.full(7), 2);

    make_knot_nodes({-5, 1, 3}, k);
    EXPECT_EQ(MC_knot_largest(k), 5);
    make_knot_nodes({0, 0}, k);
    EXPECT_EQ(MC_knot_largest(k), 1e-10);

    NurbsSurface s = surface(1, 1, 5, 2, {0, 0.08, 0.16, 0.5, 0.5}, {1000, 1000 + 1e-8},
                             std::vector<WeightedPoint>(10));
    for (int i = 0; i < 10; ++i) s.cvs[static_cast<std::size_t>(i)].x = i;
    BuiltSurface b;
    // The v range of 1e-8 is a real range before joining.
    ASSERT_TRUE(build_surface(s, b));
    MC_knot_pointers_separate(b);
    EXPECT_EQ(b.uknots.values.size(), 5u);
    EXPECT_EQ(b.uknots.nodes, (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
    // 0.08 joins 0; 0.16 is compared with the shared 0, not with 0.08.
    ASSERT_TRUE(MC_knot_pointers_join_tol(b, 0.1));
    EXPECT_EQ(b.uknots.nodes, (std::vector<std::int32_t>{0, 0, 1, 2, 2}));
    EXPECT_EQ(b.uknots[1], 0);
    // Joining at 1e-10 of the largest knot merges 1000 and 1000 + 1e-8 but
    // keeps 0, 0.08 and 0.16 apart.
    BuiltSurface fresh;
    ASSERT_TRUE(build_surface(s, fresh));
    ASSERT_TRUE(MC_knot_pointers_join(fresh));
    EXPECT_EQ(fresh.vknots.nodes, (std::vector<std::int32_t>{0, 0}));
    EXPECT_EQ(fresh.uknots.values, (std::vector<double>{0, 0.08, 0.16, 0.5}));
    EXPECT_EQ(fresh.uknots.nodes, (std::vector<std::int32_t>{0, 1, 2, 3, 3}));

    errors.clear();
    rptSetErrorCB(capture_error);
    BuiltSurface empty;
    EXPECT_FALSE(MC_knot_pointers_join(empty));
    EXPECT_FALSE(MC_knot_pointers_join_tol(empty, 1));
    rptSetErrorCB(nullptr);
    EXPECT_EQ(errors, "bad data\nbad data\n");
}

}  // namespace
}  // namespace sky
