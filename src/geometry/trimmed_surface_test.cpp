#include "geometry/trimmed_surface.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "geometry/nurbs_test_support.h"
#include "geometry/tessellate.h"
#include "platform/report.h"

namespace sky {
namespace {

using test::CollectingSink;
using test::Triangle;

std::string messages;
void capture(const char* text) {
    messages += text;
}

struct CaptureReports {
    CaptureReports() {
        messages.clear();
        rptSetErrorCB(capture);
        rptSetUserCB(capture);
    }
    ~CaptureReports() {
        rptSetErrorCB(nullptr);
        rptSetUserCB(nullptr);
    }
};

TrimLoop loop(std::vector<std::array<double, 2>> points) {
    return TrimLoop{std::move(points)};
}

TrimLoop square(double u0, double v0, double u1, double v1) {
    return loop({{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}});
}

TrimLoop circle(double cu, double cv, double r, int n) {
    TrimLoop l;
    for (int k = 0; k < n; ++k) {
        const double a = 2 * M_PI * k / n;
        l.points.push_back({cu + r * std::cos(a), cv + r * std::sin(a)});
    }
    return l;
}

// A flat unit square in z = 0, bilinear over [0, 1]².
NurbsSurface flat_square() {
    return test::surface(1, 1, 2, 2, {0, 1}, {0, 1},
                         {{0, 0, 0, 1}, {0, 1, 0, 1}, {1, 0, 0, 1}, {1, 1, 0, 1}});
}

PatchGeometry trimmed_patch(NurbsSurface s, std::vector<TrimRegion> trims, int min = 2,
                            int max = 8) {
    PatchGeometry p;
    p.surface = std::move(s);
    p.adaptive = true;
    p.udivisions = min;
    p.vdivisions = max;
    p.trims = std::move(trims);
    return p;
}

double uv_area(const Triangle& t) {
    return 0.5 * ((t.b.u - t.a.u) * (t.c.v - t.a.v) - (t.c.u - t.a.u) * (t.b.v - t.a.v));
}

bool inside_square(double u, double v, double u0, double v0, double u1, double v1) {
    return u > u0 && u < u1 && v > v0 && v < v1;
}

TEST(TrimmedSurface, HoleIsLeftOpenAndTheRestCovered) {
    CaptureReports reports;
    TrimRegion region;
    region.loops = {square(0, 0, 1, 1), square(0.4, 0.3, 0.6, 0.55)};
    CollectingSink sink;
    ASSERT_TRUE(tessellate_patch(trimmed_patch(flat_square(), {region}), "plate", sink));
    double area = 0;
    for (const Triangle& t : sink.triangles) {
        const double a = uv_area(t);
        EXPECT_GT(a, 0) << "every triangle counter-clockwise in (u, v)";
        area += a;
        const double cu = (t.a.u + t.b.u + t.c.u) / 3, cv = (t.a.v + t.b.v + t.c.v) / 3;
        EXPECT_FALSE(inside_square(cu, cv, 0.4, 0.3, 0.6, 0.55)) << cu << " " << cv;
        // On the flat square, position and parameters agree.
        for (const SurfacePoint* p : {&t.a, &t.b, &t.c}) {
            EXPECT_NEAR(p->position[0], p->u, 1e-12);
            EXPECT_NEAR(p->position[1], p->v, 1e-12);
        }
    }
    EXPECT_NEAR(area, 1 - 0.2 * 0.25, 1e-12);
    EXPECT_EQ(messages, "");
}

TEST(TrimmedSurface, PointsLieOnTheCurvedSurface) {
    // A rational surface, trimmed by a disc with a hole: every corner is the
    // surface at its own parameters, on the classic path's finest samples.
    const NurbsSurface wavy = test::wavy_surface();
    TrimRegion region;
    region.loops = {circle(0.5, 0.5, 0.45, 40), circle(0.55, 0.5, 0.1, 12)};
    CollectingSink sink;
    ASSERT_TRUE(tessellate_patch(trimmed_patch(wavy, {region}, 2, 16), "wave", sink));
    ASSERT_GT(sink.triangles.size(), 100u);
    BuiltSurface built;
    ASSERT_TRUE(build_surface(wavy, built));
    for (const Triangle& t : sink.triangles) {
        for (const SurfacePoint* p : {&t.a, &t.b, &t.c}) {
            SurfaceEval eval;
            evaluate_surface(built, p->u, p->v, eval);
            for (int k = 0; k < 3; ++k) ASSERT_NEAR(p->position[k], eval.position[k], 1e-9);
            const double length = std::hypot(p->normal[0], p->normal[1], p->normal[2]);
            EXPECT_NEAR(length, 1, 1e-9);
            EXPECT_LE(std::hypot(p->u - 0.5, p->v - 0.5), 0.45 + 1e-9);
            EXPECT_GE(std::hypot(p->u - 0.55, p->v - 0.5), 0.1 * std::cos(M_PI / 12) - 1e-9);
        }
    }
}

TEST(TrimmedSurface, TrimEdgesAreAsFineAsTheSamples) {
    // A diagonal trim across a finely sampled square: no edge of a triangle
    // along it is much longer than the cells it crosses.
    TrimRegion region;
    region.loops = {loop({{0, 0}, {1, 0}, {1, 1}})};
    CollectingSink sink;
    ASSERT_TRUE(tessellate_patch(trimmed_patch(flat_square(), {region}, 16, 16), "half", sink));
    double area = 0, longest = 0;
    for (const Triangle& t : sink.triangles) {
        area += uv_area(t);
        for (auto [p, q] : {std::pair{&t.a, &t.b}, {&t.b, &t.c}, {&t.c, &t.a}})
            longest = std::max(longest, std::hypot(p->u - q->u, p->v - q->v));
    }
    EXPECT_NEAR(area, 0.5, 1e-12);
    EXPECT_LE(longest, 1.5 / 16);
}

TEST(TrimmedSurface, TrimsInTheSurfacesOwnParameters) {
    // Knots from 10 to 20: the trim is read in that range, not in [0, 1].
    NurbsSurface s = flat_square();
    s.uknots = {10, 20};
    s.vknots = {10, 20};
    TrimRegion region;
    region.loops = {square(10, 10, 15, 20)};
    CollectingSink sink;
    ASSERT_TRUE(tessellate_patch(trimmed_patch(s, {region}), "range", sink));
    double area = 0;
    for (const Triangle& t : sink.triangles) {
        area += uv_area(t);
        for (const SurfacePoint* p : {&t.a, &t.b, &t.c}) EXPECT_LE(p->position[0], 0.5 + 1e-12);
    }
    EXPECT_NEAR(area, 50, 1e-9);
}

TEST(TrimmedSurface, SeveralRegionsAndUniformSamples) {
    TrimRegion left, right;
    left.loops = {square(0, 0, 0.3, 1)};
    right.loops = {square(0.6, 0, 1, 1), square(0.7, 0.2, 0.9, 0.4)};
    PatchGeometry p = trimmed_patch(flat_square(), {left, right}, 3, 5);
    p.adaptive = false;
    CollectingSink sink;
    ASSERT_TRUE(tessellate_patch(p, "two", sink));
    double area = 0;
    for (const Triangle& t : sink.triangles) area += uv_area(t);
    EXPECT_NEAR(area, 0.3 + 0.4 - 0.04, 1e-12);
}

TEST(TrimmedSurface, LoopsAreCleanedWithTheirMessages) {
    CaptureReports reports;
    TrimRegion one_point, collapsing, fine;
    one_point.loops = {loop({{0.5, 0.5}})};
    collapsing.loops = {loop({{0.2, 0.2}, {0.2, 0.2}, {0.2, 0.2}}), square(0.1, 0.1, 0.3, 0.3)};
    fine.loops = {loop({{0, 0}, {0, 0}, {1, 0}, {1, 1}, {0, 0}}), loop({{0.7, 0.2}})};
    const std::vector<TrimRegion> regions = {one_point, collapsing, fine};
    const std::vector<TrimRegion> cleaned = clean_trim_regions(regions);
    ASSERT_EQ(cleaned.size(), 1u);
    ASSERT_EQ(cleaned[0].loops.size(), 1u);
    EXPECT_EQ(cleaned[0].loops[0].points.size(), 3u);
    EXPECT_EQ(messages,
              "Warning: Ignoring a trim curve with only one point.\n"
              "Error: trim curve reduced to a single point with duplicates removed.\n"
              "Warning: Ignoring a trim curve with only one point.\n");
}

TEST(TrimmedSurface, BadRegionsAreReportedAndTheOthersDrawn) {
    CaptureReports reports;
    TrimRegion flat, bad, good;
    flat.loops = {loop({{0, 0}, {0.5, 0.5}, {1, 1}})};
    bad.loops = {loop({{0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0}, {1, 1}})};
    good.loops = {square(0, 0, 0.5, 0.5)};
    CollectingSink sink;
    // A region with no area draws nothing and is no fault.
    EXPECT_TRUE(tessellate_patch(trimmed_patch(flat_square(), {flat}), "line", sink));
    EXPECT_TRUE(sink.triangles.empty());
    EXPECT_EQ(messages, "");
    EXPECT_FALSE(tessellate_patch(trimmed_patch(flat_square(), {bad}), "nan", sink));
    EXPECT_TRUE(tessellate_patch(trimmed_patch(flat_square(), {bad, good}), "both", sink));
    EXPECT_FALSE(sink.triangles.empty());
    EXPECT_EQ(messages,
              "Problem encountered while rendering surface nan\n"
              "Problem encountered while rendering surface both\n");
}

TEST(TrimmedSurface, TrimsAtAPoleMakeNoDegenerateTriangles) {
    // A cone: the whole u = 0 edge is one point.
    std::vector<WeightedPoint> cvs = {{0, 0, 1, 1}, {0, 0, 1, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}};
    NurbsSurface cone = test::surface(1, 1, 2, 2, {0, 1}, {0, 1}, cvs);
    TrimRegion region;
    region.loops = {square(0, 0, 1, 1)};
    CollectingSink sink;
    ASSERT_TRUE(tessellate_patch(trimmed_patch(cone, {region}, 4, 4), "cone", sink));
    ASSERT_FALSE(sink.triangles.empty());
    auto same = [](const SurfacePoint& a, const SurfacePoint& b) {
        return a.position[0] == b.position[0] && a.position[1] == b.position[1] &&
               a.position[2] == b.position[2];
    };
    for (const Triangle& t : sink.triangles) {
        EXPECT_FALSE(same(t.a, t.b) || same(t.b, t.c) || same(t.a, t.c));
    }
}

}  // namespace
}  // namespace sky

namespace sky {
namespace {

// Trims of every shape, good and bad: tangled loops, points far outside the
// surface's range, huge and tiny coordinates. Each either draws triangles
// inside the surface's range or is reported; nothing crashes or hangs.
TEST(TrimmedSurface, RandomTrimsNeverCrash) {
    CaptureReports reports;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(-0.5, 1.5);
    std::uniform_int_distribution<int> count(1, 12);
    const double odd[] = {0.0, 1.0, 1e-300, 1e30, -1e30, 0.5};
    for (int round = 0; round < 300; ++round) {
        std::vector<TrimRegion> trims(static_cast<std::size_t>(count(random) % 3 + 1));
        for (TrimRegion& region : trims) {
            region.loops.resize(static_cast<std::size_t>(count(random) % 3 + 1));
            for (TrimLoop& l : region.loops) {
                const int n = count(random);
                for (int k = 0; k < n; ++k) {
                    std::array<double, 2> p{unit(random), unit(random)};
                    if (round % 7 == 0 && k == 0) p[random() % 2] = odd[random() % 6];
                    l.points.push_back(p);
                }
            }
        }
        CollectingSink sink;
        tessellate_patch(trimmed_patch(test::wavy_surface(), trims, 1, 4), "random", sink);
        for (const Triangle& t : sink.triangles) {
            for (const SurfacePoint* p : {&t.a, &t.b, &t.c}) {
                ASSERT_TRUE(std::isfinite(p->position[0]) && std::isfinite(p->position[1]) &&
                            std::isfinite(p->position[2]));
                ASSERT_TRUE(p->u >= 0 && p->u <= 1 && p->v >= -1 && p->v <= 2);
            }
        }
    }
}

}  // namespace
}  // namespace sky
